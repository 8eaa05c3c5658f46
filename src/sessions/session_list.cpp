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

std::string sort_key(const SessionRecord& r, int column, std::uint32_t now) {
  const long elapsed = static_cast<long>(static_cast<std::uint32_t>(now - r.first_seen));
  const int lp = static_cast<int>(r.local_port), rp = static_cast<int>(r.remote_port);
  std::string key;
  switch (column) {
    case kLocalAddress: key = sformat("%-20s%05d%05d", r.local_address.c_str(), lp, rp); break;
    case kLocalHost: key = sformat("%-64s%05d%05d", r.local_host.c_str(), lp, rp); break;
    case kLocalPort: key = sformat("%05d%-20s%05d", lp, r.remote_address.c_str(), rp); break;
    case kRemoteAddress: key = sformat("%-20s%05d%05d", r.remote_address.c_str(), rp, lp); break;
    case kRemoteHost: key = sformat("%-64s%05d%05d", r.remote_host.c_str(), rp, lp); break;
    case kRemotePort: key = sformat("%05d%-64s%05d", rp, r.remote_host.c_str(), lp); break;
    case kTime: key = sformat("%010ld%05d%-20s%05d", elapsed, lp, r.remote_address.c_str(), rp); break;
    case kProcess:
      key = sformat("%-64s%010ld%05d%-20s%05d", r.process.c_str(), elapsed, lp, r.remote_address.c_str(), rp);
      break;
    default: key = sformat("%02d%010ld%05d%-20s", r.state, elapsed, lp, r.remote_address.c_str()); break;
  }
  key += r.sort_key;
  logging::truncate_utf8(key, kMaxSortKeyChars);
  return key;
}

void sort_records(std::vector<SessionRecord>& records, std::size_t count, int column, bool descending,
                  std::uint32_t now, const TextCompare& compare) {
  count = std::min(count, records.size());
  for (std::size_t i = 0; i < count; ++i) records[i].sort_key = sort_key(records[i], column, now);
  const TextCompare& cmp = compare ? compare : TextCompare(bytewise_compare);
  // The positions are sorted, not the records: a merge sort moves its
  // elements many times, and a record is nine strings. Each record then
  // moves once, into its place.
  std::vector<std::uint32_t> order(count);
  std::iota(order.begin(), order.end(), std::uint32_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const int c = cmp(records[a].sort_key, records[b].sort_key);
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
