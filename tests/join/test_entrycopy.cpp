#include "fakejoinhost.h"
#include "join/fs/failure.h"
#include "join/host/trap.h"
#include "join/run/entrycopy.h"
#include "join/tasks/workers.h"
#include "support/testdir.h"
#include "test_childprocess.h"
#include "words/words.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace join;
using testsupport::FakeJoinHost;
using testsupport::listTree;
using testsupport::TestDir;
namespace fs = std::filesystem;

namespace {

const std::string RunLocation = "in Brimvale2021/08/31.Form1.PushButton2_Click ";

void copyFlat(FakeJoinHost& host, const std::string& entry) {
    Trap trap(host, RunLocation);
    copyEntryFlat(entry, host.output, host, trap);
}

void copyPreserving(FakeJoinHost& host, const std::string& entry) {
    Trap trap(host, RunLocation);
    copyEntryPreservingStructure(entry, host.output, host, trap);
}

std::string failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Failure& failure) {
        return std::to_string(failure.number()) + " " + words::describe(failure);
    } catch (const CopyShortfall& shortfall) {
        return std::to_string(shortfall.number()) + " " + words::headline(shortfall);
    }
    return "no failure";
}

} // namespace

// Entry 1 holds x.txt, ~tmp.txt and sub/ with x.txt and y.txt; entry 2 holds y.txt. The later
// file of a name wins and "~" names are never copied.
TEST(CopyEntryFlat, WorkedExample) {
    TestDir dir;
    dir.make(R"(
        A/x.txt=A x
        A/~tmp.txt=temporary
        A/sub/x.txt=A sub x
        A/sub/y.txt=A sub y
        B/y.txt=B y
        out/
    )");
    FakeJoinHost host;
    host.output = dir.path("out", true);
    copyFlat(host, dir.path("A", true));
    // The walk yields 4 times (A, sub read, sub, sub added); the copies run while the window
    // waits.
    EXPECT_EQ(host.pumps, 4);
    copyFlat(host, dir.path("B", true));
    EXPECT_EQ(listTree(dir.root() / "out"), "x.txt\ny.txt\n");
    EXPECT_EQ(dir.read("out/x.txt"), "A sub x");
    EXPECT_EQ(dir.read("out/y.txt"), "B y");
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.reports.empty());
    EXPECT_TRUE(host.shortfalls.empty());
}

TEST(CopyEntryFlat, PlacementCases) {
    struct Row {
        const char* name;
        const char* tree;
        const char* entry;
        const char* output;
        const char* expected; // listTree of out
    };
    const Row rows[] = {
        {"no files, no subfolders", "src/\nout/", "src/", "out/", ""},
        {"hidden file and a file three levels down", "src/.hidden=h\nsrc/a/b/c/deep.txt=d\nout/",
         "src/", "out/", ".hidden\ndeep.txt\n"},
        {"output text without separator", "src/f.txt=f\nsrc/s/g.txt=g\nout/", "src/", "out",
         "f.txt\ng.txt\n"},
        {"entry without separator includes subfolders", "src/f.txt=f\nsrc/s/g.txt=g\nout/", "src",
         "out/", "f.txt\ng.txt\n"},
        {"earlier output file is replaced, others stay", "src/f.txt=new\nout/f.txt=old\nout/k=k",
         "src/", "out/", "f.txt\nk\n"},
        {"links to files are copied as files", "src/real=r\nsrc/link -> real\nout/", "src/", "out/",
         "link\nreal\n"},
    };
    for (const Row& row : rows) {
        TestDir dir;
        dir.make(row.tree);
        FakeJoinHost host;
        host.output = dir.path(row.output);
        copyFlat(host, dir.path(row.entry));
        EXPECT_EQ(listTree(dir.root() / "out"), row.expected) << row.name;
        EXPECT_TRUE(host.reports.empty()) << row.name;
        EXPECT_TRUE(host.shortfalls.empty()) << row.name;
        EXPECT_TRUE(host.messages.empty()) << row.name;
    }
}

