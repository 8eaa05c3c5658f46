#pragma once
// The command channel's dispatch: which command a received text is.
//
// Other programs send short texts ("tarnix.trafficmonitor /init"). Six of them
// must equal the whole text, byte for byte and case-sensitively; three are
// found anywhere inside it. The first match wins, in the order of `Command`.
// Pure: no I/O, callable from any thread.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tw::shell {

enum class Command {
  None,              // not a command: ignored
  TrafficInit,       // "tarnix.trafficmonitor /init": statistics restart, mode Restart
  TrafficTotalInit,  // "tarnix.trafficmonitor /totalinit": mode Gross
  TrafficAllInit,    // "tarnix.trafficmonitor /allinit": Gross, then Restart
  FilterStart,       // "tarnix.packetfilter /start"
  FilterStop,        // "tarnix.packetfilter /stop"
  FilterReload,      // "tarnix.packetfilter /reload"
  FilterAdd,         // contains "tarnix.packetfilter /add:"; the whole text goes to the filter
  BlockStart,        // contains "tarnix.sessionmonitor /blockstart"
  BlockStop,         // contains "tarnix.sessionmonitor /blockstop"
};

struct ParsedCommand {
  Command command = Command::None;
  // For FilterAdd: the whole received text (up to its first NUL), which the
  // packet filter parses itself. Empty for every other command.
  std::string text;
};

// Senders hand over a C string, so a received buffer counts only up to its
// first NUL; anything after it is not part of the command.
std::string_view command_text(std::string_view received);

// Classifies `received` (see command_text for NUL handling).
ParsedCommand parse_command(std::string_view received);

// The command's own text for whole-text commands and the searched-for part for
// contained ones; "" for None. For logs.
std::string_view command_name(Command c);

// The answer to a sender that waits for one (tarnixctl): whether the command
// was carried out, and a short text (why it failed, what it did). A sender
// that does not wait gets none; the command works the same.
enum class ReplyStatus { Done, Ignored, Failed };
struct CommandReply {
  ReplyStatus status = ReplyStatus::Done;
  std::string text;
  friend bool operator==(const CommandReply&, const CommandReply&) = default;
};
// Longest reply datagram; a longer text is cut (a reason is one line).
inline constexpr std::size_t kMaxReplyBytes = 1024;
// The datagram: "done", "ignored" or "failed", then ": TEXT" when there is a
// text, at most kMaxReplyBytes (UTF-8 is cut at a character boundary).
std::string reply_datagram(const CommandReply& reply);
// A received datagram; nullopt when it is no reply.
std::optional<CommandReply> parse_reply(std::string_view datagram);

}  // namespace tw::shell
