#include "ui/traffic/label_text.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStaticText>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tw::ui {
namespace {

QStaticText prepared(const QFont& font, const QString& s) {
  QStaticText st(s);
  st.setTextFormat(Qt::PlainText);
  st.prepare(QTransform(), font);
  return st;
}

// The halo's copies of the line, offsets in logical pixels from where the
// text starts.
constexpr int kHaloDx[] = {-1, 2, 3};
constexpr int kHaloDy[] = {-1, 0, 1};

// Draws one label's effect layer and text layer with the text starting at
// `origin` (logical coordinates of the painters' images). `effect_painter`
// and `text_painter` may be the same painter: then the text lands on top of
// the effect, as in one image.
void draw_layers(QPainter& effect_painter, QPainter& text_painter, QPointF origin, const QStaticText& st, QRgb text,
                 QRgb effect, LabelStyle style) {
  effect_painter.setPen(QColor::fromRgb(effect));
  if (style == LabelStyle::Halo) {
    for (int dx : kHaloDx)
      for (int dy : kHaloDy) effect_painter.drawStaticText(origin + QPointF(dx, dy), st);
    text_painter.setPen(QColor::fromRgb(text));
    text_painter.drawStaticText(origin + QPointF(1, 0), st);
  } else {
    effect_painter.drawStaticText(origin + QPointF(1, 1), st);
    text_painter.setPen(QColor::fromRgb(text));
  }
  text_painter.drawStaticText(origin, st);
}

// The logical point of an image with ratio `dpr` that lies at device pixel
// (x + frac64 / 64, y).
QPointF logical_point(int x, int frac64, int y, qreal dpr) { return QPointF((x + frac64 / 64.0) / dpr, y / dpr); }

// Qt's own premultiplied multiply (x * a / 255 per channel, rounded the same
// way), so that a layer laid on by hand matches one QPainter would lay on.
inline quint32 byte_mul(quint32 x, quint32 a) {
  quint32 t = (x & 0xff00ffu) * a;
  t = (t + ((t >> 8) & 0xff00ffu) + 0x800080u) >> 8;
  t &= 0xff00ffu;
  x = ((x >> 8) & 0xff00ffu) * a;
  x = x + ((x >> 8) & 0xff00ffu) + 0x800080u;
  x &= 0xff00ff00u;
  return x | t;
}

// One row of `n` premultiplied pixels laid over `d`: d = s + d * (255 - alpha(s)) / 255
// per channel, rounded as byte_mul rounds. Without a branch on the source
// pixel, which is the same formula: a transparent pixel multiplies by 255,
// which byte_mul returns unchanged, and an opaque one by 0.
inline void blend_row(quint32* d, const quint32* s, int n) {
  int i = 0;
#if defined(__SSE2__)
  // Four pixels at a time, each channel in a 16-bit lane: the products stay
  // below 65536 (255 * 255 + 255 + 128), so the lanes give byte_mul's bits.
  const __m128i low_bytes = _mm_set1_epi32(0x00FF00FF);
  const __m128i half = _mm_set1_epi16(0x80);
  const __m128i full = _mm_set1_epi16(0xFF);
  for (; i + 4 <= n; i += 4) {
    const __m128i src = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i dst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
    __m128i alpha = _mm_srli_epi32(src, 24);
    alpha = _mm_sub_epi16(full, _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16)));
    __m128i rb = _mm_mullo_epi16(_mm_and_si128(dst, low_bytes), alpha);
    __m128i ag = _mm_mullo_epi16(_mm_srli_epi16(dst, 8), alpha);
    rb = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(rb, _mm_srli_epi16(rb, 8)), half), 8);
    ag = _mm_andnot_si128(low_bytes, _mm_add_epi16(_mm_add_epi16(ag, _mm_srli_epi16(ag, 8)), half));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_add_epi32(src, _mm_or_si128(rb, ag)));
  }
#endif
  for (; i < n; ++i) d[i] = s[i] + byte_mul(d[i], 255 - (s[i] >> 24));
}

// Rows of an image by hand: scanLine() and bits() are out-of-line calls that
// check for sharing on every call, and a line lays two layers per character.
struct Rows {
  uchar* bits;
  qsizetype bpl;
  quint32* row(int y) const { return reinterpret_cast<quint32*>(bits + bpl * y); }
};

