#pragma once

#include "join/copy/contents.h"
#include "join/fs/posixfs.h"

#include <atomic>
#include <cstdint>
#include <string>
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

    bool copied() const { return result != Result::Failed; }
};

// Whether a copy may be written under the destination's own name instead of a temporary file:
// only on a file system that keeps names as bytes and times to the nanosecond (one the output's
// rules find nothing unusual in), where a write error shows by the time the file is closed. Even
// then only a file of at most 1 MiB last changed more than a second before the copy is written
// so; it is made with O_EXCL, so that it never replaces anything, gets the source's time only
// once every byte is written and the source proved unchanged, and is removed when its copy fails
// or is stopped. A copy cut short by a kill thus leaves a file that has the time of its writes,
// never the source's, and that a later join replaces rather than takes as already there.
// `WhereFree`: where nothing has the name (with IfDestinationExists::KeepCopy one look tells,
// which the existing-copy check needs anyway); `Fresh`: the caller knows nothing has the name (a
// folder this copy made and alone fills), so nothing is looked up; should something have it
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
// umask lets them through, without setuid, setgid and sticky bits. Pipes, sockets and devices are
// never opened.
// `progress`, when given, grows by the bytes written as they are written, and shrinks by them
// again when the copy fails. `timeStep` is the step, in nanoseconds, to which the destination's
// file system keeps a modification time (see sameModificationTime).
CopyOutcome copyFileAt(int from, const std::string& name, FollowLink follow, int to,
                       const std::string& toName, IfDestinationExists ifExists,
                       std::atomic<std::uint64_t>* progress = nullptr, std::int64_t timeStep = 1,
                       InPlace inPlace = InPlace::Never);

// Recreates the link `name` of the open folder `from` as `toName` in `to`, with the same target
// text; neither link is ever followed. An existing file or link of that name is replaced in one
// step; a folder there is refused (EISDIR).
CopyOutcome copyLinkAt(int from, const std::string& name, int to, const std::string& toName);

// Writes everything cached for the file system that holds the open folder to its disk. 0 or an
// errno value.
int flushFileSystem(int folder);

// True when `destination` already is a copy of the regular file `source` (links followed), as
// IfDestinationExists::KeepCopy tells it, on a file system that keeps times to `timeStep`
// nanoseconds. Never fails.
bool isAlreadyCopied(const std::string& source, const std::string& destination,
                     std::int64_t timeStep);

} // namespace join
