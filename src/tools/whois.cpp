#include "tools/whois.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>

#include "base/ip_address.h"
#include "settings/int_parse.h"
#include "tools/charset.h"

namespace tw::tools {
namespace {

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The text after the n-th "." counted from the end; the whole text when it
// has fewer dots.
std::string last_labels(const std::string& s, int n) {
  std::size_t pos = s.size();
  for (int i = 0; i < n; ++i) {
    if (pos == 0) return s;
    const std::size_t dot = s.rfind('.', pos - 1);
    if (dot == std::string::npos) return s;
    pos = dot;
  }
  return s.substr(pos + 1);
}

// "%i.%i.%i.%i" as sscanf reads it (trailing text ignored), each number
// 0..255; the 32-bit value, or nullopt.
std::optional<std::uint32_t> read_quad(std::string_view text) {
  std::uint32_t value = 0;
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    const auto n = settings::parse_c_int(text, pos);
    if (!n || *n < 0 || *n > 255) return std::nullopt;
    value = value << 8 | static_cast<std::uint32_t>(*n);
  }
  return value;
}

// An IPv6 target as the registries are asked about it: the address, or
// nullopt when the text is no IPv6 address (an IPv4-mapped one counts as the
// IPv4 address it maps).
std::optional<net::IpAddress> ipv6_target(std::string_view target) {
  if (target.find(':') == std::string_view::npos) return std::nullopt;
  const auto a = net::parse_ip(target);
  if (!a || !a->is_v6()) return std::nullopt;
  return *a;
}

// Whether an IPv6 pattern ("ADDRESS/LENGTH", "FIRST-LAST" or one address)
// holds `a`. Patterns of the other kinds hold nothing here.
bool ipv6_pattern_holds(std::string_view pattern, const net::IpAddress& a) {
  if (pattern.find(':') == std::string_view::npos) return false;
  if (const std::size_t dash = pattern.find('-'); dash != std::string_view::npos) {
    const auto first = net::parse_ip(pattern.substr(0, dash));
    const auto last = net::parse_ip(pattern.substr(dash + 1));
    return first && last && first->is_v6() && last->is_v6() && first->bytes <= a.bytes && a.bytes <= last->bytes;
  }
  const auto prefix = net::parse_prefix(pattern);
  return prefix && prefix->contains(a);
}

}  // namespace

std::vector<WhoisServerEntry> parse_whois_table(std::string_view text) {
  std::vector<WhoisServerEntry> table;
  std::size_t pos = 0;
  while (pos < text.size() && table.size() < kMaxWhoisServers) {
    std::size_t end = text.find('\n', pos);
    end = end == std::string_view::npos ? text.size() : end + 1;
    end = std::min(end, pos + kMaxWhoisLineChars);
    const std::string_view line = text.substr(pos, end - pos);
    pos = end;
    if (line[0] == '!' || line[0] == '#' || line[0] == ';') continue;
    std::string packed;
    for (char c : line)
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') packed.push_back(c);
    WhoisServerEntry e;
    const std::size_t eq = packed.find('=');
    if (eq != std::string::npos && packed.size() >= 6) {
      e.pattern = packed.substr(0, eq);
      e.server = packed.substr(eq + 1);
    }
    table.push_back(std::move(e));
  }
  return table;
}

