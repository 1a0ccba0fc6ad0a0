#include "join/run/runprogress.h"

#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/tasks/runcontrol.h"
#include "join/tasks/workers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

namespace join {

namespace {

// Before the run's copies have written this long, their speed says too little about the time
// left.
constexpr double SteadyAfterSeconds = 1;
// The speed weighs each second of writing by e^(-age / this), age counted in seconds of writing:
// it follows a change of speed within seconds, and one slow file does not swing it.
constexpr double SpeedMemorySeconds = 5;
// The time shown moves to a new estimate only when that differs from it by more than this share
// of it, or by more than the seconds below, whichever is more.
constexpr double ShownStepShare = 0.1;
constexpr double ShownStepSeconds = 1;

// Which files of a tree a copy takes: the tree copy's regular files (links not followed), or the
// flat copy's regular files and links to them, "~" names left out.
enum class Takes { Tree, Flat };

// Counts the files of the tree `folder` that a copy takes. Depth first, a path at a time: nothing
// stays open, however deep the tree.
void countFolderTree(const std::string& folder, Takes takes, RunCount::Sink& sink) {
    std::vector<std::string> waiting{folder};
    FolderListing listing;
    while (!waiting.empty() && !sink.cancelled()) {
        pausePoint();
        const std::string path = std::move(waiting.back());
        waiting.pop_back();
        const Descriptor fd = openFolder(path);
        listing.entries.clear();
        if (!fd.valid() || readListingAt(fd.get(), listing) != 0)
            continue;
        for (const FolderEntry& entry : listing.entries) {
            if (entry.type == FolderEntry::Type::Folder) {
                waiting.push_back(path + Separator + entry.name);
                continue;
            }
            const bool taken = takes == Takes::Tree
                                   ? entry.type == FolderEntry::Type::File
                                   : takeForFlat(fd.get(), entry) == FlatTake::File;
            const FollowLink follow = takes == Takes::Tree ? FollowLink::No : FollowLink::Yes;
            if (taken)
                if (const auto size = regularFileSizeAt(fd.get(), entry.name, follow))
                    sink.add(*size);
        }
    }
}

// Counts the files `places` of a flat plan (links to files followed) that the copy takes, as
// `copied` says. Only their sizes are asked for.
template <class Copied>
void countPlaces(const FlatEntryPlan& plan, const std::vector<FlatPlace>& places, Copied copied,
                 RunCount::Sink& sink) {
    Descriptor folder;
    std::optional<std::uint32_t> opened;
    for (const FlatPlace& place : places) {
        if (sink.cancelled())
            return;
        if (!copied(place))
            continue;
        if (opened != place.folder) {
            folder = openFolder(plan.contents[place.folder].path);
            opened = place.folder;
        }
        if (!folder.valid())
            continue;
        if (const auto size =
                regularFileSizeAt(folder.get(), plan.file(place).name, FollowLink::Yes))
            sink.add(*size);
    }
}

} // namespace

std::string entryName(const std::string& entry) {
    const std::string path = withoutTrailingSeparators(entry);
    return path.size() == 1 && path.front() == Separator ? path : lastPathPart(path);
}

// ---- RunProgress ----

RunProgress::RunProgress(JoinHost& host, Now now)
    : m_host(host), m_now(std::move(now)), m_shows(host.showsCopyProgress()) {}

void RunProgress::beginRun(const std::vector<std::string>& entries, CopyOption option) {
    if (!m_shows)
        return;
    m_count = std::make_unique<RunCount>(entries.size());
    // A flat entry is counted from its plan once there is one; until then its tree tells roughly.
    const Takes takes = option == CopyOption::Flat ? Takes::Flat : Takes::Tree;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].empty()) {
            m_count->set(i, {}, nullptr);
            continue;
        }
        std::string folder = withoutTrailingSeparators(entries[i]);
        m_count->set(i, {folder, nullptr}, [folder, takes](RunCount::Sink& sink) {
            countFolderTree(folder, takes, sink);
        });
    }
}

void RunProgress::lookAheadMade(const FlatRun& flat, const OutputRules& rules) {
    if (!m_count)
        return;
    for (std::size_t i = 0; i < flat.entries(); ++i) {
        std::shared_ptr<const FlatEntryPlan> plan = flat.plannedFor(i);
        if (!plan)
            continue;
        // What the entry's copy will copy: its winners but those a later entry replaces.
        const FlatEntryPlan* origin = plan.get();
        m_count->set(i, {{}, origin},
                     [plan = std::move(plan), i, &flat, &rules](RunCount::Sink& sink) {
                         countPlaces(
                             *plan, plan->winners,
                             [&](FlatPlace place) {
                                 return !flat.laterHolds(i, rules.key(plan->file(place).name));
                             },
                             sink);
                     });
    }
}

const RunFigures& RunProgress::beginEntry(int entry, int count, std::string name) {
    m_figures = RunFigures{};
    m_figures.entry = entry;
    m_figures.entries = count;
    m_figures.name = std::move(name);
    if (m_count && entry >= 1)
        m_count->setCurrent(current());
    moveTo(entry - 1);
    return m_figures;
}

void RunProgress::countTree(const std::string& folder) {
    lookFromNow();
    if (m_count && m_figures.entry >= 1)
        m_count->set(current(), {folder, nullptr}, [folder](RunCount::Sink& sink) {
            countFolderTree(folder, Takes::Tree, sink);
        });
}

