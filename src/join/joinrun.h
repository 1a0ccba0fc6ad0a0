#pragma once

#include "host.h"

namespace join {

// The "Start Joining" run: validation, the walk over the list with progress and pointer
// feedback, one copy procedure per entry, and "Done.". Guards itself against a second start
// while it yields to the event loop.
class JoinRun {
public:
    explicit JoinRun(JoinHost& host) : m_host(host) {}

    // PushButton2_Click.
    void run();

    bool JoinRunning() const { return m_joinRunning; }

private:
    JoinHost& m_host;
    bool m_joinRunning = false;
};

} // namespace join
