#include "join/fs/targetfs.h"

#include "join/fs/failure.h"
#include "join/fs/posixfs.h"
#include "join/fs/targetnames.h"
#include "join/fs/targetvolume.h"
#include "join/fs/temporaries.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

// Finding what the output folder's file system is: the mount table and statfs, udev's database
// or the volume's own device where a FUSE mount does not say, and probes that make a file there
// to see what the file system keeps.
namespace join {

namespace {

constexpr long FatMagic = 0x4d44;
constexpr long ExFatMagic = 0x2011BAB0;
constexpr long FuseMagic = 0x65735546;
constexpr long CifsMagic = 0xFF534D42;
constexpr long Smb2Magic = 0xFE534D42;
constexpr long SmbMagic = 0x517B;
constexpr long HfsMagic = 0x4244;
constexpr long HfsPlusMagic = 0x482B;
constexpr long NtfsMagic = 0x7366746E;
constexpr long NfsMagic = 0x6969;
constexpr long V9fsMagic = 0x01021997;
constexpr long ReiserfsMagic = 0x52654973;
constexpr std::uint64_t FatNameMax = 255; // UTF-16 units, FAT's long names and exFAT alike
constexpr std::int64_t Second = 1'000'000'000;

// A mount point or source as /proc/self/mountinfo writes it: space, tab, newline and backslash
// as three octal digits after a backslash.
std::string unescapeMountField(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                text.push_back(static_cast<char>(std::strtol(digits.c_str(), nullptr, 8)));
                i += 3;
                continue;
            }
        }
        text.push_back(field[i]);
    }
    return text;
}

bool mountPointHolds(const std::string& mountPoint, const std::string& path) {
    if (mountPoint == "/")
        return true;
    return path.starts_with(mountPoint) &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

struct MountEntry {
    std::string type;
    std::string source;
    std::string mountPoint;
};

// The mount that holds `path` (a canonical path): the longest mount point above it, the later
// of equal ones, as the kernel resolves a path through stacked mounts.
std::optional<MountEntry> mountHolding(const std::string& path) {
    std::ifstream mounts("/proc/self/mountinfo");
    std::optional<MountEntry> found;
    std::size_t foundLength = 0;
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::vector<std::string> before;
        std::string field;
        while (fields >> field && field != "-")
            before.push_back(field);
        MountEntry entry;
        if (before.size() < 5 || !(fields >> entry.type >> entry.source))
            continue;
        const std::string mountPoint = unescapeMountField(before[4]);
        if (!mountPointHolds(mountPoint, path) || mountPoint.size() < foundLength)
            continue;
        entry.source = unescapeMountField(entry.source);
        entry.mountPoint = mountPoint;
        found = entry;
        foundLength = mountPoint.size();
    }
    return found;
}

std::string typeFromMagic(long magic) {
    switch (magic) {
    case FatMagic:
        return "vfat";
    case ExFatMagic:
        return "exfat";
    case FuseMagic:
        return "fuse";
    case NfsMagic:
        return "nfs";
    case CifsMagic:
        return "cifs";
    case Smb2Magic:
        return "smb3";
    case V9fsMagic:
        return "9p";
    default:
        return "unknown";
    }
}

// File systems that ignore case as a rule; ext4 and f2fs can be told to per folder.
bool ignoresCase(const std::string& type) {
    return type == "hfsplus" || type == "hfs" || type == "cifs" || type == "smb3" ||
           type == "smbfs";
}

