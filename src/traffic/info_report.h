#pragma once
// Plain-text reports about the machine's network configuration and interfaces,
// shown by the Interface tab and (the short interface statistics) by the
// traffic graph's detailed-information panel.
//
// Everything here is pure: the callers hand in what the platform sources
// returned. Labels are fixed-width columns; the Japanese labels are padded to
// the same display width as the English ones (a full-width character counts
// as two columns), so values line up in a monospace font.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "platform/link_stats.h"
#include "platform/network_info.h"

namespace tw::traffic {

// ---------------------------------------------------------------------------
// Name tables.

// IANA ifType 1..32 by name; anything else is "Unknown".
std::string_view interface_type_name(std::uint32_t type);
// 1 "Up", 2 "Down", 3 "Testing", anything else "Unknown".
std::string_view admin_status_name(std::uint32_t status);
// 0 "NON OPERATIONAL" .. 5 "OPERATIONAL"; values beyond 5 read "Unknown".
std::string_view oper_status_name(std::uint32_t status);
// "Broadcast nodetype", ..., or "Unknown node type (HEX)".
std::string node_type_name(std::uint32_t node_type);

// ---------------------------------------------------------------------------
// Reports. The network parameter and adapter reports are one text each, every
// line ending in CR LF; the interface report is a list of lines without line
// ends.

// `error` is what NetworkInfoSource::network_params returned; with a non-zero
// error the report is the header and the failure line.
std::string network_params_report(std::uint32_t error, const platform::NetworkParams& params,
                                  Language lang);
std::string network_params_report(platform::NetworkInfoSource& source, Language lang);

// `error` is what NetworkInfoSource::adapters returned.
std::string adapter_report(std::uint32_t error, const std::vector<platform::AdapterInfo>& adapters,
                           Language lang);
std::string adapter_report(platform::NetworkInfoSource& source, Language lang);

// One block of lines per row, after the header. With `table_ok` false only
// the header is returned.
std::vector<std::string> interface_report(bool table_ok, const std::vector<platform::LinkRow>& rows,
                                          Language lang);
std::vector<std::string> interface_report(platform::LinkStatsSource& source, Language lang);

// The interface statistics of the graph panel, from the sampler's snapshot of
// the selected interface.
struct PanelInterfaceStats {
  std::uint64_t speed_bps = 0;
  std::uint32_t oper_status = 0;
  std::uint64_t ucast_sent = 0;
  std::uint64_t nucast_sent = 0;
  std::uint64_t ucast_received = 0;
  std::uint64_t nucast_received = 0;
};
// Six lines: link speed, operational status and the four packet counts.
std::vector<std::string> interface_statistics_lines(const PanelInterfaceStats& stats, Language lang);

}  // namespace tw::traffic
