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

}  // namespace tw::ui::main_window_parts
