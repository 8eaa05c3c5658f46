#pragma once
// Window-free rules shared by the monitors' report lists (sessions, packets,
// filter rules): the column tables, the saved column widths ("ColnmWidth"),
// the columns chosen for the clipboard ("CopyItem") and the copy text, the
// sort mark state, and the colours of the settings file.
//
// Both lists are ":"-joined "%i" integer lists (see settings/profile.h), so a
// hand-edited "0x5A" reads as 90. Main thread only, like every settings access.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "settings/profile.h"

namespace tw::shell {

enum class ColumnAlign { Left, Right };

// One column of a list: header texts in both languages, the width the list
// is described with, how cell and header texts are aligned, and a typical
// full cell text (Japanese when it differs; empty: none). The width a list
// starts with when none is saved is at least the described one and shows the
// header and the typical text whole in the list's font (the window measures
// them: faces differ between desktops).
struct ListColumn {
  std::string_view header_en;
  std::string_view header_ja;
  int default_width = 0;
  ColumnAlign align = ColumnAlign::Left;
  std::string_view sample_en{};
  std::string_view sample_ja{};
};

inline std::string_view column_header(const ListColumn& c, Language lang) {
  return pick(lang, c.header_en, c.header_ja);
}

inline std::string_view column_sample(const ListColumn& c, Language lang) {
  return lang == Language::Japanese && !c.sample_ja.empty() ? c.sample_ja : c.sample_en;
}

// ---------------------------------------------------------------------------
// Column widths, key "ColnmWidth" in the list's own section.
inline constexpr std::string_view kColumnWidthKey = "ColnmWidth";

// Widths above this are not a user's choice but a damaged file; a header with
// a few sections that wide would also overflow the view's int coordinates.
inline constexpr int kMaxColumnWidth = 10000;

std::vector<int> default_column_widths(std::span<const ListColumn> columns);

// One width per default: fields are read from the left; a missing field, a
// field that does not parse (and every field after it), and a width outside
// 0..kMaxColumnWidth give that column its default. 0 is kept: a column
// dragged shut stays shut.
std::vector<int> parse_column_widths(std::string_view text, std::span<const int> defaults);
std::string format_column_widths(std::span<const int> widths);

std::vector<int> read_column_widths(const settings::Profile& profile, std::string_view section,
                                    std::span<const int> defaults);
bool write_column_widths(settings::Profile& profile, std::string_view section,
                         std::span<const int> widths);

// ---------------------------------------------------------------------------
// Clipboard columns, key "CopyItem": twelve fields whatever the list's column
// count (the session list uses the first nine). A column is copied when its
// field is exactly 1.
inline constexpr std::string_view kCopyItemKey = "CopyItem";
inline constexpr std::size_t kCopyItemFields = 12;
using CopyItems = std::array<int, kCopyItemFields>;

// Only column 4, the remote host name, is copied by default.
inline constexpr CopyItems kDefaultCopyItems = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};

// A short or broken list keeps the default of every field it does not give.
CopyItems parse_copy_items(std::string_view text);
std::string format_copy_items(const CopyItems& items);
CopyItems read_copy_items(const settings::Profile& profile, std::string_view section);
bool write_copy_items(settings::Profile& profile, std::string_view section, const CopyItems& items);

// The columns below `column_count` that are copied, in column order.
std::vector<int> copy_columns(const CopyItems& items, int column_count);

// The clipboard text of `rows` (in the order given): for every row, each of
// `columns` as its cell text followed by one blank, and "\r\n" after the row.
using CellText = std::function<std::string(int row, int column)>;
std::string build_copy_text(std::span<const int> rows, std::span<const int> columns,
                            const CellText& cell);

// ---------------------------------------------------------------------------
// Sort mark of a list header. column -1 shows no mark.
struct SortState {
  int column = -1;
  bool descending = false;

  // A click on the sorted column reverses the order; a click on another
  // column sorts by it in the current direction.
  void click(int clicked) {
    if (clicked == column) descending = !descending;
    column = clicked;
  }
  friend bool operator==(const SortState&, const SortState&) = default;
};

// ---------------------------------------------------------------------------
// Colours are stored as 0x00BBGGRR integers (red in the low byte); the top
// byte is ignored, so a stored -1 reads as white.
struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

constexpr Rgb rgb_of_colorref(std::uint32_t c) {
  return Rgb{static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>((c >> 8) & 0xFF),
             static_cast<std::uint8_t>((c >> 16) & 0xFF)};
}
constexpr std::uint32_t colorref_of(Rgb c) {
  return std::uint32_t{c.r} | (std::uint32_t{c.g} << 8) | (std::uint32_t{c.b} << 16);
}

}  // namespace tw::shell
