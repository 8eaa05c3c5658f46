#include "ui/traffic/traffic_graph.h"

#include <QClipboard>
#include <QContextMenuEvent>
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
#include <memory>

#include "platform/clock.h"
#include "platform/linux/system_clock.h"
#include "settings/profile.h"
#include "base/format.h"
#include "ui/colorref.h"

namespace tw::ui {
namespace {

using traffic::ColorRef;
namespace tr = traffic;

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

platform::Clock& system_clock() {
  static platform::SystemClock clock;
  return clock;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and settings

TrafficGraph::TrafficGraph(traffic::TrafficMonitor& monitor, settings::Profile& profile, Language lang,
                           QWidget* parent)
    : QWidget(parent),
      monitor_(monitor),
      profile_(profile),
      lang_(lang),
      clock_(&system_clock()),
      menu_(*this, profile, lang,
            {[this] { reset_graph(); }, [this] { reset_gross(); }, [this] { copy_transfer_information(); },
             [this] { emit snapshotRequested(); }, [this](std::uint8_t bits) { toggle_display_flags(bits); },
             [this](std::optional<tr::GraphFlag> flipped) { setting_written(flipped); }}) {
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
  std::vector<QFont> fonts(kFontCount);
  fonts[kLarge] = make_font(settings_.font_name, settings_.font_size, settings_.large_font_emphasis);
  fonts[kSmall] = make_font(settings_.font_name2, settings_.font_size2, false);
  fonts[kFont12] = make_font(fixed_face, 12, false);
  fonts[kFont14] = make_font(fixed_face, 14, false);
  fonts[kFont20] = make_font(fixed_face, 20, false);
  fonts[kFont40] = make_font(fixed_face, 40, false);
  labels_.set_fonts(std::move(fonts));
  ++generation_;
  if (timer_.isActive() && timer_.interval() != settings_.redraw_period_ms()) restart_timer();
  menu_.update(settings_, flags_);
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
    frame_.fill(rgb_from_colorref(settings_.color(tr::kColorBackground)));
  }
  // The panel slides open again in the new size.
  panel_height_ = tr::kPanelClosedHeight;
  panel_.invalidate();
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
  menu_.update(settings_, flags_);
}

void TrafficGraph::toggle_display_flags(std::uint8_t bits) { set_display_flags(static_cast<std::uint8_t>(flags_ ^ bits)); }

void TrafficGraph::setting_written(std::optional<traffic::GraphFlag> flipped) {
  reload_settings();
  if (flipped == tr::GraphFlag::DoubleSampling) {
    monitor_.set_double_sampling(settings_.double_sampling);
    const tr::GraphLabels& l = tr::graph_labels(lang_, settings_.english_labels);
    show_notice(settings_.double_sampling ? l.double_sampling_on : l.double_sampling_off);
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
  menu_.update(settings_, flags_);
  return menu_.create(parent);
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
    menu_.write_font_size(size);
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
      menu_.toggle(tr::GraphFlag::DoubleSampling);
      break;
    case tr::MiddleButtonAction::ToggleLargeFontStyle:
      menu_.toggle(tr::GraphFlag::LargeFontEmphasis);
      break;
    case tr::MiddleButtonAction::ToggleLanguageSelect:
      menu_.toggle(tr::GraphFlag::EnglishLabels);
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
  // Timed on the graph's clock (monotonic milliseconds, as the idle time):
  // on a fake clock a frame takes no time, so no tick is skipped however
  // busy the machine is.
  const std::uint32_t started = clock_->tick_ms();
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
  budget_.drew(static_cast<int>(std::min<std::uint32_t>(clock_->tick_ms() - started, tr::kMaxFrameSkipMs)), period);
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
    p.fillRect(rect(), from_colorref(settings_.color(tr::kColorBackground)));
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
  const QRgb back = rgb_from_colorref(settings_.color(tr::kColorBackground));
  const QRgb field = rgb_from_colorref(settings_.color(tr::kColorBackgroundGraph));
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
    panel_.invalidate();  // the columns lie over the panel
    dirty_ = QRegion(frame_.rect());
  }
}

void TrafficGraph::draw_grid(int top, int height) {
  const int w = frame_.width();
  const int bottom = top + height - 1;
  const QRgb grid = rgb_from_colorref(settings_.color(tr::kColorGrid));
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
    const QRgb solid = rgb_from_colorref(c);
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
  p.setPen(QPen(from_colorref(c), 0));
  p.drawPolyline(points);
}

void TrafficGraph::draw_hline(int y, ColorRef c, int top, int height) {
  const int w = frame_.width();
  std::fill_n(reinterpret_cast<QRgb*>(frame_.scanLine(y)), w, rgb_from_colorref(c));
  if (y + 1 < top + height)
    std::fill_n(reinterpret_cast<QRgb*>(frame_.scanLine(y + 1)), w,
                rgb_from_colorref(tr::companion_color(c, settings_.color(tr::kColorBackgroundGraph))));
}

void TrafficGraph::draw_halo_text(QPainter& p, FontId font, int x, int top, const QString& s, ColorRef c) {
  labels_.draw_label(p, font, x, top, s, rgb_from_colorref(c), rgb_from_colorref(tr::halo_color(c, settings_.color(tr::kColorBackgroundGraph))),
                     LabelStyle::Halo);
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
  draw_halo_text(p, kLarge, integer_end - labels_.advance_width(kLarge, integer), top, integer, c);
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
        labels_.font(kLarge), f, 8, {{{qs(l.send_max), qs(l.recv_max)}, {qs(l.send_ave), qs(l.recv_ave)}}},
        [this](const QString& s) { return labels_.advance_width(kLarge, s); },
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
  const QFontMetrics fm(labels_.font(kSmall));
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
    draw_halo_text(p, kFont20, (w - QFontMetrics(labels_.font(kFont20)).horizontalAdvance(s)) / 2, top + 8, s, c);
  }
  if (figures_.state == tr::InterfaceState::Changed) {
    const tr::GraphLabels& l = tr::graph_labels(lang_, settings_.english_labels);
    const std::uint32_t left = countdown_ ? *countdown_ : monitor_.auto_reset_seconds();
    const QString s = qs(tr::reset_warning_text(l, monitor_.auto_reset_enabled(), left));
    // The largest of the fixed faces that fits the width.
    FontId font = kFont12;
    for (FontId f : {kFont40, kFont20})
      if (QFontMetrics(labels_.font(f)).horizontalAdvance(s) + 16 <= w) {
        font = f;
        break;
      }
    const QFontMetrics fm(labels_.font(font));
    draw_halo_text(p, font, std::max(8, (w - fm.horizontalAdvance(s)) / 2), top + (height - fm.height()) / 2, s, c);
  }
}

bool TrafficGraph::panel_visible() const { return DetailPanel::visible(frame_.size(), panel_height_); }

void TrafficGraph::draw_panel(QPainter& p) {
  DetailPanel::Content c;
  c.height = panel_height_;
  c.interface_changed = figures_.state == tr::InterfaceState::Changed;
  c.label_lang = tr::label_language(lang_, settings_.english_labels);
  c.background = settings_.color(tr::kColorBackground);
  c.text = settings_.color(tr::kColorText);
  c.shadow = settings_.color(tr::kColorBackgroundText);
  c.snapshot = &snapshot_;
  c.transfer_lines = &transfer_lines_;
  c.generation = generation_;
  panel_.draw(frame_, p, labels_, kFont12, c, dirty_);
}

void TrafficGraph::draw_reports(QPainter& p) {
  const int h = frame_.height();
  const int col_h = h - 2 * tr::kReportMargin;
  if (col_h <= 0) return;
  const QFontMetrics fm(labels_.font(kFont12));
  const QRgb shadow = rgb_from_colorref(settings_.color(tr::kColorBackgroundText));
  const QRgb backdrop = rgb_from_colorref(settings_.color(tr::kColorBackground));
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
    const QRgb c = rgb_from_colorref(settings_.color(tr::kColorReportFirst + col.list));
    int y = r.top() + 2;
    for (const std::string& line : monitor_.report_list(col.list)) {
      if (y > r.bottom()) break;
      const QString t = qs(line);
      labels_.draw_text(p, kFont12, r.left() + 5, y + 1, t, shadow);
      labels_.draw_text(p, kFont12, r.left() + 4, y, t, c);
      y += fm.height();
    }
  }
  p.restore();
}

}  // namespace tw::ui
