#include "fakecommandhost.h"
#include "join/fs/paths.h"
#include "join/walk/subfolders.h"
#include "sources/commands.h"
#include "support/testdir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using join::Pointer;
using sourcestest::FakeHost;
using sourcestest::joined;
using testsupport::TestDir;

namespace {

const std::string AddFolderLocation = "in Brimvale2021/08/31.Form1.PushButton3_Click ";
const std::string AddAllLocation = "in Brimvale2021/08/31.Form1.PushButton5_Click ";
const std::vector<Pointer> BusyThenIdle{Pointer::Hourglass, Pointer::Default};

// Names of a folder's subfolders in the order the file system lists them.
std::vector<std::string> listedFolders(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_directory() && !entry.is_symlink())
            names.push_back(entry.path().filename().string());
    return names;
}

// A walk host that only counts, for comparing the command with the walk itself.
class QuietWalkHost : public join::WalkHost {
public:
    void pumpEvents() override {}
    void showErrorReport(const join::Failure&, const std::string&, int) override {}
};

} // namespace

TEST(AddFolder, AddsTheChosenFolderOnceWithATrailingSeparator) {
    TestDir dir;
    dir.make("a/\na/x/\n");
    struct Row {
        std::string chosen;
        std::string expected;
    } rows[] = {
        {dir.path("a"), dir.path("a") + "/"},
        {dir.path("a") + "/", dir.path("a") + "/"},
        {"/", "/"},
        {dir.path() + "//a", dir.path("a") + "/"},
        {dir.path() + "//a//", dir.path("a") + "/"},
        {"//" + dir.path().substr(1) + "/a", dir.path("a") + "/"},
        // Nothing checks that the folder exists.
        {dir.path("missing"), dir.path("missing") + "/"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("chosen: " + row.chosen);
        FakeHost host;
        host.folderAnswers = {row.chosen};
        sources::addFolder(host);
        EXPECT_EQ(joined(host.list.items), row.expected + "\n");
        EXPECT_EQ(host.pointerChanges, BusyThenIdle);
        EXPECT_TRUE(host.reports.empty());
        EXPECT_TRUE(host.messages.empty());
    }
}

TEST(AddFolder, CancelChangesNothing) {
    for (auto* command : {&sources::addFolder, &sources::addFolderTree}) {
        SCOPED_TRACE(command == &sources::addFolder ? "Add Folder(s)" : "Add All");
        FakeHost host;
        host.list.items = {"/kept/"};
        command(host);
        EXPECT_EQ(joined(host.list.items), "/kept/\n");
        EXPECT_TRUE(host.pointerChanges.empty()) << "no wait pointer on cancel";
        EXPECT_TRUE(host.reports.empty());
        EXPECT_TRUE(host.messages.empty());
        EXPECT_EQ(host.folderCalls.size(), 1u);
    }
}

TEST(AddFolder, ReadsLastFolderDotBeforeEveryPickerAndPassesIt) {
    for (auto* command : {&sources::addFolder, &sources::addFolderTree}) {
        SCOPED_TRACE(command == &sources::addFolder ? "Add Folder(s)" : "Add All");
        FakeHost host;
        command(host);
        host.settings["LastFolderDot"] = "/srv/start";
        command(host);
        ASSERT_EQ(host.folderCalls.size(), 2u);
        EXPECT_EQ(host.folderCalls[0].prompt, "Please select folder:");
        EXPECT_EQ(host.folderCalls[0].initialFolder, "") << "absent setting gives \"\"";
        EXPECT_EQ(host.folderCalls[1].initialFolder, "/srv/start");
        EXPECT_EQ(host.settingReads, (std::vector<std::string>{"LastFolderDot", "LastFolderDot"}));
    }
}

TEST(AddFolder, SameFolderTwiceGivesTwoItems) {
    TestDir dir;
    dir.make("a/x/\n");
    FakeHost host;
    host.folderAnswers = {dir.path("a"), dir.path("a"), dir.path("a"), dir.path("a")};
    sources::addFolder(host);
    sources::addFolder(host);
    EXPECT_EQ(host.list.items,
              (std::vector<std::string>{dir.path("a", true), dir.path("a", true)}));
    host.list.items.clear();
    sources::addFolderTree(host);
    sources::addFolderTree(host);
    const std::vector<std::string> once{dir.path("a", true), dir.path("a/x", true)};
    EXPECT_EQ(joined(host.list.items), joined(once) + joined(once));
}

TEST(AddFolder, FailuresAreReportedWithTheirLineAndThePointerComesBack) {
    struct Row {
        const char* name;
        void (*command)(sources::CommandHost&);
        std::string chosen;
        bool failDialog;
        int failAppends;
        std::string location;
        int line;
        std::vector<Pointer> pointers;
    };
    TestDir dir;
    dir.make("a/x/\n");
    const Row rows[] = {
        {"picker fails", &sources::addFolder, dir.path("a"), true, 0, AddFolderLocation, 102, {}},
        {"append fails", &sources::addFolder, dir.path("a"), false, 1, AddFolderLocation, 110,
         BusyThenIdle},
        {"root append fails", &sources::addFolder, "/", false, 1, AddFolderLocation, 108,
         BusyThenIdle},
        {"add all: picker fails",
         &sources::addFolderTree,
         dir.path("a"),
         true,
         0,
         AddAllLocation,
         102,
         {}},
        {"add all: append fails", &sources::addFolderTree, dir.path("a"), false, 1, AddAllLocation,
         116, BusyThenIdle},
        {"add all: append fails, chosen with separator", &sources::addFolderTree,
         dir.path("a", true), false, 1, AddAllLocation, 112, BusyThenIdle},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeHost host;
        host.folderAnswers = {row.chosen};
        host.failFolderDialog = row.failDialog;
        host.list.failAppends = row.failAppends;
        row.command(host);
        ASSERT_EQ(host.reports.size(), 1u);
        EXPECT_EQ(host.reports[0].location, row.location);
        EXPECT_EQ(host.reports[0].line, row.line);
        EXPECT_EQ(host.pointerChanges, row.pointers);
        EXPECT_EQ(host.pointerValue, Pointer::Default);
    }
}

TEST(AddAllSubfolders, AddsTheTreeBreadthFirstInOneAppend) {
    TestDir dir;
    dir.make("a/x/z/\na/y/\na/file.txt=not a folder\n");
    FakeHost host;
    host.folderAnswers = {dir.path("a")};
    sources::addFolderTree(host);

    std::vector<std::string> expected{dir.path("a", true)};
    for (const auto& name : listedFolders(dir.root() / "a"))
        expected.push_back(dir.path("a/" + name, true));
    expected.push_back(dir.path("a/x/z", true));
    EXPECT_EQ(joined(host.list.items), joined(expected));
    EXPECT_EQ(host.pointerChanges, BusyThenIdle);
    EXPECT_TRUE(host.reports.empty());
    EXPECT_EQ(host.list.appendCalls, 1) << "the chosen folder";
    EXPECT_EQ(host.list.appendAllCalls, 1) << "the rest of the tree in one go";
    EXPECT_GT(host.pumps, 0) << "the walk yields to the event loop";
}

TEST(AddAllSubfolders, FolderWithoutSubfoldersGivesOneItem) {
    TestDir dir;
    dir.make("a/only.txt=x\n");
    for (auto chosen : {dir.path("a"), dir.path("a", true)}) {
        SCOPED_TRACE(chosen);
        FakeHost host;
        host.folderAnswers = {chosen};
        sources::addFolderTree(host);
        EXPECT_EQ(joined(host.list.items), dir.path("a", true) + "\n");
    }
}

TEST(AddAllSubfolders, SkipsBadNamesKeepsHiddenOnesAndEndsOnLinkLoops) {
    TestDir dir;
    dir.make("a/.hidden/inner/\n"
             "a/plain/deep/\n"
             "a/bad\x01name/below/\n"
             "a/question?/below/\n"
             "a/loop -> ..\n");
    // Chosen with a doubled separator: the first item is normalised, the rest are built from
    // the path as the picker returned it.
    const std::string chosen = dir.path() + "//a";
    FakeHost host;
    host.folderAnswers = {chosen};
    sources::addFolderTree(host);

    ASSERT_FALSE(host.list.items.empty());
    EXPECT_EQ(host.list.items.front(), dir.path("a", true));
    const auto has = [&](const std::string& item) {
        return std::find(host.list.items.begin(), host.list.items.end(), item) !=
               host.list.items.end();
    };
    const std::string base = chosen + "/";
    EXPECT_TRUE(has(base + ".hidden/")) << joined(host.list.items);
    EXPECT_TRUE(has(base + ".hidden/inner/"));
    EXPECT_TRUE(has(base + "plain/deep/"));
    for (const auto& item : host.list.items) {
        EXPECT_EQ(item.find("bad\x01"), std::string::npos) << item;
        EXPECT_EQ(item.find("question?"), std::string::npos) << item;
        EXPECT_EQ(item.back(), '/') << item;
    }
    EXPECT_EQ(host.pointerChanges, BusyThenIdle);

    // Whatever the walk makes of the loop, the command adds exactly what the walk returns.
    join::FolderCollection walk{base};
    QuietWalkHost quiet;
    join::walkSubfolders(walk, join::Recursion::AllLevels, quiet);
    walk.front() = join::normalizePath(base);
    EXPECT_EQ(joined(host.list.items), joined(walk));
}

TEST(AddAllSubfolders, RefusedFoldersAreLeftOutWithTheirSubtrees) {
    TestDir dir;
    dir.make("a/open/below/\na/locked/inner/\n");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.path("a/locked").c_str(), 0700); // owned by root: refused to uid 65534

    struct Row {
        std::string chosen;
        std::vector<std::string> expected;
    } rows[] = {
        {dir.path("a"),
         {dir.path("a", true), dir.path("a/open", true), dir.path("a/open/below", true)}},
        {dir.path("a/locked"), {dir.path("a/locked", true)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.chosen);
        auto result = sourcestest::runAsNobody([&] {
            FakeHost host;
            host.folderAnswers = {row.chosen};
            sources::addFolderTree(host);
            return joined(host.list.items) + "reports: " + std::to_string(host.reports.size());
        });
        if (!result)
            GTEST_SKIP() << "cannot run a child process as uid 65534 here";
        EXPECT_EQ(*result, joined(row.expected) + "reports: 0");
    }
}
