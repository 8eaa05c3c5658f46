// tarnixd: the Traffic Monitor, the Session Monitor with auto-block, their
// logs, the command channel and the status block without a window.
//
// Threads: the main thread runs start-up, a poll loop (signals, commands,
// power events, timers, the session refresh) and the shut-down; the sampler
// thread samples, publishes the status record and wakes the main thread only
// when the sampled interface changed (see RuntimeHost::start_sampler). The
// loop sleeps until the next armed timer, so an idle tarnixd wakes for the
// sampling ticks and little else. Signals are blocked before the sampler
// thread exists, so they reach the main thread's signalfd and nothing else.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/runtime.h"
#include "app/startup.h"
#include "host/runtime_host.h"
#include "options.h"
#include "packetfilter/nft_ruleset.h"
#include "packets/packet_monitor.h"
#include "platform/linux/logind_power_events.h"
#include "platform/linux/netlink_link_stats.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/process_wait.h"
#include "platform/linux/service_manager.h"
#include "platform/linux/system_info.h"
#include "platform/linux/terminal_beeper.h"
#include "platform/privileged/nftables_filter.h"
#include "platform/privileged/sock_destroy.h"
#include "shared/flow_keys.h"
#include "shared/host_names.h"
#include "shell/shell_settings.h"
#include "traffic/traffic_monitor.h"

namespace tw::tarnixd {
namespace {

// How long a restarting successor waits for its predecessor.
constexpr std::chrono::milliseconds kRestartWait{10000};

int fail(const std::string& message) {
  std::fprintf(stderr, "tarnixd: %s\n", message.c_str());
  return 1;
}

// Why the interface table gave nothing: the failed read's reason, else that
// of a fresh read ("" when the table reads but lists nothing usable).
std::string table_error(platform::LinkStatsSource& links, const Status& read) {
  if (!read) return read.error().detail;
  std::vector<platform::LinkRow> rows;
  const Status again = links.read_table(rows);
  return again ? std::string() : again.error().detail;
}

int list_interfaces() {
  platform::NetlinkLinkStats links;
  std::vector<platform::LinkRow> rows;
  if (const Status read = links.read_table(rows); !read)
    return fail("cannot read the network interface table: " + read.error().detail);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& r = rows[i];
    std::string line = std::to_string(i) + "  " + r.name;
    if (r.if_name != r.name) line += " (" + r.if_name + ")";
    line += r.oper_status == platform::kOperStatusUp ? "  up" : "  down";
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

// The position of `wanted` in the table: its display name first (what the
// settings keep), else its kernel name.
std::optional<int> find_interface(const std::vector<platform::LinkRow>& rows,
                                  const std::string& wanted) {
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].name == wanted) return static_cast<int>(i);
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].if_name == wanted) return static_cast<int>(i);
  return std::nullopt;
}

std::string live_line(const traffic::TrafficMonitor& traffic) {
  const traffic::StatisticsTexts t = traffic.statistics_texts();
  std::string name = traffic.snapshot().description;
  if (name.empty()) {
    const auto& names = traffic.names();
    const int sel = traffic.selected_interface();
    if (sel >= 0 && static_cast<std::size_t>(sel) < names.size()) name = names[static_cast<std::size_t>(sel)];
  }
  std::string line = name + "  UL:" + t.smoothed_send + "  DL:" + t.smoothed_recv +
                     "  Total UL:" + t.total_send + "  Total DL:" + t.total_recv;
  if (traffic.interface_state() == traffic::InterfaceState::Changed)
    line += pick<std::string>(traffic.language(), "  Please, Reset Network Interface.",
                              "  ネットワークインターフェイスを再設定してください.");
  return line;
}

// The Packet Monitor without a window: on --capture-address (kept as the
// choice); else, with "Surveil"/"AutoStart" 1, on the stored choice while it
// is still an address of the machine, otherwise on the default address.
// False when the address asked for cannot be captured (said on stderr).
bool start_capture(host::RuntimeHost& host, settings::Profile& profile, const Options& opt,
                   const std::function<void(const std::string&)>& note) {
  app::PacketFeature& feature = host.packet_feature();
  packets::PacketMonitor& monitor = feature.monitor();
  if (opt.capture_address.empty() && !shell::load_surveil_auto_start(profile)) {
    (void)feature.auto_start();  // reads the address table, captures nothing
    return true;
  }
  monitor.load_addresses();
  std::string address = opt.capture_address;
  if (address.empty()) {
    address = monitor.default_address_text();
    const std::string stored = profile.read_string(kCaptureAddressSection, kCaptureAddressKey, "");
    // An IPv6 choice counts while "Settings"/"IPv6" is 1 and the machine
    // still has it; otherwise the default is taken, as for a gone IPv4 one.
    if (monitor.in_address_list(stored)) address = stored;
    else if (!stored.empty())
      std::fprintf(stderr, "tarnixd: the chosen capture address %s is no address of this machine now; capturing on %s\n",
                   stored.c_str(), address.c_str());
  }
  const packets::StartOutcome started = feature.start(address);
  if (started.kind == packets::StartOutcome::Started) {
    if (!opt.capture_address.empty()) profile.write_string(kCaptureAddressSection, kCaptureAddressKey, address);
    note("capturing packets on " + address);
    return true;
  }
  if (opt.capture_address.empty()) {
    if (!started.message.empty())
      std::fprintf(stderr, "tarnixd: the Packet Monitor did not start: %s\n", started.message.c_str());
    return true;
  }
  std::string known;
  for (const std::string& a : monitor.address_list_texts()) known += (known.empty() ? "" : ", ") + a;
  std::fprintf(stderr, "tarnixd: cannot capture on %s: %s (the addresses of this machine: %s)\n", address.c_str(),
               started.message.c_str(), known.empty() ? "none" : known.c_str());
  return false;
}

