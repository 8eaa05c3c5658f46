#pragma once
// What the window system in use lets the program do with its own windows.
// Decided by the Qt platform the program runs on (shell::platform_places_
// windows): on X11 it places its windows, reads back where they are and keeps
// one above the others; on Wayland the compositor alone does all of that.
//
// UI thread, after the QGuiApplication exists.

namespace tw::ui {

bool window_placement_available();

}  // namespace tw::ui
