#pragma once

#include "join/copy/filecopy.h"
#include "join/copy/foreseen.h"
#include "join/fs/failure.h"
#include "join/fs/posixfs.h"
#include "join/fs/targetnames.h"
#include "join/host/filerecord.h"
#include "join/plan/joinplan.h"
#include "join/tasks/workers.h"

#include <cstdint>
#include <string>
#include <vector>

namespace join {

// The folder `source` (open, named `sourcePath` in reports) copied into the open folder `target`
// (named `targetPath`), whose contents it merges into. `permissions` are the bits the target
// takes when everything is copied, if they are to change (a read-only folder is filled first).
struct TreeCopyRoot {
    Descriptor source;
    std::string sourcePath;
    Descriptor target;
    std::string targetPath;
    std::optional<unsigned> permissions;
    // Whether the copy made `target` itself.
    bool made = false;
    // The rules of the target's file system. Where it takes names that differ only in case as
    // one, the files of a folder are copied in their order by one worker, so that the later one
    // is left; a name it does not allow is reported as such.
    OutputRules rules;
    // What becomes of a file already at its place: by default it is left when it already is the
    // source's copy (same size and modification time), else replaced.
    IfDestinationExists ifExists = IfDestinationExists::KeepCopy;
    // The files the run has placed, when it keeps them (see copyFileAt).
    PlacedFiles* placed = nullptr;
    // The target's place in the output (placeOf, placeIn).
    std::uint64_t place = 0;
    // Where the writes are withheld: what the run would have made so far, in which the tree's
    // copy is foreseen; the target is then one the run would make (`target` invalid) or an
    // existing folder, which `refusal` says the join could not fill. Null where the run writes.
    ForeseenOutput* foreseen = nullptr;
    int refusal = 0;
    // The fates of the tree's folders, files and links, told as those of list entry `entry`
    // (from 1), when the run keeps them.
    FileRecord* record = nullptr;
    int entry = 0;
};

// Copies a whole tree on the worker pool: every call below the root is made relative to an open
// folder, and no link below the root is ever followed. Existing folders are merged into (made
// writable while they are filled, if they must be, and given their bits back), existing files
// replaced, links recreated as links, special files never opened. New folders get the source's
// permission bits through the umask, without setuid, setgid and sticky bits. Goes on past what
// it cannot copy and records each failure with its place in processing order (a folder's
// entries in natural name order, each subfolder's contents at its place). Pipes, sockets,
// devices and links to nothing are not copied and are reported. Where the target takes names
// that differ only in case as one, folders of such names are copied into one, in listing order,
// and of files of such names the last is copied and the earlier reported. Folders made writable
// to be filled get their bits once everything is copied, whatever the depth, with one folder
// open at a time. With `root.foreseen` every write is withheld and foreseen instead: the same
// decisions, nothing made, no bits changed. Returns when all is done, or soon after a stop is
// requested. A task that
// throws ends the copy: its exception is thrown here once every worker has left.
void copyTree(TreeCopyRoot root, CopyFailures& failures, CopyCounters& counters);

} // namespace join
