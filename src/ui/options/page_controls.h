#pragma once
// Building blocks of the option pages. Controls are named after the settings
// key they edit (QObject::objectName), which keeps load/save code short and
// lets tests find them.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QFontDatabase>
#include <QSpinBox>

#include <cstdint>
#include <cstdio>
#include <span>

#include <string_view>
#include <vector>

#include "settings/profile.h"

namespace tw::ui {

inline QCheckBox* make_check(QWidget* parent, const char* key, const QString& text) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(QString::fromLatin1(key));
  return box;
}

inline QSpinBox* make_spin(QWidget* parent, const char* key, int min, int max) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(QString::fromLatin1(key));
  spin->setRange(min, max);
  return spin;
}

inline QComboBox* make_combo(QWidget* parent, const char* key, const QStringList& items) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(key));
  combo->addItems(items);
  return combo;
}

// Flags are stored as 0 or 1; anything non-zero reads as set.
inline void load_check(QCheckBox* box, const settings::Profile& p, std::string_view section,
                       std::string_view key, int def) {
  box->setChecked(p.read_int(section, key, def) != 0);
}
inline void save_check(const QCheckBox* box, settings::Profile& p, std::string_view section,
                       std::string_view key) {
  p.write_int(section, key, box->isChecked() ? 1 : 0);
}

// A stored position the list does not have leaves the list without a
// selection; saving then keeps the stored value instead of writing -1.
inline void set_combo_position(QComboBox* combo, int position) {
  combo->setCurrentIndex(position >= 0 && position < combo->count() ? position : -1);
}
inline int combo_position_or(const QComboBox* combo, int stored) {
  return combo->currentIndex() < 0 ? stored : combo->currentIndex();
}

// Colour slots "Color00", "Color01", ... of a section, as 0x00BBGGRR values.
inline std::vector<std::uint32_t> read_colors(const settings::Profile& p, std::string_view section,
                                       std::span<const std::uint32_t> defaults) {
  std::vector<std::uint32_t> out;
  char key[16];
  for (std::size_t i = 0; i < defaults.size(); ++i) {
    std::snprintf(key, sizeof key, "Color%02d", static_cast<int>(i));
    out.push_back(static_cast<std::uint32_t>(p.read_int(section, key, static_cast<int>(defaults[i]))));
  }
  return out;
}

inline void write_colors(settings::Profile& p, std::string_view section,
                  const std::vector<std::uint32_t>& colors) {
  char key[16];
  for (std::size_t i = 0; i < colors.size(); ++i) {
    std::snprintf(key, sizeof key, "Color%02d", static_cast<int>(i));
    p.write_int(section, key, static_cast<int>(colors[i]));
  }
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
