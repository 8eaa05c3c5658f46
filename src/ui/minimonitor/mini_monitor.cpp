#include "ui/minimonitor/mini_monitor.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QMenu>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "shell/edge_snap.h"
#include "shell/main_window_logic.h"
#include "shell/shell_settings.h"
#include "ui/common/qt_text.h"
#include "ui/minimonitor/mini_colors.h"
#include "ui/pixel_rect_qt.h"

namespace tw::ui {
namespace {

constexpr int kMarginX = 4;  // pixels left and right of the text
constexpr int kMarginY = 2;  // pixels above and below it

struct MenuTexts {
  const char* top_most;
  const char* opacity;
  const char* frame;
  const char* reset;
  const char* options;
  const char* close;
  const char* exit;
  const char* title;
};
constexpr MenuTexts kMenuEn{"Always on topmost(&W)", "Opacity(&I)",       "Resize frame(&F)",
                            "Reset Graph(&R)",       "Options(&O)...",    "Close Mini Monitor(&Z)",
                            "Exit(&X)",              "Mini Monitor"};
constexpr MenuTexts kMenuJa{"常に手前に表示(&W)",     "不透明度(&I)",            "ウィンドウ枠(&F)",
                            "グラフをリセット(&R)",   "オプション設定(&O)...",   "ミニモニターを閉じる(&Z)",
                            "終了(&X)",               "ミニモニター"};

}  // namespace

MiniMonitor::MiniMonitor(traffic::TrafficMonitor& monitor, settings::Profile& profile, Language lang,
                         QWidget* parent, bool places_windows)
    : QWidget(parent, Qt::Tool), monitor_(monitor), profile_(profile), lang_(lang), places_windows_(places_windows) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted
  setMinimumSize(8, 8);
  setWindowTitle(QString::fromUtf8(pick(lang_, kMenuEn, kMenuJa).title));
  clock_.start();
  settings_ = traffic::load_mini_monitor_settings(profile_);
  alert_.configure(settings_.message_level, settings_.ave_unit);
  build_fonts();
  natural_ = natural_size();
  apply_window_style();
  place_from_settings();
  refresh();
}

MiniMonitor::~MiniMonitor() { save_placement(); }

// ---- settings and window style --------------------------------------------------

void MiniMonitor::build_fonts() {
  // Requested by name; the monospace hint makes a machine without the face
  // fall back to its monospace font, which keeps the figures in columns.
  small_font_ = QFont(qs(settings_.font_name));
  small_font_.setStyleHint(QFont::Monospace);
  small_font_.setPixelSize(settings_.font_size);
  small_font_.setWeight(settings_.bold ? QFont::Bold : QFont::Normal);
  large_font_ = small_font_;
  large_font_.setPixelSize(settings_.font_size * 2);
  text_.set_fonts(small_font_, large_font_, text_.dpr());
}

void MiniMonitor::apply_window_style() {
  constexpr Qt::WindowFlags kStyleBits = Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
  Qt::WindowFlags wanted;
  if (settings_.no_frame) wanted |= Qt::FramelessWindowHint;
  // Without placement (Wayland) the hint does nothing but make the window anew.
  if (settings_.window_top_most && places_windows_) wanted |= Qt::WindowStaysOnTopHint;
  if ((windowFlags() & kStyleBits) != wanted) {
    // Changing the flags re-creates the native window and hides it.
    const bool was_visible = isVisible();
    const QPoint at = pos();
    const QSize sz = size();
    setWindowFlags(Qt::Tool | wanted);
    move(at);
    resize(sz);
    if (was_visible) show();
  }
  // A constant opacity for the whole window; needs a compositing window manager.
  setWindowOpacity(settings_.alpha_blend ? settings_.alpha_level / 255.0 : 1.0);
}

