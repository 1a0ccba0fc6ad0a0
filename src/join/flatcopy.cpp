#include "flatcopy.h"

#include "paths.h"
#include "posixfs.h"
#include "subdirs.h"
#include "targetfs.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>

namespace join {

namespace {

// A source folder, open while copies from it are waiting or under way.
struct SourceFolder {
    Descriptor fd;
    std::string path;
    std::uint32_t index;
};

// One file to copy, with its place in processing order.
struct FileTask {
    std::shared_ptr<const SourceFolder> folder;
    std::string name;
    std::uint32_t position;
};

// A place in processing order: the folder's place in the collection, then the file's among the
// folder's files.
using Place = std::pair<std::uint32_t, std::uint32_t>;

class FlatJob {
public:
    FlatJob(Descriptor output, std::string outputPath, FlatCopyResult& result,
            CopyCounters& counters, IfDestinationExists ifExists, PlacedFiles* placed,
            const LaterFiles* later, std::size_t entry)
        : m_output(std::move(output)), m_outputPath(std::move(outputPath)), m_result(result),
          m_counters(counters), m_capacity(64 * WorkerPool::shared().size()), m_ifExists(ifExists),
          m_placed(placed), m_later(later), m_entry(entry) {
        m_target = ExamineUnusualTarget(m_outputPath);
        m_ignoreCase = m_target && m_target->caseInsensitive;
        m_outputKey = PlacedFiles::folderKey(m_outputPath, m_ignoreCase);
    }

    // The destination name as the output folder tells names apart.
    // Where the file system ignores case, "Photo.JPG" and "photo.jpg" are one name.
    std::string keyOf(const std::string& name) const {
        return m_target && m_target->caseInsensitive ? NameKey(*m_target, name) : name;
    }

    // Queues a copy; while the queue is full, the caller copies from it itself.
    void post(FileTask task) {
        std::unique_lock lock(m_mutex);
        while (m_tasks.size() >= m_capacity)
            runOne(lock);
        m_tasks.push_back(std::move(task));
        m_changed.notify_one();
    }

    // Copies queued files until the queue is closed and empty.
    void work() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [&] { return !m_tasks.empty() || m_closed; });
            if (m_tasks.empty())
                return;
            runOne(lock);
        }
    }

    // No more copies will be queued: takes part until every queued copy is done.
    void finishQueue() {
        {
            std::lock_guard lock(m_mutex);
            m_closed = true;
        }
        m_changed.notify_all();
        work();
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_running == 0; });
    }

    // Copies one file now, on the calling thread. True when it is copied (or is its own
    // destination); a failure is recorded.
    bool copy(const FileTask& task) {
        // Left alone when it already is there, unless this run put it there.
        const std::uint64_t place =
            m_placed ? PlacedFiles::placeKey(m_outputKey, task.name, m_ignoreCase) : 0;
        const IfDestinationExists ifExists =
            m_placed && m_placed->contains(place) ? IfDestinationExists::Replace : m_ifExists;
        if (ifExists == IfDestinationExists::KeepCopy && m_later && laterReplaces(task.name))
            return true;
        const CopyOutcome outcome =
            copyFileAt(task.folder->fd.get(), task.name, FollowLink::Yes, m_output.get(), task.name,
                       ifExists, &m_counters.bytes);
        if (outcome.result == CopyOutcome::Result::Copied) {
            m_counters.made.fetch_add(1, std::memory_order_relaxed);
            if (m_placed)
                m_placed->add(place);
        }
        if (outcome.copied()) {
            m_counters.files.fetch_add(1, std::memory_order_relaxed);
            if (outcome.result == CopyOutcome::Result::AlreadyThere)
                m_counters.alreadyThere.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
        if (outcome.error == ECANCELED)
            return false;
        const bool source = outcome.side == Side::Source;
        const std::string path =
            withSeparator(source ? task.folder->path : m_outputPath) + task.name;
        m_result.copyFailures.add(
            {task.folder->index, task.position},
            source || !m_target ? copyFailure(path, outcome.error)
                                : TargetNameFailure(*m_target, path, task.name, outcome.error));
        std::lock_guard lock(m_mutex);
        m_failedWinners[keyOf(task.name)] = {task.folder->index, task.position};
        return false;
    }

    // The names whose last file could not be copied, with that file's place.
    std::map<std::string, Place> takeFailedWinners() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_failedWinners, {});
    }

    FileIdentity outputIdentity() const {
        FolderStatus status;
        StatusOf(m_output.get(), status);
        return status.identity;
    }

    static std::string withSeparator(const std::string& path) {
        return EndsWithSeparator(path) ? path : path + Separator;
    }

