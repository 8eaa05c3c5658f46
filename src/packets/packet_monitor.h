#pragma once
// The Packet Monitor without its window: the capture address and its checks,
// the capture states, the capture thread's decoding into the latest-packet
// record, the display timer that samples that record into the list, and the
// "$IP_PACKET$" variable of the logs.
//
// Capture states: 0 idle -> 1 starting -> 2 running -> 4 stop requested ->
// 3 capture thread ended -> 0 (the display timer cleans up).
//
// Threads: every member on the main thread, except the CaptureSink calls,
// which come from the capture thread, and state() and captured_total(), which
// any thread may call. They share only the capture state (an atomic), the
// datagram count (an atomic), the latest-packet record (handed over whole
// under a lock) and the decoding options (atomics); the flow key table and
// the host-name cache take their own locks.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "logging/log_source.h"
#include "logging/row_sources.h"
#include "packets/packet_decoder.h"
#include "packets/packet_list.h"
#include "packets/packet_settings.h"
#include "packets/port_filter.h"
#include "platform/clock.h"
#include "platform/packet_capture.h"
#include "shared/flow_keys.h"
#include "shared/host_names.h"

namespace tw::packets {

enum class CaptureState : std::uint8_t { Idle = 0, Starting = 1, Running = 2, Ended = 3, StopRequested = 4 };

// The texts of the start checks.
std::string_view invalid_address_text(Language lang);      // "Not a valid IP."
std::string_view needs_administrator_text(Language lang);  // "Please run with administrator privileges."
// The message box text of a failed start: "Error!! socket() = %ld" and the
// like, with the administrator line below when privileges were missing, and
// below that the real cause with its fix when it is known
// ("tarnix-helper is not installed: sudo make install").
std::string capture_failure_text(const platform::CaptureFailure& f, Language lang);
// The status line beside the list: the datagrams decoded and lost (the
// kernel's drop count of the capture socket, and datagrams the helper could
// not forward) in the current or last run: "Captured: 1,234  Dropped: 0".
std::string capture_status_text(Language lang, std::uint64_t decoded, std::uint64_t dropped);

// The local address list of a capture: every address of the table but
// 127.0.0.1 and 0.0.0.0, in table order.
std::vector<std::uint32_t> capture_address_list(const std::vector<std::uint32_t>& table);
// The default capture address: the last of the list, or when there is none
// (or it is 0.0.0.0 or 127.0.0.1) the host name's address, else 0.0.0.0.
std::uint32_t default_capture_address(const std::vector<std::uint32_t>& list, std::optional<std::uint32_t> host);

struct PacketMonitorDeps {
  platform::PacketCapture& capture;
  platform::Clock& clock;
  const shared::FlowKeyTable& flow_keys;
  shared::HostNameCache& hosts;
  ProcessName process_name;  // may be empty: processes show their id only
};

struct StartOutcome {
  enum Kind { Started, Ignored, InvalidAddress, Failed };
  Kind kind = Ignored;
  std::string message;  // for InvalidAddress and Failed: the message box text
};

struct TickResult {
  bool row_added = false;
  bool capture_ended = false;  // the clean-up ran: "START" goes back on the button
};

class PacketMonitor final : private platform::CaptureSink {
 public:
  PacketMonitor(PacketMonitorDeps deps, Language lang, const PacketSettings& settings);
  ~PacketMonitor() override;
  PacketMonitor(const PacketMonitor&) = delete;
  PacketMonitor& operator=(const PacketMonitor&) = delete;

  // Page creation: reads the address table and clears both records.
  void load_addresses();
  const std::vector<std::uint32_t>& local_addresses() const { return local_; }
  // The default address as text, for the address field.
  std::string default_address_text() const;
  // The up-down control beside the address field: the next (up) or previous
  // entry of the list, skipping the one shown, clamped at both ends; the
  // shown text itself when the list is empty.
  std::string step_address(std::string_view shown, bool up) const;

