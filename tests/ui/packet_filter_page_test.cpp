// The Packet Filter tab on the offscreen platform: the grid's keys and cell
// editors reach the rules, and the buttons follow the filter's state.
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
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

// The editor a key opened: its 20 ms timer may fire late on a loaded
// machine (sanitizers, tests in parallel), so wait for it rather than for
// a fixed time.
QLineEdit* opened_editor(const PacketFilterPage& page) {
  return QTest::qWaitFor([&] { return page.open_editor() != nullptr; }, 5000) ? page.open_editor() : nullptr;
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
  QLineEdit* editor = opened_editor(page);
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
  editor = opened_editor(page);
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
  (void)f.filter.reload();
  PacketFilterPage page(f.filter, f.profile, Language::English);
  EXPECT_EQ(page.grid()->model()->rowCount(), 1);
  page.start_button()->click();
  EXPECT_TRUE(f.filter.filtering());
  EXPECT_EQ(page.start_button()->text(), "STOP");
  EXPECT_FALSE(page.reload_button()->isEnabled());
  EXPECT_FALSE(page.edit_button()->isEnabled());
  // A command from outside shows on the page too.
  (void)f.filter.stop_command();
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

// A rule file of `n` DROP rules, read into the controller.
void load_rules(Fixture& f, int n) {
  std::string text;
  for (int i = 0; i < n; ++i)
    text += "DROP,0.0.0.0,255.255.255.255,0,10.0.0." + std::to_string(i + 1) + ",255.255.255.255,80,TCP,r" +
            std::to_string(i) + "\n";
  f.files.files["/cfg/tarnix_packetfilter.txt"] = text;
  ASSERT_TRUE(f.filter.reload().ok());
}

TEST(PacketFilterPage, AnIncompleteAddressOrPortIsAnInvalidCell) {
  Fixture f;
  load_rules(f, 1);
  PacketFilterPage page(f.filter, f.profile, Language::English);
  page.show();
  QTableView* grid = page.grid();
  grid->setFocus();
  for (const auto& [column, typed] : {std::pair{pf::kDstIp, "10.213.22.77-"}, std::pair{pf::kDstPort, "8081-"}}) {
    const std::string before = f.filter.grid()[0][static_cast<std::size_t>(column)];
    grid->setCurrentIndex(grid->model()->index(0, column));
    key(grid, Qt::Key_Return);
    QLineEdit* editor = opened_editor(page);
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, typed);
    QTest::keyClick(editor, Qt::Key_Return);
    // Not committed: the editor stays open and says why; the rule is as it was.
    EXPECT_EQ(page.open_editor(), editor) << typed;
    EXPECT_TRUE(editor->property("invalid").toBool());
    EXPECT_FALSE(editor->toolTip().isEmpty());
    EXPECT_EQ(f.filter.grid()[0][static_cast<std::size_t>(column)], before);
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_EQ(page.open_editor(), nullptr);
  }
  EXPECT_EQ(f.filter.grid()[0][pf::kDstPort], "80");
}

TEST(PacketFilterPage, AllActionsCommitsTheCellBeingEdited) {
  Fixture f;
  load_rules(f, 2);
  PacketFilterPage page(f.filter, f.profile, Language::English);
  page.show();
  QTableView* grid = page.grid();
  grid->setFocus();
  grid->setCurrentIndex(grid->model()->index(1, pf::kMemo));
  key(grid, Qt::Key_Return);
  QLineEdit* editor = opened_editor(page);
  ASSERT_NE(editor, nullptr);
  QTest::keyClicks(editor, "typed, not yet entered");

  // The right click opens the menu; its action is taken from the menu.
  bool triggered = false;
  QTimer::singleShot(100, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* a : menu->actions())
      if (a->text() == "All Action set to FORWARD(&F)") {
        a->trigger();
        triggered = true;
      }
    menu->close();
  });
  // The right button's press must leave the editor open; the menu comes
  // with the context-menu event that follows it.
  const QPoint at = grid->visualRect(grid->model()->index(0, pf::kAction)).center();
  QTest::mousePress(grid->viewport(), Qt::RightButton, Qt::NoModifier, at);
  ASSERT_EQ(page.open_editor(), editor);
  QContextMenuEvent menu_event(QContextMenuEvent::Mouse, at, grid->viewport()->mapToGlobal(at));
  QApplication::sendEvent(grid->viewport(), &menu_event);
  QTest::mouseRelease(grid->viewport(), Qt::RightButton, Qt::NoModifier, at);
  QTest::qWait(50);
  ASSERT_TRUE(triggered);
  EXPECT_EQ(page.open_editor(), nullptr);
  EXPECT_EQ(f.filter.grid()[0][pf::kAction], "FORWARD");
  EXPECT_EQ(f.filter.grid()[1][pf::kAction], "FORWARD");
  EXPECT_EQ(f.filter.grid()[1][pf::kMemo], "typed, not yet entered");
}

