#pragma once
// A DNS client and host lookup for tests, answering from maps. A client told
// to stall holds every query until the caller's stop token is stopped, like
// a server that never answers (but gives up after kStallLimit, so that a test
// of a stop that never comes fails instead of hanging).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dns_client.h"

namespace tw::platform {

class FakeDnsClient : public DnsClient {
 public:
  bool is_supported() override { return supported; }
  Result<std::vector<DnsRecord>> query(const std::string& name, int type, bool direct,
                                       std::stop_token stop) override {
    queries.push_back({name, type});
    last_direct = direct;
    if (on_query) on_query(type);
    if (stall) {
      ++stalled;
      std::mutex m;
      std::condition_variable_any cv;
      std::unique_lock lock(m);
      cv.wait_for(lock, stop, kStallLimit, [] { return false; });
      if (stop.stop_requested()) ++stopped;
      return Error::from_errno("The DNS query failed.", name, kCancelledErrno);
    }
    auto it = answers.find({name, type});
    if (it == answers.end() || it->second.empty()) return Error{"No records.", name, 0};
    return it->second;
  }

  bool supported = true;
  std::map<std::pair<std::string, int>, std::vector<DnsRecord>> answers;
  std::vector<std::pair<std::string, int>> queries;
  bool last_direct = false;
  std::function<void(int)> on_query;  // runs inside each query
  static constexpr std::chrono::seconds kStallLimit{20};
  bool stall = false;                 // every query waits for its stop token
  std::atomic<int> stalled{0};        // queries that began to wait
  std::atomic<int> stopped{0};        // stalled queries that the token ended
};

class FakeHostLookup : public HostLookup {
 public:
  Result<std::string> first_address(const std::string& name, std::stop_token) override {
    auto it = addresses.find(name);
    if (it == addresses.end()) return Error{"Name or service not known", name, 0};
    return it->second;
  }
  Result<std::string> name_of(const std::string& address, std::stop_token) override {
    auto it = names.find(address);
    if (it == names.end()) return Error{"Name or service not known", address, 0};
    return it->second;
  }
  std::optional<std::string> hosts_name_of(const std::string& address, std::stop_token) override {
    auto it = hosts_file.find(address);
    if (it == hosts_file.end()) return std::nullopt;
    return it->second;
  }

  std::map<std::string, std::string> addresses, names, hosts_file;
};

}  // namespace tw::platform
