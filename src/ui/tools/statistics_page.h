#pragma once
// The Statistics tab: the protocol counters report, read when START is
// pressed. The reads are a file and a few kernel dumps, milliseconds, so they
// run on the user-interface thread.
#include "ui/tools/tool_page.h"

class QPushButton;

namespace tw::ui {

class StatisticsPage : public ToolPage {
  Q_OBJECT
 public:
  StatisticsPage(settings::Profile& profile, platform::ProtocolStatsSource& source, Language lang,
                 QWidget* parent = nullptr);

  QPushButton* button() const { return button_; }
  // Builds a fresh report and shows it.
  void refresh();

 private:
  platform::ProtocolStatsSource& source_;
  QPushButton* button_ = nullptr;
};

}  // namespace tw::ui
