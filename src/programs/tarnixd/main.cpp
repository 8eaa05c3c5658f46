// tarnixd: the Traffic Monitor, its logs, the command channel and the status
// block without a window.
//
// Threads: the main thread runs start-up, a poll loop (signals, commands,
// power events, timers) and the shut-down; the sampler thread only calls
// TrafficMonitor::tick(). Signals are blocked before the sampler thread exists,
// so they reach the main thread's signalfd and nothing else.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/core.h"
#include "app/startup.h"
#include "logging/log_engine.h"
#include "options.h"
#include "platform/linux/command_socket.h"
#include "platform/linux/file_store.h"
#include "platform/linux/instance_lock.h"
#include "platform/linux/logind_power_events.h"
#include "platform/linux/netlink_link_stats.h"
#include "platform/linux/periodic_thread.h"
#include "platform/linux/process_wait.h"
#include "platform/linux/status_block.h"
#include "platform/linux/system_clock.h"
#include "platform/linux/system_info.h"
#include "platform/linux/terminal_beeper.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"

namespace tw::tarnixd {
namespace {

// The live line is one more timer of the poll loop, beside AppCore's.
constexpr int kTimerLiveLine = 1000;
constexpr std::uint32_t kLiveLinePeriodMs = 1000;

// How long a restarting successor waits for its predecessor.
constexpr std::chrono::milliseconds kRestartWait{10000};

int fail(const std::string& message) {
  std::fprintf(stderr, "tarnixd: %s\n", message.c_str());
  return 1;
}

int list_interfaces() {
  platform::NetlinkLinkStats links;
  std::vector<platform::LinkRow> rows;
  if (!links.ok() || !links.read_table(rows))
    return fail("cannot read the network interface table: " + links.error());
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

// The data folder, absolute and ending in "/", created and writable; empty
// with `error` set otherwise.
std::string prepare_data_folder(const std::string& requested, std::string& error) {
  std::string folder = requested;
  if (folder.empty()) {
    folder = platform::data_folder();
    if (folder.empty()) {
      error = "no data folder: the program folder is not writable and neither "
              "XDG_CONFIG_HOME nor HOME names a place for ~/.config/tarnwatch/";
      return {};
    }
  } else {
    std::error_code ec;
    folder = std::filesystem::absolute(folder, ec).lexically_normal().string();
    if (ec) {
      error = "bad data folder " + requested + ": " + ec.message();
      return {};
    }
  }
  if (folder.back() != '/') folder += '/';
  if (!platform::make_folders(folder)) {
    error = "cannot create the data folder " + folder + ": " + std::strerror(errno);
    return {};
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    error = "the data folder " + folder + " is not writable: " + std::strerror(errno);
    return {};
  }
  return folder;
}

std::string live_line(const traffic::TrafficMonitor& traffic) {
  const traffic::StatisticsTexts t = traffic.statistics_texts();
  std::string name = traffic.snapshot().description;
  if (name.empty()) {
    const auto& names = traffic.names();
    const int sel = traffic.selected_interface();
    if (sel >= 0 && static_cast<std::size_t>(sel) < names.size()) name = names[sel];
  }
  std::string line = name + "  UL:" + t.smoothed_send + "  DL:" + t.smoothed_recv +
                     "  Total UL:" + t.total_send + "  Total DL:" + t.total_recv;
  if (traffic.interface_state() == traffic::InterfaceState::Changed)
    line += pick<std::string>(traffic.language(), "  Please, Reset Network Interface.",
                              "  ネットワークインターフェイスを再設定してください.");
  return line;
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

  // Instance marker: a later instance runs beside the first with the "_#2"
  // settings file and a numbered command socket of its own.
  const platform::InstanceLock lock = platform::InstanceLock::acquire(app::kProgramBaseName);
  if (!lock.status().ok())
    note("no instance lock (" + lock.status().error().detail + "), running as the first instance");

  std::string error;
  const std::string folder = prepare_data_folder(opt.data_dir, error);
  if (folder.empty()) return fail(error);
  const std::string settings_path =
      folder + app::settings_file_name(app::kProgramBaseName, platform::user_name(),
                                       platform::host_name(), !lock.first_instance());
  const Language lang = app::language_from_locale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                                  std::getenv("LANG"));

  platform::LinuxFileStore files;
  platform::SystemClock clock;
  platform::TerminalBeeper beeper;
  settings::Profile profile(files, settings_path);
  note("settings file " + settings_path);
  // Said once: from here on the file gives defaults and takes nothing.
  if (const auto problem = profile.file_problem(); problem != settings::SettingsFileProblem::None)
    std::fprintf(stderr, "tarnixd: %s\n",
                 app::settings_problem_text(settings_path, problem, Language::English).c_str());

  platform::NetlinkLinkStats links;
  if (!links.ok()) return fail("cannot open the network interface table: " + links.error());
  traffic::TrafficMonitor traffic(profile, links, clock, lang);

  // The interface: the one asked for (and kept as the choice), or the stored one.
  int position = 0;
  if (!opt.interface.empty()) {
    std::vector<platform::LinkRow> rows;
    if (!links.read_table(rows) || traffic.enumerate_interfaces().empty())
      return fail("cannot read the network interface table: " + links.error());
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
      return fail("cannot read the network interface table: " + links.error());
  }
  const auto& names = traffic.names();
  note("sampling interface " + std::to_string(position) + " (" +
       (static_cast<std::size_t>(position) < names.size() ? names[position] : std::string("?")) +
       ") every " + std::to_string(traffic.sampling_period_ms()) + " ms");

  std::unique_ptr<platform::PosixStatusBlock> status = platform::PosixStatusBlock::open(&error);
  if (!status) std::fprintf(stderr, "tarnixd: no status block: %s\n", error.c_str());
  std::unique_ptr<platform::CommandServer> commands =
      platform::CommandServer::listen_as_instance(lock.first_instance(), &error);
  if (!commands) std::fprintf(stderr, "tarnixd: no command channel: %s\n", error.c_str());
  else note("commands on " + commands->path());

  logging::LogEngine logs(profile, files, clock, beeper, lang, folder);
  app::AppCoreOptions core_options;
  core_options.drive_auto_reset = true;  // no graph here to run the automatic reset
  if (opt.verbose) core_options.debug_log = [&](std::string_view n) { note(std::string(n)); };
  app::AppCore core(profile, traffic, logs, status.get(), core_options);
  core.start();

  // Suspend and resume, when logind is there to tell.
  std::unique_ptr<platform::LogindPowerEvents> power = platform::LogindPowerEvents::connect(&error);
  if (!power) note("no power events: " + error);
  app::PowerResponse power_response(core, traffic, [&] {
    // The successor runs as this instance did: same options, then "/w PID".
    std::vector<std::string> args = opt.own_args;
    for (std::string& a : app::restart_arguments(static_cast<unsigned long>(::getpid())))
      args.push_back(std::move(a));
    const long pid = platform::start_successor(platform::executable_path(), args);
    if (pid > 0) note("restarting after the resume: successor " + std::to_string(pid));
    else note("no successor could be started after the resume; going on");
    return pid > 0;
  });

  platform::PeriodicThread sampler;
  if (!sampler.start(std::chrono::milliseconds(traffic.sampling_period_ms()), [&] { traffic.tick(); },
                     "tw-sampler"))
    std::fprintf(stderr, "tarnixd: cannot start the sampler thread; nothing is sampled\n");

  const bool tty = ::isatty(STDOUT_FILENO) == 1;
  const bool live = !opt.quiet && (opt.live || tty);
  auto timer_set = [&] {
    auto table = core.timers();
    if (live) table.push_back({kTimerLiveLine, kLiveLinePeriodMs});
    return table;
  };
  app::TimerSchedule schedule;
  schedule.assign(timer_set(), clock.tick_ms());
  std::uint64_t timers_version = core.timers_version();

  std::array<pollfd, 3> fds{};
  fds[0] = {signal_fd.get(), POLLIN, 0};
  fds[1] = {commands ? commands->fd() : -1, POLLIN, 0};
  int exit_code = 0;
  bool restarting = false;
  for (;;) {
    if (power && power_response.handle(*power)) {
      restarting = true;
      break;
    }
    for (int id : schedule.take_due(clock.tick_ms())) {
      if (id == kTimerLiveLine) {
        const std::string line = live_line(traffic);
        if (tty) std::printf("\r%s\x1b[K", line.c_str());
        else std::printf("%s\n", line.c_str());
        std::fflush(stdout);
      } else {
        core.on_timer(id);
      }
    }
    if (core.timers_version() != timers_version) {
      timers_version = core.timers_version();
      schedule.assign(timer_set(), clock.tick_ms());
    }
    const std::uint32_t timer_wait = schedule.ms_until_next(clock.tick_ms()).value_or(INT_MAX);
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
      for (const std::string& text : commands->receive_pending()) core.handle_command(text);
    }
  }

  // The same orderly end for every signal and for the restart: sampling
  // stops first so that the saved totals hold every byte counted, then the
  // shut-down sequence.
  sampler.stop();
  core.shutdown(restarting, {.window_state = {}, .window_placement = {},
                        .release_status_block = [&] { status.reset(); }});
  commands.reset();
  if (live && tty) std::printf("\n");
  return exit_code;
}

}  // namespace
}  // namespace tw::tarnixd

int main(int argc, char** argv) {
  using namespace tw::tarnixd;
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
