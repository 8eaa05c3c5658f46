// The Mini Monitor and the tray pictures on the offscreen platform: where the
// window opens, what its menu writes, how it is dragged, and what the tray
// pictures look like where it matters.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "shell/edge_snap.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_link_stats.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"
#include "traffic/mini_monitor_logic.h"
#include "ui/minimonitor/mini_colors.h"
#include "ui/minimonitor/mini_monitor.h"
#include "ui/minimonitor/tray_icons.h"

namespace tw::ui {
namespace {

void run_queued() { QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall); }

class MiniMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    links.add("eth0");
    monitor = std::make_unique<traffic::TrafficMonitor>(profile, links, clock, Language::English);
    monitor->start_with_stored_interface();
  }
  std::unique_ptr<MiniMonitor> open(Language lang = Language::English) {
    return std::make_unique<MiniMonitor>(*monitor, profile, lang);
  }
  QAction* action(QMenu& menu, const char* name) { return menu.findChild<QAction*>(QLatin1String(name)); }
  QRect primary() const { return QGuiApplication::primaryScreen()->geometry(); }
  QPoint centred(QSize size) const { return primary().center() - QPoint(size.width() / 2, size.height() / 2); }

  platform::FakeFileStore files;
  settings::Profile profile{files, "/data/tarnix_me@box.ini"};
  platform::FakeLinkStats links;
  platform::FakeClock clock;
  std::unique_ptr<traffic::TrafficMonitor> monitor;
};

TEST_F(MiniMonitorTest, PlacementLeftOnAMissingMonitorComesBackToTheCentre) {
  const QPoint centre(primary().x() + primary().width() / 2, primary().y() + primary().height() / 2);
  for (const char* stored : {"0:1:-1:-1:-1:-1:5000:100:5200:160", "0:1:-1:-1:-1:-1:100:5000:300:5060",
                             "0:1:-1:-1:-1:-1:-3000:100:-2800:160"}) {
    SCOPED_TRACE(stored);
    profile.write_string("Settings", "MiniMonitorPos", stored);
    auto mm = open();
    EXPECT_EQ(mm->pos(), centre);
    EXPECT_EQ(mm->size(), QSize(200, 60));
  }

  // On screen: kept as stored.
  profile.write_string("Settings", "MiniMonitorPos", "0:1:-1:-1:-1:-1:10:20:210:80");
  auto mm = open();
  EXPECT_EQ(mm->geometry(), QRect(10, 20, 200, 60));
}

TEST_F(MiniMonitorTest, PlacementIsWrittenWhenTheWindowGoesAndReadBack) {
  {
    auto mm = open();  // nothing stored: natural size, centred
    EXPECT_EQ(mm->size(), mm->natural_size());
    EXPECT_EQ(mm->pos(), centred(mm->size()));
    mm->move(30, 40);
  }
  const QSize natural = open()->natural_size();
  std::array<int, 10> list{};
  ASSERT_TRUE(profile.read_placement("MiniMonitorPos", list));
  EXPECT_EQ(list, (std::array<int, 10>{0, 1, -1, -1, -1, -1, 30, 40, 30 + natural.width(), 40 + natural.height()}));

  // A damaged list (nine fields) is ignored: natural size, centred.
  profile.write_string("Settings", "MiniMonitorPos", "0:1:-1:-1:-1:-1:30:40:230");
  auto mm = open();
  EXPECT_EQ(mm->pos(), centred(mm->size()));
}

TEST_F(MiniMonitorTest, OpacityMenuWritesTheKeysAndRestylesAtOnce) {
  auto mm = open();
  EXPECT_NEAR(mm->windowOpacity(), 153 / 255.0, 0.01);  // default: translucent at 153

  std::unique_ptr<QMenu> menu(mm->create_context_menu());
  ASSERT_TRUE(action(*menu, "Opacity2")->isChecked());  // 60 %
  action(*menu, "Opacity0")->trigger();
  EXPECT_EQ(profile.read_int("MiniMonitor", "AlphaLevel", -1), 51);
  EXPECT_EQ(profile.read_int("MiniMonitor", "AlphaBlend", -1), 1);
  EXPECT_NEAR(mm->windowOpacity(), 0.2, 0.01);

  action(*menu, "Opacity4")->trigger();
  EXPECT_EQ(profile.read_int("MiniMonitor", "AlphaBlend", -1), 0);
  EXPECT_EQ(profile.read_int("MiniMonitor", "AlphaLevel", -1), 51);
  EXPECT_NEAR(mm->windowOpacity(), 1.0, 0.001);

  menu.reset(mm->create_context_menu());
  EXPECT_TRUE(action(*menu, "Opacity4")->isChecked());
  action(*menu, "Opacity3")->trigger();
  EXPECT_EQ(profile.read_int("MiniMonitor", "AlphaLevel", -1), 204);
  EXPECT_EQ(profile.read_int("MiniMonitor", "AlphaBlend", -1), 1);
  EXPECT_NEAR(mm->windowOpacity(), 0.8, 0.01);
}

