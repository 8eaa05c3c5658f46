#pragma once
// Colour arithmetic of the Mini Monitor and the tray pictures; their stored
// colours convert through ui/colorref.h.
#include <QColor>

#include <algorithm>
#include <cstdint>

#include "ui/colorref.h"

namespace tw::ui::mini {

// Adds `d` to each channel, clamped to 0..255 (negative d darkens).
inline QColor shade(const QColor& c, int d) {
  auto ch = [d](int v) { return std::clamp(v + d, 0, 255); };
  return QColor(ch(c.red()), ch(c.green()), ch(c.blue()));
}

// Channel-wise integer mean.
inline QColor mean(const QColor& a, const QColor& b) {
  return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

}  // namespace tw::ui::mini
