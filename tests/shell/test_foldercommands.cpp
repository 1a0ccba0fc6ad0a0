// The commands that take a folder from the picker, through the window: the output folder browse
// button, "Add Folder(s)" and "Add All Subfolders In Folder"; the initial folder they hand the
// picker; and output folder and option changes made while a join run yields.
#include "join/fs/failure.h"
#include "shellfakes.h"
#include "support/testdir.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QTreeView>
#include <algorithm>
#include <gtest/gtest.h>
#include <set>

using join::CopyOption;
using join::Pointer;
using shelltest::EachLoopTurn;
using shelltest::FakeSurroundings;
using shelltest::PointerRecorder;
using testsupport::listTree;
using testsupport::TestDir;

namespace {

template <class T = QWidget> T* control(QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

std::unique_ptr<shell::MainWindow> shownWindow(FakeSurroundings& s) {
    auto window = s.startedWindow();
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
}

void click(shell::MainWindow& window, const char* button) {
    shelltest::clickAndWait(window, button);
}

QString stored(const FakeSurroundings& s, const char* key) {
    return s.store().GetSetting(QString::fromLatin1(key), QStringLiteral("<absent>"));
}

std::vector<std::string> items(shell::MainWindow& window) {
    std::vector<std::string> texts;
    for (int i = 1; i <= window.sourceCount(); ++i)
        texts.push_back(window.sourceText(i));
    return texts;
}

const std::vector<Pointer> BusyThenIdle{Pointer::Hourglass, Pointer::Default};
const char* const Prompt = "Please select folder:";

} // namespace

TEST(BrowseOutputFolder, WritesTheChosenFolderWithOneTrailingSeparator) {
    TestDir dir;
    dir.make("a/\n");
    const std::string a = dir.path("a");
    struct Row {
        const char* name;
        std::string chosen; // "" cancels
        std::string shown;
        std::vector<Pointer> pointers;
    };
    const std::string desktop = "/home/someone/Desktop/";
    const Row rows[] = {
        {"cancel", "", desktop, {}},
        {"a folder", a, a + "/", BusyThenIdle},
        {"a folder with its separator", a + "/", a + "/", BusyThenIdle},
        {"the root", "/", "/", BusyThenIdle},
        {"doubled separators", dir.path() + "//a", a + "/", BusyThenIdle},
        {"doubled separators everywhere", "//" + dir.path().substr(1) + "//a//", a + "/",
         BusyThenIdle},
        {"a name with blanks and non-ASCII letters", dir.path() + "/Grüße und so",
         dir.path() + "/Grüße und so/", BusyThenIdle},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSurroundings s;
        auto window = shownWindow(s);
        s.folderDialog->answers = {row.chosen};
        window->setPointer(Pointer::Custom);
        PointerRecorder pointers(*window);
        click(*window, "PushButton1");

        ASSERT_EQ(s.folderDialog->calls.size(), 1u);
        EXPECT_EQ(s.folderDialog->calls[0].prompt, Prompt);
        EXPECT_EQ(control<QLineEdit>(*window, "Text2")->text().toStdString(), row.shown);
        EXPECT_EQ(stored(s, "Output Folder").toStdString(), row.shown);
        EXPECT_EQ(window->outputFolderText(), row.shown);
        EXPECT_EQ(pointers.values, row.pointers);
        EXPECT_EQ(window->pointer(), row.chosen.empty() ? Pointer::Custom : Pointer::Default);
        EXPECT_TRUE(s.presenter->messages.isEmpty());
        EXPECT_TRUE(s.presenter->reports.isEmpty());
    }
}

// A failure in the browse command is reported with its line, and the command goes on.
TEST(BrowseOutputFolder, AFailingPickerIsReportedAndChangesNothing) {
    FakeSurroundings s;
    auto window = shownWindow(s);
    s.folderDialog->whileOpen = [] { throw join::Failure(5, "Invalid procedure call"); };
    s.folderDialog->answers = {"/somewhere"};
    PointerRecorder pointers(*window);
    click(*window, "PushButton1");

    ASSERT_EQ(s.presenter->reports.size(), 1);
    EXPECT_EQ(
        s.presenter->reports.front(),
        QStringLiteral(
            "Invalid procedure call\r\nin Brimvale2021/08/31.Form1.PushButton1_Click "
            "at line 100\r\rPlease email screenshot of this message to " BRIMVALE_SUPPORT_EMAIL));
    EXPECT_EQ(control<QLineEdit>(*window, "Text2")->text(),
              QLatin1String("/home/someone/Desktop/"));
    EXPECT_TRUE(pointers.values.empty());
}

// "LastFolderDot" is read before each picker as its initial folder, and nothing writes it.
TEST(FolderPicker, LastFolderDotIsTheInitialFolderAndIsNeverWritten) {
    TestDir dir;
    dir.make("chosen/\n");
    for (const char* button : {"PushButton1", "PushButton3", "PushButton5"}) {
        SCOPED_TRACE(button);
        FakeSurroundings s;
        auto window = shownWindow(s);
        s.folderDialog->answers = {dir.path("chosen"), dir.path("chosen")};
        click(*window, button);
        EXPECT_EQ(stored(s, "LastFolderDot"), QLatin1String("<absent>"));
        s.store().SaveSetting(QStringLiteral("LastFolderDot"), QStringLiteral("/srv/Grüße"));
        click(*window, button);
        EXPECT_EQ(stored(s, "LastFolderDot"), QStringLiteral("/srv/Grüße"));

        ASSERT_EQ(s.folderDialog->calls.size(), 2u);
        EXPECT_EQ(s.folderDialog->calls[0].prompt, Prompt);
        EXPECT_EQ(s.folderDialog->calls[0].initialFolder, "");
        EXPECT_EQ(s.folderDialog->calls[1].prompt, Prompt);
        EXPECT_EQ(s.folderDialog->calls[1].initialFolder, "/srv/Gr\xc3\xbc\xc3\x9f\x65");
    }
}

TEST(AddFolder, AddsTheChosenFolderEndingWithOneSeparator) {
    TestDir dir;
    dir.make("a/x/\n");
    struct Row {
        const char* name;
        std::string chosen;
        std::vector<std::string> added;
        std::vector<Pointer> pointers;
    };
    const Row rows[] = {
        {"cancel", "", {}, {}},
        {"a folder", dir.path("a"), {dir.path("a", true)}, BusyThenIdle},
        {"the root", "/", {"/"}, BusyThenIdle},
        {"doubled separators", dir.path() + "//a//", {dir.path("a", true)}, BusyThenIdle},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSurroundings s;
        auto window = shownWindow(s);
        window->sourceList().append("/kept/");
        s.folderDialog->answers = {row.chosen};
        PointerRecorder pointers(*window);
        click(*window, "PushButton3");

        std::vector<std::string> expected{"/kept/"};
        expected.insert(expected.end(), row.added.begin(), row.added.end());
        EXPECT_EQ(items(*window), expected);
        EXPECT_EQ(pointers.values, row.pointers);
        EXPECT_TRUE(s.presenter->messages.isEmpty());
        EXPECT_TRUE(s.presenter->reports.isEmpty());
    }
}

// Hidden folders are added; a name with a control character is left out with everything below
// it; a link back up the tree is added once and not followed. The walk keeps the window alive
// and busy: the list refuses removal meanwhile, and an "Add Folder(s)" started during the walk
// lands its item before those of the walk.
TEST(AddAllSubfolders, AddsTheTreeLevelByLevelWhileTheWindowStaysAlive) {
    TestDir dir;
    dir.make("a/.hidden/inner/\n"
             "a/plain/deep/\n"
             "a/bad\x01name/below/\n"
             "a/plain/back -> ..\n"
             "other/\n");
    FakeSurroundings s;
    auto window = shownWindow(s);
    window->sourceList().append("/kept/");
    auto* list = control<QTreeView>(*window, "ListView1");
    list->setCurrentIndex(list->model()->index(0, 0));
    s.folderDialog->answers = {dir.path() + "//a", dir.path("other")};

    int turnsWhileBusy = 0;
    bool addedDuringWalk = false;
    std::vector<int> countsAfterRemoval;
    EachLoopTurn during([&] {
        if (window->pointer() != Pointer::Hourglass)
            return;
        ++turnsWhileBusy;
        QTest::keyClick(list, Qt::Key_Delete);
        click(*window, "PushButton7");
        countsAfterRemoval.push_back(window->sourceCount());
        if (!addedDuringWalk) {
            addedDuringWalk = true;
            click(*window, "PushButton3");
        }
    });
    PointerRecorder pointers(*window);
    click(*window, "PushButton5");

    EXPECT_GT(turnsWhileBusy, 0);
    EXPECT_TRUE(addedDuringWalk);
    const std::vector<std::string> added = items(*window);
    ASSERT_EQ(added.size(), 8u);
    const std::string base = dir.path() + "//a/";
    EXPECT_EQ(added[0], "/kept/");
    EXPECT_EQ(added[1], dir.path("a", true)) << "the chosen folder comes first, normalised";
    EXPECT_EQ(added[2], dir.path("other", true)) << "added during the walk";
    EXPECT_EQ(std::set<std::string>(added.begin() + 3, added.begin() + 5),
              (std::set<std::string>{base + ".hidden/", base + "plain/"}));
    EXPECT_EQ(std::set<std::string>(added.begin() + 5, added.end()),
              (std::set<std::string>{base + ".hidden/inner/", base + "plain/deep/",
                                     base + "plain/back/"}));
    // Nothing was removed while the walk was under way; the add command's own busy period
    // ends the hourglass early, as it does on the designed platform.
    ASSERT_FALSE(countsAfterRemoval.empty());
    EXPECT_EQ(countsAfterRemoval.front(), 2);
    EXPECT_EQ(pointers.values.front(), Pointer::Hourglass);
    EXPECT_EQ(pointers.values.back(), Pointer::Default);
    EXPECT_TRUE(s.presenter->reports.isEmpty()) << s.presenter->reports.join(u'|').toStdString();
}

// The output folder text and the option are read when a run starts: a change made while the run
// yields is stored at once and applies from the next run.
TEST(BrowseOutputFolder, ChangesDuringARunApplyFromTheNextRun) {
    TestDir dir;
    dir.make("a/f=f\nb/s/g=g\nout1/\nout2/\n");
    FakeSurroundings s;
    auto window = shownWindow(s);
    window->sourceList().append(dir.path("a", true));
    window->sourceList().append(dir.path("b", true));
    control<QLineEdit>(*window, "Text2")->setText(QString::fromStdString(dir.path("out1", true)));
    control<QAbstractButton>(*window, "Option1")->click();
    s.folderDialog->answers = {dir.path("out2")};

    bool changed = false;
    QStringList storedDuringRun;
    EachLoopTurn during([&] {
        // During the run, which read the output folder and the option as it began.
        if (changed || !window->JoinRunning())
            return;
        changed = true;
        click(*window, "PushButton1");
        storedDuringRun.append(stored(s, "Output Folder"));
        control<QAbstractButton>(*window, "Option2")->click();
        storedDuringRun.append(stored(s, "Option1") + u',' + stored(s, "Option2"));
    });
    click(*window, "PushButton2");

    EXPECT_EQ(storedDuringRun, (QStringList{QString::fromStdString(dir.path("out2", true)),
                                            QStringLiteral("False,True")}));
    EXPECT_EQ(listTree(dir.root() / "out1"), "a/f\nb/s/g\n");
    EXPECT_EQ(listTree(dir.root() / "out2"), "");
    EXPECT_EQ(window->pointer(), Pointer::Default);
    click(*window, "PushButton2");
    EXPECT_EQ(listTree(dir.root() / "out2"), "f\ng\n");
}
