#pragma once

#include "join/fs/posixfs.h"
#include "join/host/host.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace join {

// An ordered list of folder paths, each ending with the separator.
using FolderCollection = std::vector<std::string>;

enum class Recursion { ImmediateOnly, AllLevels };

// A folder the walk leaves out, with everything below it: its path (ending with the separator)
// and why.
struct LeftOutFolder {
    std::string path;
    Reason reason;
    int number; // the error number the program gives the reason
};

// Appends to `folders`, in place, every folder below its entries, breadth-first by level.
// Folders whose listing is refused (70) or missing (76) are removed (the first equal entry).
// Links to folders are followed, but each folder is listed once however many links lead to it:
// a link to a folder the walk has been in or is to go into (its own parent, say) is added but
// not listed again, nor is a folder the walk went into through a link when it reaches it once
// more through its parent. A link that leads out of its file system into one the kernel fills
// with its own state (proc, sysfs and the like) is left out.
// Yields to the event loop before each listing, for each subfolder read and for each folder
// added; failures before a level's first listing and while adding are reported through `host`.
// `leftOut`, when given, receives in walk order the folders left out by the walk's rules: those
// whose listing was refused or that vanished, those whose names it does not take, links into
// the kernel's file systems, and those whose paths are too long to reach. Ends early, with what
// it has found, once a stop is requested: the stop is asked for between folders and between the
// entries of a listing. `listings`, when given, receives folders the walk listed whole, by their
// paths, with what each listing held, for as long as it has room.
struct WalkListings {
    std::size_t room = 0; // how many more names it takes, each folder counting as one more
    std::unordered_map<std::string, FolderListing> byPath;
};
void walkSubfolders(FolderCollection& folders, Recursion recursion, WalkHost& host,
                    std::vector<LeftOutFolder>* leftOut = nullptr,
                    WalkListings* listings = nullptr);

// True when a name holds a code point below 32, from 127 to 159, or "?", or is not valid UTF-8.
bool hasBadCharacters(const std::string& name);

// Why the walk does not take a folder of this name, or nothing when it does.
std::optional<Reason> rejectedNameReason(const std::string& name);

} // namespace join
