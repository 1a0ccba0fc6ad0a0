// A preserve join through the real window (offscreen) beside the engine alone, on set A (20,000
// small files in 4 trees, joined as one entry, and as 4 entries) and set B (4 large files), and
// how alive the window stays meanwhile: the longest wait between two turns of its event loop,
// watched by a 1 ms timer. The window also runs without showing the copy's progress (neither the
// count of what the entries have to copy, made beside the copies, nor the bar's moves and texts),
// which gives the cost of the bar that moves with the bytes. Prints figures. After every
// run, outside the timed part, every output is checked against what the set must give
// (benchcheck.h); an output that misses, adds or alters anything gets no figures ("NOT
// CHECKED/FAILED") and the benchmark ends with status 1. The data is made in a temporary folder
// (--dir chooses where) and removed at the end.
//
// --stop-at FOLDER (any number of times) measures a stop instead: set B joined into FOLDER
// through the window, Escape pressed and answered Yes after --stop-after milliseconds of copying
// (1000 by default); it prints the time from Yes to the end of the copies and to the closing
// message, and checks that every file left in FOLDER is whole. bench/stop-bench.sh runs it on a
// folder whose writes go at 1 MB/s and on the disk.
//
//     bench_window_join [--scale S] [--runs N] [--dir FOLDER] [--set A|A4|B]...
//     bench_window_join --stop-at FOLDER [--stop-after MS] [--scale S] [--dir FOLDER]
#include "benchcheck.h"
#include "benchdata.h"
#include "join/fs/posixfs.h"
#include "join/run/joinrun.h"
#include "join/tasks/workers.h"
#include "shell/mainwindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <linux/magic.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The processor time this process has used, on every thread, in seconds.
double processorSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class QuietPresenter : public shell::MessagePresenter {
public:
    void showPlainMessage(QWidget*, const QString&, const QString& text) override {
        messageAt = Clock::now();
        lastMessage = text;
    }
    void showErrorReport(QWidget*, const QString&) override { ++reports; }
    // Every question (the stop) is answered Yes at once.
    bool askYesNo(QWidget*, const QString&, const QString&) override {
        yesAt = Clock::now();
        return true;
    }
    int reports = 0;
    Clock::time_point yesAt;
    Clock::time_point messageAt;
    QString lastMessage;
};

// The window as it is, or showing no copy progress; either notes when a run's copies have
// ended, which it is told before the closing message.
class BenchWindow : public shell::MainWindow {
public:
    BenchWindow(shell::MainWindowEnvironment env, bool copyProgress)
        : shell::MainWindow(std::move(env)), m_copyProgress(copyProgress) {}
    bool showsCopyProgress() const override { return m_copyProgress; }
    void joinEnded(const join::JoinOutcome& outcome) override {
        if (copiesEndedAt == Clock::time_point())
            copiesEndedAt = Clock::now();
        shell::MainWindow::joinEnded(outcome);
    }
    // Starts a run and waits for its end, the event loop turning meanwhile.
    void startAndWait() {
        findChild<QPushButton*>(QStringLiteral("PushButton2"))->click();
        if (!QTest::qWaitFor([this] { return !JoinRunning(); }, 24 * 3600 * 1000))
            std::printf("  the run did not end within a day\n");
    }
    Clock::time_point copiesEndedAt;

private:
    bool m_copyProgress;
};

// The engine without a window: it waits for the workers by blocking.
class EngineOnly : public join::JoinHost {
public:
    EngineOnly(std::vector<std::string> sources, std::string output)
        : m_sources(std::move(sources)), m_output(std::move(output)) {}
    void pumpEvents() override {}
    void showErrorReport(const join::Failure&, const std::string&, int) override { ++reports; }
    void runRefused(join::RunRefusal) override { ++reports; }
    void copyExists(const std::string&) override { ++reports; }
    void showClosingMessage(const join::JoinOutcome&) override {}
    int sourceCount() const override { return static_cast<int>(m_sources.size()); }
    std::string sourceText(int index) const override {
        return m_sources.at(static_cast<std::size_t>(index - 1));
    }
    std::string outputFolderText() const override { return m_output; }
    join::CopyOption copyOption() const override { return join::CopyOption::PreserveStructure; }
    void setPointer(join::Pointer) override {}
    void setProgressValue(int) override {}
    int reports = 0;

private:
    std::vector<std::string> m_sources;
    std::string m_output;
};

