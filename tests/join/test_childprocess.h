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

// Runs `work` in a forked child, as runInChild does, and gives back the text it returns, or why
// it gave none ("child ended with 251").
inline std::string textFromChild(const std::function<std::string()>& work) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return "no pipe";
    const int code = runInChild([&] {
        ::close(pipeEnds[0]);
        const std::string text = work();
        return ::write(pipeEnds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size())
                   ? 0
                   : 1;
    });
    ::close(pipeEnds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(pipeEnds[0]);
    return code == 0 ? text : "child ended with " + std::to_string(code);
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
