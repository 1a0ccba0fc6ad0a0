#include "join/copy/flatcopy.h"

#include "join/copy/filecopy.h"
#include "join/fs/closebatch.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/fs/targetnames.h"
#include "join/fs/temporaries.h"
#include "join/tasks/taskgroup.h"
#include "join/tasks/workers.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace join {

namespace {

// A source folder, open while copies from it are waiting or under way.
struct SourceFolder {
    Descriptor fd;
    std::string path;
    int error = 0; // why it could not be opened
};

std::shared_ptr<const SourceFolder> openSource(std::string path) {
    auto folder = std::make_shared<SourceFolder>();
    folder->path = std::move(path);
    folder->fd = openFolder(folder->path);
    folder->error = folder->fd.error();
    return folder;
}

// One file to copy, with its place in processing order: in the plan, or after it for a file an
// earlier entry left to this one. Its name stays in the plan, or with the file left, until the
// copy is done.
struct FileTask {
    std::shared_ptr<const SourceFolder> folder;
    const std::string* name;
    CopyFailures::Position position;
    std::optional<FlatPlace> planned;
    // The list entry that holds the file, from 0.
    std::size_t entry = 0;
    // Whether an earlier file of the entry has its name too (ListedFile::contested).
    bool contested = false;
};

// What a run of copies placed, handed over once the run is done, under one lock.
struct PlacedByRun {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> places;
    std::vector<std::string> watchedKeys;
};

std::string withSeparator(const std::string& path) {
    return endsWithSeparator(path) ? path : path + Separator;
}

// Copies are queued in runs of this many, copied in turn by one thread: a file found already
// there costs a few microseconds, and a lock taken for each would have the threads wait on each
// other more than they copy. Behind a link, where every file costs round trips, each copy is a
// run of its own, so that all the threads take part from the first files.
constexpr std::size_t RunLength = 16;
std::size_t runLengthFor(TargetReach reach) {
    return reach == TargetReach::Remote ? 1 : RunLength;
}
using FileRun = std::vector<FileTask>;

class FlatJob {
public:
    FlatJob(Descriptor output, std::string outputPath, const FlatCopyOptions& options,
            CopyFailures& failures, CopyCounters& counters, KeySet watched)
        : m_output(std::move(output)), m_outputPath(std::move(outputPath)), m_options(options),
          m_failures(failures), m_counters(counters), m_watched(std::move(watched)),
          m_width(rules().copyWidth()), m_runLength(runLengthFor(rules().reach())),
          m_group(std::make_shared<TaskGroup<FileRun>>(
              [this](FileRun& run) { copyRun(run); },
              TaskGroup<FileRun>::Settings{
                  TaskOrder::FirstPosted, 4 * m_width.most, [] { finishClosing(); }, {}})) {
        if (m_options.foreseen) {
            m_refusal = refusalToFill(m_output.get());
        } else {
            FolderStatus status;
            m_keeping = {&m_counters.attributes, readFolderStatus(m_output.get(), status) == 0 &&
                                                     (status.permissions & S_ISGID) != 0};
        }
    }

    FlatJob(const FlatJob&) = delete;
    FlatJob& operator=(const FlatJob&) = delete;
    ~FlatJob() { m_group->abandon(); }

    const OutputRules& rules() const { return *m_options.rules; }

    // Looks once through the output folder before any copy of this entry starts. Where it holds
    // nothing but what this run placed there, every other name is free, and the copies are written
    // without looking for their names first; one that finds its name taken after all is judged as
    // in any folder. The first name of another's ends the look. Behind a link, where a look at a
    // name costs a round trip, the names of others are kept, so that every name the folder does
    // not hold is written without a look; a folder of many more names than the `copies` to come
    // is not read to its end, as looking at each copy's name then costs less.
    void lookThroughOutput(std::size_t copies) {
        if (m_options.foreseen)
            return;
        PlacedFiles* const placed =
            m_options.placed && m_options.placed->inUse() ? m_options.placed : nullptr;
        const auto ours = [&](const std::string& name) {
            return placed &&
                   placed->sourceAt(placeIn(m_options.outputPlace, rules().key(name))).has_value();
        };
        if (rules().reach() == TargetReach::Local) {
            m_free = holdsOnly(m_output.get(), ours);
            return;
        }
        const std::size_t most = std::max<std::size_t>(4096, 4 * copies);
        std::size_t seen = 0;
        KeySet present;
        if (!holdsOnly(m_output.get(), [&](const std::string& name) {
                if (!ours(name))
                    present.insert(rules().key(name));
                return ++seen <= most;
            }))
            return;
        m_free = present.empty();
        m_present = std::move(present);
    }