// The pixels `box` of a source laid over `dst` with the source's pixel
// (0, 0) at dst pixel (x, y), clipped to `clip` (in dst pixels, already inside
// dst); `src_bits` hold only the source's pixels from `held` on.
void blend_over(Rows dst, const uchar* src_bits, qsizetype src_bpl, const QRect& box, int x, int y,
                const QRect& clip, QPoint held = {}) {
  const int x0 = std::max(box.left(), clip.left() - x), x1 = std::min(box.right() + 1, clip.right() + 1 - x);
  const int y0 = std::max(box.top(), clip.top() - y), y1 = std::min(box.bottom() + 1, clip.bottom() + 1 - y);
  if (x0 >= x1 || y0 >= y1) return;
  for (int sy = y0; sy < y1; ++sy) {
    const quint32* s = reinterpret_cast<const quint32*>(src_bits + src_bpl * (sy - held.y())) + (x0 - held.x());
    blend_row(dst.row(sy + y) + x + x0, s, x1 - x0);
  }
}
void blend_over(Rows dst, const QImage& src, const QRect& box, int x, int y, const QRect& clip) {
  blend_over(dst, src.constBits(), src.bytesPerLine(), box, x, y, clip);
}

// The smallest rectangle holding every non-transparent pixel (empty for a space).
QRect inked(const QImage& img) {
  int left = img.width(), right = -1, top = img.height(), bottom = -1;
  for (int y = 0; y < img.height(); ++y) {
    const quint32* p = reinterpret_cast<const quint32*>(img.constScanLine(y));
    for (int x = 0; x < img.width(); ++x)
      if (p[x]) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  }
  return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

QImage blank(int w, int h, qreal dpr) {
  QImage img(std::max(w, 1), std::max(h, 1), QImage::Format_ARGB32_Premultiplied);
  img.setDevicePixelRatio(dpr);
  img.fill(Qt::transparent);
  return img;
}

// How far a channel of the image put together from characters may stray
// from the laid-out one: the rounding of compositing overlapping halo copies
// in another order, well below what an eye tells apart (1.6 %).
constexpr int kTolerance = 4;

// Every printable ASCII character, and pairs that kerning or ligatures would
// change.
const QString& sample_line() {
  static const QString s = [] {
    QString t;
    for (char16_t c = 0x20; c < 0x7F; ++c) t += QChar(c);
    return t + QStringLiteral(" fi fl ff -> => != == <= AV To Wa 1.234 KB/s");
  }();
  return s;
}

// Logical pixels in device pixels, rounded up.
int device_ceil(qreal logical, qreal dpr) { return static_cast<int>(std::ceil(logical * dpr - 1e-6)); }

}  // namespace

int label_margin(qreal dpr) { return std::max(1, device_ceil(1, dpr)); }

QSize label_image_size(qreal width, qreal height, qreal dpr, int frac64) {
  const int m = label_margin(dpr);
  return QSize(m + device_ceil(width + 4 + frac64 / (64.0 * dpr), dpr), m + device_ceil(height + 1, dpr));
}

void blend_image(QImage& dst, const QImage& src, int x, int y, const QRect& clip) {
  const QRect c = clip & dst.rect();
  if (c.isEmpty()) return;
  blend_over(Rows{dst.bits(), dst.bytesPerLine()}, src, src.rect(), x, y, c);
}

QImage render_label(const QFont& font, const QStaticText& st, QRgb text, QRgb effect, LabelStyle style, qreal dpr,
                    int frac64) {
  const QSize size = st.size().toSize();
  const QSize px = label_image_size(size.width(), size.height(), dpr, frac64);
  QImage img = blank(px.width(), px.height(), dpr);
  QPainter p(&img);
  p.setFont(font);
  const int m = label_margin(dpr);
  draw_layers(p, p, logical_point(m, frac64, m, dpr), st, text, effect, style);
  return img;
}

QImage render_label(const QFont& font, const QString& s, QRgb text, QRgb effect, LabelStyle style, qreal dpr,
                    int frac64) {
  return render_label(font, prepared(font, s), text, effect, style, dpr, frac64);
}

LabelGlyphCache::LabelGlyphCache(const QFont& font, qreal dpr) : font_(font), dpr_(dpr > 0 ? dpr : 1) {
  const QFontMetricsF fm(font_);
  for (char16_t c = 0x20; c < 0x7F; ++c) advance64_[c] = qRound(fm.horizontalAdvance(QChar(c)) * 64);
  margin_ = device_ceil(std::ceil(fm.height()) + 4, dpr_);
  const QStaticText probe = prepared(font_, sample_line());
  line_height_ = probe.size().toSize().height();
  if (line_height_ <= 0) return;
  image_height_ = label_image_size(0, line_height_, dpr_).height();
  for (char16_t c = 0x20; c < 0x7F; ++c) {
    const int advance_px = (advance64_[c] + 63) / 64 + 5;  // whole pixels, rounded up, and a margin
    layer_width_[c] = margin_ * 2 + device_ceil(advance_px, dpr_);
  }

  // Both ways on a sample, halo and shadow; anything but rounding turns the
  // cache off for this face.
  usable_ = true;
  for (LabelStyle style : {LabelStyle::Halo, LabelStyle::Shadow}) {
    const QImage want = render_label(font_, probe, 0xFFE0E0E0u, 0xFF102030u, style, dpr_);
    const QImage got = render(sample_line(), 0xFFE0E0E0u, 0xFF102030u, style);
    if (want.size() != got.size()) {
      usable_ = false;
      break;
    }
    for (int y = 0; y < want.height() && usable_; ++y) {
      const quint32* a = reinterpret_cast<const quint32*>(want.constScanLine(y));
      const quint32* b = reinterpret_cast<const quint32*>(got.constScanLine(y));
      for (int x = 0; x < want.width(); ++x)
        for (int shift = 0; shift < 32; shift += 8)
          if (std::abs(static_cast<int>((a[x] >> shift) & 0xFF) - static_cast<int>((b[x] >> shift) & 0xFF)) > kTolerance) {
            usable_ = false;
            break;
          }
    }
  }
  cache_.clear();
  recent_.fill({});
}

