#include "join/fs/posixfs.h"

#include "join/fs/failure.h"
#include "join/fs/paths.h"
#include "join/fs/posixinternal.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

// Folders, listings, permissions and probes. The single-file and link copies are in
// filecopy.cpp.
namespace join {

using namespace posix;

void Descriptor::reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    m_error = EBADF;
}

namespace posix {

bool mayRead(const struct stat& file) {
    static const uid_t user = ::geteuid();
    if (user == 0)
        return true;
    if (file.st_uid == user)
        return (file.st_mode & S_IRUSR) != 0;
    static const std::vector<gid_t> groups = [] {
        std::vector<gid_t> all(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
        all.resize(static_cast<std::size_t>(
            std::max(0, ::getgroups(static_cast<int>(all.size()), all.data()))));
        all.push_back(::getegid());
        return all;
    }();
    if (std::find(groups.begin(), groups.end(), file.st_gid) != groups.end())
        return (file.st_mode & S_IRGRP) != 0;
    return (file.st_mode & S_IROTH) != 0;
}

} // namespace posix

namespace {

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// What an open call gave: the descriptor, or none that holds why, read at once from errno.
Descriptor openedOrWhy(int fd) {
    return fd >= 0 ? Descriptor(fd) : Descriptor::failed(lastError());
}

} // namespace

// ---- Threads ----

namespace {

// The kernel's I/O priority ABI (linux/ioprio.h, whose newer inline helpers are not C++): a
// class in the bits above 13, a level below, for one thread.
constexpr int IoPriorityOfProcess = 1;
constexpr int IoPriorityClassShift = 13;
constexpr int IoPriorityClassBestEffort = 2;
constexpr int IoPriorityLowestLevel = 7;

} // namespace

void lowerThisThreadsDiskPriority() {
    // On Linux an I/O priority belongs to a thread, named by its thread id. The idle class would
    // leave the thread no turn at all while the copies keep the disk busy.
    ::syscall(SYS_ioprio_set, IoPriorityOfProcess, ::gettid(),
              (IoPriorityClassBestEffort << IoPriorityClassShift) | IoPriorityLowestLevel);
}

// ---- Paths ----

bool folderExists(const std::string& path) {
    struct stat st {};
    return isUsablePath(path) && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isExistingFile(const std::string& path) {
    struct stat st {};
    return isUsablePath(path) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isReadableFile(const std::string& path) {
    struct stat st {};
    return isUsablePath(path) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           mayRead(st);
}

// ---- Open folders ----

Descriptor duplicateDescriptor(int fd) {
    return openedOrWhy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

Descriptor openFolder(const std::string& path) {
    if (!isUsablePath(path))
        return Descriptor::failed(unusablePathError(path));
    return openedOrWhy(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

Descriptor reopenFolder(int folder) {
    return openedOrWhy(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

Descriptor openFolderAt(int parent, const std::string& name) {
    if (!isPlainName(name))
        return Descriptor::failed(EINVAL);
    return openedOrWhy(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

int readFolderStatus(int folder, FolderStatus& status) {
    struct stat st {};
    if (::fstat(folder, &st) != 0)
        return lastError();
    status.identity = {st.st_dev, st.st_ino};
    status.permissions = st.st_mode & 07777;
    status.owner = st.st_uid;
    status.full = st;
    return 0;
}

bool FolderStatus::owned() const {
    const uid_t user = ::geteuid();
    return owner == user || user == 0;
}

int readListing(const std::string& path, FolderListing& listing) {
    listing = {};
    const Descriptor fd = openFolder(path);
    if (!fd.valid())
        return fd.error();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return lastError();
    if (const int error = readListingAt(fd.get(), listing); error != 0)
        return error;
    listing.permissions = st.st_mode & 07777;
    return 0;
}

int readListingAt(int folder, FolderListing& listing) {
    listing = {};
    // The directory's records are read in large blocks straight from the system.
    alignas(struct dirent64) char buffer[32 * 1024];
    ssize_t got = 0;
    for (;;) {
        got = ::getdents64(folder, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (isDotOrDotDot(name))
                continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat child {};
                if (::fstatat(folder, name, &child, AT_SYMLINK_NOFOLLOW) == 0)
                    type = IFTODT(child.st_mode);
            }
            const FolderEntry::Type kind = type == DT_REG   ? FolderEntry::Type::File
                                           : type == DT_DIR ? FolderEntry::Type::Folder
                                           : type == DT_LNK ? FolderEntry::Type::Link
                                                            : FolderEntry::Type::Other;
            listing.entries.push_back({name, kind});
        }
    }
    const int error = got == 0 ? 0 : lastError();
    std::sort(
        listing.entries.begin(), listing.entries.end(),
        [](const FolderEntry& a, const FolderEntry& b) { return naturalNameLess(a.name, b.name); });
    return error;
}

bool holdsOnly(int folder, const std::function<bool(const std::string&)>& ours) {
    const Descriptor own(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!own.valid())
        return false;
    alignas(struct dirent64) char buffer[32 * 1024];
    // A folder that holds another's names usually shows one in the first few: a small first
    // read spares the file system filling the whole buffer from a large folder.
    std::size_t asked = 1024;
    for (;; asked = sizeof buffer) {
        const ssize_t got = ::getdents64(own.get(), buffer, asked);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += entry->d_reclen;
            if (!isDotOrDotDot(entry->d_name) && !ours(entry->d_name))
                return false;
        }
    }
}

int readFileNamesAt(int folder, std::vector<std::string>& names) {
    names.clear();
    FolderListing listing;
    if (const int error = readListingAt(folder, listing); error != 0)
        return error;
    for (FolderEntry& entry : listing.entries) {
        bool regular = entry.type == FolderEntry::Type::File;
        if (entry.type == FolderEntry::Type::Link) {
            struct stat st {};
            regular = ::fstatat(folder, entry.name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (regular)
            names.push_back(std::move(entry.name));
    }
    return 0;
}

int makeFolder(const std::string& path, unsigned permissions) {
    if (!isUsablePath(path))
        return unusablePathError(path);
    return ::mkdir(path.c_str(), static_cast<mode_t>(permissions & 07777)) == 0 ? 0 : lastError();
}

int makeFolderAt(int parent, const std::string& name, unsigned permissions) {
    if (!isPlainName(name))
        return EINVAL;
    return ::mkdirat(parent, name.c_str(), static_cast<mode_t>(permissions & 07777)) == 0
               ? 0
               : lastError();
}

int readEntryTypeAt(int parent, const std::string& name, FolderEntry::Type& type) {
    if (!isPlainName(name))
        return EINVAL;
    struct stat st {};
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return lastError();
    type = S_ISREG(st.st_mode)   ? FolderEntry::Type::File
           : S_ISDIR(st.st_mode) ? FolderEntry::Type::Folder
           : S_ISLNK(st.st_mode) ? FolderEntry::Type::Link
                                 : FolderEntry::Type::Other;
    return 0;
}

int folderIdentityAt(int parent, const std::string& name, FileIdentity& identity) {
    if (!isPlainName(name))
        return EINVAL;
    struct stat st {};
    if (::fstatat(parent, name.c_str(), &st, 0) != 0)
        return lastError();
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    identity = {st.st_dev, st.st_ino};
    return 0;
}

std::string pseudoFileSystemAt(int parent, const std::string& name) {
    // The kernel's own file systems, by the type statfs gives them (linux/magic.h).
    static constexpr std::pair<std::uint32_t, const char*> Pseudo[] = {
        {0x9fa0, "proc"},          {0x62656572, "sysfs"},      {0x27e0eb, "cgroup"},
        {0x63677270, "cgroup2"},   {0x1cd1, "devpts"},         {0x64626720, "debugfs"},
        {0x74726163, "tracefs"},   {0x73636673, "securityfs"}, {0x6165676c, "pstore"},
        {0xcafe4a11, "bpf"},       {0x62656570, "configfs"},   {0x65735543, "fusectl"},
        {0x19800202, "mqueue"},    {0x958458f6, "hugetlbfs"},  {0xde5e81e4, "efivarfs"},
        {0xf97cff8c, "selinuxfs"}, {0x43415d53, "smackfs"},    {0x42494e4d, "binfmt_misc"},
        {0x6e736673, "nsfs"},
    };
    if (!isPlainName(name))
        return {};
    const Descriptor target(::openat(parent, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct statfs info {};
    if (!target.valid() || ::fstatfs(target.get(), &info) != 0)
        return {};
    for (const auto& [magic, type] : Pseudo)
        if (static_cast<std::uint32_t>(info.f_type) == magic)
            return type;
    return {};
}

LinkTarget entryTypeBehind(int parent, const std::string& name) {
    struct stat st {};
    if (!isPlainName(name))
        return LinkTarget::Nothing;
    if (::fstatat(parent, name.c_str(), &st, 0) != 0)
        // What cannot be reached for another reason is left to the copy to report.
        return errno == ENOENT || errno == ELOOP ? LinkTarget::Nothing : LinkTarget::File;
    return S_ISREG(st.st_mode)   ? LinkTarget::File
           : S_ISDIR(st.st_mode) ? LinkTarget::Folder
                                 : LinkTarget::Other;
}

bool leadsSomewhereAt(int parent, const std::string& name) {
    struct stat st {};
    return isPlainName(name) && ::fstatat(parent, name.c_str(), &st, 0) == 0;
}

Descriptor openParentFolder(int folder) {
    return openedOrWhy(::openat(folder, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

int removeLinkAt(int parent, const std::string& name) {
    FolderEntry::Type type = FolderEntry::Type::Other;
    if (const int error = readEntryTypeAt(parent, name, type); error != 0)
        return error;
    if (type != FolderEntry::Type::Link)
        return EEXIST;
    return ::unlinkat(parent, name.c_str(), 0) == 0 ? 0 : lastError();
}

int setPermissions(int folder, unsigned permissions) {
    return ::fchmod(folder, static_cast<mode_t>(permissions & 07777)) == 0 ? 0 : lastError();
}

unsigned readProcessUmask() {
    // Read without changing it: other threads may be making files meanwhile.
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return mask & 0777;
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask & 0777;
}

std::optional<std::uint64_t> bytesLeftToWrite() {
    std::FILE* io = std::fopen("/proc/self/io", "re");
    if (!io)
        return std::nullopt;
    char line[128];
    unsigned long long bytes = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, io))
        found = std::sscanf(line, "write_bytes: %llu", &bytes) == 1;
    std::fclose(io);
    return found ? std::optional<std::uint64_t>(bytes) : std::nullopt;
}
// ---- Probes ----

bool fileIsPresent(const std::string& path) {
    struct stat st {};
    return isUsablePath(path) && ::stat(path.c_str(), &st) == 0;
}

bool isBadFileName(const std::string& path) {
    struct stat st {};
    return !isUsablePath(path) || ::lstat(path.c_str(), &st) != 0;
}

bool isRootFolder(const std::string& path) {
    FileIdentity root;
    FileIdentity identity;
    return identityOfPath(std::string(1, Separator), root) == 0 &&
           identityOfPath(path, identity) == 0 && identity == root;
}

std::optional<std::uint64_t> regularFileSizeAt(int folder, const std::string& name,
                                               FollowLink follow) {
    struct stat status {};
    if (::fstatat(folder, name.c_str(), &status,
                  follow == FollowLink::Yes ? 0 : AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(status.st_size);
}

int identityOfPath(const std::string& path, FileIdentity& identity) {
    if (!isUsablePath(path))
        return unusablePathError(path);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return lastError();
    identity = {st.st_dev, st.st_ino};
    return 0;
}

std::optional<std::vector<FileIdentity>> parentChainOf(int folder) {
    std::vector<FileIdentity> chain;
    Descriptor current(::openat(folder, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    // A bound on the levels, so that a file system that never reaches its root cannot stall.
    constexpr std::size_t MaxLevels = std::size_t{1} << 20;
    while (current.valid() && chain.size() < MaxLevels) {
        struct stat st {};
        if (::fstat(current.get(), &st) != 0)
            return std::nullopt;
        const FileIdentity identity{st.st_dev, st.st_ino};
        if (!chain.empty() && chain.back() == identity)
            return chain; // ".." of the root is the root itself
        chain.push_back(identity);
        current.reset(::openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    return std::nullopt;
}

int creationRefusedIn(const std::string& folder) {
    if (!isUsablePath(folder))
        return unusablePathError(folder);
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : lastError();
}

} // namespace join
