#pragma once

#include <cerrno>
#include <functional>
#include <grp.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// Runs `work` in a forked child and gives back its exit code, or minus the signal that ended it.
// An alarm ends a child that blocks, so a call that hangs fails the test instead of stalling it.
inline int runInChild(const std::function<int()>& work, unsigned timeoutSeconds = 20) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(timeoutSeconds);
        int code = 250;
        try {
            code = work();
        } catch (...) {
            code = 251;
        }
        ::_exit(code);
    }
    if (pid < 0)
        return -1000;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return -WTERMSIG(status);
}

// The exit code a child gives when it could not give up root.
inline constexpr int CouldNotDropPrivileges = 240;

// Turns a root child into the unprivileged user 65534, so permissions really apply to it.
inline bool dropToNobody() {
    return ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0 &&
           ::geteuid() == 65534;
}

// The exit code a child gives when it could not make the mounts it needs.
inline constexpr int CouldNotMount = 241;

// Gives the calling child process mounts of its own: what it mounts is seen by it alone and goes
// when it ends. Root only.
inline bool usePrivateMounts() {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Mounts a memory file system of `bytes` at `path`: a copy that runs away fills it at once.
inline bool mountSmallDisk(const std::string& path, std::size_t bytes) {
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    return ::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

// Shuts the calling child process into `path`, which becomes its "/" (after mountSmallDisk, a
// root folder that is a few megabytes large).
inline bool shutInto(const std::string& path) {
    return ::chroot(path.c_str()) == 0 && ::chdir("/") == 0;
}

} // namespace testsupport
