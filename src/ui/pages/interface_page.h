#pragma once
// The "Interface" tab: one read-only output box showing the network
// parameter, adapter and interface reports of the machine, rebuilt each time
// the tab is shown.
//
// Use: InterfacePage(profile, network_info, link_stats, lang, parent); the
// main window adds it as a tab and calls reload_settings() after the options
// dialog closes with OK. Nothing is queried until the page is first shown.
//
// Threads: the UI thread only. `links` is read from the UI thread here, so it
// must not be the sampler's own source (read_table is single-threaded): give
// the page a LinkStatsSource of its own. The references must outlive the page.
#include <QWidget>

#include "base/language.h"

class QPlainTextEdit;
class QShowEvent;

namespace tw::settings {
class Profile;
}
namespace tw::platform {
class NetworkInfoSource;
class LinkStatsSource;
}  // namespace tw::platform

namespace tw::ui {

class InterfacePage : public QWidget {
  Q_OBJECT
 public:
  InterfacePage(settings::Profile& profile, platform::NetworkInfoSource& info,
                platform::LinkStatsSource& links, Language lang, QWidget* parent = nullptr);

  // Rebuilds the three reports from fresh queries.
  void refresh();
  // Reads the output-box colours again.
  void reload_settings();

  QPlainTextEdit* output() const { return output_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  settings::Profile& profile_;
  platform::NetworkInfoSource& info_;
  platform::LinkStatsSource& links_;
  Language lang_;
  QPlainTextEdit* output_ = nullptr;
};

}  // namespace tw::ui
