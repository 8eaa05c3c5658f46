#pragma once
// Colours of the session and packet lists: address and host cells by their
// top-level domain, the status/protocol column by direction, and the list's
// text and background. Colours are 0x00BBGGRR integers (red in the low
// byte), stored in decimal under section "Surveil".
#include <array>
#include <cstdint>
#include <string_view>

#include "base/language.h"
#include "settings/profile.h"

namespace tw::shared {

using Colour = std::uint32_t;

// Every colour key, in the order of the colour options page.
enum class ColourKey {
  TextBk, Text, IpAddr, ProtoUl, ProtoDl,
  NeJp, OrJp, AdJp, GrJp, EdJp, AcJp, CoJp, GoJp, LgJp, DefJp,
  Com, Net, Org, Edu, Gov, Mil, Int, Info, Biz, Name, Pro, Museum, Aero, Coop, Jobs, Travel, Mobi,
  Cat, Tel, Asia, Post,
  Default,
};
inline constexpr std::size_t kColourKeyCount = 37;

struct ColourKeyInfo {
  std::string_view key;          // "Color_com"
  std::string_view description_en;
  std::string_view description_ja;
  Colour default_colour;
  std::string_view suffix;       // ".com", ".co.jp"; empty for the others
};
const std::array<ColourKeyInfo, kColourKeyCount>& colour_keys();
inline const ColourKeyInfo& colour_key_info(ColourKey k) { return colour_keys()[static_cast<std::size_t>(k)]; }

inline constexpr std::string_view kColourSection = "Surveil";

struct ListColours {
  std::array<Colour, kColourKeyCount> colours{};
  // The two keys that, when absent from the file, leave the list's own
  // background and text colours in place.
  bool has_background = false;
  bool has_text = false;

  Colour get(ColourKey k) const { return colours[static_cast<std::size_t>(k)]; }
  void set(ColourKey k, Colour c) { colours[static_cast<std::size_t>(k)] = c; }
};

ListColours default_list_colours();
ListColours load_list_colours(const settings::Profile& profile);
void save_list_colours(settings::Profile& profile, const ListColours& colours);

// The colour key of an address or host cell: known domain suffixes, ".jp"
// second-level domains, and addresses (digits and dots only, or empty; an
// IPv6 address text).
ColourKey cell_colour_key(std::string_view text);
inline Colour cell_colour(const ListColours& c, std::string_view text) { return c.get(cell_colour_key(text)); }

// The Session Monitor's status column: established rows in the "received"
// colour, every other state in the "send" colour.
ColourKey status_colour_key(std::string_view status_text);

}  // namespace tw::shared
