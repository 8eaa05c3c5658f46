#pragma once
// Suspend and resume of the machine, as a queue of events that the main loop
// drains. Before the machine sleeps the source reports Suspending and holds
// the sleep back (up to the system's limit) until suspend_done() says the
// work for it is finished; after the machine woke up it reports Resumed.
//
// A source without a power manager to ask simply never reports anything.
// Main thread only.
#include <vector>

namespace tw::platform {

enum class PowerEvent {
  Suspending,  // the machine is about to sleep
  Resumed,     // the machine woke up
};

class PowerEvents {
 public:
  virtual ~PowerEvents() = default;
  // A source exists only once it reached its power manager.
  virtual bool is_supported() { return true; }
  // The events that arrived since the last call, oldest first. Never blocks.
  virtual std::vector<PowerEvent> take_events() = 0;
  // The work for the last Suspending is done: the machine may sleep now.
  virtual void suspend_done() = 0;
};

}  // namespace tw::platform
