// The options dialog on the offscreen platform: group and tab selection,
// which page object is shown, saving on OK only, the defaults buttons and the
// Enter/Escape rule.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QStyle>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

#include "platform/fake/fake_file_store.h"
#include "settings/profile.h"
#include "traffic/graph_logic.h"
#include "traffic/mini_monitor_logic.h"
#include "ui/common/qt_text.h"
#include "ui/options/color_list.h"
#include "ui/options/general_pages.h"
#include "ui/options/options_dialog.h"
#include "ui/options/options_page.h"
#include "ui/options/page_support.h"
#include "ui/options/traffic_pages.h"

namespace tw::ui {
namespace {

using shell::OptionsPageId;

class OptionsDialogTest : public ::testing::Test {
 protected:
  OptionsDialogTest() : profile(files, "/data/tarnix_user@host.ini") {}
  ~OptionsDialogTest() override {
    set_defaults_asker({});
    set_color_chooser({});
  }

  std::string ini() const {
    auto it = files.files.find(profile.path());
    return it == files.files.end() ? std::string() : it->second;
  }
  void store(std::string_view section, std::string_view key, int value) { profile.write_int(section, key, value); }
  template <typename W>
  W* control(OptionsDialog& d, OptionsPageId id, const char* name) {
    W* w = d.page(id)->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  platform::FakeFileStore files;
  settings::Profile profile;
};

QStringList tab_texts(const QTabBar* bar) {
  QStringList out;
  for (int i = 0; i < bar->count(); ++i) out << bar->tabText(i);
  return out;
}

TEST_F(OptionsDialogTest, OpensAtTheStoredGroupAndTab) {
  store("Settings", "ConfigSel", 1);
  store("Settings", "ConfigTab", 7);  // beyond the four tabs: the last one
  OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
  EXPECT_EQ(dialog.windowTitle(), "Options");
  ASSERT_EQ(dialog.tree()->topLevelItemCount(), 12);
  EXPECT_EQ(dialog.tree()->topLevelItem(11)->text(0), "TRACERT");
  EXPECT_EQ(dialog.tree()->palette().color(QPalette::Text), QColor(0, 96, 0));
  EXPECT_EQ(dialog.tree()->palette().color(QPalette::Base), QColor(255, 255, 235));
  EXPECT_EQ(tab_texts(dialog.tab_bar()), (QStringList{"View 1", "View 2", "Color", "Log File"}));
  EXPECT_EQ(dialog.tab_bar()->currentIndex(), 3);
  ASSERT_NE(dialog.visible_page(), nullptr);
  EXPECT_EQ(dialog.visible_page()->id(), OptionsPageId::TrafficLogFile);
}

TEST_F(OptionsDialogTest, GroupSwitchResetsTabAndSelectionIsWrittenOnCancel) {
  store("Settings", "ConfigSel", 0);
  store("Settings", "ConfigTab", 2);
  OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
  EXPECT_EQ(dialog.visible_page()->id(), OptionsPageId::NoticeDialog);
  dialog.select_group(0);  // the same group again keeps the tab
  EXPECT_EQ(dialog.frame().config_tab(), 2);
  dialog.select_group(9);
  EXPECT_EQ(tab_texts(dialog.tab_bar()), (QStringList{"WHOIS Server", "Color"}));
  EXPECT_EQ(dialog.tab_bar()->currentIndex(), 0);
  dialog.select_tab(1);
  EXPECT_EQ(dialog.visible_page()->id(), OptionsPageId::OutputColor);
  dialog.reject();
  EXPECT_EQ(profile.read_int("Settings", "ConfigSel", -1), 9);
  EXPECT_EQ(profile.read_int("Settings", "ConfigTab", -1), 1);
}

TEST_F(OptionsDialogTest, StoredGroupBeyondTheTreeShowsNothing) {
  store("Settings", "ConfigSel", 12);
  store("Settings", "ConfigTab", 3);
  OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
  EXPECT_TRUE(dialog.tree()->selectedItems().isEmpty());
  EXPECT_EQ(dialog.tab_bar()->count(), 0);
  EXPECT_EQ(dialog.visible_page(), nullptr);
  dialog.select_tab(0);
  EXPECT_EQ(dialog.visible_page(), nullptr);
  dialog.reject();
  EXPECT_EQ(profile.read_int("Settings", "ConfigSel", -1), 12);
  EXPECT_EQ(profile.read_int("Settings", "ConfigTab", -1), 3);
}

TEST_F(OptionsDialogTest, ColourTabsOfSeveralGroupsShareOnePageObject) {
  OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
  dialog.select_group(2);
  dialog.select_tab(1);
  QWidget* packet_colors = dialog.visible_page();
  dialog.select_group(3);
  dialog.select_tab(1);
  EXPECT_EQ(dialog.visible_page(), packet_colors);

  dialog.select_group(5);
  auto* output = dialog.visible_page();
  ASSERT_EQ(output->id(), OptionsPageId::OutputColor);
  auto* list = output->findChild<ColorList*>("Colors");
  set_color_chooser([](QWidget*, const QColor&) { return std::optional<QColor>(QColor(1, 2, 3)); });
  list->topLevelItem(0)->setSelected(true);
  list->choose_for_selected_rows();
  for (int group : {6, 7, 8, 9, 10, 11}) {
    dialog.select_group(group);
    dialog.select_tab(dialog.tab_bar()->count() - 1);
    EXPECT_EQ(dialog.visible_page(), output) << group;
  }
  EXPECT_EQ(list->color(0), 0x030201u);
  dialog.accept();
  EXPECT_EQ(profile.read_int("Interface", "Color00", -1), 0x030201);
  EXPECT_EQ(profile.read_int("Interface", "Color01", -1), 0xFFFFFF);
}

// Edits on several pages: Cancel writes none of them (only the selection),
// OK writes all of them.
TEST_F(OptionsDialogTest, PagesSaveOnlyAfterOk) {
  auto edit = [this](OptionsDialog& d) {
    control<QCheckBox>(d, OptionsPageId::GeneralView, "windowTopMost")->setChecked(true);
    control<QCheckBox>(d, OptionsPageId::Report, "logCheck")->setChecked(true);
    control<QSpinBox>(d, OptionsPageId::NoticeDialog, "timeOut")->setValue(1234);
    control<QComboBox>(d, OptionsPageId::TrafficView2, "viewResponce")->setCurrentIndex(4);
    control<QCheckBox>(d, OptionsPageId::TrafficView1, "polyline")->setChecked(true);
    control<QCheckBox>(d, OptionsPageId::Tasktray, "taskTrayMonitor")->setChecked(true);
    control<QComboBox>(d, OptionsPageId::MiniMonitor, "style")->setCurrentIndex(6);
  };
  {
    OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
    edit(dialog);
    dialog.reject();
  }
  EXPECT_EQ(profile.read_int("Settings", "ConfigSel", -1), 0);
  EXPECT_EQ(profile.read_int("Settings", "ConfigTab", -1), 0);
  EXPECT_EQ(ini().find("WindowTopMost"), std::string::npos);
  EXPECT_EQ(ini().find("[Report]"), std::string::npos);
  EXPECT_EQ(ini().find("[NoticeBox]"), std::string::npos);
  EXPECT_EQ(ini().find("[Traffic]"), std::string::npos);
  EXPECT_EQ(ini().find("[MiniMonitor]"), std::string::npos);
  EXPECT_EQ(ini().find("TaskTrayMonitor"), std::string::npos);

  {
    OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
    edit(dialog);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
  }
  EXPECT_EQ(profile.read_int("Settings", "WindowTopMost", 0), 1);
  EXPECT_EQ(profile.read_int("Settings", "WindowStretch", 0), 1);  // untouched default, written too
  EXPECT_EQ(profile.read_int("Report", "LogCheck", 0), 1);
  EXPECT_EQ(profile.read_int("NoticeBox", "TimeOut", 0), 1234);
  EXPECT_EQ(profile.read_int("Traffic", "View-Responce", 0), 4);
  EXPECT_EQ(profile.read_int("Traffic", "PolylineMode", 0), 1);
  EXPECT_EQ(profile.read_int("Settings", "TaskTrayMonitor", 0), 1);
  EXPECT_EQ(profile.read_int("MiniMonitor", "Style", 0), 6);
  EXPECT_EQ(profile.read_int("Traffic", "Color19", 0), 0xFFFFFF);
}

TEST_F(OptionsDialogTest, DialogDestroyedWithoutClosingWritesOnlyTheSelection) {
  {
    OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
    dialog.select_group(1);
    control<QCheckBox>(dialog, OptionsPageId::Report, "logCheck")->setChecked(true);
  }
  EXPECT_EQ(profile.read_int("Settings", "ConfigSel", -1), 1);
  EXPECT_EQ(ini().find("[Report]"), std::string::npos);
}

TEST_F(OptionsDialogTest, DefaultButtonsAskAndRestoreIntoTheControlsOnly) {
  store("Traffic", "Color04", 0x123456);
  OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
  auto* page = dialog.page(OptionsPageId::TrafficColor);
  auto* list = page->findChild<ColorList*>("Colors");
  auto* button = page->findChild<QPushButton*>("DefaultColor");
  ASSERT_EQ(list->color(4), 0x123456u);

  int asked = 0;
  Language asked_in = Language::Japanese;
  set_defaults_asker([&](QWidget*, Language lang) {
    ++asked;
    asked_in = lang;
    return false;
  });
  button->click();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(asked_in, Language::English);
  EXPECT_EQ(list->color(4), 0x123456u);  // "No" keeps the edit

  set_defaults_asker([&](QWidget*, Language) { return true; });
  button->click();
  EXPECT_EQ(list->colors(), TrafficColorPage::default_colors());
  EXPECT_EQ(profile.read_int("Traffic", "Color04", 0), 0x123456);  // nothing saved yet
  dialog.accept();
  EXPECT_EQ(profile.read_int("Traffic", "Color04", 0), 0x0000FF);
}

// The colour pages share their list and restore button; each must still
// restore its own defaults and show its own item names.
TEST_F(OptionsDialogTest, EachColourPageRestoresItsOwnDefaults) {
  struct Case {
    OptionsPageId id;
    const char* button;
    std::vector<std::uint32_t> defaults;
  };
  const traffic::MiniMonitorSettings mini_settings;
  const std::vector<std::uint32_t> mini(mini_settings.colors.begin(), mini_settings.colors.end());
  const std::vector<Case> cases = {
      {OptionsPageId::Tasktray, "DefaultColor", {0xA03020, 0x3040FF, 0x30FF40}},
      {OptionsPageId::MiniMonitor, "DefaultColor", mini},
      {OptionsPageId::OutputColor, "Default", {0x000000, 0xFFFFFF}},
      {OptionsPageId::TrafficColor, "DefaultColor", TrafficColorPage::default_colors()},
  };
  set_defaults_asker([](QWidget*, Language) { return true; });
  OptionsDialog dialog(profile, "/data/", Language::Japanese, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.id));
    auto* list = control<ColorList>(dialog, c.id, "Colors");
    auto* button = control<QPushButton>(dialog, c.id, c.button);
    ASSERT_TRUE(list && button);
    ASSERT_EQ(list->topLevelItemCount(), static_cast<int>(c.defaults.size()));
    list->set_colors(std::vector<std::uint32_t>(c.defaults.size(), 0x010203));
    button->click();
    EXPECT_EQ(list->colors(), c.defaults);
  }
  // The graph's slots take their defaults and names from the graph itself.
  auto* graph = control<ColorList>(dialog, OptionsPageId::TrafficColor, "Colors");
  ASSERT_EQ(graph->topLevelItemCount(), traffic::kGraphColorCount);
  for (int slot = 0; slot < traffic::kGraphColorCount; ++slot) {
    EXPECT_EQ(graph->color(slot), traffic::default_graph_color(slot));
    EXPECT_EQ(to_std(graph->topLevelItem(slot)->text(1)), traffic::graph_color_name(slot, Language::Japanese));
  }
}

TEST_F(OptionsDialogTest, ColourListAsksOncePerSelectedRowFromItsColour) {
  OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
  auto* list = dialog.page(OptionsPageId::NoticeDialog)->findChild<ColorList*>("Colors");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->headerItem()->text(0), "Item Name");
  std::vector<QColor> offered;
  set_color_chooser([&](QWidget*, const QColor& initial) -> std::optional<QColor> {
    offered.push_back(initial);
    if (offered.size() == 1) return std::nullopt;  // cancelled for the first row
    return QColor(0x10, 0x20, 0x30);
  });
  list->selectAll();
  list->choose_for_selected_rows();
  ASSERT_EQ(offered.size(), 2u);
  EXPECT_EQ(offered[0], QColor(0x20, 0x30, 0xA0));  // BkColor 0xA03020 is RGB(32,48,160)
  EXPECT_EQ(offered[1], QColor(255, 255, 255));
  EXPECT_EQ(list->color(0), 0xA03020u);
  EXPECT_EQ(list->color(1), 0x302010u);
}

