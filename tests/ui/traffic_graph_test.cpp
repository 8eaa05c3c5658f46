// The traffic graph and the Traffic Monitor page on the offscreen platform,
// driven by hand: the redraw timer never runs here (no event loop), the tests
// call tick() and render() themselves, and the clock moves only when told.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <QFontMetrics>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_link_stats.h"
#include "settings/profile.h"
#include "traffic/graph_logic.h"
#include "traffic/traffic_monitor.h"
#include "ui/traffic/graph_menu.h"
#include "ui/traffic/graph_painter.h"
#include "ui/traffic/label_image_cache.h"
#include "ui/traffic/label_text.h"
#include "ui/traffic/traffic_graph.h"
#include "ui/traffic/traffic_monitor_page.h"

namespace tw::ui {
namespace {

struct Rig {
  platform::FakeFileStore files;
  settings::Profile profile{files, "/data/tarnix_graph@host.ini"};
  platform::FakeLinkStats links;
  platform::FakeClock clock;
  std::unique_ptr<traffic::TrafficMonitor> monitor;

  explicit Rig(std::string ini = "") {
    if (!ini.empty()) files.files[profile.path()] = std::move(ini);
    clock.set_ms(100000);
    clock.set_wall({2024, 5, 6, 7, 8, 9});
  }
  traffic::TrafficMonitor& start() {
    if (links.rows.empty()) {
      links.add("eth0");
      links.add("wlan0");
    }
    monitor = std::make_unique<traffic::TrafficMonitor>(profile, links, clock, Language::English);
    return *monitor;
  }
  void ticks(int n, std::uint64_t out_bytes, std::uint64_t in_bytes) {
    for (int i = 0; i < n; ++i) {
      links.rows[0].out_octets += out_bytes;
      links.rows[0].in_octets += in_bytes;
      clock.advance_ms(50);
      monitor->tick();
    }
  }
  int read(const char* section, const char* key) { return profile.read_int(section, key, -999); }
  void add_lo_eth0_wlan0() {
    for (const char* name : {"lo", "eth0", "wlan0"}) links.add(name);
  }
};

struct GraphRig : Rig {
  std::unique_ptr<TrafficGraph> graph;
  explicit GraphRig(std::string ini = "") : Rig(std::move(ini)) {
    start();
    monitor->select_interface(0);
    graph = std::make_unique<TrafficGraph>(*monitor, profile, Language::English, clock);
    graph->resize(803, 440);
  }
  // Renders until the panel has finished sliding.
  QImage settled_frame() {
    for (int i = 0; i < 12; ++i) graph->render();
    return graph->frame();
  }
};

QAction* find_action(QMenu* menu, const QString& text) {
  for (QAction* a : menu->actions()) {
    if (a->text() == text) return a;
    if (a->menu())
      if (QAction* sub = find_action(a->menu(), text)) return sub;
  }
  return nullptr;
}

void wheel(QWidget& w, int delta, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QWheelEvent ev(QPointF(20, 20), QPointF(20, 20), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                 Qt::NoScrollPhase, false);
  QApplication::sendEvent(&w, &ev);
}

void middle_click(QWidget& w, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QMouseEvent ev(QEvent::MouseButtonPress, QPointF(20, 20), QPointF(20, 20), Qt::MiddleButton, Qt::MiddleButton,
                 mods);
  QApplication::sendEvent(&w, &ev);
}

bool same_region(const QImage& a, const QImage& b, const QRect& r) {
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) return false;
  return true;
}

// Largest difference of any channel of any pixel; INT_MAX when the sizes differ.
int max_channel_difference(const QImage& a, const QImage& b) {
  if (a.size() != b.size() || a.format() != b.format()) return INT_MAX;
  int worst = 0;
  for (int y = 0; y < a.height(); ++y) {
    const auto* pa = reinterpret_cast<const quint32*>(a.constScanLine(y));
    const auto* pb = reinterpret_cast<const quint32*>(b.constScanLine(y));
    for (int x = 0; x < a.width(); ++x)
      for (int shift = 0; shift < 32; shift += 8)
        worst = std::max(worst, std::abs(static_cast<int>((pa[x] >> shift) & 0xFF) -
                                         static_cast<int>((pb[x] >> shift) & 0xFF)));
  }
  return worst;
}

// ---------------------------------------------------------------------------
// Labels

TEST(LabelGlyphCache, BuildsTheSameImagesAsLayingTheLineOut) {
  for (int pixels : {11, 12, 14, 16, 20, 24, -20, -16}) {
    QFont f(QStringLiteral("Lucida Console"));
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    f.setBold(pixels < 0);
    pixels = std::abs(pixels);
    f.setPixelSize(pixels);
    LabelGlyphCache cache(f);
    ASSERT_TRUE(cache.usable()) << pixels << (f.bold() ? " px bold" : " px");
    // The character images serve screens at 200 % as well.
    EXPECT_TRUE(LabelGlyphCache(f, 2).usable()) << pixels << " px at ratio 2";
    for (const char* line : {"Send MAX: ", "1234", ".567 Mbps", "Total Upload    (Gross)    59.579 MB (  59.579 MB)",
                             "Unicast packets Send      403,948 packet", "Graph Scale 1/4096 Auto", "0h 00m 05s"}) {
      const QString s = QString::fromLatin1(line);
      ASSERT_TRUE(cache.accepts(s));
      EXPECT_EQ(cache.line_width(s), QFontMetrics(f).horizontalAdvance(s)) << line;
      for (LabelStyle style : {LabelStyle::Halo, LabelStyle::Shadow}) {
        const QImage want = render_label(f, s, 0xFFF0F0F0u, 0xFF203040u, style);
        // At most rounding: a few steps of a channel, invisible.
        EXPECT_LE(max_channel_difference(want, cache.render(s, 0xFFF0F0F0u, 0xFF203040u, style)), 4)
            << pixels << " px: " << line;
      }
    }
  }
}

// The graph draws a panel line as its caption and figure apart, each part at
// its own sub-pixel position; over a frame the parts must give exactly the
// pixels of the whole line.
TEST(LabelGlyphCache, PartsTwoSpacesApartMakeTheWholeLine) {
  QFont f(QStringLiteral("Lucida Console"));
  f.setStyleHint(QFont::Monospace);
  f.setPixelSize(12);
  LabelGlyphCache cache(f);
  ASSERT_TRUE(cache.usable());
  const QString line = QStringLiteral("Unicast packets Send      403,948 packet");
  const qsizetype cut = line.indexOf(QStringLiteral("403"));
  const qsizetype caption_end = line.indexOf(QStringLiteral("  "));
  for (LabelStyle style : {LabelStyle::Halo, LabelStyle::Shadow}) {
    QImage whole(400, 30, QImage::Format_RGB32), parts(400, 30, QImage::Format_RGB32);
    whole.fill(qRgb(20, 30, 160));
    parts.fill(qRgb(20, 30, 160));
    {
      QPainter p(&whole);
      p.drawImage(10, 5, cache.render(line, 0xFFF0F0F0u, 0xFF203040u, style));
    }
    {
      QPainter p(&parts);
      const QString caption = line.left(caption_end), figure = line.mid(cut);
      p.drawImage(10, 5, cache.render(caption, 0xFFF0F0F0u, 0xFF203040u, style, 0, cache.line_width(caption) + 12));
      const qint64 at = cache.pen64(line, cut);
      const int left = static_cast<int>(at >> 6);
      p.drawImage(10 + left, 5,
                  cache.render(figure, 0xFFF0F0F0u, 0xFF203040u, style, static_cast<int>(at & 63),
                               cache.line_width(line) + 5 - left));
    }
    EXPECT_EQ(whole, parts);
  }
}

TEST(LabelGlyphCache, LeavesOtherLinesToTheLayout) {
  QFont f(QStringLiteral("Lucida Console"));
  f.setStyleHint(QFont::Monospace);
  f.setPixelSize(12);
  LabelGlyphCache cache(f);
  EXPECT_FALSE(cache.accepts(QString()));
  EXPECT_FALSE(cache.accepts(QStringLiteral("Tab\there")));
  EXPECT_FALSE(cache.accepts(QString::fromUtf8("送信速度 12 KB/s")));
}

// A label cut at its runs of spaces must come out as one image of the whole
// line would, wherever the runs are; a line the character images cannot
// draw is laid out whole.
TEST(LabelImageCache, LabelsInPartsMatchTheWholeLine) {
  QFont f(QStringLiteral("Lucida Console"));
  f.setStyleHint(QFont::Monospace);
  f.setPixelSize(12);
  LabelImageCache cache;
  cache.set_fonts({f});
  LabelGlyphCache glyphs(f);
  ASSERT_TRUE(glyphs.usable());
  const QRgb text = 0xFFF0F0F0u, effect = 0xFF203040u;
  for (const char* line : {"Unicast packets Send      403,948 packet",
                           "Total Upload    (Gross)    59.579 MB (  59.579 MB)", "  12  34  ", "Send MAX: ",
                           "送信  12 KB/s"}) {
    const QString s = QString::fromUtf8(line);
    for (LabelStyle style : {LabelStyle::Halo, LabelStyle::Shadow}) {
      QImage want(420, 30, QImage::Format_RGB32);
      want.fill(qRgb(20, 30, 160));
      {
        QPainter p(&want);
        p.drawImage(9, 4, glyphs.accepts(s) ? glyphs.render(s, text, effect, style)
                                            : render_label(f, s, text, effect, style));
      }
      for (int twice = 0; twice < 2; ++twice) {  // the second time from the kept images
        QImage got(420, 30, QImage::Format_RGB32);
        got.fill(qRgb(20, 30, 160));
        cache.draw_label(got, got.rect(), 0, 10, 5, s, text, effect, style);
        EXPECT_EQ(want, got) << line << " " << twice;
      }
    }
  }
}

// Labels are laid over the frame by hand, several pixels at a time; every
// alpha, every colour step and every row length (the pixels left over after
// the wide steps) must give QPainter's source-over bits, clip included.
TEST(LabelImageCache, LaysImagesOverTheFrameAsQPainterDoes) {
  QImage src(256, 9, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < src.height(); ++y)
    for (int x = 0; x < src.width(); ++x) {
      const int a = (x * 7 + y * 31) & 0xFF;
      src.setPixel(x, y, qPremultiply(qRgba((x * 13) & 0xFF, (y * 29 + x) & 0xFF, 255 - x, a)));
    }
  QImage base(300, 12, QImage::Format_RGB32);
  for (int y = 0; y < base.height(); ++y)
    for (int x = 0; x < base.width(); ++x) base.setPixel(x, y, qRgb(x & 0xFF, (x * 3 + y * 17) & 0xFF, 200 - y));
  for (int width = 1; width <= 9; ++width) {
    const QRect clip(7, 1, width, 10);  // cuts the image mid-row
    QImage want = base, got = base;
    {
      QPainter p(&want);
      p.setClipRect(clip);
      p.drawImage(3, 2, src);
    }
    blend_image(got, src, 3, 2, clip);
    EXPECT_EQ(want, got) << width;
  }
  QImage want = base, got = base;
  {
    QPainter p(&want);
    p.drawImage(20, 1, src);
  }
  blend_image(got, src, 20, 1, got.rect());
  EXPECT_EQ(want, got);
}

TEST(LabelImageCache, KeepsImagesApartByEffectColour) {
  QFont f(QStringLiteral("Lucida Console"));
  f.setPixelSize(14);
  LabelImageCache cache;
  cache.set_fonts({f});
  const auto drawn = [&](QRgb effect) {
    QImage img(200, 30, QImage::Format_RGB32);
    img.fill(Qt::black);
    cache.draw_label(img, img.rect(), 0, 5, 5, QStringLiteral("Recv AVE: 12.5"), 0xFFFFFFFFu, effect,
                     LabelStyle::Halo);
    return img;
  };
  const QImage red = drawn(0xFFFF0000u);
  EXPECT_NE(red, drawn(0xFF0000FFu));
  EXPECT_EQ(red, drawn(0xFFFF0000u));
}

// The menu's actions belong to the graph: a menu still open when the graph
// goes runs none of its commands.
TEST(GraphMenu, CommandsStopWithTheirOwner) {
  platform::FakeFileStore files;
  settings::Profile profile(files, "/data/tarnix_menu@host.ini");
  int resets = 0;
  std::vector<std::optional<traffic::GraphFlag>> written;
  GraphMenu::Handlers handlers;
  handlers.reset_graph = [&] { ++resets; };
  handlers.reset_gross = handlers.copy_information = handlers.snapshot = [] {};
  handlers.toggle_flags = [](std::uint8_t) {};
  handlers.setting_written = [&](std::optional<traffic::GraphFlag> flag) { written.push_back(flag); };
  auto owner = std::make_unique<QWidget>();
  auto graph_menu = std::make_unique<GraphMenu>(*owner, profile, Language::English, handlers);
  std::unique_ptr<QMenu> menu(graph_menu->create(nullptr));
  QAction* reset = find_action(menu.get(), "Reset Graph(&R)");
  ASSERT_NE(reset, nullptr);
  reset->trigger();
  EXPECT_EQ(resets, 1);

  graph_menu->toggle(traffic::GraphFlag::Polyline);
  graph_menu->write_font_size(30);
  EXPECT_EQ(profile.read_int("Traffic", "PolylineMode", -1), 1);
  EXPECT_EQ(profile.read_int("Traffic", "FontSize", -1), 30);
  EXPECT_EQ(written, (std::vector<std::optional<traffic::GraphFlag>>{traffic::GraphFlag::Polyline, std::nullopt}));

  graph_menu.reset();
  owner.reset();
  reset->trigger();
  EXPECT_EQ(resets, 1);
}

// ---------------------------------------------------------------------------
// Graph

TEST(TrafficGraphWidget, FrameFollowsTheControlSize) {
  GraphRig rig;
  rig.graph->render();
  EXPECT_EQ(rig.graph->frame().size(), QSize(803, 440));
  rig.graph->resize(320, 150);
  rig.graph->render();
  EXPECT_EQ(rig.graph->frame().size(), QSize(320, 150));
  // Too small for a graph area: still a frame, nothing drawn outside it.
  rig.graph->resize(40, 30);
  rig.graph->render();
  EXPECT_EQ(rig.graph->frame().size(), QSize(40, 30));
  EXPECT_EQ(rig.graph->scale(), traffic::kBaseScale);  // idle, no room: scale stays at 32
}

TEST(TrafficGraphWidget, ReportColumnsAppearWhereTheirBitsAre) {
  GraphRig rig;
  rig.ticks(60, 5000, 9000);
  const QImage plain = rig.settled_frame();
  rig.graph->set_display_flags(0x01 | 0x04);  // lists 0 and 2
  const QImage reports = rig.settled_frame();
  // List 0 at x 32..271, list 2 at 277..666: both change their columns.
  EXPECT_FALSE(same_region(plain, reports, QRect(32, 32, 240, 100)));
  EXPECT_FALSE(same_region(plain, reports, QRect(277, 32, 390, 100)));
  // Nothing right of the last column, above or below the columns.
  EXPECT_TRUE(same_region(plain, reports, QRect(680, 0, 123, 440)));
  EXPECT_TRUE(same_region(plain, reports, QRect(0, 409, 803, 31)));
  EXPECT_TRUE(same_region(plain, reports, QRect(0, 0, 803, 32)));
}

TEST(TrafficGraphWidget, MiddleButtonAndWheelKeepEachOthersBits) {
  GraphRig rig;
  rig.graph->set_display_flags(0x05);
  middle_click(*rig.graph);
  EXPECT_EQ(rig.graph->display_flags(), 0x85);  // hidden, the reports stay
  wheel(*rig.graph, -120);
  EXPECT_EQ(rig.graph->display_flags(), 0x81);  // one report, still hidden
  wheel(*rig.graph, -60);
  wheel(*rig.graph, -60);  // two half notches make one
  EXPECT_EQ(rig.graph->display_flags(), 0x82);
  wheel(*rig.graph, 120);
  wheel(*rig.graph, 120);
  EXPECT_EQ(rig.graph->display_flags(), 0x80);
  middle_click(*rig.graph);
  EXPECT_EQ(rig.graph->display_flags(), 0x00);
  // The hidden graph closes the panel.
  rig.graph->set_display_flags(0x80);
  rig.settled_frame();
  EXPECT_EQ(rig.graph->panel_height(), traffic::kPanelClosedHeight);
}

TEST(TrafficGraphWidget, ModifiedClicksAndCtrlWheelWriteSettings) {
  GraphRig rig;
  middle_click(*rig.graph, Qt::ControlModifier);
  EXPECT_EQ(rig.read("Traffic", "DoubleSampling"), 0);
  EXPECT_FALSE(rig.monitor->double_sampling());
  EXPECT_EQ(rig.graph->current_notice(), "Double Sampling: OFF");
  rig.clock.advance_ms(3000);
  EXPECT_EQ(rig.graph->current_notice(), "");

  middle_click(*rig.graph, Qt::ShiftModifier);
  EXPECT_EQ(rig.read("Traffic", "LargeFontStyle"), 0);
  middle_click(*rig.graph, Qt::AltModifier);
  EXPECT_EQ(rig.read("Traffic", "LanguageSelect"), 1);
  EXPECT_EQ(rig.graph->display_flags(), 0x00);  // none of these hides the graph

  const std::vector<int> sizes = traffic::font_size_list(rig.graph->logicalDpiY());
  const int larger = traffic::step_font_size(sizes, 22, true);
  wheel(*rig.graph, 120, Qt::ControlModifier);
  EXPECT_EQ(rig.read("Traffic", "FontSize"), larger);
  EXPECT_EQ(rig.graph->settings().font_size, larger);
  EXPECT_EQ(rig.graph->current_notice(), "Font-Size: " + std::to_string(larger) + "px");
  EXPECT_EQ(rig.graph->display_flags(), 0x00);  // Ctrl+wheel leaves the reports
}

TEST(TrafficGraphWidget, ContextMenuTogglesSettingsAndReports) {
  GraphRig rig;
  QSignalSpy snapshots(rig.graph.get(), &TrafficGraph::snapshotRequested);
  std::unique_ptr<QMenu> menu(rig.graph->create_context_menu(nullptr));
  QAction* polyline = find_action(menu.get(), "Polyline(&P)");
  ASSERT_NE(polyline, nullptr);
  EXPECT_FALSE(polyline->isChecked());
  polyline->trigger();
  EXPECT_EQ(rig.read("Traffic", "PolylineMode"), 1);
  EXPECT_TRUE(rig.graph->settings().polyline);
  find_action(menu.get(), "Detailed Info(&I)")->trigger();
  EXPECT_EQ(rig.read("Traffic", "ViewMode"), 0);

  QAction* third = find_action(menu.get(), "Transfer amount for each 01 minutes");
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_3));
  third->trigger();
  find_action(menu.get(), "Hide Graph(&0)")->trigger();
  EXPECT_EQ(rig.graph->display_flags(), 0x84);
  EXPECT_TRUE(third->isChecked());

  find_action(menu.get(), "Take a Snapshot(&N)")->trigger();
  EXPECT_EQ(snapshots.count(), 1);

  TrafficGraph japanese(*rig.monitor, rig.profile, Language::Japanese, rig.clock);
  std::unique_ptr<QMenu> ja(japanese.create_context_menu(nullptr));
  EXPECT_NE(find_action(ja.get(), QString::fromUtf8("グラフのリセット(&R)")), nullptr);
  EXPECT_NE(find_action(ja.get(), QString::fromUtf8("24時間毎の転送量")), nullptr);
}

