#pragma once
// The pages of the General group: View, Tasktray, Notice Dialog, Mini Monitor
// and Report. Each reads its keys in load() and writes all of them in save().
#include "shell/shell_settings.h"
#include "traffic/mini_monitor_logic.h"
#include "ui/options/options_page.h"

class QCheckBox;
class QLabel;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace tw::ui {

class ColorList;
class NoticeDialog;

// Shell flags, the notice period and the monitors' auto-start.
class GeneralViewPage : public OptionsPage {
  Q_OBJECT
 public:
  GeneralViewPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;

  // Where the window system does not let the program place and stack its
  // windows (Wayland), "Always on topmost." and the edge snapping are shown
  // greyed with the reason below them; their stored values are kept. Set
  // from the platform at construction.
  void set_placement_available(bool available);

 private:
  void update_enabled();

  QLabel* placement_note_ = nullptr;
  QCheckBox* notice_box_ = nullptr;
  QComboBox* interval_ = nullptr;
  shell::ShellSettings loaded_;
};

// The drawn speed monitor in the tray icon.
class TasktrayPage : public OptionsPage {
  Q_OBJECT
 public:
  TasktrayPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;
  ColorList* colors() const { return colors_; }
  void restore_default_colors();

 private:
  ColorList* colors_ = nullptr;
  QComboBox* font_ = nullptr;
  QComboBox* unit_ = nullptr;
  shell::ShellSettings loaded_;
};

// Colours, translucency and visible time of the Notice dialog, with a preview.
class NoticeDialogPage : public OptionsPage {
  Q_OBJECT
 public:
  NoticeDialogPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;
  ColorList* colors() const { return colors_; }
  // Opens the preview with the page's current, unsaved values. The notice
  // deletes itself when it has slid out.
  NoticeDialog* open_preview();

 private:
  shell::NoticeBoxSettings current() const;
  void update_enabled();

  ColorList* colors_ = nullptr;
  QCheckBox* alpha_blend_ = nullptr;
  QSpinBox* alpha_level_ = nullptr;
  QSpinBox* timeout_ = nullptr;
};

// The Mini Monitor window: colours, font, unit, format and window style.
class MiniMonitorPage : public OptionsPage {
  Q_OBJECT
 public:
  MiniMonitorPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;
  ColorList* colors() const { return colors_; }
  void restore_default_colors();

 private:
  void update_enabled();

  ColorList* colors_ = nullptr;
  QComboBox* font_name_ = nullptr;
  QComboBox* unit_ = nullptr;
  QComboBox* style_ = nullptr;
  QLineEdit* message_level_ = nullptr;
  QCheckBox* alpha_blend_ = nullptr;
  QSpinBox* alpha_level_ = nullptr;
  traffic::MiniMonitorSettings loaded_;
};

// The traffic report log switch.
class ReportPage : public OptionsPage {
  Q_OBJECT
 public:
  ReportPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;

 private:
  QCheckBox* log_check_ = nullptr;
};

}  // namespace tw::ui
