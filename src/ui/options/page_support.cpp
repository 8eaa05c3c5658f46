#include "ui/options/page_support.h"

#include <QColorDialog>
#include <QMessageBox>

#include "ui/common/qt_text.h"

namespace tw::ui {

namespace {
DefaultsAsker& asker_hook() {
  static DefaultsAsker hook;
  return hook;
}
ColorChooser& chooser_hook() {
  static ColorChooser hook;
  return hook;
}
}  // namespace

bool ask_back_to_defaults(QWidget* parent, Language lang) {
  if (asker_hook()) return asker_hook()(parent, lang);
  // The English text keeps its blank before the line break.
  const QString text = tr2(lang, "Back to the default settings. \nAre you sure?",
                           "初期設定に戻します。\nよろしいですか？");
  return QMessageBox::question(parent, QStringLiteral("Tarnwatch"), text,
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

std::optional<QColor> choose_color(QWidget* parent, const QColor& initial) {
  if (chooser_hook()) return chooser_hook()(parent, initial);
  QColor c = QColorDialog::getColor(initial, parent);
  if (!c.isValid()) return std::nullopt;
  return c;
}

void set_defaults_asker(DefaultsAsker asker) { asker_hook() = std::move(asker); }
void set_color_chooser(ColorChooser chooser) { chooser_hook() = std::move(chooser); }

}  // namespace tw::ui
