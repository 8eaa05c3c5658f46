// The traffic graph's panel text drawn in pieces: figures put together only
// inside their clip, kept images, and a panel that mends only what a new
// figure changed must all give the bits of one whole drawing.
#include <QFontMetrics>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "traffic/traffic_monitor.h"
#include "ui/traffic/detail_panel.h"
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
  static const std::vector<QString> all = {QStringLiteral("Total Upload    (Gross)    59.579 MB (  59.579 MB)"),
                                           QStringLiteral("Unicast packets Send      403,948 packet"),
                                           QStringLiteral("  12  34  "), QString::fromUtf8("送信  12 KB/s")};
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
        if (dpr != 1.5) { ASSERT_TRUE(glyphs); }
        QImage a = backdrop(QSize(460, 30), dpr), b = backdrop(QSize(460, 30), dpr);
        cache.draw_label(a, a.rect(), 0, 7, 6, pair.before, kText, kEffect, style);
        cache.draw_label(b, b.rect(), 0, 7, 6, pair.after, kText, kEffect, style);
        const QRect r = cache.label_change(0, 7, 6, pair.before, pair.after, kText, kEffect, style);
        int differing = 0;
        for (int y = 0; y < a.height(); ++y)
          for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) {
              ++differing;
              ASSERT_TRUE(r.contains(x, y))
                  << x << "," << y << " outside " << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
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

// A panel drawn over its last frame, where only what changed is mended,
// matches a new panel drawing the same content whole, and says where it
// changed the frame, frame after frame:
// figures that change a digit, grow, move their spaces, lines that come and
// go with the panel's height, left column widths that change.
TEST(DetailPanel, MendedFramesMatchWholeOnes) {
  for (qreal dpr : {1.0, 1.5, 2.0}) {
    SCOPED_TRACE(dpr);
    LabelImageCache labels;
    labels.set_fonts({panel_face()}, dpr);
    DetailPanel kept;
    QImage frame = backdrop(QSize(803, 440), dpr);
    traffic::InterfaceSnapshot snap;
    snap.description = "eth0";
    snap.oper_status = 5;
    snap.link_speed_bps = 1000000000;
    std::vector<std::string> transfer;
    DetailPanel::Content content;
    content.text = 0xE0E0E0;
    content.shadow = 0x202020;
    content.background = 0x100000;
    content.snapshot = &snap;
    content.transfer_lines = &transfer;
    for (int i = 0; i < 40; ++i) {
      SCOPED_TRACE(i);
      const std::string total = std::to_string(99990 + 3 * i);  // grows a digit at i == 4
      transfer = {"Capture Time            0h 00m " + std::to_string(10 + i / 8) + "s",
                  "Total Upload    (Gross)   " + total.substr(0, total.size() - 3) + "." +
                      total.substr(total.size() - 3) + " MB (  " + std::to_string(i) + " MB)",
                  i % 5 == 2 ? "Graph Scale  1/" + std::to_string(1 << (i % 11)) + " Auto" : "Graph Scale 1/64 Auto"};
      snap.in_ucast_pkts = 7 * static_cast<std::uint64_t>(i) * i;
      if (i == 20) snap.description = "a much longer interface name";  // the left column widens
      content.height = i < 30 ? 130 : (i < 35 ? 20 : 80);              // closed, then lines cut off
      QRegion dirty;
      const QImage last = frame.copy();
      kept.draw(frame, QSize(803, 440), labels, 0, content, dirty);
      // What the screen must be given again holds every pixel that changed.
      const QRect shown = dirty.boundingRect();
      for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
          if (frame.pixel(x, y) != last.pixel(x, y)) {
            ASSERT_TRUE(shown.contains(static_cast<int>(x / dpr), static_cast<int>(y / dpr))) << x << "," << y;
          }
      DetailPanel whole;
      QImage want = backdrop(QSize(803, 440), dpr);
      whole.draw(want, QSize(803, 440), labels, 0, content, dirty);
      // The panel's rows: those above it are the graph's.
      const int top = static_cast<int>((440 - std::min(content.height, 440)) * dpr);
      ASSERT_EQ(frame.copy(0, top, frame.width(), frame.height() - top),
                want.copy(0, top, want.width(), want.height() - top));
    }
  }
}

}  // namespace
}  // namespace tw::ui
