#pragma once
// The protocol statistics report: the IP, TCP, UDP and ICMP counters of the
// kernel's MIB-II tables (/proc/net/snmp), with the interface, address, route
// and socket counts that the tables themselves do not hold.
//
// /proc/net/snmp comes in pairs of lines per protocol, a header and the
// values:
//   Ip: Forwarding DefaultTTL InReceives ...
//   Ip: 1 64 1234 ...
// Kernels add columns over time (Udp gained InCsumErrors, IgnoredMulti and
// MemErrors), so every value is found by its header name, never by position.
//
// Pure functions, any thread.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "base/language.h"
#include "platform/protocol_stats_source.h"

namespace tw::tools {

struct SnmpValue {
  std::uint64_t magnitude = 0;
  bool negative = false;  // only Tcp MaxConn is ever negative (-1: no limit)
  friend bool operator==(const SnmpValue&, const SnmpValue&) = default;
};

// group ("Ip", "Tcp", ...) -> column name -> value.
using SnmpTable = std::map<std::string, std::map<std::string, SnmpValue>>;

// Parses the file's text. A header line is paired with the next line of the
// same group; columns whose value is missing or not a number are left out,
// as are lines that do not pair up. Never fails: bad input gives less.
SnmpTable parse_snmp(std::string_view text);

// Parses the IPv6 counter file (/proc/net/snmp6), one "NAME VALUE" a line:
//   Ip6InReceives                   \t16
//   Icmp6InMsgs                     \t0
// into groups named by the name up to its "6" ("Ip6", "Icmp6", "Udp6",
// "UdpLite6") and columns named by the rest ("InReceives"). Lines that are
// not a name with a "6" and an unsigned number are left out; the first of
// two lines with one name counts. Never fails: bad input gives less.
SnmpTable parse_snmp6(std::string_view text);

// What the socket and routing dumps counted; nullopt when a dump failed.
using TableCounts = platform::ProtocolTableCounts;

// "1,234,567"; negative values keep their sign ("-1,234").
std::string grouped_counter(SnmpValue v);

// The four sections, in the order IP, TCP, UDP, ICMP. A group missing from
// `snmp` gives its title and a line saying the figures are not available; a
// single missing column shows "-".
std::string protocol_report(const SnmpTable& snmp, const TableCounts& counts, Language lang);

// The IPv6 sections, in the order IPv6, ICMPv6, UDPv6, in the layout of the
// IPv4 ones (a group missing from `snmp6` gives its title and a line saying
// the figures are not available). The report shows them after the IPv4
// sections when IPv6 is on and the file could be read.
std::string protocol_report6(const SnmpTable& snmp6, Language lang);

// Shown before the first report.
std::string_view protocol_report_placeholder(Language lang);

}  // namespace tw::tools
