#pragma once

#include "join/copy/filecopy.h"
#include "join/copy/foreseen.h"
#include "join/fs/failure.h"
#include "join/fs/posixfs.h"
#include "join/host/filerecord.h"
#include "join/plan/joinplan.h"
#include "join/tasks/workers.h"

#include <cstdint>
#include <string>
#include <vector>

namespace join {

// What one entry's flat copy needs besides its plan: the output folder's rules, what to do with
// a file already there, the files the run has placed, and the run's look-ahead when the run has
// several entries (this entry numbered `entry` from 0).
struct FlatCopyOptions {
    const OutputRules* rules = nullptr;
    IfDestinationExists ifExists = IfDestinationExists::KeepCopy;
    PlacedFiles* placed = nullptr;
    FlatRun* run = nullptr;
    std::size_t entry = 0;
    // Whether the output folder is first rid of what a run killed mid-copy partly wrote there.
    bool removeEndedTemporaries = false;
    // The output folder's place (placeOf).
    std::uint64_t outputPlace = 0;
    // Where the writes are withheld: what the run would have made so far, in which the copies are
    // foreseen instead. Null where the run writes.
    ForeseenOutput* foreseen = nullptr;
    // The fates of the files, when the run keeps them.
    FileRecord* record = nullptr;
};

// Carries out an entry's flat plan: copies each file of `copies` (winners of `plan`) directly
// into the output folder `output`. When a file's copy fails, the one before it of its name in the
// plan is copied instead, and so on, so that the output holds what copying every file in turn
// would have left. Then, for each name whose last file the look-ahead found in this entry, with
// earlier entries' files left to it: when this entry placed none after all, the latest of those
// is copied. A file whose destination already is its copy counts as copied, with
// IfDestinationExists::KeepCopy. Runs on the worker pool; returns when all is done, or soon after
// a stop is requested. Failures are recorded in `failures` with their place in processing order;
// what the plan itself could not take (pipes, links to nothing) too. A task that throws ends the
// copy: its exception is thrown here once every worker has left. Returns how many files it
// tried in place of others of their name (an earlier file of a name whose planned file failed, a
// file an earlier entry left to this one): files the plan counted as replaced by later ones.
std::uint64_t copyFilesFlat(const FlatEntryPlan& plan, const std::vector<FlatPlace>& copies,
                            const std::string& output, const FlatCopyOptions& options,
                            CopyFailures& failures, CopyCounters& counters);

// Copies, of each name, the latest of the files `left` that can be copied: files left to entries
// whose copy never came. On this thread; they are few.
void copyRemainingLeftFiles(FlatRun::DeferredByKey left, const std::string& output,
                            const FlatCopyOptions& options, CopyFailures& failures,
                            CopyCounters& counters);

} // namespace join
