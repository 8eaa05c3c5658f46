#pragma once
// The "Session Monitor" tab: a row of controls (START/STOP, "AskDNS", "Auto
// Kill Session" with its blocked counter, "LOG View", "LOG", the connections
// label), the session list, and below it the pane of blocked connections.
//
// The page shows a SessionMonitor that the runtime refreshes every 500 ms;
// whoever drives the runtime calls show_monitor() after each refresh (and
// after a command switched the auto-block) so the page follows it. The page
// itself only starts and stops the monitor, sorts on header clicks and
// carries out the list's commands.
//
// Keys on the page: Enter toggles START/STOP, Ctrl+C copies the selected
// rows, Ctrl+Delete kills the selected connections, Ctrl+Tab and
// Ctrl+Shift+Tab ask the main window for the next and the previous tab.
//
// The destructor writes the page's keys ("AskDNS", "AutoBlock",
// "AutoBlockLogView", "LogViewer", "AutoBlockLogFormat",
// "ResetMaxConnections"); the list writes its column widths.
//
// Threads: UI thread only. The monitor and the profile must outlive the page.
#include <QWidget>

#include <string>
#include <vector>

#include "base/language.h"
#include "shell/list_columns.h"
#include "shell/list_commands.h"

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;

namespace tw::sessions {
class SessionMonitor;
}
namespace tw::settings {
class Profile;
}

namespace tw::ui {

class ReportListView;
class SessionListModel;

class SessionMonitorPage : public QWidget {
  Q_OBJECT
 public:
  // `split_size`: the height of the blocked-connections pane
  // ("Session"/"SplitSize", which the main window keeps).
  SessionMonitorPage(sessions::SessionMonitor& monitor, settings::Profile& profile, Language lang, int split_size,
                     QWidget* parent = nullptr);
  ~SessionMonitorPage() override;

  // Brings every control up to the monitor's state: rows, sort mark,
  // counters, labels, the blocked pane.
  void show_monitor();

  // START/STOP.
  void toggle_running();
  // The list's commands on the selected rows.
  void remove_all();
  bool copy_selection();
  void kill_selection();
  // "LOG": the blocked log in the viewer of "LogViewer", or the desktop's own.
  void open_log();

  // Colours and clipboard columns again, after the options dialog's OK.
  void reload_settings();

  // Enables the context menu's commands as the selection allows.
  void update_menu();
  QMenu* context_menu() const { return menu_; }
  QAction* remove_all_action() const { return remove_all_; }
  QAction* copy_action() const { return copy_; }
  QAction* kill_action() const { return kill_; }
  // "Add to Packet filter rules", NSLOOKUP, WHOIS, PING, TRACERT, in the
  // order of shell::ListCommand. Each asks for its command with
  // listCommandRequested(); only those the main window can carry out
  // (set_list_commands) are ever enabled.
  QList<QAction*> tool_actions() const;
  void set_list_commands(const shell::ListCommandSet& available);
  // Emits listCommandRequested() for the selected rows, as the menu does.
  void request_list_command(shell::ListCommand command);

  ReportListView* list() const { return list_; }
  SessionListModel* model() const { return model_; }
  QPushButton* start_button() const { return start_; }
  QCheckBox* ask_dns_box() const { return ask_dns_; }
  QCheckBox* auto_block_box() const { return auto_block_; }
  QCheckBox* log_view_box() const { return log_view_; }
  QLabel* blocked_label() const { return blocked_; }
  QLabel* connections_label() const { return connections_; }
  QPlainTextEdit* blocked_pane() const { return pane_; }
  int split_size() const { return split_size_; }

 signals:
  void nextTabRequested();
  void previousTabRequested();
  // The user moved the pane's edge; the height to keep.
  void splitSizeChanged(int height);
  // One of the list's commands that another tab carries out, with the
  // selected rows in list order (never empty).
  void listCommandRequested(tw::shell::ListCommand command, const std::vector<tw::shell::ListRowCells>& rows);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void build_menu();
  void add_shortcuts();
  void apply_split_size();

  sessions::SessionMonitor& monitor_;
  settings::Profile& profile_;
  const Language lang_;
  int split_size_;
  std::string log_format_;  // "AutoBlockLogFormat" as read, written back at the end
  std::string shown_view_;  // the blocked pane's text as last shown

  QPushButton* start_ = nullptr;
  QCheckBox* ask_dns_ = nullptr;
  QCheckBox* auto_block_ = nullptr;
  QLabel* blocked_ = nullptr;
  QCheckBox* log_view_ = nullptr;
  QPushButton* log_ = nullptr;
  QLabel* connections_ = nullptr;
  QSplitter* splitter_ = nullptr;
  ReportListView* list_ = nullptr;
  SessionListModel* model_ = nullptr;
  QPlainTextEdit* pane_ = nullptr;

  QMenu* menu_ = nullptr;
  QAction* remove_all_ = nullptr;
  QAction* copy_ = nullptr;
  QAction* add_filter_ = nullptr;
  QAction* kill_ = nullptr;
  QAction* nslookup_ = nullptr;
  QAction* whois_ = nullptr;
  QAction* ping_ = nullptr;
  QAction* tracert_ = nullptr;
  shell::ListCommandSet list_commands_{};
};

}  // namespace tw::ui
