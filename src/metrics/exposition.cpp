#include "metrics/exposition.h"

#include <cstdio>

namespace tw::metrics {

namespace {

// The length of the well-formed UTF-8 character at the start of `s`, 0 when
// it is not one (a stray continuation byte, a cut sequence, an overlong form,
// a surrogate, anything above U+10FFFF).
std::size_t utf8_length(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c == 0xE0) n = 3, lo = 0xA0;
  else if (c == 0xED) n = 3, hi = 0x9F;
  else if (c >= 0xE1 && c <= 0xEF) n = 3;
  else if (c == 0xF0) n = 4, lo = 0x90;
  else if (c == 0xF4) n = 4, hi = 0x8F;
  else if (c >= 0xF1 && c <= 0xF3) n = 4;
  else return 0;
  if (s.size() < n || b(1) < lo || b(1) > hi) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if ((b(i) & 0xC0) != 0x80) return 0;
  return n;
}

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  // One metric of one sample: "# HELP", "# TYPE" and the sample line.
  void metric(std::string_view name, std::string_view type, std::string_view help, std::string_view labels,
              std::string_view value) {
    out_ += "# HELP ";
    out_ += name;
    out_ += ' ';
    out_ += help;  // fixed texts without backslashes or line ends
    out_ += "\n# TYPE ";
    out_ += name;
    out_ += ' ';
    out_ += type;
    out_ += '\n';
    out_ += name;
    out_ += labels;
    out_ += ' ';
    out_ += value;
    out_ += '\n';
  }

 private:
  std::string& out_;
};

std::string number(std::uint64_t v) { return std::to_string(v); }
std::string number(std::int64_t v) { return std::to_string(v); }

// Milliseconds as seconds with three decimals, whatever the C locale says
// about decimal points.
std::string seconds(std::uint64_t ms) {
  char frac[8];
  std::snprintf(frac, sizeof frac, ".%03u", static_cast<unsigned>(ms % 1000));
  return std::to_string(ms / 1000) + frac;
}

void write_traffic(Writer& w, const TrafficSection& t) {
  const std::string l = "{interface=\"" + escape_label_value(t.interface) + "\"}";
  w.metric("tarnwatch_interface_up", "gauge", "Whether the sampled interface is operational (1) or not (0).", l,
           t.interface_up ? "1" : "0");
  w.metric("tarnwatch_capture_sent_bytes_total", "counter",
           "Bytes sent on the sampled interface since the statistics were last restarted.", l,
           number(t.capture_sent_bytes));
  w.metric("tarnwatch_capture_received_bytes_total", "counter",
           "Bytes received on the sampled interface since the statistics were last restarted.", l,
           number(t.capture_received_bytes));
  w.metric("tarnwatch_gross_sent_bytes_total", "counter", "Bytes sent on the sampled interface over every run.", l,
           number(t.gross_sent_bytes));
  w.metric("tarnwatch_gross_received_bytes_total", "counter",
           "Bytes received on the sampled interface over every run.", l, number(t.gross_received_bytes));
  w.metric("tarnwatch_send_speed_bytes_per_second", "gauge", "Smoothed send speed of the sampled interface.", l,
           number(t.smoothed_send_bytes_per_second));
  w.metric("tarnwatch_receive_speed_bytes_per_second", "gauge", "Smoothed receive speed of the sampled interface.",
           l, number(t.smoothed_receive_bytes_per_second));
  w.metric("tarnwatch_max_send_speed_bytes_per_second", "gauge",
           "Highest smoothed send speed over the span the traffic graph shows.", l,
           number(t.max_send_bytes_per_second));
  w.metric("tarnwatch_max_receive_speed_bytes_per_second", "gauge",
           "Highest smoothed receive speed over the span the traffic graph shows.", l,
           number(t.max_receive_bytes_per_second));
  w.metric("tarnwatch_capture_duration_seconds", "gauge", "Time since the statistics were last restarted.", l,
           seconds(t.capture_ms));
}

void write_sessions(Writer& w, const SessionSection& s) {
  w.metric("tarnwatch_session_monitor_running", "gauge", "Whether the Session Monitor is started (1) or not (0).",
           "", s.running ? "1" : "0");
  w.metric("tarnwatch_session_connections", "gauge", "TCP connections the Session Monitor lists.", "",
           number(static_cast<std::int64_t>(s.connections)));
  w.metric("tarnwatch_session_connections_max", "gauge",
           "Most TCP connections listed at once since the count was last reset.", "",
           number(static_cast<std::int64_t>(s.max_connections)));
  w.metric("tarnwatch_session_blocked_connections_total", "counter",
           "TCP connections closed by auto-block since the program started.", "", number(s.blocked_connections));
}

void write_packets(Writer& w, const PacketSection& p) {
  w.metric("tarnwatch_packet_monitor_running", "gauge", "Whether the Packet Monitor is capturing (1) or not (0).",
           "", p.capturing ? "1" : "0");
  w.metric("tarnwatch_packet_captured_datagrams_total", "counter",
           "IPv4 datagrams the Packet Monitor captured since the program started.", "",
           number(p.captured_datagrams));
  w.metric("tarnwatch_packet_dropped_datagrams_total", "counter",
           "IPv4 datagrams the Packet Monitor's capture lost since the program started: the kernel's drop count "
           "of the capture socket, and datagrams the privileged helper could not forward.",
           "", number(p.dropped_datagrams));
}

void write_filter(Writer& w, const FilterSection& f) {
  w.metric("tarnwatch_packet_filter_active", "gauge", "Whether the Packet Filter's DROP rules are installed (1) or not (0).",
           "", f.filtering ? "1" : "0");
  w.metric("tarnwatch_packet_filter_drop_rules", "gauge",
           "DROP rules the Packet Filter has installed for each local address (0 while it is off).", "",
           number(f.drop_rules));
  w.metric("tarnwatch_packet_filter_rules", "gauge", "Rules in the Packet Filter's rule grid, whatever their action.",
           "", number(f.grid_rules));
}

}  // namespace

std::string escape_label_value(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  while (!value.empty()) {
    const std::size_t n = utf8_length(value);
    if (n == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER
      value.remove_prefix(1);
      continue;
    }
    const char c = value[0];
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out.append(value.substr(0, n));
    value.remove_prefix(n);
  }
  return out;
}

std::string exposition_text(const Figures& figures) {
  std::string out;
  Writer w(out);
  if (figures.traffic) write_traffic(w, *figures.traffic);
  if (figures.sessions) write_sessions(w, *figures.sessions);
  if (figures.packets) write_packets(w, *figures.packets);
  if (figures.filter) write_filter(w, *figures.filter);
  return out;
}

}  // namespace tw::metrics
