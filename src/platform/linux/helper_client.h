#pragma once
// The unprivileged side of tarnix-helper: starts the helper on first need,
// sends it requests over a socketpair and waits for each reply; and reads
// nothing else from it but the capture's batches, on a second socketpair of
// its own making. No descriptor is ever taken from the helper.
//
// The helper is a separate program without Qt, installed with the file
// capabilities the privileged operations need (scripts/install.sh), so the
// desktop program itself never needs root. It is looked up
//   1. beside the running executable (the build tree, a portable copy),
//   2. in ../libexec/tarnwatch/ from there (an installed copy: PREFIX/bin and
//      PREFIX/libexec/tarnwatch),
//   3. in the libexec folder of the configured install prefix,
// unless Options::path names it; of those that exist, the first that this
// user may run and that carries file capabilities is taken (a build tree's
// copy has none, an installed one has), else the first this user may run.
//
// When none can help, the error says why, with the fix, as the second line
// of "Please run with administrator privileges." (needs_administrator()):
// not installed, not in the helper's group, or no capabilities on the file.
//
// Lifetime: the helper ends when this object is destroyed (it sees the end of
// its input) and when the thread that started it ends (PR_SET_PDEATHSIG is
// tied to the thread, not the process): call from a long-lived thread. A
// helper that has died is started again, once per call. One that does not
// answer within Options::reply_timeout is killed; the next call starts a new
// one.
//
// Threads: any thread; calls are serialised by an internal lock.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "helper/protocol.h"
#include "platform/connection_killer.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/proc_sockets.h"

namespace tw::platform {

// The second lines of the administrator message (see needs_administrator()).
inline constexpr std::string_view kHelperNotInstalledCause = "tarnix-helper is not installed: sudo make install";
inline constexpr std::string_view kHelperWithoutCapabilitiesCause =
    "tarnix-helper has no capabilities: sudo make install";
// "you are not in the group tarnwatch: sudo usermod -aG tarnwatch USER, then
// log in again", with the helper file's group and this user's name.
std::string not_in_group_cause(std::string_view group, std::string_view user);

// A capture run by the helper: the client's end of the capture channel (a
// duplicate of this process's end, owned by the reader), the run's number that
// its batches carry, and the device captured on.
struct HelperCaptureRun {
  OwnedFd channel;
  std::uint32_t run = 0;
  std::uint32_t interface = 0;
};

class HelperClient {
 public:
  struct Options {
    std::string path;  // the helper program; empty: look it up as above
    std::chrono::milliseconds reply_timeout{2000};
  };

  HelperClient() : HelperClient(Options{}) {}
  explicit HelperClient(Options options);
  ~HelperClient();
  HelperClient(const HelperClient&) = delete;
  HelperClient& operator=(const HelperClient&) = delete;

  // The helper's effective capabilities (bit N = capability N), starting it
  // when it is not running.
  Result<std::uint64_t> capabilities();

  // Sends `request` and returns the helper's reply: the request's own reply
  // type or an ErrorReply. Starts the helper when needed. `reply_timeout`
  // overrides the client's for requests that take long (a large filter set).
  Result<helper::Message> call(const helper::Message& request,
                               std::optional<std::chrono::milliseconds> reply_timeout = std::nullopt);

  // Asks the helper to capture on the device of `address`, one of the
  // machine's own non-loopback addresses; its batches then come on the
  // capture channel. The helper needs CAP_NET_RAW.
  Result<HelperCaptureRun> start_capture(const net::CaptureAddress& address);
  // Ends the helper's capture: the run's final counts.
  Result<helper::CaptureCounts> stop_capture();

  // The program it runs ("" until found), and the running helper's process id
  // (0 when none runs). For messages and tests.
  std::string path() const;
  pid_t pid() const;

 private:
  Status start_locked();
  void stop_locked(bool kill_now);
  Result<helper::Message> call_locked(const helper::Message& request, std::chrono::milliseconds reply_timeout,
                                      std::uint32_t& request_id);
  Result<helper::Message> exchange_locked(const helper::Message& request, bool& died,
                                         std::chrono::milliseconds reply_timeout, std::uint32_t& request_id);

  Options options_;
  mutable std::mutex mutex_;
  std::string path_;
  pid_t pid_ = 0;
  OwnedFd fd_;       // the request channel
  OwnedFd capture_;  // the capture channel (this process's end)
  std::uint32_t next_request_id_ = 1;
  std::uint64_t capabilities_ = 0;
  std::vector<std::uint8_t> buf_;
};

// Closes connections by asking the helper, which must hold CAP_NET_ADMIN.
// `client` must outlive this object.
class HelperConnectionKiller : public ConnectionKiller {
 public:
  explicit HelperConnectionKiller(HelperClient& client) : client_(client) {}
  // Starts the helper to learn whether it holds the capability.
  bool is_supported() override;
  Status close(const SocketId& id) override;

 private:
  HelperClient& client_;
};

// Finds the holders of other users' sockets by asking the helper, which must
// hold CAP_DAC_READ_SEARCH and CAP_SYS_PTRACE to look into their /proc/PID/fd.
// `client` must outlive this object. Threads: as the client.
class HelperSocketOwners : public SocketOwnerSource {
 public:
  explicit HelperSocketOwners(HelperClient& client) : client_(client) {}
  Result<std::vector<SocketOwnerEntry>> owners_of(std::span<const std::uint64_t> inodes) override;

 private:
  HelperClient& client_;
};

}  // namespace tw::platform
