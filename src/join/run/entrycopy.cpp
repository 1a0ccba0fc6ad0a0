#include "join/run/entrycopy.h"

#include "join/copy/filecopy.h"
#include "join/copy/flatcopy.h"
#include "join/copy/targetfolder.h"
#include "join/copy/treecopy.h"
#include "join/fs/failure.h"
#include "join/fs/folderpaths.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/fs/targetfs.h"
#include "join/run/runprogress.h"
#include "join/tasks/workers.h"
#include "join/walk/subfolders.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

namespace join {

namespace {

std::string parentText(const std::string& path) {
    const std::size_t last = path.rfind(Separator);
    if (last == std::string::npos)
        return ".";
    return last == 0 ? std::string(1, Separator) : path.substr(0, last);
}

// An entry's walk: it yields and shows how far it has come through the run's host, and reports
// through the run's reporter, so that its reports count in the run's outcome with the entry's.
class EntryWalk final : public WalkHost {
public:
    EntryWalk(JoinHost& host, ErrorReporter& reporter) : m_host(host), m_reporter(reporter) {}
    void pumpEvents() override { m_host.pumpEvents(); }
    void foldersFound(std::size_t count) override { m_host.foldersFound(count); }
    bool walkStopped() const override { return m_host.walkStopped(); }
    void showErrorReport(const Failure& failure, const std::string& location, int line) override {
        m_reporter.showErrorReport(failure, location, line);
    }

private:
    JoinHost& m_host;
    ErrorReporter& m_reporter;
};

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
    bool nameFree{};      // nothing had the name when it was looked at
};

// A copy that would go into itself: the target `target` and the source `from`, as `code` says.
Failure intoItself(Reason::Code code, const std::string& target, const std::string& from) {
    return Failure(ErrorNumber::PathFileAccessError, target, Reason{code, 0, from, {}, 0},
                   Failure::Form::ReasonFirst);
}

// A copy whose target lies inside its source.
Failure targetInSource(const CopyEnds& ends) {
    return intoItself(Reason::Code::TargetInsideSource, withoutTrailingSeparators(ends.targetPath),
                      ends.from);
}

CopyEnds openEnds(const std::string& source, const std::string& destination) {
    CopyEnds ends;
    ends.from = withoutTrailingSeparators(source);
    ends.source = openFolder(ends.from);
    if (const int error = ends.source.valid()
                              ? readFolderStatus(ends.source.get(), ends.sourceStatus)
                              : ends.source.error();
        error != 0)
        throw failureFromErrno(error, source);

    // Into the destination under the source's own name, or the destination itself.
    const bool intoDestination = endsWithSeparator(destination);
    ends.targetPath = intoDestination ? destination + lastPathPart(ends.from) : destination;
    if (!intoDestination && folderExists(destination)) {
        ends.target = openFolder(destination);
        ends.followsTarget = true;
        if (!ends.target.valid())
            throw failureFromErrno(ends.target.error(), destination);
        return ends;
    }
    const std::string folder =
        intoDestination ? destination : parentText(withoutTrailingSeparators(destination));
    ends.name = intoDestination ? lastPathPart(ends.from)
                                : lastPathPart(withoutTrailingSeparators(destination));
    ends.parent = openFolder(folder);
    if (!ends.parent.valid())
        throw failureFromErrno(ends.parent.error(), folder);
    if (ends.name.empty() || ends.name == "." || ends.name == "..")
        throw targetInSource(ends); // the root, or no name
    FolderEntry::Type type = FolderEntry::Type::Other;
    const int error = readEntryTypeAt(ends.parent.get(), ends.name, type);
    if (error == 0 && type == FolderEntry::Type::Folder)
        ends.target = openFolderAt(ends.parent.get(), ends.name);
    ends.nameFree = error == ENOENT;
    return ends;
}

// A copy must not go into its own source, nor into a folder that holds its source: either way
// it would read what it writes, or write over what it has still to read. Judged by identity
// along the real chains of parents; when a chain cannot be read, the copy is refused.
void refuseOverlap(const CopyEnds& ends) {
    const int below = ends.target.valid() ? ends.target.get() : ends.parent.get();
    const auto targetChain = parentChainOf(below);
    if (!targetChain ||
        std::ranges::find(*targetChain, ends.sourceStatus.identity) != targetChain->end()) {
        // The target is the source itself, or a folder the copy would make inside it.
        if (ends.target.valid() && targetChain &&
            targetChain->front() == ends.sourceStatus.identity)
            throw intoItself(Reason::Code::TargetIsSource,
                             withoutTrailingSeparators(ends.targetPath), ends.from);
        throw targetInSource(ends);
    }
    if (!ends.target.valid())
        return;
    const auto sourceChain = parentChainOf(ends.source.get());
    if (!sourceChain || std::ranges::find(*sourceChain, targetChain->front()) != sourceChain->end())
        throw intoItself(Reason::Code::TargetHoldsSource, ends.targetPath, ends.from);
}

// The place of the target's folder in the output: the open target itself, or the folder that
// is to hold it, by identity.
std::uint64_t parentPlace(const CopyEnds& ends) {
    FolderStatus status;
    const int folder = ends.followsTarget ? ends.target.get() : ends.parent.get();
    return readFolderStatus(folder, status) == 0 ? placeOf(status.identity) : 0;
}

TreeCopyRoot prepareCopy(const std::string& source, const std::string& destination,
                         RunContext& run) {
    CopyEnds ends = openEnds(source, destination);
    refuseOverlap(ends);
    TreeCopyRoot root;
    const std::uint64_t above = parentPlace(ends);
    root.place = ends.followsTarget ? above : placeIn(above, run.rules.key(ends.name));
    int error = 0;
    if (run.foreseen) {
        // The target as the join would make or merge into it, nothing written.
        Descriptor opened;
        std::optional<OutputFolder> target;
        if (ends.followsTarget) {
            target = OutputFolder{ends.target.get(), root.place, refusalToFill(ends.target.get())};
            opened = std::move(ends.target);
        } else {
            target = foreseeTargetFolder(
                {ends.parent.get(), above, refusalToFill(ends.parent.get())}, ends.name, root.place,
                true, *run.foreseen, opened, root.made, error);
        }
        if (target) {
            root.target = std::move(opened);
            root.refusal = target->refusal;
            root.foreseen = run.foreseen.get();
        }
    } else if (ends.followsTarget) {
        root.target = openTargetFolder(std::move(ends.target), root.permissions, error);
    } else {
        // A name found free is made at once; should something have it by then, making it says so.
        root.target =
            prepareTargetFolder(ends.parent.get(), ends.name, ends.sourceStatus.permissions, true,
                                !ends.nameFree, root.permissions, error);
    }
    if (!run.foreseen)
        root.made = root.target.valid() && !ends.followsTarget && error == 0;
    if (!root.target.valid() && !root.foreseen)
        throw error == EEXIST
            ? copyFailure(ends.targetPath, Reason{Reason::Code::FileInTheWay, 0, {}, {}, 0})
            : copyFailure(ends.targetPath, error);
    root.source = std::move(ends.source);
    root.sourcePath = ends.from;
    root.rules = run.rules;
    root.targetPath = withoutTrailingSeparators(ends.targetPath);
    return root;
}

// Runs `job` on the worker pool while `pump` keeps the window alive and `progress`, when given,
// shows how far it has come. Returns how many things the job made or replaced. What the job
// throws is thrown here, and sets `faulted`.
std::uint64_t runInBackground(EventPump& pump, RunProgress* progress, bool& faulted,
                              const std::function<void(CopyCounters&)>& job) {
    BackgroundWork work;
    if (progress)
        work.setProgressReport([&] { progress->show(work.counters()); });
    std::exception_ptr fault;
    WorkerPool::shared().start(work, [&] {
        try {
            job(work.counters());
        } catch (...) {
            fault = std::current_exception();
        }
    });
    pump.waitFor(work);
    if (progress)
        progress->endCopy(work.counters());
    if (fault) {
        faulted = true;
        std::rethrow_exception(fault);
    }
    return work.counters().made.load();
}

// The entry folder of a preserve copy: the entry without its one trailing separator.
std::string preservedSource(const std::string& entry) {
    return endsWithSeparator(entry) ? entry.substr(0, entry.size() - 1) : entry;
}

// The path the existing-copy check looks at: the output folder text, a separator and the entry
// folder without its root, normalised.
std::string mirroredPath(const std::string& source, const std::string& output) {
    const bool absolute = pathRoot(source) == std::string(1, Separator);
    return normalizePath(output + Separator + (absolute ? source.substr(1) : source));
}

IfDestinationExists ifExistsFor(const JoinHost& host) {
    return host.alwaysCopy() ? IfDestinationExists::Replace : IfDestinationExists::KeepCopy;
}

// How many names an entry's own walk keeps of its listings, for its plan to take instead of
// listing again.
constexpr std::size_t WalkKeeps = std::size_t{1} << 18;

// Whether a run whose writes are withheld would have made the folder `path` by now: each folder
// from the output folder `output` down to it is on the disk or one the run would make.
bool foreseenFolder(const std::string& path, const std::string& output, const RunContext& run) {
    if (!run.foreseen)
        return false;
    const std::string base = withoutTrailingSeparators(normalizePath(output));
    const std::string own = withoutTrailingSeparators(path);
    if (!own.starts_with(base) || own.size() <= base.size() + 1 || own[base.size()] != Separator)
        return false;
    std::uint64_t place = run.outputPlace;
    for (std::size_t at = base.size() + 1; at <= own.size();) {
        const std::size_t end = std::min(own.find(Separator, at), own.size());
        place = placeIn(place, run.rules.key(own.substr(at, end - at)));
        if (!folderExists(own.substr(0, end))) {
            const std::optional<ForeseenThing> thing = run.foreseen->at(place);
            if (!thing || thing->kind != ForeseenThing::Kind::Folder)
                return false;
        }
        at = end + 1;
    }
    return true;
}

} // namespace

