#include "shell/main_window_logic.h"

#include <algorithm>
#include <cstdio>

#include "shell/options_model.h"

namespace tw::shell {

namespace {

constexpr std::array<std::string_view, kMainPageCount> kPageLabelsEn{
    "Packet Monitor", "Interface", "NETSTAT",    "Traffic Monitor", "WHOIS", "NSLOOKUP",
    "Session Monitor", "Statistics", "Packet Filter", "PING",        "TRACERT",
};
constexpr std::array<std::string_view, kMainPageCount> kPageLabelsJa{
    "IP監視モニター", "IF詳細",    "NETSTAT",          "トラフィックモニター", "WHOIS", "NSLOOKUP",
    "セッションモニター", "統計値", "パケットフィルター", "PING",                "TRACERT",
};

// Intersection of two rectangles; empty (zero or negative size) when apart.
PixelRect intersect(const PixelRect& a, const PixelRect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

// How much of the window's top band must stay on a screen for the user to
// reach it with the mouse.
constexpr int kGrabBandHeight = 24;
constexpr int kGrabMinWidth = 48;

}  // namespace

// ---------------------------------------------------------------------------
// Pages and tabs

MainPage page_at_tab(int tab) { return kTabOrder[static_cast<std::size_t>(clamp_main_tab(tab))]; }

int tab_of_page(MainPage page) {
  for (int i = 0; i < kMainTabCount; ++i)
    if (kTabOrder[static_cast<std::size_t>(i)] == page) return i;
  return 0;
}

std::string_view page_label(Language lang, MainPage page) {
  const auto i = static_cast<std::size_t>(page);
  if (i >= kPageLabelsEn.size()) return {};
  return lang == Language::Japanese ? kPageLabelsJa[i] : kPageLabelsEn[i];
}

int clamp_main_tab(int tab) { return clamp_tab(tab, kMainTabCount); }

int tab_to_the_left(int tab) { return std::max(clamp_main_tab(tab) - 1, 0); }
int tab_to_the_right(int tab) { return std::min(clamp_main_tab(tab) + 1, kMainTabCount - 1); }
int next_tab_wrapping(int tab) { return (clamp_main_tab(tab) + 1) % kMainTabCount; }
int previous_tab_wrapping(int tab) {
  return (clamp_main_tab(tab) + kMainTabCount - 1) % kMainTabCount;
}

// ---------------------------------------------------------------------------
// Texts

std::string_view exit_question(Language lang) {
  return pick<std::string_view>(lang, "Exit the Application.\nAre you sure?",
                                "アプリケーションを終了します。\nよろしいですか？");
}

std::string_view tray_menu_text(Language lang, TrayMenuItem item) {
  const bool ja = lang == Language::Japanese;
  switch (item) {
    case TrayMenuItem::BackToOriginalSize: return ja ? "元のサイズに戻す(&R)" : "Back to original size(&R)";
    case TrayMenuItem::StatusIcon: return ja ? "送受信状態(&G)" : "Status Icon(&G)";
    case TrayMenuItem::NoticeDialog: return ja ? "通知ダイアログ(&D)" : "Notice Dialog(&D)";
    case TrayMenuItem::MiniMonitor: return ja ? "ミニモニター(&F)" : "Mini Monitor(&F)";
    case TrayMenuItem::Options: return ja ? "オプション設定(&O)..." : "Options(&O)...";
    case TrayMenuItem::About: return ja ? "バージョン情報(&A)..." : "About(&A)...";
    case TrayMenuItem::Exit: return ja ? "終了(&X)" : "Exit(&X)";
  }
  return {};
}

std::string_view window_menu_text(Language lang, WindowMenuItem item) {
  const bool ja = lang == Language::Japanese;
  switch (item) {
    case WindowMenuItem::StatusIcon: return ja ? "送受信状態(&G)" : "Status Icon(&G)";
    case WindowMenuItem::NoticeDialog: return ja ? "通知ダイアログ(&D)" : "Notice Dialog(&D)";
    case WindowMenuItem::MiniMonitor: return ja ? "ミニモニター(&F)" : "Mini-Monitor(&F)";
    case WindowMenuItem::CenterMiniMonitor:
      return ja ? "ミニモニターをデスクトップ中央へ(&U)" : "Move to center Mini-Monitor(&U)";
    case WindowMenuItem::Options: return ja ? "オプション設定(&O)...\tAlt+F10" : "Options(&O)...\tAlt+F10";
    case WindowMenuItem::About: return ja ? "Tarnwatch のバージョン情報(&A)..." : "About Tarnwatch(&A)...";
  }
  return {};
}

std::string_view about_title(Language lang) {
  return pick<std::string_view>(lang, "About Tarnwatch", "Tarnwatch のバージョン情報");
}

std::string about_text(Language lang, std::string_view version) {
  std::string text(kProductName);
  text += pick<std::string_view>(lang, " version ", " バージョン ");
  text += version;
  text += pick<std::string_view>(
      lang, "\n\nA network monitor for the Linux desktop.\nLicensed under the GPL, version 2 or later.",
      "\n\nLinux デスクトップ用のネットワークモニター\nGPL バージョン 2 以降で配布されています。");
  return text;
}

// ---------------------------------------------------------------------------
// Snapshot

std::string snapshot_stamp(const platform::LocalTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d_%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

bool log_root_folder_valid(std::string_view folder) { return !folder.empty() && folder.front() == '/'; }

SnapshotPaths snapshot_paths(std::string_view data_folder, std::string_view base_name,
                             std::string_view log_root_folder, const platform::LocalTime& t) {
  std::string folder(data_folder);
  if (!folder.empty() && folder.back() != '/') folder += '/';
  const std::string name = std::string(base_name) + "_snap" + snapshot_stamp(t);
  SnapshotPaths p;
  p.temporary = folder + name + ".tmp";
  p.image = (log_root_folder_valid(log_root_folder) ? std::string(log_root_folder) : folder) + name + ".png";
  return p;
}

// ---------------------------------------------------------------------------
// Stacking

StackingOrder stacking_after(StackingEvent event, bool mini_open, bool main_visible) {
  StackingOrder o;
  switch (event) {
    case StackingEvent::MainWindowRestored:
      o.activate_main = main_visible;
      break;
    case StackingEvent::TopmostFromMiniMonitor:
      // The menu was the Mini Monitor's: the focus goes back there, not to
      // the main window that the change re-created.
      o.activate_mini = mini_open;
      break;
    case StackingEvent::StartedUp:
    case StackingEvent::MiniMonitorOpened:
    case StackingEvent::MiniMonitorCentred:
    case StackingEvent::TopmostFromMainWindow:
      break;
  }
  o.raise_mini = mini_open;
  return o;
}

// ---------------------------------------------------------------------------
// Placement

std::array<int, 10> WindowPlacement::to_list() const {
  return {flags, show_cmd, min_x, min_y, max_x, max_y, normal.left, normal.top, normal.right, normal.bottom};
}

WindowPlacement WindowPlacement::from_list(const std::array<int, 10>& v) {
  WindowPlacement p;
  p.flags = v[0];
  p.show_cmd = v[1];
  p.min_x = v[2];
  p.min_y = v[3];
  p.max_x = v[4];
  p.max_y = v[5];
  p.normal = {v[6], v[7], v[8], v[9]};
  return p;
}

PixelRect stored_normal_rect(const PixelRect& client, const FrameMargins& m) {
  const int left = client.left - m.left, top = client.top - m.top;
  return {left, top, left + client.width(), top + client.height()};
}

PixelRect client_rect_for(const PixelRect& stored, const FrameMargins& m) {
  const int left = stored.left + m.left, top = stored.top + m.top;
  return {left, top, left + stored.width(), top + stored.height()};
}

WindowPlacement placement_for(const PixelRect& normal, bool maximized) {
  WindowPlacement p;
  p.normal = normal;
  if (maximized) {
    p.flags = kPlacementRestoreToMaximized;
    p.show_cmd = kShowMaximized;
  }
  return p;
}

PixelRect bring_on_screen(const PixelRect& stored, std::span<const PixelRect> work_areas, int min_width,
                          int min_height) {
  // Sizes in 64 bits: a hand-edited file may hold any int in each field.
  const long long stored_w = static_cast<long long>(stored.right) - stored.left;
  const long long stored_h = static_cast<long long>(stored.bottom) - stored.top;
  long long max_w = min_width, max_h = min_height;
  for (const PixelRect& w : work_areas) {
    max_w = std::max<long long>(max_w, w.width());
    max_h = std::max<long long>(max_h, w.height());
  }
  const int width = static_cast<int>(std::clamp<long long>(stored_w, min_width, max_w));
  const int height = static_cast<int>(std::clamp<long long>(stored_h, min_height, max_h));
  if (work_areas.empty()) return {stored.left, stored.top, stored.left + width, stored.top + height};

  // Positions far outside any screen are treated as lost before adding sizes,
  // so that left + width cannot overflow.
  constexpr int kFar = 1 << 24;
  const bool far = stored.left < -kFar || stored.left > kFar || stored.top < -kFar || stored.top > kFar;
  if (!far) {
    const PixelRect placed{stored.left, stored.top, stored.left + width, stored.top + height};
    const PixelRect band{placed.left, placed.top, placed.right, placed.top + kGrabBandHeight};
    for (const PixelRect& w : work_areas) {
      const PixelRect on = intersect(band, w);
      if (on.width() >= kGrabMinWidth && on.height() > 0 && placed.top >= w.top) return placed;
    }
  }
  const PixelRect& primary = work_areas.front();
  const int left = primary.left + std::max(0, (primary.width() - width) / 2);
  const int top = primary.top + std::max(0, (primary.height() - height) / 2);
  return {left, top, left + width, top + height};
}

// ---------------------------------------------------------------------------
// Window system

std::string choose_qpa_platform(const DisplayEnvironment& env) {
  if (!env.qpa_platform.empty() || env.platform_option || env.display.empty()) return {};
  return env.wayland_display.empty() ? "xcb" : "xcb;wayland";
}

bool platform_places_windows(std::string_view qpa_platform_name) {
  // "wayland", "wayland-egl", "wayland-xcomposite-glx" ...
  return qpa_platform_name.substr(0, 7) != "wayland";
}

std::string_view placement_unavailable_reason(Language lang) {
  return pick<std::string_view>(lang, "Not available on Wayland: the compositor places and stacks the windows.",
                                "Wayland では使用できません（ウィンドウの位置と重なり順はコンポジターが決めます）。");
}

}  // namespace tw::shell
