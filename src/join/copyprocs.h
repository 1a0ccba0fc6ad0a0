#pragma once

#include "flatcopy.h"
#include "host.h"
#include "posixfs.h"
#include "trap.h"

#include <string>

namespace join {

class RunProgress;

// The two ways one list entry is copied into the output folder `output` (the output folder text
// the run read when it started). Both copy on the worker pool while the host waits, and report
// failures through the run's trap, whose line numbers continue those of the run. `progress`, when
// given, counts what the entry has to copy beside the copy, shows how far it has come and adds
// up the files copied. Each returns the output folder it wrote into, or "" when it wrote nothing
// (also when, joined again, it found everything there already).

// Copies the entry folder as a whole tree (after the existing-copy check).
std::string CopyEntryPreservingStructure(const std::string& entry, const std::string& output,
                                         JoinHost& host, Trap& trap, PlacedFiles* placed = nullptr,
                                         RunProgress* progress = nullptr);

// Copies every file of the entry folder and all folders below it directly into the output
// folder; names beginning with "~" are skipped and a later file replaces an earlier one. Files
// that cannot be copied are reported once, after the entry, with their count and the first, and
// listed every one. `later`, when given, says what the entries after this one (numbered `index`
// from 0) hold, and may already have walked this one.
std::string CopyEntryFlat(const std::string& entry, const std::string& output, JoinHost& host,
                          Trap& trap, PlacedFiles* placed = nullptr, LaterFiles* later = nullptr,
                          std::size_t index = 0, RunProgress* progress = nullptr);

// The folder copy: copies `source` with all its files and subfolders. When `destination` ends
// with the separator the copy is made inside it under the source's own name; otherwise
// `destination` itself receives the source's contents. Existing folders are merged into,
// existing files replaced, symbolic links recreated as links, special files never opened.
// Refuses (throws, copies nothing) when the copy would go into the source or into a folder that
// holds the source. Goes on past what it cannot copy, then throws one Failure naming the count
// and the first in processing order and listing every one. Waits through `pump`, which keeps the
// window alive; `progress` as above. A file already at its place that is the source's copy (same
// size and modification time) is left alone, unless `ifExists` says to replace it as any other.
// Returns whether it made or replaced anything.
bool CopyFolder(const std::string& source, const std::string& destination, EventPump& pump,
                IfDestinationExists ifExists = IfDestinationExists::KeepCopy,
                PlacedFiles* placed = nullptr, RunProgress* progress = nullptr);
bool CopyFolder(const std::string& source, const std::string& destination);

// Where a preserve copy of an entry goes, as the copy itself decides it, without writing
// anything: for a dry run, and for anyone who wants to know before copying.
struct PreservePlacement {
    enum class Outcome {
        Copy,          // the tree goes to `target`
        AlreadyExists, // refused: `mirrored` exists (the message is in `refusal`)
        Refused,       // refused: the copy would go into itself, or cannot be made (`refusal`)
        NoOutputFolder // the output folder text is empty: nothing is copied
    };
    Outcome outcome = Outcome::Copy;
    std::string source;   // the entry folder, as copied
    std::string mirrored; // the path the existing-copy check looks at
    std::string target;   // the folder that receives the entry folder's contents
    std::string refusal;  // the message or report text when refused
};
PreservePlacement PlacePreservedEntry(const std::string& entry, const std::string& outputText);

} // namespace join
