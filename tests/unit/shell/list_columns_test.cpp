// The report lists' saved widths, clipboard columns and copy text, sort mark
// and colours.
#include "shell/list_columns.h"

#include <gtest/gtest.h>

namespace tw::shell {
namespace {

const std::vector<int> kDefaults = {90, 90, 60, 220};

TEST(ColumnWidths, DamagedListsRepairEachColumnFromItsDefault) {
  EXPECT_EQ(parse_column_widths("", kDefaults), kDefaults);
  EXPECT_EQ(parse_column_widths("10:20", kDefaults), (std::vector<int>{10, 20, 60, 220}));
  // Parsing stops at the first bad field; the rest keep their defaults.
  EXPECT_EQ(parse_column_widths("10:abc:30:40", kDefaults), (std::vector<int>{10, 90, 60, 220}));
  EXPECT_EQ(parse_column_widths("garbage", kDefaults), kDefaults);
  // Negative and absurd widths are damage, 0 is a column dragged shut.
  EXPECT_EQ(parse_column_widths("-5:0:99999:10001", kDefaults), (std::vector<int>{90, 0, 60, 220}));
  EXPECT_EQ(parse_column_widths("0x10:010:10000:7", kDefaults), (std::vector<int>{16, 8, 10000, 7}));
  // Extra fields of a longer list are ignored.
  EXPECT_EQ(parse_column_widths("1:2:3:4:5:6", kDefaults), (std::vector<int>{1, 2, 3, 4}));
}

TEST(CopyItems, ShortListsKeepTheDefaultsAndOnlyOneCopies) {
  EXPECT_EQ(parse_copy_items(""), kDefaultCopyItems);
  EXPECT_EQ(format_copy_items(kDefaultCopyItems), "0:0:0:0:1:0:0:0:0:0:0:0");
  const CopyItems items = parse_copy_items("1:0:2:1");
  EXPECT_EQ(items, (CopyItems{1, 0, 2, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(copy_columns(items, 9), (std::vector<int>{0, 3, 4}));
  // The session list has nine columns: enabled fields beyond it are not copied.
  EXPECT_EQ(copy_columns(parse_copy_items("0:0:0:0:0:0:0:0:1:1:1:1"), 9), (std::vector<int>{8}));
  EXPECT_TRUE(copy_columns(items, 0).empty());
}

TEST(CopyText, EachCellFollowedByABlankAndEachRowByCrLf) {
  auto cell = [](int row, int column) { return "r" + std::to_string(row) + "c" + std::to_string(column); };
  const int rows[] = {2, 5};
  const int columns[] = {0, 4};
  EXPECT_EQ(build_copy_text(rows, columns, cell), "r2c0 r2c4 \r\nr5c0 r5c4 \r\n");
  // Rows without a chosen column still end their line.
  EXPECT_EQ(build_copy_text(rows, {}, cell), "\r\n\r\n");
  EXPECT_EQ(build_copy_text({}, columns, cell), "");
}

TEST(SortState, ClickReversesTheSortedColumnAndKeepsTheDirectionForAnother) {
  SortState s{6, true};
  s.click(6);
  EXPECT_EQ(s, (SortState{6, false}));
  s.click(2);
  EXPECT_EQ(s, (SortState{2, false}));
  s.click(2);
  s.click(7);
  EXPECT_EQ(s, (SortState{7, true}));
}

TEST(Colors, RedIsTheLowByteAndTheTopByteIsIgnored) {
  EXPECT_EQ(rgb_of_colorref(0x4040FF), (Rgb{0xFF, 0x40, 0x40}));
  EXPECT_EQ(rgb_of_colorref(0xFFFFFFFF), (Rgb{255, 255, 255}));
  EXPECT_EQ(colorref_of(Rgb{0x12, 0x34, 0x56}), 0x563412u);
}

}  // namespace
}  // namespace tw::shell
