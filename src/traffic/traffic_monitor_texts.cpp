// The Traffic Monitor's figures as texts: the Statistics page, the
// statistics record and the transfer information.
#include "traffic/traffic_monitor.h"

#include <cinttypes>
#include <cstdio>

#include "base/format.h"

namespace tw::traffic {
namespace {

// Transfer information labels. The Japanese ones are padded to the same
// column width (a full-width character takes two columns).
struct InfoTexts {
  const char* capture_time;
  const char* total_send;
  const char* total_recv;
  const char* average_send;
  const char* average_recv;
  const char* separator;
};
constexpr InfoTexts kInfoEn{
    "Capture Time           ", "Total Upload    (Gross)", "Total Download  (Gross)",
    "Average Send speed     ", "Average Received speed ",
    "------------------------------------------------------"};
constexpr InfoTexts kInfoJa{
    "計測時間               ", "総送信量         (累計)", "総受信量         (累計)",
    "平均送信速度           ", "平均受信速度           ",
    "－－－－－－－－－－－－－－－－－－－－－－－－－－－"};


void append_fields(std::string& out, const TotalEncoding& e) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%" PRId64 ",%" PRId64 ",%" PRId64 ",",
                static_cast<std::int64_t>(e.quotient), static_cast<std::int64_t>(e.divisor),
                static_cast<std::int64_t>(e.remainder));
  out += buf;
}

}  // namespace

StatisticsTexts TrafficMonitor::statistics_texts() const {
  TrafficFigures f;
  int max_unit, ave_unit, ext_unit;
  {
    std::lock_guard lock(mu_);
    f = figures_locked();
    max_unit = max_unit_;
    ave_unit = ave_unit_;
    ext_unit = ext_unit_;
  }
  StatisticsTexts t;
  t.capture_time = duration_text(f.capture_ms, lang_);
  t.total_send = byte_amount_text(static_cast<std::int64_t>(f.capture_send));
  t.total_recv = byte_amount_text(static_cast<std::int64_t>(f.capture_recv));
  t.gross_send = byte_amount_text(static_cast<std::int64_t>(f.gross_send));
  t.gross_recv = byte_amount_text(static_cast<std::int64_t>(f.gross_recv));
  t.average_send = speed_text(capture_average_kb(f.capture_send, f.capture_ms), ext_unit);
  t.average_recv = speed_text(capture_average_kb(f.capture_recv, f.capture_ms), ext_unit);
  t.smoothed_send = speed_text(static_cast<double>(f.smoothed_send) / 1024.0, ave_unit);
  t.smoothed_recv = speed_text(static_cast<double>(f.smoothed_recv) / 1024.0, ave_unit);
  t.max_send = speed_text(static_cast<double>(f.max_send) / 1024.0, max_unit);
  t.max_recv = speed_text(static_cast<double>(f.max_recv) / 1024.0, max_unit);
  t.capture_send = f.capture_send;
  t.capture_recv = f.capture_recv;
  return t;
}

std::string TrafficMonitor::statistics_record() const {
  TrafficFigures f;
  {
    std::lock_guard lock(mu_);
    f = figures_locked();
  }
  std::string out;
  out.reserve(384);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%" PRId64 ",", static_cast<std::int64_t>(f.capture_ms / 1000));
  out += buf;
  append_fields(out, encode_total(f.capture_send));
  append_fields(out, encode_total(f.capture_recv));
  append_fields(out, encode_total(f.gross_send));
  append_fields(out, encode_total(f.gross_recv));
  std::snprintf(buf, sizeof buf, "%" PRId64 ",%" PRId64 ",", f.smoothed_send, f.smoothed_recv);
  out += buf;
  return out;
}

std::string TrafficMonitor::transfer_information_text() const {
  TrafficFigures f;
  int ext_unit;
  {
    std::lock_guard lock(mu_);
    f = figures_locked();
    ext_unit = ext_unit_;
  }
  const InfoTexts& w = pick(lang_, kInfoEn, kInfoJa);
  const std::string sep = std::string(w.separator) + "\r\n";
  auto totals = [](const char* label, std::uint64_t capture, std::uint64_t gross) {
    return std::string(label) + "    " + byte_amount_text(static_cast<std::int64_t>(capture)) + " (" +
           byte_amount_text(static_cast<std::int64_t>(gross)) + ")\r\n";
  };
  std::string out;
  out += duration_text(w.capture_time, f.capture_ms, lang_) + "\r\n";
  out += sep;
  out += totals(w.total_send, f.capture_send, f.gross_send);
  out += totals(w.total_recv, f.capture_recv, f.gross_recv);
  out += sep;
  out += speed_text(w.average_send, capture_average_kb(f.capture_send, f.capture_ms), ext_unit) + "\r\n";
  out += speed_text(w.average_recv, capture_average_kb(f.capture_recv, f.capture_ms), ext_unit) + "\r\n";
  out += sep;
  return out;
}

}  // namespace tw::traffic
