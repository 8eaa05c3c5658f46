// The Notice dialog on the offscreen platform, driven step by step instead of
// by its timers.
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/fake/fake_file_store.h"
#include "settings/profile.h"
#include "ui/notice/notice_dialog.h"
#include "ui/options/color_list.h"
#include "ui/options/general_pages.h"
#include "ui/options/page_support.h"

namespace tw::ui {
namespace {

void run_deferred_deletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

shell::NoticeBoxSettings style(int timeout_ms) {
  shell::NoticeBoxSettings s;
  s.bk_color = 0x0000FF;    // red
  s.text_color = 0x00FF00;  // green
  s.time_out_ms = timeout_ms;
  return s;
}

constexpr tw::PixelRect kScreen{0, 0, 1920, 1080};

TEST(NoticeDialog, SlidesInStaysAndSlidesOutThenDeletesItself) {
  QPointer<NoticeDialog> notice =
      new NoticeDialog("hello", shell::periodic_notice_layout(Language::English), style(6000), Language::English);
  QSignalSpy finished(notice.data(), &NoticeDialog::finished);
  notice->start_in(kScreen, {0, 0, 1920, 1040});  // panel at the bottom
  EXPECT_TRUE(notice->step_timer_active());
  EXPECT_EQ(notice->slide()->mode(), shell::SlideMode::BottomRight);

  notice->step();
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->geometry(), QRect(1920 - 406, 1036 - 2, 406, 2));
  while (notice->slide()->phase() == shell::NoticeSlide::Phase::SlidingIn) notice->step();
  EXPECT_EQ(notice->geometry(), QRect(1514, 916, 406, 120));
  EXPECT_FALSE(notice->step_timer_active());
  EXPECT_TRUE(notice->visible_timer_active());
  EXPECT_EQ(notice->visible_time_ms(), 6000);

  notice->visible_time_elapsed();
  EXPECT_TRUE(notice->step_timer_active());
  for (int i = 0; i < 1000 && notice->slide()->phase() != shell::NoticeSlide::Phase::Done; ++i) notice->step();
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(notice->isVisible());
  run_deferred_deletes();
  EXPECT_TRUE(notice.isNull());
}

TEST(NoticeDialog, CornerFollowsThePanelAndZeroTimeoutSlidesStraightBack) {
  QPointer<NoticeDialog> notice =
      new NoticeDialog("x", shell::preview_notice_layout(), style(0), Language::Japanese);
  notice->start_in(kScreen, {48, 0, 1920, 1080});  // panel on the left
  ASSERT_EQ(notice->slide()->mode(), shell::SlideMode::BottomLeft);
  notice->step();
  EXPECT_EQ(notice->geometry(), QRect(52, 1074, 300, 2));
  while (notice->slide()->phase() == shell::NoticeSlide::Phase::SlidingIn) notice->step();
  notice->visible_time_elapsed();  // a 0 ms visible time fires at once
  notice->step();
  EXPECT_EQ(notice->slide()->phase(), shell::NoticeSlide::Phase::SlidingOut);
  EXPECT_EQ(notice->geometry().height(), 118);
  delete notice.data();
}

TEST(NoticeDialog, FullyTransparentNoticeStillSlides) {
  shell::NoticeBoxSettings s = style(10);
  s.alpha_blend = true;
  s.alpha_level = 0;
  auto* notice = new NoticeDialog("x", shell::preview_notice_layout(), s, Language::English);
  EXPECT_DOUBLE_EQ(notice->windowOpacity(), 0.0);
  notice->start_in(kScreen, kScreen);
  notice->step();
  EXPECT_EQ(notice->slide()->visible_height(), 2);
  delete notice;
}

// The picture: background everywhere, text only inside the text rectangle;
// an over-long line is cut instead of running past it.
TEST(NoticeDialog, TextStaysInsideItsRectangle) {
  const auto layout = shell::preview_notice_layout();
  NoticeDialog notice(QString(200, QLatin1Char('W')) + "\nsecond line", layout, style(10), Language::English);
  const QImage image = notice.picture().toImage();
  ASSERT_EQ(image.size(), QSize(300, 120));
  int text_pixels = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c == QColor(255, 0, 0)) continue;
      ++text_pixels;
      const bool inside = x >= layout.text_rect.left && x < layout.text_rect.right &&
                          y >= layout.text_rect.top && y < layout.text_rect.bottom;
      ASSERT_TRUE(inside) << x << "," << y;
    }
  }
  EXPECT_GT(text_pixels, 0);
}

// Rows of the text rectangle that carry text, as runs of consecutive rows.
std::vector<std::pair<int, int>> inked_row_runs(const QImage& image, const tw::PixelRect& r) {
  std::vector<std::pair<int, int>> runs;
  for (int y = r.top; y < r.bottom; ++y) {
    bool ink = false;
    for (int x = r.left; x < r.right && !ink; ++x) ink = image.pixelColor(x, y) != QColor(255, 0, 0);
    if (!ink) continue;
    if (!runs.empty() && runs.back().second == y - 1)
      runs.back().second = y;
    else
      runs.emplace_back(y, y);
  }
  return runs;
}

// The traffic summary has eight lines for a 96-pixel text area: whatever
// face the desktop substitutes for the fixed-pitch one, every line is shown,
// each on a row of its own.
TEST(NoticeDialog, AllEightLinesOfTheSummaryFitTheTextArea) {
  for (Language lang : {Language::English, Language::Japanese}) {
    const auto layout = shell::periodic_notice_layout(lang);
    const QString first = lang == Language::English ? "Capture Time" : QString::fromUtf8("計測時間");
    const QString last = lang == Language::English ? "Average Received speed" : QString::fromUtf8("平均受信速度");
    const NoticeDialog sparse(first + "\n\n\n\n\n\n\n" + last, layout, style(10), lang);
    const auto ends = inked_row_runs(sparse.picture().toImage(), layout.text_rect);
    ASSERT_EQ(ends.size(), 2u) << static_cast<int>(lang);  // the eighth line is there too
    EXPECT_GT(ends[1].first, layout.text_rect.top + 60);

    const QString digits = "0123456789";
    const NoticeDialog full(QStringList(8, digits).join('\n'), layout, style(10), lang);
    EXPECT_EQ(inked_row_runs(full.picture().toImage(), layout.text_rect).size(), 8u) << static_cast<int>(lang);
  }
}

TEST(NoticeDialog, PreviewUsesThePagesUnsavedValues) {
  platform::FakeFileStore files;
  settings::Profile profile(files, "/data/tarnix_user@host.ini");
  NoticeDialogPage page(profile, Language::English, nullptr);
  page.load();
  set_color_chooser([](QWidget*, const QColor&) { return std::optional<QColor>(QColor(0, 0, 255)); });
  page.colors()->topLevelItem(0)->setSelected(true);
  page.colors()->choose_for_selected_rows();
  set_color_chooser({});
  QPointer<NoticeDialog> preview = page.open_preview();
  ASSERT_FALSE(preview.isNull());
  EXPECT_EQ(preview->picture().size(), QSize(300, 120));
  EXPECT_EQ(preview->picture().toImage().pixelColor(1, 1), QColor(0, 0, 255));
  EXPECT_EQ(preview->visible_time_ms(), 6000);
  EXPECT_TRUE(preview->step_timer_active());
  EXPECT_EQ(files.files.count(profile.path()), 0u);  // previewing saves nothing
  delete preview.data();
}

}  // namespace
}  // namespace tw::ui
