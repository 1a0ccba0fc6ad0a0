#include "copyprocs.h"

#include "background.h"
#include "failure.h"
#include "flatcopy.h"
#include "paths.h"
#include "posixfs.h"
#include "runprogress.h"
#include "subdirs.h"
#include "targetfs.h"
#include "treecopy.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

namespace join {

namespace {

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == Separator)
        path.pop_back();
    return path;
}

std::string parentText(const std::string& path) {
    const std::size_t last = path.rfind(Separator);
    if (last == std::string::npos)
        return ".";
    return last == 0 ? std::string(1, Separator) : path.substr(0, last);
}

// Waits without a window: for callers that have none to keep alive.
class BlockingPump : public EventPump {
public:
    void pumpEvents() override {}
};

// Both ends of a folder copy, opened: the source, and either the existing target folder or the
// folder in which the target is to be made.
struct CopyEnds {
    std::string from; // the source as named in reports
    Descriptor source;
    FolderStatus sourceStatus;
    std::string targetPath;
    Descriptor target;    // the target when it exists as a folder
    Descriptor parent;    // else the folder that will hold it...
    std::string name;     // ...under this name
    bool followsTarget{}; // the target is the output folder itself, which may be a link
};

Failure intoItself(const std::string& text) {
    return Failure(ErrorNumber::PathFileAccessError, "Cannot copy a folder into itself: " + text);
}

CopyEnds openEnds(const std::string& source, const std::string& destination) {
    CopyEnds ends;
    ends.from = withoutTrailingSeparators(source);
    ends.source = OpenFolder(ends.from);
    if (!ends.source.valid() || !StatusOf(ends.source.get(), ends.sourceStatus))
        throw failureFromErrno(errno, source);

    // Into the destination under the source's own name, or the destination itself.
    const bool intoDestination = EndsWithSeparator(destination);
    ends.targetPath = intoDestination ? destination + LastPathPart(ends.from) : destination;
    if (!intoDestination && FolderExists(destination)) {
        ends.target = OpenFolder(destination);
        ends.followsTarget = true;
        if (!ends.target.valid())
            throw failureFromErrno(errno, destination);
        return ends;
    }
    const std::string folder =
        intoDestination ? destination : parentText(withoutTrailingSeparators(destination));
    ends.name = intoDestination ? LastPathPart(ends.from)
                                : LastPathPart(withoutTrailingSeparators(destination));
    ends.parent = OpenFolder(folder);
    if (!ends.parent.valid())
        throw failureFromErrno(errno, folder);
    if (ends.name.empty() || ends.name == "." || ends.name == "..")
        throw intoItself(destination + " lies inside " + ends.from); // the root, or no name
    if (EntryTypeAt(ends.parent.get(), ends.name) == FolderEntry::Type::Folder)
        ends.target = OpenFolderAt(ends.parent.get(), ends.name);
    return ends;
}

// A copy must not go into its own source, nor into a folder that holds its source: either way
// it would read what it writes, or write over what it has still to read. Judged by identity
// along the real chains of parents; when a chain cannot be read, the copy is refused.
void refuseOverlap(const CopyEnds& ends, const std::string& destination) {
    const int below = ends.target.valid() ? ends.target.get() : ends.parent.get();
    const auto targetChain = ParentChainOf(below);
    if (!targetChain ||
        std::ranges::find(*targetChain, ends.sourceStatus.identity) != targetChain->end())
        throw intoItself(destination + " lies inside " + ends.from);
    if (!ends.target.valid())
        return;
    const auto sourceChain = ParentChainOf(ends.source.get());
    if (!sourceChain || std::ranges::find(*sourceChain, targetChain->front()) != sourceChain->end())
        throw intoItself(ends.targetPath + " holds " + ends.from);
}

TreeCopyRoot prepareCopy(const std::string& source, const std::string& destination) {
    CopyEnds ends = openEnds(source, destination);
    refuseOverlap(ends, destination);
    TreeCopyRoot root;
    int error = 0;
    if (ends.followsTarget)
        root.target = OpenTargetFolder(std::move(ends.target), root.permissions, error);
    else
        root.target =
            PrepareTargetFolder(ends.parent.get(), ends.name, ends.sourceStatus.permissions, true,
                                root.permissions, error);
    root.made = root.target.valid() && !ends.followsTarget && error == 0;
    if (!root.target.valid())
        throw error == EEXIST
            ? Failure(ErrorNumber::PathFileAccessError,
                      ends.targetPath + ": a file that is not a folder stands in the way")
            : copyFailure(ends.targetPath, error);
    root.source = std::move(ends.source);
    root.sourcePath = ends.from;
    root.fileSystem = ExamineUnusualTarget(destination);
    root.targetPath = withoutTrailingSeparators(ends.targetPath);
    return root;
}

// Runs `job` on the worker pool while `pump` keeps the window alive and `progress`, when given,
// shows how far it has come. Returns how many things the job made or replaced.
std::uint64_t runInBackground(EventPump& pump, RunProgress* progress,
                              const std::function<void(CopyCounters&)>& job) {
    BackgroundWork work;
    if (progress)
        work.setProgressReport([&] { progress->show(work.counters()); });
    WorkerPool::shared().start(work, [&] { job(work.counters()); });
    pump.waitFor(work);
    if (progress)
        progress->endCopy(work.counters());
    return work.counters().made.load();
}

// The entry folder of a preserve copy: the entry without its one trailing separator.
std::string preservedSource(const std::string& entry) {
    return EndsWithSeparator(entry) ? entry.substr(0, entry.size() - 1) : entry;
}