TEST(TrafficGraphWidget, GrossResetOnlyAfterYes) {
  GraphRig rig;
  rig.ticks(30, 1000, 2000);
  ASSERT_GT(rig.monitor->figures().gross_send, 0u);
  QString asked;
  rig.graph->set_confirm([&](const QString& q) {
    asked = q;
    return false;
  });
  EXPECT_FALSE(rig.graph->reset_gross());
  EXPECT_EQ(asked, "Reset Total gross Transfer amount. \nAre you sure?");
  EXPECT_GT(rig.monitor->figures().gross_send, 0u);
  rig.graph->set_confirm([](const QString&) { return true; });
  EXPECT_TRUE(rig.graph->reset_gross());
  EXPECT_EQ(rig.monitor->figures().gross_send, 0u);
  EXPECT_GT(rig.monitor->figures().capture_send, 0u);  // the capture totals stay
}

// The program's shut-down deletes the pages, the graph with them, from
// whatever event loop is running: also from the one of the graph's own
// context menu or of its reset question.
TEST(TrafficGraphWidget, DeletedWhileItsMenuOrQuestionIsOpen) {
  {
    GraphRig rig;
    rig.ticks(30, 1000, 2000);
    const auto gross = rig.monitor->figures().gross_send;
    ASSERT_GT(gross, 0u);
    rig.graph->set_confirm([&](const QString&) {
      rig.graph.reset();  // the shut-down ran while the question was open
      return true;
    });
    TrafficGraph* graph = rig.graph.get();
    EXPECT_FALSE(graph->reset_gross());
    EXPECT_EQ(rig.monitor->figures().gross_send, gross);
  }
  {
    GraphRig rig;
    QWidget window;
    TrafficGraph* graph = new TrafficGraph(*rig.monitor, rig.profile, Language::English, rig.clock, &window);
    window.resize(300, 200);
    window.show();
    QPointer<QMenu> seen;
    bool menu_was_open = false;
    QTimer::singleShot(0, qApp, [&] {
      seen = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      menu_was_open = !seen.isNull();
      delete graph;
    });
    QTimer::singleShot(0, qApp, [&] {
      if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    });
    QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(20, 20), window.mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(graph, &ev);
    EXPECT_TRUE(window.findChildren<TrafficGraph*>().isEmpty());
    EXPECT_TRUE(menu_was_open);
    EXPECT_TRUE(seen.isNull());  // and it is gone with its event handler
  }
}

