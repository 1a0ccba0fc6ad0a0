#pragma once

#include "commandline.h"
#include "join/targetfs.h"

#include <functional>
#include <ostream>

namespace cli {

// Prints what a join would do, writing nothing: where each entry goes or why it is refused,
// the flat copy's name collisions and the file that wins each, the "~" names skipped, and what
// the output folder's file system will refuse, take as one name, or have no room for. Follows
// the engine's own walk and listing order, so that the plan names the files the join leaves.
// Returns the exit status the join would have: whether it would copy everything.
int DryRun(const JoinRequest& request, std::ostream& out);

// The same with the output folder's file system told by `examine` instead of the real one.
using ExamineFunction = std::function<join::TargetFileSystem(const std::string& folder)>;
int DryRun(const JoinRequest& request, std::ostream& out, const ExamineFunction& examine);

} // namespace cli
