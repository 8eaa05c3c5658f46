// The network tools against the real programs and protocols, inside network
// namespaces the tests create: ping and traceroute across namespaces (a
// router namespace for the hops), abort mid-run, a WHOIS server written here,
// a DNS server (ldns-testns) compared with dig, and the protocol counters
// compared with nstat.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "netns.h"
#include "platform/linux/dns_client.h"
#include "platform/linux/process_runner.h"
#include "platform/linux/protocol_stats.h"
#include "platform/linux/whois_client.h"
#include "platform/fake/fake_dns_client.h"
#include "tools/command_run.h"
#include "tools/nslookup.h"
#include "tools/protocol_stats.h"
#include "tools/whois.h"

namespace tw::tools {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::NetNs;

bool has_program(const std::string& name) { return test::run_command("command -v " + name).ok(); }

// Polls `cond` until it holds or a generous limit passed; only the outcome
// is asserted, never the time it took.
template <typename Cond>
bool wait_until(Cond cond) {
  const auto end = std::chrono::steady_clock::now() + 30s;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// A folder removed with the object.
struct TempDir {
  fs::path path;
  TempDir() {
    char tmpl[] = "/tmp/tw-tools-XXXXXX";
    path = ::mkdtemp(tmpl);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  void write(const std::string& rel, const std::string& text) const {
    fs::create_directories((path / rel).parent_path());
    std::ofstream(path / rel) << text;
  }
};

// Runs a CommandRun's worker inside `ns` on a thread of its own.
struct RunInNs {
  std::thread thread;
  RunInNs(const NetNs& ns, CommandRun& run, platform::ProcessRunner& runner)
      : thread([&ns, &run, &runner] { ns.run([&] { run.run_worker(runner); }); }) {}
  ~RunInNs() {
    if (thread.joinable()) thread.join();
  }
};

// True when a process whose command line holds `needle` is running.
bool process_running(const std::string& needle) {
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string name = e.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "cmdline");
    std::string cmd((std::istreambuf_iterator<char>(in)), {});
    for (char& c : cmd)
      if (c == '\0') c = ' ';
    if (cmd.find(needle) != std::string::npos && cmd.find("ping") != std::string::npos) return true;
  }
  return false;
}

TEST(ToolsIntegration, PingAcrossNamespacesAndAbortMidRun) {
  if (!test::is_root()) GTEST_SKIP() << "needs root";
  test::VethLink link("ping");
  ASSERT_TRUE(link.ok()) << link.error();
  platform::SpawnProcessRunner runner;

  CommandRun run(kPingTool);
  ASSERT_TRUE(run.start("-c 2 -W 1 -i 0.2", link.right_addr()));
  { RunInNs worker(link.left(), run, runner); }
  const std::string out = run.output();
  EXPECT_EQ(out.rfind(">ping -c 2 -W 1 -i 0.2 -- 10.231.0.2\r\n", 0), 0u) << out;
  EXPECT_NE(out.find("2 packets transmitted, 2 received"), std::string::npos) << out;
  EXPECT_TRUE(run.tick(0).finished);

  // A long run, aborted after a few replies: ping is interrupted as Ctrl+C
  // would, prints its summary, then the text says "Aborted.", and the ping
  // process is gone.
  ASSERT_TRUE(run.start("-c 1000 -i 0.2", link.right_addr()));
  RunInNs worker(link.left(), run, runner);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (run.output().find("icmp_seq=2 ") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(process_running("-c 1000 -i 0.2")) << run.output();
  ASSERT_TRUE(run.request_abort());
  worker.thread.join();
  const std::string aborted = run.output();
  EXPECT_NE(aborted.find("icmp_seq=2 "), std::string::npos);
  const auto summary = aborted.find(" packets transmitted, ");
  EXPECT_NE(summary, std::string::npos) << aborted;
  EXPECT_LT(summary, aborted.find("Aborted.")) << aborted;
  EXPECT_EQ(aborted.substr(aborted.size() - 14), "\r\n\r\nAborted.\r\n") << aborted;
  EXPECT_FALSE(process_running("-c 1000 -i 0.2"));
}

TEST(ToolsIntegration, PingWorksForAnUnprivilegedUser) {
  if (!test::is_root()) GTEST_SKIP() << "needs root";
  test::VethLink link("pingu");
  ASSERT_TRUE(link.ok()) << link.error();
  // The desktop program runs as a plain user; ping gets what it needs from
  // its own file capability or the ping group range, not from us.
  const auto r = link.left().exec(std::string("setpriv --reuid=65534 --regid=65534 --clear-groups ") + TW_RUN_TOOL +
                                  " '-c 1 -W 1' " + link.right_addr());
  ASSERT_TRUE(r.ok()) << r.output;
  EXPECT_NE(r.output.find("1 packets transmitted, 1 received"), std::string::npos) << r.output;
}

TEST(ToolsIntegration, TracerouteThroughARouterNamespace) {
  if (!test::is_root()) GTEST_SKIP() << "needs root";
  if (!has_program("traceroute")) GTEST_SKIP() << "traceroute is not installed";
  NetNs a("tra"), r("trr"), b("trb");
  ASSERT_TRUE(a.ok() && r.ok() && b.ok());
  ASSERT_TRUE(a.add_veth("twa0", "twr0"));
  ASSERT_TRUE(b.add_veth("twb0", "twr1"));
  ASSERT_TRUE(a.ip("link set twr0 netns " + r.name()).ok());
  ASSERT_TRUE(b.ip("link set twr1 netns " + r.name()).ok());
  ASSERT_TRUE(r.set_up("twr0", true) && r.set_up("twr1", true));
  ASSERT_TRUE(a.add_address("twa0", "10.232.1.1/24") && r.add_address("twr0", "10.232.1.2/24"));
  ASSERT_TRUE(r.add_address("twr1", "10.232.2.1/24") && b.add_address("twb0", "10.232.2.2/24"));
  ASSERT_TRUE(a.ip("route add default via 10.232.1.2").ok());
  ASSERT_TRUE(b.ip("route add default via 10.232.2.1").ok());
  ASSERT_TRUE(r.exec("sysctl -qw net.ipv4.ip_forward=1").ok());

  platform::SpawnProcessRunner runner;
  CommandRun run(kTracertTool);
  // -n: no reverse lookups of the hops, which would ask the machine's DNS.
  ASSERT_TRUE(run.start("-n -m 5 -w 1 -q 1", "10.232.2.2"));
  { RunInNs worker(a, run, runner); }
  const std::string out = run.output();
  EXPECT_NE(out.find(" 1  10.232.1.2 "), std::string::npos) << out;
  EXPECT_NE(out.find(" 2  10.232.2.2 "), std::string::npos) << out;
}

TEST(ToolsIntegration, MissingProgramAndBadHostSayWhy) {
  platform::SpawnProcessRunner runner;
  static constexpr CommandToolKind kMissing{"X", "tw-no-such-program", "", "_x.txt", 10};
  CommandRun missing(kMissing);
  ASSERT_TRUE(missing.start("-c 1", "h"));
  missing.run_worker(runner);
  EXPECT_EQ(missing.output(),
            ">tw-no-such-program -c 1 -- h\r\nThe program \"tw-no-such-program\" cannot be started: it is not installed.\r\n");

  // ping reports an unknown option on standard error only; the box shows it.
  CommandRun bad(kPingTool);
  ASSERT_TRUE(bad.start("--tw-no-such-option", "127.0.0.1"));
  bad.run_worker(runner);
  EXPECT_GT(bad.output().size(), std::string(">ping --tw-no-such-option -- 127.0.0.1\r\n").size()) << bad.output();
  EXPECT_FALSE(bad.errors().empty());
}

// A WHOIS server on 127.0.0.1:43 of a namespace, answering one connection at
// a time from a script.
class WhoisServer {
 public:
  enum class Mode { Reply, Stall };

  explicit WhoisServer(const NetNs& ns) {
    ns.run([&] {
      fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(43);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const int on = 1;
      ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 4) != 0) {
        ::close(fd_);
        fd_ = -1;
      }
    });
  }
  ~WhoisServer() {
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

  // Serves the next connection: reads the request line, then sends `reply`
  // and closes (Reply) or sends it and keeps the connection open until
  // `release` is set (Stall).
  void serve(std::string reply, Mode mode = Mode::Reply) {
    if (thread_.joinable()) thread_.join();
    release = false;
    answered = false;
    closed = false;
    thread_ = std::thread([this, reply = std::move(reply), mode] {
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      std::string req;
      char buf[256];
      while (req.find('\n') == std::string::npos) {
        const ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        req.append(buf, static_cast<std::size_t>(n));
      }
      request = req;
      ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
      answered = true;
      while (mode == Mode::Stall && !release) std::this_thread::sleep_for(10ms);
      ::close(c);
      closed = true;
    });
  }

  std::string request;
  std::atomic<bool> release{false};
  std::atomic<bool> answered{false};  // the reply of the current connection is out
  std::atomic<bool> closed{false};    // and the connection is closed

 private:
  int fd_ = -1;
  std::thread thread_;
};

TEST(ToolsIntegration, WhoisAgainstAServerInANamespace) {
  if (!test::is_root()) GTEST_SKIP() << "needs root";
  NetNs ns("whois");
  ASSERT_TRUE(ns.ok()) << ns.error();
  WhoisServer server(ns);
  ASSERT_TRUE(server.ok());
  const auto table = parse_whois_table("; test registry\n.tst = 127.0.0.1\n10.0.0.0-10.255.255.255 = 127.0.0.1\n");
  platform::SocketWhoisClient client;

  // The whole query step: reduction, server choice, query, conversion.
  const auto ask = [&](const std::string& typed, int timeout_ms = kWhoisTimeoutMs) {
    const std::string target = reduce_whois_target(typed);
    std::string out;
    ns.run([&] {
      auto reply = client.query(choose_whois_server(table, target), kWhoisPort, whois_request(target), timeout_ms, {});
      out = whois_output(convert_whois_reply(reply ? *reply : std::string(), target));
    });
    return out;
  };

  server.serve("Domain Name: EXAMPLE.TST\nRegistrar: Nobody\n");
  EXPECT_EQ(ask("Host.Sub.Example.TST"), "Domain Name: EXAMPLE.TST\r\nRegistrar: Nobody\r\n");
  EXPECT_EQ(server.request, "example.tst \r\n");

  server.serve("\x1B$BEPO?<T\x1B(B: \x1B$BF|K\\\x1B(B\n");
  EXPECT_EQ(ask("10.1.2.3"), "登録者: 日本\r\n");
  EXPECT_EQ(server.request, "10.1.2.3 \r\n");

  // A peer that stalls: what it sent before the time-out is the reply.
  server.serve("partial\n", WhoisServer::Mode::Stall);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ask("example.tst", 1000), "partial\r\n");
  const auto waited = std::chrono::steady_clock::now() - t0;
  server.release = true;
  EXPECT_GE(waited, 900ms);
  EXPECT_LT(waited, 5s);

