#include <gtest/gtest.h>

#include "packetfilter/filter_controller.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_packet_filter.h"

namespace tw::packetfilter {
namespace {

class FakeNetwork : public platform::NetworkInfoSource {
 public:
  Status network_params(platform::NetworkParams&) override { return {}; }
  Status adapters(std::vector<platform::AdapterInfo>& out) override {
    out.clear();
    if (fail) return Error{"no", "no adapters", EIO};
    out = list;
    return {};
  }
  bool fail = false;
  std::vector<platform::AdapterInfo> list;
};

constexpr const char* kPath = "/data/tarnix_packetfilter.txt";
constexpr const char* kWebRule = "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,80,TCP,web\n";

struct Rig {
  Rig() {
    platform::AdapterInfo eth;
    eth.addresses = {{"10.0.0.1", "255.255.255.0"}, {"10.0.0.3", "255.255.255.0"}};
    platform::AdapterInfo wlan;
    wlan.addresses = {{"192.168.1.5", "255.255.255.0"}};
    network.list = {eth, wlan};
  }
  platform::FakePacketFilter engine;
  FakeNetwork network;
  platform::FakeFileStore files;
  std::vector<std::string> shown;
  FilterController filter{{engine, network, files},
                          {.rule_file_path = kPath,
                           .lang = Language::English,
                           .show_message = [this](std::string_view m) { shown.emplace_back(m); },
                           .note = {}}};
};

TEST(FilterController, StartInstallsTheFileRulesOnEveryLocalAddress) {
  Rig rig;
  rig.files.files[kPath] = std::string(kWebRule) + "FORWARD,0.0.0.0,0.0.0.0,0,0.0.0.0,0.0.0.0,0,ANY,x\n";
  rig.filter.reload();
  ASSERT_EQ(rig.filter.grid().size(), 2u);
  rig.filter.toggle();
  EXPECT_TRUE(rig.filter.filtering());
  ASSERT_TRUE(rig.engine.installed);
  EXPECT_EQ(rig.engine.installed->local_addresses, (std::vector<std::uint32_t>{0x0A000001, 0x0A000003, 0xC0A80105}));
  ASSERT_EQ(rig.engine.installed->drops.size(), 1u);
  EXPECT_EQ(rig.engine.installed->drops[0].dst_port, 80);
  EXPECT_TRUE(rig.shown.empty());

  rig.filter.toggle();
  EXPECT_FALSE(rig.filter.filtering());
  EXPECT_FALSE(rig.engine.installed);
}

TEST(FilterController, MessagesOnlyFromTheButton) {
  Rig rig;
  rig.filter.toggle();  // no rules
  EXPECT_EQ(rig.shown, (std::vector<std::string>{"Non packetfilter rules."}));
  EXPECT_FALSE(rig.filter.filtering());
  rig.filter.start_command();
  rig.filter.stop_command();
  EXPECT_EQ(rig.shown.size(), 1u);

  rig.files.files[kPath] = kWebRule;
  rig.filter.reload();
  rig.network.fail = true;
  rig.filter.toggle();
  EXPECT_EQ(rig.shown.back(), "Failed to get adapter information.");
  EXPECT_FALSE(rig.filter.filtering());
  rig.filter.start_command();
  EXPECT_EQ(rig.shown.size(), 2u);
}

TEST(FilterController, AFailedInstallIsNotReportedAsOn) {
  Rig rig;
  rig.files.files[kPath] = kWebRule;
  rig.filter.reload();
  rig.engine.fail_apply = Error{"Please run with administrator privileges.", "EPERM", EPERM};
  rig.filter.toggle();
  EXPECT_FALSE(rig.filter.filtering());
  EXPECT_EQ(rig.shown, (std::vector<std::string>{"Please run with administrator privileges."}));
  rig.filter.start_command();
  EXPECT_FALSE(rig.filter.filtering());
  EXPECT_EQ(rig.shown.size(), 1u);
}

TEST(FilterController, StartSavesTheGridAndEditsRestartWhileOn) {
  Rig rig;
  rig.filter.insert_default_row(std::nullopt);
  rig.filter.set_cell(0, kAction, "DROP");
  rig.filter.set_cell(0, kDstPort, "0443");  // the file normalises it on start
  rig.filter.toggle();
  ASSERT_TRUE(rig.filter.filtering());
  EXPECT_EQ(rig.filter.grid()[0][kDstPort], "443");
  EXPECT_EQ(rig.files.files[kPath], "DROP,0.0.0.0,255.255.255.255,0,0.0.0.0,255.255.255.255,0443,TCP, \n");

  const int applies = rig.engine.apply_count;
  rig.filter.set_cell(0, kProtocol, "UDP");
  EXPECT_EQ(rig.engine.apply_count, applies + 1);
  EXPECT_EQ(rig.engine.installed->drops[0].protocol, platform::kFilterUdp);

  ASSERT_TRUE(rig.filter.add_command("tarnix.packetfilter /add:DROP,,,,10.9.9.9,,,ICMP"));
  EXPECT_EQ(rig.engine.installed->drops.size(), 2u);
  EXPECT_FALSE(rig.filter.add_command("tarnix.packetfilter /add:DROP,,,,10.9.9.9,,,IGMP"));

  // Deleting every rule while on: the restart finds none and stops.
  rig.filter.delete_row(0);
  rig.filter.delete_row(0);
  EXPECT_FALSE(rig.filter.filtering());
  EXPECT_FALSE(rig.engine.installed);
  EXPECT_EQ(rig.shown, (std::vector<std::string>{"Non packetfilter rules."}));
}

TEST(FilterController, AnUnwritableFileKeepsTheGridsRules) {
  Rig rig;
  rig.files.files[kPath] = kWebRule;
  rig.files.unwritable.insert(kPath);
  rig.filter.reload();
  rig.filter.set_cell(0, kDstPort, "81");
  rig.filter.toggle();
  ASSERT_TRUE(rig.filter.filtering());
  EXPECT_EQ(rig.engine.installed->drops[0].dst_port, 81);
  EXPECT_EQ(rig.filter.grid()[0][kDstPort], "81");
}

TEST(FilterController, SaveOfAnEmptyGridDeletesTheFile) {
  Rig rig;
  rig.files.files[kPath] = kWebRule;
  rig.filter.reload();
  rig.filter.delete_row(0);
  ASSERT_TRUE(rig.filter.save().ok());
  EXPECT_EQ(rig.files.files.count(kPath), 0u);
}

TEST(FilterController, GridEditing) {
  Rig rig;
  rig.filter.set_all_actions(true);  // empty: nothing
  EXPECT_TRUE(rig.filter.grid().empty());
  rig.filter.insert_default_row(std::nullopt);
  rig.filter.insert_default_row(0);
  rig.filter.set_cell(0, kMemo, "first");
  rig.filter.set_all_actions(true);  // works on the rules: the unrebuilt memo edit is lost
  EXPECT_EQ(rig.filter.grid()[0][kAction], "DROP");
  EXPECT_EQ(rig.filter.grid()[0][kMemo], " ");
  rig.filter.set_cell(1, kMemo, "second");
  EXPECT_TRUE(rig.filter.move_row(1, true));
  EXPECT_EQ(rig.filter.grid()[0][kMemo], "second");
  EXPECT_FALSE(rig.filter.move_row(0, true));
  EXPECT_FALSE(rig.filter.move_row(1, false));

  for (int i = 0; i < 2100; ++i) rig.filter.add_command("tarnix.packetfilter /add:DROP,,,,,,,TCP");
  EXPECT_EQ(rig.filter.grid().size(), kMaxFileRows);
  EXPECT_EQ(rig.filter.rules().size(), kMaxRules);
}

TEST(FilterController, RowsFromTheConnectionListsAreAppendedAsDropRules) {
  Rig rig;
  rig.filter.add_rows({row_from_connection("40000", "10.0.0.2", "443", "web.example", std::nullopt),
                       row_from_connection("5353", "10.0.0.9", "53", "(10.0.0.9)", "UDP(UL)"),
                       row_from_connection("0", "10.0.0.7", "0", "ping", "ICMP(DL)"),
                       row_from_connection("1", "10.0.0.8", "2", "x", "IGMP")});
  ASSERT_EQ(rig.filter.rules().size(), 4u);
  EXPECT_EQ(rig.filter.grid()[0], (GridRow{"DROP", "0.0.0.0", "255.255.255.255", "40000", "10.0.0.2",
                                           "255.255.255.255", "443", "TCP", "web.example"}));
  EXPECT_EQ(rig.filter.rules()[1].protocol, kProtocolUdp);
  EXPECT_EQ(rig.filter.rules()[2].protocol, kProtocolIcmp);
  EXPECT_EQ(rig.filter.rules()[3].protocol, kProtocolTcp);
}

}  // namespace
}  // namespace tw::packetfilter
