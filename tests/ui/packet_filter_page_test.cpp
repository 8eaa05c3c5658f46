// The Packet Filter tab on the offscreen platform: the grid's keys and cell
// editors reach the rules, and the buttons follow the filter's state.
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "column_checks.h"
#include "packetfilter/filter_controller.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_packet_filter.h"
#include "platform/network_info.h"
#include "settings/profile.h"
#include "ui/packetfilter/packet_filter_page.h"

namespace tw::ui {
namespace {

namespace pf = packetfilter;

class OneAdapter : public platform::NetworkInfoSource {
 public:
  Status network_params(platform::NetworkParams&) override { return {}; }
  Status adapters(std::vector<platform::AdapterInfo>& out) override {
    out.assign(1, platform::AdapterInfo{});
    out[0].addresses = {{"10.0.0.1", "255.255.255.0"}};
    return {};
  }
};

struct Fixture {
  platform::FakeFileStore files;
  settings::Profile profile{files, "/cfg/tarnix_user@host.ini"};
  platform::FakePacketFilter engine;
  OneAdapter network;
  pf::FilterController filter{{engine, network, files}, {.rule_file_path = "/cfg/tarnix_packetfilter.txt", .lang = Language::English, .show_message = {}, .note = {}}};
};

// Types into the grid and lets the editor's 20 ms timer fire.
void key(QWidget* w, Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QTest::keyClick(w, k, mods);
  QTest::qWait(40);
}

TEST(PacketFilterPage, KeysEditTheRules) {
  Fixture f;
  PacketFilterPage page(f.filter, f.profile, Language::English);
  page.show();
  QTableView* grid = page.grid();
  grid->setFocus();

  key(grid, Qt::Key_Insert);
  ASSERT_EQ(f.filter.grid().size(), 1u);
  grid->setCurrentIndex(grid->model()->index(0, pf::kAction));
  key(grid, Qt::Key_Return);  // FORWARD -> DROP
  EXPECT_EQ(f.filter.grid()[0][pf::kAction], "DROP");
  grid->setCurrentIndex(grid->model()->index(0, pf::kProtocol));
  key(grid, Qt::Key_Return);  // TCP -> UDP
  EXPECT_EQ(f.filter.grid()[0][pf::kProtocol], "UDP");

  // A digit opens the mask editor with that digit; Enter commits through the
  // prefix-length rule.
  grid->setCurrentIndex(grid->model()->index(0, pf::kDstMask));
  QTest::keyClick(grid, Qt::Key_2, Qt::NoModifier);
  QTest::qWait(40);
  QLineEdit* editor = page.open_editor();
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->objectName(), "addressEditor");
  EXPECT_EQ(editor->text(), "2");
  QTest::keyClick(editor, Qt::Key_4);
  QTest::keyClick(editor, Qt::Key_Return);
  EXPECT_EQ(page.open_editor(), nullptr);
  EXPECT_EQ(f.filter.grid()[0][pf::kDstMask], "255.255.255.0");

  // Escape leaves the cell alone.
  grid->setCurrentIndex(grid->model()->index(0, pf::kDstPort));
  key(grid, Qt::Key_Return);
  editor = page.open_editor();
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->objectName(), "portEditor");
  EXPECT_EQ(editor->selectedText(), "0");
  QTest::keyClicks(editor, "90-80");
  QTest::keyClick(editor, Qt::Key_Escape);
  EXPECT_EQ(f.filter.grid()[0][pf::kDstPort], "0");

  // Ctrl+Down moves the rule and the cursor follows it.
  grid->setCurrentIndex(grid->model()->index(0, pf::kDstPort));
  key(grid, Qt::Key_Insert);  // a FORWARD row before it
  ASSERT_EQ(f.filter.grid().size(), 2u);
  EXPECT_EQ(f.filter.grid()[1][pf::kAction], "DROP");
  grid->setCurrentIndex(grid->model()->index(1, pf::kDstPort));
  key(grid, Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(f.filter.grid()[0][pf::kAction], "DROP");
  EXPECT_EQ(grid->currentIndex().row(), 0);
  key(grid, Qt::Key_Delete);
  ASSERT_EQ(f.filter.grid().size(), 1u);
  EXPECT_EQ(f.filter.grid()[0][pf::kAction], "FORWARD");
}

TEST(PacketFilterPage, ButtonsFollowTheFilter) {
  Fixture f;
  f.files.files["/cfg/tarnix_packetfilter.txt"] = "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,80,TCP,web\n";
  f.filter.reload();
  PacketFilterPage page(f.filter, f.profile, Language::English);
  EXPECT_EQ(page.grid()->model()->rowCount(), 1);
  page.start_button()->click();
  EXPECT_TRUE(f.filter.filtering());
  EXPECT_EQ(page.start_button()->text(), "STOP");
  EXPECT_FALSE(page.reload_button()->isEnabled());
  EXPECT_FALSE(page.edit_button()->isEnabled());
  // A command from outside shows on the page too.
  f.filter.stop_command();
  EXPECT_EQ(page.start_button()->text(), "START");
  EXPECT_TRUE(page.edit_button()->isEnabled());

  QString opened;
  page.open_file = [&](const QString& path) {
    opened = path;
    return true;
  };
  page.edit_button()->click();
  EXPECT_EQ(opened, "/cfg/tarnix_packetfilter.txt");
}

// A fresh grid shows a typical rule ("FORWARD" beside its icon, the widest
// addresses, port ranges) and its headers whole; a Japanese window names its
// buttons in Japanese.
TEST(PacketFilterPage, AFreshGridShowsATypicalRuleWhole) {
  for (const Language lang : {Language::English, Language::Japanese}) {
    Fixture f;
    f.files.files["/cfg/tarnix_packetfilter.txt"] =
        "FORWARD,255.255.255.255,255.255.255.255,1024-65535,255.255.255.255,255.255.255.255,1024-65535,ICMP,x\n";
    f.filter.reload();
    PacketFilterPage page(f.filter, f.profile, lang);
    QTableView* grid = page.grid();
    const QAbstractItemView& cells = *grid;  // QTableView hides the size hint
    ASSERT_EQ(grid->model()->rowCount(), 1);
    test::expect_headers_whole(*grid->horizontalHeader(), false);
    for (int c = 0; c < pf::kColumnCount - 1; ++c)  // the memo is as long as the user makes it
      EXPECT_LE(cells.sizeHintForColumn(c), grid->columnWidth(c))
          << "column " << c << ": " << grid->model()->index(0, c).data().toString().toStdString();
    if (lang == Language::Japanese) {
      EXPECT_EQ(page.start_button()->text(), "開始");
      EXPECT_EQ(page.reload_button()->text(), "再読込");
      EXPECT_EQ(page.edit_button()->text(), "編集");
    }
  }
}

}  // namespace
}  // namespace tw::ui
