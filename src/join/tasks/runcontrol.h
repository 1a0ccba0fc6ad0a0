#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>

namespace join {

// What a run's work asks of the run that owns it, on whichever thread the work is done: whether to
// stop, and whether to wait while the run is paused. A run owns one; its work carries it along:
// the thread that does work for a run has the run's control as its current one (RunScope), and
// work it hands to the workers takes the control along (WorkerPool::post). Safe to use from any
// thread.
class RunControl {
public:
    RunControl();
    ~RunControl();
    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    // Asks every copy of the run to stop at its next step; a pause ends with it.
    void requestStop();
    bool stopRequested() const { return m_stop.stop_requested(); }
    std::stop_token stopToken() const { return m_stop.get_token(); }

    // Asks the run's work to wait at its next pause point: no new file is begun, a copy in flight
    // finishes the chunk it is moving. Resume lets it go on.
    void pause();
    void resume();
    bool pauseRequested() const;
    // Whether a pause has taken effect: asked for, and no work of the run still moving.
    bool paused() const;

    // Called whenever paused() changes, on the thread that changed it, with the control's lock
    // held: it must be short and must not call back into the control.
    void setPauseListener(std::function<void()> listener);

    // A pause point: waits while a pause is asked for, until resumed or stopped. Work that waits
    // here does not count as moving meanwhile.
    void waitWhilePaused();

    // Work of the run under way on this thread, from construction to destruction: a pause takes
    // effect once none is left outside a pause point. Nests.
    class Moving {
    public:
        explicit Moving(RunControl* control);
        ~Moving();
        Moving(const Moving&) = delete;
        Moving& operator=(const Moving&) = delete;

    private:
        RunControl* m_control;
    };

    // Asks every run that exists to stop. For a process about to end.
    static void requestStopOfAll();

private:
    std::stop_source m_stop;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    // Tells the listener when paused() has changed since it was last told. m_mutex is held.
    void tellPauseChange();

    bool m_pause = false;
    int m_moving = 0; // threads with work of the run under way, not waiting at a pause point
    bool m_toldPaused = false;
    std::function<void()> m_pauseListener;
};

// The control of the run whose work this thread does now; null for none.
std::shared_ptr<RunControl> currentRunControl();

// Makes `control` this thread's current run control from construction to destruction.
class RunScope {
public:
    explicit RunScope(std::shared_ptr<RunControl> control);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    std::shared_ptr<RunControl> m_previous;
};

// Whether the current run (if any) is asked to stop.
bool stopRequested();
// A pause point of the current run (if any).
void pausePoint();

} // namespace join
