#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace lumarin {

// Uses the program's windows by the accessible names of their controls, as a scenario or a
// screen reader does: finds the control among the visible windows and open menus and acts on
// it the way a click or typing would. Main thread.

// Presses the visible, enabled button (a switch flips), sidebar row, pull-down or menu entry
// named `name`. Entries of an open menu come first; the menu then closes. What the control
// shows afterwards ("on"/"off" for switches, the title otherwise), or nothing when no such
// control is there.
std::optional<QString> pressControlNamed(const QString& name);

// Replaces the text of the visible, enabled text field named `name` and ends the editing, as
// typing and Return do. False when there is no such field.
bool typeIntoControlNamed(const QString& name, const QString& text);

// The visible control named `name` in `root`'s window (accessible name, else button title).
QWidget* findControlNamed(QWidget* root, const QString& name);

}  // namespace lumarin
