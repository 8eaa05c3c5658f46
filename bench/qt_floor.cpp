// The least a Qt program pays on this display for windows redrawn as
// tarnix's are: one window whose whole picture moves every 50 ms (the
// traffic graph's changed rectangle, copied from a kept image in two pieces,
// as the graph keeps its bars turned), and with --mini a second, small window
// redrawn whole every 100 ms (the Mini Monitor). Nothing is sampled, laid
// out or formatted: what this costs is the event loop's timers and Qt's
// paint, copy and flush of each frame to the window system. side_by_side.sh
// runs it beside tarnix, so that tarnix's share can be read against what any
// Qt window redrawn that often costs on the same machine.
//
// Usage: qt_floor [--graph WxH] [--mini WxH]   (default: --graph 787x200)

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

class Redrawn : public QWidget {
 public:
  Redrawn(QSize size, int period_ms, const char* title) : picture_(size, QImage::Format_RGB32) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setWindowTitle(QString::fromLatin1(title));
    // Something other than one colour, so that no copy can be skipped.
    for (int y = 0; y < picture_.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(picture_.scanLine(y));
      for (int x = 0; x < picture_.width(); ++x)
        line[x] = 0xFF000000u | ((static_cast<unsigned>(x) * 7919u + static_cast<unsigned>(y) * 104729u) & 0xFFFFFFu);
    }
    resize(size);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
      offset_ = (offset_ + 2) % picture_.width();  // the bars move two pixels a sample
      update();
    });
    timer_.start(period_ms);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter p(this);
    const QRect r = event->rect() & picture_.rect();
    // Picture column x is kept at (x + offset) % width.
    const int w = picture_.width(), cut = w - offset_;
    p.drawImage(QPoint(0, r.top()), picture_, QRect(offset_, r.top(), cut, r.height()));
    if (offset_ > 0) p.drawImage(QPoint(cut, r.top()), picture_, QRect(0, r.top(), offset_, r.height()));
  }

 private:
  QImage picture_;
  QTimer timer_;
  int offset_ = 0;
};

bool parse_size(const char* text, QSize& out) {
  int w = 0, h = 0;
  char end = 0;
  if (std::sscanf(text, "%dx%d%c", &w, &h, &end) != 2 || w < 2 || h < 1 || w > 8192 || h > 8192) return false;
  out = QSize(w, h);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QSize graph(787, 200);
  QSize mini;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--graph") == 0 && has_value && parse_size(argv[i + 1], graph)) {
      ++i;
    } else if (std::strcmp(argv[i], "--mini") == 0 && has_value && parse_size(argv[i + 1], mini)) {
      ++i;
    } else {
      std::fprintf(stderr, "usage: qt_floor [--graph WxH] [--mini WxH]\n");
      return 2;
    }
  }
  Redrawn graph_window(graph, 50, "qt_floor graph");
  graph_window.show();
  std::unique_ptr<Redrawn> mini_window;
  if (mini.isValid()) {
    mini_window = std::make_unique<Redrawn>(mini, 100, "qt_floor mini");
    mini_window->show();
  }
  return QApplication::exec();
}
