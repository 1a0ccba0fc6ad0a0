#pragma once

#include "join/fs/failure.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// The file-system helpers everything else rests on. All POSIX calls of the engine live behind
// this header. Paths are the file system's own bytes; nothing here converts encodings.
namespace join {

// True exactly when the path's attributes can be read and it is a directory (or a link to one).
// Never fails.
bool folderExists(const std::string& path);

// Creates every missing level of a path. A level that already exists as a folder is used.
// Throws Failure when a level cannot be created (or the path is empty).
void makeFolderTree(const std::string& path);

// Names of the regular files of one folder (links to regular files included, names beginning
// with "." included), in natural name order. Folders and special files (pipes, sockets,
// devices) are never listed. "*.*" and "*" match every name; other patterns are shell patterns.
// Throws Failure 70 (permission denied), 76 (path not found) or another number.
std::vector<std::string> listFiles(const std::string& folder, const std::string& pattern = "*.*");

// True for a regular file, or a link to one, that can be opened for query. Never fails.
bool isExistingFile(const std::string& path);

// True for a regular file, or a link to one, that this user may read. Never fails.
bool isReadableFile(const std::string& path);

// ---- Threads ----

// Gives the calling thread the lowest priority for the processor and the disk: it runs on what
// the others leave free.
void lowerThisThreadsPriority();

// ---- Open folders ----

// Owns one file descriptor and closes it when it goes out of scope.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : m_fd(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// A second descriptor of the same open file or folder. Invalid, with errno set, on failure.
Descriptor duplicateDescriptor(int fd);

// The open folder `folder` opened anew: a descriptor with an open file of its own, whose flush
// (syncfs) reports write errors apart from every other's. Invalid, with errno set, on failure.
Descriptor reopenFolder(int folder);

// Opens a folder by its path, links followed. Invalid, with errno set, when it cannot be opened.
Descriptor openFolder(const std::string& path);

// Opens the folder `name` inside an open folder. A link there is never followed (ELOOP or
// ENOTDIR), so a folder swapped for a link is not entered. Invalid, with errno set, on failure.
Descriptor openFolderAt(int parent, const std::string& name);

// Identity of a file or folder, for telling the same one apart from its names.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// What an open folder is: its identity, its permission bits (07777) and its owner.
struct FolderStatus {
    FileIdentity identity;
    unsigned permissions = 0;
    uid_t owner = 0;
    // Whether this process may change the bits: it owns the folder, or is root.
    bool owned() const;
};
// False, with errno set, when the status cannot be read.
bool statusOf(int folder, FolderStatus& status);

// One entry of a folder listing, typed as the directory records it.
struct FolderEntry {
    enum class Type { File, Folder, Link, Other };
    std::string name;
    Type type;
};

// A folder's own permission bits (07777 part, links followed) and its entries but "." and "..",
// in natural name order. Asks nothing per entry where the directory records the type. False,
// with errno saying why, when it cannot be listed; a listing that fails part-way keeps what it
// had read.
struct FolderListing {
    unsigned permissions = 0;
    std::vector<FolderEntry> entries;
};
bool listFolder(const std::string& path, FolderListing& listing);
// The same for a folder opened for the purpose (its permission bits left at 0): the listing
// reads on from the descriptor's position, so a descriptor is listed once.
bool listFolderAt(int folder, FolderListing& listing);

// True when every name in an open folder but "." and ".." passes `ours`, read no further than the
// first that does not. False too when the folder cannot be read to its end. Reads through a
// descriptor of its own, so that `folder` is left where it was.
bool holdsOnly(int folder, const std::function<bool(const std::string&)>& ours);

// The names of the regular files of an open folder, links to regular files included, in natural
// name order. False, with errno set, when it cannot be listed.
bool listFilesAt(int folder, std::vector<std::string>& names);

// Makes one folder with the given permission bits, as far as the umask lets them through.
// False, with errno saying why (EEXIST when something has the name), when it cannot be made.
bool MakeFolder(const std::string& path, unsigned permissions);
// The same inside an open folder; returns 0 or the reason as an errno value.
int makeFolderAt(int parent, const std::string& name, unsigned permissions);

// The type of what has the name `name` inside an open folder, the name's own entry (a link is a
// link). nullopt, with errno set, when nothing has it or it cannot be read.
std::optional<FolderEntry::Type> entryTypeAt(int parent, const std::string& name);

// True when `name` inside an open folder is a folder or a link to one. Never fails.
bool leadsToFolderAt(int parent, const std::string& name);

// What a link inside an open folder leads to, links followed: a regular file, a folder,
// nothing (the target is missing, or the links loop), or another kind of file. A target that
// cannot be examined for another reason counts as a file, whose copy then says why.
enum class LinkTarget { File, Folder, Nothing, Other };
LinkTarget entryTypeBehind(int parent, const std::string& name);

// True when `name` inside an open folder is anything but a link that leads nowhere (a link to a
// missing file, or a loop of links). Never fails.
bool leadsSomewhereAt(int parent, const std::string& name);

// Opens the folder that holds an open folder (its ".."). Invalid, with errno set, on failure.
Descriptor openParentFolder(int folder);

// Removes the link `name` inside an open folder, and only a link. 0 or an errno value.
int removeLinkAt(int parent, const std::string& name);

// Sets an open folder's permission bits. 0 or an errno value.
int setPermissions(int folder, unsigned permissions);

// The process's file mode creation mask.
unsigned ProcessUmask();

// How many bytes this process has so far left in the cache for the disks to write (its threads
// together; what was cached twice counts twice). nullopt where the system does not count them.
std::optional<std::uint64_t> bytesLeftToWrite();

// ---- Probes ----

// True when the path's date stamp can be read (the path exists, links followed). Never fails.
bool fileIsPresent(const std::string& path);

// True when the path's own attributes cannot be read (nothing there, or it cannot be reached).
// Never fails.
bool isBadFileName(const std::string& path);

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

// True when the path names the root folder "/" (through any spelling or link).
bool isRootFolder(const std::string& path);

// Whether a link that has a file's name is followed to the file it leads to.
enum class FollowLink { No, Yes };

// The size of the regular file `name` inside an open folder, a link there followed only with
// FollowLink::Yes; nothing when it is not a regular file or cannot be examined. Never fails.
std::optional<std::uint64_t> regularFileSizeAt(int folder, const std::string& name,
                                               FollowLink follow);

// Identity of what a path leads to (links followed).
std::optional<FileIdentity> IdentityOf(const std::string& path);

// The identities of an open folder and of every folder above it, up to the root, following
// ".." (the real chain of parents, whatever path led there). nullopt when a level cannot be
// read, so that the chain is never taken as complete when it is not.
std::optional<std::vector<FileIdentity>> parentChainOf(int folder);

// Whether this process may make files and folders in `folder`: write and search permission for
// its effective user, on a file system mounted for writing. 0, or the errno value that says why
// not. Asks the system; writes nothing to find out.
int creationRefusedIn(const std::string& folder);

} // namespace join
