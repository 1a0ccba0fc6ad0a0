#pragma once

#include "background.h"
#include "host.h"
#include "joinplan.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace join {

// "12,345": a count as people read it.
std::string CountText(std::uint64_t count);
// "512 bytes", "3.4 GiB".
std::string SizeText(std::uint64_t bytes);
// "about 2 min left", from the seconds a copy still needs.
std::string TimeLeftText(double seconds);

// What one entry has to copy, counted on a thread of its own beside the copy. It only lists
// folders and asks for file sizes. Counting ends when everything is counted, when the count is
// let go, or soon after a stop of every copy is requested.
class EntryCount {
public:
    // What a preserve copy of the tree `folder` copies: every regular file at any depth. Links
    // are not followed.
    static std::unique_ptr<EntryCount> ofTree(std::string folder);
    // What a flat copy of an entry copies: the files `copies` of its plan (links to files
    // followed).
    static std::unique_ptr<EntryCount> ofFlat(std::shared_ptr<const FlatEntryPlan> plan,
                                              std::vector<FlatPlace> copies);

    // Stops counting and waits for the thread.
    ~EntryCount();
    EntryCount(const EntryCount&) = delete;
    EntryCount& operator=(const EntryCount&) = delete;

    std::uint64_t files() const { return m_files.load(std::memory_order_relaxed); }
    std::uint64_t bytes() const { return m_bytes.load(std::memory_order_relaxed); }
    // True once everything is counted.
    bool complete() const { return m_complete.load(std::memory_order_acquire); }

private:
    EntryCount() = default;
    void start(std::function<void()> count);
    bool cancelled() const;
    void add(std::uint64_t size);
    void countTree(const std::string& folder);
    void countFlat(const FlatEntryPlan& plan, const std::vector<FlatPlace>& copies);

    std::atomic<std::uint64_t> m_files{0};
    std::atomic<std::uint64_t> m_bytes{0};
    std::atomic<bool> m_complete{false};
    std::atomic<bool> m_cancelled{false};
    std::thread m_thread;
};

// The progress a run shows: the share of entries reached and, while an entry copies, how far the
// copy has come against what the entry has to copy, with the time it still needs. It also adds
// up the files the run copied. Used on the run's thread only.
class RunProgress {
public:
    explicit RunProgress(JoinHost& host) : m_host(host) {}

    // Entry `entry` of the `count` the list holds begins; `text` is what the bar says for it.
    void beginEntry(int entry, int count, std::string text);
    // The entry's copy begins: what it has to copy is counted beside it, when the host shows it,
    // from the first time the copy's progress is shown a second or more into the copy.
    void countTree(const std::string& folder);
    void countFlat(std::shared_ptr<const FlatEntryPlan> plan, std::vector<FlatPlace> copies);
    // Shows how far the entry's copy has come; the host calls it at most 4 times a second. The
    // bar follows the bytes copied against the bytes to copy, within the entry's share of the
    // list; its text adds the files and bytes and the time left to the entry's text.
    void show(const CopyCounters& copied);
    // The entry's copy has ended: counting stops, and the files it copied (not those already at
    // their destination) count toward the run's.
    void endCopy(const CopyCounters& copied);

    std::uint64_t filesCopied() const { return m_filesCopied; }
    // Files left alone as already at their destination.
    std::uint64_t filesAlreadyThere() const { return m_filesAlreadyThere; }
    // Partly written files of ended runs that the copies removed.
    std::uint64_t temporariesRemoved() const { return m_temporariesRemoved; }

private:
    using Clock = std::chrono::steady_clock;

    JoinHost& m_host;
    int m_entry = 0;
    int m_entries = 0;
    std::string m_text;
    // The count to begin, until it is begun; then the count.
    std::function<std::unique_ptr<EntryCount>()> m_count;
    std::unique_ptr<EntryCount> m_toCopy;
    Clock::time_point m_copyBegan;
    Clock::time_point m_shown;
    std::uint64_t m_filesCopied = 0;
    std::uint64_t m_filesAlreadyThere = 0;
    std::uint64_t m_temporariesRemoved = 0;
};

} // namespace join
