#pragma once
// The program's figures as a Prometheus text exposition (format 0.0.4), for
// the node exporter's textfile collector: one "# HELP" and one "# TYPE" line
// per metric, then its sample. Names carry the tarnwatch_ prefix, base units
// (bytes, seconds) and _total on counters; every traffic figure carries the
// sampled interface as its "interface" label.
//
// Each monitor contributes a section of its own figures, and a section that
// is absent (a monitor not built, not running) contributes nothing, so that
// monitors can add theirs without touching the others.
//
// Pure: no state, no system calls, any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tw::metrics {

struct TrafficSection {
  std::string interface;  // the sampled interface's display name
  bool interface_up = false;
  std::uint64_t capture_sent_bytes = 0, capture_received_bytes = 0;  // since the last statistics restart
  std::uint64_t gross_sent_bytes = 0, gross_received_bytes = 0;      // over every run
  std::int64_t smoothed_send_bytes_per_second = 0, smoothed_receive_bytes_per_second = 0;
  std::int64_t max_send_bytes_per_second = 0, max_receive_bytes_per_second = 0;
  std::uint64_t capture_ms = 0;  // time since the last statistics restart
};

struct SessionSection {
  bool running = false;
  int connections = 0;
  int max_connections = 0;
  std::uint64_t blocked_connections = 0;  // closed by auto-block since the program started
};

struct PacketSection {
  bool capturing = false;
  std::uint64_t captured_datagrams = 0;  // decoded by the capture since the program started
  std::uint64_t dropped_datagrams = 0;   // lost by the capture (kernel drops, helper forwarding) since then
};

struct FilterSection {
  bool filtering = false;
  std::uint64_t drop_rules = 0;  // DROP rules in force (0 while filtering is off)
  std::uint64_t grid_rules = 0;  // rows of the rule grid, whatever their action
};

struct Figures {
  std::optional<TrafficSection> traffic;
  std::optional<SessionSection> sessions;
  std::optional<PacketSection> packets;
  std::optional<FilterSection> filter;
};

// The whole exposition, ending with a line end.
std::string exposition_text(const Figures& figures);

// A label value as the format writes it between its double quotes:
// backslash, double quote and line feed escaped, and bytes that are not UTF-8
// replaced by U+FFFD (a reader rejects the whole file over one).
std::string escape_label_value(std::string_view value);

}  // namespace tw::metrics
