#include "packetfilter/filter_rules.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>

namespace tw::packetfilter {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Saturates far above anything an address part or port can be, so that huge
// texts never overflow.
constexpr long long kSaturate = 1LL << 40;

// An unsigned C integer literal at `pos` (leading 0 octal, 0x hexadecimal),
// as strtoul with base 0 reads it; nullopt without a digit at `pos`.
std::optional<long long> read_literal(std::string_view s, std::size_t& pos) {
  if (pos >= s.size() || !is_digit(s[pos])) return std::nullopt;
  int base = 10;
  if (s[pos] == '0') {
    if (pos + 2 < s.size() && (s[pos + 1] == 'x' || s[pos + 1] == 'X') && hex_value(s[pos + 2]) >= 0) {
      base = 16;
      pos += 2;
    } else {
      base = 8;
    }
  }
  long long v = 0;
  for (; pos < s.size(); ++pos) {
    const int d = hex_value(s[pos]);
    if (d < 0 || d >= base) break;
    v = std::min(v * base + d, kSaturate);
  }
  return v;
}

// A signed literal as scanf's "%i" reads it (optional sign first).
std::optional<long long> read_signed(std::string_view s, std::size_t& pos) {
  std::size_t p = pos;
  bool negative = false;
  if (p < s.size() && (s[p] == '-' || s[p] == '+')) negative = s[p++] == '-';
  auto v = read_literal(s, p);
  if (!v) return std::nullopt;
  pos = p;
  return negative ? -*v : *v;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The text without the blanks around it.
std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

bool all_digits(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), is_digit); }

// C's atoi on the start of a text (white space skipped, decimal, optional
// sign, 0 without digits), saturating instead of overflowing.
long long leading_decimal(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && (is_blank(s[i]) || s[i] == '\n' || s[i] == '\r' || s[i] == '\v' || s[i] == '\f')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  long long v = 0;
  for (; i < s.size() && is_digit(s[i]); ++i) v = std::min(v * 10 + (s[i] - '0'), kSaturate);
  return negative ? -v : v;
}

// scanf("%i.%i.%i.%i", ...) and its eight-part form: the values when every
// conversion succeeded and nothing follows the last one (a cell must be a
// complete address or range, not one with a tail that scanf would ignore).
template <std::size_t N>
std::optional<std::array<long long, N>> scan_parts(std::string_view s) {
  std::array<long long, N> out{};
  std::size_t pos = 0;
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0) {
      const char sep = (N == 8 && i == 4) ? '-' : '.';
      if (pos >= s.size() || s[pos] != sep) return std::nullopt;
      ++pos;
    }
    auto v = read_signed(s, pos);
    if (!v) return std::nullopt;
    out[i] = *v;
  }
  if (pos != s.size()) return std::nullopt;
  return out;
}

// A signed literal that is the whole text.
std::optional<long long> whole_number(std::string_view s) {
  std::size_t pos = 0;
  auto v = read_signed(s, pos);
  if (!v || pos != s.size()) return std::nullopt;
  return v;
}

long long clamp_part(long long v) { return (v < 0 || v >= 255) ? 255 : v; }

std::string remove_spaces(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != ' ') out += c;
  return out;
}

std::string port_text(std::uint16_t low, std::uint16_t high) {
  if (low == high) return std::to_string(low);
  return std::to_string(std::min(low, high)) + "-" + std::to_string(std::max(low, high));
}

int protocol_number(std::string_view text) {
  if (text == "ANY") return kProtocolAny;
  if (text == "TCP") return kProtocolTcp;
  if (text == "UDP") return kProtocolUdp;
  if (text == "ICMP") return kProtocolIcmp;
  return kProtocolTcp;
}

std::string_view protocol_name(int protocol) {
  switch (protocol) {
    case kProtocolAny: return "ANY";
    case kProtocolUdp: return "UDP";
    case kProtocolIcmp: return "ICMP";
    default: return "TCP";
  }
}

void set_addresses(std::string_view text, std::uint32_t& low, std::uint32_t& high) {
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    low = high = parse_address(text);
  } else {
    low = parse_address(text.substr(0, dash));
    high = parse_address(text.substr(dash + 1));
  }
}

bool is_protocol(std::string_view t) { return t == "ANY" || t == "TCP" || t == "UDP" || t == "ICMP"; }

