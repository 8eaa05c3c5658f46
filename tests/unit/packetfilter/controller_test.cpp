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
  (void)rig.filter.reload();
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
  (void)rig.filter.start_command();
  (void)rig.filter.stop_command();
  EXPECT_EQ(rig.shown.size(), 1u);

  rig.files.files[kPath] = kWebRule;
  (void)rig.filter.reload();
  rig.network.fail = true;
  rig.filter.toggle();
  EXPECT_EQ(rig.shown.back(), "Failed to get adapter information.");
  EXPECT_FALSE(rig.filter.filtering());
  (void)rig.filter.start_command();
  EXPECT_EQ(rig.shown.size(), 2u);
}

TEST(FilterController, AFailedInstallIsNotReportedAsOn) {
  Rig rig;
  rig.files.files[kPath] = kWebRule;
  (void)rig.filter.reload();
  rig.engine.fail_apply = Error{"Please run with administrator privileges.", "EPERM", EPERM};
  rig.filter.toggle();
  EXPECT_FALSE(rig.filter.filtering());
  EXPECT_EQ(rig.shown, (std::vector<std::string>{"Please run with administrator privileges."}));
  (void)rig.filter.start_command();
  EXPECT_FALSE(rig.filter.filtering());
  EXPECT_EQ(rig.shown.size(), 1u);
}

TEST(FilterController, EditsRestartWhileOn) {
  Rig rig;
  rig.filter.insert_default_row(std::nullopt);
  rig.filter.set_cell(0, kAction, "DROP");
  rig.filter.toggle();
  ASSERT_TRUE(rig.filter.filtering());
  EXPECT_EQ(rig.files.files[kPath], "DROP,0.0.0.0,255.255.255.255,0,0.0.0.0,255.255.255.255,0,TCP, \n");

  const int applies = rig.engine.apply_count;
  rig.filter.set_cell(0, kProtocol, "UDP");
  EXPECT_EQ(rig.engine.apply_count, applies + 1);
  EXPECT_EQ(rig.engine.installed->drops[0].protocol, platform::kFilterUdp);

  ASSERT_TRUE(rig.filter.add_command("tarnix.packetfilter /add:DROP,0.0.0.0,0.0.0.0,0,10.9.9.9,255.255.255.255,0,ICMP"));
  EXPECT_EQ(rig.engine.installed->drops.size(), 2u);
  EXPECT_FALSE(rig.filter.add_command("tarnix.packetfilter /add:DROP,0.0.0.0,0.0.0.0,0,10.9.9.9,255.255.255.255,0,IGMP"));

  // Deleting every rule while on: the restart finds none and stops.
  rig.filter.delete_row(0);
  rig.filter.delete_row(0);
  EXPECT_FALSE(rig.filter.filtering());
  EXPECT_FALSE(rig.engine.installed);
  EXPECT_EQ(rig.shown, (std::vector<std::string>{"Non packetfilter rules."}));
  EXPECT_EQ(rig.files.files.count(kPath), 0u);  // an empty grid and nothing else: no file
}

TEST(FilterController, TheFileIsWrittenOnlyByChangesAndKeepsWhatTheGridDoesNotHold) {
  Rig rig;
  // A BOM, a comment, a typo row, a rule the table normalises ("0443").
  const std::string text = "\xEF\xBB\xBF# mine\n" + std::string(kWebRule) +
                           "FORWORD,1.1.1.1,255.255.255.255,0,0.0.0.0,0.0.0.0,0,ANY,typo\n"
                           "DROP,0.0.0.0,255.255.255.255,0,10.0.0.4,255.255.255.255,0443,TCP,odd\n";
  rig.files.files[kPath] = text;
  (void)rig.filter.reload();
  ASSERT_EQ(rig.filter.grid().size(), 2u);
  EXPECT_EQ(rig.filter.grid()[0][kAction], "DROP");  // the BOM is not part of the action
  EXPECT_NE(rig.filter.file_report(Language::English).find("line 3: the action \"FORWORD\" is neither FORWARD nor DROP"),
            std::string::npos)
      << rig.filter.file_report(Language::English);

  // Start, restart, stop and the end leave the file alone.
  (void)rig.filter.start_command();
  rig.filter.restart();
  rig.filter.toggle();
  rig.filter.shut_down();
  EXPECT_EQ(rig.files.replace_count, 0);
  EXPECT_EQ(rig.files.files[kPath], text);

  // An edit rewrites its own row only.
  ASSERT_TRUE(rig.filter.set_cell(0, kDstPort, "8080"));
  EXPECT_EQ(rig.files.files[kPath],
            "\xEF\xBB\xBF# mine\nDROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,8080,TCP,web\n"
            "FORWORD,1.1.1.1,255.255.255.255,0,0.0.0.0,0.0.0.0,0,ANY,typo\n"
            "DROP,0.0.0.0,255.255.255.255,0,10.0.0.4,255.255.255.255,0443,TCP,odd\n");
}