  // START (when not running): checks the address and starts the capture.
  StartOutcome start(std::string_view address_text);
  // STOP (when running): asks the capture thread to end and waits for it.
  // The display timer's next tick finishes the clean-up.
  void stop();
  // The START/STOP button: stop when running, start otherwise.
  StartOutcome toggle(std::string_view address_text);

  CaptureState state() const { return state_.load(); }
  bool running() const { return state() == CaptureState::Running; }

  // The display timer, every interval_ms().
  TickResult display_tick();
  int interval_ms() const { return settings_.interval_ms; }

  // The options changed (or the "AskDNS" check box): the next decoded packet
  // and the next row follow them.
  void apply_settings(const PacketSettings& settings);
  const PacketSettings& settings() const { return settings_; }
  void set_ask_dns(bool on);

  PacketList& list() { return list_; }
  const PacketList& list() const { return list_; }
  void remove_all() { list_.remove_all(); }

  // The latest record the capture thread published (a whole copy).
  PacketRecord latest() const;
  // Datagrams decoded in this run.
  std::uint64_t decoded() const { return captured_total() - run_base_; }
  // Datagrams decoded over every run of this monitor: it only grows, so it
  // serves as a counter for monitoring. Any thread.
  std::uint64_t captured_total() const { return captured_total_.load(std::memory_order_relaxed); }
  // Datagrams the capture lost in this (or the last) run, and over every run
  // (a counter, like captured_total()). Main thread.
  std::uint64_t dropped() const;
  std::uint64_t dropped_total() const;
  // capture_status_text() of this run.
  std::string status_text() const;

  // "$IP_PACKET$" for the logs: the list while capturing; nothing while
  // stopped, so the writer puts the "stopped" text there. The list is emptied
  // only once the entry has reached its file.
  logging::LogSource& log_source() { return log_variables_; }

  // The shut-down: ends a run.
  void shut_down();

 private:
  class LogVariables final : public logging::LogSource {
   public:
    LogVariables(PacketMonitor& m, Language lang) : monitor_(m), rows_(m.list_, lang) {}
    bool fill(logging::LogKind kind, std::string_view entry_template, logging::EntryValues& values) override;
    void entry_written(logging::LogKind kind) override {
      if (asked_) rows_.entry_written(kind);
      asked_ = false;
    }

   private:
    PacketMonitor& monitor_;
    logging::PacketRowsSource rows_;
    bool asked_ = false;  // the rows were offered to the entry being written
  };

  // platform::CaptureSink, on the capture thread.
  void capture_started() override;
  bool datagram(std::span<const std::uint8_t> bytes) override;
  void capture_ended() override;

  void clean_up();
  PacketTime time_now();

  PacketMonitorDeps deps_;
  const Language lang_;
  PacketSettings settings_;
  PortFilter filter_;
  std::vector<std::uint32_t> local_;
  std::optional<std::uint32_t> host_address_;

  std::atomic<CaptureState> state_{CaptureState::Idle};
  std::atomic<bool> ask_dns_{false};
  std::atomic<bool> data_as_text_{false};
  // Written by the capture thread only; one count for both figures above, so
  // that a datagram costs one atomic add.
  std::atomic<std::uint64_t> captured_total_{0};

  // Capture thread only (set up by start() before the thread runs).
  DecodeContext ctx_;
  std::vector<std::uint32_t> run_addresses_;  // ctx_.local_addresses views it
  PacketRecord scratch_;
  std::uint32_t time_tick_ = 0;
  bool time_valid_ = false;

  mutable std::mutex latest_mutex_;
  PacketRecord latest_;

  // Main thread only.
  PacketRecord shown_;
  std::uint64_t run_base_ = 0;  // captured_total() when this run started
  // The capture's figures belong to a run that is not yet cleaned up; the
  // drops of the runs before it.
  bool run_open_ = false;
  std::uint64_t dropped_before_ = 0;
  std::uint64_t last_run_dropped_ = 0;
  int backoff_ms_ = 0;
  PacketList list_;
  LogVariables log_variables_{*this, lang_};
};

}  // namespace tw::packets
