#include "ui/traffic/traffic_graph.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPointer>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QThread>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <memory>

#include "platform/clock.h"
#include "settings/profile.h"
#include "ui/colorref.h"
#include "ui/common/qt_text.h"

namespace tw::ui {
namespace {

namespace tr = traffic;

}  // namespace

// ---------------------------------------------------------------------------
// Construction and settings

TrafficGraph::TrafficGraph(traffic::TrafficMonitor& monitor, settings::Profile& profile, Language lang,
                           platform::Clock& clock, QWidget* parent)
    : QWidget(parent),
      monitor_(monitor),
      profile_(profile),
      lang_(lang),
      clock_(&clock),
      painter_(lang),
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

void TrafficGraph::set_confirm(std::function<bool(const QString&)> confirm) { confirm_ = std::move(confirm); }

void TrafficGraph::reload_settings() {
  settings_ = tr::load_graph_settings(profile_, lang_);
  painter_.set_settings(settings_, thread_responce_);
  if (timer_.isActive() && timer_.interval() != settings_.redraw_period_ms()) restart_timer();
  menu_.update(settings_, flags_);
}

void TrafficGraph::restart_timer() {
  timer_.stop();
  budget_.reset();
  timer_.start(settings_.redraw_period_ms());
}

void TrafficGraph::rebuild_surfaces() {
  painter_.resize(size(), devicePixelRatioF());
  // The panel slides open again in the new size.
  panel_height_ = tr::kPanelClosedHeight;
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

bool TrafficGraph::can_be_seen() const {
  // A hidden graph (another tab, the window in the tray), a minimised window
  // or one the window system does not show (on another virtual desktop, or
  // covered where a compositor tells) shows nothing.
  if (!isVisible() || size().isEmpty() || window()->isMinimized()) return false;
  const QWindow* native = window()->windowHandle();
  return !native || native->isExposed();
}

void TrafficGraph::tick() {
  // The maxima and the automatic-reset countdown are the monitor's and the
  // core's: they run whether or not anyone watches the graph.
  const int period = settings_.redraw_period_ms();
  if (budget_.skip(period)) return;
  if (!can_be_seen()) return;
  // The window went to a screen of another ratio.
  if (painter_.dpr() != devicePixelRatioF()) rebuild_surfaces();
  // Timed on the graph's clock (monotonic milliseconds, as the idle time):
  // on a fake clock a frame takes no time, so no tick is skipped however
  // busy the machine is.
  const std::uint32_t started = clock_->tick_ms();
  prepare();
  if (!painter_.paint(next_)) return;
  ++frames_drawn_;
  // One rectangle from the top to the last changed panel line: the panel
  // rows below stay as they are on screen. Separate pieces each cost the
  // windowing system a copy of their own, which measured dearer than the
  // unchanged rows between them.
  update(painter_.dirty().boundingRect());
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
  // The window moved to a screen of another ratio (or the graph is painted
  // into an image of another ratio): a frame for that ratio first.
  // (The engine's device: QWidget::render() redirects the painter there.)
  const QPaintDevice* device = p.paintEngine() ? p.paintEngine()->paintDevice() : p.device();
  const qreal ratio = device ? device->devicePixelRatioF() : devicePixelRatioF();
  if (!painter_.has_frame() || painter_.size() != size() || painter_.dpr() != ratio) {
    painter_.resize(size(), ratio);
    render();
  }
  if (!painter_.has_frame()) {
    p.fillRect(rect(), from_colorref(settings_.color(tr::kColorBackground)));
    return;
  }
  // Only what was asked for: after a tick, the part of the frame that changed.
  for (const QRect& r : event->region()) painter_.copy_to(p, r);
}

void TrafficGraph::prepare() {
  if (painter_.size() != size()) rebuild_surfaces();
  const bool hidden = flags_ & tr::kGraphHiddenFlag;
  panel_height_ = tr::next_panel_height(panel_height_, tr::panel_target_height(settings_.view_mode, hidden),
                                        settings_.view_responce);
  const std::uint32_t now = clock_->tick_ms();
  read_graph_frame(monitor_, settings_, size(), panel_height_, flags_, now, lang_, next_);
  const std::string* notice = notice_.current(now);
  if (notice)
    next_.notice = *notice;
  else
    next_.notice.clear();
}

void TrafficGraph::render() {
  prepare();
  painter_.paint(next_);
}

}  // namespace tw::ui
