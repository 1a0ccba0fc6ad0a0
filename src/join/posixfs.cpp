#include "posixfs.h"

#include "failure.h"
#include "paths.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <memory>
#include <random>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace join {

void Descriptor::reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

namespace {

std::atomic<bool> g_stopRequested{false};

// A path the system can be asked about: not empty, and no NUL byte that would silently cut it.
bool isUsablePath(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

int unusablePathError(const std::string& path) {
    return path.empty() ? ENOENT : EINVAL;
}

void requireUsablePath(const std::string& path) {
    if (!isUsablePath(path))
        throw failureFromErrno(unusablePathError(path));
}

// A name inside a folder: one level, not "." or "..", no separator and no NUL.
bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find(Separator) == std::string::npos && name.find('\0') == std::string::npos;
}

// The reason the last call failed, never 0.
int lastError() {
    return errno != 0 ? errno : EIO;
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Hidden and system bits kept by FAT volumes; 0 everywhere else.
int fatAttributes(const std::string& path) {
    struct statfs volume {};
    if (::statfs(path.c_str(), &volume) != 0 || volume.f_type != MSDOS_SUPER_MAGIC)
        return 0;
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::uint32_t fat = 0;
    if (!fd.valid() || ::ioctl(fd.get(), FAT_IOCTL_GET_ATTRIBUTES, &fat) != 0)
        return 0;
    int attributes = 0;
    if (fat & ATTR_HIDDEN)
        attributes |= Attribute::Hidden;
    if (fat & ATTR_SYS)
        attributes |= Attribute::System;
    return attributes;
}

// ---- Moving file contents ----

// Small enough that a stop request is seen within a fraction of a second on a slow disk.
constexpr std::size_t MaxChunk = std::size_t{16} << 20;
constexpr off_t SmallFile = 64 * 1024;
// The read/write buffer stays small enough for the cache: 1 MiB ran at a tenth of the speed.
constexpr std::size_t BufferSize = std::size_t{1} << 18;

bool isMethodUnsupported(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
           error == ENOTSUP || error == EBADF || error == ETXTBSY;
}

// A failure to move bytes and the side it concerns; error 0 means success.
struct ContentFailure {
    int error = 0;
    Side side = Side::Source;
};

// Copies byte ranges between two descriptors at the same offsets, stepping down from
// copy_file_range (which lets the file system clone) to sendfile and then plain reads and writes
// when the system refuses the faster method, when it stops short, or when it fails: only plain
// reads and writes tell whether the source or the target failed.
class RangeCopier {
public:
    RangeCopier(int from, int to, CopyMethod method) : m_from(from), m_to(to), m_method(method) {}

    ContentFailure copy(off_t offset, off_t length) {
        off_t inOffset = offset;
        off_t outOffset = offset;
        while (length > 0) {
            if (g_stopRequested.load(std::memory_order_relaxed))
                return {ECANCELED, Side::Target};
            const std::size_t chunk =
                std::min<std::size_t>(static_cast<std::size_t>(length), MaxChunk);
            ssize_t done = -1;
            ContentFailure failure;
            switch (m_method) {
            case CopyMethod::CopyFileRange:
                done = ::copy_file_range(m_from, &inOffset, m_to, &outOffset, chunk, 0);
                break;
            case CopyMethod::SendFile:
                if (::lseek(m_to, outOffset, SEEK_SET) < 0)
                    return {lastError(), Side::Target};
                done = ::sendfile(m_to, m_from, &inOffset, chunk);
                if (done > 0)
                    outOffset += done;
                break;
            case CopyMethod::ReadWrite:
                done = readWrite(inOffset, outOffset, chunk, failure);
                if (done < 0)
                    return failure;
                break;
            }
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0 && m_method != CopyMethod::ReadWrite) {
                // Refused, stopped short (some file systems answer 0 before the end) or failed:
                // the next method carries on from here.
                m_method =
                    m_method == CopyMethod::CopyFileRange && done < 0 && isMethodUnsupported(errno)
                        ? CopyMethod::SendFile
                        : CopyMethod::ReadWrite;
                continue;
            }
            if (done == 0)
                return {SourceChanged, Side::Source}; // it ended before its size said
            length -= done;
        }
        return {};
    }

private:
    ssize_t readWrite(off_t& inOffset, off_t& outOffset, std::size_t chunk,
                      ContentFailure& failure) {
        if (!m_buffer)
            m_buffer = std::make_unique<char[]>(BufferSize);
        ssize_t got = -1;
        do
            got = ::pread(m_from, m_buffer.get(), std::min(chunk, BufferSize), inOffset);
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            failure = {lastError(), Side::Source};
            return -1;
        }
        ssize_t written = 0;
        while (written < got) {
            const ssize_t n =
                ::pwrite(m_to, m_buffer.get() + written, static_cast<std::size_t>(got - written),
                         outOffset + written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                failure = {n == 0 ? EIO : lastError(), Side::Target};
                return -1;
            }
            written += n;
        }
        inOffset += got;
        outOffset += got;
        return got;
    }

