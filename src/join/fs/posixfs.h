#pragma once

#include "join/fs/failure.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>
#include <vector>

// The file-system helpers everything else rests on. All POSIX calls of the engine live behind
// this header. Paths are the file system's own bytes; nothing here converts encodings.
//
// How a call here reports a failure: a call that can fail returns 0 or the reason as an errno
// value ([[nodiscard]] int), and what it finds goes to an out-parameter; an opener returns a
// Descriptor, which when invalid holds the reason (error()). A call marked "Never fails" answers
// false or nothing where the system cannot tell, and says no more. Nothing here throws, and no
// caller reads errno after a call here.
namespace join {

// True exactly when the path's attributes can be read and it is a directory (or a link to one).
// Never fails.
bool folderExists(const std::string& path);

// True for a regular file, or a link to one, that can be opened for query. Never fails.
bool isExistingFile(const std::string& path);

// True for a regular file, or a link to one, that this user may read. Never fails.
bool isReadableFile(const std::string& path);

// ---- Threads ----

// Gives the calling thread's reads of the disk the lowest best-effort priority: they wait behind
// the others' but still get their turn. Its share of the processor stays as it is.
void lowerThisThreadsDiskPriority();

// ---- Open folders ----

// Owns one file descriptor and closes it when it goes out of scope. One that an opener could not
// open holds the reason, so that it travels with the descriptor and no later call overwrites it.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : m_fd(fd) {}
    // An invalid descriptor that holds why it could not be opened (an errno value).
    static Descriptor failed(int error) {
        Descriptor none;
        none.m_error = error;
        return none;
    }
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : m_fd(other.release()), m_error(other.m_error) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        const int error = other.m_error;
        reset(other.release());
        m_error = error;
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // 0 while valid; else why there is no descriptor, as an errno value (EBADF when none was
    // ever asked for).
    int error() const { return valid() ? 0 : m_error; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1);

private:
    int m_fd = -1;
    int m_error = EBADF;
};

// A second descriptor of the same open file or folder; invalid, holding the reason, on failure.
Descriptor duplicateDescriptor(int fd);

// The open folder `folder` opened anew: a descriptor with an open file of its own, whose flush
// (syncfs) reports write errors apart from every other's; invalid, holding the reason, on failure.
Descriptor reopenFolder(int folder);

// Opens a folder by its path, links followed; invalid, holding the reason, when it cannot be
// opened.
Descriptor openFolder(const std::string& path);

// Opens the folder `name` inside an open folder. A link there is never followed (ELOOP or
// ENOTDIR), so a folder swapped for a link is not entered. Invalid, holding the reason, on
// failure.
Descriptor openFolderAt(int parent, const std::string& name);

// Identity of a file or folder, for telling the same one apart from its names.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// What an open folder is: its identity, its permission bits (07777), its owner, and the rest.
struct FolderStatus {
    FileIdentity identity;
    unsigned permissions = 0;
    uid_t owner = 0;
    // All that fstat told of it: its group and times, for the copy that keeps them.
    struct stat full {};
    // Whether this process may change the bits: it owns the folder, or is root.
    bool owned() const;
};
// Reads an open folder's status into `status`. 0 or an errno value.
[[nodiscard]] int readFolderStatus(int folder, FolderStatus& status);

// One entry of a folder listing, typed as the directory records it.
struct FolderEntry {
    enum class Type { File, Folder, Link, Other };
    std::string name;
    Type type;
};

// A folder's own permission bits (07777 part, links followed) and its entries but "." and "..",
// in natural name order. Asks nothing per entry where the directory records the type.
struct FolderListing {
    unsigned permissions = 0;
    std::vector<FolderEntry> entries;
};
// Reads a folder's listing into `listing`. 0 or an errno value; a listing that fails part-way
// keeps what it had read.
[[nodiscard]] int readListing(const std::string& path, FolderListing& listing);
// The same for a folder opened for the purpose (its permission bits left at 0): the listing
// reads on from the descriptor's position, so a descriptor is listed once.
[[nodiscard]] int readListingAt(int folder, FolderListing& listing);

// True when every name in an open folder but "." and ".." passes `ours`, read no further than the
// first that does not. False too when the folder cannot be read to its end. Reads through a
// descriptor of its own, so that `folder` is left where it was. Never fails.
bool holdsOnly(int folder, const std::function<bool(const std::string&)>& ours);

