#pragma once
// Texts of buttons and labels that several tabs share and that are given
// only in English where the pages are described: the Japanese window shows
// them in Japanese too.
#include <QString>

#include "base/language.h"
#include "ui/common/qt_text.h"

namespace tw::ui::texts {

// The start/stop button of the monitors and tools.
inline QString start(Language lang) { return tr2(lang, "START", "開始"); }
inline QString stop(Language lang) { return tr2(lang, "STOP", "停止"); }
// The tools' check box that keeps the host list in a file.
inline QString history(Language lang) { return tr2(lang, "History", "履歴"); }
// The Packet Filter's buttons.
inline QString reload(Language lang) { return tr2(lang, "Reload", "再読込"); }
inline QString edit(Language lang) { return tr2(lang, "Edit", "編集"); }
// The label of the PING and TRACERT options field.
inline QString options(Language lang) { return tr2(lang, "Options", "オプション"); }
// The columns of the WHOIS server table.
inline QString whois_target_domain(Language lang) { return tr2(lang, "Target Domain", "対象ドメイン"); }
inline QString whois_server(Language lang) { return tr2(lang, "WHOIS Server", "WHOISサーバー"); }

}  // namespace tw::ui::texts
