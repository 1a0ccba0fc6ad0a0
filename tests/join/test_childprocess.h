#pragma once

#include <cerrno>
#include <functional>
#include <grp.h>
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

} // namespace testsupport
