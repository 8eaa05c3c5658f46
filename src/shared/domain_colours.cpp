#include "shared/domain_colours.h"

#include "base/ip_address.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace tw::shared {

const std::array<ColourKeyInfo, kColourKeyCount>& colour_keys() {
  static const std::array<ColourKeyInfo, kColourKeyCount> keys = {{
      {"Color_TextBk", "Background color", "背景色", 0x000000, ""},
      {"Color_Text", "Normal Text color", "通常の文字色", 0xFFFFFF, ""},
      {"Color_ip_addr", "IP Address color", "IPアドレスの色", 0x80FFFF, ""},
      {"Color_proto_ul", "Protocol: Send / status: Waiting", "プロトコル: 送信 / 状態: 接続待ち", 0x4040FF, ""},
      {"Color_proto_dl", "Protocol: Received / status: Connecting", "プロトコル: 受信 / 状態: 接続中", 0x80FF80, ""},
      {"Color_ne_jp", "Network Services (ne.jp)", "ネットワークサービス (ne.jp)", 0xFF8787, ".ne.jp"},
      {"Color_or_jp", "non-corporate company (or.jp)", "企業以外の法人 (or.jp)", 0xFF8787, ".or.jp"},
      {"Color_ad_jp", "JPNIC members (ad.jp)", "JPNIC会員 (ad.jp)", 0xFF8787, ".ad.jp"},
      {"Color_gr_jp", "voluntary organization (gr.jp)", "任意団体 (gr.jp)", 0xFF8787, ".gr.jp"},
      {"Color_ed_jp", "miscellaneous schools (ed.jp)", "各種学校 (ed.jp)", 0xFF80FF, ".ed.jp"},
      {"Color_ac_jp", "institutions such as universities (ac.jp)", "大学などの教育機関 (ac.jp)", 0xFF80FF, ".ac.jp"},
      {"Color_co_jp", "General Company (co.jp)", "一般企業 (co.jp)", 0xFF80FF, ".co.jp"},
      {"Color_go_jp", "Government of Japan (go.jp)", "政府機関 (go.jp)", 0xFF80FF, ".go.jp"},
      {"Color_lg_jp", "Local governments (lg.jp)", "地方公共団体 (lg.jp)", 0xFF80FF, ".lg.jp"},
      {"Color_def_jp", "Other (.jp)", "その他 (.jp)", 0x60AFFF, ".jp"},
      {"Color_com", "Commercial (.com)", "商用 (.com)", 0x4040FF, ".com"},
      {"Color_net", "network (.net)", "ネットワーク (.net)", 0x4040FF, ".net"},
      {"Color_org", "other organizations (.org)", "その他の団体 (.org)", 0x4040FF, ".org"},
      {"Color_edu", "4 year colleges (.edu)", "4年制大学 (.edu)", 0x4040FF, ".edu"},
      {"Color_gov", "Federal Government (.gov)", "米国連邦政府 (.gov)", 0x4040FF, ".gov"},
      {"Color_mil", "U.S. Military (.mil)", "米国軍事機関 (.mil)", 0x4040FF, ".mil"},
      {"Color_int", "international organizations (.int)", "国際機関 (.int)", 0x4040FF, ".int"},
      {"Color_info", "General (.info)", "一般 (.info)", 0x4040FF, ".info"},
      {"Color_biz", "for business (.biz)", "ビジネス (.biz)", 0x4040FF, ".biz"},
      {"Color_name", "Personal (.name)", "個人 (.name)", 0x4040FF, ".name"},
      {"Color_pro", "for professional (.pro)", "専門職 (.pro)", 0x4040FF, ".pro"},
      {"Color_museum", "for the museum (.museum)", "博物館 (.museum)", 0x4040FF, ".museum"},
      {"Color_aero", "related to air transport companies, organizations (.aero)", "航空運輸関連 (.aero)", 0x4040FF, ".aero"},
      {"Color_coop", "Cooperative for life (.coop)", "協同組合 (.coop)", 0x4040FF, ".coop"},
      {"Color_jobs", "Human Resources for official business (.jobs)", "人事担当 (.jobs)", 0x4040FF, ".jobs"},
      {"Color_travel", "for the travel industry (.travel)", "旅行業界 (.travel)", 0x4040FF, ".travel"},
      {"Color_mobi", "for mobile relationship (.mobi)", "モバイル関連 (.mobi)", 0x4040FF, ".mobi"},
      {"Color_cat", "Catalan language / culture for the community (.cat)", "カタルーニャ語・文化 (.cat)", 0x4040FF, ".cat"},
      {"Color_tel", "IP-based telephone number for (.tel)", "IP電話番号 (.tel)", 0x4040FF, ".tel"},
      {"Color_asia", "Asia-Pacific region companies (.asia)", "アジア太平洋地域 (.asia)", 0x4040FF, ".asia"},
      {"Color_post", "for official postal (.post)", "郵便事業 (.post)", 0x4040FF, ".post"},
      {"Color_default", "Other Domain", "その他のドメイン", 0xFFFFFF, ""},
  }};
  return keys;
}

