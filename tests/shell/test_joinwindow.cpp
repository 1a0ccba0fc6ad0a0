// A whole join from the window: the validation messages, both copy options on the sample folders
// and on a tree with name collisions, a run with failures told only at its end, the progress
// shown for each entry, and what every other
// command does while a run yields to the event loop: adding, removing, the output folder text,
// the option, Stop and Escape, closing the window and a signal; the window in German.
#include "join/tasks/workers.h"
#include "shell/closingmessage.h"
#include "shell/messagepresenter.h"
#include "shell/windowtexts.h"
#include "shellfakes.h"
#include "support/testdir.h"
#include "words/words.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <csignal>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>

using join::CopyOption;
using join::Pointer;
using shelltest::EachLoopTurn;
using shelltest::FakeSurroundings;
using testsupport::listTree;
using testsupport::TestDir;
namespace fs = std::filesystem;

namespace {

template <class T = QWidget> T* control(QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

const QString Done = QStringLiteral("Done.");
const QString NoFolders = QStringLiteral("No folders added.");
const QString NoOutput = QStringLiteral("Folder does not exist. Please select another folder.");

// A started, shown window whose list holds `entries`, with `output` in the output folder box and
// the copy option selected; nothing recorded yet.
std::unique_ptr<shell::MainWindow> joinWindow(FakeSurroundings& s,
                                              const std::vector<std::string>& entries,
                                              const std::string& output, CopyOption option) {
    auto window = s.startedWindow();
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    for (const auto& entry : entries)
        window->sourceList().append(entry);
    control<QLineEdit>(*window, "Text2")->setText(QString::fromUtf8(output));
    control<QAbstractButton>(*window, option == CopyOption::Flat ? "Option2" : "Option1")->click();
    s.presenter->messages.clear();
    s.presenter->reports.clear();
    return window;
}

void click(shell::MainWindow& window, const char* button) {
    shelltest::clickAndWait(window, button);
}

QStringList messageTexts(const FakeSurroundings& s) {
    QStringList texts;
    for (const auto& message : s.presenter->messages)
        texts.append(message.text);
    return texts;
}

struct BarState {
    int value = 0;
    QString text;
    Pointer pointer = Pointer::Default;
    bool operator==(const BarState&) const = default;
};

void PrintTo(const BarState& state, std::ostream* out) {
    *out << "{" << state.value << ", \"" << state.text.toStdString() << "\", "
         << static_cast<int>(state.pointer) << "}";
}

BarState barState(shell::MainWindow& window) {
    auto* bar = control<QProgressBar>(window, "ProgressBar1");
    return {bar->value(), bar->text(), window.pointer()};
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int fileCount(const fs::path& folder) {
    const std::string tree = listTree(folder);
    return static_cast<int>(std::count(tree.begin(), tree.end(), '\n'));
}

// The files of a folder and their contents.
std::map<std::string, std::string> filesIn(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::istringstream names(listTree(folder));
    for (std::string name; std::getline(names, name);)
        files[name] = readFile(folder / name);
    return files;
}

// Four large files: their copy lasts long enough to be acted on in the middle of.
void makeLargeSource(const TestDir& dir) {
    for (int i = 1; i <= 4; ++i)
        dir.write("a/f" + std::to_string(i), std::string(32 << 20, static_cast<char>('0' + i)));
    dir.make("out/\n");
}

// What a row of CommandsDuringARun acts on and records.
struct DuringRun {
    TestDir& dir;
    FakeSurroundings& s;
    shell::MainWindow& window;
    // The pointer just after the row's commands, the files in the output folder when the process
    // would have ended, and what else the row saw during the run.
    Pointer pointer = Pointer::Default;
    int filesThen = -1;
    std::string seen = {};
    fs::path out() const { return dir.root() / "out"; }
};

// What is wrong with the files of `folder` beside those of the sources they copy ("" when each
// is whole).
std::string notWhole(const TestDir& dir, const fs::path& folder, const std::string& source) {
    std::string wrong;
    for (const auto& [name, content] : filesIn(folder))
        if (content != readFile(dir.root() / source / name))
            wrong += name + " is not whole; ";
    return wrong;
}

// Calls `answer` on each message box as soon as it shows, for as long as `timer` runs.
void answerEachBox(QTimer& timer, const std::function<void(QMessageBox&)>& answer) {
    QObject::connect(&timer, &QTimer::timeout, [answer] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
                answer(*box);
    });
    timer.start(1);
}

} // namespace

TEST(JoinWindow, ValidationMessagesInTheirOrder) {
    TestDir dir;
    dir.make("src/f=f\nafile=x\nout/\n");
    struct Row {
        const char* name;
        std::vector<std::string> entries;
        std::string output;
        QString message;
    };
    const Row rows[] = {
        {"empty list and missing output", {}, dir.path("missing"), NoFolders},
        {"empty list", {}, dir.path("out", true), NoFolders},
        {"missing output", {dir.path("src", true)}, dir.path("missing", true), NoOutput},
        {"output names a file", {dir.path("src", true)}, dir.path("afile"), NoOutput},
        {"empty output text", {dir.path("src", true)}, "", NoOutput},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSurroundings s;
        auto window = joinWindow(s, row.entries, row.output, CopyOption::Flat);
        window->setPointer(Pointer::Custom);
        click(*window, "PushButton2");

        ASSERT_EQ(s.presenter->messages.size(), 1);
        EXPECT_EQ(s.presenter->messages.front().text, row.message);
        EXPECT_EQ(s.presenter->messages.front().caption, QLatin1String("Brimvale"));
        EXPECT_TRUE(s.presenter->reports.isEmpty());
        // A run that stops at validation leaves the pointer and the bar alone.
        EXPECT_EQ(barState(*window),
                  (BarState{0, QStringLiteral("Progress Bar"), Pointer::Custom}));
        EXPECT_FALSE(window->JoinRunning());
    }
    EXPECT_FALSE(dir.exists("missing"));
    EXPECT_EQ(listTree(dir.root() / "out"), "");
}

// The flat copy says under "Show Details..." what it did not copy by its rules.
TEST(JoinWindow, BothOptionsOnTheSampleFolders) {
    struct Row {
        CopyOption option;
        std::map<std::string, std::string> expected; // output file -> sample file it copies
        QString details = {};
    };
    const Row rows[] = {
        {CopyOption::Flat,
         {{"letter-to-a-friend.txt", "Folder1/Letters/letter-to-a-friend.txt"},
          {"notes.txt", "Folder2/Photos/notes.txt"},
          {"readme.txt", "Folder2/readme.txt"},
          {"shopping.csv", "Folder1/shopping.csv"}},
         QStringLiteral("4 files copied; 2 replaced by later files of the same name; 1 left out "
                        "(its name begins with ~).")},
        {CopyOption::PreserveStructure,
         {{"Folder1/Letters/letter-to-a-friend.txt", "Folder1/Letters/letter-to-a-friend.txt"},
          {"Folder1/readme.txt", "Folder1/readme.txt"},
          {"Folder1/shopping.csv", "Folder1/shopping.csv"},
          {"Folder1/~scratch.txt", "Folder1/~scratch.txt"},
          {"Folder2/Photos/notes.txt", "Folder2/Photos/notes.txt"},
          {"Folder2/notes.txt", "Folder2/notes.txt"},
          {"Folder2/readme.txt", "Folder2/readme.txt"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.option == CopyOption::Flat ? "flat" : "preserve");
        FakeSurroundings s;
        s.copySamples();
        const fs::path samples = QFile::encodeName(s.programFolder).toStdString() + "/Samples";
        const fs::path out = QFile::encodeName(s.root.path()).toStdString() + "/out";
        fs::create_directory(out);
        auto window = joinWindow(s, {}, out.string() + "/", row.option);
        click(*window, "PushButton6");
        ASSERT_EQ(window->sourceCount(), 2);
        click(*window, "PushButton2");

        EXPECT_EQ(messageTexts(s), QStringList{Done});
        EXPECT_EQ(s.presenter->messages.value(0).details, row.details);
        EXPECT_TRUE(s.presenter->reports.isEmpty())
            << s.presenter->reports.join(u'|').toStdString();
        std::map<std::string, std::string> expected;
        for (const auto& [name, source] : row.expected)
            expected[name] = readFile(samples / source);
        EXPECT_EQ(filesIn(out), expected);
        // The join reads the sources and never changes them.
        EXPECT_EQ(fileCount(samples), 7);
    }
}

TEST(JoinWindow, BothOptionsOnATreeWithCollisions) {
    TestDir dir;
    dir.make("A/Photos/x.txt=A x\n"
             "A/Photos/sub/y.txt=A sub y\n"
             "A/Photos/~tmp.txt=A tilde\n"
             "B/Photos/x.txt=B x\n"
             "B/Photos/deep/er/pre.txt=B pre\n"
             "C/c.txt=C c\n");
    struct Row {
        const char* name;
        CopyOption option;
        std::map<std::string, std::string> expected;
        bool mirroredExists;
    };
    const std::string mirroredC = dir.path("out", true) + dir.path("C").substr(1);
    const Row rows[] = {
        {"flat: later names replace earlier ones, the file that was there included",
         CopyOption::Flat,
         {{"x.txt", "B x"}, {"y.txt", "A sub y"}, {"pre.txt", "B pre"}, {"c.txt", "C c"}},
         false},
        {"preserve: same-named entries merge, the later file wins",
         CopyOption::PreserveStructure,
         {{"Photos/x.txt", "B x"},
          {"Photos/sub/y.txt", "A sub y"},
          {"Photos/~tmp.txt", "A tilde"},
          {"Photos/deep/er/pre.txt", "B pre"},
          {"pre.txt", "before"},
          {"C/c.txt", "C c"}},
         false},
        {"preserve: an entry whose mirrored path exists is refused",
         CopyOption::PreserveStructure,
         {{"Photos/x.txt", "B x"},
          {"Photos/sub/y.txt", "A sub y"},
          {"Photos/~tmp.txt", "A tilde"},
          {"Photos/deep/er/pre.txt", "B pre"},
          {"pre.txt", "before"}},
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(dir.root() / "out");
        dir.write("out/pre.txt", "before");
        if (row.mirroredExists)
            fs::create_directories(mirroredC);
        FakeSurroundings s;
        auto window =
            joinWindow(s, {dir.path("A/Photos", true), dir.path("B/Photos"), dir.path("C")},
                       dir.path("out", true), row.option);
        click(*window, "PushButton2");

        QStringList expectedMessages;
        if (row.mirroredExists)
            expectedMessages.append(QString::fromUtf8(mirroredC) +
                                    QStringLiteral(" already exists. Please delete."));
        expectedMessages.append(Done);
        EXPECT_EQ(messageTexts(s), expectedMessages);
        EXPECT_TRUE(s.presenter->reports.isEmpty())
            << s.presenter->reports.join(u'|').toStdString();
        EXPECT_EQ(filesIn(dir.root() / "out"), row.expected);
    }
    EXPECT_EQ(readFile(dir.root() / "A/Photos/x.txt"), "A x");
}

// What the copies meet on the disk (a pipe, a link to nothing, a folder where a file goes) opens
// no box while the run goes on: the later entry is copied, and the one message, after the bar is
// reset, says how many of the files, and of each other kind, could not be copied, lists each
// under "Show Details..." with what the flat copy's rules left, and names the file that holds the
// list.
TEST(JoinWindow, ARunWithFailuresOpensNoBoxBeforeItsEnd) {
    TestDir dir;
    dir.make("one/a.txt=a\none/same.txt=earlier\none/~lock=l\none/zlink -> nowhere\n"
             "two/b.txt=b\ntwo/same.txt=later\nout/b.txt/in=folder\n");
    ASSERT_EQ(::mkfifo(dir.path("one/apipe").c_str(), 0600), 0);
    FakeSurroundings s;
    auto window = joinWindow(s, {dir.path("one", true), dir.path("two", true)},
                             dir.path("out", true), CopyOption::Flat);
    std::vector<BarState> atMessage;
    s.presenter->onMessage = [&](const shelltest::PlainMessage&) {
        atMessage.push_back(barState(*window));
    };
    click(*window, "PushButton2");

    EXPECT_TRUE(s.presenter->reports.isEmpty()) << s.presenter->reports.join(u'|').toStdString();
    ASSERT_EQ(s.presenter->messages.size(), 1);
    EXPECT_EQ(atMessage,
              (std::vector<BarState>{{0, QStringLiteral("Progress Bar"), Pointer::Default}}));
    const QDir state(s.root.path() + QStringLiteral("/state"));
    const QStringList files = state.entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    const shelltest::PlainMessage& closing = s.presenter->messages[0];
    EXPECT_EQ(closing.caption, QLatin1String("Brimvale"));
    EXPECT_EQ(closing.text,
              QStringLiteral("Done, but 1 of 3 files, 1 link and 1 special file could not be "
                             "copied.\r\rThe whole list is in this file: ") +
                  state.filePath(files[0]));
    const QString one = QString::fromStdString(dir.path("one", true));
    EXPECT_EQ(closing.details,
              QStringLiteral("2 files copied; 1 replaced by a later file of the same name; 1 left "
                             "out (its name begins with ~).\n\nEntry 1: ") +
                  one + QStringLiteral("\n  ") + one +
                  QStringLiteral("apipe: not a regular file, so it is not copied\n  ") + one +
                  QStringLiteral("zlink: a link to nothing, so it is not copied\n\nEntry 2: ") +
                  QString::fromStdString(dir.path("two", true) + "\n  " + dir.path("out/b.txt")) +
                  QStringLiteral(": Path/File access error (Is a directory)"));
    EXPECT_EQ(filesIn(dir.root() / "out"),
              (std::map<std::string, std::string>{
                  {"a.txt", "a"}, {"b.txt/in", "folder"}, {"same.txt", "later"}}));
    EXPECT_FALSE(window->JoinRunning());
}

// A name that holds a line end is shown quoted, as a shell reads it back, in "Show Details..."
// and in the file that lists what was not copied: it cannot pass for a line of its own.
TEST(JoinWindow, NamesHoldingLineEndsAreShownQuoted) {
    TestDir dir;
    fs::create_directories(dir.root() / "e\nx");
    fs::create_directories(dir.root() / "out");
    ASSERT_EQ(::mkfifo(dir.path("e\nx/p\nDone.").c_str(), 0600), 0);
    FakeSurroundings s;
    auto window = joinWindow(s, {dir.path("e\nx", true)}, dir.path("out", true), CopyOption::Flat);
    click(*window, "PushButton2");

    ASSERT_EQ(s.presenter->messages.size(), 1);
    const std::string entry = "'" + dir.path("e") + "'$'\\n''x/'";
    const std::string item = "'" + dir.path("e") +
                             "'$'\\n''x/p'$'\\n''Done.': not a regular file, "
                             "so it is not copied";
    EXPECT_TRUE(s.presenter->messages[0].details.endsWith(
        QString::fromStdString("\n\nEntry 1: " + entry + "\n  " + item)))
        << s.presenter->messages[0].details.toStdString();
    const QDir state(s.root.path() + QStringLiteral("/state"));
    const QStringList files = state.entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(readFile(state.filePath(files[0]).toStdString()), entry + "\t" + item + "\n");
}

TEST(JoinWindow, FourEntriesShowTheirShareAndNameThenTheBarIsResetBeforeDone) {
    TestDir dir;
    dir.make("Photos/2019/a=a\nPhotos/2020/b=b\nc/c=c\nd/d=d\nout/\n");
    FakeSurroundings s;
    auto window = joinWindow(s,
                             {dir.path("Photos/2019"), dir.path("Photos/2020", true), dir.path("c"),
                              dir.path("d", true)},
                             dir.path("out", true), CopyOption::Flat);

    std::vector<BarState> seen{barState(*window)};
    // A copy that lasts long enough shows its own progress ("Entry 3 of 4: c — 1 of 1 file, ...");
    // these tiny ones seldom do, and the states between entries are what is checked here, after
    // each call of the run the window has shown: the bar stays where the previous entry ended, and
    // the text names the entry's own folder.
    QObject::connect(window.get(), &shell::MainWindow::runCallShown, [&] {
        const BarState now = barState(*window);
        if (!(now == seen.back()) && !now.text.contains(QStringLiteral(" file")))
            seen.push_back(now);
    });
    std::vector<BarState> atDone;
    s.presenter->onMessage = [&](const shelltest::PlainMessage&) {
        atDone.push_back(barState(*window));
    };
    click(*window, "PushButton2");

    // The pointer turns first; each entry's share moves the bar before its text names the next.
    const std::vector<BarState> expected = {
        {0, QStringLiteral("Progress Bar"), Pointer::Default},
        {0, QStringLiteral("Progress Bar"), Pointer::Hourglass},
        {0, QStringLiteral("Entry 1 of 4: 2019"), Pointer::Hourglass},
        {25, QStringLiteral("Entry 1 of 4: 2019"), Pointer::Hourglass},
        {25, QStringLiteral("Entry 2 of 4: 2020"), Pointer::Hourglass},
        {50, QStringLiteral("Entry 2 of 4: 2020"), Pointer::Hourglass},
        {50, QStringLiteral("Entry 3 of 4: c"), Pointer::Hourglass},
        {75, QStringLiteral("Entry 3 of 4: c"), Pointer::Hourglass},
        {75, QStringLiteral("Entry 4 of 4: d"), Pointer::Hourglass},
        {100, QStringLiteral("Entry 4 of 4: d"), Pointer::Hourglass},
        {100, QStringLiteral("Finishing writes to disk..."), Pointer::Hourglass},
        {100, QStringLiteral("Finishing writes to disk..."), Pointer::Default},
        {0, QStringLiteral("Finishing writes to disk..."), Pointer::Default},
        {0, QStringLiteral("Progress Bar"), Pointer::Default},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(atDone,
              (std::vector<BarState>{{0, QStringLiteral("Progress Bar"), Pointer::Default}}));
    EXPECT_EQ(messageTexts(s), QStringList{Done});
    EXPECT_EQ(listTree(dir.root() / "out"), "a\nb\nc\nd\n");
    EXPECT_FALSE(window->JoinRunning());
}

// Every command a user can give while a run copies. The list is never emptied or shortened
// under the run, whatever ran before (a command that ends gives the hourglass back, not the
// arrow), and the commands that would are shown disabled; the output folder text and the option
// count from the next run, as their group boxes say; "Start Joining" reads "Stop", which, like
// Escape and closing the window, asks and stops after the entry under way, leaving only whole
// files; a close answered Yes, and a signal without asking, end the process once the copies have
// stopped, and no box opens after. Each row acts once, on the run's first entry (in the middle of
// its copy where the first entry is large); `check` says what is wrong afterwards.
TEST(JoinWindow, CommandsDuringARun) {
    const QString help =
        QStringLiteral("Questions? Please contact Team Quorvik at " BRIMVALE_CONTACT_PAGE);
    const QString stopQuestion =
        QStringLiteral("Stop joining? What was copied stays; nothing partly written is left.");
    auto select = [](shell::MainWindow& window, int row) {
        auto* list = control<QTreeView>(window, "ListView1");
        list->setFocus();
        list->setCurrentIndex(list->model()->index(row, 0));
        return list;
    };
    auto doubleClick = [&](shell::MainWindow& window, int row) {
        auto* list = select(window, row);
        // A user's double-click: press, release, double-click, release.
        const QPoint at = list->visualRect(list->model()->index(row, 0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    };
    auto outputFolderEdit = [](shell::MainWindow& window) {
        return control<QLineEdit>(window, "Text2");
    };
    auto expect = [](bool holds, const std::string& what) {
        return holds ? std::string() : what + "; ";
    };
    const std::string smallOutput = "f\ng\nh\n";
    const std::string largeOutput = "f1\nf2\nf3\nf4\ng\nh\n";
    // What the window shows of a run: where "Start Joining" is and what it reads, which commands
    // take clicks, whether the list's entries can be selected, the group boxes' titles.
    auto looks = [](shell::MainWindow& window) {
        auto* start = control<QPushButton>(window, "PushButton2");
        auto* list = control<QTreeView>(window, "ListView1");
        auto enabled = [](bool on) { return on ? std::string(" enabled") : " disabled"; };
        const QRect at = start->geometry();
        return start->text().toStdString() + enabled(start->isEnabled()) + " at " +
               std::to_string(at.x()) + "," + std::to_string(at.y()) + " " +
               std::to_string(at.width()) + "x" + std::to_string(at.height()) + "; Clear List" +
               enabled(control<QPushButton>(window, "PushButton7")->isEnabled()) + "; entries" +
               enabled(list->model()->flags(list->model()->index(0, 0)) & Qt::ItemIsEnabled) +
               "; " + control<QGroupBox>(window, "Frame2")->title().toStdString() + "; " +
               control<QGroupBox>(window, "Frame1")->title().toStdString();
    };
    // "&" marks each caption's Alt letter, kept through the run.
    const std::string idleLooks = "&Start Joining enabled at 8,414 504x27; Clear List enabled; "
                                  "entries enabled; Save &Results To This Folder; Copy &Options";
    const std::string runningLooks =
        "&Stop enabled at 8,414 249x27; Clear List disabled; entries disabled; Save &Results To "
        "This Folder (a change counts from the next run); Copy &Options (a change counts from the "
        "next run)";
    auto stoppedMessage = [](int copied) {
        return QStringLiteral("The join was stopped: %1 file%2 copied. What was copied stays; "
                              "nothing partly written is left.")
            .arg(copied)
            .arg(copied == 1 ? QStringLiteral(" was") : QStringLiteral("s were"));
    };
    // Only whole files of the first entry, whose copy was under way: no further entry was begun.
    auto firstEntryOnly = [&](DuringRun& r, const fs::path& out) {
        const int copied = fileCount(out);
        return expect(copied >= 1 && !r.dir.exists("out/g") && !r.dir.exists("out/b/g"),
                      "files copied: " + listTree(out)) +
               notWhole(r.dir, out, "a");
    };

    struct Row {
        const char* name;
        CopyOption option;
        bool large; // the first entry is 4 large files
        std::function<void(DuringRun&)> during;
        std::function<std::string(DuringRun&)> check;
    };
    const Row rows[] = {
        {"Delete, Shift+Delete, double-click and Clear List refused and shown so; Help opens",
         CopyOption::Flat, false,
         [&](DuringRun& r) {
             r.seen = looks(r.window);
             QTest::keyClick(select(r.window, 1), Qt::Key_Delete);
             QTest::keyClick(select(r.window, 1), Qt::Key_Delete, Qt::ShiftModifier);
             doubleClick(r.window, 1);
             click(r.window, "PushButton7");
             click(r.window, "PushButton4");
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.seen == runningLooks, "during the run: " + r.seen);
             wrong += expect(looks(r.window) == idleLooks, "after it: " + looks(r.window));
             wrong += expect(messageTexts(r.s) == QStringList{help, Done}, "messages");
             wrong += expect(r.window.sourceCount() == 3, "the list changed");
             wrong += expect(listTree(r.out()) == smallOutput, "output");
             // Idle again, the same key removes the selected entry.
             QTest::keyClick(select(r.window, 1), Qt::Key_Delete);
             return wrong + expect(r.window.sourceCount() == 2, "idle Delete refused");
         }},
        {"Add Folder(s), then Clear List", CopyOption::Flat, false,
         [&](DuringRun& r) {
             r.s.folderDialog->answers = {r.dir.path("late")};
             click(r.window, "PushButton3");
             r.pointer = r.window.pointer();
             click(r.window, "PushButton7");
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.pointer == Pointer::Hourglass, "arrow after the add");
             wrong += expect(r.window.sourceCount() == 4 &&
                                 r.window.sourceText(4) == r.dir.path("late", true),
                             "list");
             return wrong + expect(listTree(r.out()) == smallOutput, "output");
         }},
        {"Add All Subfolders In Folder, then Delete", CopyOption::Flat, false,
         [&](DuringRun& r) {
             r.s.folderDialog->answers = {r.dir.path("late")};
             click(r.window, "PushButton5");
             r.pointer = r.window.pointer();
             QTest::keyClick(select(r.window, 0), Qt::Key_Delete);
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.pointer == Pointer::Hourglass, "arrow after the add");
             wrong += expect(r.window.sourceCount() == 6 &&
                                 r.window.sourceText(1) == r.dir.path("a", true),
                             "list");
             return wrong + expect(listTree(r.out()) == smallOutput, "output");
         }},
        {"Add All Subfolders In Folder, the run stopped during its walk", CopyOption::Flat, false,
         [&](DuringRun& r) {
             r.s.folderDialog->answers = {r.dir.path("late")};
             // Escape, answered Yes, at the walk's first yield.
             QTimer::singleShot(0, &r.window, [&r] { QTest::keyClick(&r.window, Qt::Key_Escape); });
             click(r.window, "PushButton5");
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.s.presenter->questions.size() == 1, "question");
             wrong +=
                 expect(messageTexts(r.s).size() == 1 &&
                            messageTexts(r.s)[0].startsWith(QStringLiteral("The join was stopped")),
                        "messages");
             return wrong + expect(r.window.sourceCount() == 6 &&
                                       r.window.sourceText(6) == r.dir.path("late/sub/in", true),
                                   "the walk was cut short: " +
                                       std::to_string(r.window.sourceCount()) + " entries");
         }},
        {"sample folders and the browse button, then a double-click", CopyOption::Flat, false,
         [&](DuringRun& r) {
             r.s.folderDialog->answers = {r.dir.path("other")};
             click(r.window, "PushButton6");
             click(r.window, "PushButton1");
             r.pointer = r.window.pointer();
             doubleClick(r.window, 0);
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.pointer == Pointer::Hourglass, "arrow after browsing");
             wrong += expect(r.window.sourceCount() == 5, "list");
             wrong += expect(outputFolderEdit(r.window)->text().toStdString() ==
                                 r.dir.path("other", true),
                             "browsed text");
             wrong += expect(listTree(r.out()) == smallOutput, "output");
             return wrong + expect(listTree(r.dir.root() / "other").empty(), "other written");
         }},
        {"output text half typed", CopyOption::PreserveStructure, false,
         [&](DuringRun& r) {
             outputFolderEdit(r.window)->clear();
             QTest::keyClicks(outputFolderEdit(r.window),
                              QString::fromStdString(r.dir.path("newpl")));
         },
         [&](DuringRun& r) {
             std::string wrong = expect(!r.dir.exists("newpl"), "half-typed folder made");
             wrong += expect(r.s.store().GetSetting(QStringLiteral("Output Folder"), {}) ==
                                 QString::fromStdString(r.dir.path("newpl")),
                             "typed text not stored");
             return wrong + expect(listTree(r.out()) == "a/f\nb/g\nc/h\n", "output");
         }},
        {"output text emptied", CopyOption::Flat, false,
         [&](DuringRun& r) { outputFolderEdit(r.window)->clear(); },
         [&](DuringRun& r) {
             std::string wrong = expect(messageTexts(r.s) == QStringList{Done}, "messages");
             return wrong + expect(listTree(r.out()) == smallOutput, "output");
         }},
        {"option switched", CopyOption::PreserveStructure, false,
         [&](DuringRun& r) { click(r.window, "Option2"); },
         [&](DuringRun& r) {
             std::string wrong = expect(r.window.copyOption() == CopyOption::Flat, "option");
             wrong += expect(r.s.store().GetSetting(QStringLiteral("Option2"), {}) ==
                                 QLatin1String("True"),
                             "option not stored");
             return wrong + expect(listTree(r.out()) == "a/f\nb/g\nc/h\n", "output");
         }},
        {"Escape, answered Yes", CopyOption::Flat, true,
         [&](DuringRun& r) { QTest::keyClick(&r.window, Qt::Key_Escape); },
         [&](DuringRun& r) {
             std::string wrong = expect(r.s.presenter->questions.size() == 1 &&
                                            r.s.presenter->questions[0].text == stopQuestion,
                                        "question");
             wrong += expect(messageTexts(r.s) == QStringList{stoppedMessage(fileCount(r.out()))},
                             "closing message");
             wrong += firstEntryOnly(r, r.out());
             // The next run starts afresh and copies everything; Escape when idle asks nothing.
             click(r.window, "PushButton2");
             wrong += expect(listTree(r.out()) == largeOutput, "next run");
             QTest::keyClick(&r.window, Qt::Key_Escape);
             return wrong + expect(r.s.presenter->questions.size() == 1, "asked when idle");
         }},
        {"Stop, answered Yes", CopyOption::Flat, true,
         [&](DuringRun& r) {
             click(r.window, "PushButton2");
             r.seen = looks(r.window);
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.s.presenter->questions.size() == 1 &&
                                            r.s.presenter->questions[0].text == stopQuestion,
                                        "question");
             // Once stopping, there is nothing more to ask.
             wrong += expect(r.seen.starts_with("&Stop disabled"), "while stopping: " + r.seen);
             wrong += expect(messageTexts(r.s) == QStringList{stoppedMessage(fileCount(r.out()))},
                             "closing message");
             wrong += firstEntryOnly(r, r.out());
             return wrong + expect(looks(r.window) == idleLooks, "after it: " + looks(r.window));
         }},
        {"Pause Now, then Resume", CopyOption::Flat, true,
         [&](DuringRun& r) {
             click(r.window, "PauseButton");
             const bool paused = QTest::qWaitFor(
                 [&] { return r.window.runState() == shell::MainWindow::RunState::Paused; });
             r.seen = std::string(paused ? "paused; " : "not paused; ") +
                      control<QPushButton>(r.window, "PauseButton")->text().toStdString() + "; " +
                      barState(r.window).text.left(8).toStdString() + "; " +
                      notWhole(r.dir, r.out(), "a");
             click(r.window, "PauseButton");
             r.seen += control<QPushButton>(r.window, "PauseButton")->text().toStdString();
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.seen == "paused; Resu&me; Paused \u2014; Pause &Now",
                                        "while paused: " + r.seen);
             wrong += expect(messageTexts(r.s) == QStringList{Done}, "messages");
             wrong += expect(!control(r.window, "PauseButton")->isVisible(), "Pause after the run");
             return wrong + expect(listTree(r.out()) == largeOutput, "output");
         }},
        {"Pause Now, then Escape answered Yes", CopyOption::Flat, true,
         [&](DuringRun& r) {
             click(r.window, "PauseButton");
             if (!QTest::qWaitFor(
                     [&] { return r.window.runState() == shell::MainWindow::RunState::Paused; }))
                 r.seen = "never paused";
             QTest::keyClick(&r.window, Qt::Key_Escape);
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.seen.empty(), r.seen);
             wrong += expect(messageTexts(r.s) == QStringList{stoppedMessage(fileCount(r.out()))},
                             "closing message");
             return wrong + firstEntryOnly(r, r.out());
         }},
        {"the rest of a double-click on Start Joining, then Stop answered No", CopyOption::Flat,
         true,
         [&](DuringRun& r) {
             // The click that started the run was its first half.
             QTest::mouseDClick(control(r.window, "PushButton2"), Qt::LeftButton);
             QTest::mouseRelease(control(r.window, "PushButton2"), Qt::LeftButton);
             r.seen = std::to_string(r.s.presenter->questions.size()) + " questions";
             r.s.presenter->answerYes = false;
             click(r.window, "PushButton2");
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.seen == "0 questions", "the double-click: " + r.seen);
             wrong += expect(r.s.presenter->questions.size() == 1, "question");
             wrong += expect(messageTexts(r.s) == QStringList{Done}, "messages");
             return wrong + expect(listTree(r.out()) == largeOutput, "output");
         }},
        {"Escape, answered No", CopyOption::Flat, true,
         [&](DuringRun& r) {
             r.s.presenter->answerYes = false;
             QTest::keyClick(&r.window, Qt::Key_Escape);
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.s.presenter->questions.size() == 1, "question");
             wrong += expect(messageTexts(r.s) == QStringList{Done}, "messages");
             return wrong + expect(listTree(r.out()) == "f1\nf2\nf3\nf4\ng\nh\n", "output");
         }},
        {"closing the window, answered No", CopyOption::Flat, true,
         [&](DuringRun& r) {
             r.s.presenter->answerYes = false;
             r.window.close();
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.s.presenter->questions.size() == 1 &&
                                            r.s.presenter->questions[0].text == stopQuestion,
                                        "question");
             wrong += expect(r.s.endings == 0 && r.window.isVisible(), "the window went");
             wrong += expect(messageTexts(r.s) == QStringList{Done}, "messages");
             return wrong + expect(listTree(r.out()) == largeOutput, "output");
         }},
        {"closing the window, answered Yes", CopyOption::PreserveStructure, true,
         [&](DuringRun& r) {
             r.s.onEnd = [&r] { r.filesThen = fileCount(r.out()); };
             r.window.close();
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.s.presenter->questions.size() == 1 &&
                                            r.s.presenter->questions[0].text == stopQuestion,
                                        "question");
             wrong += expect(r.s.endings == 1 && r.s.endedBy == 0, "process ender not reached");
             wrong += expect(r.filesThen >= 1, "the ender ran after the copy");
             wrong += expect(!r.window.isVisible(), "the window stayed");
             // The copies were asked to stop, and no box opened once the window had gone.
             wrong += firstEntryOnly(r, r.out() / "a");
             return wrong + expect(r.s.presenter->messages.isEmpty(), "a box after the window");
         }},
        {"SIGTERM, not asked", CopyOption::Flat, true,
         [&](DuringRun& r) {
             r.s.onEnd = [&r] { r.filesThen = fileCount(r.out()); };
             std::raise(SIGTERM);
         },
         [&](DuringRun& r) {
             std::string wrong = expect(r.s.presenter->questions.isEmpty(), "asked");
             wrong += expect(r.s.endings == 1 && r.s.endedBy == SIGTERM,
                             "process ender not reached, or not told the signal");
             wrong += expect(r.filesThen >= 1, "the ender ran after the copy");
             wrong += expect(!r.window.isVisible(), "the window stayed");
             // Only whole files: what the copy under way had written is gone.
             wrong += firstEntryOnly(r, r.out());
             return wrong + expect(r.s.presenter->messages.isEmpty(), "a box after the window");
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestDir dir;
        dir.make("a/f=f\nb/g=g\nc/h=h\nlate/l=l\nlate/sub/m=m\nlate/sub/in/\nother/\nout/\n");
        if (row.large) {
            fs::remove_all(dir.root() / "a");
            makeLargeSource(dir);
        }
        FakeSurroundings s;
        s.copySamples();
        auto window = joinWindow(s, {dir.path("a", true), dir.path("b", true), dir.path("c", true)},
                                 dir.path("out", true), row.option);
        DuringRun during{dir, s, *window};
        // A run of small entries is held, paused from the start, with its first entry shown and
        // nothing of it written, until the row has acted; a large first entry is acted on while
        // it is copied.
        const std::shared_ptr<join::RunControl> control = window->runControl();
        if (!row.large)
            control->pause();
        bool acted = false;
        EachLoopTurn act([&] {
            if (acted || window->runState() != shell::MainWindow::RunState::Running ||
                (row.large && fileCount(during.out()) < 1))
                return;
            acted = true;
            row.during(during);
            control->resume();
        });
        click(*window, "PushButton2");

        ASSERT_TRUE(acted);
        EXPECT_TRUE(s.presenter->reports.isEmpty())
            << s.presenter->reports.join(u'|').toStdString();
        EXPECT_EQ(row.check(during), "");
        EXPECT_FALSE(window->JoinRunning());
    }
}

