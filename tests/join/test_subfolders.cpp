#include "fakejoinhost.h"
#include "join/fs/paths.h"
#include "join/walk/subfolders.h"
#include "support/testdir.h"
#include "test_childprocess.h"
#include "words/words.h"

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace join;
using testsupport::FakeJoinHost;
using testsupport::TestDir;
namespace fs = std::filesystem;

namespace {

const std::string Location = "in MerotanTitle2021/08/31.AddFolder.GetSubDirectories2016 ";

// The subfolders of a folder in natural name order, as the walk takes them.
std::vector<std::string> listedSubfolders(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_directory())
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end(), naturalNameLess);
    return names;
}

// What the walk must give for plain trees: the entries, then every level below them, children
// grouped by parent in the order the parents stand.
FolderCollection expectedWalk(FolderCollection folders) {
    FolderCollection level = folders;
    while (!level.empty()) {
        FolderCollection next;
        for (const auto& folder : level)
            for (const auto& name : listedSubfolders(folder))
                next.push_back(folder + name + "/");
        folders.insert(folders.end(), next.begin(), next.end());
        level = std::move(next);
    }
    return folders;
}

std::string joined(const FolderCollection& folders, const TestDir& dir) {
    std::string text;
    const std::string root = dir.path({}, true);
    for (const auto& folder : folders)
        text += (folder.starts_with(root) ? folder.substr(root.size()) : folder) + " ";
    return text;
}

FolderCollection walk(FolderCollection folders, FakeJoinHost& host,
                      Recursion recursion = Recursion::AllLevels) {
    walkSubfolders(folders, recursion, host);
    return folders;
}

enum class Privileges { Keep, DropToNobody };

// Runs `work` in a child process and gives back the text it returns, or why it gave none: a
// walk that never ends then fails the test instead of stalling it, and a walk can run as a user
// who is really refused (root reads every folder).
std::string inChild(Privileges privileges, const std::function<std::string()>& work) {
    return testsupport::textFromChild([&] {
        if (privileges == Privileges::DropToNobody && ::geteuid() == 0 &&
            !testsupport::dropToNobody())
            return std::string("could not drop privileges");
        return work();
    });
}

} // namespace

TEST(WalkSubfolders, ListsLevelByLevelInNaturalOrder) {
    TestDir dir;
    dir.make(R"(
        a/x/z/deep/
        a/x/w/
        a/y/v/
        a/y/file.txt
        a/q/
        a/Folder 10/
        a/Folder 2/
        b/m/n/
    )");
    FakeJoinHost host;
    const FolderCollection start{dir.path("a", true), dir.path("b", true)};
    const FolderCollection result = walk(start, host);
    EXPECT_EQ(joined(result, dir),
              "a/ b/ a/Folder 2/ a/Folder 10/ a/q/ a/x/ a/y/ b/m/ a/x/w/ a/x/z/ "
              "a/y/v/ b/m/n/ a/x/z/deep/ ");
    EXPECT_EQ(joined(result, dir), joined(expectedWalk(start), dir));
    EXPECT_TRUE(host.reports.empty());
}

TEST(WalkSubfolders, WorkedExampleAndItsYields) {
    TestDir dir;
    dir.make("a/x/z/\na/y/\na/file.txt=not a folder");
    FakeJoinHost host;
    const FolderCollection result = walk({dir.path("a", true)}, host);
    const auto top = listedSubfolders(dir.path("a"));
    ASSERT_EQ(top.size(), 2u);
    const std::string a = dir.path("a", true);
    EXPECT_EQ(result, (FolderCollection{a, a + top[0] + "/", a + top[1] + "/", a + "x/z/"}));
    // One yield per folder listed (a, x, y, z), per subfolder read (x, y, z) and per folder
    // added by the level that found it (x, y, z).
    EXPECT_EQ(host.pumps, 10);
}

TEST(WalkSubfolders, SmallCases) {
    TestDir dir;
    dir.make("leaf/\nleaf/file\nnested/one/two/\nnested/one/other.txt");
    const std::string leaf = dir.path("leaf", true);
    const std::string nested = dir.path("nested", true);
    const std::string missing = dir.path("missing", true);
    struct Row {
        const char* name;
        FolderCollection start;
        Recursion recursion;
        FolderCollection expected;
    };
    const Row rows[] = {
        {"empty collection", {}, Recursion::AllLevels, {}},
        {"folder without subfolders", {leaf}, Recursion::AllLevels, {leaf}},
        {"immediate subfolders only",
         {nested},
         Recursion::ImmediateOnly,
         {nested, nested + "one/"}},
        {"missing folder stays unlisted", {missing, leaf}, Recursion::AllLevels, {missing, leaf}},
        {"a path without its separator gives children that do not exist",
         {dir.path("nested")},
         Recursion::AllLevels,
         {dir.path("nested")}},
        {"a folder standing twice is listed twice",
         {nested, nested},
         Recursion::AllLevels,
         {nested, nested, nested + "one/", nested + "one/", nested + "one/two/",
          nested + "one/two/"}},
        {"nested entries",
         {nested, nested + "one/"},
         Recursion::AllLevels,
         {nested, nested + "one/", nested + "one/", nested + "one/two/", nested + "one/two/"}},
    };
    for (const Row& row : rows) {
        FakeJoinHost host;
        EXPECT_EQ(joined(walk(row.start, host, row.recursion), dir), joined(row.expected, dir))
            << row.name;
        EXPECT_TRUE(host.reports.empty()) << row.name;
    }
}

