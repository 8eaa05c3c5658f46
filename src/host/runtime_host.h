#pragma once
// The start-up that tarnix and tarnixd share on Linux: the instance lock, the
// data folder, the settings file, the language, the interface table and the
// Traffic Monitor, the Session Monitor with its socket and process tables,
// name caches and connection killer, the status block, the command channel,
// the logs, the runtime with the features registered, and the sampler thread. Each program
// adds what only it has (a window or a poll loop, its beeper, its way of
// starting a successor) and then drives the runtime.
//
// Use (main thread):
//   auto host = RuntimeHost::open(options, &error);   // everything but sampling
//   choose the interface (the window's page, or tarnixd's option)
//   host->start_sampler();
//   host->runtime().start();
//   drive host->runtime() and serve host->commands()
//   host->finish(restarting);                          // or let it go out of scope
//
// Ownership: owns every object it opens; the beeper is the caller's and must
// outlive it.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/filter_feature.h"
#include "app/metrics_feature.h"
#include "app/packet_feature.h"
#include "app/runtime.h"
#include "app/session_feature.h"
#include "app/traffic_feature.h"
#include "base/language.h"
#include "logging/log_engine.h"
#include "packets/packet_monitor.h"
#include "platform/beeper.h"
#include "platform/linux/command_socket.h"
#include "platform/linux/file_store.h"
#include "platform/linux/helper_client.h"
#include "platform/linux/helper_packet_filter.h"
#include "platform/linux/instance_lock.h"
#include "platform/linux/linux_packet_capture.h"
#include "platform/linux/netlink_link_stats.h"
#include "platform/linux/network_info.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/periodic_thread.h"
#include "platform/linux/proc_sockets.h"
#include "platform/linux/resolver.h"
#include "platform/linux/sock_diag.h"
#include "platform/linux/status_block.h"
#include "platform/linux/system_clock.h"
#include "platform/linux/system_info.h"
#include "sessions/session_monitor.h"
#include "settings/profile.h"
#include "shared/flow_keys.h"
#include "shared/host_names.h"
#include "traffic/traffic_monitor.h"

namespace tw::host {

struct HostOptions {
  // The data folder asked for; empty for the usual one (beside the program,
  // else ~/.config/tarnwatch/).
  std::string data_dir;
  // Sounds the logs' beep. Required.
  platform::Beeper* beeper = nullptr;
  // Without the interface table the desktop program still runs (its graph
  // stays empty); tarnixd has nothing to do then.
  bool require_links = false;
  // Problems the program goes on with (no status block, no command channel):
  // always worth telling.
  std::function<void(const std::string&)> warn;
  // Details for a verbose run (the settings file, dropped commands,
  // connections that could not be closed). May be empty.
  std::function<void(const std::string&)> note;
  // Closes connections in this process when it holds CAP_NET_ADMIN; tried
  // before tarnix-helper. Null in the desktop program, which never links the
  // privileged code. Must outlive the host.
  platform::ConnectionKiller* in_process_killer = nullptr;
  // The figures file for Prometheus for this run instead of
  // "Settings"/"MetricsFile" (tarnixd's --metrics-file); "" for the setting.
  // A relative path is taken from the working folder.
  std::string metrics_file;
  // Installs the packet filter in this process when it holds CAP_NET_ADMIN;
  // tried before tarnix-helper. Null in the desktop program. Must outlive
  // the host.
  platform::PacketFilter* in_process_filter = nullptr;
  // Problems the user must see even without a terminal, each said once: the
  // gross totals could not be saved, a log cannot be written. Main thread.
  // Empty: they go to `warn`.
  std::function<void(const std::string&)> alert = {};
  // A data folder (or a settings, rule or list file in it) that another user
  // could have written is refused: with this set the program runs on the
  // default settings and writes nothing into it (untrusted_text() says why);
  // otherwise open() fails with HostError::Kind::Untrusted.
  bool run_on_defaults_when_untrusted = false;
};

struct HostError {
  enum class Kind { None, DataFolder, Links, Untrusted };
  Kind kind = Kind::None;
  // For DataFolder: the folder that could not be made writable ("" when none
  // could even be named). For Untrusted: the data folder refused.
  std::string folder;
  std::string message;
};

// A file store that reads nothing (every file is missing) and writes nothing
// (every write fails): what a program that refused its data folder runs on.
class RefusingFileStore : public platform::FileStore {
 public:
  Result<std::string> read(const std::string& path, std::size_t) override;
  Result<std::string> read_part(const std::string& path, std::uint64_t, std::size_t) override;
  Status replace(const std::string& path, std::string_view) override;
  Status write(const std::string& path, std::string_view, bool) override;
  Status remove(const std::string& path) override;
  Result<std::uint64_t> free_bytes(const std::string& path) override;
};

class RuntimeHost {
 public:
  // Opens everything but the sampler; null with `error` set when the program
  // cannot run.
  static std::unique_ptr<RuntimeHost> open(HostOptions options, HostError* error);
  // Shuts the runtime down when it started and nobody did, and closes the
  // command channel.
  ~RuntimeHost();
  RuntimeHost(const RuntimeHost&) = delete;
  RuntimeHost& operator=(const RuntimeHost&) = delete;