private:
    // Whether a later entry holds a file of this name that can be copied, and so replaces
    // this one.
    bool laterReplaces(const std::string& name) const {
        const std::string later = m_later->after(m_entry, name);
        return !later.empty() && IsReadableFile(later);
    }

    void runOne(std::unique_lock<std::mutex>& lock) {
        FileTask task = std::move(m_tasks.front());
        m_tasks.pop_front();
        ++m_running;
        lock.unlock();
        copy(task);
        task = {};
        lock.lock();
        --m_running;
        m_changed.notify_all();
    }

    const Descriptor m_output;
    const std::string m_outputPath;
    FlatCopyResult& m_result;
    CopyCounters& m_counters;
    const std::size_t m_capacity;
    const IfDestinationExists m_ifExists;
    PlacedFiles* const m_placed;
    const LaterFiles* const m_later;
    const std::size_t m_entry;
    bool m_ignoreCase = false;
    std::uint64_t m_outputKey = 0;
    // What the output folder's file system is, where it could be told.
    std::optional<TargetFileSystem> m_target;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<FileTask> m_tasks;
    std::size_t m_running = 0;
    bool m_closed = false;
    std::map<std::string, Place> m_failedWinners;
};

// A file of a folder to copy: its name and its place in the folder's listing.
struct ListedFile {
    std::string name;
    std::uint32_t position;
};

bool isLeftOut(const std::string& name) {
    return name.starts_with('~');
}

// The files of one folder of the collection, or nothing (with the failure recorded) when it
// cannot be listed. The output folder itself gives nothing: each of its files is its own
// destination. Entries that cannot be copied as files (pipes, sockets, devices, links to
// nothing) are recorded in `failures` when it is given; links to folders are the walk's.
std::shared_ptr<SourceFolder> openFolder(const std::vector<std::string>& folders,
                                         std::uint32_t index, const FileIdentity& output,
                                         std::vector<ListedFile>& files, FlatCopyResult* failures,
                                         std::optional<FolderListing>* known = nullptr) {
    files.clear();
    auto folder = std::make_shared<SourceFolder>(SourceFolder{{}, folders[index], index});
    folder->fd = OpenFolder(folder->path);
    FolderListing listing;
    const bool listed = known && known->has_value();
    if (listed) {
        listing = std::move(**known);
        known->reset();
    }
    if (!folder->fd.valid() || (!listed && !ListFolderAt(folder->fd.get(), listing))) {
        if (failures)
            failures->listingFailures[index] = failureFromErrno(errno, folder->path);
        return nullptr;
    }
    FolderStatus status;
    if (StatusOf(folder->fd.get(), status) && status.identity == output)
        return nullptr;
    for (std::uint32_t position = 0; position < listing.entries.size(); ++position) {
        FolderEntry& entry = listing.entries[position];
        const char* refusal = nullptr;
        switch (entry.type) {
        case FolderEntry::Type::Folder:
            continue;
        case FolderEntry::Type::File:
            break;
        case FolderEntry::Type::Link:
            switch (EntryTypeBehind(folder->fd.get(), entry.name)) {
            case LinkTarget::File:
                break;
            case LinkTarget::Folder:
                continue;
            case LinkTarget::Nothing:
                refusal = "a link to nothing, so it is not copied";
                break;
            case LinkTarget::Other:
                refusal = "not a regular file, so it is not copied";
                break;
            }
            break;
        case FolderEntry::Type::Other:
            refusal = "not a regular file, so it is not copied";
            break;
        }
        if (!refusal) {
            files.push_back({std::move(entry.name), position});
        } else if (failures && !isLeftOut(entry.name)) {
            const std::string path = FlatJob::withSeparator(folder->path) + entry.name;
            failures->copyFailures.add({index, position}, Failure(ErrorNumber::PathFileAccessError,
                                                                  path + ": " + refusal));
        }
    }
    return folder;
}

