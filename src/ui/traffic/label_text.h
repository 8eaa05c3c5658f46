#pragma once
// The traffic graph's labels as small images: one line of plain text with a
// halo (three pixels either side, in a darker colour, under the text drawn
// twice a pixel apart) or with a one-pixel shadow.
//
// render_label() lays the line out and draws it eleven (halo) or two (shadow)
// times. On a busy link most figures change every frame, and that layout and
// those runs of glyphs were the largest part of a frame, so
// LabelGlyphCache builds the same image from images of single characters,
// each drawn once per colour and sub-pixel position and then kept. It takes
// only lines of printable ASCII in a face it has checked: at construction it
// draws a sample line both ways and turns itself off unless the two agree in
// size and to within rounding (a channel or two) in every pixel, so a face
// with kerning or ligatures keeps the slow, exact way.
//
// Device pixels: on a screen scaled by a device pixel ratio (2 at 200 %,
// 1.5 at 150 %) the images have that many pixels per logical pixel, so the
// glyphs are rasterised at the screen's resolution instead of being scaled
// up. Sizes and offsets (the halo's reach, the shadow's offset) are logical
// pixels; positions inside an image are device pixels. An image's text
// starts `margin()` device pixels from its left and top edges plus a
// sub-pixel fraction (in 1/64 device pixel) to the right; the halo reaches
// one logical pixel left and above, four right (the halo three, the second
// copy of the text one) and one below. At ratio 1 the margin is one pixel.
//
// Threads: UI thread only (QPainter on images).
#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QRect>
#include <QStaticText>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>

namespace tw::ui {

enum class LabelStyle { Halo, Shadow };

// Where the text starts inside a label image, in device pixels, for a device
// pixel ratio: room for the halo's one logical pixel to the left and above.
int label_margin(qreal dpr);
// Width and height in device pixels of a label image for a line `width` x
// `height` logical pixels (as laid out) whose text starts `frac64`/64 device
// pixel right of the margin.
QSize label_image_size(qreal width, qreal height, qreal dpr, int frac64 = 0);

// The exact way: a laid-out line drawn with QPainter. `effect` is the halo
// or shadow colour. The image has the device pixel ratio `dpr`.
QImage render_label(const QFont& font, const QString& s, QRgb text, QRgb effect, LabelStyle style, qreal dpr = 1,
                    int frac64 = 0);
// The same with the line already laid out (prepared for `font`).
QImage render_label(const QFont& font, const QStaticText& st, QRgb text, QRgb effect, LabelStyle style,
                    qreal dpr = 1, int frac64 = 0);

// `src` (premultiplied ARGB) laid over `dst` (RGB32 or premultiplied ARGB)
// with its top-left corner at device pixel (x, y), only inside `clip`
// (device pixels of dst), as QPainter's source-over would lay it.
void blend_image(QImage& dst, const QImage& src, int x, int y, const QRect& clip);

class LabelGlyphCache {
 public:
  explicit LabelGlyphCache(const QFont& font, qreal dpr = 1);

  // The face passed its check.
  bool usable() const { return usable_; }
  qreal dpr() const { return dpr_; }
  // The line can be drawn from character images.
  bool accepts(const QString& s) const;
  // Width of the laid-out line in logical pixels, as render_label() measures
  // it; only for lines accepts() takes.
  int line_width(const QString& s) const;
  // Logical height of a laid-out line of the face.
  int line_height() const { return line_height_; }
  int space_width() const { return advance64_[' '] / 64; }
  // Advance of a character of a line accepts() takes, in 1/64 logical pixel.
  int advance64(QChar c) const { return advance64_[c.unicode()]; }
  // The same image as render_label(); only for lines accepts() takes.
  QImage render(const QString& s, QRgb text, QRgb effect, LabelStyle style) {
    return render(s, text, effect, style, 0, label_image_size(line_width(s), line_height_, dpr_).width());
  }
  // A part of a line: its text starts start64/64 (less than one) device
  // pixels right of where a line's text starts, in an image `width` device
  // pixels wide.
  QImage render(const QString& s, QRgb text, QRgb effect, LabelStyle style, int start64, int width);
  // That image laid over `target` (RGB32 or premultiplied ARGB, device
  // pixels) with its top-left corner at (x, y), only inside `clip`, with the
  // same bits as blend_image() of it, without making it: only the part
  // inside the clip is put together, in a kept buffer. For figures that
  // change every frame, whose images would never be used again.
  void draw(QImage& target, int x, int y, const QRect& clip, const QString& s, QRgb text, QRgb effect, LabelStyle style,
            int start64, int width);
  // Where characters [from, to) of such a part put ink in its image: the
  // pixels that can change when only they change.
  QRect ink(const QString& s, qsizetype from, qsizetype to, QRgb text, QRgb effect, LabelStyle style, int start64);
  // Height in device pixels of the images.
  int image_height() const { return image_height_; }
  // Pen position of character `to` of such a line, in 1/64 logical pixel.
  qint64 pen64(const QString& s, qsizetype to) const;

