// tarnixctl: the other program on the desktop. Sends a command text to the
// running Tarnwatch instances and prints their published status record.
#include <unistd.h>

#include <cstdint>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/linux/command_socket.h"
#include "platform/linux/instance_lock.h"
#include "platform/linux/status_block.h"
#include "shell/commands.h"

namespace {

const char* kUsage =
    "Usage: tarnixctl [--instance N | --second | --all | --socket PATH] [--no-wait] send TEXT...\n"
    "       tarnixctl status\n"
    "\n"
    "  send TEXT     deliver the command TEXT to a running instance, for example\n"
    "                tarnixctl send \"tarnix.trafficmonitor /init\"\n"
    "                (several words are joined with single blanks; commands must\n"
    "                match exactly, so mind the spelling and trailing blanks);\n"
    "                waits for the instance's answer and prints why a command\n"
    "                failed (a refused \"tarnix.packetfilter /add:\", a start\n"
    "                of the packet filter that did not install it)\n"
    "  status        print the statistics record your instances publish: capture\n"
    "                seconds, capture send and receive totals, gross send and\n"
    "                receive totals (each as quotient,divisor,remainder) and the\n"
    "                send and receive speeds in bytes/s, each field ending in ','\n"
    "  --instance N  send to instance N: 1 is the first instance (the default),\n"
    "                later ones are numbered from 2 in the order they started\n"
    "                (their channels are tarnwatch_#N.sock; they all use the\n"
    "                \"_#2\" settings file)\n"
    "  --second      the same as --instance 2\n"
    "  --all         send to every running instance\n"
    "  --socket P    send to the command socket P\n"
    "  --no-wait     deliver the command and wait for no answer\n"
    "  --            the rest of the line is the command text\n"
    "\n"
    "Exit status: 0 done (or delivered, when no answer came); 1 no instance (or no\n"
    "status record), or an instance did not take the command or says it failed;\n"
    "2 usage error; 3 status printed the last record of an instance that has\n"
    "ended, in order or not (no instance of yours publishes any more: the record\n"
    "was marked as the last one, or it is older than a second and no first\n"
    "instance holds the instance lock).\n";

int usage_error(const std::string& message) {
  std::fprintf(stderr, "tarnixctl: %s\n\n%s", message.c_str(), kUsage);
  return 2;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "tarnixctl: %s\n", message.c_str());
  return 1;
}

// "--instance 3": the number, or 0 when it is not one in range.
int instance_number(const std::string& text) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
  const int n = std::atoi(text.c_str());
  return n <= tw::platform::kMaxInstanceNumber ? n : 0;
}

// How long a sender waits for the outcome: a start of the packet filter
// through tarnix-helper may take the helper's 15 s for a large table.
constexpr std::chrono::milliseconds kReplyWait{20000};

enum class Sent { Done, Failed, NobodyListens };

