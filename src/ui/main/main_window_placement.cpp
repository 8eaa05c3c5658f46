// Where the window is: the stored placement restored and written back, the
// stacking with the Mini Monitor, "topmost" and the snapping to screen edges.
#include <QCursor>
#include <QGuiApplication>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

#include <array>
#include <optional>
#include <vector>

#include "shell/edge_snap.h"
#include "shell/shell_settings.h"
#include "ui/main/main_window.h"
#include "ui/minimonitor/mini_monitor.h"
#include "ui/pixel_rect_qt.h"

namespace tw::ui {

void MainWindow::restore_placement() {
  const std::optional<std::array<int, 10>> list = shell::load_window_position(profile_);
  if (!list) return;
  const shell::WindowPlacement stored = shell::WindowPlacement::from_list(*list);
  std::vector<tw::PixelRect> areas;
  if (QScreen* primary = QGuiApplication::primaryScreen()) areas.push_back(to_pixel_rect(primary->availableGeometry()));
  for (QScreen* sc : QGuiApplication::screens())
    if (sc != QGuiApplication::primaryScreen()) areas.push_back(to_pixel_rect(sc->availableGeometry()));
  const tw::PixelRect r = shell::bring_on_screen(stored.normal, areas, shell::kMinClientWidth, shell::kMinClientHeight);
  placing_ = true;
  move(r.left, r.top);
  resize(r.width(), r.height());
  placing_ = false;
  normal_rect_ = r;
  have_normal_rect_ = true;
  // Checked again once the window is on screen and its frame is known.
  pending_placement_ = r;
}

shell::FrameMargins MainWindow::frame_margins() const {
  const QRect frame = frameGeometry();
  const QRect client = geometry();
  return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
          frame.bottom() - client.bottom()};
}

void MainWindow::settle_placement() {
  // The first time the window is on screen its frame is known: the stored
  // corner is the frame's, so the client area goes inside it. A window
  // system that placed the client area there instead is corrected once.
  if (!pending_placement_ || windowState() != Qt::WindowNoState) return;
  const tw::PixelRect want = shell::client_rect_for(*pending_placement_, frame_margins());
  pending_placement_.reset();
  if (to_pixel_rect(geometry()) == want) return;
  placing_ = true;
  setGeometry(want.left, want.top, want.width(), want.height());
  placing_ = false;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Expose && watched == windowHandle() && windowHandle()->isExposed()) {
    settle_placement();
    if (raise_mini_on_expose_) {
      raise_mini_on_expose_ = false;
      if (mini_) mini_->raise();
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The native window exists from the first show on; switching "topmost"
  // may replace it.
  if (QWindow* native = windowHandle(); native && native != watched_native_) {
    native->installEventFilter(this);
    watched_native_ = native;
  }
}

void MainWindow::restack(shell::StackingEvent event) {
  const shell::StackingOrder order = shell::stacking_after(event, mini_ != nullptr, isVisible() && !isMinimized());
  if (order.activate_main) {
    raise();
    activateWindow();
  }
  if (!order.raise_mini || !mini_) return;
  mini_->raise();
  if (order.activate_mini) mini_->activateWindow();
  // A main window that is only being mapped lands on top of the stack when
  // the window manager gets to it, which may well be after this raise: the
  // Mini Monitor goes up once more when the main window is on screen.
  if (isVisible() && (!windowHandle() || !windowHandle()->isExposed())) raise_mini_on_expose_ = true;
}

void MainWindow::apply_topmost() {
  // Wayland keeps no window above others on a client's word; the hint would
  // only make the window anew in the middle of the screen.
  if (!places_windows_) return;
  const bool want = shell_.window_top_most;
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == want) return;
  const bool visible = isVisible();
  // X11 makes a new native window for a changed stacking hint, at the next
  // show: a Mini Monitor shown before then is owned by the old one.
  if (windowHandle() && windowHandle()->handle()) mini_owner_stale_ = true;
  placing_ = true;
  setWindowFlag(Qt::WindowStaysOnTopHint, want);  // hides the window
  if (visible) show();
  placing_ = false;
}

void MainWindow::reattach_mini() {
  // The window manager learns a transient window's owner (WM_TRANSIENT_FOR)
  // when that window is shown; one owned by a native window that is gone is
  // hidden by the first click on the main window. Shown again after the main
  // window, the Mini Monitor hangs on its current native window.
  if (!mini_owner_stale_ || !mini_ || !isVisible()) return;
  mini_owner_stale_ = false;
  if (!mini_->isVisible()) return;
  mini_->hide();
  mini_->show();
}

void MainWindow::set_topmost(bool on, shell::StackingEvent event) {
  // One way for every switch (window command, Mini Monitor menu, options):
  // the main window first, then the Mini Monitor, which is thereby shown
  // after the main window's new native window.
  if (on != shell_.window_top_most) {
    shell_.window_top_most = on;
    shell::save_shell_flag(profile_, shell::ShellFlag::WindowTopMost, on);
  }
  follow_topmost(event);
}

void MainWindow::follow_topmost(shell::StackingEvent event) {
  apply_topmost();
  if (mini_ && mini_->set_top_most(shell_.window_top_most) && isVisible()) mini_owner_stale_ = false;
  reattach_mini();
  restack(event);
}

void MainWindow::toggle_topmost() { set_topmost(!shell_.window_top_most, shell::StackingEvent::TopmostFromMainWindow); }

void MainWindow::remember_normal_geometry() {
  if (!isVisible() || (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) return;
  normal_rect_ = shell::stored_normal_rect(to_pixel_rect(geometry()), frame_margins());
  have_normal_rect_ = true;
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (!placing_ && shell_.window_stretch && isVisible() && windowState() == Qt::WindowNoState) snap_to_edges();
  remember_normal_geometry();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  remember_normal_geometry();
}

void MainWindow::snap_to_edges() {
  QScreen* sc = screen();
  if (!sc) return;
  // The snapping lines are the screen's own edges: work in coordinates
  // relative to the screen the window is on, so a second monitor behaves
  // like the first.
  const QRect screen_rect = sc->geometry();
  const QPoint origin = screen_rect.topLeft();
  const QRect frame = frameGeometry().translated(-origin);
  const QRect work = sc->availableGeometry().translated(-origin);
  const QPoint cursor = QCursor::pos(sc) - origin;
  const tw::PixelRect proposed = to_pixel_rect(frame);
  const tw::PixelRect snapped =
      shell::shared_edge_snap().snap(proposed, {cursor.x(), cursor.y()}, to_pixel_rect(work));
  if (snapped.left == proposed.left && snapped.top == proposed.top) return;
  placing_ = true;
  move(snapped.left + origin.x(), snapped.top + origin.y());
  placing_ = false;
}

void MainWindow::save_placement() {
  const bool zoomed = isMaximized();
  remember_normal_geometry();
  tw::PixelRect normal =
      have_normal_rect_ ? normal_rect_ : shell::stored_normal_rect(to_pixel_rect(geometry()), frame_margins());
  if (!places_windows_) {
    // The platform cannot tell where the window is (Wayland reports 0,0 and
    // no frame): the stored position stays, with the size of now; without
    // one, there is no position to write.
    const std::optional<std::array<int, 10>> stored = shell::load_window_position(profile_);
    if (!stored) return;
    const tw::PixelRect kept = shell::WindowPlacement::from_list(*stored).normal;
    normal = {kept.left, kept.top, kept.left + normal.width(), kept.top + normal.height()};
  }
  shell::save_window_placement(profile_, zoomed, shell::placement_for(normal, zoomed).to_list());
}

}  // namespace tw::ui
