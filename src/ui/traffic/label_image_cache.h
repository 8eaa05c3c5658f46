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
// colours, placement and text, and kept only for what comes back: a part
// drawn whole the first time is drawn straight from the character images,
// its image made and kept the second time. Figures that change every frame
// so never pass through the cache; past a couple of megabytes all images
// are dropped and the cache starts over.
//
// Threads: UI thread only (QPainter on images).
#include <QFont>
#include <QHash>
#include <QImage>
#include <QStaticText>
#include <QString>

#include <array>
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
  // draw_label puts the line together from character images (the face
  // passed their check and the line is theirs) rather than laying it out.
  bool composes(int face, const QString& s) { return glyphs(face).accepts(s); }
  // Plain text, drawn through QPainter (no image kept).
  void draw_text(QPainter& p, int face, int x, int top, const QString& s, QRgb color);
  // A label with its halo or shadow in `effect`, the text starting at
  // logical (x, top), laid over `target` (an image of the cache's ratio)
  // inside `clip` (device pixels), in parts where it can be cut.
  void draw_label(QImage& target, const QRect& clip, int face, int x, int top, const QString& s, QRgb text,
                  QRgb effect, LabelStyle style);
  // The same with the text's baseline on device row `baseline` of the
  // target, where QPainter puts the glyphs of a line drawn with its baseline
  // on a logical row: on a scaled screen (ratio 1.5 or 2) a line's top on a
  // logical row puts its baseline on the device row nearest the ascent,
  // which can be a row away.
  void draw_label_on_baseline(QImage& target, const QRect& clip, int face, int x, int baseline, const QString& s,
                              QRgb text, QRgb effect, LabelStyle style);
  // Logical rows a label of `s` covers from one above its text's top.
  int label_height(int face, const QString& s);
  // QFontMetrics::horizontalAdvance, from the glyph cache's advances where it can.
  int advance_width(int face, const QString& s);
  // Width of a laid-out line, without laying it out where the glyph cache can tell.
  int text_width(int face, const QString& s);
  // The device pixels of a target in which a label of `after` drawn there
  // by draw_label() may differ from one of `before`: where the characters
  // that changed put their ink, when the two lines are cut alike and the
  // new characters are as wide as the old; otherwise the label's rows
  // across any width. Empty for the same text.
  QRect label_change(int face, int x, int top, const QString& before, const QString& after, QRgb text, QRgb effect,
                     LabelStyle style);

 private:
  // A kept image's look-up key, in a kept buffer. frac64 and width place a part
  // of a line (LabelGlyphCache::render); a negative width means a whole line.
  QString& key(int face, const QString& s, QRgb text, QRgb effect, LabelStyle style, int frac64, int width);
  // The key was drawn whole before; if not, notes it when `whole`.
  bool seen_before(const QString& key, bool whole);
  void keep(const QString& key, const QImage& img);
  // A part of a line whose image's top-left corner lies at device (left, y).
  void draw_part(QImage& target, const QRect& clip, int face, const QString& s, QRgb text, QRgb effect,
                 LabelStyle style, int left, int y, int frac64, int width);
  // The line is drawn in parts cut at its runs of spaces.
  static bool in_parts(LabelGlyphCache& g, const QString& s);
  // Calls part(first, end, left, frac64, width) for each part of a line
  // whose text starts at line64 (1/64 device pixel): its characters, its
  // image's left edge and width, and where its text starts in the image.
  template <class Part>
  void for_each_part(LabelGlyphCache& g, const QString& s, qint64 line64, Part part) const;
  // Logical distance from the top of the line `s` as laid out to its baseline.
  qreal ascent(int face, const QString& s);
  // Device row of the top edge of the images of a label whose text starts at logical row `top`.
  int device_row(int top) const;
  // draw_label with the top edge of the label's images on device row `y`.
  void draw_label_at_row(QImage& target, const QRect& clip, int face, int x, int y, const QString& s, QRgb text,
                         QRgb effect, LabelStyle style);
  // Device rows of the image of a whole label.
  int image_height(int face, const QString& s);
  // Logical pixels in 1/64 device pixel.
  qint64 device64(qint64 logical64) const {
    return dpr_ == 1 ? logical64 : qRound64(static_cast<qreal>(logical64) * dpr_);
  }
  LabelGlyphCache& glyphs(int face);

  std::vector<QFont> fonts_;
  qreal dpr_ = 1;
  std::vector<QHash<QString, QStaticText>> texts_;
  std::vector<qreal> face_ascents_;  // of each face's own glyphs
  // Label images of lines not seen before are put together from character
  // images: numbers that change every frame would otherwise be laid out and
  // drawn eleven times a frame.
  std::vector<std::unique_ptr<LabelGlyphCache>> glyphs_;
  QHash<QString, QImage> images_;
  qsizetype image_bytes_ = 0;
  // Hashes of keys drawn whole once, by a hash's slot: an image is made and
  // kept only when its key comes back.
  std::array<std::size_t, 512> seen_{};
  QString part_;  // a view into the line being cut, for look-ups
  QString key_;   // image()'s look-up key, kept for its capacity
};

}  // namespace tw::ui