// A field's text in a message: quoted, cut after 40 bytes, control bytes as
// "?" (it may come from any file or sender and goes to a terminal).
std::string shown_value(std::string_view v) {
  constexpr std::size_t kShown = 40;
  std::string out = "\"";
  for (std::size_t i = 0; i < v.size() && i < kShown; ++i)
    out += static_cast<unsigned char>(v[i]) < 0x20 || v[i] == 0x7F ? '?' : v[i];
  if (v.size() > kShown) out += "...";
  return out + "\"";
}

bool only_chars(std::string_view s, std::string_view allowed) {
  return std::all_of(s.begin(), s.end(), [&](char c) { return is_digit(c) || allowed.find(c) != std::string_view::npos; });
}

}  // namespace

GridRow default_row() {
  return {std::string(kForward), "0.0.0.0", "255.255.255.255", "0", "0.0.0.0", "255.255.255.255", "0", "TCP", " "};
}

std::optional<std::uint32_t> read_address(std::string_view text) {
  const std::string_view s = trim_blanks(text);
  std::array<long long, 4> parts{};
  std::size_t count = 0, pos = 0;
  for (;;) {
    auto v = read_literal(s, pos);
    if (!v || count == 4) return std::nullopt;
    parts[count++] = *v;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      continue;
    }
    break;
  }
  // The classic parser stops quietly at white space and takes what it read;
  // here the address must be the whole field ("10.0.0.1 x" is a typo).
  if (pos != s.size()) return std::nullopt;
  // The last part fills the bytes the earlier ones left.
  const long long last_max = (count == 1) ? 0xFFFFFFFFLL : (1LL << (8 * (5 - count))) - 1;
  for (std::size_t i = 0; i + 1 < count; ++i)
    if (parts[i] > 255) return std::nullopt;
  if (parts[count - 1] > last_max) return std::nullopt;
  std::uint32_t v = static_cast<std::uint32_t>(parts[count - 1]);
  for (std::size_t i = 0; i + 1 < count; ++i) v |= static_cast<std::uint32_t>(parts[i]) << (24 - 8 * i);
  return v;
}

std::uint32_t parse_address(std::string_view text) { return read_address(text).value_or(kInvalidAddress); }

std::optional<AddressRange> read_address_field(std::string_view text) {
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    const auto a = read_address(text);
    if (!a) return std::nullopt;
    return AddressRange{*a, *a};
  }
  const auto low = read_address(text.substr(0, dash));
  const auto high = read_address(text.substr(dash + 1));
  if (!low || !high) return std::nullopt;
  return AddressRange{*low, *high};
}

std::string address_text(std::uint32_t a) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  return buf;
}

std::uint32_t prefix_mask(int length) {
  if (length <= 0) return 0;
  if (length >= 32) return 0xFFFFFFFFu;
  return ~((std::uint32_t{1} << (32 - length)) - 1);
}

PortRange parse_port_range(std::string_view text) {
  if (text.empty()) return {};
  long long low = 0, high = 0;
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    low = high = std::llabs(leading_decimal(text));
  } else {
    low = std::llabs(leading_decimal(text.substr(0, dash)));
    high = std::llabs(leading_decimal(text.substr(dash)));  // the number starts at the "-"
  }
  low = std::clamp(low, 0LL, 65535LL);
  high = std::clamp(high, 0LL, 65535LL);
  if (low > high) std::swap(low, high);
  if (low == 0) high = 0;
  return {static_cast<std::uint16_t>(low), static_cast<std::uint16_t>(high)};
}

std::optional<PortRange> read_port_field(std::string_view text) {
  const std::string_view t = trim_blanks(text);
  if (t.empty()) return PortRange{};
  const std::size_t dash = t.find('-');
  if (dash == std::string_view::npos) {
    if (!all_digits(t)) return std::nullopt;
    return parse_port_range(t);
  }
  const std::string_view low = trim_blanks(t.substr(0, dash));
  const std::string_view high = trim_blanks(t.substr(dash + 1));
  if (!all_digits(low) || !all_digits(high)) return std::nullopt;
  return parse_port_range(std::string(low) + "-" + std::string(high));
}

