#pragma once
// The Packet Monitor's option pages: "View" (display interval, the data
// column's form, the port filter), "Copy Items" (the columns "Clipboard Copy"
// takes) and "Log File" (the packet log block). Its "Color" tab is the page
// shared with the Session Monitor.
#include <array>

#include "logging/log_engine.h"
#include "packets/packet_settings.h"
#include "shell/list_columns.h"
#include "ui/options/options_page.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QSpinBox;

namespace tw::ui {

class PacketViewPage : public OptionsPage {
  Q_OBJECT
 public:
  PacketViewPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;

 private:
  QSpinBox* interval_ = nullptr;
  QRadioButton* hex_ = nullptr;
  QRadioButton* text_ = nullptr;
  QCheckBox* filter_ = nullptr;
  QLineEdit* port1_ = nullptr;
  QLineEdit* port2_ = nullptr;
  packets::PacketSettings loaded_;
};

class PacketCopyItemsPage : public OptionsPage {
  Q_OBJECT
 public:
  PacketCopyItemsPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;

 private:
  std::array<QCheckBox*, shell::kCopyItemFields> boxes_{};
  shell::CopyItems loaded_{};
};

class PacketLogFilePage : public OptionsPage {
  Q_OBJECT
 public:
  PacketLogFilePage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;

 private:
  void update_enabled();

  QCheckBox* log_check_ = nullptr;
  QCheckBox* sound_ = nullptr;
  QCheckBox* overwrite_ = nullptr;
  QLineEdit* file_name_ = nullptr;
  QSpinBox* cycle_ = nullptr;
  QPlainTextEdit* format_ = nullptr;
  QList<QWidget*> dependents_;
  logging::LogBlock loaded_;
};

}  // namespace tw::ui