void MiniMonitor::place_from_settings() {
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (!primary) {
    resize(natural_);
    return;
  }
  std::array<int, 10> list{};
  if (!profile_.read_placement(traffic::kMiniMonitorPosKey, list)) {
    resize(natural_);
    center_on_screen();
    return;
  }
  std::vector<traffic::WindowRect> screens;
  for (const QScreen* s : QGuiApplication::screens()) screens.push_back(to_pixel_rect(s->geometry()));
  const traffic::WindowRect r = traffic::mini_monitor_open_rect(
      traffic::placement_rect(list), natural_.width(), natural_.height(), to_pixel_rect(primary->geometry()), screens);
  resize(std::max(r.width(), minimumWidth()), std::max(r.height(), minimumHeight()));
  move(r.left, r.top);
}

void MiniMonitor::reload_settings() {
  settings_ = traffic::load_mini_monitor_settings(profile_);
  alert_.configure(settings_.message_level, settings_.ave_unit);
  build_fonts();
  const QSize natural = natural_size();
  if (natural != natural_) {
    natural_ = natural;
    resize(natural_);
  }
  apply_window_style();
  refresh();
  update();
}

void MiniMonitor::center_on_screen() {
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (!primary || !places_windows_) return;
  const QSize frame = frameGeometry().size();
  move(primary->geometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
}

void MiniMonitor::save_placement() {
  // Where the platform cannot tell the position, the stored one is kept.
  if (!places_windows_) return;
  const QPoint at = pos();
  profile_.write_placement(traffic::kMiniMonitorPosKey,
                           traffic::placement_list({at.x(), at.y(), at.x() + width(), at.y() + height()}));
}

QSize MiniMonitor::natural_size() const {
  const auto lines =
      traffic::mini_monitor_lines(traffic::mini_template_figures(), settings_.style, settings_.ave_unit);
  int w = 0, h = 0;
  for (const traffic::MiniLine& line : lines) {
    const QFontMetrics fm(line.large ? large_font_ : small_font_);
    int lw = 0;
    for (const traffic::MiniSegment& seg : line.segments) lw += fm.horizontalAdvance(qs(seg.text));
    w = std::max(w, lw + 1);  // + the shadow
    h += fm.height();
  }
  if (lines.empty()) {  // "Hide": the graph alone
    const QFontMetrics fm(small_font_);
    w = fm.horizontalAdvance(QString(16, QLatin1Char('0')));
    h = 2 * fm.height();
  }
  return QSize(w + 2 * kMarginX, h + 2 * kMarginY);
}

// ---- figures ----------------------------------------------------------------------

std::uint32_t MiniMonitor::now_ms() const { return static_cast<std::uint32_t>(clock_.elapsed()); }

namespace {

bool same_lines(const std::vector<traffic::MiniLine>& a, const std::vector<traffic::MiniLine>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const traffic::MiniLine& x, const traffic::MiniLine& y) {
    return x.kind == y.kind && x.large == y.large &&
           std::equal(x.segments.begin(), x.segments.end(), y.segments.begin(), y.segments.end(),
                      [](const traffic::MiniSegment& s, const traffic::MiniSegment& t) {
                        return s.color == t.color && s.text == t.text;
                      });
  });
}

}  // namespace

void MiniMonitor::refresh() {
  figures_ = monitor_.figures();
  if (settings_.traffic_graph) {
    monitor_.copy_speed_histories(next_send_, next_recv_, static_cast<std::size_t>(std::max(width(), 1)));
  } else {
    next_send_.clear();
    next_recv_.clear();
  }
  if (settings_.message_mode) alert_.update(figures_.smoothed_send, figures_.smoothed_recv, now_ms());
  std::vector<traffic::MiniLine> lines = traffic::mini_monitor_lines(figures_, settings_.style, settings_.ave_unit);
  // Painted again only when what it shows changed: an idle link changes the
  // picture once a second (the capture time), a blinking alert twice.
  const int blink = settings_.message_mode && (alert_.send_active() || alert_.recv_active())
                        ? static_cast<int>((now_ms() / 500) % 2)
                        : -1;
  const bool changed = blink != blink_ || next_send_ != send_history_ || next_recv_ != recv_history_ ||
                       !same_lines(lines, lines_);
  send_history_.swap(next_send_);
  recv_history_.swap(next_recv_);
  lines_ = std::move(lines);
  blink_ = blink;
  if (changed && isVisible()) update();
}

