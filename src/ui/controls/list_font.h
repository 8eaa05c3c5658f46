#pragma once
// The font of the monitors' lists. In Japanese the desktop's face is usually
// a Japanese one, and some of those draw the period hanging below the
// baseline like a comma at list sizes (IPA Gothic at 12 px), so that
// "192.0.2.2" reads as "192,0,2,2". The lists then take an installed face in
// which the two differ at the list's size: a Japanese one when there is such
// a face, else a Latin one with the Japanese face behind it for the Japanese
// glyphs.
//
// Threads: the UI thread only.
#include <QFont>

#include "base/language.h"

namespace tw::ui {

// True when "." and "," of `font` (at its size) can be told apart: both are
// drawn, the period stays on the baseline (at most a faint trace of it
// below) and the comma reaches below it.
bool period_differs_from_comma(const QFont& font);

// `base` for English, and for Japanese when its face passes
// period_differs_from_comma(); otherwise `base` with another installed face
// that passes, chosen as above. The size is kept.
QFont list_font(Language lang, const QFont& base);

}  // namespace tw::ui