// When the last file of a name could not be copied, the one before it is copied instead, and so
// on: one more pass from the end over the folders, rare and short, so done on this thread.
void copyEarlierFiles(FlatJob& job, const std::vector<std::string>& folders,
                      const FileIdentity& output) {
    std::map<std::string, Place> failed = job.takeFailedWinners();
    std::vector<ListedFile> files;
    for (auto index = static_cast<std::uint32_t>(folders.size()); index-- > 0 && !failed.empty();) {
        const auto folder = openFolder(folders, index, output, files, nullptr);
        for (auto file = files.rbegin(); folder && file != files.rend() && !StopRequested();
             ++file) {
            const Place place{index, file->position};
            const auto waiting = failed.find(job.keyOf(file->name));
            if (waiting == failed.end() || waiting->second <= place || isLeftOut(file->name))
                continue;
            if (job.copy({folder, file->name, file->position}))
                failed.erase(waiting);
            else
                waiting->second = place;
        }
    }
}

// Walks without a window: nothing to keep alive; what it would report is only counted.
class QuietWalk final : public WalkHost {
public:
    void pumpEvents() override {}
    void showErrorReport(const std::string&, const std::string&, int) override { ++reports; }
    int reports = 0;
};

// How many names the look-ahead keeps of the listings its walks made, for the entries' copies
// to take instead of listing again; past that, each folder is listed again.
constexpr std::size_t KeptNames = std::size_t{1} << 18;

// What one entry of a flat run holds: its folders in processing order, each with its files,
// and the walk that found them when it went as the entry's own walk would, reporting nothing.
struct EntryFiles {
    std::vector<std::string> folders;
    std::vector<std::vector<std::string>> names;
    std::optional<WalkedEntry> walk;
    std::chrono::steady_clock::time_point walked;
};

// Walks one entry as the flat copy does, without reporting, keeping listings of at most `room`
// names, and takes the files of its folders when `listFiles`; an entry that cannot be walked
// holds nothing.
EntryFiles listEntry(const std::string& entry, bool listFiles, std::size_t room) {
    EntryFiles found;
    if (entry.empty() || StopRequested())
        return found;
    FolderCollection folders{EndsWithSeparator(entry) ? entry : entry + Separator};
    QuietWalk walk;
    std::vector<LeftOutFolder> leftOut;
    WalkListings listings{room, {}};
    try {
        GetSubDirectories2016(folders, Recursion::AllLevels, walk, &leftOut, &listings);
    } catch (const std::exception&) {
        return found;
    }
    found.walked = std::chrono::steady_clock::now();
    const bool clean = walk.reports == 0 && leftOut.empty() && !StopRequested();
    if (clean)
        found.walk =
            WalkedEntry{folders, std::vector<std::optional<FolderListing>>(folders.size())};
    std::vector<std::string> names;
    for (std::size_t i = 0; i < folders.size() && (listFiles || clean); ++i) {
        if (StopRequested())
            break;
        const std::string& folder = folders[i];
        const auto known = listings.byPath.find(folder);
        const bool fromWalk = known != listings.byPath.end();
        FolderListing listing;
        if (fromWalk) {
            listing = std::move(known->second);
            listings.byPath.erase(known);
        } else if (!listFiles) {
            continue;
        } else {
            const Descriptor fd = OpenFolder(folder);
            if (!fd.valid() || !ListFolderAt(fd.get(), listing))
                continue;
        }
        if (listFiles) {
            // The files as the copy takes them: regular files and links to them.
            names.clear();
            for (const FolderEntry& file : listing.entries) {
                if (!isLeftOut(file.name) &&
                    (file.type == FolderEntry::Type::File ||
                     (file.type == FolderEntry::Type::Link && IsExistingFile(folder + file.name))))
                    names.push_back(file.name);
            }
            found.folders.push_back(folder);
            found.names.push_back(std::move(names));
        }
        if (clean && fromWalk)
            found.walk->listings[i] = std::move(listing);
    }
    return found;
}

} // namespace

