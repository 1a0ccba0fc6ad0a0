#include "join/copy/filecopy.h"
#include "join/fs/posixfs.h"
#include "join/fs/temporaries.h"
#include "support/testdir.h"
#include "test_childprocess.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace join;
using testsupport::TestDir;
namespace fs = std::filesystem;

// While set, every removal of a name of ours fails as on a file system that refuses it.
std::atomic<bool> g_refuseRemovingTemporaries{false};

extern "C" int unlinkat(int folder, const char* name, int flags) noexcept {
    if (g_refuseRemovingTemporaries && std::string_view(name).starts_with(".brimvale-")) {
        errno = EPERM;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_unlinkat, folder, name, flags));
}

namespace {

constexpr auto Replace = IfDestinationExists::Replace;
constexpr auto Fail = IfDestinationExists::Fail;
constexpr auto KeepCopy = IfDestinationExists::KeepCopy;

struct stat ownStat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

std::set<std::string> entriesOf(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

void setTimes(const std::string& path, time_t seconds, long nanoseconds) {
    const struct timespec times[2] = {{seconds - 1000, 1}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Compares two files chunk by chunk, so large ones need not fit in memory twice.
bool sameBytes(const std::string& a, const std::string& b) {
    const int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
    const int fb = ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
    bool same = fa >= 0 && fb >= 0;
    std::vector<char> bufferA(1 << 22), bufferB(1 << 22);
    while (same) {
        const ssize_t na = ::read(fa, bufferA.data(), bufferA.size());
        ssize_t nb = 0;
        while (nb < na) {
            const ssize_t n = ::read(fb, bufferB.data() + nb, static_cast<std::size_t>(na - nb));
            if (n <= 0)
                break;
            nb += n;
        }
        same = na >= 0 && na == nb && std::memcmp(bufferA.data(), bufferB.data(), na) == 0;
        if (na <= 0)
            break;
    }
    char extra;
    same = same && ::read(fb, &extra, 1) == 0;
    ::close(fa);
    ::close(fb);
    return same;
}

TEST(CopyOneFile, CopiesContentsModeAndTimes) {
    TestDir dir;
    fs::create_directories(dir.root() / "out");
    struct Row {
        mode_t mode;
        std::string content;
    } rows[] = {
        {0640, "plain text"},
        {0755, "#!/bin/sh\n"},
        {0400, "read only"},
        {0600, ""},
        {0644, randomBytes(3 * 1024 * 1024 + 7, 1)},
    };
    int index = 0;
    for (const Row& row : rows) {
        const std::string name = "f" + std::to_string(index++);
        dir.write(name, row.content);
        ASSERT_EQ(::chmod(dir.path(name).c_str(), row.mode), 0);
        setTimes(dir.path(name), 1600000000, 123456789);

        EXPECT_TRUE(copyOneFile(dir.path(name), dir.path("out/" + name), Replace)) << name;
        EXPECT_EQ(dir.read("out/" + name), row.content) << name;
        const struct stat copy = ownStat(dir.path("out/" + name));
        EXPECT_TRUE(S_ISREG(copy.st_mode)) << name;
        EXPECT_EQ(copy.st_mode & 07777, row.mode) << name;
        EXPECT_EQ(copy.st_mtim.tv_sec, 1600000000) << name;
        EXPECT_EQ(copy.st_mtim.tv_nsec, 123456789) << name;
    }
    std::set<std::string> expected;
    for (int i = 0; i < index; ++i)
        expected.insert("f" + std::to_string(i));
    EXPECT_EQ(entriesOf(dir.root() / "out"), expected) << "no temporary file is left behind";
}

TEST(CopyOneFile, ExistingDestination) {
    // The source "new" has its modification time at 1600000001.123456789.
    constexpr time_t Seconds = 1600000001;
    constexpr long Nanoseconds = 123456789;
    struct Row {
        const char* name;
        bool destinationExists;
        IfDestinationExists ifExists;
        bool copied;
        const char* result;
        // The destination's contents, its time and what it is, when it exists.
        const char* old = "old";
        time_t seconds = Seconds;
        long nanoseconds = Nanoseconds;
        bool link = false;
        // Written under its own name where nothing has it: in a folder the copy made, or where
        // a look finds the name free.
        InPlace inPlace = InPlace::Never;
    } rows[] = {
        {"replace existing", true, Replace, true, "new"},
        {"fail on existing", true, Fail, false, "old"},
        {"fail, nothing there", false, Fail, true, "new"},
        {"replace, nothing there", false, Replace, true, "new"},
        // A destination that already is the source's copy is left alone, and counts as copied.
        {"keep, same size and time", true, KeepCopy, true, "old"},
        {"keep, same size, other time", true, KeepCopy, true, "new", "old", Seconds, 1},
        {"keep, other size, same time", true, KeepCopy, true, "new", "older"},
        {"keep, destination a link", true, KeepCopy, true, "new", "old", Seconds, Nanoseconds,
         true},
        {"keep, nothing there", false, KeepCopy, true, "new"},
        // The test's folder keeps nanoseconds, so a destination at the source's time cut to a
        // coarser step (whole seconds as exFAT through FUSE and SFTP keep them, 10 ms as exFAT,
        // two seconds as FAT) is another file that happens to have such a time, not its copy.
        {"keep, whole seconds", true, KeepCopy, true, "new", "old", Seconds, 0},
        {"keep, 10 ms", true, KeepCopy, true, "new", "old", Seconds, 120000000},
        {"keep, two seconds", true, KeepCopy, true, "new", "old", Seconds - 1, 0},
        {"keep, another second", true, KeepCopy, true, "new", "old", Seconds + 1, 0},
        // A folder the copy made where something has the name after all is judged as any other.
        {"made folder, taken, keep", true, KeepCopy, true, "old", "old", Seconds, Nanoseconds,
         false, InPlace::Fresh},
        {"made folder, taken, replace", true, Replace, true, "new", "old", Seconds, Nanoseconds,
         false, InPlace::Fresh},
    };
    for (const Row& row : rows) {
        TestDir dir;
        dir.make("src=new\nout/");
        setTimes(dir.path("src"), Seconds, Nanoseconds);
        if (row.destinationExists) {
            dir.write(row.link ? "elsewhere" : "out/dst", row.old);
            setTimes(dir.path(row.link ? "elsewhere" : "out/dst"), row.seconds, row.nanoseconds);
            if (row.link)
                fs::create_symlink(dir.root() / "elsewhere", dir.root() / "out/dst");
        }
        const ino_t before = row.destinationExists ? ownStat(dir.path("out/dst")).st_ino : 0;
        if (row.inPlace == InPlace::Never) {
            EXPECT_EQ(copyOneFile(dir.path("src"), dir.path("out/dst"), row.ifExists), row.copied)
                << row.name;
        } else {
            const Descriptor from = openFolder(dir.path());
            const Descriptor to = openFolder(dir.path("out"));
            const CopyOutcome outcome = copyFileAt(from.get(), "src", FollowLink::No, to.get(),
                                                   "dst", row.ifExists, nullptr, 1, row.inPlace);
            EXPECT_NE(outcome.result, CopyOutcome::Result::Failed) << row.name;
        }
        EXPECT_EQ(dir.read("out/dst"), row.result) << row.name;
        EXPECT_EQ(fs::is_symlink(dir.root() / "out/dst"), row.link && !row.copied) << row.name;
        if (!row.copied) {
            EXPECT_EQ(errno, EEXIST) << row.name;
            EXPECT_EQ(ownStat(dir.path("out/dst")).st_ino, before) << row.name << ": untouched";
        }
        EXPECT_EQ(entriesOf(dir.root() / "out"), std::set<std::string>{"dst"}) << row.name;
    }
}

TEST(CopyOneFile, NeverOntoItself) {
    TestDir dir;
    const std::string content = randomBytes(200000, 2);
    dir.write("folder/data", content);
    dir.make("folder/soft -> data\nfolder/softToHard -> hard");
    fs::create_hard_link(dir.root() / "folder/data", dir.root() / "folder/hard");
    setTimes(dir.path("folder/data"), 1500000000, 5);
    const struct stat before = ownStat(dir.path("folder/data"));

    const std::string destinations[] = {
        dir.path("folder/data"), dir.path("folder/./data"),         dir.path("folder//data"),
        dir.path("folder/hard"), dir.path("folder/../folder/data"),
    };
    for (const std::string& destination : destinations) {
        for (IfDestinationExists ifExists : {Replace, Fail}) {
            EXPECT_FALSE(copyOneFile(dir.path("folder/data"), destination, ifExists))
                << destination;
            EXPECT_EQ(errno, EINVAL) << destination;
            EXPECT_FALSE(copyOneFile(destination, dir.path("folder/data"), ifExists))
                << destination;
        }
    }
    // A link to the source is not the source: as a source it leads to it, as a destination it
    // is not written through.
    for (const std::string link : {"folder/soft", "folder/softToHard"})
        EXPECT_FALSE(copyOneFile(dir.path(link), dir.path("folder/data"), Replace)) << link;
    const struct stat after = ownStat(dir.path("folder/data"));
    EXPECT_EQ(dir.read("folder/data"), content);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_TRUE(fs::is_symlink(dir.root() / "folder/soft"));
    EXPECT_TRUE(fs::is_symlink(dir.root() / "folder/softToHard"));
    EXPECT_EQ(entriesOf(dir.root() / "folder"),
              (std::set<std::string>{"data", "hard", "soft", "softToHard"}));
}

TEST(CopyOneFile, DestinationLinkIsReplacedNotWrittenThrough) {
    TestDir dir;
    dir.make(R"(
        src=new
        outside/target.txt=keep
        out/link -> ../outside/target.txt
        out/linkKept -> ../outside/target.txt
        out/dangling -> ../outside/nothing
    )");
    EXPECT_TRUE(copyOneFile(dir.path("src"), dir.path("out/link"), Replace));
    EXPECT_FALSE(fs::is_symlink(dir.root() / "out/link"));
    EXPECT_EQ(dir.read("out/link"), "new");

    EXPECT_FALSE(copyOneFile(dir.path("src"), dir.path("out/linkKept"), Fail));
    EXPECT_TRUE(fs::is_symlink(dir.root() / "out/linkKept"));
    EXPECT_FALSE(copyOneFile(dir.path("src"), dir.path("out/dangling"), Fail));
    EXPECT_TRUE(fs::is_symlink(dir.root() / "out/dangling"));
    EXPECT_FALSE(dir.exists("outside/nothing"));

    EXPECT_EQ(dir.read("outside/target.txt"), "keep");
    EXPECT_EQ(entriesOf(dir.root() / "outside"), std::set<std::string>{"target.txt"});

    // A link that leads to the source itself is replaced by a real copy, whatever the rule for
    // an existing destination, so that the output keeps the data when the source goes.
    dir.make("out/toSource1 -> ../src\nout/toSource2 -> ../src\nout/toSource3 -> ../src");
    setTimes(dir.path("src"), 1500000000, 5);
    for (const auto& [link, ifExists] :
         {std::pair{"out/toSource1", Replace}, std::pair{"out/toSource2", KeepCopy}}) {
        EXPECT_TRUE(copyOneFile(dir.path("src"), dir.path(link), ifExists)) << link;
        EXPECT_FALSE(fs::is_symlink(dir.root() / link)) << link;
        EXPECT_NE(ownStat(dir.path(link)).st_ino, ownStat(dir.path("src")).st_ino) << link;
        EXPECT_EQ(dir.read(link), "new") << link;
    }
    EXPECT_FALSE(copyOneFile(dir.path("src"), dir.path("out/toSource3"), Fail));
    EXPECT_TRUE(fs::is_symlink(dir.root() / "out/toSource3"));
    EXPECT_EQ(dir.read("src"), "new");
}

TEST(CopyOneFile, SourceThatIsALinkCopiesTheFile) {
    TestDir dir;
    dir.make("real=contents\nlink -> real\nout/");
    EXPECT_TRUE(copyOneFile(dir.path("link"), dir.path("out/copy"), Replace));
    EXPECT_FALSE(fs::is_symlink(dir.root() / "out/copy"));
    EXPECT_EQ(dir.read("out/copy"), "contents");
}

TEST(CopyOneFile, RefusesWhatCannotBeCopied) {
    TestDir dir;
    dir.make(R"(
        src=data
        folder/
        toFolder -> folder
        out/
        out/existingFolder/
    )");
    ASSERT_EQ(::mkfifo(dir.path("pipe").c_str(), 0644), 0);
    const std::string nul(1, '\0');
    struct Row {
        std::string source;
        std::string destination;
    } rows[] = {
        {dir.path("pipe"), dir.path("out/a")},
        {"/dev/zero", dir.path("out/a")},
        {"/dev/null", dir.path("out/a")},
        {dir.path("folder"), dir.path("out/a")},
        {dir.path("toFolder"), dir.path("out/a")},
        {dir.path("missing"), dir.path("out/a")},
        {"", dir.path("out/a")},
        {dir.path("src") + nul + "x", dir.path("out/a")},
        {dir.path("src"), dir.path("out/existingFolder")},
        {dir.path("src"), dir.path("out/missing/a")},
        {dir.path("src"), dir.path("out/a/")},
        {dir.path("src"), dir.path("out/")},
        {dir.path("src"), dir.path("out/..")},
        {dir.path("src"), ""},
        {dir.path("src"), dir.path("out/a") + nul + "b"},
        {dir.path("src"), dir.path("src/a")},
    };
    // A pipe or a device that was opened for reading could block: the alarm turns that into a
    // failure of this test.
    for (const Row& row : rows) {
        for (IfDestinationExists ifExists : {Replace, Fail}) {
            const int result = testsupport::runInChild(
                [&] { return copyOneFile(row.source, row.destination, ifExists) ? 1 : 0; }, 10);
            EXPECT_EQ(result, 0) << row.source << " -> " << row.destination;
        }
    }
    EXPECT_EQ(entriesOf(dir.root() / "out"), std::set<std::string>{"existingFolder"});
    EXPECT_TRUE(fs::is_empty(dir.root() / "out/existingFolder"));
    EXPECT_EQ(dir.read("src"), "data");
}

TEST(CopyOneFile, FailedWriteLeavesTheOldDestination) {
    TestDir dir;
    dir.write("big", randomBytes(1 << 20, 3));
    dir.write("out/dst", "old contents");
    for (IfDestinationExists ifExists : {Replace, Fail}) {
        const std::string destination = ifExists == Replace ? "out/dst" : "out/fresh";
        // A small file-size limit makes every write past it fail, as a full disk would.
        const int result = testsupport::runInChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = {64 * 1024, 64 * 1024};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return 2;
            if (copyOneFile(dir.path("big"), dir.path(destination), ifExists))
                return 1;
            return errno == EFBIG ? 0 : 3;
        });
        EXPECT_EQ(result, 0) << destination;
    }
    EXPECT_EQ(dir.read("out/dst"), "old contents");
    EXPECT_EQ(entriesOf(dir.root() / "out"), std::set<std::string>{"dst"})
        << "neither a partial copy nor a temporary file is left";
}

TEST(CopyOneFile, CopyKilledHalfwayLeavesNoPartialFile) {
    struct Row {
        const char* name;
        const char* destination;
        IfDestinationExists ifExists;
        const char* left; // what the destination holds afterwards; nullptr: nothing there
    } rows[] = {
        {"replace existing", "out/dst", Replace, "old contents"},
        {"replace, nothing there", "out/fresh", Replace, nullptr},
        {"fail, nothing there", "out/fresh", Fail, nullptr},
    };
    for (const Row& row : rows) {
        TestDir dir;
        dir.write("big", randomBytes(1 << 20, 9));
        dir.write("out/dst", "old contents");
        // The file-size limit's signal ends the process in the middle of writing the copy.
        const int result = testsupport::runInChild([&] {
            const struct rlimit noCore = {0, 0};
            const struct rlimit limit = {64 * 1024, 64 * 1024};
            if (::setrlimit(RLIMIT_CORE, &noCore) != 0 || ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return 2;
            return copyOneFile(dir.path("big"), dir.path(row.destination), row.ifExists) ? 1 : 3;
        });
        EXPECT_EQ(result, -SIGXFSZ) << row.name;
        if (row.left)
            EXPECT_EQ(dir.read(row.destination), row.left) << row.name;
        else
            EXPECT_FALSE(dir.exists(row.destination)) << row.name;
        EXPECT_EQ(entriesOf(dir.root() / "out"), std::set<std::string>{"dst"}) << row.name;
        EXPECT_EQ(dir.read("out/dst"), "old contents") << row.name;
    }
}

TEST(CopyOneFile, RefusedFolderIsLeftAlone) {
    TestDir dir;
    dir.write("src", "data");
    dir.write("out/dst", "old");
    fs::permissions(dir.root(), fs::perms::owner_all | fs::perms::others_exec);
    fs::permissions(dir.root() / "src", fs::perms::owner_all | fs::perms::others_read);
    fs::permissions(dir.root() / "out",
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    if (::geteuid() != 0)
        fs::permissions(dir.root() / "out", fs::perms::owner_read | fs::perms::owner_exec);
    const int result = testsupport::runInChild([&] {
        if (::geteuid() == 0 && !testsupport::dropToNobody())
            return testsupport::CouldNotDropPrivileges;
        return (copyOneFile(dir.path("src"), dir.path("out/dst"), Replace) ? 1 : 0) +
               (copyOneFile(dir.path("src"), dir.path("out/new"), Fail) ? 2 : 0);
    });
    fs::permissions(dir.root() / "out", fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dir.read("out/dst"), "old");
    EXPECT_EQ(entriesOf(dir.root() / "out"), std::set<std::string>{"dst"});
}

TEST(CopyOneFile, WorksWithoutPrivileges) {
    // Naming the finished file must not depend on privileges that an ordinary user lacks.
    TestDir dir;
    dir.write("src", "data");
    dir.write("out/dst", "old");
    fs::permissions(dir.root(), fs::perms::others_exec, fs::perm_options::add);
    fs::permissions(dir.root() / "src", fs::perms::others_read, fs::perm_options::add);
    if (::geteuid() == 0) {
        for (const char* path : {"out", "out/dst"})
            ASSERT_EQ(::chown(dir.path(path).c_str(), 65534, 65534), 0) << path;
    }
    const int result = testsupport::runInChild([&] {
        if (::geteuid() == 0 && !testsupport::dropToNobody())
            return testsupport::CouldNotDropPrivileges;
        int failed = 0;
        for (int round = 0; round < 2; ++round) {
            failed |=
                copyOneFile(dir.path("src"), dir.path("out/fresh"), round == 0 ? Fail : Replace)
                    ? 0
                    : 1;
            failed |= copyOneFile(dir.path("src"), dir.path("out/dst"), Replace) ? 0 : 2;
        }
        return failed;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dir.read("out/fresh"), "data");
    EXPECT_EQ(dir.read("out/dst"), "data");
    EXPECT_EQ(entriesOf(dir.root() / "out"), (std::set<std::string>{"dst", "fresh"}));
}

TEST(CopyOneFile, NamesAreBytes) {
    TestDir dir;
    dir.write("bad\xff\xfe", "bytes");
    fs::create_directories(dir.root() / "out");
    EXPECT_TRUE(copyOneFile(dir.path("bad\xff\xfe"), dir.path("out/also\xc0"), Replace));
    EXPECT_EQ(dir.read("out/also\xc0"), "bytes");
}

// Writes a file of `size` bytes that is all hole except the given pieces.
void writeSparse(const std::string& path, off_t size,
                 const std::vector<std::pair<off_t, std::string>>& pieces) {
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    for (const auto& [offset, bytes] : pieces)
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset),
                  static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

bool reportsHoles(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    ::fstat(fd, &st);
    const off_t hole = ::lseek(fd, 0, SEEK_HOLE);
    ::close(fd);
    return hole >= 0 && hole < st.st_size;
}

TEST(CopyOneFile, LargeSparseFileCopiesByteForByte) {
    TestDir dir;
    constexpr off_t MiB = 1024 * 1024;
    constexpr off_t Size = 300 * MiB;
    writeSparse(dir.path("sparse"), Size,
                {{0, randomBytes(5000, 4)},
                 {100 * MiB + 17, randomBytes(70000, 5)},
                 {Size - 9, "last part"}});
    fs::create_directories(dir.root() / "out");
    ASSERT_TRUE(copyOneFile(dir.path("sparse"), dir.path("out/sparse"), Replace));
    EXPECT_EQ(fs::file_size(dir.root() / "out/sparse"), static_cast<std::uintmax_t>(Size));
    EXPECT_TRUE(sameBytes(dir.path("sparse"), dir.path("out/sparse")));
    if (reportsHoles(dir.path("sparse"))) {
        const struct stat source = ownStat(dir.path("sparse"));
        const struct stat copy = ownStat(dir.path("out/sparse"));
        EXPECT_LE(copy.st_blocks, source.st_blocks + 2048) << "the holes stay holes";
    }
}

TEST(CopyFileContents, EveryMethodGivesTheSameBytes) {
    TestDir dir;
    constexpr off_t MiB = 1024 * 1024;
    const off_t sparseSize = 5 * MiB + 123;
    writeSparse(dir.path("sparse"), sparseSize,
                {{0, "head"}, {MiB + 4095, randomBytes(MiB + 3, 6)}, {sparseSize - 3, "end"}});
    dir.write("dense", randomBytes(2 * MiB + 511, 7));
    dir.write("empty", "");
    writeSparse(dir.path("holeOnly"), 3 * MiB, {});

    for (const char* name : {"sparse", "dense", "empty", "holeOnly"}) {
        for (CopyMethod method :
             {CopyMethod::CopyFileRange, CopyMethod::SendFile, CopyMethod::ReadWrite}) {
            const std::string label =
                std::string(name) + " method " + std::to_string(static_cast<int>(method));
            const std::string copy = dir.path("copy");
            const int from = ::open(dir.path(name).c_str(), O_RDONLY | O_CLOEXEC);
            const int to = ::open(copy.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
            ASSERT_GE(from, 0);
            ASSERT_GE(to, 0);
            struct stat st {};
            ::fstat(from, &st);
            EXPECT_TRUE(copyFileContents(from, to, st.st_size, method)) << label;
            ::close(to);
            EXPECT_TRUE(sameBytes(dir.path(name), copy)) << label;

            // A size that no longer matches the source means it changed meanwhile.
            const int again = ::open(copy.c_str(), O_TRUNC | O_WRONLY | O_CLOEXEC);
            EXPECT_FALSE(copyFileContents(from, again, st.st_size + 10, method)) << label;
            if (st.st_size > 0) {
                EXPECT_FALSE(copyFileContents(from, again, st.st_size - 1, method)) << label;
            }
            ::close(again);
            ::close(from);
        }
    }
}

TEST(CopyOneFile, AcrossFileSystems) {
    // Memory-backed /dev/shm is another file system than the test folder on most machines:
    // copy_file_range refuses there and the fallback does the work.
    TestDir dir;
    std::string shared = "/dev/shm/brimvale-test-XXXXXX";
    const int fd = ::mkstemp(shared.data());
    if (fd < 0)
        GTEST_SKIP() << "no /dev/shm here";
    const std::string content = randomBytes(3 * 1024 * 1024 + 11, 8);
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
    const bool copied = copyOneFile(shared, dir.path("copy"), Replace);
    const bool same = copied && dir.read("copy") == content;
    ::unlink(shared.c_str());
    EXPECT_TRUE(copied);
    EXPECT_TRUE(same);
}

// ---- Temporaries left by runs that ended ----

// A 12-digit id other than `id`.
std::string otherId(const std::string& id) {
    return id == "aaaaaaaaaaaa" ? "bbbbbbbbbbbb" : "aaaaaaaaaaaa";
}

TEST(Temporaries, OnlyThoseOfEndedMakersAreRemoved) {
    const std::optional<TemporaryMaker> self = thisProcessAsMaker();
    ASSERT_TRUE(self) << "this process's boot, start time or PID namespace cannot be read";
    const pid_t ended = ::fork();
    if (ended == 0)
        ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    const auto& [machine, boot, ns, pid, start] = *self;
    const TemporaryMaker anotherBoot{machine, otherId(boot), ns, pid, start};
    const auto noProcess = static_cast<std::uint64_t>(ended);

    constexpr auto File = TemporaryKind::File;
    constexpr auto Link = TemporaryKind::Link;
    enum class Make { File, Link, Folder, Pipe };
    struct Row {
        const char* label;
        std::string name;
        Make make;
        bool removed;
    } rows[] = {
        {"this process's file", temporaryName(*self, File), Make::File, false},
        {"this process's link", temporaryName(*self, Link), Make::Link, false},
        {"another boot's file", temporaryName(anotherBoot, File), Make::File, true},
        {"another boot's link", temporaryName(anotherBoot, Link), Make::Link, true},
        {"a number no process has", temporaryName({machine, boot, ns, noProcess, start}, File),
         Make::File, true},
        {"this number, started later", temporaryName({machine, boot, ns, pid, start + 1}, File),
         Make::File, true},
        {"another machine's", temporaryName({otherId(machine), otherId(boot), ns, pid, 1}, File),
         Make::File, false},
        {"another PID namespace's",
         temporaryName({machine, boot, ns == "1" ? "2" : "1", noProcess, start}, File), Make::File,
         false},
        {"a folder under an ended name", temporaryName(anotherBoot, File), Make::Folder, false},
        {"a pipe under an ended name", temporaryName(anotherBoot, File), Make::Pipe, false},
        {"a link under an ended file's name", temporaryName(anotherBoot, File), Make::Link, false},
        {"a file under an ended link's name", temporaryName(anotherBoot, Link), Make::File, false},
        {"a name of an earlier form", ".brimvale-abcdefghijkl.tmp", Make::File, false},
        {"a field short", ".brimvale-" + machine + "-" + boot + "-1-2-abcdefgh.tmp", Make::File,
         false},
    };
    for (const bool listingGiven : {false, true}) {
        const char* way = listingGiven ? "listing given: " : "folder listed: ";
        TestDir dir;
        dir.write("notes.txt", "kept");
        std::size_t removable = 0;
        for (const Row& row : rows) {
            const std::string path = dir.path(row.name);
            EXPECT_EQ(row.make == Make::File     ? ::close(::creat(path.c_str(), 0644))
                      : row.make == Make::Link   ? ::symlink("notes.txt", path.c_str())
                      : row.make == Make::Folder ? ::mkdir(path.c_str(), 0755)
                                                 : ::mkfifo(path.c_str(), 0644),
                      0)
                << row.label;
            removable += row.removed ? 1 : 0;
        }
        const Descriptor folder = openFolder(dir.path());
        FolderListing listing;
        ASSERT_EQ(readListing(dir.path(), listing), 0);
        const TemporaryRemoval removal =
            listingGiven ? removeEndedTemporariesIn(folder.get(), listing.entries)
                         : removeEndedTemporariesIn(folder.get());
        EXPECT_EQ(removal.removed, removable) << way;
        EXPECT_EQ(removal.refused.size(), 0u) << way;
        for (const Row& row : rows)
            EXPECT_EQ(dir.exists(row.name), !row.removed) << way << row.label;
        EXPECT_EQ(dir.read("notes.txt"), "kept") << way << "a link's target stays";
    }
}

TEST(Temporaries, RefusalsAreReported) {
    // As root the child gives up its privileges and is one of the others; else it is the owner.
    const struct {
        const char* label;
        mode_t allowed; // r-x: listed, but nothing can be removed; -wx: not even listed
        bool nameRefused;
    } rows[] = {{"removal refused", 05, true}, {"listing refused", 03, false}};
    TemporaryMaker ended = thisProcessAsMaker().value();
    ended.boot = otherId(ended.boot);
    const std::string name = temporaryName(ended, TemporaryKind::File);
    for (const auto& row : rows) {
        TestDir dir;
        dir.write(name, "partial");
        const int result = testsupport::runInChild([&] {
            const Descriptor folder = openFolder(dir.path());
            const bool root = ::geteuid() == 0;
            if (::fchmod(folder.get(), root ? 0700 | row.allowed : row.allowed << 6) != 0 ||
                (root && !testsupport::dropToNobody()))
                return testsupport::CouldNotDropPrivileges;
            const TemporaryRemoval removal = removeEndedTemporariesIn(folder.get());
            const TemporaryRemoval::Refusal refusal{row.nameRefused ? name : "", EACCES};
            return removal.removed == 0 && removal.refused == std::vector{refusal} ? 0 : 1;
        });
        fs::permissions(dir.root(), fs::perms::owner_all, fs::perm_options::add);
        EXPECT_EQ(result, 0) << row.label;
        EXPECT_TRUE(dir.exists(name)) << row.label;
    }
}

// A fresh volume in an image in `folder`, made by `make` (a mkfs command), on a loop device and
// mounted by the FUSE driver `driver` as a USB stick is, in mounts of a helper process's own,
// reached through /proc/PID/root. The helper takes it down once the pipe to it closes, as this
// object or this process goes. `status` is 0 once mounted, 77 where the machine lacks root, loop
// devices, FUSE or the tools.
struct FuseVolume {
    pid_t helper = -1;
    int toHelper = -1;
    int status = 77;
    std::string path;

    FuseVolume(const char* make, const char* driver, const std::string& folder) {
        static constexpr const char* Script = R"(set -eu
            PATH=$PATH:/usr/sbin:/sbin
            [ -e /dev/loop-control ] && [ -e /dev/fuse ] && command -v ${1%% *} $2 || exit 77
            truncate -s 32M "$3/volume.img"
            $1 "$3/volume.img"
            mkdir "$3/volume"
            loop=$(losetup -f --show "$3/volume.img")
            trap 'umount "$3/volume" || umount -l "$3/volume"; losetup -d "$loop"' EXIT
            $2 "$loop" "$3/volume"
            echo >&3
            read -r _ || true)";
        int in[2];
        int out[2];
        if (::geteuid() != 0 || ::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        if ((helper = ::fork()) == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 3);
            ::dup2(::open("/dev/null", O_WRONLY), 1);
            if (testsupport::usePrivateMounts())
                ::execl("/bin/sh", "sh", "-c", Script, "sh", make, driver, folder.c_str(), nullptr);
            ::_exit(77);
        }
        ::close(in[0]);
        ::close(out[1]);
        toHelper = in[1];
        char ready = 0;
        status = ::read(out[0], &ready, 1) == 1 ? 0 : stop();
        ::close(out[0]);
        path = "/proc/" + std::to_string(helper) + "/root" + folder + "/volume";
    }
    ~FuseVolume() { stop(); }
    // Takes the volume down; the helper's exit code.
    int stop() {
        int code = -1;
        ::close(std::exchange(toHelper, -1));
        if (helper > 0 && ::waitpid(std::exchange(helper, -1), &code, 0) > 0)
            code = WIFEXITED(code) ? WEXITSTATUS(code) : -1;
        return code;
    }
};

TEST(Temporaries, AnEndedCopysPartialFileIsRemoved) {
    // No unnamed files there, so a copy writes under a temporary name; NTFS also lacks
    // RENAME_NOREPLACE, so a copy is placed by a link and an unlink.
    enum class Ending { KilledMidCopy, TemporaryNameNotRemovable };
    const struct {
        const char* label;
        const char* make;
        const char* driver;
        Ending ending;
    } rows[] = {
        {"exFAT, killed mid-copy", "mkfs.exfat", "mount.exfat-fuse", Ending::KilledMidCopy},
        {"NTFS, killed mid-copy", "mkntfs -QF", "ntfs-3g", Ending::KilledMidCopy},
        {"NTFS, temporary name not removable", "mkntfs -QF", "ntfs-3g",
         Ending::TemporaryNameNotRemovable},
    };
    // Left beside the partial file: a temporary of this live process, one made on another
    // machine, a folder under an ended maker's name and a file under a name not of our form.
    const auto [machine, boot, ns, pid, start] = thisProcessAsMaker().value();
    const std::string live = temporaryName(TemporaryKind::File);
    const std::string foreign =
        temporaryName({otherId(machine), otherId(boot), ns, pid, start}, TemporaryKind::File);
    const std::string notOurs = ".brimvale-notours.tmp";
    const std::string folder =
        temporaryName({machine, otherId(boot), ns, pid, start}, TemporaryKind::File);
    for (const auto& row : rows) {
        TestDir dir;
        dir.write("big", randomBytes(1 << 20, 10));
        const FuseVolume volume(row.make, row.driver, dir.path());
        if (volume.status == 77)
            GTEST_SKIP() << row.label << ": needs root, loop devices, FUSE and the driver";
        ASSERT_EQ(volume.status, 0) << row.label << ": the volume did not mount";
        const std::string destination = volume.path + "/dst";
        const int result = testsupport::runInChild([&] {
            if (row.ending == Ending::TemporaryNameNotRemovable) {
                g_refuseRemovingTemporaries = true;
                return copyOneFile(dir.path("big"), destination, Fail) ? 1 : errno == EPERM ? 0 : 2;
            }
            // Past 64 KiB the file-size limit's signal comes, and the child kills itself.
            ::signal(SIGXFSZ, [](int) { ::kill(::getpid(), SIGKILL); });
            const struct rlimit limit = {64 * 1024, 64 * 1024};
            return ::setrlimit(RLIMIT_FSIZE, &limit) != 0               ? 3
                   : copyOneFile(dir.path("big"), destination, Replace) ? 1
                                                                        : 4;
        });
        EXPECT_EQ(result, row.ending == Ending::KilledMidCopy ? -SIGKILL : 0) << row.label;
        const std::set<std::string> leftOver = entriesOf(volume.path);
        ASSERT_EQ(leftOver.size(), 1u) << row.label << ": only the partial file, once";
        EXPECT_TRUE(parseTemporaryName(*leftOver.begin())) << row.label;

        for (const std::string& name : {live, foreign, notOurs})
            ::close(::creat((volume.path + "/" + name).c_str(), 0644));
        ::mkdir((volume.path + "/" + folder).c_str(), 0755);
        const TemporaryRemoval removal = removeEndedTemporariesIn(openFolder(volume.path).get());
        EXPECT_EQ(removal.removed, 1u) << row.label;
        EXPECT_EQ(removal.refused.size(), 0u) << row.label;
        EXPECT_EQ(entriesOf(volume.path), (std::set<std::string>{live, foreign, notOurs, folder}))
            << row.label;
    }
}

} // namespace

// A file rewritten in place, at the same size, all through its copies, version after version,
// each version's blocks written first to last: each copy holds the file as it was at one moment
// (the first blocks of a version, the rest of the one before), or the copy says the source
// changed. Writes within one tick of the kernel's clock leave the source's times as they were;
// only a watch on the file hears of them.
TEST(CopyOneFile, SourceRewrittenWhileCopiedIsCopiedAsItWasAtOneMoment) {
    TestDir dir;
    constexpr std::size_t Blocks = 16;
    constexpr std::size_t Block = std::size_t{256} << 10;
    // Block k of version v: v in every byte.
    const auto version = [&](unsigned v) {
        return std::string(Block, static_cast<char>('a' + v % 26));
    };
    std::string first;
    for (std::size_t k = 0; k < Blocks; ++k)
        first += version(0);
    dir.write("src", first);
    const std::string source = dir.path("src");
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const int fd = ::open(source.c_str(), O_WRONLY | O_CLOEXEC);
        for (unsigned v = 1; !done; ++v) {
            const std::string block = version(v);
            for (std::size_t k = 0; k < Blocks && !done; ++k)
                if (::pwrite(fd, block.data(), Block, static_cast<off_t>(k * Block)) < 0)
                    return;
        }
        ::close(fd);
    });
    int whole = 0;
    int changed = 0;
    for (int copy = 0; copy < 60; ++copy) {
        const std::string name = "copy" + std::to_string(copy);
        if (!copyOneFile(source, dir.path(name), Replace)) {
            EXPECT_EQ(errno, EAGAIN) << "copy " << copy;
            ++changed;
            continue;
        }
        ++whole;
        const std::string bytes = dir.read(name);
        ASSERT_EQ(bytes.size(), Blocks * Block) << "copy " << copy;
        // The blocks of one version, then those of the version before it.
        std::size_t k = 1;
        while (k < Blocks && bytes[k * Block] == bytes.front())
            ++k;
        const char before = bytes[std::min(k, Blocks - 1) * Block];
        for (std::size_t rest = k; rest < Blocks; ++rest)
            if (bytes[rest * Block] != before ||
                (before - 'a' + 1) % 26 != (bytes.front() - 'a') % 26) {
                ADD_FAILURE() << "copy " << copy << " holds two versions at block " << rest
                              << ", as the file never was";
                break;
            }
    }
    done = true;
    writer.join();
    std::printf("%d copies whole, %d said the source changed\n", whole, changed);
}
