#include "shell/notice_logic.h"

#include <gtest/gtest.h>

namespace tw::shell {
namespace {

constexpr PixelRect kScreen{0, 0, 1920, 1080};

TEST(NoticeSlideMode, FollowsThePanelPosition) {
  EXPECT_EQ(slide_mode(kScreen, {0, 0, 1920, 1040}), SlideMode::BottomRight);
  EXPECT_EQ(slide_mode(kScreen, {0, 32, 1920, 1080}), SlideMode::TopRight);
  EXPECT_EQ(slide_mode(kScreen, {64, 0, 1920, 1080}), SlideMode::BottomLeft);
  EXPECT_EQ(slide_mode(kScreen, {0, 0, 1856, 1080}), SlideMode::Fallback);  // right
  EXPECT_EQ(slide_mode(kScreen, kScreen), SlideMode::Fallback);              // none
  // A second screen to the right of the first, panel on its left edge.
  EXPECT_EQ(slide_mode({1920, 0, 3840, 1080}, {1984, 0, 3840, 1080}), SlideMode::BottomLeft);
  EXPECT_EQ(slide_mode({1920, 0, 3840, 1080}, {1920, 0, 3840, 1040}), SlideMode::BottomRight);
}

TEST(NoticeLayout, SizesPerUse) {
  auto en = periodic_notice_layout(Language::English);
  auto ja = periodic_notice_layout(Language::Japanese);
  EXPECT_EQ(en.width, 410);
  EXPECT_EQ(ja.width, 300);
  EXPECT_EQ(en.text_rect, (PixelRect{8, 8, 394, 104}));
  EXPECT_EQ(ja.text_rect, (PixelRect{8, 8, 284, 104}));
  EXPECT_EQ(preview_notice_layout().text_rect, (PixelRect{8, 8, 284, 104}));
  EXPECT_EQ(en.step_ms, 8);
  EXPECT_EQ(preview_notice_text(Language::Japanese), "テスト表示です。\n0123456789");
}

platform::LocalTime at(int hour, int minute, int second) {
  platform::LocalTime t;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  return t;
}

TEST(NoticeDue, EveryIntervalAtSecondZeroWhileHidden) {
  int due = 0;
  for (int m = 0; m < 60; ++m) {
    if (notice_due(true, true, 10, at(13, m, 0))) ++due;
  }
  EXPECT_EQ(due, 6);
  EXPECT_TRUE(notice_due(true, true, 10, at(13, 20, 0)));
  EXPECT_FALSE(notice_due(true, true, 10, at(13, 20, 1)));  // late tick: skipped
  EXPECT_FALSE(notice_due(false, true, 10, at(13, 20, 0)));  // window shown
  EXPECT_FALSE(notice_due(true, false, 10, at(13, 20, 0)));
  EXPECT_FALSE(notice_due(true, true, 0, at(13, 0, 0)));
  EXPECT_TRUE(notice_due(true, true, 1, at(0, 7, 0)));
}

TEST(NoticeSlide, GrowsStaysShrinksAndEnds) {
  const PixelRect work{0, 0, 1920, 1040};
  NoticeSlide slide(SlideMode::BottomRight, work, 300, 120);
  EXPECT_EQ(slide.step(), NoticeSlide::Phase::SlidingIn);
  EXPECT_EQ(slide.placement(), (PixelRect{1624, 1034, 1920, 1036}));
  int steps = 1;
  while (slide.step() == NoticeSlide::Phase::SlidingIn) ++steps;
  EXPECT_EQ(steps + 1, 61);  // passes 120 at 122
  EXPECT_EQ(slide.phase(), NoticeSlide::Phase::FullyVisible);
  EXPECT_EQ(slide.placement(), (PixelRect{1624, 916, 1920, 1036}));  // never taller than 120
  EXPECT_EQ(slide.step(), NoticeSlide::Phase::FullyVisible);  // a stray tick changes nothing

  slide.start_slide_out();
  steps = 0;
  while (slide.step() == NoticeSlide::Phase::SlidingOut) ++steps;
  EXPECT_EQ(steps + 1, 60);
  EXPECT_EQ(slide.phase(), NoticeSlide::Phase::Done);
  EXPECT_EQ(slide.visible_height(), 0);
  slide.start_slide_out();  // finished notices stay finished
  EXPECT_EQ(slide.phase(), NoticeSlide::Phase::Done);
}

TEST(NoticeSlide, PlacementPerMode) {
  const PixelRect work{64, 32, 1920, 1040};
  NoticeSlide left(SlideMode::BottomLeft, work, 300, 120);
  left.step();
  EXPECT_EQ(left.placement(), (PixelRect{68, 1034, 368, 1036}));
  NoticeSlide top(SlideMode::TopRight, work, 300, 120);
  top.step();
  top.step();
  EXPECT_EQ(top.placement(), (PixelRect{1624, 32, 1920, 36}));
  // A zero-height notice ends after one step each way.
  NoticeSlide empty(SlideMode::Fallback, work, 300, 0);
  EXPECT_EQ(empty.step(), NoticeSlide::Phase::FullyVisible);
  empty.start_slide_out();
  EXPECT_EQ(empty.step(), NoticeSlide::Phase::Done);
}

}  // namespace
}  // namespace tw::shell
