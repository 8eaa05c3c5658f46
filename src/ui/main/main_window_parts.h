#pragma once
// What the files of MainWindow share among themselves; not for other users.
#include <QString>

#include "shell/main_window_logic.h"
#include "ui/common/qt_text.h"

namespace tw::ui::main_window_parts {

inline const QString& product_name() {
  static const QString name = qs(shell::kProductName);
  return name;
}

}  // namespace tw::ui::main_window_parts