std::string_view default_whois_table() {
  return R"(; WHOIS servers, one "PATTERN = SERVER" a line.
; A pattern is a domain suffix (compared with the end of the target), an
; IPv4 range "FIRST-LAST", or an IPv6 prefix "ADDRESS/LENGTH" or range
; "FIRST-LAST". The first entry that matches is asked; blanks are ignored;
; lines starting with ";", "#" or "!" are comments.

; Generic top-level domains
.com = whois.verisign-grs.com
.net = whois.verisign-grs.com
.org = whois.pir.org
.info = whois.nic.info
.biz = whois.nic.biz
.edu = whois.educause.edu
.gov = whois.dotgov.gov
.int = whois.iana.org
.arpa = whois.iana.org
.io = whois.nic.io
.app = whois.nic.google
.dev = whois.nic.google
.xyz = whois.nic.xyz

; Country-code top-level domains
.jp = whois.jprs.jp
.uk = whois.nic.uk
.de = whois.denic.de
.fr = whois.nic.fr
.it = whois.nic.it
.nl = whois.domain-registry.nl
.be = whois.dns.be
.ch = whois.nic.ch
.at = whois.nic.at
.se = whois.iis.se
.pl = whois.dns.pl
.es = whois.nic.es
.eu = whois.eu
.ru = whois.tcinet.ru
.us = whois.nic.us
.ca = whois.cira.ca
.br = whois.registro.br
.au = whois.auda.org.au
.nz = whois.irs.net.nz
.cn = whois.cnnic.cn
.tw = whois.twnic.net.tw
.kr = whois.kr
.in = whois.registry.in

; IPv4 address ranges of the regional registries
1.0.0.0-1.255.255.255 = whois.apnic.net
2.0.0.0-2.255.255.255 = whois.ripe.net
5.0.0.0-5.255.255.255 = whois.ripe.net
14.0.0.0-14.255.255.255 = whois.apnic.net
27.0.0.0-27.255.255.255 = whois.apnic.net
31.0.0.0-31.255.255.255 = whois.ripe.net
36.0.0.0-36.255.255.255 = whois.apnic.net
37.0.0.0-37.255.255.255 = whois.ripe.net
39.0.0.0-39.255.255.255 = whois.apnic.net
41.0.0.0-41.255.255.255 = whois.afrinic.net
42.0.0.0-43.255.255.255 = whois.apnic.net
46.0.0.0-46.255.255.255 = whois.ripe.net
49.0.0.0-49.255.255.255 = whois.apnic.net
58.0.0.0-61.255.255.255 = whois.apnic.net
62.0.0.0-62.255.255.255 = whois.ripe.net
77.0.0.0-95.255.255.255 = whois.ripe.net
101.0.0.0-101.255.255.255 = whois.apnic.net
102.0.0.0-102.255.255.255 = whois.afrinic.net
103.0.0.0-103.255.255.255 = whois.apnic.net
105.0.0.0-105.255.255.255 = whois.afrinic.net
106.0.0.0-106.255.255.255 = whois.apnic.net
109.0.0.0-109.255.255.255 = whois.ripe.net
110.0.0.0-126.255.255.255 = whois.apnic.net
133.0.0.0-133.255.255.255 = whois.nic.ad.jp
154.0.0.0-154.255.255.255 = whois.afrinic.net
175.0.0.0-175.255.255.255 = whois.apnic.net
176.0.0.0-176.255.255.255 = whois.ripe.net
177.0.0.0-177.255.255.255 = whois.lacnic.net
178.0.0.0-178.255.255.255 = whois.ripe.net
179.0.0.0-179.255.255.255 = whois.lacnic.net
180.0.0.0-180.255.255.255 = whois.apnic.net
181.0.0.0-181.255.255.255 = whois.lacnic.net
182.0.0.0-183.255.255.255 = whois.apnic.net
185.0.0.0-185.255.255.255 = whois.ripe.net
186.0.0.0-187.255.255.255 = whois.lacnic.net
188.0.0.0-188.255.255.255 = whois.ripe.net
189.0.0.0-191.255.255.255 = whois.lacnic.net
193.0.0.0-195.255.255.255 = whois.ripe.net
196.0.0.0-197.255.255.255 = whois.afrinic.net
200.0.0.0-201.255.255.255 = whois.lacnic.net
202.0.0.0-203.255.255.255 = whois.apnic.net
210.0.0.0-211.255.255.255 = whois.apnic.net
212.0.0.0-213.255.255.255 = whois.ripe.net
217.0.0.0-217.255.255.255 = whois.ripe.net
218.0.0.0-223.255.255.255 = whois.apnic.net
; Everything else: ARIN, which refers to the registry that holds the range.
0.0.0.0-255.255.255.255 = whois.arin.net

; IPv6 blocks that IANA allocated to the regional registries
2001:200::/23 = whois.apnic.net
2001:400::/23 = whois.arin.net
2001:600::/23 = whois.ripe.net
2001:800::/22 = whois.ripe.net
2001:c00::/23 = whois.apnic.net
2001:e00::/23 = whois.apnic.net
2001:1200::/23 = whois.lacnic.net
2001:1400::/22 = whois.ripe.net
2001:1800::/23 = whois.arin.net
2001:1a00::/23 = whois.ripe.net
2001:1c00::/22 = whois.ripe.net
2001:2000::/19 = whois.ripe.net
2001:4000::/23 = whois.ripe.net
2001:4200::/23 = whois.afrinic.net
2001:4400::/23 = whois.apnic.net
2001:4600::/23 = whois.ripe.net
2001:4800::/23 = whois.arin.net
2001:4a00::/23 = whois.ripe.net
2001:4c00::/23 = whois.ripe.net
2001:5000::/20 = whois.ripe.net
2001:8000::/19 = whois.apnic.net
2001:a000::/20 = whois.apnic.net
2001:b000::/20 = whois.apnic.net
2003::/18 = whois.ripe.net
2400::/12 = whois.apnic.net
2410::/12 = whois.apnic.net
2600::/12 = whois.arin.net
2610::/23 = whois.arin.net
2620::/23 = whois.arin.net
2630::/12 = whois.arin.net
2800::/12 = whois.lacnic.net
2a00::/12 = whois.ripe.net
2a10::/12 = whois.ripe.net
2c00::/12 = whois.afrinic.net
; The rest of the global unicast space: ARIN, which refers on.
2000::/3 = whois.arin.net
)";
}