std::string problem_text(const RowProblem& p, Language lang) {
  const bool ja = lang == Language::Japanese;
  const std::string column(p.column >= 0 && p.column < kColumnCount ? kColumnTitles[static_cast<std::size_t>(p.column)]
                                                                     : std::string_view("?"));
  const std::string value = shown_value(p.value);
  switch (p.fault) {
    case RowFault::Action:
      return ja ? "アクション " + value + " は FORWARD でも DROP でもありません"
                : "the action " + value + " is neither FORWARD nor DROP";
    case RowFault::Address:
      return ja ? column + " " + value + " はアドレス a.b.c.d でも範囲 a.b.c.d-e.f.g.h でもありません"
                : column + " " + value + " is no address a.b.c.d or range a.b.c.d-e.f.g.h";
    case RowFault::Mask:
      return ja ? column + " " + value + " はマスク a.b.c.d ではありません"
                : column + " " + value + " is no mask a.b.c.d";
    case RowFault::Port:
      return ja ? column + " " + value + " はポート n でも範囲 n-m でもありません"
                : column + " " + value + " is no port n or range n-m";
    case RowFault::Protocol:
      return ja ? "プロトコル " + value + " は ANY, TCP, UDP, ICMP のいずれでもありません"
                : "the protocol " + value + " is none of ANY, TCP, UDP and ICMP";
    case RowFault::Characters: {
      const bool mask = p.column == kSrcMask || p.column == kDstMask;
      const bool port = p.column == kSrcPort || p.column == kDstPort;
      const std::string allowed_en = mask ? "digits and \".\"" : port ? "digits and \"-\"" : "digits, \".\" and \"-\"";
      const std::string allowed_ja = mask ? "数字と \".\"" : port ? "数字と \"-\"" : "数字と \".\" と \"-\"";
      return ja ? column + " " + value + " に使えるのは" + allowed_ja + "だけです"
                : column + " " + value + " may hold only " + allowed_en;
    }
    case RowFault::FieldCount:
      return ja ? "フィールドが " + p.value +
                      " 個です。Action,Src-IP,Src-Mask,Src-Port,Dst-IP,Dst-Mask,Dst-Port,Protocol[,Memo] の 8 個か 9 個が必要です"
                : "it has " + p.value +
                      " fields; it needs 8 or 9: Action,Src-IP,Src-Mask,Src-Port,Dst-IP,Dst-Mask,Dst-Port,Protocol[,Memo]";
    case RowFault::LineBreak:
      return ja ? column + " に改行が含まれています" : column + " holds a line break";
  }
  return {};
}

std::optional<RowProblem> row_problem(const GridRow& row) {
  for (int c = 0; c < kColumnCount; ++c)
    if (row[static_cast<std::size_t>(c)].find('\n') != std::string::npos)
      return RowProblem{RowFault::LineBreak, c, row[static_cast<std::size_t>(c)]};
  if (row[kAction] != kForward && row[kAction] != kDrop) return RowProblem{RowFault::Action, kAction, row[kAction]};
  for (int c : {kSrcIp, kSrcMask, kSrcPort, kDstIp, kDstMask, kDstPort}) {
    const std::string& v = row[static_cast<std::size_t>(c)];
    if ((c == kSrcIp || c == kDstIp) && !read_address_field(v)) return RowProblem{RowFault::Address, c, v};
    if ((c == kSrcMask || c == kDstMask) && !read_address(v)) return RowProblem{RowFault::Mask, c, v};
    if ((c == kSrcPort || c == kDstPort) && !read_port_field(v)) return RowProblem{RowFault::Port, c, v};
  }
  return std::nullopt;
}

FilterRule rule_from_row(const GridRow& row) {
  FilterRule r;
  r.action = row[kAction] == kForward ? 0 : 1;
  set_addresses(row[kSrcIp], r.src_low, r.src_high);
  set_addresses(row[kDstIp], r.dst_low, r.dst_high);
  r.src_mask = parse_address(row[kSrcMask]);
  r.dst_mask = parse_address(row[kDstMask]);
  const PortRange sp = parse_port_range(row[kSrcPort]);
  const PortRange dp = parse_port_range(row[kDstPort]);
  r.src_port_low = sp.low;
  r.src_port_high = sp.high;
  r.dst_port_low = dp.low;
  r.dst_port_high = dp.high;
  r.protocol = protocol_number(row[kProtocol]);
  if (r.protocol == kProtocolIcmp) {
    for (std::uint16_t* p : {&r.src_port_low, &r.src_port_high, &r.dst_port_low, &r.dst_port_high})
      if (*p == 0) *p = kIcmpAny;
  }
  r.memo = row[kMemo].empty() ? " " : row[kMemo];
  return r;
}

