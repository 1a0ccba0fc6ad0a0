#include "fakecommandhost.h"
#include "sources/commands.h"

#include <gtest/gtest.h>

using join::Pointer;
using sourcestest::FakeHost;
using sourcestest::joined;

TEST(SampleFolders, EachClickAppendsFolder1ThenFolder2) {
    FakeHost host;
    host.programFolderValue = "/opt/brimvale";
    host.list.items = {"/first/"};
    sources::loadSampleFolders(host);
    sources::loadSampleFolders(host);
    EXPECT_EQ(joined(host.list.items),
              "/first/\n"
              "/opt/brimvale/Samples/Folder1\n/opt/brimvale/Samples/Folder2\n"
              "/opt/brimvale/Samples/Folder1\n/opt/brimvale/Samples/Folder2\n");
    EXPECT_TRUE(host.pointerChanges.empty());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.reports.empty());
}

TEST(SampleFolders, AFailedFirstAppendIsReportedAndTheSecondStillHappens) {
    FakeHost host;
    host.list.failAppends = 1;
    sources::loadSampleFolders(host);
    EXPECT_EQ(joined(host.list.items), "/opt/brimvale/Samples/Folder2\n");
    ASSERT_EQ(host.reports.size(), 1u);
    EXPECT_EQ(host.reports[0].location, "in Brimvale2021/08/31.Form1.PushButton6_Click ");
    EXPECT_EQ(host.reports[0].line, 100);
}

TEST(ListRemoval, RemovesTheSelectedItemOnlyWhenIdle) {
    enum class Action { Delete, DblClick, Clear };
    struct Row {
        const char* name;
        Action action;
        int key;
        Pointer pointer;
        std::vector<std::string> items;
        std::optional<int> selected;
        std::vector<std::string> expected;
    };
    const std::vector<std::string> abc{"a/", "b/", "c/"};
    const std::vector<std::string> twins{"same/", "same/"};
    const Row rows[] = {
        {"Delete", Action::Delete, Qt::Key_Delete, Pointer::Default, abc, 2, {"a/", "c/"}},
        {"Delete, the first item",
         Action::Delete,
         Qt::Key_Delete,
         Pointer::Default,
         abc,
         1,
         {"b/", "c/"}},
        {"Delete under the hand pointer, the last item",
         Action::Delete,
         Qt::Key_Delete,
         Pointer::Custom,
         abc,
         3,
         {"a/", "b/"}},
        {"Delete while busy", Action::Delete, Qt::Key_Delete, Pointer::Hourglass, abc, 2, abc},
        {"Delete, nothing selected", Action::Delete, Qt::Key_Delete, Pointer::Default, abc,
         std::nullopt, abc},
        {"Delete, selection out of range", Action::Delete, Qt::Key_Delete, Pointer::Default, abc, 4,
         abc},
        {"Delete on an empty list", Action::Delete, Qt::Key_Delete, Pointer::Default, {}, 1, {}},
        {"Backspace", Action::Delete, Qt::Key_Backspace, Pointer::Default, abc, 2, abc},
        {"key code 46 is Qt's full stop", Action::Delete, 46, Pointer::Default, abc, 2, abc},
        {"one of two equal items",
         Action::Delete,
         Qt::Key_Delete,
         Pointer::Default,
         twins,
         1,
         {"same/"}},
        {"double-click", Action::DblClick, 0, Pointer::Default, abc, 1, {"b/", "c/"}},
        {"double-click while busy", Action::DblClick, 0, Pointer::Hourglass, abc, 1, abc},
        {"double-click, nothing selected", Action::DblClick, 0, Pointer::Default, abc, std::nullopt,
         abc},
        {"double-click on an empty list",
         Action::DblClick,
         0,
         Pointer::Default,
         {},
         std::nullopt,
         {}},
        {"Clear List", Action::Clear, 0, Pointer::Custom, abc, std::nullopt, {}},
        {"Clear List while busy", Action::Clear, 0, Pointer::Hourglass, abc, std::nullopt, abc},
        {"Clear List on an empty list", Action::Clear, 0, Pointer::Default, {}, std::nullopt, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeHost host;
        host.pointerValue = row.pointer;
        host.list.items = row.items;
        switch (row.action) {
        case Action::Delete:
            sources::removeOnDeleteKey(host, row.key, row.selected);
            break;
        case Action::DblClick:
            sources::removeOnDoubleClick(host, row.selected);
            break;
        case Action::Clear:
            sources::clearList(host);
            break;
        }
        EXPECT_EQ(joined(host.list.items), joined(row.expected));
        EXPECT_TRUE(host.pointerChanges.empty());
        EXPECT_TRUE(host.messages.empty());
        EXPECT_TRUE(host.reports.empty());
    }
}
