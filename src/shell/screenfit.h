#pragma once

#include <QMargins>
#include <QSize>

namespace shell {

// The smallest scale the window's layout is drawn at: below it the designed fonts could not be
// read, and a screen that small gets the window at this scale even where it does not fit.
inline constexpr double MinimumLayoutScale = 0.5;

// The scale at which a window of the `designed` client size, with its `frame` (title bar and
// borders) around it, fits into `available`: exactly 1 where it fits as designed, else the
// largest scale, in steps of 1/100, at which it does, but never below MinimumLayoutScale.
double fittingScale(QSize designed, QMargins frame, QSize available);

} // namespace shell
