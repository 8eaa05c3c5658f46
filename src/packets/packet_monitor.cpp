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

std::vector<net::IpAddress> capture_address_list6(const std::vector<net::IpAddress>& table) {
  std::vector<net::IpAddress> out;
  for (const net::IpAddress& a : table) {
    if (!a.is_v6() || a.bytes[0] == 0xff || net::unmapped(a).is_v4() || net::is_loopback(a) || net::is_link_local(a))
      continue;
    if (std::all_of(a.bytes.begin(), a.bytes.end(), [](std::uint8_t b) { return b == 0; })) continue;
    // An address on two devices is offered once: both would capture alike.
    if (std::find(out.begin(), out.end(), a) == out.end()) out.push_back(a);
  }
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
  read_address_table();
  std::lock_guard lock(latest_mutex_);
  latest_ = shown_ = empty_record();
}

void PacketMonitor::read_address_table() {
  local_ = capture_address_list(deps_.capture.local_addresses());
  local6_.clear();
  own6_.clear();
  if (settings_.ipv6) {
    const std::vector<net::IpAddress> table6 = deps_.capture.local_ipv6_addresses();
    local6_ = capture_address_list6(table6);
    for (const net::IpAddress& a : table6)
      if (a.is_v6() && !net::is_loopback(a)) own6_.push_back(a.bytes);
  }
  host_address_ = deps_.capture.host_address();
  addresses_read_ = true;
}

std::vector<net::IpAddress> PacketMonitor::address_list() const {
  std::vector<net::IpAddress> out;
  out.reserve(local_.size() + local6_.size());
  for (const std::uint32_t a : local_) out.push_back(net::IpAddress::v4(a));
  out.insert(out.end(), local6_.begin(), local6_.end());
  return out;
}

std::vector<std::string> PacketMonitor::address_list_texts() const {
  std::vector<std::string> out;
  for (const net::IpAddress& a : address_list()) out.push_back(a.is_v4() ? shared::address_text(a.v4_network()) : net::to_text(a));
  return out;
}

std::optional<net::IpAddress> PacketMonitor::parse_list_address(std::string_view text) const {
  if (const std::optional<std::uint32_t> v4 = shared::parse_address(text)) return net::IpAddress::v4(*v4);
  if (!settings_.ipv6 || text.find(':') == std::string_view::npos) return std::nullopt;
  const std::optional<net::IpAddress> v6 = net::parse_ip(text);
  if (!v6 || !v6->is_v6()) return std::nullopt;
  return v6;
}

bool PacketMonitor::in_address_list(std::string_view text) const {
  const std::optional<net::IpAddress> a = parse_list_address(text);
  if (!a) return false;
  const std::vector<net::IpAddress> list = address_list();
  return std::find(list.begin(), list.end(), *a) != list.end();
}

std::string PacketMonitor::default_address_text() const {
  const std::uint32_t a = default_capture_address(local_, host_address_);
  if (a == 0 && !local6_.empty()) return net::to_text(local6_.back());
  return shared::address_text(a);
}

std::string PacketMonitor::step_address(std::string_view shown, bool up) const {
  const std::vector<net::IpAddress> list = address_list();
  if (list.empty()) return std::string(shown);
  // Where the shown address sits in the list; an address not in it counts
  // as standing before the first entry.
  const std::optional<net::IpAddress> current = parse_list_address(shown);
  std::ptrdiff_t pos = -1;
  for (std::size_t i = 0; current && i < list.size(); ++i)
    if (list[i] == *current) pos = static_cast<std::ptrdiff_t>(i);
  const auto last = static_cast<std::ptrdiff_t>(list.size()) - 1;
  std::ptrdiff_t next = up ? pos + 1 : pos - 1;
  if (pos < 0) next = 0;
  next = std::clamp<std::ptrdiff_t>(next, 0, last);
  const net::IpAddress& a = list[static_cast<std::size_t>(next)];
  return a.is_v4() ? shared::address_text(a.v4_network()) : net::to_text(a);
}

StartOutcome PacketMonitor::start(std::string_view address_text) {
  if (state() == CaptureState::Running) return {StartOutcome::Ignored, {}};
  const std::optional<net::IpAddress> address = parse_list_address(address_text);
  const std::uint32_t fallback = default_capture_address(local_, host_address_);
  const bool valid = address && ((address->is_v4() && address->v4_network() == fallback) ||
                                 (address->is_v6() && default_address_text() == net::to_text(*address)) ||
                                 in_address_list(address_text));
  if (!valid) return {StartOutcome::InvalidAddress, std::string(invalid_address_text(lang_))};
  // A run whose thread has ended but which the display timer has not yet
  // cleaned up is over: a START pressed right after STOP starts anew.
  if (state() == CaptureState::Ended) clean_up();
  if (state() != CaptureState::Idle) return {StartOutcome::Ignored, {}};

  ctx_ = DecodeContext{};
  // Copies: the page may read the address table again while this run goes.
  if (address->is_v6()) {
    ctx_.ipv6 = true;
    ctx_.capture_address6 = address->bytes;
    run_addresses6_ = own6_;
    ctx_.local_addresses6 = run_addresses6_;
  } else {
    ctx_.capture_address = address->v4_network();
    run_addresses_ = local_;
    ctx_.local_addresses = run_addresses_;
  }
  ctx_.flow_keys = &deps_.flow_keys;
  ctx_.hosts = &deps_.hosts;
  time_valid_ = false;
  // No capture thread runs now: the count stands still.
  run_base_ = captured_total();
  backoff_ms_ = 0;

  state_.store(CaptureState::Starting);
  if (const auto started = deps_.capture.start(*address, *this); !started.ok()) {
    state_.store(CaptureState::Idle);
    return {StartOutcome::Failed, capture_failure_text(started.error(), lang_)};
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
  const bool family_changed = settings.ipv6 != settings_.ipv6;
  settings_ = settings;
  // The list follows the IPv6 switch at once; a run going on keeps its own
  // copy of the addresses.
  if (family_changed && addresses_read_) read_address_table();
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
