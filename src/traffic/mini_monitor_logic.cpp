#include "traffic/mini_monitor_logic.h"

#include <algorithm>
#include <cinttypes>
#include <climits>

#include "base/format.h"
#include "base/text_helpers.h"
#include "settings/shared_keys.h"
#include "traffic/graph_logic.h"

namespace tw::traffic {
using detail::sformat;
using detail::unit_words;
using detail::UnitWords;

namespace {

constexpr MiniFormat kFormats[kMiniFormatCount] = {
    {"(SPD+MAX+TOTAL)(JPN)", true, true, true, Language::Japanese},
    {"(SPD+MAX)(JPN)", true, true, false, Language::Japanese},
    {"(SPD+MAX+TOTAL)(ENG)", true, true, true, Language::English},
    {"(SPD+MAX)(ENG)", true, true, false, Language::English},
    {"(SPD+TOTAL)(JPN)", true, false, true, Language::Japanese},
    {"(SPD+TOTAL)(ENG)", true, false, true, Language::English},
    {"Hide", false, false, false, Language::English},
};
constexpr int kDefaultStyle = 2;

constexpr OpacityChoice kOpacity[] = {
    {"20%", 51, true}, {"40%", 102, true}, {"60%", 153, true}, {"80%", 204, true}, {"100%", 255, false},
};

// Byte totals are unsigned; the amount form takes a signed count.
std::int64_t as_amount(std::uint64_t v) {
  return v > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(v);
}

// The shown value of a speed in unit `unit` (0..3), as the quantity forms convert it.
double unit_value(std::int64_t bytes_per_s, int unit) {
  const double v = bytes_per_s > 0 ? static_cast<double>(bytes_per_s) : 0.0;
  switch (unit) {
    case kUnitKBps: return v / 1024.0;
    case kUnitKbps: return v * 8.0 / 1024.0;
    case kUnitMBps: return v / 1048576.0;
    default: return v * 8.0 / 1048576.0;
  }
}

}  // namespace

// ---- settings ---------------------------------------------------------------

bool message_level_valid(std::string_view text) {
  std::array<int, 5> levels{};
  return settings::parse_int_list(text, levels) == levels.size();
}

std::array<int, 5> parse_message_level(std::string_view text) {
  std::array<int, 5> levels{};
  if (settings::parse_int_list(text, levels) != levels.size()) levels.fill(0);
  return levels;
}

MiniMonitorSettings load_mini_monitor_settings(const settings::Profile& p) {
  MiniMonitorSettings s;
  const auto sec = kMiniMonitorSection;
  for (int i = 0; i < kMiniColorCount; ++i) {
    const std::string key = sformat("Color%02d", i);
    s.colors[static_cast<std::size_t>(i)] = p.read_int(sec, key, s.colors[static_cast<std::size_t>(i)]);
  }
  const int size = p.read_int(sec, "FontSize", 10);
  s.font_size = size <= 0 ? 10 : std::min(size, kMaxMiniFontSize);
  s.font_name = p.read_string(sec, "FontName", "Lucida Console");
  s.bold = p.read_int(sec, "FontWeight", 0) > 0;
  s.ave_unit = fixed_unit(p.read_int(sec, "AveUnit", 3));
  const int style = p.read_int(sec, "Style", kDefaultStyle);
  s.style = (style >= 0 && style < kMiniFormatCount) ? style : kDefaultStyle;
  s.traffic_graph = p.read_int(sec, "TrafficGraph", 1) == 1;
  s.gradient_mode = p.read_int(sec, "GradientMode", 1) == 1;
  s.message_mode = p.read_int(sec, "MessageMode", 0) == 1;
  s.message_level = parse_message_level(p.read_string(sec, "MessageLevel", "60:50:50:20:20"));
  s.alpha_blend = p.read_int(sec, "AlphaBlend", 1) == 1;
  s.alpha_level = std::clamp(p.read_int(sec, "AlphaLevel", 153), 0, 255);
  s.no_frame = p.read_int(sec, "NoFrame", 0) == 1;
  s.reverse_direction = load_graph_settings(p, Language::English).reverse;
  s.window_top_most = p.read_int(settings::kSettingsSection, settings::kWindowTopMostKey, 0) != 0;
  s.window_stretch = p.read_int(settings::kSettingsSection, settings::kWindowStretchKey, 1) != 0;
  return s;
}

void save_mini_monitor_settings(settings::Profile& p, const MiniMonitorSettings& s) {
  const auto sec = kMiniMonitorSection;
  for (int i = 0; i < kMiniColorCount; ++i) {
    p.write_int(sec, sformat("Color%02d", i), s.colors[static_cast<std::size_t>(i)]);
  }
  if (!s.font_name.empty()) p.write_string(sec, "FontName", s.font_name);
  p.write_int(sec, "FontSize", s.font_size);
  // Any positive weight reads as bold.
  p.write_int(sec, "FontWeight", s.bold ? 700 : 0);
  p.write_int(sec, "AveUnit", s.ave_unit);
  p.write_int(sec, "Style", s.style);
  p.write_int(sec, "TrafficGraph", s.traffic_graph ? 1 : 0);
  p.write_int(sec, "GradientMode", s.gradient_mode ? 1 : 0);
  p.write_int(sec, "MessageMode", s.message_mode ? 1 : 0);
  p.write_string(sec, "MessageLevel", settings::format_int_list(s.message_level));
  p.write_int(sec, "AlphaBlend", s.alpha_blend ? 1 : 0);
  p.write_int(sec, "AlphaLevel", s.alpha_level);
  save_mini_monitor_frame(p, s.no_frame);
}

void save_mini_monitor_frame(settings::Profile& p, bool no_frame) {
  p.write_int(kMiniMonitorSection, "NoFrame", no_frame ? 1 : 0);
}

// ---- formats ----------------------------------------------------------------

std::span<const MiniFormat> mini_formats() { return kFormats; }

const MiniFormat& mini_format(int style) {
  return (style >= 0 && style < kMiniFormatCount) ? kFormats[style] : kFormats[kDefaultStyle];
}

// ---- figures ------------------------------------------------------------------

std::string_view mini_send_label(Language labels) { return pick<std::string_view>(labels, "Send:", "送信:"); }
std::string_view mini_recv_label(Language labels) { return pick<std::string_view>(labels, "Recv:", "受信:"); }

std::string mini_speed_text(std::string_view label, std::int64_t bytes_per_s, int unit, bool narrow) {
  const int u = fixed_unit(unit);
  const double x = unit_value(bytes_per_s, u);
  const std::string l(label);
  switch (u) {
    case kUnitKBps: return narrow ? sformat("%s%7.2lf KB/s", l.c_str(), x) : sformat("%s%9.2lf KB/s", l.c_str(), x);
    case kUnitKbps: return narrow ? sformat("%s%7.2lf Kbps", l.c_str(), x) : sformat("%s%9.2lf Kbps", l.c_str(), x);
    case kUnitMBps: return narrow ? sformat("%s%6.3lf MB/s", l.c_str(), x) : sformat("%s%8.3lf MB/s", l.c_str(), x);
    default: return narrow ? sformat("%s%6.3lf Mbps", l.c_str(), x) : sformat("%s%8.3lf Mbps", l.c_str(), x);
  }
}

std::string mini_capture_time_text(std::uint64_t ms, Language lang) {
  const std::uint64_t s = ms / 1000;
  const auto days = static_cast<long long>(s / 86400);
  const int h = static_cast<int>((s / 3600) % 24), m = static_cast<int>((s / 60) % 60),
            sec = static_cast<int>(s % 60);
  const UnitWords& w = unit_words(lang);
  if (days != 0) return sformat("%2lld%s %2d%s %02d%s %02d%s", days, w.day, h, w.hour, m, w.minute, sec, w.second);
  return sformat("%2d%s %02d%s %02d%s", h, w.hour, m, w.minute, sec, w.second);
}

std::vector<MiniLine> mini_monitor_lines(const TrafficFigures& f, int style, int unit) {
  const MiniFormat& fmt = mini_format(style);
  const std::string_view send = mini_send_label(fmt.labels), recv = mini_recv_label(fmt.labels);
  using K = MiniLine::Kind;
  std::vector<MiniLine> lines;
  if (fmt.speeds) {
    lines.push_back({K::SendSpeed, true, {{mini_speed_text(send, f.smoothed_send, unit, true), kMiniSendSpeed}}});
    lines.push_back({K::RecvSpeed, true, {{mini_speed_text(recv, f.smoothed_recv, unit, true), kMiniRecvSpeed}}});
  }
  if (fmt.maxima) {
    lines.push_back({K::SendMax, false, {{mini_speed_text(send, f.max_send, unit, false), kMiniSendMax}}});
    lines.push_back({K::RecvMax, false, {{mini_speed_text(recv, f.max_recv, unit, false), kMiniRecvMax}}});
  }
  if (fmt.totals) {
    auto total = [](std::string_view label, std::uint64_t capture, std::uint64_t gross, int c1, int c2) {
      std::vector<MiniSegment> seg;
      seg.push_back({std::string(label) + byte_amount_text(as_amount(capture)), c1});
      seg.push_back({" (" + byte_amount_text(as_amount(gross)) + ")", c2});
      return seg;
    };
    lines.push_back({K::SendTotal, false, total(send, f.capture_send, f.gross_send, kMiniSendTotal, kMiniSendGross)});
    lines.push_back({K::RecvTotal, false, total(recv, f.capture_recv, f.gross_recv, kMiniRecvTotal, kMiniRecvGross)});
    lines.push_back({K::CaptureTime, false, {{mini_capture_time_text(f.capture_ms, fmt.labels), kMiniSendTotal}}});
  }
  return lines;
}

TrafficFigures mini_template_figures() {
  TrafficFigures f;
  constexpr std::int64_t kGigabitLink = 125'000'000;          // bytes/s
  constexpr std::uint64_t kTotal = std::uint64_t{999} << 30;  // 999 GB: "999.000 GB"
  f.smoothed_send = f.smoothed_recv = f.max_send = f.max_recv = kGigabitLink;
  f.latest_send = f.latest_recv = kGigabitLink;
  f.capture_send = f.capture_recv = f.gross_send = f.gross_recv = kTotal;
  f.capture_ms = std::uint64_t{10} * 86400 * 1000 + 23 * 3600 * 1000;  // "10day 23h 00m 00s"
  return f;
}

// ---- small graph ------------------------------------------------------------

std::uint32_t mini_graph_scale(std::span<const std::uint32_t> send, std::span<const std::uint32_t> recv,
                               std::size_t entries, int height) {
  std::uint32_t top = 0;
  for (std::size_t i = 0; i < std::min(entries, send.size()); ++i) top = std::max(top, send[i]);
  for (std::size_t i = 0; i < std::min(entries, recv.size()); ++i) top = std::max(top, recv[i]);
  const std::uint64_t h = height > 0 ? static_cast<std::uint64_t>(height) : 1;
  std::uint32_t s = 32;
  while (top / s >= h && s <= 16'777'216u) s *= 2;
  return s;
}

// ---- message alerts -------------------------------------------------------------

void MessageAlert::configure(const std::array<int, 5>& levels, int unit) {
  hold_ms_ = levels[0] > 0 ? static_cast<std::uint32_t>(std::min(levels[0], 86'400)) * 1000u : 0;
  send_.raise = levels[1];
  recv_.raise = levels[2];
  // A clear level above the raise level would end the alert as it starts.
  send_.clear = std::min(levels[3], levels[1]);
  recv_.clear = std::min(levels[4], levels[2]);
  unit_ = fixed_unit(unit);
  reset();
}

void MessageAlert::reset() {
  for (Direction* d : {&send_, &recv_}) {
    d->active = false;
    d->spent = false;
    d->since_ms = 0;
  }
}

void MessageAlert::step(Direction& d, std::int64_t speed, std::uint32_t now_ms) const {
  if (d.raise <= 0) {
    d.active = d.spent = false;
    return;
  }
  const double v = unit_value(speed, unit_);
  if (v < d.clear) {
    d.active = d.spent = false;
    return;
  }
  if (!d.active) {
    if (!d.spent && v >= d.raise) {
      d.active = true;
      d.since_ms = now_ms;
    }
    return;
  }
  if (hold_ms_ != 0 && static_cast<std::uint32_t>(now_ms - d.since_ms) >= hold_ms_) {
    d.active = false;
    d.spent = true;
  }
}

void MessageAlert::update(std::int64_t send, std::int64_t recv, std::uint32_t now_ms) {
  step(send_, send, now_ms);
  step(recv_, recv, now_ms);
}

// ---- opacity menu -------------------------------------------------------------

std::span<const OpacityChoice> opacity_choices() { return kOpacity; }

int opacity_choice_index(bool alpha_blend, int alpha_level) {
  if (!alpha_blend) return static_cast<int>(std::size(kOpacity)) - 1;
  for (std::size_t i = 0; i + 1 < std::size(kOpacity); ++i)
    if (kOpacity[i].alpha_level == alpha_level) return static_cast<int>(i);
  return -1;
}

bool write_opacity_choice(settings::Profile& profile, int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kOpacity))) return false;
  const OpacityChoice& c = kOpacity[index];
  if (!c.alpha_blend) return profile.write_int(kMiniMonitorSection, "AlphaBlend", 0);
  const bool level = profile.write_int(kMiniMonitorSection, "AlphaLevel", c.alpha_level);
  return profile.write_int(kMiniMonitorSection, "AlphaBlend", 1) && level;
}

