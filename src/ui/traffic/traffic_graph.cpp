#include "ui/traffic/traffic_graph.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPaintEvent>
#include <QPolygon>
#include <QRegion>
#include <QResizeEvent>
#include <QThread>
#include <QWheelEvent>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/clock.h"
#include "platform/linux/system_clock.h"
#include "settings/profile.h"
#include "base/format.h"
#include "traffic/info_report.h"

namespace tw::ui {
namespace {

using traffic::ColorRef;
namespace tr = traffic;

constexpr const char* kSection = "Traffic";
// Frame of the panel while the interface at the selected position changed.
constexpr ColorRef kChangedFrame = 0x3030FF;

QRgb to_rgb(ColorRef c) { return qRgb(tr::color_red(c), tr::color_green(c), tr::color_blue(c)); }
QColor to_qcolor(ColorRef c) { return QColor(tr::color_red(c), tr::color_green(c), tr::color_blue(c)); }
QString qs(const std::string& s) { return QString::fromStdString(s); }
QString qs(const char* s) { return QString::fromUtf8(s); }

// Half of each channel of two opaque pixels: a 50 % blend in one step.
inline QRgb blend_half(QRgb a, QRgb b) { return 0xFF000000u | (((a & 0xFEFEFEu) >> 1) + ((b & 0xFEFEFEu) >> 1)); }

// Walks a vertical gradient of `n` rows from `top` to `bottom` one row at a
// time, in 16.16 fixed point.
class GradientWalk {
 public:
  GradientWalk(ColorRef top, ColorRef bottom, int n) {
    const int d = n > 1 ? n - 1 : 1;
    const int from[3] = {tr::color_red(top), tr::color_green(top), tr::color_blue(top)};
    const int to[3] = {tr::color_red(bottom), tr::color_green(bottom), tr::color_blue(bottom)};
    for (int i = 0; i < 3; ++i) {
      v_[i] = from[i] << 16;
      step_[i] = ((to[i] - from[i]) << 16) / d;
    }
  }
  QRgb next() {
    const QRgb c = qRgb(v_[0] >> 16, v_[1] >> 16, v_[2] >> 16);
    for (int i = 0; i < 3; ++i) v_[i] += step_[i];
    return c;
  }