GridRow row_from_rule(const FilterRule& r) {
  auto addresses = [](std::uint32_t low, std::uint32_t high) {
    return low == high ? address_text(low) : address_text(low) + "-" + address_text(high);
  };
  return {std::string(r.action == 1 ? kDrop : kForward),
          addresses(r.src_low, r.src_high),
          address_text(r.src_mask),
          port_text(r.src_port_low, r.src_port_high),
          addresses(r.dst_low, r.dst_high),
          address_text(r.dst_mask),
          port_text(r.dst_port_low, r.dst_port_high),
          std::string(protocol_name(r.protocol)),
          r.memo.empty() ? std::string(" ") : r.memo};
}

std::vector<FilterRule> rules_from_grid(const std::vector<GridRow>& grid) {
  std::vector<FilterRule> out;
  const std::size_t n = std::min(grid.size(), kMaxRules);
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) out.push_back(rule_from_row(grid[i]));
  return out;
}

std::vector<GridRow> grid_from_rules(const std::vector<FilterRule>& rules) {
  std::vector<GridRow> out;
  out.reserve(rules.size());
  for (const FilterRule& r : rules) out.push_back(row_from_rule(r));
  return out;
}

std::vector<std::string> split_fields(std::string_view line) {
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  auto finish = [&] {
    if (field.find('"') != std::string::npos) {
      // A field as the join writes it (enclosed in quotes) is unwrapped before
      // its doubled quotes are read, so that a text made of quotes alone comes
      // back as it was written; other fields read doubled quotes first and
      // then lose a quote at either end.
      const bool enclosed = field.size() >= 2 && field.front() == '"' && field.back() == '"';
      if (enclosed) field = field.substr(1, field.size() - 2);
      std::string single;
      for (std::size_t i = 0; i < field.size(); ++i) {
        single += field[i];
        if (field[i] == '"' && i + 1 < field.size() && field[i + 1] == '"') ++i;
      }
      field = std::move(single);
      if (!enclosed) {
        if (!field.empty() && field.front() == '"') field.erase(0, 1);
        if (!field.empty() && field.back() == '"') field.pop_back();
      }
    }
    fields.push_back(std::move(field));
    field.clear();
  };
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      quoted = !quoted;
      field += c;
    } else if (!quoted && c == '\r' && i + 1 < line.size() && line[i + 1] == '\n') {
      // A line end written by a Windows editor: the CR is part of the line
      // end, not of the last field (which would otherwise read "ANY\r" and
      // silently become TCP).
    } else if (!quoted && (c == ',' || c == '\n')) {
      finish();
    } else {
      field += c;
    }
  }
  return fields;
}

std::string join_fields(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::string f;
    for (char c : fields[i]) {
      f += c;
      if (c == '"') f += '"';
    }
    // A CR is enclosed too: unquoted before the line end it would read as
    // part of the line end.
    if (f.find_first_of("\",\r") != std::string::npos) f = "\"" + f + "\"";
    if (i > 0) line += ',';
    line += f;
  }
  return line;
}

std::string row_line(const GridRow& row) { return join_fields(std::vector<std::string>(row.begin(), row.end())); }

std::optional<std::string> commit_address_cell(std::string_view raw, bool address_column) {
  const std::string t = remove_spaces(raw);
  auto prefix_rule = [](long long v) {
    v = std::llabs(v);
    return address_text(v <= 32 ? prefix_mask(static_cast<int>(v)) : 0xFFFFFFFFu);
  };
  auto quad = [](const long long* p) {
    return std::to_string(clamp_part(p[0])) + "." + std::to_string(clamp_part(p[1])) + "." +
           std::to_string(clamp_part(p[2])) + "." + std::to_string(clamp_part(p[3]));
  };
  if (t.empty()) return "0.0.0.0";
  if (only_chars(t, ".")) {
    if (auto p = scan_parts<4>(t)) return quad(p->data());
    // A prefix length, typed into any of the four columns.
    if (auto v = whole_number(t)) return prefix_rule(*v);
    return std::nullopt;  // "10.1.2": an address with a part missing
  }
  if (t.find('-') == std::string::npos) return std::nullopt;  // "10.0.0.x"
  if (!address_column) {
    if (auto v = whole_number(t)) return prefix_rule(*v);
    return std::nullopt;
  }
  if (auto p = scan_parts<8>(t)) return quad(p->data()) + "-" + quad(p->data() + 4);
  return std::nullopt;  // "10.0.0.1-": a range without its end
}

