#pragma once
// DNS queries by record type, and the forward and reverse host lookups of the
// NSLOOKUP tool.
//
// Every call blocks until the resolver answers or gives up, or until `stop` is
// requested (then at once, with an error whose errno_value is
// kCancelledErrno, or nullopt); the tool calls them from its worker thread.
// Implementations never throw.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "platform/cancellation.h"

namespace tw::platform {

// Record type numbers as the DNS numbers them.
namespace dns_type {
inline constexpr int kA = 1, kNS = 2, kCNAME = 5, kSOA = 6, kWKS = 11, kPTR = 12, kHINFO = 13, kMX = 15,
                     kTXT = 16;
}

// One record of an answer. Names are without the root's trailing dot.
struct DnsRecord {
  int type = 0;
  std::string address;                // A, WKS: dotted decimal
  std::string name;                   // NS, CNAME, PTR: the name; MX: exchange; SOA: primary server
  std::string mailbox;                // SOA: the administrator's mailbox as a name
  std::uint32_t serial = 0, refresh = 0, retry = 0, expire = 0, minimum = 0;  // SOA
  std::uint16_t preference = 0;       // MX
  int protocol = 0;                   // WKS: IP protocol number
  int bitmap_first_byte = 0;          // WKS: first byte of the port bit map (0 when empty)
  std::vector<std::string> strings;   // HINFO (CPU, OS), TXT: the character strings, raw bytes
  friend bool operator==(const DnsRecord&, const DnsRecord&) = default;
};

class DnsClient {
 public:
  virtual ~DnsClient() = default;
  // False when there is no resolver configuration to ask.
  virtual bool is_supported() = 0;
  // The answer section's records for `name` and `type`, in answer order
  // (records of other types, such as the CNAME chain of an A query, included).
  // An error when the query failed or the answer holds no record.
  // `direct`: ask the upstream servers rather than a local caching stub.
  virtual Result<std::vector<DnsRecord>> query(const std::string& name, int type, bool direct,
                                               std::stop_token stop) = 0;
};

class HostLookup {
 public:
  virtual ~HostLookup() = default;
  virtual bool is_supported() { return true; }
  // The first address of `name` as text (getaddrinfo, stream sockets, any
  // family). On failure the error's headline is the system's text for the
  // reason.
  virtual Result<std::string> first_address(const std::string& name, std::stop_token stop) = 0;
  // The name registered for `address` (a name is required). On failure the
  // error's headline is the system's text for the reason.
  virtual Result<std::string> name_of(const std::string& address, std::stop_token stop) = 0;
  // The older host lookup (hosts file and other name services), for private
  // addresses that DNS does not know.
  virtual std::optional<std::string> hosts_name_of(const std::string& address, std::stop_token stop) = 0;
};

}  // namespace tw::platform
