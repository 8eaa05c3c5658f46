// Edge snapping driven move event by move event, as a drag delivers them.
#include "shell/edge_snap.h"

#include <gtest/gtest.h>

#include <vector>

namespace tw::shell {
namespace {

constexpr PixelRect kWork{0, 0, 1920, 1040};  // panel at the bottom

PixelRect at(int left, int top, int w = 200, int h = 100) { return {left, top, left + w, top + h}; }

// Sends the same proposed rectangle `n` times and collects the left edges.
std::vector<int> lefts(EdgeSnap& e, PixelRect r, int n, const PixelRect& work = kWork) {
  std::vector<int> out;
  for (int i = 0; i < n; ++i) out.push_back(e.snap(r, {r.left + 10, r.top + 10}, work).left);
  return out;
}

TEST(EdgeSnap, EdgeHeldForFiveMovesThenReleasedPastOrShortOfIt) {
  EdgeSnap e;
  EXPECT_EQ(lefts(e, at(3, 500), 7), (std::vector<int>{0, 0, 0, 0, 0, 8, 0}));
  e.reset();
  EXPECT_EQ(lefts(e, at(-3, 500), 7), (std::vector<int>{0, 0, 0, 0, 0, -8, 0}));
  e.reset();
  // Exactly on the line, or 8 away: nothing to hold, the counter stays.
  EXPECT_EQ(lefts(e, at(0, 500), 2), (std::vector<int>{0, 0}));
  EXPECT_EQ(lefts(e, at(8, 500), 1), (std::vector<int>{8}));
  EXPECT_EQ(lefts(e, at(-8, 500), 1), (std::vector<int>{-8}));
  EXPECT_EQ(e.hold_count(), 0);
}

TEST(EdgeSnap, RightAndBottomSnapToTheWorkAreaTopAndLeftToTheOrigin) {
  EdgeSnap e;
  // Right: from outside and from inside the work area.
  EXPECT_EQ(e.snap(at(1723, 500), {1800, 550}, kWork), at(1720, 500));
  EXPECT_EQ(e.snap(at(1715, 500), {1800, 550}, kWork), at(1720, 500));
  // Bottom: the panel's edge (1040), not the screen's.
  EXPECT_EQ(e.snap(at(500, 1036 - 100), {550, 990}, kWork), at(500, 940));
  // A panel at the top does not move the top line: it stays at 0.
  const PixelRect top_panel{0, 40, 1920, 1080};
  EXPECT_EQ(e.snap(at(500, 5), {550, 50}, top_panel), at(500, 0));
  EXPECT_EQ(e.snap(at(500, 45), {550, 50}, top_panel), at(500, 45));
}

TEST(EdgeSnap, ReleaseGoesEightPixelsBeyondTheRightAndBottomLines) {
  EdgeSnap e;
  for (int i = 0; i < 5; ++i) e.snap(at(1723, 500), {1800, 550}, kWork);
  EXPECT_EQ(e.snap(at(1723, 500), {1800, 550}, kWork), at(1728, 500));  // right = 1928
  for (int i = 0; i < 5; ++i) e.snap(at(1715, 500), {1800, 550}, kWork);
  EXPECT_EQ(e.snap(at(1715, 500), {1800, 550}, kWork), at(1712, 500));  // right = 1912
  for (int i = 0; i < 5; ++i) e.snap(at(500, 1036 - 100), {550, 990}, kWork);
  EXPECT_EQ(e.snap(at(500, 1036 - 100), {550, 990}, kWork), at(500, 1032 - 100));  // bottom = 1032
}

TEST(EdgeSnap, OneCounterForAllEdgesAndAllWindows) {
  // In a corner two edges are held per move, so the counter runs out sooner.
  EdgeSnap e;
  std::vector<PixelRect> got;
  for (int i = 0; i < 4; ++i) got.push_back(e.snap(at(3, 3), {20, 20}, kWork));
  EXPECT_EQ(got, (std::vector<PixelRect>{at(0, 0), at(0, 0), at(0, 8), at(0, 0)}));

  // A second window continues where the first one left the counter.
  EdgeSnap& shared = shared_edge_snap();
  shared.reset();
  for (int i = 0; i < 4; ++i) shared.snap(at(3, 500), {20, 520}, kWork);
  EXPECT_EQ(shared.snap(at(1815, 300, 100, 50), {1850, 320}, kWork).right, 1920);
  EXPECT_EQ(shared.snap(at(1815, 300, 100, 50), {1850, 320}, kWork).right, 1912);
  shared.reset();
}

TEST(EdgeSnap, StraightMoveWithTheCursorOverTheWindowPullsFlush) {
  // A window nearly as wide as the work area: holding its right edge leaves
  // its left edge 3 px from the origin; a move to the left pulls it back to 0.
  const PixelRect work{0, 0, 100, 100};
  EdgeSnap e;
  EXPECT_EQ(e.snap(at(20, 50, 97, 10), {60, 55}, work), at(20, 50, 97, 10));
  EXPECT_EQ(e.snap(at(0, 50, 97, 10), {50, 55}, work), at(0, 50, 97, 10));

  EdgeSnap away;
  away.snap(at(20, 50, 97, 10), {60, 55}, work);
  EXPECT_EQ(away.snap(at(0, 50, 97, 10), {200, 55}, work), at(3, 50, 97, 10));  // cursor not over it

  EdgeSnap diagonal;
  diagonal.snap(at(20, 60, 97, 10), {60, 65}, work);
  EXPECT_EQ(diagonal.snap(at(0, 50, 97, 10), {50, 55}, work), at(3, 50, 97, 10));  // two directions
}

}  // namespace
}  // namespace tw::shell
