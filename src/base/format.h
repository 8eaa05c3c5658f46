#pragma once
// Quantity formatting shared by every view, report and log: byte amounts,
// speeds, grouped integers and durations.
//
// All multiples are powers of 1024 (1 KB = 1024 bytes, 1 MB = 1024 KB, ...);
// a bit rate is the byte rate times 8 with the same prefixes (1 Kbps = 1024
// bits/s). The printf formats are part of the program's visible output (logs
// are parsed by users' scripts), so every function renders with snprintf and
// the exact format string.
//
// Pure functions: no state, no lock, any thread.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/language.h"

namespace tw {

// Speed unit codes. The fixed-unit forms take the code modulo 4; the
// auto-ranging forms step up to the GB codes by themselves.
enum SpeedUnit : int {
  kUnitKBps = 0,  // "KB/s"
  kUnitKbps = 1,  // "Kbps"
  kUnitMBps = 2,  // "MB/s"
  kUnitMbps = 3,  // "Mbps"
  kUnitGBps = 4,  // "GB/s" (auto-ranging only)
  kUnitGbps = 5,  // "Gbps" (auto-ranging only)
};

// A settings value taken as a fixed unit code: modulo 4, never negative.
int fixed_unit(int code);
// "KB/s", "Kbps", "MB/s", "Mbps", "GB/s", "Gbps" for codes 0..5 (others modulo 6).
const char* unit_name(int code);

// Byte amount, e.g. "   1.500 KB": eight characters of number with three
// decimals, a blank and KB/MB/GB/TB/PB. Negative amounts show 0.000 KB.
std::string byte_amount_text(std::int64_t bytes);

// Decimal with "," between groups of three digits: 1024 -> "1,024".
std::string grouped_int(std::int32_t value);
std::string grouped_int64(std::int64_t value);

// Fixed-unit speed from kilobytes per second, unit code modulo 4:
// "%8.2lf KB/s", "%8.1lf Kbps", "%8.3lf MB/s", "%8.3lf Mbps".
std::string speed_text(double kb_per_s, int unit);
// The labelled form: "<label>    <value> <unit>".
std::string speed_text(std::string_view label, double kb_per_s, int unit);

// Auto-ranged speed for the graph labels: the value in the unit `unit` (modulo
// 4), moved to the next larger unit of the same family while the integer part
// exceeds 9999 (KB/s -> MB/s -> GB/s, Kbps -> Mbps -> Gbps).
struct SpeedParts {
  std::int64_t integer = 0;
  std::int64_t fraction = 0;  // three digits, 0..999
  int unit = kUnitKBps;       // final unit code, 0..5
};
SpeedParts auto_speed_parts(std::int64_t bytes_per_s, int unit);
// "1234.568 Mbps"
std::string auto_speed_text(const SpeedParts& parts);
// Templates the graph measures to reserve room for a label and its number.
inline constexpr const char* kAutoSpeedWidthTemplate = "%s 0000.000 0000 0000";
inline constexpr const char* kAutoSpeedIntegerTemplate = "0000";

// One direction of the graph's latest-speed readout: "<label><%8.3lf> <unit>",
// stepping to the next larger unit while the value exceeds 9999.9.
std::string overlay_speed_text(std::string_view label, std::int64_t bytes_per_s, int unit);
// Both directions joined with "  -  ".
std::string overlay_speeds_text(std::string_view send_label, std::int64_t send,
                                std::string_view recv_label, std::int64_t recv, int unit);

// Duration from milliseconds: " 1day  1h 01m 01s", or "      1h 01m 01s"
// (five blanks in place of the day field) below one day. The Japanese user
// interface uses its own unit words.
std::string duration_text(std::uint64_t ms, Language lang);
// The labelled form: "<label> <duration>", with the day-less form padded by
// one more blank so the columns line up with the day form.
std::string duration_text(std::string_view label, std::uint64_t ms, Language lang);

// Idle time: "<label> HH:MM:SS" (hours modulo 24).
std::string idle_time_text(std::string_view label, std::uint32_t elapsed_ms);

}  // namespace tw
