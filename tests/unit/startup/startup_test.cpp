// Start-up naming and argument rules, the notice about an unusable settings
// file and the response to sleep and wake-up.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <optional>

#include "app/traffic_feature.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_link_stats.h"
#include "platform/fake/fake_power_events.h"

namespace tw::app {
namespace {

TEST(SettingsFileName, UserBeforeHostAndSecondInstanceSuffix) {
  EXPECT_EQ(settings_file_name(kProgramBaseName, "alice", "box", false), "tarnix_alice@box.ini");
  EXPECT_EQ(settings_file_name(kProgramBaseName, "alice", "box", true), "tarnix_alice@box_#2.ini");
  // A renamed copy gets its own file.
  EXPECT_EQ(settings_file_name("mycopy", "alice", "box", false), "mycopy_alice@box.ini");
  // Names that could not be read stay empty.
  EXPECT_EQ(settings_file_name(kProgramBaseName, "", "", false), "tarnix_@.ini");
}

TEST(SettingsFileName, NamePartsCannotLeaveTheFolder) {
  EXPECT_EQ(settings_file_name(kProgramBaseName, "../../etc/x", "h/st", false),
            "tarnix_.._.._etc_x@h_st.ini");
  EXPECT_EQ(settings_file_name(kProgramBaseName, std::string_view("a\0b", 3), "h", false),
            "tarnix_a_b@h.ini");
}

TEST(RestartArgument, OnlyExactlyTwoArgumentsStartingWithSlashW) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(parse_restart_argument(Args{"/w", "1234"}), 1234);
  EXPECT_EQ(parse_restart_argument(Args{"/wait", "77"}), 77);  // only two characters compared
  EXPECT_EQ(parse_restart_argument(Args{"/w", "12abc"}), 12);
  EXPECT_EQ(parse_restart_argument(Args{"/w", "abc"}), 0);
  EXPECT_EQ(parse_restart_argument(Args{"/w", ""}), 0);
  EXPECT_EQ(parse_restart_argument(Args{"/w", "-5"}), 0);  // never a negative id
  EXPECT_EQ(parse_restart_argument(Args{"/w", "99999999999999999999999"}), 0);
  EXPECT_EQ(parse_restart_argument(Args{"/w", "2147483647"}), 2147483647);
  EXPECT_EQ(parse_restart_argument(Args{"/w", "2147483648"}), 0);

