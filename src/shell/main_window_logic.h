#pragma once
// The main window without its widgets: which page each tab shows and its
// label in both languages, tab clamping and stepping, the exit confirmation
// rule, the menu and message texts of the shell, the snapshot file names, and
// the window placement kept in "Settings"/"Position".
//
// Pure: no Qt, no files, no clock. The Qt window (ui/main/main_window.h) calls
// all of this on the UI thread.
#include <array>
#include <span>
#include <string>
#include <string_view>

#include "base/language.h"
#include "shell/notice_logic.h"
#include "platform/clock.h"

namespace tw::shell {

// Caption of the main window and of its message boxes, and the tray icon's tip.
inline constexpr std::string_view kProductName = "Tarnwatch";

// ---------------------------------------------------------------------------
// Pages and tabs

// The pages in page order: the order in which they are created and destroyed.
enum class MainPage : int {
  PacketMonitor = 0,
  Interface = 1,
  Netstat = 2,
  TrafficMonitor = 3,
  Whois = 4,
  Nslookup = 5,
  SessionMonitor = 6,
  Statistics = 7,
  PacketFilter = 8,
  Ping = 9,
  Tracert = 10,
};
inline constexpr int kMainPageCount = 11;
inline constexpr int kMainTabCount = kMainPageCount;

// The page shown by the tab at each position, left to right. "TabCurSel"
// stores a tab position, not a page.
inline constexpr std::array<MainPage, kMainTabCount> kTabOrder{
    MainPage::TrafficMonitor, MainPage::PacketMonitor, MainPage::SessionMonitor,
    MainPage::PacketFilter,   MainPage::Interface,     MainPage::Statistics,
    MainPage::Nslookup,       MainPage::Netstat,       MainPage::Whois,
    MainPage::Ping,           MainPage::Tracert,
};

// The page of a tab position, after clamping the position (clamp_main_tab).
MainPage page_at_tab(int tab);
// The tab position that shows `page`.
int tab_of_page(MainPage page);
// The page's tab label (at most 20 characters).
std::string_view page_label(Language lang, MainPage page);

// "TabCurSel" as the window uses it: below 1 gives the first tab, at or above
// the tab count the last one.
int clamp_main_tab(int tab);

// The accelerators Ctrl+Page Down and Ctrl+Page Up move one tab to the left
// and to the right and stop at the ends.
int tab_to_the_left(int tab);
int tab_to_the_right(int tab);
// The next and previous tab commands that pages send wrap around.
int next_tab_wrapping(int tab);
int previous_tab_wrapping(int tab);

// ---------------------------------------------------------------------------
// Window size

// The client area never gets smaller than this.
inline constexpr int kMinClientWidth = 770;
inline constexpr int kMinClientHeight = 200;
// The size a new window starts with, before a stored placement applies.
inline constexpr int kDefaultClientWidth = 803;
inline constexpr int kDefaultClientHeight = 440;

// ---------------------------------------------------------------------------
// Exit

// A close request asks first only when "ExitConfirmationDialog" is set and the
// close was not forced (a restart after resume forces it).
constexpr bool exit_needs_confirmation(bool force_close, bool exit_confirmation_dialog) {
  return !force_close && exit_confirmation_dialog;
}
std::string_view exit_question(Language lang);

// ---------------------------------------------------------------------------
// Menus and texts

// The tray icon's menu, top to bottom; the first item is the default one.
enum class TrayMenuItem {
  BackToOriginalSize,
  StatusIcon,
  NoticeDialog,
  MiniMonitor,
  Options,
  About,
  Exit,
};
inline constexpr std::array<TrayMenuItem, 7> kTrayMenuItems{
    TrayMenuItem::BackToOriginalSize, TrayMenuItem::StatusIcon, TrayMenuItem::NoticeDialog,
    TrayMenuItem::MiniMonitor,        TrayMenuItem::Options,    TrayMenuItem::About,
    TrayMenuItem::Exit,
};
std::string_view tray_menu_text(Language lang, TrayMenuItem item);

// The window menu: the items a desktop adds to a window's own menu, reached
// from the tab row (corner button and right click on the tabs).
enum class WindowMenuItem {
  StatusIcon,
  NoticeDialog,
  MiniMonitor,
  CenterMiniMonitor,
  Options,
  About,
};
std::string_view window_menu_text(Language lang, WindowMenuItem item);

// Title of the About box and its text.
std::string_view about_title(Language lang);
std::string about_text(Language lang, std::string_view version);

// ---------------------------------------------------------------------------
// Snapshot

// "YYYYmmdd_HHMMSS" of a local time.
std::string snapshot_stamp(const platform::LocalTime& t);

// The log root folder counts only as an absolute path; the file name is
// appended to it as it is, so it should end in '/'.
bool log_root_folder_valid(std::string_view folder);

struct SnapshotPaths {
  std::string temporary;  // written first, then renamed to `image`
  std::string image;      // BASE_snapSTAMP.png
};
// The temporary file always lies in the data folder (which ends in '/'); the
// image goes there too, or into the log root folder when that is valid. A
// second snapshot within the same second finds one of the two files and is
// skipped, so the stamp names exactly one picture.
SnapshotPaths snapshot_paths(std::string_view data_folder, std::string_view base_name,
                             std::string_view log_root_folder, const platform::LocalTime& t);

// ---------------------------------------------------------------------------
// Window system

// What decides the Qt platform plugin at start.
struct DisplayEnvironment {
  std::string_view qpa_platform;     // QT_QPA_PLATFORM
  std::string_view display;          // DISPLAY: an X server
  std::string_view wayland_display;  // WAYLAND_DISPLAY: a Wayland compositor
  bool platform_option = false;      // Qt's -platform option on the command line
};
// The platform plugin to ask Qt for, or empty to leave the choice to Qt.
// A choice of the user's (QT_QPA_PLATFORM set, or -platform) stands. Else,
// with an X server the program runs on X11 ("xcb"), also in a Wayland
// session that offers X (XWayland: DISPLAY and WAYLAND_DISPLAY both set),
// where Qt would otherwise pick Wayland: a Wayland client cannot place or
// stack its own windows, so the stored positions, "Always on topmost", the
// Mini Monitor kept over the main window, the Notice Dialog's corner, the
// centring and the edge snapping would all do nothing. With a compositor
// too, Wayland stays the fallback ("xcb;wayland": Qt tries them in order)
// for an X server that cannot be reached.
std::string choose_qpa_platform(const DisplayEnvironment& env);

// Whether a program on this Qt platform ("xcb", "wayland", "offscreen" ...)
// can place its own windows, read back where they are and keep one above
// the others. Not on Wayland, where the compositor alone decides.
bool platform_places_windows(std::string_view qpa_platform_name);
// Why the placement and topmost options are not available (short, for the
// options page and the menus).
std::string_view placement_unavailable_reason(Language lang);

// ---------------------------------------------------------------------------
// Stacking of the main window and the Mini Monitor

// The Mini Monitor is meant to be seen while the main window is hidden or
// covered, so it stays above the main window. These are the moments after
// which the window system may have put the main window over it: the main
// window shown or brought back, either native window made anew (switching
// "topmost" does that), or the Mini Monitor moved where the main window is.
enum class StackingEvent {
  StartedUp,               // the main window was shown at the start
  MiniMonitorOpened,
  MiniMonitorCentred,      // brought to the centre of the screen
  TopmostFromMiniMonitor,  // "Always on topmost" chosen in the Mini Monitor's menu
  TopmostFromMainWindow,   // "topmost" applied to the main window (options, commands)
  MainWindowRestored,      // brought back from the tray
};

// What to do afterwards, in this order: raise and activate the main window,
// then raise the Mini Monitor over it and perhaps give it the focus.
struct StackingOrder {
  bool activate_main = false;
  bool raise_mini = false;
  bool activate_mini = false;
  bool operator==(const StackingOrder&) const = default;
};
// The window the user acted in keeps the focus; the Mini Monitor, when
// open, ends up over the main window.
StackingOrder stacking_after(StackingEvent event, bool mini_open, bool main_visible);

// ---------------------------------------------------------------------------
// Placement ("Settings"/"Position")

inline constexpr int kPlacementRestoreToMaximized = 2;
inline constexpr int kShowNormal = 1;
inline constexpr int kShowMaximized = 3;

// The ten stored integers: flags, show command, minimised position x and y,
// maximised position x and y, and the normal-position rectangle left, top,
// right (exclusive), bottom (exclusive), in screen pixels. Left and top are
// the window's position, right and bottom add the size of its client area
// (the Mini Monitor's list does the same), so a list read back gives the same
// window whatever frame the window manager draws around it.
struct WindowPlacement {
  int flags = 0;
  int show_cmd = kShowNormal;
  int min_x = -1, min_y = -1;
  int max_x = -1, max_y = -1;
  PixelRect normal;

