#pragma once
// The Session Monitor's settings in section "Session", one load and one save
// per group. The column widths ("ColnmWidth") and the clipboard columns
// ("CopyItem") are stored by the shell's list-column helpers like those of
// the other lists. "AutoStart" and "SplitSize" are the shell's keys
// (shell/shell_settings.h): the programs read them there and tell the monitor.
// Main thread only.
#include <string>

#include "settings/profile.h"

namespace tw::sessions {

inline constexpr std::string_view kSessionSection = "Session";

// The page's own keys.
struct SessionSettings {
  bool ask_dns = true;
  bool auto_block = false;
  bool auto_block_log_view = false;
  int reset_max_connections = 1440;  // minutes, 1..65535
  std::string log_viewer;
};
SessionSettings load_session_settings(const settings::Profile& profile);
// Writes what the page owns: AskDNS, AutoBlock, AutoBlockLogView, LogViewer
// (empty when unset) and ResetMaxConnections.
void save_session_settings(settings::Profile& profile, const SessionSettings& s);
// "AutoBlock" alone, for a program without the page (tarnixd), which keeps
// the switch of "/blockstart" and "/blockstop" at once.
void save_auto_block(settings::Profile& profile, bool on);

// The blocked log ("Auto Kill Session" options page).
struct AutoBlockSettings {
  bool blocked_log = true;
  std::string log_file_name = "tarnix_autoblock$YYYY$$MM$.log";
  std::string log_format = "BLOCKED [$DATE$ $TIME$] $HOST1$:$PORT1$ $HOST2$:$PORT2$ $PID$";
};
AutoBlockSettings load_autoblock_settings(const settings::Profile& profile);
void save_autoblock_settings(settings::Profile& profile, const AutoBlockSettings& s);

}  // namespace tw::sessions
