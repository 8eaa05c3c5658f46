#pragma once
// The two modal questions the options pages and the Notice dialog ask: the
// defaults confirmation and the colour chooser. Tests replace them, as they
// must not block on a modal dialog.
#include <QColor>

#include <functional>
#include <optional>

#include "base/language.h"

class QWidget;

namespace tw::ui {

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
