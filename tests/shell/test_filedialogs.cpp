// The real folder picker and file-open dialog, answered as soon as they show: modal over the
// main window, the caption and mode they were asked for, the initial folder preselected, full
// paths back, nothing on cancel. Then both reached through the window's own buttons.
#include "shell/filedialogs.h"
#include "shellfakes.h"
#include "support/testdir.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using shelltest::FakeSurroundings;
using testsupport::TestDir;

namespace {

struct SeenDialog {
    bool shown = false;
    QString title;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    bool dirsOnly = false;
    QStringList nameFilters;
    QString directory;
    QWidget* parent = nullptr;
    bool modal = false;
};

// Opens a dialog with `open`; when it shows, notes what it looks like and lets `answer` close it.
SeenDialog answerNextDialog(const std::function<void(QFileDialog*)>& answer,
                            const std::function<void()>& open) {
    SeenDialog seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            if (!dialog || !dialog->isVisible())
                continue;
            poll.stop();
            seen = {true,
                    dialog->windowTitle(),
                    dialog->fileMode(),
                    dialog->testOption(QFileDialog::ShowDirsOnly),
                    dialog->nameFilters(),
                    dialog->directory().absolutePath(),
                    dialog->parentWidget(),
                    dialog->isModal()};
            answer(dialog);
            return;
        }
    });
    poll.start(5);
    open();
    return seen;
}

// OK, as the dialog's own button does it (QFileDialog::accept is reached through QDialog).
void accept(QFileDialog* dialog) {
    static_cast<QDialog*>(dialog)->accept();
}

void cancel(QFileDialog* dialog) {
    dialog->reject();
}

QString q(const std::string& path) {
    return QString::fromStdString(path);
}

} // namespace

TEST(FolderPickerDialog, OffersFoldersOnlyFromTheInitialFolder) {
    TestDir dir;
    dir.make("a/b/\nfile.txt=x\n");
    QWidget owner;
    shell::FolderPickerDialog picker(&owner);
    struct Row {
        const char* name;
        std::string initial;
        std::function<void(QFileDialog*)> answer;
        bool opensAtInitial; // else at the home folder, whatever was picked before
        std::string result;
    };
    const Row rows[] = {
        {"OK at once confirms the initial folder", dir.path("a"), accept, true, dir.path("a")},
        {"the initial folder with its separator", dir.path("a", true), accept, true, dir.path("a")},
        {"a subfolder picked", dir.path("a"),
         [&](QFileDialog* dialog) {
             dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                 ->setText(QStringLiteral("b"));
             accept(dialog);
         },
         true, dir.path("a/b")},
        {"the root", "/", accept, true, "/"},
        {"cancel", dir.path("a"), cancel, true, ""},
        {"no initial folder", "", cancel, false, ""},
        {"an initial folder that does not exist", dir.path("missing"), cancel, false, ""},
        {"an initial file", dir.path("file.txt"), cancel, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string result = "<not called>";
        const SeenDialog seen = answerNextDialog(row.answer, [&] {
            result = picker.BrowseForFolder("Please select folder:", row.initial);
        });
        ASSERT_TRUE(seen.shown);
        EXPECT_EQ(seen.title, QLatin1String("Please select folder:"));
        EXPECT_EQ(seen.mode, QFileDialog::Directory);
        EXPECT_TRUE(seen.dirsOnly);
        EXPECT_EQ(seen.parent, &owner);
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.directory,
                  row.opensAtInitial ? QDir(q(row.initial)).absolutePath() : QDir::homePath());
        EXPECT_EQ(result, row.result);
    }
}

TEST(FilePickerDialog, ReturnsThePickedFilesWithTheirFullPaths) {
    TestDir dir;
    dir.make("lists/a.txt=a\nlists/b.txt=b\nlists/Grüße.txt=c\n");
    QWidget owner;
    shell::FilePickerDialog picker(&owner);
    struct Row {
        const char* name;
        std::string typed; // "": cancel
        std::vector<std::string> result;
    };
    const Row rows[] = {
        {"one file", "\"b.txt\"", {dir.path("lists/b.txt")}},
        {"two files", "\"b.txt\" \"a.txt\"", {dir.path("lists/b.txt"), dir.path("lists/a.txt")}},
        {"a name with non-ASCII letters", "\"Grüße.txt\"", {dir.path("lists/Grüße.txt")}},
        {"cancel", "", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> result{"<not called>"};
        const SeenDialog seen = answerNextDialog(
            [&](QFileDialog* dialog) {
                if (row.typed.empty()) {
                    dialog->reject();
                    return;
                }
                dialog->setDirectory(q(dir.path("lists")));
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                    ->setText(QString::fromUtf8(row.typed));
                accept(dialog);
            },
            [&] { result = picker.ShowOpen("Add File(s) - Hold Ctrl", "All Files (*)"); });
        ASSERT_TRUE(seen.shown);
        EXPECT_EQ(seen.title, QLatin1String("Add File(s) - Hold Ctrl"));
        EXPECT_EQ(seen.mode, QFileDialog::ExistingFiles);
        EXPECT_EQ(seen.nameFilters, QStringList{QStringLiteral("All Files (*)")});
        EXPECT_EQ(seen.parent, &owner);
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(result, row.result);
    }
}

// Without injected dialogs the window opens the real ones over itself.
TEST(FileDialogsInTheWindow, TheButtonsOpenTheRealDialogs) {
    TestDir dir;
    dir.make("out/\nlists/one.txt=/first\nlists/two.txt=/second\n");
    FakeSurroundings s;
    shell::MainWindowEnvironment env = s.environment();
    env.folderDialog = nullptr;
    env.fileOpenDialog = nullptr;
    shell::MainWindow window(env);
    window.startUp();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    s.store().SaveSetting(QStringLiteral("LastFolderDot"), q(dir.path("out")));

    const SeenDialog folder = answerNextDialog(accept, [&] {
        QTest::mouseClick(window.findChild<QWidget*>(QStringLiteral("PushButton1")),
                          Qt::LeftButton);
    });
    EXPECT_EQ(folder.parent, &window);
    EXPECT_EQ(folder.title, QLatin1String("Please select folder:"));
    EXPECT_EQ(window.outputFolderText(), dir.path("out", true));

    const SeenDialog files = answerNextDialog(
        [&](QFileDialog* dialog) {
            dialog->setDirectory(q(dir.path("lists")));
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(QStringLiteral("\"two.txt\" \"one.txt\""));
            accept(dialog);
        },
        [&] {
            QTest::mouseClick(window.findChild<QWidget*>(QStringLiteral("PushButton10")),
                              Qt::LeftButton);
        });
    EXPECT_EQ(files.parent, &window);
    EXPECT_EQ(files.title, QLatin1String("Add File(s) - Hold Ctrl to select multiple files"));
    ASSERT_EQ(window.sourceCount(), 2);
    EXPECT_EQ(window.sourceText(1), "/second");
    EXPECT_EQ(window.sourceText(2), "/first");
    EXPECT_TRUE(s.presenter->reports.isEmpty()) << s.presenter->reports.join(u'|').toStdString();
}
