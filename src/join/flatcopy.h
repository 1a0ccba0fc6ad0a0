#pragma once

#include "background.h"
#include "failure.h"
#include "posixfs.h"
#include "subdirs.h"
#include "targetfs.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace join {

// What a flat copy of one entry found: the folders it could not list (by their place in the
// folder collection) and the files it could not copy.
struct FlatCopyResult {
    std::vector<std::optional<Failure>> listingFailures;
    CopyFailures copyFailures;
};

// Where a look-ahead walked an entry already: the folders it found and, where it could keep
// them, what each folder's listing held (none, or one for each folder).
struct WalkedEntry {
    FolderCollection folders;
    std::vector<std::optional<FolderListing>> listings;
};

// For a flat run of several entries: where the last file of each name stands among the entries
// after each one. An earlier entry's file that a later entry's readable file of its name will
// replace is not copied at all, as within one entry only the last file of a name is: a join
// copies each name once, and joined again copies only what changed. (Should the later file then
// fail to copy, it is reported, and the earlier one is not copied in its place.)
class LaterFiles {
public:
    // Walks and lists the entries as the flat copy does (in processing order, "~" names left
    // out), without yielding or reporting. The first entry is never after another: it is only
    // walked.
    // Names are told apart as the output folder `output` tells them.
    LaterFiles(const std::vector<std::string>& entries, const std::string& output);
    // The path of the last file whose name is `name` in the output folder, in the entries after
    // `entry` (numbered from 0), or "" when none holds one.
    std::string after(std::size_t entry, const std::string& name) const;
    // What the walk of entry `entry`, whose path was `path`, found, when that walk left nothing
    // out, reported nothing and was made less than two seconds ago: what the entry's own walk
    // would find, taken once. An older one may have missed what changed since.
    std::optional<WalkedEntry> takeWalk(std::size_t entry, const std::string& path);

private:
    struct Last {
        std::uint32_t entry;
        std::uint32_t folder;
        std::string name; // its own name, where the output folder ignores case
    };
    struct Walked {
        std::string path;
        WalkedEntry found;
        std::chrono::steady_clock::time_point made;
    };
    std::optional<TargetFileSystem> m_target;
    std::vector<std::optional<Walked>> m_walks;
    std::vector<std::string> m_folders;
    // Per name, its last file in each entry that holds one, in entry order.
    std::unordered_map<std::string, std::vector<Last>> m_last;
};

// Copies every file of `folders` (in processing order: the folders in the order given, each
// folder's files in natural name order) directly into the output folder `output`, names
// beginning with "~" left out. A later file replaces an earlier one of the same name, so only
// the last of each name is copied; when its copy fails, the one before it is copied instead, so
// that the output holds what copying every file in turn would have left. A file in the output
// folder itself is its own destination and counts as copied; so does a file whose destination
// already is its copy, with IfDestinationExists::KeepCopy. Runs on the worker pool; returns when
// all is done, or soon after a stop is requested. `listings`, when given, holds for each folder
// what a walk found in it, taken instead of listing it again.
void CopyFilesFlat(const std::vector<std::string>& folders, const std::string& output,
                   FlatCopyResult& result, CopyCounters& counters,
                   IfDestinationExists ifExists = IfDestinationExists::KeepCopy,
                   PlacedFiles* placed = nullptr, const LaterFiles* later = nullptr,
                   std::size_t entry = 0,
                   std::vector<std::optional<FolderListing>>* listings = nullptr);

} // namespace join