// Whether the folder takes names that differ only in case as one, found by trying: a fresh name
// is made there, looked up in upper case, and removed. For a volume whose type cannot be read
// (its device is only readable by root); nullopt when nothing can be made there.
std::optional<bool> caseIgnoredByTrial(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<bool> ignored;
    for (int attempt = 0; attempt < 10 && !ignored; ++attempt) {
        // A temporary's name, which says who made it: should this process end before it removes
        // the file, removeEndedTemporariesIn() can tell that the file is left over.
        const std::string name = temporaryName(TemporaryKind::File);
        const int made =
            ::openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (made < 0) {
            if (errno == EEXIST)
                continue;
            break;
        }
        ::close(made);
        std::string upper = name;
        for (char& c : upper)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        struct stat info {};
        ignored = ::fstatat(fd, upper.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        removeTemporaryName(fd, name);
    }
    ::close(fd);
    return ignored;
}

bool folderIsCaseFolded(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    const bool folded = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL);
    ::close(fd);
    return folded;
}

// Whether the folder's own change time is in whole seconds: so it shows on a file system that
// keeps only seconds (ext2/3/4 with 128-byte inodes), and one time in a billion elsewhere.
bool changeTimeInWholeSeconds(const std::string& folder) {
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && info.st_ctim.tv_nsec == 0;
}

// The step to which file systems of `type` keep modification times, where their drivers keep
// one step on every volume; 0 for types that do not tell it.
std::int64_t timeStepOfType(const std::string& type) {
    static constexpr std::pair<std::string_view, std::int64_t> Steps[] = {
        {"ext2", 1},          {"ext3", 1},           {"ext4", 1},         {"xfs", 1},
        {"btrfs", 1},         {"tmpfs", 1},          {"ramfs", 1},        {"f2fs", 1},
        {"zfs", 1},           {"ntfs3", 100},        {"ntfs", 100},       {"exfat", Second / 100},
        {"vfat", 2 * Second}, {"msdos", 2 * Second}, {"fat", 2 * Second}, {"hfsplus", Second},
        {"hfs", Second},      {"reiserfs", Second},
    };
    for (const auto& [name, step] : Steps)
        if (name == type)
            return step;
    return 0;
}

// The time a probe sets: an odd second, and nanoseconds with no zero digit, so that each step a
// file system may cut it to leaves another value.
constexpr struct timespec ProbeTime = {1'600'000'001, 123'456'789};

// A fresh name for a probe's file: a temporary name of this process, so that a probe a killed
// run left is removed as any of its temporaries is.
std::string probeName() {
    return temporaryName(TemporaryKind::File);
}

// The modification time of `name` in `folder` as the file system holds it: FUSE is asked again
// instead of answering from the attributes it keeps for a while.
std::optional<struct timespec> modificationTimeAt(int folder, const std::string& name) {
    struct statx fresh {};
    if (::statx(folder, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC, STATX_MTIME,
                &fresh) == 0 &&
        (fresh.stx_mask & STATX_MTIME))
        return timespec{fresh.stx_mtime.tv_sec, fresh.stx_mtime.tv_nsec};
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
        return info.st_mtim;
    return std::nullopt;
}

// The time step of `target`, the file system that holds `folder`: told by its type where that
// tells it, else by a probe there, else by its type after all, or as 1 ns.
std::int64_t timeStepOf(const TargetFileSystem& target, const std::string& folder) {
    // sshfs speaks SFTP version 3, which carries times in whole seconds whatever its server's
    // disk keeps: a probe, seven round trips there, would only say so again. A server whose disk
    // keeps less (FAT) only has a file of an odd second copied again by a join again.
    if (target.mountType == "fuse.sshfs")
        return Second;
    const bool throughFuse =
        target.type.starts_with("fuse") || target.mountType.starts_with("fuse");
    const std::int64_t byType = timeStepOfType(target.type);
    if (!throughFuse && byType > 1)
        return byType;
    if (!throughFuse && byType == 1 && !changeTimeInWholeSeconds(folder))
        return 1;
    if (const std::optional<std::int64_t> probed = probeTimeStep(folder))
        return *probed;
    return byType > 0 ? byType : 1;
}

} // namespace

