#include "app/runtime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/traffic_feature.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_link_stats.h"
#include "platform/fake/fake_status_block.h"

namespace tw::app {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kIni[] = "/data/tarnix_u@h.ini";
constexpr char kReportLog[] = "/data/tarnix_report202403.log";

class NoBeep : public platform::Beeper {
 public:
  void beep() override {}
};

// A file store that keeps a journal: every settings line that appears or
// changes in a replace, and every log write, in the order they happen.
class JournalFileStore : public platform::FakeFileStore {
 public:
  Status replace(const std::string& path, std::string_view content) override {
    const auto before = lines(files.count(path) ? files[path] : std::string());
    if (Status s = FakeFileStore::replace(path, content); !s) return s;
    for (const auto& l : lines(std::string(content)))
      if (std::find(before.begin(), before.end(), l) == before.end()) journal->push_back("ini " + l);
    return {};
  }
  Status write(const std::string& path, std::string_view content, bool truncate) override {
    journal->push_back("log " + path + " " + std::string(content));
    return FakeFileStore::write(path, content, truncate);
  }
  std::vector<std::string>* journal = nullptr;

 private:
  // "[Section]key=value" for every key line.
  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string section, line;
    while (std::getline(in, line)) {
      if (!line.empty() && line[0] == '[') section = line;
      else if (!line.empty()) out.push_back(section + line);
    }
    return out;
  }
};

struct Rig {
  explicit Rig(const std::string& ini = "") {
    files.journal = &journal;
    if (!ini.empty()) files.files[kIni] = ini;
    clock.set_wall({2024, 3, 5, 10, 20, 30});
    clock.set_ms(1000);
    links.add("eth0", 1000, 5000);
    traffic.emplace(profile, links, clock, Language::English);
    traffic->start_with_stored_interface();
    logs.emplace(profile, files, clock, beeper, Language::English, "/data/");
  }
  Runtime& make(RuntimeOptions options = {}) {
    core.emplace(profile, *logs, std::move(options));
    core->set_status_block(&status);
    feature.emplace(*core, profile, *traffic);
    return *core;
  }
  // Moves the counters by (send, recv) bytes over `ticks` sampling ticks.
  void sample(int ticks, std::uint64_t send_step = 0, std::uint64_t recv_step = 0) {
    for (int i = 0; i < ticks; ++i) {
      links.rows[0].out_octets += send_step;
      links.rows[0].in_octets += recv_step;
      clock.advance_ms(50);
      traffic->tick();
    }
  }
  std::string ini() { return files.files[kIni]; }
  std::size_t at(const std::string& needle) const {
    for (std::size_t i = 0; i < journal.size(); ++i)
      if (journal[i].find(needle) != std::string::npos) return i;
    ADD_FAILURE() << "not in journal: " << needle;
    return journal.size();
  }

  std::vector<std::string> journal;
  JournalFileStore files;
  platform::FakeClock clock;
  platform::FakeLinkStats links;
  platform::FakeStatusBlock status;
  NoBeep beeper;
  settings::Profile profile{files, kIni};
  std::optional<traffic::TrafficMonitor> traffic;
  std::optional<logging::LogEngine> logs;
  std::optional<Runtime> core;
  std::optional<TrafficFeature> feature;
};

std::uint32_t period_of(const std::vector<TimerEntry>& t, int id) {
  for (const auto& s : t)
    if (s.id == id) return s.period_ms;
  return 0;
}