// Reads the names of the regular files of an open folder, links to regular files included, in
// natural name order, into `names`. 0 or an errno value.
[[nodiscard]] int readFileNamesAt(int folder, std::vector<std::string>& names);

// Makes one folder with the given permission bits, as far as the umask lets them through.
// 0 or an errno value (EEXIST when something has the name).
[[nodiscard]] int makeFolder(const std::string& path, unsigned permissions);
// The same inside an open folder. 0 or an errno value.
[[nodiscard]] int makeFolderAt(int parent, const std::string& name, unsigned permissions);

// Reads the type of what has the name `name` inside an open folder into `type`, the name's own
// entry (a link is a link). 0 or an errno value (ENOENT when nothing has it); `type` is left as
// it was on failure.
[[nodiscard]] int readEntryTypeAt(int parent, const std::string& name, FolderEntry::Type& type);

// Reads the identity of the folder that `name` inside an open folder is or leads to, links
// followed, into `identity`. 0, ENOTDIR when it leads to something that is not a folder, or an
// errno value; `identity` is left as it was on failure.
[[nodiscard]] int folderIdentityAt(int parent, const std::string& name, FileIdentity& identity);

// The type of the pseudo file system ("proc", "sysfs", "cgroup2") that `name` inside an open
// folder leads to, links followed: one the kernel fills with its own state instead of stored
// files, whose folders and links may lead all over the system. "" for any other file system, or
// where it cannot be told. Never fails.
std::string pseudoFileSystemAt(int parent, const std::string& name);

// What a link inside an open folder leads to, links followed: a regular file, a folder,
// nothing (the target is missing, or the links loop), or another kind of file. A target that
// cannot be examined for another reason counts as a file, whose copy then says why.
enum class LinkTarget { File, Folder, Nothing, Other };
LinkTarget entryTypeBehind(int parent, const std::string& name);

// True when `name` inside an open folder is anything but a link that leads nowhere (a link to a
// missing file, or a loop of links). Never fails.
bool leadsSomewhereAt(int parent, const std::string& name);

// Opens the folder that holds an open folder (its ".."); invalid, holding the reason, on
// failure.
Descriptor openParentFolder(int folder);

// Removes the link `name` inside an open folder, and only a link. 0 or an errno value (EEXIST
// when something else has the name).
[[nodiscard]] int removeLinkAt(int parent, const std::string& name);

// Sets an open folder's permission bits. 0 or an errno value.
[[nodiscard]] int setPermissions(int folder, unsigned permissions);

// The process's file mode creation mask, read without changing it. Never fails.
unsigned readProcessUmask();

// How many bytes this process has so far left in the cache for the disks to write (its threads
// together; what was cached twice counts twice). nullopt where the system does not count them.
// Never fails.
std::optional<std::uint64_t> bytesLeftToWrite();

// ---- Probes ----

// True when the path's date stamp can be read (the path exists, links followed). Never fails.
bool fileIsPresent(const std::string& path);

// True when the path's own attributes cannot be read (nothing there, or it cannot be reached).
// Never fails.
bool isBadFileName(const std::string& path);

// True when the path names the root folder "/" (through any spelling or link). Never fails.
bool isRootFolder(const std::string& path);

// Whether a link that has a file's name is followed to the file it leads to.
enum class FollowLink { No, Yes };

// The size of the regular file `name` inside an open folder, a link there followed only with
// FollowLink::Yes; nothing when it is not a regular file or cannot be examined. Never fails.
std::optional<std::uint64_t> regularFileSizeAt(int folder, const std::string& name,
                                               FollowLink follow);

// Reads the identity of what a path leads to (links followed) into `identity`. 0 or an errno
// value; `identity` is left as it was on failure.
[[nodiscard]] int identityOfPath(const std::string& path, FileIdentity& identity);

// The identities of an open folder and of every folder above it, up to the root, following
// ".." (the real chain of parents, whatever path led there). nullopt when a level cannot be
// read, so that the chain is never taken as complete when it is not. Never fails.
std::optional<std::vector<FileIdentity>> parentChainOf(int folder);

// Whether this process may make files and folders in `folder`: write and search permission for
// its effective user, on a file system mounted for writing. 0, or the errno value that says why
// not. Asks the system; writes nothing to find out.
[[nodiscard]] int creationRefusedIn(const std::string& folder);

} // namespace join
