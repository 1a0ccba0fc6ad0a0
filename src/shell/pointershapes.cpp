#include "pointershapes.h"

#include "cursorfile.h"

#include <utility>

namespace shell {

void PointerShapes::collectOwnCursors(const QWidget& window) {
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (child->testAttribute(Qt::WA_SetCursor))
            m_ownCursors.append({child, child->cursor()});
    }
}

void PointerShapes::loadHand(const QString& path, qreal devicePixelRatio) {
    m_handCursor = loadCursorFile(path, devicePixelRatio);
}

void PointerShapes::show(QWidget& window, join::Pointer pointer) const {
    std::optional<QCursor> shown;
    if (pointer == join::Pointer::Hourglass)
        shown = QCursor(Qt::WaitCursor);
    else if (pointer == join::Pointer::Custom)
        shown = m_handCursor.value_or(QCursor(Qt::ArrowCursor));

    if (shown) {
        window.setCursor(*shown);
        for (const auto& [child, own] : std::as_const(m_ownCursors)) {
            if (child)
                child->setCursor(*shown);
        }
    } else {
        window.unsetCursor();
        for (const auto& [child, own] : std::as_const(m_ownCursors)) {
            if (child)
                child->setCursor(own);
        }
    }
}

} // namespace shell