    int m_from;
    int m_to;
    CopyMethod m_method;
    std::unique_ptr<char[]> m_buffer;
};

ContentFailure copyContents(int from, int to, off_t size, CopyMethod method) {
    RangeCopier copier(from, to, method);
    off_t position = 0;
    off_t written = 0;
    // Asking a small file for its holes costs more than copying its few zeros.
    bool holesKnown = size > SmallFile;
    while (position < size) {
        off_t dataStart = position;
        off_t dataEnd = size;
        if (holesKnown) {
            const off_t data = ::lseek(from, position, SEEK_DATA);
            if (data < 0 && errno == ENXIO)
                break; // only a hole is left
            if (data < 0) {
                holesKnown = false;
            } else {
                if (data >= size)
                    break;
                const off_t hole = ::lseek(from, data, SEEK_HOLE);
                dataStart = data;
                dataEnd = hole > data ? std::min(hole, size) : size;
            }
        }
        if (const ContentFailure failure = copier.copy(dataStart, dataEnd - dataStart);
            failure.error != 0)
            return failure;
        position = written = dataEnd;
    }
    // A source that changed size meanwhile would give a copy that matches no state of it.
    struct stat after {};
    if (::fstat(from, &after) != 0)
        return {lastError(), Side::Source};
    if (after.st_size != size)
        return {SourceChanged, Side::Source};
    // A trailing hole is made by setting the length.
    if (written != size && ::ftruncate(to, size) != 0)
        return {lastError(), Side::Target};
    return {};
}

// ---- The temporary file a copy is written to ----

