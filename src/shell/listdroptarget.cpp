#include "listdroptarget.h"

#include <QDropEvent>
#include <QMimeData>

namespace shell {

namespace {

// The list only reads what is dropped: it answers Copy, or Link where the source offers no copy,
// never Move, after which a file manager would remove what was dropped. Refused, the drag shows
// the no-entry pointer.
bool answerDrag(QDropEvent* event, bool taken) {
    const Qt::DropActions offered = event->possibleActions();
    const Qt::DropAction action = offered.testFlag(Qt::CopyAction)   ? Qt::CopyAction
                                  : offered.testFlag(Qt::LinkAction) ? Qt::LinkAction
                                                                     : Qt::IgnoreAction;
    if (!taken || action == Qt::IgnoreAction) {
        event->ignore();
        return false;
    }
    event->setDropAction(action);
    event->accept();
    return true;
}

} // namespace

// Folders and one list file are taken, anything else refused, and every drop while the window is
// busy, as Delete and "Clear List" are then.
bool ListDropTarget::dragEvent(QEvent* event) {
    auto* drag = static_cast<QDropEvent*>(event);
    switch (event->type()) {
    case QEvent::DragEnter:
        m_drag = sources::readDrop(drag->mimeData()->urls());
        answerDrag(drag, sources::takesDrop(m_host, m_drag));
        return true;
    case QEvent::DragMove:
        answerDrag(drag, sources::takesDrop(m_host, m_drag));
        return true;
    case QEvent::Drop: {
        // Read again: what lies there may have changed during the drag.
        const sources::Drop dropped = sources::readDrop(drag->mimeData()->urls());
        m_drag = {};
        if (!answerDrag(drag, sources::takesDrop(m_host, dropped)))
            return true;
        // Once the drop has been answered, so that a message the load shows does not hold the
        // program the drop came from.
        QMetaObject::invokeMethod(
            &m_context, [this, dropped] { sources::addDropped(m_host, dropped); },
            Qt::QueuedConnection);
        return true;
    }
    default:
        m_drag = {};
        return true;
    }
}

} // namespace shell
