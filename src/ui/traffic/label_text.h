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
// Both images have the same geometry: the text starts at (1, 1); the halo
// reaches one pixel left and above, three right and one below.
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

// The exact way: a laid-out line drawn with QPainter. `effect` is the halo
// or shadow colour.
QImage render_label(const QFont& font, const QString& s, QRgb text, QRgb effect, LabelStyle style);
// The same with the line already laid out (prepared for `font`).
QImage render_label(const QFont& font, const QStaticText& st, QRgb text, QRgb effect, LabelStyle style);

class LabelGlyphCache {
 public:
  explicit LabelGlyphCache(const QFont& font);

  // The face passed its check.
  bool usable() const { return usable_; }
  // The line can be drawn from character images.
  bool accepts(const QString& s) const;
  // Width and height of the laid-out line, as render_label() measures them;
  // only for lines accepts() takes.
  int line_width(const QString& s) const;
  int space_width() const { return advance64_[' '] / 64; }
  // The same image as render_label(); only for lines accepts() takes.
  QImage render(const QString& s, QRgb text, QRgb effect, LabelStyle style) {
    return render(s, text, effect, style, 0, line_width(s) + 5);
  }
  // A part of a line: its text starts start64/64 (less than one) pixels
  // right of where a line's text starts, in an image `width` pixels wide.
  QImage render(const QString& s, QRgb text, QRgb effect, LabelStyle style, int start64, int width);
  // Pen position of character `to` of such a line, in 1/64 px.
  qint64 pen64(const QString& s, qsizetype to) const;

 private:
  // A character's two layers, drawn at one sub-pixel offset: the halo or
  // shadow, and the text over it. Each is as tall as the label image and
  // starts kMargin pixels left of where the character's cell does.
  struct Layers {
    QImage effect, text;
    QRect effect_box, text_box;  // where each has ink
  };
  const Layers& layers(char16_t c, int frac64, QRgb text, QRgb effect, LabelStyle style);

  QFont font_;
  bool usable_ = false;
  int margin_ = 0;
  int line_height_ = 0;  // QSizeF(0, height).toSize().height() of the line
  qreal height_f_ = 0;
  std::array<int, 128> advance64_{};  // advance of each printable ASCII character, in 1/64 px
  QHash<quint64, Layers> cache_;
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
