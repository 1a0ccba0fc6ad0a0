#pragma once

#include "join/fs/failure.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The rules of names and times on the output folder's file system, once it is known what that
// file system is (targetfs.h finds it): the names it refuses, those it takes as one, the step it
// keeps modification times to, and the room a file takes there. A USB stick formatted FAT or
// exFAT refuses some characters in names, treats "Photo.JPG" and "photo.jpg" as one name and may
// simply be too small.
namespace join {

// Where a file system keeps its files, as far as the cost of a call there goes.
enum class TargetReach {
    // A disk of this machine, or its memory: a call costs processor time and a disk's seek.
    Local,
    // Behind a link: a network share (NFS, SMB, 9p) or a FUSE daemon that is not a disk of this
    // machine (sshfs and the like), where a call costs a round trip and creating a file holds its
    // folder's lock across one.
    Remote,
};

// What a file system is and keeps, as examineTargetFileSystem() (targetfs.h) finds it.
struct TargetFileSystem {
    // FAT and exFAT share the characters they refuse and count name lengths in UTF-16 units.
    enum class Family { Fat, ExFat, Other };

    // The type as the mount table names it ("ext4", "vfat", "exfat"); for a FUSE mount of a
    // block device, the type read from the device's own first sector when it can be read.
    std::string type;
    // The mount table's own type when it differs from `type` ("fuseblk"), else "".
    std::string mountType;
    // The device or source the mount table names ("/dev/sdb1", "tmpfs").
    std::string source;
    Family family = Family::Other;
    bool caseInsensitive = false;
    bool storesLinks = true;
    // The longest name it stores: UTF-16 units on FAT and exFAT, bytes elsewhere.
    std::uint64_t nameMax = 255;
    std::uint64_t freeBytes = 0;
    std::uint64_t blockSize = 0;
    // exFAT: the up-case table through which the volume compares names (the upper case of every
    // UTF-16 code unit, 65536 of them), where it was read from the volume's device and is not the
    // standard one. Null means the standard table, which is also taken where the device cannot
    // be read (that takes root).
    std::shared_ptr<const std::vector<char16_t>> upcaseTable;
    // The step in nanoseconds to which the file system keeps a file's modification time: 1 on
    // ext4, XFS, btrfs, tmpfs and the like, 100 on NTFS, 10 ms on exFAT (whole seconds through
    // exfat-fuse), 2 s on FAT. Told by the type where the type tells it, else by a probe
    // (probeTimeStep); 1 where neither can tell.
    std::int64_t timeStepNs = 1;
    // A share whose far end opens each file by its whole path (sshfs: the SFTP server), where the
    // far end's own limit on a path's length applies: `examined`, the folder as it was examined,
    // is `farEnd` there. Empty where paths are not limited so, or the far end's folder is not
    // known.
    std::string examined;
    std::string farEnd;
    TargetReach reach = TargetReach::Local;
};

// The step a file system keeps times to, from the time `set` on a file and the time `readBack`
// it then showed: 1 when they are equal; the largest power of ten to which `readBack` is `set`
// cut down (whole seconds: 10^9); 2 s when `readBack` is the even second below an odd `set`; 1
// for anything else (rounded up, or ignored), where a finer step than the true one only costs a
// copy.
std::int64_t timeStepFromProbe(const struct timespec& set, const struct timespec& readBack);

// True when a copy's modification time `copy` is the source's `source` as a file system that
// keeps times to `stepNs` nanoseconds stores it: equal to the nanosecond, or `source` cut down
// to a multiple of the step. Steps that neither divide a second nor are whole seconds count
// as 1.
bool sameModificationTime(const struct timespec& source, const struct timespec& copy,
                          std::int64_t stepNs);

// The modification time a file system that keeps times to `stepNs` nanoseconds stores for `time`:
// cut down to the step, as sameModificationTime takes it.
struct timespec keptTime(const struct timespec& time, std::int64_t stepNs);

// exFAT's standard up-case table, the one mkfs.exfat writes: 65536 UTF-16 code units.
const std::vector<char16_t>& standardExFatUpcaseTable();

// Why the file system cannot store `name` (a name reason, with the file system's type), or
// nothing when it can.
std::optional<Reason> nameRefusal(const TargetFileSystem& target, const std::string& name);

// Why the file system cannot store a thing at `path` (below the examined folder): its far end
// takes paths of at most PATH_MAX - 1 bytes. Nothing when it can.
std::optional<Reason> pathRefusal(const TargetFileSystem& target, const std::string& path);

// The form in which the file system tells names apart: folded to one case where it ignores
// case, else the name itself. Two names with the same key are one name there. exFAT maps each
// UTF-16 unit through its up-case table; other file systems that ignore case take the C
// library's Unicode upper case. Names that are not UTF-8 have only their ASCII letters folded.
std::string nameKey(const TargetFileSystem& target, const std::string& name);

// Why writing `name` at `path` there failed: where the file system does not allow the name,
// that is the reason given, whatever error it answered with (exFAT's driver answers "no such
// file"). Where its rules are not known, a name holding a character FAT does not take that it
// answered "no such file", "invalid argument" or "illegal byte sequence" for is said to be
// refused for that character.
// A path its far end refuses (pathRefusal) is said as such first, whatever the error was.
Failure targetNameFailure(const TargetFileSystem& target, const std::string& path,
                          const std::string& name, int error);

// The room a file of `size` bytes takes there, in whole blocks.
std::uint64_t spaceFor(const TargetFileSystem& target, std::uint64_t size);

} // namespace join
