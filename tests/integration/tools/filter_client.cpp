// A small client of the packet filters for the integration tests, which run
// it as an unprivileged user inside a test namespace.
//
//   tw_filter_client HELPER LOCAL_IP[,LOCAL_IP...] PEER_IP PORT
//     installs one DROP filter for TCP to port PORT on the LOCAL_IPs the
//     way the programs do (in-process when allowed, else through HELPER) and
//     prints "in-process" or "helper"; then, for PORT and PORT + 1,
//     "blocked" or "connected", and for 127.0.0.1:PORT "loopback blocked" or
//     "loopback connected"; then removes the filter, prints "removed" and
//     tries PORT again. Any error is printed as its message, with exit
//     status 1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "packetfilter/nft_ruleset.h"
#include "platform/linux/helper_packet_filter.h"
#include "platform/privileged/nftables_filter.h"

using namespace tw::platform;

namespace {

std::uint32_t value_of(const char* text) {
  in_addr a{};
  inet_pton(AF_INET, text, &a);
  return ntohl(a.s_addr);
}

// "connected" or "blocked" (refused by the filter, or no answer within 2 s).
const char* try_connect(const char* ip, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, ip, &a.sin_addr);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (!ok && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    ok = poll(&p, 1, 2000) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
  }
  close(fd);
  return ok ? "connected" : "blocked";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s HELPER LOCAL_IP PEER_IP PORT\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[4]);
  FilterSet set;
  for (std::string locals = argv[2]; !locals.empty();) {
    const auto comma = locals.find(',');
    set.local_addresses.push_back(value_of(locals.substr(0, comma).c_str()));
    locals = comma == std::string::npos ? "" : locals.substr(comma + 1);
  }
  FilterDescriptor d;
  // Every destination: only the local addresses the filter is installed
  // for decide what is dropped.
  d.protocol = kFilterTcp;
  d.dst_port = d.dst_port_high = static_cast<std::uint16_t>(port);
  set.drops = {d};

  NftablesPacketFilter in_process({tw::packetfilter::nft_apply_text, tw::packetfilter::nft_remove_text});
  HelperClient client({argv[1]});
  HelperPacketFilter helper(client);
  ChoosingPacketFilter filter(&in_process, &helper);
  std::printf("%s\n", in_process.is_supported() ? "in-process" : "helper");
  if (tw::Status s = filter.apply(set); !s) {
    std::printf("%s\n", s.error().message().c_str());
    return 1;
  }
  std::printf("%s\n%s\nloopback %s\n", try_connect(argv[3], port), try_connect(argv[3], port + 1),
              try_connect("127.0.0.1", port));
  if (tw::Status s = filter.remove(); !s) {
    std::printf("%s\n", s.error().message().c_str());
    return 1;
  }
  std::printf("removed\n%s\n", try_connect(argv[3], port));
  return 0;
}