// ---- drawing ----------------------------------------------------------------------

void MiniMonitor::draw_frame(qreal dpr) {
  // The character images are made for one ratio: a window moved to a screen
  // of another scale starts them over.
  if (dpr != text_.dpr()) text_.set_fonts(small_font_, large_font_, dpr);
  const QRect area = rect();
  const QSize device(static_cast<int>(std::ceil(area.width() * dpr)), static_cast<int>(std::ceil(area.height() * dpr)));
  if (frame_.size() != device) {
    frame_ = QImage(device, QImage::Format_RGB32);
    // At a fractional ratio the last device column or row may lie half
    // outside the logical area, which the painter leaves alone.
    frame_.fill(Qt::black);
  }
  frame_.setDevicePixelRatio(dpr);
  QPainter p(&frame_);
  const auto color = [this](int slot) {
    return from_colorref(static_cast<std::uint32_t>(settings_.colors[static_cast<std::size_t>(slot)]));
  };
  const QColor bg = color(traffic::kMiniBackground);
  if (settings_.gradient_mode) {
    QLinearGradient g(0, area.top(), 0, area.bottom());
    g.setColorAt(0.0, mini::shade(bg, 48));
    g.setColorAt(1.0, mini::shade(bg, -48));
    p.fillRect(area, g);
  } else {
    p.fillRect(area, bg);
  }

  if (settings_.traffic_graph) {
    // One pixel per sample, newest at the right ("Direction" 1: at the left);
    // the receive bars are drawn over the send bars, as in the traffic graph.
    const int w = area.width(), h = area.height();
    const std::uint32_t scale =
        traffic::mini_graph_scale(send_history_, recv_history_, static_cast<std::size_t>(w), h);
    // The columns of one colour as a few rectangles, in one call: the columns
    // are opaque rectangles of one brush, and the painter fills a rectangle row
    // by row, so a column of its own costs a call per row it covers. The
    // skyline is cut into rectangles with a stack of rising steps (each step:
    // its first column and its height); a step ends where a lower column comes.
    auto bars = [&](const std::vector<std::uint32_t>& history, const QColor& c) {
      const std::size_t n = std::min(history.size(), static_cast<std::size_t>(w));
      bar_heights_.assign(static_cast<std::size_t>(w) + 1, 0);  // and a column of 0 past the end
      for (std::size_t i = 0; i < n; ++i) {
        const int bh = static_cast<int>(std::min<std::uint32_t>(history[i] / scale, static_cast<std::uint32_t>(h)));
        const int x = settings_.reverse_direction ? static_cast<int>(i) : w - 1 - static_cast<int>(i);
        bar_heights_[static_cast<std::size_t>(x)] = bh;
      }
      bar_rects_.clear();
      bar_steps_.clear();
      const int bottom = area.top() + h;
      for (int x = 0; x <= w; ++x) {
        const int hx = bar_heights_[static_cast<std::size_t>(x)];
        int start = x;
        while (!bar_steps_.empty() && bar_steps_.back().second > hx) {
          const auto [first, height] = bar_steps_.back();
          bar_steps_.pop_back();
          const int lower = std::max(hx, bar_steps_.empty() ? 0 : bar_steps_.back().second);
          bar_rects_.push_back(QRect(area.left() + first, bottom - height, x - first, height - lower));
          start = first;
        }
        if (hx > 0 && (bar_steps_.empty() || bar_steps_.back().second < hx)) bar_steps_.emplace_back(start, hx);
      }
      if (bar_rects_.isEmpty()) return;
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      p.drawRects(bar_rects_.constData(), static_cast<int>(bar_rects_.size()));
    };
    // A quarter of the figure colour over the background keeps the figures readable.
    bars(send_history_, mini::mean(mini::mean(color(traffic::kMiniSendSpeed), bg), bg));
    bars(recv_history_, mini::mean(mini::mean(color(traffic::kMiniRecvSpeed), bg), bg));
  }
  p.end();

  std::array<QRgb, traffic::kMiniColorCount> by_slot{};
  for (std::size_t i = 0; i < by_slot.size(); ++i) by_slot[i] = color(static_cast<int>(i)).rgb();
  std::uint32_t alerts = 0;
  if (settings_.message_mode && (now_ms() / 500) % 2 == 0) {
    for (std::size_t i = 0; i < lines_.size() && i < 32; ++i) {
      const auto kind = lines_[i].kind;
      if ((kind == traffic::MiniLine::Kind::SendSpeed && alert_.send_active()) ||
          (kind == traffic::MiniLine::Kind::RecvSpeed && alert_.recv_active()))
        alerts |= 1u << i;
    }
  }
  text_.draw(frame_, lines_, area, kMarginX, kMarginY, {by_slot, bg.rgb(), mini::shade(bg, -80).rgb()}, alerts);
}