std::string randomTemporaryName() {
    static thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{static_cast<std::uint64_t>(device()),
                           static_cast<std::uint64_t>(::getpid()),
                           static_cast<std::uint64_t>(
                               std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = ".brimvale-";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof Letters - 2);
    for (int i = 0; i < 12; ++i)
        name += Letters[pick(generator)];
    return name + ".tmp";
}

// Naming an unnamed temporary file goes through /proc without special privileges.
bool unnamedFilesCanBeLinked() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

// Whether what `name` in `folder` leads to (links followed) is the file `file` itself.
bool isSameFile(int folder, const std::string& name, const struct stat& file) {
    struct stat st {};
    return ::fstatat(folder, name.c_str(), &st, 0) == 0 && st.st_dev == file.st_dev &&
           st.st_ino == file.st_ino;
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

// Puts the named file `from` in `folder` at `name` unless something has that name: in one step
// where the file system can (RENAME_NOREPLACE, or a hard link), else by looking first.
bool renameWithoutReplacing(int folder, const std::string& from, const std::string& name) {
    if (::renameat2(folder, from.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    if (::linkat(folder, from.c_str(), folder, name.c_str(), 0) == 0) {
        ::unlinkat(folder, from.c_str(), 0);
        return true;
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
            std::string name = randomTemporaryName();
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
        if (!m_name.empty())
            ::unlinkat(m_folder, m_name.c_str(), 0);
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
    // never when it is the source itself.
    CopyOutcome placeAs(const std::string& name, IfDestinationExists ifExists,
                        const struct stat& source) {
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
        // Something has the name already.
        if (isSameFile(m_folder, name, source))
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
            std::string name = randomTemporaryName();
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

// Copies the open regular file `in`, as it was when `before` was read, to `name` in `folder`.
CopyOutcome copyOpenFile(int in, const struct stat& before, int folder, const std::string& name,
                         IfDestinationExists ifExists) {
    // The new file gets the source's permission bits through the umask as it is made.
    TemporaryFile temporary(folder, before.st_mode & 0777);
    if (!temporary.valid())
        return failed(lastError(), Side::Target);
    if (const ContentFailure failure =
            copyContents(in, temporary.fd(), before.st_size, CopyMethod::CopyFileRange);
        failure.error != 0)
        return failed(failure.error, failure.side);

    // A source rewritten in place at the same size shows in its times.
    struct stat after {};
    if (::fstat(in, &after) != 0)
        return failed(lastError(), Side::Source);
    if (after.st_size != before.st_size || !sameTime(after.st_mtim, before.st_mtim) ||
        !sameTime(after.st_ctim, before.st_ctim))
        return failed(SourceChanged, Side::Source);

    // The times are kept where the file system can hold them; the contents are what counts.
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ::futimens(temporary.fd(), times);
    if (const int error = temporary.finishWrites(); error != 0)
        return failed(error, Side::Target);
    if (g_stopRequested.load(std::memory_order_relaxed))
        return failed(ECANCELED, Side::Target);
    CopyOutcome outcome = temporary.placeAs(name, ifExists, before);
    if (outcome.result == CopyOutcome::Result::Copied)
        outcome.bytes = static_cast<std::uint64_t>(before.st_size);
    return outcome;
}

} // namespace

// ---- Stopping ----

void SetStopRequested(bool stop) {
    g_stopRequested.store(stop);
}

bool StopRequested() {
    return g_stopRequested.load(std::memory_order_relaxed);
}

// ---- Paths ----

bool FolderExists(const std::string& path) {
    struct stat st {};
    return isUsablePath(path) && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void MakeFolderTree(const std::string& path) {
    const std::string normal = NormalizePath(path);
    requireUsablePath(normal);
    if (FolderExists(normal))
        return;
    const bool absolute = normal.front() == Separator;
    std::string running;
    std::size_t start = 0;
    while (start <= normal.size()) {
        std::size_t end = normal.find(Separator, start);
        if (end == std::string::npos)
            end = normal.size();
        const std::string part = normal.substr(start, end - start);
        start = end + 1;
        if (part.find_first_not_of(' ') == std::string::npos)
            continue;
        if (!running.empty() || absolute)
            running += Separator;
        running += part;
        if (FolderExists(running))
            continue;
        if (::mkdir(running.c_str(), 0777) == 0)
            continue;
        const int error = errno;
        if (error == EEXIST && FolderExists(running))
            continue;
        throw failureFromErrno(error, running);
    }
}

std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern) {
    std::string path = folder;
    if (!EndsWithSeparator(path))
        path += Separator;
    requireUsablePath(path);

    Descriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> names;
    if (!fd.valid() || !ListFilesAt(fd.get(), names))
        throw failureFromErrno(errno, folder);
    if (pattern == "*.*" || pattern == "*")
        return names;
    std::erase_if(names, [&](const std::string& name) {
        return ::fnmatch(pattern.c_str(), name.c_str(), 0) != 0;
    });
    return names;
}

bool IsExistingFile(const std::string& path) {
    struct stat st {};
    return isUsablePath(path) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CopyOneFile(const std::string& source, const std::string& destination,
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
        else if (to = OpenFolder(folder); !to.valid())
            error = lastError();
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

bool copyFileContents(int from, int to, off_t size, CopyMethod method) {
    const ContentFailure failure = copyContents(from, to, size, method);
    if (failure.error != 0)
        errno = failure.error == SourceChanged ? EAGAIN : failure.error;
    return failure.error == 0;
}

// ---- Open folders ----

Descriptor OpenFolder(const std::string& path) {
    if (!isUsablePath(path)) {
        errno = unusablePathError(path);
        return {};
    }
    return Descriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

Descriptor OpenFolderAt(int parent, const std::string& name) {
    if (!isPlainName(name)) {
        errno = EINVAL;
        return {};
    }
    return Descriptor(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool StatusOf(int folder, FolderStatus& status) {
    struct stat st {};
    if (::fstat(folder, &st) != 0)
        return false;
    status.identity = {st.st_dev, st.st_ino};
    status.permissions = st.st_mode & 07777;
    status.owned = st.st_uid == ::geteuid() || ::geteuid() == 0;
    return true;
}

bool ListFolder(const std::string& path, FolderListing& listing) {
    listing = {};
    const Descriptor fd = OpenFolder(path);
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !ListFolderAt(fd.get(), listing))
        return false;
    listing.permissions = st.st_mode & 07777;
    return true;
}

bool ListFolderAt(int folder, FolderListing& listing) {
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
    const int error = errno;
    std::sort(
        listing.entries.begin(), listing.entries.end(),
        [](const FolderEntry& a, const FolderEntry& b) { return NaturalLess(a.name, b.name); });
    errno = error;
    return got == 0;
}

bool ListFilesAt(int folder, std::vector<std::string>& names) {
    names.clear();
    FolderListing listing;
    if (!ListFolderAt(folder, listing))
        return false;
    for (FolderEntry& entry : listing.entries) {
        bool regular = entry.type == FolderEntry::Type::File;
        if (entry.type == FolderEntry::Type::Link) {
            struct stat st {};
            regular = ::fstatat(folder, entry.name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (regular)
            names.push_back(std::move(entry.name));
    }
    return true;
}

bool MakeFolder(const std::string& path, unsigned permissions) {
    if (!isUsablePath(path)) {
        errno = unusablePathError(path);
        return false;
    }
    return ::mkdir(path.c_str(), static_cast<mode_t>(permissions & 07777)) == 0;
}

int MakeFolderAt(int parent, const std::string& name, unsigned permissions) {
    if (!isPlainName(name))
        return EINVAL;
    return ::mkdirat(parent, name.c_str(), static_cast<mode_t>(permissions & 07777)) == 0
               ? 0
               : lastError();
}

std::optional<FolderEntry::Type> EntryTypeAt(int parent, const std::string& name) {
    struct stat st {};
    if (!isPlainName(name)) {
        errno = EINVAL;
        return std::nullopt;
    }
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return S_ISREG(st.st_mode)   ? FolderEntry::Type::File
           : S_ISDIR(st.st_mode) ? FolderEntry::Type::Folder
           : S_ISLNK(st.st_mode) ? FolderEntry::Type::Link
                                 : FolderEntry::Type::Other;
}

bool LeadsToFolderAt(int parent, const std::string& name) {
    struct stat st {};
    return isPlainName(name) && ::fstatat(parent, name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode);
}

int RemoveLinkAt(int parent, const std::string& name) {
    const std::optional<FolderEntry::Type> type = EntryTypeAt(parent, name);
    if (!type)
        return lastError();
    if (*type != FolderEntry::Type::Link)
        return EEXIST;
    return ::unlinkat(parent, name.c_str(), 0) == 0 ? 0 : lastError();
}

int SetPermissions(int folder, unsigned permissions) {
    return ::fchmod(folder, static_cast<mode_t>(permissions & 07777)) == 0 ? 0 : lastError();
}

unsigned ProcessUmask() {
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

// ---- Copies between open folders ----

CopyOutcome copyFileAt(int from, const std::string& name, FollowLink follow, int to,
                       const std::string& toName, IfDestinationExists ifExists) {
    if (g_stopRequested.load(std::memory_order_relaxed))
        return failed(ECANCELED, Side::Target);
    if (!isUsablePath(name))
        return failed(unusablePathError(name), Side::Source);
    if (!isPlainName(toName))
        return failed(toName.empty() ? ENOENT : EISDIR, Side::Target);

    // Only a regular file is opened: opening a pipe or a device could block or act on it. The
    // listing said what the name is; O_NONBLOCK keeps a pipe swapped in meanwhile from blocking,
    // and the open file is checked again.
    struct stat before {};
    const int noFollow = follow == FollowLink::Yes ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::fstatat(from, name.c_str(), &before, noFollow) != 0)
        return failed(lastError(), Side::Source);
    if (!S_ISREG(before.st_mode))
        return failed(S_ISDIR(before.st_mode) ? EISDIR : EINVAL, Side::Source);
    Descriptor in(::openat(from, name.c_str(),
                           O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                               (follow == FollowLink::Yes ? 0 : O_NOFOLLOW)));
    if (!in.valid() || ::fstat(in.get(), &before) != 0)
        return failed(lastError(), Side::Source);
    if (!S_ISREG(before.st_mode))
        return failed(EINVAL, Side::Source);
    return copyOpenFile(in.get(), before, to, toName, ifExists);
}

CopyOutcome copyLinkAt(int from, const std::string& name, int to, const std::string& toName) {
    if (!isPlainName(name))
        return failed(EINVAL, Side::Source);
    if (!isPlainName(toName))
        return failed(EINVAL, Side::Target);
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
    if (EntryTypeAt(to, toName) == FolderEntry::Type::Folder)
        return failed(EISDIR, Side::Target);
    // Something else has the name: the link is made under a fresh name beside it and renamed
    // into place, so that the name never stands empty and nothing else is touched.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = randomTemporaryName();
        if (::symlinkat(target.c_str(), to, temporary.c_str()) != 0) {
            if (errno == EEXIST)
                continue;
            return failed(lastError(), Side::Target);
        }
        if (::renameat(to, temporary.c_str(), to, toName.c_str()) == 0)
            return {CopyOutcome::Result::Copied, 0, Side::Target};
        const int error = lastError();
        ::unlinkat(to, temporary.c_str(), 0);
        return failed(error, Side::Target);
    }
    return failed(EEXIST, Side::Target);
}

int FlushFileSystem(int folder) {
    return ::syncfs(folder) == 0 ? 0 : lastError();
}

// ---- Probes ----

bool FileIsPresent(const std::string& path) {
    struct stat st {};
    return isUsablePath(path) && ::stat(path.c_str(), &st) == 0;
}

bool IsBadFileName(const std::string& path) {
    struct stat st {};
    return !isUsablePath(path) || ::lstat(path.c_str(), &st) != 0;
}

int FolderAttributes(const std::string& path) {
    requireUsablePath(path);
    // The path's own entry: a trailing separator would make lstat look through a link.
    std::string own = path;
    while (own.size() > 1 && own.back() == Separator)
        own.pop_back();
    struct stat linkStat {};
    if (::lstat(own.c_str(), &linkStat) != 0)
        throw failureFromErrno(errno, path);

    int attributes = 0;
    bool directory = S_ISDIR(linkStat.st_mode);
    if (S_ISLNK(linkStat.st_mode)) {
        attributes |= Attribute::Alias;
        struct stat target {};
        directory = ::stat(own.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    }
    if (directory)
        attributes |= Attribute::Directory;
    const std::string name = LastPathPart(own);
    if (name.size() > 1 && name.front() == '.' && name != "..")
        attributes |= Attribute::Hidden;
    if (directory)
        attributes |= fatAttributes(own);
    return attributes;
}

bool IsRootFolder(const std::string& path) {
    const std::optional<FileIdentity> root = IdentityOf(std::string(1, Separator));
    return root && IdentityOf(path) == root;
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (!isUsablePath(path) || ::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}

std::optional<std::vector<FileIdentity>> ParentChainOf(int folder) {
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

} // namespace join
