#include "shell/commands.h"

#include <array>
#include <utility>

namespace tw::shell {
namespace {

// Table order decides which command wins when several could match.
constexpr std::array<std::pair<std::string_view, Command>, 6> kWholeText{{
    {"tarnix.trafficmonitor /init", Command::TrafficInit},
    {"tarnix.trafficmonitor /totalinit", Command::TrafficTotalInit},
    {"tarnix.trafficmonitor /allinit", Command::TrafficAllInit},
    {"tarnix.packetfilter /start", Command::FilterStart},
    {"tarnix.packetfilter /stop", Command::FilterStop},
    {"tarnix.packetfilter /reload", Command::FilterReload},
}};

constexpr std::array<std::pair<std::string_view, Command>, 3> kContained{{
    {"tarnix.packetfilter /add:", Command::FilterAdd},
    {"tarnix.sessionmonitor /blockstart", Command::BlockStart},
    {"tarnix.sessionmonitor /blockstop", Command::BlockStop},
}};

}  // namespace

std::string_view command_text(std::string_view received) {
  auto nul = received.find('\0');
  return nul == std::string_view::npos ? received : received.substr(0, nul);
}

ParsedCommand parse_command(std::string_view received) {
  std::string_view text = command_text(received);
  for (const auto& [name, cmd] : kWholeText)
    if (text == name) return {cmd, {}};
  for (const auto& [name, cmd] : kContained) {
    if (text.find(name) != std::string_view::npos)
      return {cmd, cmd == Command::FilterAdd ? std::string(text) : std::string()};
  }
  return {};
}

std::string_view command_name(Command c) {
  for (const auto& [name, cmd] : kWholeText)
    if (cmd == c) return name;
  for (const auto& [name, cmd] : kContained)
    if (cmd == c) return name;
  return {};
}

namespace {

constexpr std::array<std::pair<std::string_view, ReplyStatus>, 3> kReplyWords{{
    {"done", ReplyStatus::Done},
    {"ignored", ReplyStatus::Ignored},
    {"failed", ReplyStatus::Failed},
}};

}  // namespace

std::string reply_datagram(const CommandReply& reply) {
  std::string out;
  for (const auto& [word, status] : kReplyWords)
    if (status == reply.status) out = word;
  if (reply.text.empty()) return out;
  out += ": ";
  out += reply.text;
  if (out.size() > kMaxReplyBytes) {
    std::size_t cut = kMaxReplyBytes;
    // Not inside a UTF-8 sequence: continuation bytes are 10xxxxxx.
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  return out;
}

std::optional<CommandReply> parse_reply(std::string_view datagram) {
  for (const auto& [word, status] : kReplyWords) {
    if (!datagram.starts_with(word)) continue;
    const std::string_view rest = datagram.substr(word.size());
    if (rest.empty()) return CommandReply{status, {}};
    if (rest.starts_with(": ")) return CommandReply{status, std::string(rest.substr(2))};
  }
  return std::nullopt;
}

}  // namespace tw::shell