RunContext::RunContext(const std::string& output, IfDestinationExists ifExists)
    : RunContext(output, ifExists, OutputRules::of(output), Writes::Made, false) {}

RunContext::RunContext(const std::string& output, IfDestinationExists ifExists, OutputRules rules,
                       Writes writes, bool keepRecord)
    : rules(std::move(rules)), output([&] {
          FileIdentity identity;
          return identityOfPath(output, identity) == 0 ? identity : FileIdentity{};
      }()),
      outputPlace(placeOf(this->output)), ifExists(ifExists) {
    if (writes == Writes::Withheld)
        foreseen = std::make_unique<ForeseenOutput>();
    if (keepRecord)
        record = std::make_unique<FileRecord>(
            [keys = this->rules](const std::string& path) { return keys.key(path); });
}

bool copyFolder(const std::string& source, const std::string& destination, EventPump& pump,
                RunContext& run) {
    // A source that cannot be opened, a copy into itself, a target that cannot be made: the
    // entry folder is not copied, as a folder within it would not be.
    TreeCopyRoot root;
    try {
        root = prepareCopy(source, destination, run);
    } catch (const Failure& refused) {
        if (run.record)
            run.record->add(
                {FileFate::Item::Folder,
                 FileFate::Fate::NotCopied,
                 static_cast<int>(run.entry) + 1,
                 source,
                 {},
                 {refused.path(), NotCopiedItem::Kind::Folder, refused.reason(), refused.number()},
                 {}});
        throw CopyShortfall(refused, NotCopiedItem::Kind::Folder);
    }
    root.ifExists = run.ifExists;
    root.placed = &run.placed;
    root.record = run.record.get();
    root.entry = static_cast<int>(run.entry) + 1;
    if (run.progress)
        run.progress->countTree(root.sourcePath);
    CopyFailures failures;
    const std::uint64_t made =
        runInBackground(pump, run.progress, run.faulted, [&](CopyCounters& counters) {
            copyTree(std::move(root), failures, counters);
        });
    if (const std::optional<CopyShortfall> shortfall = failures.summary())
        throw *shortfall;
    return made > 0;
}