// The maxima are the monitor's, over the span of the graph's own width.
TEST(TrafficGraphWidget, MaximaFollowTheGraphsWidth) {
  GraphRig rig;
  rig.graph->show();  // laid out at 803 pixels
  rig.ticks(30, 90000, 0);
  rig.ticks(60, 0, 0);
  const std::int64_t peak = rig.monitor->figures().max_send;
  ASSERT_GT(peak, 0);
  rig.ticks(650, 0, 0);  // the burst lies beyond the 602 entries of an 803-pixel graph
  EXPECT_EQ(rig.monitor->figures().max_send, 0);
  rig.graph->resize(1600, 440);  // 1000 entries
  EXPECT_EQ(rig.monitor->figures().max_send, peak);
  rig.graph->render();
  EXPECT_GT(rig.graph->scale(), traffic::kBaseScale);

  rig.graph->hide();
}

// Frames after the first keep the panel and redraw only its changed lines;
// they must match a frame drawn whole from the same figures.
TEST(TrafficGraphWidget, PanelRedrawnInPartsMatchesAWholeRedraw) {
  for (std::uint8_t flags : {std::uint8_t{0x00}, std::uint8_t{0x01}}) {
    GraphRig a, b;
    a.graph->set_display_flags(flags);
    b.graph->set_display_flags(flags);
    a.settled_frame();
    b.settled_frame();
    for (int i = 0; i < 30; ++i) {
      a.ticks(1, 30000 + 977 * (i % 5), 70000 + 1313 * (i % 3));
      b.ticks(1, 30000 + 977 * (i % 5), 70000 + 1313 * (i % 3));
      a.graph->render();
    }
    // New settings draw the whole panel again.
    b.graph->reload_settings();
    b.graph->render();
    EXPECT_EQ(a.graph->frame(), b.graph->frame()) << int(flags);
  }
}

