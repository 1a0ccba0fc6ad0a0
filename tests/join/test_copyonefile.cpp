#include "join/posixfs.h"
#include "support/testdir.h"
#include "test_childprocess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace join;
using testsupport::TestDir;
namespace fs = std::filesystem;

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

        EXPECT_TRUE(CopyOneFile(dir.path(name), dir.path("out/" + name), Replace)) << name;
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
        {"keep, another 10 ms", true, KeepCopy, true, "new", "old", Seconds, 130000000},
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
        EXPECT_EQ(CopyOneFile(dir.path("src"), dir.path("out/dst"), row.ifExists), row.copied)
            << row.name;
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
        dir.path("folder/data"),           dir.path("folder/./data"), dir.path("folder//data"),
        dir.path("folder/hard"),           dir.path("folder/soft"),   dir.path("folder/softToHard"),
        dir.path("folder/../folder/data"),
    };
    for (const std::string& destination : destinations) {
        for (IfDestinationExists ifExists : {Replace, Fail}) {
            EXPECT_FALSE(CopyOneFile(dir.path("folder/data"), destination, ifExists))
                << destination;
            EXPECT_EQ(errno, EINVAL) << destination;
            EXPECT_FALSE(CopyOneFile(destination, dir.path("folder/data"), ifExists))
                << destination;
        }
    }
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
    EXPECT_TRUE(CopyOneFile(dir.path("src"), dir.path("out/link"), Replace));
    EXPECT_FALSE(fs::is_symlink(dir.root() / "out/link"));
    EXPECT_EQ(dir.read("out/link"), "new");

    EXPECT_FALSE(CopyOneFile(dir.path("src"), dir.path("out/linkKept"), Fail));
    EXPECT_TRUE(fs::is_symlink(dir.root() / "out/linkKept"));
    EXPECT_FALSE(CopyOneFile(dir.path("src"), dir.path("out/dangling"), Fail));
    EXPECT_TRUE(fs::is_symlink(dir.root() / "out/dangling"));
    EXPECT_FALSE(dir.exists("outside/nothing"));

    EXPECT_EQ(dir.read("outside/target.txt"), "keep");
    EXPECT_EQ(entriesOf(dir.root() / "outside"), std::set<std::string>{"target.txt"});
}

TEST(CopyOneFile, SourceThatIsALinkCopiesTheFile) {
    TestDir dir;
    dir.make("real=contents\nlink -> real\nout/");
    EXPECT_TRUE(CopyOneFile(dir.path("link"), dir.path("out/copy"), Replace));
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
                [&] { return CopyOneFile(row.source, row.destination, ifExists) ? 1 : 0; }, 10);
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
            if (CopyOneFile(dir.path("big"), dir.path(destination), ifExists))
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
            return CopyOneFile(dir.path("big"), dir.path(row.destination), row.ifExists) ? 1 : 3;
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
        return (CopyOneFile(dir.path("src"), dir.path("out/dst"), Replace) ? 1 : 0) +
               (CopyOneFile(dir.path("src"), dir.path("out/new"), Fail) ? 2 : 0);
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
                CopyOneFile(dir.path("src"), dir.path("out/fresh"), round == 0 ? Fail : Replace)
                    ? 0
                    : 1;
            failed |= CopyOneFile(dir.path("src"), dir.path("out/dst"), Replace) ? 0 : 2;
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
    EXPECT_TRUE(CopyOneFile(dir.path("bad\xff\xfe"), dir.path("out/also\xc0"), Replace));
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
    ASSERT_TRUE(CopyOneFile(dir.path("sparse"), dir.path("out/sparse"), Replace));
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
    const bool copied = CopyOneFile(shared, dir.path("copy"), Replace);
    const bool same = copied && dir.read("copy") == content;
    ::unlink(shared.c_str());
    EXPECT_TRUE(copied);
    EXPECT_TRUE(same);
}

} // namespace