 private:
  int v_[3];
  int step_[3];
};

// Faces are asked for by name; where one is not installed the monospace hint
// lets fontconfig choose the system's monospace face, so columns still line up.
// A font "height" here is the height of its text line (ascent plus descent),
// as the sizes in the settings file were chosen for, not the em size: the
// em is shrunk until a line fits.
QFont make_font(const std::string& face, int pixels, bool bold) {
  QFont f(qs(face));
  f.setStyleHint(QFont::Monospace);
  f.setFixedPitch(true);
  f.setBold(bold);
  const int want = std::max(pixels, 1);
  f.setPixelSize(want);
  const int line = QFontMetrics(f).height();
  if (line > want) f.setPixelSize(std::max(1, (want * want + line / 2) / line));
  return f;
}

struct MenuTexts {
  const char* reset_graph;
  const char* reset_gross;
  const char* copy_info;
  const char* snapshot;
  const char* display_mode;
  const char* detailed;
  const char* max_line;
  const char* alpha;
  const char* gradation;
  const char* drawing;
  const char* double_sampling;
  const char* polyline;
  const char* reverse;
  const char* report;
  std::array<const char*, tr::kReportListCount> lists;
  const char* hide_graph;
};

constexpr MenuTexts kMenuEn{
    "Reset Graph(&R)", "Reset Total gross Transfer amount(&T)", "Copy Transfer Information(&C)",
    "Take a Snapshot(&N)", "Display mode", "Detailed Info(&I)", "'MAX' line(&M)", "Alpha Blending(&A)",
    "Gradation(&G)", "Graph Drawing", "Double sampling(&D)", "Polyline(&P)", "Scroll reverse(&S)",
    "Traffic Report",
    {"Instantaneous Transfer speed", "Average Transfer speed", "Transfer amount for each 01 minutes",
     "Transfer amount for each 05 minutes", "Transfer amount for each 30 minutes",
     "Transfer amount for each 60 minutes", "Transfer amount for each 24 hours"},
    "Hide Graph(&0)"};

constexpr MenuTexts kMenuJa{
    "グラフのリセット(&R)", "総転送量(累計)のリセット(&T)", "転送情報をコピー(&C)",
    "スナップショットを撮る(&N)", "表示モード", "詳細情報(&I)", "'MAX' ライン(&M)", "アルファブレンド(&A)",
    "グラデーション(&G)", "グラフ描画", "ダブルサンプリング(&D)", "ポリライン(&P)", "スクロール反転(&S)",
    "トラフィックレポート",
    {"瞬間転送速度", "平均転送速度", "01分毎の転送量", "05分毎の転送量", "30分毎の転送量", "60分毎の転送量",
     "24時間毎の転送量"},
    "グラフを隠す(&0)"};

platform::Clock& system_clock() {
  static platform::SystemClock clock;
  return clock;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and settings

TrafficGraph::TrafficGraph(traffic::TrafficMonitor& monitor, settings::Profile& profile, Language lang,
                           QWidget* parent)
    : QWidget(parent), monitor_(monitor), profile_(profile), lang_(lang), clock_(&system_clock()) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel comes from the frame
  setFocusPolicy(Qt::ClickFocus);
  setMinimumSize(1, 1);
  confirm_ = [this](const QString& question) {
    // Owned by the top-level window, not by the graph: the program's
    // shut-down deletes the pages, and with them the graph, while this
    // question may still be open.
    return QMessageBox::question(window(), QStringLiteral("Tarnwatch"), question,
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
  };

  const MenuTexts& m = pick(lang_, kMenuEn, kMenuJa);
  const auto toggle = [this](const char* text, const char* key, int def) {
    auto* a = new QAction(qs(text), this);
    a->setCheckable(true);
    connect(a, &QAction::triggered, this, [this, key, def] { toggle_setting(key, def); });
    return a;
  };
  view_mode_action_ = toggle(m.detailed, "ViewMode", 1);
  max_line_action_ = toggle(m.max_line, "MaxLineMode", 1);
  report_mode_action_ = toggle(m.alpha, "ReportMode", 1);
  gradient_action_ = toggle(m.gradation, "GradientMode", 1);
  double_sampling_action_ = toggle(m.double_sampling, "DoubleSampling", 1);
  polyline_action_ = toggle(m.polyline, "PolylineMode", 0);
  direction_action_ = toggle(m.reverse, "Direction", 0);

  for (int i = 0; i <= tr::kReportListCount; ++i) {
    const bool hide = i == tr::kReportListCount;
    auto* a = new QAction(qs(hide ? m.hide_graph : m.lists[static_cast<std::size_t>(i)]), this);
    a->setCheckable(true);
    a->setShortcut(QKeySequence(Qt::CTRL | (hide ? Qt::Key_0 : Qt::Key(Qt::Key_1 + i))));
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    const auto bit = static_cast<std::uint8_t>(hide ? tr::kGraphHiddenFlag : 1u << i);
    connect(a, &QAction::triggered, this, [this, bit] { toggle_display_flags(bit); });
    addAction(a);
    report_actions_.push_back(a);
  }

  font_sizes_ = tr::font_size_list(logicalDpiY());
  const int n = static_cast<int>(monitor_.sampling_period_ms() / 50);
  thread_responce_ = std::clamp(n - 1, 0, 9);

  connect(&timer_, &QTimer::timeout, this, &TrafficGraph::tick);
  monitor_.set_restart_listener([this](tr::RestartMode mode) {
    // Restarts come from the UI thread (commands, menus, the automatic
    // reset); should one come from elsewhere, the graph is reached through
    // its own event loop.
    if (QThread::currentThread() == thread())
      on_restart(mode);
    else
      QMetaObject::invokeMethod(this, [this, mode] { on_restart(mode); }, Qt::QueuedConnection);
  });
  reload_settings();
  rebuild_surfaces();
  restart_timer();
}

TrafficGraph::~TrafficGraph() { monitor_.set_restart_listener(nullptr); }

void TrafficGraph::set_clock(platform::Clock& clock) { clock_ = &clock; }

void TrafficGraph::set_confirm(std::function<bool(const QString&)> confirm) { confirm_ = std::move(confirm); }

void TrafficGraph::reload_settings() {
  settings_ = tr::load_graph_settings(profile_, lang_);
  const std::string fixed_face = lang_ == Language::Japanese ? "ＭＳ ゴシック" : "Lucida Console";
  fonts_[kLarge] = make_font(settings_.font_name, settings_.font_size, settings_.large_font_emphasis);
  fonts_[kSmall] = make_font(settings_.font_name2, settings_.font_size2, false);
  fonts_[kFont12] = make_font(fixed_face, 12, false);
  fonts_[kFont14] = make_font(fixed_face, 14, false);
  fonts_[kFont20] = make_font(fixed_face, 20, false);
  fonts_[kFont40] = make_font(fixed_face, 40, false);
  for (auto& cache : texts_) cache.clear();
  for (auto& g : glyphs_) g.reset();
  text_images_.clear();
  text_image_bytes_ = 0;
  ++generation_;
  if (timer_.isActive() && timer_.interval() != settings_.redraw_period_ms()) restart_timer();
  update_action_states();
}

void TrafficGraph::restart_timer() {
  timer_.stop();
  budget_.reset();
  timer_.start(settings_.redraw_period_ms());
}

void TrafficGraph::rebuild_surfaces() {
  const QSize s = size();
  if (s.isEmpty()) {
    frame_ = QImage();
  } else {
    frame_ = QImage(s, QImage::Format_RGB32);
    frame_.fill(to_rgb(settings_.color(tr::kColorBackground)));
  }
  // The panel slides open again in the new size.
  panel_height_ = tr::kPanelClosedHeight;
  panel_valid_ = false;
  last_key_valid_ = false;
}

void TrafficGraph::on_restart(traffic::RestartMode mode) {
  if (mode != tr::RestartMode::Gross) {
    reload_settings();
    if (mode == tr::RestartMode::Restart) {
      rebuild_surfaces();
      restart_timer();
    }
  }
  emit statisticsRestarted(static_cast<int>(mode));
}

void TrafficGraph::set_display_flags(std::uint8_t flags) {
  flags_ = flags;
  update_action_states();
}

void TrafficGraph::toggle_display_flags(std::uint8_t bits) { set_display_flags(static_cast<std::uint8_t>(flags_ ^ bits)); }

void TrafficGraph::toggle_setting(const char* key, int def) {
  const bool on = profile_.read_int(kSection, key, def) != 0;
  profile_.write_int(kSection, key, on ? 0 : 1);
  reload_settings();
  if (std::string_view(key) == "DoubleSampling") {
    monitor_.set_double_sampling(settings_.double_sampling);
    const tr::GraphLabels& l = tr::graph_labels(lang_, settings_.english_labels);
    show_notice(settings_.double_sampling ? l.double_sampling_on : l.double_sampling_off);
  }
}

void TrafficGraph::update_action_states() {
  if (!view_mode_action_) return;
  view_mode_action_->setChecked(settings_.view_mode);
  max_line_action_->setChecked(settings_.max_line_mode);
  report_mode_action_->setChecked(settings_.report_mode);
  gradient_action_->setChecked(settings_.gradient_mode);
  double_sampling_action_->setChecked(settings_.double_sampling);
  polyline_action_->setChecked(settings_.polyline);
  direction_action_->setChecked(settings_.reverse);
  for (int i = 0; i <= tr::kReportListCount; ++i) {
    const unsigned bit = i == tr::kReportListCount ? tr::kGraphHiddenFlag : 1u << i;
    report_actions_[static_cast<std::size_t>(i)]->setChecked((flags_ & bit) != 0);
  }
}

void TrafficGraph::show_notice(std::string text) { notice_.show(std::move(text), clock_->tick_ms()); }

std::string TrafficGraph::current_notice() {
  const std::string* n = notice_.current(clock_->tick_ms());
  return n ? *n : std::string();
}

// ---------------------------------------------------------------------------
// Commands

void TrafficGraph::reset_graph() { monitor_.restart(tr::RestartMode::Restart); }

bool TrafficGraph::reset_gross() {
  if (!confirm_) return false;
  // The question runs an event loop; a shut-down (a signal, the session
  // ending) may delete the graph meanwhile, and the totals are saved by then.
  const QPointer<TrafficGraph> alive(this);
  const auto confirm = confirm_;
  const bool yes = confirm(qs(std::string(tr::reset_gross_question(lang_))));
  if (!alive || !yes) return false;
  monitor_.restart(tr::RestartMode::Gross);
  return true;
}

void TrafficGraph::copy_transfer_information() {
  QString text = qs(monitor_.transfer_information_text());
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QGuiApplication::clipboard()->setText(text);
}

QMenu* TrafficGraph::create_context_menu(QWidget* parent) {
  update_action_states();
  const MenuTexts& m = pick(lang_, kMenuEn, kMenuJa);
  auto* menu = new QMenu(parent);
  connect(menu->addAction(qs(m.reset_graph)), &QAction::triggered, this, &TrafficGraph::reset_graph);
  connect(menu->addAction(qs(m.reset_gross)), &QAction::triggered, this, [this] { reset_gross(); });
  connect(menu->addAction(qs(m.copy_info)), &QAction::triggered, this, &TrafficGraph::copy_transfer_information);
  connect(menu->addAction(qs(m.snapshot)), &QAction::triggered, this, &TrafficGraph::snapshotRequested);
  menu->addSeparator();
  QMenu* display = menu->addMenu(qs(m.display_mode));
  display->addActions({view_mode_action_, max_line_action_, report_mode_action_, gradient_action_});
  QMenu* drawing = menu->addMenu(qs(m.drawing));
  drawing->addActions({double_sampling_action_, polyline_action_, direction_action_});
  QMenu* report = menu->addMenu(qs(m.report));
  for (int i = 0; i < tr::kReportListCount; ++i) report->addAction(report_actions_[static_cast<std::size_t>(i)]);
  report->addSeparator();
  report->addAction(report_actions_.back());
  return menu;
}

// ---------------------------------------------------------------------------
// Input

void TrafficGraph::contextMenuEvent(QContextMenuEvent* event) {
  // No parent: a shut-down while the menu is open deletes the graph, which
  // must not take the running menu with it.
  std::unique_ptr<QMenu> menu(create_context_menu(nullptr));
  menu->exec(event->globalPos());
}

void TrafficGraph::wheelEvent(QWheelEvent* event) {
  // Touchpads send fractions of a notch: they add up until a notch is full.
  wheel_accumulated_ += event->angleDelta().y();
  event->accept();
  if (std::abs(wheel_accumulated_) < tr::kWheelNotch) return;
  const int delta = wheel_accumulated_;
  wheel_accumulated_ = 0;
  if (event->modifiers() & Qt::ControlModifier) {
    const int size = tr::step_font_size(font_sizes_, settings_.font_size, delta > 0);
    if (size == settings_.font_size) return;
    profile_.write_int(kSection, "FontSize", size);
    reload_settings();
    show_notice(tr::font_size_notice(tr::graph_labels(lang_, settings_.english_labels), size));
    return;
  }
  wheel_position_ = tr::wheel_position_step(wheel_position_, delta);
  set_display_flags(tr::report_flags_for_wheel(flags_, wheel_position_));
}

void TrafficGraph::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::MiddleButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  event->accept();
  const Qt::KeyboardModifiers mods = event->modifiers();
  switch (tr::middle_button_action(mods & Qt::ControlModifier, mods & Qt::ShiftModifier, mods & Qt::AltModifier)) {
    case tr::MiddleButtonAction::ToggleDoubleSampling:
      toggle_setting("DoubleSampling", 1);
      break;
    case tr::MiddleButtonAction::ToggleLargeFontStyle:
      toggle_setting("LargeFontStyle", 1);
      break;
    case tr::MiddleButtonAction::ToggleLanguageSelect:
      toggle_setting("LanguageSelect", 0);
      break;
    case tr::MiddleButtonAction::ToggleGraphHidden:
      toggle_display_flags(tr::kGraphHiddenFlag);
      break;
  }
}

// ---------------------------------------------------------------------------
// Timer and frame

void TrafficGraph::tick() {
  // The maxima and the automatic-reset countdown are the monitor's and the
  // core's: they run whether or not anyone watches the graph.
  const int period = settings_.redraw_period_ms();
  if (budget_.skip(period)) return;
  if (!isVisible() || size().isEmpty()) return;
  QElapsedTimer took;
  took.start();
  prepare();
  make_key();
  if (last_key_valid_ && key_ == last_key_) return;
  paint_frame();
  std::swap(key_, last_key_);
  last_key_valid_ = true;
  ++frames_drawn_;
  // One rectangle from the top to the last changed panel line: the panel
  // rows below stay as they are on screen. Separate pieces each cost the
  // windowing system a copy of their own, which measured dearer than the
  // unchanged rows between them.
  update(dirty_.boundingRect());
  budget_.drew(static_cast<int>(took.elapsed()), period);
}

void TrafficGraph::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // Only a laid-out graph has its real width (a hidden one gets its resize
  // events when it is first shown): until then the monitor keeps the width
  // of the stored window size.
  monitor_.set_graph_width(width());
  rebuild_surfaces();
  restart_timer();
  if (isVisible()) render();
}

void TrafficGraph::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  if (frame_.isNull())
    p.fillRect(rect(), to_qcolor(settings_.color(tr::kColorBackground)));
  else
    // Only what was asked for: after a tick, the part of the frame that changed.
    for (const QRect& r : event->region()) p.drawImage(r.topLeft(), frame_, r);
}

