#include "shell/notice_logic.h"

#include <algorithm>

namespace tw::shell {

SlideMode slide_mode(const PixelRect& screen, const PixelRect& work) {
  const int left = work.left - screen.left;
  const int top = work.top - screen.top;
  if (work.width() == screen.width() && work.bottom < screen.bottom) return SlideMode::BottomRight;
  if (left == 0 && top != 0) return SlideMode::TopRight;
  if (left != 0 && top == 0) return SlideMode::BottomLeft;
  return SlideMode::Fallback;
}

NoticeLayout periodic_notice_layout(Language lang) {
  NoticeLayout l;
  l.width = lang == Language::Japanese ? 300 : 410;
  l.height = 120;
  l.text_rect = {8, 8, l.width - 16, 104};
  return l;
}

NoticeLayout preview_notice_layout() {
  NoticeLayout l;
  l.width = 300;
  l.height = 120;
  l.text_rect = {8, 8, 284, 104};
  return l;
}

std::string_view preview_notice_text(Language lang) {
  return pick<std::string_view>(lang, "View TEST.\n0123456789", "テスト表示です。\n0123456789");
}

bool notice_due(bool main_window_hidden, bool notice_box, int interval_minutes,
                const platform::LocalTime& now) {
  if (!main_window_hidden || !notice_box || interval_minutes == 0) return false;
  return now.minute % interval_minutes == 0 && now.second == 0;
}

NoticeSlide::NoticeSlide(SlideMode mode, const PixelRect& work_area, int width, int height)
    : mode_(mode), work_(work_area), width_(std::max(width, 0)), height_(std::max(height, 0)) {}

NoticeSlide::Phase NoticeSlide::step() {
  switch (phase_) {
    case Phase::SlidingIn:
      visible_ += 2;
      if (visible_ > height_) phase_ = Phase::FullyVisible;
      break;
    case Phase::SlidingOut:
      // Shrink from what is actually on screen, so a window that overshot
      // while growing does not stand still for a step.
      visible_ = std::min(visible_, height_) - 2;
      if (visible_ <= 0) {
        visible_ = 0;
        phase_ = Phase::Done;
      }
      break;
    case Phase::FullyVisible:
    case Phase::Done:
      break;
  }
  return phase_;
}

void NoticeSlide::start_slide_out() {
  if (phase_ == Phase::SlidingIn || phase_ == Phase::FullyVisible) phase_ = Phase::SlidingOut;
}

PixelRect NoticeSlide::placement() const {
  const int h = std::clamp(visible_, 0, height_);
  PixelRect r;
  switch (mode_) {
    case SlideMode::BottomLeft:
      // Full width, 4 pixels in from the work-area left edge.
      r.left = work_.left + 4;
      r.right = r.left + width_;
      r.bottom = work_.bottom - 4;
      r.top = r.bottom - h;
      break;
    case SlideMode::TopRight:
      r.right = work_.right;
      r.left = r.right - (width_ - 4);
      r.top = work_.top;
      r.bottom = r.top + h;
      break;
    case SlideMode::BottomRight:
    case SlideMode::Fallback:
      r.right = work_.right;
      r.left = r.right - (width_ - 4);
      r.bottom = work_.bottom - 4;
      r.top = r.bottom - h;
      break;
  }
  return r;
}

}  // namespace tw::shell
