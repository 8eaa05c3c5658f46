#pragma once
// The commands of the Session and Packet Monitor lists that another tab
// carries out: NSLOOKUP, WHOIS, PING, TRACERT on the selected row, and "Add to
// Packet filter rules" for every selected row. A list page hands the command
// with the cells it needs to the main window, which owns the tabs; the list
// pages never see the tool or filter pages.
//
// Pure: no Qt, no files.
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tw::shell {

enum class ListCommand : int { AddFilterRules = 0, Nslookup, Whois, Ping, Tracert };
inline constexpr int kListCommandCount = 5;

// Which commands have a tab to carry them out (indexed by ListCommand); the
// others stay disabled in the lists' menus.
using ListCommandSet = std::array<bool, kListCommandCount>;

// The cells of one selected row that the commands use.
struct ListRowCells {
  std::string port1;     // "Port1"
  std::string address2;  // "IP Address2": the remote address
  std::string host2;     // "Hostname2": the remote host, "(address)" while its name is looked up
  std::string port2;     // "Port2"
  // The Packet Monitor's "Protocol" cell; the Session Monitor's rows are TCP.
  std::optional<std::string> protocol;
  friend bool operator==(const ListRowCells&, const ListRowCells&) = default;
};

// The host a tool runs for: the host text up to a parenthesised part, without
// the blanks around it. A name still being looked up reads "(address)" and
// leaves nothing before the parenthesis; the row's address is used then, so
// the tool never starts on an empty host.
std::string tool_target(std::string_view host, std::string_view address);

}  // namespace tw::shell
