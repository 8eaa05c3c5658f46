#pragma once
// Settings of the tool tabs: the PING and TRACERT twins, WHOIS and NSLOOKUP,
// and the Options command that opens the options dialog on a tool's group.
#include <array>
#include <string>
#include <string_view>

#include "settings/profile.h"

namespace tw::tools {

// What tells the PING and TRACERT tabs apart.
struct CommandToolKind {
  std::string_view section;          // settings section
  std::string_view program;          // the program run
  std::string_view default_options;  // Linux options that end by themselves
  std::string_view history_suffix;   // appended to the data folder's base name
  int options_group;                 // written to "ConfigSel" by the Options command
};

inline constexpr CommandToolKind kPingTool{"Ping", "ping", "-c 4 -W 1", "_history_ping.txt", 10};
inline constexpr CommandToolKind kTracertTool{"Tracert", "traceroute", "-m 20 -w 1", "_history_tracert.txt", 11};

// Options groups of the other tools.
inline constexpr int kNslookupOptionsGroup = 7;
inline constexpr int kWhoisOptionsGroup = 9;

inline constexpr std::string_view kDefaultHostName = "localhost";
inline constexpr std::string_view kDefaultDomainName = "example.com";

struct CommandToolSettings {
  std::string host_name;
  bool history = false;
  std::string options;
};

CommandToolSettings load_command_tool(const settings::Profile& p, const CommandToolKind& kind);
// Tab close: "HostName" and "History".
void save_command_tool_state(settings::Profile& p, const CommandToolKind& kind, const CommandToolSettings& s);
// The check box: "History" at once.
void save_tool_history_flag(settings::Profile& p, std::string_view section, bool on);
// The tool's options page: "Option".
void save_command_tool_options(settings::Profile& p, const CommandToolKind& kind, std::string_view options);

struct WhoisSettings {
  std::string domain_name;  // "Settings"/"DomainName"
  bool history = false;     // "Whois"/"History"
};
inline constexpr std::string_view kWhoisSection = "Whois";
inline constexpr std::string_view kWhoisHistorySuffix = "_history_whois.txt";
inline constexpr std::string_view kWhoisTableSuffix = "_whois.txt";
WhoisSettings load_whois_settings(const settings::Profile& p);
void save_whois_settings(settings::Profile& p, const WhoisSettings& s);

// The record-type flags in table order (A NS CNAME PTR MX WKS SOA HINFO TXT,
// then AAAA). A filter stored before AAAA existed has nine fields: the missing
// tenth keeps its default, so AAAA is on.
using RecordFilter = std::array<int, 10>;
inline constexpr RecordFilter kDefaultRecordFilter = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
inline constexpr std::size_t kAaaaFilterIndex = 9;

// "Settings"/"IPv6": whether the tools take and show IPv6 beside IPv4.
bool ipv6_enabled(const settings::Profile& p);

struct NslookupSettings {
  std::string target;        // "Settings"/"NSLookup"
  bool history = false;      // "NSLookUp"/"History"
  RecordFilter filter = kDefaultRecordFilter;  // "NSLookUp"/"Filter"
  bool bypass_cache = false;  // "NSLookUp"/"Resolver"
  bool ipv6 = true;           // "Settings"/"IPv6"
};
inline constexpr std::string_view kNslookupSection = "NSLookUp";
inline constexpr std::string_view kNslookupHistorySuffix = "_history_nslookup.txt";
// "%i:%i:..." fields; fields that are missing or do not parse keep their default.
RecordFilter parse_record_filter(std::string_view text);
// All ten fields; with `ipv6` off the AAAA field only when it is off (then the
// text reads as the nine IPv4-era fields whenever it can).
std::string format_record_filter(const RecordFilter& f, bool ipv6 = true);
NslookupSettings load_nslookup_settings(const settings::Profile& p);
// Tab close: target and "History".
void save_nslookup_state(settings::Profile& p, const NslookupSettings& s);
// The "NS Record" options page: "Filter" and "Resolver" ("Filter" as
// format_record_filter() writes it under the profile's IPv6 switch).
void save_nslookup_options(settings::Profile& p, const RecordFilter& filter, bool bypass_cache);

// The Options command of a tool tab: "ConfigTab" = 0 and "ConfigSel" =
// `group` in section "Settings", unless "ConfigSel" already holds `group` (the
// dialog then reopens on the tab last shown there).
void select_options_group(settings::Profile& p, int group);

}  // namespace tw::tools
