// The packet filter's rule file on any bytes: the reader never fails and
// keeps its limits; the grid's rows are rules whose normal form reads back as
// the same rules; a document written back without edits is the input byte for
// byte, and with edits it reads back as the grid it shows; and edits merged
// onto the unchanged file are the edits written directly. The input's second
// half (after the first NUL) is the file "as changed on disk" for a merge.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "packetfilter/filter_rules.h"
#include "packetfilter/nft_ruleset.h"
#include "packetfilter/rule_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tw::packetfilter;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view text = input.substr(0, nul);
  const std::string_view disk = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  RuleFile file(text);
  if (file.grid().size() > kMaxRules) std::abort();
  if (file.text() != text) std::abort();
  bool beyond = false;
  for (const LineProblem& p : file.problems()) beyond = beyond || p.beyond_table;
  for (const GridRow& row : file.grid())
    if (row_problem(row)) std::abort();
  const auto rules = rules_from_grid(file.grid());
  if (parse_rule_file(rule_file_text(file.grid())) != rules) std::abort();

  // Edits: the first rule goes, the last one changes its memo to one that
  // needs quoting, a default row is appended.
  if (!file.grid().empty()) {
    (void)file.erase_row(0);
    if (!file.grid().empty()) {
      GridRow last = file.grid().back();
      last[kMemo] = "a, \"b\"\r";
      (void)file.set_row(file.grid().size() - 1, last);
    }
  }
  (void)file.insert_row(file.grid().size(), default_row());
  const std::string written = file.text();
  if (!beyond && RuleFile(written).grid() != file.grid()) std::abort();
  if (file.merged_onto(std::string(text)) != written) std::abort();
  std::size_t given_up = 0;
  const std::string merged = file.merged_onto(std::string(disk), &given_up);
  if (RuleFile(merged).grid().size() > kMaxRules) std::abort();

  const auto set = filter_set(rules, {0x0A000001});
  if (!set.drops.empty() && nft_match(set.drops.front(), 0x0A000001, true).empty()) std::abort();
  return 0;
}
