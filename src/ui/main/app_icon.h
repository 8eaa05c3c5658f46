#pragma once
// The program's own icon, drawn in code: a dark blue tile with a red send bar
// and a green receive bar in the traffic graph's colours, the mark that
// data/icons/tarnix.svg draws for the installed icon theme. Used for the windows
// and for the tray icon whenever it does not show the traffic state.
#include <QIcon>

namespace tw::ui {

// Built once per process (UI thread) and shared.
const QIcon& application_icon();

}  // namespace tw::ui
