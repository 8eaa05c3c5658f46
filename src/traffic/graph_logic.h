#pragma once
// The traffic graph's arithmetic and texts, kept apart from the widget that
// paints them: vertical scale and the span of the visible maxima, bar and
// grid geometry, the wheel and middle-button rules, the font-size steps, the
// frame-skip budget, the panel slide, the notices and the labels in both
// languages. Its settings and colours are in traffic/graph_settings.h.
//
// Pure: no Qt, no clock, no files. Speeds are bytes per second. The graph
// widget calls all of this on the UI thread; none of it keeps state shared
// between threads.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/language.h"
#include "traffic/graph_settings.h"
#include "traffic/traffic_monitor.h"

namespace tw::traffic {

// ---------------------------------------------------------------------------
// Vertical scale and maxima

inline constexpr std::int64_t kBaseScale = 32;              // bytes/s per pixel at the finest scale
inline constexpr std::int64_t kScaleDoublingLimit = 16777216;  // no doubling once s exceeds this
inline constexpr int kSpeedStripHeight = 22;                // the latest-speed line below the graph
inline constexpr int kMinScanIndex = 399;                   // the maxima look at least 400 entries back

// Height of the label band above the graph: max(2 x FontSize, 10).
int label_band_height(int font_size);
// Height of the graph area; never negative.
int graph_area_height(int client_height, int panel_height, int font_size);
// The maxima (TrafficMonitor) cover the history entries with index
// 0..max_scan_index(), where L = width / 2 + MaxLineTime x 20 and the index is
// max(L, 399).
std::size_t max_scan_index(int client_width, int max_line_time);

struct SpeedMaxima {
  std::int64_t send = 0;
  std::int64_t recv = 0;
  std::int64_t overall() const { return send > recv ? send : recv; }
};

// Automatic scale: the smallest power of two from 32 up with
// overall_max / s below the area height (at most 33,554,432). An area of no
// height counts as one pixel, so an idle graph keeps the scale at 32.
std::int64_t auto_scale(std::int64_t overall_max, int area_height);
// "ScaleMode" 1 gives ScaleVal x 32, else the automatic scale.
std::int64_t vertical_scale(const GraphSettings& s, std::int64_t overall_max, int area_height);
// v / scale pixels, clamped to 0..area_height.
int bar_height(std::int64_t bytes_per_s, std::int64_t scale, int area_height);
// The pixel row (inside an area of the given top and height) of a horizontal
// line for the speed v, or nullopt when it would fall outside the area.
std::optional<int> speed_line_y(std::int64_t bytes_per_s, std::int64_t scale, int area_top,
                                int area_height);

// ---------------------------------------------------------------------------
// Bars and grid

inline constexpr int kBarWidth = 2;  // pixels per history entry
// Number of entries that fit an area `width` pixels wide (a half bar at the
// far edge counts).
int visible_bar_count(int area_width);
// Left pixel column of entry `index` (0 = newest): entry 0 at the right edge,
// older entries to the left; `reverse` mirrors this. The column may lie one
// pixel outside the area for the last half bar: clip to the area.
int bar_left(int index, int area_left, int area_width, bool reverse);
// Distance between the vertical time lines: one line per second of sampling
// at two pixels per sample, 40 / (Thread-Responce + 1).
int time_grid_spacing(int thread_responce);
// Lines are counted from the graph's edge starting at 1; every fifth is drawn
// in "Scale chart 2".
constexpr bool time_grid_major(int line_number) { return line_number % 5 == 0; }
// Horizontal grid lines in the "Grid" colour, counted up from the bottom.
inline constexpr int kHorizontalGridSpacing = 40;

// ---------------------------------------------------------------------------
// Display flags, wheel and middle button

inline constexpr std::uint8_t kReportBitsMask = 0x7F;  // bits 0..6: report lists 0..6
inline constexpr std::uint8_t kGraphHiddenFlag = 0x80;
inline constexpr int kWheelPositions = 8;               // 0 = no report, 1..7 = list 0..6
inline constexpr int kWheelNotch = 120;

// A wheel turn of at least one notch moves the position down (towards the
// user, delta <= -120) or up (delta >= 120) by one within 0..7; smaller
// deltas leave it.
int wheel_position_step(int position, int delta);
// The report bits for a wheel position (0, 1, 2, 4 .. 64), keeping the
// hidden-graph bit of `flags`.
std::uint8_t report_flags_for_wheel(std::uint8_t flags, int position);

enum class MiddleButtonAction {
  ToggleDoubleSampling,  // with Ctrl
  ToggleLargeFontStyle,  // with Shift
  ToggleLanguageSelect,  // with Alt
  ToggleGraphHidden,     // alone
};
// Ctrl wins over Shift, Shift over Alt.
MiddleButtonAction middle_button_action(bool ctrl, bool shift, bool alt);

// Integer a x b / c rounded to nearest (halves away from zero), as the
// desktop's point-to-pixel conversion does; 0 when c is 0.
int mul_div(int a, int b, int c);
// Pixel heights of the point sizes 0..255 at `dpi` dots per inch.
std::vector<int> font_size_list(int dpi);
inline constexpr std::size_t kFontStepMaxIndex = 126;
// Ctrl+wheel: from the first entry not below `current` (or the last entry),
// one entry up or down, within entries 0..126.
int step_font_size(const std::vector<int>& list, int current, bool larger);

// ---------------------------------------------------------------------------
// Frame skip, panel slide, notices

inline constexpr int kMaxFrameSkipMs = 1000;

// A slow frame buys the timer a pause: when drawing took longer than one
// period, the following ticks are skipped until that much time has passed
// (at most one second), so a slow machine does not queue frames.
class FrameSkipBudget {
 public:
  // Called on each timer tick; true when this tick is to be skipped.
  bool skip(int period_ms) {
    if (budget_ms_ <= 0) return false;
    budget_ms_ -= period_ms;
    return true;
  }
  // Called after a drawn frame with the time it took.
  void drew(int took_ms, int period_ms) {
    if (took_ms > period_ms) budget_ms_ = took_ms < kMaxFrameSkipMs ? took_ms : kMaxFrameSkipMs;
  }
  int budget_ms() const { return budget_ms_; }
  void reset() { budget_ms_ = 0; }

