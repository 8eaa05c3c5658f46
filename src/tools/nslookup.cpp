#include "tools/nslookup.h"

#include <cctype>
#include <optional>

#include "base/text_helpers.h"
#include "settings/int_parse.h"
#include "tools/whois.h"

namespace tw::tools {

using detail::sformat;
namespace t = platform::dns_type;

const std::array<RecordTypeText, 9> kRecordTypes = {{
    {"A", t::kA, "\r\n----- A Record -----------------------------------------------------\r\n",
     "A Record are not available.\r\n",
     "\r\n----- Aレコード ----------------------------------------------------\r\n", "Aレコードはありません.\r\n"},
    {"NS", t::kNS, "\r\n----- NS Record ----------------------------------------------------\r\n",
     "NS Record are not available.\r\n",
     "\r\n----- NSレコード ---------------------------------------------------\r\n", "NSレコードはありません.\r\n"},
    {"CNAME", t::kCNAME, "\r\n----- CNAME Record -------------------------------------------------\r\n",
     "CNAME Record are not available.\r\n",
     "\r\n----- CNAMEレコード ------------------------------------------------\r\n",
     "CNAMEレコードはありません.\r\n"},
    {"PTR", t::kPTR, "\r\n----- PTR Record ---------------------------------------------------\r\n",
     "PTR Record are not available.\r\n",
     "\r\n----- PTRレコード --------------------------------------------------\r\n", "PTRレコードはありません.\r\n"},
    {"MX", t::kMX, "\r\n----- MX Record ----------------------------------------------------\r\n",
     "MX Record are not available.\r\n",
     "\r\n----- MXレコード ---------------------------------------------------\r\n", "MXレコードはありません.\r\n"},
    {"WKS", t::kWKS, "\r\n----- WKS Record ---------------------------------------------------\r\n",
     "WKS Record are not available.\r\n",
     "\r\n----- WKSレコード --------------------------------------------------\r\n", "WKSレコードはありません.\r\n"},
    {"SOA", t::kSOA, "\r\n----- SOA Record ---------------------------------------------------\r\n",
     "SOA Record are not available.\r\n",
     "\r\n----- SOAレコード --------------------------------------------------\r\n", "SOAレコードはありません.\r\n"},
    {"HINFO", t::kHINFO, "\r\n----- HINFO Record -------------------------------------------------\r\n",
     "HINFO Record are not available.\r\n",
     "\r\n----- HINFOレコード ------------------------------------------------\r\n",
     "HINFOレコードはありません.\r\n"},
    {"TXT", t::kTXT, "\r\n----- TXT Record ---------------------------------------------------\r\n",
     "TXT Record are not available.\r\n",
     "\r\n----- TXTレコード --------------------------------------------------\r\n", "TXTレコードはありません.\r\n"},
}};

std::string_view record_header(std::size_t index, Language lang) {
  const auto& r = kRecordTypes.at(index);
  return pick(lang, r.header_en, r.header_ja);
}

std::string_view record_failure(std::size_t index, Language lang) {
  const auto& r = kRecordTypes.at(index);
  return pick(lang, r.failure_en, r.failure_ja);
}

std::string record_entry(const platform::DnsRecord& r, const std::string& name_address) {
  // Names and strings come from a DNS server: a control byte in them would
  // break the lines of the listing.
  const auto clean = [](const std::string& s) { return detail::without_control_chars(s); };
  switch (r.type) {
    case t::kA: return sformat("%s\r\n", r.address.c_str());
    case t::kNS: return sformat("%s (%s)\r\n", clean(r.name).c_str(), name_address.c_str());
    case t::kCNAME:
    case t::kPTR: return sformat("%s\r\n", clean(r.name).c_str());
    case t::kMX:
      return sformat("MX Preference = %4d , Mail eXchange = %s (%s)\r\n", r.preference, clean(r.name).c_str(),
                     name_address.c_str());
    case t::kWKS:
      return sformat("IPv4 Address = %s , Protocol = %s , BitMask = %d\r\n", r.address.c_str(),
                     r.protocol == 6 ? "TCP" : "UDP", r.bitmap_first_byte);
    case t::kSOA:
      // The counters are unsigned 32-bit; a serial above 2^31 (a date-based
      // one in some zones) must not print as a negative number.
      return sformat(
          "Primary Server     = %s\r\nName Administrator = %s\r\nSerial No.         = %12u\r\n"
          "Refresh            = %12u\r\nRetry              = %12u\r\nExpire             = %12u\r\n"
          "Default TTL        = %12u\r\n",
          clean(r.name).c_str(), clean(r.mailbox).c_str(), r.serial, r.refresh, r.retry, r.expire, r.minimum);
    case t::kHINFO:
    case t::kTXT:
      if (r.strings.empty()) return {};
      return sformat("%s\r\n", clean(r.strings.front()).c_str());
    default: return {};
  }
}

std::string address_text(platform::HostLookup& hosts, const std::string& name, std::stop_token token) {
  if (is_digits_and_dots(name)) return name;
  auto a = hosts.first_address(name, token);
  if (a) return *a;
  return "* " + a.error().headline;
}

namespace {

// "%i.%i.%i.%i" read as sscanf does; the four numbers, or nullopt.
std::optional<std::array<int, 4>> four_ints(std::string_view text) {
  std::array<int, 4> v{};
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    const auto n = settings::parse_c_int(text, pos);
    if (!n) return std::nullopt;
    v[static_cast<std::size_t>(i)] = *n;
  }
  return v;
}

bool is_private(const std::array<int, 4>& a) {
  return a[0] == 10 || (a[0] == 192 && a[1] == 168) || (a[0] == 172 && a[1] >= 16 && a[1] <= 31);
}

}  // namespace

