#include "logging/log_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "logging/row_sources.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "traffic/traffic_log_source.h"

namespace tw::logging {
namespace {

const platform::LocalTime kMarch5{2024, 3, 5, 9, 7, 3};
constexpr char kIni[] = "/data/tarnix_u@h.ini";
constexpr char kReportFile[] = "/data/tarnix_report202403.log";
constexpr char kStart[] = "# [ 2024/03/05 09:07:03 ] Start-Log\n";
constexpr char kEnd[] = "# [ 2024/03/05 09:07:03 ] End-Log\n";

class CountingBeeper : public platform::Beeper {
 public:
  void beep() override { ++beeps; }
  int beeps = 0;
};

class FakePacketList : public PacketLogList {
 public:
  std::vector<PacketLogRow> rows(std::size_t limit) const override {
    return {list.begin(), list.begin() + std::min(limit, list.size())};
  }
  void clear() override { list.clear(); }
  std::vector<PacketLogRow> list;
};

// The first characters of `s`, as many as `prefix` has.
std::string head(const std::string& s, const std::string& prefix) { return s.substr(0, prefix.size()); }

int count_lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

// Gives fixed values, or refuses, and counts what the writer asks of it.
class FixedSource : public LogSource {
 public:
  explicit FixedSource(std::vector<std::pair<std::string, std::string>> values, bool ready = true)
      : values_(std::move(values)), ready_(ready) {}
  bool fill(LogKind, std::string_view, EntryValues& values) override {
    ++fills;
    for (const auto& [name, value] : values_) values.set(name, value);
    return ready_;
  }
  void entry_written(LogKind) override { ++written; }
  int fills = 0;
  int written = 0;

 private:
  std::vector<std::pair<std::string, std::string>> values_;
  bool ready_;
};

class LogEngineTest : public ::testing::Test {
 protected:
  LogEngineTest() { clock.set_wall(kMarch5); }

  std::unique_ptr<LogEngine> engine(Language lang = Language::English) {
    auto e = std::make_unique<LogEngine>(profile, files, clock, beeper, lang, "/data");
    e->load_settings();
    return e;
  }
  void ini(const std::string& text) { files.files[kIni] = text; }
  // An entry with the traffic source first, as the program passes it.
  bool write(LogEngine& e, LogKind kind, Marker marker = Marker::None,
             std::initializer_list<LogSource*> more = {}) {
    std::vector<LogSource*> sources{&traffic_source};
    sources.insert(sources.end(), more);
    return e.write_entry(kind, marker, sources);
  }
  void totals(std::uint64_t send, std::uint64_t recv) {
    traffic.capture_send = send;
    traffic.capture_recv = recv;
  }
  const std::string& file(const std::string& path) { return files.files[path]; }

