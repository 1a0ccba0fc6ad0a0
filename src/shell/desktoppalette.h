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

// The palette with a disabled look where it has none of its own: each text colour (and the
// highlight) that a disabled control would draw exactly as an enabled one is brought half way
// towards the background it is drawn on. A dark desktop's palette often gives every colour group
// the same colours, and a colour the window sets for its controls sets it in every group.
QPalette withDisabledColours(QPalette palette);

// The colour of the focus mark: the palette's highlight, brought towards the window text until
// it stands out from the window at 3:1 at least (a dark desktop's highlight is often too dark).
QColor focusMarkColour(const QPalette& palette);

} // namespace shell