std::string host_name_text(platform::HostLookup& hosts, const std::string& address, std::stop_token token) {
  auto name = hosts.name_of(address, token);
  if (name) return *name;
  const auto quad = four_ints(address);
  if (!quad) return address;
  if (is_private(*quad)) return hosts.hosts_name_of(address, token).value_or(address);
  return "※" + name.error().headline;
}

std::string address_lines(const std::string& address, const std::string& host_name) {
  return "IP Address  = " + address + "\r\n" + "Host Name   = " + host_name + "\r\n";
}

std::string NslookupRun::start(std::string_view target) {
  if (target.empty() || state_.load() != kIdle) return {};
  target_ = std::string(target);
  {
    std::lock_guard lock(mutex_);
    output_.clear();
  }
  ticks_ = 0;
  aborted_ = false;
  state_.store(kStarting);
  return pick(lang_, std::string("Search "), std::string("検索中 "));
}

std::string NslookupRun::stop() {
  int expected = kRunning;
  if (!state_.compare_exchange_strong(expected, kAbortRequested)) return {};
  aborted_ = true;
  return pick(lang_, std::string("Aborted."), std::string("中止しました.")) + "\r\n\r\n" + output();
}

void NslookupRun::append(const std::string& s) {
  std::lock_guard lock(mutex_);
  output_ += s;
}

void NslookupRun::cancel() {
  int expected = kStarting;
  if (!state_.compare_exchange_strong(expected, kAbortRequested)) (void)stop();
}

void NslookupRun::run_worker(platform::DnsClient* dns, platform::HostLookup& hosts, const RecordFilter& filter,
                             bool direct, std::stop_token token) {
  int expected = kStarting;
  if (!state_.compare_exchange_strong(expected, kRunning)) {
    state_.store(kFinished);
    return;
  }
  // A stopped lookup's text ("* ..." or a failure line) would not be the
  // answer: nothing is added once the token is stopped.
  const auto finish = [this] { state_.store(kFinished); };
  std::string target = target_;
  for (char& c : target) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string address = address_text(hosts, target, token);
  std::string lines = address_lines(address, host_name_text(hosts, address, token));
  if (token.stop_requested()) return finish();
  append(lines);
  const bool have_dns = dns != nullptr && dns->is_supported();
  for (std::size_t i = 0; have_dns && i < kRecordTypes.size() && state_.load() == kRunning; ++i) {
    if (!filter[i]) continue;
    const int type = kRecordTypes[i].type;
    auto answer = dns->query(target, type, direct, token);
    std::string text(record_header(i, lang_));
    if (!answer) {
      text += record_failure(i, lang_);
    } else {
      for (const auto& r : *answer) {
        if (r.type != type) continue;
        const bool named = type == t::kNS || type == t::kMX;
        text += record_entry(r, named ? address_text(hosts, r.name, token) : std::string());
      }
    }
    if (token.stop_requested()) break;
    append(text);
  }
  finish();
}

NslookupRun::TickOutput NslookupRun::tick() {
  TickOutput t;
  const int s = state_.load();
  if (s == kRunning) {
    if (++ticks_ % 2 == 0) t.append = pick(lang_, std::string("*"), std::string("■"));
  } else if (s == kFinished) {
    t.show = true;
    // An aborted run keeps saying so above what it found.
    t.text = aborted_ ? pick(lang_, std::string("Aborted."), std::string("中止しました.")) + "\r\n\r\n" + output()
                      : output();
    t.finished = true;
    state_.store(kIdle);
  }
  return t;
}

std::string NslookupRun::output() const {
  std::lock_guard lock(mutex_);
  return output_;
}

}  // namespace tw::tools
