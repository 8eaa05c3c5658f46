#pragma once
// Keys of section "Settings" that windows of more than one layer follow: the
// shell owns and writes them, the Mini Monitor reads them too. Every other key
// is named only by the load and save functions of the group that owns it.
#include <string_view>

namespace tw::settings {

inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kWindowTopMostKey = "WindowTopMost";  // keep windows on top
inline constexpr std::string_view kWindowStretchKey = "WindowStretch";  // snap to the desktop edges

// IPv6 beside IPv4 in every monitor, tool, log and metric (default on). With 0
// every output is exactly the IPv4-only one, for scripts that read the logs as
// IPv4: no IPv6 rows, addresses, records, counters or labels appear anywhere.
inline constexpr std::string_view kIpv6Key = "IPv6";
inline constexpr int kIpv6Default = 1;

}  // namespace tw::settings
