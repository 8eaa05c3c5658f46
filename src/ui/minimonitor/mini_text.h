#pragma once
// The Mini Monitor's lines of text, laid over its picture. On a busy link its
// figures change on every refresh, and laying each new figure out and
// drawing its runs of glyphs twice (shadow, then text) was most of the
// window's cost: lines of printable ASCII are put together from images of
// single characters instead (LabelImageCache), to within rounding the same
// pixels. What those images cannot reproduce keeps the laid-out way: other
// lines (Japanese words), a face that failed their check (kerning), alert
// rows, screens at a fractional device pixel ratio (1.5), and faces above 48
// device pixels (their images grow with the square of the size, and past 64
// QPainter draws outlines at their exact sub-pixel position).
//
// Threads: UI thread only.
#include <QColor>
#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QRect>
#include <QString>

#include <array>
#include <cstdint>
#include <span>

#include "traffic/mini_monitor_logic.h"
#include "ui/traffic/label_image_cache.h"

class QImage;
class QPainter;

namespace tw::ui {

struct MiniTextColors {
  std::span<const QRgb> by_slot;  // by colour slot (traffic::kMiniSendSpeed ...)
  QRgb background = 0;            // an alert row's text
  QRgb shadow = 0;                // every other text's one-pixel shadow, at (+1, +1)
};

class MiniText {
 public:
  // Face 0 is the small font, 1 the large; the pictures are drawn at device
  // pixel ratio `dpr`. Forgets everything kept.
  void set_fonts(const QFont& small, const QFont& large, qreal dpr);
  qreal dpr() const { return dpr_; }

  // Lays `lines` over `frame` (an image of ratio dpr()) from logical
  // (area.left() + margin_x, area.top() + margin_y) down: each line a face's
  // height below the last, its baseline the face's ascent below its top,
  // each segment where the one before ends (its advance rounded to a pixel).
  // Line i with bit i of `alerts` set is a row filled across `area` in its
  // first segment's colour, its text in the background colour without shadow.
  void draw(QImage& frame, std::span<const traffic::MiniLine> lines, const QRect& area, int margin_x, int margin_y,
            const MiniTextColors& colors, std::uint32_t alerts);

 private:
  // A segment's text laid out once in a face and kept: its glyphs, the
  // ascent of its line (the glyphs' baseline from the layout's top) and its
  // advance.
  struct ShapedText {
    QList<QGlyphRun> runs;
    qreal ascent = 0;
    int advance = 0;
  };
  const ShapedText& shaped(int face, const QString& text);

  std::array<QFont, 2> fonts_;
  qreal dpr_ = 1;
  std::array<bool, 2> images_{};  // the face is small enough for character images
  LabelImageCache labels_;
  std::array<QHash<QString, ShapedText>, 2> shaped_;
};

}  // namespace tw::ui