void MiniMonitor::paintEvent(QPaintEvent*) {
  draw_frame(devicePixelRatioF());
  QPainter p(this);
  p.drawImage(0, 0, frame_);
}

QImage MiniMonitor::render_image(qreal dpr) {
  draw_frame(dpr > 0 ? dpr : devicePixelRatioF());
  return frame_;
}

// ---- context menu -------------------------------------------------------------------

QMenu* MiniMonitor::create_context_menu(QWidget* parent) {
  const MenuTexts& t = pick(lang_, kMenuEn, kMenuJa);
  auto* menu = new QMenu(parent);
  auto add = [&](QMenu* m, const char* text, const char* name) {
    QAction* a = m->addAction(QString::fromUtf8(text));
    a->setObjectName(QLatin1String(name));
    return a;
  };

  QAction* top = add(menu, t.top_most, "TopMost");
  top->setCheckable(true);
  top->setChecked(settings_.window_top_most && places_windows_);
  if (places_windows_) {
    connect(top, &QAction::triggered, this, &MiniMonitor::toggle_top_most);
  } else {
    // Shown, greyed, with the reason beside it: not a switch that does nothing.
    top->setEnabled(false);
    const QString reason = QString::fromUtf8(shell::placement_unavailable_reason(lang_).data(),
                                             static_cast<qsizetype>(shell::placement_unavailable_reason(lang_).size()));
    top->setToolTip(reason);
    top->setStatusTip(reason);
    menu->setToolTipsVisible(true);
  }

  QMenu* opacity = menu->addMenu(QString::fromUtf8(t.opacity));
  opacity->setObjectName(QStringLiteral("Opacity"));
  auto* group = new QActionGroup(opacity);
  const auto choices = traffic::opacity_choices();
  const int current = traffic::opacity_choice_index(settings_.alpha_blend, settings_.alpha_level);
  for (int i = 0; i < static_cast<int>(choices.size()); ++i) {
    const std::string name = std::string("Opacity") + std::to_string(i);
    QAction* a = add(opacity, choices[static_cast<std::size_t>(i)].label, name.c_str());
    a->setCheckable(true);
    a->setChecked(i == current);
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, i] { choose_opacity(i); });
  }

  QAction* frame = add(menu, t.frame, "Frame");
  frame->setCheckable(true);
  frame->setChecked(!settings_.no_frame);
  connect(frame, &QAction::triggered, this, &MiniMonitor::toggle_frame);

  menu->addSeparator();
  connect(add(menu, t.reset, "ResetGraph"), &QAction::triggered, this, [this] {
    monitor_.restart(traffic::RestartMode::Restart);
    alert_.reset();
    refresh();
  });
  // Queued: the receivers may open a modal dialog or delete this window,
  // which must not happen while the menu is still running.
  connect(add(menu, t.options, "Options"), &QAction::triggered, this,
          [this] { QMetaObject::invokeMethod(this, &MiniMonitor::options_requested, Qt::QueuedConnection); });
  menu->addSeparator();
  connect(add(menu, t.close, "Close"), &QAction::triggered, this,
          [this] { QMetaObject::invokeMethod(this, &MiniMonitor::close_requested, Qt::QueuedConnection); });
  connect(add(menu, t.exit, "Exit"), &QAction::triggered, this,
          [this] { QMetaObject::invokeMethod(this, &MiniMonitor::exit_requested, Qt::QueuedConnection); });
  return menu;
}