// Samples with these byte counts, then a frame with these report flags and notice.
struct PaintStep {
  int ticks;
  std::uint64_t out, in;
  std::uint8_t flags;
  const char* notice;
};

// Two painters of the same settings at the control's default size over one
// monitor: `a` draws frame after frame, `b` each frame whole.
struct PainterPair {
  Rig rig;
  traffic::GraphSettings settings;
  const QSize size{803, 440};
  int panel = 0;
  GraphPainter a{Language::English}, b{Language::English};
  GraphFrame f;

  PainterPair(const char* ini, qreal dpr) : rig(ini) {
    rig.start().select_interface(0);
    settings = traffic::load_graph_settings(rig.profile, Language::English);
    panel = traffic::panel_target_height(settings.view_mode, false);
    for (GraphPainter* p : {&a, &b}) {
      p->set_settings(settings, 0);
      p->resize(size, dpr);
    }
  }
  // Takes the step's samples and reads its frame into f.
  void next(const PaintStep& s) {
    rig.ticks(s.ticks, s.out, s.in);
    read_graph_frame(*rig.monitor, settings, size, panel, s.flags, rig.clock.tick_ms(), Language::English, f);
    f.notice = s.notice;
  }
};

// Frames whose figures changed redraw only the labels that show them. Each
// must match a frame drawn whole from the same figures, and every pixel it
// changed must lie in dirty(), or the screen keeps stale figures: through
// figures growing and shrinking by digits and units, the idle time coming
// and going, a notice, report columns and the graph hidden and shown.
TEST(GraphPainter, LabelsRedrawnWhereTheyChangedMatchAWholeRedraw) {
  const PaintStep steps[] = {{1, 0, 0, 0, ""},           {3, 9, 120, 0, ""},      {1, 5000, 70000, 0, ""},
                        {1, 5000, 70977, 0, ""},    {2, 2000000, 3, 0, ""},  {1, 120000000, 0, 0, ""},
                        {1, 1, 0, 0, ""},           {1, 1, 0, 0, "Notice"},  {1, 3000, 1, 0, ""},
                        {1, 3000, 2, 0x01, ""},     {1, 3000, 9, 0, ""},     {80, 0, 0, 0, ""},
                        {25, 0, 0, 0, ""},          {1, 0, 0, 0x80, ""},     {25, 0, 0, 0x80, ""},
                        {1, 0, 0, 0, ""},           {1, 70000, 70000, 0, ""}, {1, 71000, 69000, 0, ""}};
  for (qreal dpr : {1.0, 1.5}) {
    for (const char* ini : {"", "[Traffic]\nMaxLineMode=0\nPolylineMode=1\n"}) {
      PainterPair pair(ini, dpr);
      GraphPainter &a = pair.a, &b = pair.b;
      const GraphFrame& f = pair.f;
      const auto dev = [dpr](int v) { return static_cast<int>(std::floor(v * dpr + 0.5)); };
      int n = 0;
      for (const PaintStep& s : steps) {
        SCOPED_TRACE(testing::Message() << "ratio " << dpr << " ini " << ini << " step " << n++);
        pair.next(s);
        const QImage before = a.frame().copy();
        if (!a.paint(f)) continue;
        b.invalidate();
        ASSERT_TRUE(b.paint(f));
        ASSERT_EQ(a.frame(), b.frame());
        QRegion dirty;
        for (const QRect& r : a.dirty())
          dirty += QRect(dev(r.left()), dev(r.top()), dev(r.left() + r.width()) - dev(r.left()),
                         dev(r.top() + r.height()) - dev(r.top()));
        int stale = 0;
        for (int y = 0; y < before.height(); ++y)
          for (int x = 0; x < before.width(); ++x)
            stale += before.pixel(x, y) != a.frame().pixel(x, y) && !dirty.contains(QPoint(x, y));
        EXPECT_EQ(stale, 0);
      }
    }
  }
}