    // Has the workers take part in the copies queued.
    void enlist() { m_group->enlist(m_width); }

    // Queues a copy, in a run with the next ones; while the queue is full, the caller copies from
    // it itself.
    void post(FileTask task) {
        m_run.push_back(std::move(task));
        if (m_run.size() >= m_runLength)
            postRun();
    }

    // No more copies will be queued: takes part until every queued copy is done. Throws what a
    // task threw.
    void finishQueue() {
        postRun();
        m_group->wait();
    }

    // Copies a run of files in turn, and hands over what they placed.
    void copyRun(const FileRun& run) {
        PlacedByRun placed;
        try {
            for (const FileTask& task : run)
                copy(task, &placed);
        } catch (...) {
            handOver(placed);
            throw;
        }
        handOver(placed);
    }

    // Copies one file now, on the calling thread. True when its name is placed: copied, already
    // there, or its own destination. A failure is recorded. What it placed is noted at once, or
    // in `byRun` to be handed over with the rest of its run.
    bool copy(const FileTask& task, PlacedByRun* byRun = nullptr) {
        const std::string& name = *task.name;
        probeTask();
        // A pause holds the next file; one that waited for a stop is not begun.
        pausePoint();
        PlacedFiles* const placed =
            m_options.placed && m_options.placed->inUse() ? m_options.placed : nullptr;
        const bool keyed = placed || m_options.foreseen || !m_watched.empty() || m_present;
        std::string storage;
        const std::string_view key = keyed ? rules().keyView(name, storage) : std::string_view();
        const std::uint64_t place =
            placed || m_options.foreseen ? placeIn(m_options.outputPlace, key) : 0;
        // Left alone when it already is its copy, as the place's history in this run tells it.
        PlaceHistory history;
        if (placed)
            history.earlier = placed->sourceAt(place);
        history.contested = task.contested || (!m_watched.empty() && m_watched.contains(key));
        const CopyOutcome outcome = copyOrForesee(task, key, place, history);
        if (outcome.source != 0 && placed) {
            if (byRun)
                byRun->places.emplace_back(place, outcome.source);
            else
                placed->add(place, outcome.source);
        }
        if (outcome.result == CopyOutcome::Result::Copied)
            m_counters.made.fetch_add(1, std::memory_order_relaxed);
        if (outcome.copied()) {
            m_counters.files.fetch_add(1, std::memory_order_relaxed);
            if (outcome.result == CopyOutcome::Result::AlreadyThere) {
                m_counters.alreadyThere.fetch_add(1, std::memory_order_relaxed);
                m_counters.bytesAlreadyThere.fetch_add(outcome.bytes, std::memory_order_relaxed);
            }
            record(task, outcome.result == CopyOutcome::Result::Copied
                             ? FileFate::Fate::Written
                             : FileFate::Fate::AlreadyThere);
            if (m_watched.contains(key)) {
                if (byRun) {
                    byRun->watchedKeys.emplace_back(key);
                } else {
                    std::lock_guard lock(m_mutex);
                    m_placedKeys.emplace(key);
                }
            }
            return true;
        }
        if (outcome.error == ECANCELED)
            return false;
        const bool source = outcome.side == Side::Source;
        const std::string path = withSeparator(source ? task.folder->path : m_outputPath) + name;
        const TargetFileSystem* fileSystem = rules().fileSystem();
        const Failure failure = source || !fileSystem
                                    ? copyFailure(path, outcome.error)
                                    : targetNameFailure(*fileSystem, path, name, outcome.error);
        m_failures.add(task.position, failure);
        record(task, FileFate::Fate::NotCopied, &failure);
        if (task.planned) {
            std::lock_guard lock(m_mutex);
            m_failedWinners[keyed ? std::string(key) : rules().key(name)] = *task.planned;
        }
        return false;
    }