ListColours default_list_colours() {
  ListColours c;
  for (std::size_t i = 0; i < kColourKeyCount; ++i) c.colours[i] = colour_keys()[i].default_colour;
  return c;
}

namespace {
// A key's presence cannot be read through the integer read alone: two
// different defaults tell "absent" from any stored value.
bool key_present(const settings::Profile& p, std::string_view key) {
  return p.read_string(kColourSection, key, "\x01") != "\x01";
}
}  // namespace

ListColours load_list_colours(const settings::Profile& profile) {
  ListColours c;
  for (std::size_t i = 0; i < kColourKeyCount; ++i) {
    const auto& info = colour_keys()[i];
    c.colours[i] = static_cast<Colour>(profile.read_int(kColourSection, info.key, static_cast<int>(info.default_colour)));
  }
  c.has_background = key_present(profile, colour_key_info(ColourKey::TextBk).key);
  c.has_text = key_present(profile, colour_key_info(ColourKey::Text).key);
  return c;
}

void save_list_colours(settings::Profile& profile, const ListColours& colours) {
  for (std::size_t i = 0; i < kColourKeyCount; ++i)
    profile.write_int(kColourSection, colour_keys()[i].key, static_cast<int>(colours.colours[i]));
}

namespace {
bool ends_with(std::string_view t, std::string_view s) { return t.size() >= s.size() && t.substr(t.size() - s.size()) == s; }
}  // namespace

ColourKey cell_colour_key(std::string_view text) {
  std::string t(text);
  std::transform(t.begin(), t.end(), t.begin(), [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  const auto first_jp = static_cast<std::size_t>(ColourKey::NeJp);
  const auto last_jp = static_cast<std::size_t>(ColourKey::LgJp);
  if (ends_with(t, ".jp")) {
    ColourKey k = ColourKey::DefJp;
    for (std::size_t i = first_jp; i <= last_jp; ++i)
      if (ends_with(t, colour_keys()[i].suffix)) k = static_cast<ColourKey>(i);
    return k;
  }
  ColourKey k = ColourKey::Default;
  for (std::size_t i = static_cast<std::size_t>(ColourKey::Com); i <= static_cast<std::size_t>(ColourKey::Post); ++i)
    if (ends_with(t, colour_keys()[i].suffix)) k = static_cast<ColourKey>(i);
  if (std::all_of(t.begin(), t.end(), [](char ch) { return ch == '.' || (ch >= '0' && ch <= '9'); }))
    k = ColourKey::IpAddr;
  // An IPv6 address is an address too; no host name holds a ':'.
  else if (t.find(':') != std::string::npos && net::parse_ip(t))
    k = ColourKey::IpAddr;
  return k;
}

ColourKey status_colour_key(std::string_view status_text) {
  const bool established = status_text.find("Connecting") != std::string_view::npos ||
                           status_text.find("接続中") != std::string_view::npos;
  return established ? ColourKey::ProtoDl : ColourKey::ProtoUl;
}

}  // namespace tw::shared
