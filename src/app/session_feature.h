#pragma once
// What the Session Monitor brings to either program: the session refresh
// every 500 ms (kTimerSessionRefresh, auto-block included), the commands
// "tarnix.sessionmonitor /blockstart" and "/blockstop", the "$SESSION$" and
// "$CONNECTIONS$" variables of the logs, and the shut-down step that forgets
// every host and process name. The desktop program's page shows the same
// monitor; tarnixd runs it without a window.
//
// Ownership: owns its log source; the monitor and the runtime must outlive it.
// Main thread only.
#include <functional>
#include <string_view>

#include "app/runtime.h"
#include "logging/log_source.h"
#include "sessions/session_monitor.h"

namespace tw::app {

// The auto-block rules, in the data folder.
inline constexpr std::string_view kAutoBlockRuleFileName = "tarnix_autoblock.txt";
// The longest rule file read: every rule at its longest, with its line end.
inline constexpr std::size_t kMaxRuleFileBytes = sessions::kMaxRules * (sessions::kMaxRuleLineChars + 2);

inline constexpr std::uint32_t kSessionRefreshPeriodMs = 500;

class SessionFeature {
 public:
  // Registers everything with `runtime`, gives the monitor the rules of
  // `rule_file_text` and starts it when `auto_start` ("Session"/"AutoStart").
  SessionFeature(Runtime& runtime, sessions::SessionMonitor& monitor, std::string_view rule_file_text,
                 bool auto_start);
  SessionFeature(const SessionFeature&) = delete;
  SessionFeature& operator=(const SessionFeature&) = delete;

  sessions::SessionMonitor& monitor() { return monitor_; }

  // Told after every refresh and after each command that switched the
  // auto-block, so that a window showing the monitor follows it. One
  // listener; empty removes it.
  void set_changed_listener(std::function<void()> listener) { changed_ = std::move(listener); }
  // Told the new state after each command that switched the auto-block (a
  // program without the page saves it there). One listener.
  void set_auto_block_listener(std::function<void(bool on)> listener) { auto_block_changed_ = std::move(listener); }

 private:
  // The monitor's log variables as they are when an entry is written: its
  // rows change with every refresh, so the source is asked anew each time.
  class LogVariables final : public logging::LogSource {
   public:
    explicit LogVariables(const sessions::SessionMonitor& monitor) : monitor_(monitor) {}
    bool fill(logging::LogKind kind, std::string_view entry_template, logging::EntryValues& values) override {
      return monitor_.log_source().fill(kind, entry_template, values);
    }
    void entry_written(logging::LogKind) override {}

   private:
    const sessions::SessionMonitor& monitor_;
  };

  void changed() {
    if (changed_) changed_();
  }
  void auto_block_switched() {
    if (auto_block_changed_) auto_block_changed_(monitor_.auto_block());
    changed();
  }

  sessions::SessionMonitor& monitor_;
  std::function<void()> changed_;
  std::function<void(bool)> auto_block_changed_;
  LogVariables log_variables_{monitor_};
};

}  // namespace tw::app
