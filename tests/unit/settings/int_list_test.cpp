// ":"-joined "%i" lists: the owners' lists (CopyItem, column widths) keep the
// defaults of the fields that do not parse, and hand-edited hex and octal
// fields read in their base, exactly as sscanf reads them.
#include <gtest/gtest.h>

#include <array>
#include <climits>

#include "settings/int_parse.h"
#include "settings/profile.h"

namespace tw::settings {
namespace {

std::array<int, 4> parse4(std::string_view text, std::size_t* count = nullptr) {
  std::array<int, 4> v{-1, -2, -3, -4};
  const std::size_t n = parse_int_list(text, v);
  if (count) *count = n;
  return v;
}

TEST(IntList, ShortOrBrokenListsKeepTheTrailingDefaults) {
  std::size_t n = 0;
  EXPECT_EQ(parse4("1:2", &n), (std::array<int, 4>{1, 2, -3, -4}));
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(parse4("", &n), (std::array<int, 4>{-1, -2, -3, -4}));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(parse4("1:x:3:4"), (std::array<int, 4>{1, -2, -3, -4}));
  EXPECT_EQ(parse4("1::3:4"), (std::array<int, 4>{1, -2, -3, -4}));
  EXPECT_EQ(parse4("1 :2"), (std::array<int, 4>{1, -2, -3, -4}));   // no blank before ':'
  EXPECT_EQ(parse4(" 1: 2:\t3:4", &n), (std::array<int, 4>{1, 2, 3, 4}));  // blanks before a number
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(parse4("1:2:3:4:5:6", &n), (std::array<int, 4>{1, 2, 3, 4}));
  EXPECT_EQ(n, 4u);
}

TEST(IntList, FieldsReadInTheirBaseLikeScanf) {
  EXPECT_EQ(parse4("0x1f:0X10:010:-0x10"), (std::array<int, 4>{31, 16, 8, -16}));
  // "08" is octal 0 followed by a stray '8': the list ends there.
  EXPECT_EQ(parse4("08:5"), (std::array<int, 4>{0, -2, -3, -4}));
  // A bare "0x" is 0 with the 'x' taken, so the next ':' still matches.
  EXPECT_EQ(parse4("0x:5"), (std::array<int, 4>{0, 5, -3, -4}));
  EXPECT_EQ(parse4("+:3"), (std::array<int, 4>{-1, -2, -3, -4}));
  EXPECT_EQ(parse4("+7:-0:00:0"), (std::array<int, 4>{7, 0, 0, 0}));
}

TEST(IntList, OutOfRangeFieldsAreCutLikeScanfIntoInt) {
  // Saturated at the 64-bit limits, then the low 32 bits.
  EXPECT_EQ(parse4("4294967295:99999999999:-2147483649:99999999999999999999999"),
            (std::array<int, 4>{-1, 1215752191, INT_MAX, -1}));
  EXPECT_EQ(parse4("-99999999999999999999999:0xFFFFFFFFFFFFFFFFFF"), (std::array<int, 4>{0, -1, -3, -4}));
}

TEST(IntList, FormatReadsBack) {
  const std::array<int, 4> v{INT_MIN, -1, 0, INT_MAX};
  EXPECT_EQ(format_int_list(v), "-2147483648:-1:0:2147483647");
  EXPECT_EQ(parse4(format_int_list(v)), v);
  EXPECT_EQ(format_int_list(std::span<const int>()), "");
}

}  // namespace
}  // namespace tw::settings
