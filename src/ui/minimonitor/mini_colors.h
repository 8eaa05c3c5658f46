#pragma once
// Colour arithmetic of the Mini Monitor and the tray pictures. Settings keep
// colours as 0x00BBGGRR integers (red in the low byte).
#include <QColor>

#include <algorithm>
#include <cstdint>

namespace tw::ui::mini {

inline QColor from_bgr(std::uint32_t c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

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
