#pragma once
// Edge snapping of windows being dragged: an edge that comes within 8 pixels
// of the screen's left or top edge or of the work area's right or bottom edge
// is pulled flush with it for five move events; on the sixth the window jumps
// 8 pixels past (or short of) the edge, which lets the user drag through.
//
// The previous rectangle and the hold counter are shared by every window that
// snaps (the main window and the Mini Monitor use shared_edge_snap()), so a
// drag of one window continues the count of the other. UI thread only.
#include "base/pixel_rect.h"

namespace tw::shell {

struct SnapPoint {
  int x = 0;
  int y = 0;
};

class EdgeSnap {
 public:
  static constexpr int kDistance = 8;   // pixels
  static constexpr int kHoldMoves = 5;  // move events an edge is held

  // Takes the proposed window rectangle of one move event (where the window
  // would go without snapping), the cursor and the work area, all in the same
  // coordinates, and returns the rectangle to use; the window keeps its size.
  // The left and top references are the coordinate origin (the screen's
  // corner), not the work area's, so a panel at the top or left does not
  // push the snapping line inward; the right and bottom references are the
  // work area's edges.
  PixelRect snap(PixelRect proposed, SnapPoint cursor, const PixelRect& work_area);

  // Back to the state before the first move: previous rectangle at left -1,
  // the rest 0, hold counter 0.
  void reset();

  int hold_count() const { return hold_; }
  const PixelRect& previous() const { return previous_; }

 private:
  bool hold();

  PixelRect previous_{-1, 0, 0, 0};
  int hold_ = 0;
};

// The one state for all the windows of the program.
EdgeSnap& shared_edge_snap();

}  // namespace tw::shell
