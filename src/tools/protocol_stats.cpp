#include "tools/protocol_stats.h"

#include <vector>

#include "base/text_helpers.h"

namespace tw::tools {
namespace {

using detail::sformat;

struct Label {
  const char* en;
  const char* ja;
};

constexpr Label kIpLabels[] = {
    {"IP Forwarding                       ", "IPフォワーディング                  "},
    {"Parent Datagram TTL                 ", "親データグラムのTTL                 "},
    {"Incoming Datagrams                  ", "受信データグラム数                  "},
    {"Errors Received headers             ", "受信ヘッダー・エラー数              "},
    {"Received address error              ", "受信アドレス・エラー数              "},
    {"Datagram was carried out            ", "進められたデータグラム数            "},
    {"Receiving Datagram Protocol Unknown ", "未知プロトコルの受信データグラム数  "},
    {"Received Datagrams Discarded        ", "廃棄した受信データグラム数          "},
    {"Transmission Received Datagram      ", "伝送した受信データグラム数          "},
    {"Datagrams sent the Request          ", "要求された送信データグラム数        "},
    {"Discarded Rutingudetaguramu         ", "廃棄したルーティングデータグラム数  "},
    {"Transmitted Datagrams Discarded     ", "廃棄した送信データグラム数          "},
    {"Datagrams do not have the Root      ", "ルートを持っていないデータグラム数  "},
    {"Reconfigure the timeout value       ", "再構成のタイムアウト値              "},
    {"Datagrams require reconstruction    ", "再構成を要求するデータグラム数      "},
    {"Reassembled Datagrams               ", "再構成されたデータグラム数          "},
    {"Datagram can not be reconfigured    ", "再構成できないデータグラム数        "},
    {"Fragmented Datagrams                ", "断片化されたデータグラム数          "},
    {"Unfragmented Datagrams              ", "断片化されないデータグラム数        "},
    {"Fragments                           ", "フラグメント数                      "},
    {"Interfaces                          ", "インターフェースの数                "},
    {"IP addresses associated with the PC ", "このPCに関連したIPアドレスの数      "},
    {"IP routing table                    ", "IPルーティングテーブルのルート数    "},
};
constexpr Label kTcpLabels[] = {
    {"Retransmission timeout algorithm    ", "再送信タイムアウトのアルゴリズム    "},
    {"Minimum Retransmission time-out     ", "再送信タイムアウト最小値            "},
    {"Maximum Retransmission time-out     ", "再送信タイムアウト最大値            "},
    {"Maximum Connections                 ", "最大接続数                          "},
    {"Active Open                         ", "アクティブ・オープン数              "},
    {"Passive Open                        ", "パッシブ・オープン数                "},
    {"Failed Connections                  ", "接続に失敗した数                    "},
    {"Been Reset                          ", "リセットされた数                    "},
    {"Currently Established               ", "現在確立している接続数              "},
    {"Segments Received                   ", "受信セグメント数                    "},
    {"Segments Send                       ", "送信セグメント数                    "},
    {"Retransmitted Segments              ", "再送セグメント数                    "},
    {"Receive Errors                      ", "受信エラー数                        "},
    {"Segments Send was reset             ", "リセットされた送信セグメント数      "},
    {"The cumulative of Connections       ", "接続の累積数                        "},
};
constexpr Label kUdpLabels[] = {
    {"Incoming Datagrams                  ", "受信データグラム数                  "},
    {"Received Datagrams Discarded        ", "受信データグラムの廃棄された数      "},
    {"Errors Received Datagram            ", "受信データグラムのエラー数          "},
    {"Outgoing Datagrams                  ", "送信データグラム数                  "},
    {"UDP Listener Table Entries          ", "UDPリスナーテーブルのエントリー数   "},
};
constexpr Label kIcmpLabels[] = {
    {"Received Messages                   ", "受信 メッセージ数                   "},
    {"      Error Number                  ", "     エラー数                       "},
    {"      Non-communication             ", "     伝達不能メッセージ数           "},
    {"      TTL exceeded messages         ", "     TTL超過メッセージ数            "},
    {"      Parameters Error              ", "     パラメーターエラー数           "},
    {"      Cancel Request Number         ", "     リクエスト取消数               "},
    {"      Redirect                      ", "      リダイレクト数                "},
    {"      Echo request                  ", "     エコー・リクエスト数           "},
    {"      Echo response                 ", "     エコー・レスポンス数           "},
    {"      time-stamp request            ", "     タイムスタンプ・リクエスト数   "},
    {"      Response time stamp           ", "     タイムスタンプ・レスポンス数   "},
    {"      Address mask request          ", "     アドレス・マスク・リクエスト数 "},
    {"      Address mask responses        ", "     アドレス・マスク・レスポンス数 "},
};

// Counters that only IPv6 has; the others reuse the IPv4 labels above.
constexpr Label kIp6Labels[] = {
    {"Received Too Big Errors             ", "受信サイズ超過エラー数              "},
    {"Received without a Route            ", "ルートなしの受信データグラム数      "},
    {"Truncated Datagrams Received        ", "切り詰められた受信データグラム数    "},
    {"Multicast Datagrams Received        ", "受信マルチキャストデータグラム数    "},
    {"Multicast Datagrams Sent            ", "送信マルチキャストデータグラム数    "},
};
constexpr Label kIcmp6Labels[] = {
    {"      Packet too big                ", "     パケット過大メッセージ数       "},
    {"      Router solicitation           ", "     ルーター要請数                 "},
    {"      Router advertisement          ", "     ルーター広告数                 "},
    {"      Neighbor solicitation         ", "     近隣要請数                     "},
    {"      Neighbor advertisement        ", "     近隣広告数                     "},
    {"      Multicast listener query      ", "     マルチキャスト・リスナー照会数 "},
    {"      MLDv2 report                  ", "     MLDv2レポート数                "},
};
constexpr Label kSendingMessages = {"Sending messages                    ", "送信 メッセージ数                   "};

// A value of the report: a counter by column name, or a text.
struct Line {
  Label label;
  std::string value;
};

std::vector<std::string> split_words(std::string_view line) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '\r')) ++pos;
    const std::size_t start = pos;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t' && line[pos] != '\r') ++pos;
    if (pos > start) words.emplace_back(line.substr(start, pos - start));
  }
  return words;
}

