#pragma once
// The bell of tarnixd: BEL on stderr when stderr is a terminal, nothing
// otherwise (a log file or a pipe must not collect bell characters).
#include "platform/beeper.h"

namespace tw::platform {

class TerminalBeeper : public Beeper {
 public:
  void beep() override;
};

}  // namespace tw::platform