std::optional<std::string> commit_port_cell(std::string_view raw) {
  const std::string t = remove_spaces(raw);
  if (t.empty()) return "0";
  if (t.find('-') == std::string::npos) {
    if (!all_digits(t)) return std::nullopt;
    return std::to_string(std::clamp(leading_decimal(t), 0LL, 65535LL));
  }
  const auto r = read_port_field(t);
  if (!r) return std::nullopt;  // "8081-": a range without its end
  return port_text(r->low, r->high);
}

std::string commit_memo_cell(std::string_view text) {
  if (text.empty()) return " ";
  std::string out(text);
  std::replace(out.begin(), out.end(), '\n', ' ');
  return out;
}

std::string next_action(std::string_view text) { return std::string(text == kForward ? kDrop : kForward); }

std::string next_protocol(std::string_view text) {
  if (text == "ANY") return "TCP";
  if (text == "TCP") return "UDP";
  if (text == "UDP") return "ICMP";
  return "ANY";
}

AddCommand parse_add_command(std::string_view text) {
  std::string s;
  for (std::size_t i = 0; i < text.size();) {
    if (text.substr(i, kAddCommandPrefix.size()) == kAddCommandPrefix) {
      i += kAddCommandPrefix.size();
    } else {
      s += text[i++];
    }
  }
  s += ',';
  std::vector<std::string> f = split_fields(s);
  if (f.size() < 8) return {std::nullopt, RowProblem{RowFault::FieldCount, kAction, std::to_string(f.size())}};
  f.resize(std::max<std::size_t>(f.size(), kColumnCount));
  GridRow row;
  std::copy_n(f.begin(), kColumnCount, row.begin());
  auto refused = [](RowFault fault, int column, const std::string& value) {
    return AddCommand{std::nullopt, RowProblem{fault, column, value}};
  };
  if (row[kAction] != kForward && row[kAction] != kDrop) return refused(RowFault::Action, kAction, row[kAction]);
  if (!is_protocol(row[kProtocol])) return refused(RowFault::Protocol, kProtocol, row[kProtocol]);
  for (int c : {kSrcIp, kSrcMask, kSrcPort, kDstIp, kDstMask, kDstPort}) {
    const std::string& v = row[static_cast<std::size_t>(c)];
    const std::string_view allowed = (c == kSrcMask || c == kDstMask) ? "." : (c == kSrcPort || c == kDstPort) ? "-" : ".-";
    if (!only_chars(v, allowed)) return refused(RowFault::Characters, c, v);
  }
  if (auto problem = row_problem(row)) return {std::nullopt, std::move(*problem)};
  return {std::move(row), {}};
}

GridRow row_from_connection(std::string_view port1, std::string_view address2, std::string_view port2,
                            std::string_view hostname2, std::optional<std::string_view> packet_protocol) {
  std::string protocol = "TCP";
  if (packet_protocol) {
    if (*packet_protocol == "UDP(UL)" || *packet_protocol == "UDP(DL)") protocol = "UDP";
    else if (*packet_protocol == "ICMP(UL)" || *packet_protocol == "ICMP(DL)") protocol = "ICMP";
  }
  return {std::string(kDrop), "0.0.0.0", "255.255.255.255", std::string(port1), std::string(address2),
          "255.255.255.255", std::string(port2), protocol, std::string(hostname2)};
}

AddressMatch effective_match(std::uint32_t low, std::uint32_t high, std::uint32_t mask) {
  AddressMatch m;
  if (low == high) {
    m = {low, mask};
  } else {
    const int agree = std::countl_zero(low ^ high);
    m.mask = prefix_mask(agree);
    m.address = low & m.mask;
  }
  if (m.address == 0) m.mask = 0;
  return m;
}

std::uint32_t parse_local_address(std::string_view text) {
  std::uint32_t v = 0;
  int parts = 0;
  bool bad = false;
  std::size_t pos = 0;
  while (parts < 4 && pos <= text.size()) {
    const std::size_t dot = text.find('.', pos);
    const std::string_view part = text.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
    const long long n = leading_decimal(part);
    if (n < 0 || n > 255) bad = true;
    v = (v << 8) | static_cast<std::uint32_t>(n & 0xFF);
    ++parts;
    if (dot == std::string_view::npos) break;
    pos = dot + 1;
  }
  if (parts < 4) return kInvalidAddress;
  return bad ? 0 : v;
}

}  // namespace tw::packetfilter
