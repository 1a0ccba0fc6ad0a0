#pragma once

#include "join/tasks/workers.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace join {

// Which waiting task a group's thread takes next: the first posted (a queue), or the last (a
// stack, which finishes a folder's work before it spreads to the next).
enum class TaskOrder { FirstPosted, LastPosted };

// Which of the waiting tasks a thread takes next, as an index into `waiting`: the first posted or
// the last, as `order` says. Where tasks have keys (`keyOf`, the folder a task writes into), the
// first in that order among those whose key has the fewest tasks running (`running`), so that
// the threads spread over the folders instead of queueing on one folder's lock.
template <class Waiting, class KeyOf, class RunningOf>
std::size_t nextToTake(const Waiting& waiting, TaskOrder order, const KeyOf& keyOf,
                       const RunningOf& running) {
    std::size_t chosen = 0;
    std::size_t fewest = std::numeric_limits<std::size_t>::max();
    for (std::size_t seen = 0; seen < waiting.size() && fewest > 0; ++seen) {
        const std::size_t at = order == TaskOrder::LastPosted ? waiting.size() - 1 - seen : seen;
        if (const std::size_t count = running(keyOf(waiting[at])); count < fewest) {
            chosen = at;
            fewest = count;
        }
    }
    return chosen;
}

// How many threads a job's tasks run on, the thread that waits for it among them: `first` from
// the start and, where `most` is more, up to `most` as the job finds that more threads pay
// (WidthGauge). Threads past the processors' workers are threads beside them, for a job that
// waits on a link more than it computes.
struct JobWidth {
    std::size_t first = 1;
    std::size_t most = 1;
};

// Whether a job gains by more threads, judged as it runs: after each period in which the tasks
// finished per second were a tenth or more above the best period before, it takes `Step` more,
// up to the most. Where more threads bring no more tasks per second (they wait on one folder's
// lock, or the link is full) the width stays as it is; it never shrinks.
class WidthGauge {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration Period = std::chrono::milliseconds(250);
    static constexpr std::size_t Step = 8;

    WidthGauge(JobWidth width, Clock::time_point start)
        : m_most(width.most), m_width(std::min(width.first, width.most)), m_periodStart(start) {}

    std::size_t width() const { return m_width; }

    // Told that `finished` tasks are done by `now`; returns how many threads the job should have.
    std::size_t observe(std::uint64_t finished, Clock::time_point now) {
        if (m_width >= m_most || now - m_periodStart < Period)
            return m_width;
        const double rate = static_cast<double>(finished - m_finishedBefore) /
                            std::chrono::duration<double>(now - m_periodStart).count();
        if (rate >= m_best * 1.1 && finished > m_finishedBefore)
            m_width = std::min(m_most, m_width + Step);
        m_best = std::max(m_best, rate);
        m_periodStart = now;
        m_finishedBefore = finished;
        return m_width;
    }

private:
    std::size_t m_most;
    std::size_t m_width;
    Clock::time_point m_periodStart;
    std::uint64_t m_finishedBefore = 0;
    double m_best = 0;
};

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
        // Where set, the folder a task writes into: threads take tasks of the folders that have
        // the fewest running (nextToTake).
        std::function<const void*(const Task&)> spreadBy;
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
        const std::size_t onCores = std::min(threads, WorkerPool::shared().size());
        enlist(JobWidth{onCores, onCores});
    }

    // Has the job run on `width.first` threads, the one that waits among them: the pool's workers
    // first, then threads beside them; and on more as they pay, up to `width.most`.
    void enlist(JobWidth width) {
        WorkerPool& pool = WorkerPool::shared();
        auto self = this->shared_from_this();
        std::lock_guard lock(m_mutex);
        m_enlisted = std::max<std::size_t>(1, width.first);
        for (std::size_t i = 1; i < m_enlisted; ++i) {
            if (i < pool.size())
                pool.post([self] { self->takePart(); });
            else
                pool.postBeside([self] { self->takePart(); });
        }
        if (width.most > m_enlisted)
            m_gauge.emplace(JobWidth{m_enlisted, width.most}, WidthGauge::Clock::now());
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
        const void* key = nullptr;
        Task task = takeNext(key);
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
        if (m_settings.spreadBy && --m_runningIn[key] == 0)
            m_runningIn.erase(key);
        if (fault && !m_fault) {
            m_fault = fault;
            dropWaiting();
        }
        if (m_gauge)
            widen();
        if (--m_outstanding == 0)
            m_changed.notify_all();
    }

    bool stopped() const { return m_control && m_control->stopRequested(); }

    // Takes the next task, and where tasks are spread, counts it as running in its folder `key`.
    Task takeNext(const void*& key) {
        Task task;
        if (m_settings.spreadBy) {
            const std::size_t at = nextToTake(
                m_waiting, m_settings.order, m_settings.spreadBy, [this](const void* folder) {
                    const auto found = m_runningIn.find(folder);
                    return found == m_runningIn.end() ? std::size_t{0} : found->second;
                });
            task = std::move(m_waiting[at]);
            m_waiting.erase(m_waiting.begin() + static_cast<std::ptrdiff_t>(at));
            key = m_settings.spreadBy(task);
            ++m_runningIn[key];
        } else if (m_settings.order == TaskOrder::LastPosted) {
            task = std::move(m_waiting.back());
            m_waiting.pop_back();
        } else {
            task = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        return task;
    }

    // Adds threads beside the pool's workers while the gauge finds that they pay. A thread that
    // cannot be started leaves the job as wide as it is: it only runs slower.
    void widen() noexcept {
        const std::size_t wanted = m_gauge->observe(++m_finished, WidthGauge::Clock::now());
        try {
            for (; m_enlisted < wanted; ++m_enlisted) {
                auto self = this->shared_from_this();
                WorkerPool::shared().postBeside([self] { self->takePart(); });
            }
        } catch (...) {
            m_gauge.reset();
        }
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
    // Where tasks are spread: how many run in each folder.
    std::unordered_map<const void*, std::size_t> m_runningIn;
    // The threads taking part, and whether and how their number grows.
    std::size_t m_enlisted = 1;
    std::optional<WidthGauge> m_gauge;
    std::uint64_t m_finished = 0;
};

} // namespace join