// The area keeps its columns turned by the samples that came in, and only
// the changed parts are copied to the screen: a screen kept up to date that
// way must show every frame a fresh painter draws, through the offset
// wrapping round the width many times, both directions, and everything that
// puts the columns back in order (a notice, report columns, the graph
// hidden, the panel and the interface list's labels) coming and going.
TEST(GraphPainter, ScreenKeptFromTheChangedPartsShowsEveryFrame) {
  std::vector<PaintStep> steps = {{1, 0, 0, 0, ""}, {3, 9000, 120, 0, ""}, {1, 5000, 70000, 0, "Notice"},
                             {2, 5000, 70977, 0, ""}, {1, 3000, 2, 0x01, ""}, {1, 3000, 9, 0, ""},
                             {1, 0, 0, 0x80, ""}, {1, 7000, 9000, 0, ""}};
  // About three times round the width, in frames of a few samples, the
  // speeds changing so that the bars differ.
  for (int i = 0; i < 120; ++i)
    steps.push_back({1 + i % 7, 1000u + static_cast<std::uint64_t>(i * 37 % 11) * 4000u,
                     2000u + static_cast<std::uint64_t>(i % 5) * 9000u, 0, i == 60 ? "Notice" : ""});
  for (qreal dpr : {1.0, 2.0, 1.5}) {
    for (const char* ini : {"", "[Traffic]\nDirection=1\n"}) {
      PainterPair pair(ini, dpr);
      GraphPainter &a = pair.a, &b = pair.b;
      const GraphFrame& f = pair.f;
      QImage screen(a.frame().size(), QImage::Format_RGB32);
      screen.setDevicePixelRatio(dpr);
      int n = 0;
      for (const PaintStep& s : steps) {
        SCOPED_TRACE(testing::Message() << "ratio " << dpr << " ini " << ini << " step " << n++);
        pair.next(s);
        const bool first = n == 1;
        if (!a.paint(f)) continue;
        {
          QPainter p(&screen);
          if (first)
            a.copy_to(p, QRect(QPoint(0, 0), pair.size));
          else
            for (const QRect& r : a.dirty()) a.copy_to(p, r);
        }
        b.invalidate();
        ASSERT_TRUE(b.paint(f));
        ASSERT_EQ(screen, b.frame());
      }
      // The frame itself, its columns put in order, is the same picture.
      EXPECT_EQ(a.frame(), b.frame());
    }
  }
}

