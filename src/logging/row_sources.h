#pragma once
// The variables that show a monitor's list, one row a line with the cells
// joined by single blanks: "$SESSION$" (the session list, with the connection
// count "$CONNECTIONS$") and "$IP_PACKET$" (the captured packets). A monitor
// hands its list to one of these sources for an entry. While a monitor is not
// running no source gives its list variable, and the writer puts the "stopped"
// placeholder there.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "logging/log_source.h"

namespace tw::logging {

// Placeholder texts for "$SESSION$" and "$IP_PACKET$".
std::string_view session_stopped_text(Language lang);
std::string_view session_empty_text(Language lang);
std::string_view packet_stopped_text(Language lang);
std::string_view packet_empty_text(Language lang);

// Row limits of one entry.
inline constexpr std::size_t kMaxSessionRows = 600;
inline constexpr std::size_t kMaxPacketRows = 300;

// One row of the session list as displayed, nine columns; the ninth is the
// owning process label ("%s(%d)").
using SessionLogRow = std::array<std::string, 9>;

// "$SESSION$" from a snapshot of the session list, taken by the Session
// Monitor on the thread that writes the log, and "$CONNECTIONS$".
class SessionRowsSource final : public LogSource {
 public:
  // rows: the list in list order, or nullptr while the Session Monitor is not
  // running; it must outlive the entry. The connection count is the monitor's
  // last one, given even when it is stopped.
  SessionRowsSource(const std::vector<SessionLogRow>* rows, int connection_count, Language lang)
      : rows_(rows), connections_(connection_count), lang_(lang) {}

  bool fill(LogKind kind, std::string_view entry_template, EntryValues& values) override;
  void entry_written(LogKind) override {}

 private:
  const std::vector<SessionLogRow>* rows_;
  int connections_;
  Language lang_;
};

// One row of the packet list as displayed, twelve columns.
using PacketLogRow = std::array<std::string, 12>;

// The Packet Monitor's list as the log writer sees it. Both calls come from
// the log writer's thread while it holds its lock; an implementation shared
// with a capture thread guards its list itself.
class PacketLogList {
 public:
  virtual ~PacketLogList() = default;
  // The first `limit` rows in list order (fewer when the list is shorter).
  virtual std::vector<PacketLogRow> rows(std::size_t limit) const = 0;
  // Removes every row from the list.
  virtual void clear() = 0;
};

// "$IP_PACKET$" from the list of a running Packet Monitor. Logging consumes the
// captured packets: an entry whose template names the variable takes the
// first rows, and the list is emptied once that entry has reached its file.
// An entry that was skipped or could not be written leaves the rows in the
// list for the next one; other entries leave it alone.
class PacketRowsSource final : public LogSource {
 public:
  PacketRowsSource(PacketLogList& list, Language lang) : list_(list), lang_(lang) {}

  bool fill(LogKind kind, std::string_view entry_template, EntryValues& values) override;
  void entry_written(LogKind) override;

 private:
  PacketLogList& list_;
  Language lang_;
  bool consumed_ = false;  // the entry being written took rows
};

}  // namespace tw::logging