LaterFiles::LaterFiles(const std::vector<std::string>& entries, const std::string& output)
    : m_target(ExamineUnusualTarget(output)) {
    if (m_target && !m_target->caseInsensitive)
        m_target.reset();
    // The entries are walked (the first too) and listed side by side, on the workers and this
    // thread; their names are taken in entry order, each entry as soon as those before it are.
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::optional<EntryFiles>> listed;
        std::size_t next = 0;
    };
    auto shared = std::make_shared<Shared>();
    shared->listed.resize(entries.size());
    const std::size_t room = entries.empty() ? 0 : KeptNames / entries.size();
    auto take = [shared, entries, room] {
        std::unique_lock lock(shared->mutex);
        while (shared->next < entries.size()) {
            const std::size_t entry = shared->next++;
            lock.unlock();
            EntryFiles files = listEntry(entries[entry], entry > 0, room);
            lock.lock();
            shared->listed[entry] = std::move(files);
            shared->changed.notify_all();
        }
    };
    WorkerPool& pool = WorkerPool::shared();
    for (std::size_t i = 1; i < std::min(entries.size(), pool.size()); ++i)
        pool.post(take);
    take();

    m_walks.resize(entries.size());
    for (std::uint32_t entry = 0; entry < entries.size(); ++entry) {
        EntryFiles files;
        {
            std::unique_lock lock(shared->mutex);
            shared->changed.wait(lock, [&] { return shared->listed[entry].has_value(); });
            files = std::move(*shared->listed[entry]);
            shared->listed[entry].reset();
        }
        if (files.walk)
            m_walks[entry] = Walked{entries[entry], std::move(*files.walk), files.walked};
        for (std::size_t folder = 0; folder < files.folders.size(); ++folder) {
            const auto index = static_cast<std::uint32_t>(m_folders.size());
            m_folders.push_back(std::move(files.folders[folder]));
            for (const std::string& name : files.names[folder]) {
                std::vector<Last>& last = m_last[m_target ? NameKey(*m_target, name) : name];
                if (last.empty() || last.back().entry != entry)
                    last.push_back({entry, index, {}});
                last.back().folder = index;
                if (m_target)
                    last.back().name = name;
            }
        }
    }
    // Helpers that found no entry left may still be on their way out: they hold only `shared`.
}

std::optional<WalkedEntry> LaterFiles::takeWalk(std::size_t entry, const std::string& path) {
    if (entry >= m_walks.size() || !m_walks[entry])
        return std::nullopt;
    if (m_walks[entry]->path != path ||
        std::chrono::steady_clock::now() - m_walks[entry]->made > std::chrono::seconds(2)) {
        m_walks[entry].reset();
        return std::nullopt;
    }
    std::optional<WalkedEntry> found = std::move(m_walks[entry]->found);
    m_walks[entry].reset();
    return found;
}

std::string LaterFiles::after(std::size_t entry, const std::string& name) const {
    const auto found = m_last.find(m_target ? NameKey(*m_target, name) : name);
    if (found == m_last.end() || found->second.back().entry <= entry)
        return {};
    const Last& last = found->second.back();
    return FlatJob::withSeparator(m_folders[last.folder]) + (m_target ? last.name : name);
}

void CopyFilesFlat(const std::vector<std::string>& folders, const std::string& output,
                   FlatCopyResult& result, CopyCounters& counters, IfDestinationExists ifExists,
                   PlacedFiles* placed, const LaterFiles* later, std::size_t entry,
                   std::vector<std::optional<FolderListing>>* listings) {
    result.listingFailures.assign(folders.size(), std::nullopt);
    if (listings && listings->size() != folders.size())
        listings = nullptr;
    Descriptor outputFolder = OpenFolder(output);
    if (!outputFolder.valid()) {
        result.copyFailures.add({}, copyFailure(output, errno));
        return;
    }
    auto job = std::make_shared<FlatJob>(std::move(outputFolder), output, result, counters,
                                         ifExists, placed, later, entry);
    const FileIdentity outputIdentity = job->outputIdentity();
    WorkerPool& pool = WorkerPool::shared();
    for (std::size_t i = 1; i < pool.size(); ++i)
        pool.post([job] { job->work(); });

    // From the last folder to the first, the first file met of each name is the last in
    // processing order: the one that would be left in the output folder.
    std::unordered_set<std::string> claimed;
    std::vector<ListedFile> files;
    for (auto index = static_cast<std::uint32_t>(folders.size()); index-- > 0;) {
        if (StopRequested())
            break;
        const auto folder = openFolder(folders, index, outputIdentity, files, &result,
                                       listings ? &(*listings)[index] : nullptr);
        for (auto file = files.rbegin(); folder && file != files.rend(); ++file) {
            if (isLeftOut(file->name) || !claimed.insert(job->keyOf(file->name)).second)
                continue;
            job->post({folder, std::move(file->name), file->position});
        }
    }
    job->finishQueue();
    copyEarlierFiles(*job, folders, outputIdentity);
}

} // namespace join
