#pragma once

#include <QCursor>
#include <QString>

namespace shell {

// Loads a Windows cursor file (.cur): the image of its first entry with that entry's hot spot.
// Throws join::Failure 481 ("Invalid picture") when the file cannot be read as a cursor.
QCursor LoadCursorFile(const QString& path);

} // namespace shell
