#pragma once

#include "join/fs/attributes.h"
#include "join/tasks/runcontrol.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace join {

// What a copy has done so far, counted while it runs, for whoever shows progress.
struct CopyCounters {
    std::atomic<std::uint64_t> files{0}; // copied, or already there
    std::atomic<std::uint64_t> bytes{0}; // written, as they are written
    // Of `files`, those already at their destination with the source's size and time, left alone,
    // and their bytes.
    std::atomic<std::uint64_t> alreadyThere{0};
    std::atomic<std::uint64_t> bytesAlreadyThere{0};
    // Files, links and folders made or replaced, and folders whose bits were set: what a flush
    // has to write. Nothing when a join again found everything there.
    std::atomic<std::uint64_t> made{0};
    // Partly written files that an ended run had left in the folders written to, removed.
    std::atomic<std::uint64_t> temporariesRemoved{0};
    // What the output did not hold of the attributes the copies keep.
    AttributeTally attributes;
};

// Work running on other threads, which the window waits for without freezing. It finishes once;
// whoever waits is told, from the thread that finished it.
class BackgroundWork {
public:
    BackgroundWork() = default;
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // Calls `onFinished` once the work has finished: at once when it already has. The call may
    // come from any thread; it must be short and must not call back into this object. Whoever
    // was told this way calls wait() before letting the object go.
    void whenFinished(std::function<void()> onFinished);
    bool finished() const;
    // Blocks the calling thread until the work has finished.
    void wait();
    // Blocks at most `timeout`; true when the work has finished.
    bool waitAtMost(std::chrono::milliseconds timeout);

    CopyCounters& counters() { return m_counters; }
    const CopyCounters& counters() const { return m_counters; }

    // How the work's progress is shown, set by whoever started it. Whoever waits calls
    // reportProgress() from time to time, on its own thread; without a report it does nothing.
    void setProgressReport(std::function<void()> report) { m_progressReport = std::move(report); }
    void reportProgress() {
        if (m_progressReport)
            m_progressReport();
    }

    // Called once, by the work itself, when it is done.
    void finish();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_finishedChanged;
    bool m_finished = false;
    std::function<void()> m_onFinished;
    std::function<void()> m_progressReport;
    CopyCounters m_counters;
};

// The program's worker threads, one per processor core, started on first use and kept for the
// life of the process. Jobs that use several workers post one loop per worker and let the
// posting thread take part, so that a job finishes even when no other worker is free. Beside
// them, a job that mostly waits on a link (a network share) may have threads of its own, as
// many as it asks for: each started when none is free, and kept for later jobs.
class WorkerPool {
public:
    static WorkerPool& shared();

    // The workers that share the processors.
    std::size_t size() const { return m_threads.size(); }

    // Runs `task` on a worker thread, as soon as one is free, as work of the run whose work the
    // posting thread does (currentRunControl), if any.
    void post(std::function<void()> task);

    // Runs `task` at once on a thread beside the processors' workers, a free one else a new one,
    // as work of the poster's run, as post does.
    void postBeside(std::function<void()> task);

    // Runs `work` on a worker thread and finishes `work` afterwards, whatever `work` throws.
    void start(BackgroundWork& work, std::function<void()> job);

    // Blocks until no task is running or waiting, or `timeout` has passed; true when idle.
    bool waitUntilIdle(std::chrono::milliseconds timeout);

    ~WorkerPool();

private:
    // The tasks waiting for one kind of thread, and those of its threads that wait for a task.
    struct Lane {
        std::deque<std::function<void()>> tasks;
        std::condition_variable posted;
        std::size_t free = 0;
    };

    explicit WorkerPool(std::size_t threads);
    void runWorker(Lane& lane);

    std::mutex m_mutex;
    std::condition_variable m_idle;
    Lane m_cores;
    Lane m_beside;
    std::size_t m_running = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
    std::vector<std::thread> m_besideThreads;
};

// Called as each task of a copy job begins. Does nothing, unless a test has set a probe, which
// may throw to make that task fail as a program fault would (an allocation that fails).
void probeTask();
void setTaskProbe(void (*probe)());

// Asks every run's copies under way to stop and waits until each has removed what it had partly
// written, however long a stalled device makes that take. For a process about to end.
void stopAllCopies();

} // namespace join
