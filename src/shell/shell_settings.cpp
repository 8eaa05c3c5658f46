#include "shell/shell_settings.h"

#include <algorithm>
#include <cstdlib>

#include "logging/log_engine.h"
#include "settings/shared_keys.h"

namespace tw::shell {

namespace {

constexpr std::string_view kSettings = settings::kSettingsSection;
constexpr std::string_view kNoticeBox = "NoticeBox";
constexpr std::string_view kTrayIcon = "TaskTrayIcon";

bool read_flag(const settings::Profile& p, std::string_view section, std::string_view key, bool def) {
  return p.read_int(section, key, def ? 1 : 0) != 0;
}

void write_flag(settings::Profile& p, std::string_view section, std::string_view key, bool value) {
  p.write_int(section, key, value ? 1 : 0);
}

}  // namespace

int normalise_notice_interval(int value) {
  return static_cast<int>(std::llabs(static_cast<long long>(value)) % 60);
}

ShellSettings load_shell_settings(const settings::Profile& p) {
  ShellSettings s;
  s.window_top_most = read_flag(p, kSettings, settings::kWindowTopMostKey, s.window_top_most);
  s.window_stretch = read_flag(p, kSettings, settings::kWindowStretchKey, s.window_stretch);
  s.minimized = read_flag(p, kSettings, "Minimized", s.minimized);
  s.task_tray_icon = read_flag(p, kSettings, "TaskTrayIcon", s.task_tray_icon);
  s.task_tray_monitor = read_flag(p, kSettings, "TaskTrayMonitor", s.task_tray_monitor);
  s.exit_confirmation_dialog =
      read_flag(p, kSettings, "ExitConfirmationDialog", s.exit_confirmation_dialog);
  s.notice_box = read_flag(p, kSettings, "NoticeBox", s.notice_box);
  s.notice_box_interval =
      normalise_notice_interval(p.read_int(kSettings, "NoticeBoxInterval", s.notice_box_interval));
  s.log_root_folder = logging::load_log_root_folder(p);
  s.tab_cur_sel = p.read_int(kSettings, "TabCurSel", s.tab_cur_sel);
  s.main_window = read_flag(p, kSettings, "MainWindow", s.main_window);
  s.notify_icon = read_flag(p, kSettings, "NotifyIcon", s.notify_icon);
  s.mini_monitor = read_flag(p, kSettings, "MiniMonitor", s.mini_monitor);
  s.position = load_window_position(p);
  s.is_zoomed = read_flag(p, kSettings, "IsZoomed", s.is_zoomed);
  s.config_sel = p.read_int(kSettings, "ConfigSel", s.config_sel);
  s.config_tab = p.read_int(kSettings, "ConfigTab", s.config_tab);
  s.surveil_auto_start = load_surveil_auto_start(p);
  s.session_auto_start = load_session_auto_start(p);
  s.session_split_size = clamp_session_split_size(p.read_int("Session", "SplitSize", s.session_split_size));
  s.report_log_check = logging::load_log_check(p, logging::LogKind::Report);
  s.font_enum_check = read_flag(p, kSettings, "FontEnumCheck", s.font_enum_check);
  s.font_enum_draw = read_flag(p, kSettings, "FontEnumDraw", s.font_enum_draw);

  TrayIconSettings& t = s.tray_icon;
  t.color_background = p.read_int(kTrayIcon, "Color00", t.color_background);
  t.color_send = p.read_int(kTrayIcon, "Color01", t.color_send);
  t.color_receive = p.read_int(kTrayIcon, "Color02", t.color_receive);
  t.font = p.read_int(kTrayIcon, "Font", t.font);
  t.unit = p.read_int(kTrayIcon, "Unit", t.unit);
  t.high_dpi = p.read_int(kTrayIcon, "HighDPI", t.high_dpi);

  NoticeBoxSettings& n = s.notice;
  n.bk_color = p.read_int(kNoticeBox, "BkColor", n.bk_color);
  n.text_color = p.read_int(kNoticeBox, "TextColor", n.text_color);
  n.alpha_blend = read_flag(p, kNoticeBox, "AlphaBlend", n.alpha_blend);
  n.alpha_level = p.read_int(kNoticeBox, "AlphaLevel", n.alpha_level);
  n.time_out_ms = p.read_int(kNoticeBox, "TimeOut", n.time_out_ms);
  return s;
}

bool load_session_auto_start(const settings::Profile& p) { return p.read_int("Session", "AutoStart", 1) == 1; }

bool load_surveil_auto_start(const settings::Profile& p) { return p.read_int("Surveil", "AutoStart", 0) == 1; }

int clamp_session_split_size(int stored) { return stored < 13 ? 12 : std::min(stored, 1200); }

std::optional<std::array<int, 10>> load_window_position(const settings::Profile& p) {
  std::array<int, 10> placement{};
  if (!p.read_placement("Position", placement)) return std::nullopt;
  return placement;
}

void save_view_page(settings::Profile& p, const ShellSettings& s) {
  write_flag(p, kSettings, settings::kWindowTopMostKey, s.window_top_most);
  write_flag(p, kSettings, settings::kWindowStretchKey, s.window_stretch);
  write_flag(p, kSettings, "Minimized", s.minimized);
  write_flag(p, kSettings, "ExitConfirmationDialog", s.exit_confirmation_dialog);
  write_flag(p, kSettings, "TaskTrayIcon", s.task_tray_icon);
  write_flag(p, kSettings, "NoticeBox", s.notice_box);
  p.write_int(kSettings, "NoticeBoxInterval", s.notice_box_interval);
  write_flag(p, "Surveil", "AutoStart", s.surveil_auto_start);
  write_flag(p, "Session", "AutoStart", s.session_auto_start);
}

void save_notice_box(settings::Profile& p, const NoticeBoxSettings& n) {
  p.write_int(kNoticeBox, "BkColor", n.bk_color);
  p.write_int(kNoticeBox, "TextColor", n.text_color);
  write_flag(p, kNoticeBox, "AlphaBlend", n.alpha_blend);
  p.write_int(kNoticeBox, "AlphaLevel", n.alpha_level);
  p.write_int(kNoticeBox, "TimeOut", n.time_out_ms);
}

void save_tray_icon(settings::Profile& p, const TrayIconSettings& t) {
  p.write_int(kTrayIcon, "Color00", t.color_background);
  p.write_int(kTrayIcon, "Color01", t.color_send);
  p.write_int(kTrayIcon, "Color02", t.color_receive);
  p.write_int(kTrayIcon, "Font", t.font);
  p.write_int(kTrayIcon, "Unit", t.unit);
  p.write_int(kTrayIcon, "HighDPI", t.high_dpi);
}

void save_tasktray_page(settings::Profile& p, const ShellSettings& s) {
  write_flag(p, kSettings, "TaskTrayMonitor", s.task_tray_monitor);
  save_tray_icon(p, s.tray_icon);
}

void save_font_list_flags(settings::Profile& p, const ShellSettings& s) {
  write_flag(p, kSettings, "FontEnumCheck", s.font_enum_check);
  write_flag(p, kSettings, "FontEnumDraw", s.font_enum_draw);
}

void save_options_position(settings::Profile& p, int config_sel, int config_tab) {
  p.write_int(kSettings, "ConfigSel", config_sel);
  p.write_int(kSettings, "ConfigTab", config_tab);
}

void save_shell_flag(settings::Profile& p, ShellFlag flag, bool on) {
  switch (flag) {
    case ShellFlag::WindowTopMost: write_flag(p, kSettings, settings::kWindowTopMostKey, on); return;
    case ShellFlag::TaskTrayIcon: write_flag(p, kSettings, "TaskTrayIcon", on); return;
    case ShellFlag::NoticeBox: write_flag(p, kSettings, "NoticeBox", on); return;
    case ShellFlag::MiniMonitor: write_flag(p, kSettings, "MiniMonitor", on); return;
  }
}

void save_window_state(settings::Profile& p, int tab_cur_sel, bool main_window_shown,
                       bool notify_icon_present, int split_size) {
  p.write_int(kSettings, "TabCurSel", tab_cur_sel);
  write_flag(p, kSettings, "MainWindow", main_window_shown);
  write_flag(p, kSettings, "NotifyIcon", notify_icon_present);
  p.write_int("Session", "SplitSize", split_size);
}

void save_empty_log_root_folder(settings::Profile& p, const std::string& log_root_folder) {
  if (log_root_folder.empty()) logging::save_log_root_folder(p, "");
}

void save_window_placement(settings::Profile& p, bool is_zoomed, const std::array<int, 10>& position) {
  write_flag(p, kSettings, "IsZoomed", is_zoomed);
  p.write_placement("Position", position);
}

}  // namespace tw::shell
