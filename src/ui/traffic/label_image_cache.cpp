#include "ui/traffic/label_image_cache.h"

#include <QFontMetrics>
#include <QPainter>

#include <cmath>

namespace tw::ui {

LabelImageCache::LabelImageCache() = default;
LabelImageCache::~LabelImageCache() = default;

void LabelImageCache::set_fonts(std::vector<QFont> fonts, qreal dpr) {
  fonts_ = std::move(fonts);
  dpr_ = dpr > 0 ? dpr : 1;
  texts_.clear();
  texts_.resize(fonts_.size());
  glyphs_.clear();
  glyphs_.resize(fonts_.size());
  images_.clear();
  image_bytes_ = 0;
}

const QStaticText& LabelImageCache::text(int face, const QString& s) {
  auto& cache = texts_[static_cast<std::size_t>(face)];
  auto it = cache.find(s);
  if (it != cache.end()) return *it;
  // Lines of the latest-speed readout never come back; a full cache starts over.
  if (cache.size() >= 2048) cache.clear();
  QStaticText st(s);
  st.setTextFormat(Qt::PlainText);
  st.prepare(QTransform(), font(face));
  return *cache.insert(s, st);
}

void LabelImageCache::draw_text(QPainter& p, int face, int x, int top, const QString& s, QRgb color) {
  const QStaticText& st = text(face, s);
  p.setFont(font(face));
  p.setPen(QColor::fromRgb(color));
  p.drawStaticText(x, top, st);
}

LabelGlyphCache& LabelImageCache::glyphs(int face) {
  // Made when first needed: its check of the face draws a sample line.
  auto& g = glyphs_[static_cast<std::size_t>(face)];
  if (!g) g = std::make_unique<LabelGlyphCache>(font(face), dpr_);
  return *g;
}

int LabelImageCache::advance_width(int face, const QString& s) {
  LabelGlyphCache& g = glyphs(face);
  return g.accepts(s) ? g.line_width(s) : QFontMetrics(font(face)).horizontalAdvance(s);
}

int LabelImageCache::label_height(int face, const QString& s) {
  LabelGlyphCache& g = glyphs(face);
  return (g.accepts(s) ? g.line_height() : text(face, s).size().toSize().height()) + 2;
}

int LabelImageCache::text_width(int face, const QString& s) {
  LabelGlyphCache& g = glyphs(face);
  return g.accepts(s) ? g.line_width(s) : text(face, s).size().toSize().width();
}

const QImage& LabelImageCache::image(int face, const QString& s, QRgb text_color, QRgb effect, LabelStyle style,
                                     int frac64, int width) {
  // The key is built in a kept buffer: a look-up that finds its image
  // allocates nothing.
  QString& key = key_;
  key.clear();
  key.append(QChar(static_cast<char16_t>(face * 2 + (style == LabelStyle::Halo ? 1 : 0))));
  for (QRgb c : {text_color, effect}) {
    key.append(QChar(static_cast<char16_t>(c & 0xFFFF)));
    key.append(QChar(static_cast<char16_t>(c >> 16)));
  }
  key.append(QChar(static_cast<char16_t>(frac64)));
  key.append(QChar(static_cast<char16_t>(width)));  // -1 (a whole line) becomes 0xFFFF
  key.append(s);
  auto it = images_.find(key);
  if (it != images_.end()) return *it;
  if (image_bytes_ > (2 << 20)) {
    images_.clear();
    image_bytes_ = 0;
  }
  LabelGlyphCache& g = glyphs(face);
  const QImage img = !g.accepts(s) ? render_label(font(face), text(face, s), text_color, effect, style, dpr_, frac64)
                     : width < 0   ? g.render(s, text_color, effect, style)
                                   : g.render(s, text_color, effect, style, frac64, width);
  image_bytes_ += img.sizeInBytes();
  return *images_.insert(key, img);
}

void LabelImageCache::draw_label(QImage& target, const QRect& clip, int face, int x, int top, const QString& s,
                                 QRgb text_color, QRgb effect, LabelStyle style) {
  LabelGlyphCache& g = glyphs(face);
  const int margin = label_margin(dpr_);
  // Where the line's text starts, in 1/64 device pixel, and the device row of
  // its images' top edge.
  const qint64 line64 = device64(qint64{x} * 64);
  const int y = (dpr_ == 1 ? top : static_cast<int>(std::floor(top * dpr_ + 0.5))) - margin;
  const auto place = [&](qint64 at64) { return static_cast<int>(at64 >> 6) - margin; };
  // Panel and readout lines are a fixed caption and a changing figure, set
  // apart by runs of spaces. Cut there, the caption's image is found in the
  // cache and only the figure is drawn anew. Each part keeps its sub-pixel
  // position, and the parts' halos and shadows reach at most four pixels
  // beyond their text, so parts two spaces apart never touch: the frame gets
  // the same pixels as from one image of the line.
  if (!g.accepts(s) || g.space_width() < 5) {
    blend_image(target, image(face, s, text_color, effect, style, static_cast<int>(line64 & 63), -1), place(line64), y,
                clip);
    return;
  }
  const qsizetype n = s.size();
  const auto gap_at = [&](qsizetype i) { return s[i] == u' ' && i + 1 < n && s[i + 1] == u' '; };
  // Where the line's image would end.
  const int line_right =
      place(line64) + label_image_size(g.line_width(s), g.line_height(), dpr_, static_cast<int>(line64 & 63)).width();
  const int spare = label_image_size(g.space_width(), 0, dpr_).width() - margin;  // halo and a space
  qsizetype i = 0;
  while (i < n) {
    while (i < n && s[i] == u' ') ++i;
    if (i >= n) break;
    qsizetype end = i;
    while (end < n && !gap_at(end)) ++end;
    qsizetype rest = end;
    while (rest < n && s[rest] == u' ') ++rest;
    const qint64 start = line64 + device64(g.pen64(s, i));
    const int left = place(start), frac = static_cast<int>(start & 63);
    // The last part ends where the line's image would, which may clip its
    // halo; the others get room to spare inside their gap.
    const qint64 stop = line64 + device64(g.pen64(s, end));
    const int width = rest == n ? line_right - left : static_cast<int>((stop - (start & ~qint64{63}) + 63) >> 6) + margin + spare;
    part_.setRawData(s.constData() + i, end - i);
    blend_image(target, image(face, part_, text_color, effect, style, frac, width), left, y, clip);
    i = end;
  }
  part_.clear();
}

}  // namespace tw::ui