  // Samples the chosen interface from now on; the runtime's shut-down stops
  // it first. False (and warned) when the thread could not be started.
  //
  // The sampler thread is the one that runs anyway, so it also does what
  // would otherwise wake the main thread: it reads the link events between
  // its ticks, publishes the statistics record every 200 ms when its period
  // divides that, and wakes the main thread (the runtime's wake descriptor)
  // only when the sampled interface changed, for the automatic reset.
  bool start_sampler();
  // The orderly end: the runtime's shut-down sequence, then the command
  // channel closes. Runs once.
  void finish(bool restarting);

  app::Runtime& runtime() { return runtime_; }
  traffic::TrafficMonitor& traffic() { return traffic_; }
  sessions::SessionMonitor& sessions() { return *sessions_; }
  app::SessionFeature& session_feature() { return *session_feature_; }
  // The name caches and the resolver the Netstat tab shares with the monitor.
  shared::HostNameCache& host_names() { return hosts_; }
  sessions::ProcessNameCache& process_names() { return process_names_; }
  platform::ReverseResolver& resolver() { return resolver_; }
  // NETSTAT's owner lookup: a table of its own (its worker reads beside the
  // session refresh) that names other users' processes through the helper as
  // the Session Monitor's does.
  platform::ProcessTable& netstat_processes() { return netstat_processes_; }
  // Starts tarnix-helper from the calling thread unless it runs: one that a
  // short-lived worker started would end with that thread (PR_SET_PDEATHSIG
  // follows the thread). The main thread calls it before such a worker runs.
  void ready_helper() { (void)helper_.capabilities(); }
  packets::PacketMonitor& packets() { return *packets_; }
  app::PacketFeature& packet_feature() { return *packet_feature_; }
  packetfilter::FilterController& packet_filter() { return *filter_; }
  settings::Profile& profile() { return profile_; }
  platform::Clock& clock() { return clock_; }
  platform::NetlinkLinkStats& links() { return links_; }
  // Null when the channel could not be opened.
  platform::CommandServer* commands() { return commands_.get(); }
  app::MetricsFeature& metrics() { return *metrics_feature_; }
  // The store every file of the data folder goes through (one that refuses
  // everything when the folder was refused).
  platform::FileStore& files() { return files_; }
  // Why the data folder was refused ("" when it was not): the program then
  // runs on defaults and writes nothing. Say it once.
  const std::string& untrusted_text() const { return untrusted_text_; }
  // False when the last save of the gross totals failed (after finish(): the
  // final one); tarnixd then ends with a non-zero status. A settings file
  // that was unusable from the start, or a refused folder, never counts: the
  // program said at start that it saves nothing.
  bool totals_saved() const { return totals_saved_; }
  Language language() const { return lang_; }
  // Absolute, ending in '/'.
  const std::string& data_folder() const { return folder_; }
  const std::string& settings_path() const { return settings_path_; }

 private:
  RuntimeHost(HostOptions options, platform::InstanceLock lock, std::string folder, Language lang,
              std::string untrusted_text);
  void on_totals_saved(const Status& saved);
  void alert(const std::string& text) const;
  void open_channels();  // the status block and the command channel
  void open_sessions();  // the Session Monitor and its feature
  void open_metrics();   // the figures file for Prometheus
  void open_packets();   // the Packet Monitor and its feature
  void open_filter();    // the Packet Filter and its feature
  void warn(const std::string& text) const;
  void note(const std::string& text) const;
  void sampler_tick();  // on the sampler thread