    // The names whose planned file could not be copied, with that file's place.
    std::unordered_map<std::string, FlatPlace> takeFailedWinners() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_failedWinners, {});
    }

    bool placedKey(const std::string& key) {
        std::lock_guard lock(m_mutex);
        return m_placedKeys.contains(key);
    }

private:
    // Copies the file, or foresees its copy where the writes are withheld. `key` is its name's
    // key where the copy needed it.
    CopyOutcome copyOrForesee(const FileTask& task, std::string_view key, std::uint64_t place,
                              const PlaceHistory& history) {
        const std::string& name = *task.name;
        if (!task.folder->fd.valid())
            return {CopyOutcome::Result::Failed, task.folder->error, Side::Source};
        // A name or path the output's file system does not take is not asked of it.
        if (rules().fileSystem() &&
            (nameRefusal(*rules().fileSystem(), name) ||
             pathRefusal(*rules().fileSystem(), withSeparator(m_outputPath) + name)))
            return {CopyOutcome::Result::Failed, NameRefused, Side::Target};
        if (m_options.foreseen)
            return foreseeFileAt(
                task.folder->fd.get(), name, withSeparator(task.folder->path) + name,
                FollowLink::Yes, {m_output.get(), m_options.outputPlace, m_refusal}, name, place,
                m_options.ifExists, rules().timeStep(), history, *m_options.foreseen);
        const bool free = m_free || (m_present && !m_present->contains(key));
        return copyFileAt(task.folder->fd.get(), name, FollowLink::Yes, m_output.get(), name,
                          m_options.ifExists, &m_counters.bytes, rules().timeStep(),
                          !rules().writesInPlace() ? InPlace::Never
                          : free                   ? InPlace::Fresh
                                                   : InPlace::WhereFree,
                          history, rules().reach(), m_keeping);
    }

    void record(const FileTask& task, FileFate::Fate fate, const Failure* failure = nullptr) {
        if (!m_options.record)
            return;
        NotCopiedItem notCopied;
        if (failure)
            notCopied = {failure->path(), NotCopiedItem::Kind::File, failure->reason(),
                         failure->number()};
        m_options.record->add({FileFate::Item::File, fate, static_cast<int>(task.entry) + 1,
                               withSeparator(task.folder->path) + *task.name,
                               withSeparator(m_outputPath) + *task.name, std::move(notCopied),
                               task.position});
    }

    void handOver(PlacedByRun& placed) {
        if (!placed.places.empty())
            m_options.placed->addAll(placed.places);
        if (!placed.watchedKeys.empty()) {
            std::lock_guard lock(m_mutex);
            for (std::string& key : placed.watchedKeys)
                m_placedKeys.insert(std::move(key));
        }
    }

    void postRun() {
        if (m_run.empty())
            return;
        m_group->post(std::exchange(m_run, {}));
        m_run.reserve(m_runLength);
    }

    const Descriptor m_output;
    const std::string m_outputPath;
    const FlatCopyOptions& m_options;
    CopyFailures& m_failures;
    CopyCounters& m_counters;
    // What the copies keep beside the bytes; nothing where the writes are withheld.
    Keeping m_keeping;
    const KeySet m_watched;
    const JobWidth m_width;
    const std::size_t m_runLength;
    const std::shared_ptr<TaskGroup<FileRun>> m_group;
    FileRun m_run;       // the copies queued next, on the thread that queues them
    bool m_free = false; // whether the output held nothing but this run's copies
    // Behind a link, the keys of the names the output held that are not this run's copies.
    std::optional<KeySet> m_present;
    int m_refusal = 0; // where the writes are withheld: why the join could not fill the output

    std::mutex m_mutex;
    std::unordered_map<std::string, FlatPlace> m_failedWinners;
    KeySet m_placedKeys;
};

// The plan's folders, each opened once when a copy first needs it.
class OpenFolders {
public:
    explicit OpenFolders(const FlatEntryPlan& plan) : m_plan(plan), m_open(plan.contents.size()) {}

