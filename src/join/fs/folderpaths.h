#pragma once

#include <string>
#include <vector>

// Path-level helpers for the callers that report failures by number: each throws Failure as the
// error report numbers it, where the calls of posixfs.h return an errno value.
namespace join {

// Creates every missing level of a path. A level that already exists as a folder is used.
// Throws Failure when a level cannot be created (or the path is empty).
void makeFolderTree(const std::string& path);

// Names of the regular files of one folder (links to regular files included, names beginning
// with "." included), in natural name order. Folders and special files (pipes, sockets,
// devices) are never listed. "*.*" and "*" match every name; other patterns are shell patterns.
// Throws Failure 70 (permission denied), 76 (path not found) or another number.
std::vector<std::string> listFiles(const std::string& folder, const std::string& pattern = "*.*");

// Folder attribute bits, as the folder walk tests them.
namespace Attribute {
inline constexpr int Hidden = 2;
inline constexpr int System = 4;
inline constexpr int Directory = 16;
inline constexpr int Alias = 1024;
} // namespace Attribute

// Attributes of a folder: directory (a directory or a link to one), hidden (name begins with
// "."), system (FAT volumes that mark it so), alias (a symbolic link). Throws Failure.
int folderAttributes(const std::string& path);

} // namespace join
