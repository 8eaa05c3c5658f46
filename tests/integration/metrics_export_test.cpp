// The figures file for Prometheus end to end: tarnixd samples one end of a
// veth pair in a namespace of the test's own and writes --metrics-file into
// a textfile folder; the file passes `promtool check metrics`; a real
// prometheus-node-exporter on a free loopback port serves the series from
// that folder; a real prometheus on another loopback port scrapes it and
// answers a query with exactly the kernel's byte counter delta of the veth.
// The Packet Monitor's and the Packet Filter's figures come from a real
// capture and a real nftables table in the same namespace.
// Both servers listen on 127.0.0.1 only, keep their data in a temporary
// folder, die with the test process and are stopped at the end.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tarnixd_harness.h"

#if defined(TW_TARNIXD) && defined(TW_TARNIXCTL)

namespace tw::test {
namespace {

using namespace std::chrono_literals;

// A loopback port nobody listens on right now.
std::uint16_t free_port() {
  platform::OwnedFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (!fd || bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 0;
  return ntohs(a.sin_port);
}

// The body of GET http://127.0.0.1:PORT/PATH; nullopt when nothing answered.
std::optional<std::string> http_get(std::uint16_t port, const std::string& path) {
  platform::OwnedFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return std::nullopt;
  timeval tv{2, 0};
  setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return std::nullopt;
  const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
    return std::nullopt;
  std::string response;
  char buf[8192];
  for (ssize_t n; (n = recv(fd.get(), buf, sizeof buf, 0)) > 0;) response.append(buf, static_cast<std::size_t>(n));
  const auto body = response.find("\r\n\r\n");
  if (response.rfind("HTTP/1.", 0) != 0 || body == std::string::npos) return std::nullopt;
  return response.substr(body + 4);
}

// A server program run as a child of the test, ended with it.
class Server {
 public:
  Server(const std::vector<std::string>& argv, const std::string& log) : log_(log) {
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test that dies takes it along
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
      }
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
  }
  ~Server() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > limit) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
  }
  const std::string& log() const { return log_; }

 private:
  pid_t pid_ = -1;
  std::string log_;
};

bool have(const char* program) {
  return run_command(std::string("command -v ") + program + " >/dev/null").ok();
}

// The value of the first sample line of `metric` with exactly `labels` in an
// exposition; nullopt when there is none.
std::optional<std::string> sample(const std::string& text, const std::string& metric_and_labels) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(metric_and_labels + " ", 0) == 0) return line.substr(metric_and_labels.size() + 1);
  return std::nullopt;
}

// The value of a Prometheus instant-query answer with one series:
// ..."value":[1700000000.123,"12345"]...
std::optional<std::string> query_value(const std::string& json) {
  const auto at = json.find("\"value\":[");
  if (at == std::string::npos) return std::nullopt;
  const auto open = json.find(",\"", at);
  const auto close = open == std::string::npos ? open : json.find('"', open + 2);
  if (close == std::string::npos) return std::nullopt;
  return json.substr(open + 2, close - open - 2);
}

