#pragma once
// Power events a test queues by hand.
#include <functional>
#include <utility>

#include "platform/power_events.h"

namespace tw::platform {

class FakePowerEvents : public PowerEvents {
 public:
  std::vector<PowerEvent> take_events() override { return std::exchange(queued, {}); }
  void suspend_done() override {
    ++suspend_done_count;
    if (on_suspend_done) on_suspend_done();
  }

  std::vector<PowerEvent> queued;          // handed out by the next take_events()
  int suspend_done_count = 0;
  std::function<void()> on_suspend_done;   // lets a test look at the state then
};

}  // namespace tw::platform
