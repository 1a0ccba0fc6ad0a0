#pragma once

#include "host.h"

#include <string>
#include <vector>

namespace join {

// An ordered list of folder paths, each ending with the separator.
using FolderCollection = std::vector<std::string>;

enum class Recursion { ImmediateOnly, AllLevels };

// Appends to `folders`, in place, every folder below its entries, breadth-first by level.
// Folders whose listing is refused (70) or missing (76) are removed (the first equal entry).
// A directory link that leads back to a folder it stands below is added but not listed again.
// Yields to the event loop before each listing, for each subfolder read and for each folder
// added; failures before a level's first listing and while adding are reported through `host`.
void GetSubDirectories2016(FolderCollection& folders, Recursion recursion, WalkHost& host);

// True when a name holds a code point below 32, from 127 to 159, or "?", or is not valid UTF-8.
bool HasBadCharacters(const std::string& name);

} // namespace join
