#pragma once
// The one rectangle type of the window logic (placement, edge snapping, the
// notice slide, the Mini Monitor's screens). Header-only, so the traffic
// library can use it without linking the app library.
namespace tw {

// Screen rectangles in pixels; right and bottom are exclusive
// (right = left + width), so a 1920-wide screen at 0 has right 1920.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const PixelRect&) const = default;
};

}  // namespace tw
