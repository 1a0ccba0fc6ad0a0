// Removing entries from the window's list: the Delete key with any modifiers, a double-click on
// an item or on the empty space below the items, and "Clear List"; other keys still work the
// list; nothing is removed while the window is busy.
#include "shellfakes.h"

#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

using join::Pointer;
using shelltest::FakeSurroundings;

namespace {

QTreeView* listView(QWidget& window) {
    auto* list = window.findChild<QTreeView*>(QStringLiteral("ListView1"));
    EXPECT_NE(list, nullptr);
    return list;
}

std::string items(shell::MainWindow& window) {
    std::string texts;
    for (int i = 1; i <= window.sourceCount(); ++i)
        texts += window.sourceText(i) + " ";
    return texts;
}

QPoint rowCentre(QTreeView* list, int row) {
    return list->visualRect(list->model()->index(row, 0)).center();
}

QPoint belowTheItems(QTreeView* list) {
    return {20, list->viewport()->height() - 5};
}

// What a user's double-click delivers: press, release, double-click, release.
void doubleClick(QWidget* widget, Qt::MouseButton button, QPoint at) {
    QTest::mouseClick(widget, button, {}, at);
    QTest::mouseDClick(widget, button, {}, at);
    QTest::mouseRelease(widget, button, {}, at);
}

} // namespace

TEST(SourceListWindow, DeleteAndDoubleClickRemoveTheSelectedEntry) {
    struct Row {
        const char* name;
        int selected; // row numbered from 0, -1 for none
        std::function<void(QTreeView*)> act;
        const char* remaining;
        Pointer pointer = Pointer::Default;
    };
    const auto key = [](Qt::Key k, Qt::KeyboardModifiers modifiers = {}) {
        return [=](QTreeView* list) { QTest::keyClick(list, k, modifiers); };
    };
    const auto doubleClickAt = [](Qt::MouseButton button, bool onEmptySpace) {
        return [=](QTreeView* list) {
            const QPoint at = onEmptySpace ? belowTheItems(list) : rowCentre(list, 1);
            doubleClick(list->viewport(), button, at);
        };
    };
    const Row rows[] = {
        {"Delete", 1, key(Qt::Key_Delete), "/a/ /c/ "},
        {"Shift+Delete", 1, key(Qt::Key_Delete, Qt::ShiftModifier), "/a/ /c/ "},
        {"Ctrl+Delete", 1, key(Qt::Key_Delete, Qt::ControlModifier), "/a/ /c/ "},
        {"Delete without a selection", -1, key(Qt::Key_Delete), "/a/ /b/ /c/ "},
        {"Backspace", 1, key(Qt::Key_Backspace), "/a/ /b/ /c/ "},
        {"period, the other platform's code 46", 1, key(Qt::Key_Period), "/a/ /b/ /c/ "},
        {"Delete while busy", 1, key(Qt::Key_Delete), "/a/ /b/ /c/ ", Pointer::Hourglass},
        {"double-click on an item", 0, doubleClickAt(Qt::LeftButton, false), "/a/ /c/ "},
        {"double-click on the last item", 0,
         [](QTreeView* list) { doubleClick(list->viewport(), Qt::LeftButton, rowCentre(list, 2)); },
         "/a/ /b/ "},
        {"double-click below the items", 1, doubleClickAt(Qt::LeftButton, true), "/a/ /c/ "},
        {"double-click while busy", 1, doubleClickAt(Qt::LeftButton, false), "/a/ /b/ /c/ ",
         Pointer::Hourglass},
        {"right double-click", 1, doubleClickAt(Qt::RightButton, false), "/a/ /b/ /c/ "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSurroundings s;
        auto window = s.startedWindow();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        for (const char* item : {"/a/", "/b/", "/c/"})
            window->sourceList().append(item);
        QTreeView* list = listView(*window);
        list->setFocus();
        if (row.selected >= 0)
            list->setCurrentIndex(list->model()->index(row.selected, 0));
        else
            list->clearSelection();
        window->setPointer(row.pointer);
        row.act(list);
        EXPECT_EQ(items(*window), row.remaining);
        EXPECT_TRUE(s.presenter->messages.isEmpty());
        EXPECT_TRUE(s.presenter->reports.isEmpty());
    }
}

TEST(SourceListWindow, OtherKeysStillWorkTheList) {
    FakeSurroundings s;
    auto window = s.startedWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    for (const char* item : {"/a/", "/b/", "/c/"})
        window->sourceList().append(item);
    QTreeView* list = listView(*window);
    list->setFocus();
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(items(*window), "/a/ /b/ ");
}

TEST(SourceListWindow, ClearListEmptiesTheListUnlessBusyAndKeepsTheColumn) {
    FakeSurroundings s;
    s.copySamples();
    auto window = s.startedWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QWidget* clear = window->findChild<QWidget*>(QStringLiteral("PushButton7"));
    QWidget* samples = window->findChild<QWidget*>(QStringLiteral("PushButton6"));

    QTest::mouseClick(samples, Qt::LeftButton);
    QTest::mouseClick(samples, Qt::LeftButton);
    const std::string folder = s.programFolder.toStdString();
    const std::string pair = folder + "/Samples/Folder1 " + folder + "/Samples/Folder2 ";
    EXPECT_EQ(items(*window), pair + pair);

    window->setPointer(Pointer::Hourglass);
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_EQ(window->sourceCount(), 4);
    window->setPointer(Pointer::Default);
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_EQ(window->sourceCount(), 0);
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_EQ(window->sourceCount(), 0);
    EXPECT_EQ(listView(*window)->model()->headerData(0, Qt::Horizontal).toString(),
              QLatin1String("Source Folder(s)"));
    EXPECT_TRUE(s.presenter->reports.isEmpty());
}
