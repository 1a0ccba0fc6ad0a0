#pragma once

#include "failure.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What the output folder's file system will refuse or merge, found before anything is copied:
// a USB stick formatted FAT or exFAT refuses some characters in names, treats "Photo.JPG" and
// "photo.jpg" as one name and may simply be too small.
namespace join {

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
    // The step, in nanoseconds, to which it keeps a file's modification time.
    std::int64_t timeStep = 1;
};

// Examines the file system that holds `folder`. Throws Failure when the folder cannot be
// examined at all; what cannot be told leaves the defaults above. Where a FUSE volume's device
// cannot be read (it takes root), whether it ignores case is found by making a fresh name in
// the folder, looking it up in the other case, and removing it.
TargetFileSystem ExamineTargetFileSystem(const std::string& folder);

// The same, but only where the file system's names follow rules of their own: FAT, exFAT, FUSE
// and network file systems, those that ignore case, and case-folded folders. Nothing for the
// usual file systems, which take any name the source could hold; that answer costs one call.
std::optional<TargetFileSystem> ExamineUnusualTarget(const std::string& folder);

// "exfat", "vfat" or "ntfs" when `bootSector` (the first bytes of a volume) carries that
// signature; "" otherwise.
std::string VolumeTypeFromBootSector(std::string_view bootSector);

// Why the file system cannot store `name`, in words that follow the name ("holds \":\", which
// exfat does not allow in a name"), or "" when it can.
std::string NameRefusal(const TargetFileSystem& target, const std::string& name);

// The form in which the file system tells names apart: folded to one case where it ignores
// case, else the name itself. Two names with the same key are one name there.
std::string NameKey(const TargetFileSystem& target, const std::string& name);

// Why writing `name` at `path` there failed: where the file system does not allow the name, that
// is the reason given, whatever error it answered with (exFAT's driver answers "no such file").
Failure TargetNameFailure(const TargetFileSystem& target, const std::string& path,
                          const std::string& name, int error);

// The room a file of `size` bytes takes there, in whole blocks.
std::uint64_t SpaceFor(const TargetFileSystem& target, std::uint64_t size);

} // namespace join
