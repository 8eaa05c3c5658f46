// The "/add:" command parser, the field readers and the cell editors' commit
// rules on any text: no failure; a command either gives a row that is a rule
// or says why in both languages; a committed cell is a complete field that
// commits to itself again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "packetfilter/filter_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tw::packetfilter;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const AddCommand c = parse_add_command(text)) {
    if (row_problem(*c.row)) std::abort();
    const FilterRule rule = rule_from_row(*c.row);
    if (rule.memo.empty()) std::abort();
    if (row_problem(row_from_rule(rule))) std::abort();
  } else if (problem_text(c.problem, tw::Language::English).empty() ||
             problem_text(c.problem, tw::Language::Japanese).empty()) {
    std::abort();
  }
  for (bool address_column : {true, false}) {
    if (const auto once = commit_address_cell(text, address_column)) {
      if (commit_address_cell(*once, address_column) != once) std::abort();
      if (address_column ? !read_address_field(*once) : !read_address(*once)) std::abort();
    }
  }
  if (const auto port = commit_port_cell(text)) {
    if (commit_port_cell(*port) != port) std::abort();
    if (!read_port_field(*port)) std::abort();
  }
  if (const auto field = read_port_field(text)) {
    if (field->low > field->high || (field->low == 0 && field->high != 0)) std::abort();
  }
  if (const auto range = read_address_field(text)) {
    // A field that reads is exactly its two ends: no part of it is ignored.
    if (text.find('-') == std::string_view::npos && range->low != range->high) std::abort();
  }
  const PortRange r = parse_port_range(text);
  if (r.low > r.high || (r.low == 0 && r.high != 0)) std::abort();
  return 0;
}
