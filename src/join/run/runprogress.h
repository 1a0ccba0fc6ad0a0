#pragma once

#include "join/host/host.h"
#include "join/plan/joinplan.h"
#include "join/tasks/workers.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace join {

// "12,345": a count as people read it.
std::string CountText(std::uint64_t count);
// "1 file", "1,234 files".
std::string filesText(std::uint64_t files);
// "512 bytes", "3.4 GiB".
std::string SizeText(std::uint64_t bytes);
// "about 2 min left", from the seconds a copy still needs.
std::string TimeLeftText(double seconds);

// The folder an entry names, by its own name: the last part of its path, also when the path ends
// with the separator; "/" for the root; "" for an empty entry.
std::string EntryName(const std::string& entry);
// How far the copy has come: "12 of 30 files, 3.4 MiB of 8.0 MiB, about 2 min left" once what the
// entry has to copy is counted, "12 files, 3.4 MiB so far" before; "" before the copy begins.
std::string CopiedText(const RunFigures& figures);
// What the bar says: "Entry 2 of 4: NAME", followed during the copy by " — " and CopiedText.
std::string ProgressText(const RunFigures& figures);

// What each entry of a run has to copy, counted on a thread of its own at the lowest priority
// beside the copies: the entry under way first, then each later one in turn, so that the time
// left can cover the whole run. A count only lists folders and asks for file sizes. It stops
// soon after the entry it counts has passed, after a stop of every copy is requested, or when an
// earlier entry that is not passed yet gets something to count; such a count is made again
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

// The progress a run shows. The bar's value only grows: the entries done and the share of the
// current entry's bytes done, over the list's entries; as an entry begins it stays where the
// previous one ended. Its text names the entry and, during the copy, the files and bytes done
// against what the entry has to copy and the time the whole run still needs. What the entries
// have to copy is counted beside the copies (RunCount), only for a host that shows it and only
// once a copy has lasted to its first progress report, so that short copies count nothing. A file
// already at its destination counts as done, but not toward the speed, which is the bytes written
// per second of writing. It also adds up the files the run copied. Used on the run's thread only.
class RunProgress {
public:
    explicit RunProgress(JoinHost& host);

    // The run begins with `entries`, read as its copies will read them ("" for one that cannot be
    // read or names no folder): a preserve run counts each one's tree.
    void beginRun(const std::vector<std::string>& entries, CopyOption option);
    // A flat run's look-ahead has planned every entry: each is counted from its plan. `flat` and
    // `rules` must outlive this object.
    void lookAheadMade(const FlatRun& flat, const OutputRules& rules);
    // Entry `entry` of the `count` the list holds begins, naming the folder `name`: the figures
    // for the bar and its text.
    const RunFigures& beginEntry(int entry, int count, std::string name);
    // The entry's copy begins: what it has to copy is the tree `folder`, or the `copies` of a flat
    // plan (counted again only when the count made ahead came from elsewhere).
    void countTree(const std::string& folder);
    void countFlat(std::shared_ptr<const FlatEntryPlan> plan, std::vector<FlatPlace> copies);
    // Shows how far the entry's copy has come; the host calls it at most 4 times a second.
    void show(const CopyCounters& copied);
    // The entry's copy has ended: the files it copied (not those already at their destination)
    // count toward the run's.
    void endCopy(const CopyCounters& copied);
    // The `entries` entries of the run were copied: the bar's value for their share of the list.
    int entriesDone(int entries);

    std::uint64_t filesCopied() const { return m_filesCopied; }
    // Files left alone as already at their destination.
    std::uint64_t filesAlreadyThere() const { return m_filesAlreadyThere; }
    // Partly written files of ended runs that the copies removed.
    std::uint64_t temporariesRemoved() const { return m_temporariesRemoved; }

private:
    using Clock = std::chrono::steady_clock;

    // Moves the bar to `entries` (entries done, with the share of one) unless it is further.
    void moveTo(double entries);
    // Adds the time since the last look to the time spent writing, when bytes were written.
    void tick(std::uint64_t written);
    std::size_t current() const { return static_cast<std::size_t>(m_figures.entry - 1); }

    JoinHost& m_host;
    const bool m_shows;
    std::unique_ptr<RunCount> m_count;
    RunFigures m_figures;
    // The furthest the bar has gone.
    int m_percent = 0;
    // The copy's bytes written as last looked at, and when.
    Clock::time_point m_looked;
    std::uint64_t m_lookedWritten = 0;
    // Bytes written by the run's ended copies, and the seconds in which its copies wrote.
    std::uint64_t m_written = 0;
    double m_writingSeconds = 0;
    std::uint64_t m_filesCopied = 0;
    std::uint64_t m_filesAlreadyThere = 0;
    std::uint64_t m_temporariesRemoved = 0;
};

} // namespace join