TEST(TrafficGraphWidget, TicksDrawOnlyFramesThatDiffer) {
  GraphRig rig;
  rig.graph->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.graph.get()));  // nothing is drawn before
  rig.ticks(500, 0, 0);  // an idle link for 25 s: full histories of zeros, the idle time shown
  for (int i = 0; i < 8; ++i) rig.graph->tick();  // until the panel has opened
  const std::uint64_t settled = rig.graph->frames_drawn();
  rig.graph->tick();
  EXPECT_EQ(rig.graph->frames_drawn(), settled);  // nothing new
  rig.clock.advance_ms(1000);  // the idle and capture times move on a second
  rig.graph->tick();
  EXPECT_EQ(rig.graph->frames_drawn(), settled + 1);
  rig.ticks(1, 0, 0);  // another idle sample: zeros scroll over zeros, the seconds stay
  rig.graph->tick();
  EXPECT_EQ(rig.graph->frames_drawn(), settled + 1);
  rig.ticks(30, 4000, 0);  // traffic
  rig.graph->tick();
  EXPECT_EQ(rig.graph->frames_drawn(), settled + 2);
  rig.graph->toggle_display_flags(0x10);
  rig.graph->tick();
  EXPECT_EQ(rig.graph->frames_drawn(), settled + 3);
  middle_click(*rig.graph, Qt::ControlModifier);  // notice
  rig.graph->tick();
  EXPECT_EQ(rig.graph->frames_drawn(), settled + 4);
  // Traffic while nobody can see the graph: no frame drawn.
  rig.graph->hide();
  rig.ticks(30, 9000, 0);
  rig.graph->tick();
  rig.graph->showMinimized();
  rig.ticks(30, 7000, 0);
  rig.graph->tick();
  EXPECT_EQ(rig.graph->frames_drawn(), settled + 4);
  rig.graph->hide();
}

