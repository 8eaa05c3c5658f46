// The gross totals in the settings file, and their 32-bit encoding.
#include <limits>
#include <string>
#include <utility>

#include "traffic/traffic_monitor.h"

namespace tw::traffic {
namespace {

constexpr const char* kSection = "Traffic";

}  // namespace

// ---------------------------------------------------------------------------
// Totals encoding

TotalEncoding encode_total(std::uint64_t total) {
  TotalEncoding e;
  if (total >= 1024) {
    e.divisor = 1024;
    e.quotient = total / 1024;
    if (e.quotient >= 1024) {
      e.divisor = 1048576;
      e.quotient /= 1024;
    }
    e.remainder = total % e.divisor;
  } else {
    e.quotient = total;
  }
  return e;
}

std::uint64_t decode_total(std::uint32_t q, std::uint32_t b, std::uint32_t d) {
  if (b != 0) return std::uint64_t{q} * b + d;
  return std::uint64_t{q} + d;
}

double capture_average_kb(std::uint64_t total_bytes, std::uint64_t capture_ms) {
  if (capture_ms <= 2500) return 0.0;
  const double v = static_cast<double>(total_bytes >> 10) / (static_cast<double>(capture_ms) * 0.001);
  return v < 0.0 ? 0.0 : v;
}

void TrafficMonitor::load_gross_totals() {
  auto rd = [&](const char* key) { return static_cast<std::uint32_t>(profile_.read_int(kSection, key, 0)); };
  const std::uint64_t send = decode_total(rd("TotalSend"), rd("TotalSendB"), rd("TotalSendD"));
  const std::uint64_t recv = decode_total(rd("TotalRecv"), rd("TotalRecvB"), rd("TotalRecvD"));
  std::lock_guard lock(mu_);
  send_.gross = send;
  recv_.gross = recv;
}

void TrafficMonitor::save_gross_totals() {
  std::uint64_t send, recv;
  {
    std::lock_guard lock(mu_);
    send = send_.gross;
    recv = recv_.gross;
  }
  // The file holds 32-bit fields: beyond (2^32 - 1) MB (4 PB) the stored total
  // stays at the largest value it can express instead of wrapping to a small one.
  auto stored = [](std::uint64_t total) {
    TotalEncoding e = encode_total(total);
    if (e.quotient > std::numeric_limits<std::uint32_t>::max()) {
      e.quotient = std::numeric_limits<std::uint32_t>::max();
      e.remainder = e.divisor - 1;
    }
    return e;
  };
  const TotalEncoding s = stored(send), r = stored(recv);
  // Values of 2^31 and above are written as negative "%d" numbers; reading
  // them back as unsigned 32-bit restores them.
  auto text = [](std::uint64_t v) { return std::to_string(static_cast<int>(static_cast<std::uint32_t>(v))); };
  const std::string values[] = {text(s.quotient), text(r.quotient), text(s.divisor),
                                text(r.divisor),  text(s.remainder), text(r.remainder)};
  // All six in one replace of the file: written one by one, a kill between
  // two of them would pair a quotient of this save with a divisor of the last
  // (1,024,000 bytes read back as 18,432).
  const settings::Profile::KeyValue keys[] = {
      {"TotalSend", values[0]},  {"TotalRecv", values[1]},  {"TotalSendB", values[2]},
      {"TotalRecvB", values[3]}, {"TotalSendD", values[4]}, {"TotalRecvD", values[5]},
  };
  const Status saved = profile_.write_strings(kSection, keys);
  if (save_listener_) save_listener_(saved);
}

void TrafficMonitor::set_save_listener(std::function<void(const Status&)> listener) {
  save_listener_ = std::move(listener);
}

}  // namespace tw::traffic