// The longest time the event loop went without a turn, as a 1 ms timer sees it.
class LoopWatch {
public:
    LoopWatch() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            longestMs = std::max(longestMs,
                                 std::chrono::duration<double, std::milli>(now - m_last).count());
            m_last = now;
        });
    }
    void start() {
        longestMs = 0;
        m_last = Clock::now();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double longestMs = 0;

private:
    QTimer m_timer;
    Clock::time_point m_last;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Joins set B into `folder` through `window`, stops it `afterMs` into the copy, and prints how
// long the stop took. False when the figures are not to be trusted.
bool measureStop(BenchWindow& window, QuietPresenter& presenter, const std::string& big,
                 const fs::path& folder, int afterMs) {
    std::printf("\nStop: set B into %s, Escape answered Yes after %d ms of copying\n",
                folder.c_str(), afterMs);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    window.sourceList().clear();
    window.sourceList().append(big + "/");
    window.findChild<QLineEdit*>(QStringLiteral("Text2"))
        ->setText(QString::fromStdString(folder.string() + "/"));
    // Escape goes to the active window, as the user's key would.
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window))
        std::printf("  the window did not become the active one\n");
    window.copiesEndedAt = {};
    presenter.yesAt = {};
    presenter.messageAt = {};
    QString barText;
    QTimer::singleShot(afterMs, &window, [&] {
        barText = window.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"))->text();
        QTest::keyClick(&window, Qt::Key_Escape);
    });
    const auto begin = Clock::now();
    window.startAndWait();
    const auto end = Clock::now();
    if (presenter.yesAt == Clock::time_point()) {
        std::printf(
            "  the copy ended before Yes (%.2f s): no figure; give a smaller --stop-after\n",
            std::chrono::duration<double>(end - begin).count());
        return false;
    }
    const auto ms = [&](Clock::time_point at) {
        return std::chrono::duration<double, std::milli>(at - presenter.yesAt).count();
    };
    // What is left must be whole: every file there is its source, byte for byte.
    std::size_t whole = 0;
    std::string broken;
    std::error_code error;
    for (const auto& found : fs::recursive_directory_iterator(folder, error)) {
        if (!found.is_regular_file())
            continue;
        const fs::path source = fs::path(big) / found.path().filename();
        if (benchcheck::sameContent(found.path(), source))
            ++whole;
        else
            broken += " " + found.path().filename().string();
    }
    std::printf("  the bar said: \"%s\"\n", barText.toUtf8().constData());
    std::printf("  Yes to the end of the copies: %.0f ms  target <= 250 ms: %s\n",
                ms(window.copiesEndedAt), ms(window.copiesEndedAt) <= 250 ? "met" : "MISSED");
    std::printf("  Yes to the closing message (writes finished on the disk): %.0f ms\n",
                ms(presenter.messageAt));
    std::printf("  \"%s\"\n", presenter.lastMessage.toUtf8().constData());
    std::printf("  left in the folder: %zu whole files%s%s\n", whole,
                broken.empty() ? ", nothing partly written" : "; NOT WHOLE:", broken.c_str());
    fs::remove_all(folder, ignored);
    return broken.empty();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    double scale = 1.0;
    int runs = 3;
    int stopAfterMs = 1000;
    std::vector<fs::path> stopFolders;
    std::vector<std::string> chosenSets;
    std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--scale")
            scale = std::atof(argv[i + 1]);
        else if (option == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--dir")
            base = argv[i + 1];
        else if (option == "--stop-at")
            stopFolders.emplace_back(argv[i + 1]);
        else if (option == "--stop-after")
            stopAfterMs = std::max(0, std::atoi(argv[i + 1]));
        else if (option == "--set")
            chosenSets.emplace_back(argv[i + 1]);
    }
    std::string pattern = (fs::path(base) / "brimvale-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root = pattern;
    struct statfs where {};
    const bool onMemoryDisk =
        ::statfs(root.c_str(), &where) == 0 && where.f_type == static_cast<long>(TMPFS_MAGIC);

    shell::MainWindowEnvironment env;
    env.programFolder = QString::fromStdString(root.string());
    env.settings = shell::Settings(QString::fromStdString((root / "settings.conf").string()));
    env.randomDraw = [] { return 0.5; };
    env.desktopFolder = [] { return QStringLiteral("/tmp"); };
    env.openUrl = [](const QUrl&) { return true; };
    auto presenter = std::make_shared<QuietPresenter>();
    env.presenter = presenter;
    env.endProcess = [](int) {};
    env.stateFolder = QString::fromStdString((root / "state").string());
    // The window as it is, and showing no copy progress.
    BenchWindow window(env, true);
    BenchWindow plainWindow(env, false);
    for (BenchWindow* each : {&window, &plainWindow}) {
        each->startUp();
        each->show();
        each->findChild<QRadioButton*>(QStringLiteral("Option1"))->setChecked(true);
    }
    QCoreApplication::processEvents();

    if (!stopFolders.empty()) {
        std::printf("A stop through the window: scale %.3g, data in %s\n", scale, root.c_str());
        const std::string big = benchdata::makeSetB(root, scale);
        bool trusted = true;
        for (const fs::path& folder : stopFolders)
            trusted = measureStop(window, *presenter, big, folder / "brimvale-stop", stopAfterMs) &&
                      trusted;
        std::printf("\nRemoving %s ...\n", root.c_str());
        std::error_code ignored;
        fs::remove_all(root, ignored);
        return trusted ? 0 : 1;
    }

    std::printf("A preserve join through the window beside the engine alone: scale %.3g, %d runs, "
                "data in %s\n",
                scale, runs, root.c_str());
    struct Set {
        const char* key;
        const char* name;
        std::vector<std::string> sources;
        benchcheck::Expected expected;
    };
    // Set A's 4 trees stand in one folder, which is the one entry; or they are 4 entries, whose
    // later ones are counted while the first copies.
    const std::vector<std::string> trees = benchdata::makeSetA(root, scale);
    std::vector<std::string> treeEntries;
    for (const std::string& tree : trees)
        treeEntries.push_back(tree + "/");
    const std::string big = benchdata::makeSetB(root, scale);
    std::vector<Set> sets = {
        {"A",
         "set A (20,000 small files, one entry)",
         {(root / "A").string() + "/"},
         benchcheck::expectPreserved({(root / "A").string()})},
        {"A4", "set A as 4 entries (its 4 trees)", treeEntries, benchcheck::expectPreserved(trees)},
        {"B", "set B (4 large files)", {big + "/"}, benchcheck::expectPreserved({big})}};
    if (!chosenSets.empty())
        std::erase_if(sets, [&](const Set& set) {
            return std::find(chosenSets.begin(), chosenSets.end(), set.key) == chosenSets.end();
        });
    bool anyFailed = false;
    int outputs = 0;
    const auto freshOutput = [&] {
        const fs::path folder = root / "out" / std::to_string(++outputs);
        fs::create_directories(folder);
        ::sync(); // the previous run's writes are not this run's cost
        return folder.string() + "/";
    };
    const char* const contenders[] = {"engine alone", "through window",
                                      "window showing no progress"};
    for (const Set& set : sets) {
        std::printf("\n%s\n", set.name);
        std::vector<double> times[3], processor[3], ratios, costs, processorCosts, longest;
        bool failed[3] = {false, false, false};
        for (int run = 0; run < runs; ++run) {
            // Turning which goes first, as the disk favours the first run after a pause.
            for (int turn = 0; turn < 3; ++turn) {
                const int who = (turn + run) % 3;
                const std::string out = freshOutput();
                if (who == 0) {
                    EngineOnly host(set.sources, out);
                    const auto begin = Clock::now();
                    join::JoinRun(host).run();
                    times[0].push_back(secondsSince(begin));
                } else {
                    BenchWindow& w = who == 1 ? window : plainWindow;
                    w.sourceList().clear();
                    for (const std::string& source : set.sources)
                        w.sourceList().append(source);
                    w.findChild<QLineEdit*>(QStringLiteral("Text2"))
                        ->setText(QString::fromStdString(out));
                    LoopWatch watch;
                    QCoreApplication::processEvents();
                    const double used = processorSeconds();
                    const auto begin = Clock::now();
                    watch.start();
                    w.startAndWait();
                    watch.stop();
                    times[who].push_back(secondsSince(begin));
                    processor[who].push_back(processorSeconds() - used);
                    if (who == 1)
                        longest.push_back(watch.longestMs);
                }
                const std::string difference =
                    failed[who]
                        ? std::string()
                        : benchcheck::differences(out, set.expected, benchcheck::Winner::Last);
                if (!difference.empty()) {
                    std::printf("  CHECK FAILED: %s, %s, run %d: %s\n", contenders[who], set.name,
                                run + 1, difference.c_str());
                    failed[who] = true;
                }
                // Checked: on a memory disk it goes, so that the runs fit; a disk is left alone,
                // since it makes files slowly for a while after many were deleted.
                if (onMemoryDisk) {
                    std::error_code ignored;
                    fs::remove_all(out, ignored);
                }
            }
            ratios.push_back(times[1].back() / times[0].back());
            costs.push_back(times[1].back() / times[2].back() - 1);
            processorCosts.push_back(processor[1].back() / processor[2].back() - 1);
        }
        if (failed[0] || failed[1] || failed[2]) {
            anyFailed = true;
            std::printf("  window / engine = NOT CHECKED/FAILED\n");
            continue;
        }
        const auto totals = benchcheck::totalsOf(set.expected);
        std::printf("  every output checked: %ju files, %.1f MiB, %ju folders each\n", totals.files,
                    static_cast<double>(totals.bytes) / 1048576.0, totals.folders);
        for (int who = 0; who < 3; ++who)
            std::printf("  %-29s median %7.3f s\n", contenders[who], median(times[who]));
        const double ratio = median(times[1]) / median(times[0]);
        std::printf("  window / engine = %.2fx (rounds %.2f to %.2f)  target <= 1.05x: %s\n", ratio,
                    *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()),
                    ratio <= 1.05 ? "met" : "MISSED");
        // Paired: each round's two window runs follow each other, under the same load.
        const double cost = median(costs);
        std::printf("  the bar that moves with the bytes costs %+.1f %% of the time (median of "
                    "rounds; they range %+.1f to %+.1f %%)  target <= 3 %%: %s\n",
                    cost * 100, *std::min_element(costs.begin(), costs.end()) * 100,
                    *std::max_element(costs.begin(), costs.end()) * 100,
                    cost <= 0.03 ? "met" : "MISSED");
        std::printf("  and %+.1f %% of the processor time (%.3f s against %.3f s, medians)\n",
                    median(processorCosts) * 100, median(processor[1]), median(processor[2]));
        const double worst = *std::max_element(longest.begin(), longest.end());
        std::printf("  longest wait between event-loop turns: %.1f ms (median of runs %.1f ms)  "
                    "target <= 50 ms: %s\n",
                    worst, median(longest), worst <= 50 ? "met" : "MISSED");
    }
    std::printf("\n%d reports\nRemoving %s ...\n", presenter->reports, root.c_str());
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return anyFailed ? 1 : 0;
}