std::optional<SnmpValue> parse_value(const std::string& w) {
  SnmpValue v;
  std::size_t i = 0;
  if (i < w.size() && w[i] == '-') {
    v.negative = true;
    ++i;
  }
  if (i == w.size()) return std::nullopt;
  for (; i < w.size(); ++i) {
    if (w[i] < '0' || w[i] > '9') return std::nullopt;
    const std::uint64_t digit = static_cast<std::uint64_t>(w[i] - '0');
    if (v.magnitude > (UINT64_MAX - digit) / 10) return std::nullopt;
    v.magnitude = v.magnitude * 10 + digit;
  }
  if (v.magnitude == 0) v.negative = false;
  return v;
}

std::string section_title(const char* format, const char* en, const char* ja, Language lang) {
  return sformat(format, lang == Language::Japanese ? ja : en);
}

// Columns a text takes in a fixed-width font: the Japanese (three-byte UTF-8)
// characters take two, like the labels' padding counts them. printf's "%15s"
// would count bytes and push "無制限" three columns out of line.
std::size_t columns(std::string_view s) {
  std::size_t n = 0;
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) n += 1;
    else if (u >= 0xE0) n += 2;
    else if (u >= 0xC0) n += 1;
  }
  return n;
}

// "%s %15s" with the value right-aligned by columns.
std::string value_line(const char* label, const std::string& value) {
  const std::size_t w = columns(value);
  return std::string(label) + " " + std::string(w < 15 ? 15 - w : 0, ' ') + value + "\r\n";
}

std::string render(const std::string& title, const std::vector<Line>& lines, Language lang) {
  std::string out = title;
  for (const auto& line : lines) out += value_line(pick(lang, line.label.en, line.label.ja), line.value);
  return out + "\r\n";  // only the section's last line is followed by an empty one
}

std::string unavailable(const std::string& title, Language lang) {
  return title + (lang == Language::Japanese ? "統計値を取得できません." : "The statistics are not available.") +
         std::string("\r\n\r\n");
}

}  // namespace

