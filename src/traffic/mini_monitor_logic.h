#pragma once
// The Mini Monitor and the tray-icon monitor without their widgets: the
// "MiniMonitor" settings block, the display formats and the lines each one
// shows, the texts of the figures, the tray figure text and tip, the transfer
// state behind the four status icons, the opacity menu, the message alerts
// and the placement rule that brings a lost window back onto the screen.
//
// Pure functions and small value classes: no Qt, no clock, no files except
// through settings::Profile. The widgets (ui/minimonitor/) call them on the
// main thread; nothing here takes a lock.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "base/pixel_rect.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"

namespace tw::traffic {

// ---- settings ---------------------------------------------------------------

inline constexpr std::string_view kMiniMonitorSection = "MiniMonitor";
inline constexpr std::string_view kMiniMonitorPosKey = "MiniMonitorPos";  // under "Settings"
inline constexpr int kMiniColorCount = 9;

// Colour slots ("Color00".."Color08"), 0x00BBGGRR.
enum MiniColor : int {
  kMiniBackground = 0,
  kMiniSendSpeed = 1,
  kMiniRecvSpeed = 2,
  kMiniSendMax = 3,
  kMiniRecvMax = 4,
  kMiniSendTotal = 5,
  kMiniRecvTotal = 6,
  kMiniSendGross = 7,
  kMiniRecvGross = 8,
};

struct MiniMonitorSettings {
  std::array<int, kMiniColorCount> colors{0xA03020, 0x3040FF, 0x30FF40, 0x40C0FF, 0x40C0FF,
                                          0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
  int font_size = 10;               // "FontSize": small font, pixels (large = twice)
  std::string font_name = "Lucida Console";  // "FontName"
  bool bold = false;                // "FontWeight" > 0
  int ave_unit = 3;                 // "AveUnit", already taken modulo 4
  int style = 2;                    // "Style": index into the format list
  bool traffic_graph = true;        // "TrafficGraph"
  bool gradient_mode = true;        // "GradientMode": gradient background
  bool message_mode = false;        // "MessageMode": message alerts on
  std::array<int, 5> message_level{60, 50, 50, 20, 20};  // "MessageLevel"
  bool alpha_blend = true;          // "AlphaBlend"
  int alpha_level = 153;            // "AlphaLevel", 0..255
  bool no_frame = false;            // "NoFrame"
  // Keys of other sections the Mini Monitor follows.
  bool reverse_direction = false;   // "Traffic"/"Direction": newest sample at the left
  bool window_top_most = false;     // "Settings"/"WindowTopMost"
  bool window_stretch = true;       // "Settings"/"WindowStretch": snap to the edges
  bool operator==(const MiniMonitorSettings&) const = default;
};

// Reads the block. Values the window cannot use are brought into range so a
// hand-edited file never gives an invisible or gigantic window: a font size
// of 0 or less is the default 10 and more than kMaxMiniFontSize is cut to it,
// the alpha level is clamped to 0..255, the unit is taken modulo 4 and a
// style outside the format list is the default 2.
MiniMonitorSettings load_mini_monitor_settings(const settings::Profile& profile);
inline constexpr int kMaxMiniFontSize = 200;
// The options page: every key of the block ("MiniMonitorPos" and the keys of
// other sections stay). An empty face is not written.
void save_mini_monitor_settings(settings::Profile& profile, const MiniMonitorSettings& s);
// The window's frame switch, written at once from its menu.
void save_mini_monitor_frame(settings::Profile& profile, bool no_frame);

// "MessageLevel": five "%i" fields joined by ":", read as scanf reads them,
// so that whatever follows the fifth field is ignored. Text that does not
// give five fields reads as five zeros, which switches every alert off.
std::array<int, 5> parse_message_level(std::string_view text);
// Whether `text` gives five levels under that rule; an edit that does not
// would silently switch every alert off.
bool message_level_valid(std::string_view text);

// ---- formats ----------------------------------------------------------------

struct MiniFormat {
  const char* name;   // as the options page lists it
  bool speeds;        // SPD: the smoothed speeds, large font
  bool maxima;        // MAX: the maximum speeds
  bool totals;        // TOTAL: capture and gross totals and the capture time
  Language labels;    // ENG or JPN labels and unit words
};
inline constexpr int kMiniFormatCount = 7;
inline constexpr int kMiniFormatHide = 6;  // background and graph only
// The list in "Style" order.
std::span<const MiniFormat> mini_formats();
// The format for a "Style" value; out of range gives format 2.
const MiniFormat& mini_format(int style);

// ---- figures ------------------------------------------------------------------

// "Send:"/"Recv:", or "送信:"/"受信:".
std::string_view mini_send_label(Language labels);
std::string_view mini_recv_label(Language labels);

// A speed in the unit `unit` (modulo 4): "%s%9.2lf KB/s", "%s%9.2lf Kbps",
// "%s%8.3lf MB/s", "%s%8.3lf Mbps", or with `narrow` the forms "%7.2lf" and
// "%6.3lf". A negative speed shows 0.
std::string mini_speed_text(std::string_view label, std::int64_t bytes_per_s, int unit, bool narrow);

// The capture time: "%2d%s %2d%s %02d%s %02d%s" from one day on, else
// "%2d%s %02d%s %02d%s", with the unit words of `lang`.
std::string mini_capture_time_text(std::uint64_t ms, Language lang);

// One run of text in one colour slot; a line is drawn left to right.
struct MiniSegment {
  std::string text;
  int color = kMiniSendSpeed;
};
struct MiniLine {
  enum class Kind { SendSpeed, RecvSpeed, SendMax, RecvMax, SendTotal, RecvTotal, CaptureTime };
  Kind kind = Kind::SendSpeed;
  bool large = false;  // drawn in the large font
  std::vector<MiniSegment> segments;
};

// The lines of a format from top to bottom:
//   SPD   send and receive speed, large font, narrow speed forms;
//   MAX   send and receive maximum, small font, wide speed forms;
//   TOTAL per direction the capture total and, in brackets, the gross total,
//         then the capture time.
// "Hide" has no lines.
std::vector<MiniLine> mini_monitor_lines(const TrafficFigures& f, int style, int unit);

// Figures whose texts are as wide as they normally get (a busy gigabit link,
// totals in the GB range, a capture of several days); the window measures
// them for its natural size.
TrafficFigures mini_template_figures();

// ---- small graph ------------------------------------------------------------

// Bytes per second per pixel for the small graph: starts at 32 and doubles
// while the highest of the first `entries` samples of either history would
// reach `height` pixels, up to 33,554,432 (the traffic graph's rule).
std::uint32_t mini_graph_scale(std::span<const std::uint32_t> send, std::span<const std::uint32_t> recv,
                               std::size_t entries, int height);

// ---- message alerts -----------------------------------------------------------

// "MessageMode" alerts. The five "MessageLevel" numbers are
//   0: the longest time an alert is shown, in seconds (0: until it clears);
//   1, 2: the send and receive speed that raises an alert;
//   3, 4: the send and receive speed below which it clears;
// speeds in the Mini Monitor's unit. A raise level of 0 switches that
// direction off. An alert that timed out is raised again only after its
// speed has gone below the clear level.
class MessageAlert {
 public:
  void configure(const std::array<int, 5>& levels, int unit);
  // Called on every refresh with the smoothed speeds (bytes/s) and a
  // millisecond clock reading (elapsed times are taken modulo 2^32).
  void update(std::int64_t send, std::int64_t recv, std::uint32_t now_ms);
  bool send_active() const { return send_.active; }
  bool recv_active() const { return recv_.active; }
  void reset();

