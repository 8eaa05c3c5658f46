#include "app/session_feature.h"

namespace tw::app {

SessionFeature::SessionFeature(Runtime& runtime, sessions::SessionMonitor& monitor, std::string_view rule_file_text,
                               bool auto_start)
    : monitor_(monitor) {
  using shell::Command;
  monitor_.load_rules(rule_file_text);
  if (auto_start) monitor_.start();

  // The refresh does nothing while the monitor is stopped, so the timer can
  // stay armed and the page's START/STOP needs no word with the schedule.
  runtime.add_timer(kTimerSessionRefresh, [] { return kSessionRefreshPeriodMs; }, [this] {
    monitor_.refresh();
    changed();
  });
  runtime.add_command(Command::BlockStart, [this](const auto&) {
    if (monitor_.block_start()) auto_block_switched();
  });
  runtime.add_command(Command::BlockStop, [this](const auto&) {
    if (monitor_.block_stop()) auto_block_switched();
  });
  runtime.add_log_source(log_variables_);
  runtime.add_shutdown_step(shutdown_step::kEmptyNameCaches, [this](bool) { monitor_.shut_down(); });
}

}  // namespace tw::app
