#pragma once
// The platform's default beep (the desktop's bell; a terminal bell without one).
namespace tw::platform {

class Beeper {
 public:
  virtual ~Beeper() = default;
  // There is always some bell to ring.
  virtual bool is_supported() { return true; }
  // Never blocks and never fails visibly.
  virtual void beep() = 0;
};

}  // namespace tw::platform