bool copyFolder(const std::string& source, const std::string& destination) {
    BlockingPump pump;
    RunContext run(destination, IfDestinationExists::KeepCopy);
    return copyFolder(source, destination, pump, run);
}

std::string copyFilesLeftOver(const std::string& output, JoinHost& host, Trap& trap,
                              RunContext& run) {
    if (!run.flat)
        return {};
    auto left = run.flat->takeRemaining();
    if (left.empty() || stopRequested())
        return {};
    CopyFailures failures;
    FlatCopyOptions options{&run.rules, run.ifExists, &run.placed, &*run.flat, run.entry};
    options.outputPlace = run.outputPlace;
    options.foreseen = run.foreseen.get();
    options.record = run.record.get();
    std::uint64_t made = 0;
    trap.line(146, [&] {
        made = runInBackground(host, run.progress, run.faulted, [&](CopyCounters& counters) {
            copyRemainingLeftFiles(std::move(left), output, options, failures, counters);
        });
    });
    if (const std::optional<CopyShortfall> shortfall = failures.summary())
        trap.line(160, [&] { throw *shortfall; });
    return made > 0 ? output : std::string();
}

std::string copyEntryPreservingStructure(const std::string& entry, const std::string& output,
                                         JoinHost& host, Trap& trap, RunContext* run) {
    // An empty entry names no folder; its mirrored path would be the output folder itself.
    // 122: the tree copy needs no object of its own. An empty output text names no folder.
    if (entry.empty() || output.empty())
        return {};
    std::optional<RunContext> own;
    if (!run)
        run = &own.emplace(output, ifExistsFor(host));
    if (!run->foreseen)
        trap.line(124, [&] { makeFolderTree(output); });
    std::string source = entry;
    if (trap.test(126, [&] { return endsWithSeparator(source); }))
        trap.line(128, [&] { source = preservedSource(source); });
    std::string mirrored;
    trap.line(132, [&] { mirrored = mirroredPath(source, output); });
    if (trap.test(136, [&] {
            return folderExists(mirrored) || foreseenFolder(mirrored, output, *run);
        })) {
        ++run->entriesRefused;
        trap.line(140, [&] { host.copyExists(mirrored); });
        return {};
    }
    // A copy that failed may have written something: only one that made nothing is known not
    // to have.
    bool made = true;
    trap.line(138, [&] { made = copyFolder(source, output, host, *run); });
    return made ? output : std::string();
}