  EXPECT_EQ(parse_restart_argument(Args{}), std::nullopt);
  EXPECT_EQ(parse_restart_argument(Args{"/w"}), std::nullopt);
  EXPECT_EQ(parse_restart_argument(Args{"/w", "1", "2"}), std::nullopt);
  EXPECT_EQ(parse_restart_argument(Args{"/W", "1"}), std::nullopt);
  EXPECT_EQ(parse_restart_argument(Args{"w", "1"}), std::nullopt);
  EXPECT_EQ(parse_restart_argument(Args{"/", "1"}), std::nullopt);
}

TEST(RestartArgument, WhatARestartPassesIsUnderstood) {
  EXPECT_EQ(parse_restart_argument(restart_arguments(4242)), 4242);
}

TEST(Language, FirstSetVariableDecides) {
  EXPECT_EQ(language_from_locale(nullptr, nullptr, nullptr), Language::English);
  EXPECT_EQ(language_from_locale(nullptr, nullptr, "ja_JP.UTF-8"), Language::Japanese);
  EXPECT_EQ(language_from_locale("", "", "ja"), Language::Japanese);
  EXPECT_EQ(language_from_locale("C", nullptr, "ja_JP.UTF-8"), Language::English);
  EXPECT_EQ(language_from_locale(nullptr, "ja_JP.eucJP", "en_US.UTF-8"), Language::Japanese);
  EXPECT_EQ(language_from_locale("en_GB.UTF-8", "ja_JP.UTF-8", "ja_JP.UTF-8"), Language::English);
  EXPECT_EQ(language_from_locale(nullptr, nullptr, "JA_JP"), Language::English);
}

TEST(SettingsProblemText, NamesTheFileTheReasonAndWhatIsLost) {
  using settings::SettingsFileProblem;
  const std::string path = "/home/a/.config/tarnwatch/tarnix_a@h.ini";
  EXPECT_EQ(settings_problem_text(path, SettingsFileProblem::None, Language::English), "");
  const std::string nul = settings_problem_text(path, SettingsFileProblem::NotText, Language::English);
  EXPECT_NE(nul.find(path), std::string::npos) << nul;
  EXPECT_NE(nul.find("NUL bytes"), std::string::npos) << nul;
  EXPECT_NE(nul.find("gross traffic totals"), std::string::npos) << nul;
  EXPECT_EQ(nul.find('\n'), std::string::npos) << "one line on stderr";
  EXPECT_NE(settings_problem_text(path, SettingsFileProblem::TooBig, Language::English).find("4 MiB"),
            std::string::npos);
  const std::string ja = settings_problem_text(path, SettingsFileProblem::Unreadable, Language::Japanese);
  EXPECT_NE(ja.find(path), std::string::npos) << ja;
  EXPECT_NE(ja.find("読み込めません"), std::string::npos) << ja;
}

class NoBeep : public platform::Beeper {
 public:
  void beep() override {}
};

constexpr char kIni[] = "/data/tarnix_u@h.ini";
constexpr char kReportLog[] = "/data/tarnix_report202403.log";

// A program without a window on fakes, with the Report log on, that has
// counted some bytes.
struct PowerRig {
  PowerRig() {
    files.files[kIni] = "[Report]\nLogCheck=1\n";
    clock.set_wall({2024, 3, 5, 10, 20, 30});
    links.add("eth0", 1000, 5000);
    traffic.emplace(profile, links, clock, Language::English);
    traffic->start_with_stored_interface();
    logs.emplace(profile, files, clock, beeper, Language::English, "/data/");
    core.emplace(profile, *logs);
    feature.emplace(*core, profile, *traffic);
    core->start();
    for (int i = 0; i < 10; ++i) {
      links.rows[0].out_octets += 7;
      clock.advance_ms(50);
      traffic->tick();
    }
    response.emplace(*core, *traffic, [this] { return ++successors, successor_starts; });
  }
  int end_logs() {
    const std::string& log = files.files[kReportLog];
    int n = 0;
    for (auto at = log.find("End-Log"); at != std::string::npos; at = log.find("End-Log", at + 1)) ++n;
    return n;
  }

