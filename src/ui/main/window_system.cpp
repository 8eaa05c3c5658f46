#include "ui/main/window_system.h"

#include <QGuiApplication>

#include "shell/main_window_logic.h"

namespace tw::ui {

bool window_placement_available() {
  return shell::platform_places_windows(QGuiApplication::platformName().toStdString());
}

}  // namespace tw::ui