std::string copyEntryFlat(const std::string& entry, const std::string& output, JoinHost& host,
                          Trap& trap, RunContext* run) {
    // An empty entry names no folder; with the separator appended it would name the root. An
    // empty output text names no folder either.
    if (entry.empty() || output.empty())
        return {};
    std::optional<RunContext> own;
    if (!run)
        run = &own.emplace(output, ifExistsFor(host));
    // A plan the look-ahead made from a walk that went as this one would is this entry's plan;
    // otherwise it walks now, reporting, and plans from that walk.
    std::shared_ptr<const FlatEntryPlan> plan =
        run->flat ? run->flat->takePlan(run->entry, entry) : nullptr;
    if (!plan) {
        FolderCollection folders;
        std::vector<LeftOutFolder> leftOut;
        WalkListings listings{WalkKeeps, {}};
        trap.line(142,
                  [&] { folders.push_back(endsWithSeparator(entry) ? entry : entry + Separator); });
        trap.line(144, [&] {
            EntryWalk walk(host, trap.reporter());
            walkSubfolders(folders, Recursion::AllLevels, walk, &leftOut, &listings);
        });
        // A walk that a stop cut short copies nothing.
        if (stopRequested())
            return {};
        // Listing the folders takes a while in a large tree: on a worker, while the window waits.
        trap.line(146, [&] {
            runInBackground(host, nullptr, run->faulted, [&](CopyCounters&) {
                plan = std::make_shared<const FlatEntryPlan>(
                    planFlatFolders(entry, std::move(folders), std::move(leftOut), &listings,
                                    run->rules, run->output));
            });
        });
    }
    if (!plan || stopRequested())
        return {};
    const std::vector<FlatPlace> copies =
        run->flat ? run->flat->copiesOf(*plan, run->rules, run->entry) : plan->winners;
    if (run->progress)
        run->progress->countFlat(plan, copies);
    CopyFailures failures;
    FlatCopyOptions options{&run->rules,  run->ifExists,
                            &run->placed, run->flat ? &*run->flat : nullptr,
                            run->entry,   !std::exchange(run->outputCleaned, true)};
    options.outputPlace = run->outputPlace;
    options.foreseen = run->foreseen.get();
    options.record = run->record.get();
    std::uint64_t made = 0;
    std::uint64_t standIns = 0;
    trap.line(146, [&] {
        made = runInBackground(host, run->progress, run->faulted, [&](CopyCounters& counters) {
            standIns = copyFilesFlat(*plan, copies, output, options, failures, counters);
        });
    });
    // The plan's files that it does not copy are replaced by later files of their name, in this
    // entry or a later one, unless they were copied after all in place of one that failed; a file
    // an earlier entry left to this one and copied now counts off that entry's.
    run->replacedByLater += static_cast<std::int64_t>(plan->fileCount() - copies.size()) -
                            static_cast<std::int64_t>(standIns);
    for (const FlatFolder& folder : plan->contents)
        run->leftOutByName += folder.leftOut.size();
    // What the walk left out, what could not be listed and what could not be copied are each
    // said once, with the count and the first.
    const auto recordFolder = [&](const std::string& path, const Failure& failure) {
        if (run->record)
            run->record->add(
                {FileFate::Item::Folder,
                 FileFate::Fate::NotCopied,
                 static_cast<int>(run->entry) + 1,
                 path,
                 {},
                 {failure.path(), NotCopiedItem::Kind::Folder, failure.reason(), failure.number()},
                 {}});
    };
    CopyFailures notWalked;
    for (std::uint32_t i = 0; i < plan->leftOut.size(); ++i) {
        const LeftOutFolder& folder = plan->leftOut[i];
        const Failure failure(folder.number, folder.path, folder.reason);
        notWalked.add({i}, failure, NotCopiedItem::Kind::Folder);
        recordFolder(folder.path, failure);
    }
    if (const std::optional<CopyShortfall> shortfall = notWalked.summary(CopyShortfall::Step::Walk))
        trap.line(144, [&] { throw *shortfall; });
    CopyFailures notListed;
    for (std::uint32_t i = 0; i < plan->contents.size(); ++i) { // 146
        if (const std::optional<Failure>& failure = plan->contents[i].listingFailure) {
            notListed.add({i}, *failure, NotCopiedItem::Kind::Folder);
            recordFolder(plan->contents[i].path, *failure);
        }
    }
    if (const std::optional<CopyShortfall> shortfall = notListed.summary(CopyShortfall::Step::List))
        trap.line(150, [&] { throw *shortfall; });
    if (const std::optional<CopyShortfall> shortfall = failures.summary())
        trap.line(160, [&] { throw *shortfall; });
    return made > 0 ? output : std::string();
}

} // namespace join
