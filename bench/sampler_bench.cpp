// Cost of one sampling tick: the interface table read over rtnetlink (the
// whole table, and one interface's counters as a tick reads them once its
// interface is known), alone and together with the traffic arithmetic, for a namespace holding one
// interface (lo) and one holding 64 veth interfaces (plus lo). Targets: below
// 20 us and 60 us per tick. Also counts heap allocations per tick, which must
// be 0 in the steady state.
//
// Needs root to create the namespaces (they are deleted at exit); without it
// only the calling namespace is measured, read-only.
//
// Run: build-dir/sampler_bench   (or `make bench`)
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/linux/netlink_link_stats.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"

// The namespace fixture of the integration tests, compiled into this program
// (it depends on no test framework).
#include "netns.h"

// ---------------------------------------------------------------------------
// Heap allocation counter for the whole program; benchmarks read the
// difference over their timed loop.

namespace {
std::atomic<std::uint64_t> g_allocations{0};
}  // namespace

// Not inlined: GCC would otherwise see malloc'd memory reach free() through
// operator delete and warn about a new/free mismatch that is not there.
__attribute__((noinline)) void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
__attribute__((noinline)) void* operator new[](std::size_t n) { return operator new(n); }
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using tw::platform::LinkRow;
using tw::platform::NetlinkLinkStats;

struct Setup {
  std::unique_ptr<tw::test::NetNs> ns;  // null: the calling namespace
  std::unique_ptr<NetlinkLinkStats> stats;
  std::string label;
};

Setup g_small, g_large;

bool make_setup(Setup& s, const char* tag, int veth_pairs) {
  if (!tw::test::is_root()) {
    s.stats = std::make_unique<NetlinkLinkStats>();
    s.label = "calling namespace (not root)";
    return s.stats->is_supported();
  }
  s.ns = std::make_unique<tw::test::NetNs>(tag);
  if (!s.ns->ok()) {
    std::fprintf(stderr, "namespace: %s\n", s.ns->error().c_str());
    return false;
  }
  for (int i = 0; i < veth_pairs; ++i) {
    const std::string n = std::to_string(i);
    if (!s.ns->add_veth("tws" + n, "twr" + n)) {
      std::fprintf(stderr, "veth: %s\n", s.ns->error().c_str());
      return false;
    }
  }
  s.ns->run([&] { s.stats = std::make_unique<NetlinkLinkStats>(); });
  s.label = std::to_string(1 + 2 * veth_pairs) + " interfaces";
  return s.stats && s.stats->is_supported();
}

Setup& setup_for(const benchmark::State& state) { return state.range(0) == 1 ? g_small : g_large; }

// Times `read` (one read of the table into `rows`) after a first whole read.
template <class Read>
void time_reads(benchmark::State& state, Read read) {
  Setup& s = setup_for(state);
  std::vector<LinkRow> rows;
  if (!s.stats->read_table(rows) || rows.empty()) {
    state.SkipWithError("read_table failed");
    return;
  }
  // The last row: lo in the small namespace, a veth end in the large one.
  const std::uint32_t index = rows.back().index;
  const std::uint64_t allocs_before = g_allocations.load();
  for (auto _ : state) {
    bool ok = read(*s.stats, index, rows);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(rows.data());
  }
  state.counters["rows"] = static_cast<double>(rows.size());
  state.counters["allocs_per_tick"] = benchmark::Counter(
      static_cast<double>(g_allocations.load() - allocs_before), benchmark::Counter::kAvgIterations);
  state.SetLabel(s.label);
}

void BM_ReadTable(benchmark::State& state) {
  time_reads(state, [](NetlinkLinkStats& st, std::uint32_t, std::vector<LinkRow>& rows) {
    return st.read_table(rows).ok();
  });
}

// What a tick reads once its interface is known: that interface's counters
// alone, the rest of the table as the last full read left it.
void BM_ReadOneInterface(benchmark::State& state) {
  time_reads(state, [](NetlinkLinkStats& st, std::uint32_t index, std::vector<LinkRow>& rows) {
    return st.read_table_for(index, rows).ok();
  });
}

void BM_SamplingTick(benchmark::State& state) {
  Setup& s = setup_for(state);
  tw::platform::FakeFileStore files;
  tw::platform::FakeClock clock;
  tw::settings::Profile profile(files, "/bench/tarnix_bench@host.ini");
  tw::traffic::TrafficMonitor monitor(profile, *s.stats, clock, tw::Language::English);
  // The last row: lo in the small namespace, a veth end in the large one.
  const auto names = monitor.enumerate_interfaces();
  monitor.select_interface(names.empty() ? 0 : static_cast<int>(names.size()) - 1);
  // Warm up past the 24-reading window and the first report lines.
  for (int i = 0; i < 2000; ++i) {
    clock.advance_ms(monitor.sampling_period_ms());
    monitor.tick();
  }
  const std::uint64_t allocs_before = g_allocations.load();
  for (auto _ : state) {
    clock.advance_ms(monitor.sampling_period_ms());
    monitor.tick();
  }
  state.counters["rows"] = static_cast<double>(names.size());
  state.counters["allocs_per_tick"] = benchmark::Counter(
      static_cast<double>(g_allocations.load() - allocs_before), benchmark::Counter::kAvgIterations);
  state.SetLabel(s.label);
}

BENCHMARK(BM_ReadTable)->Arg(1)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadOneInterface)->Arg(1)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SamplingTick)->Arg(1)->Arg(64)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The small namespace holds only lo; the large one lo and 32 veth pairs.
  if (!make_setup(g_small, "bench1", 0) || !make_setup(g_large, "bench64", 32)) {
    std::fprintf(stderr, "sampler_bench: cannot set up the interface tables\n");
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // Sockets first, then the namespaces they live in.
  g_small.stats.reset();
  g_large.stats.reset();
  g_small.ns.reset();
  g_large.ns.reset();
  return 0;
}
