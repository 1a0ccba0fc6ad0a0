#pragma once

#include "join/host/host.h"

#include <QCursor>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <optional>

namespace shell {

// The shape the pointer takes over the window for each pointer value: the hourglass, the hand
// (read from the cursor file beside the program; the arrow while there is none) or the arrow.
// Children that bring a cursor of their own (the text box's I-beam) show the hourglass or the
// hand too while the window does, and get their own back afterwards.
class PointerShapes {
public:
    // Remembers the children of `window` that bring a cursor of their own.
    void collectOwnCursors(const QWidget& window);
    // Reads the hand from a cursor file, in the image that fits the screen.
    void loadHand(const QString& path, qreal devicePixelRatio);
    // Shows `pointer` over the window and its children.
    void show(QWidget& window, join::Pointer pointer) const;

private:
    std::optional<QCursor> m_handCursor;
    QList<QPair<QPointer<QWidget>, QCursor>> m_ownCursors;
};

} // namespace shell
