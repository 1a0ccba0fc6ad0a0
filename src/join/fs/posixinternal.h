#pragma once

#include "join/fs/failure.h"
#include "join/fs/paths.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>

// Small rules shared by the engine's POSIX files: what a path or a name must be before the
// system is asked about it, and the reason a call failed.
namespace join::posix {

// A path the system can be asked about: not empty, and no NUL byte that would silently cut it.
inline bool isUsablePath(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

inline int unusablePathError(const std::string& path) {
    return path.empty() ? ENOENT : EINVAL;
}

inline void requireUsablePath(const std::string& path) {
    if (!isUsablePath(path))
        throw failureFromErrno(unusablePathError(path));
}

// A name inside a folder: one level, not "." or "..", no separator and no NUL.
inline bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find(Separator) == std::string::npos && name.find('\0') == std::string::npos;
}

// The reason the last call failed, never 0.
inline int lastError() {
    return errno != 0 ? errno : EIO;
}

// Whether this process may read a file of this status, told from its permission bits alone (as
// the kernel does without access control lists), so that no further call is needed.
bool mayRead(const struct stat& file);

} // namespace join::posix