TEST(WalkSubfolders, SkipsBadNamesWithEverythingBelowThem) {
    TestDir dir;
    const char* const bad[] = {"what?",      "tab\tname", "del\x7f", "nel\xc2\x85",
                               "latin1\xe9", "\xff\xfe",  "cr\r"};
    const char* const good[] = {"plain",   "caf\xc3\xa9",  "\xe6\x97\xa5\xe6\x9c\xac",
                                ".hidden", "nbsp\xc2\xa0", "emoji\xf0\x9f\x98\x80"};
    for (const char* name : bad)
        fs::create_directories(dir.root() / "a" / name / "below");
    for (const char* name : good)
        fs::create_directories(dir.root() / "a" / name);
    FakeJoinHost host;
    const FolderCollection result = walk({dir.path("a", true)}, host);
    EXPECT_EQ(result.size(), 1 + std::size(good)) << joined(result, dir);
    for (const char* name : good)
        EXPECT_NE(std::find(result.begin(), result.end(), dir.path("a", true) + name + "/"),
                  result.end())
            << name;
    EXPECT_TRUE(host.reports.empty());
}

TEST(HasBadCharacters, CodePoints) {
    struct Row {
        const char* name;
        std::string text;
        bool bad;
    };
    const Row rows[] = {
        {"empty", "", false},
        {"ascii", "Photos 2019 (1)", false},
        {"question mark", "a?b", true},
        {"control below 32", "a\x1f", true},
        {"newline", "a\nb", true},
        {"delete 127", "a\x7f", true},
        {"U+0080", "\xc2\x80", true},
        {"U+009F", "\xc2\x9f", true},
        {"U+00A0", "\xc2\xa0", false},
        {"U+00FF", "\xc3\xbf", false},
        {"three bytes", "\xe2\x82\xac", false},
        {"four bytes", "\xf0\x9f\x98\x80", false},
        {"lone continuation", "\x80", true},
        {"latin-1 byte", "caf\xe9", true},
        {"truncated sequence", "\xe2\x82", true},
        {"overlong slash", "\xc0\xaf", true},
        {"overlong three bytes", "\xe0\x80\xaf", true},
        {"surrogate", "\xed\xa0\x80", true},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", true},
        {"bad byte after good", "ok\xff", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(hasBadCharacters(row.text), row.bad) << row.name;
}

// Each folder is listed once, however many links lead to it, and a link into the kernel's own
// file systems is left out, named.
TEST(WalkSubfolders, FoldersReachedThroughLinksAreListedOnce) {
    TestDir dir;
    dir.make(R"(
        loop/self -> .
        loop/x/up -> ..
        loop/x/file.txt
        pair/l1 -> .
        pair/l2 -> .
        cross/a/to-b -> ../b
        cross/b/to-a -> ../a
        side/link -> ../elsewhere
        elsewhere/inner/
        twice/l1 -> ../elsewhere
        twice/l2 -> ../elsewhere
        mixed/a/link -> ../real
        mixed/real/inner/
        system/self -> /proc/self
        system/own/
    )");
    struct Row {
        const char* name;
        std::string start;
        std::vector<std::string> expected; // relative, in any order
        std::string leftOut = {};
    };
    const Row rows[] = {
        {"links to self and parent", "loop", {"", "self/", "x/", "x/up/"}},
        {"two links to self", "pair", {"", "l1/", "l2/"}},
        {"two folders linking to each other", "cross/a", {"", "to-b/", "to-b/to-a/"}},
        {"link elsewhere is descended", "side", {"", "link/", "link/inner/"}},
        {"two links to one folder: listed through the first",
         "twice",
         {"", "l1/", "l1/inner/", "l2/"}},
        {"a folder a link led into first is not listed again through its parent",
         "mixed",
         {"", "a/", "a/link/", "a/link/inner/", "real/"}},
        {"a link into proc is left out, named",
         "system",
         {"", "own/"},
         "[self/: the link leads into proc, a file system of the system's own state]"},
    };
    for (const Row& row : rows) {
        const std::string start = dir.path(row.start, true);
        // Without the check a loop of links makes the walk grow without end: run it in a child.
        const std::string result = inChild(Privileges::Keep, [&] {
            FakeJoinHost host;
            FolderCollection folders{start};
            std::vector<LeftOutFolder> leftOut;
            walkSubfolders(folders, Recursion::AllLevels, host, &leftOut);
            std::vector<std::string> relative;
            for (const auto& folder : folders)
                relative.push_back(folder.substr(start.size()));
            std::sort(relative.begin(), relative.end());
            std::string text;
            for (const auto& folder : relative)
                text += "[" + folder + "]";
            text += " reports " + std::to_string(host.reports.size()) + " left out ";
            for (const LeftOutFolder& folder : leftOut)
                text += "[" + folder.path.substr(start.size()) + ": " +
                        words::reasonText(folder.reason) + "]";
            return text;
        });
        std::string expected;
        for (const auto& folder : row.expected)
            expected += "[" + folder + "]";
        EXPECT_EQ(result, expected + " reports 0 left out " + row.leftOut) << row.name;
    }
}

// A stop asked for while the walk yields ends it there: inside a long listing, between the
// listings of a level, and while a level's folders are added.
TEST(WalkSubfolders, AStopEndsTheWalkAtOnce) {
    constexpr int Wide = 2000;
    TestDir dir;
    for (int i = 0; i < Wide; ++i)
        fs::create_directories(dir.root() / "wide" / std::to_string(i));
    struct StoppableHost : FakeJoinHost {
        bool stop = false;
        bool walkStopped() const override { return stop; }
    };
    struct Row {
        const char* name;
        int stopAtYield;
    };
    // Yields in order: the folder before its listing, each subfolder read, each subfolder before
    // its own listing, each subfolder added.
    const Row rows[] = {
        {"inside the listing of a folder", 10},
        {"between the listings of a level", 1 + Wide + 10},
        {"while the level's folders are added", 1 + 2 * Wide + 10},
    };
    for (const Row& row : rows) {
        StoppableHost host;
        host.onPump = [&] { host.stop = host.pumps >= row.stopAtYield; };
        const FolderCollection result = walk({dir.path("wide", true)}, host);
        EXPECT_LE(host.pumps, row.stopAtYield + 1) << row.name;
        EXPECT_LT(result.size(), static_cast<std::size_t>(Wide)) << row.name;
    }
}

// Each folder is tested and yielded for once, however deep it lies: a chain of nested folders
// costs a few steps per folder, not steps that grow with the depth.
TEST(WalkSubfolders, DeepChainCostsAFewYieldsPerFolder) {
    TestDir dir;
    std::string chain;
    for (int level = 0; level < 300; ++level)
        chain += "f/";
    dir.make(chain);
    FakeJoinHost host;
    const FolderCollection result = walk({dir.path({}, true)}, host);
    ASSERT_EQ(result.size(), 301u);
    EXPECT_EQ(result.back(), dir.path({}, true) + chain);
    EXPECT_EQ(host.pumps, 301 + 300 + 300);
}

// Failures before the first listing of a level are reported, and the walk goes on with the next
// step; once a level's first listing has begun, failures end that folder's listing silently.
TEST(WalkSubfolders, ReportsOnlyFailuresBeforeTheFirstListing) {
    TestDir dir;
    dir.make("a/x/z/");
    const std::string a = dir.path("a", true);
    const FolderCollection all{a, a + "x/", a + "x/z/"};
    struct Row {
        int failingYield;
        std::vector<int> reportLines;
        FolderCollection expected;
    };
    // Yields in order: a before listing, x read in a, x before listing, z read in x, z before
    // listing, z added to x's level, x added to the collection.
    const Row rows[] = {
        {1, {106}, all}, {2, {}, {a}},    {3, {106}, all}, {4, {}, {a, a + "x/"}},
        {5, {106}, all}, {6, {136}, all}, {7, {136}, all},
    };
    for (const Row& row : rows) {
        FakeJoinHost host;
        host.onPump = [&] {
            if (host.pumps == row.failingYield)
                throw std::runtime_error("yield failed");
        };
        EXPECT_EQ(walk({a}, host), row.expected) << "failing yield " << row.failingYield;
        EXPECT_EQ(host.reportLines(), row.reportLines) << "failing yield " << row.failingYield;
        for (const auto& report : host.reports) {
            EXPECT_EQ(report.location, Location);
            EXPECT_EQ(report.description, "yield failed");
        }
    }
}

// Root reads every folder, so the refusal is tested as the unprivileged user 65534.
TEST(WalkSubfolders, RemovesFoldersWhoseListingIsRefused) {
    TestDir dir;
    dir.make("top/open/inner/\ntop/locked/secret/\nlocked2/hidden/");
    fs::permissions(dir.root(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    fs::permissions(dir.root() / "top" / "locked", fs::perms::owner_all);
    fs::permissions(dir.root() / "locked2", fs::perms::owner_all);
    if (::geteuid() != 0) {
        fs::permissions(dir.root() / "top" / "locked", fs::perms::none);
        fs::permissions(dir.root() / "locked2", fs::perms::none);
    }
    const std::string top = dir.path("top", true);
    const std::string locked2 = dir.path("locked2", true);
    struct Row {
        const char* name;
        FolderCollection start;
        FolderCollection expected;
        std::string leftOut;
        // Whether the walk runs with no file descriptor left to open a folder with.
        bool noDescriptors = false;
    };
    const Row rows[] = {
        {"refused subfolder is left out",
         {top},
         {top, top + "open/", top + "open/inner/"},
         "top/locked/: Permission denied"},
        {"refused starting folder is removed", {locked2}, {}, "locked2/: Permission denied"},
        {"each refusal removes one equal entry",
         {locked2, top, locked2},
         {top, top + "open/", top + "open/inner/"},
         "locked2/: Permission denied locked2/: Permission denied top/locked/: Permission "
         "denied"},
        {"a folder that cannot be opened for another reason stays, and is left out with it",
         {top},
         {top},
         "top/: its subfolders could not all be read: Too many files",
         true},
    };
    for (const Row& row : rows) {
        const std::string result = inChild(Privileges::DropToNobody, [&] {
            FakeJoinHost host;
            FolderCollection folders = row.start;
            std::vector<LeftOutFolder> leftOut;
            if (row.noDescriptors) {
                // UBSan opens a pipe the first time it checks the walk's host's type, and with no
                // descriptor left it would take the host for no object: the same walk once before,
                // while descriptors are left, lets it make that check.
                {
                    FakeJoinHost earlierHost;
                    FolderCollection earlierFolders = row.start;
                    walkSubfolders(earlierFolders, Recursion::AllLevels, earlierHost, nullptr);
                }
                const int lowest = ::dup(0);
                ::close(lowest);
                const struct rlimit limit {
                    static_cast<rlim_t>(lowest), static_cast<rlim_t>(lowest)
                };
                ::setrlimit(RLIMIT_NOFILE, &limit);
            }
            walkSubfolders(folders, Recursion::AllLevels, host, &leftOut);
            std::string leftOutText;
            for (const LeftOutFolder& folder : leftOut)
                leftOutText += (leftOutText.empty() ? "" : " ") +
                               folder.path.substr(dir.path({}, true).size()) + ": " +
                               words::reasonText(folder.reason);
            return joined(folders, dir) + "| reports " + std::to_string(host.reports.size()) +
                   " | left out " + leftOutText;
        });
        EXPECT_EQ(result, joined(row.expected, dir) + "| reports 0 | left out " + row.leftOut)
            << row.name;
    }
}

// Removes a chain of nested folders, one name each, whose full paths are too long to name.
void removeChain(const std::string& top, const std::string& name, int levels) {
    std::vector<int> folders{::open(top.c_str(), O_RDONLY | O_DIRECTORY)};
    for (int level = 1; level < levels && folders.back() >= 0; ++level)
        folders.push_back(::openat(folders.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        if (*folder >= 0) {
            ::unlinkat(*folder, name.c_str(), AT_REMOVEDIR);
            ::close(*folder);
        }
    }
}

// Folders whose paths reach the platform's limit are not listed, however deep the tree goes.
TEST(WalkSubfolders, StopsAtThePathLengthLimit) {
    TestDir dir;
    const std::string name(200, 'd');
    constexpr int Levels = 25;
    int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    for (int level = 0; level < Levels; ++level) {
        ASSERT_EQ(::mkdirat(folder, name.c_str(), 0755), 0);
        const int next = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(folder);
        ASSERT_GE(next, 0);
        folder = next;
    }
    ::close(folder);
    FakeJoinHost host;
    const FolderCollection result = walk({dir.path({}, true)}, host);
    removeChain(dir.path(), name, Levels + 1);
    ASSERT_FALSE(result.empty());
    const std::size_t longest = result.back().size();
    EXPECT_LT(longest, static_cast<std::size_t>(PATH_MAX));
    EXPECT_GE(longest + name.size() + 1, static_cast<std::size_t>(PATH_MAX));
    EXPECT_TRUE(host.reports.empty());
}
