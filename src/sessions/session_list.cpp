#include "sessions/session_list.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "base/text_helpers.h"
#include "logging/template.h"

namespace tw::sessions {

const std::array<SessionColumn, kColumnCount>& session_columns() {
  static const std::array<SessionColumn, kColumnCount> columns = {{
      {"IP Address1", "IPアドレス1", 90, false},
      {"Hostname1", "ホスト1", 90, false},
      {"Port1", "ポート1", 60, true},
      {"IP Address2", "IPアドレス2", 90, false},
      {"Hostname2", "ホスト2", 220, false},
      {"Port2", "ポート2", 60, true},
      {"Status", "通信状態", 80, false},
      {"Time", "通信時間", 100, true},
      {"ProcessName(PID)", "イメージ名(PID)", 100, false},
  }};
  return columns;
}

int bytewise_compare(std::string_view a, std::string_view b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : c > 0;
}

using detail::sformat;

std::string elapsed_text(std::uint32_t seconds, Language lang) {
  const auto& u = detail::unit_words(lang);
  const unsigned h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  if (h) return sformat("%u%s %02u%s %02u%s", h, u.hour, m, u.minute, s, u.second);
  if (m) return sformat("%02u%s %02u%s", m, u.minute, s, u.second);
  return sformat("%02u%s", s, u.second);
}

std::uint32_t elapsed_seconds(std::string_view text, Language lang) {
  const auto& u = detail::unit_words(lang);
  // The numbers in order of appearance; which units they are follows from
  // the unit words the text holds.
  std::vector<std::uint64_t> numbers;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] < '0' || text[i] > '9') {
      ++i;
      continue;
    }
    std::uint64_t v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      v = std::min<std::uint64_t>(v * 10 + static_cast<unsigned>(text[i] - '0'), 0xFFFFFFFFu);
      ++i;
    }
    numbers.push_back(v);
  }
  auto n = [&](std::size_t i) { return i < numbers.size() ? numbers[i] : 0; };
  std::uint64_t total;
  if (text.find(u.hour) != std::string_view::npos)
    total = n(0) * 3600 + n(1) * 60 + n(2);
  else if (text.find(u.minute) != std::string_view::npos)
    total = n(0) * 60 + n(1);
  else
    total = n(0);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(total, 0xFFFFFFFFu));
}

namespace {

// The name field of a column's own key ("%-64s": the name, padded to at
// least 64) and where it starts; no name for the columns without one.
struct OwnName {
  const std::string* text = nullptr;
  std::size_t at = 0;
};
OwnName own_name(const SessionRecord& r, int column) {
  switch (column) {
    case kLocalHost: return {&r.local_host, 0};
    case kRemoteHost: return {&r.remote_host, 0};
    case kRemotePort: return {&r.remote_host, 5};  // after "%05d"
    case kProcess: return {&r.process, 0};
    default: return {};
  }
}

std::string own_key(const SessionRecord& r, int column, std::uint32_t now) {
  const long elapsed = static_cast<long>(static_cast<std::uint32_t>(now - r.first_seen));
  const int lp = static_cast<int>(r.local_port), rp = static_cast<int>(r.remote_port);
  switch (column) {
    case kLocalAddress: return sformat("%-20s%05d%05d", r.local_address.c_str(), lp, rp);
    case kLocalHost: return sformat("%-64s%05d%05d", r.local_host.c_str(), lp, rp);
    case kLocalPort: return sformat("%05d%-20s%05d", lp, r.remote_address.c_str(), rp);
    case kRemoteAddress: return sformat("%-20s%05d%05d", r.remote_address.c_str(), rp, lp);
    case kRemoteHost: return sformat("%-64s%05d%05d", r.remote_host.c_str(), rp, lp);
    case kRemotePort: return sformat("%05d%-64s%05d", rp, r.remote_host.c_str(), lp);
    case kTime: return sformat("%010ld%05d%-20s%05d", elapsed, lp, r.remote_address.c_str(), rp);
    case kProcess:
      return sformat("%-64s%010ld%05d%-20s%05d", r.process.c_str(), elapsed, lp, r.remote_address.c_str(), rp);
    default: return sformat("%02d%010ld%05d%-20s", r.state, elapsed, lp, r.remote_address.c_str());
  }
}

// An address as a host column shows it while it has no name: dotted
// digits, or the same in parentheses while the lookup runs.
bool shows_an_address(std::string_view t) {
  if (t.size() >= 2 && t.front() == '(' && t.back() == ')') t = t.substr(1, t.size() - 2);
  return !t.empty() && t.find_first_not_of("0123456789.") == std::string_view::npos;
}

std::string_view without_padding(std::string_view field) {
  const auto end = field.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view() : field.substr(0, end + 1);
}

int compare_names(std::string_view a, std::string_view b, const TextCompare& names) {
  a = without_padding(a);
  b = without_padding(b);
  // Padded with blanks, byte order puts a name before every longer one it
  // begins; the same holds for the unpadded texts.
  if (!names || (shows_an_address(a) && shows_an_address(b))) return bytewise_compare(a, b);
  if (const int c = names(a, b)) return c < 0 ? -1 : 1;
  return bytewise_compare(a, b);
}

}  // namespace

