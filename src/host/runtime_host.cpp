#include "host/runtime_host.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <filesystem>
#include <utility>

#include "app/startup.h"
#include "platform/linux/system_info.h"
#include "shell/shell_settings.h"

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

std::unique_ptr<RuntimeHost> RuntimeHost::open(HostOptions options, HostError* error) {
  HostError local;
  HostError& err = error ? *error : local;
  err = {};
  // Instance marker: a later instance runs beside the first with the "_#2"
  // settings file and a numbered command socket of its own.
  platform::InstanceLock lock = platform::InstanceLock::acquire(app::kProgramBaseName);
  if (!lock.status().ok() && options.note)
    options.note("no instance lock (" + lock.status().error().detail + "), running as the first instance");

  std::string folder = prepare_data_folder(options.data_dir, err);
  if (folder.empty()) return nullptr;
  const Language lang = environment_language();
  std::unique_ptr<RuntimeHost> host(new RuntimeHost(std::move(options), std::move(lock), std::move(folder), lang));
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

RuntimeHost::RuntimeHost(HostOptions options, platform::InstanceLock lock, std::string folder, Language lang)
    : options_(std::move(options)),
      lock_(std::move(lock)),
      folder_(std::move(folder)),
      lang_(lang),
      settings_path_(folder_ + app::settings_file_name(app::kProgramBaseName, platform::user_name(),
                                                       platform::host_name(), !lock_.first_instance())),
      profile_(files_, settings_path_),
      traffic_(profile_, links_, clock_, lang_),
      logs_(profile_, files_, clock_, *options_.beeper, lang_, folder_),
      runtime_(profile_, logs_, {.debug_log = [this](std::string_view n) { note(std::string(n)); }}),
      traffic_feature_(runtime_, profile_, traffic_) {
  note("settings file " + settings_path_);
  runtime_.add_shutdown_step(app::shutdown_step::kStopSampling, [this](bool) { sampler_.stop(); });
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
  filter_feature_ = std::make_unique<app::FilterFeature>(runtime_, profile_, *filter_);
}

void RuntimeHost::open_sessions() {
  if (!sockets_.is_supported()) warn("cannot open the socket table; the Session Monitor shows no connections");
  sessions::SessionMonitorConfig config;
  config.lang = lang_;
  config.data_folder = folder_;
  config.log_root = logging::load_log_root_folder(profile_);
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

void RuntimeHost::note(const std::string& text) const {
  if (options_.note) options_.note(text);
}

bool RuntimeHost::start_sampler() {
  const bool ok = sampler_.start(std::chrono::milliseconds(traffic_.sampling_period_ms()),
                                 [this] { traffic_.tick(); }, "tw-sampler");
  if (!ok) warn("cannot start the sampler thread; nothing is sampled");
  return ok;
}

void RuntimeHost::finish(bool restarting) {
  runtime_.shutdown(restarting);
  sampler_.stop();
  commands_.reset();
}

}  // namespace tw::host
