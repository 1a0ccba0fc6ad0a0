#include "join/fs/folderpaths.h"

#include "join/fs/failure.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/fs/posixinternal.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>

namespace join {

using namespace posix;

namespace {

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

} // namespace

void makeFolderTree(const std::string& path) {
    const std::string normal = normalizePath(path);
    requireUsablePath(normal);
    if (folderExists(normal))
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
        if (folderExists(running))
            continue;
        if (::mkdir(running.c_str(), 0777) == 0)
            continue;
        const int error = errno;
        if (error == EEXIST && folderExists(running))
            continue;
        throw failureFromErrno(error, running);
    }
}

std::vector<std::string> listFiles(const std::string& folder, const std::string& pattern) {
    std::string path = folder;
    if (!endsWithSeparator(path))
        path += Separator;
    requireUsablePath(path);

    const Descriptor fd = openFolder(path);
    std::vector<std::string> names;
    if (const int error = fd.valid() ? readFileNamesAt(fd.get(), names) : fd.error(); error != 0)
        throw failureFromErrno(error, folder);
    if (pattern == "*.*" || pattern == "*")
        return names;
    std::erase_if(names, [&](const std::string& name) {
        return ::fnmatch(pattern.c_str(), name.c_str(), 0) != 0;
    });
    return names;
}

int folderAttributes(const std::string& path) {
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
    const std::string name = lastPathPart(own);
    if (name.size() > 1 && name.front() == '.' && name != "..")
        attributes |= Attribute::Hidden;
    if (directory)
        attributes |= fatAttributes(own);
    return attributes;
}

} // namespace join
