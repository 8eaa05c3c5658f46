#include "shared/host_names.h"

#include "base/ip_address.h"
#include "base/text_helpers.h"

namespace tw::shared {

std::string pending_host_text(std::string_view address) {
  std::string s = "(";
  s.append(address).append(")");
  return s;
}

std::optional<std::uint32_t> parse_address(std::string_view text) {
  const auto a = net::parse_ip(text);
  if (!a || !a->is_v4()) return std::nullopt;
  return a->v4_network();
}

bool is_private_address(std::string_view address) {
  const auto a = parse_address(address);
  if (!a) return false;
  const auto* b = reinterpret_cast<const unsigned char*>(&*a);
  return b[0] == 10 || (b[0] == 192 && b[1] == 168) || (b[0] == 172 && b[1] >= 16 && b[1] <= 31);
}

HostNameCache::HostNameCache(platform::ReverseResolver& resolver, platform::LookupWorkers& workers,
                             bool private_fallback)
    : resolver_(resolver), workers_(workers), private_fallback_(private_fallback) {}

HostNameCache::~HostNameCache() {
  // Workers write into this object until their slot is free again.
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return busy_slots() == 0; });
}

std::string HostNameCache::host_name_for(std::string_view address) {
  const std::string addr(address);
  {
    std::lock_guard lock(mutex_);
    if (const auto it = names_.find(addr); it != names_.end()) return it->second;
    for (auto& s : slots_)
      if (s.state.load() == kResolving && s.address == addr) return pending_host_text(address);
    // Claimed but not yet resolving counts too: the same address must not
    // take two slots.
    for (auto& s : slots_)
      if (s.state.load() == kQueued && s.address == addr) return pending_host_text(address);
  }
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    Slot& slot = slots_[i];
    int expected = kFree;
    if (!slot.state.compare_exchange_strong(expected, kQueued)) continue;
    {
      std::lock_guard lock(mutex_);
      slot.address = addr;
    }
    const bool started = workers_.start(
        [this, &slot] {
          std::string a;
          {
            std::lock_guard lock(mutex_);
            a = slot.address;
          }
          slot.state.store(kResolving);
          store(a, lookup(a));
        },
        [this, &slot] {
          std::lock_guard lock(mutex_);
          slot.address.clear();
          slot.state.store(kFree);
          idle_.notify_all();
        });
    if (!started) {
      std::lock_guard lock(mutex_);
      slot.address.clear();
      slot.state.store(kFree);
      idle_.notify_all();
    }
    break;
  }
  return pending_host_text(address);
}

std::string HostNameCache::lookup(const std::string& address) {
  const auto a = net::parse_ip(address);
  if (!a) return address;
  // A name is whatever the owner of a name server or a hosts file wrote: its
  // controls never reach a list or log line as controls.
  if (auto name = resolver_.name_of_ip(*a); name && !name->empty()) return detail::without_control_chars(*name);
  // LAN machines, named only in a hosts file: the IPv4 private ranges, and
  // for IPv6 the unique-local and link-local ones.
  if (private_fallback_ && net::is_private(*a)) {
    if (auto name = resolver_.local_name_of_ip(*a); name && !name->empty())
      return detail::without_control_chars(*name);
  }
  return address;
}

void HostNameCache::store(const std::string& address, std::string name) {
  std::lock_guard lock(mutex_);
  // A full cache starts over rather than keep growing for a long-running
  // monitor that has seen many addresses.
  if (names_.size() >= kMaxCachedNames) names_.clear();
  names_[address] = std::move(name);
}

std::string HostNameCache::resolve_now(std::string_view address) {
  const std::string addr(address);
  {
    std::lock_guard lock(mutex_);
    if (const auto it = names_.find(addr); it != names_.end()) return it->second;
  }
  std::string name = lookup(addr);
  store(addr, name);
  return name;
}

void HostNameCache::empty() {
  std::lock_guard lock(mutex_);
  names_.clear();
}

std::size_t HostNameCache::size() const {
  std::lock_guard lock(mutex_);
  return names_.size();
}

std::size_t HostNameCache::busy_slots() const {
  std::size_t n = 0;
  for (const auto& s : slots_) n += s.state.load() != kFree;
  return n;
}

}  // namespace tw::shared
