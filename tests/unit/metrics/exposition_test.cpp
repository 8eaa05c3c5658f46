// The Prometheus text exposition: every figure lands in its own metric with
// HELP and TYPE lines ahead of its sample, in the right units and exactly
// (64-bit totals are not rounded through a double), absent sections add
// nothing, and interface names of any bytes come out as label values a reader
// accepts.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "metrics/exposition.h"

namespace tw::metrics {
namespace {

struct Parsed {
  std::map<std::string, std::string> samples;  // "name{labels}" -> value
  std::map<std::string, std::string> types;
  std::string problem;  // the first line out of order or malformed
};

// Reads an exposition strictly: HELP, then TYPE, then one sample of that name.
Parsed parse(const std::string& text) {
  Parsed p;
  std::istringstream in(text);
  static const std::regex help(R"(# HELP (tarnwatch_[a-z_]+) \S.*)");
  static const std::regex type(R"(# TYPE (tarnwatch_[a-z_]+) (counter|gauge))");
  static const std::regex sample(R"((tarnwatch_[a-z_]+)(\{interface="(?:[^"\\\n]|\\[\\"n])*"\})? (\S+))");
  std::string h, t, s;
  while (std::getline(in, h)) {
    std::smatch mh, mt, ms;
    if (!std::regex_match(h, mh, help) || !std::getline(in, t) || !std::regex_match(t, mt, type) ||
        mt[1] != mh[1] || !std::getline(in, s) || !std::regex_match(s, ms, sample) || ms[1] != mh[1]) {
      if (p.problem.empty()) p.problem = h + " / " + t + " / " + s;
      continue;
    }
    p.types[mh[1]] = mt[2];
    p.samples[ms[1].str() + ms[2].str()] = ms[3];
  }
  return p;
}

TEST(Exposition, EveryFigureInItsMetricExactlyAndCountersAreTotals) {
  TrafficSection t;
  t.interface = "eth0";
  t.interface_up = true;
  t.capture_sent_bytes = 18446744073709551615ULL;  // 2^64 - 1: exact, no double in between
  t.capture_received_bytes = 9007199254740993ULL;  // 2^53 + 1
  t.gross_sent_bytes = 5;
  t.gross_received_bytes = 6;
  t.smoothed_send_bytes_per_second = 1000;
  t.smoothed_receive_bytes_per_second = 2000;
  t.max_send_bytes_per_second = 3000;
  t.max_receive_bytes_per_second = 4000;
  t.capture_ms = 3723005;
  SessionSection s{true, 12, 40, 3};
  const Parsed p = parse(exposition_text({t, s, {}, {}}));
  ASSERT_EQ(p.problem, "");

  const std::string l = "{interface=\"eth0\"}";
  EXPECT_EQ(p.samples.at("tarnwatch_capture_sent_bytes_total" + l), "18446744073709551615");
  EXPECT_EQ(p.samples.at("tarnwatch_capture_received_bytes_total" + l), "9007199254740993");
  EXPECT_EQ(p.samples.at("tarnwatch_gross_sent_bytes_total" + l), "5");
  EXPECT_EQ(p.samples.at("tarnwatch_gross_received_bytes_total" + l), "6");
  EXPECT_EQ(p.samples.at("tarnwatch_send_speed_bytes_per_second" + l), "1000");
  EXPECT_EQ(p.samples.at("tarnwatch_receive_speed_bytes_per_second" + l), "2000");
  EXPECT_EQ(p.samples.at("tarnwatch_max_send_speed_bytes_per_second" + l), "3000");
  EXPECT_EQ(p.samples.at("tarnwatch_max_receive_speed_bytes_per_second" + l), "4000");
  EXPECT_EQ(p.samples.at("tarnwatch_capture_duration_seconds" + l), "3723.005");
  EXPECT_EQ(p.samples.at("tarnwatch_interface_up" + l), "1");
  EXPECT_EQ(p.samples.at("tarnwatch_session_monitor_running"), "1");
  EXPECT_EQ(p.samples.at("tarnwatch_session_connections"), "12");
  EXPECT_EQ(p.samples.at("tarnwatch_session_connections_max"), "40");
  EXPECT_EQ(p.samples.at("tarnwatch_session_blocked_connections_total"), "3");
  EXPECT_EQ(p.samples.size(), 14u);
  // Counters, and only counters, end in _total.
  for (const auto& [name, type] : p.types) EXPECT_EQ(type == "counter", name.ends_with("_total")) << name;

  t.capture_ms = 42;
  t.interface_up = false;
  const Parsed q = parse(exposition_text({t, std::nullopt, {}, {}}));
  EXPECT_EQ(q.samples.at("tarnwatch_capture_duration_seconds" + l), "0.042");
  EXPECT_EQ(q.samples.at("tarnwatch_interface_up" + l), "0");
  EXPECT_EQ(q.samples.count("tarnwatch_session_connections"), 0u);
  EXPECT_EQ(exposition_text({}), "");
}

TEST(Exposition, PacketAndFilterSectionsFollowTheNamingRules) {
  Figures f;
  f.packets = PacketSection{true, 18446744073709551615ULL, 7};
  f.filter = FilterSection{true, 2000, 2001};
  const Parsed p = parse(exposition_text(f));
  ASSERT_EQ(p.problem, "");
  EXPECT_EQ(p.samples.at("tarnwatch_packet_monitor_running"), "1");
  EXPECT_EQ(p.samples.at("tarnwatch_packet_captured_datagrams_total"), "18446744073709551615");
  EXPECT_EQ(p.samples.at("tarnwatch_packet_dropped_datagrams_total"), "7");
  EXPECT_EQ(p.samples.at("tarnwatch_packet_filter_active"), "1");
  EXPECT_EQ(p.samples.at("tarnwatch_packet_filter_drop_rules"), "2000");
  EXPECT_EQ(p.samples.at("tarnwatch_packet_filter_rules"), "2001");
  EXPECT_EQ(p.samples.size(), 6u);
  for (const auto& [name, type] : p.types) EXPECT_EQ(type == "counter", name.ends_with("_total")) << name;

  // Each section stands alone.
  f.packets = PacketSection{};
  f.filter.reset();
  const Parsed q = parse(exposition_text(f));
  EXPECT_EQ(q.samples.at("tarnwatch_packet_monitor_running"), "0");
  EXPECT_EQ(q.samples.at("tarnwatch_packet_captured_datagrams_total"), "0");
  EXPECT_EQ(q.samples.size(), 3u);
}

TEST(Exposition, OddInterfaceNamesBecomeValidLabelValues) {
  EXPECT_EQ(escape_label_value("eth0.100"), "eth0.100");
  EXPECT_EQ(escape_label_value(R"(up "link" C:\net)"), R"(up \"link\" C:\\net)");
  EXPECT_EQ(escape_label_value("two\nlines"), "two\\nlines");
  EXPECT_EQ(escape_label_value("日本語 wlan"), "日本語 wlan");
  EXPECT_EQ(escape_label_value("\xF0\x9F\x93\xA1"), "\xF0\x9F\x93\xA1");  // a 4-byte character stays
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(escape_label_value("a\xFF" "b"), "a" + fffd + "b");           // never valid
  EXPECT_EQ(escape_label_value("\xC0\xAF"), fffd + fffd);                  // overlong "/"
  EXPECT_EQ(escape_label_value("\xED\xA0\x80"), fffd + fffd + fffd);       // a surrogate
  EXPECT_EQ(escape_label_value("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd);  // above U+10FFFF
  EXPECT_EQ(escape_label_value("x\xE6\x97"), "x" + fffd + fffd);           // cut at the end
  EXPECT_EQ(escape_label_value(std::string("a\0b", 3)), std::string("a\0b", 3));

  // Whatever the name, the sample line stays one well-formed line.
  TrafficSection t;
  t.interface = "we\"ird\\\n\xFF";
  const Parsed p = parse(exposition_text({t, std::nullopt, {}, {}}));
  EXPECT_EQ(p.problem, "");
  EXPECT_EQ(p.samples.count("tarnwatch_interface_up{interface=\"we\\\"ird\\\\\\n" + fffd + "\"}"), 1u);
}

}  // namespace
}  // namespace tw::metrics
