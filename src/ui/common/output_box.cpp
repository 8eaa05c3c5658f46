#include "ui/common/output_box.h"

#include <QFont>
#include <QPalette>
#include <QPlainTextEdit>

#include "shell/options_model.h"
#include "ui/colorref.h"
#include "ui/common/qt_text.h"

namespace tw::ui {

QPlainTextEdit* make_output_box(QWidget* parent) {
  auto* box = new QPlainTextEdit(parent);
  box->setReadOnly(true);
  box->setLineWrapMode(QPlainTextEdit::NoWrap);
  box->setUndoRedoEnabled(false);
  // The face is asked for by name; where it is not installed the style hint
  // lets Qt pick the system's monospace font, so the columns still line up.
  QFont font(QStringLiteral("Lucida Console"));
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  box->setFont(font);
  return box;
}

void apply_output_box_colors(QPlainTextEdit& box, const settings::Profile& profile) {
  const shell::OutputBoxColors colors = shell::load_output_box_colors(profile);
  QPalette pal = box.palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    pal.setColor(group, QPalette::Base, from_colorref(colors.background));
    pal.setColor(group, QPalette::Text, from_colorref(colors.text));
  }
  box.setPalette(pal);
}

QString box_text(std::string_view text) {
  QString t = qs(text);
  t.remove(QLatin1Char('\r'));
  return t;
}

}  // namespace tw::ui
