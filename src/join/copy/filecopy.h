#pragma once

#include "join/copy/contents.h"
#include "join/copy/foreseen.h"
#include "join/fs/attributes.h"
#include "join/fs/posixfs.h"
#include "join/fs/targetnames.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

// Copying one file or link: the only place a file is written. The contents go to a temporary
// file (or, where nothing can be lost by it, to the file's own name made for the purpose) and
// are placed only when every byte is written and the source proved unchanged.
namespace join {

// What a copy does with a file already at its destination: replace it, refuse, or replace it
// unless it already is the source's copy (KeepCopy: a regular file this user can read, of the
// source's size and modification time, as far as its file system keeps the time).
enum class IfDestinationExists { Replace, Fail, KeepCopy };

// Copies one file by path; see copyFileAt() for how. Returns true on success; never throws. On
// failure errno says why: EEXIST for an existing destination with IfDestinationExists::Fail,
// EISDIR for a folder, EINVAL for another source that is not a regular file or for a source
// that is the destination itself, EAGAIN for a source that changed while it was copied, else the
// system's reason.
bool copyOneFile(const std::string& source, const std::string& destination,
                 IfDestinationExists ifExists);

// How one copy ended. `error` is an errno value, or SourceChanged.
struct CopyOutcome {
    enum class Result { Copied, SameFile, AlreadyThere, Failed };
    Result result = Result::Failed;
    int error = 0;
    Side side = Side::Source;
    // The file's size, when it was copied or found already there.
    std::uint64_t bytes = 0;
    // The source's fingerprint, when it was copied or found already there.
    std::uint64_t source = 0;

    bool copied() const { return result != Result::Failed; }
};

// A source file as a copy reads it, in 64 bits: its identity, size and modification time.
std::uint64_t fingerprintOf(const struct stat& source);

// What a run knows of a destination's place before the copy: the source whose copy it has put or
// found there already, by fingerprint (PlacedFiles), and whether another file of the run goes to
// that place too. With IfDestinationExists::KeepCopy, a place that holds the same source's copy
// is left alone; where another file of the run may be what the destination holds, a destination
// of the source's size and time is left alone only when it holds the source's bytes.
struct PlaceHistory {
    std::optional<std::uint64_t> earlier;
    bool contested = false;
};

// Whether a copy may be written under the destination's own name instead of a temporary file:
// only on a file system that keeps names as bytes and times to the nanosecond (one the output's
// rules find nothing unusual in), where a write error shows by the time the file is closed, and
// behind a link (a network share, sshfs), where the close of the file tells it. Even then only a
// file of at most 1 MiB last changed more than a second before the copy is written so; it is made
// with O_EXCL, so that it never replaces anything, gets the source's time only once every byte is
// written and the source proved unchanged, and is removed when its copy fails or is stopped. A copy
// cut short by a kill thus leaves a file that has the time of its writes, never the source's, and
// that a later join replaces rather than takes as already there. `WhereFree`: where nothing has the
// name (with IfDestinationExists::KeepCopy one look tells, which the existing-copy check needs
// anyway); `Fresh`: the caller knows nothing has the name (a folder this copy made and alone fills,
// or a name the folder's listing did not show), so nothing is looked up; should something have it
// after all, it is judged as in any folder.
enum class InPlace { Never, WhereFree, Fresh };

// Copies the regular file `name` of the open folder `from` (a link there followed only with
// FollowLink::Yes) to `toName` in the open folder `to`. The copy is written to an unnamed
// (O_TMPFILE) or hidden temporary file beside the destination and given its name only when every
// byte is written and the source proved unchanged, so a failed or stopped copy leaves any
// earlier destination untouched and no partial file. An existing destination is replaced (never
// written through when it is a link), or refused with IfDestinationExists::Fail; a destination
// that is the source itself is left alone and reported as SameFile, and with
// IfDestinationExists::KeepCopy one that already is its copy as AlreadyThere, without opening the
// source. The copy keeps the source's modification time and its permission bits as far as the
// umask lets them through, without setuid, setgid and sticky bits; with `keeping`, it also keeps
// what keepAttributes() (attributes.h) keeps, set before the copy gets its name. Pipes, sockets
// and devices are never opened.
// `progress`, when given, grows by the bytes written as they are written, and shrinks by them
// again when the copy fails. `timeStep` is the step, in nanoseconds, to which the destination's
// file system keeps a modification time (see sameModificationTime). Behind a link (`reach`), where
// a failed write is told only when the file is closed, a copy under its own name is closed before
// it counts as copied.
CopyOutcome copyFileAt(int from, const std::string& name, FollowLink follow, int to,
                       const std::string& toName, IfDestinationExists ifExists,
                       std::atomic<std::uint64_t>* progress = nullptr, std::int64_t timeStep = 1,
                       InPlace inPlace = InPlace::Never, const PlaceHistory& history = {},
                       TargetReach reach = TargetReach::Local, const Keeping& keeping = {});

// What copyFileAt would do with the same file, destination and history, where the writes are
// withheld: every step up to the first write, the source (`name` in `from`, which is
// `sourcePath`) opened for reading and the destination
// looked at as `foreseen` and the disk show it (`to` at place `place`). A copy it foresees is put
// in `foreseen`, so that later looks see it there.
CopyOutcome foreseeFileAt(int from, const std::string& name, const std::string& sourcePath,
                          FollowLink follow, const OutputFolder& to, const std::string& toName,
                          std::uint64_t place, IfDestinationExists ifExists, std::int64_t timeStep,
                          const PlaceHistory& history, ForeseenOutput& foreseen);

// Recreates the link `name` of the open folder `from` as `toName` in `to`, with the same target
// text; neither link is ever followed. An existing file or link of that name is replaced in one
// step; a folder there is refused (EISDIR). With `keeping`, the link keeps its times and, when run
// as root, its owner and group.
CopyOutcome copyLinkAt(int from, const std::string& name, int to, const std::string& toName,
                       const Keeping& keeping = {});

// What copyLinkAt would do, where the writes are withheld; `linksKept` says whether the output's
// file system holds links at all.
CopyOutcome foreseeLinkAt(int from, const std::string& name, const OutputFolder& to,
                          const std::string& toName, std::uint64_t place, bool linksKept,
                          ForeseenOutput& foreseen);

// Writes everything cached for the file system that holds the open folder to its disk. 0 or an
// errno value.
int flushFileSystem(int folder);

} // namespace join