void TrafficGraph::prepare() {
  if (frame_.size() != size()) rebuild_surfaces();
  const bool hidden = flags_ & tr::kGraphHiddenFlag;
  panel_height_ = tr::next_panel_height(panel_height_, tr::panel_target_height(settings_.view_mode, hidden),
                                        settings_.view_responce);
  update_figures();
  snapshot_ = monitor_.snapshot();
  // Built once a frame: the frame key compares them and the panel draws them.
  transfer_lines_ = tr::panel_transfer_lines(figures_, settings_, scale_, lang_);
}

void TrafficGraph::render() {
  prepare();
  if (frame_.isNull()) return;
  paint_frame();
  last_key_valid_ = false;
}

void TrafficGraph::make_key() {
  FrameKey& k = key_;
  k.width = frame_.width();
  k.height = frame_.height();
  k.panel_height = panel_height_;
  k.flags = flags_;
  k.generation = generation_;
  k.scale = scale_;
  k.max_send = maxima_.send;
  k.max_recv = maxima_.recv;
  k.latest_send = figures_.latest_send;
  k.latest_recv = figures_.latest_recv;
  k.smoothed_send = figures_.smoothed_send;
  k.smoothed_recv = figures_.smoothed_recv;
  k.state = static_cast<int>(figures_.state);
  const std::uint32_t now = clock_->tick_ms();
  k.idle_s = tr::inactive(now, figures_.last_activity_ms) ? (now - figures_.last_activity_ms) / 1000 : -1;
  k.countdown = -1;
  if (figures_.state == tr::InterfaceState::Changed) k.countdown = countdown_ ? *countdown_ : monitor_.auto_reset_seconds();
  const std::string* notice = notice_.current(now);
  k.notice = notice ? *notice : std::string();
  k.texts.assign(transfer_lines_.begin(), transfer_lines_.end());
  k.texts.push_back(snapshot_.description);
  for (std::uint64_t v : {std::uint64_t{snapshot_.oper_status}, snapshot_.link_speed_bps, snapshot_.out_ucast_pkts,
                          snapshot_.out_nucast_pkts, snapshot_.in_ucast_pkts, snapshot_.in_nucast_pkts})
    k.texts.push_back(std::to_string(v));
  const std::size_t visible = static_cast<std::size_t>(tr::visible_bar_count(k.width));
  k.send.assign(send_history_.begin(), send_history_.begin() + std::min(visible, send_history_.size()));
  k.recv.assign(recv_history_.begin(), recv_history_.begin() + std::min(visible, recv_history_.size()));
  for (int i = 0; i < tr::kReportListCount; ++i) {
    auto& r = k.reports[static_cast<std::size_t>(i)];
    if (flags_ & (1u << i))
      r = monitor_.report_list(i);
    else
      r.clear();
  }
}