SnmpTable parse_snmp(std::string_view text) {
  SnmpTable table;
  std::string pending_group;
  std::vector<std::string> pending_names;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
      pending_names.clear();
      continue;
    }
    std::string group(line.substr(0, colon));
    auto words = split_words(line.substr(colon + 1));
    const bool is_header = !words.empty() && !parse_value(words.front());
    if (is_header) {
      pending_group = std::move(group);
      pending_names = std::move(words);
      continue;
    }
    if (group != pending_group || pending_names.empty()) continue;
    auto& columns = table[group];
    for (std::size_t i = 0; i < pending_names.size() && i < words.size(); ++i) {
      if (auto v = parse_value(words[i])) columns.emplace(pending_names[i], *v);
    }
    pending_names.clear();
  }
  return table;
}

SnmpTable parse_snmp6(std::string_view text) {
  SnmpTable table;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const auto words = split_words(text.substr(pos, end - pos));
    pos = end + 1;
    if (words.size() != 2) continue;
    const std::string& name = words[0];
    // The group is the name up to its "6": "Ip6", "Icmp6", "Udp6", "UdpLite6".
    const std::size_t six = name.find('6');
    if (six == std::string::npos || six == 0 || six + 1 >= name.size()) continue;
    const auto value = parse_value(words[1]);
    if (!value || value->negative) continue;
    table[name.substr(0, six + 1)].emplace(name.substr(six + 1), *value);
  }
  return table;
}

std::string grouped_counter(SnmpValue v) {
  std::string digits = std::to_string(v.magnitude);
  std::string out;
  const std::size_t n = digits.size();
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[i];
    if ((n - i - 1) % 3 == 0 && i + 1 < n) out += ',';
  }
  return v.negative ? "-" + out : out;
}

