#pragma once
// The graph's settings hold colours as 0x00BBGGRR; Qt wants them the other
// way round, opaque.
#include <QColor>

#include "traffic/graph_logic.h"

namespace tw::ui {

inline QRgb to_rgb(traffic::ColorRef c) {
  return qRgb(traffic::color_red(c), traffic::color_green(c), traffic::color_blue(c));
}
inline QColor to_qcolor(traffic::ColorRef c) {
  return QColor(traffic::color_red(c), traffic::color_green(c), traffic::color_blue(c));
}

}  // namespace tw::ui
