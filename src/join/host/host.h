#pragma once

#include "join/fs/attributes.h"
#include "join/fs/failure.h"
#include "join/fs/targetfs.h"
#include "join/host/filerecord.h"
#include "join/tasks/workers.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace join {

// What the engine asks of the window. The window implements these; tests fake them.

// Hands pending window events to the event loop, so the window stays alive during long work.
class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void pumpEvents() = 0;

    // Waits until work on other threads has finished. A window keeps answering meanwhile; this
    // default, for callers without one, blocks.
    virtual void waitFor(BackgroundWork& work) { work.wait(); }
};

// Shows the common "Application Error" report of `failure` and waits until the user closes it.
class ErrorReporter {
public:
    virtual ~ErrorReporter() = default;
    virtual void showErrorReport(const Failure& failure, const std::string& location, int line) = 0;
    // What a copy met on the disk and could not copy, caught by a trap at `line`. A run collects
    // these and tells them once it has ended; a reporter outside a run shows the report of the
    // first.
    virtual void notCopied(const CopyShortfall& shortfall, const std::string& location, int line) {
        const NotCopiedItem& first = shortfall.items().front();
        showErrorReport(Failure(first.number, first.path, first.reason), location, line);
    }
};

// Shows a plain message: OK only, no icon, the application title as caption. Waits for OK.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void showMessage(const std::string& text) = 0;
};

// What the folder walk asks of the window: a yield to the event loop and the common report.
// Inherited virtually, so that one window can serve as every kind of host at once.
class WalkHost : public virtual EventPump, public virtual ErrorReporter {
public:
    // How many folders the walk has found so far, told before each yield; a host may show it.
    virtual void foldersFound(std::size_t /*count*/) {}
    // Whether the walk is to end early, with what it has found: by default once every copy is
    // asked to stop.
    virtual bool walkStopped() const;
};

// The main window's pointer value, which doubles as the program's busy flag.
enum class Pointer : int { Default = 0, Hourglass = 11, Custom = 99 };

enum class CopyOption { PreserveStructure, Flat };

// What a run does with its writes: makes them, or withholds them (a dry run), deciding every
// file up to the last step before a write and keeping in memory what it would have made.
enum class Writes { Made, Withheld };

// Why a run did not start: the list is empty, or the output folder text names no folder.
enum class RunRefusal { NoFolders, NoOutputFolder };

// What an entry's copy could not copy, told by one step of it: the entry as numbered in the list
// (from 1) and as the run read it, or 0 and "" for the writes finished after the last entry.
struct EntryNotCopied {
    int entry = 0;
    std::string entryText;
    std::vector<NotCopiedItem> items;
};

// How a run that passed its checks ended, for a host that tells the user once it is over.
struct JoinOutcome {
    enum class Ending {
        Done,    // every entry was visited
        Stopped, // a stop cut the copies short
        Faulted  // a copy failed in the program itself (reported): no further entry was begun
    };
    Ending ending = Ending::Done;
    // Files written, and files left alone as already at their destination.
    std::uint64_t filesCopied = 0;
    std::uint64_t filesAlreadyThere = 0;
    // What the copies met on the disk and could not copy, in the order met, and how many of the
    // things listed are of each kind.
    std::vector<EntryNotCopied> notCopied;
    NotCopiedCounts notCopiedCounts;
    // What the flat copies left by their rules: files that a later file of their name replaced,
    // and files whose names begin with "~".
    std::uint64_t replacedByLater = 0;
    std::uint64_t leftOutByName = 0;
    // Common reports shown during the run: faults of the program, and folders an entry's walk
    // could not begin with.
    int reports = 0;
    // Entries the existing-copy check refused.
    int entriesRefused = 0;
    // Partly written files that an ended run had left in the folders written to, removed.
    std::uint64_t temporariesRemoved = 0;
    // What the output's file system did not hold of the attributes the copies keep (extended
    // attributes, ACLs, owner), counted per kind, and on how many files, folders and links.
    AttributesNotKept attributesNotKept;
    std::chrono::steady_clock::duration took{};
    // What became, or would have become, of every file, link and folder, in processing order,
    // for a host that keeps the record (JoinHost::keepsRecord).
    std::vector<FileFate> record;