    std::shared_ptr<const SourceFolder> at(std::uint32_t index) {
        if (!m_open[index])
            m_open[index] = openSource(m_plan.contents[index].path);
        return m_open[index];
    }

    void close(std::uint32_t index) { m_open[index].reset(); }

private:
    const FlatEntryPlan& m_plan;
    std::vector<std::shared_ptr<const SourceFolder>> m_open;
};

// When the planned file of a name could not be copied, the one before it of that name is
// copied instead, and so on: one more pass from the end over the plan, rare and short, so done
// on this thread. Returns how many files it tried.
std::uint64_t copyEarlierFiles(FlatJob& job, const FlatEntryPlan& plan, std::size_t entry) {
    std::unordered_map<std::string, FlatPlace> failed = job.takeFailedWinners();
    std::uint64_t tried = 0;
    OpenFolders folders(plan);
    for (auto index = static_cast<std::uint32_t>(plan.contents.size());
         index-- > 0 && !failed.empty() && !stopRequested();) {
        const std::vector<ListedFile>& files = plan.contents[index].files;
        for (auto file = static_cast<std::uint32_t>(files.size()); file-- > 0;) {
            const FlatPlace place{index, file};
            const auto waiting = failed.find(job.rules().key(files[file].name));
            if (waiting == failed.end() ||
                std::pair(waiting->second.folder, waiting->second.file) <= std::pair(index, file))
                continue;
            ++tried;
            if (job.copy({folders.at(index),
                          &files[file].name,
                          {index, files[file].position},
                          {},
                          entry}))
                failed.erase(waiting);
            else
                waiting->second = place;
        }
        folders.close(index);
    }
    return tried;
}

// The files earlier entries left to this one, for the names this entry placed none of after
// all: of each name, the latest that can be copied is copied. Their places in processing order
// come after `after`. Returns how many files it tried.
std::uint64_t copyLeftFiles(FlatJob& job, std::uint32_t after, FlatRun::DeferredByKey& awaited) {
    std::vector<std::vector<FlatRun::Deferred>*> waiting;
    for (auto& [key, files] : awaited)
        if (!job.placedKey(key) && !files.empty())
            waiting.push_back(&files);
    // In processing order of their last files, so that what is reported comes in that order.
    std::sort(waiting.begin(), waiting.end(), [](const auto* a, const auto* b) {
        return std::pair(a->back().entry, a->back().path) <
               std::pair(b->back().entry, b->back().path);
    });
    std::uint32_t position = 0;
    for (std::vector<FlatRun::Deferred>* files : waiting) {
        for (auto file = files->rbegin(); file != files->rend() && !stopRequested(); ++file) {
            const std::string folder = file->path.substr(0, file->path.size() - file->name.size());
            if (job.copy({openSource(folder), &file->name, {after, position++}, {}, file->entry}))
                break;
        }
    }
    return position;
}

// Every file of the plan replaced by a later one of its name, and its "~" names left out: the
// fates of the files the copies do not decide. A file a copy then decides keeps that fate.
void recordPlan(const FlatEntryPlan& plan, const std::string& output,
                const FlatCopyOptions& options) {
    const int entry = static_cast<int>(options.entry) + 1;
    for (std::uint32_t index = 0; index < plan.contents.size(); ++index) {
        const FlatFolder& folder = plan.contents[index];
        for (const ListedFile& file : folder.files)
            options.record->add({FileFate::Item::File,
                                 FileFate::Fate::Replaced,
                                 entry,
                                 folder.path + file.name,
                                 withSeparator(output) + file.name,
                                 {},
                                 {index, file.position}},
                                true);
        for (const ListedFile& file : folder.leftOut)
            options.record->add({FileFate::Item::File,
                                 FileFate::Fate::LeftOut,
                                 entry,
                                 folder.path + file.name,
                                 {},
                                 {},
                                 {index, file.position}});
    }
}

} // namespace