std::string protocol_report(const SnmpTable& snmp, const TableCounts& counts, Language lang) {
  const auto counter = [](const std::map<std::string, SnmpValue>& g, const char* name) -> std::string {
    auto it = g.find(name);
    return it == g.end() ? std::string("-") : grouped_counter(it->second);
  };
  const auto count = [](const std::optional<std::uint64_t>& c) {
    return c ? grouped_counter(SnmpValue{*c, false}) : std::string("-");
  };
  std::string out;

  const std::string ip_title = section_title(
      "----- %s -----------------------------------------------------\r\n", "IP Statistics", "IP統計値", lang);
  if (auto it = snmp.find("Ip"); it == snmp.end()) {
    out += unavailable(ip_title, lang);
  } else {
    const auto& g = it->second;
    // The MIB's ipForwarding: 1 forwarding, 2 not forwarding.
    const auto fw = g.find("Forwarding");
    const bool forwarding = fw != g.end() && !fw->second.negative && fw->second.magnitude == 1;
    // Linux has no counter of routing entries discarded for lack of memory.
    static constexpr const char* kIpColumns[] = {
        "DefaultTTL",  "InReceives",  "InHdrErrors", "InAddrErrors", "ForwDatagrams", "InUnknownProtos",
        "InDiscards",  "InDelivers",  "OutRequests", nullptr,        "OutDiscards",   "OutNoRoutes",
        "ReasmTimeout", "ReasmReqds", "ReasmOKs",    "ReasmFails",   "FragOKs",       "FragFails",
        "FragCreates"};
    std::vector<Line> lines;
    lines.push_back({kIpLabels[0], forwarding ? "Enabled" : "Disabled"});
    std::size_t k = 1;
    for (const char* column : kIpColumns) lines.push_back({kIpLabels[k++], column ? counter(g, column) : "0"});
    lines.push_back({kIpLabels[k++], count(counts.interfaces)});
    lines.push_back({kIpLabels[k++], count(counts.addresses)});
    lines.push_back({kIpLabels[k++], count(counts.routes)});
    out += render(ip_title, lines, lang);
  }

  const std::string tcp_title = section_title(
      "----- %s ----------------------------------------------------\r\n", "TCP statistics", "TCP統計値", lang);
  if (auto it = snmp.find("Tcp"); it == snmp.end()) {
    out += unavailable(tcp_title, lang);
  } else {
    const auto& g = it->second;
    std::string text = tcp_title;
    // The algorithm is a name, printed without the number's field width.
    const auto algo = g.find("RtoAlgorithm");
    const std::uint64_t a = algo == g.end() || algo->second.negative ? 0 : algo->second.magnitude;
    const char* name = a == 2 ? "Constant Time-out" : a == 3 ? "MIL-STD-1778 Appendix B"
                     : a == 4 ? "Van Jacobson's Algorithm" : "Other";
    text += sformat("%s %s\r\n", pick(lang, kTcpLabels[0].en, kTcpLabels[0].ja), name);
    std::vector<Line> lines;
    lines.push_back({kTcpLabels[1], counter(g, "RtoMin")});
    lines.push_back({kTcpLabels[2], counter(g, "RtoMax")});
    const auto maxconn = g.find("MaxConn");
    const bool unlimited = maxconn != g.end() && maxconn->second.negative && maxconn->second.magnitude == 1;
    lines.push_back({kTcpLabels[3], unlimited ? pick(lang, std::string("Unlimited"), std::string("無制限"))
                                              : counter(g, "MaxConn")});
    static constexpr const char* kTcpColumns[] = {"ActiveOpens", "PassiveOpens", "AttemptFails", "EstabResets",
                                                  "CurrEstab",   "InSegs",       "OutSegs",      "RetransSegs",
                                                  "InErrs",      "OutRsts"};
    std::size_t k = 4;
    for (const char* column : kTcpColumns) lines.push_back({kTcpLabels[k++], counter(g, column)});
    lines.push_back({kTcpLabels[k++], count(counts.tcp_connections)});
    out += render(text, lines, lang);
  }

  const std::string udp_title = section_title(
      "----- %s ----------------------------------------------------\r\n", "UDP Statistics", "UDP統計値", lang);
  if (auto it = snmp.find("Udp"); it == snmp.end()) {
    out += unavailable(udp_title, lang);
  } else {
    const auto& g = it->second;
    std::vector<Line> lines = {{kUdpLabels[0], counter(g, "InDatagrams")},
                               {kUdpLabels[1], counter(g, "NoPorts")},
                               {kUdpLabels[2], counter(g, "InErrors")},
                               {kUdpLabels[3], counter(g, "OutDatagrams")},
                               {kUdpLabels[4], count(counts.udp_endpoints)}};
    out += render(udp_title, lines, lang);
  }

  const std::string icmp_title = section_title(
      "----- %s ---------------------------------------------------\r\n", "ICMP Statistics", "ICMP統計値", lang);
  if (auto it = snmp.find("Icmp"); it == snmp.end()) {
    out += unavailable(icmp_title, lang);
  } else {
    const auto& g = it->second;
    static constexpr const char* kIcmpColumns[] = {"Msgs",      "Errors",      "DestUnreachs",  "TimeExcds",
                                                   "ParmProbs", "SrcQuenchs",  "Redirects",     "Echos",
                                                   "EchoReps",  "Timestamps",  "TimestampReps", "AddrMasks",
                                                   "AddrMaskReps"};
    std::vector<Line> lines;
    for (const char* dir : {"In", "Out"}) {
      std::size_t k = 0;
      for (const char* column : kIcmpColumns) {
        Label label = kIcmpLabels[k++];
        if (k == 1 && dir[0] == 'O') label = kSendingMessages;
        lines.push_back({label, counter(g, (std::string(dir) + column).c_str())});
      }
    }
    out += render(icmp_title, lines, lang);
  }
  return out;
}