TEST(FilterController, AFileChangedOnDiskIsReadAgainBeforeAnyWriting) {
  Rig rig;
  rig.files.files[kPath] = kWebRule;
  (void)rig.filter.reload();
  // Edited by hand while the program runs.
  const std::string hand = std::string("# by hand\n") + kWebRule + "DROP,0.0.0.0,0.0.0.0,0,10.0.0.7,255.255.255.255,0,ANY,hand\n";
  rig.files.files[kPath] = hand;

  // "/add:" appends to the file as it is now, and the grid follows it.
  ASSERT_TRUE(rig.filter.add_command("tarnix.packetfilter /add:DROP,0.0.0.0,0.0.0.0,0,10.0.0.8,255.255.255.255,0,UDP,cmd"));
  EXPECT_EQ(rig.files.files[kPath], hand + "DROP,0.0.0.0,0.0.0.0,0,10.0.0.8,255.255.255.255,0,UDP,cmd\n");
  ASSERT_EQ(rig.filter.grid().size(), 3u);

  // A grid edit made against the grid as shown goes onto the new text.
  rig.files.files[kPath] = "# top\n" + rig.files.files[kPath];
  ASSERT_TRUE(rig.filter.set_cell(1, kMemo, "edited"));  // the "hand" rule
  EXPECT_EQ(rig.files.files[kPath],
            "# top\n# by hand\n" + std::string(kWebRule) + "DROP,0.0.0.0,0.0.0.0,0,10.0.0.7,255.255.255.255,0,ANY,edited\n"
            "DROP,0.0.0.0,0.0.0.0,0,10.0.0.8,255.255.255.255,0,UDP,cmd\n");

  // The row was changed by hand too: the hand's text wins and the user hears
  // that the edit was given up.
  rig.files.files[kPath] = kWebRule;
  (void)rig.filter.reload();
  rig.files.files[kPath] = "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,443,TCP,web\n";
  rig.filter.set_cell(0, kMemo, "mine");
  EXPECT_EQ(rig.files.files[kPath], "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,443,TCP,web\n");
  EXPECT_EQ(rig.filter.grid()[0][kDstPort], "443");
  EXPECT_NE(rig.filter.file_report(Language::English).find("1 change(s) could not be written"), std::string::npos);

  // A start takes the file as it is on disk.
  rig.files.files[kPath] = "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,22,TCP,ssh\n";
  (void)rig.filter.start_command();
  ASSERT_TRUE(rig.engine.installed);
  EXPECT_EQ(rig.engine.installed->drops[0].dst_port, 22);
  EXPECT_EQ(rig.filter.grid()[0][kMemo], "ssh");
}

TEST(FilterController, AFileThatCannotBeReadIsNeverReplacedOrDeleted) {
  for (int kind = 0; kind < 2; ++kind) {
    Rig rig;
    rig.files.files[kPath] = kWebRule;
    if (kind == 0) rig.files.unreadable.insert(kPath);                  // no permission
    else rig.files.files[kPath] = std::string(kMaxRuleFileBytes + 1, '#');  // too large
    const std::string before = rig.files.files[kPath];
    EXPECT_FALSE(rig.filter.reload().ok());
    EXPECT_TRUE(rig.filter.grid().empty());
    ASSERT_TRUE(rig.filter.read_error());
    EXPECT_NE(rig.filter.file_report(Language::English).find("The rule file cannot be read"), std::string::npos);

    // Edits and commands are refused; nothing reaches the file.
    EXPECT_FALSE(rig.filter.insert_default_row(std::nullopt));
    const auto added = rig.filter.add_command("tarnix.packetfilter /add:" + std::string(kWebRule));
    ASSERT_FALSE(added);
    EXPECT_NE(added.error().headline.find("cannot be read"), std::string::npos);
    rig.filter.add_rows({row_from_connection("1", "10.0.0.2", "2", "x", std::nullopt)});
    EXPECT_FALSE(rig.filter.write_pending().ok());
    EXPECT_FALSE(rig.filter.start_command().ok());
    rig.filter.shut_down();
    EXPECT_EQ(rig.files.files[kPath], before);
    EXPECT_EQ(rig.files.replace_count, 0);

    // Once it can be read, a start takes it.
    rig.files.unreadable.clear();
    rig.files.files[kPath] = kWebRule;
    EXPECT_TRUE(rig.filter.start_command().ok());
    EXPECT_FALSE(rig.filter.read_error());
    EXPECT_EQ(rig.filter.grid().size(), 1u);
  }
}

