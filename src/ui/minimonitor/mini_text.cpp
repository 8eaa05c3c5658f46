#include "ui/minimonitor/mini_text.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QTextLayout>

#include <cmath>
#include <optional>

#include "ui/common/qt_text.h"

namespace tw::ui {

namespace {
// Faces up to this many device pixels are put together from character
// images. QPainter draws glyphs above 64 as outlines at their exact sub-pixel
// position, which images placed on whole device rows cannot match; and a
// character's two layers grow with the square of the size, so that the
// images of a face at 64 pixels (FontSize 32) took some 25 MB.
constexpr qreal kLargestImagedFace = 48;
}  // namespace

void MiniText::set_fonts(const QFont& small, const QFont& large, qreal dpr) {
  fonts_ = {small, large};
  dpr_ = dpr > 0 ? dpr : 1;
  // At a fractional ratio the shadow lies a pixel and a half from the text:
  // whether that rounds to one device pixel or two depends on the line's
  // row, which images drawn once cannot follow.
  const bool whole_ratio = std::floor(dpr_) == dpr_;
  for (std::size_t f = 0; f < 2; ++f)
    images_[f] = whole_ratio && QFontInfo(fonts_[f]).pixelSize() * dpr_ <= kLargestImagedFace;
  labels_.set_fonts({small, large}, dpr_);
  for (auto& cache : shaped_) cache.clear();
}

void MiniText::draw(QImage& frame, std::span<const traffic::MiniLine> lines, const QRect& area, int margin_x,
                    int margin_y, const MiniTextColors& colors, std::uint32_t alerts) {
  // Each face's metrics once a picture: every look-up goes through the font cache.
  const QFontMetrics small_metrics(fonts_[0]), large_metrics(fonts_[1]);
  const int ascents[2] = {small_metrics.ascent(), large_metrics.ascent()};
  const int heights[2] = {small_metrics.height(), large_metrics.height()};
  const auto slot = [&](int s) { return QColor::fromRgb(colors.by_slot[static_cast<std::size_t>(s)]); };
  // Opened for laid-out text only, and closed before character images are
  // laid into the frame's pixels behind its back.
  std::optional<QPainter> painter;
  const auto paint = [&]() -> QPainter& {
    if (!painter) painter.emplace(&frame);
    return *painter;
  };
  int y = area.top() + margin_y;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const traffic::MiniLine& line = lines[i];
    const int f = line.large ? 1 : 0;
    const bool alert = i < 32 && (alerts >> i & 1u);
    int x = area.left() + margin_x;
    const int baseline = y + ascents[f];
    if (alert) paint().fillRect(area.left(), y, area.width(), heights[f], slot(line.segments.front().color));
    for (const traffic::MiniSegment& seg : line.segments) {
      const QString s = qs(seg.text);
      if (!alert && images_[static_cast<std::size_t>(f)] && labels_.composes(f, s)) {
        painter.reset();
        // Where QPainter puts the glyphs of a baseline on a logical row: the
        // nearest device row.
        const int row = static_cast<int>(std::floor(baseline * dpr_ + 0.5));
        labels_.draw_label_on_baseline(frame, frame.rect(), f, x, row, s,
                                       colors.by_slot[static_cast<std::size_t>(seg.color)], colors.shadow,
                                       LabelStyle::Shadow);
        x += labels_.advance_width(f, s);
        continue;
      }
      const ShapedText& t = shaped(f, s);
      QPainter& p = paint();
      if (!alert) {
        p.setPen(QColor::fromRgb(colors.shadow));
        for (const QGlyphRun& run : t.runs) p.drawGlyphRun(QPointF(x + 1, baseline + 1 - t.ascent), run);
      }
      p.setPen(alert ? QColor::fromRgb(colors.background) : slot(seg.color));
      for (const QGlyphRun& run : t.runs) p.drawGlyphRun(QPointF(x, baseline - t.ascent), run);
      x += t.advance;
    }
    y += heights[f];
  }
}

const MiniText::ShapedText& MiniText::shaped(int face, const QString& text) {
  auto& cache = shaped_[static_cast<std::size_t>(face)];
  if (const auto it = cache.find(text); it != cache.end()) return it.value();
  // The figures change every refresh and their texts seldom come back: a
  // full cache starts over.
  if (cache.size() >= 256) cache.clear();
  QTextLayout layout(text, fonts_[static_cast<std::size_t>(face)]);
  layout.beginLayout();
  const QTextLine line = layout.createLine();
  layout.endLayout();
  ShapedText t;
  t.runs = layout.glyphRuns();
  t.ascent = line.ascent();
  // The advance of the line just laid out: QFontMetrics::horizontalAdvance
  // would lay the text out a second time for the same figure.
  t.advance = qRound(line.horizontalAdvance());
  return *cache.insert(text, t);
}

}  // namespace tw::ui