int run(const Options& opt) {
  if (opt.restart_pid) {
    // A restarting predecessor is still ending: wait for it, and give up
    // silently when it outlives the wait (it keeps running; we must not).
    if (*opt.restart_pid > 0 &&
        platform::wait_for_process_exit(*opt.restart_pid, kRestartWait) ==
            platform::WaitResult::TimedOut)
      return 0;
  }
  if (opt.list_interfaces) return list_interfaces();

  // Before any thread exists: the signals that end the program go to the
  // signalfd only, and a reader that went away never kills us with SIGPIPE.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGHUP);
  if (pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr) != 0) return fail("cannot block signals");
  ::signal(SIGPIPE, SIG_IGN);
  platform::OwnedFd signal_fd(::signalfd(-1, &stop_signals, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!signal_fd) return fail(std::string("signalfd: ") + std::strerror(errno));

  auto note = [&](const std::string& text) {
    if (opt.verbose) std::fprintf(stderr, "tarnixd: %s\n", text.c_str());
  };
  platform::TerminalBeeper beeper;
  // Run as root, auto-block closes connections itself; otherwise it asks
  // tarnix-helper.
  platform::SockDestroyKiller in_process_killer;
  // Run as root, tarnixd holds the packet filter's table itself.
  platform::NftablesPacketFilter in_process_filter({packetfilter::nft_apply_text, packetfilter::nft_remove_text});
  host::HostOptions host_options{.data_dir = opt.data_dir,
                                 .beeper = &beeper,
                                 .require_links = true,
                                 .warn = [](const std::string& text) { std::fprintf(stderr, "tarnixd: %s\n", text.c_str()); },
                                 .note = {},
                                 .in_process_killer = &in_process_killer,
                                 .metrics_file = opt.metrics_file,
                                 .in_process_filter = &in_process_filter};
  if (opt.verbose) host_options.note = note;
  host::HostError error;
  const std::unique_ptr<host::RuntimeHost> host = host::RuntimeHost::open(std::move(host_options), &error);
  if (!host) return fail(error.message);
  settings::Profile& profile = host->profile();
  traffic::TrafficMonitor& traffic = host->traffic();
  app::Runtime& runtime = host->runtime();
  platform::Clock& clock = host->clock();
  // Said once: from here on the file gives defaults and takes nothing.
  if (const auto problem = profile.file_problem(); problem != settings::SettingsFileProblem::None)
    std::fprintf(stderr, "tarnixd: %s\n",
                 app::settings_problem_text(host->settings_path(), problem, Language::English).c_str());

  // The interface: the one asked for (and kept as the choice), or the stored one.
  int position = 0;
  if (!opt.interface.empty()) {
    std::vector<platform::LinkRow> rows;
    const Status read = host->links().read_table(rows);
    if (!read || traffic.enumerate_interfaces().empty())
      return fail("cannot read the network interface table: " + table_error(host->links(), read));
    const auto found = find_interface(rows, opt.interface);
    if (!found) {
      std::string known;
      for (const auto& r : rows) known += (known.empty() ? "" : ", ") + r.if_name;
      return fail("no interface named " + opt.interface + " (there are: " + known + ")");
    }
    position = *found;
    traffic.select_interface(position);
    traffic.load_gross_totals();
    traffic.save_interface_choice();
  } else {
    position = traffic.start_with_stored_interface();
    if (traffic.names().empty())
      return fail("cannot read the network interface table: " + table_error(host->links(), {}));
  }
  const auto& names = traffic.names();
  note("sampling interface " + std::to_string(position) + " (" +
       (static_cast<std::size_t>(position) < names.size() ? names[static_cast<std::size_t>(position)]
                                                          : std::string("?")) +
       ") every " + std::to_string(traffic.sampling_period_ms()) + " ms");

  const bool tty = ::isatty(STDOUT_FILENO) == 1;
  const bool live = !opt.quiet && (opt.live || tty);
  if (live) {
    runtime.add_timer(app::kTimerLiveLine, [] { return std::uint32_t{1000}; }, [&] {
      const std::string line = live_line(traffic);
      if (tty) std::printf("\r%s\x1b[K", line.c_str());
      else std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    });
  }
  // "AutoBlock" follows "/blockstart" and "/blockstop" at once, as the desktop
  // page writes it: a guard switched on by command stays on after a restart.
  host->session_feature().set_auto_block_listener([&profile](bool on) { sessions::save_auto_block(profile, on); });
  runtime.start();

  // Suspend and resume, when logind is there to tell.
  std::unique_ptr<platform::LogindPowerEvents> power;
  if (auto connected = platform::LogindPowerEvents::connect()) power = std::move(*connected);
  else note("no power events: " + connected.error().detail);
  // Under systemd a successor would be stopped with the service's control
  // group: the instance goes on and starts a new report as the successor
  // would.
  const bool service = platform::under_service_manager();
  app::PowerResponse power_response(runtime, traffic, [&] {
    if (service) {
      runtime.start_new_report();
      note("resumed under systemd: a new report, no successor");
      return false;
    }
    // The successor runs as this instance did: same options, then "/w PID".
    std::vector<std::string> args = opt.own_args;
    for (std::string& a : app::restart_arguments(static_cast<unsigned long>(::getpid())))
      args.push_back(std::move(a));
    const Result<pid_t> pid = platform::start_successor(platform::executable_path(), args);
    if (pid) note("restarting after the resume: successor " + std::to_string(*pid));
    else note("no successor could be started after the resume; going on");
    return pid.ok();
  });

  host->start_sampler();
  // The Packet Monitor captures headless and feeds the packet log.
  if (!start_capture(*host, profile, opt, note)) {
    host->finish(false);
    return 1;
  }

  platform::notify_service_manager("READY=1");

  platform::CommandServer* const commands = host->commands();
  std::array<pollfd, 4> fds{};
  fds[0] = {signal_fd.get(), POLLIN, 0};
  fds[1] = {commands ? commands->fd() : -1, POLLIN, 0};
  fds[3] = {runtime.wake_fd(), POLLIN, 0};
  int exit_code = 0;
  bool restarting = false;
  for (;;) {
    if (power && power_response.handle(*power)) {
      restarting = true;
      break;
    }
    runtime.run_due(clock.tick_ms());
    const std::uint32_t timer_wait = runtime.ms_until_next(clock.tick_ms()).value_or(INT_MAX);
    int wait = static_cast<int>(std::min<std::uint32_t>(timer_wait, INT_MAX));
    fds[2] = {-1, 0, 0};
    if (power && power->fd() >= 0) {
      fds[2] = {power->fd(), power->poll_events(), 0};
      if (const int bus_wait = power->poll_timeout_ms(); bus_wait >= 0) wait = std::min(wait, bus_wait);
    }
    const int n = ::poll(fds.data(), fds.size(), wait);
    if (n < 0) {
      if (errno == EINTR) continue;
      exit_code = fail(std::string("poll: ") + std::strerror(errno));
      break;
    }
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (::read(signal_fd.get(), &info, sizeof info) == sizeof info)
        note(std::string("ending on ") + strsignal(static_cast<int>(info.ssi_signo)));
      break;
    }
    if (commands && (fds[1].revents & POLLIN)) {
      // A sender that waits (tarnixctl) hears the outcome; others get nothing.
      for (const platform::CommandRequest& r : commands->receive_requests())
        commands->reply(r, shell::reply_datagram(runtime.answer_command(r.text)));
    }
    if (fds[3].revents & POLLIN) runtime.handle_wake();
  }

  platform::notify_service_manager("STOPPING=1");
  // The same orderly end for every signal and for the restart: sampling
  // stops first so that the saved totals hold every byte counted, then the
  // shut-down sequence.
  host->finish(restarting);
  if (live && tty) std::printf("\n");
  // The totals counted in this run are lost when the final save failed (it
  // was said when it happened): a service manager should see that.
  if (exit_code == 0 && !host->totals_saved()) exit_code = 1;
  return exit_code;
}

}  // namespace
}  // namespace tw::tarnixd

int main(int argc, char** argv) {
  using namespace tw::tarnixd;
  // The session list sorts names with strcoll, which compares bytes until
  // the collation of the user's locale is taken; the desktop program gets it
  // from Qt. Only the collation: numbers in logs and lines keep the "C"
  // decimal point whatever the locale says.
  std::setlocale(LC_COLLATE, "");
  const ParseResult parsed = parse_options(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "tarnixd: %s\n\n%s", parsed.error.c_str(), usage_text());
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(usage_text(), stdout);
    return 0;
  }
  try {
    return run(parsed.options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarnixd: %s\n", e.what());
    return 1;
  }
}