void TrafficGraph::update_figures() {
  monitor_.copy_speed_histories(send_history_, recv_history_, static_cast<std::size_t>(tr::visible_bar_count(width())));
  figures_ = monitor_.figures();
  maxima_ = {figures_.max_send, figures_.max_recv};
  countdown_ = monitor_.auto_reset_countdown();
  const int area = tr::graph_area_height(height(), panel_height_, settings_.font_size);
  scale_ = tr::vertical_scale(settings_, maxima_.overall(), area);
}

void TrafficGraph::paint_frame() {
  const int w = frame_.width();
  const int h = frame_.height();
  const int top = tr::label_band_height(settings_.font_size);
  const int area = tr::graph_area_height(h, panel_height_, settings_.font_size);
  const bool hidden = flags_ & tr::kGraphHiddenFlag;

  // Each row is written once: the background around the graph field, the
  // field colour inside it. The panel's rows are left alone: the panel
  // covers them whole, and keeps what it drew there last time.
  const QRgb back = to_rgb(settings_.color(tr::kColorBackground));
  const QRgb field = to_rgb(settings_.color(tr::kColorBackgroundGraph));
  const int panel_top = panel_visible() ? h - std::min(panel_height_, h) : h;
  for (int y = 0; y < panel_top; ++y)
    std::fill_n(reinterpret_cast<QRgb*>(frame_.scanLine(y)), w, area > 0 && y >= top && y < top + area ? field : back);
  if (area > 0) {
    // Bars, grid and lines write their pixels directly.
    if (!hidden) {
      draw_grid(top, area);
      draw_bars(top, area);
    }
  }

  QPainter p(&frame_);
  // What is drawn before the panel and reaches into it would be covered by
  // the panel anyway; clipped, it leaves the panel's kept pixels intact.
  p.setClipRect(QRect(0, 0, w, panel_top));
  dirty_ = QRegion(0, 0, w, panel_top);
  if (area > 0 && !hidden) {
    if (settings_.polyline) {
      draw_polyline(p, send_history_, settings_.color(tr::kColorGraphSend), top, area);
      draw_polyline(p, recv_history_, settings_.color(tr::kColorGraphRecv), top, area);
    }
    if (settings_.font_size > 0) {
      if (settings_.max_line_mode) {
        for (std::int64_t v : {maxima_.send, maxima_.recv})
          if (auto y = tr::speed_line_y(v, scale_, top, area)) draw_hline(*y, settings_.color(tr::kColorMaxLine), top, area);
      }
      if (auto y = tr::speed_line_y(figures_.smoothed_send, scale_, top, area))
        draw_hline(*y, settings_.color(tr::kColorAverageSend), top, area);
      if (auto y = tr::speed_line_y(figures_.smoothed_recv, scale_, top, area))
        draw_hline(*y, settings_.color(tr::kColorAverageRecv), top, area);
    }
  }
  p.setRenderHint(QPainter::TextAntialiasing);
  draw_labels(p);
  draw_speed_strip(p, top + area);
  draw_notices(p, top, area);
  p.setClipping(false);
  draw_panel(p);
  if (flags_ & tr::kReportBitsMask) {
    draw_reports(p);
    panel_valid_ = false;  // the columns lie over the panel
    dirty_ = QRegion(frame_.rect());
  }
}

