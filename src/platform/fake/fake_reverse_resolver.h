#pragma once
// A resolver answering from a table, and lookup workers that run nothing
// until the test says so, so that tests see every step of a lookup.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/reverse_resolver.h"

namespace tw::platform {

class FakeReverseResolver : public ReverseResolver {
 public:
  std::optional<std::string> name_of(std::uint32_t a) override {
    std::lock_guard lock(mutex);
    ++asked;
    const auto it = names.find(a);
    return it == names.end() ? std::nullopt : std::optional(it->second);
  }
  std::optional<std::string> local_name_of(std::uint32_t a) override {
    std::lock_guard lock(mutex);
    const auto it = local_names.find(a);
    return it == local_names.end() ? std::nullopt : std::optional(it->second);
  }

  // IPv4 through the maps above, IPv6 through names6 and local_names6.
  std::optional<std::string> name_of_ip(const net::IpAddress& a) override {
    if (a.is_v4()) return name_of(a.v4_network());
    std::lock_guard lock(mutex);
    ++asked;
    const auto it = names6.find(a);
    return it == names6.end() ? std::nullopt : std::optional(it->second);
  }
  std::optional<std::string> local_name_of_ip(const net::IpAddress& a) override {
    if (a.is_v4()) return local_name_of(a.v4_network());
    std::lock_guard lock(mutex);
    const auto it = local_names6.find(a);
    return it == local_names6.end() ? std::nullopt : std::optional(it->second);
  }

  std::optional<std::string> udp_service_name(std::uint16_t port) override {
    std::lock_guard lock(mutex);
    const auto it = services.find(port);
    return it == services.end() ? std::nullopt : std::optional(it->second);
  }

  std::mutex mutex;
  std::map<std::uint16_t, std::string> services;
  std::map<std::uint32_t, std::string> names;        // by address in network order
  std::map<std::uint32_t, std::string> local_names;
  std::map<net::IpAddress, std::string> names6, local_names6;
  int asked = 0;
};

// A host-name cache waits for its lookups when it is destroyed: run_all()
// before the cache goes, or the destructor waits for ever.
class FakeLookupWorkers : public LookupWorkers {
 public:
  bool start(std::function<void()> work, std::function<void()> finished) override {
    if (!can_start) return false;
    jobs.emplace_back(std::move(work), std::move(finished));
    return true;
  }
  // Runs the oldest waiting job to its end; false when there is none.
  bool run_one() {
    if (jobs.empty()) return false;
    auto job = std::move(jobs.front());
    jobs.pop_front();
    job.first();
    job.second();
    return true;
  }
  void run_all() {
    while (run_one()) {}
  }

  bool can_start = true;
  std::deque<std::pair<std::function<void()>, std::function<void()>>> jobs;
};

}  // namespace tw::platform
