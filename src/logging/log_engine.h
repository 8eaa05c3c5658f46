#pragma once
// The one writer of the four template-driven logs (traffic, packet, session,
// traffic report). Each entry is built from the log's templates and written to
// its file in one operation; no file stays open between entries.
//
// The values of the variables come from the log sources the caller passes
// with each entry (log_source.h); the engine knows their names and order only.
//
// Threads: everything is called from the main thread, which owns the settings
// and sounds the beep. load_settings() and write_entry() also take the
// engine's own lock, so an entry is always built from one consistent set of
// blocks, and the sources are asked under it.
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "base/language.h"
#include "logging/log_source.h"
#include "logging/template.h"
#include "platform/beeper.h"
#include "platform/clock.h"
#include "platform/file_store.h"
#include "settings/profile.h"

namespace tw::logging {

// Marker lines around an entry: Start before it, End after it.
enum class Marker { None = 0, Start = 1, End = 2 };

// A log's settings block, as loaded.
struct LogBlock {
  bool log_check = false;      // "LogCheck": the caller writes this log
  bool log_sound = false;      // "LogSound": beep after each written entry
  int log_write_mode = 0;      // "LogWriteMode": 0 appends, anything else keeps only the newest entry
  std::string log_file_name;   // "LogFileName": file-name template
  int log_cycle_time = 60;     // "LogCycleTime": seconds between entries
  std::string log_fmt;         // "LogFmt": entry template, line breaks as "\r\n"
  bool operator==(const LogBlock&) const = default;
};

// Settings section of a log: "Traffic", "Surveil", "Session", "Report".
std::string_view log_section(LogKind kind);
// Default "LogFileName" of a log.
std::string_view default_log_file_name(LogKind kind);
// Default "LogFmt" of a log in the stored form (line breaks as "$CRLF$").
std::string_view default_log_fmt(LogKind kind, Language lang);

// Reads a log's block; missing keys give the defaults above (the template in
// its edited form, line breaks as "\r\n").
LogBlock load_log_block(const settings::Profile& profile, LogKind kind, Language lang);
// Writes every key of the block (the template back in its stored form).
void save_log_block(settings::Profile& profile, LogKind kind, const LogBlock& block);
// "LogCheck" alone: the Report page and the shut-down switch the Report log
// without touching the rest of its block.
bool load_log_check(const settings::Profile& profile, LogKind kind);
void save_log_check(settings::Profile& profile, LogKind kind, bool on);
// "Settings"/"LogRootFolder": the folder the logs go to ("" = data folder).
std::string load_log_root_folder(const settings::Profile& profile);
void save_log_root_folder(settings::Profile& profile, std::string_view folder);

// No entry is written while the file system the log goes to has less free
// space than this, or when its free space cannot be read.
inline constexpr std::uint64_t kMinFreeBytes = 65536;

class LogEngine {
 public:
  // data_folder: the program's data folder, ending with '/' (one is added when
  // it does not). Every referenced object must outlive the engine.
  LogEngine(settings::Profile& profile, platform::FileStore& files, platform::Clock& clock,
            platform::Beeper& beeper, Language lang, std::string data_folder);

  // (Re)reads the four log blocks and "Settings"/"LogRootFolder".
  void load_settings();

  const LogBlock& block(LogKind kind) const;
  const std::string& log_root_folder() const { return root_folder_; }

  // The file an entry of `kind` written at `when` goes to: the expanded
  // "LogFileName" in the log root folder when that is an absolute path
  // (the name is appended as it is, so the folder should end in '/'),
  // otherwise in the data folder.
  std::string log_path(LogKind kind, const platform::LocalTime& when) const;

  // Builds and writes one entry of `kind` with the values the sources give,
  // asked in the order passed. Whatever no source gives is empty, except
  // "$SESSION$" and "$IP_PACKET$", which show that their monitor is stopped,
  // and "$CONNECTIONS$", which is 0. The caller decides whether the log is on
  // ("LogCheck"). Returns true when the entry was written, and only then are
  // the sources told. An entry reaches the file whole or not at all. Too
  // little (or unknown) free space where the log goes, a source that cannot
  // give its values or a file that cannot be written skip the entry; the
  // first skip of a log for want of space or for a failed write is told to
  // the warn function (naming the file and why), later ones are not until an
  // entry of that log was written again.
  bool write_entry(LogKind kind, Marker marker, std::span<LogSource* const> sources);

  // Where a log that cannot be written is told (once, see write_entry), and
  // where that it is written again. Either may be empty (the default): that
  // is then not told.
  void set_warn(std::function<void(const std::string&)> warn,
                std::function<void(const std::string&)> recovered = {});

 private:
  std::string path_for(const LogBlock& block, const DateTexts& date) const;
  void report(LogKind kind, const std::string& path, const std::string& why);

  settings::Profile& profile_;
  platform::FileStore& files_;
  platform::Clock& clock_;
  platform::Beeper& beeper_;
  const Language lang_;
  std::string data_folder_;

  std::array<LogBlock, kLogKindCount> blocks_;
  std::string root_folder_;

  std::function<void(const std::string&)> warn_, recovered_;
  std::array<bool, kLogKindCount> failing_{};  // told, and not written since

  std::mutex mutex_;  // held for a whole entry
};

}  // namespace tw::logging
