// Totals, restarts, report lists, interface choice and the texts built from
// the statistics.
#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "traffic_test_rig.h"

namespace tw::traffic {
namespace {

using Lines = std::vector<std::string>;

constexpr const char* kSpeedRestart = "-----      RESTART       -----";
constexpr const char* kAmountRestart = "2024/05/06 07:08:09  -----        RESTART       -----";

std::string period_line(const char* send, const char* recv, const char* unit = "KB") {
  return std::string("2024/05/06 07:08:09  S:") + send + " " + unit + "  R:" + recv + " " + unit;
}

TEST(GrossTotals, EncodingInQuotientDivisorAndRemainder) {
  struct Case {
    std::uint64_t total, q, b, d;
  } cases[] = {{1023, 1023, 0, 0}, {5000, 4, 1024, 904}, {1048575, 1023, 1024, 1023},
               {3000000, 2, 1048576, 902848}};
  for (const Case& c : cases) {
    const TotalEncoding e = encode_total(c.total);
    EXPECT_EQ(e.quotient, c.q) << c.total;
    EXPECT_EQ(e.divisor, c.b) << c.total;
    EXPECT_EQ(e.remainder, c.d) << c.total;
    EXPECT_EQ(decode_total(static_cast<std::uint32_t>(c.q), static_cast<std::uint32_t>(c.b),
                           static_cast<std::uint32_t>(c.d)),
              c.total);
  }
}

TEST(GrossTotals, SaveWritesSixKeysInOrderAndLoadReadsThemBack) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  rig.ticks(3);
  rig.tick(5000, 1023);
  m.save_gross_totals();
  const std::string ini = rig.ini();
  std::size_t at = 0;
  for (const char* kv : {"TotalSend=4", "TotalRecv=1023", "TotalSendB=1024", "TotalRecvB=0",
                         "TotalSendD=904", "TotalRecvD=0"}) {
    const std::size_t p = ini.find(kv, at);
    ASSERT_NE(p, std::string::npos) << kv << " in\n" << ini;
    at = p;
  }

  rig.profile.write_int("Traffic", "TotalSend", 2);
  rig.profile.write_int("Traffic", "TotalSendB", 1048576);
  rig.profile.write_int("Traffic", "TotalSendD", 902848);
  rig.profile.write_int("Traffic", "TotalRecv", 7);
  rig.profile.write_int("Traffic", "TotalRecvB", 0);
  rig.profile.write_int("Traffic", "TotalRecvD", 5);
  m.load_gross_totals();
  EXPECT_EQ(m.figures().gross_send, 3000000u);
  EXPECT_EQ(m.figures().gross_recv, 12u);

  // Quotients of 2^31 and more go through the signed fields and come back;
  // totals beyond what the fields can express stay at the largest one.
  m.restart(RestartMode::Gross);
  const std::uint64_t three_pb = std::uint64_t{3} << 50;
  rig.tick(three_pb, std::uint64_t{1} << 53);
  m.save_gross_totals();
  m.load_gross_totals();
  EXPECT_EQ(m.figures().gross_send, three_pb);
  EXPECT_EQ(m.figures().gross_recv, (std::uint64_t{1} << 52) - 1);
}

// The six keys go in one replace: a process killed after any number of the
// store's writes leaves either the old totals or the new ones, never a
// quotient of one save beside the divisor of another.
TEST(GrossTotals, AKillAtAnyStepOfASaveLeavesOneWholeSave) {
  for (int writes = 0; writes <= 6; ++writes) {
    SCOPED_TRACE(writes);
    TrafficRig rig;
    TrafficMonitor& m = rig.start();
    rig.ticks(3);
    rig.tick(1024000, 5000);  // saved as 1000 x 1024 and 4 x 1024 + 904
    m.save_gross_totals();
    const std::uint64_t old_send = m.figures().gross_send, old_recv = m.figures().gross_recv;
    rig.tick(3000000 - 1024000, 1048576 * 3 - 5000);  // now in MB: 2 x 1048576 + 902848, 3 x 1048576 + 0
    const std::uint64_t new_send = m.figures().gross_send, new_recv = m.figures().gross_recv;
    std::vector<Status> outcomes;
    m.set_save_listener([&](const Status& s) { outcomes.push_back(s); });
    rig.files.writes_left = writes;  // the process dies after this many writes
    m.save_gross_totals();
    rig.files.writes_left = -1;
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].ok(), writes > 0);

