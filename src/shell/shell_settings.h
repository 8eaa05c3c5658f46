#pragma once
// The application shell's keys in the settings file: the "Settings" block of
// the main window, the Notice Dialog block ("NoticeBox") and the tray-icon
// monitor block ("TaskTrayIcon"), with the load rules and the writers used by
// the options pages and the shut-down. The four log blocks belong to the log
// engine. Main thread only, like every settings access.
//
// Colours are 0x00BBGGRR integers (red in the low byte), stored in decimal.
// The tab position "TabCurSel" is stored as read; clamp it with
// shell::clamp_tab() (options_model.h) against the main window's tab count.
#include <array>
#include <optional>
#include <string>

#include "settings/profile.h"

namespace tw::shell {

// Section "NoticeBox": the look of the Notice Dialog.
struct NoticeBoxSettings {
  int bk_color = 0xA03020;     // "BkColor"
  int text_color = 0xFFFFFF;   // "TextColor"
  bool alpha_blend = false;    // "AlphaBlend": translucent window
  int alpha_level = 150;       // "AlphaLevel": opacity 0..255 when translucent
  int time_out_ms = 6000;      // "TimeOut": time fully visible
};

// Section "TaskTrayIcon": the drawn speed monitor in the tray icon.
struct TrayIconSettings {
  int color_background = 0xA03020;  // "Color00"
  int color_send = 0x3040FF;        // "Color01"
  int color_receive = 0x30FF40;     // "Color02"
  int font = 0;                     // "Font": 0 "Tahoma", 1 "Arial", 2 "Tahoma (for High DPI)"
  int unit = 0;                     // "Unit": 0 "KB/s", 1 "Kbps"
  int high_dpi = 0;                 // "HighDPI"
};

struct ShellSettings {
  // Section "Settings".
  bool window_top_most = false;           // "WindowTopMost"
  bool window_stretch = true;             // "WindowStretch": snap to the desktop edges
  bool minimized = false;                 // "Minimized": start hidden in the tray
  bool task_tray_icon = true;             // "TaskTrayIcon": status icons in the tray
  bool task_tray_monitor = false;         // "TaskTrayMonitor": drawn speed monitor instead
  bool exit_confirmation_dialog = false;  // "ExitConfirmationDialog"
  bool notice_box = false;                // "NoticeBox": periodic Notice Dialog
  int notice_box_interval = 10;           // "NoticeBoxInterval": minutes, 0 = never; loaded as |n| % 60
  std::string log_root_folder;            // "LogRootFolder"
  int tab_cur_sel = 0;                    // "TabCurSel": tab position, not clamped here
  bool main_window = true;                // "MainWindow": shown (1) or in the tray (0) at exit
  bool notify_icon = false;               // "NotifyIcon": tray icon present at exit
  bool mini_monitor = false;              // "MiniMonitor": Mini Monitor open
  std::optional<std::array<int, 10>> position;  // "Position": main window placement
  bool is_zoomed = false;                 // "IsZoomed": maximised at exit
  int config_sel = 0;                     // "ConfigSel": options dialog group
  int config_tab = 0;                     // "ConfigTab": tab within that group
  // Other sections.
  bool surveil_auto_start = false;        // "Surveil"/"AutoStart": start the Packet Monitor; only 1 is on
  bool session_auto_start = true;         // "Session"/"AutoStart": start the Session Monitor; only 1 is on
  int session_split_size = 100;           // "Session"/"SplitSize": blocked-log pane height, 12..1200
  bool report_log_check = false;          // "Report"/"LogCheck": Report log enabled
  bool font_enum_check = true;            // "FontEnumCheck": font lists offer fixed-pitch faces only
  bool font_enum_draw = true;             // "FontEnumDraw": font lists show each name in its face

  TrayIconSettings tray_icon;
  NoticeBoxSettings notice;
};

// Reads every key above (missing keys keep the defaults). Flags are true for
// any non-zero number.
ShellSettings load_shell_settings(const settings::Profile& profile);

// "Session"/"AutoStart" and "Session"/"SplitSize" belong to the shell: the
// General/View options page writes the first, the main window's shut-down the
// second. The Session Monitor only follows them, and both programs read them
// here so that they agree: the monitor starts only for a stored 1 (a 2 or a
// -1 left by hand neither starts it nor shows as checked), and the pane height
// is brought into 12..1200.
bool load_session_auto_start(const settings::Profile& profile);
int clamp_session_split_size(int stored);

// "Surveil"/"AutoStart" likewise: the General/View page writes it, the
// Packet Monitor follows it in both programs (tarnixd captures headless), and
// only a stored 1 is on, so that what the page shows checked is what starts.
bool load_surveil_auto_start(const settings::Profile& profile);

// "Position" alone: the restore at start and the graph's first width read it
// before or without the rest of the block. Empty when missing or not ten
// integers.
std::optional<std::array<int, 10>> load_window_position(const settings::Profile& profile);

// |value| % 60, computed without overflow for INT_MIN.
int normalise_notice_interval(int value);

// The "View" page of the options: the flags it edits and the notice period.
void save_view_page(settings::Profile& profile, const ShellSettings& s);
void save_notice_box(settings::Profile& profile, const NoticeBoxSettings& s);
void save_tray_icon(settings::Profile& profile, const TrayIconSettings& s);
// The "Tasktray" page: "TaskTrayMonitor" and the tray-icon block.
void save_tasktray_page(settings::Profile& profile, const ShellSettings& s);
// The font-list flags of the graph's font page.
void save_font_list_flags(settings::Profile& profile, const ShellSettings& s);
// The group and tab the options dialog shows next ("ConfigSel", "ConfigTab").
void save_options_position(settings::Profile& profile, int config_sel, int config_tab);

// Flags the menus switch at once, outside the options dialog.
enum class ShellFlag { WindowTopMost, TaskTrayIcon, NoticeBox, MiniMonitor };
void save_shell_flag(settings::Profile& profile, ShellFlag flag, bool on);

// Shut-down writes, in the order the shut-down makes them.
// Window state: "TabCurSel", "MainWindow", "NotifyIcon", "Session"/"SplitSize".
void save_window_state(settings::Profile& profile, int tab_cur_sel, bool main_window_shown,
                       bool notify_icon_present, int split_size);
// Writes "LogRootFolder" as "" when the configured folder is empty, so that
// the key is there for the user to fill in.
void save_empty_log_root_folder(settings::Profile& profile, const std::string& log_root_folder);
// The main window's placement: "IsZoomed", then "Position".
void save_window_placement(settings::Profile& profile, bool is_zoomed, const std::array<int, 10>& position);

}  // namespace tw::shell