// Run by the next test in a process of its own, with the real process ender: closing the window
// during a copy, the question answered Yes, must end the process there.
TEST(JoinWindowChild, DISABLED_ClosesTheWindowDuringACopy) {
    const QByteArray folder = qgetenv("BRIMVALE_CHILD_DIR");
    ASSERT_FALSE(folder.isEmpty());
    const fs::path dir = folder.toStdString();
    FakeSurroundings s;
    shell::MainWindowEnvironment env = s.environment();
    env.endProcess = shell::MainWindowEnvironment::standard().endProcess;
    shell::MainWindow window(env);
    window.startUp();
    window.show();
    window.sourceList().append((dir / "a").string() + "/");
    control<QLineEdit>(window, "Text2")->setText(QString::fromUtf8((dir / "out").string() + "/"));
    control<QAbstractButton>(window, "Option1")->click();
    EachLoopTurn closeDuringTheCopy([&] {
        if (fileCount(dir / "out") >= 1)
            window.close();
    });
    click(window, "PushButton2");
    std::ofstream(dir / "run-returned") << "the process went on";
}

// The process ends with the copy half done: every file there is whole, and nothing else is.
TEST(JoinWindow, TheRealProcessEnderEndsTheProcessInTheMiddleOfACopy) {
    TestDir dir;
    makeLargeSource(dir);
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BRIMVALE_CHILD_DIR"), QString::fromStdString(dir.path()));
    child.setProcessEnvironment(environment);
    child.start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("--gtest_also_run_disabled_tests"),
         QStringLiteral("--gtest_filter=JoinWindowChild.DISABLED_ClosesTheWindowDuringACopy")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString output = QString::fromUtf8(child.readAllStandardOutput());

    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[ RUN      ] JoinWindowChild")))
        << output.toStdString();
    EXPECT_FALSE(output.contains(QStringLiteral("[       OK ]"))) << output.toStdString();
    EXPECT_FALSE(dir.exists("run-returned"));
    const auto copied = filesIn(dir.root() / "out");
    EXPECT_GE(copied.size(), 1u);
    for (const auto& [name, content] : copied)
        EXPECT_TRUE(content == readFile(dir.root() / name)) << name << " is not whole";
}

