// Drops on the window's list from another program, on a real X server: xdotool moves the pointer
// and drags from a program of our own (dragsource) as from a file manager, which offers Copy and
// Move and would rather move. Folders are added in the order dropped, a text file is loaded as a
// list file, anything else is refused, and so is every drop while the window is busy.
#include "shellfakes.h"
#include "support/testdir.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

using shelltest::FakeSurroundings;
using testsupport::TestDir;

namespace {

constexpr int Patience = 10000; // milliseconds

// Counts the drag positions that reach the list: a drag entering it, then moving over it.
class DragPositions : public QObject {
public:
    explicit DragPositions(QTreeView* list) {
        list->installEventFilter(this);
        list->viewport()->installEventFilter(this);
    }

    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove)
            ++count;
        return false;
    }
};

// The program dragged from, started with its window at `at`, and what it has said so far.
class DragSource {
public:
    DragSource(QPoint at, const QStringList& uris) {
        m_process.setProgram(QCoreApplication::applicationDirPath() +
                             QStringLiteral("/dragsource"));
        m_process.setArguments(QStringList{QString::number(at.x()), QString::number(at.y())} +
                               uris);
        m_process.start();
    }
    // It stays until ended here, as a file manager does.
    ~DragSource() {
        m_process.kill();
        m_process.waitForFinished();
    }

    // Waits until it has said a line that begins with `start`; returns the rest, or nothing.
    std::optional<QString> said(const QString& start) {
        std::optional<QString> rest;
        (void)QTest::qWaitFor(
            [&] {
                while (m_process.canReadLine())
                    m_lines.append(QString::fromUtf8(m_process.readLine()).trimmed());
                for (const QString& line : std::as_const(m_lines))
                    if (line.startsWith(start))
                        rest = line.mid(start.size()).trimmed();
                return rest.has_value() || m_process.state() == QProcess::NotRunning;
            },
            Patience);
        return rest;
    }

private:
    QProcess m_process;
    QStringList m_lines;
};

bool xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, Patience) &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QStringList moveTo(QPoint at) {
    return {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())};
}

// Presses on the source, moves onto the list in two steps and lets go, as a hand does. Each step
// waits for the one before to have arrived: once the list has seen the second position, the
// source has its answer to the first. Returns the action the drag ended with, or why none.
QString dragOnto(DragSource& source, QPoint from, QPoint to, const DragPositions& positions) {
    if (!source.said(QStringLiteral("ready")))
        return QStringLiteral("the source did not show");
    if (!xdotool(moveTo(from) + QStringList{QStringLiteral("mousedown"), QStringLiteral("1")}) ||
        !source.said(QStringLiteral("dragging")))
        return QStringLiteral("the drag did not start");
    const int before = positions.count;
    if (!xdotool(moveTo(to - QPoint(10, 0))) ||
        !QTest::qWaitFor([&] { return positions.count > before; }, Patience))
        return QStringLiteral("the drag did not reach the list");
    if (!xdotool(moveTo(to)) ||
        !QTest::qWaitFor([&] { return positions.count > before + 1; }, Patience))
        return QStringLiteral("the drag did not move over the list");
    if (!xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}))
        return QStringLiteral("xdotool could not let go");
    return source.said(QStringLiteral("result")).value_or(QStringLiteral("no result"));
}

QString fileUri(const std::string& path) {
    return QStringLiteral("file://") +
           QString::fromLatin1(QByteArray::fromStdString(path).toPercentEncoding("/"));
}

std::vector<std::string> items(shell::MainWindow& window) {
    std::vector<std::string> texts;
    for (int i = 1; i <= window.sourceCount(); ++i)
        texts.push_back(window.sourceText(i));
    return texts;
}

} // namespace

TEST(DropWindow, FoldersAndAListFileFromAnotherProgramAndNothingElse) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server: ctest runs it in Xvfb (tests/support/onxdisplay.sh)";
    TestDir dir;
    // A name that is not UTF-8 arrives percent-encoded and is added with its own bytes.
    dir.make("zeta\xe9/\nalpha/inside/\n");
    const std::string zeta = dir.path("zeta\xe9"), alpha = dir.path("alpha");
    dir.write("list.txt", alpha + "\n\n/nowhere/at all\n" + zeta + "/\n");
    dir.write("picture.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));

    struct Row {
        const char* name;
        QStringList uris;
        bool busy;
        const char* result;
        std::vector<std::string> items;
        QStringList messages;
    };
    const Row rows[] = {
        {"two folders, in the order dropped",
         {fileUri(zeta), fileUri(alpha + "/")},
         false,
         "copy",
         {zeta + "/", alpha + "/"},
         {}},
        {"a list file, its blank line left out",
         {fileUri(dir.path("list.txt"))},
         false,
         "copy",
         {alpha, "/nowhere/at all", zeta + "/"},
         {QStringLiteral(
             "Some lines do not name a folder now:\nlist.txt, line 3: /nowhere/at all")}},
        {"a picture", {fileUri(dir.path("picture.png"))}, false, "ignore", {}, {}},
        {"a folder and a web address",
         {fileUri(alpha), QStringLiteral("https://example.org/")},
         false,
         "ignore",
         {},
         {}},
        {"folders while the window is busy", {fileUri(alpha)}, true, "ignore", {}, {}},
    };

    FakeSurroundings s;
    auto window = s.startedWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    auto* list = window->findChild<QTreeView*>(QStringLiteral("ListView1"));
    ASSERT_NE(list, nullptr);
    const DragPositions positions(list);
    const QPoint onTheList = list->viewport()->mapToGlobal(list->viewport()->rect().center());
    const QPoint onTheSource =
        QPoint(20, window->screen()->geometry().bottom() - 90) + QPoint(40, 30);

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        window->sourceList().clear();
        s.presenter->messages.clear();
        window->setPointer(row.busy ? join::Pointer::Hourglass : join::Pointer::Default);

        DragSource source(onTheSource - QPoint(40, 30), row.uris);
        EXPECT_EQ(dragOnto(source, onTheSource, onTheList, positions),
                  QString::fromLatin1(row.result));
        // A drop taken is carried out once it has been answered.
        EXPECT_TRUE(QTest::qWaitFor([&] { return items(*window) == row.items; }, Patience));
        QCoreApplication::processEvents();
        EXPECT_EQ(items(*window), row.items);
        QStringList messages;
        for (const auto& message : std::as_const(s.presenter->messages))
            messages.append(message.text);
        EXPECT_EQ(messages, row.messages);
        EXPECT_TRUE(s.presenter->reports.isEmpty())
            << s.presenter->reports.join(u'|').toStdString();
        EXPECT_EQ(window->pointer(), row.busy ? join::Pointer::Hourglass : join::Pointer::Default);
        window->setPointer(join::Pointer::Default);
    }
}