  platform::FakeFileStore files;
  platform::FakeClock clock;
  platform::FakeLinkStats links;
  platform::FakePowerEvents power;
  NoBeep beeper;
  settings::Profile profile{files, kIni};
  std::optional<traffic::TrafficMonitor> traffic;
  std::optional<logging::LogEngine> logs;
  std::optional<Runtime> core;
  std::optional<TrafficFeature> feature;
  int successors = 0;
  bool successor_starts = true;
  std::optional<PowerResponse> response;
};

TEST(PowerResponse, SleepWritesEndLogAndTotalsFirstAndAWakeUpStartsOneSuccessor) {
  PowerRig rig;
  bool written_in_time = false;
  rig.power.on_suspend_done = [&] {
    written_in_time = rig.end_logs() == 1 && rig.profile.read_string("Traffic", "TotalSendD", "") != "";
  };
  ASSERT_EQ(rig.files.files[kIni].find("TotalSendD"), std::string::npos);
  rig.power.queued = {platform::PowerEvent::Suspending};
  EXPECT_FALSE(rig.response->handle(rig.power));
  EXPECT_TRUE(written_in_time) << "the machine may sleep only after the work is done";

  ASSERT_GT(rig.traffic->figures().capture_send, 0u);
  rig.power.queued = {platform::PowerEvent::Resumed, platform::PowerEvent::Resumed};
  EXPECT_TRUE(rig.response->handle(rig.power));
  EXPECT_EQ(rig.successors, 1);
  EXPECT_EQ(rig.traffic->figures().capture_send, 0u) << "statistics restarted";
  // Until the caller has shut down, a further sleep only lets the machine go.
  rig.power.queued = {platform::PowerEvent::Suspending, platform::PowerEvent::Resumed};
  EXPECT_TRUE(rig.response->handle(rig.power));
  EXPECT_EQ(rig.power.suspend_done_count, 2);
  EXPECT_EQ(rig.end_logs(), 1);
  EXPECT_EQ(rig.successors, 1);
}

TEST(PowerResponse, WithoutASuccessorTheInstanceGoesOn) {
  PowerRig rig;
  rig.successor_starts = false;
  rig.power.queued = {platform::PowerEvent::Resumed, platform::PowerEvent::Resumed};
  EXPECT_FALSE(rig.response->handle(rig.power));
  EXPECT_FALSE(rig.response->restarting());
  EXPECT_EQ(rig.successors, 2);  // each wake-up tries
  // After the shut-down nothing happens, but the machine may still sleep.
  rig.core->shutdown(false);
  rig.power.queued = {platform::PowerEvent::Suspending, platform::PowerEvent::Resumed};
  EXPECT_FALSE(rig.response->handle(rig.power));
  EXPECT_EQ(rig.successors, 2);
  EXPECT_EQ(rig.power.suspend_done_count, 1);
  EXPECT_EQ(rig.end_logs(), 1);  // the shut-down's own
}

// A service under systemd goes on after each wake-up: every sleep ends the
// report, every wake-up starts a new one whose period counts from then.
TEST(PowerResponse, InPlaceEachWakeUpStartsANewReport) {
  PowerRig rig;
  rig.response.emplace(*rig.core, *rig.traffic, [&rig] {
    rig.core->start_new_report();
    return false;
  });
  auto starts = [&] {
    const std::string& log = rig.files.files[kReportLog];
    int n = 0;
    for (auto at = log.find("Start-Log"); at != std::string::npos; at = log.find("Start-Log", at + 1)) ++n;
    return n;
  };
  std::uint32_t period = 0;
  for (const TimerEntry& t : rig.core->timers())
    if (t.id == kTimerReportLog) period = t.period_ms;
  ASSERT_GT(period, 1000u);
  rig.core->run_due(rig.clock.tick_ms());  // armed from here

  for (int cycle = 1; cycle <= 2; ++cycle) {
    rig.clock.advance_ms(period / 2);
    rig.power.queued = {platform::PowerEvent::Suspending};
    EXPECT_FALSE(rig.response->handle(rig.power));
    EXPECT_EQ(rig.end_logs(), cycle);
    rig.power.queued = {platform::PowerEvent::Resumed};
    EXPECT_FALSE(rig.response->handle(rig.power));
    EXPECT_FALSE(rig.response->restarting());
    EXPECT_EQ(starts(), cycle + 1);
    EXPECT_EQ(rig.traffic->figures().capture_send, 0u) << "statistics restarted";
    rig.core->run_due(rig.clock.tick_ms());

    // The old period would end half a period after the wake-up; the new
    // one ends a whole period after it.
    const std::string before = rig.files.files[kReportLog];
    rig.clock.advance_ms(period / 2 + 100);
    rig.core->run_due(rig.clock.tick_ms());
    EXPECT_EQ(rig.files.files[kReportLog], before) << "cycle " << cycle;
    rig.clock.advance_ms(period / 2);
    rig.core->run_due(rig.clock.tick_ms());
    EXPECT_NE(rig.files.files[kReportLog], before) << "cycle " << cycle;
  }
  EXPECT_EQ(rig.power.suspend_done_count, 2);
}

}  // namespace
}  // namespace tw::app
