#pragma once

#include "join/fs/posixfs.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The names of the temporary files and links the engine makes in an output folder, which say
// who made them, and the removal of those whose maker has ended: a run killed mid-copy where the
// file system has no unnamed files (FUSE, network shares) leaves its partial file under such a
// name.
namespace join {

// The process that made a temporary name, as the name carries it. `machine` and `boot` are the
// first 12 hex digits of /etc/machine-id (or /var/lib/dbus/machine-id) and of the kernel's boot
// id; `pidNamespace` the hex inode of the process's PID namespace, so that a process in a sandbox
// of its own (which shares the machine and the boot) is not taken for the one with its number
// outside; `start` the process's start time after boot, in clock ticks (field 22 of
// /proc/PID/stat), which tells it from a later process given the same number.
struct TemporaryMaker {
    std::string machine;
    std::string boot;
    std::string pidNamespace;
    std::uint64_t pid = 0;
    std::uint64_t start = 0;
    bool operator==(const TemporaryMaker&) const = default;
};

// This process as a maker; nullopt where /proc does not tell the boot, the start time or the
// PID namespace, or numbers processes as another PID namespace does. Where neither machine id
// can be read, the boot stands for the machine too: such a machine's names from an earlier boot
// then read as another machine's, and are left alone.
std::optional<TemporaryMaker> thisProcessAsMaker();

// A temporary regular file, or a link copy's temporary symbolic link.
enum class TemporaryKind { File, Link };

// A fresh name for a temporary of this process:
//     .brimvale-<machine>-<boot>-<pid namespace>-<pid>-<start>-<8 random letters>.tmp
// with ".link.tmp" at the end for a symbolic link; lower-case letters, digits, "-" and "." only,
// as FAT and exFAT allow, and at most 102 bytes. Where thisProcessAsMaker() is nullopt the name is
// ".brimvale-<12 random letters>.tmp", which never reads as ours and is never removed by
// removeEndedTemporariesIn().
std::string temporaryName(TemporaryKind kind);
// The same with the given maker, to write names of other makers (tests).
std::string temporaryName(const TemporaryMaker& maker, TemporaryKind kind);

// What a name of the form above says; nullopt for any other name.
struct TemporaryNameParts {
    TemporaryMaker maker;
    TemporaryKind kind = TemporaryKind::File;
};
std::optional<TemporaryNameParts> parseTemporaryName(std::string_view name);

// Removes the name `name` from the open folder `folder` (never a folder itself; a link is
// removed, not followed), repeating a call a signal interrupted. 0 once the name is gone, also
// when it was gone already; else the errno value.
int removeTemporaryName(int folder, const std::string& name);

// What removeEndedTemporariesIn() did: how many names it removed and those it found ended but
// could not remove, each with the errno value (a name "" stands for the folder itself, when it
// could not be listed). A caller reports one as copyFailure(FOLDER + "/" + name, error).
struct TemporaryRemoval {
    struct Refusal {
        std::string name;
        int error = 0;
        bool operator==(const Refusal&) const = default;
    };
    std::size_t removed = 0;
    std::vector<Refusal> refused;
};

// Removes from the open folder `folder` the temporaries of ours whose maker has ended, and only
// those, without looking below the folder.
//
// Removed: a name that parseTemporaryName() reads, that is a regular file (TemporaryKind::File)
// or a symbolic link (TemporaryKind::Link) as its own entry, and whose maker has ended: it ran
// on this machine and either in another boot, or in this boot and PID namespace while no process
// with its number lives now (a zombie has ended), or the one that does started at another time.
// Nothing is removed where thisProcessAsMaker() is nullopt.
//
// Left alone: every other name, those of earlier versions of the program included; a name made
// on another machine (a shared network folder), in another PID namespace of this boot, or by a
// process that still runs (this one included); a name whose maker cannot be told (its /proc
// entry hidden from this user); a folder, a pipe, a socket or a device under such a name, a
// symbolic link under a file's name and a file under a link's. Links are never followed, and a
// folder is never removed.
//
// Cost: a name that does not begin with ".brimvale-" costs one comparison of its first bytes. A
// name of ours costs its parsing and, once per maker's process number in the call, at most a
// kill(pid, 0) and a read of /proc/PID/stat; each ended one a fstatat() and an unlinkat(). The
// first overload reads the folder's listing through a descriptor of its own (the caller's
// position is not moved); the second takes a listing the caller already has, of that folder
// (readListingAt()), whose types let folders and special files pass without a call.
TemporaryRemoval removeEndedTemporariesIn(int folder);
TemporaryRemoval removeEndedTemporariesIn(int folder, const std::vector<FolderEntry>& entries);

} // namespace join
