#pragma once
// What the tool tabs (Statistics, NSLOOKUP, WHOIS, PING, TRACERT) share: the
// output box in the shared output-box colours, the Options command, and the
// services they run with.
//
// Threads: pages live on the user-interface thread; the workers they start
// touch only the run objects of tools/ and the platform services, never a
// widget.
#include <QWidget>
#include <string>

#include "base/language.h"

class QPlainTextEdit;

namespace tw::settings {
class Profile;
}
namespace tw::platform {
class FileStore;
class ProcessRunner;
class WhoisClient;
class DnsClient;
class HostLookup;
class ProtocolStatsSource;
}  // namespace tw::platform

namespace tw::ui {

// The platform services of the tool tabs. Each must outlive the pages; a
// missing one leaves its tab empty.
struct ToolPageServices {
  platform::FileStore* files = nullptr;
  platform::ProcessRunner* processes = nullptr;
  platform::WhoisClient* whois = nullptr;
  platform::DnsClient* dns = nullptr;
  platform::HostLookup* hosts = nullptr;
  platform::ProtocolStatsSource* stats = nullptr;
  // Where history files and the WHOIS table live; ends in '/'.
  std::string data_folder;
};

// The file "tarnix<suffix>" of the data folder.
std::string tool_file_path(const std::string& data_folder, std::string_view suffix);

class ToolPage : public QWidget {
  Q_OBJECT
 public:
  ToolPage(settings::Profile& profile, Language lang, QWidget* parent);

  QPlainTextEdit* output() const { return output_; }
  // Reads the settings the options dialog edits (and the output colours).
  virtual void reload_settings();
  // Runs the tool for a host or address chosen elsewhere (the Session and
  // Packet Monitor lists): the target is put into the field and started as if
  // typed. Does nothing while a run is under way.
  virtual void run_for(const QString& target) { (void)target; }

 signals:
  // The Options command: the options dialog is to open on this tool's group
  // (already written to the settings).
  void optionsRequested();

 protected:
  // The tabs with a host field take Escape themselves, so that it never
  // reaches the main window, where it is the Exit command: a run under way
  // is not lost to a key pressed in the field or the output box.
  void keyPressEvent(QKeyEvent* event) override;
  bool swallows_escape_ = false;
  // Shows `text`, whose lines may end in CR LF, scrolled to its end (the
  // latest output of a run in progress).
  void show_text(const std::string& text);
  // Shows `text` from its top (a finished report).
  void show_report(const std::string& text);
  void append_text(const std::string& text);
  // Adds "Options..." to the output box's menu; it selects `group` first.
  void add_options_command(int group);
  settings::Profile& profile_;
  Language lang_;
  QPlainTextEdit* output_ = nullptr;
  std::size_t shown_length_ = 0;  // length of the text last shown, before CR removal
};

}  // namespace tw::ui
