#pragma once
// The command channel: other programs on the desktop (tarnixctl) send the
// running instance short text commands such as "tarnix.trafficmonitor /init".
//
// One Unix datagram socket per running instance, mode 0600 inside the private
// runtime folder: RUNTIME/tarnwatch.sock for the first instance (the one that
// holds the instance lock), RUNTIME/tarnwatch_#N.sock for the others, each
// taking the lowest N from 2 up that no live instance holds. The number only
// names the channel: every later instance uses the "_#2" settings file.
// Datagrams keep command boundaries without any framing, and the server only
// ever reads what is already queued, so a client that connects and stalls
// cannot block the program.
//
// Replies: a sender that binds its own socket (tarnixctl binds an abstract
// one) gets a short status datagram back once the command has run. The
// server passes credentials (SO_PASSCRED), so the kernel tells it each
// sender's uid: only a sender of this process's own user is answered, and
// never by waiting on its queue (MSG_DONTWAIT), so a slow or vanished
// receiver costs the instance nothing. An unbound sender (a client that does
// not wait, as every sender before replies did) gets nothing.
#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "platform/linux/owned_fd.h"

namespace tw::platform {

// Longest command text taken; longer datagrams are cut here.
inline constexpr std::size_t kMaxCommandBytes = 64 * 1024;

// Instance numbers run from 1 (the first instance) to this; beyond it a later
// instance has no command channel.
inline constexpr int kMaxInstanceNumber = 64;

// RUNTIME/tarnwatch.sock for instance 1, RUNTIME/tarnwatch_#N.sock for N >= 2;
// empty without a runtime folder or for a number out of 1..kMaxInstanceNumber.
std::string command_socket_path(int instance_number);

// Owned by the main thread: create it there, poll fd() in its event loop
// (QSocketNotifier, Read) and call receive_pending() when it is readable.
// The errno of a listen() that found the channel in use by a live instance.
inline constexpr int kChannelTakenErrno = EADDRINUSE;
// The errno of a send_command() that found no instance listening.
inline constexpr int kNobodyListensErrno = ECONNREFUSED;

// One command as received, with what it takes to answer its sender.
struct CommandRequest {
  std::string text;
  // The sender's socket address (the bytes of sun_path; an abstract one
  // starts with a NUL); empty for an unbound sender, which gets no reply.
  std::string sender;
  // The sender's user and process as the kernel tells them; nullopt when no
  // credentials came with the datagram.
  std::optional<uid_t> sender_uid;
  pid_t sender_pid = 0;
};

class CommandServer {
 public:
  // Binds `socket_path`. A socket file left by an instance that died is
  // removed and bound again; a live one is left alone and this fails with
  // kChannelTakenErrno, as does (with ENOTSOCK) a path that exists but is not
  // a socket. The error's detail is a one-line reason.
  static Result<std::unique_ptr<CommandServer>> listen(const std::string& socket_path);

  // The channel of a starting instance: number 1 for the first instance, else
  // the lowest free number from 2 up. number() tells which one it got.
  static Result<std::unique_ptr<CommandServer>> listen_as_instance(bool first_instance);

  // Closes the socket and removes its file if it is still ours.
  ~CommandServer();
  CommandServer(const CommandServer&) = delete;
  CommandServer& operator=(const CommandServer&) = delete;

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  // The instance number of a channel from listen_as_instance(), else 0.
  int number() const { return number_; }

  // Every command queued now, oldest first, without blocking. Each text ends
  // at its first NUL (a C string was sent) and at kMaxCommandBytes; empty
  // texts are dropped. At most a batch of 64 per call, so a flooding client
  // cannot keep the main thread here: the fd stays readable for the rest.
  std::vector<std::string> receive_pending();
  // The same, with each sender.
  std::vector<CommandRequest> receive_requests();
  // Answers the sender of `request` with `reply`, at once or not at all: only
  // a bound sender of this process's own user, and never waiting for room in
  // its queue. False when nothing was sent (for logs).
  bool reply(const CommandRequest& request, std::string_view reply);

 private:
  CommandServer(OwnedFd fd, std::string path, dev_t dev, ino_t ino);

  OwnedFd fd_;
  std::string path_;
  dev_t dev_;
  ino_t ino_;
  std::vector<char> buffer_;
  int number_ = 0;
};

// Delivers one command text to the instance listening on `socket_path`
// (what tarnixctl does). Waits at most 2 s when the instance's queue is full.
// An error's detail is a one-line reason; its errno_value is
// kNobodyListensErrno when no instance runs, which tells that case apart from
// a failure of a running instance.
Status send_command(const std::string& socket_path, std::string_view text);

// Longest reply read; longer ones are cut.
inline constexpr std::size_t kMaxReplyReadBytes = 4096;

// Delivers one command text as send_command does, from a socket of its own
// (an abstract address the kernel picks), and waits up to `wait` for the
// instance's reply. nullopt when none came in time: an instance of a
// Tarnwatch without replies, or one still busy.
Result<std::optional<std::string>> send_command_for_reply(const std::string& socket_path, std::string_view text,
                                                          std::chrono::milliseconds wait);

}  // namespace tw::platform
