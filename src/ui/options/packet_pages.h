#pragma once
// The Packet Monitor's "View" option page (display interval, the data
// column's form, the port filter). Its "Color", "Copy Items" and "Log File"
// tabs are the pages every monitor shares.
#include <vector>

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

// The Packet Monitor's columns for its Copy Items page (the page itself is
// the one every list shares).
std::vector<shell::ListColumn> packet_copy_columns();

}  // namespace tw::ui