  // The tab closes while the server stalls: the query ends on its stop token
  // while the server still holds the connection open (its own time-out would
  // have given the "partial" reply 8 s later).
  server.serve("partial\n", WhoisServer::Mode::Stall);
  std::stop_source stop;
  Result<std::string> stopped = Error{"not run", "", 0};
  std::thread asker([&] {
    ns.run([&] { stopped = client.query("127.0.0.1", kWhoisPort, "x \r\n", kWhoisTimeoutMs, stop.get_token()); });
  });
  ASSERT_TRUE(wait_until([&] { return server.answered.load(); }));
  stop.request_stop();
  asker.join();
  EXPECT_FALSE(server.closed);
  ASSERT_FALSE(stopped) << *stopped;
  EXPECT_EQ(stopped.error().errno_value, platform::kCancelledErrno);
  server.release = true;

  // No server for the name, and a refused connection: "Failed.".
  EXPECT_EQ(ask("example.org"), "Failed.\r\n\r\n");  // no server in the table
  EXPECT_EQ(ask("abc"), "Failed.\r\n\r\n");
  std::string refused;
  ns.run([&] {
    auto r = client.query("127.0.0.1", 4343, "x \r\n", 1000, {});
    refused = r ? "connected" : r.error().detail;
  });
  EXPECT_NE(refused.find("onnection refused"), std::string::npos) << refused;
}

