#include "shell/edge_snap.h"

namespace tw::shell {

bool EdgeSnap::hold() {
  if (hold_ < kHoldMoves) {
    ++hold_;
    return true;
  }
  hold_ = 0;
  return false;
}

void EdgeSnap::reset() {
  previous_ = PixelRect{-1, 0, 0, 0};
  hold_ = 0;
}

PixelRect EdgeSnap::snap(PixelRect r, SnapPoint c, const PixelRect& w) {
  constexpr int d = kDistance;
  const int width = r.width(), height = r.height();
  const bool moving_left = previous_.left > r.left, moving_right = previous_.left < r.left;
  const bool moving_up = previous_.top > r.top, moving_down = previous_.top < r.top;

  // Left edge, against the origin.
  if (r.left >= -(d - 1) && r.left <= -1) r.left = hold() ? 0 : -d;
  else if (r.left >= 1 && r.left <= d - 1) r.left = hold() ? 0 : d;
  r.right = r.left + width;

  // Right edge, against the work area: from outside, then from inside.
  if (r.right > w.right && r.right < w.right + d) r.right = hold() ? w.right : w.right + d;
  if (r.right > w.right - d && r.right < w.right) r.right = hold() ? w.right : w.right - d;
  r.left = r.right - width;

  // Top edge, against the origin.
  if (r.top >= -(d - 1) && r.top <= -1) r.top = hold() ? 0 : -d;
  else if (r.top >= 1 && r.top <= d - 1) r.top = hold() ? 0 : d;
  r.bottom = r.top + height;

  // Bottom edge, against the work area.
  if (r.bottom > w.bottom && r.bottom < w.bottom + d) r.bottom = hold() ? w.bottom : w.bottom + d;
  if (r.bottom > w.bottom - d && r.bottom < w.bottom) r.bottom = hold() ? w.bottom : w.bottom - d;
  r.top = r.bottom - height;

  // A straight move along one axis, with the cursor still over the window on
  // that axis, pulls an edge still short of its line flush.
  const int directions = int{moving_left} + int{moving_right} + int{moving_up} + int{moving_down};
  if (directions == 1) {
    const bool cursor_in_x = c.x >= r.left && c.x < r.right;
    const bool cursor_in_y = c.y >= r.top && c.y < r.bottom;
    if (moving_left && cursor_in_x && r.left >= 1 && r.left <= d - 1) {
      r.left = 0;
      r.right = width;
    } else if (moving_right && cursor_in_x && r.right > w.right - d && r.right < w.right) {
      r.right = w.right;
      r.left = r.right - width;
    } else if (moving_up && cursor_in_y && r.top >= 1 && r.top <= d - 1) {
      r.top = 0;
      r.bottom = height;
    } else if (moving_down && cursor_in_y && r.bottom > w.bottom - d && r.bottom < w.bottom) {
      r.bottom = w.bottom;
      r.top = r.bottom - height;
    }
  }

  previous_ = r;
  return r;
}

EdgeSnap& shared_edge_snap() {
  static EdgeSnap snap;
  return snap;
}

}  // namespace tw::shell