// Item names are shown whole in both languages, and a white colour still
// shows as a swatch on the white list.
TEST_F(OptionsDialogTest, ColourListShowsWholeNamesAndFramedSwatches) {
  store("Settings", "ConfigTab", 2);  // General / Notice Dialog
  for (Language lang : {Language::English, Language::Japanese}) {
    OptionsDialog dialog(profile, "/data/", lang, nullptr);
    dialog.show();
    auto* list = dialog.page(OptionsPageId::NoticeDialog)->findChild<ColorList*>("Colors");
    ASSERT_TRUE(list->isVisible());
    // Item views keep this margin either side of a cell's text.
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    for (int row = 0; row < 2; ++row) {
      const QString name = list->topLevelItem(row)->text(0);
      EXPECT_GE(list->columnWidth(0), list->fontMetrics().horizontalAdvance(name) + 2 * margin) << to_std(name);
    }

    list->set_colors({0xFFFFFF, 0xFFFFFF});
    list->clearSelection();
    const QImage shot = list->viewport()->grab().toImage();
    const QRect cell = list->visualItemRect(list->topLevelItem(1)) & QRect(list->columnViewportPosition(1), 0,
                                                                         list->columnWidth(1), shot.height());
    ASSERT_FALSE(cell.isEmpty());
    int framed = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
      for (int x = cell.left(); x <= cell.right(); ++x) framed += shot.pixelColor(x, y) != QColor(Qt::white);
    EXPECT_GT(framed, cell.width()) << static_cast<int>(lang);  // at least a frame's top and bottom edges
  }
}