// On a screen at 200 % the frame is drawn with four device pixels for each
// logical one: the glyphs are rasterised at that resolution, not a 1x frame
// scaled up, where every aligned 2x2 block of pixels would be uniform.
// While the bars move the area keeps its columns turned: the window must
// still show the frame.
TEST(TrafficGraphWidget, WindowShowsTheFrameWhileTheBarsMove) {
  GraphRig rig;
  rig.graph->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.graph.get()));
  rig.ticks(40, 3000, 9000);
  for (int i = 0; i < 8; ++i) rig.graph->tick();  // until the panel has opened
  for (int i = 0; i < 12; ++i) {
    rig.ticks(1 + i % 3, 3000 + static_cast<std::uint64_t>(i) * 100, 9000);
    rig.graph->tick();
    const QImage shown = rig.graph->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown, rig.graph->frame()) << i;
  }
}

TEST(TrafficGraphWidget, TextIsSharpAtRatioTwo) {
  GraphRig rig;
  rig.ticks(60, 5000, 9000);
  rig.settled_frame();
  QImage page(QSize(803, 440) * 2, QImage::Format_RGB32);
  page.setDevicePixelRatio(2);
  static_cast<QWidget&>(*rig.graph).render(&page);  // as the window system paints it at ratio 2
  EXPECT_EQ(rig.graph->frame().size(), QSize(1606, 880));
  EXPECT_EQ(rig.graph->frame_ratio(), 2);

  // The label band (the MAX and AVE labels) and the panel's text: blocks
  // with an edge through them.
  const auto split_blocks = [&](const QRect& logical) {
    int split = 0, inked = 0;
    for (int y = logical.top(); y <= logical.bottom(); ++y)
      for (int x = logical.left(); x <= logical.right(); ++x) {
        const QRgb a = page.pixel(2 * x, 2 * y), b = page.pixel(2 * x + 1, 2 * y), c = page.pixel(2 * x, 2 * y + 1),
                   d = page.pixel(2 * x + 1, 2 * y + 1);
        if (a != b || a != c || a != d) ++split;
        if (a != page.pixel(0, 0)) ++inked;
      }
    return std::pair{split, inked};
  };
  const auto [band_split, band_ink] = split_blocks(QRect(0, 0, 803, 44));
  EXPECT_GT(band_ink, 500);
  EXPECT_GT(band_split, band_ink / 4) << band_ink;
  const auto [panel_split, panel_ink] = split_blocks(QRect(0, 300, 803, 130));
  EXPECT_GT(panel_split, 500) << panel_ink;

  // The same frame at ratio 1 has the same layout: the bars' tops and the
  // lines are where the 2x frame has them.
  GraphRig flat;
  flat.ticks(60, 5000, 9000);
  const QImage one = flat.settled_frame();
  EXPECT_EQ(one.size(), QSize(803, 440));
  const int x = 700;
  int ones = 0, twos = 0;
  for (int y = 50; y < 250; ++y) {
    ones += one.pixel(x, y) != one.pixel(x, y - 1);
    twos += page.pixel(2 * x, 2 * y) != page.pixel(2 * x, 2 * y - 2);
  }
  EXPECT_GT(ones, 0);
  const int slack = ones / 2 + 2;
  EXPECT_NEAR(twos, ones, slack);
}

// At 150 % too the glyphs come from character images checked against the
// laid-out line, and a frame drawn in parts matches one drawn whole.
TEST(TrafficGraphWidget, FramesAtRatioOneAndAHalfDrawnInPartsMatchAWholeRedraw) {
  GraphRig a, b;
  for (GraphRig* r : {&a, &b}) {
    QImage page(QSize(1205, 660), QImage::Format_RGB32);
    page.setDevicePixelRatio(1.5);
    static_cast<QWidget&>(*r->graph).render(&page);
    EXPECT_EQ(r->graph->frame_ratio(), 1.5);
    r->settled_frame();
  }
  for (int i = 0; i < 20; ++i) {
    a.ticks(1, 30000 + 977 * (i % 5), 70000 + 1313 * (i % 3));
    b.ticks(1, 30000 + 977 * (i % 5), 70000 + 1313 * (i % 3));
    a.graph->render();
  }
  b.graph->reload_settings();
  b.graph->render();
  EXPECT_EQ(a.graph->frame(), b.graph->frame());
  EXPECT_EQ(a.graph->frame().size(), QSize(1205, 660));
}

TEST(TrafficGraphWidget, RestartsRereadSettingsAndTheTimerPeriod) {
  GraphRig rig;
  EXPECT_TRUE(rig.graph->timer_active());
  EXPECT_EQ(rig.graph->redraw_interval_ms(), 50);
  rig.profile.write_int("Traffic", "View-Responce", 3);
  rig.profile.write_int("Traffic", "MaxLineMode", 0);
  rig.monitor->restart(traffic::RestartMode::Restart);
  EXPECT_EQ(rig.graph->redraw_interval_ms(), 200);
  EXPECT_FALSE(rig.graph->settings().max_line_mode);
  // Once the graph is gone the monitor no longer calls it.
  rig.graph.reset();
  rig.monitor->restart(traffic::RestartMode::Restart);
}

