#pragma once
// The pages of the Traffic Monitor group: View 1 (what the graph shows),
// View 2 (fonts and timing), Color (the twenty colour slots) and Log File
// (the traffic log block).
#include <cstdint>
#include <vector>

#include "ui/options/color_slot_page.h"
#include "ui/options/options_page.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace tw::ui {

class TrafficView1Page : public OptionsPage {
  Q_OBJECT
 public:
  TrafficView1Page(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;

 private:
  void update_enabled();
};

class TrafficView2Page : public OptionsPage {
  Q_OBJECT
 public:
  TrafficView2Page(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;
  // Refills both font lists from the installed families, following the two
  // list switches; the chosen faces are kept.
  void refill_font_lists();

 private:
  void update_enabled();

  QComboBox* font_name_ = nullptr;
  QComboBox* font_name2_ = nullptr;
  QCheckBox* enum_check_ = nullptr;
  QCheckBox* enum_draw_ = nullptr;
};

// The graph's colour slots "Color00".."Color19" in section "Traffic".
class TrafficColorPage : public ColorSlotPage {
  Q_OBJECT
 public:
  TrafficColorPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;
  // The graph's own defaults, slot by slot.
  static const std::vector<std::uint32_t>& default_colors();
};

// The traffic log block (section "Traffic").
class TrafficLogFilePage : public OptionsPage {
  Q_OBJECT
 public:
  TrafficLogFilePage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;

 private:
  void update_enabled();

  QCheckBox* log_check_ = nullptr;
  QLineEdit* file_name_ = nullptr;
  QSpinBox* cycle_ = nullptr;
  int stored_cycle_ = 60;
  QPlainTextEdit* format_ = nullptr;
  QList<QWidget*> dependents_;
};

}  // namespace tw::ui
