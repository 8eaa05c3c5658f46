#pragma once
// The command channel's dispatch: which command a received text is.
//
// Other programs send short texts ("tarnix.trafficmonitor /init"). Six of them
// must equal the whole text, byte for byte and case-sensitively; three are
// found anywhere inside it. The first match wins, in the order of `Command`.
// Pure: no I/O, callable from any thread.
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

}  // namespace tw::shell
