// The flow key table, the host-name cache and the domain colours.
#include <gtest/gtest.h>

#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "settings/profile.h"
#include "shared/domain_colours.h"
#include "shared/flow_keys.h"
#include "shared/host_names.h"

namespace tw::shared {
namespace {

std::uint32_t addr(const char* text) { return *parse_address(text); }

TEST(FlowKeys, KeyTextsAndTableLimit) {
  EXPECT_EQ(tcp_flow_key("10.0.0.1", 80, "10.0.0.2", 5050), "TCP_10.0.0.1:80-TCP_10.0.0.2:5050$");
  EXPECT_EQ(udp_flow_key("0.0.0.0", 53), "UDP_0.0.0.0:53$");
  EXPECT_EQ(address_text(addr("192.168.1.20")), "192.168.1.20");

  FlowKeyTable table;
  std::vector<FlowKey> keys;
  keys.reserve(701);
  for (int i = 0; i < 700; ++i) keys.push_back({udp_flow_key("10.0.0.1", static_cast<unsigned>(i)), i});
  keys.insert(keys.begin() + 1, FlowKey{udp_flow_key("10.0.0.1", 0), 999});  // a duplicate: the first wins
  table.replace(std::move(keys));
  EXPECT_EQ(table.size(), kMaxFlowKeys);
  EXPECT_EQ(table.owner(udp_flow_key("10.0.0.1", 0)), 0);
  EXPECT_EQ(table.owner(udp_flow_key("10.0.0.1", 598)), 598);
  EXPECT_EQ(table.owner(udp_flow_key("10.0.0.1", 599)), std::nullopt);  // pushed past the limit
  table.replace({{tcp_flow_key("1.2.3.4", 1, "5.6.7.8", 2), -1}});
  EXPECT_EQ(table.owner(tcp_flow_key("1.2.3.4", 1, "5.6.7.8", 2)), -1);
  EXPECT_EQ(table.owner(udp_flow_key("10.0.0.1", 0)), std::nullopt);
}

TEST(HostNames, AddressParsingAndPrivateRanges) {
  EXPECT_FALSE(parse_address("1.2.3"));
  EXPECT_FALSE(parse_address("1.2.3.256"));
  EXPECT_FALSE(parse_address("1.2.3.4 "));
  EXPECT_FALSE(parse_address("(1.2.3.4)"));
  EXPECT_FALSE(parse_address("::ffff:10.0.0.1"));  // an IPv6 text, even one that maps IPv4
  EXPECT_EQ(parse_address("192.0.2.1"), 0x010200C0u);  // network order
  EXPECT_TRUE(is_private_address("10.1.2.3"));
  EXPECT_TRUE(is_private_address("172.31.0.1"));
  EXPECT_FALSE(is_private_address("172.32.0.1"));
  EXPECT_TRUE(is_private_address("192.168.0.1"));
  EXPECT_FALSE(is_private_address("192.169.0.1"));
}

struct CacheRig {
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  HostNameCache cache{resolver, workers};
  ~CacheRig() { workers.run_all(); }
};

TEST(HostNames, PendingThenNameThenAddressWhenNoneFound) {
  CacheRig r;
  r.resolver.names[addr("203.0.113.5")] = "www.example.co.jp";
  EXPECT_EQ(r.cache.host_name_for("203.0.113.5"), "(203.0.113.5)");
  EXPECT_EQ(r.cache.host_name_for("203.0.113.5"), "(203.0.113.5)");  // same slot, not a second one
  EXPECT_EQ(r.workers.jobs.size(), 1u);
  r.workers.run_all();
  EXPECT_EQ(r.cache.host_name_for("203.0.113.5"), "www.example.co.jp");

  EXPECT_EQ(r.cache.host_name_for("198.51.100.1"), "(198.51.100.1)");
  r.workers.run_all();
  EXPECT_EQ(r.cache.host_name_for("198.51.100.1"), "198.51.100.1");
  r.cache.host_name_for("198.51.100.1");
  EXPECT_TRUE(r.workers.jobs.empty());  // a failed lookup is not asked again

  r.cache.empty();
  EXPECT_EQ(r.cache.host_name_for("203.0.113.5"), "(203.0.113.5)");
}

TEST(HostNames, TwelveSlotsThenWaitForAFreeOne) {
  CacheRig r;
  for (int i = 1; i <= 13; ++i) r.cache.host_name_for("198.51.100." + std::to_string(i));
  EXPECT_EQ(r.workers.jobs.size(), kLookupSlots);
  EXPECT_EQ(r.cache.busy_slots(), kLookupSlots);
  r.workers.run_one();
  r.cache.host_name_for("198.51.100.13");  // asked again at a later refresh
  EXPECT_EQ(r.workers.jobs.size(), kLookupSlots);
  r.workers.run_all();
  EXPECT_EQ(r.cache.host_name_for("198.51.100.13"), "198.51.100.13");
  EXPECT_EQ(r.cache.busy_slots(), 0u);

  // No thread to be had: the slot goes back and nothing is cached.
  r.workers.can_start = false;
  EXPECT_EQ(r.cache.host_name_for("198.51.100.99"), "(198.51.100.99)");
  EXPECT_EQ(r.cache.busy_slots(), 0u);
}

TEST(HostNames, PrivateFallbackAndCacheLimit) {
  CacheRig r;
  r.resolver.local_names[addr("192.168.7.7")] = "nas.lan";
  r.resolver.local_names[addr("8.8.4.4")] = "public-from-hosts";
  EXPECT_EQ(r.cache.resolve_now("192.168.7.7"), "nas.lan");
  EXPECT_EQ(r.cache.resolve_now("8.8.4.4"), "8.8.4.4");  // public: DNS only

  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  HostNameCache no_fallback(resolver, workers, false);
  resolver.local_names[addr("192.168.7.7")] = "nas.lan";
  EXPECT_EQ(no_fallback.resolve_now("192.168.7.7"), "192.168.7.7");

  r.cache.empty();
  for (std::size_t i = 0; i < kMaxCachedNames; ++i)
    r.cache.resolve_now("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256));
  EXPECT_EQ(r.cache.size(), kMaxCachedNames);
  r.cache.resolve_now("10.99.0.1");  // the full cache starts over
  EXPECT_EQ(r.cache.size(), 1u);
}

// Names come from other people's name servers, hosts files and processes:
// whatever controls they hold must not reach a log or list line as controls.
TEST(HostNames, NamesLoseTheirControlCharacters) {
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  HostNameCache cache(resolver, workers);
  // C0 (a line end, an escape), DEL, C1 (NEL), LINE SEPARATOR; other text,
  // Japanese included, stays.
  resolver.names[addr("192.0.2.1")] = "a\nFORGED\x1b[2J\x7f\xc2\x85\xe2\x80\xa8\xe5\x90\x8d.example";
  EXPECT_EQ(cache.resolve_now("192.0.2.1"), "a?FORGED?[2J???\xe5\x90\x8d.example");
  resolver.local_names[addr("10.0.0.1")] = "nas\r\n";
  cache.host_name_for("10.0.0.1");
  workers.run_all();
  EXPECT_EQ(cache.host_name_for("10.0.0.1"), "nas??");
}

TEST(DomainColours, SuffixRules) {
  EXPECT_EQ(cell_colour_key("city.example.LG.JP"), ColourKey::LgJp);
  EXPECT_EQ(cell_colour_key("www.example.jp"), ColourKey::DefJp);
  EXPECT_EQ(cell_colour_key("host.example.co.jp"), ColourKey::CoJp);
  EXPECT_EQ(cell_colour_key("example.info"), ColourKey::Info);
  EXPECT_EQ(cell_colour_key("mail.example.com"), ColourKey::Com);
  EXPECT_EQ(cell_colour_key("example.de"), ColourKey::Default);
  EXPECT_EQ(cell_colour_key("192.168.0.1"), ColourKey::IpAddr);
  EXPECT_EQ(cell_colour_key(""), ColourKey::IpAddr);
  EXPECT_EQ(cell_colour_key("(192.168.0.1)"), ColourKey::Default);  // a pending name
  EXPECT_EQ(status_colour_key("Connecting"), ColourKey::ProtoDl);
  EXPECT_EQ(status_colour_key("接続中"), ColourKey::ProtoDl);
  EXPECT_EQ(status_colour_key("Waiting"), ColourKey::ProtoUl);
}

TEST(DomainColours, SettingsRoundTripAndAbsentListColours) {
  platform::FakeFileStore files;
  settings::Profile profile(files, "/d/tarnix.ini");
  auto c = load_list_colours(profile);
  EXPECT_FALSE(c.has_background);
  EXPECT_EQ(c.get(ColourKey::DefJp), 0x60AFFFu);
  c.set(ColourKey::Info, 0x123456);
  save_list_colours(profile, c);
  const auto back = load_list_colours(profile);
  EXPECT_TRUE(back.has_background);
  EXPECT_EQ(back.get(ColourKey::Info), 0x123456u);
  EXPECT_EQ(cell_colour(back, "x.info"), 0x123456u);
}

}  // namespace
}  // namespace tw::shared