// With a dark theme the tree follows it instead of its pale yellow (kept in
// a light one), and a black swatch still shows on the dark list.
TEST_F(OptionsDialogTest, DarkThemesKeepTheirColoursAndSwatchesStillShow) {
  const QPalette light = QApplication::palette();
  QPalette dark = light;
  for (QPalette::ColorRole role : {QPalette::Base, QPalette::Window, QPalette::Dark, QPalette::Shadow})
    dark.setColor(role, Qt::black);
  dark.setColor(QPalette::Text, QColor(220, 220, 220));
  dark.setColor(QPalette::WindowText, QColor(220, 220, 220));
  store("Settings", "ConfigTab", 2);  // General / Notice Dialog

  OptionsDialog day(profile, "/data/", Language::English, nullptr);
  EXPECT_EQ(day.tree()->palette().color(QPalette::Base), QColor(255, 255, 235));
  EXPECT_EQ(day.tree()->palette().color(QPalette::Text), QColor(0, 96, 0));

  QApplication::setPalette(dark);
  QCoreApplication::sendPostedEvents();
  {
    OptionsDialog night(profile, "/data/", Language::English, nullptr);
    EXPECT_EQ(night.tree()->palette().color(QPalette::Base), QColor(Qt::black));
    EXPECT_EQ(night.tree()->palette().color(QPalette::Text), QColor(220, 220, 220));
    // A theme switched while the dialog is open: the day dialog follows too.
    EXPECT_EQ(day.tree()->palette().color(QPalette::Base), QColor(Qt::black));

    night.show();
    auto* list = night.page(OptionsPageId::NoticeDialog)->findChild<ColorList*>("Colors");
    ASSERT_TRUE(list->isVisible());
    list->set_colors({0x000000, 0x000000});
    list->clearSelection();
    const QImage shot = list->viewport()->grab().toImage();
    const QRect cell = list->visualItemRect(list->topLevelItem(1)) & QRect(list->columnViewportPosition(1), 0,
                                                                         list->columnWidth(1), shot.height());
    ASSERT_FALSE(cell.isEmpty());
    int framed = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
      for (int x = cell.left(); x <= cell.right(); ++x) framed += qGray(shot.pixel(x, y)) > 64;
    EXPECT_GT(framed, cell.width());  // at least a frame's top and bottom edges
  }
  QApplication::setPalette(light);
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(day.tree()->palette().color(QPalette::Base), QColor(255, 255, 235));
}

