#pragma once
// The Notice dialog: a small borderless pop-up that slides out of the screen
// corner next to the panel (taskbar), shows a text for a while, slides back and
// deletes itself. Used for the periodic traffic notice and for the preview on
// the Notice Dialog options page; several may exist at once.
//
// Ownership: a started notice belongs to nobody; it deletes itself (deleteLater)
// when it has slid out. UI thread only.
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <optional>

#include "base/language.h"
#include "shell/notice_logic.h"
#include "shell/shell_settings.h"

class QScreen;

namespace tw::ui {

class NoticeDialog : public QWidget {
  Q_OBJECT
 public:
  // Draws the notice once (background, then `text` in the text rectangle,
  // one line per line feed, each line cut with an ellipsis when too wide).
  // Nothing is shown until start().
  NoticeDialog(const QString& text, const shell::NoticeLayout& layout, const shell::NoticeBoxSettings& style,
               Language lang);

  // Chooses the corner from `screen` (the primary screen when null) and starts
  // sliding in.
  void start(QScreen* screen = nullptr);
  // The same with explicit screen and work-area rectangles.
  void start_in(const tw::PixelRect& screen, const tw::PixelRect& work_area);

  // The timers call these; tests call them directly instead of waiting.
  void step();                  // one slide step (every layout.step_ms while sliding)
  void visible_time_elapsed();  // the visible time is over: slide out

  const shell::NoticeSlide* slide() const { return slide_ ? &*slide_ : nullptr; }
  const QPixmap& picture() const { return picture_; }
  bool step_timer_active() const { return step_timer_.isActive(); }
  bool visible_timer_active() const { return visible_timer_.isActive(); }
  int visible_time_ms() const { return style_.time_out_ms; }

  // The periodic notice: the Traffic Monitor's summary text with the stored
  // "NoticeBox" colours, opacity and visible time, on the primary screen.
  static NoticeDialog* show_traffic_notice(const QString& text, const shell::NoticeBoxSettings& style,
                                           Language lang);

 signals:
  // Emitted once, after sliding out, just before the notice deletes itself.
  void finished();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void render(const QString& text, Language lang);
  void place();

  shell::NoticeLayout layout_;
  shell::NoticeBoxSettings style_;
  QPixmap picture_;
  std::optional<shell::NoticeSlide> slide_;
  QTimer step_timer_;
  QTimer visible_timer_;
};

}  // namespace tw::ui
