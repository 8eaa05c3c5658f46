// The Packet Filter in the runtime: the four commands and their answers,
// filtering restored from "Start" at creation, and at the end "Start" written
// and the filters removed, the rule file left as it is.
#include "app/filter_feature.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_packet_filter.h"

namespace tw::app {
namespace {

constexpr char kIni[] = "/data/tarnix_u@h.ini";
constexpr char kRules[] = "/data/tarnix_packetfilter.txt";

class NoBeep : public platform::Beeper {
 public:
  void beep() override {}
};

class OneAddress : public platform::NetworkInfoSource {
 public:
  Status network_params(platform::NetworkParams&) override { return {}; }
  Status adapters(std::vector<platform::AdapterInfo>& out) override {
    out.assign(1, platform::AdapterInfo{});
    out[0].addresses = {{"10.0.0.1", "255.255.255.0"}};
    return {};
  }
};

struct Rig {
  explicit Rig(const std::string& ini, const std::string& rules) {
    files.files[kIni] = ini;
    if (!rules.empty()) files.files[kRules] = rules;
    feature = std::make_unique<FilterFeature>(runtime, profile, filter);
  }
  platform::FakeFileStore files;
  platform::FakeClock clock;
  platform::FakePacketFilter engine;
  OneAddress network;
  NoBeep beeper;
  std::vector<std::string> shown;
  settings::Profile profile{files, kIni};
  logging::LogEngine logs{profile, files, clock, beeper, Language::English, "/data/"};
  Runtime runtime{profile, logs};
  packetfilter::FilterController filter{
      {engine, network, files},
      {.rule_file_path = kRules,
       .lang = Language::English,
       .show_message = [this](std::string_view m) { shown.emplace_back(m); },
       .note = {}}};
  std::unique_ptr<FilterFeature> feature;
};

constexpr char kWeb[] = "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,80,TCP,web\n";

TEST(FilterFeature, StartSettingRestoresFilteringQuietly) {
  Rig on("[PacketFilter]\nStart=1\n", kWeb);
  EXPECT_TRUE(on.filter.filtering());
  ASSERT_TRUE(on.engine.installed);
  EXPECT_EQ(on.engine.installed->drops.size(), 1u);

  Rig off("[PacketFilter]\nStart=0\n", kWeb);
  EXPECT_FALSE(off.filter.filtering());
  EXPECT_EQ(off.filter.grid().size(), 1u);  // the file is loaded either way

  Rig nothing("[PacketFilter]\nStart=1\n", "");
  EXPECT_FALSE(nothing.filter.filtering());
  EXPECT_TRUE(nothing.shown.empty());
}

TEST(FilterFeature, CommandsDriveTheFilter) {
  Rig rig("", "");
  rig.runtime.handle_command(
      "tarnix.packetfilter /add:DROP,0.0.0.0,255.255.255.255,0,10.0.0.0-10.0.0.255,255.255.255.0,80,TCP,web");
  ASSERT_EQ(rig.filter.grid().size(), 1u);
  rig.runtime.handle_command("tarnix.packetfilter /start");
  EXPECT_TRUE(rig.filter.filtering());
  EXPECT_EQ(rig.files.files[kRules],
            "DROP,0.0.0.0,255.255.255.255,0,10.0.0.0-10.0.0.255,255.255.255.0,80,TCP,web\n");
  // "/reload" replaces the grid, the filters in force stay.
  rig.files.files[kRules] = "";
  rig.runtime.handle_command("tarnix.packetfilter /reload");
  EXPECT_TRUE(rig.filter.grid().empty());
  EXPECT_TRUE(rig.engine.installed);
  rig.runtime.handle_command("tarnix.packetfilter /stop");
  EXPECT_FALSE(rig.filter.filtering());
  EXPECT_FALSE(rig.engine.installed);
  rig.runtime.handle_command("tarnix.packetfilter /stop");  // already off: stays off, silently
  EXPECT_FALSE(rig.filter.filtering());
  EXPECT_TRUE(rig.shown.empty());
}

TEST(FilterFeature, CommandsAnswerWithTheirOutcome) {
  Rig rig("", "");
  using shell::ReplyStatus;
  EXPECT_EQ(rig.runtime.answer_command("tarnix.packetfilter /start"),
            (shell::CommandReply{ReplyStatus::Failed, "Non packetfilter rules."}));
  const shell::CommandReply added = rig.runtime.answer_command(
      "tarnix.packetfilter /add:DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,80,TCP,web");
  EXPECT_EQ(added, (shell::CommandReply{ReplyStatus::Done, "added as rule 1"}));
  EXPECT_EQ(rig.runtime.answer_command("tarnix.packetfilter /add:DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,8081-,TCP"),
            (shell::CommandReply{ReplyStatus::Failed, "Dst-Port \"8081-\" is no port n or range n-m"}));
  EXPECT_EQ(rig.runtime.answer_command("tarnix.packetfilter /start").status, ReplyStatus::Done);
  EXPECT_EQ(rig.runtime.answer_command("tarnix.packetfilter /reload"),
            (shell::CommandReply{ReplyStatus::Done, "1 rules read"}));

  // The table's limit: the sender hears it instead of a silent success.
  std::string full;
  for (int i = 0; i < 2000; ++i) full += kWeb;
  rig.files.files[kRules] = full;
  EXPECT_EQ(rig.runtime.answer_command("tarnix.packetfilter /add:DROP,0.0.0.0,255.255.255.255,0,10.0.0.3,255.255.255.255,80,TCP"),
            (shell::CommandReply{ReplyStatus::Failed, "the rule table is full (2000 rules)"}));
  EXPECT_EQ(rig.files.files[kRules], full);
  EXPECT_EQ(rig.runtime.answer_command("tarnix.packetfilter /stop").status, ReplyStatus::Done);
}

TEST(FilterFeature, TheEndWritesStartRemovesTheFiltersAndLeavesTheFileAlone) {
  Rig rig("", kWeb);
  rig.runtime.handle_command("tarnix.packetfilter /start");
  rig.runtime.handle_command("tarnix.packetfilter /add:DROP,0.0.0.0,0.0.0.0,0,0.0.0.0,0.0.0.0,0,ICMP");
  const std::string written = std::string(kWeb) + "DROP,0.0.0.0,0.0.0.0,0,0.0.0.0,0.0.0.0,0,ICMP,\n";
  EXPECT_EQ(rig.files.files[kRules], written);  // the command wrote it at once
  // Edited by hand meanwhile: the end must not undo that.
  rig.files.files[kRules] = "# by hand\n" + written;
  rig.runtime.shutdown(false);
  EXPECT_FALSE(rig.engine.installed);
  EXPECT_NE(rig.files.files[kIni].find("[PacketFilter]\nStart=1"), std::string::npos) << rig.files.files[kIni];
  EXPECT_EQ(rig.files.files[kRules], "# by hand\n" + written);
}

}  // namespace
}  // namespace tw::app