  std::array<int, 10> to_list() const;
  static WindowPlacement from_list(const std::array<int, 10>& v);
  bool restore_maximized() const { return (flags & kPlacementRestoreToMaximized) != 0; }
};

// How far a window's frame reaches past its client area on each side.
struct FrameMargins {
  int left = 0, top = 0, right = 0, bottom = 0;
};
// The normal rectangle stored for a window whose client area is `client`
// under a frame with `margins`: the frame's top-left corner, then that corner
// plus the client size.
PixelRect stored_normal_rect(const PixelRect& client, const FrameMargins& margins);
// The client area that a stored normal rectangle gives back under a frame
// with `margins`; the inverse of stored_normal_rect().
PixelRect client_rect_for(const PixelRect& stored, const FrameMargins& margins);

// What the shut-down stores for a window whose normal rectangle is
// `normal`; a maximised window is stored with the restore-to-maximised flag.
WindowPlacement placement_for(const PixelRect& normal, bool maximized);

// Where a stored normal rectangle goes on the screens of today, given their
// work areas (the first one is the primary). The size is raised to at least
// `min_width` x `min_height` and kept within the largest work area. A window
// whose top band (the part one drags it by) is no longer on any screen, for
// example after a second monitor went away, is centred on the primary work
// area; otherwise it stays where it was.
PixelRect bring_on_screen(const PixelRect& stored, std::span<const PixelRect> work_areas,
                          int min_width, int min_height);

}  // namespace tw::shell