std::string sort_key(const SessionRecord& r, int column, std::uint32_t now) {
  SessionRecord copy = r;
  set_sort_key(copy, column, now);
  return copy.sort_key;
}

void set_sort_key(SessionRecord& r, int column, std::uint32_t now) {
  std::string key = own_key(r, column, now);
  std::array<KeySpan, kMaxKeyNames> spans{};
  std::size_t n = 0;
  std::array<std::size_t, kMaxKeyNames + 1> at{}, size{};
  if (const OwnName own = own_name(r, column); own.text) {
    at[n] = own.at;
    size[n++] = std::max<std::size_t>(own.text->size(), 64);
  }
  for (std::size_t i = 0; i < r.key_name_count && n < at.size(); ++i) {
    at[n] = key.size() + r.key_names[i].at;
    size[n++] = r.key_names[i].size;
  }
  key += r.sort_key;
  logging::truncate_utf8(key, kMaxSortKeyChars);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n && kept < spans.size(); ++i) {
    if (at[i] >= key.size()) break;
    const std::size_t len = std::min(size[i], key.size() - at[i]);
    spans[kept++] = {static_cast<std::uint8_t>(at[i]), static_cast<std::uint8_t>(len)};
  }
  r.sort_key = std::move(key);
  r.key_names = spans;
  r.key_name_count = static_cast<std::uint8_t>(kept);
}

int compare_sort_keys(const SessionRecord& a, const SessionRecord& b, const TextCompare& names) {
  const std::string_view ka = a.sort_key, kb = b.sort_key;
  if (a.key_name_count == 0 && b.key_name_count == 0) return bytewise_compare(ka, kb);
  // Both keys were built by the same sorts, so their fields come in the same
  // order; only names longer than their padding shift what follows them.
  std::size_t ia = 0, ib = 0, na = 0, nb = 0;
  while (ia < ka.size() && ib < kb.size()) {
    const bool name_a = na < a.key_name_count && a.key_names[na].at == ia;
    const bool name_b = nb < b.key_name_count && b.key_names[nb].at == ib;
    if (name_a != name_b) break;  // not laid out alike: the rest byte by byte
    if (name_a) {
      const std::size_t la = a.key_names[na++].size, lb = b.key_names[nb++].size;
      if (const int c = compare_names(ka.substr(ia, la), kb.substr(ib, lb), names)) return c;
      ia += la;
      ib += lb;
      continue;
    }
    const std::size_t ea = na < a.key_name_count ? a.key_names[na].at : ka.size();
    const std::size_t eb = nb < b.key_name_count ? b.key_names[nb].at : kb.size();
    if (const int c = bytewise_compare(ka.substr(ia, ea - ia), kb.substr(ib, eb - ib))) return c;
    ia = ea;
    ib = eb;
  }
  return bytewise_compare(ka.substr(ia), kb.substr(ib));
}

void sort_records(std::vector<SessionRecord>& records, std::size_t count, int column, bool descending,
                  std::uint32_t now, const TextCompare& names) {
  count = std::min(count, records.size());
  for (std::size_t i = 0; i < count; ++i) set_sort_key(records[i], column, now);
  // The positions are sorted, not the records: a merge sort moves its
  // elements many times, and a record is nine strings. Each record then
  // moves once, into its place.
  std::vector<std::uint32_t> order(count);
  std::iota(order.begin(), order.end(), std::uint32_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const int c = compare_sort_keys(records[a], records[b], names);
    return descending ? c > 0 : c < 0;
  });
  std::vector<SessionRecord> sorted;
  sorted.reserve(records.size());
  for (const std::uint32_t i : order) sorted.push_back(std::move(records[i]));
  for (std::size_t i = count; i < records.size(); ++i) sorted.push_back(std::move(records[i]));
  records.swap(sorted);
}

RowTexts row_texts(const SessionRecord& r, std::uint32_t now, Language lang) {
  const std::uint32_t elapsed_ms = now - r.first_seen;
  return {r.local_address,
          r.local_host,
          std::to_string(r.local_port),
          r.remote_address,
          r.remote_host,
          std::to_string(r.remote_port),
          std::string(state_name(r.state, lang)),
          elapsed_text(elapsed_ms / 1000, lang),
          r.process};
}

bool ConnectionCounter::refreshed(int displayed) {
  bool changed = false;
  if (displayed != current_) {
    current_ = displayed;
    if (maximum_ <= displayed) maximum_ = displayed;
    changed = true;
  }
  ++ticks_;
  const std::uint64_t limit = static_cast<std::uint64_t>(std::max(reset_minutes_, 0)) * 120;
  if (ticks_ >= limit) {
    reset();
    changed = true;
  }
  return changed;
}

std::string ConnectionCounter::label(Language lang) const {
  const std::string_view word = lang == Language::Japanese ? "接続数 (Max)" : "Connections (Max)";
  return sformat(" %s : %4d (%4d)", std::string(word).c_str(), current_, maximum_);
}

std::string copy_text(std::span<const RowTexts> rows, std::span<const int> copy_items) {
  std::string out;
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size() && c < copy_items.size(); ++c)
      if (copy_items[c] == 1) out.append(row[c]).append(" ");
    out += "\r\n";
  }
  return out;
}

}  // namespace tw::sessions
