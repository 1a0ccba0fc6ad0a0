#include "join/tasks/runcontrol.h"

#include <algorithm>
#include <vector>

namespace join {

namespace {

thread_local std::shared_ptr<RunControl> t_current;
// How deep this thread is in work it counts as moving, for the control it counts for.
thread_local int t_movingDepth = 0;

// Every run control that exists, so that a process about to end can stop them all.
std::mutex g_controlsMutex;
// Never destroyed: a worker may let a run's control go while the process ends.
std::vector<RunControl*>& controls() {
    static auto* all = new std::vector<RunControl*>;
    return *all;
}

} // namespace

RunControl::RunControl() {
    std::lock_guard lock(g_controlsMutex);
    controls().push_back(this);
}

RunControl::~RunControl() {
    std::lock_guard lock(g_controlsMutex);
    std::erase(controls(), this);
}

void RunControl::requestStop() {
    m_stop.request_stop();
    std::lock_guard lock(m_mutex);
    m_pause = false;
    m_changed.notify_all();
    tellPauseChange();
}

void RunControl::pause() {
    std::lock_guard lock(m_mutex);
    if (!m_stop.stop_requested())
        m_pause = true;
    tellPauseChange();
}

void RunControl::resume() {
    std::lock_guard lock(m_mutex);
    m_pause = false;
    m_changed.notify_all();
    tellPauseChange();
}

void RunControl::setPauseListener(std::function<void()> listener) {
    std::lock_guard lock(m_mutex);
    m_pauseListener = std::move(listener);
}

void RunControl::tellPauseChange() {
    const bool paused = m_pause && m_moving == 0;
    if (paused == m_toldPaused)
        return;
    m_toldPaused = paused;
    if (m_pauseListener)
        m_pauseListener();
}

bool RunControl::pauseRequested() const {
    std::lock_guard lock(m_mutex);
    return m_pause;
}

bool RunControl::paused() const {
    std::lock_guard lock(m_mutex);
    return m_pause && m_moving == 0;
}

void RunControl::waitWhilePaused() {
    std::unique_lock lock(m_mutex);
    if (!m_pause)
        return;
    // Work that waits here is not moving; it counts again once it goes on.
    const bool counted = t_movingDepth > 0 && t_current.get() == this;
    if (counted) {
        --m_moving;
        tellPauseChange();
    }
    m_changed.wait(lock, [&] { return !m_pause || m_stop.stop_requested(); });
    if (counted)
        ++m_moving;
}

RunControl::Moving::Moving(RunControl* control) : m_control(control) {
    if (m_control && t_movingDepth++ == 0) {
        std::lock_guard lock(m_control->m_mutex);
        ++m_control->m_moving;
        m_control->tellPauseChange();
    }
}

RunControl::Moving::~Moving() {
    if (m_control && --t_movingDepth == 0) {
        std::lock_guard lock(m_control->m_mutex);
        --m_control->m_moving;
        m_control->tellPauseChange();
    }
}

void RunControl::requestStopOfAll() {
    std::lock_guard lock(g_controlsMutex);
    for (RunControl* control : controls())
        control->requestStop();
}

std::shared_ptr<RunControl> currentRunControl() {
    return t_current;
}

RunScope::RunScope(std::shared_ptr<RunControl> control) : m_previous(std::move(t_current)) {
    t_current = std::move(control);
}

RunScope::~RunScope() {
    t_current = std::move(m_previous);
}

bool stopRequested() {
    return t_current && t_current->stopRequested();
}

void pausePoint() {
    if (t_current)
        t_current->waitWhilePaused();
}

} // namespace join
