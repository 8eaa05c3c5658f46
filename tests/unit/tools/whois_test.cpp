// WHOIS: server table, target reduction, server choice and reply conversion.
#include <gtest/gtest.h>

#include "platform/fake/fake_file_store.h"
#include "tools/whois.h"

namespace tw::tools {
namespace {

TEST(Whois, TargetIsCutToItsRegistrablePart) {
  EXPECT_EQ(reduce_whois_target("HOST.EXAMPLE.COM"), "example.com");
  EXPECT_EQ(reduce_whois_target("host.sub.example.com"), "example.com");
  EXPECT_EQ(reduce_whois_target("m.x.co.jp"), "x.co.jp");
  EXPECT_EQ(reduce_whois_target("host.sub.example.co.jp"), "example.co.jp");
  EXPECT_EQ(reduce_whois_target("x.jp"), "x.jp");
  EXPECT_EQ(reduce_whois_target("www.example.de"), "www.example.de");  // two-letter top level: kept
  EXPECT_EQ(reduce_whois_target("www.example.info"), "www.example.info");
  EXPECT_EQ(reduce_whois_target("192.0.2.1"), "192.0.2.1");
  EXPECT_EQ(reduce_whois_target(""), "");
  EXPECT_EQ(reduce_whois_target("a.b"), "");  // too short to ask about
  EXPECT_EQ(reduce_whois_target(std::string(256, 'a')), "");
}

TEST(Whois, TableLinesTakeSlotsAndCommentsDoNot) {
  const auto t = parse_whois_table(
      "# comment\n; also\n!and this\n .com = whois.verisign-grs.com \r\n\nno-equals-here\n.jp=whois.jprs.jp\n.x=\n");
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[0], (WhoisServerEntry{".com", "whois.verisign-grs.com"}));
  EXPECT_EQ(t[1], WhoisServerEntry{});  // the empty line
  EXPECT_EQ(t[2], WhoisServerEntry{});
  EXPECT_EQ(t[3], (WhoisServerEntry{".jp", "whois.jprs.jp"}));
  EXPECT_EQ(t[4], WhoisServerEntry{});  // shorter than six characters
  std::string many;
  for (int i = 0; i < 600; ++i) many += ".t" + std::to_string(i) + "=s\n";
  EXPECT_EQ(parse_whois_table(many).size(), kMaxWhoisServers);
}

TEST(Whois, ServerChoice) {
  const auto t = parse_whois_table(
      "\n.co.uk=whois.nic.uk\n.uk=other\n.com=com-server\n"
      "1.128.0.0-2.127.255.255=span\n10.0.0.0-10.255.255.255=ten\n0.0.0.0-255.255.255.255=all\n");
  // The blank first line matches nothing, although it comes first.
  EXPECT_EQ(choose_whois_server(t, "example.co.uk"), "whois.nic.uk");
  EXPECT_EQ(choose_whois_server(t, "example.com"), "com-server");
  EXPECT_EQ(choose_whois_server(t, "example.org"), "");
  EXPECT_EQ(choose_whois_server(t, "10.1.2.3"), "ten");
  // Ranges compare whole addresses, also across a first-number boundary.
  EXPECT_EQ(choose_whois_server(t, "1.200.0.1"), "span");
  EXPECT_EQ(choose_whois_server(t, "2.100.0.0"), "span");
  EXPECT_EQ(choose_whois_server(t, "2.200.0.0"), "all");
  EXPECT_EQ(choose_whois_server(t, "1.2.3"), "");
  EXPECT_EQ(choose_whois_server(parse_whois_table(".com=x\n"), "192.0.2.1"), "");
}

// IPv6 targets are asked about in their canonical text and matched against
// IPv6 prefixes or ranges only; with IPv6 off they go the way they went
// before (no IPv6 entry is ever chosen).
TEST(Whois, Ipv6TargetsAndPatterns) {
  EXPECT_EQ(reduce_whois_target("2001:DB8:0:0::1"), "2001:db8::1");
  EXPECT_EQ(reduce_whois_target("::ffff:192.0.2.1"), "192.0.2.1");
  EXPECT_EQ(reduce_whois_target("::1"), "::1");
  EXPECT_EQ(reduce_whois_target("::1", false), "");  // too short, as before
  EXPECT_EQ(reduce_whois_target("::ffff:192.0.2.1", false), "2.1");
  EXPECT_EQ(reduce_whois_target("Example.COM"), "example.com");

  const auto t = parse_whois_table(
      ".com=com-server\n0.0.0.0-255.255.255.255=all4\n2001:db8::/33=low\n"
      "2001:db8:8000::-2001:db8:ffff:ffff:ffff:ffff:ffff:ffff=high\n2001:db8::/32=never\n"
      "2001:zz::/32=broken\n2000::/3=rest\n");
  EXPECT_EQ(choose_whois_server(t, "2001:db8::1"), "low");
  EXPECT_EQ(choose_whois_server(t, "2001:db8:7fff::1"), "low");
  EXPECT_EQ(choose_whois_server(t, "2001:db8:8000::"), "high");
  EXPECT_EQ(choose_whois_server(t, "2001:db9::1"), "rest");
  EXPECT_EQ(choose_whois_server(t, "fd00::1"), "");  // no entry holds it: the query fails
  EXPECT_EQ(choose_whois_server(t, "192.0.2.1"), "all4");
  EXPECT_EQ(choose_whois_server(t, "2001:db8::1", false), "");

  // The default table: the registries' blocks, and ARIN for the rest.
  const auto d = parse_whois_table(default_whois_table());
  EXPECT_EQ(choose_whois_server(d, "2001:200::1"), "whois.apnic.net");
  EXPECT_EQ(choose_whois_server(d, "2001:67c:2e8:22::c100:68b"), "whois.ripe.net");
  EXPECT_EQ(choose_whois_server(d, "2800:3f0:4001:80b::200e"), "whois.lacnic.net");
  EXPECT_EQ(choose_whois_server(d, "2c0f:f248::1"), "whois.afrinic.net");
  EXPECT_EQ(choose_whois_server(d, "2620:0:2d0:200::7"), "whois.arin.net");
  EXPECT_EQ(choose_whois_server(d, "2404:6800:4004::1"), "whois.apnic.net");
  EXPECT_EQ(choose_whois_server(d, "2a01:4f8::1"), "whois.ripe.net");
  EXPECT_EQ(choose_whois_server(d, "193.0.6.139"), "whois.ripe.net");
  EXPECT_EQ(choose_whois_server(d, "fd00::1"), "");
}

TEST(Whois, MissingTableIsWrittenFromTheDefault) {
  platform::FakeFileStore files;
  const auto t = load_whois_table(files, "/d/tarnix_whois.txt");
  EXPECT_EQ(files.files.at("/d/tarnix_whois.txt"), default_whois_table());
  EXPECT_EQ(choose_whois_server(t, "example.com"), "whois.verisign-grs.com");
  EXPECT_EQ(choose_whois_server(t, "x.co.jp"), "whois.jprs.jp");
  EXPECT_EQ(choose_whois_server(t, "193.0.6.139"), "whois.ripe.net");
  EXPECT_EQ(choose_whois_server(t, "8.8.8.8"), "whois.arin.net");
  files.unreadable.insert("/d/tarnix_whois.txt");
  EXPECT_TRUE(load_whois_table(files, "/d/tarnix_whois.txt").empty());
}

TEST(Whois, ReplyConversion) {
  EXPECT_EQ(whois_request("example.com"), "example.com \r\n");
  // Bare LF becomes CR LF; an existing CR LF stays as it is.
  EXPECT_EQ(convert_whois_reply("a\nb\r\nc\n", "example.com"), "a\r\nb\r\nc\r\n");
  // ISO-2022-JP: "登録者: 日本".
  const std::string jis = "\x1B$BEPO?<T\x1B(B: \x1B$BF|K\\\x1B(B\n";
  EXPECT_EQ(convert_whois_reply(jis, "example.com"), "登録者: 日本\r\n");
  EXPECT_EQ(convert_whois_reply(jis, "example.co.jp"), "登録者: 日本\r\n");
  // UTF-8 is kept; EUC-JP is recognised for .jp; other bytes read as Latin-1.
  EXPECT_EQ(convert_whois_reply("名前", "x.jp"), "名前");
  EXPECT_EQ(convert_whois_reply("\xC6\xFC\xCB\xDC", "x.jp"), "日本");
  EXPECT_EQ(convert_whois_reply("caf\xE9", "example.fr"), "café");
  // Control bytes cannot break the box; a truncated escape sequence is no fault.
  EXPECT_EQ(convert_whois_reply("a\x07z\x1B", "example.com"), "a?z?");
  EXPECT_FALSE(convert_whois_reply("\x1B$BF", "example.com").empty());
  EXPECT_EQ(whois_output(""), "Failed.\r\n\r\n");
  EXPECT_EQ(whois_output("x"), "x");
}

}  // namespace
}  // namespace tw::tools