  platform::FakeFileStore files;
  platform::FakeClock clock;
  CountingBeeper beeper;
  settings::Profile profile{files, kIni};
  traffic::StatisticsTexts traffic;
  bool have_texts = true;
  traffic::TrafficLogSource traffic_source{[this]() -> std::optional<traffic::StatisticsTexts> {
    if (!have_texts) return std::nullopt;
    return traffic;
  }};
};

TEST_F(LogEngineTest, LoadsBlocksAndConvertsLineBreaks) {
  ini("[Surveil]\nLogCheck=1\nLogSound=1\nLogWriteMode=2\nLogFileName=ip.log\nLogCycleTime=5\n"
      "LogFmt=a$CRLF$b\n");
  auto e = engine();
  const LogBlock& p = e->block(LogKind::Packet);
  EXPECT_TRUE(p.log_check);
  EXPECT_TRUE(p.log_sound);
  EXPECT_EQ(p.log_write_mode, 2);
  EXPECT_EQ(p.log_file_name, "ip.log");
  EXPECT_EQ(p.log_cycle_time, 5);
  EXPECT_EQ(p.log_fmt, "a\r\nb");

  EXPECT_TRUE(write(*e, LogKind::Packet));
  EXPECT_EQ(file("/data/ip.log"), "a\nb\n");
}

TEST_F(LogEngineTest, JapaneseDefaults) {
  auto e = engine(Language::Japanese);
  const std::string traffic_head =
      "----- トラフィックログ取得日時 $DATE$ $TIME$ -----\r\nキャプチャ時間 $CAPTURE_TIME$\r\n";
  EXPECT_EQ(head(e->block(LogKind::Traffic).log_fmt, traffic_head), traffic_head);
  FakePacketList empty;
  SessionRowsSource stopped(nullptr, 3, Language::Japanese);
  PacketRowsSource packets(empty, Language::Japanese);
  ASSERT_TRUE(write(*e, LogKind::Session, Marker::None, {&stopped, &packets}));
  ASSERT_TRUE(write(*e, LogKind::Packet, Marker::None, {&stopped, &packets}));
  EXPECT_EQ(file("/data/tarnix_session202403.log"),
            "----- セッションログ 取得日時 2024/03/05 09:07:03 -----\n"
            "セッションモニターは停止中です。\n接続数: 3\n\n");
  EXPECT_EQ(file("/data/tarnix_ip202403.log"),
            "----- IP監視ログ 取得日時 2024/03/05 09:07:03 -----\nパケットデータはありません。\n\n");
}

TEST_F(LogEngineTest, FileNamesAndRootFolder) {
  auto e = engine();
  EXPECT_EQ(e->log_path(LogKind::Traffic, kMarch5), "/data/tarnix_traffic202403.log");
  const std::pair<std::string, std::string> cases[] = {
      {"/var/logs/", "/var/logs/tarnix_traffic202403.log"},
      {"/var/logs", "/var/logstarnix_traffic202403.log"},  // appended as it is
      {"logs/", "/data/tarnix_traffic202403.log"},          // relative: ignored
      {"~/logs/", "/data/tarnix_traffic202403.log"},
  };
  for (const auto& [root, path] : cases) {
    ini("[Settings]\nLogRootFolder=" + root + "\n");
    e->load_settings();
    EXPECT_EQ(e->log_path(LogKind::Traffic, kMarch5), path) << root;
    files.files.erase(path);
    EXPECT_TRUE(write(*e, LogKind::Traffic));
    EXPECT_TRUE(files.files.count(path)) << root;
  }
}

TEST_F(LogEngineTest, ReportLinesMarkersAndDifferences) {
  auto e = engine();
  totals(1000, 2000);
  ASSERT_TRUE(write(*e, LogKind::Report, Marker::Start));
  totals(1500, 2600);
  ASSERT_TRUE(write(*e, LogKind::Report));
  totals(300, 100);  // statistics restarted: below the previous totals
  ASSERT_TRUE(write(*e, LogKind::Report));
  ASSERT_TRUE(write(*e, LogKind::Report, Marker::End));
  EXPECT_EQ(file(kReportFile), std::string(kStart) +
                                   "20240305,090703,1000,2000,\n"
                                   "20240305,090703,500,600,\n"
                                   "20240305,090703,300,100,\n"
                                   "20240305,090703,0,0,\n" +
                                   kEnd);

  // Each log keeps its own baselines; a reset forgets them all.
  ini("[Traffic]\nLogFmt=$TOTAL_SEND_DIS$/$TOTAL_RECV_DIS$\n");
  e->load_settings();
  ASSERT_TRUE(write(*e, LogKind::Traffic));
  EXPECT_EQ(file("/data/tarnix_traffic202403.log"), "300/100\n");
  traffic_source.reset_baselines();
  files.files.erase(kReportFile);
  ASSERT_TRUE(write(*e, LogKind::Report));
  EXPECT_EQ(file(kReportFile), "20240305,090703,300,100,\n");
}

TEST_F(LogEngineTest, OverwriteModeKeepsTheNewestEntryWithItsMarkers) {
  ini("[Report]\nLogWriteMode=1\n");
  auto e = engine();
  totals(10, 20);
  ASSERT_TRUE(write(*e, LogKind::Report, Marker::Start));
  EXPECT_EQ(file(kReportFile), std::string(kStart) + "20240305,090703,10,20,\n");
  clock.set_wall({2024, 3, 5, 9, 8, 3});
  ASSERT_TRUE(write(*e, LogKind::Report));
  EXPECT_EQ(file(kReportFile), "20240305,090803,0,0,\n");
  clock.set_wall(kMarch5);
  ASSERT_TRUE(write(*e, LogKind::Report, Marker::End));
  EXPECT_EQ(file(kReportFile), std::string("20240305,090703,0,0,\n") + kEnd);
}

TEST_F(LogEngineTest, SkippedEntries) {
  ini("[Report]\nLogSound=1\n");
  auto e = engine();
  totals(100, 200);

  // Too little or unknown free space: nothing written, differences kept.
  files.free = kMinFreeBytes - 1;
  EXPECT_FALSE(write(*e, LogKind::Report));
  files.free = std::nullopt;
  EXPECT_FALSE(write(*e, LogKind::Report));
  EXPECT_EQ(files.files.count(kReportFile), 0u);
  EXPECT_EQ(beeper.beeps, 0);
  files.free = kMinFreeBytes;
  ASSERT_TRUE(write(*e, LogKind::Report));
  EXPECT_EQ(file(kReportFile), "20240305,090703,100,200,\n");
  EXPECT_EQ(beeper.beeps, 1);

  // A file that cannot be written: silent, no beep, and the bytes of the lost
  // entry are carried by the next one that is written.
  totals(150, 260);
  files.unwritable.insert(kReportFile);
  EXPECT_FALSE(write(*e, LogKind::Report));
  EXPECT_EQ(beeper.beeps, 1);
  files.unwritable.clear();
  totals(170, 300);
  ASSERT_TRUE(write(*e, LogKind::Report));
  EXPECT_EQ(file(kReportFile), "20240305,090703,100,200,\n20240305,090703,70,100,\n");
  EXPECT_EQ(beeper.beeps, 2);

  // No traffic texts, or any source that cannot give its values: no entry,
  // the sources after it are not asked (the packets stay in their list) and
  // none hears of an entry.
  totals(200, 400);
  FixedSource counted({});
  FakePacketList packets;
  packets.list.assign(1, {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"});
  PacketRowsSource packet_source(packets, Language::English);
  ini("[Report]\nLogFmt=$IP_PACKET$ $TOTAL_SEND_DIS$\n");
  e->load_settings();
  files.files.clear();
  have_texts = false;
  EXPECT_FALSE(write(*e, LogKind::Report, Marker::None, {&counted, &packet_source}));
  have_texts = true;
  FixedSource refusing({}, false);
  EXPECT_FALSE(write(*e, LogKind::Report, Marker::None, {&counted, &refusing, &packet_source}));
  EXPECT_TRUE(files.files.empty());
  EXPECT_EQ(packets.list.size(), 1u);
  EXPECT_EQ(counted.fills, 1);
  EXPECT_EQ(counted.written, 0);
  ASSERT_TRUE(write(*e, LogKind::Report, Marker::None, {&counted, &packet_source}));
  EXPECT_EQ(file(kReportFile), "a b c d e f g h i j k l 30\n");
  EXPECT_EQ(counted.written, 1);
}

// The guard looks where the entry goes, and a log that cannot be written is
// said once per failing stretch, naming the file and why.
TEST_F(LogEngineTest, TheLogsOwnFolderIsCheckedAndAFailureIsSaidOnce) {
  ini("[Settings]\nLogRootFolder=/mnt/logs/\n[Report]\nLogFileName=r.log\n");
  auto e = engine();
  std::vector<std::string> said;
  e->set_warn([&](const std::string& t) { said.push_back(t); }, [&](const std::string& t) { said.push_back("+" + t); });
  totals(10, 20);
  // The data folder has room, the log folder has not.
  files.free_at["/data/"] = std::uint64_t{1} << 30;
  files.free_at["/mnt/logs/"] = kMinFreeBytes - 1;
  EXPECT_FALSE(write(*e, LogKind::Report));
  EXPECT_FALSE(write(*e, LogKind::Report));
  EXPECT_EQ(files.free_asked.back(), "/mnt/logs/");
  EXPECT_EQ(files.files.count("/mnt/logs/r.log"), 0u);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0], "the report log /mnt/logs/r.log cannot be written: less than 64 KiB is free in /mnt/logs/");

  // A failed write is said too (once), and so is the recovery.
  files.free_at["/mnt/logs/"] = kMinFreeBytes;
  ASSERT_TRUE(write(*e, LogKind::Report));
  files.unwritable.insert("/mnt/logs/r.log");
  files.write_errno = ENOSPC;
  EXPECT_FALSE(write(*e, LogKind::Report));
  EXPECT_FALSE(write(*e, LogKind::Report));
  files.unwritable.clear();
  ASSERT_TRUE(write(*e, LogKind::Report));
  ASSERT_EQ(said.size(), 4u);
  EXPECT_EQ(said[1], "+the report log /mnt/logs/r.log is written again");
  EXPECT_EQ(said[2], "the report log /mnt/logs/r.log cannot be written: opening /mnt/logs/r.log: No space left on device");
  EXPECT_EQ(said[3], "+the report log /mnt/logs/r.log is written again");
}

TEST_F(LogEngineTest, TrafficEntries) {
  traffic.capture_time = "      0h 01m 05s";
  traffic.max_recv = "12.50";
  auto e = engine();
  ASSERT_TRUE(write(*e, LogKind::Traffic));
  const std::string& text = file("/data/tarnix_traffic202403.log");
  const std::string first = "----- Traffic Log 2024/03/05 09:07:03 -----\nCapture time ";
  EXPECT_EQ(head(text, first), first);
  EXPECT_NE(text.find("\nCapture time                 " + traffic.capture_time + "\n"),
            std::string::npos);
  EXPECT_NE(text.find("\nMaximum Received speed       12.50\n\n"), std::string::npos);
  EXPECT_EQ(count_lines(text), 13);  // twelve lines and the empty one

  // A template without variables goes out as it is.
  ini("[Traffic]\nLogFmt=no variables here, 100% plain\n");
  e->load_settings();
  files.files.clear();
  ASSERT_TRUE(write(*e, LogKind::Traffic));
  ASSERT_TRUE(write(*e, LogKind::Traffic));
  EXPECT_EQ(file("/data/tarnix_traffic202403.log"),
            "no variables here, 100% plain\nno variables here, 100% plain\n");
}

TEST_F(LogEngineTest, SessionAndPacketRows) {
  auto e = engine();
  const std::string session_file = "/data/tarnix_session202403.log";
  const std::string packet_file = "/data/tarnix_ip202403.log";

  std::vector<SessionLogRow> sessions;
  FakePacketList packets;
  SessionRowsSource session_source(&sessions, 9, Language::English);
  PacketRowsSource packet_source(packets, Language::English);
  const auto with_rows = {static_cast<LogSource*>(&session_source),
                          static_cast<LogSource*>(&packet_source)};
  ASSERT_TRUE(write(*e, LogKind::Session, Marker::None, with_rows));
  EXPECT_NE(file(session_file).find("\nConnection is not in Session.\nConnections: 9\n"),
            std::string::npos);
  sessions.assign(601, {"TCP", "10.0.0.1", "5000", "(10.0.0.2)", "443", "Established",
                        "", "x", "curl(77)"});
  files.files.clear();
  ASSERT_TRUE(write(*e, LogKind::Session, Marker::None, with_rows));
  const std::string& s = file(session_file);
  EXPECT_NE(s.find("\nTCP 10.0.0.1 5000 (10.0.0.2) 443 Established  x curl(77)\n"),
            std::string::npos);
  EXPECT_EQ(count_lines(s), 1 + 600 + 2);  // header, rows, count, empty line

  // Packets are consumed by the log that takes them, at most 300 an entry.
  packets.list.assign(301, {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"});
  ASSERT_TRUE(write(*e, LogKind::Traffic, Marker::None, with_rows));  // default: no $IP_PACKET$
  EXPECT_EQ(packets.list.size(), 301u);
  ASSERT_TRUE(write(*e, LogKind::Packet, Marker::None, with_rows));
  EXPECT_TRUE(packets.list.empty());
  const std::string& p = file(packet_file);
  EXPECT_EQ(count_lines(p), 1 + 300 + 1);
  EXPECT_NE(p.find("\na b c d e f g h i j k l\n"), std::string::npos);

  ini("[Traffic]\nLogFmt=[$IP_PACKET$]\n");
  e->load_settings();
  packets.list.assign(2, {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"});
  files.files.clear();
  ASSERT_TRUE(write(*e, LogKind::Traffic, Marker::None, with_rows));
  EXPECT_TRUE(packets.list.empty());
  ASSERT_TRUE(write(*e, LogKind::Traffic));  // the Packet Monitor stopped
  EXPECT_EQ(file("/data/tarnix_traffic202403.log"),
            "[a b c d e f g h i j k l\na b c d e f g h i j k l]\n[Packet Monitor is Stopped.]\n");
}

TEST_F(LogEngineTest, SecondSourceIsExpandedInTheVariableOrder) {
  // "$SESSION$" comes after the traffic texts and before the differences,
  // whichever source gives it and in whatever order the sources are passed.
  ini("[Session]\nLogFmt=$CAPTURE_TIME$|$SESSION$|$CONNECTIONS$|$IP_PACKET$\n");
  auto e = engine();
  traffic.capture_time = "<$SESSION$>";
  totals(100, 0);
  FixedSource second({{"$SESSION$", "$CAPTURE_TIME$ $TOTAL_SEND_DIS$ $DATE$"},
                      {"$YYYY$", "not the writer's"},
                      {"$NOT_A_VARIABLE$", "x"}});
  const std::string expected =
      "<$CAPTURE_TIME$ 100 $DATE$>|$CAPTURE_TIME$ 100 $DATE$|0|Packet Monitor is Stopped.\n";
  LogSource* const after[] = {&traffic_source, &second};
  ASSERT_TRUE(e->write_entry(LogKind::Session, Marker::None, after));
  EXPECT_EQ(file("/data/tarnix_session202403.log"), expected);
  files.files.clear();
  traffic_source.reset_baselines();
  LogSource* const before[] = {&second, &traffic_source};
  ASSERT_TRUE(e->write_entry(LogKind::Session, Marker::None, before));
  EXPECT_EQ(file("/data/tarnix_session202403.log"), expected);
  EXPECT_EQ(second.written, 2);
}

}  // namespace
}  // namespace tw::logging