std::optional<std::int64_t> probeTimeStep(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::int64_t> step;
    for (int attempt = 0; attempt < 10; ++attempt) {
        const std::string name = probeName();
        const int probe =
            ::openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (probe < 0) {
            if (errno == EEXIST)
                continue;
            break;
        }
        // Both times: exfat-fuse ignores a new modification time that comes alone.
        const struct timespec times[2] = {ProbeTime, ProbeTime};
        const bool set = ::futimens(probe, times) == 0;
        const bool closed = ::close(probe) == 0;
        const std::optional<struct timespec> readBack =
            set && closed ? modificationTimeAt(fd, name) : std::nullopt;
        removeTemporaryName(fd, name);
        if (readBack)
            step = timeStepFromProbe(ProbeTime, *readBack);
        break;
    }
    ::close(fd);
    return step;
}

namespace {

// The file system that holds `folder`, which statfs answered `info` for.
TargetFileSystem examineStatedTarget(const std::string& folder, const std::string& udevData,
                                     const struct statfs& info) {
    TargetFileSystem target;
    target.type = typeFromMagic(info.f_type);
    target.nameMax = static_cast<std::uint64_t>(info.f_namelen);
    target.blockSize = static_cast<std::uint64_t>(info.f_bsize);
    target.freeBytes = static_cast<std::uint64_t>(info.f_bavail) * target.blockSize;

    char* canonical = ::realpath(folder.c_str(), nullptr);
    const std::string path = canonical ? canonical : folder;
    std::free(canonical);
    if (const std::optional<MountEntry> mount = mountHolding(path)) {
        target.type = mount->type;
        target.source = mount->source;
        // sshfs names its far end "[user@]host:folder"; the SFTP server opens every file by the
        // whole path below that folder.
        const std::size_t colon = mount->source.find(':');
        if (mount->type == "fuse.sshfs" && colon != std::string::npos &&
            mount->source.size() > colon + 1 && mount->source[colon + 1] == '/') {
            std::string farFolder = mount->source.substr(colon + 1);
            while (farFolder.size() > 1 && farFolder.ends_with('/'))
                farFolder.pop_back();
            const std::string below =
                path.substr(mount->mountPoint == "/" ? 0 : mount->mountPoint.size());
            target.farEnd =
                farFolder == "/" ? (below.empty() ? farFolder : below) : farFolder + below;
            target.examined = folder;
            while (target.examined.size() > 1 && target.examined.ends_with('/'))
                target.examined.pop_back();
        }
    }
    target.reach = reachOfMountType(target.type);
    // A FUSE driver names itself only vaguely ("fuseblk"). What udev found on the device says
    // what it really is to every user; the volume's own first sector says it to one who may read
    // the device. The files of a FUSE volume of a block device carry that device's number.
    bool caseTried = false;
    if (target.type == "fuseblk") {
        struct stat status {};
        std::string volumeType = ::stat(folder.c_str(), &status) == 0
                                     ? volumeTypeFromUdev(udevData, status.st_dev)
                                     : std::string();
        if (volumeType.empty())
            volumeType = volumeTypeFromBootSector(readBootSector(target.source));
        if (!volumeType.empty()) {
            target.mountType = target.type;
            target.type = volumeType;
        } else if (const std::optional<bool> ignored = caseIgnoredByTrial(folder)) {
            target.caseInsensitive = *ignored;
            caseTried = true;
        }
    } else if (target.type.starts_with("fuse.")) {
        target.mountType = target.type;
        target.type = target.type.substr(5);
    }

    if (target.type == "vfat" || target.type == "msdos" || target.type == "fat")
        target.family = TargetFileSystem::Family::Fat;
    else if (target.type == "exfat")
        target.family = TargetFileSystem::Family::ExFat;
    if (target.family != TargetFileSystem::Family::Other) {
        target.caseInsensitive = true;
        target.storesLinks = false;
        target.nameMax = FatNameMax;
    } else if (!caseTried) {
        target.caseInsensitive = ignoresCase(target.type) || folderIsCaseFolded(folder);
    }
    // The volume's own up-case table, where its device can be read and the table is not the
    // standard one.
    if (target.family == TargetFileSystem::Family::ExFat && target.source.starts_with('/')) {
        std::shared_ptr<const std::vector<char16_t>> table = readExFatUpcaseTable(target.source);
        if (table && *table != standardExFatUpcaseTable())
            target.upcaseTable = std::move(table);
    }
    target.timeStepNs = timeStepOf(target, folder);
    return target;
}

} // namespace