TEST(PacketFilterPage, HomeEndAndPageKeysMoveTheRow) {
  Fixture f;
  load_rules(f, 60);
  PacketFilterPage page(f.filter, f.profile, Language::English);
  page.resize(700, 300);
  page.show();
  QTableView* grid = page.grid();
  grid->setFocus();
  grid->setCurrentIndex(grid->model()->index(5, pf::kDstPort));
  key(grid, Qt::Key_End);
  EXPECT_EQ(grid->currentIndex().row(), 59);
  EXPECT_EQ(grid->currentIndex().column(), pf::kDstPort);
  key(grid, Qt::Key_PageUp);
  const int up = grid->currentIndex().row();
  EXPECT_LT(up, 59);
  EXPECT_GT(up, 40);  // a page, not the whole list
  EXPECT_EQ(grid->currentIndex().column(), pf::kDstPort);
  key(grid, Qt::Key_Home);
  EXPECT_EQ(grid->currentIndex().row(), 0);
  EXPECT_EQ(grid->currentIndex().column(), pf::kDstPort);
  key(grid, Qt::Key_PageDown);
  EXPECT_EQ(grid->currentIndex().row(), 59 - up);
  EXPECT_EQ(grid->currentIndex().column(), pf::kDstPort);
}

TEST(PacketFilterPage, TheRuleFilesProblemsAreShown) {
  Fixture f;
  f.files.files["/cfg/tarnix_packetfilter.txt"] = "DROP,0.0.0.0,255.255.255.255,0,10.0.0.1,255.255.255.255,80,TCP,web\n";
  f.files.unreadable.insert("/cfg/tarnix_packetfilter.txt");
  EXPECT_FALSE(f.filter.reload().ok());
  PacketFilterPage page(f.filter, f.profile, Language::English);
  page.show();
  ASSERT_TRUE(page.file_report()->isVisible());
  EXPECT_TRUE(page.file_report()->text().contains("cannot be read")) << page.file_report()->text().toStdString();
  EXPECT_TRUE(page.file_report()->text().contains("/cfg/tarnix_packetfilter.txt"));
  // A key that would add a row is refused, and the file stays.
  page.grid()->setFocus();
  key(page.grid(), Qt::Key_Insert);
  EXPECT_EQ(page.grid()->model()->rowCount(), 0);
  EXPECT_EQ(f.files.replace_count, 0);

  f.files.unreadable.clear();
  f.files.files["/cfg/tarnix_packetfilter.txt"] += "FORWORD,0.0.0.0,0.0.0.0,0,0.0.0.0,0.0.0.0,0,ANY\n";
  page.reload_button()->click();
  EXPECT_EQ(page.grid()->model()->rowCount(), 1);
  EXPECT_TRUE(page.file_report()->text().contains("line 2: the action \"FORWORD\"")) << page.file_report()->text().toStdString();
}

// A fresh grid shows a typical rule ("FORWARD" beside its icon, the widest
// addresses, port ranges) and its headers whole; a Japanese window names its
// buttons in Japanese.
TEST(PacketFilterPage, AFreshGridShowsATypicalRuleWhole) {
  for (const Language lang : {Language::English, Language::Japanese}) {
    Fixture f;
    f.files.files["/cfg/tarnix_packetfilter.txt"] =
        "FORWARD,255.255.255.255,255.255.255.255,1024-65535,255.255.255.255,255.255.255.255,1024-65535,ICMP,x\n";
    (void)f.filter.reload();
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
