#pragma once
// The traffic graph's display settings (section "Traffic") and its colours:
// what the option pages edit and the graph reads and flips, with the shading
// rules of the colours. The arithmetic and texts that use them are in
// traffic/graph_logic.h.
//
// Pure: no Qt, no files (settings come through a Profile). Colours are
// 0x00BBGGRR integers, as the settings file stores them. Plain values; the
// graph and the option pages use them on the UI thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/language.h"
#include "settings/profile.h"

namespace tw::traffic {

// ---------------------------------------------------------------------------
// Colours

using ColorRef = std::uint32_t;  // 0x00BBGGRR

// The twenty colour slots "Color00".."Color19" of section "Traffic".
enum GraphColor : int {
  kColorBackground = 0,
  kColorGrid = 1,
  kColorText = 2,
  kColorBackgroundText = 3,
  kColorGraphSend = 4,
  kColorGraphRecv = 5,
  kColorAverageSend = 6,
  kColorAverageRecv = 7,
  kColorMaxLine = 8,
  kColorBackgroundGraph = 9,
  kColorScaleChart = 10,
  kColorScaleChart2 = 11,
  kColorReportFirst = 12,  // report list i uses slot 12 + i (i = 0..6)
  kColorOtherText = 19,
  kGraphColorCount = 20,
};

ColorRef default_graph_color(int slot);                       // 0 for a slot outside 0..19
std::string_view graph_color_name(int slot, Language lang);   // item name on the colour page
std::string graph_color_key(int slot);                        // "Color%02d"

constexpr int color_red(ColorRef c) { return static_cast<int>(c & 0xFF); }
constexpr int color_green(ColorRef c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int color_blue(ColorRef c) { return static_cast<int>((c >> 16) & 0xFF); }
// Channels clamped to 0..255.
ColorRef make_color(int red, int green, int blue);
// Adds `d` to each of red, green and blue, clamping each to 0..255; a
// negative `d` darkens.
ColorRef brighten(ColorRef c, int d);
// Channel-wise integer mean.
ColorRef mean_color(ColorRef a, ColorRef b);
// Halo behind label text: the mean of the text and "Background graph"
// colours, darkened by 80.
ColorRef halo_color(ColorRef text, ColorRef background_graph);
// The line drawn one pixel below each MAX or average line: the mean of the
// line and "Background graph" colours, darkened by 64.
ColorRef companion_color(ColorRef line, ColorRef background_graph);
// Bar gradients run from the bar colour (top) to "Background graph" (bottom),
// both darkened by 16.
inline constexpr int kBarShade = -16;

// ---------------------------------------------------------------------------
// Display settings

struct GraphSettings {
  bool view_mode = true;        // "ViewMode": detailed-information panel
  bool max_line_mode = true;    // "MaxLineMode": MAX lines and labels
  bool report_mode = true;      // "ReportMode": blending routine
  bool gradient_mode = true;    // "GradientMode": gradient bars and grid strokes
  int max_unit = 3;             // "MaxUnit", "AveUnit", "ExtUnit": unit codes 0..3
  int ave_unit = 3;
  int ext_unit = 3;
  bool scale_fixed = false;     // "ScaleMode" 1
  int scale_val = 32;           // "ScaleVal", 1..65536
  bool reverse = false;         // "Direction" 1: newest entry at the left edge
  bool polyline = false;        // "PolylineMode"
  int max_line_time = 10;       // "MaxLineTime", units of 20 samples
  int font_size = 22;           // "FontSize", pixels; 0 hides labels and lines
  std::string font_name;        // "FontName"
  int font_size2 = 14;          // "FontSize2", pixels
  std::string font_name2;       // "FontName2"
  bool large_font_emphasis = true;  // "LargeFontStyle"
  bool english_labels = false;      // "LanguageSelect" 1
  int view_responce = 0;            // "View-Responce", 0..9
  bool double_sampling = true;      // "DoubleSampling"
  std::array<ColorRef, kGraphColorCount> colors{};

  // (View-Responce + 1) x 50 ms.
  int redraw_period_ms() const { return (view_responce + 1) * 50; }
  ColorRef color(int slot) const { return colors[static_cast<std::size_t>(slot)]; }
  bool operator==(const GraphSettings&) const = default;
};

// Largest values a hand-edited file may put into the arithmetic; beyond them
// the scale or the label band would overflow or divide by zero.
inline constexpr int kMaxScaleVal = 65536;
inline constexpr int kMaxLineTimeLimit = 100000;
inline constexpr int kMaxFontPixels = 999;

GraphSettings default_graph_settings(Language lang);
// Reads section "Traffic" with the defaults above. Values out of range are
// brought into range: "ScaleVal" to 1..65536, "MaxLineTime" to 0..100000, font
// sizes to 0..999, "View-Responce" to 0..9, unit codes modulo 4, colours to
// 24 bits. An empty font name reads as the default face.
GraphSettings load_graph_settings(const settings::Profile& profile, Language lang);
// Section "Traffic" is edited by three option pages that save one after the
// other, each from the copy it loaded: each writes only its own keys, so that
// no page puts back what another one has just changed.
// "View 1": the display flags, the scale, the MAX period and the unit codes.
void save_graph_view(settings::Profile& profile, const GraphSettings& s);
// "View 2": faces, sizes, label style and "View-Responce". An empty face is
// not written: the graph would be left without a font.
void save_graph_text(settings::Profile& profile, const GraphSettings& s);
// "Color": the twenty colour slots.
void save_graph_colors(settings::Profile& profile, const GraphSettings& s);

// The on/off settings the graph flips by itself (context menu, middle button).
enum class GraphFlag {
  ViewMode,
  MaxLineMode,
  ReportMode,
  GradientMode,
  DoubleSampling,
  Polyline,
  Reverse,
  LargeFontEmphasis,
  EnglishLabels,
};
// Flips one flag from its stored value, read as load_graph_settings reads it,
// and writes that key alone: a flip from the graph's own, possibly older copy
// of the group would put back what an option page saved since. Returns the
// new value.
bool toggle_graph_flag(settings::Profile& profile, GraphFlag flag);
// Ctrl+wheel: "FontSize" alone, for the same reason.
void save_graph_font_size(settings::Profile& profile, int pixels);

}  // namespace tw::traffic