// A missing entry stays in its folder collection unlisted, so listing its files fails: the
// folder is not copied, which the disk, not the program, is the cause of.
TEST(CopyEntryFlat, MissingEntryIsReportedAndCopiesNothing) {
    TestDir dir;
    dir.make("out/");
    FakeJoinHost host;
    host.output = dir.path("out", true);
    copyFlat(host, dir.path("nothing-here", true));
    EXPECT_EQ(host.shortfallLines(), std::vector<int>{150});
    ASSERT_EQ(host.shortfalls.size(), 1u);
    EXPECT_EQ(host.shortfalls[0].descriptions(),
              std::vector<std::string>{dir.path("nothing-here", true) + ": Path not found"});
    EXPECT_EQ(host.shortfalls[0].items[0].kind, NotCopiedItem::Kind::Folder);
    EXPECT_TRUE(host.reports.empty());
    EXPECT_EQ(listTree(dir.root() / "out"), "");
}

// An empty entry would name the root with the separator appended; it names no folder.
TEST(CopyEntryFlat, EmptyEntryCopiesNothing) {
    TestDir dir;
    dir.make("out/");
    FakeJoinHost host;
    host.output = dir.path("out", true);
    copyFlat(host, "");
    EXPECT_EQ(host.pumps, 0);
    EXPECT_EQ(listTree(dir.root() / "out"), "");
}

