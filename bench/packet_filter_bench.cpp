// The Packet Filter's costs that a user waits for:
//   - loading a rule file of 2000 rules into the rule table and the grid
//     (the Reload button, every start): must stay well under 20 ms;
//   - writing one cell edit of such a file when it was changed on disk
//     meanwhile (the edit merged onto the new text): the same bound;
//   - installing 2000 DROP rules on a host with 3 local addresses (one
//     nftables rule per DROP rule and chain, 4000 in all, matching a set of
//     the addresses; the table replaced in one batch as a start does it):
//     must stay well under 1 s, and so on a host with many addresses.
// The install runs in a namespace of its own, so the host's firewall is never
// touched. Needs root for that part (it is skipped otherwise). Run:
//   build/packet_filter_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "netns.h"
#include "packetfilter/filter_rules.h"
#include "packetfilter/nft_ruleset.h"
#include "packetfilter/rule_file.h"
#include "platform/privileged/nftables_filter.h"

namespace {

using namespace tw::packetfilter;

std::string rule_file(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) {
    text += "DROP,0.0.0.0,255.255.255.255,0,10." + std::to_string(i / 256) + "." + std::to_string(i % 256) +
            ".0-10." + std::to_string(i / 256) + "." + std::to_string(i % 256) +
            ".255,255.255.255.0,80-90,TCP,rule number " + std::to_string(i) + "\n";
  }
  return text;
}

void BM_LoadRuleFile2000(benchmark::State& state) {
  const std::string text = rule_file(2000);
  for (auto _ : state) {
    const auto grid = grid_from_rules(parse_rule_file(text));
    benchmark::DoNotOptimize(grid.data());
  }
}
BENCHMARK(BM_LoadRuleFile2000)->Unit(benchmark::kMillisecond);

// A comment added at the top and one rule changed in the middle by hand
// (so the lines between are compared one by one), one cell edited here.
void BM_MergeEditOntoChangedFile2000(benchmark::State& state) {
  const std::string text = rule_file(2000);
  std::string disk = "# added by hand\n" + text;
  disk.replace(disk.find("rule number 1000\n"), 17, "rule number 1000 by hand\n");
  RuleFile file(text);
  GridRow row = file.grid()[1500];
  row[kMemo] = "edited";
  file.set_row(1500, row);
  for (auto _ : state) {
    const std::string merged = file.merged_onto(disk);
    benchmark::DoNotOptimize(merged.data());
  }
}
BENCHMARK(BM_MergeEditOntoChangedFile2000)->Unit(benchmark::kMillisecond);

void BM_Apply2000Drops(benchmark::State& state) {
  if (!tw::test::is_root()) {
    state.SkipWithError("needs root (a network namespace of its own)");
    return;
  }
  tw::test::NetNs ns("pfbench");
  if (!ns.ok()) {
    state.SkipWithError(ns.error().c_str());
    return;
  }
  std::vector<std::uint32_t> locals;
  for (std::int64_t i = 0; i < state.range(0); ++i) locals.push_back(0x0A000001 + static_cast<std::uint32_t>(i));
  const tw::platform::FilterSet set = filter_set(parse_rule_file(rule_file(2000)), locals);
  std::string error;
  // The nft context (and so the table's owner) lives in the namespace's
  // thread; the timing loop runs there too.
  ns.run([&] {
    tw::platform::NftablesPacketFilter filter({nft_apply_text, nft_remove_text});
    for (auto _ : state) {
      const tw::Status s = filter.apply(set);
      if (!s) {
        error = s.error().message();
        break;
      }
    }
  });
  if (!error.empty()) state.SkipWithError(error.c_str());
  state.counters["local_addresses"] = static_cast<double>(set.local_addresses.size());
  state.counters["nft_rules"] = static_cast<double>(nft_rule_count(set));
}
// Target: well under 1 s (1000 ms) each.
BENCHMARK(BM_Apply2000Drops)->Arg(3)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