TEST(RuntimeTimers, TableAndLogPeriods) {
  Rig rig("[Traffic]\nLogCycleTime=5\n[Surveil]\nLogCycleTime=0\n[Session]\nLogCycleTime=-7\n"
          "[Report]\nLogCycleTime=99999999\n");
  Runtime& core = rig.make();
  core.start();
  const auto t = core.timers();
  std::vector<int> ids;
  ids.reserve(t.size());
  for (const auto& s : t) ids.push_back(s.id);
  // kTimerAutoReset is armed only while an interface change counts down.
  EXPECT_EQ(ids, (std::vector<int>{3, 4, 10, 11, 12, 13}));
  EXPECT_EQ(period_of(t, kTimerStatusBlock), 200u);
  EXPECT_EQ(period_of(t, kTimerGrossTotals), 60000u);
  EXPECT_EQ(period_of(t, kTimerTrafficLog), 5000u);
  // Nonsense cycle times neither spin nor overflow.
  EXPECT_EQ(period_of(t, kTimerPacketLog), 1000u);
  EXPECT_EQ(period_of(t, kTimerSessionLog), 1000u);
  EXPECT_EQ(period_of(t, kTimerReportLog), 2147483000u);

  // After the options changed, the Report log keeps the period it started with.
  rig.profile.write_int("Traffic", "LogCycleTime", 7);
  rig.profile.write_int("Report", "LogCycleTime", 9);
  int rearmed = 0;
  core.set_schedule_listener([&] { ++rearmed; });
  core.reload_settings();
  EXPECT_EQ(rearmed, 1);
  EXPECT_EQ(period_of(core.timers(), kTimerTrafficLog), 7000u);
  EXPECT_EQ(period_of(core.timers(), kTimerReportLog), 2147483000u);

  // A sampler that publishes the record itself leaves kTimerStatusBlock unarmed; it
  // can at the periods that divide 200 ms.
  rig.feature->set_sampler_publishes(true);
  EXPECT_EQ(period_of(core.timers(), kTimerStatusBlock), 0u);
  EXPECT_EQ(rearmed, 2);
  rig.feature->set_sampler_publishes(false);
  EXPECT_EQ(period_of(core.timers(), kTimerStatusBlock), 200u);
  for (std::uint32_t p : {50u, 100u, 200u}) EXPECT_TRUE(TrafficFeature::sampler_can_publish(p)) << p;
  for (std::uint32_t p : {0u, 150u, 250u, 400u, 500u}) EXPECT_FALSE(TrafficFeature::sampler_can_publish(p)) << p;
}

TEST(RuntimeTimers, StatusBlockAndGrossTotals) {
  Rig rig;
  Runtime& core = rig.make();
  core.start();
  rig.sample(4);               // baseline ticks
  rig.sample(1, 5000, 3000);   // counted
  core.fire_timer(kTimerStatusBlock);
  EXPECT_EQ(rig.status.content, rig.traffic->statistics_record());
  EXPECT_THAT(rig.status.content, HasSubstr(",4,1024,904,"));  // 5000 bytes sent

  EXPECT_THAT(rig.ini(), Not(HasSubstr("TotalSend")));
  core.fire_timer(kTimerGrossTotals);
  EXPECT_THAT(rig.ini(), HasSubstr("TotalSend=4\n"));
  EXPECT_THAT(rig.ini(), HasSubstr("TotalSendD=904\n"));

  // A program whose status block could not be created just skips publishing.
  Runtime without(rig.profile, *rig.logs);
  TrafficFeature traffic_without(without, rig.profile, *rig.traffic);
  without.fire_timer(kTimerStatusBlock);
  without.fire_timer(999);
}

TEST(RuntimeTimers, LogTimersWriteOnlyEnabledLogs) {
  Rig rig("[Surveil]\nLogCheck=1\n[Session]\nLogCheck=1\nLogFmt=$SESSION$|$CONNECTIONS$\n");
  Runtime& core = rig.make();
  core.start();
  core.fire_timer(kTimerTrafficLog);  // off
  core.fire_timer(kTimerReportLog);   // off
  core.fire_timer(kTimerPacketLog);
  core.fire_timer(kTimerSessionLog);
  EXPECT_EQ(rig.files.files.count("/data/tarnix_traffic202403.log"), 0u);
  EXPECT_EQ(rig.files.files.count(kReportLog), 0u);
  // The monitors that do not exist yet show as stopped.
  EXPECT_THAT(rig.files.files["/data/tarnix_ip202403.log"], HasSubstr("Packet Monitor is Stopped."));
  EXPECT_EQ(rig.files.files["/data/tarnix_session202403.log"], "Session Monitor is Stopped.|0\n");
}

