#pragma once
// The pages of the Traffic Monitor group: View 1 (what the graph shows),
// View 2 (fonts and timing) and Color (the twenty colour slots). Its Log File
// tab is the page every log shares (session_pages.h).
#include <cstdint>
#include <vector>

#include "logging/log_engine.h"
#include "shell/shell_settings.h"
#include "traffic/graph_logic.h"
#include "traffic/sampler_settings.h"
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

  traffic::GraphSettings loaded_;
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
  traffic::GraphSettings loaded_;
  traffic::SamplerSettings loaded_sampler_;
  shell::ShellSettings loaded_shell_;
};

// The graph's twenty colour slots.
class TrafficColorPage : public ColorSlotPage {
  Q_OBJECT
 public:
  TrafficColorPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;
  // The graph's own defaults, slot by slot.
  static const std::vector<std::uint32_t>& default_colors();

 private:
  traffic::GraphSettings loaded_;
};

}  // namespace tw::ui