void TrafficGraph::draw_grid(int top, int height) {
  const int w = frame_.width();
  const int bottom = top + height - 1;
  const QRgb grid = to_rgb(settings_.color(tr::kColorGrid));
  for (int y = bottom - tr::kHorizontalGridSpacing; y > top; y -= tr::kHorizontalGridSpacing)
    std::fill_n(reinterpret_cast<QRgb*>(frame_.scanLine(y)), w, grid);

  // Time lines: one per second of sampling, static against the newest edge.
  const ColorRef field = settings_.color(tr::kColorBackgroundGraph);
  const int spacing = tr::time_grid_spacing(thread_responce_);
  for (int k = 1;; ++k) {
    const int x = settings_.reverse ? k * spacing - 1 : w - k * spacing;
    if (x < 0 || x >= w) break;
    const ColorRef c = settings_.color(tr::time_grid_major(k) ? tr::kColorScaleChart2 : tr::kColorScaleChart);
    // Gradient strokes fade into the field towards the top.
    GradientWalk g(settings_.gradient_mode ? field : c, c, height);
    for (int r = 0; r < height; ++r) reinterpret_cast<QRgb*>(frame_.scanLine(top + r))[x] = g.next();
  }
}

void TrafficGraph::draw_bars(int top, int height) {
  const int w = frame_.width();
  const int bottom = top + height - 1;
  const int n = tr::visible_bar_count(w);
  const ColorRef base = tr::brighten(settings_.color(tr::kColorBackgroundGraph), tr::kBarShade);
  uchar* bits = frame_.bits();
  const qsizetype bpl = frame_.bytesPerLine();
  const auto row = [&](int y) { return reinterpret_cast<QRgb*>(bits + bpl * y); };

  for (int dir = 0; dir < 2; ++dir) {
    const auto& hist = dir == 0 ? send_history_ : recv_history_;
    const ColorRef c = settings_.color(dir == 0 ? tr::kColorGraphSend : tr::kColorGraphRecv);
    const ColorRef c_top = tr::brighten(c, tr::kBarShade);
    const QRgb solid = to_rgb(c);
    const int count = std::min<int>(n, static_cast<int>(hist.size()));
    for (int i = 0; i < count; ++i) {
      const int bh = tr::bar_height(hist[static_cast<std::size_t>(i)], scale_, height);
      if (bh <= 0) continue;
      const int x0 = tr::bar_left(i, 0, w, settings_.reverse);
      const int xa = std::max(x0, 0), xb = std::min(x0 + tr::kBarWidth, w);
      // In the blending routine the receive bars let the send bars show
      // through where the two overlap.
      int overlap = 0;
      if (dir == 1 && settings_.report_mode && static_cast<std::size_t>(i) < send_history_.size())
        overlap = tr::bar_height(send_history_[static_cast<std::size_t>(i)], scale_, height);
      GradientWalk g(c_top, base, bh);
      for (int r = 0; r < bh; ++r) {
        const int y = bottom - bh + 1 + r;
        const QRgb px = settings_.gradient_mode ? g.next() : solid;
        QRgb* line = row(y);
        const bool blend = bottom - y < overlap;
        for (int x = xa; x < xb; ++x) line[x] = blend ? blend_half(line[x], px) : px;
      }
    }
  }
}

void TrafficGraph::draw_polyline(QPainter& p, const std::vector<std::uint32_t>& h, ColorRef c, int top, int height) {
  const int w = frame_.width();
  const int n = std::min<int>(tr::visible_bar_count(w), static_cast<int>(h.size()));
  if (n < 2) return;
  const int bottom = top + height - 1;
  QPolygon points(n);
  for (int i = 0; i < n; ++i) {
    const int bh = tr::bar_height(h[static_cast<std::size_t>(i)], scale_, height);
    points.setPoint(i, tr::bar_left(i, 0, w, settings_.reverse) + 1, bh > 0 ? bottom - bh + 1 : bottom);
  }
  p.setPen(QPen(to_qcolor(c), 0));
  p.drawPolyline(points);
}

void TrafficGraph::draw_hline(int y, ColorRef c, int top, int height) {
  const int w = frame_.width();
  std::fill_n(reinterpret_cast<QRgb*>(frame_.scanLine(y)), w, to_rgb(c));
  if (y + 1 < top + height)
    std::fill_n(reinterpret_cast<QRgb*>(frame_.scanLine(y + 1)), w,
                to_rgb(tr::companion_color(c, settings_.color(tr::kColorBackgroundGraph))));
}

const QStaticText& TrafficGraph::text(FontId font, const QString& s) {
  auto& cache = texts_[font];
  auto it = cache.find(s);
  if (it != cache.end()) return *it;
  // Lines of the latest-speed readout never come back; a full cache starts over.
  if (cache.size() >= 2048) cache.clear();
  QStaticText st(s);
  st.setTextFormat(Qt::PlainText);
  st.prepare(QTransform(), fonts_[font]);
  return *cache.insert(s, st);
}

void TrafficGraph::draw_text(QPainter& p, FontId font, int x, int top, const QString& s, ColorRef c) {
  const QStaticText& st = text(font, s);
  p.setFont(fonts_[font]);
  p.setPen(to_qcolor(c));
  p.drawStaticText(x, top, st);
}

LabelGlyphCache& TrafficGraph::glyph_cache(FontId font) {
  // Made when first needed: its check of the face draws a sample line.
  auto& g = glyphs_[font];
  if (!g) g = std::make_unique<LabelGlyphCache>(fonts_[font]);
  return *g;
}