TEST(RuntimeStart, ReportStartMarkerAndDifferences) {
  Rig rig("[Report]\nLogCheck=1\n");
  Runtime& core = rig.make();
  core.start();
  EXPECT_EQ(rig.files.files[kReportLog], "# [ 2024/03/05 10:20:30 ] Start-Log\n20240305,102030,0,0,\n");
  rig.sample(4);
  rig.sample(2, 100, 10);
  core.fire_timer(kTimerReportLog);
  EXPECT_THAT(rig.files.files[kReportLog], HasSubstr("\n20240305,102030,200,20,\n"));

  Rig off;
  off.make().start();
  EXPECT_EQ(off.files.files.count(kReportLog), 0u);
}

TEST(RuntimeCommands, TrafficRestartsAndDroppedCommands) {
  Rig rig("[Traffic]\nTotalSend=9\nTotalRecv=8\n");
  std::vector<std::string> notes;
  Runtime& core = rig.make({.debug_log = [&](std::string_view n) { notes.emplace_back(n); }});
  core.start();
  rig.sample(4);
  rig.sample(1, 100, 100);
  ASSERT_EQ(rig.traffic->figures().gross_send, 109u);

  EXPECT_EQ(core.handle_command("tarnix.trafficmonitor /init"), shell::Command::TrafficInit);
  EXPECT_EQ(rig.traffic->figures().capture_send, 0u);
  EXPECT_EQ(rig.traffic->figures().gross_send, 109u);

  rig.sample(5, 1, 1);
  EXPECT_EQ(core.handle_command("tarnix.trafficmonitor /totalinit"), shell::Command::TrafficTotalInit);
  EXPECT_EQ(rig.traffic->figures().gross_send, 0u);
  EXPECT_EQ(rig.traffic->figures().capture_send, 2u);  // capture totals stay (3 baseline ticks)
  EXPECT_THAT(rig.ini(), HasSubstr("TotalSend=0\n"));
  EXPECT_THAT(rig.ini(), HasSubstr("TotalRecv=0\n"));

  rig.sample(5, 1, 1);
  EXPECT_EQ(core.handle_command("tarnix.trafficmonitor /allinit"), shell::Command::TrafficAllInit);
  EXPECT_EQ(rig.traffic->figures().gross_send, 0u);
  EXPECT_EQ(rig.traffic->figures().capture_send, 0u);
  // Gross, then Restart: the report lists carry the RESTART mark.
  EXPECT_THAT(rig.traffic->report_list(0), ::testing::Contains(HasSubstr("RESTART")));

  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(core.handle_command("tarnix.packetfilter /start"), shell::Command::FilterStart);
  EXPECT_EQ(core.handle_command("x tarnix.sessionmonitor /blockstart"), shell::Command::BlockStart);
  EXPECT_EQ(core.handle_command("tarnix.trafficmonitor /init "), shell::Command::None);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_THAT(notes[0], HasSubstr("tarnix.packetfilter /start"));
  EXPECT_THAT(notes[1], HasSubstr("/blockstart"));
}

TEST(RuntimeShutdown, OrderOfTheSteps) {
  // "01" reads as 1 and is written back as "1", so the journal sees the write.
  Rig rig("[Report]\nLogCheck=01\n");
  Runtime& core = rig.make();
  core.start();
  rig.sample(4);
  rig.sample(1, 3000, 7);
  rig.journal.clear();

  // Added out of order on purpose: the places decide.
  core.add_shutdown_step(shutdown_step::kWindowPlacement, [&](bool) { rig.journal.push_back("hook window_placement"); });
  core.add_shutdown_step(shutdown_step::kWindowState, [&](bool) { rig.journal.push_back("hook window_state"); });
  core.add_shutdown_step(shutdown_step::kReleaseStatusBlock,
                         [&](bool) { rig.journal.push_back("hook release_status_block"); });
  core.shutdown(false);

  const std::size_t window = rig.at("hook window_state");
  const std::size_t root = rig.at("ini [Settings]LogRootFolder=");
  const std::size_t end_log = rig.at("End-Log");
  const std::size_t report_check = rig.at("ini [Report]LogCheck=1");
  const std::size_t placement = rig.at("hook window_placement");
  const std::size_t release = rig.at("hook release_status_block");
  const std::size_t gross = rig.at("ini [Traffic]TotalSend=2");
  const std::size_t iface = rig.at("ini [Settings]InterfaceName=eth0");
  EXPECT_LT(window, root);
  EXPECT_LT(root, end_log);
  EXPECT_LT(end_log, report_check);
  EXPECT_LT(report_check, placement);
  EXPECT_LT(placement, release);
  EXPECT_LT(release, gross);
  EXPECT_LT(gross, iface);
  EXPECT_THAT(rig.files.files[kReportLog], HasSubstr("# [ 2024/03/05 10:20:30 ] End-Log\n"));

  // Stopped for good: no more timers, commands or second shut-down.
  const int published = rig.status.publish_count;
  const std::size_t entries = rig.journal.size();
  core.fire_timer(kTimerStatusBlock);
  core.fire_timer(kTimerReportLog);
  core.handle_command("tarnix.trafficmonitor /totalinit");
  core.shutdown(false);
  EXPECT_EQ(rig.status.publish_count, published);
  EXPECT_EQ(rig.journal.size(), entries);
  EXPECT_TRUE(core.is_shut_down());
}

