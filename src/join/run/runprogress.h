#pragma once

#include "join/host/host.h"
#include "join/plan/joinplan.h"
#include "join/run/runcount.h"
#include "join/tasks/workers.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace join {

// The folder an entry names, by its own name: the last part of its path, also when the path ends
// with the separator; "/" for the root; "" for an empty entry.
std::string entryName(const std::string& entry);
// The progress a run shows. The bar's value only grows: the entries done and the share of the
// current entry's bytes done, over the list's entries; as an entry begins it stays where the
// previous one ended. Its text names the entry and, during the copy, the files and bytes done
// against what the entry has to copy and the time the whole run still needs. What the entries
// have to copy is counted beside the copies (RunCount), only for a host that shows it and only
// once a copy has lasted to its first progress report, so that short copies count nothing. A file
// already at its destination counts as done, but not toward the speed, which is the bytes written
// per second of writing, weighted toward the last seconds. The time shown counts down on its own
// and follows the estimate only when that moves away from it by more than a small step. It also
// adds up the files the run copied. Used on the run's thread only.
class RunProgress {
public:
    using Clock = std::chrono::steady_clock;
    // Where the progress reads the time: the steady clock, or a test's.
    using Now = std::function<Clock::time_point()>;

    explicit RunProgress(JoinHost& host, Now now = Clock::now);

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
    // Whether what every entry from the one under way on has to copy is counted: the time left
    // is known from then on.
    bool runCounted() const;

    std::uint64_t filesCopied() const { return m_filesCopied; }
    // Files left alone as already at their destination.
    std::uint64_t filesAlreadyThere() const { return m_filesAlreadyThere; }
    // Partly written files of ended runs that the copies removed.
    std::uint64_t temporariesRemoved() const { return m_temporariesRemoved; }
    // What the output did not hold of the attributes the copies keep.
    const AttributesNotKept& attributesNotKept() const { return m_attributesNotKept; }

private:
    // Moves the bar to `entries` (entries done, with the share of one) unless it is further.
    void moveTo(double entries);
    // The copy under way begins to be looked at: nothing of it written yet.
    void lookFromNow();
    // Adds the time since the last look, and the bytes written in it, to the time spent writing
    // and the speed, when bytes were written.
    void tick(std::uint64_t written);
    // The time left to show, from `estimate` (seconds) made now.
    double shownSecondsLeft(double estimate);
    std::size_t current() const { return static_cast<std::size_t>(m_figures.entry - 1); }

    JoinHost& m_host;
    const Now m_now;
    const bool m_shows;
    std::unique_ptr<RunCount> m_count;
    RunFigures m_figures;
    // The furthest the bar has gone.
    int m_percent = 0;
    // The copy's bytes written as last looked at, and when.
    Clock::time_point m_looked;
    std::uint64_t m_lookedWritten = 0;
    // The seconds in which the run's copies wrote; the bytes they wrote and those seconds, each
    // older second weighing less (the speed is their ratio).
    double m_writingSeconds = 0;
    double m_recentBytes = 0;
    double m_recentSeconds = 0;
    // The time left last set to be shown, and when; none yet.
    std::optional<double> m_shownLeft;
    Clock::time_point m_shownAt;
    std::uint64_t m_filesCopied = 0;
    std::uint64_t m_filesAlreadyThere = 0;
    std::uint64_t m_temporariesRemoved = 0;
    AttributesNotKept m_attributesNotKept;
};

} // namespace join
