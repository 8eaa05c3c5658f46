#include "host/runtime_host.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <filesystem>
#include <utility>

#include "app/startup.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/system_info.h"
#include "settings/shared_keys.h"
#include "shell/shell_settings.h"
#include "tools/tool_settings.h"

namespace tw::host {

Language environment_language() {
  return app::language_from_locale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

std::string prepare_data_folder(const std::string& requested, HostError& error) {
  error.kind = HostError::Kind::DataFolder;
  std::string folder = requested;
  if (folder.empty()) {
    folder = platform::data_folder();
    if (folder.empty()) {
      error.message = "no data folder: the program folder is not writable and neither "
                      "XDG_CONFIG_HOME nor HOME names a place for ~/.config/tarnwatch/";
      return {};
    }
  } else {
    std::error_code ec;
    folder = std::filesystem::absolute(folder, ec).lexically_normal().string();
    if (ec) {
      error.message = "bad data folder " + requested + ": " + ec.message();
      return {};
    }
  }
  if (folder.back() != '/') folder += '/';
  error.folder = folder;
  if (!platform::make_folders(folder)) {
    error.message = "cannot create the data folder " + folder + ": " + std::strerror(errno);
    return {};
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    error.message = "the data folder " + folder + " is not writable: " + std::strerror(errno);
    return {};
  }
  error = {};
  return folder;
}

namespace {
constexpr const char* kRefused = "The data folder is not used.";
}  // namespace

Result<std::string> RefusingFileStore::read(const std::string& path, std::size_t) {
  return Error{kRefused, path + ": not read", platform::kFileMissingErrno};
}
Result<std::string> RefusingFileStore::read_part(const std::string& path, std::uint64_t, std::size_t) {
  return Error{kRefused, path + ": not read", platform::kFileMissingErrno};
}
Status RefusingFileStore::replace(const std::string& path, std::string_view) {
  return Error{kRefused, path + ": not written", EPERM};
}
Status RefusingFileStore::write(const std::string& path, std::string_view, bool) {
  return Error{kRefused, path + ": not written", EPERM};
}
Status RefusingFileStore::remove(const std::string& path) { return Error{kRefused, path + ": not deleted", EPERM}; }
Result<std::uint64_t> RefusingFileStore::free_bytes(const std::string& path) {
  return Error{kRefused, path + ": not examined", EPERM};
}

Status check_data_folder_trust(const std::string& folder, const std::string& settings_path) {
  const std::string base(app::kProgramBaseName);
  const std::string files[] = {
      settings_path,
      folder + std::string(app::kAutoBlockRuleFileName),
      folder + std::string(packetfilter::kRuleFileName),
      folder + base + std::string(tools::kWhoisTableSuffix),
      folder + base + std::string(tools::kPingTool.history_suffix),
      folder + base + std::string(tools::kTracertTool.history_suffix),
      folder + base + std::string(tools::kWhoisHistorySuffix),
      folder + base + std::string(tools::kNslookupHistorySuffix),
  };
  if (Status s = platform::check_trusted(folder); !s) return s;
  for (const std::string& file : files)
    if (Status s = platform::check_trusted(file); !s) return s;
  return {};
}

std::unique_ptr<RuntimeHost> RuntimeHost::open(HostOptions options, HostError* error) {
  HostError local;
  HostError& err = error ? *error : local;
  err = {};
  // Instance marker: a later instance runs beside the first with the "_#2"
  // settings file and a numbered command socket of its own.
  platform::InstanceLock lock = platform::InstanceLock::acquire(app::kProgramBaseName);
  if (!lock.status().ok() && options.note)
    options.note("no instance lock (" + lock.status().error().detail + "), running as the first instance");

  std::string runtime_notice;
  (void)platform::runtime_folder(&runtime_notice);
  if (!runtime_notice.empty() && options.warn) options.warn(runtime_notice);

  std::string folder = prepare_data_folder(options.data_dir, err);
  if (folder.empty()) return nullptr;
  const Language lang = environment_language();
  // Like OpenSSH's StrictModes: orders (a log folder, a log format, rules)
  // are taken only from a folder and files nobody else could have written.
  const std::string settings_path =
      folder + app::settings_file_name(app::kProgramBaseName, platform::user_name(), platform::host_name(),
                                       !lock.first_instance());
  std::string untrusted;
  if (const Status trusted = check_data_folder_trust(folder, settings_path); !trusted) {
    const bool go_on = options.run_on_defaults_when_untrusted;
    untrusted = app::untrusted_data_text(folder, trusted.error().detail, go_on, lang);
    if (!go_on) {
      err.kind = HostError::Kind::Untrusted;
      err.folder = folder;
      err.message = untrusted;
      return nullptr;
    }
  } else {
    // Left by a writer killed between writing and renaming.
    for (const std::string& stray : platform::remove_stray_temporaries(folder, app::kProgramBaseName))
      if (options.note) options.note("removed the stray temporary file " + stray);
  }
  std::unique_ptr<RuntimeHost> host(
      new RuntimeHost(std::move(options), std::move(lock), std::move(folder), lang, std::move(untrusted)));
  if (!host->links_.is_supported()) {
    // A source that failed to set itself up reports why on every read.
    std::vector<platform::LinkRow> rows;
    const Status read = host->links_.read_table(rows);
    const std::string message =
        "cannot open the network interface table: " + (read ? std::string() : read.error().detail);
    if (host->options_.require_links) {
      err.kind = HostError::Kind::Links;
      err.message = message;
      return nullptr;
    }
    host->warn(message);
  }
  host->open_channels();
  return host;
}

RuntimeHost::RuntimeHost(HostOptions options, platform::InstanceLock lock, std::string folder, Language lang,
                         std::string untrusted_text)
    : options_(std::move(options)),
      lock_(std::move(lock)),
      folder_(std::move(folder)),
      lang_(lang),
      settings_path_(folder_ + app::settings_file_name(app::kProgramBaseName, platform::user_name(),
                                                       platform::host_name(), !lock_.first_instance())),
      untrusted_text_(std::move(untrusted_text)),
      files_(untrusted_text_.empty() ? static_cast<platform::FileStore&>(linux_files_) : refusing_files_),
      profile_(files_, settings_path_),
      traffic_(profile_, links_, clock_, lang_),
      logs_(profile_, files_, clock_, *options_.beeper, lang_, folder_),
      runtime_(profile_, logs_, {.debug_log = [this](std::string_view n) { note(std::string(n)); }}),
      traffic_feature_(runtime_, profile_, traffic_) {
  note("settings file " + settings_path_);
  quiet_saves_ = !untrusted_text_.empty() || profile_.file_problem() != settings::SettingsFileProblem::None;
  traffic_.set_save_listener([this](const Status& saved) { on_totals_saved(saved); });
  logs_.set_warn([this](const std::string& text) { alert(text); }, [this](const std::string& text) { note(text); });
  runtime_.add_shutdown_step(app::shutdown_step::kStopSampling, [this](bool) { sampler_.stop(); });
  // The sampler tells the main thread when the sampled interface changed
  // (the automatic reset counts down from then on); nothing polls for it.
  wake_ = platform::OwnedFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (wake_) {
    traffic_.set_changed_listener([fd = wake_.get()] {
      const std::uint64_t one = 1;
      (void)!::write(fd, &one, sizeof one);  // only a counter at its maximum refuses
    });
    runtime_.set_wake(wake_.get(), [this] {
      std::uint64_t news = 0;
      if (::read(wake_.get(), &news, sizeof news) == sizeof news && !runtime_.is_shut_down())
        traffic_feature_.interface_changed();
    });
  } else {
    warn(std::string("no wake-up for the main thread (eventfd: ") + std::strerror(errno) +
         "); the automatic reset after an interface change does not run");
  }
  open_sessions();
  open_packets();
  open_filter();
  open_metrics();
}

void RuntimeHost::open_metrics() {
  std::string fixed = options_.metrics_file;
  if (!fixed.empty()) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(fixed, ec);
    if (!ec) fixed = absolute.lexically_normal().string();
  }
  metrics_feature_ = std::make_unique<app::MetricsFeature>(
      runtime_, profile_, files_, folder_, std::move(fixed),
      app::MetricsFeature::Hooks{[this](const std::string& t) { warn(t); }, [this](const std::string& t) { note(t); }});
  metrics_feature_->add_section([this](metrics::Figures& f) { f.traffic = app::traffic_section(traffic_); });
  metrics_feature_->add_section([this](metrics::Figures& f) { f.sessions = app::session_section(*sessions_); });
  metrics_feature_->add_section([this](metrics::Figures& f) { f.packets = app::packet_section(*packets_); });
  metrics_feature_->add_section([this](metrics::Figures& f) { f.filter = app::filter_section(*filter_); });
  if (!metrics_feature_->path().empty()) note("metrics file " + metrics_feature_->path());
}

void RuntimeHost::open_packets() {
  packets_ = std::make_unique<packets::PacketMonitor>(
      packets::PacketMonitorDeps{capture_, clock_, flow_keys_, hosts_,
                                 [this](int pid) { return process_names_.name_for(pid); }},
      lang_, packets::load_packet_settings(profile_));
  packet_feature_ = std::make_unique<app::PacketFeature>(runtime_, profile_, *packets_);
}

void RuntimeHost::open_filter() {
  packetfilter::FilterControllerConfig config;
  config.rule_file_path = folder_ + std::string(packetfilter::kRuleFileName);
  config.lang = lang_;
  // Without a window the messages are worth a line; the desktop page shows
  // them in message boxes instead.
  config.show_message = [this](std::string_view m) { warn(std::string(m)); };
  config.note = [this](std::string_view n) { note(std::string(n)); };
  filter_ = std::make_unique<packetfilter::FilterController>(
      packetfilter::FilterControllerDeps{filter_engine_, network_, files_}, std::move(config));
  // The rule file's problems: worth a line even without a window (the
  // desktop page shows them as well).
  filter_->set_warning_sink([this](std::string_view w) { warn(std::string(w)); });
  filter_feature_ = std::make_unique<app::FilterFeature>(runtime_, profile_, *filter_);
}

void RuntimeHost::open_sessions() {
  if (!sockets_.is_supported()) warn("cannot open the socket table; the Session Monitor shows no connections");
  sessions::SessionMonitorConfig config;
  config.lang = lang_;
  config.data_folder = folder_;
  config.log_root = logging::load_log_root_folder(profile_);
  config.ipv6 = profile_.read_int(settings::kSettingsSection, settings::kIpv6Key, settings::kIpv6Default) != 0;
  // Names in the sort keys are compared in the user's collation: tarnixd takes
  // LC_COLLATE from the environment at start, the desktop program through Qt.
  config.compare = [](std::string_view a, std::string_view b) {
    return std::strcoll(std::string(a).c_str(), std::string(b).c_str());
  };
  // Not shown: the connection stays in the list and is tried again at the
  // next refresh.
  config.kill_failed = [this](const Error& e) { note("could not close a connection: " + e.message()); };
  const sessions::SessionSettings settings = sessions::load_session_settings(profile_);
  sessions_ = std::make_unique<sessions::SessionMonitor>(
      sessions::SessionMonitorDeps{sockets_, processes_, killer_, clock_, files_, hosts_, flow_keys_, process_names_},
      std::move(config), settings, sessions::load_autoblock_settings(profile_));

  const std::string rule_path = folder_ + std::string(app::kAutoBlockRuleFileName);
  const Result<std::string> rules = files_.read(rule_path, app::kMaxRuleFileBytes);
  if (!rules && rules.error().errno_value != platform::kFileMissingErrno)
    warn("cannot read the auto-block rules " + rule_path + "; auto-block closes nothing");
  session_feature_ =
      std::make_unique<app::SessionFeature>(runtime_, *sessions_, rules.value_or(std::string()),
                                            shell::load_session_auto_start(profile_));
}

void RuntimeHost::open_channels() {
  if (auto block = platform::PosixStatusBlock::open()) status_ = std::move(*block);
  else warn("no status block: " + block.error().detail);
  if (auto channel = platform::CommandServer::listen_as_instance(lock_.first_instance())) {
    commands_ = std::move(*channel);
    note("commands on " + commands_->path());
  } else {
    warn("no command channel: " + channel.error().detail);
  }

  runtime_.set_status_block(status_.get(), [this] { status_.reset(); });
}

RuntimeHost::~RuntimeHost() {
  // A program that ended before its runtime started (a bad option) leaves
  // the settings file as it found it.
  if (runtime_.started()) finish(false);
  sampler_.stop();
  commands_.reset();
}

void RuntimeHost::warn(const std::string& text) const {
  if (options_.warn) options_.warn(text);
}

void RuntimeHost::alert(const std::string& text) const {
  if (options_.alert) options_.alert(text);
  else warn(text);
}

void RuntimeHost::on_totals_saved(const Status& saved) {
  if (quiet_saves_) return;
  totals_saved_ = saved.ok();
  if (!saved) {
    // Once; every later save tries again.
    if (!save_failing_) alert(app::totals_not_saved_text(settings_path_, saved.error().detail, lang_));
    save_failing_ = true;
  } else if (save_failing_) {
    save_failing_ = false;
    note("the gross traffic totals are saved again in " + settings_path_);
  }
}

void RuntimeHost::note(const std::string& text) const {
  if (options_.note) options_.note(text);
}

bool RuntimeHost::start_sampler() {
  const std::uint32_t period = traffic_.sampling_period_ms();
  // At 50, 100 or 200 ms the sampler publishes the record on every 4th, 2nd
  // or every tick, so no other thread wakes for it; at longer periods the
  // main thread's 200 ms timer does.
  const bool publishes = app::TrafficFeature::sampler_can_publish(period);
  sampler_block_ = publishes ? runtime_.status_block() : nullptr;
  last_publish_ms_ = clock_.tick_ms();
  platform::PeriodicThread::Watch events;
  events.fd = traffic_.watch_link_events();
  if (events.fd >= 0) events.on_ready = [this] { traffic_.take_link_events(); };
  const bool ok = sampler_.start(std::chrono::milliseconds(period), [this] { sampler_tick(); }, "tw-sampler",
                                 std::move(events));
  if (!ok) warn("cannot start the sampler thread; nothing is sampled");
  traffic_feature_.set_sampler_publishes(ok && publishes);
  return ok;
}

void RuntimeHost::sampler_tick() {
  traffic_.tick();
  if (!sampler_block_) return;
  // Every 200 ms on the tick grid: ticks arrive a period apart (late ones
  // included), so half a period of slack keeps the record on every 4th tick
  // at 50 ms instead of letting jitter push it to the 5th.
  const std::uint32_t now = clock_.tick_ms();
  const std::uint32_t period = traffic_.sampling_period_ms();
  if (now - last_publish_ms_ + period / 2 < app::kStatusBlockPeriodMs) return;
  last_publish_ms_ = now;
  // The block is unmapped only after the shut-down has stopped this thread.
  // A skipped publish keeps the last record; the next one writes anew.
  (void)sampler_block_->publish(traffic_.statistics_record());
}

void RuntimeHost::finish(bool restarting) {
  runtime_.shutdown(restarting);
  sampler_.stop();
  commands_.reset();
}

}  // namespace tw::host
