#include "traffic/graph_logic.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/fake/fake_file_store.h"
#include "settings/profile.h"

namespace tw::traffic {
namespace {

struct ProfileRig {
  platform::FakeFileStore files;
  settings::Profile profile{files, "/data/tarnix_graph@host.ini"};
};

TEST(GraphScale, AutomaticAndFixedScale) {
  // No traffic: the finest scale.
  EXPECT_EQ(auto_scale(0, 200), 32);
  // 100 MB/s on a 200-pixel graph: 524,288 would draw it exactly 200 pixels
  // high, which is not below the height, so the next power of two.
  EXPECT_EQ(auto_scale(100 * 1048576LL, 200), 1048576);
  EXPECT_LT(100 * 1048576LL / 1048576, 200);
  // Doubling stops past 16,777,216.
  EXPECT_EQ(auto_scale(INT64_C(1) << 40, 10), 33554432);
  // A graph squeezed to nothing keeps 32 while idle instead of running to the top.
  EXPECT_EQ(auto_scale(0, 0), 32);
  EXPECT_EQ(auto_scale(0, -50), 32);

  GraphSettings s = default_graph_settings(Language::English);
  s.scale_fixed = true;
  s.scale_val = 1;
  EXPECT_EQ(vertical_scale(s, 100 * 1048576LL, 200), 32);
  s.scale_val = 65536;
  EXPECT_EQ(vertical_scale(s, 0, 200), 65536LL * 32);
  s.scale_fixed = false;
  EXPECT_EQ(vertical_scale(s, 100 * 1048576LL, 200), 1048576);
}

TEST(GraphScale, BarsAndLinesStayInsideTheArea) {
  EXPECT_EQ(bar_height(32 * 10, 32, 200), 10);
  EXPECT_EQ(bar_height(31, 32, 200), 0);
  EXPECT_EQ(bar_height(INT64_C(1) << 40, 32, 200), 200);  // fixed scale, huge burst
  EXPECT_EQ(bar_height(-5, 32, 200), 0);
  EXPECT_EQ(bar_height(1000, 32, 0), 0);

  EXPECT_EQ(speed_line_y(0, 32, 44, 200), 44 + 199);  // bottom row
  EXPECT_EQ(speed_line_y(199 * 32, 32, 44, 200), 44);  // top row
  EXPECT_EQ(speed_line_y(200 * 32, 32, 44, 200), std::nullopt);
  EXPECT_EQ(speed_line_y(10, 32, 44, 0), std::nullopt);
}

TEST(GraphScale, LayoutHeights) {
  // 440 high, open panel, 22-pixel font: 440 - 22 - 160 - 44.
  EXPECT_EQ(graph_area_height(440, kPanelOpenHeight, 22), 214);
  EXPECT_EQ(label_band_height(0), 10);
  EXPECT_EQ(label_band_height(3), 10);
  EXPECT_EQ(graph_area_height(440, 24, 0), 440 - 22 - 24 - 10);
  EXPECT_EQ(graph_area_height(100, kPanelOpenHeight, 22), 0);
}

TEST(GraphScale, MaximaScanIsBounded) {
  // Width 200 and MaxLineTime 10: L = 100 + 200 = 300, below 399.
  EXPECT_EQ(max_scan_index(200, 10), 399u);
  EXPECT_EQ(max_scan_index(803, 10), 401u + 200u);
  EXPECT_EQ(max_scan_index(803, 0), 401u);
  EXPECT_EQ(max_scan_index(-5, -5), 399u);
}

TEST(GraphGeometry, BarsAndTimeGrid) {
  // Entry 0 fills the two rightmost columns; reversed, the two leftmost.
  EXPECT_EQ(bar_left(0, 0, 800, false), 798);
  EXPECT_EQ(bar_left(1, 0, 800, false), 796);
  EXPECT_EQ(bar_left(0, 0, 800, true), 0);
  EXPECT_EQ(bar_left(399, 0, 800, true), 798);
  EXPECT_EQ(visible_bar_count(800), 400);
  EXPECT_EQ(visible_bar_count(803), 402);  // the last bar is half visible
  EXPECT_EQ(bar_left(401, 0, 803, false), -1);
  EXPECT_EQ(visible_bar_count(0), 0);

  EXPECT_EQ(time_grid_spacing(0), 40);
  EXPECT_EQ(time_grid_spacing(1), 20);
  EXPECT_EQ(time_grid_spacing(9), 4);
  EXPECT_EQ(time_grid_spacing(-3), 40);
  EXPECT_FALSE(time_grid_major(4));
  EXPECT_TRUE(time_grid_major(5));
}

TEST(GraphColors, ShadingClampsEachChannel) {
  EXPECT_EQ(brighten(0x0080FF, 16), 0x1090FFu);
  EXPECT_EQ(brighten(0x0080FF, -16), 0x0070EFu);
  EXPECT_EQ(brighten(0xFFFFFF, 64), 0xFFFFFFu);
  EXPECT_EQ(brighten(0x102030, -64), 0x000000u);
  EXPECT_EQ(mean_color(0xFFFFFF, 0x000001), 0x7F7F80u);
  // White text on the default graph background: mean (0xCF, 0x97, 0x8F), less 80.
  EXPECT_EQ(halo_color(0xFFFFFF, 0xA03020), 0x7F473Fu);
  // MAX line 0x40C0FF on it: mean (0x8F, 0x78, 0x70), less 64.
  EXPECT_EQ(companion_color(0x40C0FF, 0xA03020), 0x30384Fu);
  EXPECT_EQ(make_color(300, -4, 128), 0x8000FFu);
}

TEST(GraphInput, WheelChoosesOneReportAndKeepsTheHiddenFlag) {
  EXPECT_EQ(wheel_position_step(0, -120), 1);
  EXPECT_EQ(wheel_position_step(1, 240), 0);
  EXPECT_EQ(wheel_position_step(0, 120), 0);
  EXPECT_EQ(wheel_position_step(7, -120), 7);
  EXPECT_EQ(wheel_position_step(3, 119), 3);   // less than a notch
  EXPECT_EQ(wheel_position_step(3, -119), 3);

  EXPECT_EQ(report_flags_for_wheel(0x00, 0), 0x00);
  EXPECT_EQ(report_flags_for_wheel(0x00, 1), 0x01);
  EXPECT_EQ(report_flags_for_wheel(0x00, 7), 0x40);
  // A report chosen with the wheel keeps the graph hidden, and replaces the
  // reports chosen from the menu.
  EXPECT_EQ(report_flags_for_wheel(0x80 | 0x05, 3), 0x84);
  EXPECT_EQ(report_flags_for_wheel(0x80 | 0x05, 0), 0x80);

  EXPECT_EQ(middle_button_action(false, false, false), MiddleButtonAction::ToggleGraphHidden);
  EXPECT_EQ(middle_button_action(true, true, true), MiddleButtonAction::ToggleDoubleSampling);
  EXPECT_EQ(middle_button_action(false, true, true), MiddleButtonAction::ToggleLargeFontStyle);
  EXPECT_EQ(middle_button_action(false, false, true), MiddleButtonAction::ToggleLanguageSelect);
}

TEST(GraphInput, FontSizeSteps) {
  EXPECT_EQ(mul_div(17, 96, 72), 23);  // 22.67
  EXPECT_EQ(mul_div(3, 96, 72), 4);
  EXPECT_EQ(mul_div(1, 3, 2), 2);      // halves round up
  EXPECT_EQ(mul_div(-1, 3, 2), -2);
  EXPECT_EQ(mul_div(5, 5, 0), 0);

  const std::vector<int> list = font_size_list(96);
  ASSERT_EQ(list.size(), 256u);
  EXPECT_EQ(list[16], 21);
  EXPECT_EQ(list[18], 24);
  // 22 is between entries: the first entry not below it is 23 (pt 17).
  EXPECT_EQ(step_font_size(list, 22, true), 24);
  EXPECT_EQ(step_font_size(list, 22, false), 21);
  EXPECT_EQ(step_font_size(list, 0, false), 0);
  EXPECT_EQ(step_font_size(list, list[126], true), list[126]);
  // A size beyond the list (hand-edited) comes back to the largest step.
  EXPECT_EQ(step_font_size(list, 999, true), list[126]);
  EXPECT_EQ(step_font_size({}, 22, true), 22);
}

TEST(GraphTiming, FrameSkipBudget) {
  FrameSkipBudget b;
  EXPECT_FALSE(b.skip(50));
  b.drew(40, 50);  // in time
  EXPECT_FALSE(b.skip(50));
  b.drew(120, 50);  // too slow: skip until 120 ms have passed
  EXPECT_TRUE(b.skip(50));
  EXPECT_TRUE(b.skip(50));
  EXPECT_TRUE(b.skip(50));
  EXPECT_FALSE(b.skip(50));
  b.drew(5000, 50);
  EXPECT_EQ(b.budget_ms(), 1000);
}

TEST(GraphTiming, PanelSlideAndNotices) {
  EXPECT_EQ(panel_target_height(true, false), 160);
  EXPECT_EQ(panel_target_height(true, true), 24);
  EXPECT_EQ(panel_target_height(false, false), 24);
  int h = 24;
  std::vector<int> steps;
  while (h != 160) steps.push_back(h = next_panel_height(h, 160, 0));
  EXPECT_EQ(steps, (std::vector<int>{48, 72, 96, 120, 144, 160}));
  EXPECT_EQ(next_panel_height(24, 160, 9), 160);
  EXPECT_EQ(next_panel_height(160, 24, 1), 112);

  TransientNotice n;
  EXPECT_EQ(n.current(0), nullptr);
  n.show("Font-Size: 24px", 0xFFFFF000u);  // shortly before the clock wraps
  ASSERT_NE(n.current(0xFFFFF000u + 2999u), nullptr);
  EXPECT_EQ(*n.current(0xFFFFF000u + 2999u), "Font-Size: 24px");
  EXPECT_EQ(n.current(0xFFFFF000u + 3000u), nullptr);

  EXPECT_FALSE(inactive(10000, 5000));
  EXPECT_TRUE(inactive(10001, 5000));
  EXPECT_FALSE(inactive(100, 0xFFFFFF00u));  // across the wrap: 356 ms
}

TEST(GraphTexts, LabelsNoticesAndPanelLines) {
  const GraphLabels& en = graph_labels(Language::English, false);
  EXPECT_STREQ(graph_labels(Language::Japanese, true).send_max, "Send MAX:");
  EXPECT_STRNE(graph_labels(Language::Japanese, false).send_max, "Send MAX:");
  EXPECT_EQ(font_size_notice(en, 24), "Font-Size: 24px");
  EXPECT_EQ(reset_warning_text(en, false, 15), "Please, Reset Network Interface.");
  EXPECT_EQ(reset_warning_text(en, true, 15),
            "Please, Reset Network Interface. (Automatic Reset to 15 sec later) ");

  // 20,000 KB/s in MB/s stays MB/s; 20,000 KB/s in KB/s steps up to MB/s.
  EXPECT_EQ(panel_average_text("Avg", 20000.0, 2), "Avg            19.531 MB/s");
  EXPECT_EQ(panel_average_text("Avg", 20000.0, 0), "Avg            19.531 MB/s");
  EXPECT_EQ(panel_average_text("Avg", 9999.9, 0), "Avg          9999.900 KB/s");
  EXPECT_EQ(panel_average_text("Avg", 2048.0, 3), "Avg            16.000 Mbps");
  EXPECT_EQ(panel_average_text("Avg", 5e9, 1), "Avg          38146.973 Gbps");  // nothing above Gbps
  EXPECT_EQ(panel_average_text("Avg", -3.0, 0), "Avg             0.000 KB/s");
  EXPECT_EQ(panel_total_text("Up", 1536, 1048576), "Up          1.500 KB (   1.000 MB)");
  EXPECT_EQ(panel_scale_text(en, 1048576, false), "Graph Scale                      1/32768 Auto");

  GraphSettings s = default_graph_settings(Language::English);
  TrafficFigures f;
  f.capture_ms = 65000;
  f.capture_send = 10 * 1024 * 65;
  const auto lines = panel_transfer_lines(f, s, 32, Language::English);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "Capture Time                  0h 01m 05s");
  EXPECT_EQ(lines[3], "Average Send speed                  0.078 Mbps");
  EXPECT_EQ(lines[5], "Graph Scale                      1/1 Auto");
}

TEST(GraphTexts, ReportColumns) {
  const auto cols = report_columns(0x01 | 0x02 | 0x10, Language::English);
  ASSERT_EQ(cols.size(), 3u);
  EXPECT_EQ(cols[0].list, 0);
  EXPECT_EQ(cols[0].x, 32);
  EXPECT_EQ(cols[0].width, 240);
  EXPECT_EQ(cols[1].x, 32 + 240 + 5);
  EXPECT_EQ(cols[2].list, 4);
  EXPECT_EQ(cols[2].x, 32 + 2 * (240 + 5));
  EXPECT_EQ(cols[2].width, 390);
  EXPECT_EQ(report_columns(0x80, Language::English).size(), 0u);  // the hidden flag is no column
  const auto ja = report_columns(0x41, Language::Japanese);
  ASSERT_EQ(ja.size(), 2u);
  EXPECT_EQ(ja[0].width, 200);
  EXPECT_EQ(ja[1].x, 32 + 200 + 5);
  EXPECT_EQ(ja[1].width, 335);
}

TEST(GraphSettingsLoad, DefaultsAndHandEditedValues) {
  ProfileRig rig;
  GraphSettings s = load_graph_settings(rig.profile, Language::Japanese);
  EXPECT_TRUE(s.view_mode && s.max_line_mode && s.report_mode && s.gradient_mode);
  EXPECT_EQ(s.font_name, "ＭＳ ゴシック");
  EXPECT_EQ(load_graph_settings(rig.profile, Language::English).font_name, "Lucida Console");
  EXPECT_EQ(s.font_name2, "ＭＳ ゴシック");
  EXPECT_EQ(s.color(kColorBackground), 0x100000u);
  EXPECT_EQ(s.color(kColorOtherText), 0xFFFFFFu);
  EXPECT_EQ(s.redraw_period_ms(), 50);
  EXPECT_EQ(graph_color_key(7), "Color07");
  EXPECT_EQ(graph_color_name(9, Language::English), "Background graph");

  rig.files.files[rig.profile.path()] =
      "[Traffic]\nScaleVal=0\nScaleMode=1\nMaxLineTime=-7\nFontSize=-3\nView-Responce=42\n"
      "MaxUnit=6\nColor04=-1\nFontName=\nLanguageSelect=1\nViewMode=0\n";
  s = load_graph_settings(rig.profile, Language::English);
  EXPECT_EQ(s.scale_val, 1);
  EXPECT_EQ(vertical_scale(s, 0, 100), 32);
  EXPECT_EQ(s.max_line_time, 0);
  EXPECT_EQ(s.font_size, 0);
  EXPECT_EQ(s.view_responce, 9);
  EXPECT_EQ(s.redraw_period_ms(), 500);
  EXPECT_EQ(s.max_unit, 2);
  EXPECT_EQ(s.color(kColorGraphSend), 0xFFFFFFu);
  EXPECT_EQ(s.font_name, "Lucida Console");
  EXPECT_TRUE(s.english_labels);
  EXPECT_FALSE(s.view_mode);
}

}  // namespace
}  // namespace tw::traffic
