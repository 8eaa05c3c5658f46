#include "base/format.h"

#include <cinttypes>
#include <cmath>

#include "base/text_helpers.h"

namespace tw {
using detail::sformat;
using detail::unit_words;
using detail::UnitWords;

namespace {

// Bytes-per-second multiplier of each unit code.
constexpr double kUnitFactor[6] = {
    1.0 / 1024.0,       8.0 / 1024.0,       1.0 / 1048576.0,
    8.0 / 1048576.0,    1.0 / 1073741824.0, 8.0 / 1073741824.0,
};

constexpr const char* kUnitNames[6] = {"KB/s", "Kbps", "MB/s", "Mbps", "GB/s", "Gbps"};

// Inserts "," between groups of three digits of a "%d"-style decimal; a
// leading minus sign stays in front of the first group.
std::string group_digits(std::string s) {
  const std::size_t first = (!s.empty() && s[0] == '-') ? 1 : 0;
  const std::size_t digits = s.size() - first;
  if (s.size() < 4 || digits < 4) return s;
  std::string out;
  out.reserve(s.size() + digits / 3);
  out.append(s, 0, first);
  for (std::size_t i = 0; i < digits; ++i) {
    if (i != 0 && (digits - i) % 3 == 0) out.push_back(',');
    out.push_back(s[first + i]);
  }
  return out;
}

struct Dhms {
  int d, h, m, s;
};
Dhms split_ms(std::uint64_t ms) {
  const std::uint64_t s = ms / 1000;
  return {static_cast<int>(s / 86400), static_cast<int>((s / 3600) % 24),
          static_cast<int>((s / 60) % 60), static_cast<int>(s % 60)};
}

}  // namespace

int fixed_unit(int code) { return ((code % 4) + 4) % 4; }

const char* unit_name(int code) { return kUnitNames[((code % 6) + 6) % 6]; }

std::string byte_amount_text(std::int64_t v) {
  constexpr std::int64_t kMB = std::int64_t{1} << 20;
  constexpr std::int64_t kGB = std::int64_t{1} << 30;
  constexpr std::int64_t kTB = std::int64_t{1} << 40;
  if (v < 0) return sformat("%8.3lf KB", 0.0);
  if (v < kMB) return sformat("%8.3lf KB", static_cast<double>(v) / 1024.0);
  if (v < kGB) return sformat("%8.3lf MB", static_cast<double>(v) / static_cast<double>(kMB));
  // Larger amounts are scaled in kilobytes first so the division stays exact
  // in the double's mantissa for the ranges shown.
  const std::int64_t q = v / 1024;
  if (q < kGB) return sformat("%8.3lf GB", static_cast<double>(q) / static_cast<double>(kMB));
  if (q < kTB) return sformat("%8.3lf TB", static_cast<double>(q) / static_cast<double>(kGB));
  return sformat("%8.3lf PB", static_cast<double>(q) / static_cast<double>(kTB));
}

std::string grouped_int(std::int32_t value) { return group_digits(sformat("%d", value)); }

std::string grouped_int64(std::int64_t value) {
  return group_digits(sformat("%" PRId64, value));
}

std::string speed_text(double x, int unit) {
  switch (fixed_unit(unit)) {
    case kUnitKBps: return sformat("%8.2lf KB/s", x);
    case kUnitKbps: return sformat("%8.1lf Kbps", x * 8.0);
    case kUnitMBps: return sformat("%8.3lf MB/s", x / 1024.0);
    default: return sformat("%8.3lf Mbps", x / 128.0);
  }
}

std::string speed_text(std::string_view label, double x, int unit) {
  const std::string l(label);
  switch (fixed_unit(unit)) {
    case kUnitKBps: return sformat("%s    %8.2lf KB/s", l.c_str(), x);
    case kUnitKbps: return sformat("%s    %8.1lf Kbps", l.c_str(), x * 8.0);
    case kUnitMBps: return sformat("%s    %8.3lf MB/s", l.c_str(), x / 1024.0);
    default: return sformat("%s    %8.3lf Mbps", l.c_str(), x / 128.0);
  }
}

SpeedParts auto_speed_parts(std::int64_t v, int unit) {
  SpeedParts p;
  p.unit = fixed_unit(unit);
  auto compute = [&] {
    const double x = v <= 0 ? 0.0 : static_cast<double>(v) * kUnitFactor[p.unit];
    if (x != 0.0) {
      // Rounded to three decimals by adding half a thousandth, then cut.
      p.integer = static_cast<std::int64_t>(x + 0.0005);
      p.fraction = static_cast<std::int64_t>((x + 0.0005) * 1000.0) % 1000;
    } else {
      p.integer = p.fraction = 0;
    }
  };
  compute();
  // Each step moves to the next unit of the same family (KB/s->MB/s->GB/s,
  // Kbps->Mbps->Gbps); the GB codes are the end.
  while (p.integer > 9999 && p.unit < kUnitGBps) {
    p.unit += 2;
    compute();
  }
  return p;
}

std::string auto_speed_text(const SpeedParts& p) {
  return sformat("%" PRId64 ".%03" PRId64 " %s", p.integer, p.fraction < 0 ? -p.fraction : p.fraction, unit_name(p.unit));
}

std::string overlay_speed_text(std::string_view label, std::int64_t v, int unit) {
  int u = fixed_unit(unit);
  double x = v <= 0 ? 0.0 : static_cast<double>(v) * kUnitFactor[u];
  while (x > 9999.9 && u < kUnitGBps) {
    u += 2;
    x = static_cast<double>(v) * kUnitFactor[u];
  }
  const std::string l(label);
  return sformat("%s%8.3lf %s", l.c_str(), x, unit_name(u));
}

std::string overlay_speeds_text(std::string_view send_label, std::int64_t send,
                                std::string_view recv_label, std::int64_t recv, int unit) {
  const std::string s = overlay_speed_text(send_label, send, unit);
  const std::string r = overlay_speed_text(recv_label, recv, unit);
  return sformat("%s  -  %s", s.c_str(), r.c_str());
}

std::string duration_text(std::uint64_t ms, Language lang) {
  const UnitWords& w = unit_words(lang);
  const Dhms t = split_ms(ms);
  if (t.d != 0)
    return sformat("%2d%s %2d%s %02d%s %02d%s", t.d, w.day, t.h, w.hour, t.m, w.minute, t.s,
                   w.second);
  return sformat("     %2d%s %02d%s %02d%s", t.h, w.hour, t.m, w.minute, t.s, w.second);
}

std::string duration_text(std::string_view label, std::uint64_t ms, Language lang) {
  const UnitWords& w = unit_words(lang);
  const Dhms t = split_ms(ms);
  const std::string l(label);
  if (t.d != 0)
    return sformat("%s %2d%s %2d%s %02d%s %02d%s", l.c_str(), t.d, w.day, t.h, w.hour, t.m,
                   w.minute, t.s, w.second);
  return sformat("%s      %2d%s %02d%s %02d%s", l.c_str(), t.h, w.hour, t.m, w.minute, t.s,
                 w.second);
}

std::string idle_time_text(std::string_view label, std::uint32_t elapsed_ms) {
  const std::uint32_t s = elapsed_ms / 1000;
  const std::string l(label);
  return sformat("%s %02d:%02d:%02d", l.c_str(), static_cast<int>((s / 3600) % 24),
                 static_cast<int>((s / 60) % 60), static_cast<int>(s % 60));
}

}  // namespace tw
