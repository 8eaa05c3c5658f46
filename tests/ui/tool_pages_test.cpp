// The tool tabs and their options pages on the offscreen platform, with fake
// services.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

// Designated initialisers name only the fields a record type uses.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include "platform/fake/fake_dns_client.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_process_runner.h"
#include "platform/protocol_stats_source.h"
#include "platform/whois_client.h"
#include "settings/profile.h"
#include "ui/options/tool_pages.h"
#include "ui/tools/command_tool_page.h"
#include "ui/tools/host_bar.h"
#include "ui/tools/nslookup_page.h"
#include "ui/tools/statistics_page.h"
#include "ui/tools/whois_page.h"

namespace tw::ui {
namespace {

class FakeWhois : public platform::WhoisClient {
 public:
  Result<std::string> query(const std::string& server, int, const std::string& request, int) override {
    asked = server + "|" + request;
    return reply;
  }
  std::string reply;
  std::string asked;
};

class FakeStats : public platform::ProtocolStatsSource {
 public:
  Result<std::string> snmp_text() override { return std::string("Udp: InDatagrams OutDatagrams\nUdp: 1234567 0\n"); }
  platform::ProtocolTableCounts table_counts() override { return {}; }
};

struct Fixture {
  platform::FakeFileStore files;
  settings::Profile profile{files, "/cfg/tarnix_user@host.ini"};
};

QString shown(const ToolPage& page) { return page.output()->toPlainText(); }

TEST(ToolPages, PingRunsShowsAndKeepsItsHistory) {
  Fixture f;
  f.profile.write_int("Ping", "History", 1);
  f.files.files["/data/tarnix_history_ping.txt"] = "b.example\n";
  platform::FakeProcessRunner runner;
  runner.script.chunks = {{"PING a.example\n", ""}, {"1 received\n", ""}};
  {
    CommandToolPage page(tools::kPingTool, f.profile, f.files, runner, "/data/", Language::English);
    EXPECT_EQ(page.bar()->hosts()->count(), 2);  // the history and the default host
    page.bar()->set_text("a.example");
    page.press();
    EXPECT_EQ(page.bar()->button()->text(), "STOP");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.running(); }, 5000));
    EXPECT_EQ(shown(page), ">ping -c 4 -W 1 a.example\nPING a.example\n1 received\n");
    EXPECT_EQ(page.bar()->button()->text(), "START");
    ASSERT_EQ(runner.started.size(), 1u);
    EXPECT_EQ(runner.started[0].back(), "a.example");
  }
  EXPECT_EQ(f.files.files["/data/tarnix_history_ping.txt"], "a.example\nb.example\nlocalhost\n");
  EXPECT_EQ(f.profile.read_string("Ping", "HostName", ""), "a.example");
}

TEST(ToolPages, TracertStopsARunAndHistoryOffDeletesTheFile) {
  Fixture f;
  f.files.files["/data/tarnix_history_tracert.txt"] = "old.example\n";
  f.profile.write_string("Tracert", "Option", "-n");
  platform::FakeProcessRunner runner;
  runner.script.chunks = {{" 1  10.0.0.1\n", ""}};
  runner.script.ends = false;
  {
    CommandToolPage page(tools::kTracertTool, f.profile, f.files, runner, "/data/", Language::English);
    page.run_for(QStringLiteral("far.example"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown(page).contains("10.0.0.1"); }, 5000));
    page.press();  // STOP
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.running(); }, 5000));
    EXPECT_EQ(shown(page), ">traceroute -n far.example\n 1  10.0.0.1\n\n\nAborted.\n");
    EXPECT_EQ(runner.terminated, 1);
    page.bar()->history()->setChecked(true);
    EXPECT_EQ(f.profile.read_int("Tracert", "History", 0), 1);
    page.bar()->history()->setChecked(false);
  }
  EXPECT_EQ(f.files.files.count("/data/tarnix_history_tracert.txt"), 0u);
}

TEST(ToolPages, WhoisReducesTheTargetAndSaysFailed) {
  Fixture f;
  f.files.files["/data/tarnix_whois.txt"] = ".com = whois.example.net\n";
  FakeWhois whois;
  whois.reply = "Domain: EXAMPLE.COM\n";
  WhoisPage page(f.profile, f.files, whois, "/data/", Language::English);
  page.bar()->set_text("WWW.Example.COM");
  page.press();
  EXPECT_EQ(page.bar()->text(), "example.com");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !page.busy(); }, 5000));
  EXPECT_EQ(whois.asked, "whois.example.net|example.com \r\n");
  EXPECT_EQ(shown(page), "Domain: EXAMPLE.COM\n");
  whois.reply.clear();
  page.run_for(QStringLiteral("abc"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !page.busy(); }, 5000));
  EXPECT_EQ(shown(page), "Failed.\n\n");
}

TEST(ToolPages, NslookupListsTheChosenTypes) {
  Fixture f;
  f.profile.write_string("NSLookUp", "Filter", "1:0:0:0:0:0:0:0:0");
  platform::FakeDnsClient dns;
  dns.answers[{"a.example", platform::dns_type::kA}] = {platform::DnsRecord{.type = 1, .address = "192.0.2.4"}};
  platform::FakeHostLookup hosts;
  hosts.addresses["a.example"] = "192.0.2.4";
  NslookupPage page(f.profile, f.files, &dns, hosts, "/data/", Language::English);
  page.bar()->set_text("a.example");
  page.press();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !page.running(); }, 5000));
  EXPECT_EQ(shown(page),
            "IP Address  = 192.0.2.4\nHost Name   = ※Name or service not known\n\n"
            "----- A Record -----------------------------------------------------\n192.0.2.4\n");
}

TEST(ToolPages, StatisticsShowTheReportOnStart) {
  Fixture f;
  FakeStats stats;
  StatisticsPage page(f.profile, stats, Language::English);
  EXPECT_EQ(shown(page), "Displays statistics for each protocol.");
  page.button()->click();
  EXPECT_TRUE(shown(page).contains("Incoming Datagrams" + QString(25, QLatin1Char(' ')) + "1,234,567\n"));
}

TEST(ToolPages, OptionsPagesRoundTrip) {
  Fixture f;
  {
    NsRecordPage page(f.profile, Language::English, nullptr);
    page.load();
    auto* mx = page.findChild<QCheckBox*>("typeMX");
    ASSERT_NE(mx, nullptr);
    EXPECT_TRUE(mx->isChecked());
    mx->setChecked(false);
    page.findChild<QCheckBox*>("direct")->setChecked(true);
    page.save();
  }
  EXPECT_EQ(f.profile.read_string("NSLookUp", "Filter", ""), "1:1:1:1:0:1:1:1:1");
  EXPECT_EQ(f.profile.read_int("NSLookUp", "Resolver", 0), 1);
  {
    CommandOptionsPage page(tools::kPingTool, shell::OptionsPageId::Ping, f.profile, Language::English, nullptr);
    page.load();
    auto* edit = page.findChild<QLineEdit*>("options");
    EXPECT_EQ(edit->text(), "-c 4 -W 1");
    edit->setText("-c 10");
    page.save();
  }
  EXPECT_EQ(f.profile.read_string("Ping", "Option", ""), "-c 10");
}

}  // namespace
}  // namespace tw::ui