void MiniMonitor::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu(create_context_menu(nullptr));
  menu->exec(event->globalPos());
}

void MiniMonitor::toggle_top_most() {
  const bool on = !settings_.window_top_most;
  if (isSignalConnected(QMetaMethod::fromSignal(&MiniMonitor::top_most_requested))) {
    emit top_most_requested(on);
    return;
  }
  shell::save_shell_flag(profile_, shell::ShellFlag::WindowTopMost, on);
  set_top_most(on);
}

bool MiniMonitor::set_top_most(bool on) {
  settings_.window_top_most = on;
  const Qt::WindowFlags before = windowFlags();
  apply_window_style();
  return windowFlags() != before;
}

void MiniMonitor::toggle_frame() {
  settings_.no_frame = !settings_.no_frame;
  traffic::save_mini_monitor_frame(profile_, settings_.no_frame);
  apply_window_style();
}

void MiniMonitor::choose_opacity(int index) {
  const auto choices = traffic::opacity_choices();
  if (index < 0 || index >= static_cast<int>(choices.size())) return;
  traffic::write_opacity_choice(profile_, index);
  // The window follows the choice even when the file could not be written.
  const traffic::OpacityChoice& c = choices[static_cast<std::size_t>(index)];
  settings_.alpha_blend = c.alpha_blend;
  if (c.alpha_blend) settings_.alpha_level = c.alpha_level;
  apply_window_style();
}

// ---- moving -------------------------------------------------------------------------

void MiniMonitor::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  // The compositor moves the window where the program cannot (Wayland);
  // it snaps as it likes.
  if (!places_windows_ && windowHandle() && windowHandle()->startSystemMove()) {
    event->accept();
    return;
  }
  // The whole window is a handle, also without a frame.
  dragging_ = true;
  drag_offset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  event->accept();
}

void MiniMonitor::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_ || !(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
  const QPoint cursor = event->globalPosition().toPoint();
  QRect proposed(cursor - drag_offset_, frameGeometry().size());
  const QScreen* screen = QGuiApplication::screenAt(cursor);
  if (!screen) screen = this->screen();
  if (settings_.window_stretch && screen) {
    // The snapping lines are those of the screen under the cursor, in its own
    // coordinates, so every monitor snaps at its own edges.
    const QPoint o = screen->geometry().topLeft();
    auto px = [o](QRect r) {
      r.translate(-o);
      return to_pixel_rect(r);
    };
    const tw::PixelRect out = shell::shared_edge_snap().snap(px(proposed), {cursor.x() - o.x(), cursor.y() - o.y()},
                                                            px(screen->availableGeometry()));
    proposed = QRect(out.left + o.x(), out.top + o.y(), out.width(), out.height());
  }
  move(proposed.topLeft());
  event->accept();
}

void MiniMonitor::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}

void MiniMonitor::closeEvent(QCloseEvent* event) {
  // The main window owns the open/closed state ("MiniMonitor"); without a
  // receiver (a Mini Monitor on its own) the window simply closes.
  if (!isSignalConnected(QMetaMethod::fromSignal(&MiniMonitor::close_requested))) {
    event->accept();
    return;
  }
  event->ignore();
  QMetaObject::invokeMethod(this, &MiniMonitor::close_requested, Qt::QueuedConnection);
}

}  // namespace tw::ui