// ---- tray-icon monitor ----------------------------------------------------------

const char* tray_font_face(int index) {
  switch (index) {
    case 1: return "Arial";
    default: return "Tahoma";  // 0 and 2 ("Tahoma (for High DPI)") share the face
  }
}

std::string tray_figure_text(std::int64_t v) {
  if (v < 0) v = 0;
  if (v < 1024) return sformat("%1.2lf", static_cast<double>(v) / 1024.0);
  if (v < 1'048'576) return sformat("%4d", static_cast<int>(v / 1024));
  if (v < 1'048'576'000) {
    const std::int64_t k = v / 1024;
    if (k < 10'000) return sformat("%4d", static_cast<int>(k));
    return sformat("%3dM", static_cast<int>(v / 1'048'576));
  }
  const std::int64_t g = std::max<std::int64_t>(v / 1'073'741'824, 1);
  return sformat("%3" PRId64 "G", g);
}

std::int64_t tray_figure_value(std::int64_t bytes_per_s, int tray_unit) {
  if (tray_unit != 1) return bytes_per_s;
  if (bytes_per_s > INT64_MAX / 8) return INT64_MAX;
  return bytes_per_s * 8;
}

int transfer_state(std::int64_t latest_send, std::int64_t latest_recv) {
  return (latest_send > 0 ? 1 : 0) | (latest_recv > 0 ? 2 : 0);
}

std::string tray_elapsed_text(std::uint64_t elapsed_ms, Language lang) {
  const std::uint64_t s = elapsed_ms / 1000;
  const UnitWords& w = unit_words(lang);
  const int m = static_cast<int>((s / 60) % 60), sec = static_cast<int>(s % 60);
  if (s < 86400) return sformat(" %2d%s %02d%s %02d%s", static_cast<int>(s / 3600), w.hour, m, w.minute, sec, w.second);
  return sformat("%2lld%s %2d%s %02d%s %02d%s", static_cast<long long>(s / 86400), w.day,
                 static_cast<int>((s / 3600) % 24), w.hour, m, w.minute, sec, w.second);
}

std::string tray_monitor_tip(Language lang, std::uint64_t elapsed_ms, std::int64_t send, std::int64_t recv,
                             int tray_unit) {
  const std::string line = pick<std::string>(lang, "----------------------", "――――――――――");
  const int unit = tray_unit == 1 ? kUnitKbps : kUnitKBps;
  auto speed = [unit](std::int64_t v) { return speed_text(static_cast<double>(std::max<std::int64_t>(v, 0)) / 1024.0, unit); };
  std::string tip = sformat("%s\n%s\n%s\n%s\n%s\n%s", " Tarnwatch", line.c_str(), tray_elapsed_text(elapsed_ms, lang).c_str(),
                            line.c_str(), (" UL : " + speed(send)).c_str(), (" DL : " + speed(recv)).c_str());
  return cut_to_chars(std::move(tip), kTrayTipMaxChars);
}

std::string tray_error_tip(Language lang) {
  return std::string("Tarnwatch\n") +
         pick<std::string>(lang, "Please, Reset Network Interface.", "ネットワークインターフェイスを再設定してください.");
}

std::string cut_to_chars(std::string text, std::size_t max_chars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // continuation byte
    if (chars == max_chars) {
      text.resize(i);
      break;
    }
    ++chars;
  }
  return text;
}

// ---- placement ----------------------------------------------------------------

std::array<int, 10> placement_list(const WindowRect& r) {
  // Flags 0, shown normally (1), no minimised or maximised position (-1).
  return {0, 1, -1, -1, -1, -1, r.left, r.top, r.right, r.bottom};
}

WindowRect placement_rect(const std::array<int, 10>& list) { return {list[6], list[7], list[8], list[9]}; }

namespace {
bool overlaps(const WindowRect& a, const WindowRect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}
}  // namespace

WindowRect mini_monitor_open_rect(const WindowRect& stored, int natural_width, int natural_height,
                                  const WindowRect& primary, std::span<const WindowRect> screens) {
  // Width and height in 64 bits: a damaged list may hold any 32-bit values.
  auto size = [](int a, int b, int natural, int limit) {
    const long long d = static_cast<long long>(b) - a;
    long long v = d > 0 ? d : natural;
    if (limit > 0) v = std::min<long long>(v, limit);
    return static_cast<int>(std::max<long long>(v, 1));
  };
  const int w = size(stored.left, stored.right, natural_width, primary.width());
  const int h = size(stored.top, stored.bottom, natural_height, primary.height());
  // Keep the corner where the right and bottom edges still fit in an int.
  const int left = std::min(stored.left, INT_MAX - w), top = std::min(stored.top, INT_MAX - h);
  WindowRect r{left, top, left + w, top + h};

  const std::span<const WindowRect> all = screens.empty() ? std::span<const WindowRect>(&primary, 1) : screens;
  const bool visible = std::any_of(all.begin(), all.end(), [&](const WindowRect& s) { return overlaps(r, s); });
  if (!visible) {
    r.left = primary.left + primary.width() / 2;
    r.top = primary.top + primary.height() / 2;
    r.right = r.left + w;
    r.bottom = r.top + h;
  }
  return r;
}

}  // namespace tw::traffic
