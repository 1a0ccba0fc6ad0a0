#pragma once

#include "sources/commandhost.h"
#include "sources/drop.h"

class QEvent;
class QObject;

namespace shell {

// The source list as a drop target: what the drag events over it answer and what a drop on it
// does. Folders and one list file are taken, anything else refused, and every drop while the
// window is busy, as Delete and "Clear List" are then (sources::takesDrop); a drop taken is
// added once the drop has been answered (sources::addDropped).
class ListDropTarget {
public:
    // `context` is the window the list lies in: the add of a drop runs while it lives.
    ListDropTarget(QObject& context, sources::CommandHost& host)
        : m_context(context), m_host(host) {}

    // A drag entering, moving over or leaving the list, or a drop on it; the event is always
    // taken.
    bool dragEvent(QEvent* event);

private:
    QObject& m_context;
    sources::CommandHost& m_host;
    // What the drag over the list holds, read once as it enters.
    sources::Drop m_drag;
};

} // namespace shell
