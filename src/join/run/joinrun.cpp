#include "join/run/joinrun.h"

#include "join/copy/filecopy.h"
#include "join/fs/failure.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/fs/targetfs.h"
#include "join/host/trap.h"
#include "join/run/entrycopy.h"
#include "join/run/runprogress.h"
#include "join/tasks/workers.h"

#include <cerrno>
#include <chrono>
#include <optional>
#include <vector>

namespace join {

namespace {

// Clears the running flag on every way out of the run.
class RunningFlag {
public:
    explicit RunningFlag(std::atomic<bool>& flag) : m_flag(flag) { m_flag = true; }
    ~RunningFlag() { m_flag = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;

private:
    std::atomic<bool>& m_flag;
};

// The list's first `count` entries, read as the run reads each ("." and ".." resolved), for what
// looks at them all before their turn: one that cannot be read is "".
std::vector<std::string> readEntries(const JoinHost& host, int count) {
    std::vector<std::string> entries;
    for (int i = 1; i <= count; ++i) {
        try {
            entries.push_back(resolveDotSegments(host.sourceText(i)));
        } catch (const std::exception&) {
            entries.emplace_back();
        }
    }
    return entries;
}

// Plans every entry of a flat run before the first is copied, on a worker while the window
// waits: the run's look-ahead. Only a way to copy less: an entry that cannot be read counts as
// empty, and a look-ahead that fails leaves the run without one.
void lookAhead(JoinHost& host, int count, RunContext& run) {
    const std::vector<std::string> entries = readEntries(host, count);
    BackgroundWork work;
    WorkerPool::shared().start(work, [&] { run.flat.emplace(entries, run.rules, run.output); });
    host.waitFor(work);
}

// The run's reports go to the host at once, with the entry they belong to: faults of the
// program. What the copies met on the disk is collected, with its entry, for the closing message,
// and told to the host as it comes.
class RunReporter : public ErrorReporter {
public:
    explicit RunReporter(JoinHost& host) : m_host(host) {}

    // The entry whose copy reports from now on: its place in the list (from 1) and its text.
    void setEntry(int index, const std::string& entry) {
        m_index = index;
        m_entry = entry;
    }

    void showErrorReport(const Failure& failure, const std::string& location, int line) override {
        ++m_outcome.reports;
        m_host.showEntryReport(m_index, failure, location, line);
    }

    void notCopied(const CopyShortfall& shortfall, const std::string&, int) override {
        for (const NotCopiedItem& item : shortfall.items())
            m_outcome.notCopiedCounts.add(item.kind);
        m_outcome.notCopied.push_back({m_index, m_entry, shortfall.items()});
        m_host.entryNotCopied(m_index, shortfall);
    }

