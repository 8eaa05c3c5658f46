#include "sessions/session_settings.h"

#include <algorithm>

namespace tw::sessions {

SessionSettings load_session_settings(const settings::Profile& p) {
  SessionSettings s;
  const auto sec = kSessionSection;
  s.ask_dns = p.read_int(sec, "AskDNS", 1) != 0;
  s.auto_block = p.read_int(sec, "AutoBlock", 0) != 0;
  s.auto_block_log_view = p.read_int(sec, "AutoBlockLogView", 0) != 0;
  const int reset = p.read_int(sec, "ResetMaxConnections", 1440);
  s.reset_max_connections = reset < 2 ? 1 : std::min(reset, 65535);
  s.log_viewer = p.read_string(sec, "LogViewer", "");
  return s;
}

void save_session_settings(settings::Profile& p, const SessionSettings& s) {
  const auto sec = kSessionSection;
  p.write_int(sec, "AskDNS", s.ask_dns ? 1 : 0);
  p.write_int(sec, "AutoBlock", s.auto_block ? 1 : 0);
  p.write_int(sec, "AutoBlockLogView", s.auto_block_log_view ? 1 : 0);
  p.write_string(sec, "LogViewer", s.log_viewer);
  p.write_int(sec, "ResetMaxConnections", s.reset_max_connections);
}

void save_auto_block(settings::Profile& p, bool on) { p.write_int(kSessionSection, "AutoBlock", on ? 1 : 0); }

AutoBlockSettings load_autoblock_settings(const settings::Profile& p) {
  AutoBlockSettings s;
  const auto sec = kSessionSection;
  s.blocked_log = p.read_int(sec, "BlockedLog", 1) == 1;
  s.log_file_name = p.read_string(sec, "AutoBlockLogFileName", s.log_file_name);
  s.log_format = p.read_string(sec, "AutoBlockLogFormat", s.log_format);
  return s;
}

void save_autoblock_settings(settings::Profile& p, const AutoBlockSettings& s) {
  const auto sec = kSessionSection;
  p.write_int(sec, "BlockedLog", s.blocked_log ? 1 : 0);
  p.write_string(sec, "AutoBlockLogFileName", s.log_file_name);
  p.write_string(sec, "AutoBlockLogFormat", s.log_format);
}

}  // namespace tw::sessions
