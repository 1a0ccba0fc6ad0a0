#pragma once

#include "join/copy/filecopy.h"
#include "join/copy/flatcopy.h"
#include "join/copy/foreseen.h"
#include "join/fs/posixfs.h"
#include "join/host/host.h"
#include "join/host/trap.h"
#include "join/plan/joinplan.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace join {

class RunProgress;

// What a run keeps from one entry to the next and hands to each entry's copy: the rules and
// identity of the output folder, found once, what becomes of a file already there, the files
// placed so far, the flat run's look-ahead, and the progress. Where the run's writes are withheld,
// also what it would have made so far.
struct RunContext {
    RunContext(const std::string& output, IfDestinationExists ifExists);
    // With the output's rules found already, writes made or withheld, and a record of every
    // file's fate when `keepRecord` says so.
    RunContext(const std::string& output, IfDestinationExists ifExists, OutputRules rules,
               Writes writes, bool keepRecord);

    OutputRules rules;
    FileIdentity output;
    // The output folder's place (placeOf).
    std::uint64_t outputPlace = 0;
    IfDestinationExists ifExists;
    PlacedFiles placed;
    // Where the writes are withheld: what the run would have made so far; else null.
    std::unique_ptr<ForeseenOutput> foreseen;
    // The fate of every file, when the run keeps it; else null.
    std::unique_ptr<FileRecord> record;
    std::optional<FlatRun> flat;
    // Counts what an entry has to copy beside the copy, shows how far it has come and adds up
    // the files copied; none when nothing shows it.
    RunProgress* progress = nullptr;
    // The entry under way, from 0.
    std::size_t entry = 0;
    // Whether the flat copies have rid the output folder of what an ended run partly wrote.
    bool outputCleaned = false;
    // Set when a copy's own work failed, a fault of the program rather than anything on the
    // disk (an allocation that failed): it is reported, and the run begins no further entry.
    bool faulted = false;
    // What the flat copies left by their rules, counted from their plans: files a later file of
    // their name replaced (less those copied after all, in place of a file that failed or went),
    // and files whose names begin with "~".
    std::int64_t replacedByLater = 0;
    std::uint64_t leftOutByName = 0;
    // Entries the existing-copy check refused.
    int entriesRefused = 0;
};

// The two ways one list entry is copied into the output folder `output` (the output folder text
// the run read when it started). Both copy on the worker pool while the host waits, and report
// failures through the run's trap, whose line numbers continue those of the run. `run`, when
// given, is the run's context, `output`'s; without one the entry is copied as a run of its own.
// Each returns the output folder it wrote into, or "" when it wrote nothing (also when, joined
// again, it found everything there already).

// Copies the entry folder as a whole tree (after the existing-copy check).
std::string copyEntryPreservingStructure(const std::string& entry, const std::string& output,
                                         JoinHost& host, Trap& trap, RunContext* run = nullptr);

// Copies every file of the entry folder and all folders below it directly into the output
// folder; names beginning with "~" are skipped and a later file replaces an earlier one. What it
// cannot copy is thrown to the trap as a CopyShortfall once the copy is over: the folders the
// walk left out, the folders that cannot be listed, the files that cannot be copied, each with
// their count and the first, and listed every one. The run's look-ahead says what the entries
// after this one hold, and may already have planned this one.
std::string copyEntryFlat(const std::string& entry, const std::string& output, JoinHost& host,
                          Trap& trap, RunContext* run = nullptr);

// After the last entry of a flat run: copies what earlier entries left to entries whose copy never
// came (an entry that could not be read, or named no folder), so that each name still ends in
// the output from the last entry that held it. Returns the output folder when it wrote there.
std::string copyFilesLeftOver(const std::string& output, JoinHost& host, Trap& trap,
                              RunContext& run);

// The folder copy: copies `source` with all its files and subfolders. When `destination` ends
// with the separator the copy is made inside it under the source's own name; otherwise
// `destination` itself receives the source's contents. Existing folders are merged into,
// existing files replaced, symbolic links recreated as links, special files never opened.
// Refuses (throws a CopyShortfall of the one folder, copies nothing) when the source cannot be
// opened, when the copy would go into the source or into a folder that holds the source, or when
// the target cannot be made. Goes on past what it cannot copy, then throws one CopyShortfall
// naming the count and the first in processing order and listing every one. Waits through `pump`,
// which keeps the window alive. A file already at its place that is the source's copy (same size
// and modification time) is left alone, unless the run says to replace it as any other. Returns
// whether it made or replaced anything.
bool copyFolder(const std::string& source, const std::string& destination, EventPump& pump,
                RunContext& run);
bool copyFolder(const std::string& source, const std::string& destination);

} // namespace join
