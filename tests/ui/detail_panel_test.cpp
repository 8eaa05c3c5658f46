// The traffic graph's panel text drawn in pieces: figures put together only
// inside their clip and kept images must give the bits of one whole drawing.
#include <QFontMetrics>
#include <QImage>

#include <gtest/gtest.h>

#include <vector>

#include "ui/traffic/label_image_cache.h"
#include "ui/traffic/label_text.h"

namespace tw::ui {
namespace {

constexpr QRgb kText = 0xFFF0F0F0u, kEffect = 0xFF203040u;
constexpr QRgb kBack = 0xFF142896u;

QFont panel_face() {
  QFont f(QStringLiteral("Lucida Console"));
  f.setStyleHint(QFont::Monospace);
  f.setFixedPitch(true);
  f.setPixelSize(12);
  // As the graph sizes it: a line no taller than 12 pixels.
  const int line = QFontMetrics(f).height();
  if (line > 12) f.setPixelSize((144 + line / 2) / line);
  return f;
}

QImage backdrop(QSize logical, qreal dpr) {
  QImage img((QSizeF(logical) * dpr).toSize(), QImage::Format_RGB32);
  img.setDevicePixelRatio(dpr);
  img.fill(kBack);
  return img;
}

// Figures and captions as the panel shows them, a line the character images
// cannot draw, and runs of spaces inside a figure.
const std::vector<QString>& lines() {
  static const std::vector<QString> all = {
      QStringLiteral("Total Upload    (Gross)    59.579 MB (  59.579 MB)"),
      QStringLiteral("Unicast packets Send      403,948 packet"), QStringLiteral("  12  34  "),
      QString::fromUtf8("送信  12 KB/s")};
  return all;
}

// A clipped label is the whole label inside the clip and nothing outside,
// whether it is put together on the spot, made into a kept image (its second
// whole drawing) or taken from the cache; at ratio 1 and at 1.5.
TEST(LabelImageCache, ClippedLabelsAreTheWholeLabelInsideTheClip) {
  for (qreal dpr : {1.0, 1.5}) {
    for (const QString& s : lines()) {
      for (LabelStyle style : {LabelStyle::Halo, LabelStyle::Shadow}) {
        SCOPED_TRACE(testing::Message() << dpr << " " << s.toStdString() << " " << int(style));
        LabelImageCache first, twice;
        first.set_fonts({panel_face()}, dpr);
        twice.set_fonts({panel_face()}, dpr);
        QImage whole = backdrop(QSize(420, 30), dpr);
        first.draw_label(whole, whole.rect(), 0, 10, 5, s, kText, kEffect, style);
        ASSERT_NE(whole, backdrop(QSize(420, 30), dpr));
        for (int i = 0; i < 2; ++i) {  // the second whole drawing keeps the images
          QImage img = backdrop(QSize(420, 30), dpr);
          twice.draw_label(img, img.rect(), 0, 10, 5, s, kText, kEffect, style);
          ASSERT_EQ(img, whole);
        }
        // Through glyphs and the halo, across a part's edge, all rows.
        for (const QRect clip : {QRect(37, 9, 61, 9), QRect(90, 0, 500, 12), QRect(0, 0, 150, 40)}) {
          LabelImageCache fresh;
          fresh.set_fonts({panel_face()}, dpr);
          for (LabelImageCache* cache : {&fresh, &twice}) {
            QImage got = backdrop(QSize(420, 30), dpr);
            cache->draw_label(got, clip, 0, 10, 5, s, kText, kEffect, style);
            for (int y = 0; y < got.height(); ++y)
              for (int x = 0; x < got.width(); ++x)
                ASSERT_EQ(got.pixel(x, y), clip.contains(x, y) ? whole.pixel(x, y) : kBack)
                    << (cache == &fresh ? "put together" : "kept") << " at " << x << "," << y;
          }
        }
      }
    }
  }
}

// Every pixel in which two labels at one place differ lies in label_change();
// a changed figure leaves its caption out, a line cut differently or with
// wider characters gets its rows across.
TEST(LabelImageCache, ChangeHoldsEveryPixelThatDiffers) {
  const QString caption = QStringLiteral("Total Upload    (Gross)    ");
  const struct {
    QString before, after;
    bool small;
  } pairs[] = {
      {caption + "59.579 MB (  59.579 MB)", caption + "59.612 MB (  59.612 MB)", true},
      {caption + "59.579 MB (  59.579 MB)", caption + "59.579 MB (  59.580 MB)", true},
      {caption + "59.888 MB (  59.888 MB)", caption + "59.111 MB (  59.111 MB)", true},
      {caption + "99.999 MB (  99.999 MB)", caption + "100.000 MB ( 100.000 MB)", false},
      {caption + "9.9 MB", caption + "9  9 MB", false},
      {QString::fromUtf8("送信  12 KB/s"), QString::fromUtf8("送信  13 KB/s"), false},
      {caption + "1 B", caption + "1 B", true},
  };
  for (qreal dpr : {1.0, 1.5, 2.0}) {
    for (const auto& pair : pairs) {
      for (LabelStyle style : {LabelStyle::Halo, LabelStyle::Shadow}) {
        SCOPED_TRACE(testing::Message() << dpr << " " << pair.after.toStdString() << " " << int(style));
        LabelImageCache cache;
        cache.set_fonts({panel_face()}, dpr);
        // At 150 % this face fails the character images' check: whole lines.
        const bool glyphs = LabelGlyphCache(panel_face(), dpr).usable();
        if (dpr != 1.5) {
          ASSERT_TRUE(glyphs);
        }
        QImage a = backdrop(QSize(460, 30), dpr), b = backdrop(QSize(460, 30), dpr);
        cache.draw_label(a, a.rect(), 0, 7, 6, pair.before, kText, kEffect, style);
        cache.draw_label(b, b.rect(), 0, 7, 6, pair.after, kText, kEffect, style);
        const QRect r = cache.label_change(0, 7, 6, pair.before, pair.after, kText, kEffect, style);
        int differing = 0;
        for (int y = 0; y < a.height(); ++y)
          for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) {
              ++differing;
              ASSERT_TRUE(r.contains(x, y)) << x << "," << y << " outside " << r.x() << "," << r.y() << " "
                                            << r.width() << "x" << r.height();
            }
        EXPECT_EQ(differing > 0, !r.isEmpty());
        // The caption's own pixels are left alone when only figures change.
        if (!pair.small || !glyphs) {
          EXPECT_TRUE(r.isEmpty() || r.left() <= 0);
        } else if (!r.isEmpty()) {
          EXPECT_GT(r.left(), (7 + QFontMetrics(panel_face()).horizontalAdvance(caption.trimmed())) * dpr);
        }
      }
    }
  }
}

}  // namespace
}  // namespace tw::ui