// ---------------------------------------------------------------------------
// Page: the interface combo box

TEST(TrafficMonitorPageWidget, StartsWithTheStoredInterface) {
  {
    Rig rig("[Settings]\nInterface=1\nInterfaceName=wlan0\n");
    rig.add_lo_eth0_wlan0();  // wlan0 moved from position 1 to 2 since the last run
    TrafficMonitorPage page(rig.start(), rig.profile, Language::English, rig.clock);
    EXPECT_EQ(page.interface_box()->count(), 3);
    EXPECT_EQ(page.interface_box()->currentIndex(), 2);
    EXPECT_EQ(rig.monitor->selected_interface(), 2);
  }
  {
    // Two rows with one name: the first in table order.
    Rig rig("[Settings]\nInterface=2\n");
    rig.links.add("lo");
    rig.links.add("eth0");
    rig.links.add("eth0");
    TrafficMonitorPage page(rig.start(), rig.profile, Language::English, rig.clock);
    EXPECT_EQ(page.interface_box()->currentIndex(), 1);
  }
}

TEST(TrafficMonitorPageWidget, ListChangesKeepTheChosenInterface) {
  Rig rig("[Settings]\nInterface=2\n");
  rig.add_lo_eth0_wlan0();
  TrafficMonitorPage page(rig.start(), rig.profile, Language::English, rig.clock);
  ASSERT_EQ(page.interface_box()->currentIndex(), 2);

  EXPECT_FALSE(page.refresh_interfaces());  // same row count: nothing happens

  rig.links.rows.erase(rig.links.rows.begin() + 1);  // eth0 goes away
  EXPECT_TRUE(page.refresh_interfaces());
  EXPECT_EQ(page.interface_box()->count(), 2);
  EXPECT_EQ(page.interface_box()->currentText(), "wlan0");
  EXPECT_EQ(rig.monitor->selected_interface(), 1);

  rig.links.add("usb0");
  EXPECT_TRUE(page.refresh_interfaces());
  EXPECT_EQ(page.interface_box()->currentText(), "wlan0");

  // A table that cannot be read does not empty the list.
  rig.links.fail = true;
  EXPECT_FALSE(page.refresh_interfaces());
  EXPECT_EQ(page.interface_box()->count(), 3);
  EXPECT_EQ(rig.monitor->selected_interface(), 1);
}

TEST(TrafficMonitorPageWidget, BoxFollowsTheChoiceOfTheAutomaticReset) {
  Rig rig("[Settings]\nInterfaceName=wlan0\n");
  rig.add_lo_eth0_wlan0();
  TrafficMonitorPage page(rig.start(), rig.profile, Language::English, rig.clock);
  ASSERT_EQ(page.interface_box()->currentText(), "wlan0");
  rig.links.rows.pop_back();  // wlan0 goes away
  rig.monitor->tick();
  ASSERT_EQ(rig.monitor->auto_reset_tick(), 15u);
  rig.clock.advance_ms(15000);
  rig.monitor->auto_reset_tick();
  EXPECT_EQ(page.interface_box()->count(), 2);
  EXPECT_EQ(page.interface_box()->currentText(), "eth0");
  EXPECT_EQ(rig.monitor->selected_interface(), 1);

  rig.links.add("wlan0");  // back: the list changed, and the chosen interface is taken again
  EXPECT_TRUE(page.refresh_interfaces());
  EXPECT_EQ(page.interface_box()->currentText(), "wlan0");
  EXPECT_EQ(rig.monitor->selected_interface(), 2);
}

TEST(TrafficMonitorPageWidget, ChoosingRestartsEvenForTheSameInterface) {
  Rig rig;
  TrafficMonitorPage page(rig.start(), rig.profile, Language::English, rig.clock);
  const auto restarts = [&] {
    int n = 0;
    for (const std::string& line : rig.monitor->report_list(0)) n += line.find("RESTART") != std::string::npos;
    return n;
  };
  const int before = restarts();
  page.choose(0);
  EXPECT_EQ(restarts(), before + 1);
  page.choose(1);
  EXPECT_EQ(rig.monitor->selected_interface(), 1);
  EXPECT_EQ(page.interface_box()->currentIndex(), 1);
  EXPECT_EQ(restarts(), before + 2);
}

TEST(TrafficMonitorPageWidget, SavesTheChoiceAndPassesTheSnapshotOn) {
  Rig rig;
  {
    TrafficMonitorPage page(rig.start(), rig.profile, Language::English, rig.clock);
    QSignalSpy snapshots(&page, &TrafficMonitorPage::snapshotRequested);
    emit page.graph()->snapshotRequested();
    EXPECT_EQ(snapshots.count(), 1);
    page.choose(1);
  }
  EXPECT_EQ(rig.read("Settings", "Interface"), 1);
  EXPECT_EQ(rig.profile.read_string("Settings", "InterfaceName", ""), "wlan0");
}

}  // namespace
}  // namespace tw::ui