 private:
  struct Direction {
    double raise = 0, clear = 0;
    bool active = false;
    bool spent = false;  // timed out; waits for the speed to clear
    std::uint32_t since_ms = 0;
  };
  void step(Direction& d, std::int64_t speed, std::uint32_t now_ms) const;

  Direction send_, recv_;
  std::uint32_t hold_ms_ = 0;
  int unit_ = 3;
};

// ---- opacity menu -------------------------------------------------------------

struct OpacityChoice {
  const char* label;  // "20%" ... "100%"
  int alpha_level;    // written with "AlphaBlend" 1; unused for 100%
  bool alpha_blend;   // false for 100%: translucency off
};
std::span<const OpacityChoice> opacity_choices();
// The menu item to check for the current settings, or -1 when the level is
// not one of the menu's.
int opacity_choice_index(bool alpha_blend, int alpha_level);
// Writes the keys of menu item `index` at once: "AlphaLevel" and
// "AlphaBlend" 1 for 20..80 %, "AlphaBlend" 0 for 100 %. Returns false for a
// bad index or a refused write.
bool write_opacity_choice(settings::Profile& profile, int index);

// ---- tray-icon monitor ----------------------------------------------------------

// Section "TaskTrayIcon" "Font": "Tahoma", "Arial", "Tahoma (for High DPI)".
const char* tray_font_face(int index);

// The tray figure for one direction, at most four characters wide for the
// speeds a link normally has. `value` is bytes/s ("KB/s") or bits/s ("Kbps"):
//   below 1024                 "%1.2lf" of value / 1024      (500 -> "0.49")
//   below 1,048,576            "%4d"    of value / 1024
//   below 1,048,576,000        "%4d" of value / 1024 while below 10,000,
//                              else "%3dM" of value / 1,048,576 (10,240,000 -> "  9M")
//   otherwise                  "%3dG" of value / 1,073,741,824
// The band from 1,048,576,000 up to 1 Gi (a saturated gigabit link in Kbps)
// would read "  0G" by truncation; it shows "  1G". Negative values show 0.
std::string tray_figure_text(std::int64_t value);
// The value the figure is made from: bytes/s for unit 0, bits/s for unit 1
// (saturating).
std::int64_t tray_figure_value(std::int64_t bytes_per_s, int tray_unit);

// The four status icons: 0 idle, 1 sending, 2 receiving, 3 both, from the
// latest speeds.
int transfer_state(std::int64_t latest_send, std::int64_t latest_recv);

inline constexpr std::size_t kTrayTipMaxChars = 127;
// The elapsed capture time of the tip: " %2dh %02dm %02ds" below one day,
// "%2dday %2dh %02dm %02ds" from one day on (Japanese unit words in Japanese).
std::string tray_elapsed_text(std::uint64_t elapsed_ms, Language lang);
// The tip of the tray-icon monitor, six lines: " Tarnwatch", a separator, the
// elapsed time, the separator, " UL : <speed>" and " DL : <speed>" with the
// speeds in the fixed-unit form of `tray_unit` (0 KB/s, 1 Kbps). Cut to 127
// characters.
std::string tray_monitor_tip(Language lang, std::uint64_t elapsed_ms, std::int64_t send,
                             std::int64_t recv, int tray_unit);
// The tip while the interface changed: "Tarnwatch\nPlease, Reset Network Interface."
std::string tray_error_tip(Language lang);
// Cuts a UTF-8 text to at most `max_chars` characters (code points).
std::string cut_to_chars(std::string text, std::size_t max_chars);

// ---- placement ----------------------------------------------------------------

// A window rectangle in global pixels; right and bottom exclusive.
using WindowRect = tw::PixelRect;

// The ten-integer placement list: flags, show command, minimised x, y,
// maximised x, y, normal rectangle. The normal rectangle holds the window
// position and the size of its drawing area, so that a list read back gives
// the same window whatever frame the window manager draws around it.
std::array<int, 10> placement_list(const WindowRect& normal);
WindowRect placement_rect(const std::array<int, 10>& list);

// Where to open the Mini Monitor from a stored placement.
// - A size of 0 or less takes the natural size; a size larger than the
//   primary screen is cut to it (a damaged list never makes a huge window).
// - A window that shares no pixel with any attached screen (left on a
//   monitor that is gone, on either side) is moved so that its top-left
//   corner is at the centre of the primary screen, keeping its size. A
//   window on a second monitor that is still attached stays there.
// `screens` are the attached screens' geometries; empty means the primary
// screen alone.
WindowRect mini_monitor_open_rect(const WindowRect& stored, int natural_width, int natural_height,
                                  const WindowRect& primary, std::span<const WindowRect> screens);

}  // namespace tw::traffic
