#pragma once
// The Netstat tool: one run lists every IPv4 TCP connection (filtered by
// state) and every UDP endpoint with host names, state, service and owner,
// and after them the IPv6 ones when "Settings"/"IPv6" is on.
// The listing is built on a worker thread with blocking name lookups and
// shown whole when the run ends.
//
// Run states: 0 idle, 1 starting, 2 running, 3 worker finished, 4 stop
// requested. 0 -> 1 (start) -> 2 (worker) -> 3 (worker done) -> 0 (the
// display tick shows the lines); 2 -> 4 (stop) -> 3 -> 0.
//
// Threads: start(), stop() and tick() on the user-interface thread;
// run_worker() on the worker. The result lines are handed over through the
// run state: the user-interface thread reads them only after state 3.
// The worker gets a socket table and a process table of its own (they serve
// one thread at a time); the two name caches are shared and lock themselves.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "platform/reverse_resolver.h"
#include "platform/socket_table.h"
#include "sessions/connection_table.h"
#include "settings/profile.h"
#include "shared/host_names.h"

namespace tw::sessions {

// The English state names of the listing, by MIB state (0 and out of range: "").
std::string_view netstat_state_name(int state);
// The options page's description of a state, shown as " NAME (DESCRIPTION)".
std::string_view netstat_state_description(int state, Language lang);

// One flag per TCP state 1..12.
using NetstatFilter = std::array<int, 12>;
inline constexpr NetstatFilter kDefaultNetstatFilter = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
// "Netstat"/"Filter": twelve "%i" values joined by ":"; fields that are
// missing or do not parse keep their default.
NetstatFilter parse_netstat_filter(std::string_view text);
std::string format_netstat_filter(const NetstatFilter& f);
NetstatFilter load_netstat_filter(const settings::Profile& profile);
void save_netstat_filter(settings::Profile& profile, const NetstatFilter& f);
bool netstat_listed(const NetstatFilter& f, int state);

// "TCP %15s:%5d (%s) -> %15s:%5d (%s) -> %s -> %s(%d)", without the last
// part when the owner is unknown (pid < 0). An IPv6 address is written in
// brackets ("[fd00::1]") in its "%15s".
std::string netstat_tcp_line(std::string_view local, unsigned local_port, std::string_view local_host,
                             std::string_view remote, unsigned remote_port, std::string_view remote_host,
                             int state, std::string_view process, int pid);
// "UDP %15s:%5d (%s: %s) -> %s(%d)", likewise.
std::string netstat_udp_line(std::string_view local, unsigned local_port, std::string_view host,
                             std::string_view service, std::string_view process, int pid);

class NetstatRun {
 public:
  enum State : int { kIdle = 0, kStarting = 1, kRunning = 2, kFinished = 3, kStopRequested = 4 };

  explicit NetstatRun(Language lang) : lang_(lang) {}

  int state() const { return state_.load(); }

  // The START/STOP button while idle: the text box's text for the run
  // ("Getting information "). The caller then starts the worker.
  std::string start();
  // The button during a run: the text to append ("Aborted."). The caller then
  // waits for the worker when one runs.
  std::string stop();

  // The worker, on its own thread: fills the lines and ends in state 3.
  void run_worker(platform::SocketTable& sockets, platform::ProcessTable& processes, ProcessNameCache& names,
                  shared::HostNameCache& hosts, platform::ReverseResolver& services, const NetstatFilter& filter,
                  bool ipv6 = true);

  // The 500 ms display tick. `append` gets a progress mark every second tick
  // while running; when the worker has finished, `replace` gets the whole
  // listing ("No data." when empty) and the run is idle again. Returns true
  // when the run ended on this tick.
  struct TickOutput {
    std::string append;
    std::string replace;
    bool finished = false;
  };
  TickOutput tick();

 private:
  bool keep_going() const { return state_.load() == kRunning; }

  Language lang_;
  std::atomic<int> state_{kIdle};
  std::vector<std::string> lines_;
  int ticks_ = 0;
};

}  // namespace tw::sessions