// The real message boxes, answered as they open: modal over the window, and "Done." only after
// the bar was reset.
TEST(JoinWindow, TheRealMessageBoxesOpenOverTheWindow) {
    TestDir dir;
    dir.make("a/f=f\nout/\n");
    FakeSurroundings s;
    shell::MainWindowEnvironment env = s.environment();
    env.presenter = nullptr;
    shell::MainWindow window(env);
    window.startUp();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.sourceList().append(dir.path("a", true));

    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        bool parentIsWindow;
        BarState bar;
    };
    std::vector<Seen> seen;
    QTimer answer;
    answerEachBox(answer, [&](QMessageBox& box) {
        seen.push_back({box.windowTitle(), box.text(), box.icon(), box.parentWidget() == &window,
                        barState(window)});
        box.button(QMessageBox::Ok)->click();
    });

    control<QLineEdit>(window, "Text2")->setText(QString::fromStdString(dir.path("missing")));
    click(window, "PushButton2");
    control<QLineEdit>(window, "Text2")->setText(QString::fromStdString(dir.path("out", true)));
    click(window, "PushButton2");

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, NoOutput);
    EXPECT_EQ(seen[1].text, Done);
    for (const Seen& box : seen) {
        EXPECT_EQ(box.title, QLatin1String("Brimvale"));
        EXPECT_EQ(box.icon, QMessageBox::NoIcon);
        EXPECT_TRUE(box.parentIsWindow);
        EXPECT_EQ(box.bar, (BarState{0, QStringLiteral("Progress Bar"), Pointer::Default}));
    }
    EXPECT_EQ(listTree(dir.root() / "out"), "a/f\n");
}

