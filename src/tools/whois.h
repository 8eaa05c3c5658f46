#pragma once
// The WHOIS tool's logic: the server table file, the reduction of a target to
// what a registry answers for, the choice of the server, and the conversion of
// the reply to UTF-8 text for the output box.
//
// Pure functions, any thread.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_store.h"

namespace tw::tools {

inline constexpr std::size_t kMaxWhoisServers = 512;
inline constexpr std::size_t kMaxWhoisLineChars = 1023;
inline constexpr int kWhoisPort = 43;
inline constexpr int kWhoisTimeoutMs = 8000;

struct WhoisServerEntry {
  std::string pattern;  // ".co.uk" (domain suffix) or "a.b.c.d-e.f.g.h"; empty for a line without "="
  std::string server;
  friend bool operator==(const WhoisServerEntry&, const WhoisServerEntry&) = default;
};

// The server table file: "!", "#" and ";" start comment lines; every other
// line has its blanks, tabs, CR and LF removed and gives an entry "PATTERN=SERVER"
// when it holds "=" and is at least 6 characters long. Every non-comment line
// takes a slot (a line without "=" one with an empty pattern, which matches
// nothing); at most kMaxWhoisServers slots.
std::vector<WhoisServerEntry> parse_whois_table(std::string_view text);

// The table shipped for a data folder that has none: the common top-level
// domains and the regional registries' IPv4 ranges. The user edits the file.
std::string_view default_whois_table();

// Reads the table at `path`; when there is no file there, writes the default
// table first so that the user has one to edit. An unreadable file gives an
// empty table.
std::vector<WhoisServerEntry> load_whois_table(platform::FileStore& files, const std::string& path);

// A domain name cut down to its registrable part, lower case
// ("HOST.EXAMPLE.COM" -> "example.com", "m.x.co.jp" -> "x.co.jp"); an
// address (digits and dots) unchanged; fewer than 4 or more than 255
// characters give "". With `ipv6` ("Settings"/"IPv6"), an IPv6 address gives
// its canonical text ("2001:DB8:0::1" -> "2001:db8::1"; an IPv4-mapped one
// the IPv4 address).
std::string reduce_whois_target(std::string_view target, bool ipv6 = true);

// True for a text made only of digits and dots (the empty text too).
bool is_digits_and_dots(std::string_view text);

// The server for `target`: for an address, the first range that holds it (for
// an IPv6 address, with `ipv6` on, the first IPv6 prefix or range); for a
// name, the first suffix the name ends with. "" when nothing matches.
std::string choose_whois_server(const std::vector<WhoisServerEntry>& table, std::string_view target,
                                bool ipv6 = true);

// The request line sent for `target`.
std::string whois_request(std::string_view target);

// The reply as output-box text: line ends made CR LF, ISO-2022-JP and other
// legacy Japanese encodings decoded to UTF-8 (a reply for a ".jp" target is
// tried as UTF-8, then EUC-JP and Shift_JIS; other replies as ISO-2022-JP
// when they hold its escapes, as UTF-8, then as Latin-1), control bytes other
// than CR, LF and tab shown as "?". Never fails: undecodable bytes become U+FFFD.
std::string convert_whois_reply(std::string_view reply, std::string_view target);

// What the output box shows for a converted reply: the reply, or "Failed."
// and an empty line when there is none.
std::string whois_output(const std::string& converted);

}  // namespace tw::tools
