// The Packet Monitor tab on the offscreen platform with a fake capture:
// START/STOP and its messages, the up-down control, the list following the
// display timer and the packet log, and the context menu's states.
#include <QAction>
#include <QLabel>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

#include "app/packet_feature.h"
#include "column_checks.h"
#include "logging/log_engine.h"
#include "platform/beeper.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_packet_capture.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "ui/controls/report_list_view.h"
#include "ui/packets/packet_list_model.h"
#include "ui/packets/packet_monitor_page.h"

namespace tw::ui {
namespace {

class NoBeep : public platform::Beeper {
 public:
  void beep() override {}
};

struct Fixture {
  explicit Fixture(const std::string& ini = "") {
    if (!ini.empty()) files.files["/cfg/t.ini"] = ini;
    capture.addresses = {*shared::parse_address("10.0.0.1"), *shared::parse_address("10.0.0.2")};
    monitor = std::make_unique<packets::PacketMonitor>(packets::PacketMonitorDeps{capture, clock, keys, hosts, {}},
                                                       Language::English, packets::load_packet_settings(profile));
    feature = std::make_unique<app::PacketFeature>(runtime, profile, *monitor);
  }
  ~Fixture() {
    page.reset();
    feature.reset();
    monitor.reset();
    workers.run_all();
  }
  void open_page(Language lang = Language::English) {
    page = std::make_unique<PacketMonitorPage>(*feature, profile, lang);
    page->tell = [this](const QString& t) { told.push_back(t); };
  }
  void udp_in(int remote_port) {
    const std::uint8_t d[28] = {0x45, 0, 0, 28, 0, 0, 0, 0, 64, 17, 0, 0, 10, 0, 0, 9, 10, 0, 0, 2,
                                static_cast<std::uint8_t>(remote_port >> 8), static_cast<std::uint8_t>(remote_port),
                                0, 53, 0, 8, 0, 0};
    capture.deliver(d);
    runtime.fire_timer(app::kTimerPacketDisplay);
  }
  QPushButton* button() { return page->findChild<QPushButton*>(QStringLiteral("startStop")); }
  QLineEdit* address() { return page->findChild<QLineEdit*>(QStringLiteral("address")); }

  platform::FakeFileStore files;
  platform::FakeClock clock;
  platform::FakePacketCapture capture;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  NoBeep beeper;
  settings::Profile profile{files, "/cfg/t.ini"};
  logging::LogEngine logs{profile, files, clock, beeper, Language::English, "/cfg/"};
  app::Runtime runtime{profile, logs};
  shared::HostNameCache hosts{resolver, workers};
  shared::FlowKeyTable keys;
  std::unique_ptr<packets::PacketMonitor> monitor;
  std::unique_ptr<app::PacketFeature> feature;
  std::unique_ptr<PacketMonitorPage> page;
  std::vector<QString> told;
};

TEST(PacketMonitorPage, StartStopAddressAndMessages) {
  Fixture f;
  f.open_page();
  EXPECT_EQ(f.address()->text(), "10.0.0.2");  // the last address is the default
  EXPECT_EQ(f.button()->text(), "START");
  f.page->findChild<QToolButton*>(QStringLiteral("addressDown"))->click();
  EXPECT_EQ(f.address()->text(), "10.0.0.1");

  f.address()->setText("192.0.2.1");
  f.button()->click();
  ASSERT_EQ(f.told.size(), 1u);
  EXPECT_EQ(f.told[0], "Not a valid IP.");
  EXPECT_FALSE(f.capture.running());

  f.address()->setText("10.0.0.2");
  f.button()->click();
  EXPECT_TRUE(f.capture.running());
  EXPECT_EQ(f.button()->text(), "STOP");
  f.button()->click();
  EXPECT_FALSE(f.capture.running());
  EXPECT_EQ(f.button()->text(), "START");

  f.capture.fail_with = platform::CaptureFailure{"socket", EPERM, ""};
  f.button()->click();
  ASSERT_EQ(f.told.size(), 2u);
  EXPECT_EQ(f.told[1], "Error!! socket() = 1\nPlease run with administrator privileges.");
}

TEST(PacketMonitorPage, AutoStartListFollowsAndContextMenu) {
  Fixture f("[Surveil]\nAutoStart=1\nLogCheck=1\nLogFmt=$IP_PACKET$\n");
  f.open_page();
  EXPECT_TRUE(f.capture.running());  // "When you start to start the Packet Monitor."
  EXPECT_EQ(f.button()->text(), "STOP");

  auto enabled = [&] {
    std::unique_ptr<QMenu> menu(f.page->build_context_menu());
    std::vector<bool> out;
    for (QAction* a : menu->actions())
      if (!a->isSeparator()) out.push_back(a->isEnabled());
    return out;
  };
  EXPECT_EQ(enabled(), std::vector<bool>(8, false));  // empty list

  f.udp_in(443);
  f.udp_in(444);
  PacketListModel* model = f.page->list_model();
  ASSERT_EQ(model->rowCount(), 2);
  EXPECT_EQ(model->text(0, packets::kPort2), "444");
  // The status beside the controls: this run's datagrams and the capture's
  // losses.
  f.capture.drop(3);
  f.udp_in(446);
  EXPECT_EQ(f.page->findChild<QLabel*>(QStringLiteral("captureStatus"))->text(), "Captured: 3  Dropped: 3");
  f.monitor->remove_all();
  f.udp_in(443);
  f.udp_in(444);
  EXPECT_EQ(model->text(1, packets::kProtocol), "UDP(DL)");
  EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false, false, false, false, false, false}));
  f.page->list_view()->selectionModel()->select(model->index(0, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true, false, false, false, false, false}));

  // The packet log takes the rows; the page follows at its next sync.
  f.runtime.start();
  f.runtime.fire_timer(app::kTimerPacketLog);
  EXPECT_TRUE(f.monitor->list().empty());
  f.udp_in(445);
  ASSERT_EQ(model->rowCount(), 1);
  EXPECT_EQ(model->text(0, packets::kPort2), "445");

  std::unique_ptr<QMenu> menu(f.page->build_context_menu());
  menu->actions().first()->trigger();  // "Remove all items"
  EXPECT_EQ(model->rowCount(), 0);
}

