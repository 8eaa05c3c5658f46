#pragma once
// Host names for the address and host columns of the session and packet
// lists, and their colours by top-level domain.
//
// Addresses are texts as the lists show them: dotted IPv4, canonical IPv6.
// A name is asked for without waiting: the first ask starts a reverse lookup
// on one of kLookupSlots workers and returns the pending text "(ADDRESS)";
// later asks return the name once it arrived (or the address itself when it
// has none). With every slot busy the address is simply asked for again at a
// later refresh. A failed lookup caches the address as its own name, so it is
// not asked for again until the cache is emptied. Names are cached with their
// control characters made '?' (they end up in log and list lines).
//
// Threads: host_name_for() from the user-interface and capture threads,
// resolve_now() from the Netstat worker, empty() from the user-interface
// thread; the cache takes its lock, slots are claimed atomically. Destroying
// the cache waits for the lookups it started.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/reverse_resolver.h"

namespace tw::shared {

inline constexpr std::size_t kLookupSlots = 12;
inline constexpr std::size_t kMaxCachedNames = 2048;

// "(%s)": the host text of an address whose lookup is outstanding.
std::string pending_host_text(std::string_view address);

// 10/8, 172.16/12, 192.168/16, read from a dotted address text; the private
// LAN names of these come from the hosts database when DNS has none.
bool is_private_address(std::string_view address);

// The address of a dotted quad "192.0.2.1" in network byte order (net::parse_ip
// read as IPv4 only), nullopt for any other text.
std::optional<std::uint32_t> parse_address(std::string_view text);

class HostNameCache {
 public:
  // `private_fallback`: try the local name of private addresses when DNS
  // gives none. Both references must outlive the cache.
  HostNameCache(platform::ReverseResolver& resolver, platform::LookupWorkers& workers,
                bool private_fallback = true);
  ~HostNameCache();
  HostNameCache(const HostNameCache&) = delete;
  HostNameCache& operator=(const HostNameCache&) = delete;

  // The cached name, or the pending text while a lookup runs or waits for a
  // free slot. Never blocks on the network.
  std::string host_name_for(std::string_view address);

  // Looks the address up in the calling thread when it is not cached (the
  // Netstat listing wants names, not pending texts), caches and returns it.
  std::string resolve_now(std::string_view address);

  // "Remove all items" and the shut-down: forgets every name.
  void empty();

  std::size_t size() const;
  // Slots whose lookup has not finished yet.
  std::size_t busy_slots() const;

 private:
  enum SlotState : int { kFree = 0, kQueued = 1, kResolving = 2 };
  struct Slot {
    std::atomic<int> state{kFree};
    std::string address;  // written by the claimer before the worker starts
  };

  std::string lookup(const std::string& address);  // blocking; no lock held
  void store(const std::string& address, std::string name);

  platform::ReverseResolver& resolver_;
  platform::LookupWorkers& workers_;
  const bool private_fallback_;

  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::unordered_map<std::string, std::string> names_;
  std::array<Slot, kLookupSlots> slots_;
};

}  // namespace tw::shared
