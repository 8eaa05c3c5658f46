#pragma once
// The log writer's beep on the desktop: the display's bell.
#include <QApplication>

#include "platform/beeper.h"

namespace tw::ui {

class QtBeeper final : public platform::Beeper {
 public:
  // Called on the UI thread (the log writer runs there).
  void beep() override { QApplication::beep(); }
};

}  // namespace tw::ui