// The frame of a swatch stands out from the swatch and from the cell behind
// it, whichever of them is light or dark.
TEST(SwatchFrame, StandsOutFromSwatchAndCell) {
  const QColor grey(128, 128, 128), dark_list(0x2a, 0x2a, 0x2a), highlight(0x30, 0x8c, 0xc6);
  const std::pair<QColor, QColor> cases[] = {
      {Qt::black, Qt::black}, {Qt::white, Qt::white},  {Qt::black, Qt::white}, {Qt::white, Qt::black},
      {grey, grey},           {Qt::black, dark_list},  {Qt::yellow, highlight}, {grey, Qt::white}};
  for (const auto& [swatch, cell] : cases) {
    const QColor frame = swatch_frame_color(swatch, cell);
    EXPECT_GE(std::abs(qGray(frame.rgb()) - qGray(swatch.rgb())), 60) << swatch.name().toStdString() << " on "
                                                                      << cell.name().toStdString();
    EXPECT_GE(std::abs(qGray(frame.rgb()) - qGray(cell.rgb())), 60) << swatch.name().toStdString() << " on "
                                                                    << cell.name().toStdString();
  }
}

// Where the window system places the windows itself (Wayland), "Always on
// topmost." and the edge snapping are greyed, say why, and keep their values.
TEST_F(OptionsDialogTest, PlacementOptionsSayWhyTheyAreUnavailable) {
  store("Settings", "WindowTopMost", 1);
  OptionsDialog d(profile, "/data/", Language::English, nullptr);
  auto* page = static_cast<GeneralViewPage*>(d.page(OptionsPageId::GeneralView));
  auto* note = page->findChild<QLabel*>(QStringLiteral("placementNote"));
  ASSERT_NE(note, nullptr);
  EXPECT_TRUE(note->isHidden());  // on this platform they work
  page->set_placement_available(false);
  for (const char* name : {"windowTopMost", "windowStretch"}) {
    EXPECT_FALSE(control<QCheckBox>(d, OptionsPageId::GeneralView, name)->isEnabled()) << name;
    EXPECT_TRUE(control<QCheckBox>(d, OptionsPageId::GeneralView, name)->toolTip().contains("Wayland")) << name;
  }
  EXPECT_FALSE(note->isHidden());
  EXPECT_TRUE(note->text().contains("Wayland"));
  EXPECT_TRUE(control<QCheckBox>(d, OptionsPageId::GeneralView, "windowTopMost")->isChecked());
  d.accept();
  EXPECT_EQ(profile.read_int("Settings", "WindowTopMost", -1), 1);
}

