#pragma once
// The main window of the desktop program: the eleven tabs, the tray icon, the
// window menu, the keyboard commands, the window's own timers, the snapshot,
// the options dialog, the Mini Monitor and the orderly shut-down. The periodic
// work and the commands that need no window are the runtime's; the window
// drives them (RuntimeDriver) and adds its window keys to the runtime's
// shut-down.
//
// The class is spread over files by concern: main_window.cpp (tabs, start,
// commands, shut-down), main_window_menus.cpp, main_window_tray.cpp (tray icon,
// Mini Monitor, notice), main_window_placement.cpp (position, stacking, edge
// snapping), main_window_snapshot.cpp and main_window_list_commands.cpp (the
// Session and Packet Monitor lists' commands that other tabs carry out).
//
// Use (UI thread, after the QApplication exists):
//   MainWindow window(services);      // pages created, settings loaded
//   window.serve_commands(server);    // optional command channel
//   start the sampler thread
//   window.start();                   // Report Start-Log, show or hide, tray, timers
//   connect finished() to QCoreApplication::quit
// Every way out (the Exit command, the close button, a signal, the session
// ending) runs shut_down() exactly once; finished() follows it.
//
// Desktops have no window-system menu that a program may extend, so its items
// (Status Icon, Notice Dialog, Mini-Monitor, Move to center Mini-Monitor,
// Options, About) are in the window menu: the button at the right end of the
// tab row and a right click on the tabs. The tray menu has the rest. The tray
// icon (TrayController) exists only when the desktop has a tray; without one,
// minimising is an ordinary minimise and a window stored as hidden starts
// minimised, so the window can always be reached.
//
// Edge snapping uses the window system's move notifications: the window is
// pulled to an edge after it moved there. Window managers that own the drag
// may ignore that. On Wayland (no X server to run on) the program can neither
// place its windows nor learn where they are, nor keep one on top: the stored
// position is kept as it was, "topmost" and the centring of the Mini Monitor
// show as unavailable.
//
// Threads: UI thread only. Every referenced object must outlive the window.
#include <QIcon>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/language.h"
#include "shell/list_commands.h"
#include "shell/main_window_logic.h"
#include "shell/shell_settings.h"
#include "ui/main/runtime_driver.h"
#include "ui/sessions/netstat_page.h"
#include "ui/tools/tool_page.h"

class QMenu;
class QSystemTrayIcon;
class QTabWidget;
class QAction;
class QWindow;

namespace tw::app {
class Runtime;
class SessionFeature;
class PacketFeature;
}
namespace tw::platform {
class Clock;
class CommandServer;
class LinkStatsSource;
class NetworkInfoSource;
}  // namespace tw::platform
namespace tw::settings {
class Profile;
}
namespace tw::packetfilter {
class FilterController;
}
namespace tw::traffic {
class TrafficMonitor;
}

