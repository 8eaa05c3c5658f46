#include "traffic/sampler_settings.h"

#include <algorithm>
#include <string_view>

namespace tw::traffic {

namespace {
constexpr std::string_view kSection = "Traffic";
}  // namespace

SamplerSettings load_sampler_settings(const settings::Profile& p) {
  SamplerSettings s;
  s.thread_responce = std::clamp(p.read_int(kSection, "Thread-Responce", s.thread_responce), 0, 9);
  s.interface_auto_reset = p.read_int(kSection, "InterfaceAutoReset", 1) == 1;
  s.interface_auto_reset_timer = p.read_int(kSection, "InterfaceAutoResetTimer", s.interface_auto_reset_timer);
  return s;
}

void save_sampler_settings(settings::Profile& p, const SamplerSettings& s) {
  p.write_int(kSection, "Thread-Responce", s.thread_responce);
  p.write_int(kSection, "InterfaceAutoReset", s.interface_auto_reset ? 1 : 0);
  p.write_int(kSection, "InterfaceAutoResetTimer", s.interface_auto_reset_timer);
}

}  // namespace tw::traffic
