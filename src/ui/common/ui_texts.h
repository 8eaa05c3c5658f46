#pragma once
// Texts of buttons and labels that several tabs share and that are given
// only in English where the pages are described: the Japanese window shows
// them in Japanese too.
#include <QString>

#include <string_view>

#include "base/language.h"

namespace tw::ui::texts {

inline QString both(Language lang, std::string_view en, std::string_view ja) {
  const std::string_view t = lang == Language::Japanese ? ja : en;
  return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
}

// The start/stop button of the monitors and tools.
inline QString start(Language lang) { return both(lang, "START", "開始"); }
inline QString stop(Language lang) { return both(lang, "STOP", "停止"); }
// The tools' check box that keeps the host list in a file.
inline QString history(Language lang) { return both(lang, "History", "履歴"); }
// The Packet Filter's buttons.
inline QString reload(Language lang) { return both(lang, "Reload", "再読込"); }
inline QString edit(Language lang) { return both(lang, "Edit", "編集"); }
// The label of the PING and TRACERT options field.
inline QString options(Language lang) { return both(lang, "Options", "オプション"); }
// The columns of the WHOIS server table.
inline QString whois_target_domain(Language lang) { return both(lang, "Target Domain", "対象ドメイン"); }
inline QString whois_server(Language lang) { return both(lang, "WHOIS Server", "WHOISサーバー"); }

}  // namespace tw::ui::texts
