// Rule parsing and every match rule against crafted rows.
#include <gtest/gtest.h>

#include "sessions/autoblock.h"

namespace tw::sessions {
namespace {

RowTexts row(std::string ip2 = "192.168.1.20", std::string host2 = "www.example.com", std::string port2 = "443") {
  return {"10.0.0.5", "me.lan", "50000", ip2, host2, port2, "Connecting", "02m 05s", "firefox(1234)"};
}

Verdict eval(std::string_view rules, const RowTexts& r, int hour = 12, Language lang = Language::English) {
  return evaluate(parse_rules(rules), r, hour, lang);
}

TEST(AutoblockRules, FileSyntax) {
  const auto rules = parse_rules(
      "# comment\n; comment\n! comment\n\n\tIP2=1.2.3.4\n"
      "NOTHING=1,neither\n"                         // no known keyword: no rule, no place taken
      " IP2 = 10.* ; ,PORT2=80\r\n"                 // blanks, "*", ";" and CR go
      "\"PID=a,b\",\"HOST2=\"\"x\"\"\"\n"           // quoted comma; doubled quotes
      "ALLOW=0,NOLOG=7,IP1=\n");
  ASSERT_EQ(rules.size(), 3u);
  EXPECT_EQ(rules[0].positive.remote_address, "10.");
  EXPECT_EQ(rules[0].positive.remote_port.low, 80);
  EXPECT_EQ(rules[1].positive.process, "a,b");
  EXPECT_EQ(rules[1].positive.remote_host, "\"x\"");
  EXPECT_FALSE(rules[2].allow);
  EXPECT_TRUE(rules[2].no_log);

  std::string many;
  for (int i = 0; i < 1100; ++i) many += "IP2=1.\n";
  EXPECT_EQ(parse_rules(many).size(), kMaxRules);
}

TEST(AutoblockRules, Ranges) {
  auto p = [](const char* v) { const auto r = parse_port_range(v); return std::pair(r.low, r.high); };
  EXPECT_EQ(p("80"), std::pair(80, 80));
  EXPECT_EQ(p("6000-"), std::pair(6000, 65535));
  EXPECT_EQ(p("100-50"), std::pair(100, 100));
  EXPECT_EQ(p("0"), std::pair(1, 65535));
  EXPECT_EQ(p(""), std::pair(1, 65535));
  EXPECT_EQ(p("-80"), std::pair(1, 65535));
  EXPECT_EQ(p("20-0"), std::pair(20, 65535));
  auto h = [](const char* v) { const auto r = parse_hour_range(v); return std::tuple(r.low, r.high, r.active()); };
  EXPECT_EQ(h("9-17"), std::tuple(9, 17, true));
  EXPECT_EQ(h("9"), std::tuple(9, 9, true));
  EXPECT_EQ(h("17-9"), std::tuple(17, 17, true));
  EXPECT_EQ(h("9-"), std::tuple(9, 9, true));
  EXPECT_FALSE(HourRange{}.active());
  EXPECT_FALSE(parse_hour_range("20-30").active());
}

TEST(AutoblockRules, AddressAndHostMatches) {
  EXPECT_EQ(eval("IP2=192.168.", row()), Verdict::Block);
  EXPECT_EQ(eval("IP2=192.168.", row("10.192.168.1")), Verdict::Leave);
  EXPECT_EQ(eval("IP2=/168/", row("10.192.168.1")), Verdict::Block);
  EXPECT_EQ(eval("HOST2=EXAMPLE.COM", row()), Verdict::Block);        // case ignored
  EXPECT_EQ(eval("HOST2=example", row()), Verdict::Leave);            // ends with, not contains
  EXPECT_EQ(eval("HOST2=/example/", row()), Verdict::Block);
  EXPECT_EQ(eval("HOST2=????", row()), Verdict::Leave);
  EXPECT_EQ(eval("HOST2=????", row("192.168.1.20", "192.168.1.20")), Verdict::Block);  // no name found
  EXPECT_EQ(eval("PID=fire", row()), Verdict::Block);
  EXPECT_EQ(eval("PID=/(1234)/", row()), Verdict::Block);
  EXPECT_EQ(eval("IP1=10.0.0.5,HOST1=lan,PORT1=50000", row()), Verdict::Block);
  EXPECT_EQ(eval("PORT2=6000-", row()), Verdict::Leave);
  EXPECT_EQ(eval("PORT2=400-500", row()), Verdict::Block);
}

TEST(AutoblockRules, StateAgeHoursAndNegations) {
  EXPECT_EQ(eval("STAT=1", row()), Verdict::Block);
  EXPECT_EQ(eval("STAT=2", row()), Verdict::Leave);
  EXPECT_EQ(eval("STAT=3", row()), Verdict::Block);  // modulo 3: any status
  EXPECT_EQ(eval("TIME=125", row()), Verdict::Block);
  EXPECT_EQ(eval("TIME=126", row()), Verdict::Leave);
  EXPECT_EQ(eval("SYSTIME=9-17", row(), 17), Verdict::Block);
  EXPECT_EQ(eval("SYSTIME=9-17", row(), 18), Verdict::Leave);
  EXPECT_EQ(eval("SYSTIME!=9-17", row(), 18), Verdict::Block);
  EXPECT_EQ(eval("IP2!=192.168.", row()), Verdict::Leave);
  EXPECT_EQ(eval("IP2!=10.,PORT2=443", row()), Verdict::Block);
  EXPECT_EQ(eval("HOST2!=.com", row()), Verdict::Leave);
  EXPECT_EQ(eval("PORT1!=50000", row()), Verdict::Leave);
  // The negated state and age test the opposite of STAT and TIME.
  EXPECT_EQ(eval("STAT!=2", row()), Verdict::Block);
  EXPECT_EQ(eval("STAT!=1", row()), Verdict::Leave);
  EXPECT_EQ(eval("TIME!=600", row()), Verdict::Block);
  EXPECT_EQ(eval("TIME!=60", row()), Verdict::Leave);
  RowTexts ja = row();
  ja[kStatus] = "接続中";
  ja[kTime] = "1時間 02分 03秒";
  EXPECT_EQ(eval("STAT=1,TIME=3723", ja, 12, Language::Japanese), Verdict::Block);
  EXPECT_EQ(eval("TIME=3724", ja, 12, Language::Japanese), Verdict::Leave);
}

TEST(AutoblockRules, OrderAllowNologAndPendingNames) {
  EXPECT_EQ(eval("ALLOW=1,HOST2=example.com\nIP2=192.", row()), Verdict::Leave);
  EXPECT_EQ(eval("IP2=192.\nALLOW=1,HOST2=example.com", row()), Verdict::Block);
  EXPECT_EQ(eval("NOLOG=1,IP2=192.", row()), Verdict::BlockWithoutLog);
  // A host still being looked up: the rule waits, a later rule may decide.
  EXPECT_EQ(eval("IP2=192.", row("192.168.1.20", "(192.168.1.20)")), Verdict::Leave);
  EXPECT_EQ(eval("IP2=192.\nALLOW=1,IP2=192.", row("192.168.1.20", "(192.168.1.20)")), Verdict::Leave);
  // A line without a known keyword does not push the last rule out.
  EXPECT_EQ(eval("IP2=9.\nJUNK=1\nIP2=192.", row()), Verdict::Block);
}

TEST(AutoblockLog, LineViewPathAndLabel) {
  platform::LocalTime t{2026, 3, 4, 5, 6, 7};
  const auto d = logging::date_texts(t);
  EXPECT_EQ(blocked_line("BLOCKED [$DATE$ $TIME$] $HOST1$:$PORT1$ $HOST2$:$PORT2$ $PID$", row(), d),
            "BLOCKED [2026/03/04 05:06:07] me.lan:50000 www.example.com:443 firefox(1234)");
  EXPECT_EQ(blocked_log_path("tarnix_autoblock$YYYY$$MM$.log", "", "/data", d), "/data/tarnix_autoblock202603.log");
  EXPECT_EQ(blocked_log_path("b$HH$.log", "/var/log/tw/", "/data", d), "/var/log/tw/b05.log");
  EXPECT_EQ(blocked_log_path("b.log", "C:\\logs\\", "/data/", d), "/data/b.log");
  std::string pane;
  for (int i = 0; i < 300; ++i) add_to_view(pane, "x" + std::to_string(i));
  EXPECT_EQ(pane.substr(0, 6), "x299\r\n");
  add_to_view(pane, "new");
  EXPECT_EQ(pane, "new\r\n");
  EXPECT_EQ(blocked_label(0, false), "BLOCKED :     0");
  EXPECT_EQ(blocked_label(12, true), " BLOCKED :    12");
}

}  // namespace
}  // namespace tw::sessions
