#pragma once
// The Notice dialog without its widget: where it slides out from, how big it
// is, when the periodic notice is due, and the slide arithmetic step by step.
// The widget (ui/notice/notice_dialog.h) drives a NoticeSlide from its timers.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/language.h"
#include "base/pixel_rect.h"
#include "platform/clock.h"

namespace tw::shell {

// The corner the notice slides out of, chosen from where the panel (taskbar)
// takes room from the screen.
enum class SlideMode {
  BottomRight,  // panel at the bottom
  TopRight,     // panel at the top
  BottomLeft,   // panel at the left
  Fallback,     // panel at the right, or none: placed like BottomRight
};

// Compares the work area (the screen minus panels) with the whole screen. Both
// are in the same global coordinates; the comparison is made relative to the
// screen's own origin so that a second monitor right of the first behaves like
// the first.
SlideMode slide_mode(const PixelRect& screen, const PixelRect& work_area);

// Size, text and timing of one notice.
struct NoticeLayout {
  int width = 0;
  int height = 0;
  PixelRect text_rect;     // inside the window
  int step_ms = 8;         // slide step period
};

// The periodic notice with the Traffic Monitor's summary: 410 pixels wide with
// English texts, 300 with Japanese ones; 120 high in both.
NoticeLayout periodic_notice_layout(Language lang);
// The preview opened from the options page: always 300 x 120.
NoticeLayout preview_notice_layout();
// "View TEST.\n0123456789" or its Japanese counterpart.
std::string_view preview_notice_text(Language lang);

// The main window's one-second timer asks this on every tick. A notice is due only while
// the main window is hidden or minimised, "NoticeBox" is set, the interval is
// not 0, and the local time is at second 0 of a minute that is a multiple of
// the interval. A late tick that misses second 0 skips that notice.
bool notice_due(bool main_window_hidden, bool notice_box, int interval_minutes,
                const platform::LocalTime& now);

// One notice's slide: grows by 2 pixels per step from the work-area edge,
// stays, then shrinks by 2 pixels per step and ends.
class NoticeSlide {
 public:
  enum class Phase { SlidingIn, FullyVisible, SlidingOut, Done };

  NoticeSlide(SlideMode mode, const PixelRect& work_area, int width, int height);

  // One step-period tick while sliding. Returns the phase after the step:
  // SlidingIn turns FullyVisible once the visible height passes the window
  // height (the caller then starts the visible-time timer); SlidingOut turns
  // Done at height 0 (the caller then destroys the window).
  Phase step();
  // The visible time has passed: start sliding out.
  void start_slide_out();

  Phase phase() const { return phase_; }
  SlideMode mode() const { return mode_; }
  int visible_height() const { return visible_; }
  // Where the window is to be placed now: the visible part of the notice,
  // never taller than the window itself.
  PixelRect placement() const;

 private:
  SlideMode mode_;
  PixelRect work_;
  int width_;
  int height_;
  int visible_ = 0;
  Phase phase_ = Phase::SlidingIn;
};

}  // namespace tw::shell
