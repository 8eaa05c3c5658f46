#pragma once
// WhoisClient over a plain TCP socket with send and receive time-outs.
//
// A server that keeps trickling data could hold a query for ever; a reply is
// therefore cut at kMaxReplyBytes and the whole read at kMaxReadSeconds.
// The socket is non-blocking and every wait (the server's name, connect,
// send, each receive) is polled beside the stop token's eventfd, so a stop
// ends the query at once; the name lookup, which glibc cannot interrupt, is
// left to finish on a thread of its own.
#include <cstddef>

#include "platform/whois_client.h"

namespace tw::platform {

class SocketWhoisClient final : public WhoisClient {
 public:
  static constexpr std::size_t kMaxReplyBytes = std::size_t{1} << 20;
  static constexpr int kMaxReadSeconds = 60;

  Result<std::string> query(const std::string& server, int port, const std::string& request, int timeout_ms,
                            std::stop_token stop) override;
};

}  // namespace tw::platform