std::uint64_t copyFilesFlat(const FlatEntryPlan& plan, const std::vector<FlatPlace>& copies,
                            const std::string& output, const FlatCopyOptions& options,
                            CopyFailures& failures, CopyCounters& counters) {
    // What the plan could not take is said with what the copy could not copy.
    for (std::uint32_t index = 0; index < plan.contents.size(); ++index)
        for (const auto& [file, take] : plan.contents[index].notCopied) {
            const Failure failure =
                copyFailure(plan.contents[index].path + file.name, notCopiedReason(take));
            const NotCopiedItem::Kind kind = take == FlatTake::LinkToNothing
                                                 ? NotCopiedItem::Kind::Link
                                                 : NotCopiedItem::Kind::SpecialFile;
            failures.add({index, file.position}, failure, kind);
            if (options.record)
                options.record->add({FileFate::Item::File,
                                     FileFate::Fate::NotCopied,
                                     static_cast<int>(options.entry) + 1,
                                     plan.contents[index].path + file.name,
                                     {},
                                     {failure.path(), kind, failure.reason(), failure.number()},
                                     {index, file.position}});
        }
    if (options.record)
        recordPlan(plan, output, options);
    Descriptor outputFolder = openFolder(output);
    if (!outputFolder.valid()) {
        failures.add({}, copyFailure(output, outputFolder.error()), NotCopiedItem::Kind::Folder);
        return 0;
    }
    // What a run killed mid-copy left in the output folder goes, on a worker beside the copies:
    // those names are never a copy's own.
    std::future<TemporaryRemoval> removal;
    if (options.removeEndedTemporaries && !options.foreseen) {
        // With a descriptor of its own, which outlives this call should a copy's fault end it.
        auto folder = std::make_shared<Descriptor>(duplicateDescriptor(outputFolder.get()));
        auto remove = std::make_shared<std::packaged_task<TemporaryRemoval()>>(
            [folder] { return removeEndedTemporariesIn(folder->get()); });
        removal = remove->get_future();
        WorkerPool::shared().post([remove] { (*remove)(); });
    }
    // The names whose last file the look-ahead found here, with earlier entries' files left to
    // this entry: whether this entry places them is watched.
    FlatRun::DeferredByKey awaited;
    if (options.run)
        awaited = options.run->takeAwaited(options.entry);
    KeySet watched;
    for (const auto& [key, files] : awaited)
        watched.insert(key);
    auto job = std::make_shared<FlatJob>(std::move(outputFolder), output, options, failures,
                                         counters, std::move(watched));
    job->lookThroughOutput(copies.size());
    job->enlist();

    {
        // A folder stays open while copies from it wait or run, and no longer.
        OpenFolders folders(plan);
        for (std::size_t i = 0; i < copies.size() && !stopRequested(); ++i) {
            const FlatPlace place = copies[i];
            if (i > 0 && copies[i - 1].folder != place.folder)
                folders.close(copies[i - 1].folder);
            const ListedFile& file = plan.file(place);
            job->post({folders.at(place.folder),
                       &file.name,
                       {place.folder, file.position},
                       place,
                       options.entry,
                       file.contested});
        }
    }
    job->finishQueue();
    const std::uint64_t standIns =
        copyEarlierFiles(*job, plan, options.entry) +
        copyLeftFiles(*job, static_cast<std::uint32_t>(plan.contents.size()), awaited);
    finishClosing();
    if (removal.valid()) {
        const TemporaryRemoval removed = removal.get();
        counters.temporariesRemoved.fetch_add(removed.removed, std::memory_order_relaxed);
        for (const TemporaryRemoval::Refusal& refused : removed.refused)
            failures.add({}, copyFailure(withSeparator(output) + refused.name, refused.error),
                         NotCopiedItem::Kind::Other);
    }
    return standIns;
}

void copyRemainingLeftFiles(FlatRun::DeferredByKey left, const std::string& output,
                            const FlatCopyOptions& options, CopyFailures& failures,
                            CopyCounters& counters) {
    Descriptor outputFolder = openFolder(output);
    if (!outputFolder.valid()) {
        failures.add({}, copyFailure(output, outputFolder.error()), NotCopiedItem::Kind::Folder);
        return;
    }
    FlatJob job(std::move(outputFolder), output, options, failures, counters, {});
    copyLeftFiles(job, 0, left);
    finishClosing();
}

} // namespace join
