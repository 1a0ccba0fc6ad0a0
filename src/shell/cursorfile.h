#pragma once

#include <QCursor>
#include <QString>

namespace shell {

// Loads a Windows cursor file (.cur). A file may hold the cursor in several sizes: the smallest
// is its size on the screen, and the image that fits the screen's device pixel ratio is shown,
// with its own hot spot. Throws join::Failure 481 ("Invalid picture") when the file cannot be
// read as a cursor.
QCursor loadCursorFile(const QString& path, qreal devicePixelRatio = 1.0);

} // namespace shell
