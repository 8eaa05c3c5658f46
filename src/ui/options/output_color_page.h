#pragma once
// The Color tab shared by the Interface, Statistics, NSLOOKUP, NETSTAT, WHOIS,
// PING and TRACERT groups: one page object edits the background and text
// colour of all their output boxes.
#include "ui/options/options_page.h"

namespace tw::ui {

class ColorList;

class OutputColorPage : public OptionsPage {
  Q_OBJECT
 public:
  OutputColorPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;
  ColorList* colors() const { return colors_; }

 private:
  ColorList* colors_ = nullptr;
};

}  // namespace tw::ui