bool LabelGlyphCache::accepts(const QString& s) const {
  if (!usable_ || s.isEmpty()) return false;
  for (QChar c : s)
    if (c.unicode() < 0x20 || c.unicode() >= 0x7F) return false;
  return true;
}

int LabelGlyphCache::line_width(const QString& s) const {
  return qRound(static_cast<qreal>(pen64(s, s.size())) / 64);
}

qint64 LabelGlyphCache::pen64(const QString& s, qsizetype to) const {
  qint64 w64 = 0;
  for (qsizetype i = 0; i < to; ++i) w64 += advance64_[s[i].unicode()];
  return w64;
}

const LabelGlyphCache::Layers& LabelGlyphCache::layers(char16_t c, int frac64, QRgb text, QRgb effect,
                                                       LabelStyle style) {
  const quint64 key = quint64{c} | quint64(frac64) << 7 | quint64(style == LabelStyle::Halo ? 1 : 0) << 13 |
                      quint64(text & 0xFFFFFFu) << 14 | quint64(effect & 0xFFFFFFu) << 38;
  // The last layers looked up, by a hash of their key: a hash look-up for
  // each character twice a line was a tenth of the panel's time. The
  // pointers hold until the cache changes.
  Recent& recent = recent_[(key * 0x9E3779B97F4A7C15u) >> 54];
  if (recent.key == key) return *recent.layers;
  if (const Layers* found = kept(key)) {
    recent = {key, found};
    return *found;
  }
  // A handful of colours and sub-pixel offsets per face; a cache this full
  // means the colours keep changing, and starting over bounds it.
  if (cache_.size() >= 8192) cache_.clear();
  recent_.fill({});  // the hash may move its values as it grows
  const int w = layer_width(c);
  const int h = image_height();
  Layers l;
  l.effect = blank(w, h, dpr_);
  l.text = blank(w, h, dpr_);
  {
    const QStaticText st = prepared(font_, QString(QChar(c)));
    QPainter pe(&l.effect);
    QPainter pt(&l.text);
    pe.setFont(font_);
    pt.setFont(font_);
    draw_layers(pe, pt, logical_point(margin_, frac64, label_margin(dpr_), dpr_), st, text, effect, style);
  }
  // Most of each layer is margin: only the inked part is ever read, and
  // only it is kept (a space keeps nothing).
  l.effect_box = inked(l.effect);
  l.text_box = inked(l.text);
  l.effect = l.effect_box.isEmpty() ? QImage() : l.effect.copy(l.effect_box);
  l.text = l.text_box.isEmpty() ? QImage() : l.text.copy(l.text_box);
  // The images are never written again: their pixels stay where they are.
  l.effect_bits = l.effect.constBits();
  l.text_bits = l.text.constBits();
  l.effect_bpl = l.effect.bytesPerLine();
  l.text_bpl = l.text.bytesPerLine();
  return *cache_.insert(key, l);
}

const LabelGlyphCache::Layers* LabelGlyphCache::kept(quint64 key) const {
  const auto it = cache_.constFind(key);
  return it == cache_.constEnd() ? nullptr : &*it;
}

void LabelGlyphCache::compose(uchar* bits, qsizetype bpl, const QRect& region, const QString& s, QRgb text, QRgb effect,
                              LabelStyle style, int start64) {
  // `bits` hold the region's top-left pixel: the image's pixel (0, 0) lies
  // at (-left, -top) of them.
  const Rows rows{bits, bpl};
  const QRect all(0, 0, region.width(), region.height());
  const qint64 origin64 = qint64{label_margin(dpr_)} * 64 + start64;
  // All effect layers first, then all text: a halo never covers the text of
  // the character before it, as when the whole line is drawn at once.
  for (const bool text_pass : {false, true}) {
    qint64 pen = 0;
    for (QChar ch : s) {
      const char16_t c = ch.unicode();
      const qint64 at = origin64 + (dpr_ == 1 ? pen : qRound64(static_cast<qreal>(pen) * dpr_));
      pen += advance64_[c];
      const int x = static_cast<int>(at >> 6) - margin_;
      // Layers start further right character by character: once one starts
      // past the region, so do the rest.
      if (x > region.right()) break;
      if (x + layer_width(c) <= region.left()) continue;
      const Layers& l = layers(c, static_cast<int>(at & 63), text, effect, style);
      if (text_pass)
        blend_over(rows, l.text_bits, l.text_bpl, l.text_box, x - region.left(), -region.top(), all,
                   l.text_box.topLeft());
      else
        blend_over(rows, l.effect_bits, l.effect_bpl, l.effect_box, x - region.left(), -region.top(), all,
                   l.effect_box.topLeft());
    }
  }
}

