#include "logging/log_engine.h"

#include <optional>
#include <utility>

#include "logging/row_sources.h"
#include "settings/shared_keys.h"

namespace tw::logging {

namespace {

// Default entry templates, in the form they are stored in the settings file.
constexpr std::string_view kTrafficFmtEn =
    "----- Traffic Log $DATE$ $TIME$ -----$CRLF$"
    "Capture time                 $CAPTURE_TIME$$CRLF$"
    "Total Upload                 $TOTAL_SEND$$CRLF$"
    "Total Download               $TOTAL_RECV$$CRLF$"
    "Total gross Upload           $TOTAL_SEND_ALL$$CRLF$"
    "Total gross Download         $TOTAL_RECV_ALL$$CRLF$"
    "Average Rend speed           $TOTAL_SEND_AVE$$CRLF$"
    "Average Received speed       $TOTAL_RECV_AVE$$CRLF$"
    "Instantaneous Send speed     $GRAPH_SEND_AVE$$CRLF$"
    "Instantaneous Received speed $GRAPH_RECV_AVE$$CRLF$"
    "Maximum Send speed           $GRAPH_SEND_MAX$$CRLF$"
    "Maximum Received speed       $GRAPH_RECV_MAX$$CRLF$";
constexpr std::string_view kPacketFmtEn =
    "----- Packet Log $DATE$ $TIME$ -----$CRLF$"
    "$IP_PACKET$$CRLF$";
constexpr std::string_view kSessionFmtEn =
    "----- Session Log $DATE$ $TIME$ -----$CRLF$"
    "$SESSION$$CRLF$"
    "Connections: $CONNECTIONS$$CRLF$";
constexpr std::string_view kReportFmt =
    "$YYYY$$MM$$DD$,$HH$$MI$$SS$,$TOTAL_SEND_DIS$,$TOTAL_RECV_DIS$,";
constexpr std::string_view kTrafficFmtJa =
    "----- トラフィックログ取得日時 $DATE$ $TIME$ -----$CRLF$"
    "キャプチャ時間 $CAPTURE_TIME$$CRLF$"
    "総送信量       $TOTAL_SEND$$CRLF$"
    "総受信量       $TOTAL_RECV$$CRLF$"
    "総送信量累計   $TOTAL_SEND_ALL$$CRLF$"
    "総受信量累計   $TOTAL_RECV_ALL$$CRLF$"
    "平均送信速度   $TOTAL_SEND_AVE$$CRLF$"
    "平均受信速度   $TOTAL_RECV_AVE$$CRLF$"
    "瞬間送信速度   $GRAPH_SEND_AVE$$CRLF$"
    "瞬間受信速度   $GRAPH_RECV_AVE$$CRLF$"
    "最大送信速度   $GRAPH_SEND_MAX$$CRLF$"
    "最大受信速度   $GRAPH_RECV_MAX$$CRLF$";
constexpr std::string_view kPacketFmtJa =
    "----- IP監視ログ 取得日時 $DATE$ $TIME$ -----$CRLF$"
    "$IP_PACKET$$CRLF$";
constexpr std::string_view kSessionFmtJa =
    "----- セッションログ 取得日時 $DATE$ $TIME$ -----$CRLF$"
    "$SESSION$$CRLF$"
    "接続数: $CONNECTIONS$$CRLF$";

constexpr std::array<std::string_view, kLogKindCount> kSections = {"Traffic", "Surveil", "Session",
                                                                   "Report"};
constexpr std::array<std::string_view, kLogKindCount> kFileNames = {
    "tarnix_traffic$YYYY$$MM$.log", "tarnix_ip$YYYY$$MM$.log", "tarnix_session$YYYY$$MM$.log",
    "tarnix_report$YYYY$$MM$.log"};

bool valid(LogKind kind) {
  const int i = static_cast<int>(kind);
  return i >= 0 && i < kLogKindCount;
}

std::string marker_line(const DateTexts& date, std::string_view what) {
  std::string line = "# [ ";
  line += date.date;
  line += ' ';
  line += date.time;
  line += " ] ";
  line += what;
  line += '\n';
  return line;
}

}  // namespace

std::string_view log_section(LogKind kind) { return kSections[log_index(kind)]; }

std::string_view default_log_file_name(LogKind kind) { return kFileNames[log_index(kind)]; }

std::string_view default_log_fmt(LogKind kind, Language lang) {
  switch (kind) {
    case LogKind::Packet:
      return pick(lang, kPacketFmtEn, kPacketFmtJa);
    case LogKind::Session:
      return pick(lang, kSessionFmtEn, kSessionFmtJa);
    case LogKind::Report:
      return kReportFmt;
    case LogKind::Traffic:
    default:
      return pick(lang, kTrafficFmtEn, kTrafficFmtJa);
  }
}

namespace {
constexpr std::string_view kLogCheck = "LogCheck";
}  // namespace

LogBlock load_log_block(const settings::Profile& p, LogKind kind, Language lang) {
  const std::string_view section = log_section(kind);
  LogBlock b;
  b.log_check = load_log_check(p, kind);
  b.log_sound = p.read_int(section, "LogSound", 0) != 0;
  b.log_write_mode = p.read_int(section, "LogWriteMode", 0);
  b.log_file_name = p.read_string(section, "LogFileName", default_log_file_name(kind));
  b.log_cycle_time = p.read_int(section, "LogCycleTime", 60);
  b.log_fmt = template_from_stored(p.read_string(section, "LogFmt", default_log_fmt(kind, lang)));
  return b;
}

void save_log_block(settings::Profile& p, LogKind kind, const LogBlock& b) {
  const std::string_view section = log_section(kind);
  save_log_check(p, kind, b.log_check);
  p.write_string(section, "LogFileName", b.log_file_name);
  p.write_int(section, "LogSound", b.log_sound ? 1 : 0);
  p.write_int(section, "LogCycleTime", b.log_cycle_time);
  p.write_string(section, "LogFmt", template_to_stored(b.log_fmt));
  p.write_int(section, "LogWriteMode", b.log_write_mode);
}

bool load_log_check(const settings::Profile& p, LogKind kind) {
  return p.read_int(log_section(kind), kLogCheck, 0) != 0;
}

void save_log_check(settings::Profile& p, LogKind kind, bool on) {
  p.write_int(log_section(kind), kLogCheck, on ? 1 : 0);
}

std::string load_log_root_folder(const settings::Profile& p) {
  return p.read_string(settings::kSettingsSection, "LogRootFolder", "");
}

void save_log_root_folder(settings::Profile& p, std::string_view folder) {
  p.write_string(settings::kSettingsSection, "LogRootFolder", folder);
}

LogEngine::LogEngine(settings::Profile& profile, platform::FileStore& files,
                     platform::Clock& clock, platform::Beeper& beeper, Language lang,
                     std::string data_folder)
    : profile_(profile),
      files_(files),
      clock_(clock),
      beeper_(beeper),
      lang_(lang),
      data_folder_(std::move(data_folder)) {
  if (!data_folder_.empty() && data_folder_.back() != '/') data_folder_ += '/';
  for (int i = 0; i < kLogKindCount; ++i) {
    const auto kind = static_cast<LogKind>(i);
    blocks_[i].log_file_name = std::string(default_log_file_name(kind));
    blocks_[i].log_fmt = template_from_stored(default_log_fmt(kind, lang_));
  }
}

void LogEngine::load_settings() {
  std::array<LogBlock, kLogKindCount> blocks;
  for (int i = 0; i < kLogKindCount; ++i) blocks[i] = load_log_block(profile_, static_cast<LogKind>(i), lang_);
  std::string root = load_log_root_folder(profile_);

  std::lock_guard lock(mutex_);
  blocks_ = std::move(blocks);
  root_folder_ = std::move(root);
}

const LogBlock& LogEngine::block(LogKind kind) const { return blocks_[log_index(kind)]; }

std::string LogEngine::path_for(const LogBlock& block, const DateTexts& date) const {
  const std::string name = expand_file_name(block.log_file_name, date);
  // Only an absolute folder counts; the name is appended without a separator.
  const std::string& folder =
      (!root_folder_.empty() && root_folder_.front() == '/') ? root_folder_ : data_folder_;
  return folder + name;
}

std::string LogEngine::log_path(LogKind kind, const platform::LocalTime& when) const {
  return path_for(block(kind), date_texts(when));
}

void LogEngine::set_warn(std::function<void(const std::string&)> warn,
                         std::function<void(const std::string&)> recovered) {
  warn_ = std::move(warn);
  recovered_ = std::move(recovered);
}

namespace {
// How a message names a log.
std::string log_title(LogKind kind) {
  static constexpr std::array<std::string_view, kLogKindCount> kTitles = {"traffic", "packet", "session", "report"};
  return std::string(kTitles[log_index(kind)]);
}
}  // namespace

void LogEngine::report(LogKind kind, const std::string& path, const std::string& why) {
  bool& failing = failing_[log_index(kind)];
  if (failing) return;
  failing = true;
  if (warn_) warn_("the " + log_title(kind) + " log " + path + " cannot be written: " + why);
}

bool LogEngine::write_entry(LogKind kind, Marker marker, std::span<LogSource* const> sources) {
  if (!valid(kind) || data_folder_.empty()) return false;
  std::lock_guard lock(mutex_);

  const LogBlock& b = blocks_[log_index(kind)];
  const DateTexts date = date_texts(clock_.local_now());  // one instant for the whole entry
  const std::string path = path_for(b, date);

  // The guard looks at the file system the entry goes to (the log root
  // folder may be another one than the data folder's). Unknown free space
  // counts as too little.
  const std::string folder = path.substr(0, path.find_last_of('/') + 1);
  const Result<std::uint64_t> free = files_.free_bytes(folder);
  if (!free) {
    report(kind, path, "the free space of " + folder + " cannot be read (" + free.error().detail + ")");
    return false;
  }
  if (*free < kMinFreeBytes) {
    report(kind, path, "less than 64 KiB is free in " + folder);
    return false;
  }

  EntryValues values;
  for (LogSource* source : sources) {
    if (source != nullptr && !source->fill(kind, b.log_fmt, values)) return false;
  }
  // The monitors that gave nothing are not running.
  const std::pair<std::string_view, std::string_view> stopped[] = {
      {"$SESSION$", session_stopped_text(lang_)},
      {"$CONNECTIONS$", "0"},
      {"$IP_PACKET$", packet_stopped_text(lang_)},
  };
  for (const auto& [name, text] : stopped) {
    if (!values.has(name)) values.set(name, std::string(text));
  }

  // Markers, entry and its line feed go out in one write, which the store
  // makes whole or nothing.
  std::string content;
  if (marker == Marker::Start) content += marker_line(date, "Start-Log");
  content += expand_entry(b.log_fmt, date, values);
  content += '\n';
  if (marker == Marker::End) content += marker_line(date, "End-Log");

  // The sources hear of the entry only when it reached the file, so a failed
  // write (full disk, missing folder) does not count as a previous entry.
  if (const Status written = files_.write(path, content, b.log_write_mode != 0); !written) {
    report(kind, path, written.error().detail);
    return false;
  }
  if (failing_[log_index(kind)]) {
    failing_[log_index(kind)] = false;
    if (recovered_) recovered_("the " + log_title(kind) + " log " + path + " is written again");
  }
  for (LogSource* source : sources) {
    if (source != nullptr) source->entry_written(kind);
  }
  if (b.log_sound) beeper_.beep();
  return true;
}

}  // namespace tw::logging
