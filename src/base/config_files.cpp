#include "base/config_files.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "base/text_helpers.h"

namespace tw {

namespace {


bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// Splits off the next blank-separated word of `s`.
std::string_view next_word(std::string_view& s) {
  s = trim(s);
  std::size_t n = 0;
  while (n < s.size() && !is_blank(s[n])) ++n;
  std::string_view word = s.substr(0, n);
  s.remove_prefix(n);
  return word;
}

template <typename F>
void for_each_line(std::string_view text, F&& f) {
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    f(text.substr(0, nl));
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
}

bool all_of(std::string_view s, bool (*pred)(char)) {
  return std::all_of(s.begin(), s.end(), pred);
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex_or_colon(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}
bool is_scope_char(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         c == '-' || c == '.';
}

bool is_ipv4(std::string_view s) {
  int parts = 0;
  while (true) {
    std::size_t n = 0;
    unsigned value = 0;
    while (n < s.size() && n < 4 && is_digit(s[n])) value = value * 10 + unsigned(s[n++] - '0');
    if (n == 0 || n > 3 || value > 255) return false;
    ++parts;
    s.remove_prefix(n);
    if (s.empty()) return parts == 4;
    if (s.front() != '.' || parts == 4) return false;
    s.remove_prefix(1);
  }
}

// Accepts what a resolver would take as a server address: dotted IPv4, or
// IPv6 text with an optional "%scope". Anything else in the file is noise.
bool is_server_address(std::string_view s) {
  if (s.empty() || s.size() > 63) return false;
  if (s.find(':') == std::string_view::npos) return is_ipv4(s);
  const std::size_t pct = s.find('%');
  std::string_view addr = s.substr(0, pct);
  if (addr.empty() || !all_of(addr, is_hex_or_colon)) return false;
  if (pct == std::string_view::npos) return true;
  std::string_view scope = s.substr(pct + 1);
  return !scope.empty() && all_of(scope, is_scope_char);
}

std::optional<std::int64_t> parse_seconds(std::string_view s) {
  if (s.empty() || s.size() > 12 || !all_of(s, is_digit)) return std::nullopt;
  std::int64_t v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// "YYYY/MM/DD" and "HH:MM:SS" in UTC, as dhclient writes lease times.
std::optional<std::int64_t> parse_utc(std::string_view date, std::string_view time) {
  int y, mo, d, h, mi, s;
  char tail;
  const std::string both = std::string(date) + " " + std::string(time);
  if (std::sscanf(both.c_str(), "%4d/%2d/%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
    return std::nullopt;
  if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || h < 0 ||
      mi < 0 || s < 0)
    return std::nullopt;
  return days_from_civil(y, unsigned(mo), unsigned(d)) * 86400 + h * 3600 + mi * 60 + s;
}

// dhclient's configuration-file syntax, reduced to what a lease database
// holds: words, quoted strings, and the punctuation { } ; , .
struct Token {
  enum Kind { Word, String, Punct } kind;
  std::string text;
};

std::vector<Token> tokenize(std::string_view in) {
  std::vector<Token> out;
  std::size_t i = 0;
  while (i < in.size()) {
    const char c = in[i];
    if (is_blank(c) || c == '\n') {
      ++i;
    } else if (c == '#') {
      while (i < in.size() && in[i] != '\n') ++i;
    } else if (c == '{' || c == '}' || c == ';' || c == ',') {
      out.push_back({Token::Punct, std::string(1, c)});
      ++i;
    } else if (c == '"') {
      std::string s;
      for (++i; i < in.size() && in[i] != '"'; ++i) {
        if (in[i] == '\\' && i + 1 < in.size()) ++i;
        s.push_back(in[i]);
      }
      ++i;  // closing quote (or end of input)
      out.push_back({Token::String, std::move(s)});
    } else {
      std::size_t n = i;
      while (n < in.size() && !is_blank(in[n]) && in[n] != '\n' && in[n] != '{' && in[n] != '}' &&
             in[n] != ';' && in[n] != ',' && in[n] != '"' && in[n] != '#')
        ++n;
      out.push_back({Token::Word, std::string(in.substr(i, n - i))});
      i = n;
    }
  }
  return out;
}

// One lease block's statements as they matter here.
struct DhclientBlock {
  std::string interface;
  DhcpLease lease;
  std::optional<std::int64_t> lease_time;
};

void apply_statement(const std::vector<const Token*>& st, DhclientBlock& b) {
  if (st.empty() || st[0]->kind != Token::Word) return;
  const std::string& key = st[0]->text;
  auto word = [&](std::size_t i) -> std::string_view {
    return i < st.size() && st[i]->kind != Token::Punct ? std::string_view(st[i]->text)
                                                        : std::string_view{};
  };
  if (key == "interface") {
    b.interface = word(1);
  } else if (key == "fixed-address") {
    if (is_ipv4(word(1))) b.lease.address = word(1);
  } else if (key == "expire") {
    // "expire 2 2024/01/02 15:04:05" (weekday, UTC date and time),
    // "expire epoch 1704207845" or "expire never".
    if (word(1) == "epoch")
      b.lease.expires = parse_seconds(word(2));
    else if (word(1) != "never")
      b.lease.expires = parse_utc(word(2), word(3));
  } else if (key == "option" && st.size() >= 3) {
    const std::string_view name = word(1);
    if (name == "dhcp-server-identifier" && is_ipv4(word(2))) {
      b.lease.server = word(2);
    } else if (name == "dhcp-lease-time") {
      b.lease_time = parse_seconds(word(2));
    } else if (name == "netbios-name-servers") {
      b.lease.wins_servers.clear();
      for (std::size_t i = 2; i < st.size(); ++i)
        if (st[i]->kind == Token::Word && is_ipv4(st[i]->text))
          b.lease.wins_servers.push_back(st[i]->text);
    }
  }
}

}  // namespace

ResolverConfig parse_resolv_conf(std::string_view text) {
  ResolverConfig cfg;
  for_each_line(text, [&](std::string_view line) {
    if (!line.empty() && (line.front() == '#' || line.front() == ';')) return;
    std::string_view rest = line;
    const std::string_view key = next_word(rest);
    const std::string_view value = next_word(rest);
    if (value.empty()) return;
    if (key == "nameserver") {
      if (is_server_address(value)) cfg.servers.emplace_back(value);
    } else if (key == "domain" || key == "search") {
      cfg.domain = detail::without_control_chars(value);
    }
  });
  return cfg;
}

bool names_only_local_stub(const ResolverConfig& config) {
  return !config.servers.empty() &&
         std::all_of(config.servers.begin(), config.servers.end(),
                     [](const std::string& s) { return s == "127.0.0.53"; });
}

std::optional<DhcpLease> parse_keyvalue_lease(std::string_view text, std::int64_t written_at) {
  DhcpLease lease;
  for_each_line(text, [&](std::string_view line) {
    line = trim(line);
    if (line.empty() || line.front() == '#') return;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return;
    const std::string_view key = trim(line.substr(0, eq));
    std::string_view value = trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    if (key == "ADDRESS") {
      if (is_ipv4(value)) lease.address = value;
    } else if (key == "SERVER_ADDRESS") {
      if (is_ipv4(value)) lease.server = value;
    } else if (key == "LIFETIME") {
      if (auto s = parse_seconds(value)) lease.expires = written_at + *s;
    }
  });
  if (lease.address.empty() && lease.server.empty()) return std::nullopt;
  lease.obtained = written_at;
  return lease;
}

std::optional<DhcpLease> parse_dhclient_leases(std::string_view text, std::string_view interface) {
  const std::vector<Token> tokens = tokenize(text);
  std::optional<DhcpLease> current;
  std::size_t i = 0;
  while (i < tokens.size()) {
    const bool lease_start = tokens[i].kind == Token::Word && tokens[i].text == "lease" &&
                             i + 1 < tokens.size() && tokens[i + 1].text == "{" &&
                             tokens[i + 1].kind == Token::Punct;
    if (!lease_start) {
      ++i;
      continue;
    }
    i += 2;
    DhclientBlock block;
    std::vector<const Token*> statement;
    int depth = 1;
    for (; i < tokens.size() && depth > 0; ++i) {
      const Token& t = tokens[i];
      if (t.kind == Token::Punct && t.text == "{") {
        ++depth;
      } else if (t.kind == Token::Punct && t.text == "}") {
        --depth;
        statement.clear();
      } else if (t.kind == Token::Punct && t.text == ";") {
        if (depth == 1) apply_statement(statement, block);
        statement.clear();
      } else if (depth == 1) {
        statement.push_back(&t);
      }
    }
    // A block cut short (dhclient is still appending it) is not a lease yet.
    if (depth != 0) break;
    if (!block.interface.empty() && block.interface != interface) continue;
    if (block.lease.expires && block.lease_time && *block.lease.expires >= *block.lease_time)
      block.lease.obtained = *block.lease.expires - *block.lease_time;
    current = std::move(block.lease);
  }
  return current;
}

}  // namespace tw
