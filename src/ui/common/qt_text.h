#pragma once
// Text between the logic (UTF-8 std::string) and Qt (QString), and the
// English-or-Japanese choice of a text the window shows.
#include <QString>

#include <string>
#include <string_view>

#include "base/language.h"

namespace tw::ui {

inline QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
inline std::string to_std(const QString& text) { return text.toUtf8().toStdString(); }
// The English or the Japanese text.
inline QString tr2(Language lang, std::string_view en, std::string_view ja) {
  return qs(lang == Language::Japanese ? ja : en);
}

}  // namespace tw::ui
