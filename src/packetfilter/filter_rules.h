#pragma once
// The packet filter's rules in their three forms: the grid's nine cell texts
// per rule, the typed rule records that the engine installs, and the rule
// file tarnix_packetfilter.txt (comma-separated, one rule a line).
//
// Addresses and masks are held as numbers whose most significant byte is the
// first octet of the dotted quad (10.0.0.1 is 0x0A000001), so that prefix and
// range arithmetic is plain integer arithmetic; nothing here depends on the
// host's byte order.
//
// Pure functions: no state, no I/O, any thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"

namespace tw::packetfilter {

inline constexpr std::size_t kMaxRules = 2000;      // the rule table, and so the grid
inline constexpr std::uint32_t kInvalidAddress = 0xFFFFFFFFu;  // what a text that is no address reads as

// The grid's columns, in order.
enum Column : int { kAction, kSrcIp, kSrcMask, kSrcPort, kDstIp, kDstMask, kDstPort, kProtocol, kMemo };
inline constexpr int kColumnCount = 9;
inline constexpr std::array<std::string_view, kColumnCount> kColumnTitles = {
    "Action", "Src-IP", "Src-Mask", "Src-Port", "Dst-IP", "Dst-Mask", "Dst-Port", "Protocol", "Memo"};
inline constexpr std::array<int, kColumnCount> kDefaultColumnWidths = {90, 95, 95, 80, 95, 95, 80, 80, 90};

inline constexpr std::string_view kForward = "FORWARD";
inline constexpr std::string_view kDrop = "DROP";

// IP protocol numbers of the rules.
inline constexpr int kProtocolAny = 0;
inline constexpr int kProtocolIcmp = 1;
inline constexpr int kProtocolTcp = 6;
inline constexpr int kProtocolUdp = 17;
// An ICMP type or code of this value matches any.
inline constexpr std::uint16_t kIcmpAny = 255;

// One rule. For ICMP the source ports carry the type, the destination ports
// the code.
struct FilterRule {
  int action = 0;  // 0 FORWARD, 1 DROP
  std::uint32_t src_low = 0, src_high = 0, src_mask = 0;
  std::uint16_t src_port_low = 0, src_port_high = 0;
  std::uint32_t dst_low = 0, dst_high = 0, dst_mask = 0;
  std::uint16_t dst_port_low = 0, dst_port_high = 0;
  int protocol = kProtocolTcp;
  std::string memo = " ";  // never empty
  friend bool operator==(const FilterRule&, const FilterRule&) = default;
};

// The nine cell texts of one grid row, in column order.
using GridRow = std::array<std::string, kColumnCount>;

// The row that Insert adds.
GridRow default_row();

// ---- addresses -------------------------------------------------------------
// A dotted quad as the classic inet_addr() reads it: one to four parts, each a
// C integer literal (leading 0 octal, 0x hexadecimal), the last part filling
// the remaining bytes. Blanks (spaces, tabs) around it are skipped, as atoi
// skips them before a number; anything else around or inside it makes it no
// address (nullopt).
std::optional<std::uint32_t> read_address(std::string_view text);
// read_address, with kInvalidAddress for a text that is no address (what a
// rule record holds for it).
std::uint32_t parse_address(std::string_view text);

// An address field (Src-IP, Dst-IP): one address, or a range "a.b.c.d-e.f.g.h"
// whose two ends are both complete addresses. nullopt for anything else: a
// range without its end ("10.0.0.1-") must never read as one ending at
// 255.255.255.255, which would widen a DROP rule to every address.
struct AddressRange {
  std::uint32_t low = 0, high = 0;
  friend bool operator==(const AddressRange&, const AddressRange&) = default;
};
std::optional<AddressRange> read_address_field(std::string_view text);
// "a.b.c.d".
std::string address_text(std::uint32_t address);
// The mask of a prefix length 0..32.
std::uint32_t prefix_mask(int length);

// ---- ports -----------------------------------------------------------------
struct PortRange {
  std::uint16_t low = 0, high = 0;
  friend bool operator==(const PortRange&, const PortRange&) = default;
};
// "n" or "n-m": absolute values, clamped to 0..65535, the smaller first; a
// range starting at 0 is 0-0 (any port); empty text is 0-0. Blanks before a
// number are skipped (atoi). Takes any text; whether the text is a port field
// at all is read_port_field's question.
PortRange parse_port_range(std::string_view text);
// A port field (Src-Port, Dst-Port): empty (any port), a decimal number, or a
// range "n-m" with both ends, blanks allowed around each number; read as
// parse_port_range does. nullopt for anything else ("8081-", "-80", "80x"),
// which must never read as "any port".
std::optional<PortRange> read_port_field(std::string_view text);

// ---- rows that are no rules ------------------------------------------------
// Why a row of the file, an "/add:" command or a cell is refused.
enum class RowFault {
  Action,      // neither "FORWARD" nor "DROP"
  Address,     // an address field that is no address or range
  Mask,        // a mask field that is no dotted quad
  Port,        // a port field that is no port or range
  Protocol,    // the command's protocol is none of the four
  Characters,  // the command's field holds characters its checks refuse
  FieldCount,  // the command has fewer than 8 fields
  LineBreak,   // a field holds a line break, which a line of the file cannot hold
};
struct RowProblem {
  RowFault fault = RowFault::Action;
  int column = kAction;  // the field concerned
  std::string value;     // its text
  friend bool operator==(const RowProblem&, const RowProblem&) = default;
};
// One line for a user: `Dst-Port "8081-" is no port n or range n-m`.
std::string problem_text(const RowProblem& problem, Language lang);
// The first field of a row that keeps it from being a rule: the action, the
// address, mask and port fields (the protocol reads as TCP whatever it says,
// the memo is free text). nullopt for a good row.
std::optional<RowProblem> row_problem(const GridRow& row);

// ---- the three forms -------------------------------------------------------
// The record of a grid row (the texts as the grid shows them, ports parsed).
FilterRule rule_from_row(const GridRow& row);
// The grid texts of a record.
GridRow row_from_rule(const FilterRule& rule);
// Every grid row as a record, at most kMaxRules.
std::vector<FilterRule> rules_from_grid(const std::vector<GridRow>& grid);
std::vector<GridRow> grid_from_rules(const std::vector<FilterRule>& rules);

// A line's fields: commas and line feeds outside double quotes end a field,
// and text after the last of them is no field. A field holding quotes loses
// its enclosing quotes and reads doubled quotes as one.
std::vector<std::string> split_fields(std::string_view line);
// The fields of one line for the file (without the line break): quotes
// doubled, a field with a quote, a comma or a CR enclosed in quotes.
std::string join_fields(const std::vector<std::string>& fields);
// The line of the file for a grid row, without the line break.
std::string row_line(const GridRow& row);

// ---- the cell editors' commit rules ----------------------------------------
// Spaces are removed first. nullopt: the text is no complete address, range
// or number, and the cell stays as it was (the editor shows it as invalid).
//
// Address and mask cells: empty text is "0.0.0.0"; four parts "a.b.c.d" with
// every part clamped to 0..255; a number as the mask of that prefix length
// (0..32, larger ones 255.255.255.255); in the address columns a range
// "a.b.c.d-e.f.g.h" of two such quads, not reordered. `address_column` is true
// for Src-IP and Dst-IP.
std::optional<std::string> commit_address_cell(std::string_view text, bool address_column);
// Port cells: empty text is "0"; a number clamped to 0..65535; a range "n-m"
// (see parse_port_range).
std::optional<std::string> commit_port_cell(std::string_view text);
// The memo: empty text is " "; a line break becomes a blank (one rule is one
// line of the file).
std::string commit_memo_cell(std::string_view text);
// The Enter key on an Action or Protocol cell: FORWARD <-> DROP, and
// ANY -> TCP -> UDP -> ICMP -> ANY.
std::string next_action(std::string_view text);
std::string next_protocol(std::string_view text);

// ---- the command ----------------------------------------------------------
inline constexpr std::string_view kAddCommandPrefix = "tarnix.packetfilter /add:";
// The grid row of a "tarnix.packetfilter /add:ACTION,SRC-IP,...,PROTOCOL[,MEMO]"
// command text, or why it is refused: fewer than 8 fields, an action or
// protocol of another spelling, characters the fields may not hold (masks:
// digits and "."; addresses: digits, "." and "-"; ports: digits and "-"), an
// address, mask or port field that is not complete (see row_problem), or a
// line break in the memo.
struct AddCommand {
  std::optional<GridRow> row;  // set when the command is good
  RowProblem problem;          // why not, otherwise
  explicit operator bool() const { return row.has_value(); }
};
AddCommand parse_add_command(std::string_view text);

// ---- "Add to Packet filter rules" from a connection list --------------------
// The DROP row for one selected row of the Session Monitor's list
// (`packet_protocol` nullopt: TCP) or of the Packet Monitor's, whose
// "Protocol" cell picks UDP for "UDP(UL)"/"UDP(DL)", ICMP for
// "ICMP(UL)"/"ICMP(DL)" and TCP otherwise. The cells are the list row's
// "Port1", "IP Address2", "Port2" and "Hostname2"; check the row with
// row_problem before taking it.
GridRow row_from_connection(std::string_view port1, std::string_view address2, std::string_view port2,
                            std::string_view hostname2, std::optional<std::string_view> packet_protocol);

// ---- effective values ------------------------------------------------------
struct AddressMatch {
  std::uint32_t address = 0;
  std::uint32_t mask = 0;  // 0: any address
  friend bool operator==(const AddressMatch&, const AddressMatch&) = default;
};
// A single address keeps its mask; a range widens to the smallest aligned
// block that holds both ends; the address 0.0.0.0 matches any.
AddressMatch effective_match(std::uint32_t low, std::uint32_t high, std::uint32_t mask);

// A local address of an adapter: four decimal parts of 0..255 (any part out of
// range makes 0.0.0.0, fewer than four parts kInvalidAddress).
std::uint32_t parse_local_address(std::string_view text);

}  // namespace tw::packetfilter
