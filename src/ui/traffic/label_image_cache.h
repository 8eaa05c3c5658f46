#pragma once
// The traffic graph's text, kept between frames: the same lines come back
// frame after frame, and a label with its halo is eleven runs of glyphs.
// For each of a few faces it keeps the laid-out lines (QStaticText), the
// character images of LabelGlyphCache, and the finished label images with
// their halo or shadow, so that a label already seen is one blit.
//
// Faces are numbered by the caller (set_fonts); set_fonts() forgets
// everything kept. The images are made for one device pixel ratio, given
// with the faces: positions are logical pixels, the target and its clip
// device pixels (see label_text.h). Finished images are told apart by face, style, both
// colours, placement and text; past a couple of megabytes (readouts that
// change every frame) they are all dropped and the cache starts over.
//
// Threads: UI thread only (QPainter on images).
#include <QFont>
#include <QHash>
#include <QImage>
#include <QStaticText>
#include <QString>

#include <memory>
#include <vector>

#include "ui/traffic/label_text.h"

class QPainter;

namespace tw::ui {

class LabelImageCache {
 public:
  LabelImageCache();
  ~LabelImageCache();

  // Replaces the faces and the device pixel ratio, and forgets all that was kept.
  void set_fonts(std::vector<QFont> fonts, qreal dpr = 1);
  const QFont& font(int face) const { return fonts_[static_cast<std::size_t>(face)]; }
  qreal dpr() const { return dpr_; }

  // The line laid out in the face.
  const QStaticText& text(int face, const QString& s);
  // Plain text, drawn through QPainter (no image kept).
  void draw_text(QPainter& p, int face, int x, int top, const QString& s, QRgb color);
  // A label with its halo or shadow in `effect`, the text starting at
  // logical (x, top), laid over `target` (an image of the cache's ratio)
  // inside `clip` (device pixels), in parts where it can be cut.
  void draw_label(QImage& target, const QRect& clip, int face, int x, int top, const QString& s, QRgb text,
                  QRgb effect, LabelStyle style);
  // Logical rows a label of `s` covers from one above its text's top.
  int label_height(int face, const QString& s);
  // QFontMetrics::horizontalAdvance, from the glyph cache's advances where it can.
  int advance_width(int face, const QString& s);
  // Width of a laid-out line, without laying it out where the glyph cache can tell.
  int text_width(int face, const QString& s);

 private:
  // frac64 and width place a part of a line (LabelGlyphCache::render); a
  // negative width means a whole line.
  const QImage& image(int face, const QString& s, QRgb text, QRgb effect, LabelStyle style, int frac64, int width);
  // Logical pixels in 1/64 device pixel.
  qint64 device64(qint64 logical64) const {
    return dpr_ == 1 ? logical64 : qRound64(static_cast<qreal>(logical64) * dpr_);
  }
  LabelGlyphCache& glyphs(int face);

  std::vector<QFont> fonts_;
  qreal dpr_ = 1;
  std::vector<QHash<QString, QStaticText>> texts_;
  // Label images of lines not seen before are put together from character
  // images: numbers that change every frame would otherwise be laid out and
  // drawn eleven times a frame.
  std::vector<std::unique_ptr<LabelGlyphCache>> glyphs_;
  QHash<QString, QImage> images_;
  qsizetype image_bytes_ = 0;
  QString part_;  // a view into the line being cut, for look-ups
  QString key_;   // image()'s look-up key, kept for its capacity
};

}  // namespace tw::ui
