#include "join/fs/targetfs.h"

#include "join/fs/exfatupcase.h"
#include "join/fs/failure.h"
#include "join/fs/temporaries.h"
#include "join/fs/utf8.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <locale.h>
#include <optional>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <utility>
#include <vector>
#include <wctype.h>

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
constexpr std::size_t BootSectorSize = 512;
constexpr std::int64_t Second = 1'000'000'000;
constexpr std::size_t UpcaseUnits = 0x10000;

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
        found = entry;
        foundLength = mountPoint.size();
    }
    return found;
}

// The first sector of a block device, or "" when it cannot be read (reading a device usually
// takes root or the disk group).
std::string readBootSector(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string sector(BootSectorSize, '\0');
    struct stat info {};
    ssize_t got = -1;
    if (::fstat(fd, &info) == 0 && S_ISBLK(info.st_mode))
        got = ::pread(fd, sector.data(), sector.size(), 0);
    ::close(fd);
    if (got < 0)
        return {};
    sector.resize(static_cast<std::size_t>(got));
    return sector;
}

std::string typeFromMagic(long magic) {
    switch (magic) {
    case FatMagic:
        return "vfat";
    case ExFatMagic:
        return "exfat";
    case FuseMagic:
        return "fuse";
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

std::uint32_t littleEndian32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint64_t littleEndian64(const unsigned char* bytes) {
    return littleEndian32(bytes) | static_cast<std::uint64_t>(littleEndian32(bytes + 4)) << 32;
}

// Reads exactly `size` bytes at `offset`; false on an error or a short read.
bool readExactly(int fd, std::uint64_t offset, unsigned char* into, std::size_t size) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, into, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        into += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// The up-case table of the exFAT volume open as `fd`: the boot sector leads to the root
// directory, which is followed through the FAT to the table's entry (type 0x82); the table is
// read from its first cluster on, as Linux's exfat and exfat-fuse read it.
std::shared_ptr<const std::vector<char16_t>> readUpcaseTable(int fd) {
    unsigned char boot[BootSectorSize];
    if (!readExactly(fd, 0, boot, sizeof boot) ||
        volumeTypeFromBootSector(
            std::string_view(reinterpret_cast<const char*>(boot), sizeof boot)) != "exfat")
        return nullptr;
    const std::uint64_t fatOffset = littleEndian32(boot + 80);
    const std::uint64_t heapOffset = littleEndian32(boot + 88);
    const std::uint32_t clusterCount = littleEndian32(boot + 92);
    const std::uint32_t rootCluster = littleEndian32(boot + 96);
    const unsigned sectorShift = boot[108];
    const unsigned clusterShift = boot[109];
    if (sectorShift < 9 || sectorShift > 12 || sectorShift + clusterShift > 25)
        return nullptr;
    const std::uint64_t sectorSize = std::uint64_t{1} << sectorShift;
    const std::uint64_t clusterSize = sectorSize << clusterShift;
    const auto isCluster = [&](std::uint64_t cluster) {
        return cluster >= 2 && cluster - 2 < clusterCount;
    };
    const auto clusterOffset = [&](std::uint64_t cluster) {
        return heapOffset * sectorSize + (cluster - 2) * clusterSize;
    };

    // The root directory, one cluster after another, up to its end or the table's entry.
    std::vector<unsigned char> cluster(clusterSize);
    const unsigned char* entry = nullptr;
    std::uint64_t at = rootCluster;
    for (std::uint64_t walked = 0; isCluster(at) && walked < clusterCount; ++walked) {
        if (!readExactly(fd, clusterOffset(at), cluster.data(), cluster.size()))
            return nullptr;
        bool ended = false;
        for (std::size_t offset = 0; offset < cluster.size() && !entry && !ended; offset += 32) {
            ended = cluster[offset] == 0x00;
            if (cluster[offset] == 0x82)
                entry = cluster.data() + offset;
        }
        if (entry || ended)
            break;
        unsigned char next[4];
        if (!readExactly(fd, fatOffset * sectorSize + 4 * at, next, sizeof next))
            return nullptr;
        at = littleEndian32(next);
    }
    if (!entry)
        return nullptr;
    const std::uint32_t checksum = littleEndian32(entry + 4);
    const std::uint32_t firstCluster = littleEndian32(entry + 20);
    const std::uint64_t length = littleEndian64(entry + 24);
    if (!isCluster(firstCluster) || length == 0 || length % 2 != 0 || length > 2 * UpcaseUnits ||
        !isCluster(firstCluster + (length - 1) / clusterSize))
        return nullptr;
    std::vector<unsigned char> stored(length);
    if (!readExactly(fd, clusterOffset(firstCluster), stored.data(), stored.size()))
        return nullptr;
    std::uint32_t sum = 0;
    for (const unsigned char byte : stored)
        sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + byte;
    if (sum != checksum)
        return nullptr;

    // 0xFFFF and a count stand for that many units that map to themselves.
    auto table = std::make_shared<std::vector<char16_t>>(UpcaseUnits);
    for (std::size_t unit = 0; unit < UpcaseUnits; ++unit)
        (*table)[unit] = static_cast<char16_t>(unit);
    std::size_t index = 0;
    bool run = false;
    for (std::size_t offset = 0; offset < stored.size() && index < UpcaseUnits; offset += 2) {
        const auto unit = static_cast<char16_t>(stored[offset] | stored[offset + 1] << 8);
        if (run) {
            index += unit;
            run = false;
        } else if (unit == index) {
            ++index;
        } else if (unit == 0xFFFF) {
            run = true;
        } else {
            (*table)[index++] = unit;
        }
    }
    return table;
}

// FAT compares names through an upper-case table of its own; the C library's Unicode upper case
// stands in for it. Without a UTF-8 locale only ASCII letters are folded.
char32_t upperCase(char32_t point) {
    static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (unicode)
        return static_cast<char32_t>(::towupper_l(static_cast<wint_t>(point), unicode));
    return point >= 'a' && point <= 'z' ? point - 'a' + 'A' : point;
}

// Appends `point` as exFAT keys it: each of its UTF-16 units mapped through `table`. A pair of
// surrogates that the table leaves a pair stays one character; any other surrogate is kept as a
// unit of its own (encoded as UTF-8 would encode its number), which no character's key holds.
void appendExFatKey(std::string& key, const std::vector<char16_t>& table, char32_t point) {
    if (point < UpcaseUnits) {
        appendUtf8(key, table[point]);
        return;
    }
    const char16_t high = table[0xD800 + ((point - 0x10000) >> 10)];
    const char16_t low = table[0xDC00 + (point & 0x3FF)];
    if (high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(key, 0x10000 + ((char32_t{high} - 0xD800) << 10) + (low - 0xDC00));
    } else {
        appendUtf8(key, high);
        appendUtf8(key, low);
    }
}

} // namespace

const std::vector<char16_t>& standardExFatUpcaseTable() {
    static const std::vector<char16_t> table = [] {
        std::vector<char16_t> units(UpcaseUnits);
        for (std::size_t unit = 0; unit < UpcaseUnits; ++unit)
            units[unit] = static_cast<char16_t>(unit);
        for (const ExFatUpcaseRun& run : standardExFatUpcaseRuns())
            for (std::size_t k = 0; k < run.count; ++k) {
                const std::size_t unit = run.first + k * run.stride;
                units[unit] = static_cast<char16_t>(static_cast<std::int64_t>(unit) + run.delta);
            }
        return units;
    }();
    return table;
}

std::shared_ptr<const std::vector<char16_t>> readExFatUpcaseTable(const std::string& volume) {
    const int fd = ::open(volume.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    std::shared_ptr<const std::vector<char16_t>> table;
    if (::fstat(fd, &info) == 0 && (S_ISBLK(info.st_mode) || S_ISREG(info.st_mode)))
        table = readUpcaseTable(fd);
    ::close(fd);
    return table;
}

std::int64_t timeStepFromProbe(const struct timespec& set, const struct timespec& readBack) {
    if (readBack.tv_sec == set.tv_sec) {
        if (readBack.tv_nsec == set.tv_nsec)
            return 1;
        for (std::int64_t step = Second; step > 1; step /= 10)
            if (set.tv_nsec - set.tv_nsec % step == readBack.tv_nsec)
                return step;
        return 1;
    }
    if (set.tv_sec % 2 != 0 && readBack.tv_sec == set.tv_sec - 1 && readBack.tv_nsec == 0)
        return 2 * Second;
    return 1;
}

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

bool sameModificationTime(const struct timespec& source, const struct timespec& copy,
                          std::int64_t stepNs) {
    if (source.tv_sec == copy.tv_sec && source.tv_nsec == copy.tv_nsec)
        return true;
    if (stepNs > 1 && Second % stepNs == 0)
        return copy.tv_sec == source.tv_sec &&
               copy.tv_nsec == source.tv_nsec - source.tv_nsec % stepNs;
    if (stepNs > Second && stepNs % Second == 0) {
        const std::int64_t seconds = stepNs / Second;
        const std::int64_t past = (source.tv_sec % seconds + seconds) % seconds;
        return copy.tv_nsec == 0 && copy.tv_sec == source.tv_sec - past;
    }
    return false;
}

std::string volumeTypeFromBootSector(std::string_view sector) {
    const auto at = [&](std::size_t offset, std::string_view text) {
        return sector.size() >= offset + text.size() && sector.substr(offset, text.size()) == text;
    };
    if (at(3, "EXFAT   "))
        return "exfat";
    if (at(3, "NTFS    "))
        return "ntfs";
    // FAT carries its type text at 54 (FAT12/16) or 82 (FAT32), and the boot signature.
    const bool signed55AA = sector.size() >= BootSectorSize &&
                            static_cast<unsigned char>(sector[510]) == 0x55 &&
                            static_cast<unsigned char>(sector[511]) == 0xAA;
    if (signed55AA &&
        (at(54, "FAT12   ") || at(54, "FAT16   ") || at(54, "FAT     ") || at(82, "FAT32   ")))
        return "vfat";
    return {};
}

TargetFileSystem examineTargetFileSystem(const std::string& folder) {
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0)
        throw failureFromErrno(errno, folder);

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
    }
    // A FUSE driver names itself only vaguely ("fuseblk"); the volume's own first sector says
    // what it really is.
    bool caseTried = false;
    if (target.type == "fuseblk") {
        const std::string volumeType = volumeTypeFromBootSector(readBootSector(target.source));
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

Failure targetNameFailure(const TargetFileSystem& target, const std::string& path,
                          const std::string& name, int error) {
    if (const std::string refusal = nameRefusal(target, name); !refusal.empty())
        return Failure(ErrorNumber::PathFileAccessError, path + ": the name " + refusal);
    return copyFailure(path, error);
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
    try {
        return examineTargetFileSystem(folder);
    } catch (const Failure&) {
        return std::nullopt;
    }
}

std::string nameRefusal(const TargetFileSystem& target, const std::string& name) {
    if (target.family == TargetFileSystem::Family::Other) {
        if (name.size() > target.nameMax)
            return "is longer than the " + std::to_string(target.nameMax) + " bytes " +
                   target.type + " allows in a name";
        return {};
    }
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20)
            return "holds a control character, which " + target.type + " does not allow in a name";
        if (std::string_view(":?*\"<>|\\").find(c) != std::string_view::npos)
            return std::string("holds \"") + c + "\", which " + target.type +
                   " does not allow in a name";
    }
    std::vector<char32_t> points;
    if (!decodeUtf8(name, points))
        return "is not UTF-8 text, which " + target.type + " cannot store";
    std::uint64_t units = 0;
    for (const char32_t point : points)
        units += point > 0xFFFF ? 2 : 1;
    if (units > target.nameMax)
        return "is longer than the " + std::to_string(target.nameMax) + " characters " +
               target.type + " allows in a name";
    return {};
}

std::string nameKey(const TargetFileSystem& target, const std::string& name) {
    if (!target.caseInsensitive)
        return name;
    std::vector<char32_t> points;
    if (!decodeUtf8(name, points)) {
        std::string key = name;
        for (char& c : key)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return key;
    }
    std::string key;
    key.reserve(name.size());
    if (target.family == TargetFileSystem::Family::ExFat) {
        const std::vector<char16_t>& table =
            target.upcaseTable && target.upcaseTable->size() == UpcaseUnits
                ? *target.upcaseTable
                : standardExFatUpcaseTable();
        for (const char32_t point : points)
            appendExFatKey(key, table, point);
        return key;
    }
    for (const char32_t point : points)
        appendUtf8(key, upperCase(point));
    return key;
}

std::uint64_t spaceFor(const TargetFileSystem& target, std::uint64_t size) {
    if (target.blockSize == 0)
        return size;
    return (size + target.blockSize - 1) / target.blockSize * target.blockSize;
}

} // namespace join
