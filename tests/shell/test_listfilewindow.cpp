// "Load List Of Folders From File" through the window: the layout note first, then the file
// dialog with its title and filter, then every line of every picked file in the order the
// dialog reports them; the messages for too many files, a missing file and a file whose date
// cannot be read; then one message that names the lines that name no folder now.
#include "shellfakes.h"
#include "support/testdir.h"

#include <QTest>
#include <gtest/gtest.h>

using shelltest::FakeSurroundings;
using testsupport::TestDir;

namespace {

const QString LayoutNote =
    QStringLiteral("File should look like:\r/home/user/test1\r/home/user/test2\retc.");

std::vector<std::string> items(shell::MainWindow& window) {
    std::vector<std::string> texts;
    for (int i = 1; i <= window.sourceCount(); ++i)
        texts.push_back(window.sourceText(i));
    return texts;
}

QString noFolder(const QStringList& lines) {
    return QStringLiteral("Some lines do not name a folder now:\n") + lines.join(u'\n');
}

} // namespace

TEST(LoadListWindow, TheNoteThenTheDialogThenTheFilesInSelectionOrder) {
    TestDir dir;
    dir.write("lists/c.txt", "C:\\c1\r\n /c2 \r\n");
    dir.write("lists/a.txt", "/a1\n/a2");
    dir.write("lists/b.txt", "/b\r\r");
    dir.write("other/d.txt", "/d\n");
    // As a text editor saves UTF-16: a byte-order mark, then two bytes a character.
    dir.write("other/u.txt", std::string("\xff\xfe/\0c\0a\0f\0\xe9\0\r\0\n\0", 16));
    const std::string c = dir.path("lists/c.txt"), a = dir.path("lists/a.txt"),
                      b = dir.path("lists/b.txt"), d = dir.path("other/d.txt"),
                      u = dir.path("other/u.txt");
    const QString tooMany = QStringLiteral("You've selected too many files to add.\r\rPlease try "
                                           "adding via the \"Add All\" button.");
    const QString badName = QStringLiteral("\r\rwas not added because it has bad characters in the "
                                           "filename.");
    std::vector<std::string> manyFiles;
    for (int i = 0; i < 300; ++i)
        manyFiles.push_back(dir.path("lists/") + std::string(100, 'x') + std::to_string(i));
    std::filesystem::create_symlink(dir.path("gone"), dir.path("lists/dangling"));
    // Lines that name a folder (one reached through "..", one through a link), a file, nothing,
    // and blank lines (empty, spaces), which are left out of the list but counted.
    dir.make("folders/one/file.txt=x\nfolders/two/\nfolders/link -> one\n");
    const std::string f = dir.path("folders/");
    dir.write("lists/mixed.txt", f + "one\n" + f + "gone/../two/\n" + f + "one/file.txt\n\n" + f +
                                     "link\n" + f + "missing\n  \n");
    const QString qf = QString::fromStdString(f);
    std::string missingLines;
    std::vector<std::string> missingItems;
    QStringList shownMissing;
    for (int i = 1; i <= 23; ++i) {
        missingItems.push_back(f + "gone" + std::to_string(i));
        missingLines += missingItems.back() + "\n";
        if (i <= 20)
            shownMissing.append(QStringLiteral("many.txt, line %1: %2gone%1").arg(i).arg(qf));
    }
    dir.write("lists/many.txt", missingLines);

    struct Row {
        const char* name;
        std::vector<std::string> picked; // empty: cancelled
        std::vector<std::string> loaded;
        QStringList messagesAfterTheNote;
    };
    const Row rows[] = {
        {"cancel", {}, {}, {}},
        {"three files, in the order picked",
         {c, a, b},
         {"C:\\c1", " /c2 ", "/a1", "/a2", "/b"},
         {noFolder({QStringLiteral("c.txt, line 1: C:\\c1"), QStringLiteral("c.txt, line 2:  /c2 "),
                    QStringLiteral("a.txt, line 1: /a1"), QStringLiteral("a.txt, line 2: /a2"),
                    QStringLiteral("b.txt, line 1: /b")})}},
        {"one file",
         {a},
         {"/a1", "/a2"},
         {noFolder({QStringLiteral("a.txt, line 1: /a1"), QStringLiteral("a.txt, line 2: /a2")})}},
        {"files of two folders",
         {d, a},
         {"/d", "/a1", "/a2"},
         {noFolder({QStringLiteral("d.txt, line 1: /d"), QStringLiteral("a.txt, line 1: /a1"),
                    QStringLiteral("a.txt, line 2: /a2")})}},
        {"a UTF-16 file",
         {u},
         {"/caf\xc3\xa9"},
         {noFolder({QStringLiteral("u.txt, line 1: /café")})}},
        {"lines that name no folder now, and lines that do",
         {dir.path("lists/mixed.txt")},
         {f + "one", f + "gone/../two/", f + "one/file.txt", f + "link", f + "missing"},
         {noFolder({QStringLiteral("mixed.txt, line 3: ") + qf + QStringLiteral("one/file.txt"),
                    QStringLiteral("mixed.txt, line 6: ") + qf + QStringLiteral("missing")})}},
        {"more lines without a folder than the message names",
         {dir.path("lists/many.txt")},
         missingItems,
         {noFolder(shownMissing) + QStringLiteral("\nand 3 more lines.")}},
        {"too many files", manyFiles, {}, {tooMany}},
        {"a missing file among others",
         {a, dir.path("lists/missing.txt"), b},
         {"/a1", "/a2", "/b"},
         {QString::fromStdString(dir.path("lists/missing.txt")) + badName,
          noFolder({QStringLiteral("a.txt, line 1: /a1"), QStringLiteral("a.txt, line 2: /a2"),
                    QStringLiteral("b.txt, line 1: /b")})}},
        {"a link to nothing", {dir.path("lists/dangling")}, {}, {QStringLiteral("File not found")}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSurroundings s;
        auto window = s.startedWindow();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        if (!row.picked.empty())
            s.fileDialog->answers = {row.picked};
        qsizetype messagesBeforeTheDialog = -1;
        s.fileDialog->whileOpen = [&] { messagesBeforeTheDialog = s.presenter->messages.size(); };
        QTest::mouseClick(window->findChild<QWidget*>(QStringLiteral("PushButton10")),
                          Qt::LeftButton);

        ASSERT_EQ(s.fileDialog->calls.size(), 1u);
        EXPECT_EQ(s.fileDialog->calls[0].title, "Add File(s) - Hold Ctrl to select multiple files");
        EXPECT_EQ(s.fileDialog->calls[0].filter, "All Files (*)");
        EXPECT_EQ(messagesBeforeTheDialog, 1);
        ASSERT_FALSE(s.presenter->messages.isEmpty());
        EXPECT_EQ(s.presenter->messages.front().text, LayoutNote);
        QStringList after;
        for (const auto& message : s.presenter->messages.mid(1)) {
            EXPECT_EQ(message.caption, QLatin1String("Brimvale"));
            after.append(message.text);
        }
        EXPECT_EQ(after, row.messagesAfterTheNote);
        EXPECT_EQ(items(*window), row.loaded);
        EXPECT_TRUE(s.presenter->reports.isEmpty())
            << s.presenter->reports.join(u'|').toStdString();
        EXPECT_EQ(window->pointer(), join::Pointer::Default);
    }
}
