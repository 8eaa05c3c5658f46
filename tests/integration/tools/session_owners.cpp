// A small observer of the session table for the integration tests, which run
// it as an unprivileged user inside a test namespace.
//
//   tw_session_owners HELPER|- [--netstat]
//     reads the namespace's TCP and UDP sockets once, as the session refresh
//     does, and prints one line per session record: "LOCAL_PORT REMOTE_PORT
//     LABEL" (LABEL "-" when the owner stays unknown). With "-" it has no
//     helper to ask. Exit status 0 when the table could be read.
//     With --netstat it prints the NETSTAT listing instead (host names are
//     the addresses: nothing is looked up).
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/helper_client.h"
#include "platform/linux/proc_sockets.h"
#include "platform/linux/sock_diag.h"
#include "sessions/connection_table.h"
#include "sessions/netstat.h"
#include "shared/flow_keys.h"
#include "shared/host_names.h"

using namespace tw;

namespace {

// No names at all, so that nothing asks a name server.
class NoNames : public platform::ReverseResolver, public platform::LookupWorkers {
 public:
  std::optional<std::string> name_of(std::uint32_t) override { return std::nullopt; }
  std::optional<std::string> local_name_of(std::uint32_t) override { return std::nullopt; }
  std::optional<std::string> udp_service_name(std::uint16_t) override { return std::nullopt; }
  bool start(std::function<void()>, std::function<void()>) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
  const bool netstat = argc == 3 && std::string(argv[2]) == "--netstat";
  if (argc != 2 && !netstat) {
    std::fprintf(stderr, "usage: %s HELPER|- [--netstat]\n", argv[0]);
    return 2;
  }
  const std::string helper_path = argv[1];
  platform::HelperClient client({helper_path});
  platform::HelperSocketOwners owners(client);
  platform::ProcProcessTable processes("/proc", std::chrono::milliseconds(1000),
                                       helper_path == "-" ? nullptr : &owners);
  sessions::ProcessNameCache names(processes);
  shared::FlowKeyTable keys;
  sessions::ConnectionTable table(processes, names, keys);

  platform::SockDiagSocketTable sockets;
  if (netstat) {
    NoNames none;
    shared::HostNameCache hosts(none, none);
    sessions::NetstatRun run(Language::English);
    run.start();
    run.run_worker(sockets, processes, names, hosts, none, sessions::kDefaultNetstatFilter);
    std::fputs(run.tick().replace.c_str(), stdout);
    return 0;
  }
  auto tcp = sockets.read(platform::SocketProtocol::Tcp);
  auto udp = sockets.read(platform::SocketProtocol::Udp);
  if (!tcp || !udp) {
    std::fprintf(stderr, "socket table: %s\n", (tcp ? udp.error() : tcp.error()).message().c_str());
    return 1;
  }
  table.refresh(*tcp, *udp, 1, nullptr);
  for (const auto& r : table.records())
    std::printf("%u %u %s\n", r.local_port, r.remote_port, r.process.empty() ? "-" : r.process.c_str());
  return 0;
}