    bool stopped() const { return ending == Ending::Stopped; }
    // The files the run meant to place: those written or already there, and those that failed.
    std::uint64_t filesMeant() const { return filesCopied + filesAlreadyThere + filesNotCopied(); }
    std::uint64_t filesNotCopied() const { return notCopiedCounts.of(NotCopiedItem::Kind::File); }
    std::uint64_t foldersNotCopied() const {
        return notCopiedCounts.of(NotCopiedItem::Kind::Folder);
    }
    std::uint64_t otherFailures() const { return notCopiedCounts.of(NotCopiedItem::Kind::Other); }
    // Whether the copies met nothing on the disk that they could not copy.
    bool allCopied() const { return notCopied.empty(); }
};

// How far a run has come, as the bar and the command line's progress line show it. The bar's
// value only grows during a run: the entries done and the share of the current entry's bytes
// done, over the list's entries.
struct RunFigures {
    int entry = 0;    // the entry under way, from 1
    int entries = 0;  // the list's entries, of which the bar shows a share
    std::string name; // the entry's folder, by its own name
    int percent = 0;  // the bar's value, 0 to 100
    // Whether the entry's copy has begun; then what it has done: files copied or already there,
    // and their bytes (written, or already there).
    bool copying = false;
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    // Whether what the entry has to copy is counted; then that count.
    bool counted = false;
    std::uint64_t totalFiles = 0;
    std::uint64_t totalBytes = 0;
    // The time the whole run still needs, once every entry still to come is counted and enough
    // has been written to tell the speed; negative until then.
    double secondsLeft = -1;
};

// Everything a join run reads and writes on the window.
class JoinHost : public virtual WalkHost {
public:
    // The source list, items numbered from 1.
    virtual int sourceCount() const = 0;
    virtual std::string sourceText(int index) const = 0;

    // Read once, when a run starts, and used for every entry: a change made during the run
    // applies from the next run.
    virtual std::string outputFolderText() const = 0;
    virtual CopyOption copyOption() const = 0;
    // Whether every file is copied anew, also where its destination already is its copy (the
    // same size and modification time), which is otherwise left alone.
    virtual bool alwaysCopy() const { return false; }

    // Whether the run writes, or decides everything a join decides and withholds the writes.
    virtual Writes writes() const { return Writes::Made; }
    // Whether the run keeps the fate of every file it meets, for its outcome's record.
    virtual bool keepsRecord() const { return false; }
    // What the output folder's file system is, where it follows rules of its own in names or
    // times (examineUnusualTarget): once per run, before anything is copied.
    virtual std::optional<TargetFileSystem> unusualOutputFileSystem(const std::string& folder) {
        return examineUnusualTarget(folder);
    }

    // Whether the host shows a copy's progress against what its entry has to copy (it calls
    // BackgroundWork::reportProgress while it waits); only then is that counted, beside the copy.
    virtual bool showsCopyProgress() const { return false; }

    // Told once when a run that passed its checks has ended, before its closing message.
    virtual void joinEnded(const JoinOutcome& /*outcome*/) {}

    // What the run is doing, for a host that says it in words of its own: entry `entry` (from 1)
    // of the `count` the list holds begins, read as `entry text`; the writes are being finished.
    virtual void entryBegins(int /*entry*/, int /*count*/, const std::string& /*entryText*/) {}
    virtual void writesFinishing() {}

    // The run did not start, for `why`; it told nothing else.
    virtual void runRefused(RunRefusal why) = 0;
    // The existing-copy check refused the entry under way: its mirrored path, a folder, exists.
    virtual void copyExists(const std::string& mirrored) = 0;

    // A report of the copy of entry `entry` (from 1), or of the run itself (0): a fault of the
    // program. By default the common report.
    virtual void showEntryReport(int /*entry*/, const Failure& failure, const std::string& location,
                                 int line) {
        showErrorReport(failure, location, line);
    }
    // What entry `entry` (from 1; 0 for the writes finished after the last entry) met on the
    // disk and could not copy, told as its copy meets it, for a host that names it at once. The
    // closing message tells it again, with every other.
    virtual void entryNotCopied(int /*entry*/, const CopyShortfall& /*shortfall*/) {}
    // Once the run has ended, after joinEnded: "Done.", or what was not copied, or why the run
    // ended early.
    virtual void showClosingMessage(const JoinOutcome& outcome) = 0;

    virtual void setPointer(Pointer pointer) = 0;
    virtual void setProgressValue(int percent) = 0;
    // How far the run has come: as an entry begins, and while its copy runs at most 4 times a
    // second to a host that shows it. By default the bar takes the value.
    virtual void showRunProgress(const RunFigures& figures) { setProgressValue(figures.percent); }
    // The run is over: the bar says again what it says between runs.
    virtual void progressEnded() {}
};

} // namespace join
