#include "traffic/traffic_log_source.h"

#include <string>
#include <utility>

#include "traffic/traffic_monitor.h"

namespace tw::traffic {

TrafficLogSource::TrafficLogSource(const TrafficMonitor& monitor)
    : texts_([&monitor] { return std::optional<StatisticsTexts>(monitor.statistics_texts()); }) {}

TrafficLogSource::TrafficLogSource(TextsProvider texts) : texts_(std::move(texts)) {}

bool TrafficLogSource::fill(logging::LogKind kind, std::string_view, logging::EntryValues& values) {
  std::optional<StatisticsTexts> texts = texts_ ? texts_() : std::nullopt;
  if (!texts) return false;
  StatisticsTexts& t = *texts;
  values.set("$CAPTURE_TIME$", std::move(t.capture_time));
  values.set("$TOTAL_SEND$", std::move(t.total_send));
  values.set("$TOTAL_RECV$", std::move(t.total_recv));
  values.set("$TOTAL_SEND_ALL$", std::move(t.gross_send));
  values.set("$TOTAL_RECV_ALL$", std::move(t.gross_recv));
  values.set("$TOTAL_SEND_AVE$", std::move(t.average_send));
  values.set("$TOTAL_RECV_AVE$", std::move(t.average_recv));
  values.set("$GRAPH_SEND_AVE$", std::move(t.smoothed_send));
  values.set("$GRAPH_RECV_AVE$", std::move(t.smoothed_recv));
  values.set("$GRAPH_SEND_MAX$", std::move(t.max_send));
  values.set("$GRAPH_RECV_MAX$", std::move(t.max_recv));

  // Bytes since this log's previous entry. Totals below the baseline mean the
  // statistics were restarted in between: then everything since the restart.
  const std::size_t i = logging::log_index(kind);
  const Totals& base = baselines_[i];
  const std::uint64_t send = t.capture_send;
  const std::uint64_t recv = t.capture_recv;
  values.set("$TOTAL_SEND_DIS$", std::to_string(send >= base.send ? send - base.send : send));
  values.set("$TOTAL_RECV_DIS$", std::to_string(recv >= base.recv ? recv - base.recv : recv));
  pending_[i] = {send, recv};
  return true;
}

void TrafficLogSource::entry_written(logging::LogKind kind) {
  // Only an entry that reached its file moves the baseline on, so the bytes
  // of an entry that was lost (full disk, missing folder) are carried by the
  // next one that is written.
  const std::size_t i = logging::log_index(kind);
  baselines_[i] = pending_[i];
}

void TrafficLogSource::reset_baselines() {
  baselines_ = {};
  pending_ = {};
}

}  // namespace tw::traffic