// The zone the DNS tests serve, as ldns-testns canned answers.
std::string dns_data() {
  const std::vector<std::pair<std::string, std::vector<std::string>>> answers = {
      {"www.tw.test. IN A",
       {"www.tw.test. 300 IN A 192.0.2.1", "www.tw.test. 300 IN A 192.0.2.2", "www.tw.test. 300 IN A 192.0.2.3"}},
      {"tw.test. IN NS", {"tw.test. 300 IN NS ns1.tw.test.", "tw.test. 300 IN NS ns2.tw.test."}},
      {"alias.tw.test. IN CNAME", {"alias.tw.test. 300 IN CNAME www.tw.test."}},
      {"alias.tw.test. IN A", {"alias.tw.test. 300 IN CNAME www.tw.test.", "www.tw.test. 300 IN A 192.0.2.1"}},
      {"1.2.0.192.in-addr.arpa. IN PTR", {"1.2.0.192.in-addr.arpa. 300 IN PTR www.tw.test."}},
      {"tw.test. IN MX", {"tw.test. 300 IN MX 10 mail.tw.test.", "tw.test. 300 IN MX 20 mail2.tw.test."}},
      {"tw.test. IN WKS", {"tw.test. 300 IN WKS 192.0.2.9 TCP echo ftp smtp http"}},
      {"tw.test. IN SOA",
       {"tw.test. 300 IN SOA ns1.tw.test. hostmaster.tw.test. 4000000001 7200 900 1209600 60"}},
      {"tw.test. IN HINFO", {"tw.test. 300 IN HINFO PDP-11 UNIX"}},
      {"tw.test. IN TXT", {"tw.test. 300 IN TXT v=spf1-all second"}},
  };
  std::string out;
  for (const auto& [question, rrs] : answers) {
    out += "ENTRY_BEGIN\nMATCH opcode qtype qname\nADJUST copy_id\nREPLY QR AA RD RA NOERROR\n";
    out += "SECTION QUESTION\n" + question + "\nSECTION ANSWER\n";
    for (const auto& rr : rrs) out += rr + "\n";
    out += "ENTRY_END\n\n";
  }
  // Everything else does not exist.
  out += "ENTRY_BEGIN\nMATCH opcode\nADJUST copy_id copy_query\nREPLY QR AA RD RA NXDOMAIN\nENTRY_END\n";
  return out;
}

