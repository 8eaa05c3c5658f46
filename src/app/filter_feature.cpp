#include "app/filter_feature.h"

#include <string>

namespace tw::app {
namespace {

shell::CommandReply reply_of(const Status& s, std::string done) {
  if (s) return {shell::ReplyStatus::Done, std::move(done)};
  return {shell::ReplyStatus::Failed, s.error().headline};
}

}  // namespace

FilterFeature::FilterFeature(Runtime& runtime, settings::Profile& profile, packetfilter::FilterController& filter)
    : profile_(profile), filter_(filter) {
  using shell::Command;
  (void)filter_.reload();
  filter_.start_from_setting(profile_.read_int(packetfilter::kSection, packetfilter::kStartKey, 0));

  runtime.add_command_replying(Command::FilterStart, [this](const auto&) {
    return reply_of(filter_.start_command(), "filtering with " + std::to_string(filter_.rules().size()) + " rules");
  });
  runtime.add_command_replying(Command::FilterStop,
                               [this](const auto&) { return reply_of(filter_.stop_command(), "filtering off"); });
  // The rule file replaces the grid; the filters in force stay until the
  // next start.
  runtime.add_command_replying(Command::FilterReload, [this](const auto&) {
    return reply_of(filter_.reload(), std::to_string(filter_.grid().size()) + " rules read");
  });
  runtime.add_command_replying(Command::FilterAdd, [this](const shell::ParsedCommand& c) {
    const Result<std::size_t> added = filter_.add_command(c.text);
    return reply_of(added.status(), added ? "added as rule " + std::to_string(*added + 1) : std::string());
  });
  runtime.add_shutdown_step(shutdown_step::kPacketFilter, [this](bool) { shut_down(); });
}

void FilterFeature::shut_down() {
  profile_.write_int(packetfilter::kSection, packetfilter::kStartKey, filter_.filtering() ? 1 : 0);
  // The rule file is not written here: every change reached it when it was
  // made, and the end must not overwrite what the user wrote meanwhile.
  filter_.shut_down();
}

}  // namespace tw::app