TEST(MetricsExport, NodeExporterServesAndPrometheusAnswersTheKernelsByteCount) {
  if (!is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  for (const char* p : {"promtool", "prometheus", "prometheus-node-exporter"})
    ASSERT_TRUE(have(p)) << p << " is missing: scripts/install-deps.sh installs it";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  VethLink link("metrics");
  ASSERT_TRUE(link.ok()) << link.error();
  const std::string textfiles = box.root() + "/textfile";
  const std::string file = textfiles + "/tarnwatch.prom";

  // Nothing moves on the link until the test sends: these are the counts
  // tarnixd starts its capture from.
  const auto sent0 = link.left().sys_counter(link.left_if(), "tx_bytes");
  const auto received0 = link.left().sys_counter(link.left_if(), "rx_bytes");
  ASSERT_TRUE(sent0 && received0);
  // The Packet Monitor captures on the daemon's address from the start, and
  // the Packet Filter holds one DROP rule (for a port nothing here uses) and
  // one FORWARD rule until the test starts it.
  box.write_file(box.settings_path(false), "[Surveil]\nAutoStart=1\n");
  box.write_file(box.data() + "tarnix_packetfilter.txt",
                 "DROP,0.0.0.0,255.255.255.255,0," + link.right_addr() + ",255.255.255.255,9,TCP,discard\n"
                 "FORWARD,0.0.0.0,255.255.255.255,0," + link.right_addr() + ",255.255.255.255,7,TCP,echo\n");
  Daemon d(link.left(), box,
           "--interface " + link.left_if() + " --quiet --data-dir " + box.data() + " --metrics-file " + file,
           "metrics");
  ASSERT_TRUE(d.started());
  ASSERT_TRUE(eventually([&] { return sample(box.read_file(file), "tarnwatch_packet_monitor_running") == "1"; }, 20s))
      << box.read_file(file) << d.diagnostics(box);

  platform::OwnedFd sender, sink;
  ASSERT_TRUE(link.left().run([&] { sender = udp_socket(link.left_addr(), 40021); }));
  ASSERT_TRUE(link.right().run([&] { sink = udp_socket(link.right_addr(), 40022); }));
  ASSERT_TRUE(sender && sink);
  send_datagrams(sender, link.right_addr(), 40022, 300, 1000);
  // The kernel's counts once the link is quiet again (the ARP exchange
  // included, which tarnixd counts too).
  std::optional<std::uint64_t> sent1, received1;
  ASSERT_TRUE(eventually([&] {
    const auto s = link.left().sys_counter(link.left_if(), "tx_bytes");
    const auto r = link.left().sys_counter(link.left_if(), "rx_bytes");
    const bool settled = s && r && s == sent1 && r == received1 && *s > *sent0 + 300 * 1000;
    sent1 = s;
    received1 = r;
    if (!settled) std::this_thread::sleep_for(200ms);
    return settled;
  }));
  const std::string sent = std::to_string(*sent1 - *sent0);
  const std::string received = std::to_string(*received1 - *received0);
  const std::string sent_series = "tarnwatch_capture_sent_bytes_total{interface=\"" + link.left_if() + "\"}";
  const std::string received_series = "tarnwatch_capture_received_bytes_total{interface=\"" + link.left_if() + "\"}";

  // The file, rewritten every 5 s, catches up with the kernel.
  std::string text;
  ASSERT_TRUE(eventually([&] {
    text = box.read_file(file);
    return sample(text, sent_series) == sent;
  }, 20s)) << "kernel: " << sent << "\n" << text << d.diagnostics(box);
  EXPECT_EQ(sample(text, received_series), received) << text;
  EXPECT_EQ(sample(text, "tarnwatch_gross_sent_bytes_total{interface=\"" + link.left_if() + "\"}"), sent) << text;
  EXPECT_EQ(sample(text, "tarnwatch_interface_up{interface=\"" + link.left_if() + "\"}"), "1") << text;
  EXPECT_EQ(sample(text, "tarnwatch_session_monitor_running"), "1") << text;
  // Every datagram the test sent left through the captured address.
  EXPECT_GE(std::stoull(sample(text, "tarnwatch_packet_captured_datagrams_total").value_or("0")), 300u) << text;
  EXPECT_EQ(sample(text, "tarnwatch_packet_filter_active"), "0") << text;
  EXPECT_EQ(sample(text, "tarnwatch_packet_filter_drop_rules"), "0") << text;
  EXPECT_EQ(sample(text, "tarnwatch_packet_filter_rules"), "2") << text;

  const auto check = run_command("promtool check metrics < " + quoted(file));
  EXPECT_TRUE(check.ok()) << check.output << text;

  const std::uint16_t exporter_port = free_port();
  ASSERT_NE(exporter_port, 0);
  Server exporter({"prometheus-node-exporter", "--web.listen-address=127.0.0.1:" + std::to_string(exporter_port),
                   "--collector.disable-defaults", "--collector.textfile",
                   "--collector.textfile.directory=" + textfiles},
                  box.root() + "/exporter.log");
  std::string served;
  ASSERT_TRUE(eventually([&] {
    served = http_get(exporter_port, "/metrics").value_or("");
    return sample(served, sent_series) == sent;
  }, 20s)) << served << box.read_file(exporter.log());

  const std::uint16_t prometheus_port = free_port();
  ASSERT_NE(prometheus_port, 0);
  const std::string config = box.root() + "/prometheus.yml";
  box.write_file(config,
                 "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                 "scrape_configs:\n  - job_name: tarnwatch\n    static_configs:\n"
                 "      - targets: ['127.0.0.1:" + std::to_string(exporter_port) + "']\n");
  Server prometheus({"prometheus", "--config.file=" + config, "--storage.tsdb.path=" + box.root() + "/tsdb",
                     "--web.listen-address=127.0.0.1:" + std::to_string(prometheus_port)},
                    box.root() + "/prometheus.log");
  const std::string query = "/api/v1/query?query=tarnwatch_capture_sent_bytes_total%7Binterface%3D%22" +
                            link.left_if() + "%22%7D";
  std::string answer;
  ASSERT_TRUE(eventually([&] {
    answer = http_get(prometheus_port, query).value_or("");
    return query_value(answer) == sent;
  }, 30s)) << "kernel: " << sent << "\n" << answer << box.read_file(prometheus.log());

  // Filtering on: the file follows, and still passes with every section filled.
  ASSERT_TRUE(tarnixctl(link.left(), box, "send " + quoted("tarnix.packetfilter /start")).ok());
  ASSERT_TRUE(eventually([&] {
    text = box.read_file(file);
    return sample(text, "tarnwatch_packet_filter_active") == "1";
  }, 20s)) << text << d.diagnostics(box);
  EXPECT_EQ(sample(text, "tarnwatch_packet_filter_drop_rules"), "1") << text;
  EXPECT_EQ(sample(text, "tarnwatch_packet_filter_rules"), "2") << text;
  const auto all = run_command("promtool check metrics < " + quoted(file));
  EXPECT_TRUE(all.ok()) << all.output << box.read_file(file);

  EXPECT_EQ(d.stop(SIGTERM), std::optional<int>(0)) << d.diagnostics(box);
  // The last write, at the end, still passes.
  EXPECT_TRUE(run_command("promtool check metrics < " + quoted(file)).ok());
}

}  // namespace
}  // namespace tw::test

#endif  // TW_TARNIXD && TW_TARNIXCTL
