// The tool tabs and their options pages on the offscreen platform, with fake
// services.
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cerrno>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Designated initialisers name only the fields a record type uses.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include "platform/fake/fake_dns_client.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_process_runner.h"
#include "platform/protocol_stats_source.h"
#include "platform/whois_client.h"
#include "settings/profile.h"
#include "tools/whois.h"
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
  Result<std::string> query(const std::string& server, int, const std::string& request, int,
                            std::stop_token stop) override {
    asked = server + "|" + request;
    if (stall) {
      // A server that accepted and says nothing: only the stop ends the wait
      // (a limit turns a stop that never comes into a failure, not a hang).
      stalled = true;
      std::mutex m;
      std::condition_variable_any cv;
      std::unique_lock lock(m);
      cv.wait_for(lock, stop, std::chrono::seconds(20), [] { return false; });
      stopped = stop.stop_requested();
      return Error::from_errno("The WHOIS server cannot be asked.", "reading", platform::kCancelledErrno);
    }
    return reply;
  }
  std::string reply;
  std::string asked;
  bool stall = false;
  std::atomic<bool> stalled{false};
  std::atomic<bool> stopped{false};
};

class FakeStats : public platform::ProtocolStatsSource {
 public:
  Result<std::string> snmp_text() override { return std::string("Udp: InDatagrams OutDatagrams\nUdp: 1234567 0\n"); }
  Result<std::string> snmp6_text() override {
    if (!snmp6) return Error{"no snmp6", "", ENOENT};
    return std::string("Udp6InDatagrams 7654321\n");
  }
  platform::ProtocolTableCounts table_counts() override { return {}; }
  bool snmp6 = true;
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
    EXPECT_EQ(shown(page), ">ping -c 4 -W 1 -- a.example\nPING a.example\n1 received\n");
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
    EXPECT_EQ(shown(page), ">traceroute -n -- far.example\n 1  10.0.0.1\n\n\nAborted.\n");
    EXPECT_EQ(runner.interrupted, 1);
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
  const QString v4 =
      "IP Address  = 192.0.2.4\nHost Name   = ※Name or service not known\n\n"
      "----- A Record -----------------------------------------------------\n192.0.2.4\n";
  // A filter stored with nine fields has the tenth, AAAA, on.
  EXPECT_EQ(shown(page), v4 + "\n----- AAAA Record --------------------------------------------------\n"
                              "AAAA Record are not available.\n");
  // With IPv6 off (read again when the options dialog closes) the output is
  // the IPv4-only one.
  f.profile.write_int("Settings", "IPv6", 0);
  page.reload_settings();
  page.press();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !page.running(); }, 5000));
  EXPECT_EQ(shown(page), v4);
}

// Closing the window while a query is out must not wait for the server: the
// page's destruction ends the query through the worker's stop token.
TEST(ToolPages, ClosingEndsAStalledWhoisQueryAtOnce) {
  Fixture f;
  f.files.files["/data/tarnix_whois.txt"] = ".com = whois.example.net\n";
  FakeWhois whois;
  whois.stall = true;
  auto page = std::make_unique<WhoisPage>(f.profile, f.files, whois, "/data/", Language::English);
  page->bar()->set_text("example.com");
  page->press();
  ASSERT_TRUE(QTest::qWaitFor([&] { return whois.stalled.load(); }, 5000));
  EXPECT_TRUE(page->busy());
  page.reset();  // returns once the worker has ended
  EXPECT_TRUE(whois.stopped);
  EXPECT_EQ(f.profile.read_string("Settings", "DomainName", ""), "example.com");
}

