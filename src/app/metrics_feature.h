#pragma once
// The figures file for Prometheus: every 5 s (kTimerMetricsFile) and once
// more at the end, the figures of the monitors are written as a text exposition to the
// file that "Settings"/"MetricsFile" names (empty: off), or that tarnixd's
// --metrics-file names for its run. The node exporter's textfile collector
// reads the folder, so the file is always replaced whole (a temporary file
// beside it, then a rename): a reader never sees half of it.
//
// Each monitor adds a section (add_section); the traffic, session, packet
// and packet filter sections are below. A relative path in the settings is taken from the data
// folder.
//
// Ownership: the runtime, the profile, the file store and whatever the
// sections read must outlive it. Main thread only.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/runtime.h"
#include "metrics/exposition.h"
#include "packetfilter/filter_controller.h"
#include "packets/packet_monitor.h"
#include "platform/file_store.h"
#include "sessions/session_monitor.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"

namespace tw::app {

inline constexpr std::uint32_t kMetricsPeriodMs = 5000;
inline constexpr std::string_view kMetricsFileKey = "MetricsFile";  // section "Settings"

// The file "Settings"/"MetricsFile" names, absolute ("" when off): a relative
// name is taken from `data_folder` (absolute, ending in '/').
std::string load_metrics_path(const settings::Profile& profile, std::string_view data_folder);

class MetricsFeature {
 public:
  using Section = std::function<void(metrics::Figures&)>;
  struct Hooks {
    // A write failed after the last one succeeded (or the first one failed):
    // worth telling once. May be empty.
    std::function<void(const std::string&)> warn;
    // Writes work again; details. May be empty.
    std::function<void(const std::string&)> note;
  };

  // Registers the timer, the reload step (the setting is read again) and the
  // shut-down step with `runtime`. A non-empty `fixed_path` (absolute) is
  // used instead of the setting for the whole run.
  MetricsFeature(Runtime& runtime, settings::Profile& profile, platform::FileStore& files, std::string data_folder,
                 std::string fixed_path, Hooks hooks);
  MetricsFeature(const MetricsFeature&) = delete;
  MetricsFeature& operator=(const MetricsFeature&) = delete;

  void add_section(Section section);
  // The file written to; "" when off.
  const std::string& path() const { return path_; }
  // The exposition of the current figures.
  std::string text() const;
  // Writes the file now (when on). False when it is on and the write failed.
  bool write();

 private:
  void reload();

  settings::Profile& profile_;
  platform::FileStore& files_;
  const std::string data_folder_;
  const std::string fixed_path_;
  Hooks hooks_;
  std::string path_;
  std::vector<Section> sections_;
  bool failing_ = false;
};

// The Traffic Monitor's figures: the totals, speeds and capture time of the
// sampled interface, labelled with its display name.
metrics::TrafficSection traffic_section(const traffic::TrafficMonitor& monitor);
// The Session Monitor's connection counts and auto-block's closings.
metrics::SessionSection session_section(const sessions::SessionMonitor& monitor);
// The Packet Monitor: capturing or not, and the datagrams captured and lost
// over every run (read from the capture thread's atomic counts, so the
// capture goes on undisturbed).
metrics::PacketSection packet_section(const packets::PacketMonitor& monitor);
// The Packet Filter: on or off, the DROP rules in force and the grid's rows.
metrics::FilterSection filter_section(const packetfilter::FilterController& filter);

}  // namespace tw::app
