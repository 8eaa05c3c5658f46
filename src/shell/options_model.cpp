#include "shell/options_model.h"

namespace tw::shell {

namespace {

using GroupRow = std::array<std::string_view, kPageStride>;

// Entry text, then up to five tab texts; an empty text means "no such tab".
constexpr std::array<GroupRow, kOptionGroupCount> kGroupsEn = {{
    {"General", "View", "Tasktray", "Notice Dialog", "Mini Monitor", "Report"},
    {"Traffic Monitor", "View 1", "View 2", "Color", "Log File", ""},
    {"Packet Monitor", "View", "Color", "Copy Items", "Log File", ""},
    {"Session Monitor", "Auto Kill Session", "Color", "Copy Items", "Log File", ""},
    {"Packet Filter", " ", "", "", "", ""},
    {"Interface", "Color", "", "", "", ""},
    {"Statistics", "Color", "", "", "", ""},
    {"NSLOOKUP", "NS Record", "Color", "", "", ""},
    {"NETSTAT", "View", "Color", "", "", ""},
    {"WHOIS", "WHOIS Server", "Color", "", "", ""},
    {"PING", "PING", "Color", "", "", ""},
    {"TRACERT", "TRACERT", "Color", "", "", ""},
}};

constexpr std::array<GroupRow, kOptionGroupCount> kGroupsJa = {{
    {"全般", "表示", "タスクトレイ", "通知ダイアログ", "ミニモニター", "レポート"},
    {"トラフィックモニター", "表示1", "表示2", "色設定", "ログファイル出力", ""},
    {"IP監視モニター", "表示", "色設定", "コピー項目", "ログファイル出力", ""},
    {"セッションモニター", "自動切断", "色設定", "コピー項目", "ログファイル出力", ""},
    // The Packet Filter group has one tab labelled with a full-width blank.
    {"パケットフィルター", "　", "", "", "", ""},
    {"IF詳細", "色設定", "", "", "", ""},
    {"統計値", "色設定", "", "", "", ""},
    {"NSLOOKUP", "レコード", "色設定", "", "", ""},
    {"NETSTAT", "表示", "色設定", "", "", ""},
    {"WHOIS", "WHOISサーバ", "色設定", "", "", ""},
    {"PING", "PING", "色設定", "", "", ""},
    {"TRACERT", "TRACERT", "色設定", "", "", ""},
}};

const std::array<GroupRow, kOptionGroupCount>& groups(Language lang) {
  return lang == Language::Japanese ? kGroupsJa : kGroupsEn;
}

}  // namespace

const std::array<OptionsPageId, kOptionsPageCount> kPageCreationOrder = {
    OptionsPageId::GeneralView,     OptionsPageId::NoticeDialog,     OptionsPageId::TrafficColor,
    OptionsPageId::TrafficView1,    OptionsPageId::MonitorColor,     OptionsPageId::PacketView,
    OptionsPageId::NetstatView,     OptionsPageId::WhoisServer,      OptionsPageId::OutputColor,
    OptionsPageId::TrafficView2,    OptionsPageId::TrafficLogFile,   OptionsPageId::PacketLogFile,
    OptionsPageId::SessionLogFile,  OptionsPageId::NsRecord,         OptionsPageId::MiniMonitor,
    OptionsPageId::Ping,            OptionsPageId::Tracert,          OptionsPageId::AutoKillSession,
    OptionsPageId::Report,          OptionsPageId::Tasktray,         OptionsPageId::PacketCopyItems,
    OptionsPageId::SessionCopyItems, OptionsPageId::PacketFilter,
};

int page_slot(OptionsPageId id) {
  for (int i = 0; i < kOptionsPageCount; ++i) {
    if (kPageCreationOrder[static_cast<std::size_t>(i)] == id) return i;
  }
  return 0;  // unreachable for a valid enumerator
}

std::optional<OptionsPageId> page_at(int index) {
  using P = OptionsPageId;
  switch (index) {
    case 0: return P::GeneralView;
    case 1: return P::Tasktray;
    case 2: return P::NoticeDialog;
    case 3: return P::MiniMonitor;
    case 4: return P::Report;
    case 6: return P::TrafficView1;
    case 7: return P::TrafficView2;
    case 8: return P::TrafficColor;
    case 9: return P::TrafficLogFile;
    case 12: return P::PacketView;
    case 13:
    case 19: return P::MonitorColor;
    case 14: return P::PacketCopyItems;
    case 15: return P::PacketLogFile;
    case 18: return P::AutoKillSession;
    case 20: return P::SessionCopyItems;
    case 21: return P::SessionLogFile;
    case 24: return P::PacketFilter;
    case 30:
    case 36:
    case 43:
    case 49:
    case 55:
    case 61:
    case 67: return P::OutputColor;
    case 42: return P::NsRecord;
    case 48: return P::NetstatView;
    case 54: return P::WhoisServer;
    case 60: return P::Ping;
    case 66: return P::Tracert;
    default: return std::nullopt;
  }
}

std::string_view group_entry_text(Language lang, int group) {
  if (group < 0 || group >= kOptionGroupCount) return {};
  return groups(lang)[static_cast<std::size_t>(group)][0];
}

std::vector<std::string_view> group_tab_texts(Language lang, int group) {
  std::vector<std::string_view> out;
  if (group < 0 || group >= kOptionGroupCount) return out;
  const GroupRow& row = groups(lang)[static_cast<std::size_t>(group)];
  for (std::size_t i = 1; i < row.size(); ++i) {
    if (!row[i].empty()) out.push_back(row[i]);
  }
  return out;
}

int group_tab_count(int group) {
  return static_cast<int>(group_tab_texts(Language::English, group).size());
}

int clamp_tab(int tab, int tab_count) {
  if (tab < 1 || tab_count <= 0) return 0;
  if (tab >= tab_count) return tab_count - 1;
  return tab;
}

OptionsFrame::OptionsFrame(int config_sel, int config_tab)
    : sel_(config_sel), tab_(config_tab), previous_(config_sel) {}

std::optional<int> OptionsFrame::initial_group() const {
  if (sel_ >= kOptionGroupCount) return std::nullopt;
  return sel_ < 0 ? 0 : sel_;
}

void OptionsFrame::select_group(int group) {
  if (group < 0 || group >= kOptionGroupCount) return;
  sel_ = group;
  if (sel_ != previous_) tab_ = 0;
  previous_ = sel_;
  shown_ = true;
  clamp_tab();
}

void OptionsFrame::select_tab(int tab) {
  if (!shown_) return;
  tab_ = tab;
  clamp_tab();
}

void OptionsFrame::clamp_tab() { tab_ = shell::clamp_tab(tab_, group_tab_count(sel_)); }

std::optional<int> OptionsFrame::current_index() const {
  if (!shown_) return std::nullopt;
  return page_index(sel_, tab_);
}

std::optional<OptionsPageId> OptionsFrame::current_page() const {
  auto index = current_index();
  if (!index) return std::nullopt;
  return page_at(*index);
}

OutputBoxColors load_output_box_colors(const settings::Profile& p) {
  OutputBoxColors c;
  c.background = static_cast<std::uint32_t>(p.read_int("Interface", "Color00", static_cast<int>(c.background)));
  c.text = static_cast<std::uint32_t>(p.read_int("Interface", "Color01", static_cast<int>(c.text)));
  return c;
}

void save_output_box_colors(settings::Profile& p, const OutputBoxColors& c) {
  p.write_int("Interface", "Color00", static_cast<int>(c.background));
  p.write_int("Interface", "Color01", static_cast<int>(c.text));
}

}  // namespace tw::shell
