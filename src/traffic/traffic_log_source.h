#pragma once
// The Traffic Monitor's variables in the logs: the eleven statistics texts and,
// for each log, the bytes sent and received since that log's previous entry
// ("$TOTAL_SEND_DIS$", "$TOTAL_RECV_DIS$").
//
// Threads: used on the thread that writes the logs (fill() and entry_written()
// come from the writer, reset_baselines() from its owner on the same thread).
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "logging/log_source.h"
#include "traffic/statistics_texts.h"

namespace tw::traffic {

class TrafficMonitor;

class TrafficLogSource final : public logging::LogSource {
 public:
  // Where the texts of an entry come from; nullopt when there are none now,
  // and then the entry is not written.
  using TextsProvider = std::function<std::optional<StatisticsTexts>()>;

  // The texts are taken from the monitor for each entry, under its sampler
  // lock, so one entry shows one instant. The monitor must outlive the source.
  explicit TrafficLogSource(const TrafficMonitor& monitor);
  explicit TrafficLogSource(TextsProvider texts);

  bool fill(logging::LogKind kind, std::string_view entry_template,
            logging::EntryValues& values) override;
  void entry_written(logging::LogKind kind) override;

  // Forgets the totals of the previous entries: the next entry of every log
  // reports the whole current totals as its differences.
  void reset_baselines();

 private:
  struct Totals {
    std::uint64_t send = 0;
    std::uint64_t recv = 0;
  };

  TextsProvider texts_;
  // Per log: the capture totals at its previous written entry, and those of
  // the entry being built, which become the baseline once it is written.
  std::array<Totals, logging::kLogKindCount> baselines_{};
  std::array<Totals, logging::kLogKindCount> pending_{};
};

}  // namespace tw::traffic
