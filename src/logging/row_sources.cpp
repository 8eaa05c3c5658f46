#include "logging/row_sources.h"

#include <algorithm>

namespace tw::logging {

namespace {

// Rows are written "%s %s ... %s": the cells joined by single blanks, the
// rows by line feeds (none after the last).
template <std::size_t N>
std::string join_rows(const std::vector<std::array<std::string, N>>& rows, std::size_t limit) {
  std::string text;
  const std::size_t n = std::min(rows.size(), limit);
  for (std::size_t r = 0; r < n; ++r) {
    if (r) text += '\n';
    for (std::size_t c = 0; c < N; ++c) {
      if (c) text += ' ';
      text += rows[r][c];
    }
  }
  return text;
}

bool names(std::string_view entry_template, std::string_view variable) {
  return entry_template.find(variable) != std::string_view::npos;
}

}  // namespace

std::string_view session_stopped_text(Language lang) {
  return pick<std::string_view>(lang, "Session Monitor is Stopped.",
                                "セッションモニターは停止中です。");
}
std::string_view session_empty_text(Language lang) {
  return pick<std::string_view>(lang, "Connection is not in Session.",
                                "接続中のセッションはありません。");
}
std::string_view packet_stopped_text(Language lang) {
  return pick<std::string_view>(lang, "Packet Monitor is Stopped.", "IP監視モニターは停止中です。");
}
std::string_view packet_empty_text(Language lang) {
  return pick<std::string_view>(lang, "No Packet-Data.", "パケットデータはありません。");
}

bool SessionRowsSource::fill(LogKind, std::string_view entry_template, EntryValues& values) {
  values.set("$CONNECTIONS$", std::to_string(connections_));
  if (rows_ == nullptr || !names(entry_template, "$SESSION$")) return true;
  values.set("$SESSION$", rows_->empty() ? std::string(session_empty_text(lang_))
                                         : join_rows(*rows_, kMaxSessionRows));
  return true;
}

bool PacketRowsSource::fill(LogKind, std::string_view entry_template, EntryValues& values) {
  consumed_ = false;
  if (!names(entry_template, "$IP_PACKET$")) return true;
  const std::vector<PacketLogRow> rows = list_.rows(kMaxPacketRows);
  if (rows.empty()) {
    values.set("$IP_PACKET$", std::string(packet_empty_text(lang_)));
    return true;
  }
  values.set("$IP_PACKET$", join_rows(rows, kMaxPacketRows));
  consumed_ = true;
  return true;
}

void PacketRowsSource::entry_written(LogKind) {
  if (consumed_) list_.clear();
  consumed_ = false;
}

}  // namespace tw::logging
