#pragma once
// DnsClient through ldns, and HostLookup through glibc.
//
// Which servers are asked: those of <etc>/resolv.conf. "Direct" means asking
// the upstream servers rather than a local caching stub: when resolv.conf
// names only systemd-resolved's stub (127.0.0.53), the servers of
// <run>/systemd/resolve/resolv.conf are asked instead. (Linux has no cache
// inside the resolver library to bypass; the stub is the cache.)
//
// Neither ldns nor glibc's resolver can be interrupted: each call runs on a
// thread of its own that a stop abandons (it ends by the resolver's own
// time-outs and its result is dropped), so a stop returns at once.
//
// Threads: any thread; each call builds its own resolver, so calls may run
// side by side. Queries go out from the network namespace of the calling
// thread (the threads it starts inherit it).
#include <string>

#include "platform/dns_client.h"

namespace tw::platform {

struct DnsRoots {
  std::string etc = "/etc";
  std::string run = "/run";
};

// The resolv.conf a query reads, by the rule above.
std::string resolver_config_path(const DnsRoots& roots, bool direct);

class LdnsDnsClient final : public DnsClient {
 public:
  explicit LdnsDnsClient(DnsRoots roots = {}) : roots_(std::move(roots)) {}
  bool is_supported() override;
  Result<std::vector<DnsRecord>> query(const std::string& name, int type, bool direct,
                                       std::stop_token stop) override;

 private:
  DnsRoots roots_;
};

class SystemHostLookup final : public HostLookup {
 public:
  Result<std::string> first_address(const std::string& name, std::stop_token stop) override;
  Result<std::string> name_of(const std::string& address, std::stop_token stop) override;
  std::optional<std::string> hosts_name_of(const std::string& address, std::stop_token stop) override;
};

}  // namespace tw::platform