    m.load_gross_totals();
    const auto sent = m.figures().gross_send, received = m.figures().gross_recv;
    if (writes == 0) {
      EXPECT_EQ(sent, old_send);
      EXPECT_EQ(received, old_recv);
      EXPECT_NE(outcomes[0].error().detail.find("/data/tarnix_test@host.ini"), std::string::npos)
          << outcomes[0].error().detail;
    } else {
      EXPECT_EQ(sent, new_send);
      EXPECT_EQ(received, new_recv);
    }
  }
}

TEST(Restart, ModesAndAllInit) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  std::vector<RestartMode> heard;
  m.set_restart_listener([&](RestartMode mode) { heard.push_back(mode); });
  rig.ticks(3);
  rig.tick(4000, 2000);

  m.restart(RestartMode::Gross);  // only the gross totals, saved at once
  TrafficFigures f = m.figures();
  EXPECT_EQ(f.gross_send, 0u);
  EXPECT_EQ(f.capture_send, 4000u);
  EXPECT_EQ(m.interface_state(), InterfaceState::Identified);
  EXPECT_NE(rig.ini().find("TotalSend=0"), std::string::npos);

  // "/allinit": Gross, then Restart.
  rig.tick(4000, 2000);
  m.restart(RestartMode::Gross);
  m.restart(RestartMode::Restart);
  f = m.figures();
  EXPECT_EQ(f.gross_send + f.gross_recv + f.capture_send + f.capture_recv, 0u);
  EXPECT_EQ(f.capture_ms, 0u);
  const auto lists = m.report_lists();
  for (int i = 0; i < kReportListCount; ++i) {
    ASSERT_EQ(lists[i].size(), i < 2 ? 7u : 2u) << i;  // lists 0 and 1 keep their 5 tick lines
    EXPECT_EQ(lists[i][1], i < 2 ? kSpeedRestart : kAmountRestart);
  }
  EXPECT_EQ(heard, (std::vector<RestartMode>{RestartMode::Gross, RestartMode::Gross, RestartMode::Restart}));
}

TEST(ReportLists, StartUpChoosesTheInterfaceWithOneRestartLine) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  EXPECT_EQ(m.report_list(2), (Lines{"Transfer amount for each 01 minutes"}));
  EXPECT_EQ(m.start_with_stored_interface(), 0);
  EXPECT_EQ(m.report_list(0), (Lines{"Instantaneous Transfer speed", kSpeedRestart}));
  EXPECT_EQ(m.report_list(6), (Lines{"Transfer amount for each 24 hours  ", kAmountRestart}));
  EXPECT_TRUE(m.report_list(7).empty());

  TrafficRig ja;
  ja.start(Language::Japanese).start_with_stored_interface();
  EXPECT_EQ(ja.mon->report_list(2)[0], "01分毎の転送量");
  EXPECT_EQ(ja.mon->report_list(6)[0], "24時間毎の転送量");
}

TEST(ReportLists, PeriodLinesOncePerBoundaryInKilobytesOrMegabytes) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  rig.ticks(59, 1024, 0, 1000);  // capture seconds 1..59; ticks 4..59 add 1 KB each
  EXPECT_EQ(m.report_list(2).size(), 1u);
  rig.tick(1024, 0, 1000);
  rig.tick(1024, 0, 500);  // still second 60: no second line
  EXPECT_EQ(m.report_list(2), (Lines{"Transfer amount for each 01 minutes",
                                     period_line("        57", "         0")}));

  // The next minute counts from the mark, in megabytes once one side reaches 2^20 KB.
  rig.tick(std::uint64_t{1} << 30, 5 << 20, 1000);
  rig.tick(0, 0, 58500);  // second 120
  EXPECT_EQ(m.report_list(2)[1], period_line("     1,024", "         5", "MB"));
  rig.tick((std::uint64_t{1} << 30) - 1024, 0, 60000);  // second 180: one KB short
  EXPECT_EQ(m.report_list(2)[1], period_line(" 1,048,575", "         0"));
  rig.tick(std::uint64_t{3} << 40, 0, 60000);  // 3 TB: more KB than a 32-bit int holds
  EXPECT_EQ(m.report_list(2)[1], period_line(" 3,145,728", "         0", "MB"));
}

