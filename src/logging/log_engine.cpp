#include "logging/log_engine.h"

#include <algorithm>
#include <optional>
#include <utility>

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

// Out-of-range kinds (a bad cast) are read as the traffic log rather than
// indexing past the tables.
std::size_t index_of(LogKind kind) {
  return valid(kind) ? static_cast<std::size_t>(kind) : 0;
}

// Rows are written "%s %s ... %s": the cells joined by single blanks.
template <std::size_t N>
void append_row(std::string& out, const std::array<std::string, N>& row) {
  for (std::size_t c = 0; c < N; ++c) {
    if (c) out += ' ';
    out += row[c];
  }
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

std::string_view log_section(LogKind kind) { return kSections[index_of(kind)]; }

std::string_view default_log_file_name(LogKind kind) { return kFileNames[index_of(kind)]; }

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
  for (int i = 0; i < kLogKindCount; ++i) {
    const auto kind = static_cast<LogKind>(i);
    const std::string_view section = log_section(kind);
    LogBlock& b = blocks[i];
    b.log_check = profile_.read_int(section, "LogCheck", 0) != 0;
    b.log_sound = profile_.read_int(section, "LogSound", 0) != 0;
    b.log_write_mode = profile_.read_int(section, "LogWriteMode", 0);
    b.log_file_name = profile_.read_string(section, "LogFileName", default_log_file_name(kind));
    b.log_cycle_time = profile_.read_int(section, "LogCycleTime", 60);
    b.log_fmt = template_from_stored(
        profile_.read_string(section, "LogFmt", default_log_fmt(kind, lang_)));
  }
  std::string root = profile_.read_string("Settings", "LogRootFolder", "");

  std::lock_guard lock(mutex_);
  blocks_ = std::move(blocks);
  root_folder_ = std::move(root);
}

const LogBlock& LogEngine::block(LogKind kind) const { return blocks_[index_of(kind)]; }

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

std::string LogEngine::session_text(const std::string& fmt, const SessionLogData* data) const {
  if (data == nullptr) return std::string(session_stopped_text(lang_));
  if (fmt.find("$SESSION$") == std::string::npos) return {};
  if (data->rows.empty()) return std::string(session_empty_text(lang_));
  std::string text;
  const std::size_t n = std::min(data->rows.size(), kMaxSessionRows);
  for (std::size_t r = 0; r < n; ++r) {
    if (r) text += '\n';
    append_row(text, data->rows[r]);
  }
  return text;
}

std::string LogEngine::packet_text(const std::string& fmt, PacketLogSource* source) const {
  // Rows are taken (and consumed) only when the template asks for them.
  if (source == nullptr || fmt.find("$IP_PACKET$") == std::string::npos) {
    return std::string(packet_stopped_text(lang_));
  }
  const std::vector<PacketLogRow> rows = source->rows(kMaxPacketRows);
  if (rows.empty()) return std::string(packet_empty_text(lang_));
  std::string text;
  const std::size_t n = std::min(rows.size(), kMaxPacketRows);
  for (std::size_t r = 0; r < n; ++r) {
    if (r) text += '\n';
    append_row(text, rows[r]);
  }
  source->clear();
  return text;
}

bool LogEngine::write_entry(LogKind kind, Marker marker, const LogSources& sources) {
  if (!valid(kind) || sources.traffic == nullptr || data_folder_.empty()) return false;
  std::lock_guard lock(mutex_);

  // The guard looks at the data folder's file system even when the logs go
  // elsewhere. Unknown free space counts as too little.
  const std::optional<std::uint64_t> free = files_.free_bytes(data_folder_);
  if (!free || *free < kMinFreeBytes) return false;

  const std::size_t i = index_of(kind);
  const LogBlock& b = blocks_[i];
  const DateTexts date = date_texts(clock_.local_now());  // one instant for the whole entry
  const std::string path = path_for(b, date);

  const std::string session = session_text(b.log_fmt, sources.session);
  const std::string packet = packet_text(b.log_fmt, sources.packet);

  // Bytes since this log's previous entry. Totals below the baseline mean the
  // statistics were restarted in between: then everything since the restart.
  const std::uint64_t send = sources.traffic->capture_send;
  const std::uint64_t recv = sources.traffic->capture_recv;
  Baseline& base = baselines_[i];
  const std::uint64_t d_send = send >= base.send ? send - base.send : send;
  const std::uint64_t d_recv = recv >= base.recv ? recv - base.recv : recv;
  const std::string send_dis = std::to_string(d_send);
  const std::string recv_dis = std::to_string(d_recv);
  const std::string connections = std::to_string(sources.connection_count);

  EntryValues values;
  values.traffic = sources.traffic;
  values.session = session;
  values.connections = connections;
  values.ip_packet = packet;
  values.send_dis = send_dis;
  values.recv_dis = recv_dis;

  // Markers, entry and its line feed go out in one write.
  std::string content;
  if (marker == Marker::Start) content += marker_line(date, "Start-Log");
  content += expand_entry(b.log_fmt, date, values);
  content += '\n';
  if (marker == Marker::End) content += marker_line(date, "End-Log");

  // The baselines move on only with an entry that reached the file, so a
  // failed write (full disk, missing folder) does not drop those bytes from
  // the report: the next entry that is written carries them.
  if (!files_.write(path, content, b.log_write_mode != 0)) return false;
  base = {send, recv};
  if (b.log_sound) beeper_.beep();
  return true;
}

void LogEngine::reset_baselines() {
  std::lock_guard lock(mutex_);
  baselines_ = {};
}

}  // namespace tw::logging
