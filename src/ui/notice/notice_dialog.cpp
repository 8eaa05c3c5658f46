#include "ui/notice/notice_dialog.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <algorithm>

#include "ui/options/page_support.h"
#include "ui/pixel_rect_qt.h"

namespace tw::ui {

namespace {

QFont notice_font(Language lang) {
  // Fixed-pitch face of the user-interface language, 12 pixels high; Qt falls
  // back to an installed monospace face when it is missing.
  QFont font(lang == Language::Japanese ? QStringLiteral("ＭＳ ゴシック") : QStringLiteral("Lucida Console"));
  font.setPixelSize(12);
  font.setWeight(QFont::Normal);
  font.setFixedPitch(true);
  font.setStyleHint(QFont::TypeWriter, QFont::PreferQuality);
  return font;
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
  QPainter painter(&picture_);
  const QFont font = notice_font(lang);
  painter.setFont(font);
  painter.setPen(from_colorref(static_cast<std::uint32_t>(style_.text_color)));
  const tw::PixelRect& t = layout_.text_rect;
  const QRect box(t.left, t.top, std::max(t.width(), 0), std::max(t.height(), 0));
  painter.setClipRect(box);
  const QFontMetrics metrics(font);
  QString plain = text;
  plain.remove(QLatin1Char('\r'));
  // Lines break only at line feeds; a line too wide for the box ends in "...".
  int y = box.top();
  for (const QString& line : plain.split(QLatin1Char('\n'))) {
    if (y >= box.bottom()) break;
    const QString shown = metrics.elidedText(line, Qt::ElideRight, box.width());
    painter.drawText(box.left(), y + metrics.ascent(), shown);
    y += metrics.height();
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