TEST(ReportLists, EveryPeriodAndTheEntryLimit) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  rig.ticks(1440, 0, 0, 60000);  // one tick a minute for a day
  const auto lists = m.report_lists();
  EXPECT_EQ(lists[0].size(), kReportListMaxEntries);
  EXPECT_EQ(lists[1].size(), kReportListMaxEntries);
  EXPECT_EQ(lists[2].size(), kReportListMaxEntries);  // 1440 lines, 126 kept
  EXPECT_EQ(lists[3].size(), kReportListMaxEntries);  // 288
  EXPECT_EQ(lists[4].size(), 1u + 48);
  EXPECT_EQ(lists[5].size(), 1u + 24);
  EXPECT_EQ(lists[6].size(), 1u + 1);
  EXPECT_EQ(lists[0][0], "Instantaneous Transfer speed");
}

TEST(ReportLists, RestartWritesPartialLinesOnlyWhereLinesExist) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  rig.ticks(30, 2048, 0, 1000);
  m.restart(RestartMode::Restart);  // lists hold only headers: no partial lines
  EXPECT_EQ(m.report_list(3), (Lines{"Transfer amount for each 05 minutes", kAmountRestart}));
  EXPECT_EQ(m.report_list(1).size(), 1u + 1 + 30);
  EXPECT_EQ(m.report_list(1)[1], kSpeedRestart);

  rig.ticks(70, 2048, 0, 1000);  // line at 60 s (57 x 2 KB), then 10 more ticks
  m.restart(RestartMode::Restart);
  EXPECT_EQ(m.report_list(2),
            (Lines{"Transfer amount for each 01 minutes", kAmountRestart,
                   period_line("        20", "         0"), period_line("       114", "         0"),
                   kAmountRestart}));
  EXPECT_EQ(m.report_list(3), (Lines{"Transfer amount for each 05 minutes", kAmountRestart,
                                     period_line("       134", "         0"), kAmountRestart}));
  const Lines speeds = m.report_list(0);
  EXPECT_EQ(speeds.size(), 1u + 1 + 70 + 1 + 30);
  EXPECT_EQ(speeds[1], kSpeedRestart);
  EXPECT_EQ(speeds[72], kSpeedRestart);

  m.restart(RestartMode::Full);
  for (const Lines& l : m.report_lists()) EXPECT_EQ(l.size(), 1u);
}

TEST(InterfaceChoice, StoredPositionAndName) {
  const Lines names{"lo", "eth0", "wlan0", "eth0"};
  EXPECT_EQ(TrafficMonitor::choose_interface(names, 2, ""), 2);
  EXPECT_EQ(TrafficMonitor::choose_interface(names, 4, ""), 0);   // out of range
  EXPECT_EQ(TrafficMonitor::choose_interface(names, -1, ""), 0);
  EXPECT_EQ(TrafficMonitor::choose_interface(names, 3, ""), 1);   // first entry of that name
  EXPECT_EQ(TrafficMonitor::choose_interface(names, 1, "wlan0"), 2);
  EXPECT_EQ(TrafficMonitor::choose_interface(names, 2, "eth0"), 1);
  EXPECT_EQ(TrafficMonitor::choose_interface(names, 2, "gone0"), 2);
  EXPECT_EQ(TrafficMonitor::choose_interface({}, 3, "eth0"), 0);

  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  rig.profile.write_int("Settings", "Interface", 0);
  rig.profile.write_string("Settings", "InterfaceName", "wlan0");
  EXPECT_EQ(m.start_with_stored_interface(), 1);
  EXPECT_EQ(m.selected_interface(), 1);
  m.select_interface(0);
  m.save_interface_choice();
  EXPECT_EQ(rig.profile.read_int("Settings", "Interface", -1), 0);
  EXPECT_EQ(rig.profile.read_string("Settings", "InterfaceName", ""), "eth0");

  // A table that could not be read does not erase the stored name.
  rig.links.fail = true;
  EXPECT_TRUE(m.enumerate_interfaces().empty());
  m.save_interface_choice();
  EXPECT_EQ(rig.profile.read_string("Settings", "InterfaceName", ""), "eth0");
}