TEST_F(MiniMonitorTest, TopmostAndFrameItemsWriteTheirKeysAndTheWindowStyle) {
  auto mm = open();
  mm->show();
  std::unique_ptr<QMenu> menu(mm->create_context_menu());
  EXPECT_FALSE(action(*menu, "TopMost")->isChecked());
  EXPECT_TRUE(action(*menu, "Frame")->isChecked());

  // On its own the window switches itself.
  action(*menu, "TopMost")->trigger();
  EXPECT_EQ(profile.read_int("Settings", "WindowTopMost", -1), 1);
  EXPECT_TRUE(mm->windowFlags() & Qt::WindowStaysOnTopHint);

  const QPoint at = mm->pos();
  action(*menu, "Frame")->trigger();
  EXPECT_EQ(profile.read_int("MiniMonitor", "NoFrame", -1), 1);
  EXPECT_TRUE(mm->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(mm->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(mm->isVisible());  // re-shown after the restyle, in place
  EXPECT_EQ(mm->pos(), at);

  // With an owner the item only asks: the owner switches both windows.
  QSignalSpy topmost(mm.get(), &MiniMonitor::top_most_requested);
  action(*menu, "TopMost")->trigger();
  ASSERT_EQ(topmost.count(), 1);
  EXPECT_FALSE(topmost.at(0).at(0).toBool());
  EXPECT_TRUE(mm->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(mm->set_top_most(false));
  EXPECT_FALSE(mm->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(mm->set_top_most(false));  // nothing to restyle
}

// Where the window system places the windows itself (Wayland): the compositor
// drags the window, the stored position stays, and "Always on topmost" is
// greyed with the reason instead of being a switch that does nothing.
TEST_F(MiniMonitorTest, WithoutPlacementTheOptionsSayWhy) {
  profile.write_int("Settings", "WindowTopMost", 1);
  profile.write_string("Settings", "MiniMonitorPos", "0:1:-1:-1:-1:-1:30:40:230:100");
  {
    MiniMonitor mm(*monitor, profile, Language::English, nullptr, false);
    mm.show();
    EXPECT_FALSE(mm.windowFlags() & Qt::WindowStaysOnTopHint);
    std::unique_ptr<QMenu> menu(mm.create_context_menu());
    QAction* top = action(*menu, "TopMost");
    EXPECT_FALSE(top->isEnabled());
    EXPECT_FALSE(top->isChecked());
    EXPECT_TRUE(top->toolTip().contains(QStringLiteral("Wayland")));
    mm.move(0, 0);  // where Wayland says every window is
  }
  EXPECT_EQ(profile.read_string("Settings", "MiniMonitorPos", ""), "0:1:-1:-1:-1:-1:30:40:230:100");
}

TEST_F(MiniMonitorTest, MenuRequestsReachTheOwnerAfterTheMenuAndResetRestarts) {
  auto mm = open(Language::Japanese);
  QSignalSpy options(mm.get(), &MiniMonitor::options_requested);
  QSignalSpy close(mm.get(), &MiniMonitor::close_requested);
  QSignalSpy exit(mm.get(), &MiniMonitor::exit_requested);
  std::unique_ptr<QMenu> menu(mm->create_context_menu());
  EXPECT_EQ(action(*menu, "Close")->text(), QString::fromUtf8("ミニモニターを閉じる(&Z)"));

  action(*menu, "Options")->trigger();
  action(*menu, "Close")->trigger();
  action(*menu, "Exit")->trigger();
  EXPECT_EQ(options.count() + close.count() + exit.count(), 0);  // not while the menu runs
  run_queued();
  EXPECT_EQ(options.count(), 1);
  EXPECT_EQ(close.count(), 1);
  EXPECT_EQ(exit.count(), 1);

  // The frame's close button asks the owner instead of closing.
  mm->show();
  EXPECT_FALSE(mm->close());
  run_queued();
  EXPECT_EQ(close.count(), 2);
  EXPECT_TRUE(mm->isVisible());

  // Reset Graph restarts the statistics.
  for (int i = 1; i <= 10; ++i) {
    links.rows[0].out_octets = 5000u * static_cast<unsigned>(i);
    clock.advance_ms(50);
    monitor->tick();
  }
  ASSERT_GT(monitor->figures().capture_send, 0u);
  action(*menu, "ResetGraph")->trigger();
  EXPECT_EQ(monitor->figures().capture_send, 0u);
}

TEST_F(MiniMonitorTest, WithoutAnOwnerTheWindowCloses) {
  auto mm = open();
  mm->show();
  EXPECT_TRUE(mm->close());
  EXPECT_FALSE(mm->isVisible());
}

TEST_F(MiniMonitorTest, DragSnapsToTheScreenEdgeWhenStretchIsOn) {
  const QRect screen = primary();
  for (int stretch : {1, 0}) {
    SCOPED_TRACE(stretch);
    shell::shared_edge_snap().reset();
    profile.write_int("Settings", "WindowStretch", stretch);
    profile.write_string("Settings", "MiniMonitorPos", "0:1:-1:-1:-1:-1:100:100:300:160");
    auto mm = open();
    mm->show();
    const QPoint grab = screen.topLeft() + QPoint(110, 110);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(grab), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(mm.get(), &press);
    const QPoint to = grab + QPoint(-95, 0);  // proposed left edge 5 px from the screen's
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), QPointF(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(mm.get(), &move);
    EXPECT_EQ(mm->pos(), screen.topLeft() + QPoint(stretch ? 0 : 5, 100));
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(10, 10), QPointF(to), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(mm.get(), &release);
  }
  shell::shared_edge_snap().reset();
}

TEST_F(MiniMonitorTest, ReloadFollowsFormatAndFontChanges) {
  auto mm = open();
  const QSize before = mm->natural_size();
  profile.write_int("MiniMonitor", "Style", 3);  // no totals: fewer lines
  profile.write_int("MiniMonitor", "NoFrame", 1);
  mm->reload_settings();
  EXPECT_LT(mm->natural_size().height(), before.height());
  EXPECT_EQ(mm->size(), mm->natural_size());
  EXPECT_TRUE(mm->windowFlags() & Qt::FramelessWindowHint);

  profile.write_int("MiniMonitor", "FontSize", 20);
  mm->reload_settings();
  EXPECT_GT(mm->natural_size().width(), before.width());
  mm->refresh();
  EXPECT_EQ(mm->render_image().size(), mm->size());
}

// Refreshed every 100 ms, the window is painted again only when what it
// shows changed.
TEST_F(MiniMonitorTest, PaintsAgainOnlyWhenWhatItShowsChanged) {
  struct PaintCount : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      count += e->type() == QEvent::Paint;
      return false;
    }
  } paints;
  auto mm = open();
  mm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(mm.get()));
  mm->refresh();
  QCoreApplication::processEvents();
  mm->installEventFilter(&paints);
  mm->refresh();
  mm->refresh();
  QCoreApplication::processEvents();
  EXPECT_EQ(paints.count, 0);
  for (int i = 0; i < 3; ++i) {
    links.rows[0].out_octets += 500000;
    clock.advance_ms(50);
    monitor->tick();
  }
  mm->refresh();
  QCoreApplication::processEvents();
  EXPECT_EQ(paints.count, 1);
  mm->removeEventFilter(&paints);
}

// The graph alone ("Hide") on a plain background: in both directions each
// column holds its sample's bar, the receive bar over the send bar, and
// nothing else, however uneven the samples (the columns are filled as a few
// rectangles, not one by one).
TEST_F(MiniMonitorTest, GraphColumnsHoldTheirSamplesExactly) {
  profile.write_int("MiniMonitor", "Style", 6);
  profile.write_int("MiniMonitor", "GradientMode", 0);
  const std::uint32_t out_steps[] = {0, 9000, 400, 9000, 9000, 120000, 70000, 0, 5, 70000, 3000, 3000};
  const std::uint32_t in_steps[] = {50000, 0, 400, 80000, 9000, 1000, 0, 60000, 60000, 2, 0, 3000};
  for (int i = 0; i < 150; ++i) {
    links.rows[0].out_octets += out_steps[i % 12] + static_cast<std::uint32_t>(i * 37);
    links.rows[0].in_octets += in_steps[(i * 5) % 12];
    clock.advance_ms(50);
    monitor->tick();
  }
  for (const int direction : {0, 1}) {
    profile.write_int("Traffic", "Direction", direction);
    auto mm = open();
    mm->refresh();
    const QImage img = mm->render_image().convertToFormat(QImage::Format_RGB32);
    const int w = img.width(), h = img.height();
    std::vector<std::uint32_t> send, recv;
    monitor->copy_speed_histories(send, recv, static_cast<std::size_t>(w));
    const std::uint32_t scale = traffic::mini_graph_scale(send, recv, static_cast<std::size_t>(w), h);
    const auto& c = mm->mini_settings().colors;
    const QColor bg = from_colorref(static_cast<std::uint32_t>(c[traffic::kMiniBackground]));
    const QRgb send_px = mini::mean(mini::mean(from_colorref(static_cast<std::uint32_t>(c[traffic::kMiniSendSpeed])), bg), bg).rgb();
    const QRgb recv_px = mini::mean(mini::mean(from_colorref(static_cast<std::uint32_t>(c[traffic::kMiniRecvSpeed])), bg), bg).rgb();
    const auto height = [&](const std::vector<std::uint32_t>& v, std::size_t i) {
      return i < v.size() ? static_cast<int>(std::min<std::uint32_t>(v[i] / scale, static_cast<std::uint32_t>(h))) : 0;
    };
    int tall = 0;
    for (int x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(direction ? x : w - 1 - x);
      const int sh = height(send, i), rh = height(recv, i);
      tall += sh > 0 && sh < h;
      for (int y = 0; y < h; ++y) {
        const int up = h - y;  // rows from the bottom edge, 1 for the last row
        const QRgb want = up <= rh ? recv_px : up <= sh ? send_px : bg.rgb();
        ASSERT_EQ(img.pixel(x, y), want) << "direction " << direction << " column " << x << " row " << y;
      }
    }
    EXPECT_GT(tall, w / 4);  // the columns really differ
  }
}

// Lines laid out once are kept with their face: after a change of the font
// the picture is the one a window opened with that font draws, not lines of
// the old size.
TEST_F(MiniMonitorTest, KeptLinesFollowAFontChange) {
  links.rows[0].out_octets += 123456;
  clock.advance_ms(50);
  monitor->tick();
  auto mm = open();
  mm->refresh();
  const QImage small = mm->render_image();
  EXPECT_EQ(small, mm->render_image());  // the second time from the kept lines
  profile.write_int("MiniMonitor", "FontSize", 15);
  profile.write_int("MiniMonitor", "FontWeight", 700);
  mm->reload_settings();
  auto fresh = open();
  fresh->refresh();
  mm->resize(fresh->size());
  EXPECT_EQ(mm->render_image(), fresh->render_image());
}

// The window shows what render_image() draws, and the text follows the
// device pixel ratio it is drawn for: at ratio 2 it covers twice the pixels
// of ratio 1 each way (not the same pixels, nor a copy scaled up), and at
// ratio 1 again it is the picture drawn before.
TEST_F(MiniMonitorTest, WindowShowsTheRenderedPictureAtEachRatio) {
  profile.write_int("MiniMonitor", "GradientMode", 0);
  profile.write_int("MiniMonitor", "TrafficGraph", 0);
  links.rows[0].out_octets += 9876543;
  links.rows[0].in_octets += 123456;
  clock.advance_ms(50);
  monitor->tick();
  auto mm = open();
  mm->refresh();
  const QImage at_one = mm->render_image(1);
  const QImage at_two = mm->render_image(2);
  ASSERT_EQ(at_two.size(), mm->size() * 2);
  // Where the text put ink: pixels other than the plain background.
  const auto ink = [](const QImage& img) {
    QRect r;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (img.pixel(x, y) != img.pixel(0, 0)) r |= QRect(x, y, 1, 1);
    return r;
  };
  const QRect one = ink(at_one), two = ink(at_two);
  ASSERT_FALSE(one.isEmpty());
  EXPECT_NEAR(two.left(), 2 * one.left(), 2);
  EXPECT_NEAR(two.top(), 2 * one.top(), 2);
  EXPECT_NEAR(two.right(), 2 * one.right(), 3);
  EXPECT_NEAR(two.bottom(), 2 * one.bottom(), 3);
  EXPECT_NE(at_two.scaled(mm->size()), at_one);
  EXPECT_EQ(mm->render_image(1), at_one);
  EXPECT_EQ(mm->grab().toImage().convertToFormat(at_one.format()), at_one);
}

// ---- tray pictures ----------------------------------------------------------------

QRgb rgb(std::uint32_t bgr) { return qRgb(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

TEST(TrayIconsTest, StatusArrowsLightWithTheDirection) {
  // The middle of the up arrow's stem (left) and of the down arrow's (right).
  auto up = [](int state) { return TrayIcons::status_image(state).pixelColor(4, 10); };
  auto down = [](int state) { return TrayIcons::status_image(state).pixelColor(12, 6); };
  EXPECT_EQ(up(0), down(0));  // idle: both grey
  EXPECT_EQ(up(0).red(), up(0).green());
  EXPECT_GT(up(1).red(), 200);
  EXPECT_LT(up(1).green(), 100);
  EXPECT_EQ(down(1), down(0));
  EXPECT_GT(down(2).green(), 200);
  EXPECT_EQ(up(2), up(0));
  EXPECT_EQ(up(3), up(1));
  EXPECT_EQ(down(3), down(2));
  EXPECT_EQ(TrayIcons::status_image(9).pixelColor(4, 10), up(0));  // out of range: idle
  EXPECT_EQ(TrayIcons::status_image(0).size(), QSize(16, 16));
}

TEST(TrayIconsTest, ErrorPictureIsARaisedSquare) {
  const QImage img = TrayIcons::error_image();
  ASSERT_EQ(img.size(), QSize(16, 16));
  EXPECT_EQ(img.pixel(0, 8), rgb(TrayIcons::kErrorLightEdge));
  EXPECT_EQ(img.pixel(8, 0), rgb(TrayIcons::kErrorLightEdge));
  EXPECT_EQ(img.pixel(15, 8), rgb(TrayIcons::kErrorDarkEdge));
  EXPECT_EQ(img.pixel(8, 15), rgb(TrayIcons::kErrorDarkEdge));
  EXPECT_EQ(img.pixel(8, 8), rgb(TrayIcons::kErrorFace));
}

TEST(TrayIconsTest, MonitorPictureIsDrawnAgainOnlyWhenAFigureChanges) {
  shell::TrayIconSettings s;
  TrayIcons icons(s);
  bool changed = false;
  icons.monitor_icon(500, 10'240'000, &changed);
  EXPECT_TRUE(changed);
  icons.monitor_icon(501, 10'300'000, &changed);  // still "0.49" and "  9M"
  EXPECT_FALSE(changed);
  icons.monitor_icon(2048, 10'300'000, &changed);
  EXPECT_TRUE(changed);
  icons.set_settings(s);
  icons.monitor_icon(2048, 10'300'000, &changed);
  EXPECT_TRUE(changed);

  EXPECT_EQ(icons.picture_size(), 16);
  s.high_dpi = 1;
  icons.set_settings(s);
  EXPECT_EQ(icons.picture_size(), 32);
  EXPECT_FALSE(icons.monitor_icon(0, 0).isNull());

  // Background colour in the corner, the figures in their colours.
  s.color_background = 0x000000;
  s.color_send = 0x0000FF;
  s.color_receive = 0x00FF00;
  const QImage img = TrayIcons::monitor_image("8888", "8888", s, 32);
  EXPECT_EQ(img.pixel(0, 0), qRgb(0, 0, 0));
  bool red_top = false, green_bottom = false;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const QColor c = img.pixelColor(x, y);
      if (y < 16 && c.red() > 128 && c.green() < 64) red_top = true;
      if (y >= 16 && c.green() > 128 && c.red() < 64) green_bottom = true;
    }
  EXPECT_TRUE(red_top);
  EXPECT_TRUE(green_bottom);
}

}  // namespace
}  // namespace tw::ui