// A fresh list: the dark background its default colours are made for, and
// columns that show a typical packet and their headers whole in either
// language; the context menu speaks Japanese in a Japanese window. Widths
// stored in the file stay as they are.
TEST(PacketMonitorPage, AFreshListIsReadableInBothLanguages) {
  for (const Language lang : {Language::English, Language::Japanese}) {
    Fixture f;
    f.open_page(lang);
    ReportListView* view = f.page->list_view();
    EXPECT_EQ(view->palette().color(QPalette::Base), QColor(0, 0, 0));
    EXPECT_EQ(view->palette().color(QPalette::Text), QColor(255, 255, 255));

    const QStringList typical = {"255.255.255.255", "(255.255.255.255)", "65535", "255.255.255.255",
                                 "(255.255.255.255)", "65535", "65535", "255", "IGMP(DL)",
                                 lang == Language::Japanese ? "2024/12/31 23:59:59" : "12/31/2024 23:59:59",
                                 "firefox-esr(123456)", ""};
    ListRow row(packets::kColumnCount);
    for (int c = 0; c < packets::kColumnCount; ++c) row[static_cast<std::size_t>(c)].text = typical[c];
    f.page->list_model()->insert_rows(0, {row});
    test::expect_headers_whole(*view->header(), false);
    test::expect_cells_whole(*view, packets::kColumnCount, [&](int c) { return typical[c]; },
                             [&](int c) { return view->columnWidth(c); });

    if (lang == Language::Japanese) {
      std::unique_ptr<QMenu> menu(f.page->build_context_menu());
      QStringList texts;
      for (QAction* a : menu->actions())
        if (!a->isSeparator()) texts << a->text();
      EXPECT_EQ(texts, (QStringList{"全ての項目を削除", "クリップボードへコピー", "パケットデータをコピー",
                                    "パケットフィルターのルールに追加", "WHOIS", "NSLOOKUP", "PING", "TRACERT"}));
      EXPECT_EQ(f.button()->text(), "開始");
    }
  }
  Fixture stored("[Surveil]\nColnmWidth=50:51:52:53:54:55:56:57:58:59:60:61\n");
  stored.open_page();
  for (int c = 0; c < packets::kColumnCount; ++c) EXPECT_EQ(stored.page->list_view()->columnWidth(c), 50 + c);
}

}  // namespace
}  // namespace tw::ui
