#pragma once

#include "join/host/host.h"
#include "join/run/joinrun.h"
#include "join/tasks/runcontrol.h"

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace shell {

// A join run on a thread of its own, for a host that lives on the window's thread, which stays
// free to answer, repaint and take commands. The run reads what the host showed when it began
// (the list, the output folder text, the option). Every call the run makes of its host arrives
// on the host's thread, in the order made: a call that shows something is queued and the run goes
// on; a call that waits for the user (a report, a message, the closing message) holds the run
// until the host has returned from it, or until the host has gone.
class JoinJob : public QObject {
    Q_OBJECT

public:
    explicit JoinJob(join::JoinHost& host);
    // Stops a run under way and waits for its end.
    ~JoinJob() override;
    JoinJob(const JoinJob&) = delete;
    JoinJob& operator=(const JoinJob&) = delete;

    // Starts a run of what the host shows now; false while one is under way.
    bool start();
    // From start() until ended() has been sent.
    bool running() const { return m_running; }
    // The control of the run under way, or of the next.
    std::shared_ptr<join::RunControl> control() const { return m_run.control(); }
    // True while a call of the run is being delivered to the host.
    bool delivering() const { return m_delivering; }

    // The host has gone: calls that would wait for it return at once, and the run stops.
    void abandon();
    // Blocks until the run's thread has ended.
    void waitForEnd();

signals:
    // The run has ended; every call it made has been delivered.
    void ended();
    // A call of the run has been delivered to the host.
    void delivered();
    // A pause asked for has taken effect, or has ended.
    void pauseChanged();

private:
    class ThreadHost;
    friend class ThreadHost;

    // Delivers `call` to the host on its thread, later.
    void post(std::function<void(join::JoinHost&)> call);
    // Delivers `call` to the host on its thread and waits until it has returned, or the host has
    // gone. Rethrows what it threw.
    void callAndWait(std::function<void(join::JoinHost&)> call);

    join::JoinHost& m_host;
    std::unique_ptr<ThreadHost> m_threadHost;
    join::JoinRun m_run;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    bool m_delivering = false;
    std::mutex m_mutex;
    std::condition_variable m_delivered;
    bool m_gone = false;
};

} // namespace shell
