// The sampling tick runs 20 times a second for the life of the program: once
// the report lists are full it must not touch the heap. Counted with a
// replaced global operator new (this binary only).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "traffic_test_rig.h"

// ThreadSanitizer's runtime brings its own operator new, linked statically:
// there the count is not taken and the test says so.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TW_TSAN_RUNTIME 1
#endif
#endif

namespace {
std::atomic<long> g_allocations{0};
}

#ifndef TW_TSAN_RUNTIME
// malloc/free underneath, so the replaced pair matches; GCC cannot see that
// the free() inside operator delete belongs to this operator new.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop
#endif

namespace tw::traffic {
namespace {

TEST(SamplerTick, SteadyStateDoesNotAllocate) {
#ifdef TW_TSAN_RUNTIME
  GTEST_SKIP() << "ThreadSanitizer replaces operator new itself";
#endif
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  m.start_with_stored_interface();
  rig.ticks(200, 1500, 3000);  // 10 s: lists 0 and 1 are full, no period boundary yet
  const long before = g_allocations.load();
  rig.ticks(90, 1500, 3000);   // up to 14.5 s
  EXPECT_EQ(g_allocations.load() - before, 0);
  EXPECT_EQ(m.report_list(0).size(), kReportListMaxEntries);
}

}  // namespace
}  // namespace tw::traffic
