#pragma once
// The platform's default beep (the desktop's bell; a terminal bell without one).
namespace tw::platform {

class Beeper {
 public:
  virtual ~Beeper() = default;
  // Never blocks and never fails visibly.
  virtual void beep() = 0;
};

}  // namespace tw::platform
