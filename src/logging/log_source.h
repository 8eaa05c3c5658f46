#pragma once
// What the log writer knows of the parts of the program whose figures go into
// the logs: each of them gives the values of its own template variables
// through a LogSource. The writer itself fills only the date and time.
#include <cstddef>
#include <string_view>

#include "logging/template.h"

namespace tw::logging {

enum class LogKind { Traffic = 0, Packet = 1, Session = 2, Report = 3 };
inline constexpr int kLogKindCount = 4;

// The index of a log in per-log tables. Out-of-range kinds (a bad cast) are
// read as the traffic log rather than indexing past the tables.
constexpr std::size_t log_index(LogKind kind) {
  const int i = static_cast<int>(kind);
  return i >= 0 && i < kLogKindCount ? static_cast<std::size_t>(i) : 0;
}

// Both calls come from the thread that writes the logs while the writer holds
// its lock, so one entry sees one consistent state of every source.
class LogSource {
 public:
  virtual ~LogSource() = default;

  // Puts the values of this source's variables for one entry of `kind` into
  // `values`. `entry_template` is the log's loaded template: a source whose
  // values cost something, or consume data, looks first whether the template
  // names them. Returns false when the source cannot give its values now: the
  // entry is skipped and the sources after it are not asked, so a source that
  // consumes data belongs after those that may refuse.
  virtual bool fill(LogKind kind, std::string_view entry_template, EntryValues& values) = 0;

  // The entry that fill() contributed to reached its file. Not called for an
  // entry that was skipped or could not be written.
  virtual void entry_written(LogKind kind) = 0;
};

}  // namespace tw::logging
