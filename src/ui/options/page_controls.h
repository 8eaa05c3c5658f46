#pragma once
// Building blocks of the option pages. Each control has an object name, so
// that the page finds it again when it loads and saves and tests find it.
// The name is the page's own (after the settings field it edits, in
// lowerCamelCase), never the key in the settings file: the keys live with
// the group's loader and saver alone.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QFontDatabase>
#include <QSpinBox>

namespace tw::ui {

inline QCheckBox* make_check(QWidget* parent, const char* name, const QString& text) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

inline QSpinBox* make_spin(QWidget* parent, const char* name, int min, int max) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(QString::fromLatin1(name));
  spin->setRange(min, max);
  return spin;
}

inline QComboBox* make_combo(QWidget* parent, const char* name, const QStringList& items) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(name));
  combo->addItems(items);
  return combo;
}

// A stored position the list does not have leaves the list without a
// selection; saving then keeps the stored value instead of writing -1.
inline void set_combo_position(QComboBox* combo, int position) {
  combo->setCurrentIndex(position >= 0 && position < combo->count() ? position : -1);
}
inline int combo_position_or(const QComboBox* combo, int stored) {
  return combo->currentIndex() < 0 ? stored : combo->currentIndex();
}

// Fills an editable font list with the installed families; a stored face
// that is not installed is still shown and kept.
inline void fill_font_families(QComboBox* combo) {
  combo->setEditable(true);
  combo->addItems(QFontDatabase::families());
}

inline void set_font_name(QComboBox* combo, const QString& name) {
  int i = combo->findText(name);
  if (i < 0) {
    combo->addItem(name);
    i = combo->count() - 1;
  }
  combo->setCurrentIndex(i);
}

}  // namespace tw::ui
