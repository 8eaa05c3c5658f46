#pragma once
// The packet filter in this process, through libnftables: one table
// `inet tarnwatch` (`ip tarnwatch` for a set without IPv6) with the owner flag, held by the netlink socket of the nft
// context that this object keeps open. The kernel removes an owned table
// when that socket closes, so the filters end with this object or with the
// process, however it ends (SIGKILL included); and no other process can
// change the table meanwhile.
//
// libnftables is GPL-2-only: this file is built into tw_privileged, which only
// tarnix-helper and tarnixd link, never the Qt program. The library is loaded
// when the first filter is installed (see nftables_filter.cpp).
//
// The table's text comes from the caller (the packet filter's ruleset
// builder), so that this layer needs no knowledge of rules.
//
// Threads: one thread at a time (an nft context is not thread-safe).
#include <memory>
#include <string>
#include <string_view>

#include "platform/packet_filter.h"

struct nft_ctx;

namespace tw::platform {

struct NftablesTexts {
  // One batch that replaces the table by the set's.
  std::string (*apply)(const FilterSet& set) = nullptr;
  // One batch that deletes the table (of either family).
  std::string (*remove)() = nullptr;
};

class NftablesPacketFilter : public PacketFilter {
 public:
  explicit NftablesPacketFilter(NftablesTexts texts);
  ~NftablesPacketFilter() override;
  NftablesPacketFilter(const NftablesPacketFilter&) = delete;
  NftablesPacketFilter& operator=(const NftablesPacketFilter&) = delete;

  // True when the context is open and this thread holds CAP_NET_ADMIN.
  bool is_supported() override;
  Status apply(const FilterSet& set) override;
  Status remove() override;

 private:
  struct ContextFree {
    void operator()(nft_ctx* c) const;
  };
  Status run(const std::string& commands, const char* what);
  // The context, made (and libnftables loaded) on first use; null when
  // either failed.
  nft_ctx* context();

  NftablesTexts texts_;
  std::unique_ptr<nft_ctx, ContextFree> ctx_;
  bool context_failed_ = false;
  bool installed_ = false;
};

// Runs one nft command on a context of its own (a listing, for tests and
// benchmarks) and returns what it printed; ICMP types and codes as numbers.
Result<std::string> nft_command_output(std::string_view command);

}  // namespace tw::platform