// The path the existing-copy check looks at: the output folder text, a separator and the entry
// folder without its root, normalised.
std::string mirroredPath(const std::string& source, const std::string& output) {
    const bool absolute = DriveRoot(source) == std::string(1, Separator);
    return NormalizePath(output + Separator + (absolute ? source.substr(1) : source));
}

IfDestinationExists ifExistsFor(const JoinHost& host) {
    return host.alwaysCopy() ? IfDestinationExists::Replace : IfDestinationExists::KeepCopy;
}

std::string alreadyExists(const std::string& mirrored) {
    return mirrored + " already exists. Please delete.";
}

} // namespace

bool CopyFolder(const std::string& source, const std::string& destination, EventPump& pump,
                IfDestinationExists ifExists, PlacedFiles* placed, RunProgress* progress) {
    TreeCopyRoot root = prepareCopy(source, destination);
    root.ifExists = ifExists;
    root.placed = placed;
    if (progress)
        progress->countTree(root.sourcePath);
    CopyFailures failures;
    const std::uint64_t made = runInBackground(pump, progress, [&](CopyCounters& counters) {
        CopyTree(std::move(root), failures, counters);
    });
    if (const std::optional<Failure> failure = failures.summary("item"))
        throw *failure;
    return made > 0;
}

bool CopyFolder(const std::string& source, const std::string& destination) {
    BlockingPump pump;
    return CopyFolder(source, destination, pump);
}

PreservePlacement PlacePreservedEntry(const std::string& entry, const std::string& outputText) {
    PreservePlacement placement;
    if (outputText.empty()) {
        placement.outcome = PreservePlacement::Outcome::NoOutputFolder;
        return placement;
    }
    placement.source = preservedSource(entry);
    placement.mirrored = mirroredPath(placement.source, outputText);
    if (FolderExists(placement.mirrored)) {
        placement.outcome = PreservePlacement::Outcome::AlreadyExists;
        placement.refusal = alreadyExists(placement.mirrored);
        return placement;
    }
    try {
        const CopyEnds ends = openEnds(placement.source, outputText);
        placement.target = ends.targetPath;
        refuseOverlap(ends, outputText);
    } catch (const Failure& failure) {
        placement.outcome = PreservePlacement::Outcome::Refused;
        placement.refusal = failure.description();
    }
    return placement;
}

std::string CopyEntryPreservingStructure(const std::string& entry, const std::string& output,
                                         JoinHost& host, Trap& trap, PlacedFiles* placed,
                                         RunProgress* progress) {
    // An empty entry names no folder; its mirrored path would be the output folder itself.
    // 122: the tree copy needs no object of its own. An empty output text names no folder.
    if (entry.empty() || output.empty())
        return {};
    trap.line(124, [&] { MakeFolderTree(output); });
    std::string source = entry;
    if (trap.test(126, [&] { return EndsWithSeparator(source); }))
        trap.line(128, [&] { source = preservedSource(source); });
    std::string mirrored;
    trap.line(132, [&] { mirrored = mirroredPath(source, output); });
    if (trap.test(136, [&] { return FolderExists(mirrored); })) {
        trap.line(140, [&] { host.showMessage(alreadyExists(mirrored)); });
        return {};
    }
    // A copy that failed may have written something: only one that made nothing is known not
    // to have.
    bool made = true;
    trap.line(
        138, [&] { made = CopyFolder(source, output, host, ifExistsFor(host), placed, progress); });
    return made ? output : std::string();
}

std::string CopyEntryFlat(const std::string& entry, const std::string& output, JoinHost& host,
                          Trap& trap, PlacedFiles* placed, LaterFiles* later, std::size_t index,
                          RunProgress* progress) {
    // An empty entry names no folder; with the separator appended it would name the root. An
    // empty output text names no folder either.
    if (entry.empty() || output.empty())
        return {};
    FolderCollection folders;
    std::vector<std::optional<FolderListing>> listings;
    std::vector<LeftOutFolder> leftOut;
    // A walk the look-ahead made, clean, is this entry's walk, with the listings it kept;
    // otherwise it walks now, reporting.
    if (std::optional<WalkedEntry> walked = later ? later->takeWalk(index, entry) : std::nullopt) {
        folders = std::move(walked->folders);
        listings = std::move(walked->listings);
    } else {
        trap.line(142,
                  [&] { folders.push_back(EndsWithSeparator(entry) ? entry : entry + Separator); });
        trap.line(144,
                  [&] { GetSubDirectories2016(folders, Recursion::AllLevels, host, &leftOut); });
    }
    // A walk that a stop cut short copies nothing.
    if (StopRequested())
        return {};
    if (progress)
        progress->countFlat(folders);
    FlatCopyResult result;
    const std::uint64_t made = runInBackground(host, progress, [&](CopyCounters& counters) {
        CopyFilesFlat(folders, output, result, counters, ifExistsFor(host), placed, later, index,
                      listings.empty() ? nullptr : &listings);
    });
    // What the walk left out is said once, with the count and the first.
    CopyFailures notWalked;
    for (std::uint32_t i = 0; i < leftOut.size(); ++i)
        notWalked.add({i}, Failure(leftOut[i].number, leftOut[i].path + ": " + leftOut[i].reason));
    if (const std::optional<Failure> failure = notWalked.summary("folder", "Left out"))
        trap.line(144, [&] { throw *failure; });
    for (const std::optional<Failure>& listing : result.listingFailures) { // 146
        if (listing)
            trap.line(150, [&] { throw *listing; });
    }
    if (const std::optional<Failure> failure = result.copyFailures.summary("file"))
        trap.line(160, [&] { throw *failure; });
    return made > 0 ? output : std::string();
}

} // namespace join
