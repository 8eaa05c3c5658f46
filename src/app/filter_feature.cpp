#include "app/filter_feature.h"

#include <string>

namespace tw::app {

FilterFeature::FilterFeature(Runtime& runtime, settings::Profile& profile, packetfilter::FilterController& filter)
    : profile_(profile), filter_(filter) {
  using shell::Command;
  filter_.reload();
  filter_.start_from_setting(profile_.read_int(packetfilter::kSection, packetfilter::kStartKey, 0));

  runtime.add_command(Command::FilterStart, [this](const auto&) { filter_.start_command(); });
  runtime.add_command(Command::FilterStop, [this](const auto&) { filter_.stop_command(); });
  // The rule file replaces the grid; the filters in force stay until the
  // next start.
  runtime.add_command(Command::FilterReload, [this](const auto&) { filter_.reload(); });
  runtime.add_command(Command::FilterAdd, [this](const shell::ParsedCommand& c) { filter_.add_command(c.text); });
  runtime.add_shutdown_step(shutdown_step::kPacketFilter, [this](bool) { shut_down(); });
}

void FilterFeature::shut_down() {
  profile_.write_int(packetfilter::kSection, packetfilter::kStartKey, filter_.filtering() ? 1 : 0);
  // What the commands added reaches the file, as the desktop page's edits do.
  (void)filter_.save();
  filter_.shut_down();
}

}  // namespace tw::app