// Sends to one instance and tells what came of it on stderr. `who` names the
// instance in messages ("" for the only one).
Sent send_one(const std::string& path, const std::string& text, bool wait, const std::string& who) {
  const std::string prefix = "tarnixctl: " + (who.empty() ? std::string() : who + ": ");
  if (!wait) {
    const tw::Status sent = tw::platform::send_command(path, text);
    if (sent) return Sent::Done;
    if (sent.error().errno_value == tw::platform::kNobodyListensErrno) return Sent::NobodyListens;
    std::fprintf(stderr, "%s%s\n", prefix.c_str(), sent.error().detail.c_str());
    return Sent::Failed;
  }
  const auto sent = tw::platform::send_command_for_reply(path, text, kReplyWait);
  if (!sent) {
    if (sent.error().errno_value == tw::platform::kNobodyListensErrno) return Sent::NobodyListens;
    std::fprintf(stderr, "%s%s\n", prefix.c_str(), sent.error().detail.c_str());
    return Sent::Failed;
  }
  if (!*sent) {
    // An instance without answers (an older Tarnwatch), or one still busy:
    // the command was delivered, as before answers existed.
    std::fprintf(stderr, "%sno answer within %lld s; the command was delivered\n", prefix.c_str(),
                 static_cast<long long>(kReplyWait.count() / 1000));
    return Sent::Done;
  }
  const auto reply = tw::shell::parse_reply(**sent);
  if (!reply) return Sent::Done;
  std::string text_of_reply;
  for (const char c : reply->text) text_of_reply += (static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
  switch (reply->status) {
    case tw::shell::ReplyStatus::Done:
      return Sent::Done;
    case tw::shell::ReplyStatus::Ignored:
      std::fprintf(stderr, "%signored: %s\n", prefix.c_str(), text_of_reply.c_str());
      return Sent::Done;
    case tw::shell::ReplyStatus::Failed:
      std::fprintf(stderr, "%s%s\n", prefix.c_str(), text_of_reply.c_str());
      return Sent::Failed;
  }
  return Sent::Done;
}

int send_to_all(const std::string& text, bool wait) {
  int delivered = 0, refused = 0;
  for (int n = 1; n <= tw::platform::kMaxInstanceNumber; ++n) {
    const std::string path = tw::platform::command_socket_path(n);
    if (path.empty()) return fail("no runtime folder, so no instance can be reached");
    switch (send_one(path, text, wait, "instance " + std::to_string(n))) {
      case Sent::Done: ++delivered; break;
      case Sent::Failed: ++refused; break;
      case Sent::NobodyListens: break;
    }
  }
  if (delivered == 0 && refused == 0) return fail("no Tarnwatch instance is running");
  return refused == 0 ? 0 : 1;
}

// Another instance of ours may still run and publish: the flag it finds set
// is cleared by that instance's next record, at most 200 ms later.
constexpr useconds_t kSettleMicros = 300000;

// A running writer renews its record every 200 ms; one not renewed for five
// periods was left by an instance that died without marking it (SIGKILL, a
// crash).
constexpr std::uint64_t kStaleAfterMs = 1000;

// Whether no live instance writes `record` any more although it was not
// marked as ended. A first instance that holds the instance lock is alive
// however old its record (its main loop may be busy for a moment).
bool abandoned(const tw::platform::StatusRecord& record) {
  if (!record.age_ms || *record.age_ms <= kStaleAfterMs) return false;
  const std::string lock = tw::platform::InstanceLock::path_for(tw::app::kProgramBaseName);
  return !tw::platform::InstanceLock::held_by_a_live_process(lock);
}

int print_status() {
  auto record = tw::platform::read_status_block();
  if (record && record->ended) {
    ::usleep(kSettleMicros);
    if (auto again = tw::platform::read_status_block()) record = again;
  }
  if (!record) return fail("no status record: no instance has run since the machine started");
  std::printf("%s\n", record->text.c_str());
  const bool dead_writer = !record->ended && abandoned(*record);
  if (!record->ended && !dead_writer) return 0;
  std::fflush(stdout);
  if (dead_writer)
    std::fprintf(stderr,
                 "tarnixctl: this is the last record of an instance that has ended without saying so "
                 "(written %llu ms ago); none runs now\n",
                 static_cast<unsigned long long>(*record->age_ms));
  else
    std::fprintf(stderr, "tarnixctl: this is the last record of an instance that has ended; none runs now\n");
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  std::string socket_path;
  int instance = 0;  // 0: not chosen
  bool all = false;
  bool wait = true;
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
      instance = 2;
    } else if (!options_done && a == "--instance") {
      if (i + 1 >= argc) return usage_error("--instance needs a number");
      instance = instance_number(argv[++i]);
      if (instance == 0)
        return usage_error("--instance takes a number from 1 to " +
                           std::to_string(tw::platform::kMaxInstanceNumber));
    } else if (!options_done && a == "--all") {
      all = true;
    } else if (!options_done && a == "--no-wait") {
      wait = false;
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
    if ((instance != 0) + all + !socket_path.empty() > 1)
      return usage_error("--instance, --second, --all and --socket exclude each other");
    std::string text;
    for (const auto& w : words) text += (text.empty() ? "" : " ") + w;
    if (all) return send_to_all(text, wait);
    if (socket_path.empty()) socket_path = tw::platform::command_socket_path(instance ? instance : 1);
    if (socket_path.empty()) return fail("no runtime folder, so no instance can be reached");
    switch (send_one(socket_path, text, wait, "")) {
      case Sent::Done: return 0;
      case Sent::Failed: return 1;
      case Sent::NobodyListens: return fail("no Tarnwatch instance is running (nothing listens on " + socket_path + ")");
    }
    return 0;
  }
  if (verb == "status") {
    if (!words.empty()) return usage_error("status takes no arguments");
    return print_status();
  }
  if (verb.empty()) return usage_error("say what to do: send or status");
  return usage_error("unknown command: " + verb);
}
