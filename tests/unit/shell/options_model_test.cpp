#include "shell/options_model.h"

#include <gtest/gtest.h>

#include <set>

namespace tw::shell {
namespace {

TEST(OptionsModel, GroupTablesHaveTheSameShapeInBothLanguages) {
  int tabs = 0;
  for (int g = 0; g < kOptionGroupCount; ++g) {
    auto en = group_tab_texts(Language::English, g);
    auto ja = group_tab_texts(Language::Japanese, g);
    EXPECT_EQ(en.size(), ja.size()) << "group " << g;
    EXPECT_GE(en.size(), 1u);
    EXPECT_LE(en.size(), static_cast<std::size_t>(kMaxTabsPerGroup));
    EXPECT_FALSE(group_entry_text(Language::English, g).empty());
    EXPECT_FALSE(group_entry_text(Language::Japanese, g).empty());
    tabs += static_cast<int>(en.size());
  }
  EXPECT_EQ(tabs, 30);
  EXPECT_EQ(group_entry_text(Language::Japanese, 2), "IP監視モニター");
  EXPECT_EQ(group_tab_texts(Language::English, 4), std::vector<std::string_view>{" "});
  EXPECT_EQ(group_tab_texts(Language::Japanese, 4), std::vector<std::string_view>{"　"});
  EXPECT_EQ(group_tab_texts(Language::Japanese, 1)[3], "ログファイル出力");
  EXPECT_TRUE(group_entry_text(Language::English, 12).empty());
  EXPECT_TRUE(group_tab_texts(Language::English, -1).empty());
}

// Every tab leads to a page, every page is reachable, and only the two shared
// colour pages appear under more than one tab.
TEST(OptionsModel, EveryTabShowsAPageAndOnlyColourPagesAreShared) {
  std::multiset<OptionsPageId> seen;
  for (int g = 0; g < kOptionGroupCount; ++g) {
    for (int t = 0; t < group_tab_count(g); ++t) {
      auto page = page_at(page_index(g, t));
      ASSERT_TRUE(page.has_value()) << "group " << g << " tab " << t;
      seen.insert(*page);
    }
  }
  for (OptionsPageId id : kPageCreationOrder) {
    std::size_t expected = id == OptionsPageId::MonitorColor ? 2 : id == OptionsPageId::OutputColor ? 7 : 1;
    EXPECT_EQ(seen.count(id), expected) << static_cast<int>(id);
  }
  EXPECT_EQ(page_at(5), std::nullopt);
  EXPECT_EQ(page_at(-1), std::nullopt);
  EXPECT_EQ(page_at(72), std::nullopt);
  EXPECT_EQ(page_at(page_index(6, 0)), OptionsPageId::OutputColor);
  EXPECT_EQ(page_at(page_index(1, 3)), OptionsPageId::TrafficLogFile);

  std::set<OptionsPageId> unique(kPageCreationOrder.begin(), kPageCreationOrder.end());
  EXPECT_EQ(unique.size(), kPageCreationOrder.size());
  for (int i = 0; i < kOptionsPageCount; ++i) EXPECT_EQ(page_slot(kPageCreationOrder[i]), i);
}

TEST(OptionsModel, TabClamping) {
  EXPECT_EQ(clamp_tab(-7, 4), 0);
  EXPECT_EQ(clamp_tab(0, 4), 0);
  EXPECT_EQ(clamp_tab(3, 4), 3);
  EXPECT_EQ(clamp_tab(4, 4), 3);
  EXPECT_EQ(clamp_tab(99, 1), 0);
}

TEST(OptionsFrame, StoredSelectionIsRestoredAndClamped) {
  OptionsFrame frame(1, 9);  // Traffic Monitor has four tabs
  ASSERT_EQ(frame.initial_group(), 1);
  EXPECT_FALSE(frame.has_group());
  frame.select_group(1);  // same as the stored group: the tab survives, clamped
  EXPECT_EQ(frame.config_tab(), 3);
  EXPECT_EQ(frame.current_index(), 9);
  EXPECT_EQ(frame.current_page(), OptionsPageId::TrafficLogFile);
}

TEST(OptionsFrame, SwitchingGroupsResetsTheTabButReselectingKeepsIt) {
  OptionsFrame frame(0, 2);
  frame.select_group(0);
  EXPECT_EQ(frame.current_page(), OptionsPageId::NoticeDialog);
  frame.select_tab(4);
  frame.select_group(0);
  EXPECT_EQ(frame.config_tab(), 4);
  frame.select_group(3);
  EXPECT_EQ(frame.config_sel(), 3);
  EXPECT_EQ(frame.config_tab(), 0);
  frame.select_tab(1);
  EXPECT_EQ(frame.current_page(), OptionsPageId::MonitorColor);
  frame.select_tab(-2);
  EXPECT_EQ(frame.config_tab(), 0);
  frame.select_tab(50);
  EXPECT_EQ(frame.config_tab(), 3);
  frame.select_group(12);  // not an entry: ignored
  EXPECT_EQ(frame.config_sel(), 3);
}

TEST(OptionsFrame, OutOfRangeStoredGroup) {
  OptionsFrame none(12, 1);
  EXPECT_EQ(none.initial_group(), std::nullopt);
  none.select_tab(1);  // no tabs while nothing is selected
  EXPECT_EQ(none.current_index(), std::nullopt);
  EXPECT_EQ(none.current_page(), std::nullopt);
  EXPECT_EQ(none.config_sel(), 12);  // written back unchanged at close
  EXPECT_EQ(none.config_tab(), 1);

  // Stepping a negative count from the first entry stays on the first entry;
  // it differs from the stored group, so the tab starts over.
  OptionsFrame negative(-3, 2);
  ASSERT_EQ(negative.initial_group(), 0);
  negative.select_group(0);
  EXPECT_EQ(negative.config_sel(), 0);
  EXPECT_EQ(negative.config_tab(), 0);
}

TEST(OptionsFrame, ApplyFlagsFollowOkAndCancel) {
  OptionsFrame frame(0, 0);
  for (OptionsPageId id : kPageCreationOrder) EXPECT_FALSE(frame.apply(id));
  frame.accept_all();
  for (OptionsPageId id : kPageCreationOrder) EXPECT_TRUE(frame.apply(id));
  frame.reject_all();
  EXPECT_FALSE(frame.apply(OptionsPageId::PacketFilter));
}

}  // namespace
}  // namespace tw::shell

#include "platform/fake/fake_file_store.h"

namespace tw::shell {
namespace {

TEST(OutputBoxColors, DefaultsAndRoundTrip) {
  platform::FakeFileStore files;
  settings::Profile profile(files, "/data/t.ini");
  EXPECT_EQ(load_output_box_colors(profile), (OutputBoxColors{0x000000, 0xFFFFFF}));
  save_output_box_colors(profile, {0x102030, 0xA0B0C0});
  EXPECT_EQ(profile.read_int("Interface", "Color00", -1), 0x102030);
  EXPECT_EQ(profile.read_int("Interface", "Color01", -1), 0xA0B0C0);
  EXPECT_EQ(load_output_box_colors(profile), (OutputBoxColors{0x102030, 0xA0B0C0}));
}

}  // namespace
}  // namespace tw::shell
