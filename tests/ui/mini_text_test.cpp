// The Mini Monitor's text put together from character images must look as
// the same lines laid out and drawn as runs of glyphs: the same pixels to
// within the rounding the character images allow, and the ink in the same
// place, at every ratio, size and weight, for lines the images cannot draw
// (Japanese) and for a face they refuse.
#include <QFontMetrics>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "traffic/mini_monitor_logic.h"
#include "ui/minimonitor/mini_text.h"

namespace tw::ui {
namespace {

using traffic::MiniLine;

constexpr QRgb kBackground = 0xFF203050u, kShadow = 0xFF001020u;
const std::array<QRgb, traffic::kMiniColorCount> kSlots{0xFF203050u, 0xFFFF4030u, 0xFF40FF30u, 0xFFFFC040u, 0xFFFFC040u,
                                                        0xFFE0E0E0u, 0xFFC0C0FFu, 0xFFFFFFFFu, 0xFF80FFFFu};
constexpr int kMarginX = 4, kMarginY = 2;

QFont face(const char* name, int pixels, bool bold) {
  QFont f(QString::fromLatin1(name));
  f.setStyleHint(QFont::Monospace);
  f.setPixelSize(pixels);
  f.setWeight(bold ? QFont::Bold : QFont::Normal);
  return f;
}

// The lines drawn the way the window drew them before: each segment laid
// out, its glyph runs drawn with the line's baseline on the face's ascent,
// first in the shadow colour a pixel right and down, then in its own.
void draw_laid_out(QImage& img, const std::array<QFont, 2>& fonts, const std::vector<MiniLine>& lines,
                   std::uint32_t alerts) {
  QPainter p(&img);
  int y = kMarginY;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const QFont& font = fonts[lines[i].large ? 1 : 0];
    const QFontMetrics fm(font);
    const bool alert = alerts >> i & 1u;
    if (alert)
      p.fillRect(0, y, static_cast<int>(img.width() / img.devicePixelRatio()), fm.height(),
                 QColor::fromRgb(kSlots[static_cast<std::size_t>(lines[i].segments.front().color)]));
    int x = kMarginX;
    for (const traffic::MiniSegment& seg : lines[i].segments) {
      QTextLayout layout(QString::fromStdString(seg.text), font);
      layout.beginLayout();
      const QTextLine line = layout.createLine();
      layout.endLayout();
      const qreal top = y + fm.ascent() - line.ascent();
      if (!alert) {
        p.setPen(QColor::fromRgb(kShadow));
        for (const QGlyphRun& run : layout.glyphRuns()) p.drawGlyphRun(QPointF(x + 1, top + 1), run);
      }
      p.setPen(QColor::fromRgb(alert ? kBackground : kSlots[static_cast<std::size_t>(seg.color)]));
      for (const QGlyphRun& run : layout.glyphRuns()) p.drawGlyphRun(QPointF(x, top), run);
      x += qRound(line.horizontalAdvance());
    }
    y += fm.height();
  }
}

QImage blank(qreal dpr) {
  QImage img(static_cast<int>(330 * dpr), static_cast<int>(150 * dpr), QImage::Format_RGB32);
  img.setDevicePixelRatio(dpr);
  img.fill(kBackground);
  return img;
}

int channel_difference(QRgb a, QRgb b) {
  int worst = 0;
  for (int shift = 0; shift < 24; shift += 8)
    worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
  return worst;
}

// How far the character images may stray from the laid-out line in a channel.
constexpr int kTolerance = 4;

int max_difference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return INT_MAX;
  int worst = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) worst = std::max(worst, channel_difference(a.pixel(x, y), b.pixel(x, y)));
  return worst;
}

// Where the text put ink: pixels that differ from the background by more than rounding.
QRect ink(const QImage& img) {
  QRect r;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (channel_difference(img.pixel(x, y), kBackground) > kTolerance) r |= QRect(x, y, 1, 1);
  return r;
}

std::vector<MiniLine> sample_lines(bool japanese) {
  using K = MiniLine::Kind;
  const std::string send = japanese ? "送信:" : "Send:", recv = japanese ? "受信:" : "Recv:";
  return {
      {K::SendSpeed, true, {{send + "1234.56 KB/s", traffic::kMiniSendSpeed}}},
      {K::RecvSpeed, true, {{recv + "  0.075 MB/s  ", traffic::kMiniRecvSpeed}}},
      {K::SendMax, false, {{send + "   98.70 Kbps", traffic::kMiniSendMax}}},
      {K::SendTotal,
       false,
       {{send + "59.579 MB", traffic::kMiniSendTotal}, {" (  59.579 GB)", traffic::kMiniSendGross}}},
      {K::CaptureTime, false, {{japanese ? " 1日  2時間 03分 04秒" : " 1d  2h 03m 04s ", traffic::kMiniSendTotal}}},
  };
}

TEST(MiniText, CharacterImagesDrawWhatTheLaidOutLinesDrew) {
  struct Face {
    const char* name;
    int pixels;
    bool bold;
  };
  // The default face and size, sizes either side, bold, and a proportional
  // face with kerning, which the character images refuse.
  for (const Face& fc :
       {Face{"Lucida Console", 10, false}, Face{"Lucida Console", 8, false}, Face{"Lucida Console", 13, true},
        Face{"Lucida Console", 17, false}, Face{"Lucida Console", 22, true}, Face{"DejaVu Sans", 11, false}}) {
    const std::array<QFont, 2> fonts{face(fc.name, fc.pixels, fc.bold), face(fc.name, fc.pixels * 2, fc.bold)};
    for (const qreal dpr : {1.0, 1.5, 2.0}) {
      MiniText text;
      text.set_fonts(fonts[0], fonts[1], dpr);
      for (const bool japanese : {false, true}) {
        const std::vector<MiniLine> lines = sample_lines(japanese);
        for (const std::uint32_t alerts : {0u, 0b10u}) {
          // Each way drawn twice and the second picture compared: QPainter's
          // first outlines of a large face at ratio 1.5 differ from its later
          // ones by a few steps.
          QImage want, got;
          for (int twice = 0; twice < 2; ++twice) {
            want = blank(dpr);
            draw_laid_out(want, fonts, lines, alerts);
          }
          for (int twice = 0; twice < 2; ++twice) {  // the second time from the kept images
            got = blank(dpr);
            text.draw(got, lines, QRect(0, 0, 330, 150), kMarginX, kMarginY, {kSlots, kBackground, kShadow}, alerts);
          }
          const std::string what = std::string(fc.name) + " " + std::to_string(fc.pixels) +
                                   (fc.bold ? " px bold" : " px") + " at ratio " + std::to_string(dpr) +
                                   (japanese ? ", Japanese" : "") + (alerts ? ", alert" : "");
          EXPECT_LE(max_difference(want, got), kTolerance) << what;
          EXPECT_EQ(ink(want), ink(got)) << what;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tw::ui
