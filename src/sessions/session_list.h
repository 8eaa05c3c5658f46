#pragma once
// The session list without its window: columns, sort keys and order, the
// cell texts, the elapsed-time texts, the connection counter with its
// maximum, and the clipboard text.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "sessions/connection_table.h"

namespace tw::sessions {

inline constexpr int kColumnCount = 9;
enum Column : int {
  kLocalAddress = 0, kLocalHost, kLocalPort, kRemoteAddress, kRemoteHost, kRemotePort, kStatus, kTime, kProcess,
};

struct SessionColumn {
  std::string_view header_en;
  std::string_view header_ja;
  int default_width;
  bool align_right;
};
const std::array<SessionColumn, kColumnCount>& session_columns();

// The list shows at most this many rows even when the table holds more.
inline constexpr std::size_t kMaxDisplayedRows = 999;
// A sort key is cut to this many bytes.
inline constexpr std::size_t kMaxSortKeyChars = 254;

// Locale-aware comparison of two names: negative, 0 or positive. The
// programs pass the collation of the user's locale; without one names are
// compared byte by byte.
using TextCompare = std::function<int(std::string_view, std::string_view)>;
int bytewise_compare(std::string_view a, std::string_view b);

// "1h 02m 03s", "02m 05s", "07s" (Japanese unit words with the Japanese
// interface).
std::string elapsed_text(std::uint32_t seconds, Language lang);
// The reverse, for the rules' minimum age: the numbers of an elapsed text.
std::uint32_t elapsed_seconds(std::string_view text, Language lang);

// An address as the sort keys hold it. A dotted IPv4 text as it is (the
// keys order IPv4 addresses by their texts); an IPv6 text as ':' and the 32
// hex digits of its 16 bytes, so that IPv6 addresses order by their bytes,
// line up with each other whatever their written length, and all come after
// the IPv4 ones (':' sorts after every digit) in ascending order.
std::string address_sort_field(const std::string& address);

// The key of `r` for sorting by `column` (out-of-range columns sort as the
// status column): the column's own key followed by the key of the previous
// sort, so that the former order breaks ties.
std::string sort_key(const SessionRecord& r, int column, std::uint32_t now);
// Builds that key into r.sort_key, with the places of the names in it.
void set_sort_key(SessionRecord& r, int column, std::uint32_t now);

// Orders two records by their keys. The padded fixed-width fields (addresses,
// ports, times, padding) are compared byte by byte, so that a blank pads as
// the smallest character; a collation ignores blanks and dots at its first
// level, which would run the fields into each other. Names are compared as
// names with `names` (an address shown in a host column as text, byte by
// byte), names the collation calls equal then byte by byte.
int compare_sort_keys(const SessionRecord& a, const SessionRecord& b, const TextCompare& names);

// Builds the keys of the first `count` records and sorts them. Stable, so
// that fully equal keys keep their order.
void sort_records(std::vector<SessionRecord>& records, std::size_t count, int column, bool descending,
                  std::uint32_t now, const TextCompare& names);

// The nine cell texts of a record.
using RowTexts = std::array<std::string, kColumnCount>;
RowTexts row_texts(const SessionRecord& r, std::uint32_t now, Language lang);

// The sort state of the list: the column and the direction survive while the
// program runs, not in the settings. A click on the sort column flips the
// direction; a click on another keeps it.
struct SortState {
  int column = kStatus;
  bool descending = true;
  void click(int c) {
    if (c == column) descending = !descending;
    column = c;
  }
};

// "Connections (Max)" with the current count and the highest since the last
// reset; the maximum starts over every `reset minutes`, at 120 refreshes a
// minute.
class ConnectionCounter {
 public:
  explicit ConnectionCounter(int reset_minutes = 1440) : reset_minutes_(reset_minutes) {}
  // After a refresh that shows `displayed` rows. True when the label changed.
  bool refreshed(int displayed);
  // Stop and "Remove all items".
  void reset() { current_ = maximum_ = 0, ticks_ = 0; }
  int current() const { return current_; }
  int maximum() const { return maximum_; }
  std::string label(Language lang) const;

 private:
  int reset_minutes_;
  int current_ = 0;
  int maximum_ = 0;
  std::uint32_t ticks_ = 0;
};

// The clipboard text of the rows: per row the cells whose `copy_items` field
// is 1, each followed by a blank, and "\r\n" at the end of the row.
std::string copy_text(std::span<const RowTexts> rows, std::span<const int> copy_items);

}  // namespace tw::sessions
