#pragma once

#include "join/fs/failure.h"
#include "join/fs/posixfs.h"
#include "join/fs/targetfs.h"
#include "join/host/host.h"
#include "join/tasks/taskgroup.h"
#include "join/walk/subfolders.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

// The rules a join decides every file by, in one place: which names are one on the output
// folder's file system, the step its times are kept to, which entries of a listing each copy
// takes, which file of a name wins, and who copies what. The copies carry these decisions out,
// the flat run's look-ahead makes them for the later entries, the progress count sums them and
// the dry run prints them; none of them decides anew.
namespace join {

// What a join run has put at each place of the output so far, or found there already as its
// file's copy: the source, by its fingerprint (copy/filecopy.h). A later file at a place the run
// has had is judged by it: the same source (a folder listed twice) is there already; another
// source's copy is told from the later file's by its bytes where size and time cannot tell them
// apart, so that the later file still replaces the earlier. A place is a 64-bit key of the
// folder's place in the output and the name as the output's file system tells names apart
// (placeIn), so that any spelling of a name that is one there is one place; a key that two places
// share only means one more look at the bytes. Recorded only while a later entry may still come.
// Safe to use from several threads.
class PlacedFiles {
public:
    void setRecording(bool recording) { m_recording = recording; }
    // Whether a place is recorded or looked for at all; until then its key need not be made.
    bool inUse() const { return m_recording || m_any.load(std::memory_order_acquire); }
    void add(std::uint64_t place, std::uint64_t source);
    void addAll(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& placed);
    // The source the run has had at `place`, by its fingerprint; nothing when none.
    std::optional<std::uint64_t> sourceAt(std::uint64_t place) const;

private:
    std::atomic<bool> m_recording{false};
    // Whether any place was added: until then a look needs no lock.
    std::atomic<bool> m_any{false};
    mutable std::mutex m_mutex;
    std::unordered_map<std::uint64_t, std::uint64_t> m_sources;
};

// What the output folder's file system decides, found once per run: the names it takes as one,
// the names it refuses and the step to which it keeps a file's modification time.
class OutputRules {
public:
    // A file system that keeps names as bytes and times to the nanosecond.
    OutputRules() = default;
    explicit OutputRules(std::optional<TargetFileSystem> fileSystem);
    // The rules of the file system that holds `folder`; the usual local file systems cost one
    // call to tell.
    static OutputRules of(const std::string& folder);

    // The form in which the file system tells names apart: two names of one key are one name.
    std::string key(const std::string& name) const;
    // The same without a copy where the key is the name itself; else the key is made in
    // `storage`, which the view then shows.
    std::string_view keyView(const std::string& name, std::string& storage) const;
    bool ignoresCase() const { return m_fileSystem && m_fileSystem->caseInsensitive; }
    // The step, in nanoseconds, to which the file system keeps a file's modification time.
    std::int64_t timeStep() const;
    // The file system where its names follow rules of their own (FAT, exFAT, FUSE, network, case
    // folding); null for the usual ones, which take any name a source can hold.
    const TargetFileSystem* fileSystem() const { return m_fileSystem ? &*m_fileSystem : nullptr; }
    TargetReach reach() const { return m_fileSystem ? m_fileSystem->reach : TargetReach::Local; }
    // How many threads copy at once (copyWidthFor).
    JobWidth copyWidth() const;
    // Whether a small file may be written under its own name (InPlace, copy/filecopy.h): on the
    // usual local file systems, which report a write error by the run's last flush, and behind a
    // link, where the copy's close reports it; where a file is made costs round trips, a hidden
    // name and a rename would cost as many again.
    bool writesInPlace() const { return !m_fileSystem || reach() == TargetReach::Remote; }

private:
    std::optional<TargetFileSystem> m_fileSystem;
};

// How many threads copy at once into a file system of `reach`, on a machine of `cores`: on this
// machine's disks one per core, since a copy there costs processor time; behind a link 16 at
// first and up to 64 as more pay, since a file there costs round trips, which many copies wait
// out side by side.
JobWidth copyWidthFor(TargetReach reach, std::size_t cores);

// A place in the output, for the files a run has placed and for what a dry run would make: the
// output folder by its identity, and each place below it by the place of its folder and its name's
// key, so that every spelling of a path that is one there is one place, whatever identities the
// file system gives its folders (a FUSE volume may give a folder another under each spelling).
std::uint64_t placeOf(const FileIdentity& folder);
std::uint64_t placeIn(std::uint64_t folder, std::string_view key);

// Hashes strings and their views alike, so that a set or map of strings is searched with a view.
struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept {
        return std::hash<std::string_view>{}(key);
    }
};
// Strings of keys, searched with views.
using KeySet = std::unordered_set<std::string, KeyHash, std::equal_to<>>;
template <class Value>
using KeyMap = std::unordered_map<std::string, Value, KeyHash, std::equal_to<>>;

