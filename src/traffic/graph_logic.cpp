#include "traffic/graph_logic.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "base/format.h"

namespace tw::traffic {
namespace {

// The panel's labels are padded so that the values start in one column; the
// Japanese ones count a full-width character as two columns.
constexpr GraphLabels kLabelsEn{
    "Send MAX:",
    "Recv MAX:",
    "Send AVE:",
    "Recv AVE:",
    "Send Speed:",
    "Recv Speed:",
    "Inactivity:",
    "Please, Reset Network Interface.",
    "Automatic Reset to",
    "sec later",
    "Double Sampling: ON",
    "Double Sampling: OFF",
    "Font-Size: %dpx",
    "Capture Time           ",
    "Total Upload    (Gross)",
    "Total Download  (Gross)",
    "Average Send speed     ",
    "Average Received speed ",
    "Graph Scale            ",
    "Auto",
    "Fixed",
};

constexpr GraphLabels kLabelsJa{
    "送信MAX:",
    "受信MAX:",
    "送信平均:",
    "受信平均:",
    "送信速度:",
    "受信速度:",
    "無通信時間:",
    "ネットワークインターフェイスを再設定してください.",
    "自動リセットまで",
    "秒",
    "ダブルサンプリング: ON",
    "ダブルサンプリング: OFF",
    "フォントサイズ: %dpx",
    "計測時間               ",
    "総送信量         (累計)",
    "総受信量         (累計)",
    "平均送信速度           ",
    "平均受信速度           ",
    "グラフ縮尺             ",
    "自動",
    "固定",
};

}  // namespace

// ---------------------------------------------------------------------------
// Scale and maxima

int label_band_height(int font_size) { return std::max(2 * font_size, 10); }

int graph_area_height(int client_height, int panel_height, int font_size) {
  return std::max(0, client_height - kSpeedStripHeight - panel_height - label_band_height(font_size));
}

std::size_t max_scan_index(int client_width, int max_line_time) {
  const std::int64_t l = std::int64_t{std::max(client_width, 0)} / 2 + std::int64_t{std::max(max_line_time, 0)} * 20;
  return static_cast<std::size_t>(std::max<std::int64_t>(l, kMinScanIndex));
}

std::int64_t auto_scale(std::int64_t overall_max, int area_height) {
  const std::int64_t h = std::max(area_height, 1);
  std::int64_t s = kBaseScale;
  while (overall_max / s >= h && s <= kScaleDoublingLimit) s *= 2;
  return s;
}

std::int64_t vertical_scale(const GraphSettings& s, std::int64_t overall_max, int area_height) {
  if (s.scale_fixed) return std::int64_t{std::clamp(s.scale_val, 1, kMaxScaleVal)} * kBaseScale;
  return auto_scale(overall_max, area_height);
}

int bar_height(std::int64_t bytes_per_s, std::int64_t scale, int area_height) {
  if (bytes_per_s <= 0 || scale <= 0 || area_height <= 0) return 0;
  const std::int64_t h = bytes_per_s / scale;
  return static_cast<int>(std::min<std::int64_t>(h, area_height));
}

std::optional<int> speed_line_y(std::int64_t bytes_per_s, std::int64_t scale, int area_top, int area_height) {
  if (scale <= 0 || area_height <= 0 || bytes_per_s < 0) return std::nullopt;
  const std::int64_t h = bytes_per_s / scale;
  // Row area_top + area_height - 1 is the bottom row (height 0).
  if (h >= area_height) return std::nullopt;
  return area_top + area_height - 1 - static_cast<int>(h);
}

// ---------------------------------------------------------------------------
// Bars and grid

int visible_bar_count(int area_width) { return area_width <= 0 ? 0 : (area_width + 1) / kBarWidth; }

int bar_left(int index, int area_left, int area_width, bool reverse) {
  if (reverse) return area_left + kBarWidth * index;
  return area_left + area_width - kBarWidth * (index + 1);
}

int time_grid_spacing(int thread_responce) { return 40 / (std::clamp(thread_responce, 0, 9) + 1); }

// ---------------------------------------------------------------------------
// Wheel and middle button

int wheel_position_step(int position, int delta) {
  int p = std::clamp(position, 0, kWheelPositions - 1);
  if (delta <= -kWheelNotch) ++p;
  else if (delta >= kWheelNotch) --p;
  return std::clamp(p, 0, kWheelPositions - 1);
}

std::uint8_t report_flags_for_wheel(std::uint8_t flags, int position) {
  const int p = std::clamp(position, 0, kWheelPositions - 1);
  const auto bits = static_cast<std::uint8_t>(p == 0 ? 0 : 1u << (p - 1));
  return static_cast<std::uint8_t>((flags & kGraphHiddenFlag) | bits);
}

MiddleButtonAction middle_button_action(bool ctrl, bool shift, bool alt) {
  if (ctrl) return MiddleButtonAction::ToggleDoubleSampling;
  if (shift) return MiddleButtonAction::ToggleLargeFontStyle;
  if (alt) return MiddleButtonAction::ToggleLanguageSelect;
  return MiddleButtonAction::ToggleGraphHidden;
}

int mul_div(int a, int b, int c) {
  if (c == 0) return 0;
  const std::int64_t n = std::int64_t{a} * b;
  const std::int64_t half = (c < 0 ? -std::int64_t{c} : c) / 2;
  const bool negative = (n < 0) != (c < 0);
  const std::int64_t an = n < 0 ? -n : n;
  const std::int64_t ac = c < 0 ? -std::int64_t{c} : c;
  const std::int64_t q = (an + half) / ac;
  return static_cast<int>(negative ? -q : q);
}

std::vector<int> font_size_list(int dpi) {
  std::vector<int> list(256);
  for (int pt = 0; pt < 256; ++pt) list[static_cast<std::size_t>(pt)] = mul_div(pt, dpi, 72);
  return list;
}

int step_font_size(const std::vector<int>& list, int current, bool larger) {
  if (list.empty()) return current;
  std::size_t i = 0;
  while (i < list.size() && list[i] < current) ++i;
  if (i == list.size()) i = list.size() - 1;
  const std::int64_t limit = std::min<std::int64_t>(kFontStepMaxIndex, static_cast<std::int64_t>(list.size()) - 1);
  const std::int64_t next = std::clamp<std::int64_t>(static_cast<std::int64_t>(i) + (larger ? 1 : -1), 0, limit);
  return list[static_cast<std::size_t>(next)];
}

// ---------------------------------------------------------------------------
// Panel

int panel_target_height(bool view_mode, bool graph_hidden) {
  return view_mode && !graph_hidden ? kPanelOpenHeight : kPanelClosedHeight;
}

int next_panel_height(int current, int target, int view_responce) {
  const int step = (std::clamp(view_responce, 0, 9) + 1) * 24;
  if (current < target) return std::min(current + step, target);
  if (current > target) return std::max(current - step, target);
  return current;
}

// ---------------------------------------------------------------------------
// Texts

const GraphLabels& graph_labels(Language ui, bool english_labels) {
  return label_language(ui, english_labels) == Language::Japanese ? kLabelsJa : kLabelsEn;
}

std::string font_size_notice(const GraphLabels& l, int pixels) {
  char buf[96];
  std::snprintf(buf, sizeof buf, l.font_size, pixels);
  return buf;
}

std::string reset_warning_text(const GraphLabels& l, bool auto_reset, std::uint32_t seconds_left) {
  if (!auto_reset) return l.reset_interface;
  char buf[256];
  std::snprintf(buf, sizeof buf, "%s (%s %u %s) ", l.reset_interface, l.auto_reset_to,
                static_cast<unsigned>(seconds_left), l.sec_later);
  return buf;
}

std::string panel_average_text(std::string_view label, double kb_per_s, int unit) {
  // Value in the unit's own measure; the family steps by 1024 from there.
  static constexpr const char* kNames[2][3] = {{"KB/s", "MB/s", "GB/s"}, {"Kbps", "Mbps", "Gbps"}};
  const int u = fixed_unit(unit);
  const int family = u & 1;     // 0 bytes, 1 bits
  int step = u >> 1;            // 0 kilo, 1 mega
  double v = kb_per_s < 0 ? 0.0 : kb_per_s;
  if (family == 1) v *= 8.0;
  if (step == 1) v /= 1024.0;
  while (v > 9999.9 && step < 2) {
    v /= 1024.0;
    ++step;
  }
  char buf[256];
  std::snprintf(buf, sizeof buf, "%.*s          %8.3lf %s", static_cast<int>(label.size()), label.data(), v,
                kNames[family][step]);
  return buf;
}

std::string panel_total_text(std::string_view label, std::uint64_t capture, std::uint64_t gross) {
  // The byte-amount form shows 0.000 KB for values it takes as negative;
  // totals past 2^63 bytes do not occur.
  const std::string c = byte_amount_text(static_cast<std::int64_t>(capture));
  const std::string g = byte_amount_text(static_cast<std::int64_t>(gross));
  std::string out(label);
  out += "       ";
  out += c;
  out += " (";
  out += g;
  out += ')';
  return out;
}

std::string panel_scale_text(const GraphLabels& l, std::int64_t scale, bool fixed) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%s          %d/%" PRId64 " %s", l.graph_scale, 1, scale / kBaseScale,
                fixed ? l.scale_fixed : l.scale_auto);
  return buf;
}