int TrafficGraph::text_width(FontId font, const QString& s) {
  LabelGlyphCache& glyphs = glyph_cache(font);
  return glyphs.accepts(s) ? glyphs.line_width(s) : text(font, s).size().toSize().width();
}

const QImage& TrafficGraph::text_image(FontId font, const QString& s, ColorRef c, bool halo, int frac64,
                                       int width) {
  // The key is face, style, colour, placement and text, built in a kept
  // buffer: a look-up that finds its image allocates nothing.
  QString& key = text_key_;
  key.clear();
  key.append(QChar(static_cast<char16_t>(font * 2 + (halo ? 1 : 0))));
  key.append(QChar(static_cast<char16_t>(c & 0xFFFF)));
  key.append(QChar(static_cast<char16_t>(c >> 16)));
  key.append(QChar(static_cast<char16_t>(frac64)));
  key.append(QChar(static_cast<char16_t>(width)));  // -1 (a whole line) becomes 0xFFFF
  key.append(s);
  auto it = text_images_.find(key);
  if (it != text_images_.end()) return *it;
  // Readouts that change every frame would fill the cache: it starts over
  // past a couple of megabytes.
  if (text_image_bytes_ > (2 << 20)) {
    text_images_.clear();
    text_image_bytes_ = 0;
  }
  const QRgb effect = to_rgb(halo ? tr::halo_color(c, settings_.color(tr::kColorBackgroundGraph))
                                  : settings_.color(tr::kColorBackgroundText));
  const LabelStyle style = halo ? LabelStyle::Halo : LabelStyle::Shadow;
  LabelGlyphCache& glyphs = glyph_cache(font);
  const QImage img = !glyphs.accepts(s) ? render_label(fonts_[font], text(font, s), to_rgb(c), effect, style)
                     : width < 0        ? glyphs.render(s, to_rgb(c), effect, style)
                                        : glyphs.render(s, to_rgb(c), effect, style, frac64, width);
  text_image_bytes_ += img.sizeInBytes();
  return *text_images_.insert(key, img);
}

void TrafficGraph::draw_label(QPainter& p, FontId font, int x, int top, const QString& s, ColorRef c, bool halo) {
  LabelGlyphCache& glyphs = glyph_cache(font);
  // Panel and readout lines are a fixed caption and a changing figure, set
  // apart by runs of spaces. Cut there, the caption's image is found in the
  // cache and only the figure is drawn anew. Each part keeps its sub-pixel
  // position, and the parts' halos and shadows reach at most four pixels
  // beyond their text, so parts two spaces apart never touch: the frame gets
  // the same pixels as from one image of the line.
  if (!glyphs.accepts(s) || glyphs.space_width() < 5) {
    p.drawImage(x - 1, top - 1, text_image(font, s, c, halo, 0, -1));
    return;
  }
  const qsizetype n = s.size();
  const auto gap_at = [&](qsizetype i) { return s[i] == u' ' && i + 1 < n && s[i + 1] == u' '; };
  const int line_right = glyphs.line_width(s) + 5;  // where the line's image ends
  qsizetype i = 0;
  while (i < n) {
    while (i < n && s[i] == u' ') ++i;
    if (i >= n) break;
    qsizetype end = i;
    while (end < n && !gap_at(end)) ++end;
    qsizetype rest = end;
    while (rest < n && s[rest] == u' ') ++rest;
    const qint64 start = glyphs.pen64(s, i);
    const int left = static_cast<int>(start >> 6), frac = static_cast<int>(start & 63);
    // The last part ends where the line's image would, which may clip its
    // halo; the others get room to spare inside their gap.
    const int width = rest == n ? line_right - left
                                : static_cast<int>((glyphs.pen64(s, end) - (start & ~qint64{63}) + 63) >> 6) + 5 +
                                      glyphs.space_width();
    part_.setRawData(s.constData() + i, end - i);
    p.drawImage(x + left - 1, top - 1, text_image(font, part_, c, halo, frac, width));
    i = end;
  }
  part_.clear();
}

void TrafficGraph::draw_halo_text(QPainter& p, FontId font, int x, int top, const QString& s, ColorRef c) {
  draw_label(p, font, x, top, s, c, true);
}

void TrafficGraph::draw_shadow_text(QPainter& p, FontId font, int x, int top, const QString& s, ColorRef c) {
  draw_label(p, font, x, top, s, c, false);
}

int TrafficGraph::advance_width(FontId font, const QString& s) {
  LabelGlyphCache& glyphs = glyph_cache(font);
  return glyphs.accepts(s) ? glyphs.line_width(s) : QFontMetrics(fonts_[font]).horizontalAdvance(s);
}

// "<label> <integer>.<fraction> <unit>", the integer right-aligned in four
// digits at `integer_end` so that the fractions of consecutive frames stay in
// place.
void TrafficGraph::draw_speed_label(QPainter& p, int x, int top, int integer_end, const char* label,
                                    std::int64_t speed, int unit) {
  const tw::SpeedParts parts = tw::auto_speed_parts(speed, unit);
  const QString integer = QString::number(parts.integer);
  char tail[32];
  std::snprintf(tail, sizeof tail, ".%03ld %s", static_cast<long>(std::abs(parts.fraction)), tw::unit_name(parts.unit));
  const ColorRef c = settings_.color(tr::kColorText);
  draw_halo_text(p, kLarge, x, top, qs(label) + QLatin1Char(' '), c);
  draw_halo_text(p, kLarge, integer_end - advance_width(kLarge, integer), top, integer, c);
  draw_halo_text(p, kLarge, integer_end, top, qs(tail), c);
}