    // What was collected and how many reports were shown, for the run's outcome.
    JoinOutcome& outcome() { return m_outcome; }

private:
    JoinHost& m_host;
    int m_index = 0;
    std::string m_entry;
    JoinOutcome m_outcome;
};

} // namespace

void OutputFileSystems::open(const std::string& folder) {
    Descriptor fd = openFolder(folder);
    FolderStatus status;
    if (!fd.valid() || readFolderStatus(fd.get(), status) != 0)
        return;
    for (const Open& open : m_open)
        if (open.device == status.identity.device)
            return;
    m_writeBehind.add(fd.get());
    m_open.push_back({std::move(fd), status.identity.device, folder});
}

void OutputFileSystems::flush(EventPump& pump) {
    BackgroundWork work;
    std::optional<Failure> failure;
    WorkerPool::shared().start(work, [&] {
        m_writeBehind.stop();
        for (const Open& open : m_open) {
            if (const int error = flushFileSystem(open.folder.get()); error != 0 && !failure)
                failure = copyFailure(open.path, error);
        }
    });
    pump.waitFor(work);
    // What the disk refused once the copies were done: which copies lost bytes cannot be told.
    if (failure)
        throw CopyShortfall(
            CopyShortfall::Step::Finish,
            {{failure->path(), NotCopiedItem::Kind::Other, failure->reason(), failure->number()}});
}

void OutputFileSystems::stopWritingBehind(EventPump& pump) {
    BackgroundWork work;
    WorkerPool::shared().start(work, [&] { m_writeBehind.stop(); });
    pump.waitFor(work);
}

void JoinRun::setPauseListener(std::function<void()> listener) {
    std::lock_guard lock(m_mutex);
    m_pauseListener = std::move(listener);
    m_control->setPauseListener(m_pauseListener);
}

std::shared_ptr<RunControl> JoinRun::control() const {
    std::lock_guard lock(m_mutex);
    return m_control;
}

void JoinRun::run() {
    if (m_joinRunning) // 100
        return;
    std::shared_ptr<RunControl> control;
    {
        std::lock_guard lock(m_mutex);
        // Each run has a control of its own: what was asked of an earlier run is withdrawn, what
        // was asked before this one began holds.
        if (m_controlUsed) {
            m_control = std::make_shared<RunControl>();
            m_control->setPauseListener(m_pauseListener);
        }
        m_controlUsed = true;
        control = m_control;
    }
    // Every step of the run, here and on the workers, is the run's work.
    const RunScope scope(control);
    RunReporter reporter(m_host);
    Trap trap(reporter, Procedure::StartJoining);
    RunningFlag running(m_joinRunning); // 102, and 218 when it goes out of scope

    if (trap.test(104, [&] { return m_host.sourceCount() == 0; })) {
        trap.line(216, [&] { m_host.runRefused(RunRefusal::NoFolders); });
        return;
    }
    // The output folder and the option are read once: what the user changes during the run
    // applies from the next run, never to half of this one.
    std::string output;
    if (trap.test(106, [&] {
            output = m_host.outputFolderText();
            return !folderExists(output);
        })) {
        trap.line(214, [&] { m_host.runRefused(RunRefusal::NoOutputFolder); });
        return;
    }

    const auto began = std::chrono::steady_clock::now();
    const CopyOption option = trap.value<CopyOption>(
        108, [&] { return m_host.copyOption(); }, CopyOption::Flat);
    const int count = trap.value<int>(108, [&] { return m_host.sourceCount(); });
    OutputFileSystems outputs;
    bool written = false;
    // Whether a stop cut the copies short; one asked while the writes are finished stops nothing.
    bool stopped = false;
    // The output folder's rules are found once, for every entry.
    RunContext context(
        output, m_host.alwaysCopy() ? IfDestinationExists::Replace : IfDestinationExists::KeepCopy,
        OutputRules(m_host.unusualOutputFileSystem(output)), m_host.writes(), m_host.keepsRecord());
    // What a run whose writes are withheld would write is never flushed.
    const bool writing = !context.foreseen;
    // Made after the context, whose look-ahead it may count from, and so let go before it.
    RunProgress progress(m_host);
    context.progress = &progress;
    if (m_host.showsCopyProgress())
        progress.beginRun(readEntries(m_host, count), option);
    {
        RunningFlag holdsHourglass(m_holdsHourglass);
        for (int i = 1; i <= count; ++i) {
            // Stopped (Escape, a close, an interrupt), or a copy failed in the program itself: no
            // further entry is begun.
            if (stopRequested() || context.faulted)
                break;
            trap.line(110, [&] { m_host.setPointer(Pointer::Hourglass); });
            std::string entry;
            // "." and ".." are resolved: the entry names the folder it leads to, under its own
            // name.
            const bool entryRead =
                trap.line(112, [&] { entry = resolveDotSegments(m_host.sourceText(i)); });
            // The bar stays where the previous entry ended; its text names the entry.
            int shownCount = 0;
            trap.line(114, [&] {
                shownCount = m_host.sourceCount();
                if (shownCount == 0)
                    throw Failure(ErrorNumber::DivisionByZero, {},
                                  Reason{Reason::Code::DivisionByZero, 0, {}, {}, 0},
                                  Failure::Form::ReasonFirst);
            });
            const RunFigures& begun = progress.beginEntry(i, shownCount, entryName(entry));
            if (shownCount > 0)
                trap.line(114, [&] { m_host.setProgressValue(begun.percent); });
            trap.line(116, [&] { m_host.entryBegins(i, shownCount, entry); });
            trap.line(118, [&] { m_host.pumpEvents(); });
            // A pause holds the run here, its bar naming the entry, before anything of it is
            // written; a stop meanwhile ends it here.
            control->waitWhilePaused();
            if (stopRequested())
                break;
            // An entry that could not be read names no folder: there is nothing to copy for it.
            if (!entryRead)
                continue;
            reporter.setEntry(i, entry);
            trap.line(120, [&] {
                // Opened before anything is written there, so that the flush sees every error.
                if (writing)
                    outputs.open(output);
                // A later entry must not take what this one places for a file already there.
                context.placed.setRecording(i < count);
                context.entry = static_cast<std::size_t>(i - 1);
                // A flat run copies no file that a later entry's file of its name replaces.
                if (i == 1 && count > 1 && option == CopyOption::Flat) {
                    lookAhead(m_host, count, context);
                    if (context.flat)
                        progress.lookAheadMade(*context.flat, context.rules);
                }
                const std::string folder =
                    option == CopyOption::PreserveStructure
                        ? copyEntryPreservingStructure(entry, output, m_host, trap, &context)
                        : copyEntryFlat(entry, output, m_host, trap, &context);
                if (!folder.empty() && writing) {
                    outputs.open(folder);
                    written = true;
                }
            });
        } // 164
        // Files an entry left to a later one whose copy never came are copied now.
        if (!stopRequested() && !context.faulted)
            trap.line(164, [&] {
                if (!copyFilesLeftOver(output, m_host, trap, context).empty() && writing)
                    written = true;
            });
        stopped = stopRequested();
        // Every entry was visited: the bar stands at their end.
        if (!stopped && !context.faulted && count > 0)
            trap.line(164, [&] { m_host.setProgressValue(progress.entriesDone(count)); });

        // Copies are only safe once they are on the disk: a removable disk pulled after "Done."
        // must hold them. So are those of a stopped run.
        if (written && outputs.anyOpen()) {
            reporter.setEntry(0, {});
            trap.line(172, [&] { m_host.writesFinishing(); });
            trap.line(174, [&] { outputs.flush(m_host); });
        } else if (outputs.anyOpen()) {
            outputs.stopWritingBehind(m_host);
        }
    }
    trap.line(166, [&] { m_host.setPointer(Pointer::Default); });
    trap.line(168, [&] { m_host.setProgressValue(0); });
    trap.line(170, [&] { m_host.progressEnded(); });
    JoinOutcome outcome = std::move(reporter.outcome());
    outcome.filesCopied = progress.filesCopied();
    outcome.filesAlreadyThere = progress.filesAlreadyThere();
    outcome.replacedByLater =
        context.replacedByLater > 0 ? static_cast<std::uint64_t>(context.replacedByLater) : 0;
    outcome.leftOutByName = context.leftOutByName;
    outcome.entriesRefused = context.entriesRefused;
    outcome.temporariesRemoved = progress.temporariesRemoved();
    outcome.attributesNotKept = progress.attributesNotKept();
    if (outcome.attributesNotKept.items > 0)
        outcome.attributesNotKept.fileSystem = context.rules.fileSystem()
                                                   ? context.rules.fileSystem()->type
                                                   : fileSystemTypeOf(output);
    outcome.ending = stopped           ? JoinOutcome::Ending::Stopped
                     : context.faulted ? JoinOutcome::Ending::Faulted
                                       : JoinOutcome::Ending::Done;
    outcome.took = std::chrono::steady_clock::now() - began;
    if (context.record)
        outcome.record = context.record->fates();
    trap.line(176, [&] { m_host.joinEnded(outcome); });
    // What the copies could not copy is told here, once, and never halted the run before.
    trap.line(212, [&] { m_host.showClosingMessage(outcome); });
}

} // namespace join
