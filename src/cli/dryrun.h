#pragma once

#include "commandline.h"
#include "join/fs/targetfs.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

// Prints what a join would do, writing nothing: where each entry goes or why it is refused,
// the flat copy's name collisions and the file that wins each, the "~" names skipped, and what
// the output folder's file system will refuse, take as one name, or have no room for. Follows
// the engine's own walk and listing order, so that the plan names the files the join leaves.
// Returns the exit status the join would have: whether it would copy everything.
int printDryRun(const JoinRequest& request, std::ostream& out);

// The same with the output folder's file system told by `examine` instead of the real one.
using ExamineFunction = std::function<join::TargetFileSystem(const std::string& folder)>;
int printDryRun(const JoinRequest& request, std::ostream& out, const ExamineFunction& examine);

// The plan a dry run prints, file by file: for each file the join would leave, its destination
// and its source, and whether it is already there and left alone; and every source path the
// join would name as not copied (refused names, what is not a regular file, files that a name
// one with theirs on the target replaces). For checking the plan against the join.
struct PlannedFile {
    std::string destination;
    std::string source;
    bool alreadyThere = false;
};
struct PlannedJoin {
    std::vector<PlannedFile> files;
    std::vector<std::string> notCopied;
};
PlannedJoin planJoin(const JoinRequest& request);

} // namespace cli
