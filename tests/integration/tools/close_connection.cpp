// A small client of the connection killers for the integration tests, which
// run it as an unprivileged user inside a test namespace.
//
//   tw_close_connection HELPER LOCAL_IP LOCAL_PORT REMOTE_IP REMOTE_PORT [COOKIE]
//     asks to close the connection the way the programs do (in-process when
//     allowed, else through HELPER, exactly as given: no cookie is the
//     kernel's "any") and prints "in-process" or "helper", then "closed",
//     "no such connection" (nothing was closed) or the error's message. Exit
//     status 0 unless there was an error.
//   tw_close_connection HELPER --start-and-wait
//     starts HELPER, prints its process id and waits to be killed.
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <variant>

#include "platform/connection_killer.h"
#include "platform/linux/helper_client.h"
#include "platform/privileged/sock_destroy.h"

using namespace tw::platform;

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[2]) == "--start-and-wait") {
    HelperClient client({argv[1]});
    auto caps = client.capabilities();
    if (!caps) {
      std::printf("%s\n", caps.error().message().c_str());
      return 1;
    }
    std::printf("%d\n", static_cast<int>(client.pid()));
    std::fflush(stdout);
    for (;;) pause();
  }
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: %s HELPER LOCAL_IP LOCAL_PORT REMOTE_IP REMOTE_PORT [COOKIE]\n", argv[0]);
    return 2;
  }
  SocketId id;
  if (inet_pton(AF_INET, argv[2], &id.local_address) != 1 || inet_pton(AF_INET, argv[4], &id.remote_address) != 1) {
    std::fprintf(stderr, "bad address\n");
    return 2;
  }
  id.local_port = static_cast<std::uint16_t>(std::atoi(argv[3]));
  id.remote_port = static_cast<std::uint16_t>(std::atoi(argv[5]));
  if (argc == 7) id.cookie = std::strtoull(argv[6], nullptr, 10);

  SockDestroyKiller in_process;
  HelperClient client({argv[1]});
  HelperConnectionKiller helper(client);
  auto report = [](const tw::Result<bool>& closed) {
    std::printf("%s\n", !closed ? closed.error().message().c_str() : *closed ? "closed" : "no such connection");
    return closed ? 0 : 1;
  };
  if (in_process.is_supported()) {
    std::printf("in-process\n");
    return report(in_process.close_connection(id));
  }
  std::printf("helper\n");
  // The helper killer says why the helper cannot help; the request itself
  // goes as it is, to see what the helper did with it.
  if (!helper.is_supported()) return report(helper.close(id).error());
  tw::helper::DiagSocketId wire;
  std::memcpy(wire.src.data(), &id.local_address, 4);
  std::memcpy(wire.dst.data(), &id.remote_address, 4);
  wire.src_port = id.local_port;
  wire.dst_port = id.remote_port;
  wire.cookie = id.cookie;
  auto reply = client.call(tw::helper::DestroySocket{wire});
  if (!reply) return report(reply.error());
  if (const auto* e = std::get_if<tw::helper::ErrorReply>(&*reply)) return report(e->error);
  return report(std::get<tw::helper::DestroySocketReply>(*reply).closed);
}
