#pragma once

#include "join/fs/posixfs.h"
#include "join/host/host.h"
#include "join/run/writebehind.h"
#include "join/tasks/runcontrol.h"
#include "join/tasks/workers.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace join {

// The file systems a run writes to, each opened once before anything is written there: a
// flush through that descriptor reports every write error since, however early.
class OutputFileSystems {
public:
    // Opens the file system that holds `folder`, unless it is open already. Never fails: a
    // folder that cannot be opened is left to the copy to report.
    void open(const std::string& folder);
    // Writes everything cached for each open file system to its disk, on a worker thread while
    // `pump` keeps the window alive. Throws CopyShortfall naming the first that failed.
    void flush(EventPump& pump);
    // Ends the writing behind without a flush of its own, on a worker thread while `pump` keeps
    // the window alive: a flush it has under way may take long on a slow disk.
    void stopWritingBehind(EventPump& pump);
    bool anyOpen() const { return !m_open.empty(); }

private:
    struct Open {
        Descriptor folder;
        dev_t device;
        std::string path;
    };
    std::vector<Open> m_open;
    WriteBehind m_writeBehind;
};

// The "Start Joining" run: validation, the walk over the list with progress and pointer
// feedback, one copy procedure per entry, and the closing message. Reads the output folder text and
// the copy option once, when it starts. Guards itself against a second start. Its control (stop,
// pause) goes with all of its work, on every thread: a stop ends it after the entry under way,
// with a message that says so; what was copied stays; a pause holds its work until resumed.
class JoinRun {
public:
    explicit JoinRun(JoinHost& host) : m_host(host), m_control(std::make_shared<RunControl>()) {}

    // "Start Joining". A run after one that was stopped has a control of its own.
    void run();

    // The control of the run under way, or of the next: stop and pause it from any thread.
    std::shared_ptr<RunControl> control() const;
    // Told whenever a pause of a run takes effect or ends (RunControl::setPauseListener).
    void setPauseListener(std::function<void()> listener);

    bool JoinRunning() const { return m_joinRunning; }
    // True from the first entry until the run gives the pointer back: the busy state is then
    // the run's, and a command that ends meanwhile must leave the hourglass showing.
    bool HoldsHourglass() const { return m_holdsHourglass; }

private:
    JoinHost& m_host;
    mutable std::mutex m_mutex;
    std::shared_ptr<RunControl> m_control;
    bool m_controlUsed = false;
    std::function<void()> m_pauseListener;
    std::atomic<bool> m_joinRunning{false};
    std::atomic<bool> m_holdsHourglass{false};
};

} // namespace join