std::vector<std::string> panel_transfer_lines(const TrafficFigures& f, const GraphSettings& s,
                                              std::int64_t scale, Language ui) {
  const GraphLabels& l = graph_labels(ui, s.english_labels);
  const Language lang = label_language(ui, s.english_labels);
  std::vector<std::string> lines;
  lines.reserve(6);
  lines.push_back(duration_text(l.capture_time, f.capture_ms, lang));
  lines.push_back(panel_total_text(l.total_upload, f.capture_send, f.gross_send));
  lines.push_back(panel_total_text(l.total_download, f.capture_recv, f.gross_recv));
  lines.push_back(panel_average_text(l.average_send, capture_average_kb(f.capture_send, f.capture_ms), s.ext_unit));
  lines.push_back(panel_average_text(l.average_recv, capture_average_kb(f.capture_recv, f.capture_ms), s.ext_unit));
  lines.push_back(panel_scale_text(l, scale, s.scale_fixed));
  return lines;
}

std::string_view reset_gross_question(Language ui) {
  return ui == Language::Japanese ? "総転送量(累計)をリセットします. \nよろしいですか?"
                                  : "Reset Total gross Transfer amount. \nAre you sure?";
}

// ---------------------------------------------------------------------------
// Report overlay

int report_column_width(int list, Language ui) {
  const bool en = ui != Language::Japanese;
  if (list == 0 || list == 1) return en ? 240 : 200;
  return en ? 390 : 335;
}

std::vector<ReportColumn> report_columns(std::uint8_t flags, Language ui) {
  std::vector<ReportColumn> cols;
  int x = kReportMargin;
  for (int list = 0; list < kReportListCount; ++list) {
    if (!(flags & (1u << list))) continue;
    const int w = report_column_width(list, ui);
    cols.push_back({list, x, w});
    x += w + kReportColumnGap;
  }
  return cols;
}

}  // namespace tw::traffic
