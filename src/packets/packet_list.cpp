#include "packets/packet_list.h"

#include <algorithm>
#include <cstdio>

#include "base/ip_address.h"
#include "packets/packet_decoder.h"

namespace tw::packets {

const std::array<PacketColumn, kColumnCount>& packet_columns() {
  static const std::array<PacketColumn, kColumnCount> columns = {{
      {"IP Address1", "IPアドレス1", 90, false},
      {"Hostname1", "ホスト1", 90, false},
      {"Port1", "ポート1", 60, true},
      {"IP Address2", "IPアドレス2", 90, false},
      {"Hostname2", "ホスト2", 90, false},
      {"Port2", "ポート2", 60, true},
      {"LEN", "LEN", 50, true},
      {"TTL", "TTL", 40, true},
      {"Protocol", "プロトコル", 70, false},
      {"Date and Time", "日時", 120, false},
      {"ProcessName(PID)", "イメージ名(PID)", 120, false},
      {"Packet DATA", "データ", 150, false},
  }};
  return columns;
}

std::string date_time_text(const PacketTime& t, Language lang) {
  char buf[64];
  if (lang == Language::Japanese)
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
  else
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.month, t.day, t.year, t.hour, t.minute, t.second);
  return buf;
}

PacketRow row_texts(const PacketRecord& r, Language lang, bool data_as_text, const ProcessName& process_name) {
  PacketRow row;
  row[kAddress1] = field_text(r.address1);
  row[kHost1] = field_text(r.host1);
  row[kPort1] = std::to_string(r.port1);
  row[kAddress2] = field_text(r.address2);
  row[kHost2] = field_text(r.host2);
  row[kPort2] = std::to_string(r.port2);
  row[kLength] = std::to_string(r.length);
  row[kTtl] = std::to_string(r.ttl);
  row[kProtocol] = field_text(r.protocol);
  row[kDateTime] = date_time_text(r.time, lang);
  if (r.pid >= 0)
    row[kProcess] = (process_name ? process_name(r.pid) : std::string()) + "(" + std::to_string(r.pid) + ")";
  else
    row[kProcess] = "-";
  row[kData] = data_as_text ? data_plain_text(r) : data_hex_text(r);
  return row;
}

shared::ColourKey cell_colour_key(int column, std::string_view text) {
  switch (column) {
    case kAddress1:
    case kHost1:
    case kAddress2:
    case kHost2:
      // An IPv6 text takes the colour of an address, as a dotted quad does.
      if (text.find(':') != std::string_view::npos && net::parse_ip(text)) return shared::ColourKey::IpAddr;
      return shared::cell_colour_key(text);
    case kProtocol:
      return text.find("UL") != std::string_view::npos ? shared::ColourKey::ProtoUl : shared::ColourKey::ProtoDl;
    default:
      return shared::ColourKey::Text;
  }
}

void PacketList::add_top(PacketRow row) {
  rows_.push_front(std::move(row));
  if (rows_.size() > kMaxRows) rows_.resize(kMaxRows);
}

std::string PacketList::copy_text(std::span<const std::size_t> selected, std::span<const int> copy_items) const {
  std::string out;
  for (const std::size_t i : selected) {
    if (i >= rows_.size()) continue;
    for (int c = 0; c < kColumnCount && static_cast<std::size_t>(c) < copy_items.size(); ++c) {
      if (copy_items[static_cast<std::size_t>(c)] != 1) continue;
      out += rows_[i][static_cast<std::size_t>(c)];
      out += ' ';
    }
    out += "\r\n";
  }
  return out;
}

std::string PacketList::packet_data_text(std::span<const std::size_t> selected) const {
  std::string out;
  for (const std::size_t i : selected) {
    if (i >= rows_.size()) continue;
    out += rows_[i][kData];
    out += "\r\n";
  }
  return out;
}

std::vector<PacketRow> PacketList::rows(std::size_t limit) const {
  const std::size_t n = std::min(limit, rows_.size());
  return std::vector<PacketRow>(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace tw::packets
