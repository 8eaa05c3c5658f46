#pragma once
// The Packet Monitor's own keys in section "Surveil". The column widths
// ("ColnmWidth"), the clipboard columns ("CopyItem"), the colours and the
// packet log's block are stored by their shared helpers. Main thread only.
#include <string>
#include <string_view>

#include "settings/profile.h"

namespace tw::packets {

inline constexpr std::string_view kPacketSection = "Surveil";

inline constexpr int kMinIntervalMs = 1;
inline constexpr int kMaxIntervalMs = 100;

struct PacketSettings {
  bool ask_dns = false;
  int interval_ms = 1;         // display timer, 1..100
  bool data_as_text = false;   // "PacketsData": 0 hex, 1 text
  bool filter = false;
  std::string filter_port1 = "0;";           // local side
  std::string filter_port2 = "1024-65535;";  // remote side
  // "Settings"/"IPv6": the address list offers the machine's IPv6 addresses
  // too. Read here, never written: the shell owns the key.
  bool ipv6 = true;
  friend bool operator==(const PacketSettings&, const PacketSettings&) = default;
};

PacketSettings load_packet_settings(const settings::Profile& profile);
// Writes every key of the struct but `ipv6`. "AutoStart" is not among them:
// the "General" page owns it, and shell::load_surveil_auto_start() reads it.
void save_packet_settings(settings::Profile& profile, const PacketSettings& s);

}  // namespace tw::packets
