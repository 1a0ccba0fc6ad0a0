#pragma once

#include "commandline.h"
#include "join/fs/targetfs.h"
#include "join/host/host.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

// Prints what a join would do, writing nothing: the join itself runs with its writes withheld,
// and its record says where each entry goes or why it is refused, which file of each name or
// place wins, the "~" names skipped, and what the output folder's file system would refuse or
// take as one name; then whether it would have the room. Returns the exit status the join would
// have: whether it would copy everything.
int printDryRun(const JoinRequest& request, std::ostream& out);

// The same with the output folder's file system told by `examine` instead of the real one, for
// the plan and for the join's own rules.
using ExamineFunction = std::function<join::TargetFileSystem(const std::string& folder)>;
int printDryRun(const JoinRequest& request, std::ostream& out, const ExamineFunction& examine);

// The join's outcome as a dry run foresees it, with the record of every file's fate: the join run
// with its writes withheld.
join::JoinOutcome foreseeJoin(const JoinRequest& request);

} // namespace cli
