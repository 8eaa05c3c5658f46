// Time to draw one traffic-graph frame at the main window's default size
// (803 x 440) with full speed histories and the detailed panel open, on Qt's
// offscreen platform: whole frames (with and without three report columns)
// and the running program's frames, which draw only what changed since the
// last one. The aim is below 2 ms for a whole frame; a live frame is what the
// desktop program pays twenty times a second, and its detailed panel is
// timed alone as well. The Mini Monitor's picture,
// which it paints ten times a second, is measured the same way.
//
//   build/graph_draw_bench
//
// The frames are drawn by the graph's own painter (GraphPainter) from the
// figures the redraw timer reads (read_graph_frame); copying them to the
// screen is not included.
#if __has_include(<QApplication>)

#include <QApplication>

#include <benchmark/benchmark.h>

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_link_stats.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"
#include "traffic/graph_logic.h"
#include "ui/minimonitor/mini_monitor.h"
#include "ui/traffic/detail_panel.h"
#include "ui/traffic/graph_painter.h"
#include "ui/traffic/label_image_cache.h"

namespace {

using namespace tw;

struct Scene {
  platform::FakeFileStore files;
  settings::Profile profile{files, "/bench/tarnix_bench@host.ini"};
  platform::FakeLinkStats links;
  platform::FakeClock clock;
  std::unique_ptr<traffic::TrafficMonitor> monitor;
  traffic::GraphSettings settings;
  ui::GraphPainter painter{Language::English};
  ui::GraphFrame frame;
  std::uint8_t flags;
  int panel_height = traffic::kPanelClosedHeight;

  Scene(std::uint8_t display_flags, const char* ini, qreal dpr = 1) : flags(display_flags) {
    files.files[profile.path()] = ini;
    links.add("eth0");
    links.rows[0].speed_bps = 1000000000;
    clock.set_ms(1000);
    monitor = std::make_unique<traffic::TrafficMonitor>(profile, links, clock, Language::English);
    monitor->select_interface(0);
    // 5000 ticks of uneven traffic: full 4095-entry histories, full speed
    // report lists and a few lines in the amount lists.
    for (int i = 0; i < 5000; ++i) {
      const double t = i * 0.01;
      links.rows[0].out_octets += static_cast<std::uint64_t>(40000 * (1 + std::sin(t)) + (i % 97 == 0 ? 300000 : 0));
      links.rows[0].in_octets += static_cast<std::uint64_t>(90000 * (1 + std::sin(t * 0.7 + 1)));
      clock.advance_ms(50);
      monitor->tick();
    }
    settings = traffic::load_graph_settings(profile, Language::English);
    painter.set_settings(settings, 0);
    painter.resize(QSize(803, 440), dpr);
    monitor->set_graph_width(803);
    for (int i = 0; i < 12; ++i) draw();  // let the panel finish sliding
  }

  // One frame as the redraw timer draws it: the panel's slide, the figures,
  // the painter.
  void draw() {
    const bool hidden = flags & traffic::kGraphHiddenFlag;
    panel_height = traffic::next_panel_height(panel_height, traffic::panel_target_height(settings.view_mode, hidden),
                                              settings.view_responce);
    ui::read_graph_frame(*monitor, settings, painter.size(), panel_height, flags, clock.tick_ms(), Language::English,
                         frame);
    painter.paint(frame);
  }

