#pragma once
// What the Traffic Monitor brings to either program: the statistics record
// for the status block (kTimerStatusBlock, unless the sampler thread
// publishes it), the gross totals saved every minute (kTimerGrossTotals) and
// before a sleep, the traffic variables of the four logs, the automatic
// interface reset at the graph's redraw period (kTimerAutoReset, armed only
// from interface_changed() until the state has left Changed), the
// trafficmonitor commands and its part of the shut-down.
//
// Ownership: owns its log source; the monitor and the runtime must outlive it.
// Main thread only (TrafficMonitor::tick() runs on the sampler thread and the
// monitor guards itself).
#include <cstdint>

#include "app/runtime.h"
#include "settings/profile.h"
#include "traffic/traffic_log_source.h"
#include "traffic/traffic_monitor.h"

namespace tw::app {

// The width of the traffic graph in a main window of the stored size
// ("Settings"/"Position"), or of the default size when none is stored: the
// span of the maximum speeds in a program that shows no graph.
int stored_graph_width(const settings::Profile& profile);

class TrafficFeature {
 public:
  // Registers everything with `runtime` and gives the monitor the span of its
  // maxima for the stored window size; a graph created later passes its own
  // width.
  TrafficFeature(Runtime& runtime, settings::Profile& profile, traffic::TrafficMonitor& traffic);
  TrafficFeature(const TrafficFeature&) = delete;
  TrafficFeature& operator=(const TrafficFeature&) = delete;

  // The sampler has seen the sampled interface change (it told the main
  // thread through the runtime's wake-up): the countdown of the automatic
  // reset starts now, as it would on the first redraw tick, and
  // kTimerAutoReset runs at the redraw period until the state has left Changed. Nothing polls the
  // state in between.
  void interface_changed();
  // The sampler thread publishes the statistics record itself every 200 ms
  // (it runs anyway); kTimerStatusBlock then stays unarmed.
  void set_sampler_publishes(bool on);

  // Whether the sampler thread can publish every 200 ms at its period: when
  // the period divides 200 ms.
  static bool sampler_can_publish(std::uint32_t sampling_period_ms);

 private:
  void auto_reset_tick();

  Runtime& runtime_;
  traffic::TrafficMonitor& traffic_;
  traffic::TrafficLogSource log_source_{traffic_};
  std::uint32_t redraw_period_ms_;
  bool counting_down_ = false;     // kTimerAutoReset armed
  bool sampler_publishes_ = false; // kTimerStatusBlock unarmed
};

}  // namespace tw::app
