#pragma once
// Auto-block ("Auto Kill Session"): rules that pick connections of the
// session list to be closed, read from the rule file tarnix_autoblock.txt, and
// the blocked log with its view pane.
//
// Rule file: one rule a line; lines starting with "!", "#", ";" or a control
// character (an empty line among them) are comments. A rule is a
// comma-separated list of KEYWORD=VALUE fields (commas inside double quotes
// do not separate; quotes around a field are dropped and "" inside becomes ");
// blanks, "*", ";", tabs and line ends are deleted from each field, keywords
// are case-sensitive and unknown ones are ignored. A line with no known
// keyword is no rule at all and takes no place among the rules.
//
// Threads: everything on the thread that runs the session refresh.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "logging/template.h"
#include "platform/clock.h"
#include "sessions/session_list.h"

namespace tw::sessions {

inline constexpr std::size_t kMaxRules = 1023;
inline constexpr std::size_t kMaxRuleLineChars = 65534;

// A port range; active once its keyword appeared (every value gives one).
struct PortRange {
  int low = 0, high = 0;
  bool active() const { return low != 0 && high != 0; }
  bool contains(long port) const { return port >= low && port <= high; }
};
PortRange parse_port_range(std::string_view value);

// An hour range; 24..24 (unset) and anything reaching 24 is inactive.
struct HourRange {
  int low = 24, high = 24;
  bool active() const { return low >= 0 && low < 24 && high >= 0 && high < 24; }
  bool contains(int hour) const { return hour >= low && hour <= high; }
};
HourRange parse_hour_range(std::string_view value);

// The tests of one side of a rule: all of them must hold (or, for the
// negated half, all set ones must fail).
struct RuleTests {
  std::string local_address, local_host;
  PortRange local_port;
  std::string remote_address, remote_host;
  PortRange remote_port;
  int state = 0;    // 1 "Connecting", 2 "Waiting", 0 any (the value modulo 3)
  long min_age = 0; // seconds
  std::string process;
  HourRange hours;
};

struct Rule {
  bool allow = false;
  bool no_log = false;
  RuleTests positive;
  RuleTests negated;
};

// Every rule of a rule file's text, in file order, at most kMaxRules.
std::vector<Rule> parse_rules(std::string_view file_text);

// What auto-block does with a row.
enum class Verdict { Leave = 0, Block = 1, BlockWithoutLog = 2 };

// The first rule that decides, in file order. A rule matching a row whose
// host is still being looked up ("(ADDRESS)") is passed over until the name
// is known, so that a host rule is never judged against an address.
Verdict evaluate(const std::vector<Rule>& rules, const RowTexts& row, int hour, Language lang);

// The two text matches of the rules, exposed for the options page's help.
bool string_match(std::string_view value, std::string_view text);
// The address keywords (IP1, IP2 and their negations): a value holding ':'
// that reads as an IPv6 address or prefix ("fd00::/8", "fd00::2") matches the
// IPv6 addresses it covers (an IPv4-mapped one: the IPv4 addresses); any
// other value is a string match.
bool address_match(std::string_view value, std::string_view text);
// "ADDRESS:PORT" of two cells, an IPv6 address in brackets.
std::string address_with_port(std::string_view address, std::string_view port);
bool host_match(std::string_view value, std::string_view text, std::string_view address);

// The blocked-log line from its template: $DATE$, $TIME$, $IP1$, $HOST1$,
// $PORT1$, $IP2$, $HOST2$, $PORT2$, $STAT$, $TM$ (the list's columns 0..7)
// and $PID$ (the process label). Where the template joins an address or host
// with its port by ':', an IPv6 address is put in brackets.
std::string blocked_line(std::string_view format, const RowTexts& row, const logging::DateTexts& date);

// The view pane takes the newest line first; a pane already holding 300 lines
// starts over with just the new one.
inline constexpr std::size_t kMaxViewLines = 300;
void add_to_view(std::string& pane, std::string_view line);

// The blocked log's path: the file-name template expanded with the time, in
// the log root folder when that is an absolute path (the file name is put
// right after it), else in the data folder.
std::string blocked_log_path(std::string_view name_template, std::string_view log_root, std::string_view data_folder,
                             const logging::DateTexts& date);

// "BLOCKED : %5d" (commands) and " BLOCKED : %5d" (the page's check box).
std::string blocked_label(int count, bool leading_blank);

}  // namespace tw::sessions
