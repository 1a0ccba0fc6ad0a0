// "Add All Subfolders In Folder" on a tree of 100,000 folders through the real window, with a
// folder picker that answers at once: the folder walk alone against the whole command, and how
// alive the window stays meanwhile (how often the event loop got a turn, and the longest time it
// waited for one). Prints figures; asserts nothing. The tree is made in a temporary folder and
// removed at the end.
#include "join/walk/subfolders.h"
#include "shell/mainwindow.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

class QuietPresenter : public shell::MessagePresenter {
public:
    void showPlainMessage(QWidget*, const QString&, const QString&) override {}
    void showErrorReport(QWidget*, const QString&) override { ++reports; }
    bool askYesNo(QWidget*, const QString&, const QString&) override { return false; }
    int reports = 0;
};

class AnsweringPicker : public sources::FolderDialog {
public:
    explicit AnsweringPicker(std::string folder) : m_folder(std::move(folder)) {}
    std::string BrowseForFolder(const std::string&, const std::string&) override {
        return m_folder;
    }

private:
    std::string m_folder;
};

// Notes the time of every turn of the event loop, as a user's input would get it.
class LoopTurns : public QObject {
public:
    LoopTurns() { post(); }
    std::vector<Clock::time_point> times;

private:
    void post() {
        QMetaObject::invokeMethod(
            this,
            [this] {
                times.push_back(Clock::now());
                post();
            },
            Qt::QueuedConnection);
    }
};

struct Responsiveness {
    std::size_t turns = 0;
    double longestWaitMs = 0;
    double medianWaitMs = 0;
    double lastWaitMs = 0; // from the last turn to the end: appending the walk's folders
};

// The waits for a turn between `start` and `end`, the two ends included.
Responsiveness responsiveness(const std::vector<Clock::time_point>& turns, Clock::time_point start,
                              Clock::time_point end) {
    std::vector<Clock::time_point> points{start};
    for (const auto& t : turns)
        if (t >= start && t <= end)
            points.push_back(t);
    points.push_back(end);
    std::vector<double> waits;
    for (std::size_t i = 1; i < points.size(); ++i)
        waits.push_back(millisecondsBetween(points[i - 1], points[i]));
    const double last = waits.back();
    std::sort(waits.begin(), waits.end());
    return {points.size() - 2, waits.back(), waits[waits.size() / 2], last};
}

// The walk alone, yielding the way the window yields (or not at all).
class WalkOnly : public join::WalkHost {
public:
    explicit WalkOnly(bool yield) : m_yield(yield) {}
    void pumpEvents() override {
        ++yields;
        if (m_yield)
            QCoreApplication::processEvents();
    }
    void showErrorReport(const join::Failure&, const std::string&, int) override { ++reports; }
    long yields = 0;
    int reports = 0;

private:
    bool m_yield;
};

std::string makeTree(const std::string& root, int topFolders, int perTopFolder) {
    ::mkdir(root.c_str(), 0755);
    for (int top = 0; top < topFolders; ++top) {
        const std::string topPath = root + "/top" + std::to_string(top);
        ::mkdir(topPath.c_str(), 0755);
        for (int sub = 0; sub < perTopFolder; ++sub)
            ::mkdir((topPath + "/folder" + std::to_string(sub)).c_str(), 0755);
    }
    return root;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    constexpr int TopFolders = 100;
    constexpr int PerTopFolder = 999; // 100 + 100 * 999 = 100,000 folders below the chosen one

    QTemporaryDir temp;
    if (!temp.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    const std::string root = QFile::encodeName(temp.path()).toStdString() + "/tree";
    auto start = Clock::now();
    makeTree(root, TopFolders, PerTopFolder);
    std::printf("made %d folders in %.2f s\n", TopFolders * (PerTopFolder + 1),
                millisecondsBetween(start, Clock::now()) / 1000);

    shell::MainWindowEnvironment env;
    env.programFolder = temp.path();
    env.settings = shell::Settings(temp.path() + QStringLiteral("/settings.conf"));
    env.randomDraw = [] { return 0.5; };
    env.desktopFolder = [] { return QStringLiteral("/tmp"); };
    env.openUrl = [](const QUrl&) { return true; };
    auto presenter = std::make_shared<QuietPresenter>();
    env.presenter = presenter;
    env.endProcess = [](int) {};
    env.folderDialog = std::make_shared<AnsweringPicker>(root);
    shell::MainWindow window(env);
    window.startUp();
    window.show();
    QCoreApplication::processEvents();

    // A warm-up walk, so that every measured run finds the folders in the cache.
    {
        join::FolderCollection warm{root + "/"};
        WalkOnly host(false);
        join::walkSubfolders(warm, join::Recursion::AllLevels, host);
    }

    for (bool yield : {false, true}) {
        join::FolderCollection walk{root + "/"};
        WalkOnly host(yield);
        start = Clock::now();
        join::walkSubfolders(walk, join::Recursion::AllLevels, host);
        std::printf("walk alone, %-26s %8.1f ms, %zu folders, %ld yields\n",
                    yield ? "yields to the window:" : "yields doing nothing:",
                    millisecondsBetween(start, Clock::now()), walk.size(), host.yields);
    }

    auto* addAll = window.findChild<QPushButton*>(QStringLiteral("PushButton5"));
    for (int run = 1; run <= 2; ++run) {
        window.sourceList().clear();
        QCoreApplication::processEvents();
        start = Clock::now();
        addAll->click();
        std::printf("whole command, unwatched: %8.1f ms, %d items\n",
                    millisecondsBetween(start, Clock::now()), window.sourceCount());
    }
    for (int run = 1; run <= 2; ++run) {
        window.sourceList().clear();
        QCoreApplication::processEvents();
        LoopTurns turns;
        start = Clock::now();
        addAll->click();
        const auto commandEnd = Clock::now();
        QCoreApplication::processEvents(); // the list lays out its new rows
        const auto shown = Clock::now();
        const Responsiveness alive = responsiveness(turns.times, start, commandEnd);
        std::printf("whole command, watched:   %8.1f ms, %d items, then %.1f ms until shown; "
                    "%zu event-loop turns, longest wait for one %.2f ms, median %.3f ms, "
                    "after the last %.2f ms; %d reports\n",
                    millisecondsBetween(start, commandEnd), window.sourceCount(),
                    millisecondsBetween(commandEnd, shown), alive.turns, alive.longestWaitMs,
                    alive.medianWaitMs, alive.lastWaitMs, presenter->reports);
    }
    return 0;
}