TEST_F(OptionsDialogTest, EnterAndEscapeCloseOnlyFromTheButtons) {
  OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
  dialog.show();
  auto* box = control<QCheckBox>(dialog, OptionsPageId::GeneralView, "noticeBox");
  box->setFocus();
  QTest::keyClick(&dialog, Qt::Key_Return);
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(profile.read_int("Settings", "ConfigSel", -1), -1);  // not closed, nothing written

  dialog.ok_button()->setFocus();
  ASSERT_EQ(dialog.focusWidget(), dialog.ok_button());
  QTest::keyClick(&dialog, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(OptionsDialogTest, GeneralViewNoticePeriod) {
  store("Settings", "NoticeBoxInterval", -5);
  {
    OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
    auto* interval = control<QComboBox>(dialog, OptionsPageId::GeneralView, "noticeBoxInterval");
    EXPECT_EQ(interval->count(), 31);
    EXPECT_EQ(interval->itemText(0), "Hide");
    EXPECT_EQ(interval->itemText(30), ":30min.");
    EXPECT_EQ(interval->currentIndex(), 5);
    EXPECT_FALSE(interval->isEnabled());  // greyed while notices are off
    control<QCheckBox>(dialog, OptionsPageId::GeneralView, "noticeBox")->setChecked(true);
    EXPECT_TRUE(interval->isEnabled());
    dialog.accept();
  }
  EXPECT_EQ(profile.read_int("Settings", "NoticeBoxInterval", 0), 5);

  // A period the list does not offer is shown as no entry and kept.
  store("Settings", "NoticeBoxInterval", 45);
  {
    OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
    EXPECT_EQ(control<QComboBox>(dialog, OptionsPageId::GeneralView, "noticeBoxInterval")->currentIndex(), -1);
    dialog.accept();
  }
  EXPECT_EQ(profile.read_int("Settings", "NoticeBoxInterval", 0), 45);
}

TEST_F(OptionsDialogTest, TrafficLogFilePage) {
  profile.write_string("Traffic", "LogFmt", "A $DATE$$CRLF$B$CRLF$");
  store("Traffic", "LogCycleTime", 0);
  profile.write_string("Traffic", "LogFileName", "x.log");
  {
    OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
    const auto id = OptionsPageId::TrafficLogFile;
    auto* format = control<QPlainTextEdit>(dialog, id, "logFmt");
    EXPECT_EQ(format->toPlainText(), "A $DATE$\nB\n");
    EXPECT_FALSE(format->isEnabled());  // log off: everything but the switch is greyed
    control<QCheckBox>(dialog, id, "logCheck")->setChecked(true);
    EXPECT_TRUE(format->isEnabled());
    format->setPlainText("one\ntwo");
    control<QLineEdit>(dialog, id, "logFileName")->clear();
    dialog.accept();
  }
  EXPECT_EQ(profile.read_string("Traffic", "LogFmt", ""), "one$CRLF$two");
  EXPECT_EQ(profile.read_string("Traffic", "LogFileName", ""), "tarnix_traffic$YYYY$$MM$.log");
  EXPECT_EQ(profile.read_int("Traffic", "LogCheck", 0), 1);
  EXPECT_EQ(profile.read_int("Traffic", "LogCycleTime", -1), 0);  // out of range and untouched: kept

  set_defaults_asker([](QWidget*, Language) { return true; });
  {
    OptionsDialog dialog(profile, "/data/", Language::Japanese, nullptr);
    const auto id = OptionsPageId::TrafficLogFile;
    control<QSpinBox>(dialog, id, "logCycleTime")->setValue(3600);
    dialog.page(id)->findChild<QPushButton*>("Default")->click();
    EXPECT_TRUE(control<QPlainTextEdit>(dialog, id, "logFmt")->toPlainText().startsWith(
        QString::fromUtf8("----- トラフィックログ取得日時 $DATE$ $TIME$ -----\n")));
    dialog.accept();
  }
  EXPECT_EQ(profile.read_int("Traffic", "LogCycleTime", -1), 3600);
  EXPECT_EQ(profile.read_string("Traffic", "LogFmt", "").rfind("----- トラフィックログ取得日時 $DATE$ $TIME$ -----$CRLF$", 0), 0u);
}

TEST_F(OptionsDialogTest, UnknownListPositionsAndBadLevelListsAreNotSaved) {
  store("TaskTrayIcon", "Font", 9);
  store("MiniMonitor", "Style", -1);  // the window shows format 2 for it
  profile.write_string("MiniMonitor", "MessageLevel", "1:2:3:4:5");
  {
    OptionsDialog dialog(profile, "/data/", Language::English, nullptr);
    EXPECT_EQ(control<QComboBox>(dialog, OptionsPageId::Tasktray, "font")->currentIndex(), -1);
    EXPECT_EQ(control<QComboBox>(dialog, OptionsPageId::MiniMonitor, "style")->currentText(), "(SPD+MAX+TOTAL)(ENG)");
    control<QLineEdit>(dialog, OptionsPageId::MiniMonitor, "messageLevel")->setText("1:2:3:4");
    dialog.accept();
  }
  EXPECT_EQ(profile.read_int("TaskTrayIcon", "Font", 0), 9);
  EXPECT_EQ(profile.read_int("MiniMonitor", "Style", 0), 2);
  // Four levels would read back as five zeros: not saved.
  EXPECT_EQ(profile.read_string("MiniMonitor", "MessageLevel", ""), "1:2:3:4:5");
}

TEST_F(OptionsDialogTest, JapaneseTexts) {
  store("Settings", "ConfigSel", 4);
  OptionsDialog dialog(profile, "/data/", Language::Japanese, nullptr);
  EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("オプション設定"));
  EXPECT_EQ(dialog.tree()->topLevelItem(1)->text(0), QString::fromUtf8("トラフィックモニター"));
  EXPECT_EQ(tab_texts(dialog.tab_bar()), QStringList{QString::fromUtf8("　")});
  EXPECT_EQ(dialog.visible_page()->id(), OptionsPageId::PacketFilter);
  EXPECT_EQ(control<QCheckBox>(dialog, OptionsPageId::GeneralView, "noticeBox")->text(),
            QString::fromUtf8("通知ダイアログを表示する。"));
  auto* notice_colors = dialog.page(OptionsPageId::NoticeDialog)->findChild<ColorList*>("Colors");
  EXPECT_EQ(notice_colors->topLevelItem(0)->text(0), QString::fromUtf8("通知ダイアログの背景色"));
  EXPECT_EQ(notice_colors->headerItem()->text(1), QString::fromUtf8("カラー"));
}

}  // namespace
}  // namespace tw::ui
