// A small observer of the session table for the integration tests, which run
// it as an unprivileged user inside a test namespace.
//
//   tw_session_owners HELPER|-
//     reads the namespace's TCP and UDP sockets once, as the session refresh
//     does, and prints one line per session record: "LOCAL_PORT REMOTE_PORT
//     LABEL" (LABEL "-" when the owner stays unknown). With "-" it has no
//     helper to ask. Exit status 0 when the table could be read.
#include <cstdio>
#include <memory>
#include <string>

#include "platform/linux/helper_client.h"
#include "platform/linux/proc_sockets.h"
#include "platform/linux/sock_diag.h"
#include "sessions/connection_table.h"
#include "shared/flow_keys.h"

using namespace tw;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s HELPER|-\n", argv[0]);
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
