#pragma once

#include "join/tasks/workers.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace join {

// Which waiting task a group's thread takes next: the first posted (a queue), or the last (a
// stack, which finishes a folder's work before it spreads to the next).
enum class TaskOrder { FirstPosted, LastPosted };

// The tasks of one job, run on the shared workers and on the thread that waits for the job, so
// that a job finishes even when no other worker is free. A task may post further tasks. The first
// task that throws ends the group: the tasks still waiting are dropped, later posts are ignored
// and the exception goes to the thread that waits. Once the stop token says stop, the tasks still
// waiting are dropped too; the tasks running finish as they see the stop themselves.
//
// Made with std::make_shared: each worker it enlists keeps it while it takes part.
template <class Task> class TaskGroup : public std::enable_shared_from_this<TaskGroup<Task>> {
public:
    struct Settings {
        TaskOrder order = TaskOrder::FirstPosted;
        // How many tasks may wait at once; past that, whoever posts runs waiting tasks itself.
        std::size_t capacity = std::numeric_limits<std::size_t>::max();
        // Called on each thread as it stops taking part, for what it gathered across its tasks.
        std::function<void()> leaving;
    };

    // Its tasks run as work of the run whose work the thread that makes it does, stopped and
    // paused with it.
    TaskGroup(std::function<void(Task&)> run, Settings settings,
              std::shared_ptr<RunControl> control = currentRunControl())
        : m_run(std::move(run)), m_settings(std::move(settings)), m_control(std::move(control)) {}
    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;

    // Has up to `threads` - 1 workers of the pool take part; the thread that waits is the last.
    void enlist(std::size_t threads = std::numeric_limits<std::size_t>::max()) {
        WorkerPool& pool = WorkerPool::shared();
        auto self = this->shared_from_this();
        for (std::size_t i = 1; i < std::min(threads, pool.size()); ++i)
            pool.post([self] { self->takePart(); });
    }

    void post(Task task) {
        std::unique_lock lock(m_mutex);
        while (m_waiting.size() >= m_settings.capacity && !m_fault)
            runOne(lock);
        if (m_fault)
            return;
        m_waiting.push_back(std::move(task));
        ++m_outstanding;
        lock.unlock();
        m_changed.notify_one();
    }

    // Posts several tasks, taken in the order given whatever the group's order.
    void postAll(std::vector<Task>& tasks) {
        {
            std::lock_guard lock(m_mutex);
            if (m_fault)
                return;
            if (m_settings.order == TaskOrder::LastPosted)
                std::move(tasks.rbegin(), tasks.rend(), std::back_inserter(m_waiting));
            else
                std::move(tasks.begin(), tasks.end(), std::back_inserter(m_waiting));
            m_outstanding += tasks.size();
        }
        m_changed.notify_all();
    }

    // Nothing is posted from outside any more: takes part until every task is done. Returns what
    // the first task that threw threw, or nothing.
    std::exception_ptr finish() {
        {
            std::lock_guard lock(m_mutex);
            m_closed = true;
        }
        m_changed.notify_all();
        takePart();
        std::lock_guard lock(m_mutex);
        return m_fault;
    }

    // The same, throwing what a task threw.
    void wait() {
        if (const std::exception_ptr fault = finish())
            std::rethrow_exception(fault);
    }

    // For an owner that ends early (an exception on its way out): nothing more is posted, the
    // tasks still waiting are dropped, and the call returns once those running are done, so
    // that none of them outlives what it works on.
    void abandon() {
        {
            std::lock_guard lock(m_mutex);
            m_closed = true;
            dropWaiting();
        }
        takePart();
    }

private:
    // Runs tasks until the group is closed and none is waiting or running.
    void takePart() {
        {
            std::unique_lock lock(m_mutex);
            for (;;) {
                m_changed.wait(
                    lock, [&] { return !m_waiting.empty() || (m_closed && m_outstanding == 0); });
                if (m_waiting.empty())
                    break;
                runOne(lock);
            }
        }
        if (m_settings.leaving)
            m_settings.leaving();
    }

    // Runs one waiting task, with the lock released meanwhile.
    void runOne(std::unique_lock<std::mutex>& lock) {
        if (stopped()) {
            dropWaiting();
            return;
        }
        Task task = takeNext();
        lock.unlock();
        std::exception_ptr fault;
        try {
            // A pause holds the task before it begins; a stop meanwhile drops it.
            if (m_control)
                m_control->waitWhilePaused();
            if (!stopped()) {
                const RunScope scope(m_control);
                const RunControl::Moving moving(m_control.get());
                m_run(task);
            }
        } catch (...) {
            fault = std::current_exception();
        }
        task = {};
        lock.lock();
        if (fault && !m_fault) {
            m_fault = fault;
            dropWaiting();
        }
        if (--m_outstanding == 0)
            m_changed.notify_all();
    }

    bool stopped() const { return m_control && m_control->stopRequested(); }

    Task takeNext() {
        Task task;
        if (m_settings.order == TaskOrder::LastPosted) {
            task = std::move(m_waiting.back());
            m_waiting.pop_back();
        } else {
            task = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        return task;
    }

    void dropWaiting() {
        m_outstanding -= m_waiting.size();
        m_waiting.clear();
        m_changed.notify_all();
    }

    const std::function<void(Task&)> m_run;
    const Settings m_settings;
    const std::shared_ptr<RunControl> m_control;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Task> m_waiting;
    std::size_t m_outstanding = 0; // waiting and running
    bool m_closed = false;
    std::exception_ptr m_fault;
};

} // namespace join
