#include "ui/traffic/label_image_cache.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

#include <cmath>

namespace tw::ui {

LabelImageCache::LabelImageCache() = default;
LabelImageCache::~LabelImageCache() = default;

void LabelImageCache::set_fonts(std::vector<QFont> fonts, qreal dpr) {
  fonts_ = std::move(fonts);
  dpr_ = dpr > 0 ? dpr : 1;
  texts_.clear();
  texts_.resize(fonts_.size());
  face_ascents_.clear();
  for (const QFont& f : fonts_) face_ascents_.push_back(QFontMetricsF(f).ascent());
  glyphs_.clear();
  glyphs_.resize(fonts_.size());
  images_.clear();
  image_bytes_ = 0;
  seen_.fill(0);
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

QString& LabelImageCache::key(int face, const QString& s, QRgb text_color, QRgb effect, LabelStyle style, int frac64,
                              int width) {
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
  return key;
}

bool LabelImageCache::seen_before(const QString& key, bool whole) {
  const std::size_t h = qHash(key);
  std::size_t& slot = seen_[h % seen_.size()];
  if (slot == h) return true;
  if (whole) slot = h;
  return false;
}

void LabelImageCache::keep(const QString& key, const QImage& img) {
  if (image_bytes_ > (2 << 20)) {
    images_.clear();
    image_bytes_ = 0;
  }
  image_bytes_ += img.sizeInBytes();
  images_.insert(key, img);
}

void LabelImageCache::draw_part(QImage& target, const QRect& clip, int face, const QString& s, QRgb text_color,
                                QRgb effect, LabelStyle style, int left, int y, int frac64, int width) {
  LabelGlyphCache& g = glyphs(face);
  const QString& k = key(face, s, text_color, effect, style, frac64, width);
  const auto it = images_.constFind(k);
  if (it != images_.constEnd()) {
    blend_image(target, *it, left, y, clip);
    return;
  }
  // Only what was drawn whole in an earlier frame is kept: most figures are
  // new every frame, and a clipped draw is the panel mending a neighbour.
  const int height = g.image_height();
  const bool whole = clip.top() <= y && clip.bottom() >= y + height - 1;
  if (!seen_before(k, whole) || !whole) {
    g.draw(target, left, y, clip, s, text_color, effect, style, frac64, width);
    return;
  }
  const QImage img = g.render(s, text_color, effect, style, frac64, width);
  keep(k, img);
  blend_image(target, img, left, y, clip);
}

template <class Part>
void LabelImageCache::for_each_part(LabelGlyphCache& g, const QString& s, qint64 line64, Part part) const {
  const int margin = label_margin(dpr_);
  const auto place = [&](qint64 at64) { return static_cast<int>(at64 >> 6) - margin; };
  const qsizetype n = s.size();
  const auto gap_at = [&](qsizetype i) { return s[i] == u' ' && i + 1 < n && s[i + 1] == u' '; };
  // Where the line's image would end.
  const int line_right =
      place(line64) + label_image_size(g.line_width(s), g.line_height(), dpr_, static_cast<int>(line64 & 63)).width();
  const int spare = label_image_size(g.space_width(), 0, dpr_).width() - margin;  // halo and a space
  qsizetype i = 0;
  qint64 pen = 0;  // pen64(s, i), kept as i moves on
  const auto move_to = [&](qsizetype to) {
    for (; i < to; ++i) pen += g.advance64(s[i]);
  };
  while (i < n) {
    qsizetype first = i;
    while (first < n && s[first] == u' ') ++first;
    if (first >= n) break;
    move_to(first);
    qsizetype end = i;
    while (end < n && !gap_at(end)) ++end;
    qsizetype rest = end;
    while (rest < n && s[rest] == u' ') ++rest;
    const qint64 start = line64 + device64(pen);
    const int left = place(start), frac = static_cast<int>(start & 63);
    // The last part ends where the line's image would, which may clip its
    // halo; the others get room to spare inside their gap.
    const qsizetype part_first = i;
    move_to(end);
    const qint64 stop = line64 + device64(pen);
    const int width =
        rest == n ? line_right - left : static_cast<int>((stop - (start & ~qint64{63}) + 63) >> 6) + margin + spare;
    part(part_first, end, left, frac, width);
  }
}

bool LabelImageCache::in_parts(LabelGlyphCache& g, const QString& s) { return g.accepts(s) && g.space_width() >= 5; }

int LabelImageCache::image_height(int face, const QString& s) {
  LabelGlyphCache& g = glyphs(face);
  return g.accepts(s) ? g.image_height() : label_image_size(0, text(face, s).size().toSize().height(), dpr_).height();
}

int LabelImageCache::device_row(int top) const {
  return (dpr_ == 1 ? top : static_cast<int>(std::floor(top * dpr_ + 0.5))) - label_margin(dpr_);
}

void LabelImageCache::draw_label(QImage& target, const QRect& clip, int face, int x, int top, const QString& s,
                                 QRgb text_color, QRgb effect, LabelStyle style) {
  draw_label_at_row(target, clip, face, x, device_row(top), s, text_color, effect, style);
}

qreal LabelImageCache::ascent(int face, const QString& s) {
  // Lines of the face's own glyphs rise as high as the face: the glyph
  // cache's check saw its sample line laid out no differently. Other lines
  // may take glyphs from a taller fallback face.
  if (glyphs(face).accepts(s)) return face_ascents_[static_cast<std::size_t>(face)];
  QTextLayout layout(s, font(face));
  layout.beginLayout();
  const QTextLine line = layout.createLine();
  layout.endLayout();
  return line.ascent();
}

void LabelImageCache::draw_label_on_baseline(QImage& target, const QRect& clip, int face, int x, int baseline,
                                             const QString& s, QRgb text_color, QRgb effect, LabelStyle style) {
  // QPainter puts glyphs on the device row nearest their position: the
  // images' text, drawn from their top, has its baseline that many rows
  // below their margin.
  const int rows = qRound(ascent(face, s) * dpr_);
  draw_label_at_row(target, clip, face, x, baseline - rows - label_margin(dpr_), s, text_color, effect, style);
}

void LabelImageCache::draw_label_at_row(QImage& target, const QRect& clip, int face, int x, int y, const QString& s,
                                        QRgb text_color, QRgb effect, LabelStyle style) {
  LabelGlyphCache& g = glyphs(face);
  const QRect c = clip & target.rect();
  if (c.isEmpty()) return;
  // Where the line's text starts, in 1/64 device pixel; y is the device row
  // of its images' top edge.
  const qint64 line64 = device64(qint64{x} * 64);
  // Panel and readout lines are a fixed caption and a changing figure, set
  // apart by runs of spaces. Cut there, the caption's image is found in the
  // cache and only the figure is drawn anew. Each part keeps its sub-pixel
  // position, and the parts' halos and shadows reach at most four pixels
  // beyond their text, so parts two spaces apart never touch: the frame gets
  // the same pixels as from one image of the line.
  if (!in_parts(g, s)) {
    const int frac = static_cast<int>(line64 & 63);
    const QString& k = key(face, s, text_color, effect, style, frac, -1);
    const int left = static_cast<int>(line64 >> 6) - label_margin(dpr_);
    const auto it = images_.constFind(k);
    if (it != images_.constEnd()) {
      blend_image(target, *it, left, y, c);
      return;
    }
    const QImage img = !g.accepts(s) ? render_label(font(face), text(face, s), text_color, effect, style, dpr_, frac)
                                     : g.render(s, text_color, effect, style);
    if (seen_before(k, c.top() <= y && c.bottom() >= y + img.height() - 1)) keep(k, img);
    blend_image(target, img, left, y, c);
    return;
  }
  const int height = g.image_height();
  for_each_part(g, s, line64, [&](qsizetype i, qsizetype end, int left, int frac, int width) {
    if (!QRect(left, y, width, height).intersects(c)) return;
    part_.setRawData(s.constData() + i, end - i);
    draw_part(target, c, face, part_, text_color, effect, style, left, y, frac, width);
  });
  part_.clear();
}

QRect LabelImageCache::label_change(int face, int x, int top, const QString& before, const QString& after,
                                    QRgb text_color, QRgb effect, LabelStyle style) {
  if (before == after) return {};
  LabelGlyphCache& g = glyphs(face);
  const int y = device_row(top);
  const qsizetype n = after.size();
  // Both lines cut alike (their spaces where the other has them) and every
  // character as wide as the one it replaces: each part lies where it did,
  // its image as wide, and only the pixels the changed characters ink can
  // differ. Otherwise the label's rows, all the way across.
  bool alike = in_parts(g, before) && in_parts(g, after) && before.size() == n;
  for (qsizetype i = 0; alike && i < n; ++i)
    alike = (before[i] == u' ') == (after[i] == u' ') && g.advance64(before[i]) == g.advance64(after[i]);
  if (!alike) {
    constexpr int kFar = 1 << 24;
    return QRect(-kFar, y, 2 * kFar, std::max(image_height(face, before), image_height(face, after)));
  }
  QRect r;
  for_each_part(g, after, device64(qint64{x} * 64), [&](qsizetype i, qsizetype end, int left, int frac, int) {
    qsizetype first = i, last = end;
    while (first < end && before[first] == after[first]) ++first;
    while (last > first && before[last - 1] == after[last - 1]) --last;
    if (first == last) return;
    for (const QString* s : {&before, &after}) {
      part_.setRawData(s->constData() + i, end - i);
      r |= g.ink(part_, first - i, last - i, text_color, effect, style, frac).translated(left, y);
    }
  });
  part_.clear();
  return r;
}

}  // namespace tw::ui
