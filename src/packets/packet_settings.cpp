#include "packets/packet_settings.h"

#include <algorithm>

#include "settings/shared_keys.h"

namespace tw::packets {

PacketSettings load_packet_settings(const settings::Profile& p) {
  PacketSettings s;
  const auto sec = kPacketSection;
  s.ask_dns = p.read_int(sec, "AskDNS", 0) != 0;
  s.interval_ms = std::clamp(p.read_int(sec, "Interval", 1), kMinIntervalMs, kMaxIntervalMs);
  s.data_as_text = p.read_int(sec, "PacketsData", 0) == 1;
  s.filter = p.read_int(sec, "Filter", 0) == 1;
  s.filter_port1 = p.read_string(sec, "Filter_Port1", s.filter_port1);
  s.filter_port2 = p.read_string(sec, "Filter_Port2", s.filter_port2);
  s.ipv6 = p.read_int(settings::kSettingsSection, settings::kIpv6Key, settings::kIpv6Default) != 0;
  return s;
}

void save_packet_settings(settings::Profile& p, const PacketSettings& s) {
  const auto sec = kPacketSection;
  p.write_int(sec, "AskDNS", s.ask_dns ? 1 : 0);
  p.write_int(sec, "Interval", std::clamp(s.interval_ms, kMinIntervalMs, kMaxIntervalMs));
  p.write_int(sec, "PacketsData", s.data_as_text ? 1 : 0);
  p.write_int(sec, "Filter", s.filter ? 1 : 0);
  p.write_string(sec, "Filter_Port1", s.filter_port1);
  p.write_string(sec, "Filter_Port2", s.filter_port2);
}

}  // namespace tw::packets
