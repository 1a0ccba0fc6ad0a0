#include "join/tasks/workers.h"

#include "join/fs/posixfs.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <new>
#include <pthread.h>
#include <utility>

namespace join {

void BackgroundWork::whenFinished(std::function<void()> onFinished) {
    std::unique_lock lock(m_mutex);
    if (!m_finished) {
        m_onFinished = std::move(onFinished);
        return;
    }
    lock.unlock();
    onFinished();
}

bool BackgroundWork::finished() const {
    std::lock_guard lock(m_mutex);
    return m_finished;
}

void BackgroundWork::wait() {
    std::unique_lock lock(m_mutex);
    m_finishedChanged.wait(lock, [&] { return m_finished; });
}

bool BackgroundWork::waitAtMost(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_finishedChanged.wait_for(lock, timeout, [&] { return m_finished; });
}

void BackgroundWork::finish() {
    // Everything happens under the lock, the callback and the wake-up included: once a waiter
    // has seen the work finished, this object is not touched again, and the waiter may let it go.
    std::lock_guard lock(m_mutex);
    m_finished = true;
    if (m_onFinished)
        m_onFinished();
    m_onFinished = nullptr;
    m_finishedChanged.notify_all();
}

namespace {

std::atomic<WorkerPool*> g_pool{nullptr};
std::mutex g_poolCreation;

} // namespace

WorkerPool& WorkerPool::shared() {
    if (WorkerPool* pool = g_pool.load(std::memory_order_acquire))
        return *pool;
    std::lock_guard lock(g_poolCreation);
    if (!g_pool.load()) {
        // A child made by fork() has none of its parent's threads, and its copy of the pool's
        // lock may be held: it starts a pool of its own.
        static const int registered = ::pthread_atfork(nullptr, nullptr, [] {
            g_pool.store(nullptr);
            new (&g_poolCreation) std::mutex;
        });
        (void)registered;
        // Never destroyed: workers may still be inside a task when the process ends.
        g_pool.store(new WorkerPool(std::max(1u, std::thread::hardware_concurrency())),
                     std::memory_order_release);
    }
    return *g_pool.load();
}

WorkerPool::WorkerPool(std::size_t threads) {
    m_threads.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { runWorker(m_cores); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_cores.posted.notify_all();
    m_beside.posted.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
    for (std::thread& thread : m_besideThreads)
        thread.join();
}

namespace {

// `task`, to be run on another thread as work of the run whose work this thread does, if any: its
// stop and pause follow it there.
std::function<void()> asCurrentRunsWork(std::function<void()> task) {
    if (std::shared_ptr<RunControl> run = currentRunControl())
        return [run = std::move(run), task = std::move(task)] {
            const RunScope scope(run);
            task();
        };
    return task;
}

} // namespace

void WorkerPool::post(std::function<void()> task) {
    task = asCurrentRunsWork(std::move(task));
    {
        std::lock_guard lock(m_mutex);
        m_cores.tasks.push_back(std::move(task));
    }
    m_cores.posted.notify_one();
}

void WorkerPool::postBeside(std::function<void()> task) {
    task = asCurrentRunsWork(std::move(task));
    {
        std::lock_guard lock(m_mutex);
        m_beside.tasks.push_back(std::move(task));
        // Each free thread takes one task; a task beyond them gets a thread of its own, and
        // where none can be started, is not left waiting for one.
        if (m_beside.tasks.size() > m_beside.free) {
            try {
                m_besideThreads.emplace_back([this] { runWorker(m_beside); });
            } catch (...) {
                m_beside.tasks.pop_back();
                throw;
            }
        }
    }
    m_beside.posted.notify_one();
}

void WorkerPool::start(BackgroundWork& work, std::function<void()> job) {
    post([&work, job = std::move(job)] {
        try {
            job();
        } catch (...) {
            // The job records its own failures; nothing may escape a worker.
        }
        work.finish();
    });
}

bool WorkerPool::waitUntilIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, timeout, [&] {
        return m_running == 0 && m_cores.tasks.empty() && m_beside.tasks.empty();
    });
}

namespace {
std::atomic<void (*)()> g_taskProbe{nullptr};
} // namespace

void probeTask() {
    if (void (*probe)() = g_taskProbe.load(std::memory_order_relaxed))
        probe();
}

void setTaskProbe(void (*probe)()) {
    g_taskProbe.store(probe);
}

void stopAllCopies() {
    RunControl::requestStopOfAll();
    if (WorkerPool* pool = g_pool.load())
        while (!pool->waitUntilIdle(std::chrono::seconds(1))) {
        }
}

void WorkerPool::runWorker(Lane& lane) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++lane.free;
        lane.posted.wait(lock, [&] { return m_stopping || !lane.tasks.empty(); });
        --lane.free;
        if (lane.tasks.empty())
            return;
        std::function<void()> task = std::move(lane.tasks.front());
        lane.tasks.pop_front();
        ++m_running;
        lock.unlock();
        try {
            task();
        } catch (...) {
            // Tasks record their own failures; nothing may end a worker.
        }
        task = nullptr;
        lock.lock();
        --m_running;
        if (m_running == 0 && m_cores.tasks.empty() && m_beside.tasks.empty())
            m_idle.notify_all();
    }
}

} // namespace join