std::vector<std::string> words_of(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

std::string without_dot(std::string s) {
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

std::string unquoted(std::string s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

class DnsServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::is_root()) GTEST_SKIP() << "needs root";
    if (!has_program("ldns-testns") || !has_program("dig")) GTEST_SKIP() << "ldnsutils and dig are needed";
    ns_ = std::make_unique<NetNs>("dns");
    ASSERT_TRUE(ns_->ok()) << ns_->error();
    dir_.write("zone.txt", dns_data());
    // The machine's own resolver names only the stub; the upstream list
    // names the test's server.
    dir_.write("etc/resolv.conf", "nameserver 127.0.0.53\n");
    dir_.write("run/systemd/resolve/resolv.conf", "nameserver 127.0.0.1\n");
    ns_->run([&] {
      auto child = runner_.start({"ldns-testns", "-p", "53", (dir_.path / "zone.txt").string()});
      if (child) server_ = std::move(*child);
    });
    ASSERT_TRUE(server_);
    std::string out, err;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while ((out + err).find("Listening") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      ASSERT_EQ(server_->read(out, err, 50), platform::ChildProcess::Progress::Running) << out << err;
    }
    ASSERT_NE((out + err).find("Listening"), std::string::npos) << out << err;
  }

  // dig's short answer lines for one question.
  std::vector<std::string> dig(const std::string& type, const std::string& name) {
    const auto r = ns_->exec("dig +short +tries=1 +time=2 @127.0.0.1 " + type + " " + name);
    EXPECT_TRUE(r.ok()) << r.output;
    std::vector<std::string> lines;
    std::istringstream in(r.output);
    for (std::string l; std::getline(in, l);)
      if (!l.empty()) lines.push_back(l);
    return lines;
  }

  Result<std::vector<platform::DnsRecord>> query(const std::string& name, int type, bool direct = true) {
    platform::LdnsDnsClient client(platform::DnsRoots{(dir_.path / "etc").string(), (dir_.path / "run").string()});
    Result<std::vector<platform::DnsRecord>> result = Error{"not run", "", 0};
    ns_->run([&] { result = client.query(name, type, direct, {}); });
    return result;
  }

  TempDir dir_;
  std::unique_ptr<NetNs> ns_;
  platform::SpawnProcessRunner runner_;
  std::unique_ptr<platform::ChildProcess> server_;
};