QImage LabelGlyphCache::render(const QString& s, QRgb text, QRgb effect, LabelStyle style, int start64, int width) {
  QImage img = blank(width, image_height(), dpr_);
  compose(img.bits(), img.bytesPerLine(), img.rect(), s, text, effect, style, start64);
  return img;
}

void LabelGlyphCache::draw(QImage& target, int x, int y, const QRect& clip, const QString& s, QRgb text, QRgb effect,
                           LabelStyle style, int start64, int width) {
  const QRect region = QRect(x, y, width, image_height()) & clip & target.rect();
  if (region.isEmpty()) return;
  // The part of the image inside the clip, put together over transparent
  // pixels as render() would, then laid over the target: the same
  // arithmetic in the same order, so the same bits (source-over in 8 bits
  // is not associative: the layers laid straight onto the target would
  // round differently).
  if (scratch_.width() < region.width() || scratch_.height() < region.height())
    scratch_ = QImage(std::max(scratch_.width(), region.width()), std::max(scratch_.height(), region.height()),
                      QImage::Format_ARGB32_Premultiplied);
  uchar* bits = scratch_.bits();
  const qsizetype bpl = scratch_.bytesPerLine();
  for (int row = 0; row < region.height(); ++row)
    std::memset(bits + bpl * row, 0, static_cast<std::size_t>(region.width()) * 4);
  compose(bits, bpl, region.translated(-x, -y), s, text, effect, style, start64);
  const Rows out{target.bits(), target.bytesPerLine()};
  for (int row = 0; row < region.height(); ++row)
    blend_row(out.row(region.top() + row) + region.left(), reinterpret_cast<const quint32*>(bits + bpl * row),
              region.width());
}

QRect LabelGlyphCache::ink(const QString& s, qsizetype from, qsizetype to, QRgb text, QRgb effect, LabelStyle style,
                           int start64) {
  QRect r;
  const qint64 origin64 = qint64{label_margin(dpr_)} * 64 + start64;
  qint64 pen = pen64(s, from);
  for (qsizetype i = from; i < to; ++i) {
    // As compose() places the character.
    const qint64 at = origin64 + (dpr_ == 1 ? pen : qRound64(static_cast<qreal>(pen) * dpr_));
    const char16_t c = s[i].unicode();
    pen += advance64_[c];
    const Layers& l = layers(c, static_cast<int>(at & 63), text, effect, style);
    const int x = static_cast<int>(at >> 6) - margin_;
    r |= l.effect_box.translated(x, 0) | l.text_box.translated(x, 0);
  }
  return r;
}

SpeedLabelGrid speed_label_grid(const QFont& font, int font_size, int left,
                                const std::array<std::array<QString, 2>, 2>& heads, const LabelWidth& width,
                                const QString& integer_template, const QString& value_template) {
  int line_height = 0;
  for (const auto& row : heads)
    for (const QString& head : row) {
      QTextLayout layout(head + QLatin1Char(' ') + value_template, font);
      layout.beginLayout();
      const QTextLine line = layout.createLine();
      layout.endLayout();
      line_height = std::max(line_height, static_cast<int>(std::ceil(line.height())));
    }
  SpeedLabelGrid g;
  // The halo reaches a pixel above and below the text: rows a line height
  // and two pixels apart keep their halos apart too, and the first row keeps
  // its halo a pixel clear of the top edge.
  g.row_top = {2, 2 + std::max(font_size, line_height + 2)};
  g.line_height = line_height;
  int x = left;
  for (int column = 0; column < 2; ++column) {
    int head_and_integer = 0, cell = 0;
    for (const auto& row : heads) {
      const QString head = row[static_cast<std::size_t>(column)] + QLatin1Char(' ');
      head_and_integer = std::max(head_and_integer, width(head + integer_template));
      cell = std::max(cell, width(head + value_template));
    }
    g.column_x[static_cast<std::size_t>(column)] = x;
    g.integer_end[static_cast<std::size_t>(column)] = x + head_and_integer;
    x += cell;
  }
  return g;
}

}  // namespace tw::ui