  HostOptions options_;
  const platform::InstanceLock lock_;
  const std::string folder_;
  const Language lang_;
  const std::string settings_path_;
  const std::string untrusted_text_;
  platform::LinuxFileStore linux_files_;
  RefusingFileStore refusing_files_;
  platform::FileStore& files_;
  platform::SystemClock clock_;
  settings::Profile profile_;
  // The sampler's interface table, read on the sampler thread only.
  platform::NetlinkLinkStats links_;
  traffic::TrafficMonitor traffic_;
  std::unique_ptr<platform::PosixStatusBlock> status_;
  std::unique_ptr<platform::CommandServer> commands_;
  logging::LogEngine logs_;
  app::Runtime runtime_;
  app::TrafficFeature traffic_feature_;
  // The Session Monitor's sources. The socket table and the in-process
  // killer belong to the namespace the program started in.
  platform::SockDiagSocketTable sockets_;
  platform::HelperClient helper_;
  // Other users' sockets are named through the helper when this process
  // cannot look into their /proc/PID/fd itself.
  platform::HelperSocketOwners helper_owners_{helper_};
  platform::ProcProcessTable processes_{"/proc", std::chrono::milliseconds(1000), &helper_owners_};
  platform::ProcProcessTable netstat_processes_{"/proc", std::chrono::milliseconds(1000), &helper_owners_};
  platform::HelperConnectionKiller helper_killer_{helper_};
  platform::ChoosingConnectionKiller killer_{options_.in_process_killer, &helper_killer_};
  platform::SystemReverseResolver resolver_;
  platform::ThreadLookupWorkers lookup_workers_;  // waits for the lookups when it goes
  shared::HostNameCache hosts_{resolver_, lookup_workers_};
  shared::FlowKeyTable flow_keys_;
  sessions::ProcessNameCache process_names_{processes_};
  std::unique_ptr<sessions::SessionMonitor> sessions_;
  std::unique_ptr<app::SessionFeature> session_feature_;
  std::unique_ptr<app::MetricsFeature> metrics_feature_;
  // The Packet Monitor: captures in-process with CAP_NET_RAW, through the
  // helper otherwise; its process names come from the Session Monitor's
  // cache, its flow keys from the session refresh.
  platform::LinuxPacketCapture capture_{&helper_};
  std::unique_ptr<packets::PacketMonitor> packets_;
  std::unique_ptr<app::PacketFeature> packet_feature_;
  // The Packet Filter: the adapters' addresses, and the table held in this
  // process or by the helper (declared after the helper, so they go first).
  platform::LinuxNetworkInfo network_;
  platform::HelperPacketFilter helper_filter_{helper_};
  platform::ChoosingPacketFilter filter_engine_{options_.in_process_filter, &helper_filter_};
  std::unique_ptr<packetfilter::FilterController> filter_;
  std::unique_ptr<app::FilterFeature> filter_feature_;
  // Written by the sampler thread when the interface changed, read by the
  // main thread through the runtime's wake-up (an eventfd).
  platform::OwnedFd wake_;
  // The sampler thread's own: the block it publishes to (null when the main
  // thread's timer does) and when it last did.
  platform::StatusBlock* sampler_block_ = nullptr;
  std::uint32_t last_publish_ms_ = 0;
  platform::PeriodicThread sampler_;
  // Saves the program said at start it would not make (an unusable settings
  // file, a refused folder) are not reported again.
  bool quiet_saves_ = false;
  bool save_failing_ = false;
  bool totals_saved_ = true;
};

// The user-interface language the locale variables ask for.
Language environment_language();

// The data folder, absolute and ending in "/", created and writable; empty
// with `error` set otherwise. An empty `requested` asks for the usual one.
std::string prepare_data_folder(const std::string& requested, HostError& error);

// Checks `folder` (ending in "/") and the files in it that the program takes
// orders from (the settings file `settings_path`, the rule files, the WHOIS
// table and the tool histories) with platform::check_trusted(): the first
// that fails, with its reason.
Status check_data_folder_trust(const std::string& folder, const std::string& settings_path);

}  // namespace tw::host