TEST(RuntimeShutdown, RestartingSkipsEndLogAndGrossSave) {
  Rig rig("[Report]\nLogCheck=1\n[Settings]\nLogRootFolder=/var/log/tw/\n[Traffic]\nTotalSend=77\n");
  Runtime& core = rig.make();
  core.start();
  rig.sample(4);
  rig.sample(1, 3000, 7);
  core.shutdown(true);
  EXPECT_THAT(rig.files.files["/var/log/tw/tarnix_report202403.log"], Not(HasSubstr("End-Log")));
  EXPECT_THAT(rig.ini(), HasSubstr("TotalSend=77\n"));       // the successor saves
  EXPECT_THAT(rig.ini(), Not(HasSubstr("TotalSendB")));
  EXPECT_THAT(rig.ini(), HasSubstr("LogRootFolder=/var/log/tw/\n"));  // kept as it was
  EXPECT_THAT(rig.ini(), HasSubstr("InterfaceName=eth0\n"));
}

TEST(RuntimeShutdown, SuspendWritesEndLogThenSavesTotals) {
  Rig rig("[Report]\nLogCheck=1\n");
  Runtime& core = rig.make();
  core.start();
  rig.sample(4);
  rig.sample(1, 5000, 0);
  rig.journal.clear();
  core.suspend();
  EXPECT_LT(rig.at("End-Log"), rig.at("ini [Traffic]TotalSend=4"));
  EXPECT_FALSE(core.is_shut_down());
}

// The countdown runs from the sampler's news of the change, at the redraw
// period, and stops waking anyone once the state has left Changed.
TEST(RuntimeAutoReset, CountsDownOnlyAfterTheNewsOfAChange) {
  Rig rig("[Traffic]\nInterfaceAutoResetTimer=1\n");
  Runtime& core = rig.make();
  core.start();
  int news = 0;
  rig.traffic->set_changed_listener([&] { ++news; });
  rig.sample(2);
  EXPECT_EQ(period_of(core.timers(), kTimerAutoReset), 0u);
  rig.links.rows[0].oper_status = platform::kOperStatusDown;  // cable pulled
  rig.sample(3);
  ASSERT_EQ(rig.traffic->interface_state(), traffic::InterfaceState::Changed);
  EXPECT_EQ(news, 1);  // once, when the state became Changed

  rig.feature->interface_changed();  // the countdown starts at once
  EXPECT_EQ(rig.traffic->auto_reset_countdown(), 1u);
  EXPECT_EQ(period_of(core.timers(), kTimerAutoReset), 50u);
  rig.clock.advance_ms(950);
  core.run_due(rig.clock.tick_ms());
  EXPECT_EQ(rig.traffic->interface_state(), traffic::InterfaceState::Changed);
  rig.clock.advance_ms(50);
  core.run_due(rig.clock.tick_ms());  // due: Full restart
  EXPECT_EQ(rig.traffic->interface_state(), traffic::InterfaceState::Unidentified);
  rig.clock.advance_ms(50);
  core.run_due(rig.clock.tick_ms());
  EXPECT_EQ(period_of(core.timers(), kTimerAutoReset), 0u);

  // A restart by hand before the countdown ends disarms it the same way.
  rig.sample(1);  // identified as it is now, down
  rig.links.rows[0].oper_status = platform::kOperStatusUp;
  rig.sample(1);
  ASSERT_EQ(rig.traffic->interface_state(), traffic::InterfaceState::Changed);
  EXPECT_EQ(news, 2);
  rig.feature->interface_changed();
  core.run_due(rig.clock.tick_ms());  // armed from now
  core.handle_command("tarnix.trafficmonitor /init");
  rig.clock.advance_ms(50);
  core.run_due(rig.clock.tick_ms());
  EXPECT_EQ(period_of(core.timers(), kTimerAutoReset), 0u);
}