// ---- Which entries of a listing a copy takes ----

// What the flat copy does with an entry of a folder's listing.
enum class FlatTake {
    File,          // a regular file, or a link to one: copied
    Folder,        // a folder or a link to one: the walk's, not the copy's
    LeftOut,       // a name beginning with "~": never copied, not reported
    LinkToNothing, // reported, not copied
    NotAFile       // a pipe, socket or device, or a link to one: reported, never opened
};
// `folder` is the open folder that lists it; only a link costs a call.
FlatTake takeForFlat(int folder, const FolderEntry& entry);

// What the tree copy does with an entry of a folder's listing.
enum class TreeTake { Folder, File, Link, LinkToNothing, NotAFile };
TreeTake takeForTree(int folder, const FolderEntry& entry);

// Why an entry of either take is not copied.
Reason notCopiedReason(FlatTake take);
Reason notCopiedReason(TreeTake take);

// ---- The tree copy: who copies what in one folder ----

// How the entries of one listed folder are shared out as work, decided apart from the copying:
// every entry is in exactly one folder or one run. `folders`: each subfolder to copy, as the
// entries that go into one target folder (several where the target takes their names as one);
// `runs`: the other entries, in listing order, at most `runLength` to a run, copied in order by
// one worker. A run never holds a folder. `replacedBy`: for an entry other than a folder, the
// later entry of its key that the target keeps instead (names that are one there), else none.
struct FolderPlan {
    std::vector<std::vector<std::uint32_t>> folders;
    std::vector<std::vector<std::uint32_t>> runs;
    std::vector<std::optional<std::uint32_t>> replacedBy;
};
// `types` are the entries' types in listing order; `keys`, when not empty, the form in which
// the target tells each entry's name apart (folders of one key become one; of other entries of
// one key the last is kept, and they are one run).
FolderPlan planFolder(const std::vector<FolderEntry::Type>& types,
                      const std::vector<std::string>& keys, std::size_t runLength);

// ---- The flat copy: which file of each name wins ----

// A file of a folder, with its place in the folder's listing.
struct ListedFile {
    std::string name;
    std::uint32_t position;
    // For a file that wins its name: whether an earlier file of the entry has its name too, so
    // that size and time alone cannot tell which of them a destination already holds.
    bool contested = false;
};

// What one folder gives a flat copy: its files as the copy takes them, in listing order, and
// what it cannot copy. The output folder itself gives nothing: each of its files is its own
// destination.
struct FlatFolder {
    std::string path; // ends with the separator
    std::vector<ListedFile> files;
    std::vector<ListedFile> leftOut; // "~" names
    std::vector<std::pair<ListedFile, FlatTake>> notCopied;
    std::optional<Failure> listingFailure;
    bool isOutput = false;
};

// A file of an entry's plan: its folder's place in the plan and its own among the folder's files.
struct FlatPlace {
    std::uint32_t folder;
    std::uint32_t file;
    bool operator==(const FlatPlace&) const = default;
};

// One entry of a flat copy, planned: the folders its walk found, in processing order, each with
// what it gives, and the file of each name that copying every file in turn would leave.
struct FlatEntryPlan {
    std::string entry; // the entry as the run read it
    FolderCollection folders;
    std::vector<FlatFolder> contents;   // one for each folder
    std::vector<LeftOutFolder> leftOut; // folders the walk left out
    std::vector<Failure> walkReports;   // what the walk would report, when it walked quietly
    std::vector<FlatPlace> winners;     // in processing order
    std::chrono::steady_clock::time_point made;

    const ListedFile& file(FlatPlace place) const {
        return contents[place.folder].files[place.file];
    }
    std::string pathOf(FlatPlace place) const {
        return contents[place.folder].path + file(place).name;
    }
    std::size_t fileCount() const;
};

