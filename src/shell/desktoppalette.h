#pragma once

#include <QColor>
#include <QPalette>

// What the window asks of the desktop's colours.
namespace shell {

// True when the palette paints dark text on a light window, as the designed colours and the
// skin expect; false for a dark desktop.
bool isLightPalette(const QPalette& palette);

// The contrast ratio of two colours as the accessibility guidelines define it: 1 for equal
// colours, 21 for black on white.
double contrastRatioBetween(const QColor& a, const QColor& b);

// The colour of the focus mark: the palette's highlight, brought towards the window text until
// it stands out from the window at 3:1 at least (a dark desktop's highlight is often too dark).
QColor focusMarkColour(const QPalette& palette);

} // namespace shell