namespace tw::ui {

class MiniMonitor;
class NetstatPage;
class PacketMonitorPage;
class SessionMonitorPage;
class TrafficMonitorPage;
class TrayController;

struct MainWindowServices {
  settings::Profile* profile = nullptr;
  traffic::TrafficMonitor* traffic = nullptr;
  // Already holds the features; the window adds its shut-down steps.
  app::Runtime* runtime = nullptr;
  platform::Clock* clock = nullptr;
  Language lang = Language::English;
  // The data folder; ends in '/'. Snapshots go there unless the log root
  // folder is set; the files the options dialog edits (rule file, WHOIS
  // table) are there.
  std::string data_folder;
  // The Interface tab's sources. Without them the tab stays empty. The link
  // source must not be the sampler's (it is read on the UI thread).
  platform::NetworkInfoSource* network_info = nullptr;
  platform::LinkStatsSource* info_links = nullptr;
  // The Session Monitor, refreshed by the runtime; without it the tab stays
  // empty.
  app::SessionFeature* sessions = nullptr;
  // The NETSTAT tab's sources; the tab stays empty unless all are set.
  NetstatSources netstat;
  // The Packet Filter tab's rules and state (the runtime's feature shares
  // it). Without it the tab stays empty.
  packetfilter::FilterController* packet_filter = nullptr;
  // Starts the successor of a restart after resume ("/w PID"); false when it
  // could not be started.
  std::function<bool()> launch_successor;
  // Use the desktop's system tray when it has one. Tests turn it off.
  bool use_system_tray = true;
  // Whether the window system lets the program place and stack its windows;
  // unset: as the Qt platform in use says (not on Wayland).
  std::optional<bool> places_windows;
  // Messages for the terminal (stderr), e.g. that there is no tray.
  std::function<void(const std::string&)> note;
  // The Packet Monitor. Without it the tab stays empty.
  app::PacketFeature* packets = nullptr;
  // The tool tabs' services; a tab whose services are missing stays empty.
  ToolPageServices tools;
};

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  explicit MainWindow(MainWindowServices services, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The rest of the start-up: the runtime starts (the Report log's Start-Log
  // entry), the Mini Monitor when it was open, the stored placement, shown or
  // hidden in the tray, the tray icon and the timers. Call once.
  void start();

  // ---- tabs ---------------------------------------------------------------
  QTabWidget* tab_widget() const { return tabs_; }
  QWidget* page(shell::MainPage page) const;
  TrafficMonitorPage* traffic_page() const;
  SessionMonitorPage* session_page() const;
  NetstatPage* netstat_page() const;
  PacketMonitorPage* packet_page() const;
  // The selected tab position ("TabCurSel").
  int current_tab() const { return tab_; }
  void select_tab(int tab);  // clamped

  // ---- commands -----------------------------------------------------------
  void command_exit();            // close with the exit confirmation
  void back_to_original_size();   // show from the tray, or hide into it
  void tab_left();                // Ctrl+Page Down: stops at the first tab
  void tab_right();               // Ctrl+Page Up: stops at the last tab
  void next_tab();                // wraps around
  void previous_tab();            // wraps around
  void open_options();
  void show_about();
  void toggle_status_icon();      // "TaskTrayIcon"
  void toggle_notice_box();       // "NoticeBox"
  void toggle_mini_monitor();     // "MiniMonitor"
  void toggle_topmost();          // "WindowTopMost"
  // "WindowTopMost" written and applied to both windows, the main window
  // first (from the window command, the Mini Monitor's menu).
  void set_topmost(bool on, shell::StackingEvent event);
  void center_mini_monitor();
  // A received command text; dispatched like tarnixd does.
  void handle_command(const std::string& text);
  // Serves `server` from the event loop until the shut-down; null does nothing.
  void serve_commands(platform::CommandServer* server);
  // A command of the Session or Packet Monitor list on its selected rows: a
  // tool's tab is selected and the tool run for the first row's host, or
  // every row becomes a DROP rule of the packet filter.
  void run_list_command(shell::ListCommand command, const std::vector<shell::ListRowCells>& rows);
  // The list commands that have a tab to carry them out.
  shell::ListCommandSet list_commands_available() const;

  enum class SnapshotResult { Written, Skipped, NoFrame, Failed };
  // Saves the graph's last frame as BASE_snapYYYYmmdd_HHMMSS.png. Skipped
  // when a snapshot of the same second exists.
  SnapshotResult take_snapshot();

  // ---- timers (tests call them directly) ------------------------------------
  void notice_tick();   // every 1 s: whether the Notice Dialog is due
  void monitor_tick();  // every 100 ms: Mini Monitor and tray icon

  // ---- power events -----------------------------------------------------------
  // Before the machine sleeps: the Report log's End-Log entry (when on), then
  // the gross totals are saved.
  void on_suspend();
  // After the machine woke up the program restarts: the statistics restart,
  // a successor is started with "/w PID" and waits for this process to end,
  // which closes without the exit question, the End-Log entry or the final
  // save of the totals (the successor loads them). When no successor could
  // be started, this process simply goes on.
  void on_resume();

  // ---- shut-down -------------------------------------------------------------
  // Stops the timers and the command channel, runs the runtime's shut-down
  // (the sampler stops, the window keys, the tray icon removed, the logs
  // ended, the placement, the totals saved), closes the Mini Monitor and
  // destroys the pages in page order. Runs once; then emits finished(). `restarting` leaves out the Report log's End-Log entry and
  // the totals (the successor saves them).
  void shut_down(bool restarting = false);
  bool is_shut_down() const { return shut_down_; }

  // A forced close skips the exit confirmation; the Exit command clears it.
  void set_force_close(bool on) { force_close_ = on; }
  // The exit question (OK/Cancel); by default a message box.
  void set_confirm_exit(std::function<bool()> confirm) { confirm_exit_ = std::move(confirm); }
  // Where the snapshot's picture comes from; by default the graph's frame.
  void set_snapshot_source(std::function<QImage()> source) { snapshot_source_ = std::move(source); }

  const shell::ShellSettings& shell() const { return shell_; }
  bool main_window_shown() const { return shown_; }
  MiniMonitor* mini_monitor() const;
  // Null without a tray.
  QSystemTrayIcon* tray_icon() const;
  TrayController& tray() const { return *tray_; }
  QMenu* window_menu() const { return window_menu_; }
  QMenu* tray_menu() const { return tray_menu_; }
  // The tip the tray icon shows now.
  QString tray_tip() const;
  // Whether the program can place and stack its windows here.
  bool places_windows() const { return places_windows_; }

 signals:
  // The shut-down has run; the program may end.
  void finished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void create_pages(const MainWindowServices& s);
  QWidget* create_session_page(app::SessionFeature& feature);
  void connect_list_commands();
  void create_menus();
  void fit_tab_labels();
  void create_shortcuts();
  void create_tray();
  void apply_topmost();
  // The topmost key as it is now, applied to the main window and then the Mini Monitor.
  void follow_topmost(shell::StackingEvent event);
  // Shows the Mini Monitor again when the main window's native window may
  // be new since it was last shown.
  void reattach_mini();
  void apply_options();
  void hide_to_tray();
  bool tray_usable() const;
  void open_mini_monitor();
  void close_mini_monitor();
  void update_menu_checks();
  void restore_placement();
  void settle_placement();
  // Raises and activates windows as stacking_after() says for `event`.
  void restack(shell::StackingEvent event);
  shell::FrameMargins frame_margins() const;
  void remember_normal_geometry();
  // The window's steps of the runtime's shut-down.
  void save_window_state();
  void save_placement();
  void snap_to_edges();

  settings::Profile& profile_;
  traffic::TrafficMonitor& traffic_;
  app::Runtime& runtime_;
  platform::Clock& clock_;
  const Language lang_;
  const std::string data_folder_;
  std::function<bool()> launch_successor_;
  const bool use_system_tray_;
  const bool places_windows_;
  std::function<void(const std::string&)> note_;

  shell::ShellSettings shell_;
  int tab_ = 0;
  bool shown_ = true;          // "MainWindow": not hidden in the tray
  bool force_close_ = false;
  bool restarting_ = false;
  bool started_ = false;
  bool shut_down_ = false;
  bool placing_ = false;       // our own moves are not snapped
  tw::PixelRect normal_rect_; // frame position and client size in the normal state
  bool have_normal_rect_ = false;
  std::optional<tw::PixelRect> pending_placement_;  // restored, not yet seen framed on screen
  QPointer<QWindow> watched_native_;  // the native window whose Expose events are watched
  bool raise_mini_on_expose_ = false;
  bool mini_owner_stale_ = false;  // the Mini Monitor was shown before the main window's native window changed

  QTabWidget* tabs_ = nullptr;
  std::array<QPointer<QWidget>, shell::kMainPageCount> pages_{};
  QPointer<TrafficMonitorPage> traffic_page_;
  packetfilter::FilterController* packet_filter_ = nullptr;  // set when its tab exists
  QPointer<MiniMonitor> mini_;

  TrayController* tray_ = nullptr;  // a child: made in the constructor

  QMenu* window_menu_ = nullptr;
  QMenu* tray_menu_ = nullptr;
  QAction* status_icon_action_ = nullptr;
  QAction* notice_action_ = nullptr;
  QAction* mini_action_ = nullptr;
  QAction* center_mini_action_ = nullptr;
  QAction* tray_status_icon_action_ = nullptr;
  QAction* tray_notice_action_ = nullptr;
  QAction* tray_mini_action_ = nullptr;

  QTimer notice_timer_;   // notice_tick()
  QTimer monitor_timer_;  // monitor_tick()
  // The runtime's timers (app::kTimerStatusBlock, kTimerGrossTotals, the log
  // timers, kTimerAutoReset ...) and the commands.
  RuntimeDriver driver_;

  std::function<bool()> confirm_exit_;
  std::function<QImage()> snapshot_source_;
};

}  // namespace tw::ui