// Without a graph the maxima cover what the graph would show at the stored
// window size.
TEST(RuntimeMaxima, SpanOfTheStoredGraphWidth) {
  Rig standard;
  EXPECT_EQ(stored_graph_width(standard.profile), 803 - 16);
  Rig wide("[Settings]\nPosition=0:1:-1:-1:-1:-1:100:50:1716:490\n");
  EXPECT_EQ(stored_graph_width(wide.profile), 1600);
  Rig garbled("[Settings]\nPosition=0:1:-1:-1:-1:-1:100:50:-2147483648:490\n");
  EXPECT_EQ(stored_graph_width(garbled.profile), 770 - 16);

  // 650 ticks after a burst it lies beyond the default graph's span (593
  // entries), not beyond the wide one's (1000).
  for (Rig* rig : {&wide, &standard}) {
    rig->make();
    rig->sample(40, 60000);
    rig->sample(650);
    EXPECT_EQ(rig->traffic->figures().max_send > 0, rig == &wide);
  }
}

// A feature that brings its own periodic work (a list refresh every 500 ms)
// runs from the same schedule as the logs, in whichever program drives it.
TEST(RuntimeDriving, RegisteredTimersRunFromTheOneSchedule) {
  Rig rig;
  Runtime& core = rig.make();
  std::vector<std::uint32_t> refreshes;
  std::uint32_t period = 500;
  core.add_timer(20, [&] { return period; }, [&] { refreshes.push_back(rig.clock.tick_ms()); });
  int wakeups = 0;
  core.set_schedule_listener([&] { ++wakeups; });

  EXPECT_FALSE(core.ms_until_next(0).has_value()) << "nothing runs before start()";
  core.start();
  EXPECT_EQ(wakeups, 1);
  const std::uint32_t t0 = 5000;
  EXPECT_EQ(core.ms_until_next(t0), 200u);  // the status record's period is the shortest
  core.run_due(t0 + 499);
  EXPECT_TRUE(refreshes.empty());
  rig.clock.set_ms(t0 + 500);
  core.run_due(t0 + 500);
  EXPECT_EQ(refreshes, std::vector<std::uint32_t>{t0 + 500});
  EXPECT_EQ(rig.status.publish_count, 1);  // +200 and +400 were missed: once, not twice

  // A changed period takes effect from the moment it was announced.
  period = 100;
  core.timers_changed();
  EXPECT_EQ(wakeups, 2);
  core.run_due(t0 + 550);
  rig.clock.set_ms(t0 + 650);
  core.run_due(t0 + 650);
  EXPECT_EQ(refreshes.size(), 2u);

  core.shutdown(false);
  EXPECT_FALSE(core.ms_until_next(t0 + 700).has_value());
  core.run_due(t0 + 2000);
  EXPECT_EQ(refreshes.size(), 2u);
}

