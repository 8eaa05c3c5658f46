#include "traffic/info_report.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "base/format.h"
#include "base/text_helpers.h"

namespace tw::traffic {
using detail::sformat;

namespace {

// A label in both languages. The English text carries its own padding; the
// Japanese one is padded to the English display width when used.
struct Label {
  std::string_view en;
  std::string_view ja;
};

// Display columns of a UTF-8 text in a monospace font: every character from
// the Hangul/CJK ranges upward (U+1100 and above) is full-width. The labels
// below use only ASCII, kana and kanji, for which this is exact.
std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t len = 1;
    std::uint32_t cp = c;
    if (c >= 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else if (c >= 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xC0) {
      len = 2;
      cp = c & 0x1F;
    }
    for (std::size_t k = 1; k < len && i + k < text.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    width += cp >= 0x1100 ? 2 : 1;
    i += len;
  }
  return width;
}

std::string label(const Label& l, Language lang) {
  if (lang != Language::Japanese) return std::string(l.en);
  std::string out(l.ja);
  const std::size_t want = display_width(l.en);
  const std::size_t have = display_width(l.ja);
  if (have < want) out.append(want - have, ' ');
  return out;
}


std::string grouped(std::uint64_t v) {
  // The counters never reach 2^63; clamp rather than wrap to a negative text.
  return grouped_int64(static_cast<std::int64_t>(std::min<std::uint64_t>(v, INT64_MAX)));
}

constexpr std::array<std::string_view, 33> kTypeNames = {
    "Unknown", "Other", "Regular1822", "HDH1822", "DDN-x25", "RFC877-x25",
    "Ethernet-csmacd", "ISO88023-cmacd", "ISO88024-TokenBus", "ISO88025-TokenRing",
    "ISO88026-man", "StarLan", "Proteon-10Mbit", "Proteon-80Mbit", "HyperChannel", "FDDI",
    "LAPB", "SDLC", "DS1", "E1", "BasicISDN", "PrimaryISDN", "PropPointToPointSerial", "PPP",
    "SoftwareLoopback", "EON", "Ethernet-3Mbit", "Nsip", "Slip", "Ultra", "DS3", "SIP",
    "Frame-Relay"};
constexpr std::array<std::string_view, 4> kAdminNames = {"Unknown", "Up", "Down", "Testing"};
constexpr std::array<std::string_view, 6> kOperNames = {
    "NON OPERATIONAL", "UNREACHABLE", "DISCONNECTED", "CONNECTING", "CONNECTED", "OPERATIONAL"};

// --- network parameters --------------------------------------------------
constexpr Label kParamsTitle{"Network Parameter     ", "ネットワーク設定"};
constexpr Label kHostName{"Hostname:             ", "ホスト名:"};
constexpr Label kDomainName{"Domain Name:          ", "ドメイン名:"};
constexpr Label kDnsServer{"DNS Server:           ", "DNSサーバー:"};
constexpr Label kScopeId{"DHCP Scorp ID:        ", "DHCPスコープID:"};
constexpr Label kNodeType{"Node Type:            ", "ノードタイプ:"};
constexpr Label kRouting{"Routing:              ", "ルーティング:"};
constexpr Label kArpProxy{"ARP Proxy:            ", "ARPプロキシ:"};
constexpr Label kDns{"DNS:                  ", "DNS:"};

// --- adapters ---------------------------------------------------------------
constexpr Label kAdapterTitle{"Adapter Information", "アダプター情報"};
constexpr Label kIndex{"Index:                 ", "インデックス:"};
constexpr Label kAdapterName{"Adapter Name:          ", "アダプター名:"};
constexpr Label kAdapterDescr{"Adapter Description:   ", "アダプターの説明:"};
constexpr Label kIpAddress{"IP Address:            ", "IPアドレス:"};
constexpr Label kGateway{"GATEWAY Server:        ", "ゲートウェイ:"};
constexpr Label kDhcp{"DHCP:                  ", "DHCP:"};
constexpr Label kDhcpServer{"DHCP Server:           ", "DHCPサーバー:"};
constexpr Label kWins{"WINS:                  ", "WINS:"};
constexpr Label kPrimaryWins{"Primary WINS Server:   ", "プライマリWINSサーバー:"};
constexpr Label kSecondaryWins{"Secondary WINS Server: ", "セカンダリWINSサーバー:"};
constexpr Label kLeaseObtained{"DHCP Lease Obtained:   ", "DHCPリース取得日時:"};
constexpr Label kLeaseExpires{"DHCP Lease Expires:    ", "DHCPリース期限:"};

// --- interfaces -------------------------------------------------------------
constexpr Label kInterfaceTitle{"Interface Information", "インターフェイス情報"};
constexpr Label kIfNo{"Interface No.               ", "インターフェイス番号"};
constexpr Label kIfName{"Interface Name              ", "インターフェイス名"};
constexpr Label kIfNameLen{"Interface Member Length     ", "インターフェイス名の長さ"};
constexpr Label kIfIndex{"Identification Index        ", "識別インデックス"};
constexpr Label kIfType{"Interface Type              ", "インターフェイスの種類"};
constexpr Label kIfMtu{"MTU                         ", "MTU"};
constexpr Label kIfSpeed{"Maximum Transfer Speed      ", "最大転送速度"};
constexpr Label kIfPhysLen{"Physical Address Length     ", "物理アドレスの長さ"};
constexpr Label kIfMac{"MAC Address                 ", "MACアドレス"};
constexpr Label kIfAdmin{"Current Management State    ", "現在の管理状態"};
constexpr Label kIfOper{"Operational Status          ", "動作状態"};
constexpr Label kIfLastChange{"Last Update                 ", "最終更新"};
// The counters, in the order of the row's fields they show.
constexpr std::array<Label, 12> kIfCounters = {{
    {"Receive Octet               ", "受信オクテット"},
    {"Receive Unicast Packet      ", "受信ユニキャストパケット"},
    {"Receive Non-unicast Packet  ", "受信非ユニキャストパケット"},
    {"Receive Disposal Packet     ", "受信破棄パケット"},
    {"Receive Error Packet        ", "受信エラーパケット"},
    {"Receive Unknown Packet      ", "受信不明プロトコルパケット"},
    {"Send Octet                  ", "送信オクテット"},
    {"Send Unicast Packet         ", "送信ユニキャストパケット"},
    {"Send Non-unicast Packet     ", "送信非ユニキャストパケット"},
    {"Send Disposal Packet        ", "送信破棄パケット"},
    {"Send Error Packet           ", "送信エラーパケット"},
    {"Send Packet Cue Length      ", "送信キューの長さ"},
}};

// --- graph panel -------------------------------------------------------------
constexpr Label kPanelSpeed{"Maximum Transmission Speed   ", "最大転送速度"};
constexpr Label kPanelOper{"Operational Status           ", "動作状態"};
constexpr Label kPanelUcastSent{"Unicast packets Send         ", "送信ユニキャストパケット"};
constexpr Label kPanelNucastSent{"Non-unicast packets Send     ", "送信非ユニキャストパケット"};
constexpr Label kPanelUcastRecv{"Unicast packets Received     ", "受信ユニキャストパケット"};
constexpr Label kPanelNucastRecv{"Non-unicast packets Received ", "受信非ユニキャストパケット"};

std::string_view enable(bool on) { return on ? "Enable" : "Disable"; }

// "%15s": right-aligned in fifteen columns, never cut.
std::string right15(std::string_view s) {
  std::string out;
  if (s.size() < 15) out.assign(15 - s.size(), ' ');
  out.append(s);
  return out;
}

std::string lease_time(const std::optional<platform::LocalTime>& t, Language lang) {
  if (!t) return {};
  if (lang == Language::Japanese)
    return sformat("%04d/%02d/%02d %02d:%02d:%02d", t->year, t->month, t->day, t->hour, t->minute,
                   t->second);
  return sformat("%02d/%02d/%04d %02d:%02d:%02d", t->month, t->day, t->year, t->hour, t->minute,
                 t->second);
}

}  // namespace

std::string_view interface_type_name(std::uint32_t type) {
  return type >= 1 && type <= 32 ? kTypeNames[type] : kTypeNames[0];
}

std::string_view admin_status_name(std::uint32_t status) {
  return status >= 1 && status <= 3 ? kAdminNames[status] : kAdminNames[0];
}

std::string_view oper_status_name(std::uint32_t status) {
  // The table has no entry past 5; an unexpected code must not index beyond it.
  return status < kOperNames.size() ? kOperNames[status] : "Unknown";
}

std::string node_type_name(std::uint32_t node_type) {
  switch (node_type) {
    case platform::kNodeTypeBroadcast: return "Broadcast nodetype";
    case platform::kNodeTypePeerToPeer: return "Peer to peer nodetype";
    case platform::kNodeTypeMixed: return "Mixed nodetype";
    case platform::kNodeTypeHybrid: return "Hybrid nodetype";
    default: return "Unknown node type (" + sformat("%x", static_cast<unsigned>(node_type)) + ")";
  }
}

// ---------------------------------------------------------------------------

std::string network_params_report(std::uint32_t error, const platform::NetworkParams& p,
                                  Language lang) {
  std::string out = "----- " + label(kParamsTitle, lang) +
                    " ---------------------------------------\r\n";
  if (error != 0) {
    out += "NetworkParams failed. " + sformat("%08X", static_cast<unsigned>(error)) + "\r\n";
    return out;
  }
  auto line = [&](const Label& l, std::string_view value) {
    out += label(l, lang) + "       " + detail::without_control_chars(value) + "\r\n";
  };
  line(kHostName, p.host_name);
  line(kDomainName, p.domain_name);
  line(kDnsServer, p.dns_servers.empty() ? std::string_view{} : p.dns_servers.front());
  // Further servers go under the first, in the value column.
  const std::string blank(display_width(kDnsServer.en), ' ');
  for (std::size_t i = 1; i < p.dns_servers.size(); ++i)
    out += blank + "       " + detail::without_control_chars(p.dns_servers[i]) + "\r\n";
  line(kScopeId, p.scope_id);
  line(kNodeType, node_type_name(p.node_type));
  line(kRouting, enable(p.routing_enabled));
  line(kArpProxy, enable(p.arp_proxy_enabled));
  out += label(kDns, lang) + "       " + std::string(enable(p.dns_enabled)) + " \r\n";
  return out;
}

std::string network_params_report(platform::NetworkInfoSource& source, Language lang) {
  platform::NetworkParams params;
  const Status status = source.network_params(params);
  return network_params_report(status.ok() ? 0 : static_cast<std::uint32_t>(status.error().errno_value), params, lang);
}

std::string adapter_report(std::uint32_t error, const std::vector<platform::AdapterInfo>& adapters,
                           Language lang) {
  std::string out = "----- " + label(kAdapterTitle, lang) +
                    " -------------------------------------------------\r\n";
  if (error != 0) {
    out += "GetAdaptersInfo failed. " + sformat("%08x", static_cast<unsigned>(error)) + "\r\n";
    return out;
  }
  for (const auto& a : adapters) {
    auto line = [&](const Label& l, std::string_view value) {
      out += label(l, lang) + "      " + detail::without_control_chars(value) + "\r\n";
    };
    // An adapter without an address or gateway shows the empty IPv4 address,
    // as address lists conventionally do.
    line(kIndex, std::to_string(static_cast<std::int32_t>(a.index)));
    line(kAdapterName, a.name);
    line(kAdapterDescr, a.description);
    line(kIpAddress, a.addresses.empty() ? std::string_view("0.0.0.0") : a.addresses.front().address);
    line(kGateway, a.gateways.empty() ? std::string_view("0.0.0.0") : a.gateways.front());
    line(kDhcp, enable(a.dhcp_enabled));
    line(kDhcpServer, a.dhcp_server);
    line(kWins, enable(a.wins_enabled));
    line(kPrimaryWins, a.primary_wins);
    line(kSecondaryWins, a.secondary_wins);
    if (a.dhcp_enabled) {
      line(kLeaseObtained, lease_time(a.lease_obtained, lang));
      line(kLeaseExpires, lease_time(a.lease_expires, lang));
    }
    out += "\r\n";
  }
  return out;
}

std::string adapter_report(platform::NetworkInfoSource& source, Language lang) {
  std::vector<platform::AdapterInfo> adapters;
  const Status status = source.adapters(adapters);
  return adapter_report(status.ok() ? 0 : static_cast<std::uint32_t>(status.error().errno_value), adapters, lang);
}

std::vector<std::string> interface_report(bool table_ok, const std::vector<platform::LinkRow>& rows,
                                          Language lang) {
  std::vector<std::string> lines;
  lines.push_back("----- " + label(kInterfaceTitle, lang) +
                  " -----------------------------------------");
  if (!table_ok) return lines;
  lines.reserve(1 + rows.size() * 24);
  std::uint64_t number = 0;
  for (const auto& r : rows) {
    auto line = [&](const Label& l, std::string_view value) {
      lines.push_back(label(l, lang) + " " + std::string(value));
    };
    char buf[64];
    line(kIfNo, grouped(++number));  // rows are numbered from 1, as the user counts them
    line(kIfName, detail::without_control_chars(r.name));
    line(kIfNameLen, grouped(r.name.size()));
    line(kIfIndex, sformat("0x%8.8x", static_cast<unsigned>(r.index)));
    line(kIfType, std::string(interface_type_name(r.type)) + "(" +
                      std::to_string(static_cast<std::int32_t>(r.type)) + ")");
    line(kIfMtu, std::to_string(static_cast<std::int32_t>(r.mtu)));
    line(kIfSpeed, grouped(r.speed_bps) + " bps");
    line(kIfPhysLen, std::to_string(static_cast<std::int32_t>(r.phys_addr_len)));
    if (r.phys_addr_len == 0) {
      line(kIfMac, "00:00:00:00:00:00");
    } else {
      // Only the first six bytes are shown; the array is zero-filled past
      // the address, so a shorter address never reads stale bytes.
      const auto& m = r.phys_addr;
      std::snprintf(buf, sizeof buf, "%2.2x:%2.2x:%2.2x:%2.2x:%2.2x:%2.2x", m[0], m[1], m[2], m[3],
                    m[4], m[5]);
      line(kIfMac, buf);
    }
    line(kIfAdmin, std::string(admin_status_name(r.admin_status)) + "(" +
                       std::to_string(static_cast<std::int32_t>(r.admin_status)) + ")");
    line(kIfOper, std::string(oper_status_name(r.oper_status)) + "(" +
                      std::to_string(static_cast<std::int32_t>(r.oper_status)) + ")");
    line(kIfLastChange, std::to_string(r.last_change));
    const std::array<std::uint64_t, 12> counters = {
        r.in_octets,     r.in_ucast_pkts,  r.in_nucast_pkts,  r.in_discards,
        r.in_errors,     r.in_unknown_protos, r.out_octets,   r.out_ucast_pkts,
        r.out_nucast_pkts, r.out_discards, r.out_errors,      r.out_qlen};
    for (std::size_t i = 0; i < counters.size(); ++i) line(kIfCounters[i], grouped(counters[i]));
  }
  return lines;
}

std::vector<std::string> interface_report(platform::LinkStatsSource& source, Language lang) {
  std::vector<platform::LinkRow> rows;
  const bool ok = source.read_table(rows).ok();
  return interface_report(ok, rows, lang);
}

std::vector<std::string> interface_statistics_lines(const PanelInterfaceStats& s, Language lang) {
  // The 64-bit grouping throughout: packet counts pass 2^31 on a busy link,
  // where a 32-bit signed rendering would turn negative.
  return {
      label(kPanelSpeed, lang) + " " + right15(grouped(s.speed_bps)) + " bps",
      label(kPanelOper, lang) + " " + right15(oper_status_name(s.oper_status)),
      label(kPanelUcastSent, lang) + " " + right15(grouped(s.ucast_sent)) + " packet",
      label(kPanelNucastSent, lang) + " " + right15(grouped(s.nucast_sent)) + " packet",
      label(kPanelUcastRecv, lang) + " " + right15(grouped(s.ucast_received)) + " packet",
      label(kPanelNucastRecv, lang) + " " + right15(grouped(s.nucast_received)) + " packet",
  };
}

}  // namespace tw::traffic
