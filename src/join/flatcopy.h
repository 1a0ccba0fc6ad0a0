#pragma once

#include "background.h"
#include "failure.h"
#include "posixfs.h"

#include <optional>
#include <string>
#include <vector>

namespace join {

// What a flat copy of one entry found: the folders it could not list (by their place in the
// folder collection) and the files it could not copy.
struct FlatCopyResult {
    std::vector<std::optional<Failure>> listingFailures;
    CopyFailures copyFailures;
};

// Copies every file of `folders` (in processing order: the folders in the order given, each
// folder's files in natural name order) directly into the output folder `output`, names
// beginning with "~" left out. A later file replaces an earlier one of the same name, so only
// the last of each name is copied; when its copy fails, the one before it is copied instead, so
// that the output holds what copying every file in turn would have left. A file in the output
// folder itself is its own destination and counts as copied; so does a file whose destination
// already is its copy, with IfDestinationExists::KeepCopy. Runs on the worker pool; returns when
// all is done, or soon after a stop is requested.
void CopyFilesFlat(const std::vector<std::string>& folders, const std::string& output,
                   FlatCopyResult& result, CopyCounters& counters,
                   IfDestinationExists ifExists = IfDestinationExists::KeepCopy,
                   PlacedFiles* placed = nullptr);

} // namespace join
