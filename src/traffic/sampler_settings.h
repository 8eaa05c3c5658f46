#pragma once
// The Traffic Monitor's own keys of section "Traffic": how often it samples
// and whether it resets itself when the chosen interface changes. The display
// keys it also follows belong to the graph (graph_logic.h).
#include "settings/profile.h"

namespace tw::traffic {

struct SamplerSettings {
  int thread_responce = 0;              // "Thread-Responce": period index 0..9 for 50..500 ms
  bool interface_auto_reset = true;     // "InterfaceAutoReset" 1
  int interface_auto_reset_timer = 15;  // "InterfaceAutoResetTimer": seconds, stored as read
  bool operator==(const SamplerSettings&) const = default;
};

// The period index is brought into 0..9; the countdown is kept as stored
// (the monitor reads a negative one as one that never fires).
SamplerSettings load_sampler_settings(const settings::Profile& profile);
void save_sampler_settings(settings::Profile& profile, const SamplerSettings& s);

}  // namespace tw::traffic