 private:
  // A character's two layers, drawn at one sub-pixel offset: the halo or
  // shadow, and the text over it. Each is as tall as the label image and
  // starts margin_ device pixels left of where the character's cell does.
  struct Layers {
    // Only the inked part of each is kept: most of a layer is margin, and
    // the cache holds a face's characters in every colour and sub-pixel
    // offset it met.
    QImage effect, text;
    QRect effect_box, text_box;  // where each has ink in the whole layer
    const uchar* effect_bits = nullptr;  // their pixels, read without QImage's out-of-line calls
    const uchar* text_bits = nullptr;
    qsizetype effect_bpl = 0, text_bpl = 0;
  };
  const Layers& layers(char16_t c, int frac64, QRgb text, QRgb effect, LabelStyle style);
  const Layers* kept(quint64 key) const;
  // Device pixels of a character's layers, margins included.
  int layer_width(char16_t c) const { return layer_width_[c]; }
  // Lays the layers of `s` (a part as render() takes it) that reach into
  // `region` (pixels of the part's image) over the pixels at `bits`, which
  // hold the region's top-left pixel.
  void compose(uchar* bits, qsizetype bpl, const QRect& region, const QString& s, QRgb text, QRgb effect,
               LabelStyle style, int start64);

  QFont font_;
  qreal dpr_ = 1;
  bool usable_ = false;
  int margin_ = 0;       // device pixels either side of a character's layers
  int line_height_ = 0;  // QSizeF(0, height).toSize().height() of the line
  std::array<int, 128> advance64_{};  // advance of each printable ASCII character, in 1/64 px
  std::array<int, 128> layer_width_{};
  int image_height_ = 0;
  QHash<quint64, Layers> cache_;
  struct Recent {
    quint64 key = 0;  // no key is 0: a character is 0x20 or more
    const Layers* layers = nullptr;
  };
  std::array<Recent, 1024> recent_{};
  QImage scratch_;  // draw()'s buffer, kept for its size
};

// Where the speed labels over the traffic graph go: two rows (the maxima,
// then the smoothed speeds), each with a send and a receive label
// "<head> <integer>.<fraction> <unit>". The rows are as far apart as the
// labels are tall as laid out (a Japanese head may come from a taller
// fallback face) plus their halos, and never closer than `font_size`; the
// first row's halo keeps a pixel clear of the top edge. Both rows share the columns: a
// column is as wide as its widest label, and its integers end at one x.
struct SpeedLabelGrid {
  std::array<int, 2> row_top{};      // top of each row's text
  std::array<int, 2> column_x{};     // where each column's heads start
  std::array<int, 2> integer_end{};  // where each column's integers end
  int line_height = 0;               // the rows' laid-out text height
};
// Width of a line as the graph draws it.
using LabelWidth = std::function<int(const QString&)>;
// heads[row][column] are the label texts without their trailing space;
// `integer_template` is as wide as the widest integer, `value_template` as
// the widest value with its unit.
SpeedLabelGrid speed_label_grid(const QFont& font, int font_size, int left,
                                const std::array<std::array<QString, 2>, 2>& heads, const LabelWidth& width,
                                const QString& integer_template, const QString& value_template);

}  // namespace tw::ui