// STOP and closing end the lookup under way instead of waiting it out; the
// report of a finished run is shown from its top.
TEST(ToolPages, NslookupStopAndCloseEndAStalledQueryAndTheReportStartsAtTheTop) {
  Fixture f;
  platform::FakeDnsClient dns;
  platform::FakeHostLookup hosts;
  hosts.addresses["a.example"] = "192.0.2.4";
  {
    auto page = std::make_unique<NslookupPage>(f.profile, f.files, &dns, hosts, "/data/", Language::English);
    dns.stall = true;
    page->bar()->set_text("a.example");
    page->press();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dns.stalled.load() == 1; }, 5000));
    page->press();  // STOP
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page->running(); }, 5000));
    EXPECT_EQ(dns.stopped.load(), 1);
    EXPECT_EQ(dns.queries.size(), 1u);  // the other types are not asked
    EXPECT_TRUE(shown(*page).startsWith("Aborted.\n\nIP Address  = 192.0.2.4\n")) << shown(*page).toStdString();
    EXPECT_EQ(page->bar()->button()->text(), "START");

    page->press();  // again, and the tab closes meanwhile
    ASSERT_TRUE(QTest::qWaitFor([&] { return dns.stalled.load() == 2; }, 5000));
    page.reset();
    EXPECT_EQ(dns.stopped.load(), 2);
  }

  // A long listing: its first lines are what the box shows.
  dns.stall = false;
  std::vector<platform::DnsRecord> many;
  for (int i = 0; i < 200; ++i) many.push_back(platform::DnsRecord{.type = 1, .address = "192.0.2." + std::to_string(i)});
  dns.answers[{"a.example", platform::dns_type::kA}] = many;
  NslookupPage page(f.profile, f.files, &dns, hosts, "/data/", Language::English);
  page.resize(400, 200);
  page.show();
  page.bar()->set_text("a.example");
  page.press();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !page.running(); }, 5000));
  EXPECT_GT(page.output()->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(page.output()->verticalScrollBar()->value(), 0);
  EXPECT_EQ(page.output()->textCursor().position(), 0);
}

// Escape in a tool tab (the host field, the output box) stays in the tab;
// the texts the tabs show in English only have Japanese ones too.
TEST(ToolPages, EscapeStaysInTheTabAndJapaneseButtonTexts) {
  Fixture f;
  platform::FakeProcessRunner runner;
  QWidget window;
  int escapes_reaching_window = 0;
  struct Counter : QObject {
    int* n;
    explicit Counter(int* count) : n(count) {}
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) ++*n;
      return false;
    }
  } counter(&escapes_reaching_window);
  window.installEventFilter(&counter);
  auto* page = new CommandToolPage(tools::kPingTool, f.profile, f.files, runner, "/data/", Language::Japanese, &window);
  window.show();
  QTest::keyClick(page->output(), Qt::Key_Escape);
  QTest::keyClick(page->bar()->hosts()->lineEdit(), Qt::Key_Escape);
  EXPECT_EQ(escapes_reaching_window, 0);

  EXPECT_EQ(page->bar()->button()->text(), "開始");
  EXPECT_EQ(page->bar()->history()->text(), "履歴");
  runner.script.ends = false;
  page->run_for(QStringLiteral("a.example"));
  EXPECT_EQ(page->bar()->button()->text(), "停止");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        std::lock_guard lock(runner.mutex);
        return runner.reads_after_chunks > 0;  // the child runs: STOP is an abort now
      },
      5000));
  page->press();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !page->running(); }, 5000));
  EXPECT_EQ(page->bar()->button()->text(), "開始");
}

TEST(ToolPages, StatisticsShowTheReportOnStart) {
  Fixture f;
  FakeStats stats;
  StatisticsPage page(f.profile, stats, Language::English);
  EXPECT_EQ(shown(page), "Displays statistics for each protocol.");
  page.button()->click();
  EXPECT_TRUE(shown(page).contains("Incoming Datagrams" + QString(25, QLatin1Char(' ')) + "1,234,567\n"));
}

// The IPv6 sections follow the IPv4 ones when IPv6 is on and the kernel has
// the snmp6 file; otherwise the report is the IPv4 one alone.
TEST(ToolPages, StatisticsAddTheIpv6SectionsAfterTheIpv4Ones) {
  Fixture f;
  FakeStats stats;
  StatisticsPage page(f.profile, stats, Language::English);
  page.button()->click();
  const QString both = shown(page);
  EXPECT_GT(both.indexOf("----- IPv6 Statistics"), both.indexOf("----- ICMP Statistics"));
  EXPECT_TRUE(both.contains("Incoming Datagrams" + QString(25, QLatin1Char(' ')) + "7,654,321\n"));
  stats.snmp6 = false;
  page.button()->click();
  const QString v4 = shown(page);
  EXPECT_FALSE(v4.contains("IPv6"));
  stats.snmp6 = true;
  f.profile.write_int("Settings", "IPv6", 0);
  page.button()->click();
  EXPECT_EQ(shown(page), v4);
}