void TrafficGraph::draw_labels(QPainter& p) {
  const int f = settings_.font_size;
  if (f <= 0) return;
  const tr::GraphLabels& l = tr::graph_labels(lang_, settings_.english_labels);
  // Two rows in the band above the graph: the maxima, then the smoothed
  // speeds. Their places depend only on the face and the labels.
  if (label_grid_generation_ != generation_) {
    label_grid_ = speed_label_grid(
        fonts_[kLarge], f, 8, {{{qs(l.send_max), qs(l.recv_max)}, {qs(l.send_ave), qs(l.recv_ave)}}},
        [this](const QString& s) { return advance_width(kLarge, s); },
        QLatin1String(tw::kAutoSpeedIntegerTemplate), QStringLiteral("0000.000 0000 0000"));
    label_grid_generation_ = generation_;
  }
  const SpeedLabelGrid& g = label_grid_;
  if (settings_.max_line_mode) {
    draw_speed_label(p, g.column_x[0], g.row_top[0], g.integer_end[0], l.send_max, maxima_.send, settings_.max_unit);
    draw_speed_label(p, g.column_x[1], g.row_top[0], g.integer_end[1], l.recv_max, maxima_.recv, settings_.max_unit);
  }
  draw_speed_label(p, g.column_x[0], g.row_top[1], g.integer_end[0], l.send_ave, figures_.smoothed_send,
                   settings_.ave_unit);
  draw_speed_label(p, g.column_x[1], g.row_top[1], g.integer_end[1], l.recv_ave, figures_.smoothed_recv,
                   settings_.ave_unit);
}

void TrafficGraph::draw_speed_strip(QPainter& p, int top) {
  const tr::GraphLabels& l = tr::graph_labels(lang_, settings_.english_labels);
  const QFontMetrics fm(fonts_[kSmall]);
  const int text_top = top + (tr::kSpeedStripHeight - fm.height()) / 2;
  const std::string speeds = tw::overlay_speeds_text(l.send_speed, figures_.latest_send, l.recv_speed,
                                                     figures_.latest_recv, settings_.ave_unit);
  draw_halo_text(p, kSmall, 8, text_top, qs(speeds), settings_.color(tr::kColorText));

  const std::uint32_t now = clock_->tick_ms();
  if (tr::inactive(now, figures_.last_activity_ms)) {
    const QString idle = qs(tw::idle_time_text(l.inactivity, now - figures_.last_activity_ms));
    draw_halo_text(p, kSmall, frame_.width() - 11 - fm.horizontalAdvance(idle), text_top, idle,
                   settings_.color(tr::kColorOtherText));
  }
}

void TrafficGraph::draw_notices(QPainter& p, int top, int height) {
  const int w = frame_.width();
  const ColorRef c = settings_.color(tr::kColorOtherText);
  if (const std::string* n = notice_.current(clock_->tick_ms())) {
    const QString s = qs(*n);
    draw_halo_text(p, kFont20, (w - QFontMetrics(fonts_[kFont20]).horizontalAdvance(s)) / 2, top + 8, s, c);
  }
  if (figures_.state == tr::InterfaceState::Changed) {
    const tr::GraphLabels& l = tr::graph_labels(lang_, settings_.english_labels);
    const std::uint32_t left = countdown_ ? *countdown_ : monitor_.auto_reset_seconds();
    const QString s = qs(tr::reset_warning_text(l, monitor_.auto_reset_enabled(), left));
    // The largest of the fixed faces that fits the width.
    FontId font = kFont12;
    for (FontId f : {kFont40, kFont20})
      if (QFontMetrics(fonts_[f]).horizontalAdvance(s) + 16 <= w) {
        font = f;
        break;
      }
    const QFontMetrics fm(fonts_[font]);
    draw_halo_text(p, font, std::max(8, (w - fm.horizontalAdvance(s)) / 2), top + (height - fm.height()) / 2, s, c);
  }
}

void TrafficGraph::draw_panel_chrome(int left_width, bool changed) {
  const int w = frame_.width();
  const int ph = std::min(panel_height_, frame_.height());
  const ColorRef bg = settings_.color(tr::kColorBackground);
  const std::array<int, 5> key = {w, ph, left_width, changed ? 1 : 0, static_cast<int>(bg)};
  if (key == panel_chrome_key_ && !panel_chrome_.isNull()) return;
  panel_chrome_key_ = key;
  panel_chrome_ = QImage(w, ph, QImage::Format_RGB32);
  panel_chrome_.fill(to_rgb(bg));
  QPainter p(&panel_chrome_);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(to_qcolor(changed ? kChangedFrame : tr::brighten(bg, 64)), changed ? 2 : 1));
  p.setBrush(to_qcolor(tr::brighten(bg, 20)));
  p.drawRoundedRect(QRectF(3.5, 2.5, w - 7, ph - 5), 7, 7);
  if (left_width > 0) {
    // Two inner boxes: the interface on the left, the transfer figures on the right.
    const int box_bottom = ph - 8;
    p.setPen(QPen(to_qcolor(tr::brighten(bg, 44)), 1));
    p.setBrush(to_qcolor(tr::brighten(bg, 8)));
    p.drawRoundedRect(QRectF(10.5, 8.5, left_width, box_bottom - 8), 5, 5);
    p.drawRoundedRect(QRectF(16.5 + left_width, 8.5, w - 28 - left_width, box_bottom - 8), 5, 5);
  }
}

bool TrafficGraph::panel_visible() const {
  return std::min(panel_height_, frame_.height()) >= 8 && frame_.width() >= 16;
}

