#include "platform/linux/dns_client.h"

#include <arpa/inet.h>
#include <ldns/ldns.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "base/ip_address.h"
#include "base/text_helpers.h"
#include "platform/linux/cancel_wait.h"
#include "platform/linux/resolver.h"

namespace tw::platform {
namespace {

constexpr const char* kQueryFailed = "The DNS query failed.";
constexpr const char* kStubAddress = "127.0.0.53";

struct ResolverFree {
  void operator()(ldns_resolver* r) const { ldns_resolver_deep_free(r); }
};
struct PktFree {
  void operator()(ldns_pkt* p) const { ldns_pkt_free(p); }
};
struct RdfFree {
  void operator()(ldns_rdf* r) const { ldns_rdf_deep_free(r); }
};

// The nameserver addresses of a resolv.conf text.
std::vector<std::string> nameservers(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key, value;
    if (words >> key >> value && key == "nameserver") out.push_back(value);
  }
  return out;
}

// An rdf as presentation text (names without the root's trailing dot).
std::string rdf_text(const ldns_rdf* rdf) {
  if (!rdf) return {};
  char* s = ldns_rdf2str(rdf);
  if (!s) return {};
  std::string text(s);
  std::free(s);
  if (ldns_rdf_get_type(rdf) == LDNS_RDF_TYPE_DNAME && text.size() > 1 && text.back() == '.') text.pop_back();
  return text;
}

// A <character-string> rdf's bytes: a length byte, then that many bytes.
std::string rdf_string(const ldns_rdf* rdf) {
  if (!rdf || ldns_rdf_size(rdf) == 0) return {};
  const std::uint8_t* d = ldns_rdf_data(rdf);
  const std::size_t len = std::min<std::size_t>(d[0], ldns_rdf_size(rdf) - 1);
  return std::string(reinterpret_cast<const char*>(d + 1), len);
}

std::uint32_t rdf_u32(const ldns_rdf* rdf) {
  return rdf && ldns_rdf_size(rdf) == 4 ? ldns_rdf2native_int32(rdf) : 0;
}

DnsRecord to_record(const ldns_rr* rr) {
  DnsRecord r;
  r.type = static_cast<int>(ldns_rr_get_type(rr));
  const std::size_t n = ldns_rr_rd_count(rr);
  const auto rdf = [&](std::size_t i) -> const ldns_rdf* { return i < n ? ldns_rr_rdf(rr, i) : nullptr; };
  switch (r.type) {
    case dns_type::kA: r.address = rdf_text(rdf(0)); break;
    case dns_type::kAAAA:
      // The canonical text (RFC 5952), as every other IPv6 address is shown.
      if (const ldns_rdf* a = rdf(0); a && ldns_rdf_size(a) == 16)
        r.address = net::to_text(net::IpAddress::from_bytes(net::kFamilyIPv6, ldns_rdf_data(a)));
      break;
    case dns_type::kNS:
    case dns_type::kCNAME:
    case dns_type::kPTR: r.name = rdf_text(rdf(0)); break;
    case dns_type::kMX:
      if (rdf(0) && ldns_rdf_size(rdf(0)) == 2) r.preference = ldns_rdf2native_int16(rdf(0));
      r.name = rdf_text(rdf(1));
      break;
    case dns_type::kSOA:
      r.name = rdf_text(rdf(0));
      r.mailbox = rdf_text(rdf(1));
      r.serial = rdf_u32(rdf(2));
      r.refresh = rdf_u32(rdf(3));
      r.retry = rdf_u32(rdf(4));
      r.expire = rdf_u32(rdf(5));
      r.minimum = rdf_u32(rdf(6));
      break;
    case dns_type::kWKS:
      r.address = rdf_text(rdf(0));
      // ldns keeps the protocol byte and the bit map together in one rdf.
      if (const ldns_rdf* w = rdf(1); w && ldns_rdf_size(w) >= 1) {
        r.protocol = ldns_rdf_data(w)[0];
        if (ldns_rdf_size(w) >= 2) r.bitmap_first_byte = ldns_rdf_data(w)[1];
      }
      break;
    case dns_type::kHINFO:
    case dns_type::kTXT:
      for (std::size_t i = 0; i < n; ++i) r.strings.push_back(rdf_string(rdf(i)));
      break;
    default: break;
  }
  return r;
}

Result<std::vector<DnsRecord>> query_now(const DnsRoots& roots, const std::string& name, int type, bool direct) {
  const std::string config = resolver_config_path(roots, direct);
  ldns_resolver* raw = nullptr;
  if (ldns_resolver_new_frm_file(&raw, config.c_str()) != LDNS_STATUS_OK || !raw)
    return Error{kQueryFailed, "reading " + config, 0};
  const std::unique_ptr<ldns_resolver, ResolverFree> res(raw);
  ldns_resolver_set_retry(raw, 2);
  ldns_resolver_set_timeout(raw, timeval{3, 0});
  // An absolute name: no search domains are tried behind the user's back.
  const std::string absolute = name.empty() || name.back() != '.' ? name + "." : name;
  const std::unique_ptr<ldns_rdf, RdfFree> qname(ldns_dname_new_frm_str(absolute.c_str()));
  if (!qname) return Error{kQueryFailed, "\"" + name + "\" is not a domain name", 0};
  ldns_pkt* pkt_raw = nullptr;
  const ldns_status st = ldns_resolver_query_status(&pkt_raw, raw, qname.get(), static_cast<ldns_rr_type>(type),
                                                    LDNS_RR_CLASS_IN, LDNS_RD);
  const std::unique_ptr<ldns_pkt, PktFree> pkt(pkt_raw);
  if (st != LDNS_STATUS_OK || !pkt) return Error{kQueryFailed, name + ": " + ldns_get_errorstr_by_id(st), 0};
  if (ldns_pkt_get_rcode(pkt.get()) != LDNS_RCODE_NOERROR)
    return Error{kQueryFailed, name + ": rcode " + std::to_string(ldns_pkt_get_rcode(pkt.get())), 0};
  const ldns_rr_list* answer = ldns_pkt_answer(pkt.get());
  std::vector<DnsRecord> out;
  for (std::size_t i = 0; answer && i < ldns_rr_list_rr_count(answer); ++i)
    out.push_back(to_record(ldns_rr_list_rr(answer, i)));
  if (out.empty()) return Error{kQueryFailed, name + ": no records", 0};
  return out;
}

}  // namespace