// Files that cannot be copied are given to the trap once per entry, with their count and the
// first in processing order, and listed every one in that order, however the workers met them;
// a name whose last file fails gets the file before it. Run as an unprivileged user (so a file
// can really be unreadable) onto a real disk too small for the videos, one of them small and
// changed long ago, which is written under its own name and must go again.
TEST(CopyEntryFlat, FilesThatCannotBeCopiedAreReportedOncePerEntry) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a private mount";
    TestDir dir;
    dir.make(
        "one/note.txt=note\none/a/photo.jpg=earlier\none/b/photo.jpg=later\none/~lock=l\nout/");
    dir.write("two/video1.mp4", std::string(1 << 20, 'v'));
    const struct timespec past[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
    ::utimensat(AT_FDCWD, dir.path("two/video1.mp4").c_str(), past, 0);
    dir.write("two/video2.mp4", std::string(2 << 20, 'w'));
    fs::permissions(dir.root() / "one/b/photo.jpg", fs::perms::none);
    fs::permissions(dir.root(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const int code = testsupport::runInChild([&] {
        if (!testsupport::usePrivateMounts() ||
            !testsupport::mountSmallDisk(dir.path("out"), 1 << 20))
            return testsupport::CouldNotMount;
        if (!testsupport::dropToNobody())
            return testsupport::CouldNotDropPrivileges;
        FakeJoinHost host;
        host.output = dir.path("out", true);
        copyFlat(host, dir.path("one", true));
        copyFlat(host, dir.path("two", true));
        int wrong = 0;
        if (host.shortfallLines() != std::vector<int>{160, 160} || !host.reports.empty())
            return 1;
        if (host.shortfalls[0].description !=
            "Could not copy 1 file: " + dir.path("one/b/photo.jpg") + ": Permission denied")
            wrong |= 2;
        if (host.shortfalls[1].description != "Could not copy 2 files; the first: " +
                                                  dir.path("out/video1.mp4") + ": Disk full" ||
            host.shortfalls[1].descriptions() !=
                std::vector<std::string>{dir.path("out/video1.mp4") + ": Disk full",
                                         dir.path("out/video2.mp4") + ": Disk full"})
            wrong |= 4;
        if (listTree(dir.root() / "out") != "note.txt\nphoto.jpg\n" ||
            dir.read("out/photo.jpg") != "earlier")
            wrong |= 8;
        return wrong;
    });
    EXPECT_EQ(code, 0) << "1: reports, 2: unreadable file, 4: full disk, 8: output";
}

TEST(CopyEntryFlat, FolderThatCannotBeListedIsReportedAndContributesNothing) {
    TestDir dir;
    dir.make("src/a.txt=a\nsrc/gone/lost.txt=x\nsrc/later/b.txt=b\nout/");
    FakeJoinHost host;
    host.output = dir.path("out", true);
    // Once the walk is over, the folder vanishes just before its files are listed.
    // The walk's last yield comes after it has taken "gone" and before it takes "later".
    host.onPump = [&] {
        if (host.pumps == 7)
            fs::remove_all(dir.root() / "src" / "gone");
    };
    copyFlat(host, dir.path("src", true));
    ASSERT_EQ(host.shortfallLines(), std::vector<int>{150});
    EXPECT_EQ(host.shortfalls[0].description,
              "Could not list 1 folder: " + dir.path("src/gone", true) + ": Path not found");
    EXPECT_TRUE(host.reports.empty());
    EXPECT_EQ(listTree(dir.root() / "out"), "a.txt\nb.txt\n");
}

// The output folder may lie inside the entry: the walk passes through it, and a file found there
// is never copied onto itself.
TEST(CopyEntryFlat, OutputFolderInsideTheEntry) {
    TestDir dir;
    dir.make("src/a.txt=a\nsrc/sub/b.txt=b\nsrc/out/old.txt=kept");
    FakeJoinHost host;
    host.output = dir.path("src/out", true);
    copyFlat(host, dir.path("src", true));
    EXPECT_EQ(listTree(dir.root() / "src"),
              "a.txt\nout/a.txt\nout/b.txt\nout/old.txt\nsub/b.txt\n");
    EXPECT_EQ(dir.read("src/out/old.txt"), "kept");
    EXPECT_EQ(dir.read("src/a.txt"), "a");
    EXPECT_TRUE(host.reports.empty());
    EXPECT_TRUE(host.shortfalls.empty());
}

// Entries C:\Photos\2019\ and E:\Scans\ in the document become entries under the temporary
// folder here; the mirrored path is the output text and the whole entry path below it.
TEST(CopyEntryPreservingStructure, WorkedExampleAndExistingCopyCheck) {
    TestDir dir;
    dir.make(R"(
        Photos/2019/a.jpg=a
        Photos/2019/~lock=tilde
        Photos/2019/trip/b.jpg=b
        Scans/s.png=s
        out/
    )");
    FakeJoinHost host;
    host.output = dir.path("out", true);
    copyPreserving(host, dir.path("Photos/2019", true));
    copyPreserving(host, dir.path("Scans", true));
    EXPECT_EQ(listTree(dir.root() / "out"),
              "2019/a.jpg\n2019/trip/b.jpg\n2019/~lock\nScans/s.png\n");
    EXPECT_TRUE(host.messages.empty());

    // Where the mirrored path exists the entry is refused; the other entry is copied again.
    const std::string mirrored = dir.path("out", true) + dir.path("Scans").substr(1);
    fs::create_directories(mirrored);
    dir.write("Photos/2019/a.jpg", "a again");
    copyPreserving(host, dir.path("Photos/2019", true));
    dir.write("Scans/s.png", "s again");
    copyPreserving(host, dir.path("Scans", true));
    EXPECT_EQ(host.messages,
              std::vector<std::string>{mirrored + " already exists. Please delete."});
    EXPECT_EQ(dir.read("out/2019/a.jpg"), "a again");
    EXPECT_EQ(dir.read("out/Scans/s.png"), "s");
    EXPECT_TRUE(host.reports.empty());
    EXPECT_TRUE(host.shortfalls.empty());
}

TEST(CopyEntryPreservingStructure, PlacementCases) {
    struct Row {
        const char* name;
        const char* tree;
        std::vector<const char*> entries;
        const char* output;
        const char* expected; // listTree of out
    };
    const Row rows[] = {
        {"output text with separator: the tree arrives under its name",
         "a/Photos/p=1\nout/",
         {"a/Photos/"},
         "out/",
         "Photos/p\n"},
        {"output text without separator: the contents merge into it",
         "a/Photos/p=1\na/Photos/s/q=2\nout/x=x",
         {"a/Photos/"},
         "out",
         "p\ns/q\nx\n"},
        {"entry without trailing separator",
         "a/Photos/p=1\nout/",
         {"a/Photos"},
         "out/",
         "Photos/p\n"},
        {"two entries of one name merge",
         "a/Photos/p=a\na/Photos/only-a=a\nb/Photos/p=b\nout/",
         {"a/Photos/", "b/Photos/"},
         "out/",
         "Photos/only-a\nPhotos/p\n"},
        {"nested entries are both copied",
         "a/top/f=f\na/top/sub/g=g\nout/",
         {"a/top/", "a/top/sub/"},
         "out/",
         "sub/g\ntop/f\ntop/sub/g\n"},
        {"a missing output level is made", "a/p/f=f", {"a/p/"}, "out/new/", "new/p/f\n"},
    };
    for (const Row& row : rows) {
        TestDir dir;
        dir.make(row.tree);
        FakeJoinHost host;
        host.output = dir.path(row.output);
        for (const char* entry : row.entries)
            copyPreserving(host, dir.path(entry));
        EXPECT_EQ(listTree(dir.root() / "out"), row.expected) << row.name;
        EXPECT_TRUE(host.reports.empty()) << row.name;
        EXPECT_TRUE(host.shortfalls.empty()) << row.name;
        EXPECT_TRUE(host.messages.empty()) << row.name;
    }
    TestDir dir;
    dir.make("a/Photos/p=a\nb/Photos/p=b\nout/");
    // Two files written in one tick of the file system's clock could share a time, and a file of
    // the size and time of its source is already there.
    const auto later = dir.root() / "b/Photos/p";
    std::filesystem::last_write_time(later, std::filesystem::last_write_time(later) +
                                                std::chrono::seconds(5));
    FakeJoinHost host;
    host.output = dir.path("out", true);
    copyPreserving(host, dir.path("a/Photos/"));
    copyPreserving(host, dir.path("b/Photos/"));
    EXPECT_EQ(dir.read("out/Photos/p"), "b") << "the later entry replaces files of its name";
}

// Copying a folder into itself would never end, and copying it into a folder that holds it
// writes over what it has still to read: nothing is copied and the run hears why.
TEST(CopyEntryPreservingStructure, OutputFolderInsideTheEntryIsRefused) {
    struct Row {
        const char* name;
        const char* entry;
        const char* output;
    };
    const Row rows[] = {
        {"output below the entry", "src/", "src/out/"},
        {"output below the entry, no separator", "src/", "src/out"},
        {"output deeper below the entry", "src/", "src/sub/out/"},
        {"output is the entry", "src/", "src/"},
        {"output is the entry, no separator", "src", "src"},
        {"output reached through a link into the entry", "src/", "linked/out/"},
        {"entry is a link to a folder above the output", "link-to-src/", "src/out/"},
        {"the copy goes to a folder that holds the entry", "src/src/", "./"},
        {"output without separator holds the entry", "src/sub/", "src"},
    };
    for (const Row& row : rows) {
        TestDir dir;
        dir.make("src/a.txt=a\nsrc/sub/b.txt=b\nsrc/sub/out/\nsrc/out/\nlinked -> src\n"
                 "link-to-src -> src\nsrc/src/sub/b.txt=inner b");
        const std::string before = listTree(dir.root() / "src");
        FakeJoinHost host;
        host.output = dir.path(row.output);
        copyPreserving(host, dir.path(row.entry));
        ASSERT_EQ(host.shortfallLines(), std::vector<int>{138}) << row.name;
        EXPECT_NE(host.shortfalls[0].description.find("into itself"), std::string::npos)
            << row.name;
        EXPECT_TRUE(host.reports.empty()) << row.name;
        EXPECT_EQ(listTree(dir.root() / "src"), before) << row.name;
        EXPECT_TRUE(host.messages.empty()) << row.name;
    }
}

// An entry "/" or "", or an output text emptied during the run, must not make the copy read the
// whole machine or write into "/". Each row runs in a child shut into a small memory disk as its
// "/", so that a regression fills that disk at once instead of the machine's.
TEST(CopyProcedures, RootEntryAndEmptiedOutputTextCopyNothing) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a private mount";
    enum class Call { Preserve, Flat, FolderCopy };
    struct Row {
        const char* name;
        Call call;
        const char* entry;
        const char* output;
        const char* expected; // what the host was told, or the folder copy's failure
    };
    const Row rows[] = {
        {"preserve, entry /", Call::Preserve, "/", "/out/", "message"},
        {"preserve, emptied output text", Call::Preserve, "/src/", "", ""},
        {"preserve, empty entry", Call::Preserve, "", "/out/", ""},
        {"flat, emptied output text", Call::Flat, "/src/", "", ""},
        {"folder copy of /", Call::FolderCopy, "/", "/out/", "into itself"},
        {"folder copy of / into a text without separator", Call::FolderCopy, "/", "/out",
         "into itself"},
    };
    for (const Row& row : rows) {
        TestDir dir;
        const int code = testsupport::runInChild([&] {
            if (!testsupport::usePrivateMounts() ||
                !testsupport::mountSmallDisk(dir.path(), 4 << 20))
                return testsupport::CouldNotMount;
            dir.make("src/f.txt=f\nsrc/sub/g.txt=g\nout/");
            if (!testsupport::shutInto(dir.path()))
                return testsupport::CouldNotMount;
            FakeJoinHost host;
            host.output = row.output;
            Trap trap(host, RunLocation);
            std::string told;
            if (row.call == Call::Flat)
                copyEntryFlat(row.entry, host.output, host, trap);
            else if (row.call == Call::Preserve)
                copyEntryPreservingStructure(row.entry, host.output, host, trap);
            else if (failureOf([&] { copyFolder(row.entry, row.output); }).find("into itself") !=
                     std::string::npos)
                told = "into itself";
            if (!host.messages.empty())
                told += "message";
            for (const auto& report : host.reports)
                told += "report " + report.description;
            for (const auto& shortfall : host.shortfalls)
                told += "not copied " + shortfall.description;
            return listTree("/") != "src/f.txt\nsrc/sub/g.txt\n" ? 2 : told == row.expected ? 0 : 1;
        });
        EXPECT_EQ(code, 0) << row.name << " (1: told something else, 2: wrote)";
    }
}

TEST(CopyFolder, KeepsLinksAsLinksAndMerges) {
    TestDir dir;
    dir.make(R"(
        outside/secret=outside
        src/f=new f
        src/rel -> f
        src/abs -> /nonexistent/target
        src/up -> ../outside
        src/sub/g=g
        src/sub/back -> ..
        out/src/f=old f
        out/src/keep=keep
        out/src/sub -> ../../outside
        out/src/rel=a file in the way
    )");
    // A link that leads nowhere is named, not copied.
    EXPECT_EQ(failureOf([&] { copyFolder(dir.path("src"), dir.path("out", true)); }),
              "75 Could not copy 1 link: " + dir.path("src/abs") +
                  ": a link to nothing, so it is not copied");
    EXPECT_EQ(listTree(dir.root() / "out"), "src/f\nsrc/keep\nsrc/rel\nsrc/sub/back\n"
                                            "src/sub/g\nsrc/up\n");
    EXPECT_EQ(dir.read("out/src/f"), "new f");
    EXPECT_EQ(dir.read("out/src/keep"), "keep");
    EXPECT_EQ(fs::read_symlink(dir.root() / "out/src/rel"), "f");
    EXPECT_EQ(fs::read_symlink(dir.root() / "out/src/up"), "../outside");
    EXPECT_EQ(fs::read_symlink(dir.root() / "out/src/sub/back"), "..");
    // A link standing where a folder goes is replaced by a folder, never written through.
    EXPECT_FALSE(fs::is_symlink(dir.root() / "out/src/sub"));
    EXPECT_EQ(listTree(dir.root() / "outside"), "secret\n");
}

// Folders get the source's bits through the umask, without setuid, setgid and sticky bits, and
// a read-only folder is filled before it takes its bits, also when a second copy merges into it,
// and however deep read-only folders nest: a chain of them deeper than the open files allowed.
// Root writes anywhere, so this runs as the unprivileged user 65534.
TEST(CopyFolder, FolderPermissionsAndASecondCopyIntoReadOnlyFolders) {
    TestDir dir;
    struct Row {
        const char* name;
        fs::perms source;
        fs::perms copy;
    };
    const Row rows[] = {
        {"m777", fs::perms::all, static_cast<fs::perms>(0755)},
        {"m577", static_cast<fs::perms>(0577), static_cast<fs::perms>(0555)},
        {"m2555", static_cast<fs::perms>(02555), static_cast<fs::perms>(0555)},
        {"m555", static_cast<fs::perms>(0555), static_cast<fs::perms>(0555)},
    };
    for (const Row& row : rows)
        dir.write(std::string("src/") + row.name + "/f", row.name);
    ASSERT_EQ(::mkfifo(dir.path("src/pipe").c_str(), 0644), 0);
    // A path this deep is too long for the system, so the chain is made one level at a time.
    constexpr int Depth = 1500;
    std::vector<int> chain{::open(dir.path("src/m555").c_str(), O_RDONLY | O_DIRECTORY)};
    for (int level = 0; level < Depth; ++level) {
        ASSERT_EQ(::mkdirat(chain.back(), "d", 0755), 0);
        chain.push_back(::openat(chain.back(), "d", O_RDONLY | O_DIRECTORY));
    }
    for (auto fd = chain.rbegin(); fd != chain.rend(); ++fd) {
        ::fchmod(*fd, 0555);
        ::close(*fd);
    }
    for (const Row& row : rows)
        fs::permissions(dir.root() / "src" / row.name, row.source);
    fs::create_directories(dir.root() / "out");
    fs::permissions(dir.root() / "out", fs::perms::all);
    fs::permissions(dir.root(), static_cast<fs::perms>(0755));
    const int code = testsupport::runInChild([&] {
        if (::geteuid() == 0 && !testsupport::dropToNobody())
            return testsupport::CouldNotDropPrivileges;
        ::umask(022);
        const rlimit files{256, 256};
        ::setrlimit(RLIMIT_NOFILE, &files);
        int wrong = 0;
        for (int round = 1; round <= 2; ++round) {
            const std::string failure =
                failureOf([&] { copyFolder(dir.path("src"), dir.path("out", true)); });
            if (failure != "75 Could not copy 1 special file: " + dir.path("src/pipe") +
                               ": not a regular file, so it is not copied")
                wrong |= round;
        }
        for (const Row& row : rows) {
            const std::string copy = dir.path("out/src/") + row.name;
            if (fs::status(copy).permissions() != row.copy || dir.read(copy + "/f") != row.name)
                wrong |= 4;
        }
        int deepest = ::open(dir.path("out/src/m555").c_str(), O_RDONLY | O_DIRECTORY);
        for (int level = 0; level < Depth && deepest >= 0; ++level) {
            struct stat st {};
            const int next = ::openat(deepest, "d", O_RDONLY | O_DIRECTORY);
            if (next < 0 || ::fstat(next, &st) != 0 || (st.st_mode & 0777) != 0555)
                wrong |= 8;
            ::close(deepest);
            deepest = next;
        }
        ::close(deepest);
        return wrong;
    });
    for (const Row& row : rows)
        fs::permissions(dir.root() / "src" / row.name, fs::perms::owner_all);
    // Folders too deep for a path are given their bits back one level at a time.
    for (const char* tree : {"src/m555", "out/src/m555"}) {
        int fd = ::open(dir.path(tree).c_str(), O_RDONLY | O_DIRECTORY);
        while (fd >= 0) {
            ::fchmod(fd, 0755);
            const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
        }
    }
    EXPECT_EQ(code, 0) << "1: first copy, 2: second copy, 4: a folder's bits or contents, "
                          "8: a deep folder's bits";
}

TEST(CopyFolder, MissingSourceOrDestination) {
    TestDir dir;
    dir.make("src/f=f\nafile=x");
    struct Row {
        const char* name;
        std::string source;
        std::string destination;
    };
    const Row rows[] = {
        {"missing source", dir.path("nothing"), dir.path("out")},
        {"empty source", "", dir.path("out")},
        {"source is a file", dir.path("afile"), dir.path("out")},
        {"missing destination with separator", dir.path("src"), dir.path("none", true)},
    };
    for (const Row& row : rows)
        EXPECT_EQ(failureOf([&] { copyFolder(row.source, row.destination); }).substr(0, 3), "76 ")
            << row.name;
    copyFolder(dir.path("src"), dir.path("made"));
    EXPECT_EQ(dir.read("made/f"), "f") << "a missing destination without separator is made";
}

// Root reads every folder, so the refusal is tested as the unprivileged user 65534.
TEST(CopyFolder, GoesOnPastWhatItCannotReadThenReportsTheFirstAndTheCount) {
    TestDir dir;
    dir.make("src/a=a\nsrc/locked1/x=x\nsrc/z/b=b\nsrc/z/locked2/y=y\nsrc/z/secret=s\nout/");
    const auto open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(dir.root(), open);
    fs::permissions(dir.root() / "out", fs::perms::all);
    for (const char* locked : {"src/locked1", "src/z/locked2"})
        fs::permissions(dir.root() / locked,
                        ::geteuid() == 0 ? fs::perms::owner_all : fs::perms::none);
    fs::permissions(dir.root() / "src/z/secret",
                    ::geteuid() == 0 ? fs::perms::owner_read : fs::perms::none);
    const int code = testsupport::runInChild([&] {
        if (::geteuid() == 0 && !testsupport::dropToNobody())
            return testsupport::CouldNotDropPrivileges;
        try {
            copyFolder(dir.path("src"), dir.path("out", true));
        } catch (const CopyShortfall& shortfall) {
            const std::string text = words::headline(shortfall);
            // The first in processing order, whichever worker met which first; each counted by
            // its kind.
            const bool named = text == "Could not copy 1 file and 2 folders; the first: " +
                                           dir.path("src/locked1") + ": Permission denied";
            return shortfall.number() == ErrorNumber::PermissionDenied && named ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(listTree(dir.root() / "out"), "src/a\nsrc/z/b\n");
}

// A folder swapped for a link while the tree is copied is never entered: the copy makes every
// call relative to folders it has open, and no link below the root is followed.
TEST(CopyFolder, AFolderSwappedForALinkIsNotFollowed) {
    TestDir dir;
    dir.make("secret/secret.txt=s\nsrc/sub/f.txt=f\nsrc/a.txt=a\nsrc/sublink -> ../secret");
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        const std::string sub = dir.path("src/sub");
        const std::string link = dir.path("src/sublink");
        while (!done)
            ::renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
    });
    for (int round = 0; round < 200; ++round)
        failureOf([&] { copyFolder(dir.path("src"), dir.path("out" + std::to_string(round))); });
    done = true;
    swapper.join();
    for (int round = 0; round < 200; ++round) {
        const std::string copied = listTree(dir.root() / ("out" + std::to_string(round)));
        EXPECT_EQ(copied.find("secret.txt"), std::string::npos) << round << ":\n" << copied;
    }
}

// Asked to stop (the window is closing), a copy removes what it had partly written: every file
// in the output folder is whole, and no temporary file is left, also on a file system without
// unnamed temporary files (ramfs), and where the output is taken for a network share's, whose
// small files are written under their own names by many threads. Stopped at different moments,
// in a child with its own mounts.
TEST(CopyFolder, StoppedCopyLeavesOnlyWholeFiles) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a private mount";
    TestDir dir;
    for (int i = 0; i < 6; ++i)
        dir.write("src/big" + std::to_string(i), std::string(24 << 20, static_cast<char>('a' + i)));
    // Small files changed long ago, which a copy may write under their own names.
    for (int i = 0; i < 64; ++i) {
        const std::string name = "src/small" + std::to_string(i);
        dir.write(name, std::string(std::size_t{512} << 10, static_cast<char>('a' + i % 26)));
        const struct timespec past[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
        ::utimensat(AT_FDCWD, dir.path(name).c_str(), past, 0);
    }
    fs::create_directories(dir.root() / "out");
    // Reading every copy back takes its time under a sanitizer.
    constexpr unsigned CheckSeconds = 120;
    for (const auto& [type, reach] :
         {std::pair("ramfs", TargetReach::Local), std::pair("tmpfs", TargetReach::Local),
          std::pair("tmpfs", TargetReach::Remote)}) {
        for (int delay : {0, 2, 8, 20}) {
            const int code = testsupport::runInChild(
                [&] {
                    if (!testsupport::usePrivateMounts() ||
                        ::mount(type, dir.path("out").c_str(), type, 0, nullptr) != 0)
                        return testsupport::CouldNotMount;
                    std::thread copy([&] {
                        if (reach == TargetReach::Local) {
                            failureOf([&] { copyFolder(dir.path("src"), dir.path("out")); });
                            return;
                        }
                        TargetFileSystem remote = examineTargetFileSystem(dir.path("out"));
                        remote.reach = TargetReach::Remote;
                        RunContext run(dir.path("out"), IfDestinationExists::KeepCopy,
                                       OutputRules(remote), Writes::Made, false);
                        FakeJoinHost pump;
                        failureOf([&] { copyFolder(dir.path("src"), dir.path("out"), pump, run); });
                    });
                    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                    stopAllCopies();
                    copy.join();
                    for (const auto& entry : fs::directory_iterator(dir.root() / "out")) {
                        const std::string name = entry.path().filename();
                        if (fs::file_size(entry.path()) !=
                                fs::file_size(dir.root() / "src" / name) ||
                            dir.read("out/" + name) != dir.read("src/" + name))
                            return 1;
                    }
                    return 0;
                },
                CheckSeconds);
            EXPECT_EQ(code, 0) << type << (reach == TargetReach::Remote ? " as a share" : "")
                               << " after " << delay << " ms";
        }
    }
}
