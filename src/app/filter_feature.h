#pragma once
// What the Packet Filter brings to either program: the commands
// "tarnix.packetfilter /start", "/stop", "/reload" and "/add:" (each answers
// a sender that waits with its outcome: a refused "/add:" says why), the rules
// of the rule file loaded at start, filtering restored at start when
// "PacketFilter"/"Start" is 1, and at the end "Start" written and the filters
// removed (the rule file is written by the changes themselves, never at the
// end). The desktop program's page edits the same controller; tarnixd serves
// the commands without a window.
//
// Ownership: the controller, the profile and the runtime must outlive it.
// Main thread only.
#include "app/runtime.h"
#include "packetfilter/filter_controller.h"
#include "settings/profile.h"

namespace tw::app {

class FilterFeature {
 public:
  FilterFeature(Runtime& runtime, settings::Profile& profile, packetfilter::FilterController& filter);
  FilterFeature(const FilterFeature&) = delete;
  FilterFeature& operator=(const FilterFeature&) = delete;

  packetfilter::FilterController& filter() { return filter_; }

 private:
  void shut_down();

  settings::Profile& profile_;
  packetfilter::FilterController& filter_;
};

}  // namespace tw::app