void RunProgress::countFlat(std::shared_ptr<const FlatEntryPlan> plan,
                            std::vector<FlatPlace> copies) {
    lookFromNow();
    if (m_count && m_figures.entry >= 1) {
        const FlatEntryPlan* origin = plan.get();
        m_count->set(current(), {{}, origin},
                     [plan = std::move(plan), copies = std::move(copies)](RunCount::Sink& sink) {
                         countPlaces(
                             *plan, copies, [](FlatPlace) { return true; }, sink);
                     });
    }
}

void RunProgress::moveTo(double entries) {
    if (m_figures.entries > 0) {
        const long percent = std::lround(entries / m_figures.entries * 100.0);
        m_percent = std::max(m_percent, static_cast<int>(std::clamp(percent, 0L, 100L)));
    }
    m_figures.percent = m_percent;
}

void RunProgress::lookFromNow() {
    m_looked = m_now();
    m_lookedWritten = 0;
}

void RunProgress::tick(std::uint64_t written) {
    const Clock::time_point now = m_now();
    const double seconds = std::chrono::duration<double>(now - m_looked).count();
    // Bytes seen at the moment of the last look belong to the next look's time.
    if (seconds <= 0)
        return;
    if (written > m_lookedWritten) {
        m_writingSeconds += seconds;
        const double kept = std::exp(-seconds / SpeedMemorySeconds);
        m_recentBytes = m_recentBytes * kept + static_cast<double>(written - m_lookedWritten);
        m_recentSeconds = m_recentSeconds * kept + seconds;
    }
    m_looked = now;
    m_lookedWritten = written;
}

double RunProgress::shownSecondsLeft(double estimate) {
    const Clock::time_point now = m_now();
    if (m_shownLeft) {
        // What was shown, counted down since.
        const double counted =
            *m_shownLeft - std::chrono::duration<double>(now - m_shownAt).count();
        if (std::abs(estimate - counted) <= std::max(ShownStepSeconds, ShownStepShare * counted))
            return std::max(0.0, counted);
    }
    m_shownLeft = estimate;
    m_shownAt = now;
    return estimate;
}

void RunProgress::show(const CopyCounters& copied) {
    if (!m_shows)
        return;
    // Counting begins with the first report: a copy over before then needs no count, and a short
    // one pays nothing for it.
    if (m_count)
        m_count->start();
    const std::uint64_t written = copied.bytes.load(std::memory_order_relaxed);
    // While the run is paused its figures and the time left hold still.
    const std::shared_ptr<RunControl> control = currentRunControl();
    if (control && control->paused()) {
        const Clock::time_point now = m_now();
        if (m_shownLeft && m_looked != Clock::time_point())
            m_shownAt += now - m_looked;
        tick(written);
        m_host.showRunProgress(m_figures);
        return;
    }
    tick(written);
    m_figures.copying = true;
    m_figures.files = copied.files.load(std::memory_order_relaxed);
    // A file already at its destination is done without a byte written.
    m_figures.bytes = written + copied.bytesAlreadyThere.load(std::memory_order_relaxed);
    const std::optional<RunCount::Total> total =
        m_count && m_figures.entry >= 1 ? m_count->total(current()) : std::nullopt;
    if (total) {
        m_figures.counted = true;
        m_figures.totalFiles = total->files;
        m_figures.totalBytes = total->bytes;
        double share = 1;
        if (total->bytes > 0)
            share = static_cast<double>(m_figures.bytes) / static_cast<double>(total->bytes);
        else if (total->files > 0)
            share = static_cast<double>(m_figures.files) / static_cast<double>(total->files);
        moveTo(m_figures.entry - 1 + std::min(1.0, share));
        // The whole run's bytes still to do, at the speed the run has been writing.
        const std::optional<std::uint64_t> later = m_count->bytesFrom(current() + 1);
        if (later && m_writingSeconds >= SteadyAfterSeconds && m_recentBytes > 0) {
            const double speed = m_recentBytes / m_recentSeconds;
            const std::uint64_t left =
                total->bytes - std::min(total->bytes, m_figures.bytes) + *later;
            m_figures.secondsLeft = shownSecondsLeft(static_cast<double>(left) / speed);
        }
    }
    m_host.showRunProgress(m_figures);
}

void RunProgress::endCopy(const CopyCounters& copied) {
    const std::uint64_t written = copied.bytes.load(std::memory_order_relaxed);
    if (m_shows)
        tick(written);
    // Files already at their destination were left alone, not copied.
    const std::uint64_t alreadyThere = copied.alreadyThere.load(std::memory_order_relaxed);
    m_filesCopied += copied.files.load(std::memory_order_relaxed) - alreadyThere;
    m_filesAlreadyThere += alreadyThere;
    m_temporariesRemoved += copied.temporariesRemoved.load(std::memory_order_relaxed);
    m_attributesNotKept.add(copied.attributes.counts());
}

int RunProgress::entriesDone(int entries) {
    moveTo(entries);
    return m_percent;
}

bool RunProgress::runCounted() const {
    return m_count && m_count->bytesFrom(m_figures.entry >= 1 ? current() : 0).has_value();
}

} // namespace join
