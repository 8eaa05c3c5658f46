#pragma once
// The Packet Monitor tab: the capture address with its up-down control,
// START/STOP, the "AskDNS" check box, and the packet list with its context
// menu. The capture and the list live in the Packet Monitor (packets/); the
// runtime's display timer fills the list and this page shows it.
//
// Threads: the UI thread only. The feature and the profile must outlive the
// page.
#include <QWidget>

#include <vector>

#include "app/packet_feature.h"
#include "base/language.h"
#include "settings/profile.h"
#include "shell/list_columns.h"
#include "shell/list_commands.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;

namespace tw::ui {

class PacketListModel;
class ReportListView;

class PacketMonitorPage : public QWidget {
  Q_OBJECT
 public:
  PacketMonitorPage(app::PacketFeature& feature, settings::Profile& profile, Language lang, QWidget* parent = nullptr);
  ~PacketMonitorPage() override;

  // After the options dialog: colours, clipboard columns and the monitor's
  // own settings.
  void reload_settings();
  // Shows `text` in a message box; tests replace it.
  std::function<void(const QString& text)> tell;

  ReportListView* list_view() const { return view_; }
  PacketListModel* list_model() const { return model_; }
  // The context menu as it would open now (tests look at its actions).
  QMenu* build_context_menu();

  // "Add to Packet filter rules", WHOIS, NSLOOKUP, PING, TRACERT ask for their
  // command with listCommandRequested(); only those the main window can carry
  // out are ever enabled.
  void set_list_commands(const shell::ListCommandSet& available) { list_commands_ = available; }
  // Emits listCommandRequested() for the selected rows, as the menu does.
  void request_list_command(shell::ListCommand command);

 signals:
  // One of the list's commands that another tab carries out, with the
  // selected rows in list order (never empty).
  void listCommandRequested(tw::shell::ListCommand command, const std::vector<tw::shell::ListRowCells>& rows);

 private:
  void toggle();
  void step(bool up);
  void show_state();
  void sync(bool added);
  void show_status();
  void copy_packet_data();

  app::PacketFeature& feature_;
  settings::Profile& profile_;
  const Language lang_;
  QLineEdit* address_ = nullptr;
  QToolButton* up_ = nullptr;
  QToolButton* down_ = nullptr;
  QPushButton* start_ = nullptr;
  QCheckBox* ask_dns_ = nullptr;
  QLabel* status_ = nullptr;
  ReportListView* view_ = nullptr;
  PacketListModel* model_ = nullptr;
  shell::CopyItems copy_items_{};
  shell::ListCommandSet list_commands_{};
};

}  // namespace tw::ui