// Plans an entry from its walk: `folders` (the entry and every folder below it, in walk order)
// and the folders the walk left out; `listings`, when given, what the walk listed, taken instead
// of listing again. `output` is the output folder, whose files give nothing. A stop requested
// meanwhile leaves the plan short.
FlatEntryPlan planFlatFolders(std::string entry, FolderCollection folders,
                              std::vector<LeftOutFolder> leftOut, WalkListings* listings,
                              const OutputRules& rules, const FileIdentity& output);
// Walks and plans an entry without a window: nothing yields, and what the walk would report is
// kept in the plan's `walkReports`.
FlatEntryPlan planFlatEntryQuietly(const std::string& entry, const OutputRules& rules,
                                   const FileIdentity& output);

// ---- A flat run of several entries ----

// For a flat run of several entries: the plans of every entry, made side by side before the
// first is copied (the look-ahead), and which entry holds the last file of each name. A file that
// a later entry's file of its name replaces is not copied at all; a join copies each name once,
// and joined again copies only what changed. When the later entry then holds no such file after
// all (it went, it was renamed, a folder stands there) or cannot copy it, the earlier file is
// copied in its place: each name ends in the output from the last entry whose file of that name
// could be copied, or its failure is named.
class FlatRun {
public:
    FlatRun(const std::vector<std::string>& entries, const OutputRules& rules,
            const FileIdentity& output);
    // The same from plans made already, one for each entry in list order, none kept.
    FlatRun(const std::vector<std::shared_ptr<const FlatEntryPlan>>& plans,
            const OutputRules& rules);

    // The plan the look-ahead made for entry `entry` (from 0), when it is the entry's own: made
    // for the same path, from a walk that left nothing out and reported nothing, less than two
    // seconds ago. Taken once.
    std::shared_ptr<const FlatEntryPlan> takePlan(std::size_t entry, const std::string& path);

    // The entries of the run, and the plan the look-ahead keeps for entry `entry` (from 0), left
    // in place for its copy to take; null when none is kept.
    std::size_t entries() const { return m_plans.size(); }
    std::shared_ptr<const FlatEntryPlan> plannedFor(std::size_t entry) const;

    // Whether an entry after `entry` holds a file of the key, and so replaces this entry's. May be
    // asked from any thread.
    bool laterHolds(std::size_t entry, std::string_view key) const;

    // A file of entry `entry` left to a later entry's file of its key.
    struct Deferred {
        std::size_t entry;
        std::string path;
        std::string name;
    };
    using DeferredByKey = KeyMap<std::vector<Deferred>>;
    // The keys whose last file the look-ahead found in entry `entry`, with the earlier files left
    // to it: whatever the entry's copy does not place of these is copied from them. Taken once.
    DeferredByKey takeAwaited(std::size_t entry);
    // What is left to entries whose copy never took it (an entry that could not be read, or
    // named no folder). Taken once.
    DeferredByKey takeRemaining();

    // Which of the plan's winners entry `entry` copies: all but those a later entry's file of
    // their key replaces, which are left to it.
    std::vector<FlatPlace> copiesOf(const FlatEntryPlan& plan, const OutputRules& rules,
                                    std::size_t entry);

private:
    // Notes entry `entry` as the last holder of its plan's keys where no later entry is noted
    // already. Plans may be noted in any order, from several threads.
    void noteHolder(const FlatEntryPlan& plan, std::uint32_t entry, const OutputRules& rules);
    // Once every plan is noted: which of the plan's winners a later entry replaces. Plans may be
    // judged side by side.
    void judge(const std::shared_ptr<const FlatEntryPlan>& plan, std::uint32_t entry,
               const OutputRules& rules);

    // A plan whose winners were judged against the later plans as the run was made: for each
    // winner, the last entry that holds a file of its key when that entry is a later one, which
    // then replaces it; else 0.
    struct Judged {
        std::weak_ptr<const FlatEntryPlan> plan;
        std::vector<std::uint32_t> laterHolder;
    };

    struct Kept {
        std::shared_ptr<const FlatEntryPlan> plan;
        std::string path;
    };
    std::vector<std::optional<Kept>> m_plans;
    // Per key, the last entry that holds a file of it.
    KeyMap<std::uint32_t> m_last;
    std::vector<Judged> m_judged; // one for each entry
    std::mutex m_mutex;
    // By the entry that holds the last file of their key.
    std::vector<DeferredByKey> m_deferred;
};

} // namespace join