std::string protocol_report6(const SnmpTable& snmp6, Language lang) {
  const auto counter = [](const std::map<std::string, SnmpValue>& g, const char* name) -> std::string {
    auto it = g.find(name);
    return it == g.end() ? std::string("-") : grouped_counter(it->second);
  };
  std::string out;

  // The dashes make every title as wide as the IPv4 ones.
  const std::string ip_title = section_title("----- %s ---------------------------------------------------\r\n",
                                             "IPv6 Statistics", "IPv6統計値", lang);
  if (auto it = snmp6.find("Ip6"); it == snmp6.end()) {
    out += unavailable(ip_title, lang);
  } else {
    const auto& g = it->second;
    // IPv6 has no forwarding or hop-limit counter here (they are sysctls),
    // and no routing-discard counter, as IPv4 on Linux has none.
    const std::vector<Line> lines = {
        {kIpLabels[2], counter(g, "InReceives")},    {kIpLabels[3], counter(g, "InHdrErrors")},
        {kIp6Labels[0], counter(g, "InTooBigErrors")}, {kIp6Labels[1], counter(g, "InNoRoutes")},
        {kIpLabels[4], counter(g, "InAddrErrors")},  {kIpLabels[6], counter(g, "InUnknownProtos")},
        {kIp6Labels[2], counter(g, "InTruncatedPkts")}, {kIpLabels[7], counter(g, "InDiscards")},
        {kIpLabels[8], counter(g, "InDelivers")},    {kIpLabels[5], counter(g, "OutForwDatagrams")},
        {kIpLabels[9], counter(g, "OutRequests")},   {kIpLabels[11], counter(g, "OutDiscards")},
        {kIpLabels[12], counter(g, "OutNoRoutes")},  {kIpLabels[13], counter(g, "ReasmTimeout")},
        {kIpLabels[14], counter(g, "ReasmReqds")},   {kIpLabels[15], counter(g, "ReasmOKs")},
        {kIpLabels[16], counter(g, "ReasmFails")},   {kIpLabels[17], counter(g, "FragOKs")},
        {kIpLabels[18], counter(g, "FragFails")},    {kIpLabels[19], counter(g, "FragCreates")},
        {kIp6Labels[3], counter(g, "InMcastPkts")},  {kIp6Labels[4], counter(g, "OutMcastPkts")},
    };
    out += render(ip_title, lines, lang);
  }

  const std::string icmp_title = section_title("----- %s -------------------------------------------------\r\n",
                                               "ICMPv6 Statistics", "ICMPv6統計値", lang);
  if (auto it = snmp6.find("Icmp6"); it == snmp6.end()) {
    out += unavailable(icmp_title, lang);
  } else {
    const auto& g = it->second;
    struct Column {
      Label label;
      const char* name;
    };
    // ICMPv6 has no source quench, time-stamp or address-mask messages; it
    // has "too big", and neighbour discovery and multicast listeners in place
    // of ARP and IGMP.
    const Column columns[] = {
        {kIcmpLabels[0], "Msgs"},         {kIcmpLabels[1], "Errors"},         {kIcmpLabels[2], "DestUnreachs"},
        {kIcmp6Labels[0], "PktTooBigs"},  {kIcmpLabels[3], "TimeExcds"},      {kIcmpLabels[4], "ParmProblems"},
        {kIcmpLabels[6], "Redirects"},    {kIcmpLabels[7], "Echos"},          {kIcmpLabels[8], "EchoReplies"},
        {kIcmp6Labels[1], "RouterSolicits"}, {kIcmp6Labels[2], "RouterAdvertisements"},
        {kIcmp6Labels[3], "NeighborSolicits"}, {kIcmp6Labels[4], "NeighborAdvertisements"},
        {kIcmp6Labels[5], "GroupMembQueries"}, {kIcmp6Labels[6], "MLDv2Reports"},
    };
    std::vector<Line> lines;
    for (const char* dir : {"In", "Out"}) {
      bool first = true;
      for (const auto& c : columns) {
        const Label label = first && dir[0] == 'O' ? kSendingMessages : c.label;
        first = false;
        lines.push_back({label, counter(g, (std::string(dir) + c.name).c_str())});
      }
    }
    out += render(icmp_title, lines, lang);
  }

  const std::string udp_title = section_title("----- %s --------------------------------------------------\r\n",
                                              "UDPv6 Statistics", "UDPv6統計値", lang);
  if (auto it = snmp6.find("Udp6"); it == snmp6.end()) {
    out += unavailable(udp_title, lang);
  } else {
    const auto& g = it->second;
    const std::vector<Line> lines = {{kUdpLabels[0], counter(g, "InDatagrams")},
                                     {kUdpLabels[1], counter(g, "NoPorts")},
                                     {kUdpLabels[2], counter(g, "InErrors")},
                                     {kUdpLabels[3], counter(g, "OutDatagrams")}};
    out += render(udp_title, lines, lang);
  }
  return out;
}

std::string_view protocol_report_placeholder(Language lang) {
  return pick(lang, std::string_view("Displays statistics for each protocol."),
              std::string_view("プロトコルごとの統計値を表示します."));
}

}  // namespace tw::tools
