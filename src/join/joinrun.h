#pragma once

#include "host.h"

#include <string>
#include <vector>

namespace join {

// The "Start Joining" run: validation, the walk over the list with progress and pointer
// feedback, one copy procedure per entry, and "Done.". Guards itself against a second start
// while it yields to the event loop.
// Writes everything cached for the file systems that hold `folders` to their disks, each file
// system once, on a worker thread while `pump` keeps the window alive. Throws Failure.
void FlushFileSystems(const std::vector<std::string>& folders, EventPump& pump);

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