TEST_F(DnsServerTest, EveryRecordTypeMatchesDig) {
  namespace t = platform::dns_type;
  // A: three records, in dig's order.
  auto a = query("www.tw.test", t::kA);
  ASSERT_TRUE(a) << a.error().message();
  const auto dig_a = dig("A", "www.tw.test");
  ASSERT_EQ(a->size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ((*a)[i].address, dig_a.at(i));

  const auto names = [&](const char* type, const std::string& name, int code) {
    auto r = query(name, code);
    ASSERT_TRUE(r) << type << ": " << r.error().message();
    const auto d = dig(type, name);
    ASSERT_EQ(r->size(), d.size()) << type;
    for (std::size_t i = 0; i < d.size(); ++i) EXPECT_EQ((*r)[i].name, without_dot(d[i])) << type;
  };
  names("NS", "tw.test", t::kNS);
  names("CNAME", "alias.tw.test", t::kCNAME);
  names("PTR", "1.2.0.192.in-addr.arpa", t::kPTR);

  auto mx = query("tw.test", t::kMX);
  ASSERT_TRUE(mx);
  const auto dig_mx = dig("MX", "tw.test");
  ASSERT_EQ(mx->size(), dig_mx.size());
  for (std::size_t i = 0; i < dig_mx.size(); ++i) {
    const auto w = words_of(dig_mx[i]);
    EXPECT_EQ(std::to_string((*mx)[i].preference), w.at(0));
    EXPECT_EQ((*mx)[i].name, without_dot(w.at(1)));
  }

  auto wks = query("tw.test", t::kWKS);
  ASSERT_TRUE(wks);
  const auto dig_wks = words_of(dig("WKS", "tw.test").at(0));  // "192.0.2.9 6 21 25 80"
  EXPECT_EQ(wks->at(0).address, dig_wks.at(0));
  EXPECT_EQ(std::to_string(wks->at(0).protocol), dig_wks.at(1));
  int first_byte = 0;  // ports 0..7, most significant bit first
  for (std::size_t i = 2; i < dig_wks.size(); ++i)
    if (const int port = std::stoi(dig_wks[i]); port < 8) first_byte |= 0x80 >> port;
  EXPECT_EQ(wks->at(0).bitmap_first_byte, first_byte);

  auto soa = query("tw.test", t::kSOA);
  ASSERT_TRUE(soa);
  const auto dig_soa = words_of(dig("SOA", "tw.test").at(0));
  const auto& s = soa->at(0);
  EXPECT_EQ(s.name, without_dot(dig_soa.at(0)));
  EXPECT_EQ(s.mailbox, without_dot(dig_soa.at(1)));
  EXPECT_EQ(std::to_string(s.serial), dig_soa.at(2));
  EXPECT_EQ(std::to_string(s.refresh), dig_soa.at(3));
  EXPECT_EQ(std::to_string(s.retry), dig_soa.at(4));
  EXPECT_EQ(std::to_string(s.expire), dig_soa.at(5));
  EXPECT_EQ(std::to_string(s.minimum), dig_soa.at(6));

  for (const auto& [type, code] : {std::pair{"HINFO", t::kHINFO}, std::pair{"TXT", t::kTXT}}) {
    auto r = query("tw.test", code);
    ASSERT_TRUE(r) << type;
    const auto d = words_of(dig(type, "tw.test").at(0));
    ASSERT_EQ(r->at(0).strings.size(), d.size()) << type;
    for (std::size_t i = 0; i < d.size(); ++i) EXPECT_EQ(r->at(0).strings[i], unquoted(d[i])) << type;
  }

  // A name that does not exist fails.
  EXPECT_FALSE(query("nothing.tw.test", t::kA));
  // The stub's address is on the namespace's loopback too, so both ways
  // reach the server here; which file each way reads is what differs.
  const platform::DnsRoots roots{(dir_.path / "etc").string(), (dir_.path / "run").string()};
  EXPECT_EQ(platform::resolver_config_path(roots, false), roots.etc + "/resolv.conf");
  EXPECT_EQ(platform::resolver_config_path(roots, true), roots.run + "/systemd/resolve/resolv.conf");
  dir_.write("etc/resolv.conf", "nameserver 127.0.0.53\nnameserver 192.0.2.53\n");
  EXPECT_EQ(platform::resolver_config_path(roots, true), roots.etc + "/resolv.conf");
}

TEST_F(DnsServerTest, NslookupListing) {
  platform::LdnsDnsClient client(platform::DnsRoots{(dir_.path / "etc").string(), (dir_.path / "run").string()});
  // The address lines come from the machine's resolver, which does not know
  // the test's names; a table stands in for it.
  platform::FakeHostLookup hosts;
  hosts.addresses = {{"tw.test", "192.0.2.1"}, {"mail.tw.test", "192.0.2.25"}};
  NslookupRun run(Language::English);
  ASSERT_EQ(run.start("TW.test"), "Search ");
  ns_->run([&] { run.run_worker(&client, hosts, kDefaultRecordFilter, true); });
  const std::string out = run.tick().text;
  EXPECT_NE(out.find("ns1.tw.test (* Name or service not known)\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("MX Preference =   10 , Mail eXchange = mail.tw.test (192.0.2.25)\r\n"), std::string::npos);
  EXPECT_NE(out.find("IPv4 Address = 192.0.2.9 , Protocol = TCP , BitMask = 1\r\n"), std::string::npos);
  EXPECT_NE(out.find("Serial No.         =   4000000001\r\n"), std::string::npos);
  EXPECT_NE(out.find(std::string(record_header(7, Language::English)) + "PDP-11\r\n"), std::string::npos);
  EXPECT_NE(out.find(std::string(record_header(8, Language::English)) + "v=spf1-all\r\n"), std::string::npos);
  EXPECT_NE(out.find("A Record are not available.\r\n"), std::string::npos);
  EXPECT_NE(out.find("CNAME Record are not available.\r\n"), std::string::npos);
}

// A server that takes the question and never answers: the query ends on its
// stop token (the tab's STOP or close), not after ldns's own retries.
TEST(ToolsIntegration, DnsQueryEndsOnItsStopTokenWhileTheServerIsSilent) {
  if (!test::is_root()) GTEST_SKIP() << "needs root";
  NetNs ns("dnss");
  ASSERT_TRUE(ns.ok()) << ns.error();
  TempDir dir;
  dir.write("etc/resolv.conf", "nameserver 127.0.0.1\n");
  int silent = -1;
  ns.run([&] {
    silent = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(53);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(silent, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(silent);
      silent = -1;
    }
  });
  ASSERT_GE(silent, 0);
  platform::LdnsDnsClient client(platform::DnsRoots{(dir.path / "etc").string(), (dir.path / "run").string()});
  std::stop_source stop;
  Result<std::vector<platform::DnsRecord>> result = Error{"not run", "", 0};
  std::thread asker([&] { ns.run([&] { result = client.query("www.tw.test", platform::dns_type::kA, false, stop.get_token()); }); });
  char question[512];
  EXPECT_TRUE(wait_until([&] { return ::recv(silent, question, sizeof question, 0) > 0; }));
  stop.request_stop();
  asker.join();
  ::close(silent);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().errno_value, platform::kCancelledErrno) << result.error().message();
}

// `nstat -asz` in the namespace: every absolute counter by name.
std::map<std::string, std::string> nstat(const NetNs& ns) {
  const auto r = ns.exec("nstat -asz");
  std::map<std::string, std::string> out;
  std::istringstream in(r.output);
  for (std::string line; std::getline(in, line);) {
    const auto w = words_of(line);
    if (w.size() >= 2 && w[0][0] != '#') out[w[0]] = w[1];
  }
  return out;
}

TEST(ToolsIntegration, StatisticsMatchNstat) {
  if (!test::is_root()) GTEST_SKIP() << "needs root";
  if (!has_program("nstat")) GTEST_SKIP() << "nstat is not installed";
  test::VethLink link("stats");
  ASSERT_TRUE(link.ok()) << link.error();
  platform::LinuxProtocolStats source;
  SnmpTable before, after;
  TableCounts counts;
  link.left().run([&] {
    if (auto t = source.snmp_text()) before = parse_snmp(*t);
  });
  const auto nstat_before = nstat(link.left());

  // Known traffic: five datagrams over the namespace's loopback.
  link.left().run([&] {
    const int rx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int tx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(rx, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(rx, reinterpret_cast<sockaddr*>(&a), &len);
    for (int i = 0; i < 5; ++i) ::sendto(tx, "x", 1, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    char buf[8];
    for (int i = 0; i < 5; ++i) ::recv(rx, buf, sizeof buf, 0);
    if (auto t = source.snmp_text()) after = parse_snmp(*t);
    counts = source.table_counts();
    ::close(rx);
    ::close(tx);
  });
  const auto nstat_after = nstat(link.left());

  ASSERT_TRUE(before.count("Udp") && after.count("Udp"));
  const auto delta = [](const SnmpTable& a, const SnmpTable& b, const char* col) {
    return b.at("Udp").at(col).magnitude - a.at("Udp").at(col).magnitude;
  };
  const auto nstat_delta = [&](const char* name) {
    return std::stoull(nstat_after.at(name)) - std::stoull(nstat_before.at(name));
  };
  EXPECT_EQ(delta(before, after, "OutDatagrams"), 5u);
  EXPECT_EQ(delta(before, after, "InDatagrams"), 5u);
  EXPECT_EQ(nstat_delta("UdpOutDatagrams"), 5u);
  EXPECT_EQ(nstat_delta("UdpInDatagrams"), 5u);

  // Nothing else moves in the namespace: every counter of the report reads as
  // nstat reads it.
  int compared = 0;
  for (const auto& [group, columns] : after) {
    for (const auto& [column, value] : columns) {
      const auto it = nstat_after.find(group + column);
      if (it == nstat_after.end() || value.negative) continue;
      EXPECT_EQ(std::to_string(value.magnitude), it->second) << group << column;
      ++compared;
    }
  }
  EXPECT_GT(compared, 50);

  // lo and the veth end; 10.231.0.1 and 127.0.0.1; the link's prefix route;
  // no TCP socket, the two UDP sockets of the traffic above.
  EXPECT_EQ(counts.interfaces, 2u);
  EXPECT_EQ(counts.addresses, 2u);
  EXPECT_EQ(counts.routes, 1u);
  EXPECT_EQ(counts.tcp_connections, 0u);
  EXPECT_EQ(counts.udp_endpoints, 2u);
  const std::string report = protocol_report(after, counts, Language::English);
  EXPECT_NE(report.find("Interfaces                                         2\r\n"), std::string::npos) << report;
}

}  // namespace
}  // namespace tw::tools
