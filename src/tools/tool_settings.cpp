#include "tools/tool_settings.h"

#include <span>

#include "settings/shared_keys.h"

namespace tw::tools {
namespace {

constexpr std::string_view kSettings = settings::kSettingsSection;

}  // namespace

CommandToolSettings load_command_tool(const settings::Profile& p, const CommandToolKind& kind) {
  CommandToolSettings s;
  s.host_name = p.read_string(kind.section, "HostName", kDefaultHostName);
  s.history = p.read_int(kind.section, "History", 0) != 0;
  s.options = p.read_string(kind.section, "Option", kind.default_options);
  return s;
}

void save_command_tool_state(settings::Profile& p, const CommandToolKind& kind, const CommandToolSettings& s) {
  p.write_string(kind.section, "HostName", s.host_name);
  p.write_int(kind.section, "History", s.history ? 1 : 0);
}

void save_tool_history_flag(settings::Profile& p, std::string_view section, bool on) {
  p.write_int(section, "History", on ? 1 : 0);
}

void save_command_tool_options(settings::Profile& p, const CommandToolKind& kind, std::string_view options) {
  p.write_string(kind.section, "Option", options);
}

WhoisSettings load_whois_settings(const settings::Profile& p) {
  WhoisSettings s;
  s.domain_name = p.read_string(kSettings, "DomainName", kDefaultDomainName);
  s.history = p.read_int(kWhoisSection, "History", 0) != 0;
  return s;
}

void save_whois_settings(settings::Profile& p, const WhoisSettings& s) {
  p.write_string(kSettings, "DomainName", s.domain_name);
  p.write_int(kWhoisSection, "History", s.history ? 1 : 0);
}

RecordFilter parse_record_filter(std::string_view text) {
  RecordFilter f = kDefaultRecordFilter;
  settings::parse_int_list(text, f);
  return f;
}

bool ipv6_enabled(const settings::Profile& p) {
  return p.read_int(kSettings, settings::kIpv6Key, settings::kIpv6Default) != 0;
}

std::string format_record_filter(const RecordFilter& f, bool ipv6) {
  // With IPv6 off the file keeps today's nine fields; an AAAA flag the user
  // turned off is kept all the same, so switching IPv6 back on restores it.
  if (!ipv6 && f[kAaaaFilterIndex] != 0) return settings::format_int_list(std::span<const int>(f).first(9));
  return settings::format_int_list(f);
}

NslookupSettings load_nslookup_settings(const settings::Profile& p) {
  NslookupSettings s;
  s.target = p.read_string(kSettings, "NSLookup", kDefaultDomainName);
  s.history = p.read_int(kNslookupSection, "History", 0) != 0;
  s.filter = parse_record_filter(p.read_string(kNslookupSection, "Filter", format_record_filter(kDefaultRecordFilter)));
  s.bypass_cache = p.read_int(kNslookupSection, "Resolver", 0) != 0;
  s.ipv6 = ipv6_enabled(p);
  return s;
}

void save_nslookup_state(settings::Profile& p, const NslookupSettings& s) {
  p.write_string(kSettings, "NSLookup", s.target);
  p.write_int(kNslookupSection, "History", s.history ? 1 : 0);
}

void save_nslookup_options(settings::Profile& p, const RecordFilter& filter, bool bypass_cache) {
  p.write_string(kNslookupSection, "Filter", format_record_filter(filter, ipv6_enabled(p)));
  p.write_int(kNslookupSection, "Resolver", bypass_cache ? 1 : 0);
}

void select_options_group(settings::Profile& p, int group) {
  if (p.read_int(kSettings, "ConfigSel", 0) == group) return;
  p.write_int(kSettings, "ConfigTab", 0);
  p.write_int(kSettings, "ConfigSel", group);
}

}  // namespace tw::tools
