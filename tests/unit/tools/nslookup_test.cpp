// NSLOOKUP: address lines, record sections and the run's states.
#include <gtest/gtest.h>

// Designated initialisers name only the fields a record type uses.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include "platform/fake/fake_dns_client.h"
#include "tools/nslookup.h"

namespace tw::tools {
namespace {

namespace t = platform::dns_type;
using platform::DnsRecord;

DnsRecord a_record(const std::string& address) { return DnsRecord{.type = t::kA, .address = address}; }

struct Fixture {
  platform::FakeDnsClient dns;
  platform::FakeHostLookup hosts;

  std::string run(const std::string& target, RecordFilter filter = kDefaultRecordFilter,
                  Language lang = Language::English, bool ipv6 = true) {
    NslookupRun r(lang);
    if (r.start(target, ipv6).empty()) return "<not started>";
    r.run_worker(&dns, hosts, filter, false);
    auto tick = r.tick();
    EXPECT_TRUE(tick.finished);
    return tick.text;
  }
};

TEST(Nslookup, RecordEntries) {
  DnsRecord soa{.type = t::kSOA, .name = "ns1.example.com", .mailbox = "hostmaster.example.com",
                .serial = 4000000000u, .refresh = 7200, .retry = 900, .expire = 1209600, .minimum = 60};
  EXPECT_EQ(record_entry(soa, ""),
            "Primary Server     = ns1.example.com\r\nName Administrator = hostmaster.example.com\r\n"
            "Serial No.         =   4000000000\r\nRefresh            =         7200\r\n"
            "Retry              =          900\r\nExpire             =      1209600\r\n"
            "Default TTL        =           60\r\n");
  EXPECT_EQ(record_entry(DnsRecord{.type = t::kMX, .name = "mail.example.com", .preference = 10}, "192.0.2.25"),
            "MX Preference =   10 , Mail eXchange = mail.example.com (192.0.2.25)\r\n");
  EXPECT_EQ(record_entry(DnsRecord{.type = t::kNS, .name = "ns.example.com"}, "* Name or service not known"),
            "ns.example.com (* Name or service not known)\r\n");
  EXPECT_EQ(record_entry(DnsRecord{.type = t::kWKS, .address = "192.0.2.1", .protocol = 17, .bitmap_first_byte = 64},
                         ""),
            "IPv4 Address = 192.0.2.1 , Protocol = UDP , BitMask = 64\r\n");
  EXPECT_EQ(record_entry(DnsRecord{.type = t::kTXT, .strings = {"v=spf1 -all", "second"}}, ""), "v=spf1 -all\r\n");
  EXPECT_EQ(record_entry(DnsRecord{.type = t::kHINFO}, ""), "");
  // A name with a line break from a hostile server stays on its line.
  EXPECT_EQ(record_entry(DnsRecord{.type = t::kCNAME, .name = "a\r\nb"}, ""), "a??b\r\n");
}

TEST(Nslookup, ListingOfAllTypes) {
  Fixture f;
  f.hosts.addresses["www.example.com"] = "192.0.2.1";
  f.hosts.names["192.0.2.1"] = "web.example.com";
  f.hosts.addresses["mail.example.com"] = "192.0.2.25";
  f.dns.answers[{"www.example.com", t::kA}] = {
      DnsRecord{.type = t::kCNAME, .name = "web.example.com"}, a_record("192.0.2.1"), a_record("192.0.2.2"),
      a_record("192.0.2.3")};
  f.dns.answers[{"www.example.com", t::kMX}] = {DnsRecord{.type = t::kMX, .name = "mail.example.com", .preference = 5}};
  const std::string out = f.run("WWW.Example.com");
  std::string expected = "IP Address  = 192.0.2.1\r\nHost Name   = web.example.com\r\n";
  expected += std::string(record_header(0, Language::English)) + "192.0.2.1\r\n192.0.2.2\r\n192.0.2.3\r\n";
  for (std::size_t i = 1; i < kRecordTypes.size(); ++i) {
    expected += record_header(i, Language::English);
    expected += i == 4 ? "MX Preference =    5 , Mail eXchange = mail.example.com (192.0.2.25)\r\n"
                       : std::string(record_failure(i, Language::English));
  }
  EXPECT_EQ(out, expected);
  EXPECT_EQ(f.dns.queries.size(), 10u);
  EXPECT_EQ(record_header(2, Language::English),
            "\r\n----- CNAME Record -------------------------------------------------\r\n");
  EXPECT_EQ(record_failure(8, Language::Japanese), "TXTレコードはありません.\r\n");
}

// Every header is as wide as the others in a fixed-width font, the Japanese
// characters taking two columns.
TEST(Nslookup, AaaaSectionTextsInBothLanguages) {
  EXPECT_EQ(record_header(9, Language::English),
            "\r\n----- AAAA Record --------------------------------------------------\r\n");
  EXPECT_EQ(record_failure(9, Language::English), "AAAA Record are not available.\r\n");
  EXPECT_EQ(record_failure(9, Language::Japanese), "AAAAレコードはありません.\r\n");
  const auto columns = [](std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += c < 0x80 ? 1 : c >= 0xE0 ? 2 : 0;
    return n;
  };
  for (std::size_t i = 0; i < kRecordTypes.size(); ++i) {
    EXPECT_EQ(columns(record_header(i, Language::English)), 72u) << i;
    EXPECT_EQ(columns(record_header(i, Language::Japanese)), 72u) << i;
  }
  EXPECT_EQ(record_entry(DnsRecord{.type = t::kAAAA, .address = "2001:db8::1"}, ""), "2001:db8::1\r\n");
}

// The AAAA section comes last, after the nine; the address lines show the
// IPv4 address when there is one and the IPv6 one only for a name without;
// with IPv6 off neither appears, as before IPv6 was supported.
TEST(Nslookup, AaaaRecordsAndIpv6AddressLines) {
  Fixture f;
  f.hosts.addresses["dual.example.com"] = "192.0.2.1";
  f.hosts.addresses6["dual.example.com"] = "2001:db8::1";
  f.hosts.addresses6["v6.example.com"] = "2001:db8::6";
  f.hosts.names["2001:db8::6"] = "six.example.com";
  f.hosts.addresses6["ula.example.com"] = "fd00:231::5";
  f.hosts.hosts_file["fd00:231::5"] = "nas.lan";
  f.dns.answers[{"v6.example.com", t::kAAAA}] = {DnsRecord{.type = t::kCNAME, .name = "x.example.com"},
                                                 DnsRecord{.type = t::kAAAA, .address = "2001:db8::6"},
                                                 DnsRecord{.type = t::kAAAA, .address = "2001:db8::7"}};
  RecordFilter only_aaaa{};
  only_aaaa[kAaaaFilterIndex] = 1;
  EXPECT_EQ(f.run("dual.example.com", RecordFilter{}),
            "IP Address  = 192.0.2.1\r\nHost Name   = ※Name or service not known\r\n");
  EXPECT_EQ(f.run("v6.example.com", only_aaaa),
            "IP Address  = 2001:db8::6\r\nHost Name   = six.example.com\r\n" +
                std::string(record_header(9, Language::English)) + "2001:db8::6\r\n2001:db8::7\r\n");
  EXPECT_EQ(f.run("ula.example.com", RecordFilter{}), "IP Address  = fd00:231::5\r\nHost Name   = nas.lan\r\n");
  f.hosts.hosts_file.clear();
  EXPECT_EQ(f.run("ula.example.com", RecordFilter{}),
            "IP Address  = fd00:231::5\r\nHost Name   = fd00:231::5\r\n");
  EXPECT_NE(f.run("v6.example.com", only_aaaa, Language::Japanese)
                .find("\r\n----- AAAAレコード -------------------------------------------------\r\n2001:db8::6\r\n"),
            std::string::npos);
  EXPECT_NE(f.run("dual.example.com", only_aaaa, Language::Japanese).find("AAAAレコードはありません.\r\n"),
            std::string::npos);

  // IPv6 off: the IPv4-only address line and no AAAA query at all.
  f.dns.queries.clear();
  EXPECT_EQ(f.run("v6.example.com", kDefaultRecordFilter, Language::English, false).find("AAAA"),
            std::string::npos);
  EXPECT_EQ(f.run("v6.example.com", only_aaaa, Language::English, false),
            "IP Address  = * Address family for hostname not supported\r\n"
            "Host Name   = * Address family for hostname not supported\r\n");
  EXPECT_EQ(f.dns.queries.size(), 9u);
}

TEST(Nslookup, AddressLinesForAddressesAndFailures) {
  Fixture f;
  const RecordFilter none{};
  // Digits and dots are not resolved forward; a public address without a
  // name shows the reason, a private one itself or its hosts-file name.
  EXPECT_EQ(f.run("198.51.100.7", none),
            "IP Address  = 198.51.100.7\r\nHost Name   = ※Name or service not known\r\n");
  EXPECT_EQ(f.run("172.20.1.1", none), "IP Address  = 172.20.1.1\r\nHost Name   = 172.20.1.1\r\n");
  f.hosts.hosts_file["192.168.1.5"] = "printer.lan";
  EXPECT_EQ(f.run("192.168.1.5", none), "IP Address  = 192.168.1.5\r\nHost Name   = printer.lan\r\n");
  EXPECT_EQ(f.run("no.such.name", none),
            "IP Address  = * Name or service not known\r\nHost Name   = * Name or service not known\r\n");
  EXPECT_TRUE(f.dns.queries.empty());
  // Without a DNS client only the address lines are made.
  f.dns.supported = false;
  EXPECT_EQ(f.run("172.20.1.1"), "IP Address  = 172.20.1.1\r\nHost Name   = 172.20.1.1\r\n");
}

TEST(Nslookup, ProgressAndAbortBetweenTypes) {
  Fixture f;
  NslookupRun run(Language::Japanese);
  EXPECT_EQ(run.start(""), "");
  EXPECT_EQ(run.start("example.com"), "検索中 ");
  EXPECT_EQ(run.stop(), "");  // not running yet
  std::string stop_text;
  f.dns.on_query = [&](int type) {
    if (type == t::kNS) {
      // Two ticks while running give one mark.
      EXPECT_EQ(run.tick().append, "");
      EXPECT_EQ(run.tick().append, "■");
      stop_text = run.stop();
    }
  };
  run.run_worker(&f.dns, f.hosts, kDefaultRecordFilter, true);
  EXPECT_TRUE(f.dns.last_direct);
  ASSERT_EQ(f.dns.queries.size(), 2u);  // the NS query completes, the rest are skipped
  EXPECT_EQ(stop_text.rfind("中止しました.\r\n\r\nIP Address  = ", 0), 0u);
  auto t = run.tick();
  EXPECT_TRUE(t.finished);
  EXPECT_EQ(t.text.rfind("中止しました.\r\n\r\n", 0), 0u);
  EXPECT_NE(t.text.find("NSレコードはありません."), std::string::npos);
}

}  // namespace
}  // namespace tw::tools
