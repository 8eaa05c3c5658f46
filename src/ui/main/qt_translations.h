#pragma once
// Qt's own texts in the program's language: the standard buttons of the
// message boxes (Yes, No, Cancel), the colour chooser and the context menus
// of the text fields. The program's own texts follow Language; these come
// from Qt's translation catalogue, which the system may or may not have
// installed.
#include <QTranslator>

#include <memory>

#include "base/language.h"

namespace tw::ui {

// Installs Qt's catalogue for `lang` in the application (which must exist).
// Null for English, and when the catalogue is missing: Qt then speaks
// English. Destroying the translator takes it out again.
std::unique_ptr<QTranslator> install_qt_translations(Language lang);

}  // namespace tw::ui