std::string resolver_config_path(const DnsRoots& roots, bool direct) {
  const std::string main = roots.etc + "/resolv.conf";
  if (!direct) return main;
  const auto servers = nameservers(main);
  const bool stub_only = !servers.empty() && std::all_of(servers.begin(), servers.end(),
                                                         [](const std::string& s) { return s == kStubAddress; });
  const std::string upstream = roots.run + "/systemd/resolve/resolv.conf";
  if (stub_only && ::access(upstream.c_str(), R_OK) == 0) return upstream;
  return main;
}

bool LdnsDnsClient::is_supported() { return ::access((roots_.etc + "/resolv.conf").c_str(), R_OK) == 0; }

Result<std::vector<DnsRecord>> LdnsDnsClient::query(const std::string& name, int type, bool direct,
                                                    std::stop_token stop) {
  // The work owns copies of everything it reads: a stop leaves it running.
  auto answer = run_abandonable(stop, [roots = roots_, name, type, direct] {
    return query_now(roots, name, type, direct);
  });
  if (!answer) return Error::from_errno(kQueryFailed, name, kCancelledErrno);
  return std::move(*answer);
}

namespace {

// getaddrinfo's order puts IPv6 first on a machine with a global IPv6
// address; the address line prefers IPv4 all the same and shows IPv6 only
// for a name that has nothing else.
Result<std::string> first_address_now(const std::string& name, bool ipv6) {
  addrinfo hints{};
  hints.ai_family = ipv6 ? AF_UNSPEC : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (rc != 0 || !found) return Error{gai_strerror(rc), "resolving " + name, 0};
  const addrinfo* pick = nullptr;
  for (const addrinfo* a = found; a && !pick; a = a->ai_next)
    if (a->ai_family == AF_INET) pick = a;
  for (const addrinfo* a = found; a && !pick; a = a->ai_next)
    if (a->ai_family == AF_INET6) pick = a;
  std::string text;
  if (pick && pick->ai_family == AF_INET) {
    sockaddr_in v4{};
    std::memcpy(&v4, pick->ai_addr, sizeof v4);
    text = net::to_text(net::IpAddress::v4(v4.sin_addr.s_addr));
  } else if (pick) {
    sockaddr_in6 v6{};
    std::memcpy(&v6, pick->ai_addr, sizeof v6);
    text = net::to_text(net::IpAddress::from_bytes(net::kFamilyIPv6, &v6.sin6_addr));
  }
  freeaddrinfo(found);
  if (text.empty()) return Error{gai_strerror(EAI_FAMILY), "resolving " + name, 0};
  return text;
}

Result<std::string> name_of_now(const std::string& address) {
  sockaddr_storage ss{};
  socklen_t len = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&ss);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&ss);
  if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    len = sizeof *v4;
  } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    len = sizeof *v6;
  } else {
    return Error{gai_strerror(EAI_NONAME), address + " is not an address", 0};
  }
  char host[NI_MAXHOST];
  const int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&ss), len, host, sizeof host, nullptr, 0, NI_NAMEREQD);
  if (rc != 0) return Error{gai_strerror(rc), "looking up " + address, 0};
  return std::string(host);
}

// The headline a stopped lookup leaves: never shown (the run that asked is
// being abandoned), but it must not read as an answer.
Error lookup_cancelled(const std::string& what) { return Error::from_errno("The lookup was stopped.", what, kCancelledErrno); }

}  // namespace

Result<std::string> SystemHostLookup::first_address(const std::string& name, bool ipv6, std::stop_token stop) {
  auto r = run_abandonable(stop, [name, ipv6] { return first_address_now(name, ipv6); });
  if (!r) return lookup_cancelled("resolving " + name);
  return std::move(*r);
}

Result<std::string> SystemHostLookup::name_of(const std::string& address, std::stop_token stop) {
  auto r = run_abandonable(stop, [address] { return name_of_now(address); });
  if (!r) return lookup_cancelled("looking up " + address);
  return std::move(*r);
}

std::optional<std::string> SystemHostLookup::hosts_name_of(const std::string& address, std::stop_token stop) {
  const auto ip = net::parse_ip(address);
  if (!ip) return std::nullopt;
  auto r = run_abandonable(stop, [a = *ip] { return SystemReverseResolver().local_name_of_ip(a); });
  return r ? std::move(*r) : std::nullopt;
}

}  // namespace tw::platform
