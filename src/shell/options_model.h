#pragma once
// The options dialog frame without its widgets: the twelve option groups and
// their tabs in both languages, which page object shows at which page index,
// the selected group and tab ("Settings"/"ConfigSel" and "ConfigTab") with
// their clamping rules, and the per-page apply flags.
//
// The Qt dialog (ui/options/options_dialog.h) owns one OptionsFrame and only
// forwards tree and tab events to it. Everything here runs on the UI thread.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "settings/profile.h"

namespace tw::shell {

inline constexpr int kOptionGroupCount = 12;
// Each group row holds six texts: the tree entry and at most five tabs. The
// page index of a tab is group * kPageStride + tab position.
inline constexpr int kPageStride = 6;
inline constexpr int kMaxTabsPerGroup = kPageStride - 1;

// The option pages, one object each, named after what they edit. The numbers
// are the pages' historical dialog identifiers; they only serve as stable ids.
enum class OptionsPageId {
  GeneralView = 144,
  NoticeDialog = 145,
  TrafficColor = 146,
  MonitorColor = 148,     // Packet Monitor and Session Monitor colours (shared)
  PacketView = 149,
  TrafficView1 = 150,
  NetstatView = 151,
  WhoisServer = 152,
  OutputColor = 153,      // output-box colours of the tool pages (shared)
  TrafficView2 = 161,
  TrafficLogFile = 167,
  PacketLogFile = 168,
  SessionLogFile = 169,
  NsRecord = 172,
  MiniMonitor = 175,
  Ping = 183,
  Tracert = 184,
  AutoKillSession = 185,
  Report = 186,
  PacketFilter = 189,
  Tasktray = 190,
  PacketCopyItems = 191,
  SessionCopyItems = 192,
};

inline constexpr int kOptionsPageCount = 23;

// The order in which the dialog creates its pages, and in which they save
// themselves when it closes.
extern const std::array<OptionsPageId, kOptionsPageCount> kPageCreationOrder;

// Position of `id` in kPageCreationOrder (0..22).
int page_slot(OptionsPageId id);

inline constexpr int page_index(int group, int tab) { return group * kPageStride + tab; }

// The page shown at a page index, or nullopt when no page belongs to it
// (the right side of the dialog then stays empty). Two page objects are shared:
// MonitorColor at 13 and 19, OutputColor at 30, 36, 43, 49, 55, 61 and 67.
std::optional<OptionsPageId> page_at(int index);

// The tree entry text of a group (0..11); empty for any other number.
std::string_view group_entry_text(Language lang, int group);
// The non-empty tab texts of a group in tab order (the Packet Filter group has
// one tab whose text is a blank). Empty for a group number outside 0..11.
std::vector<std::string_view> group_tab_texts(Language lang, int group);
int group_tab_count(int group);

// Selected group and tab as the dialog keeps them while it is open.
class OptionsFrame {
 public:
  // Starts from the stored "ConfigSel" and "ConfigTab"; the previously
  // selected group starts equal to "ConfigSel".
  OptionsFrame(int config_sel, int config_tab);

  // The tree entry the dialog selects when it opens: the stored group when it
  // names an entry, nullopt for 12 or more (nothing selected, nothing shown).
  // The dialog steps "ConfigSel" times from the first entry, so a negative
  // value lands on the first entry.
  std::optional<int> initial_group() const;

  // The tree selection moved to `group`. Selecting another group than before
  // resets the tab to the first one; re-selecting the same group keeps it.
  // The tab is then clamped to the group's tabs.
  void select_group(int group);
  // The tab bar moved to `tab` (clamped to the current group's tabs).
  void select_tab(int tab);

  int config_sel() const { return sel_; }
  int config_tab() const { return tab_; }
  bool has_group() const { return shown_; }
  // The page index on view, or nullopt while no group is selected.
  std::optional<int> current_index() const;
  // The page on view, or nullopt (no group, or a tab without a page).
  std::optional<OptionsPageId> current_page() const;

  // Apply flags: cleared at creation, all set by OK, all cleared by Cancel.
  // Each page saves its settings at close only when its flag is set.
  void accept_all() { apply_.fill(true); }
  void reject_all() { apply_.fill(false); }
  bool apply(OptionsPageId id) const { return apply_[static_cast<std::size_t>(page_slot(id))]; }

 private:
  void clamp_tab();

  int sel_;
  int tab_;
  int previous_;
  bool shown_ = false;
  std::array<bool, kOptionsPageCount> apply_{};
};

// Values below 1 become 0, values at or above `tab_count` become the last tab.
int clamp_tab(int tab, int tab_count);

// The read-only output boxes of the Interface, Statistics, NSLOOKUP, NETSTAT,
// WHOIS, PING and TRACERT pages share one background and one text colour
// (0x00BBGGRR), section "Interface", keys "Color00" and "Color01". Each box
// reads them when it is created; the shared Color options page writes them.
struct OutputBoxColors {
  std::uint32_t background = 0x000000;
  std::uint32_t text = 0xFFFFFF;
  bool operator==(const OutputBoxColors&) const = default;
};
OutputBoxColors load_output_box_colors(const settings::Profile& profile);
void save_output_box_colors(settings::Profile& profile, const OutputBoxColors& colors);

}  // namespace tw::shell
