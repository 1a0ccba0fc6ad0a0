#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// The file-system helpers everything else rests on. All POSIX calls of the engine live behind
// this header. Paths are the file system's own bytes; nothing here converts encodings.
namespace join {

// True exactly when the path's attributes can be read and it is a directory (or a link to one).
// Never fails.
bool FolderExists(const std::string& path);

// Creates every missing level of a path. A level that already exists as a folder is used.
// Throws Failure when a level cannot be created (or the path is empty).
void MakeFolderTree(const std::string& path);

// Names of the regular files of one folder (links to regular files included, names beginning
// with "." included), in the order the directory lists them. Folders and special files (pipes,
// sockets, devices) are never listed. "*.*" and "*" match every name; other patterns are
// shell patterns. Throws Failure 70 (permission denied), 76 (path not found) or another number.
std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern = "*.*");

// True for a regular file, or a link to one, that can be opened for query. Never fails.
bool IsExistingFile(const std::string& path);

enum class IfDestinationExists { Replace, Fail };

// The one place where the program writes a file. Copies into a temporary file beside the
// destination and renames it into place once every byte is written, so a failed copy leaves any
// earlier destination untouched. Refuses to copy a file onto itself (same device and inode).
// A destination that is a symbolic link is replaced, never written through. Keeps the source's
// modification time and permission bits. Returns true on success; never throws. On failure errno
// says why: EEXIST for an existing destination with IfDestinationExists::Fail, EISDIR for a
// folder, EINVAL for another source that is not a regular file or for a source that is the
// destination itself, else the system's reason.
bool CopyOneFile(const std::string& source, const std::string& destination,
                 IfDestinationExists ifExists);

// How CopyOneFile moves the bytes. Each method steps down to the next by itself when the system
// refuses it; tests start lower down to check every way.
enum class CopyMethod { CopyFileRange, SendFile, ReadWrite };

// Copies the first `size` bytes of the regular file `from` into the empty file `to`, keeping
// holes as holes. False when a read or write fails or the source changes size meanwhile.
bool copyFileContents(int from, int to, off_t size, CopyMethod method);

// One entry of a folder listing, typed as the directory records it.
struct FolderEntry {
    enum class Type { File, Folder, Link, Other };
    std::string name;
    Type type;
};

// A folder's own permission bits (07777 part, links followed) and its entries but "." and "..",
// in the order the directory lists them. Opens the folder once and asks nothing per entry where
// the directory records the type. False, with errno saying why, when it cannot be listed.
struct FolderListing {
    unsigned permissions = 0;
    std::vector<FolderEntry> entries;
};
bool ListFolder(const std::string& path, FolderListing& listing);

// Makes one folder with the given permission bits, as far as the umask lets them through.
// False, with errno saying why (EEXIST when something has the name), when it cannot be made.
bool MakeFolder(const std::string& path, unsigned permissions);

// True when the path's date stamp can be read (the path exists, links followed). Never fails.
bool FileIsPresent(const std::string& path);

// True when the path's own attributes cannot be read (nothing there, or it cannot be reached).
// Never fails.
bool IsBadFileName(const std::string& path);

// Folder attribute bits, as the folder walk tests them.
namespace Attribute {
inline constexpr int Hidden = 2;
inline constexpr int System = 4;
inline constexpr int Directory = 16;
inline constexpr int Alias = 1024;
} // namespace Attribute

// Attributes of a folder: directory (a directory or a link to one), hidden (name begins with
// "."), system (FAT volumes that mark it so), alias (a symbolic link). Throws Failure.
int FolderAttributes(const std::string& path);

// True when the path names the root folder "/" (through any spelling or link).
bool IsRootFolder(const std::string& path);

// Identity of what a path leads to (links followed), for telling the same file or folder apart
// from its names.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(const std::string& path);

} // namespace join
