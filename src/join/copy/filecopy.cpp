#include "join/copy/filecopy.h"

#include "join/copy/contents.h"
#include "join/fs/attributes.h"
#include "join/fs/closebatch.h"
#include "join/fs/failure.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/fs/posixinternal.h"
#include "join/fs/targetfs.h"
#include "join/fs/targetnames.h"
#include "join/fs/temporaries.h"
#include "join/tasks/workers.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

// The single-file copy (the temporary file it is written to, or its own name, and its placing), the
// link copy and the final flush.
namespace join {

using namespace posix;

namespace {

// ---- The temporary file a copy is written to ----

// Whether `name` in `folder` already is a copy of the regular file `source`: a regular file
// (not a link) that this user can read, of its size and modification time as far as a file
// system that keeps times to `timeStep` nanoseconds keeps it.
bool isCopyOf(const struct stat& st, const struct stat& source, std::int64_t timeStep) {
    return S_ISREG(st.st_mode) && st.st_size == source.st_size &&
           sameModificationTime(source.st_mtim, st.st_mtim, timeStep) && mayRead(st);
}

bool isCopyOf(int folder, const std::string& name, const struct stat& source,
              std::int64_t timeStep) {
    struct stat st {};
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           isCopyOf(st, source, timeStep);
}

CopyOutcome alreadyThere(const struct stat& source) {
    return {CopyOutcome::Result::AlreadyThere, 0, Side::Target,
            static_cast<std::uint64_t>(source.st_size), fingerprintOf(source)};
}

// Whether the destination `toName` in `to` (a regular file, not a link) holds the bytes of the
// regular file `name` in `from`, which has `size` bytes.
bool holdsSourceBytes(int from, const std::string& name, FollowLink follow, int to,
                      const std::string& toName, std::uint64_t size) {
    const int noFollow = follow == FollowLink::Yes ? 0 : O_NOFOLLOW;
    const Descriptor in(::openat(from, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | noFollow));
    const Descriptor there(
        ::openat(to, toName.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    return in.valid() && there.valid() && holdSameBytes(in.get(), there.get(), size);
}

// With IfDestinationExists::KeepCopy: whether the destination already holds the source's copy,
// as `history` and a look at the destination (`isCopy`, its size and time) tell it. `sameBytes`
// looks at the bytes, only where size and time cannot tell the source's copy from another file's
// of the run.
bool holdsCopy(const struct stat& source, const PlaceHistory& history, bool isCopy,
               const std::function<bool()>& sameBytes) {
    if (history.earlier && *history.earlier == fingerprintOf(source))
        return true;
    if (!isCopy)
        return false;
    return (!history.earlier && !history.contested) || sameBytes();
}

// Whether `name` in `folder` is the file `file` itself (another name of it). A link there is
// never the file, even when it leads to it: it is replaced by a real copy, so that the output
// does not lose the data with the source.
bool isSameFile(int folder, const std::string& name, const struct stat& file) {
    struct stat st {};
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           st.st_dev == file.st_dev && st.st_ino == file.st_ino;
}

// Links the open unnamed file `fd` into `folder` as `name`; fails with EEXIST when the name is
// taken. Naming the descriptor itself (AT_EMPTY_PATH) skips a walk through /proc but needs a
// recent kernel or privileges; whichever way worked last is tried first.
bool linkUnnamed(int fd, int folder, const std::string& name) {
    static std::atomic<bool> descriptorFirst{true};
    const auto byDescriptor = [&] {
        return ::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0;
    };
    const auto byProc = [&] {
        const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
        return ::linkat(AT_FDCWD, procPath.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    };
    const bool first = descriptorFirst.load(std::memory_order_relaxed);
    if (first ? byDescriptor() : byProc())
        return true;
    if (errno == EEXIST)
        return false;
    const int firstError = errno;
    if (first ? byProc() : byDescriptor()) {
        descriptorFirst.store(!first, std::memory_order_relaxed);
        return true;
    }
    // The walk through /proc names the real reason; the descriptor's refusal may only mean that
    // it is not allowed.
    if (first)
        return false;
    errno = errno == EEXIST ? EEXIST : firstError;
    return false;
}

// Whether the names `a` and `b` in `folder` are the same file (links not followed).
bool isSameFileAt(int folder, const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::fstatat(folder, a.c_str(), &first, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstatat(folder, b.c_str(), &second, AT_SYMLINK_NOFOLLOW) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Puts the named file `from` in `folder` at `name` unless something has that name: in one step
// where the file system can (RENAME_NOREPLACE, or a hard link), else by looking first. On failure
// errno says why, and `name` is as it was unless the file system refuses to remove even the link
// just made.
bool renameWithoutReplacing(int folder, const std::string& from, const std::string& name) {
    if (::renameat2(folder, from.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    if (::linkat(folder, from.c_str(), folder, name.c_str(), 0) == 0) {
        // Both names now lead to the file. Where the temporary name cannot be removed, the new
        // one is, so that the file does not stay under a second name.
        const int error = removeTemporaryName(folder, from);
        if (error == 0)
            return true;
        if (isSameFileAt(folder, name, from))
            removeTemporaryName(folder, name);
        errno = error;
        return false;
    }
    if (errno == EEXIST)
        return false;
    // Neither (FAT, exFAT and other file systems without links): look, then rename.
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(folder, from.c_str(), folder, name.c_str()) == 0;
}

// A file being written in the destination's folder: unnamed (O_TMPFILE) where the file system
// allows it, else under a unique hidden name. Until it is placed, nothing of it is visible under
// the destination's name, and a file that is never placed is removed.
class TemporaryFile {
public:
    TemporaryFile(int folder, mode_t mode) : m_folder(folder) {
        if (unnamedFilesCanBeLinked()) {
            m_fd.reset(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
            if (m_fd.valid())
                return;
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = temporaryName(TemporaryKind::File);
            m_fd.reset(::openat(folder, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
            if (m_fd.valid()) {
                m_name = std::move(name);
                return;
            }
            if (errno != EEXIST)
                return;
        }
    }

    ~TemporaryFile() {
        m_fd.reset();
        // A name that cannot be removed stays as this process's temporary: once the process has
        // ended, removeEndedTemporariesIn() removes it.
        if (!m_name.empty())
            removeTemporaryName(m_folder, m_name);
    }

    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }

    // Network and FUSE file systems may report a failed write only when the file is closed.
    // Closing a second descriptor of the file hands over every write, so that such a failure is
    // known before the file gets its name.
    int finishWrites() {
        const int second = ::fcntl(m_fd.get(), F_DUPFD_CLOEXEC, 0);
        if (second < 0)
            return lastError();
        return ::close(second) == 0 ? 0 : lastError();
    }

    // Gives the finished file its final name: in one step where the name is free (the usual case
    // in a fresh output folder); with IfDestinationExists::Fail the check and the naming are
    // always one step. An existing entry is replaced only with IfDestinationExists::Replace, and
    // never when it is the source itself; a name the caller knows to be `free` is not looked at.
    CopyOutcome placeAs(const std::string& name, IfDestinationExists ifExists,
                        const struct stat& source, bool free) {
        const bool unnamed = m_name.empty();
        if (unnamed || ifExists == IfDestinationExists::Fail) {
            if (unnamed ? linkUnnamed(m_fd.get(), m_folder, name)
                        : renameWithoutReplacing(m_folder, m_name, name)) {
                if (!unnamed)
                    m_name.clear();
                return {CopyOutcome::Result::Copied, 0, Side::Target};
            }
            if (errno != EEXIST)
                return {CopyOutcome::Result::Failed, lastError(), Side::Target};
        }
        // Something has the name already, or may have.
        if (!free && isSameFile(m_folder, name, source))
            return {CopyOutcome::Result::SameFile, 0, Side::Target};
        if (ifExists == IfDestinationExists::Fail)
            return {CopyOutcome::Result::Failed, EEXIST, Side::Target};
        if (unnamed && !giveTemporaryName())
            return {CopyOutcome::Result::Failed, lastError(), Side::Target};
        if (::renameat(m_folder, m_name.c_str(), m_folder, name.c_str()) != 0)
            return {CopyOutcome::Result::Failed, lastError(), Side::Target};
        m_name.clear();
        return {CopyOutcome::Result::Copied, 0, Side::Target};
    }

private:
    // Links the unnamed file into the folder under a fresh hidden name.
    bool giveTemporaryName() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = temporaryName(TemporaryKind::File);
            if (linkUnnamed(m_fd.get(), m_folder, name)) {
                m_name = std::move(name);
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    int m_folder;
    Descriptor m_fd;
    std::string m_name;
};

CopyOutcome failed(int error, Side side) {
    return {CopyOutcome::Result::Failed, error, side};
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether the file was last changed so lately that a write while it is copied might leave its
// times as they were: the kernel stamps a write with a clock that moves in ticks of some
// milliseconds, so only a file changed within the last second or so can be written again within
// the same tick. A file changed before that shows any later write in its times.
bool changedLately(const struct stat& file) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return file.st_mtim.tv_sec + 1 >= now.tv_sec;
}

// Hears of every write to a file while it is copied, where its times could miss one: an inotify
// watch, on an instance of the thread's own, so that what it reads is this file's alone.
class WriteWatch {
public:
    // Watches the open file `fd`; does nothing where no watch can be made.
    explicit WriteWatch(int fd) {
        thread_local const Descriptor instance(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        m_instance = instance.get();
        if (m_instance < 0)
            return;
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        m_watch = ::inotify_add_watch(m_instance, path.c_str(), IN_MODIFY);
    }
    ~WriteWatch() {
        if (m_watch < 0)
            return;
        ::inotify_rm_watch(m_instance, m_watch);
        wasWritten(); // reads what is left, the watch's end included
    }
    WriteWatch(const WriteWatch&) = delete;
    WriteWatch& operator=(const WriteWatch&) = delete;

    bool watching() const { return m_watch >= 0; }
    // Whether the file was written since the watch began.
    bool wasWritten() {
        bool written = false;
        alignas(struct inotify_event) char buffer[4096];
        for (ssize_t length; (length = ::read(m_instance, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
                written = written || (event->wd == m_watch && (event->mask & IN_MODIFY) != 0);
                at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            }
        }
        return written;
    }

private:
    int m_instance = -1;
    int m_watch = -1;
};

// Writes the open source `in`, as `before` says it was, into the empty file `out`: the contents,
// the proof that the source did not change meanwhile, and its times.
ContentFailure writeCopy(RangeCopier& copier, int in, int out, const struct stat& before) {
    // A file changed lately is watched from before its status is taken again: a write after that
    // is heard of, one before shows in the status.
    std::optional<WriteWatch> watch;
    if (changedLately(before)) {
        watch.emplace(in);
        struct stat now {};
        if (watch->watching() &&
            (::fstat(in, &now) != 0 || now.st_size != before.st_size ||
             !sameTime(now.st_mtim, before.st_mtim) || !sameTime(now.st_ctim, before.st_ctim)))
            return {SourceChanged, Side::Source};
    }
    struct stat after {};
    if (const ContentFailure failure = copyContents(copier, in, out, before.st_size, after);
        failure.error != 0)
        return failure;
    // A source rewritten in place at the same size shows in its times, or to the watch.
    if (after.st_size != before.st_size || !sameTime(after.st_mtim, before.st_mtim) ||
        !sameTime(after.st_ctim, before.st_ctim) || (watch && watch->wasWritten()))
        return {SourceChanged, Side::Source};
    // The times are kept where the file system can hold them; the contents are what counts.
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ::futimens(out, times);
    return {};
}

// The copy's steps once its temporary file is made: the contents, the checks, the attributes
// (before the name, so that nothing shows under it without them), the name.
CopyOutcome placeCopy(RangeCopier& copier, TemporaryFile& temporary, int in,
                      const struct stat& before, const std::string& name,
                      IfDestinationExists ifExists, bool free, const Keeping& keeping) {
    if (const ContentFailure failure = writeCopy(copier, in, temporary.fd(), before);
        failure.error != 0)
        return failed(failure.error, failure.side);
    keepAttributes(in, before, temporary.fd(), keeping);
    if (const int error = temporary.finishWrites(); error != 0)
        return failed(error, Side::Target);
    if (stopRequested())
        return failed(ECANCELED, Side::Target);
    return temporary.placeAs(name, ifExists, before, free);
}

// Copies the open regular file `in`, as it was when `before` was read, to `name` in `folder`,
// which is `free` where the caller knows that nothing has that name.
CopyOutcome copyOpenFile(int in, const struct stat& before, int folder, const std::string& name,
                         IfDestinationExists ifExists, std::atomic<std::uint64_t>* progress,
                         bool free, const Keeping& keeping) {
    // The new file gets the source's permission bits through the umask as it is made.
    TemporaryFile temporary(folder, before.st_mode & 0777);
    if (!temporary.valid())
        return failed(lastError(), Side::Target);
    RangeCopier copier(in, temporary.fd(), CopyMethod::CopyFileRange, progress);
    CopyOutcome outcome = placeCopy(copier, temporary, in, before, name, ifExists, free, keeping);
    if (outcome.result == CopyOutcome::Result::Copied)
        outcome.bytes = static_cast<std::uint64_t>(before.st_size);
    else
        copier.withdrawProgress();
    return outcome;
}

// A file written under its own name rather than a temporary one: small enough to be written at
// once, and last changed more than a second before now. Until its copy ends such a file has the
// size written so far and the time of its writes, never the source's time, so that a copy cut
// short by a kill is never taken for one already there.
constexpr off_t InPlaceLimit = off_t{1} << 20;

bool mayWriteInPlace(const struct stat& source) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return source.st_size <= InPlaceLimit && source.st_mtim.tv_sec + 1 < now.tv_sec;
}

// Writes the copy of the open regular file `in` under its own name `name` in `folder`, where
// nothing has that name: made with O_EXCL, so that nothing is ever replaced, and removed again
// when the copy fails or a stop comes before it is done. `taken` is set when something has the
// name after all; nothing is written then.
CopyOutcome copyInPlace(int in, const struct stat& before, int folder, const std::string& name,
                        std::atomic<std::uint64_t>* progress, TargetReach reach,
                        const Keeping& keeping, bool& taken) {
    Descriptor out(::openat(folder, name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            before.st_mode & 0777));
    if (!out.valid()) {
        taken = errno == EEXIST;
        return failed(lastError(), Side::Target);
    }
    RangeCopier copier(in, out.get(), CopyMethod::CopyFileRange, progress);
    // Under its own name: never left partly written by a pause.
    copier.holdAtPause(false);
    ContentFailure failure = writeCopy(copier, in, out.get(), before);
    if (failure.error == 0 && stopRequested())
        failure = {ECANCELED, Side::Target};
    if (failure.error == 0)
        keepAttributes(in, before, out.get(), keeping);
    // Behind a link a write is sent on and its failure told when the file is closed, which that
    // file system's one flush of the file does: the copy is whole only once the close succeeds.
    if (failure.error == 0 && reach == TargetReach::Remote && ::close(out.release()) != 0)
        failure = {lastError(), Side::Target};
    if (failure.error == 0) {
        // A local file system has no flush of its own that a close could report: a write error
        // shows in the run's final flush.
        if (out.valid())
            closeLater(out.release());
        return {CopyOutcome::Result::Copied, 0, Side::Target,
                static_cast<std::uint64_t>(before.st_size)};
    }
    out.reset();
    ::unlinkat(folder, name.c_str(), 0);
    copier.withdrawProgress();
    return failed(failure.error, failure.side);
}

// Makes the link `toName` in `to` with the target text of the link `name` in `from`.
CopyOutcome makeLinkAt(int from, const std::string& name, int to, const std::string& toName) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t length = ::readlinkat(from, name.c_str(), target.data(), target.size());
        if (length < 0)
            return failed(lastError(), Side::Source);
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            break;
        }
        target.resize(target.size() * 2);
    }
    if (::symlinkat(target.c_str(), to, toName.c_str()) == 0)
        return {CopyOutcome::Result::Copied, 0, Side::Target};
    if (errno != EEXIST)
        return failed(lastError(), Side::Target);
    if (FolderEntry::Type type = FolderEntry::Type::Other;
        readEntryTypeAt(to, toName, type) == 0 && type == FolderEntry::Type::Folder)
        return failed(EISDIR, Side::Target);
    // Something else has the name: the link is made under a fresh name beside it and renamed
    // into place, so that the name never stands empty and nothing else is touched.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = temporaryName(TemporaryKind::Link);
        if (::symlinkat(target.c_str(), to, temporary.c_str()) != 0) {
            if (errno == EEXIST)
                continue;
            return failed(lastError(), Side::Target);
        }
        if (::renameat(to, temporary.c_str(), to, toName.c_str()) == 0)
            return {CopyOutcome::Result::Copied, 0, Side::Target};
        const int error = lastError();
        removeTemporaryName(to, temporary);
        return failed(error, Side::Target);
    }
    return failed(EEXIST, Side::Target);
}

} // namespace

bool copyOneFile(const std::string& source, const std::string& destination,
                 IfDestinationExists ifExists) {
    int error = 0;
    try {
        const std::size_t last = destination.rfind(Separator);
        const std::string folder = last == std::string::npos ? "."
                                   : last == 0               ? std::string(1, Separator)
                                                             : destination.substr(0, last);
        const std::string name =
            last == std::string::npos ? destination : destination.substr(last + 1);
        Descriptor to;
        if (!isUsablePath(source) || !isUsablePath(destination))
            error = unusablePathError(isUsablePath(source) ? destination : source);
        else if (!isPlainName(name))
            error = EISDIR;
        else if (to = openFolder(folder); !to.valid())
            error = to.error();
        else {
            const CopyOutcome outcome =
                copyFileAt(AT_FDCWD, source, FollowLink::Yes, to.get(), name, ifExists);
            error = outcome.result == CopyOutcome::Result::Copied     ? 0
                    : outcome.result == CopyOutcome::Result::SameFile ? EINVAL
                    : outcome.error == SourceChanged                  ? EAGAIN
                                                                      : outcome.error;
        }
    } catch (const std::exception&) {
        error = ENOMEM;
    }
    // Set after every descriptor and temporary name is gone, so that nothing overwrites it.
    if (error != 0)
        errno = error;
    return error == 0;
}

// ---- Copies between open folders ----

CopyOutcome copyFileAt(int from, const std::string& name, FollowLink follow, int to,
                       const std::string& toName, IfDestinationExists ifExists,
                       std::atomic<std::uint64_t>* progress, std::int64_t timeStep, InPlace inPlace,
                       const PlaceHistory& history, TargetReach reach, const Keeping& keeping) {
    if (stopRequested())
        return failed(ECANCELED, Side::Target);
    if (!isUsablePath(name))
        return failed(unusablePathError(name), Side::Source);
    if (!isPlainName(toName))
        return failed(toName.empty() ? ENOENT : EISDIR, Side::Target);

    // Whether nothing has the destination's name: known in a folder this copy made, unless this
    // run has had the place, else one look tells when the copy would keep what is there.
    bool free = inPlace == InPlace::Fresh && !history.earlier;
    struct stat there {};
    bool looked = false;
    if (inPlace == InPlace::WhereFree && ifExists == IfDestinationExists::KeepCopy) {
        looked = ::fstatat(to, toName.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0;
        free = !looked && errno == ENOENT;
    }

    // Only a regular file is opened: opening a pipe or a device could block or act on it. The
    // listing said what the name is; O_NONBLOCK keeps a pipe swapped in meanwhile from blocking,
    // and the open file is checked again.
    struct stat before {};
    if (!free) {
        const int noFollow = follow == FollowLink::Yes ? 0 : AT_SYMLINK_NOFOLLOW;
        if (::fstatat(from, name.c_str(), &before, noFollow) != 0)
            return failed(lastError(), Side::Source);
        if (!S_ISREG(before.st_mode))
            return failed(S_ISDIR(before.st_mode) ? EISDIR : EINVAL, Side::Source);
        if (ifExists == IfDestinationExists::KeepCopy &&
            holdsCopy(before, history,
                      looked ? isCopyOf(there, before, timeStep)
                             : isCopyOf(to, toName, before, timeStep),
                      [&] {
                          return holdsSourceBytes(from, name, follow, to, toName,
                                                  static_cast<std::uint64_t>(before.st_size));
                      }))
            return alreadyThere(before);
    }
    const IfDestinationExists otherwise =
        ifExists == IfDestinationExists::KeepCopy ? IfDestinationExists::Replace : ifExists;
    Descriptor in(::openat(from, name.c_str(),
                           O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                               (follow == FollowLink::Yes ? 0 : O_NOFOLLOW)));
    if (!in.valid() || ::fstat(in.get(), &before) != 0)
        return failed(lastError(), Side::Source);
    if (!S_ISREG(before.st_mode))
        return failed(S_ISDIR(before.st_mode) ? EISDIR : EINVAL, Side::Source);
    if ((free || (inPlace == InPlace::WhereFree && ifExists != IfDestinationExists::KeepCopy)) &&
        mayWriteInPlace(before)) {
        bool taken = false;
        CopyOutcome outcome =
            copyInPlace(in.get(), before, to, toName, progress, reach, keeping, taken);
        if (outcome.result == CopyOutcome::Result::Copied) {
            // Batched closes save calls where calls are what a copy costs; behind a link they
            // would only keep many threads' descriptors open at once.
            if (reach == TargetReach::Local)
                closeLater(in.release());
            outcome.source = fingerprintOf(before);
        }
        if (!taken)
            return outcome;
        // Something has the name after all: it is judged as in any folder, through a temporary
        // file.
        if (free) {
            in.reset();
            return copyFileAt(from, name, follow, to, toName, ifExists, progress, timeStep,
                              InPlace::Never, history, reach, keeping);
        }
    }
    CopyOutcome outcome =
        copyOpenFile(in.get(), before, to, toName, otherwise, progress, free, keeping);
    if (outcome.result == CopyOutcome::Result::Copied)
        outcome.source = fingerprintOf(before);
    return outcome;
}

CopyOutcome foreseeFileAt(int from, const std::string& name, const std::string& sourcePath,
                          FollowLink follow, const OutputFolder& to, const std::string& toName,
                          std::uint64_t place, IfDestinationExists ifExists, std::int64_t timeStep,
                          const PlaceHistory& history, ForeseenOutput& foreseen) {
    if (stopRequested())
        return failed(ECANCELED, Side::Target);
    if (!isUsablePath(name))
        return failed(unusablePathError(name), Side::Source);
    if (!isPlainName(toName))
        return failed(toName.empty() ? ENOENT : EISDIR, Side::Target);
    const SeenAtPlace seen = seeAt(&foreseen, to, toName, place);
    struct stat before {};
    const int noFollow = follow == FollowLink::Yes ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::fstatat(from, name.c_str(), &before, noFollow) != 0)
        return failed(lastError(), Side::Source);
    if (!S_ISREG(before.st_mode))
        return failed(S_ISDIR(before.st_mode) ? EISDIR : EINVAL, Side::Source);
    if (ifExists == IfDestinationExists::KeepCopy && seen.kind == SeenAtPlace::Kind::File) {
        // A copy the run would have made holds its source's bytes and time, as the file system
        // keeps the time.
        struct stat copy = seen.status;
        if (seen.foreseen) {
            copy.st_mode = S_IFREG | 0600;
            copy.st_size = static_cast<off_t>(seen.foreseen->size);
            copy.st_mtim = keptTime(seen.foreseen->time, timeStep);
        }
        const auto sameBytes = [&] {
            const auto size = static_cast<std::uint64_t>(before.st_size);
            if (!seen.foreseen)
                return holdsSourceBytes(from, name, follow, to.fd, toName, size);
            const Descriptor in(::openat(from, name.c_str(),
                                         O_RDONLY | O_NONBLOCK | O_CLOEXEC |
                                             (follow == FollowLink::Yes ? 0 : O_NOFOLLOW)));
            const Descriptor other(
                ::open(seen.foreseen->source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
            return in.valid() && other.valid() && holdSameBytes(in.get(), other.get(), size);
        };
        if (holdsCopy(before, history, isCopyOf(copy, before, timeStep), sameBytes))
            return alreadyThere(before);
    }
    // The source is opened for reading, as the copy opens it.
    Descriptor in(::openat(from, name.c_str(),
                           O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                               (follow == FollowLink::Yes ? 0 : O_NOFOLLOW)));
    if (!in.valid() || ::fstat(in.get(), &before) != 0)
        return failed(lastError(), Side::Source);
    if (!S_ISREG(before.st_mode))
        return failed(S_ISDIR(before.st_mode) ? EISDIR : EINVAL, Side::Source);
    if (to.refusal != 0)
        return failed(to.refusal, Side::Target);
    if (seen.kind == SeenAtPlace::Kind::Folder)
        return failed(EISDIR, Side::Target);
    if (!seen.foreseen && seen.kind == SeenAtPlace::Kind::File &&
        seen.status.st_dev == before.st_dev && seen.status.st_ino == before.st_ino &&
        ifExists != IfDestinationExists::Fail)
        return {CopyOutcome::Result::SameFile, 0, Side::Target};
    if (seen.kind != SeenAtPlace::Kind::Nothing && ifExists == IfDestinationExists::Fail)
        return failed(EEXIST, Side::Target);
    foreseen.put(place,
                 {ForeseenThing::Kind::File, sourcePath, static_cast<std::uint64_t>(before.st_size),
                  before.st_mtim, fingerprintOf(before)});
    return {CopyOutcome::Result::Copied, 0, Side::Target,
            static_cast<std::uint64_t>(before.st_size), fingerprintOf(before)};
}

CopyOutcome copyLinkAt(int from, const std::string& name, int to, const std::string& toName,
                       const Keeping& keeping) {
    if (!isPlainName(name))
        return failed(EINVAL, Side::Source);
    if (!isPlainName(toName))
        return failed(EINVAL, Side::Target);
    // The link's own status, for the times and owner it keeps.
    struct stat source {};
    if (keeping.tally && ::fstatat(from, name.c_str(), &source, AT_SYMLINK_NOFOLLOW) != 0)
        return failed(lastError(), Side::Source);
    CopyOutcome outcome = makeLinkAt(from, name, to, toName);
    if (keeping.tally && outcome.result == CopyOutcome::Result::Copied)
        keepLinkAttributes(source, to, toName, keeping);
    return outcome;
}

CopyOutcome foreseeLinkAt(int from, const std::string& name, const OutputFolder& to,
                          const std::string& toName, std::uint64_t place, bool linksKept,
                          ForeseenOutput& foreseen) {
    if (!isPlainName(name))
        return failed(EINVAL, Side::Source);
    if (!isPlainName(toName))
        return failed(EINVAL, Side::Target);
    char target[1];
    if (::readlinkat(from, name.c_str(), target, sizeof target) < 0)
        return failed(lastError(), Side::Source);
    if (!linksKept)
        return failed(EPERM, Side::Target);
    if (to.refusal != 0)
        return failed(to.refusal, Side::Target);
    if (seeAt(&foreseen, to, toName, place).kind == SeenAtPlace::Kind::Folder)
        return failed(EISDIR, Side::Target);
    foreseen.put(place, {ForeseenThing::Kind::Link, {}, 0, {}, 0});
    return {CopyOutcome::Result::Copied, 0, Side::Target};
}

std::uint64_t fingerprintOf(const struct stat& source) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const std::uint64_t part :
         {static_cast<std::uint64_t>(source.st_dev), static_cast<std::uint64_t>(source.st_ino),
          static_cast<std::uint64_t>(source.st_size),
          static_cast<std::uint64_t>(source.st_mtim.tv_sec),
          static_cast<std::uint64_t>(source.st_mtim.tv_nsec)})
        for (int shift = 0; shift < 64; shift += 8)
            hash = (hash ^ ((part >> shift) & 0xFF)) * 0x100000001b3ULL;
    return hash;
}

int flushFileSystem(int folder) {
    return ::syncfs(folder) == 0 ? 0 : lastError();
}
} // namespace join
