#include "posixfs.h"

#include "failure.h"
#include "paths.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
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
#include <utility>

namespace join {

namespace {

// Owns one file descriptor and closes it when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// A path the system can be asked about: not empty, and no NUL byte that would silently cut it.
bool isUsablePath(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

void requireUsablePath(const std::string& path) {
    if (path.empty())
        throw failureFromErrno(ENOENT);
    if (path.find('\0') != std::string::npos)
        throw failureFromErrno(EINVAL);
}

// Hidden and system bits kept by FAT volumes; 0 everywhere else.
int fatAttributes(const std::string& path) {
    struct statfs volume {};
    if (::statfs(path.c_str(), &volume) != 0 || volume.f_type != MSDOS_SUPER_MAGIC)
        return 0;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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

constexpr std::size_t MaxChunk = std::size_t{1} << 30;
constexpr off_t SmallFile = 64 * 1024;
// The read/write buffer stays small enough for the cache: 1 MiB ran at a tenth of the speed.
constexpr std::size_t BufferSize = std::size_t{1} << 18;

bool isCopyFileRangeUnsupported(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
           error == ENOTSUP || error == EBADF || error == ETXTBSY;
}

// Copies byte ranges between two descriptors at the same offsets, stepping down from
// copy_file_range (which lets the file system clone) to sendfile and then plain reads and writes
// when the system refuses the faster method.
class RangeCopier {
public:
    RangeCopier(int from, int to, CopyMethod method) : m_from(from), m_to(to), m_method(method) {}

    bool copy(off_t offset, off_t length) {
        off_t inOffset = offset;
        off_t outOffset = offset;
        while (length > 0) {
            const std::size_t chunk =
                std::min<std::size_t>(static_cast<std::size_t>(length), MaxChunk);
            ssize_t done = -1;
            switch (m_method) {
            case CopyMethod::CopyFileRange:
                done = ::copy_file_range(m_from, &inOffset, m_to, &outOffset, chunk, 0);
                if (done < 0 && isCopyFileRangeUnsupported(errno)) {
                    m_method = CopyMethod::SendFile;
                    continue;
                }
                break;
            case CopyMethod::SendFile:
                if (::lseek(m_to, outOffset, SEEK_SET) < 0)
                    return false;
                done = ::sendfile(m_to, m_from, &inOffset, chunk);
                if (done < 0 && (errno == EINVAL || errno == ENOSYS)) {
                    m_method = CopyMethod::ReadWrite;
                    continue;
                }
                if (done > 0)
                    outOffset += done;
                break;
            case CopyMethod::ReadWrite:
                done = readWrite(inOffset, outOffset, chunk);
                break;
            }
            if (done < 0 && errno == EINTR)
                continue;
            if (done < 0)
                return false;
            if (done == 0) {
                // The source ended before its size said: it changed while being copied.
                errno = EIO;
                return false;
            }
            length -= done;
        }
        return true;
    }

private:
    ssize_t readWrite(off_t& inOffset, off_t& outOffset, std::size_t chunk) {
        if (!m_buffer)
            m_buffer = std::make_unique<char[]>(BufferSize);
        const ssize_t got = ::pread(m_from, m_buffer.get(), std::min(chunk, BufferSize), inOffset);
        if (got <= 0)
            return got;
        ssize_t written = 0;
        while (written < got) {
            const ssize_t n =
                ::pwrite(m_to, m_buffer.get() + written, static_cast<std::size_t>(got - written),
                         outOffset + written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return -1;
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

// ---- The temporary file a copy is written to ----

// The reason the last call failed, never 0.
int lastError() {
    return errno != 0 ? errno : EIO;
}

std::string randomTemporaryName() {
    static thread_local std::mt19937_64 generator = [] {
        std::seed_seq seed{
            static_cast<std::uint64_t>(::getpid()),
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()),
            static_cast<std::uint64_t>(::time(nullptr))};
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

// What a path leads to (links followed) is the file `file` itself.
bool isSameFile(const std::string& path, const struct stat& file) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino;
}

// A file being written in the destination's folder: unnamed (O_TMPFILE) where the file system
// allows it, else under a unique hidden name. Until it is placed, nothing of it is visible under
// the destination's name, and a file that is never placed is removed.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string folder) : m_folder(std::move(folder)) {
        if (unnamedFilesCanBeLinked()) {
            m_fd.reset(::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
            if (m_fd.valid())
                return;
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = randomTemporaryName();
            m_fd.reset(::open(inFolder(name).c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
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
            ::unlink(inFolder(m_name).c_str());
    }

    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }

    // Gives the finished file its final name. Returns 0, or the reason as an errno value. Where
    // the name is free (the usual case in a fresh output folder) the file is placed in one step;
    // with IfDestinationExists::Fail the check and the naming are always one step. An existing
    // entry is replaced only with IfDestinationExists::Replace, and never when it is `source`.
    int placeAs(const std::string& name, IfDestinationExists ifExists, const struct stat& source) {
        const std::string destination = inFolder(name);
        const bool unnamed = m_name.empty();
        if (unnamed || ifExists == IfDestinationExists::Fail) {
            if (unnamed ? linkUnnamed(destination) : linkNamedWithoutReplacing(destination))
                return 0;
            if (errno != EEXIST)
                return lastError();
        }
        // Something has the name already.
        if (isSameFile(destination, source))
            return EINVAL;
        if (ifExists == IfDestinationExists::Fail)
            return EEXIST;
        if (unnamed && !giveTemporaryName())
            return lastError();
        if (::rename(inFolder(m_name).c_str(), destination.c_str()) != 0)
            return lastError();
        m_name.clear();
        return 0;
    }

private:
    std::string inFolder(const std::string& name) const {
        return m_folder == std::string(1, Separator) ? m_folder + name
                                                     : m_folder + Separator + name;
    }

    // Links the unnamed file under `path`; fails with EEXIST when the name is taken. Naming the
    // descriptor itself (AT_EMPTY_PATH) skips a walk through /proc but needs a recent kernel or
    // privileges; whichever way worked last is tried first.
    bool linkUnnamed(const std::string& path) {
        static std::atomic<bool> descriptorFirst{true};
        const auto byDescriptor = [&] {
            return ::linkat(m_fd.get(), "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
        };
        const auto byProc = [&] {
            const std::string procPath = "/proc/self/fd/" + std::to_string(m_fd.get());
            return ::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, path.c_str(),
                            AT_SYMLINK_FOLLOW) == 0;
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
        // The walk through /proc names the real reason; the descriptor's refusal may only mean
        // that it is not allowed.
        if (first)
            return false;
        errno = errno == EEXIST ? EEXIST : firstError;
        return false;
    }

    // Moves the named temporary file to `path` unless something has that name.
    bool linkNamedWithoutReplacing(const std::string& path) {
        const std::string from = inFolder(m_name);
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
            m_name.clear();
            return true;
        }
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        // No RENAME_NOREPLACE on this file system: link() refuses an existing name just as well;
        // the destructor removes the temporary name.
        return ::link(from.c_str(), path.c_str()) == 0;
    }

    // Links the unnamed file into the folder under a fresh hidden name.
    bool giveTemporaryName() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = randomTemporaryName();
            if (linkUnnamed(inFolder(name))) {
                m_name = std::move(name);
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    std::string m_folder;
    FileDescriptor m_fd;
    std::string m_name;
};

struct DestinationPlace {
    std::string folder;
    std::string name;
};

std::optional<DestinationPlace> placeOf(const std::string& destination) {
    const std::size_t last = destination.rfind(Separator);
    DestinationPlace place;
    if (last == std::string::npos) {
        place = {".", destination};
    } else {
        place.folder = last == 0 ? std::string(1, Separator) : destination.substr(0, last);
        place.name = destination.substr(last + 1);
    }
    if (place.name.empty() || place.name == "." || place.name == "..")
        return std::nullopt;
    return place;
}

// Returns 0 on success, else the reason as an errno value.
int copyOneFile(const std::string& source, const std::string& destination,
                IfDestinationExists ifExists) {
    if (!isUsablePath(source) || !isUsablePath(destination))
        return source.empty() || destination.empty() ? ENOENT : EINVAL;
    const std::optional<DestinationPlace> place = placeOf(destination);
    if (!place)
        return EISDIR;

    // Only a regular file is opened: opening a pipe or a device could block or act on it.
    struct stat sourceStat {};
    if (::stat(source.c_str(), &sourceStat) != 0)
        return lastError();
    if (!S_ISREG(sourceStat.st_mode))
        return S_ISDIR(sourceStat.st_mode) ? EISDIR : EINVAL;
    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!in.valid() || ::fstat(in.get(), &sourceStat) != 0)
        return lastError();
    if (!S_ISREG(sourceStat.st_mode))
        return EINVAL;

    // Nothing is written under any existing name before placing, so a destination that is the
    // source itself (whatever name leads to it) is found when the copy is placed.
    TemporaryFile temporary(place->folder);
    if (!temporary.valid())
        return lastError();
    if (!copyFileContents(in.get(), temporary.fd(), sourceStat.st_size, CopyMethod::CopyFileRange))
        return lastError();

    // Mode and times are kept where the file system can hold them; the contents are what counts.
    ::fchmod(temporary.fd(), sourceStat.st_mode & 0777);
    const struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    ::futimens(temporary.fd(), times);

    errno = 0;
    return temporary.placeAs(place->name, ifExists, sourceStat);
}

} // namespace

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

    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        throw failureFromErrno(errno, folder);
    std::unique_ptr<DIR, int (*)(DIR*)> stream(::fdopendir(fd.get()), &::closedir);
    if (!stream)
        throw failureFromErrno(errno, folder);
    fd.release();

    const bool matchAll = pattern == "*.*" || pattern == "*";
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream.get());
        if (!entry) {
            if (errno != 0)
                throw failureFromErrno(errno, folder);
            break;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        if (!matchAll && ::fnmatch(pattern.c_str(), name, 0) != 0)
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            regular = ::fstatat(::dirfd(stream.get()), name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (regular)
            names.emplace_back(name);
    }
    return names;
}

bool IsExistingFile(const std::string& path) {
    struct stat st {};
    return isUsablePath(path) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CopyOneFile(const std::string& source, const std::string& destination,
                 IfDestinationExists ifExists) {
    int error = ENOMEM;
    try {
        error = copyOneFile(source, destination, ifExists);
    } catch (const std::exception&) {
    }
    // Set after every descriptor and temporary name is gone, so that nothing overwrites it.
    if (error != 0)
        errno = error;
    return error == 0;
}

bool copyFileContents(int from, int to, off_t size, CopyMethod method) {
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
        if (!copier.copy(dataStart, dataEnd - dataStart))
            return false;
        position = written = dataEnd;
    }
    // A source that changed size meanwhile would give a copy that matches no state of it.
    struct stat after {};
    if (::fstat(from, &after) != 0 || after.st_size != size)
        return false;
    // A trailing hole is made by setting the length.
    return written == size || ::ftruncate(to, size) == 0;
}

bool ListFolder(const std::string& path, FolderListing& listing) {
    listing = {};
    if (!isUsablePath(path)) {
        errno = path.empty() ? ENOENT : EINVAL;
        return false;
    }
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat folder {};
    if (!fd.valid() || ::fstat(fd.get(), &folder) != 0)
        return false;
    listing.permissions = folder.st_mode & 07777;

    // The directory's records are read in large blocks straight from the system.
    alignas(struct dirent64) char buffer[32 * 1024];
    for (;;) {
        const ssize_t got = ::getdents64(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st {};
                if (::fstatat(fd.get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                    type = IFTODT(st.st_mode);
            }
            const FolderEntry::Type kind = type == DT_REG   ? FolderEntry::Type::File
                                           : type == DT_DIR ? FolderEntry::Type::Folder
                                           : type == DT_LNK ? FolderEntry::Type::Link
                                                            : FolderEntry::Type::Other;
            listing.entries.push_back({name, kind});
        }
    }
}

bool MakeFolder(const std::string& path, unsigned permissions) {
    if (!isUsablePath(path)) {
        errno = path.empty() ? ENOENT : EINVAL;
        return false;
    }
    return ::mkdir(path.c_str(), static_cast<mode_t>(permissions & 07777)) == 0;
}

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

} // namespace join
