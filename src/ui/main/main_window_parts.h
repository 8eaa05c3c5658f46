#pragma once
// What the files of MainWindow share among themselves; not for other users.
#include <QString>
#include <QtGlobal>

#include <string_view>

#include "shell/main_window_logic.h"

namespace tw::ui::main_window_parts {

inline QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

inline const QString& product_name() {
  static const QString name = qs(shell::kProductName);
  return name;
}

// What the tray icon shows, so that the 100 ms refresh hands the desktop a
// picture only when it changes (0..3: a status icon).
inline constexpr qint64 kTrayOwnIcon = -1;
inline constexpr qint64 kTrayError = -2;
inline constexpr qint64 kTrayMonitor = -3;
// Nothing yet: the next refresh draws whatever is due.
inline constexpr qint64 kTrayRedraw = -4;

}  // namespace tw::ui::main_window_parts
