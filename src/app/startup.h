#pragma once
// Start-up decisions that need no system: the settings file name, the restart
// argument, the user-interface language, the notice about an unusable
// settings file and the restart after a resume. The platform side (instance
// lock, user and host names, waiting for the old process, power events,
// starting the successor) feeds them.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/runtime.h"
#include "base/language.h"
#include "platform/power_events.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"

namespace tw::app {

// Base name of the settings file and the instance lock. tarnix and tarnixd are
// the same program, so both use this one name and share their files and lock.
inline constexpr std::string_view kProgramBaseName = "tarnix";

// Suffix of the settings file of a second (and any further) instance.
inline constexpr std::string_view kSecondInstanceSuffix = "_#2";

// "BASE_USER@HOST.ini", or "BASE_USER@HOST_#2.ini" for an instance that started
// while another held the instance lock. The user name comes first. An empty
// name part (it could not be read) stays empty. A '/' or NUL in a name part
// would turn the name into a path somewhere else and is replaced by '_'.
std::string settings_file_name(std::string_view base_name, std::string_view user,
                               std::string_view host, bool second_instance);

// The restart argument "/w PID" that a restarting predecessor passes: exactly
// two arguments, the first beginning with "/w" (so "/wait" counts too), the
// second read for its leading decimal digits. Returns nullopt when the command
// line is anything else (it is then ignored). A second argument without
// leading digits, or with a number too big for a process id, gives 0, which
// names no process: the caller must not wait for a value <= 0 (kill(0, 0)
// would probe our own process group and always succeed).
std::optional<long> parse_restart_argument(const std::vector<std::string>& args_after_program);

// The "/w PID" argument pair that a restart passes to its successor.
std::vector<std::string> restart_arguments(unsigned long own_pid);

// The first of LC_ALL, LC_MESSAGES and LANG that is set and not empty decides,
// as it does for message catalogues: Japanese when it starts with "ja",
// English otherwise (also when none is set). Null pointers count as unset.
Language language_from_locale(const char* lc_all, const char* lc_messages, const char* lang);

// What to tell the user once at start when the settings file exists but
// cannot be used: the file is named, with the reason, and the consequence
// (defaults, nothing saved, the gross totals included). Empty for a usable or
// missing file.
std::string settings_problem_text(std::string_view path, settings::SettingsFileProblem problem, Language lang);

// The one message for a data folder that is refused because another user
// could have written it or a settings, rule or list file in it: `detail`
// names what and why ("... may be written by every user"). With
// `runs_on_defaults` (the desktop program) it says that the program goes on
// with the default settings and writes nothing there; otherwise (tarnixd)
// that it does not start.
std::string untrusted_data_text(std::string_view folder, std::string_view detail, bool runs_on_defaults,
                                Language lang);

// What to tell the user once when a save of the gross totals failed: the
// settings file, the system's reason (`detail`), and that the next save tries
// again.
std::string totals_not_saved_text(std::string_view path, std::string_view detail, Language lang);

// Sleep and wake-up for a program without a window, as the desktop program's
// main window handles them: before the sleep the Report log's End-Log entry
// and the gross totals (Runtime::suspend); after the wake-up a statistics
// restart, then a successor is started with "/w PID" and this instance ends as
// restarting; when no successor could be started it goes on.
// Main thread only; every referenced object must outlive it.
class PowerResponse {
 public:
  PowerResponse(Runtime& runtime, traffic::TrafficMonitor& traffic, std::function<bool()> start_successor);

  // Handles every event `events` has, in order, and lets the machine sleep
  // once the suspend work is done. True once a successor has been started:
  // the caller then ends with Runtime::shutdown(true), which leaves the
  // End-Log entry (written before the sleep) and the totals (the successor
  // loads them) alone. Later events change nothing, so exactly one successor
  // is started.
  bool handle(platform::PowerEvents& events);
  bool restarting() const { return restarting_; }

 private:
  Runtime& runtime_;
  traffic::TrafficMonitor& traffic_;
  std::function<bool()> start_successor_;
  bool restarting_ = false;
};

}  // namespace tw::app
