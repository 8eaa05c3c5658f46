#include "sessions/autoblock.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "base/ip_address.h"

namespace tw::sessions {

namespace {

// C's atoi on a value: optional sign and leading digits, 0 for anything else;
// huge values saturate instead of overflowing.
long to_long(std::string_view s) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  long v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) v = std::min(v * 10 + (s[i] - '0'), 100000000L);
  return negative ? -v : v;
}

int to_int(std::string_view s) { return static_cast<int>(to_long(s)); }

std::string remove_chars(std::string_view s, std::string_view chars) {
  std::string out;
  out.reserve(s.size());
  for (char ch : s)
    if (chars.find(ch) == std::string_view::npos) out += ch;
  return out;
}

bool contains(std::string_view t, std::string_view v) { return t.find(v) != std::string_view::npos; }

bool iends_with(std::string_view t, std::string_view v) {
  if (v.size() > t.size()) return false;
  return std::equal(v.begin(), v.end(), t.end() - static_cast<std::ptrdiff_t>(v.size()), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

// Splits a line at commas outside double quotes, then unquotes each field.
std::vector<std::string> split_fields(std::string_view line) {
  std::vector<std::string> raw(1);
  bool quoted = false;
  for (char ch : line) {
    if (ch == '"') quoted = !quoted;
    if (ch == ',' && !quoted)
      raw.emplace_back();
    else
      raw.back() += ch;
  }
  for (auto& f : raw) {
    if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
    std::string u;
    for (std::size_t i = 0; i < f.size(); ++i) {
      u += f[i];
      if (f[i] == '"' && i + 1 < f.size() && f[i + 1] == '"') ++i;
    }
    f = remove_chars(u, std::string_view(" *;\t\r\n", 6));
  }
  return raw;
}

// Applies one KEYWORD=VALUE field; false for an unknown keyword.
bool apply_field(Rule& rule, std::string_view keyword, std::string_view value) {
  const bool neg = !keyword.empty() && keyword.back() == '!';
  const std::string_view name = neg ? keyword.substr(0, keyword.size() - 1) : keyword;
  RuleTests& t = neg ? rule.negated : rule.positive;
  if (!neg && name == "ALLOW") rule.allow = to_long(value) != 0;
  else if (!neg && name == "NOLOG") rule.no_log = to_long(value) != 0;
  else if (name == "IP1") t.local_address = value;
  else if (name == "HOST1") t.local_host = value;
  else if (name == "PORT1") t.local_port = parse_port_range(value);
  else if (name == "IP2") t.remote_address = value;
  else if (name == "HOST2") t.remote_host = value;
  else if (name == "PORT2") t.remote_port = parse_port_range(value);
  else if (name == "STAT") t.state = static_cast<int>(((to_long(value) % 3) + 3) % 3);
  else if (name == "TIME") t.min_age = to_long(value);
  else if (name == "PID") t.process = value;
  else if (name == "SYSTIME") t.hours = parse_hour_range(value);
  else return false;
  return true;
}

std::string_view state_word(int state, Language lang) {
  if (state == 1) return pick(lang, std::string_view("Connecting"), std::string_view("接続中"));
  if (state == 2) return pick(lang, std::string_view("Waiting"), std::string_view("接続待ち"));
  return {};  // any status contains the empty word
}

long port_of(const std::string& text) { return to_long(text); }

// Each test of a rule against a row, in the order they are tried. A test
// that is not set passes (positive) and never fails the rule (negated).
enum class Test { Process, RemoteHost, RemotePort, RemoteAddress, LocalHost, LocalPort, LocalAddress, Age, State, Hours };

// Whether the test is set in `t`.
bool is_set(Test test, const RuleTests& t) {
  switch (test) {
    case Test::Process: return !t.process.empty();
    case Test::RemoteHost: return !t.remote_host.empty();
    case Test::RemotePort: return t.remote_port.active();
    case Test::RemoteAddress: return !t.remote_address.empty();
    case Test::LocalHost: return !t.local_host.empty();
    case Test::LocalPort: return t.local_port.active();
    case Test::LocalAddress: return !t.local_address.empty();
    case Test::Age: return t.min_age != 0;
    case Test::State: return t.state != 0;
    case Test::Hours: return t.hours.active();
  }
  return false;
}

// Whether the condition of a set test holds for the row.
bool holds(Test test, const RuleTests& t, const RowTexts& row, int hour, Language lang) {
  switch (test) {
    case Test::Process: return string_match(t.process, row[kProcess]);
    case Test::RemoteHost: return host_match(t.remote_host, row[kRemoteHost], row[kRemoteAddress]);
    case Test::RemotePort: return t.remote_port.contains(port_of(row[kRemotePort]));
    case Test::RemoteAddress: return address_match(t.remote_address, row[kRemoteAddress]);
    case Test::LocalHost: return host_match(t.local_host, row[kLocalHost], row[kLocalAddress]);
    case Test::LocalPort: return t.local_port.contains(port_of(row[kLocalPort]));
    case Test::LocalAddress: return address_match(t.local_address, row[kLocalAddress]);
    case Test::Age: return static_cast<long>(elapsed_seconds(row[kTime], lang)) >= t.min_age;
    case Test::State: return contains(row[kStatus], state_word(t.state, lang));
    case Test::Hours: return t.hours.contains(hour);
  }
  return false;
}

constexpr std::array<Test, 10> kOrder = {Test::Process, Test::RemoteHost, Test::RemotePort, Test::RemoteAddress,
                                         Test::LocalHost, Test::LocalPort, Test::LocalAddress, Test::Age,
                                         Test::State, Test::Hours};

bool rule_matches(const Rule& rule, const RowTexts& row, int hour, Language lang) {
  for (Test test : kOrder)
    if (is_set(test, rule.positive) && !holds(test, rule.positive, row, hour, lang)) return false;
  // A negated test fails the rule when its positive form would hold; that
  // goes for STAT! and TIME! too: "not established", "younger than".
  for (Test test : kOrder)
    if (is_set(test, rule.negated) && holds(test, rule.negated, row, hour, lang)) return false;
  return true;
}

}  // namespace

PortRange parse_port_range(std::string_view value) {
  PortRange r;
  const auto dash = value.find('-');
  r.low = to_int(value.substr(0, dash));
  if (dash == std::string_view::npos) {
    r.high = r.low;
  } else {
    r.high = to_int(value.substr(dash + 1));
    if (r.high == 0) r.high = 65535;
  }
  if (r.high < r.low) r.high = r.low;
  if (r.low <= 0) r = {1, 65535};  // 0, empty, or starting with "-": any port
  return r;
}

HourRange parse_hour_range(std::string_view value) {
  HourRange r;
  const auto dash = value.find('-');
  r.low = to_int(value.substr(0, dash));
  r.high = r.low;
  if (dash != std::string_view::npos && dash + 1 < value.size()) r.high = std::max(r.low, to_int(value.substr(dash + 1)));
  return r;
}

std::vector<Rule> parse_rules(std::string_view text) {
  std::vector<Rule> rules;
  while (!text.empty() && rules.size() < kMaxRules) {
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (line.size() > kMaxRuleLineChars) line = line.substr(0, kMaxRuleLineChars);
    if (line.empty()) continue;
    const auto first = static_cast<unsigned char>(line[0]);
    if (first == '!' || first == '#' || first == ';' || first < 16) continue;
    Rule rule;
    bool known = false;
    for (const auto& field : split_fields(line)) {
      const auto eq = field.find('=');
      if (eq == std::string::npos) continue;  // no keyword without "="
      known |= apply_field(rule, std::string_view(field).substr(0, eq), std::string_view(field).substr(eq + 1));
    }
    if (known) rules.push_back(std::move(rule));
  }
  return rules;
}

bool string_match(std::string_view value, std::string_view text) {
  if (contains(value, "/")) return contains(remove_chars(text, " "), remove_chars(value, "/"));
  const std::string t = remove_chars(text, " ");
  return std::string_view(t).substr(0, value.size()) == value;
}

namespace {
std::optional<net::IpPrefix> ipv6_rule_prefix(std::string_view value) {
  // Only a value with a ':' is read as IPv6: "192.168." and "/168/" keep
  // their text matches.
  if (value.find(':') == std::string_view::npos) return std::nullopt;
  auto prefix = net::parse_prefix(value);
  if (!prefix || !prefix->address.is_v6()) return std::nullopt;
  // The lists show an IPv4-mapped address as IPv4, so a rule naming one
  // means that IPv4 address (or range).
  if (const net::IpAddress v4 = net::unmapped(prefix->address); v4.is_v4()) {
    if (prefix->length < 96) return prefix;  // reaches beyond the mapped block: leave it IPv6
    return net::IpPrefix{v4, static_cast<std::uint8_t>(prefix->length - 96)};
  }
  return prefix;
}
}  // namespace

bool address_match(std::string_view value, std::string_view text) {
  if (const auto prefix = ipv6_rule_prefix(value)) {
    const auto address = net::parse_ip(text);
    return address && prefix->contains(*address);
  }
  return string_match(value, text);
}

bool host_match(std::string_view value, std::string_view text, std::string_view address) {
  if (contains(value, "/")) return contains(text, remove_chars(value, "/"));
  if (iends_with(text, value)) return true;
  return value == "????" && text == address;
}

Verdict evaluate(const std::vector<Rule>& rules, const RowTexts& row, int hour, Language lang) {
  for (const Rule& rule : rules) {
    if (!rule_matches(rule, row, hour, lang)) continue;
    if (rule.allow) return Verdict::Leave;
    if (contains(row[kLocalHost], "(") || contains(row[kRemoteHost], "(")) continue;
    return rule.no_log ? Verdict::BlockWithoutLog : Verdict::Block;
  }
  return Verdict::Leave;
}

std::string address_with_port(std::string_view address, std::string_view port) {
  std::string out;
  const bool v6 = address.find(':') != std::string_view::npos && net::parse_ip(address).has_value();
  if (v6) out += '[';
  out += address;
  if (v6) out += ']';
  out += ':';
  out += port;
  return out;
}

std::string blocked_line(std::string_view format, const RowTexts& row, const logging::DateTexts& date) {
  // An address joined with its port by the template is written
  // "[fd00::2]:5555" when it is IPv6; anything else reads as before.
  const std::string ip1 = address_with_port(row[0], row[2]), host1 = address_with_port(row[1], row[2]);
  const std::string ip2 = address_with_port(row[3], row[5]), host2 = address_with_port(row[4], row[5]);
  const std::array<logging::Variable, 15> vars = {{
      {"$IP1$:$PORT1$", ip1}, {"$HOST1$:$PORT1$", host1}, {"$IP2$:$PORT2$", ip2}, {"$HOST2$:$PORT2$", host2},
      {"$DATE$", date.date}, {"$TIME$", date.time}, {"$IP1$", row[0]}, {"$HOST1$", row[1]},
      {"$PORT1$", row[2]}, {"$IP2$", row[3]}, {"$HOST2$", row[4]}, {"$PORT2$", row[5]},
      {"$STAT$", row[6]}, {"$TM$", row[7]}, {"$PID$", row[8]},
  }};
  return logging::expand_variables(format, vars, 64 * 1024);
}

void add_to_view(std::string& pane, std::string_view line) {
  std::size_t lines = 0;
  for (std::size_t p = pane.find("\r\n"); p != std::string::npos; p = pane.find("\r\n", p + 2)) ++lines;
  std::string fresh(line);
  fresh += "\r\n";
  if (lines < kMaxViewLines) fresh += pane;
  pane = std::move(fresh);
}

std::string blocked_log_path(std::string_view name_template, std::string_view log_root, std::string_view data_folder,
                             const logging::DateTexts& date) {
  const std::string name = logging::expand_file_name(name_template, date);
  if (!log_root.empty() && log_root.front() == '/') return std::string(log_root) + name;
  std::string path(data_folder);
  if (!path.empty() && path.back() != '/') path += '/';
  return path + name;
}

std::string blocked_label(int count, bool leading_blank) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%sBLOCKED : %5d", leading_blank ? " " : "", count);
  return buf;
}

}  // namespace tw::sessions