TargetFileSystem examineTargetFileSystem(const std::string& folder) {
    return examineTargetFileSystemFrom(folder, UdevDataFolder);
}

TargetFileSystem examineTargetFileSystemFrom(const std::string& folder,
                                             const std::string& udevData) {
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0)
        throw failureFromErrno(errno, folder);
    return examineStatedTarget(folder, udevData, info);
}

std::string fileSystemTypeOf(const std::string& folder) {
    char* canonical = ::realpath(folder.c_str(), nullptr);
    const std::string path = canonical ? canonical : folder;
    std::free(canonical);
    if (const std::optional<MountEntry> mount = mountHolding(path))
        return mount->type;
    struct statfs info {};
    return ::statfs(folder.c_str(), &info) == 0 ? typeFromMagic(info.f_type) : std::string();
}

std::optional<TargetFileSystem> examineUnusualTarget(const std::string& folder) {
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0)
        return std::nullopt;
    switch (info.f_type) {
    case FatMagic:
    case ExFatMagic:
    case FuseMagic:
    case CifsMagic:
    case Smb2Magic:
    case SmbMagic:
    case HfsMagic:
    case HfsPlusMagic:
    case NtfsMagic:
    case NfsMagic:
    case V9fsMagic:
    case ReiserfsMagic:
        break;
    default:
        if (!folderIsCaseFolded(folder) && !changeTimeInWholeSeconds(folder))
            return std::nullopt;
    }
    // Behind a link each call costs a round trip: statfs is asked once.
    return examineStatedTarget(folder, UdevDataFolder, info);
}

TargetReach reachOfMountType(const std::string& mountType) {
    static constexpr std::string_view Shares[] = {"nfs",   "nfs4",   "cifs", "smb3",
                                                  "smbfs", "9p",     "ceph", "afs",
                                                  "davfs", "lustre", "coda", "ncpfs"};
    // A FUSE daemon of a block device (exFAT, NTFS on a stick) writes to a disk of this machine;
    // any other is taken for a share's client (sshfs, rclone), whose calls wait on a link.
    if (mountType == "fuse" || mountType.starts_with("fuse."))
        return TargetReach::Remote;
    for (const std::string_view share : Shares)
        if (mountType == share)
            return TargetReach::Remote;
    return TargetReach::Local;
}

bool unnamedFilesCanBeLinked() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

bool unnamedFilesIn(int folder) {
    if (!unnamedFilesCanBeLinked())
        return false;
    // Making one is a write, which a join that finds everything there need not make each time.
    static std::mutex mutex;
    static std::unordered_map<dev_t, bool> known;
    struct stat st {};
    const bool identified = ::fstat(folder, &st) == 0;
    if (identified) {
        std::lock_guard lock(mutex);
        if (const auto found = known.find(st.st_dev); found != known.end())
            return found->second;
    }
    const int opened = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    const int refusal = opened < 0 ? errno : 0;
    const Descriptor file(opened);
    // A refusal that says nothing of the file system (no room, no descriptor) is not kept.
    if (identified && (file.valid() || refusal == EOPNOTSUPP || refusal == EISDIR ||
                       refusal == EINVAL || refusal == ENOENT)) {
        std::lock_guard lock(mutex);
        known.emplace(st.st_dev, file.valid());
    }
    return file.valid();
}

} // namespace join