// The WHOIS Server page reads and writes the table only through the store it
// is given, in the data folder it is given (not beside the settings file).
TEST(ToolPages, WhoisServerPageUsesTheInjectedStoreAndFolder) {
  Fixture f;
  const std::string path = "/data/tarnix_whois.txt";
  WhoisServerPage page(f.profile, "/data/", Language::English, nullptr);
  std::vector<QString> opened;
  page.open_file = [&opened](const QString& p) {
    opened.push_back(p);
    return true;
  };
  EXPECT_EQ(page.table_path(), path);
  auto rows = [&page] {
    std::vector<std::pair<QString, QString>> out;
    for (int i = 0; i < page.table()->topLevelItemCount(); ++i)
      out.emplace_back(page.table()->topLevelItem(i)->text(0), page.table()->topLevelItem(i)->text(1));
    return out;
  };

  // No file: the default table is written for the user and shown.
  page.load();
  ASSERT_EQ(f.files.files.count(path), 1u);
  EXPECT_EQ(f.files.files.at(path), tools::default_whois_table());
  EXPECT_EQ(f.files.files.count("/cfg/tarnix_whois.txt"), 0u);
  ASSERT_FALSE(rows().empty());
  EXPECT_EQ(rows().front(), std::make_pair(QString(".com"), QString("whois.verisign-grs.com")));

  // The file as the editor saved it: Reload shows it, nothing rewrites it.
  f.files.files[path] = "; mine\n.jp = whois.jprs.jp\nno equals sign\n.com=whois.example.net\n";
  const int replaced = f.files.replace_count;
  page.edit();
  EXPECT_EQ(opened, std::vector<QString>{QString::fromStdString(path)});
  page.load();
  EXPECT_EQ(rows(), (std::vector<std::pair<QString, QString>>{{".jp", "whois.jprs.jp"},
                                                              {".com", "whois.example.net"}}));
  EXPECT_EQ(f.files.replace_count, replaced);

  // A file that cannot be read shows an empty table and is never replaced,
  // neither by Reload nor by Edit.
  f.files.unreadable.insert(path);
  page.load();
  EXPECT_TRUE(rows().empty());
  page.edit();
  EXPECT_EQ(f.files.replace_count, replaced);
  EXPECT_EQ(f.files.files.at(path), "; mine\n.jp = whois.jprs.jp\nno equals sign\n.com=whois.example.net\n");

  // Deleted while the dialog is open: Edit writes the default table again
  // before it opens the file.
  f.files.unreadable.clear();
  f.files.files.erase(path);
  page.edit();
  EXPECT_EQ(f.files.files.at(path), tools::default_whois_table());
  EXPECT_EQ(opened.size(), 3u);
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
  EXPECT_EQ(f.profile.read_string("NSLookUp", "Filter", ""), "1:1:1:1:0:1:1:1:1:1");
  EXPECT_EQ(f.profile.read_int("NSLookUp", "Resolver", 0), 1);
  // AAAA is offered only with IPv6 on; with it off the file keeps nine fields.
  f.profile.write_int("Settings", "IPv6", 0);
  {
    NsRecordPage page(f.profile, Language::English, nullptr);
    page.load();
    auto* aaaa = page.findChild<QCheckBox*>("typeAAAA");
    ASSERT_NE(aaaa, nullptr);
    EXPECT_TRUE(aaaa->isHidden());
    EXPECT_TRUE(aaaa->isChecked());
    page.save();
  }
  EXPECT_EQ(f.profile.read_string("NSLookUp", "Filter", ""), "1:1:1:1:0:1:1:1:1");
  f.profile.write_int("Settings", "IPv6", 1);
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