std::vector<WhoisServerEntry> load_whois_table(platform::FileStore& files, const std::string& path) {
  auto text = files.read(path, std::size_t{1} << 20);
  if (text) return parse_whois_table(*text);
  if (text.error().errno_value != platform::kFileMissingErrno) return {};
  // Written for the user to edit; the table works from memory even when the
  // folder cannot be written.
  (void)files.replace(path, default_whois_table());
  return parse_whois_table(default_whois_table());
}

bool is_digits_and_dots(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

std::string reduce_whois_target(std::string_view target, bool ipv6) {
  if (is_digits_and_dots(target)) return std::string(target);
  if (ipv6) {
    // An address is asked about as it is, in its canonical text; the label
    // rules below would cut "::ffff:192.0.2.1" down to "2.1".
    if (const auto a = net::parse_ip(target)) return net::to_text(net::unmapped(*a));
  }
  if (target.size() < 4 || target.size() >= 256) return {};
  std::string s(target);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto c = [&](std::size_t k) { return k <= s.size() ? s[s.size() - k] : '\0'; };
  if (ends_with(s, ".jp")) return c(6) == '.' ? last_labels(s, 3) : s;
  if (c(3) == '.' && c(6) != '.') return s;
  if (c(4) == '.') return last_labels(s, 2);
  return s;
}

std::string choose_whois_server(const std::vector<WhoisServerEntry>& table, std::string_view target, bool ipv6) {
  if (ipv6) {
    if (const auto a = ipv6_target(target)) {
      for (const auto& e : table)
        if (ipv6_pattern_holds(e.pattern, *a)) return e.server;
      return {};
    }
  }
  if (is_digits_and_dots(target)) {
    const auto addr = read_quad(target);
    if (!addr) return {};
    for (const auto& e : table) {
      const std::size_t dash = e.pattern.find('-');
      if (dash == std::string::npos) continue;
      const auto first = read_quad(std::string_view(e.pattern).substr(0, dash));
      const auto last = read_quad(std::string_view(e.pattern).substr(dash + 1));
      if (first && last && *first <= *addr && *addr <= *last) return e.server;
    }
    return {};
  }
  for (const auto& e : table) {
    // An empty pattern (a line without "=") would be a suffix of everything.
    if (!e.pattern.empty() && ends_with(target, e.pattern)) return e.server;
  }
  return {};
}

std::string whois_request(std::string_view target) { return std::string(target) + " \r\n"; }

std::string convert_whois_reply(std::string_view reply, std::string_view target) {
  std::string text;
  const bool iso2022 = reply.find("\x1B$") != std::string_view::npos;
  if (iso2022) {
    text = decode_to_utf8(reply, "ISO-2022-JP-2", true).value_or(repair_utf8(reply));
  } else if (is_valid_utf8(reply)) {
    text = std::string(reply);
  } else {
    std::optional<std::string> decoded;
    if (ends_with(target, ".jp")) {
      decoded = decode_to_utf8(reply, "EUC-JP");
      if (!decoded) decoded = decode_to_utf8(reply, "CP932");
    }
    if (!decoded) decoded = decode_to_utf8(reply, "ISO-8859-1");
    text = decoded ? std::move(*decoded) : repair_utf8(reply);
  }
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  char prev = '\0';
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n' && prev != '\r') out += '\r';
    // A stray control byte (an unknown escape, a bell) would garble the box.
    out += (u < 0x20 && c != '\r' && c != '\n' && c != '\t') || u == 0x7F ? '?' : c;
    prev = c;
  }
  return out;
}

std::string whois_output(const std::string& converted) {
  return converted.empty() ? std::string("Failed.\r\n\r\n") : converted;
}

}  // namespace tw::tools