TEST(FilterController, AnUnwritableFileKeepsTheEditsInForceAndSaysSo) {
  Rig rig;
  rig.files.files[kPath] = kWebRule;
  (void)rig.filter.reload();
  rig.files.unwritable.insert(kPath);
  rig.filter.set_cell(0, kDstPort, "81");
  EXPECT_TRUE(rig.filter.unsaved());
  EXPECT_NE(rig.filter.file_report(Language::English).find("cannot be written"), std::string::npos);
  rig.filter.toggle();
  ASSERT_TRUE(rig.filter.filtering());
  EXPECT_EQ(rig.engine.installed->drops[0].dst_port, 81);
  EXPECT_EQ(rig.filter.grid()[0][kDstPort], "81");
  EXPECT_EQ(rig.files.files[kPath], kWebRule);
  // A refused "/add:" adds nothing: the file could not take it.
  EXPECT_FALSE(rig.filter.add_command("tarnix.packetfilter /add:" + std::string(kWebRule)));
  EXPECT_EQ(rig.filter.grid().size(), 1u);
  // Writable again: the next change writes both.
  rig.files.unwritable.clear();
  rig.filter.set_cell(0, kMemo, "both");
  EXPECT_EQ(rig.files.files[kPath], "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,81,TCP,both\n");
  EXPECT_EQ(rig.filter.file_report(Language::English), "");
}

TEST(FilterController, AddCommandSaysWhyItIsRefused) {
  Rig rig;
  const auto bad = rig.filter.add_command("tarnix.packetfilter /add:DROP,10.213.22.77-,255.255.255.255,0,0.0.0.0,0.0.0.0,0,ANY");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().headline, "Src-IP \"10.213.22.77-\" is no address a.b.c.d or range a.b.c.d-e.f.g.h");
  EXPECT_TRUE(rig.filter.grid().empty());
  EXPECT_EQ(rig.files.files.count(kPath), 0u);

  std::string full;
  for (std::size_t i = 0; i < kMaxRules; ++i) full += kWebRule;
  rig.files.files[kPath] = full + "# the end\n";
  (void)rig.filter.reload();
  const auto over = rig.filter.add_command("tarnix.packetfilter /add:" + std::string(kWebRule));
  ASSERT_FALSE(over);
  EXPECT_EQ(over.error().headline, "the rule table is full (2000 rules)");
  EXPECT_NE(rig.filter.file_report(Language::English).find("the rule table is full"), std::string::npos);
  EXPECT_EQ(rig.files.files[kPath], full + "# the end\n");
  EXPECT_FALSE(rig.filter.insert_default_row(std::nullopt));
}

TEST(FilterController, GridEditing) {
  Rig rig;
  rig.filter.set_all_actions(true);  // empty: nothing
  EXPECT_TRUE(rig.filter.grid().empty());
  rig.filter.insert_default_row(std::nullopt);
  rig.filter.insert_default_row(0);
  rig.filter.set_cell(0, kMemo, "first");
  rig.filter.set_all_actions(true);  // the memo edit stays
  EXPECT_EQ(rig.filter.grid()[0][kAction], "DROP");
  EXPECT_EQ(rig.filter.grid()[0][kMemo], "first");
  EXPECT_FALSE(rig.filter.set_cell(0, kDstIp, "10.0.0.1-"));  // never a rule
  EXPECT_EQ(rig.filter.grid()[0][kDstIp], "0.0.0.0");
  rig.filter.set_cell(1, kMemo, "second");
  EXPECT_TRUE(rig.filter.move_row(1, true));
  EXPECT_EQ(rig.filter.grid()[0][kMemo], "second");
  EXPECT_FALSE(rig.filter.move_row(0, true));
  EXPECT_FALSE(rig.filter.move_row(1, false));
}

TEST(FilterController, RowsFromTheConnectionListsAreAppendedAsDropRules) {
  Rig rig;
  EXPECT_EQ(rig.filter.add_rows({row_from_connection("40000", "10.0.0.2", "443", "web.example", std::nullopt),
                                 row_from_connection("5353", "10.0.0.9", "53", "(10.0.0.9)", "UDP(UL)"),
                                 row_from_connection("0", "10.0.0.7", "0", "ping", "ICMP(DL)"),
                                 row_from_connection("1", "10.0.0.8", "2", "x", "IGMP"),
                                 row_from_connection("1", "fd00::2", "2", "six", std::nullopt)}),
            4u);
  ASSERT_EQ(rig.filter.rules().size(), 4u);
  EXPECT_EQ(rig.filter.grid()[0], (GridRow{"DROP", "0.0.0.0", "255.255.255.255", "40000", "10.0.0.2",
                                           "255.255.255.255", "443", "TCP", "web.example"}));
  EXPECT_EQ(rig.filter.rules()[1].protocol, kProtocolUdp);
  EXPECT_EQ(rig.filter.rules()[2].protocol, kProtocolIcmp);
  EXPECT_EQ(rig.filter.rules()[3].protocol, kProtocolTcp);
  EXPECT_NE(rig.filter.file_report(Language::English).find("1 row(s) were not added"), std::string::npos);
}

}  // namespace
}  // namespace tw::packetfilter