TEST(InterfaceChoice, FirstStartTakesTheDefaultRouteInterface) {
  using platform::LinkRow;
  platform::FakeLinkStats t;
  t.add("lo");
  t.add("eth0").oper_status = platform::kOperStatusDown;
  t.add("wlan0");
  t.add("docker0");
  EXPECT_EQ(TrafficMonitor::default_interface(t.rows, t.rows[3].index), 3);
  EXPECT_EQ(TrafficMonitor::default_interface(t.rows, std::nullopt), 2);  // up and not loopback
  EXPECT_EQ(TrafficMonitor::default_interface(t.rows, 999), 2);           // a route to no listed interface
  EXPECT_EQ(TrafficMonitor::default_interface({t.rows[0], t.rows[1]}, std::nullopt), 0);
  EXPECT_EQ(TrafficMonitor::default_interface({}, 1), 0);

  // Nothing stored: the default route's interface, not position 0 (lo).
  {
    TrafficRig rig;
    rig.links.rows.clear();
    rig.links.add("lo");
    rig.links.add("eth0");
    rig.links.add("wlan0");
    rig.links.default_route = rig.links.rows[2].index;
    TrafficMonitor& m = rig.start();
    EXPECT_EQ(m.start_with_stored_interface(), 2);
    m.save_interface_choice();
    EXPECT_EQ(rig.profile.read_string("Settings", "InterfaceName", ""), "wlan0");
  }
  // A stored choice is kept, loopback included; so is a stored position
  // without a name.
  const std::pair<const char*, int> stored[] = {{"[Settings]\nInterfaceName=lo\n", 0},
                                                {"[Settings]\nInterface=1\n", 1}};
  for (const auto& [ini, expected] : stored) {
    TrafficRig rig;
    rig.files.files[rig.profile.path()] = ini;
    rig.links.rows.clear();
    rig.links.add("lo");
    rig.links.add("eth0");
    rig.links.add("wlan0");
    rig.links.default_route = rig.links.rows[2].index;
    EXPECT_EQ(rig.start().start_with_stored_interface(), expected) << ini;
  }
}

TEST(StatisticsTexts, TextsRecordAndTransferInformation) {
  TrafficRig rig;
  rig.profile.write_int("Traffic", "MaxUnit", 0);
  rig.profile.write_int("Traffic", "AveUnit", 4);  // modulo 4: KB/s
  rig.profile.write_int("Traffic", "ExtUnit", 0);
  rig.profile.write_int("Traffic", "TotalSend", 2995000);
  TrafficMonitor& m = rig.start();
  m.load_gross_totals();
  rig.ticks(3);
  rig.tick(5000, 1023, 2300);  // capture time 2.45 s

  StatisticsTexts t = m.statistics_texts();
  EXPECT_EQ(t.capture_time, "      0h 00m 02s");
  EXPECT_EQ(t.total_send, "   4.883 KB");
  EXPECT_EQ(t.gross_send, "   2.861 MB");
  EXPECT_EQ(t.average_send, "    0.00 KB/s");  // nothing during the first 2.5 s
  EXPECT_EQ(t.smoothed_send, "    0.00 KB/s");
  EXPECT_EQ(t.max_send, "    0.00 KB/s");
  EXPECT_EQ(t.capture_send, 5000u);

  rig.clock.advance_ms(2550);  // 5 s: 4 KB / 5 s
  t = m.statistics_texts();
  EXPECT_EQ(t.average_send, "    0.80 KB/s");
  EXPECT_EQ(t.average_recv, "    0.00 KB/s");

  rig.clock.advance_ms(85000);  // 90 s
  EXPECT_EQ(m.statistics_record(), "90,4,1024,904,1023,0,0,2,1048576,902848,1023,0,0,0,0,");

  EXPECT_EQ(m.transfer_information_text(),
            "Capture Time           " "       0h 01m 30s\r\n"
            "------------------------------------------------------\r\n"
            "Total Upload    (Gross)       4.883 KB (   2.861 MB)\r\n"
            "Total Download  (Gross)       0.999 KB (   0.999 KB)\r\n"
            "------------------------------------------------------\r\n"
            "Average Send speed     " "        0.04 KB/s\r\n"
            "Average Received speed " "        0.00 KB/s\r\n"
            "------------------------------------------------------\r\n");
}

}  // namespace
}  // namespace tw::traffic
