#pragma once
// A Traffic Monitor wired to fakes: an in-memory settings file, a hand-set
// interface table with two rows and a clock that moves only when told.
#include <memory>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_link_stats.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"

namespace tw::traffic {

struct TrafficRig {
  platform::FakeFileStore files;
  settings::Profile profile{files, "/data/tarnix_test@host.ini"};
  platform::FakeLinkStats links;
  platform::FakeClock clock;
  std::unique_ptr<TrafficMonitor> mon;

  TrafficRig() {
    links.add("eth0", 1000, 5000);
    links.add("wlan0", 0, 0);
    clock.set_ms(100000);
    clock.set_wall({2024, 5, 6, 7, 8, 9});
  }

  TrafficMonitor& start(Language lang = Language::English) {
    mon = std::make_unique<TrafficMonitor>(profile, links, clock, lang);
    return *mon;
  }

  // One sampling tick: the counters of row 0 move by the given bytes and the
  // clock by `ms` first.
  void tick(std::uint64_t out_bytes = 0, std::uint64_t in_bytes = 0, std::uint32_t ms = 50) {
    links.rows[0].out_octets += out_bytes;
    links.rows[0].in_octets += in_bytes;
    clock.advance_ms(ms);
    mon->tick();
  }
  void ticks(int n, std::uint64_t out_bytes = 0, std::uint64_t in_bytes = 0, std::uint32_t ms = 50) {
    for (int i = 0; i < n; ++i) tick(out_bytes, in_bytes, ms);
  }

  std::string ini() const {
    auto it = files.files.find(profile.path());
    return it == files.files.end() ? std::string() : it->second;
  }
};

}  // namespace tw::traffic
