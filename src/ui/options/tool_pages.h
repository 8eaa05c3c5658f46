#pragma once
// Options pages of the tools: NSLOOKUP "NS Record" (record types and the
// resolver choice), WHOIS "WHOIS Server" (the server table and its editor),
// PING "PING" and TRACERT "TRACERT" (the program's options).
#include <array>

#include "tools/tool_settings.h"
#include "ui/options/options_page.h"

class QCheckBox;
class QLineEdit;
class QTreeWidget;

namespace tw::ui {

class NsRecordPage : public OptionsPage {
  Q_OBJECT
 public:
  NsRecordPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;

 private:
  std::array<QCheckBox*, 10> types_{};
  QCheckBox* direct_ = nullptr;
};

class WhoisServerPage : public OptionsPage {
  Q_OBJECT
 public:
  WhoisServerPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;

  QTreeWidget* table() const { return table_; }
  // The server table file, beside the settings file.
  std::string table_path();

 private:
  void edit();
  QTreeWidget* table_ = nullptr;
};

class CommandOptionsPage : public OptionsPage {
  Q_OBJECT
 public:
  CommandOptionsPage(const tools::CommandToolKind& kind, shell::OptionsPageId id, settings::Profile& profile,
                     Language lang, QWidget* parent);
  void load() override;
  void save() override;

 private:
  const tools::CommandToolKind& kind_;
  QLineEdit* options_ = nullptr;
};

}  // namespace tw::ui
