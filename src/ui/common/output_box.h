#pragma once
// The read-only text box of the tool tabs, NETSTAT and the Interface tab:
// fixed-width columns in a monospace face, the colours of the options
// dialog's output-box Color page, and the logic's CR LF lines shown as plain
// line feeds.
//
// Threads: the UI thread.
#include <QString>

#include <string_view>

class QPlainTextEdit;
class QWidget;

namespace tw::settings {
class Profile;
}

namespace tw::ui {

// A new box: read-only, no wrapping (the reports are fixed-width columns), no
// undo history, "Lucida Console" where it is installed and the system's
// monospace face otherwise.
QPlainTextEdit* make_output_box(QWidget* parent);

// Sets the box's background and text to the stored output-box colours, in
// every colour group, so an inactive or disabled window keeps them.
void apply_output_box_colors(QPlainTextEdit& box, const settings::Profile& profile);

// The text with its carriage returns removed.
QString box_text(std::string_view text);

}  // namespace tw::ui
