#pragma once
// Settings keep colours as 0x00BBGGRR integers (COLORREF: red in the low
// byte, the top byte ignored); Qt wants them the other way round, opaque.
// Every view converts through these.
#include <QColor>

#include <cstdint>

namespace tw::ui {

inline QColor from_colorref(std::uint32_t c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}
inline QRgb rgb_from_colorref(std::uint32_t c) {
  return qRgb(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}
inline std::uint32_t to_colorref(const QColor& c) {
  return static_cast<std::uint32_t>(c.red()) | (static_cast<std::uint32_t>(c.green()) << 8) |
         (static_cast<std::uint32_t>(c.blue()) << 16);
}

}  // namespace tw::ui
