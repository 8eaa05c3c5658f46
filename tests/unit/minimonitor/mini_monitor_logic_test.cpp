// The Mini Monitor and tray-icon monitor logic: settings with damaged values,
// the formats and their lines, the figure texts, the tray figure and tip, the
// alerts, the opacity menu and where a stored window opens.
#include "traffic/mini_monitor_logic.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "platform/fake/fake_file_store.h"

namespace tw::traffic {
namespace {

constexpr const char* kPath = "/data/tarnix_me@box.ini";

class MiniSettingsTest : public ::testing::Test {
 protected:
  void set(const std::string& ini) { files.files[kPath] = ini; }
  platform::FakeFileStore files;
  settings::Profile profile{files, kPath};
};

TEST_F(MiniSettingsTest, StoredValuesAndOtherSections) {
  set("[MiniMonitor]\nColor00=255\nColor08=16711680\nFontSize=14\nFontName=DejaVu Sans Mono\n"
      "FontWeight=700\nAveUnit=0\nStyle=6\nTrafficGraph=0\nGradientMode=0\nMessageMode=1\n"
      "MessageLevel=0x10:010:3:4:5\nAlphaBlend=0\nAlphaLevel=204\nNoFrame=1\n"
      "[Traffic]\nDirection=1\n[Settings]\nWindowTopMost=1\nWindowStretch=0\n");
  const MiniMonitorSettings s = load_mini_monitor_settings(profile);
  EXPECT_EQ(s.colors[0], 255);
  EXPECT_EQ(s.colors[8], 0xFF0000);
  EXPECT_EQ(s.font_size, 14);
  EXPECT_EQ(s.font_name, "DejaVu Sans Mono");
  EXPECT_TRUE(s.bold);
  EXPECT_EQ(s.ave_unit, 0);
  EXPECT_EQ(s.style, kMiniFormatHide);
  EXPECT_FALSE(s.traffic_graph);
  EXPECT_FALSE(s.gradient_mode);
  EXPECT_TRUE(s.message_mode);
  EXPECT_EQ(s.message_level, (std::array<int, 5>{16, 8, 3, 4, 5}));  // "%i": hex and octal
  EXPECT_FALSE(s.alpha_blend);
  EXPECT_EQ(s.alpha_level, 204);
  EXPECT_TRUE(s.no_frame);
  EXPECT_TRUE(s.reverse_direction);
  EXPECT_TRUE(s.window_top_most);
  EXPECT_FALSE(s.window_stretch);
}

TEST_F(MiniSettingsTest, HandEditedValuesAreBroughtIntoRange) {
  set("[MiniMonitor]\nFontSize=0\nAveUnit=5\nStyle=7\nAlphaLevel=300\n");
  MiniMonitorSettings s = load_mini_monitor_settings(profile);
  EXPECT_EQ(s.font_size, 10);
  EXPECT_EQ(s.ave_unit, 1);
  EXPECT_EQ(s.style, 2);
  EXPECT_EQ(s.alpha_level, 255);

  set("[MiniMonitor]\nFontSize=100000\nAveUnit=-1\nStyle=-1\nAlphaLevel=-20\n");
  s = load_mini_monitor_settings(profile);
  EXPECT_EQ(s.font_size, kMaxMiniFontSize);
  EXPECT_EQ(s.ave_unit, 3);
  EXPECT_EQ(s.style, 2);
  EXPECT_EQ(s.alpha_level, 0);
}

TEST(MessageLevel, ExactlyFiveFieldsOrAllZero) {
  EXPECT_EQ(parse_message_level("60:50:50:20:20"), (std::array<int, 5>{60, 50, 50, 20, 20}));
  EXPECT_EQ(parse_message_level("1:2:3:4"), (std::array<int, 5>{}));
  EXPECT_EQ(parse_message_level("1:2:x:4:5"), (std::array<int, 5>{}));
  EXPECT_EQ(parse_message_level(""), (std::array<int, 5>{}));
  EXPECT_EQ(parse_message_level("1:2:3:4:"), (std::array<int, 5>{}));
  // Read as scanf reads five fields: what follows the fifth is not looked at.
  EXPECT_EQ(parse_message_level("1:2:3:4:5:6"), (std::array<int, 5>{1, 2, 3, 4, 5}));
  EXPECT_EQ(parse_message_level(" -1: 2:3:4:5"), (std::array<int, 5>{-1, 2, 3, 4, 5}));
}

TEST(MiniFormats, ListOrderAndWhatEachShows) {
  ASSERT_EQ(mini_formats().size(), 7u);
  const TrafficFigures fig = mini_template_figures();
  auto kinds = [&](int style) {
    std::vector<MiniLine::Kind> k;
    for (const MiniLine& l : mini_monitor_lines(fig, style, 3)) k.push_back(l.kind);
    return k;
  };
  using K = MiniLine::Kind;
  const std::vector<K> all{K::SendSpeed, K::RecvSpeed, K::SendMax,    K::RecvMax,
                           K::SendTotal, K::RecvTotal, K::CaptureTime};
  const std::vector<K> spd_max{K::SendSpeed, K::RecvSpeed, K::SendMax, K::RecvMax};
  const std::vector<K> spd_total{K::SendSpeed, K::RecvSpeed, K::SendTotal, K::RecvTotal, K::CaptureTime};
  EXPECT_EQ(kinds(0), all);
  EXPECT_EQ(kinds(1), spd_max);
  EXPECT_EQ(kinds(2), all);
  EXPECT_EQ(kinds(3), spd_max);
  EXPECT_EQ(kinds(4), spd_total);
  EXPECT_EQ(kinds(5), spd_total);
  EXPECT_TRUE(kinds(6).empty());
  EXPECT_EQ(kinds(42), all);  // out of range: the default format
}

TEST(MiniFigures, SpeedFormsInEveryUnit) {
  EXPECT_EQ(mini_speed_text("Send:", 1536, 0, false), "Send:     1.50 KB/s");
  EXPECT_EQ(mini_speed_text("Send:", 1536, 0, true), "Send:   1.50 KB/s");
  EXPECT_EQ(mini_speed_text("Send:", 1536, 1, false), "Send:    12.00 Kbps");
  EXPECT_EQ(mini_speed_text("Send:", 1536, 1, true), "Send:  12.00 Kbps");
  EXPECT_EQ(mini_speed_text("Recv:", 1572864, 2, false), "Recv:   1.500 MB/s");
  EXPECT_EQ(mini_speed_text("Recv:", 1572864, 2, true), "Recv: 1.500 MB/s");
  EXPECT_EQ(mini_speed_text("Recv:", 1572864, 3, false), "Recv:  12.000 Mbps");
  EXPECT_EQ(mini_speed_text("Recv:", 1572864, 3, true), "Recv:12.000 Mbps");
  EXPECT_EQ(mini_speed_text("Recv:", 1572864, 7, true), "Recv:12.000 Mbps");  // modulo 4
  EXPECT_EQ(mini_speed_text("Send:", -5000, 3, true), "Send: 0.000 Mbps");
}

TEST(MiniFigures, CaptureTimeWithAndWithoutDays) {
  EXPECT_EQ(mini_capture_time_text(3'723'000, Language::English), " 1h 02m 03s");
  EXPECT_EQ(mini_capture_time_text(90'061'000, Language::English), " 1day  1h 01m 01s");
  EXPECT_EQ(mini_capture_time_text(3'723'000, Language::Japanese), " 1時間 02分 03秒");
  EXPECT_EQ(mini_capture_time_text(90'061'000, Language::Japanese), " 1日  1時間 01分 01秒");
  EXPECT_EQ(mini_capture_time_text(86'399'999, Language::English), "23h 59m 59s");
}

TEST(MiniFigures, LinesCarryLabelsColoursAndFonts) {
  TrafficFigures f;
  f.smoothed_send = 1536;
  f.smoothed_recv = 3072;
  f.max_send = 1572864;
  f.max_recv = 0;
  f.capture_send = 1536;
  f.capture_recv = 0;
  f.gross_send = std::uint64_t{1} << 30;
  f.gross_recv = std::uint64_t{1} << 40;
  f.capture_ms = 3'723'000;

  const auto eng = mini_monitor_lines(f, 2, 0);
  ASSERT_EQ(eng.size(), 7u);
  EXPECT_TRUE(eng[0].large);
  EXPECT_TRUE(eng[1].large);
  for (std::size_t i = 2; i < eng.size(); ++i) EXPECT_FALSE(eng[i].large);
  EXPECT_EQ(eng[0].segments[0].text, "Send:   1.50 KB/s");
  EXPECT_EQ(eng[0].segments[0].color, kMiniSendSpeed);
  EXPECT_EQ(eng[1].segments[0].text, "Recv:   3.00 KB/s");
  EXPECT_EQ(eng[1].segments[0].color, kMiniRecvSpeed);
  EXPECT_EQ(eng[2].segments[0].text, "Send:  1536.00 KB/s");
  EXPECT_EQ(eng[2].segments[0].color, kMiniSendMax);
  EXPECT_EQ(eng[3].segments[0].color, kMiniRecvMax);
  ASSERT_EQ(eng[4].segments.size(), 2u);
  EXPECT_EQ(eng[4].segments[0].text, "Send:   1.500 KB");
  EXPECT_EQ(eng[4].segments[0].color, kMiniSendTotal);
  EXPECT_EQ(eng[4].segments[1].text, " (   1.000 GB)");
  EXPECT_EQ(eng[4].segments[1].color, kMiniSendGross);
  EXPECT_EQ(eng[5].segments[0].text, "Recv:   0.000 KB");
  EXPECT_EQ(eng[5].segments[0].color, kMiniRecvTotal);
  EXPECT_EQ(eng[5].segments[1].text, " (   1.000 TB)");
  EXPECT_EQ(eng[5].segments[1].color, kMiniRecvGross);
  EXPECT_EQ(eng[6].segments[0].text, " 1h 02m 03s");

  const auto jpn = mini_monitor_lines(f, 0, 0);
  EXPECT_EQ(jpn[0].segments[0].text, "送信:   1.50 KB/s");
  EXPECT_EQ(jpn[1].segments[0].text, "受信:   3.00 KB/s");
  EXPECT_EQ(jpn[5].segments[0].text, "受信:   0.000 KB");
  EXPECT_EQ(jpn[6].segments[0].text, " 1時間 02分 03秒");
}

TEST(MiniGraph, ScaleDoublesUntilThePeakFits) {
  EXPECT_EQ(mini_graph_scale({}, {}, 200, 100), 32u);
  const std::vector<std::uint32_t> send{6399, 0}, recv{6400, 0};
  EXPECT_EQ(mini_graph_scale(send, {}, 2, 200), 32u);   // 6399/32 = 199 pixels
  EXPECT_EQ(mini_graph_scale(send, recv, 2, 200), 64u); // 6400/32 would reach 200
  // A 100 MB/s burst on a 200-pixel graph.
  const std::vector<std::uint32_t> burst{1, 104'857'600};
  EXPECT_EQ(mini_graph_scale(burst, {}, 2, 200), 1'048'576u);
  EXPECT_EQ(mini_graph_scale(burst, {}, 1, 200), 32u);  // the burst is not on screen
  const std::vector<std::uint32_t> top{UINT32_MAX};
  EXPECT_EQ(mini_graph_scale(top, top, 1, 0), 33'554'432u);
}

TEST(MessageAlertTest, RaisesClearsAndTimesOutPerDirection) {
  MessageAlert a;
  a.configure({60, 50, 50, 20, 20}, 0);  // KB/s
  constexpr std::int64_t kb = 1024;
  a.update(49 * kb, 0, 0);
  EXPECT_FALSE(a.send_active());
  a.update(50 * kb, 0, 100);
  EXPECT_TRUE(a.send_active());
  EXPECT_FALSE(a.recv_active());
  a.update(30 * kb, 0, 200);  // between the levels: stays
  EXPECT_TRUE(a.send_active());
  a.update(10 * kb, 60 * kb, 300);
  EXPECT_FALSE(a.send_active());
  EXPECT_TRUE(a.recv_active());

  // Shown for at most 60 s, then not again until the speed has cleared.
  a.update(0, 60 * kb, 60'299);
  EXPECT_TRUE(a.recv_active());
  a.update(0, 60 * kb, 60'300);
  EXPECT_FALSE(a.recv_active());
  a.update(0, 90 * kb, 90'000);
  EXPECT_FALSE(a.recv_active());
  a.update(0, 19 * kb, 90'100);
  a.update(0, 90 * kb, 90'200);
  EXPECT_TRUE(a.recv_active());
}

TEST(MessageAlertTest, ClockWrapZeroLevelsAndUnits) {
  MessageAlert a;
  a.configure({1, 50, 50, 20, 20}, 0);
  a.update(100 * 1024, 0, 0xFFFFFE00u);
  EXPECT_TRUE(a.send_active());
  a.update(100 * 1024, 0, 0x00000100u);  // 768 ms later, across the wrap
  EXPECT_TRUE(a.send_active());
  a.update(100 * 1024, 0, 0x00000200u);  // 1024 ms
  EXPECT_FALSE(a.send_active());

  // A damaged "MessageLevel" reads as zeros: no alerts at all.
  a.configure(parse_message_level("1:2:3"), 0);
  a.update(INT64_MAX, INT64_MAX, 0);
  EXPECT_FALSE(a.send_active());
  EXPECT_FALSE(a.recv_active());

  // Levels are in the monitor's unit: 50 Mbps.
  a.configure({0, 50, 50, 20, 20}, 3);
  a.update(6'553'600, 6'553'599, 0);  // 50 Mbps exactly, and just below
  EXPECT_TRUE(a.send_active());
  EXPECT_FALSE(a.recv_active());
  a.update(6'553'600, 0, 0x7FFFFFFF);  // no time limit with field 0 = 0
  EXPECT_TRUE(a.send_active());
}

TEST_F(MiniSettingsTest, OpacityMenuWritesItsKeys) {
  const auto c = opacity_choices();
  ASSERT_EQ(c.size(), 5u);
  const int levels[] = {51, 102, 153, 204};
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(write_opacity_choice(profile, i));
    EXPECT_EQ(profile.read_int("MiniMonitor", "AlphaLevel", -1), levels[i]);
    EXPECT_EQ(profile.read_int("MiniMonitor", "AlphaBlend", -1), 1);
    EXPECT_EQ(opacity_choice_index(true, levels[i]), i);
  }
  ASSERT_TRUE(write_opacity_choice(profile, 4));
  EXPECT_EQ(profile.read_int("MiniMonitor", "AlphaBlend", -1), 0);
  EXPECT_EQ(profile.read_int("MiniMonitor", "AlphaLevel", -1), 204);  // the level is kept
  EXPECT_EQ(opacity_choice_index(false, 204), 4);
  EXPECT_EQ(opacity_choice_index(true, 150), -1);
  EXPECT_FALSE(write_opacity_choice(profile, 5));
  EXPECT_FALSE(write_opacity_choice(profile, -1));
  files.read_only = true;
  EXPECT_FALSE(write_opacity_choice(profile, 0));
}

TEST(TrayFigure, TextForEachRange) {
  EXPECT_EQ(tray_figure_text(500), "0.49");
  EXPECT_EQ(tray_figure_text(0), "0.00");
  EXPECT_EQ(tray_figure_text(-1), "0.00");
  EXPECT_EQ(tray_figure_text(1023), "1.00");
  EXPECT_EQ(tray_figure_text(1024), "   1");
  EXPECT_EQ(tray_figure_text(1'048'575), "1023");
  EXPECT_EQ(tray_figure_text(1'048'576), "1024");
  EXPECT_EQ(tray_figure_text(10'239'999), "9999");
  EXPECT_EQ(tray_figure_text(10'240'000), "  9M");
  EXPECT_EQ(tray_figure_text(1'048'575'999), "999M");
  EXPECT_EQ(tray_figure_text(1'048'576'000), "  1G");  // not "  0G"
  EXPECT_EQ(tray_figure_text(1'073'741'823), "  1G");
  EXPECT_EQ(tray_figure_text(std::int64_t{5} << 30), "  5G");
  EXPECT_EQ(tray_figure_text(INT64_MAX), "8589934591G");

  EXPECT_EQ(tray_figure_value(1000, 0), 1000);
  EXPECT_EQ(tray_figure_value(1000, 1), 8000);
  EXPECT_EQ(tray_figure_value(INT64_MAX / 4, 1), INT64_MAX);
  // A saturated gigabit link in Kbps.
  EXPECT_EQ(tray_figure_text(tray_figure_value(131'072'000, 1)), "  1G");
  EXPECT_EQ(tray_figure_text(tray_figure_value(125'000'000, 1)), "953M");
}

TEST(TrayFigure, TransferStateFromLatestSpeeds) {
  EXPECT_EQ(transfer_state(0, 0), 0);
  EXPECT_EQ(transfer_state(1, 0), 1);
  EXPECT_EQ(transfer_state(0, 1), 2);
  EXPECT_EQ(transfer_state(5, 7), 3);
  EXPECT_EQ(transfer_state(-3, -3), 0);
}

TEST(TrayTip, SixLinesInBothLanguages) {
  EXPECT_EQ(tray_monitor_tip(Language::English, 3'723'000, 1536, 0, 0),
            " Tarnwatch\n----------------------\n  1h 02m 03s\n----------------------\n"
            " UL :     1.50 KB/s\n DL :     0.00 KB/s");
  EXPECT_EQ(tray_monitor_tip(Language::English, 90'061'000, 1536, 3072, 1),
            " Tarnwatch\n----------------------\n 1day  1h 01m 01s\n----------------------\n"
            " UL :     12.0 Kbps\n DL :     24.0 Kbps");
  EXPECT_EQ(tray_monitor_tip(Language::Japanese, 59'000, 0, 0, 0),
            " Tarnwatch\n――――――――――\n  0時間 00分 59秒\n――――――――――\n"
            " UL :     0.00 KB/s\n DL :     0.00 KB/s");
  EXPECT_EQ(tray_elapsed_text(86'399'000, Language::English), " 23h 59m 59s");
  EXPECT_EQ(tray_elapsed_text(86'400'000, Language::Japanese), " 1日  0時間 00分 00秒");
  EXPECT_EQ(tray_error_tip(Language::English), "Tarnwatch\nPlease, Reset Network Interface.");
  EXPECT_EQ(tray_error_tip(Language::Japanese), "Tarnwatch\nネットワークインターフェイスを再設定してください.");
}

TEST(TrayTip, CutTo127CharactersOnCharacterBoundaries) {
  EXPECT_EQ(cut_to_chars("日本語", 2), "日本");
  EXPECT_EQ(cut_to_chars("abc", 3), "abc");
  EXPECT_EQ(cut_to_chars("abc", 0), "");
  auto chars = [](const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
  };
  EXPECT_EQ(chars(tray_monitor_tip(Language::English, UINT64_MAX, INT64_MAX, INT64_MAX, 1)), kTrayTipMaxChars);
  EXPECT_EQ(cut_to_chars("――――", 3), "―――");
  std::string long_text(40, 'x');
  for (int i = 0; i < 100; ++i) long_text += "―";
  const std::string cut = cut_to_chars(long_text, 127);
  EXPECT_EQ(chars(cut), 127u);
  EXPECT_EQ(cut.size(), 40u + 87u * 3u);  // whole three-byte characters only
}

// ---- placement ----------------------------------------------------------------

constexpr WindowRect kPrimary{0, 0, 1920, 1080};

TEST(MiniPlacement, ListRoundTripsThroughTheSettingsFile) {
  platform::FakeFileStore files;
  settings::Profile profile{files, kPath};
  const WindowRect r{100, 200, 300, 260};
  ASSERT_TRUE(profile.write_placement(kMiniMonitorPosKey, placement_list(r)));
  EXPECT_EQ(profile.read_string("Settings", "MiniMonitorPos", ""), "0:1:-1:-1:-1:-1:100:200:300:260");
  std::array<int, 10> back{};
  ASSERT_TRUE(profile.read_placement(kMiniMonitorPosKey, back));
  EXPECT_EQ(placement_rect(back), r);
}

TEST(MiniPlacement, WindowOffEveryScreenComesBackToTheCentre) {
  const WindowRect centre{960, 540, 1160, 640};
  // Beyond the right or the bottom edge (a monitor that is gone).
  EXPECT_EQ(mini_monitor_open_rect({2000, 100, 2200, 200}, 50, 50, kPrimary, {}), centre);
  EXPECT_EQ(mini_monitor_open_rect({1920, 100, 2120, 200}, 50, 50, kPrimary, {}), centre);
  EXPECT_EQ(mini_monitor_open_rect({100, 1080, 300, 1180}, 50, 50, kPrimary, {}), centre);
  // Left of or above the screen.
  EXPECT_EQ(mini_monitor_open_rect({-400, 100, -200, 200}, 50, 50, kPrimary, {}), centre);
  EXPECT_EQ(mini_monitor_open_rect({100, -300, 300, -200}, 50, 50, kPrimary, {}), centre);
  // Still visible, even if only in part (the edge snap leaves windows 8 px out).
  EXPECT_EQ(mini_monitor_open_rect({1919, 100, 2119, 200}, 50, 50, kPrimary, {}),
            (WindowRect{1919, 100, 2119, 200}));
  EXPECT_EQ(mini_monitor_open_rect({-8, -8, 192, 92}, 50, 50, kPrimary, {}), (WindowRect{-8, -8, 192, 92}));
}

TEST(MiniPlacement, AttachedSecondMonitorKeepsTheWindow) {
  const std::vector<WindowRect> screens{kPrimary, {1920, 0, 3840, 1080}};
  EXPECT_EQ(mini_monitor_open_rect({2000, 100, 2200, 200}, 50, 50, kPrimary, screens),
            (WindowRect{2000, 100, 2200, 200}));
  EXPECT_EQ(mini_monitor_open_rect({4000, 100, 4200, 200}, 50, 50, kPrimary, screens),
            (WindowRect{960, 540, 1160, 640}));
  // The primary need not be at the origin.
  const WindowRect right_primary{1920, 0, 3840, 1080};
  const std::vector<WindowRect> one{right_primary};
  EXPECT_EQ(mini_monitor_open_rect({100, 100, 300, 200}, 50, 50, right_primary, one),
            (WindowRect{2880, 540, 3080, 640}));
}

TEST(MiniPlacement, DamagedSizesAreRepaired) {
  EXPECT_EQ(mini_monitor_open_rect({100, 100, 100, 50}, 150, 60, kPrimary, {}), (WindowRect{100, 100, 250, 160}));
  EXPECT_EQ(mini_monitor_open_rect({0, 0, 100000, 100000}, 150, 60, kPrimary, {}), (WindowRect{0, 0, 1920, 1080}));
  const WindowRect r = mini_monitor_open_rect({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, 150, 60, kPrimary, {});
  EXPECT_EQ(r, (WindowRect{960, 540, 2880, 1620}));
  const WindowRect far = mini_monitor_open_rect({INT_MAX, INT_MAX, INT_MAX, INT_MAX}, 150, 60, kPrimary, {});
  EXPECT_EQ(far, (WindowRect{960, 540, 1110, 600}));
}

}  // namespace
}  // namespace tw::traffic
