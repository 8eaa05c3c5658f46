#pragma once
// The Color tab shared by the Interface, Statistics, NSLOOKUP, NETSTAT, WHOIS,
// PING and TRACERT groups: one page object edits the background and text
// colour of all their output boxes.
#include "ui/options/color_slot_page.h"

namespace tw::ui {

class OutputColorPage : public ColorSlotPage {
  Q_OBJECT
 public:
  OutputColorPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;
};

}  // namespace tw::ui
