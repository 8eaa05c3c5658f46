#pragma once
// What the monitors hand the log writer for one entry. The Traffic Monitor
// gives its statistics texts; the Session and Packet Monitors give their list
// rows when they are running (nullptr when they are not).
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "traffic/statistics_texts.h"

namespace tw::logging {

// One row of the session list as displayed, nine columns; the ninth is the
// owning process label ("%s(%d)").
using SessionLogRow = std::array<std::string, 9>;

// A snapshot of the session list in list order, taken by the Session Monitor
// on the thread that writes the log.
struct SessionLogData {
  std::vector<SessionLogRow> rows;
};

// One row of the packet list as displayed, twelve columns.
using PacketLogRow = std::array<std::string, 12>;

// The Packet Monitor's list as the log writer sees it. Logging consumes the
// captured packets: after taking the rows of an entry the writer calls
// clear(). Both calls come from the log writer's thread while it holds its
// lock; an implementation shared with a capture thread guards its list itself.
class PacketLogSource {
 public:
  virtual ~PacketLogSource() = default;
  // The first `limit` rows in list order (fewer when the list is shorter).
  virtual std::vector<PacketLogRow> rows(std::size_t limit) const = 0;
  // Removes every row from the list.
  virtual void clear() = 0;
};

struct LogSources {
  const traffic::StatisticsTexts* traffic = nullptr;  // required; nullptr: no entry is written
  const SessionLogData* session = nullptr;  // nullptr: the Session Monitor is not running
  PacketLogSource* packet = nullptr;        // nullptr: the Packet Monitor is not running
  int connection_count = 0;                 // the Session Monitor's last count, even when stopped
};

}  // namespace tw::logging
