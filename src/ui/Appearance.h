#pragma once

#include <QEvent>

class QPalette;
class QWidget;

namespace lumarin {

// The appearance the kit's colours are resolved against. Like a view's effective appearance on
// the Mac it is inherited: a widget uses the appearance set on itself or on its nearest
// ancestor, and the desktop's when none is set. The composition root sets it on each window
// from the simulated Mac (or leaves it unset to follow this desktop). Main thread.
enum class Appearance { light, dark };

// Dark when the palette's window colour is darker than its text colour.
Appearance appearanceFromPalette(const QPalette& palette);
// This desktop's appearance: the platform's colour scheme where Qt reports one, else the
// application palette.
Appearance desktopAppearance();

// The appearance `widget` draws with (see above). Null means the desktop's.
Appearance effectiveAppearance(const QWidget* widget);
// Sets (or, with clearAppearance, removes) the appearance of `widget` and its subtree and tells
// every widget of the subtree, so controls recolour without being rebuilt.
void setAppearance(QWidget* widget, Appearance appearance);
void clearAppearance(QWidget* widget);

// The event setAppearance sends to each widget of the subtree.
QEvent::Type appearanceChangeEventType();
// True for the events after which a kit control's colours may resolve differently.
bool changesAppearance(const QEvent* event);

}  // namespace lumarin
