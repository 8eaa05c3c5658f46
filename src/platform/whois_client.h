#pragma once
// One WHOIS query over TCP: connect, send the request line, read until the
// server closes.
//
// Blocks for up to the time-outs, or until `stop` is requested; callers run it
// off the user-interface thread. Any thread; one query per call.
#include <string>

#include "base/error.h"
#include "platform/cancellation.h"

namespace tw::platform {

class WhoisClient {
 public:
  virtual ~WhoisClient() = default;
  virtual bool is_supported() { return true; }
  // Resolves `server` (first IPv4 address), connects to `port` and sends
  // `request`; then reads until the peer closes, an error or a time-out of
  // `timeout_ms` without data. The reply is what arrived until then (possibly
  // nothing). An error when the name does not resolve or the connection or
  // the send fails, and (errno_value kCancelledErrno) as soon as `stop` is
  // requested, whatever the query was waiting for.
  virtual Result<std::string> query(const std::string& server, int port, const std::string& request,
                                    int timeout_ms, std::stop_token stop) = 0;
};

}  // namespace tw::platform
