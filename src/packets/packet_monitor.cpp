#include "packets/packet_monitor.h"

#include <algorithm>
#include <cstdio>

#include "base/format.h"
#include "shared/flow_keys.h"

namespace tw::packets {
namespace {

constexpr std::uint32_t kLoopbackBe = 0x0100007F;  // 127.0.0.1 in network order
// The back-off after a slow tick never holds the list still for longer.
constexpr int kMaxBackoffMs = 200;
// The capture thread reads the wall clock at most this often; a datagram's
// time is the second it was decoded in, give or take this much.
constexpr std::uint32_t kTimeRefreshMs = 100;

}  // namespace

std::string_view invalid_address_text(Language lang) {
  return pick<std::string_view>(lang, "Not a valid IP.", "有効なIPではありません.");
}

std::string_view needs_administrator_text(Language lang) {
  return pick<std::string_view>(lang, "Please run with administrator privileges.", "管理者権限で実行してください.");
}

std::string capture_failure_text(const platform::CaptureFailure& f, Language lang) {
  char buf[96];
  if (f.needs_privileges()) {
    std::snprintf(buf, sizeof buf, "Error!! socket() = %ld\n", static_cast<long>(f.code));
    std::string text = buf + std::string(needs_administrator_text(lang));
    if (!f.cause.empty()) text += "\n" + f.cause;
    return text;
  }
  const std::string call = f.call.empty() ? "socket" : f.call.substr(0, 32);
  std::snprintf(buf, sizeof buf, "Error!! %s() = %ld", call.c_str(), static_cast<long>(f.code));
  return buf;
}

std::string capture_status_text(Language lang, std::uint64_t decoded, std::uint64_t dropped) {
  const auto count = [](std::uint64_t n) { return grouped_int64(static_cast<std::int64_t>(n)); };
  return std::string(pick<std::string_view>(lang, "Captured: ", "取得: ")) + count(decoded) +
         std::string(pick<std::string_view>(lang, "  Dropped: ", "  取りこぼし: ")) + count(dropped);
}

std::vector<std::uint32_t> capture_address_list(const std::vector<std::uint32_t>& table) {
  std::vector<std::uint32_t> out;
  for (const std::uint32_t a : table)
    if (a != 0 && a != kLoopbackBe) out.push_back(a);
  return out;
}

std::uint32_t default_capture_address(const std::vector<std::uint32_t>& list, std::optional<std::uint32_t> host) {
  std::uint32_t a = list.empty() ? 0 : list.back();
  if (a == 0 || a == kLoopbackBe) a = host.value_or(0);
  return a;
}

PacketMonitor::PacketMonitor(PacketMonitorDeps deps, Language lang, const PacketSettings& settings)
    : deps_(std::move(deps)), lang_(lang), scratch_(empty_record()), latest_(empty_record()), shown_(empty_record()) {
  apply_settings(settings);
}

PacketMonitor::~PacketMonitor() { shut_down(); }

void PacketMonitor::load_addresses() {
  local_ = capture_address_list(deps_.capture.local_addresses());
  host_address_ = deps_.capture.host_address();
  std::lock_guard lock(latest_mutex_);
  latest_ = shown_ = empty_record();
}

std::string PacketMonitor::default_address_text() const {
  return shared::address_text(default_capture_address(local_, host_address_));
}

std::string PacketMonitor::step_address(std::string_view shown, bool up) const {
  if (local_.empty()) return std::string(shown);
  // Where the shown address sits in the list; an address not in it counts
  // as standing before the first entry.
  const std::optional<std::uint32_t> current = shared::parse_address(shown);
  std::ptrdiff_t pos = -1;
  for (std::size_t i = 0; current && i < local_.size(); ++i)
    if (local_[i] == *current) pos = static_cast<std::ptrdiff_t>(i);
  const auto last = static_cast<std::ptrdiff_t>(local_.size()) - 1;
  std::ptrdiff_t next = up ? pos + 1 : pos - 1;
  if (pos < 0) next = up ? 0 : 0;
  next = std::clamp<std::ptrdiff_t>(next, 0, last);
  return shared::address_text(local_[static_cast<std::size_t>(next)]);
}

StartOutcome PacketMonitor::start(std::string_view address_text) {
  if (state() == CaptureState::Running) return {StartOutcome::Ignored, {}};
  const std::optional<std::uint32_t> address = shared::parse_address(address_text);
  const std::uint32_t fallback = default_capture_address(local_, host_address_);
  const bool valid = address && (*address == fallback || std::find(local_.begin(), local_.end(), *address) != local_.end());
  if (!valid) return {StartOutcome::InvalidAddress, std::string(invalid_address_text(lang_))};
  // A run whose thread has ended but which the display timer has not yet
  // cleaned up is over: a START pressed right after STOP starts anew.
  if (state() == CaptureState::Ended) clean_up();
  if (state() != CaptureState::Idle) return {StartOutcome::Ignored, {}};

  ctx_ = DecodeContext{};
  ctx_.capture_address = *address;
  // A copy: the page may read the address table again while this run goes.
  run_addresses_ = local_;
  ctx_.local_addresses = run_addresses_;
  ctx_.flow_keys = &deps_.flow_keys;
  ctx_.hosts = &deps_.hosts;
  time_valid_ = false;
  // No capture thread runs now: the count stands still.
  run_base_ = captured_total();
  backoff_ms_ = 0;

  state_.store(CaptureState::Starting);
  if (auto failure = deps_.capture.start(*address, *this)) {
    state_.store(CaptureState::Idle);
    return {StartOutcome::Failed, capture_failure_text(*failure, lang_)};
  }
  run_open_ = true;
  return {StartOutcome::Started, {}};
}

void PacketMonitor::stop() {
  CaptureState expected = CaptureState::Running;
  if (!state_.compare_exchange_strong(expected, CaptureState::StopRequested)) {
    // A run still starting (its thread not yet up) is stopped all the same.
    expected = CaptureState::Starting;
    if (!state_.compare_exchange_strong(expected, CaptureState::StopRequested)) return;
  }
  deps_.capture.stop();
}

StartOutcome PacketMonitor::toggle(std::string_view address_text) {
  if (running()) {
    stop();
    return {StartOutcome::Ignored, {}};
  }
  return start(address_text);
}

void PacketMonitor::apply_settings(const PacketSettings& settings) {
  settings_ = settings;
  settings_.interval_ms = std::clamp(settings_.interval_ms, kMinIntervalMs, kMaxIntervalMs);
  filter_ = PortFilter(settings_.filter_port1, settings_.filter_port2);
  ask_dns_.store(settings_.ask_dns);
  data_as_text_.store(settings_.data_as_text);
}

void PacketMonitor::set_ask_dns(bool on) {
  settings_.ask_dns = on;
  ask_dns_.store(on);
}

PacketRecord PacketMonitor::latest() const {
  std::lock_guard lock(latest_mutex_);
  return latest_;
}

std::uint64_t PacketMonitor::dropped() const {
  return run_open_ ? deps_.capture.stats().dropped : last_run_dropped_;
}

std::uint64_t PacketMonitor::dropped_total() const {
  return dropped_before_ + (run_open_ ? deps_.capture.stats().dropped : 0);
}

std::string PacketMonitor::status_text() const { return capture_status_text(lang_, decoded(), dropped()); }

void PacketMonitor::clean_up() {
  deps_.capture.stop();  // joins the thread that has already left its loop
  if (run_open_) {
    // The figures are final once the capture has stopped.
    last_run_dropped_ = deps_.capture.stats().dropped;
    dropped_before_ += last_run_dropped_;
    run_open_ = false;
  }
  {
    std::lock_guard lock(latest_mutex_);
    latest_ = empty_record();
  }
  shown_ = empty_record();
  backoff_ms_ = 0;
  state_.store(CaptureState::Idle);
}

TickResult PacketMonitor::display_tick() {
  TickResult result;
  if (state() == CaptureState::Ended) {
    clean_up();
    result.capture_ended = true;
    return result;
  }
  if (!running()) return result;
  if (backoff_ms_ > 0) {
    backoff_ms_ -= settings_.interval_ms;
    return result;
  }
  const std::uint32_t begin = deps_.clock.tick_ms();
  const PacketRecord latest = this->latest();
  if (same_record(latest, shown_)) return result;
  if (latest.port1 == 0 && latest.port2 == 0) return result;
  shown_ = latest;
  if (settings_.filter && filter_.excludes(shown_.port1, shown_.port2)) return result;

  list_.add_top(row_texts(shown_, lang_, settings_.data_as_text, deps_.process_name));
  result.row_added = true;
  const std::uint32_t took = deps_.clock.tick_ms() - begin;
  if (took > static_cast<std::uint32_t>(settings_.interval_ms))
    backoff_ms_ = static_cast<int>(std::min<std::uint32_t>(took, kMaxBackoffMs));
  return result;
}

void PacketMonitor::shut_down() {
  if (state() != CaptureState::Idle) {
    stop();
    clean_up();
  }
}

// ---- capture thread -------------------------------------------------------

void PacketMonitor::capture_started() {
  CaptureState expected = CaptureState::Starting;
  state_.compare_exchange_strong(expected, CaptureState::Running);
}

PacketTime PacketMonitor::time_now() {
  const std::uint32_t now = deps_.clock.tick_ms();
  if (!time_valid_ || now - time_tick_ >= kTimeRefreshMs) {
    const platform::LocalTime t = deps_.clock.local_now();
    ctx_.time = PacketTime{t.year, t.month, t.day, t.hour, t.minute, t.second};
    time_tick_ = now;
    time_valid_ = true;
  }
  return ctx_.time;
}

bool PacketMonitor::datagram(std::span<const std::uint8_t> bytes) {
  if (!running()) return false;
  ctx_.time = time_now();
  ctx_.ask_dns = ask_dns_.load(std::memory_order_relaxed);
  ctx_.data_as_text = data_as_text_.load(std::memory_order_relaxed);
  decode_buffer(
      bytes, ctx_, scratch_,
      [this](const PacketRecord& r) {
        captured_total_.fetch_add(1, std::memory_order_relaxed);
        std::lock_guard lock(latest_mutex_);
        latest_ = r;
      },
      [this] { return running(); });
  return running();
}

void PacketMonitor::capture_ended() { state_.store(CaptureState::Ended); }

// ---- logs -----------------------------------------------------------------

bool PacketMonitor::LogVariables::fill(logging::LogKind kind, std::string_view entry_template,
                                       logging::EntryValues& values) {
  asked_ = monitor_.running();
  if (!asked_) return true;  // the writer puts the "stopped" text
  return rows_.fill(kind, entry_template, values);
}

}  // namespace tw::packets
