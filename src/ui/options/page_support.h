#pragma once
// Small helpers shared by the options pages and the Notice dialog: UTF-8 text
// conversion, the 0x00BBGGRR colour values of the settings file, and the two
// modal questions the pages ask (the defaults confirmation and the colour
// chooser). The two questions can be replaced by tests, which must not block
// on a modal dialog.
#include <QColor>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/language.h"
#include "ui/colorref.h"

class QWidget;

namespace tw::ui {

inline QString qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string to_std(const QString& text) { return text.toUtf8().toStdString(); }
// The English or the Japanese text.
inline QString tr2(Language lang, std::string_view en, std::string_view ja) {
  return qs(lang == Language::Japanese ? ja : en);
}


// "Back to the default settings. \nAre you sure?" with Yes/No and the question
// icon. True on Yes.
bool ask_back_to_defaults(QWidget* parent, Language lang);
// The colour chooser, started at `initial`; nullopt when the user cancels.
std::optional<QColor> choose_color(QWidget* parent, const QColor& initial);

// Test hooks: replace the modal dialogs (pass an empty function to restore).
using DefaultsAsker = std::function<bool(QWidget*, Language)>;
using ColorChooser = std::function<std::optional<QColor>(QWidget*, const QColor&)>;
void set_defaults_asker(DefaultsAsker asker);
void set_color_chooser(ColorChooser chooser);

}  // namespace tw::ui
