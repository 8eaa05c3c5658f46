#pragma once
// Closing a TCP connection of the machine: the Session Monitor's "Kill
// Session" and auto-block.
//
// The kernel aborts the connection (both ends see it end: the peer receives a
// reset) when the caller holds CAP_NET_ADMIN. Three implementations:
//   - SockDestroyKiller (platform/privileged): in-process, for a process that
//     holds the capability itself (tarnixd run as root, tarnix-helper);
//   - HelperConnectionKiller (platform/linux): asks tarnix-helper, which was
//     given the capability when it was installed;
//   - FakeConnectionKiller (platform/fake) for tests.
// ChoosingConnectionKiller below picks between the first two.
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "base/error.h"
#include "base/net_values.h"

namespace tw::platform {

// The headline of every error that comes down to missing privileges.
inline constexpr const char* kNeedsAdministratorHeadline = "Please run with administrator privileges.";

// When the real cause of missing privileges is known (the helper is not
// installed, the user is not in its group, the helper has no capabilities),
// the headline carries it as a second line, with the fix: every place that
// shows the headline shows both lines.
inline Error needs_administrator(std::string_view cause, std::string detail, int err) {
  std::string headline = kNeedsAdministratorHeadline;
  if (!cause.empty()) headline += "\n" + std::string(cause);
  return Error{std::move(headline), std::move(detail), err};
}
// The cause line of such an error; "" for any other.
inline std::string_view administrator_cause(const Error& e) {
  const std::string_view h = e.headline;
  const std::string_view prefix = kNeedsAdministratorHeadline;
  if (h.size() <= prefix.size() + 1 || h.substr(0, prefix.size()) != prefix || h[prefix.size()] != '\n') return {};
  return h.substr(prefix.size() + 1);
}

// A connection's name (base/net_values.h, below this interface and the
// helper's messages alike).
using net::SocketId;
using net::to_text;

class ConnectionKiller {
 public:
  virtual ~ConnectionKiller() = default;
  // Whether close() can work at all in this process (privileges, helper).
  virtual bool is_supported() = 0;
  // Aborts the connection. A connection that is already gone counts as
  // closed: the caller wanted it gone, and it is.
  virtual Status close(const SocketId& id) = 0;
};

// Closes in-process when this process may, through the helper otherwise. Each
// call decides anew, so privileges gained or lost while running count.
// Either pointer may be null (the desktop program has no in-process way); the
// killers must outlive this object. Not thread-safe beyond what the two are.
class ChoosingConnectionKiller : public ConnectionKiller {
 public:
  ChoosingConnectionKiller(ConnectionKiller* in_process, ConnectionKiller* helper)
      : in_process_(in_process), helper_(helper) {}

  bool is_supported() override {
    return (in_process_ && in_process_->is_supported()) || (helper_ && helper_->is_supported());
  }

  Status close(const SocketId& id) override {
    if (in_process_ && in_process_->is_supported()) return in_process_->close(id);
    // The helper reports for itself why it cannot help (missing, lacking the
    // capability), which says more than a refusal here would.
    if (helper_) return helper_->close(id);
    return Error{kNeedsAdministratorHeadline,
                 "closing " + to_text(id) + " needs CAP_NET_ADMIN, and there is no helper to ask", EPERM};
  }

 private:
  ConnectionKiller* in_process_;
  ConnectionKiller* helper_;
};

}  // namespace tw::platform