TEST(RuntimeCommands, LaterHandlerReplacesTheEarlierAndStepsKeepTheirOrder) {
  Rig rig;
  Runtime& core = rig.make();
  std::vector<std::string> seen;
  core.add_command(shell::Command::BlockStart, [&](const shell::ParsedCommand&) { seen.push_back("first"); });
  core.add_command(shell::Command::BlockStart, [&](const shell::ParsedCommand&) { seen.push_back("second"); });
  core.add_command(shell::Command::FilterAdd, [&](const shell::ParsedCommand& c) { seen.push_back(c.text); });
  core.handle_command("tarnix.sessionmonitor /blockstart");
  core.handle_command("tarnix.packetfilter /add:1,2");
  EXPECT_EQ(seen, (std::vector<std::string>{"second", "tarnix.packetfilter /add:1,2"}));

  // The answers for a sender that waits: a handler's own, Done from one that
  // gives none, Ignored for no command and for one nobody here serves.
  core.add_command_replying(shell::Command::FilterStart, [](const shell::ParsedCommand&) {
    return shell::CommandReply{shell::ReplyStatus::Failed, "why"};
  });
  EXPECT_EQ(core.answer_command("tarnix.packetfilter /start"),
            (shell::CommandReply{shell::ReplyStatus::Failed, "why"}));
  EXPECT_EQ(core.answer_command("tarnix.sessionmonitor /blockstart"), shell::CommandReply{});
  EXPECT_EQ(core.answer_command("tarnix.trafficmonitor /init "),
            (shell::CommandReply{shell::ReplyStatus::Ignored, "not a command"}));
  EXPECT_EQ(core.answer_command("tarnix.packetfilter /stop"),
            (shell::CommandReply{shell::ReplyStatus::Ignored, "there is no packet filter"}));

  // Steps of one place run in the order they were added, after earlier places.
  std::vector<std::string> steps;
  core.add_shutdown_step(shutdown_step::kWindowState, [&](bool r) { steps.push_back(r ? "a restarting" : "a"); });
  core.add_shutdown_step(shutdown_step::kStopSampling, [&](bool) { steps.push_back("sampler"); });
  core.add_shutdown_step(shutdown_step::kWindowState, [&](bool) { steps.push_back("b"); });
  core.shutdown(true);
  EXPECT_EQ(steps, (std::vector<std::string>{"sampler", "a restarting", "b"}));
}

// ---------------------------------------------------------------------------

TEST(TimerScheduleTest, DueOrderAndSkippedPeriods) {
  TimerSchedule s;
  EXPECT_FALSE(s.ms_until_next(0).has_value());
  s.set(3, 200, 1000);
  s.set(4, 60000, 1000);
  EXPECT_EQ(s.ms_until_next(1000), 200u);
  EXPECT_TRUE(s.take_due(1199).empty());
  EXPECT_EQ(s.take_due(1200), std::vector<int>{3});
  EXPECT_EQ(s.ms_until_next(1200), 200u);

  // A loop that stalled for 1 s fires the 200 ms timer once and stays on its grid.
  EXPECT_EQ(s.take_due(2450), std::vector<int>{3});
  EXPECT_EQ(s.ms_until_next(2450), 150u);
  EXPECT_EQ(s.take_due(61000), (std::vector<int>{3, 4}));  // most overdue first
  EXPECT_EQ(s.ms_until_next(61000), 200u);

  // Zero periods would spin: they count as 1 ms.
  s.set(5, 0, 61000);
  EXPECT_EQ(s.ms_until_next(61000), 1u);
  s.remove(5);
  EXPECT_EQ(s.ms_until_next(61000), 200u);
}

TEST(TimerScheduleTest, SurvivesTheClockWrap) {
  TimerSchedule s;
  const std::uint32_t near_end = 0xFFFFFF00u;
  s.set(1, 1000, near_end);  // deadline lies past the wrap
  EXPECT_TRUE(s.take_due(0xFFFFFFFFu).empty());
  EXPECT_EQ(s.ms_until_next(0xFFFFFFFFu), 1000u - 0xFFu);
  EXPECT_EQ(s.take_due(near_end + 1000u), std::vector<int>{1});
  EXPECT_EQ(s.ms_until_next(near_end + 1000u), 1000u);
}

TEST(TimerScheduleTest, AssignKeepsUnchangedDeadlines) {
  TimerSchedule s;
  s.assign({{3, 200}, {10, 60000}}, 0);
  s.assign({{3, 200}, {10, 5000}, {14, 50}}, 150);
  EXPECT_EQ(s.take_due(200), (std::vector<int>{3, 14}));  // 3 kept its deadline
  EXPECT_EQ(s.take_due(5149), (std::vector<int>{14, 3}));
  EXPECT_EQ(s.ms_until_next(5149), 1u);  // 10 restarted from 150 with its new period
  s.assign({{3, 200}}, 5149);
  EXPECT_EQ(s.take_due(5150), std::vector<int>{});  // 10 and 14 are gone; 3 is due at 5200
}

}  // namespace
}  // namespace tw::app