void TrafficGraph::draw_panel(QPainter& p) {
  const int w = frame_.width();
  const int h = frame_.height();
  const int ph = std::min(panel_height_, h);
  if (!panel_visible()) {
    panel_valid_ = false;
    return;
  }
  const int y0 = h - ph;
  const bool changed = figures_.state == tr::InterfaceState::Changed;
  const Language label_lang = tr::label_language(lang_, settings_.english_labels);
  const QFontMetrics fm(fonts_[kFont12]);
  const int line_h = fm.height();
  const ColorRef fore = settings_.color(tr::kColorText);
  panel_next_.clear();
  const auto add_lines = [&](const QRect& clip, int x, int y, const std::vector<std::string>& lines, int bottom) {
    for (const std::string& s : lines) {
      if (y + line_h > bottom) break;
      panel_next_.push_back({clip, x, y, s});
      y += line_h;
    }
  };

  const tr::InterfaceSnapshot& snap = snapshot_;
  const std::vector<std::string>& transfer = transfer_lines_;
  if (ph < 3 * line_h + 16) {
    // Closed: one line with the interface and the capture time.
    draw_panel_chrome(0, changed);
    add_lines(QRect(4, y0 + 3, w - 8, ph - 6), 12, y0 + (ph - line_h) / 2, {snap.description + "   " + transfer.front()},
              h);
  } else {
    tr::PanelInterfaceStats stats;
    stats.speed_bps = snap.link_speed_bps;
    stats.oper_status = snap.oper_status;
    stats.ucast_sent = snap.out_ucast_pkts;
    stats.nucast_sent = snap.out_nucast_pkts;
    stats.ucast_received = snap.in_ucast_pkts;
    stats.nucast_received = snap.in_nucast_pkts;
    std::vector<std::string> left = tr::interface_statistics_lines(stats, label_lang);
    left.insert(left.begin(), snap.description);

    int left_w = 0;
    for (const std::string& s : left) left_w = std::max(left_w, text_width(kFont12, qs(s)));
    left_w = std::min(left_w + 14, (w - 24) / 2);
    draw_panel_chrome(left_w, changed);
    const int box_top = y0 + 8, box_bottom = h - 8;
    add_lines(QRect(12, y0 + 3, left_w - 3, ph - 6), 17, box_top + 5, left, box_bottom - 2);
    add_lines(QRect(18 + left_w, y0 + 3, w - 32 - left_w, ph - 6), 23 + left_w, box_top + 5, transfer, box_bottom - 2);
  }

  // The rows of a line's image (text, shadow, a pixel to spare either side).
  const auto rows = [&](const PanelLine& l) { return QRect(l.clip.left(), l.y - 2, l.clip.width(), line_h + 4); };
  const auto draw_line = [&](const PanelLine& l, const QRect& clip) {
    p.setClipRect(clip);
    draw_shadow_text(p, kFont12, l.x, l.y, qs(l.text), fore);
  };
  bool same_layout = panel_valid_ && panel_drawn_key_ == panel_chrome_key_ && panel_drawn_y0_ == y0 &&
                     panel_drawn_generation_ == generation_ && panel_drawn_.size() == panel_next_.size();
  for (std::size_t i = 0; same_layout && i < panel_next_.size(); ++i)
    same_layout = panel_drawn_[i].clip == panel_next_[i].clip && panel_drawn_[i].x == panel_next_[i].x &&
                  panel_drawn_[i].y == panel_next_[i].y;
  p.save();
  if (!same_layout) {
    p.drawImage(0, y0, panel_chrome_);
    for (const PanelLine& l : panel_next_) draw_line(l, l.clip);
    dirty_ += QRect(0, y0, w, ph);
  } else {
    // The frame still holds last frame's panel: only the rows of lines whose
    // text changed get their chrome back, and every line reaching into those
    // rows is drawn again there, in order, so they come out as a full redraw
    // would make them. The copy of the whole panel is the dearest part of an
    // unchanged panel.
    for (std::size_t i = 0; i < panel_next_.size(); ++i) {
      if (panel_drawn_[i].text == panel_next_[i].text) continue;
      const QRect r = rows(panel_next_[i]) & panel_next_[i].clip;
      if (r.isEmpty()) continue;
      for (int y = r.top(); y <= r.bottom(); ++y)
        std::memcpy(frame_.scanLine(y) + r.left() * 4, panel_chrome_.constScanLine(y - y0) + r.left() * 4,
                    static_cast<std::size_t>(r.width()) * 4);
      dirty_ += r;
      for (const PanelLine& l : panel_next_) {
        const QRect c = r & l.clip & rows(l);
        if (!c.isEmpty()) draw_line(l, c);
      }
    }
  }
  p.restore();
  std::swap(panel_drawn_, panel_next_);
  panel_valid_ = true;
  panel_drawn_key_ = panel_chrome_key_;
  panel_drawn_y0_ = y0;
  panel_drawn_generation_ = generation_;
}

void TrafficGraph::draw_reports(QPainter& p) {
  const int h = frame_.height();
  const int col_h = h - 2 * tr::kReportMargin;
  if (col_h <= 0) return;
  const QFontMetrics fm(fonts_[kFont12]);
  const ColorRef shadow = settings_.color(tr::kColorBackgroundText);
  const QRgb backdrop = to_rgb(settings_.color(tr::kColorBackground));
  p.save();
  for (const tr::ReportColumn& col : tr::report_columns(flags_, lang_)) {
    const QRect r = QRect(col.x, tr::kReportMargin, col.width, col_h).intersected(frame_.rect());
    if (r.isEmpty()) continue;
    // The blending routine lays the column over a backdrop of the frame mixed
    // half and half with the background colour, so the lines stay readable
    // over bright bars; the plain routine writes them straight on the frame.
    if (settings_.report_mode)
      for (int y = r.top(); y <= r.bottom(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(frame_.scanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) line[x] = blend_half(line[x], backdrop);
      }
    p.setClipRect(r);
    const ColorRef c = settings_.color(tr::kColorReportFirst + col.list);
    int y = r.top() + 2;
    for (const std::string& line : monitor_.report_list(col.list)) {
      if (y > r.bottom()) break;
      const QString t = qs(line);
      draw_text(p, kFont12, r.left() + 5, y + 1, t, shadow);
      draw_text(p, kFont12, r.left() + 4, y, t, c);
      y += fm.height();
    }
  }
  p.restore();
}

}  // namespace tw::ui
