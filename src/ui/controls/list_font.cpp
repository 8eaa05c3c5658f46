#include "ui/controls/list_font.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <map>
#include <utility>

namespace tw::ui {
namespace {

// One glyph drawn black on white with its baseline at `baseline`.
QImage draw(const QFont& font, QChar c, int baseline) {
  const QFontMetrics fm(font);
  QImage img(fm.height() * 2 + 8, fm.height() + 8, QImage::Format_Grayscale8);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setFont(font);
  p.setPen(Qt::black);
  p.drawText(QPoint(4, baseline), QString(c));
  return img;
}

// The lowest row with a dark pixel (-1: none).
int lowest_dark_row(const QImage& img) {
  for (int y = img.height() - 1; y >= 0; --y)
    for (int x = 0; x < img.width(); ++x)
      if (qGray(img.pixel(x, y)) < 128) return y;
  return -1;
}

// The share of the ink below `row` (0 when there is no ink).
double ink_below(const QImage& img, int row) {
  double all = 0, below = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const int v = 255 - qGray(img.pixel(x, y));
      all += v;
      if (y > row) below += v;
    }
  return all > 0 ? below / all : 0;
}

bool has_japanese(const QString& family) {
  return QFontDatabase::writingSystems(family).contains(QFontDatabase::Japanese);
}

}  // namespace

bool period_differs_from_comma(const QFont& font) {
  const int baseline = QFontMetrics(font).ascent() + 4;
  // The digits stand on the baseline: their lowest dark row is the line the
  // period must not hang below (faces place it a pixel off the nominal one).
  const int line = lowest_dark_row(draw(font, QLatin1Char('2'), baseline));
  if (line < 0) return false;
  const QImage period = draw(font, QLatin1Char('.'), baseline);
  const QImage comma = draw(font, QLatin1Char(','), baseline);
  if (lowest_dark_row(period) < 0 || lowest_dark_row(comma) < 0) return false;
  return ink_below(period, line) < 0.15 && ink_below(comma, line) >= 0.2;
}

QFont list_font(Language lang, const QFont& base) {
  if (lang != Language::Japanese) return base;
  // Asked once per face and size: drawing the glyphs takes a moment.
  static std::map<std::pair<QString, int>, bool> verdicts;
  const int px = QFontInfo(base).pixelSize();
  const auto passes = [&](const QFont& f) {
    const auto key = std::make_pair(QFontInfo(f).family(), px);
    const auto it = verdicts.find(key);
    if (it != verdicts.end()) return it->second;
    return verdicts[key] = period_differs_from_comma(f);
  };
  const auto with_family = [&](const QString& family) {
    QFont f = base;
    f.setFamilies({family});
    f.setPixelSize(px);
    return f;
  };
  if (passes(base)) return base;
  const QString japanese = QFontInfo(base).family();
  // A Japanese face first: its Japanese glyphs match its Latin ones.
  for (const QString& family : QFontDatabase::families(QFontDatabase::Japanese)) {
    if (QFontDatabase::isPrivateFamily(family) || !has_japanese(family)) continue;
    const QFont f = with_family(family);
    if (QFontInfo(f).family() == family && passes(f)) return f;
  }
  // Else a Latin face, the Japanese face behind it for what it lacks: the
  // usual desktop faces first, then any other (a math or symbol face last).
  QStringList latin = QFontDatabase::families(QFontDatabase::Latin);
  const QStringList preferred = {QStringLiteral("Noto Sans"), QStringLiteral("DejaVu Sans"),
                                 QStringLiteral("Liberation Sans"), QStringLiteral("Cantarell")};
  for (auto it = preferred.rbegin(); it != preferred.rend(); ++it)
    if (latin.removeAll(*it) > 0) latin.prepend(*it);
  for (const QString& family : latin) {
    if (QFontDatabase::isPrivateFamily(family) || QFontDatabase::isFixedPitch(family)) continue;
    QFont f = with_family(family);
    if (QFontInfo(f).family() != family || !passes(f)) continue;
    if (has_japanese(japanese)) f.setFamilies({family, japanese});
    return f;
  }
  return base;
}

}  // namespace tw::ui
