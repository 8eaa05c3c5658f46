#pragma once
// The Traffic Monitor's statistics as display texts, built together under the
// sampler lock. The log writer takes its traffic variables from here, the pages
// and the Mini Monitor show them.
#include <cstdint>
#include <string>

namespace tw::traffic {

struct StatisticsTexts {
  std::string capture_time;    // duration form, e.g. "      0h 01m 05s"
  std::string total_send;      // capture totals, byte-amount form
  std::string total_recv;
  std::string gross_send;      // gross totals, byte-amount form
  std::string gross_recv;
  std::string average_send;    // capture averages, "ExtUnit" fixed-unit form
  std::string average_recv;
  std::string smoothed_send;   // smoothed speeds, "AveUnit" fixed-unit form
  std::string smoothed_recv;
  std::string max_send;        // maxima, "MaxUnit" fixed-unit form
  std::string max_recv;
  // The raw capture totals the texts were built from (bytes), for the logs'
  // per-entry differences.
  std::uint64_t capture_send = 0;
  std::uint64_t capture_recv = 0;
};

}  // namespace tw::traffic
