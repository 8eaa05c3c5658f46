#pragma once
// QRect <-> tw::PixelRect. A QRect's right() is inclusive (left + width - 1);
// PixelRect's right is exclusive, so the conversion goes through the width.
#include <QRect>

#include "base/pixel_rect.h"

namespace tw::ui {

inline tw::PixelRect to_pixel_rect(const QRect& r) {
  return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

}  // namespace tw::ui