// The window as a German user sees it: German captions, each with a key letter that no other
// control of the window takes, each within its control (the group titles also with the note a run
// adds), a join's closing message and its details, the closing message's verb agreeing with what
// it counts, and Qt's own buttons of a question.
TEST(JoinWindow, SpeaksGermanWhereTheUserDoes) {
    words::installTranslations(QLocale(QLocale::German, QLocale::Germany));
    const auto english = qScopeGuard([] { words::installTranslations(QLocale::c()); });
    FakeSurroundings s;
    s.copySamples();
    const fs::path out = QFile::encodeName(s.root.path()).toStdString() + "/out";
    fs::create_directory(out);
    auto window = joinWindow(s, {}, out.string() + "/", CopyOption::Flat);

    const struct {
        const char* name;
        QString caption;
    } rows[] = {
        {"PushButton2", QStringLiteral("Zusammenführen &starten")},
        {"PushButton3", QStringLiteral("&Ordner hinzufügen")},
        {"Frame2", QStringLiteral("&Ergebnisse in diesem Ordner speichern")},
        {"Frame1", QStringLiteral("&Kopieroptionen")},
        {"Option1", QStringLiteral("Ordnerstruktur beim Kopieren in den Zielordner &beibehalten")},
    };
    for (const auto& row : rows) {
        QWidget* widget = control(*window, row.name);
        auto* group = qobject_cast<QGroupBox*>(widget);
        const QString caption =
            group ? group->title() : qobject_cast<QAbstractButton*>(widget)->text();
        EXPECT_EQ(caption, row.caption) << row.name;
    }
    EXPECT_EQ(control<QTreeView>(*window, "ListView1")->model()->headerData(0, Qt::Horizontal),
              QStringLiteral("Quellordner"));
    EXPECT_EQ(barState(*window).text, QStringLiteral("Fortschrittsanzeige"));

    std::map<QKeySequence, QString> keys;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        auto* button = qobject_cast<QAbstractButton*>(widget);
        auto* group = qobject_cast<QGroupBox*>(widget);
        if (!button && !group)
            continue;
        const QString name = widget->objectName();
        const QString caption = button ? button->text() : group->title();
        const QKeySequence key = QKeySequence::mnemonic(caption);
        EXPECT_FALSE(key.isEmpty()) << name.toStdString() << " has no key letter";
        const auto [taken, added] = keys.try_emplace(key, name);
        EXPECT_TRUE(added) << name.toStdString() << " and " << taken->second.toStdString()
                           << " share " << key.toString().toStdString();
        // What the caption needs beside its text: a button's frame, an option's indicator, the
        // start of a group's title.
        const QString shown = caption + (group ? shell::NextRunNote.text() : QString());
        const int needed = widget->fontMetrics().horizontalAdvance(QString(shown).remove(u'&')) +
                           (group                              ? 16
                            : button->inherits("QRadioButton") ? 24
                                                               : 8);
        EXPECT_LE(needed, widget->width()) << name.toStdString() << ": " << shown.toStdString();
    }

    click(*window, "PushButton6");
    click(*window, "PushButton2");
    ASSERT_EQ(s.presenter->messages.size(), 1);
    EXPECT_EQ(s.presenter->messages.front().text, QStringLiteral("Fertig."));
    EXPECT_EQ(s.presenter->messages.front().details,
              QStringLiteral("4 Dateien kopiert; 2 durch spätere gleichnamige Dateien ersetzt; "
                             "1 ausgelassen (der Name beginnt mit ~)."));
    EXPECT_EQ(barState(*window).text, QStringLiteral("Fortschrittsanzeige"));

    for (const auto& [notCopied, said] :
         {std::pair{1, "Fertig, aber 1 von 1.201 Dateien konnte nicht kopiert werden."},
          std::pair{2, "Fertig, aber 2 von 1.202 Dateien konnten nicht kopiert werden."}}) {
        join::JoinOutcome outcome;
        outcome.filesCopied = 1200;
        outcome.notCopied.push_back({1, "a", {}});
        for (int i = 0; i < notCopied; ++i)
            outcome.notCopiedCounts.add(join::NotCopiedItem::Kind::File);
        EXPECT_EQ(shell::closingText(outcome, {}), QString::fromUtf8(said));
    }

    // Qt's own words, from Qt's German catalogue.
    QStringList buttons;
    QTimer answer;
    answerEachBox(answer, [&](QMessageBox& box) {
        for (QAbstractButton* button : box.buttons())
            buttons.append(button->text());
        box.button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(shell::MessageBoxPresenter().askYesNo(window.get(), QStringLiteral("Brimvale"),
                                                       shell::StopQuestion));
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("&Ja"), QStringLiteral("&Nein")}));
}
