#pragma once

#include "join/fs/targetnames.h"
#include "join/fs/targetvolume.h"

#include <cstdint>
#include <optional>
#include <string>

// What the output folder's file system is, found before anything is copied: its type from the
// mount table, statfs and, for a FUSE volume, udev's database or the device's own first sector;
// whether it ignores case; and the step it keeps times to, by type or by a probe. The rules that
// follow from it are in targetnames.h.
namespace join {

// Examines the file system that holds `folder`. Throws Failure when the folder cannot be
// examined at all; what cannot be told keeps the defaults of TargetFileSystem. What a FUSE
// volume of a block device ("fuseblk") really is, is read from udev's database (targetvolume.h),
// else from the device's first sector (which takes root); where neither tells, whether it
// ignores case is found by making a fresh name in the folder, looking it up in the other case,
// and removing it. The time step of FUSE
// and network file systems, of types it does not know, and of those that keep nanoseconds as a rule
// but show the folder's own change time in whole seconds (ext4 with 128-byte inodes) is probed
// in the folder (probeTimeStep); where that cannot write, the type tells it, or 1 ns. sshfs keeps
// whole seconds, as its protocol carries them, and is not probed.
TargetFileSystem examineTargetFileSystem(const std::string& folder);
// The same, with udev's database read from the folder `udevData`.
TargetFileSystem examineTargetFileSystemFrom(const std::string& folder,
                                             const std::string& udevData);

// The same, but only where the file system follows rules of its own in names or times: FAT,
// exFAT, NTFS, HFS, reiserfs, FUSE and network file systems, those that ignore case, case-folded
// folders, and folders whose own change time is in whole seconds. Nothing for the usual file
// systems, which take any name the source could hold and keep times to the nanosecond: nullopt
// means a time step of 1 ns. That answer costs a few calls.
std::optional<TargetFileSystem> examineUnusualTarget(const std::string& folder);

// The step in nanoseconds to which the file system that holds `folder` keeps a modification time,
// found by trying: a fresh hidden file is made there, its times are set to an odd second and
// 123456789 ns, and after it is closed they are read back by name, fresh from the file system
// (not from FUSE's cache), and the file is removed. nullopt when nothing can be made or timed
// there (read-only, no permission).
std::optional<std::int64_t> probeTimeStep(const std::string& folder);

// Where a file system of the mount table's type `mountType` ("fuse.sshfs", "nfs4", "fuseblk")
// keeps its files: behind a link for network shares and for FUSE daemons other than those of a
// block device, on this machine for everything else.
TargetReach reachOfMountType(const std::string& mountType);

// The type of the file system that holds `folder`, as the mount table names it ("ext4", "tmpfs"):
// a cheap look that writes nothing. Empty when it cannot be told.
std::string fileSystemTypeOf(const std::string& folder);

// Whether this process can give an unnamed file (O_TMPFILE) a name: that goes through /proc,
// which needs no special privileges. Read once for the process.
bool unnamedFilesCanBeLinked();

// Whether copies into the open folder are written to unnamed files (O_TMPFILE), which vanish
// with the process that made them, rather than to hidden temporary names. Asks by making one, once
// for each file system: the answer is kept for the process. A device that comes back with another
// file system at worst keeps the old answer, which only decides where ended temporaries are looked
// for.
bool unnamedFilesIn(int folder);

} // namespace join
