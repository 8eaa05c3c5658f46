#include "app/metrics_feature.h"

#include <algorithm>
#include <utility>

#include "settings/shared_keys.h"

namespace tw::app {

std::string load_metrics_path(const settings::Profile& profile, std::string_view data_folder) {
  std::string path = profile.read_string(settings::kSettingsSection, kMetricsFileKey, "");
  if (path.empty() || path.front() == '/') return path;
  return std::string(data_folder) + path;
}

MetricsFeature::MetricsFeature(Runtime& runtime, settings::Profile& profile, platform::FileStore& files,
                               std::string data_folder, std::string fixed_path, Hooks hooks)
    : profile_(profile),
      files_(files),
      data_folder_(std::move(data_folder)),
      fixed_path_(std::move(fixed_path)),
      hooks_(std::move(hooks)) {
  reload();
  runtime.add_timer(kTimerMetricsFile, [] { return kMetricsPeriodMs; }, [this] { (void)write(); });
  runtime.add_reload_step([this] { reload(); });
  // The last figures of the run, totals complete: sampling has stopped.
  runtime.add_shutdown_step(shutdown_step::kMetricsFile, [this](bool) { (void)write(); });
}

void MetricsFeature::reload() {
  std::string path = fixed_path_.empty() ? load_metrics_path(profile_, data_folder_) : fixed_path_;
  if (path != path_) failing_ = false;  // a new file deserves its own first warning
  path_ = std::move(path);
}

void MetricsFeature::add_section(Section section) { sections_.push_back(std::move(section)); }

std::string MetricsFeature::text() const {
  metrics::Figures figures;
  for (const Section& s : sections_) s(figures);
  return metrics::exposition_text(figures);
}

bool MetricsFeature::write() {
  if (path_.empty()) return true;
  const Status s = files_.replace(path_, text());
  if (!s.ok()) {
    if (!failing_ && hooks_.warn) hooks_.warn("cannot write the metrics file " + path_ + ": " + s.error().message());
    failing_ = true;
    return false;
  }
  if (failing_ && hooks_.note) hooks_.note("the metrics file " + path_ + " is written again");
  failing_ = false;
  return true;
}

metrics::TrafficSection traffic_section(const traffic::TrafficMonitor& monitor) {
  const traffic::TrafficFigures f = monitor.figures();
  const traffic::InterfaceSnapshot i = monitor.snapshot();
  metrics::TrafficSection t;
  t.interface = i.description;
  t.interface_up = i.oper_status == 5;  // the MIB's "up"; anything else counts as down
  t.capture_sent_bytes = f.capture_send;
  t.capture_received_bytes = f.capture_recv;
  t.gross_sent_bytes = f.gross_send;
  t.gross_received_bytes = f.gross_recv;
  t.smoothed_send_bytes_per_second = f.smoothed_send;
  t.smoothed_receive_bytes_per_second = f.smoothed_recv;
  t.max_send_bytes_per_second = f.max_send;
  t.max_receive_bytes_per_second = f.max_recv;
  t.capture_ms = f.capture_ms;
  return t;
}

metrics::SessionSection session_section(const sessions::SessionMonitor& monitor) {
  metrics::SessionSection s;
  s.running = monitor.running();
  s.connections = monitor.connections();
  s.max_connections = monitor.maximum_connections();
  s.blocked_connections = static_cast<std::uint64_t>(std::max(monitor.blocked_count(), 0));
  return s;
}

metrics::PacketSection packet_section(const packets::PacketMonitor& monitor) {
  metrics::PacketSection p;
  p.capturing = monitor.running();
  p.captured_datagrams = monitor.captured_total();
  p.dropped_datagrams = monitor.dropped_total();
  return p;
}

metrics::FilterSection filter_section(const packetfilter::FilterController& filter) {
  metrics::FilterSection f;
  f.filtering = filter.filtering();
  // While filtering, the rule table is the one installed: every change to it
  // reinstalls at once, and a failed install turns filtering off.
  if (f.filtering)
    f.drop_rules = static_cast<std::uint64_t>(std::count_if(filter.rules().begin(), filter.rules().end(),
                                                            [](const packetfilter::FilterRule& r) { return r.action == 1; }));
  f.grid_rules = filter.grid().size();
  return f;
}

}  // namespace tw::app
