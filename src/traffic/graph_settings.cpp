#include "traffic/graph_settings.h"

#include <algorithm>
#include <cstdio>

#include "base/format.h"

namespace tw::traffic {
namespace {

constexpr std::string_view kSection = "Traffic";

struct ColorSlotInfo {
  ColorRef def;
  const char* en;
  const char* ja;
};

constexpr std::array<ColorSlotInfo, kGraphColorCount> kColorSlots = {{
    {0x100000, "Background", "背景"},
    {0x840000, "Grid", "グリッド"},
    {0xFFFFFF, "Text", "文字"},
    {0x000000, "Background Text", "文字の背景"},
    {0x0000FF, "Graph Send", "グラフ (送信)"},
    {0x00FF00, "Graph Received", "グラフ (受信)"},
    {0x3040FF, "Average transmission line", "平均送信速度のライン"},
    {0x30FF40, "Average line received", "平均受信速度のライン"},
    {0x40C0FF, "MAX line", "MAXライン"},
    {0xA03020, "Background graph", "グラフの背景"},
    {0xB93A28, "Scale chart", "目盛り"},
    {0xD24430, "Scale chart 2", "目盛り 2"},
    {0xFFE0A0, "Report (instantaneous transmission rate)", "レポート (瞬間転送速度)"},
    {0xE0A0FF, "Report (average transmission speed)", "レポート (平均転送速度)"},
    {0x60A0FF, "Report (the amount received for each 01 minutes)", "レポート (01分ごとの転送量)"},
    {0xA0FF60, "Report (the amount received for each 05 minutes)", "レポート (05分ごとの転送量)"},
    {0x80FFFF, "Report (the amount received for each 30 minutes)", "レポート (30分ごとの転送量)"},
    {0xFFC060, "Report (the amount received for each 60 minutes)", "レポート (60分ごとの転送量)"},
    {0x8080FF, "Report (the amount received for each 24 hours)", "レポート (24時間ごとの転送量)"},
    {0xFFFFFF, "Other Text", "その他の文字"},
}};

constexpr const char* kLargeFontEn = "Lucida Console";
constexpr const char* kJapaneseFont = "ＭＳ ゴシック";

struct FlagInfo {
  std::string_view key;
  int def;
  bool only_one;  // on only when stored as 1, else on when not 0
};

// Indexed by GraphFlag.
constexpr std::array<FlagInfo, 9> kFlags = {{
    {"ViewMode", 1, false},
    {"MaxLineMode", 1, false},
    {"ReportMode", 1, false},
    {"GradientMode", 1, false},
    {"DoubleSampling", 1, false},
    {"PolylineMode", 0, true},
    {"Direction", 0, true},
    {"LargeFontStyle", 1, false},
    {"LanguageSelect", 0, true},
}};

static_assert(kFlags.size() == static_cast<std::size_t>(GraphFlag::EnglishLabels) + 1);

const FlagInfo& flag_info(GraphFlag f) { return kFlags[static_cast<std::size_t>(f)]; }

bool read_flag(const settings::Profile& p, GraphFlag f) {
  const FlagInfo& i = flag_info(f);
  const int v = p.read_int(kSection, i.key, i.def);
  return i.only_one ? v == 1 : v != 0;
}

void write_flag(settings::Profile& p, std::string_view key, bool on) { p.write_int(kSection, key, on ? 1 : 0); }
void write_flag(settings::Profile& p, GraphFlag f, bool on) { write_flag(p, flag_info(f).key, on); }

}  // namespace

// ---------------------------------------------------------------------------
// Colours

ColorRef default_graph_color(int slot) {
  if (slot < 0 || slot >= kGraphColorCount) return 0;
  return kColorSlots[static_cast<std::size_t>(slot)].def;
}

std::string_view graph_color_name(int slot, Language lang) {
  if (slot < 0 || slot >= kGraphColorCount) return {};
  const ColorSlotInfo& s = kColorSlots[static_cast<std::size_t>(slot)];
  return lang == Language::Japanese ? s.ja : s.en;
}

std::string graph_color_key(int slot) {
  char key[16];
  std::snprintf(key, sizeof key, "Color%02d", slot);
  return key;
}

ColorRef make_color(int red, int green, int blue) {
  const auto c = [](int v) { return static_cast<ColorRef>(std::clamp(v, 0, 255)); };
  return c(red) | (c(green) << 8) | (c(blue) << 16);
}

ColorRef brighten(ColorRef c, int d) {
  return make_color(color_red(c) + d, color_green(c) + d, color_blue(c) + d);
}

ColorRef mean_color(ColorRef a, ColorRef b) {
  return make_color((color_red(a) + color_red(b)) / 2, (color_green(a) + color_green(b)) / 2,
                    (color_blue(a) + color_blue(b)) / 2);
}

ColorRef halo_color(ColorRef text, ColorRef background_graph) {
  return brighten(mean_color(text, background_graph), -80);
}

ColorRef companion_color(ColorRef line, ColorRef background_graph) {
  return brighten(mean_color(line, background_graph), -64);
}


// ---------------------------------------------------------------------------
// Settings

GraphSettings default_graph_settings(Language lang) {
  GraphSettings s;
  s.font_name = lang == Language::Japanese ? kJapaneseFont : kLargeFontEn;
  s.font_name2 = kJapaneseFont;
  for (int i = 0; i < kGraphColorCount; ++i) s.colors[static_cast<std::size_t>(i)] = default_graph_color(i);
  return s;
}

GraphSettings load_graph_settings(const settings::Profile& p, Language lang) {
  GraphSettings s = default_graph_settings(lang);
  s.view_mode = read_flag(p, GraphFlag::ViewMode);
  s.max_line_mode = read_flag(p, GraphFlag::MaxLineMode);
  s.report_mode = read_flag(p, GraphFlag::ReportMode);
  s.gradient_mode = read_flag(p, GraphFlag::GradientMode);
  s.max_unit = fixed_unit(p.read_int(kSection, "MaxUnit", 3));
  s.ave_unit = fixed_unit(p.read_int(kSection, "AveUnit", 3));
  s.ext_unit = fixed_unit(p.read_int(kSection, "ExtUnit", 3));
  s.scale_fixed = p.read_int(kSection, "ScaleMode", 0) == 1;
  // A scale of 0 would divide by zero and a negative one would draw upwards.
  s.scale_val = std::clamp(p.read_int(kSection, "ScaleVal", 32), 1, kMaxScaleVal);
  s.reverse = read_flag(p, GraphFlag::Reverse);
  s.polyline = read_flag(p, GraphFlag::Polyline);
  s.max_line_time = std::clamp(p.read_int(kSection, "MaxLineTime", 10), 0, kMaxLineTimeLimit);
  s.font_size = std::clamp(p.read_int(kSection, "FontSize", 22), 0, kMaxFontPixels);
  s.font_size2 = std::clamp(p.read_int(kSection, "FontSize2", 14), 0, kMaxFontPixels);
  if (std::string n = p.read_string(kSection, "FontName", s.font_name); !n.empty()) s.font_name = std::move(n);
  if (std::string n = p.read_string(kSection, "FontName2", s.font_name2); !n.empty()) s.font_name2 = std::move(n);
  s.large_font_emphasis = read_flag(p, GraphFlag::LargeFontEmphasis);
  s.english_labels = read_flag(p, GraphFlag::EnglishLabels);
  s.view_responce = std::clamp(p.read_int(kSection, "View-Responce", 0), 0, 9);
  s.double_sampling = read_flag(p, GraphFlag::DoubleSampling);
  for (int i = 0; i < kGraphColorCount; ++i) {
    const int v = p.read_int(kSection, graph_color_key(i), static_cast<int>(default_graph_color(i)));
    s.colors[static_cast<std::size_t>(i)] = static_cast<ColorRef>(v) & 0xFFFFFF;
  }
  return s;
}

void save_graph_view(settings::Profile& p, const GraphSettings& s) {
  write_flag(p, GraphFlag::ViewMode, s.view_mode);
  write_flag(p, GraphFlag::MaxLineMode, s.max_line_mode);
  write_flag(p, GraphFlag::ReportMode, s.report_mode);
  write_flag(p, GraphFlag::GradientMode, s.gradient_mode);
  write_flag(p, GraphFlag::Reverse, s.reverse);
  write_flag(p, GraphFlag::Polyline, s.polyline);
  write_flag(p, GraphFlag::DoubleSampling, s.double_sampling);
  write_flag(p, "ScaleMode", s.scale_fixed);
  p.write_int(kSection, "ScaleVal", s.scale_val);
  p.write_int(kSection, "MaxLineTime", s.max_line_time);
  p.write_int(kSection, "MaxUnit", s.max_unit);
  p.write_int(kSection, "AveUnit", s.ave_unit);
  p.write_int(kSection, "ExtUnit", s.ext_unit);
}

void save_graph_text(settings::Profile& p, const GraphSettings& s) {
  if (!s.font_name.empty()) p.write_string(kSection, "FontName", s.font_name);
  if (!s.font_name2.empty()) p.write_string(kSection, "FontName2", s.font_name2);
  p.write_int(kSection, "FontSize", s.font_size);
  p.write_int(kSection, "FontSize2", s.font_size2);
  write_flag(p, GraphFlag::LargeFontEmphasis, s.large_font_emphasis);
  write_flag(p, GraphFlag::EnglishLabels, s.english_labels);
  p.write_int(kSection, "View-Responce", s.view_responce);
}

void save_graph_colors(settings::Profile& p, const GraphSettings& s) {
  for (int i = 0; i < kGraphColorCount; ++i) p.write_int(kSection, graph_color_key(i), static_cast<int>(s.color(i)));
}

bool toggle_graph_flag(settings::Profile& p, GraphFlag flag) {
  const bool on = !read_flag(p, flag);
  write_flag(p, flag, on);
  return on;
}

void save_graph_font_size(settings::Profile& p, int pixels) {
  p.write_int(kSection, "FontSize", std::clamp(pixels, 0, kMaxFontPixels));
}

}  // namespace tw::traffic