  // One more sampling tick with fresh traffic: every figure on screen moves,
  // as on a busy link, so no cached text image fits the next frame.
  void step(int i) {
    const double t = i * 0.01;
    links.rows[0].out_octets += static_cast<std::uint64_t>(40000 * (1 + std::sin(t)) + (i % 7) * 1234);
    links.rows[0].in_octets += static_cast<std::uint64_t>(90000 * (1 + std::sin(t * 0.7 + 1)) + (i % 5) * 4321);
    clock.advance_ms(50);
    monitor->tick();
  }
};

// With GRAPH_BENCH_PNG=<folder> each scene also saves its frame there, so
// two builds can be compared pixel by pixel.
void save_frame(const Scene& scene, const char* name) {
  const QByteArray dir = qgetenv("GRAPH_BENCH_PNG");
  if (!dir.isEmpty()) scene.painter.frame().save(QString::fromUtf8(dir) + QLatin1Char('/') + QLatin1String(name) + ".png");
}

// The whole frame, drawn again from the same figures.
void run(benchmark::State& state, std::uint8_t flags, const char* ini, const char* name) {
  Scene scene(flags, ini);
  for (auto _ : state) {
    scene.painter.invalidate();
    scene.draw();
    benchmark::DoNotOptimize(scene.painter.frame().constBits());
  }
  save_frame(scene, name);
}

// Figures that change every frame; the sampling tick is not timed.
void run_live(benchmark::State& state, std::uint8_t flags, const char* ini, const char* name, qreal dpr = 1) {
  Scene scene(flags, ini, dpr);
  int i = 5000;
  // The window's copy of what changed, as the widget makes it each frame.
  QImage screen(scene.painter.frame().size(), QImage::Format_RGB32);
  screen.setDevicePixelRatio(dpr);
  for (auto _ : state) {
    state.PauseTiming();
    scene.step(i++);
    state.ResumeTiming();
    scene.draw();
    QPainter p(&screen);
    scene.painter.copy_to(p, scene.painter.dirty().boundingRect());
    p.end();
    benchmark::DoNotOptimize(screen.constBits());
  }
  // A fixed frame for comparisons, whatever the iteration count was.
  Scene fixed(flags, ini, dpr);
  for (int k = 0; k < 20; ++k) {
    fixed.step(5000 + k);
    fixed.draw();
  }
  save_frame(fixed, name);
}

// The case: panel, gradients, blending, MAX lines, three report columns.
void BM_FramePanelThreeReports(benchmark::State& state) { run(state, 0x01 | 0x02 | 0x04, "[Traffic]\n", "panel_three_reports"); }
BENCHMARK(BM_FramePanelThreeReports)->Unit(benchmark::kMillisecond);

void BM_FramePanelNoReports(benchmark::State& state) { run(state, 0x00, "[Traffic]\n", "panel_no_reports"); }
BENCHMARK(BM_FramePanelNoReports)->Unit(benchmark::kMillisecond);

void BM_FramePlainPolyline(benchmark::State& state) {
  run(state, 0x00, "[Traffic]\nGradientMode=0\nReportMode=0\nPolylineMode=1\n", "plain_polyline");
}
BENCHMARK(BM_FramePlainPolyline)->Unit(benchmark::kMillisecond);

// The running program's case: panel open, no report columns, and labels and
// panel figures that change every frame.
void BM_FrameLiveFigures(benchmark::State& state) { run_live(state, 0x00, "[Traffic]\n", "live_figures"); }
BENCHMARK(BM_FrameLiveFigures)->Unit(benchmark::kMillisecond);

// The same on a screen at 200 %: four device pixels for each logical one.
void BM_FrameLiveFiguresRatio2(benchmark::State& state) {
  run_live(state, 0x00, "[Traffic]\n", "live_figures_ratio2", 2);
}
BENCHMARK(BM_FrameLiveFiguresRatio2)->Unit(benchmark::kMillisecond);

// The detailed panel alone, as a live frame draws it over the frame it drew
// the time before: the transfer figures and the packet counts move every
// frame, as on a busy link. Reading the figures is not timed.
void BM_PanelLiveFigures(benchmark::State& state) {
  Scene scene(0x00, "[Traffic]\n");
  // The panel's face, as the graph picks it (a 12-pixel line at most).
  QFont face(QStringLiteral("Lucida Console"));
  face.setStyleHint(QFont::Monospace);
  face.setFixedPitch(true);
  face.setPixelSize(12);
  const int line = QFontMetrics(face).height();
  if (line > 12) face.setPixelSize(std::max(1, (144 + line / 2) / line));
  ui::LabelImageCache labels;
  labels.set_fonts({face});
  QImage frame(803, 440, QImage::Format_RGB32);
  frame.fill(Qt::black);
  ui::DetailPanel panel;
  QRegion dirty;
  ui::DetailPanel::Content content;
  content.height = scene.frame.panel_height;
  content.label_lang = traffic::label_language(Language::English, scene.settings.english_labels);
  content.background = scene.settings.color(traffic::kColorBackground);
  content.text = scene.settings.color(traffic::kColorText);
  content.shadow = scene.settings.color(traffic::kColorBackgroundText);
  content.snapshot = &scene.frame.snapshot;
  content.transfer_lines = &scene.frame.transfer_lines;
  int i = 5000;
  for (auto _ : state) {
    state.PauseTiming();
    scene.links.rows[0].out_ucast_pkts += 40 + static_cast<std::uint64_t>(i % 7);
    scene.links.rows[0].in_ucast_pkts += 90 + static_cast<std::uint64_t>(i % 5);
    scene.step(i++);
    ui::read_graph_frame(*scene.monitor, scene.settings, scene.painter.size(), scene.panel_height, scene.flags,
                         scene.clock.tick_ms(), Language::English, scene.frame);
    dirty = QRegion();
    state.ResumeTiming();
    panel.draw(frame, QSize(803, 440), labels, 0, content, dirty);
    benchmark::DoNotOptimize(frame.constBits());
  }
}
BENCHMARK(BM_PanelLiveFigures)->Unit(benchmark::kMicrosecond);

// The Mini Monitor's picture as its refresh paints it every 100 ms: the
// speeds, maxima and totals of a busy link over its small graph, all of
// which move between two refreshes. The window is never shown; its picture
// is drawn into an image.
void run_mini(benchmark::State& state, const char* ini, const char* name, qreal dpr = 1) {
  Scene scene(0x00, ini);
  ui::MiniMonitor mini(*scene.monitor, scene.profile, Language::English);
  int i = 5000;
  for (auto _ : state) {
    state.PauseTiming();
    scene.step(i++);
    scene.step(i++);
    state.ResumeTiming();
    mini.refresh();
    QImage img = mini.render_image(dpr);
    benchmark::DoNotOptimize(img.constBits());
  }
  Scene fixed(0x00, ini);
  ui::MiniMonitor same(*fixed.monitor, fixed.profile, Language::English);
  for (int k = 0; k < 20; ++k) fixed.step(5000 + k);
  same.refresh();
  const QByteArray dir = qgetenv("GRAPH_BENCH_PNG");
  if (!dir.isEmpty()) same.render_image(dpr).save(QString::fromUtf8(dir) + QLatin1Char('/') + QLatin1String(name) + ".png");
}

void BM_MiniMonitorLiveFigures(benchmark::State& state) { run_mini(state, "[Traffic]\n", "mini_default"); }
BENCHMARK(BM_MiniMonitorLiveFigures)->Unit(benchmark::kMicrosecond);

// Another size and weight, and every figure of the format list's longest style.
void BM_MiniMonitorBoldLarger(benchmark::State& state) {
  run_mini(state, "[MiniMonitor]\nFontSize=13\nFontWeight=700\nStyle=0\nGradientMode=0\n", "mini_bold13");
}
BENCHMARK(BM_MiniMonitorBoldLarger)->Unit(benchmark::kMicrosecond);

// The default picture on a screen at 200 %.
void BM_MiniMonitorRatioTwo(benchmark::State& state) { run_mini(state, "[Traffic]\n", "mini_ratio2", 2); }
BENCHMARK(BM_MiniMonitorRatioTwo)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // Before QApplication: the benchmark draws into images, no display needed.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

#else

#include <cstdio>

// Built without Qt (the UI is switched off or Qt 6 is missing).
int main() {
  std::puts("graph_draw_bench: built without Qt 6, nothing to measure");
  return 0;
}

#endif
