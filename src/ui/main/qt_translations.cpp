#include "ui/main/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace tw::ui {

std::unique_ptr<QTranslator> install_qt_translations(Language lang) {
  if (lang != Language::Japanese) return nullptr;
  auto translator = std::make_unique<QTranslator>();
  // By name, not by QLocale::system(): the program's language is decided
  // from the environment its own way, and Qt's texts must match it.
  if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return nullptr;
  if (!QCoreApplication::installTranslator(translator.get())) return nullptr;
  return translator;
}

}  // namespace tw::ui
