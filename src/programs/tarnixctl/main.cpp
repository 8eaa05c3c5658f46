// tarnixctl: the other program on the desktop. Sends a command text to the
// running Tarnwatch instance and prints its published status record.
#include <cstdio>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/linux/command_socket.h"
#include "platform/linux/status_block.h"

namespace {

const char* kUsage =
    "Usage: tarnixctl [--second | --socket PATH] send TEXT...\n"
    "       tarnixctl status\n"
    "\n"
    "  send TEXT   deliver the command TEXT to the running instance, for example\n"
    "              tarnixctl send \"tarnix.trafficmonitor /init\"\n"
    "              (several words are joined with single blanks; commands must\n"
    "              match exactly, so mind the spelling and trailing blanks)\n"
    "  status      print the statistics record the instances publish: capture\n"
    "              seconds, capture send and receive totals, gross send and\n"
    "              receive totals (each as quotient,divisor,remainder) and the\n"
    "              send and receive speeds in bytes/s, each field ending in ','\n"
    "  --second    send to the second instance (the one with the \"_#2\" files)\n"
    "  --socket P  send to the command socket P\n"
    "  --          the rest of the line is the command text\n"
    "\n"
    "Exit status: 0 done, 1 no instance (or no status record), 2 usage error.\n";

int usage_error(const std::string& message) {
  std::fprintf(stderr, "tarnixctl: %s\n\n%s", message.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string socket_path;
  bool second = false;
  std::string verb;
  std::vector<std::string> words;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (!options_done && a == "--") {
      options_done = true;
    } else if (!options_done && (a == "--help" || a == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!options_done && a == "--second") {
      second = true;
    } else if (!options_done && a == "--socket") {
      if (i + 1 >= argc) return usage_error("--socket needs a path");
      socket_path = argv[++i];
    } else if (!options_done && a.size() > 2 && a.starts_with("--")) {
      return usage_error("unknown option: " + a);
    } else if (verb.empty()) {
      verb = a;
    } else {
      words.push_back(a);
    }
  }

  if (verb == "send") {
    if (words.empty()) return usage_error("send needs the command text");
    if (second && !socket_path.empty()) return usage_error("--second and --socket exclude each other");
    std::string text;
    for (const auto& w : words) text += (text.empty() ? "" : " ") + w;
    if (socket_path.empty())
      socket_path = tw::platform::command_socket_path(second ? tw::app::kSecondInstanceSuffix : "");
    if (socket_path.empty()) {
      std::fprintf(stderr, "tarnixctl: no runtime folder, so no instance can be reached\n");
      return 1;
    }
    std::string error;
    if (!tw::platform::send_command(socket_path, text, &error)) {
      std::fprintf(stderr, "tarnixctl: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (verb == "status") {
    if (!words.empty()) return usage_error("status takes no arguments");
    const auto record = tw::platform::read_status_block();
    if (!record) {
      std::fprintf(stderr, "tarnixctl: no status record: no instance has run since the machine started\n");
      return 1;
    }
    std::printf("%s\n", record->c_str());
    return 0;
  }
  if (verb.empty()) return usage_error("say what to do: send or status");
  return usage_error("unknown command: " + verb);
}