 private:
  int budget_ms_ = 0;
};

inline constexpr int kPanelOpenHeight = 160;
inline constexpr int kPanelClosedHeight = 24;
// Open with "ViewMode" 1 while the graph layer is shown, else the one-line height.
int panel_target_height(bool view_mode, bool graph_hidden);
// One frame of the slide: (View-Responce + 1) x 24 pixels towards the target.
int next_panel_height(int current, int target, int view_responce);

inline constexpr std::uint32_t kTransientNoticeMs = 3000;
inline constexpr std::uint32_t kInactivityMs = 5000;

// "Double Sampling: ON/OFF" and "Font-Size: %dpx" stay for three seconds
// after the change. Times are Clock::tick_ms readings.
class TransientNotice {
 public:
  void show(std::string text, std::uint32_t now_ms) {
    text_ = std::move(text);
    since_ms_ = now_ms;
  }
  // The text while it is due, else nullptr.
  const std::string* current(std::uint32_t now_ms) const {
    if (text_.empty() || now_ms - since_ms_ >= kTransientNoticeMs) return nullptr;
    return &text_;
  }

 private:
  std::string text_;
  std::uint32_t since_ms_ = 0;
};

// True when more than five seconds have passed since the last activity.
constexpr bool inactive(std::uint32_t now_ms, std::uint32_t last_activity_ms) {
  return now_ms - last_activity_ms > kInactivityMs;
}

// ---------------------------------------------------------------------------
// Texts

struct GraphLabels {
  const char* send_max;
  const char* recv_max;
  const char* send_ave;
  const char* recv_ave;
  const char* send_speed;
  const char* recv_speed;
  const char* inactivity;
  const char* reset_interface;   // "Please, Reset Network Interface."
  const char* auto_reset_to;
  const char* sec_later;
  const char* double_sampling_on;
  const char* double_sampling_off;
  const char* font_size;         // "%d" is the pixel height
  // Panel lines (labels padded to one column width).
  const char* capture_time;
  const char* total_upload;
  const char* total_download;
  const char* average_send;
  const char* average_recv;
  const char* graph_scale;
  const char* scale_auto;
  const char* scale_fixed;
};
// English labels for the English user interface or with "LanguageSelect" 1.
const GraphLabels& graph_labels(Language ui, bool english_labels);
// The language the labels (and the duration units of the panel) are in.
constexpr Language label_language(Language ui, bool english_labels) {
  return english_labels ? Language::English : ui;
}

std::string font_size_notice(const GraphLabels& l, int pixels);
// "Please, Reset Network Interface." alone, or with the automatic reset on
// "<message> (<Automatic Reset to> <n> <sec later>) ".
std::string reset_warning_text(const GraphLabels& l, bool auto_reset, std::uint32_t seconds_left);

// Panel: "<label>          <%8.3lf> <unit>" with a capture average in KB/s
// shown in `unit` (modulo 4), stepping to the next larger unit of the family
// while the value exceeds 9999.9.
std::string panel_average_text(std::string_view label, double kb_per_s, int unit);
// "<label>       <capture> (<gross>)" in the byte-amount form.
std::string panel_total_text(std::string_view label, std::uint64_t capture, std::uint64_t gross);
// "<label>          1/<s / 32> Auto|Fixed".
std::string panel_scale_text(const GraphLabels& l, std::int64_t scale, bool fixed);
// The transfer information lines of the panel: capture time, the two totals,
// the two capture averages and the scale.
std::vector<std::string> panel_transfer_lines(const TrafficFigures& f, const GraphSettings& s,
                                              std::int64_t scale, Language ui);

// The context menu's question before the gross totals go back to 0.
std::string_view reset_gross_question(Language ui);

// ---------------------------------------------------------------------------
// Report overlay

inline constexpr int kReportMargin = 32;     // from the left, top and bottom edges
inline constexpr int kReportColumnGap = 5;

// Lists 0 and 1 are 240 pixels wide (200 in Japanese), the amount lists 390
// (335 in Japanese).
int report_column_width(int list, Language ui);
struct ReportColumn {
  int list = 0;
  int x = 0;
  int width = 0;
};
// One column per set report bit, lists 0..6 in order, from 32 pixels from the
// left with 5 pixels between columns.
std::vector<ReportColumn> report_columns(std::uint8_t flags, Language ui);

}  // namespace tw::traffic
