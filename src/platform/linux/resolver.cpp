#include "platform/linux/resolver.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "base/text_helpers.h"

namespace tw::platform {

namespace {

// The hosts database's name of an address (gethostbyaddr_r: /etc/hosts and
// the other NSS sources, no DNS query of its own), control characters removed.
std::optional<std::string> hosts_file_name(const void* address, socklen_t length, int family) {
  hostent he{};
  hostent* result = nullptr;
  char buf[4096];
  int herr = 0;
  if (gethostbyaddr_r(address, length, family, &he, buf, sizeof buf, &result, &herr) != 0 || !result ||
      !result->h_name)
    return std::nullopt;
  return detail::without_control_chars(result->h_name);
}

}  // namespace

std::optional<std::string> SystemReverseResolver::name_of(std::uint32_t address_be) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address_be;
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
    return std::nullopt;
  return detail::without_control_chars(host);
}

std::optional<std::string> SystemReverseResolver::local_name_of(std::uint32_t address_be) {
  return hosts_file_name(&address_be, sizeof address_be, AF_INET);
}

std::optional<std::string> SystemReverseResolver::name_of_ip(const net::IpAddress& address) {
  if (address.is_v4()) return name_of(address.v4_network());
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  std::memcpy(&sa.sin6_addr, address.bytes.data(), 16);
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
    return std::nullopt;
  return detail::without_control_chars(host);
}

std::optional<std::string> SystemReverseResolver::local_name_of_ip(const net::IpAddress& address) {
  if (address.is_v4()) return local_name_of(address.v4_network());
  return hosts_file_name(address.bytes.data(), 16, AF_INET6);
}

std::optional<std::string> SystemReverseResolver::udp_service_name(std::uint16_t port) {
  servent se{};
  servent* result = nullptr;
  char buf[1024];
  if (getservbyport_r(htons(port), "udp", &se, buf, sizeof buf, &result) != 0 || !result || !result->s_name)
    return std::nullopt;
  return detail::without_control_chars(result->s_name);
}

ThreadLookupWorkers::~ThreadLookupWorkers() {
  std::unique_lock lock(mutex_);
  done_.wait(lock, [&] { return running_ == 0; });
}

bool ThreadLookupWorkers::start(std::function<void()> work, std::function<void()> finished) {
  {
    std::lock_guard lock(mutex_);
    ++running_;
  }
  try {
    std::thread([this, work = std::move(work), finished = std::move(finished)] {
      work();
      // Spaces out bursts of lookups: a slot frees only a little after its answer.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      finished();
      std::lock_guard lock(mutex_);
      --running_;
      done_.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard lock(mutex_);
    --running_;
    return false;
  }
  return true;
}

}  // namespace tw::platform
