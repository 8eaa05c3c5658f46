// The traffic feature's settings groups: what a page saves loads back
// unchanged, and a value repaired on load is saved and loaded repaired.
#include <gtest/gtest.h>

#include <utility>

#include "platform/fake/fake_file_store.h"
#include "traffic/graph_settings.h"
#include "traffic/mini_monitor_logic.h"
#include "traffic/sampler_settings.h"

namespace tw::traffic {
namespace {

constexpr const char* kPath = "/d/tarnix_u@h.ini";

class TrafficSettingsGroups : public ::testing::Test {
 protected:
  platform::FakeFileStore files;
  settings::Profile profile{files, kPath};
};

TEST_F(TrafficSettingsGroups, SavedGroupsLoadBackUnchanged) {
  GraphSettings g = default_graph_settings(Language::English);
  g.view_mode = false;
  g.double_sampling = false;
  g.reverse = true;
  g.scale_fixed = true;
  g.scale_val = 65536;
  g.max_line_time = 0;
  g.ave_unit = 1;
  g.font_name = "DejaVu Sans Mono";
  g.font_size2 = 0;
  g.english_labels = true;
  g.view_responce = 9;
  g.colors[kColorOtherText] = 0x123456;
  save_graph_view(profile, g);
  save_graph_text(profile, g);
  save_graph_colors(profile, g);
  EXPECT_EQ(load_graph_settings(profile, Language::English), g);

  const SamplerSettings t{9, false, 65536};
  save_sampler_settings(profile, t);
  EXPECT_EQ(load_sampler_settings(profile), t);

  MiniMonitorSettings m;
  m.colors[kMiniRecvGross] = 0x010203;
  m.font_size = kMaxMiniFontSize;
  m.font_name = "Monospace";
  m.bold = true;
  m.style = 0;
  m.message_mode = true;
  m.message_level = {-1, 0, 0x7fffffff, 3, 4};
  m.alpha_blend = false;
  m.no_frame = true;
  m.reverse_direction = true;  // follows the graph's "Direction" saved above
  save_mini_monitor_settings(profile, m);
  EXPECT_EQ(load_mini_monitor_settings(profile), m);
}

// Each page saves only its own keys of section "Traffic": a page saving the
// copy it loaded never puts back what another page saved meanwhile.
TEST_F(TrafficSettingsGroups, GraphPagesKeepToTheirKeys) {
  const GraphSettings loaded = load_graph_settings(profile, Language::English);
  GraphSettings colors = loaded;
  colors.colors[kColorGrid] = 0x0000FF;
  save_graph_colors(profile, colors);
  GraphSettings view = loaded;
  view.polyline = true;
  save_graph_view(profile, view);
  save_graph_text(profile, loaded);
  const GraphSettings r = load_graph_settings(profile, Language::English);
  EXPECT_EQ(r.color(kColorGrid), 0x0000FFu);
  EXPECT_TRUE(r.polyline);
}

// The graph's own flips start from the stored value, read as the loader reads
// it, and write one key: an option page's save since the graph loaded its copy
// stays.
TEST_F(TrafficSettingsGroups, GraphFlipsWriteOneKeyFromTheStoredValue) {
  files.files[kPath] = "[Traffic]\nDirection=2\nDoubleSampling=5\n";
  const GraphSettings graph_copy = load_graph_settings(profile, Language::English);
  EXPECT_FALSE(graph_copy.reverse);
  GraphSettings page = graph_copy;
  page.polyline = true;
  page.scale_val = 100;
  save_graph_view(profile, page);

  EXPECT_TRUE(toggle_graph_flag(profile, GraphFlag::Reverse));  // 2 reads as off: on now
  EXPECT_FALSE(toggle_graph_flag(profile, GraphFlag::DoubleSampling));
  EXPECT_TRUE(toggle_graph_flag(profile, GraphFlag::EnglishLabels));
  save_graph_font_size(profile, 40);
  GraphSettings r = load_graph_settings(profile, Language::English);
  EXPECT_TRUE(r.reverse);
  EXPECT_FALSE(r.double_sampling);
  EXPECT_TRUE(r.english_labels);
  EXPECT_EQ(r.font_size, 40);
  EXPECT_TRUE(r.polyline);
  EXPECT_EQ(r.scale_val, 100);
  EXPECT_FALSE(toggle_graph_flag(profile, GraphFlag::Reverse));
  EXPECT_FALSE(load_graph_settings(profile, Language::English).reverse);

  // Every flag flips its own field and nothing else.
  const std::pair<GraphFlag, bool GraphSettings::*> fields[] = {
      {GraphFlag::ViewMode, &GraphSettings::view_mode},
      {GraphFlag::MaxLineMode, &GraphSettings::max_line_mode},
      {GraphFlag::ReportMode, &GraphSettings::report_mode},
      {GraphFlag::GradientMode, &GraphSettings::gradient_mode},
      {GraphFlag::DoubleSampling, &GraphSettings::double_sampling},
      {GraphFlag::Polyline, &GraphSettings::polyline},
      {GraphFlag::Reverse, &GraphSettings::reverse},
      {GraphFlag::LargeFontEmphasis, &GraphSettings::large_font_emphasis},
      {GraphFlag::EnglishLabels, &GraphSettings::english_labels}};
  for (const auto& [flag, field] : fields) {
    GraphSettings expected = load_graph_settings(profile, Language::English);
    expected.*field = !(expected.*field);
    EXPECT_EQ(toggle_graph_flag(profile, flag), expected.*field);
    EXPECT_EQ(load_graph_settings(profile, Language::English), expected) << static_cast<int>(flag);
  }
}

TEST_F(TrafficSettingsGroups, RepairedValuesComeBackRepaired) {
  files.files[kPath] =
      "[Traffic]\nScaleVal=0\nMaxLineTime=-4\nFontSize=5000\nMaxUnit=7\nView-Responce=12\n"
      "Thread-Responce=-3\nFontName=\nColor02=2130706433\n"
      "[MiniMonitor]\nFontSize=0\nAlphaLevel=900\nStyle=99\nAveUnit=-1\nMessageLevel=1:2:3:4\n";
  const GraphSettings g = load_graph_settings(profile, Language::English);
  const SamplerSettings t = load_sampler_settings(profile);
  const MiniMonitorSettings m = load_mini_monitor_settings(profile);
  save_graph_view(profile, g);
  save_graph_text(profile, g);
  save_graph_colors(profile, g);
  save_sampler_settings(profile, t);
  save_mini_monitor_settings(profile, m);

  const GraphSettings rg = load_graph_settings(profile, Language::English);
  EXPECT_EQ(rg, g);
  EXPECT_EQ(rg.scale_val, 1);
  EXPECT_EQ(rg.max_line_time, 0);
  EXPECT_EQ(rg.font_size, kMaxFontPixels);
  EXPECT_EQ(rg.max_unit, 3);
  EXPECT_EQ(rg.view_responce, 9);
  EXPECT_EQ(rg.font_name, default_graph_settings(Language::English).font_name);
  EXPECT_EQ(rg.color(kColorText), 0x000001u);
  EXPECT_EQ(load_sampler_settings(profile).thread_responce, 0);

  const MiniMonitorSettings rm = load_mini_monitor_settings(profile);
  EXPECT_EQ(rm, m);
  EXPECT_EQ(rm.font_size, 10);
  EXPECT_EQ(rm.alpha_level, 255);
  EXPECT_EQ(rm.style, 2);
  EXPECT_EQ(rm.ave_unit, 3);
  EXPECT_EQ(rm.message_level, (std::array<int, 5>{}));
}

// The page accepts exactly what the window reads as five levels.
TEST(MessageLevelRule, PageAndWindowAgree) {
  for (const char* text : {"1:2:3:4:5", "0x10:010:3:4:5", "1:2:3:4:5:6", "1:2:3:4:5x", "1:2:3:4", "",
                           "a:b:c:d:e", "1:2::4:5"}) {
    const bool zeros = parse_message_level(text) == std::array<int, 5>{};
    EXPECT_EQ(message_level_valid(text), !zeros || std::string_view(text) == "0:0:0:0:0") << text;
  }
  EXPECT_TRUE(message_level_valid("1:2:3:4:5:6"));
  EXPECT_FALSE(message_level_valid("1:2:3:4"));
}

}  // namespace
}  // namespace tw::traffic
