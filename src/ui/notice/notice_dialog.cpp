#include "ui/notice/notice_dialog.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

#include "ui/colorref.h"
#include "ui/pixel_rect_qt.h"

namespace tw::ui {

namespace {

constexpr int kNoticePixels = 12;
// Smaller than this is no longer readable: the lines are cut instead.
constexpr int kMinNoticePixels = 7;

QFont notice_font(Language lang) {
  // Fixed-pitch face of the user-interface language, 12 pixels high; Qt falls
  // back to an installed monospace face when it is missing.
  QFont font(lang == Language::Japanese ? QStringLiteral("ＭＳ ゴシック") : QStringLiteral("Lucida Console"));
  font.setPixelSize(kNoticePixels);
  font.setWeight(QFont::Normal);
  font.setFixedPitch(true);
  font.setStyleHint(QFont::TypeWriter, QFont::PreferQuality);
  return font;
}

// One line laid out as it will be drawn: with every face it needs (Japanese
// glyphs often come from a further fallback face with taller lines).
struct LaidOutLine {
  std::unique_ptr<QTextLayout> layout;
  QTextLine line;
};

LaidOutLine lay_out(const QString& text, const QFont& font) {
  LaidOutLine l{std::make_unique<QTextLayout>(text, font), {}};
  l.layout->setCacheEnabled(true);
  l.layout->beginLayout();
  l.line = l.layout->createLine();
  l.layout->endLayout();
  return l;
}

struct FittedFont {
  QFont font;
  int pitch = 0;  // pixels from one line's top to the next one's
};

// The text was made for a face whose lines are exactly 12 pixels: eight of
// them fill the 96-pixel text area. The face the desktop substitutes is
// usually taller and often wider, so the size steps down until every line
// fits the area's height and, if possible, its width. When no size fits the
// width, the largest size that fits the height is used and long lines end in
// an ellipsis.
FittedFont fit_font(Language lang, const QStringList& lines, const QSize& box) {
  QFont font = notice_font(lang);
  std::optional<FittedFont> fits_height;
  FittedFont smallest;
  for (int pixels = kNoticePixels; pixels >= kMinNoticePixels; --pixels) {
    font.setPixelSize(pixels);
    int pitch = 1;
    qreal widest = 0;
    for (const QString& text : lines) {
      const LaidOutLine l = lay_out(text, font);
      pitch = std::max(pitch, static_cast<int>(std::ceil(l.line.height())));
      widest = std::max(widest, l.line.naturalTextWidth());
    }
    smallest = {font, pitch};
    if (pitch * static_cast<int>(lines.size()) > box.height()) continue;
    if (widest <= box.width()) return smallest;
    if (!fits_height) fits_height = smallest;
  }
  return fits_height ? *fits_height : smallest;
}

}  // namespace

NoticeDialog::NoticeDialog(const QString& text, const shell::NoticeLayout& layout,
                           const shell::NoticeBoxSettings& style, Language lang)
    : QWidget(nullptr,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                  Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput),
      layout_(layout),
      style_(style) {
  // The notice never takes the focus from the window the user works in.
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
  if (style_.alpha_blend) setWindowOpacity(std::clamp(style_.alpha_level, 0, 255) / 255.0);
  render(text, lang);
  step_timer_.setInterval(std::max(layout_.step_ms, 1));
  visible_timer_.setSingleShot(true);
  connect(&step_timer_, &QTimer::timeout, this, &NoticeDialog::step);
  connect(&visible_timer_, &QTimer::timeout, this, &NoticeDialog::visible_time_elapsed);
}

void NoticeDialog::render(const QString& text, Language lang) {
  picture_ = QPixmap(std::max(layout_.width, 1), std::max(layout_.height, 1));
  picture_.fill(from_colorref(static_cast<std::uint32_t>(style_.bk_color)));
  const tw::PixelRect& t = layout_.text_rect;
  const QRect box(t.left, t.top, std::max(t.width(), 0), std::max(t.height(), 0));
  QString plain = text;
  plain.remove(QLatin1Char('\r'));
  // Lines break only at line feeds; a line too wide for the box ends in "...".
  const QStringList lines = plain.split(QLatin1Char('\n'));
  const FittedFont fitted = fit_font(lang, lines, box.size());
  const QFontMetrics metrics(fitted.font);
  QPainter painter(&picture_);
  painter.setPen(from_colorref(static_cast<std::uint32_t>(style_.text_color)));
  painter.setClipRect(box);
  int y = box.top();
  for (const QString& line : lines) {
    if (y >= box.top() + box.height()) break;
    const LaidOutLine l = lay_out(metrics.elidedText(line, Qt::ElideRight, box.width()), fitted.font);
    l.layout->draw(&painter, QPointF(box.left(), y));
    y += fitted.pitch;
  }
}

void NoticeDialog::start(QScreen* screen) {
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) {
    // No screen at all (a display went away): nothing to slide on.
    deleteLater();
    return;
  }
  start_in(to_pixel_rect(screen->geometry()), to_pixel_rect(screen->availableGeometry()));
}

void NoticeDialog::start_in(const tw::PixelRect& screen, const tw::PixelRect& work_area) {
  slide_.emplace(shell::slide_mode(screen, work_area), work_area, layout_.width, layout_.height);
  step_timer_.start();
}

void NoticeDialog::step() {
  if (!slide_) return;
  const auto phase = slide_->step();
  place();
  switch (phase) {
    case shell::NoticeSlide::Phase::FullyVisible:
      step_timer_.stop();
      visible_timer_.start(std::max(style_.time_out_ms, 0));
      break;
    case shell::NoticeSlide::Phase::Done:
      step_timer_.stop();
      hide();
      emit finished();
      deleteLater();
      break;
    case shell::NoticeSlide::Phase::SlidingIn:
    case shell::NoticeSlide::Phase::SlidingOut:
      break;
  }
}

void NoticeDialog::visible_time_elapsed() {
  if (!slide_) return;
  visible_timer_.stop();
  slide_->start_slide_out();
  step_timer_.start();
}

void NoticeDialog::place() {
  const tw::PixelRect r = slide_->placement();
  if (r.height() <= 0 || r.width() <= 0) {
    hide();
    return;
  }
  setGeometry(r.left, r.top, r.width(), r.height());
  // Kept above other windows by its stays-on-top flag.
  if (!isVisible()) show();
}

void NoticeDialog::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, picture_);
}

NoticeDialog* NoticeDialog::show_traffic_notice(const QString& text, const shell::NoticeBoxSettings& style,
                                                Language lang) {
  auto* notice = new NoticeDialog(text, shell::periodic_notice_layout(lang), style, lang);
  notice->start();
  return notice;
}

}  // namespace tw::ui
