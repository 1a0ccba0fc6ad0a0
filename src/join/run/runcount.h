#pragma once

#include "join/plan/joinplan.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace join {

// What each entry of a run has to copy, counted on a thread of its own beside the copies, its
// reads of the disk behind theirs: the entry under way first, then each later one in turn, so that
// the time left can cover the whole run. A count only lists folders and asks for file sizes. It
// stops soon after the entry it counts has passed, after a stop of every copy is requested, or when
// an earlier entry that is not passed yet gets something to count; such a count is made again
// later. Used from the run's thread.
class RunCount {
public:
    // Where a count goes: the size of each file, and whether to give up.
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual bool cancelled() const = 0;
        virtual void add(std::uint64_t size) = 0;
    };
    using Counter = std::function<void(Sink&)>;
    // What an entry's count was made from: the folder of its tree, or its flat plan. A count of
    // the same origin is not made again.
    struct Origin {
        std::string folder;
        const FlatEntryPlan* plan = nullptr;
        bool operator==(const Origin&) const = default;
    };
    struct Total {
        std::uint64_t files = 0;
        std::uint64_t bytes = 0;
    };

    // A run of `entries` entries, none of which has anything to count yet.
    explicit RunCount(std::size_t entries);
    // Stops counting and waits for the thread.
    ~RunCount();
    RunCount(const RunCount&) = delete;
    RunCount& operator=(const RunCount&) = delete;

    // Entry `entry` (from 0) is counted by `counter`, unless a count of the same origin is made or
    // under way; without a counter it has nothing to copy.
    void set(std::size_t entry, Origin origin, Counter counter);
    // The entry under way (from 0): the entries before it are no longer counted.
    void setCurrent(std::size_t entry);
    // Starts counting, unless it has started.
    void start();

    // What entry `entry` has to copy, once counted.
    std::optional<Total> total(std::size_t entry) const;
    // The bytes of every entry from `entry` on, once each of them is counted.
    std::optional<std::uint64_t> bytesFrom(std::size_t entry) const;

private:
    enum class State { Unknown, Waiting, Counting, Counted };
    struct Slot {
        State state = State::Unknown;
        Origin origin;
        Counter counter;
        Total total;
        // Grows with every new counter, so that a count of an earlier one is not taken for it.
        std::uint64_t version = 0;
    };
    static constexpr std::size_t NotCounting = SIZE_MAX;
    class Count;
    void countAll();

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Slot> m_slots;
    std::atomic<std::size_t> m_current{0};
    // The entry being counted, and whether an earlier one got something to count meanwhile.
    std::size_t m_counting = NotCounting;
    std::atomic<bool> m_preempted{false};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

} // namespace join
