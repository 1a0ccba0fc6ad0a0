#pragma once

#include "host.h"
#include "trap.h"

#include <string>

namespace join {

// The two ways one list entry is copied into the output folder. Both read the output folder
// text from the host at each use and report failures through the run's trap, whose line
// numbers continue those of the run.

// Copies the entry folder as a whole tree (after the existing-copy check).
void CopyEntryPreservingStructure(const std::string& entry, JoinHost& host, Trap& trap);

// Copies every file of the entry folder and all folders below it directly into the output
// folder; names beginning with "~" are skipped and a later file replaces an earlier one.
void CopyEntryFlat(const std::string& entry, JoinHost& host, Trap& trap);

// The folder copy: copies `source` with all its files and subfolders. When `destination` ends
// with the separator the copy is made inside it under the source's own name; otherwise
// `destination` itself receives the source's contents. Existing folders are merged into,
// existing files replaced, symbolic links recreated as links, special files never opened.
// Goes on past what it cannot copy, then throws one Failure naming the first and the count.
// Refuses (throws, copies nothing) when the destination lies inside the source.
void CopyFolder(const std::string& source, const std::string& destination);

} // namespace join
