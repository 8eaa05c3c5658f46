#include "platform/linux/terminal_beeper.h"

#include <unistd.h>

namespace tw::platform {

void TerminalBeeper::beep() {
  if (::isatty(STDERR_FILENO) != 1) return;
  // One byte to a terminal: it either goes or is lost; nothing to retry.
  (void)!::write(STDERR_FILENO, "\a", 1);
}

}  // namespace tw::platform
