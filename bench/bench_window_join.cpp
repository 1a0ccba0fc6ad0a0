// A preserve join through the real window (offscreen) beside the engine alone, on set A (20,000
// small files in 4 trees, joined as one entry) and set B (4 large files), and how alive the
// window stays meanwhile: the longest wait between two turns of its event loop, watched by a
// 1 ms timer. Prints figures. After every run, outside the timed part, both outputs are checked
// against what the set must give (benchcheck.h); an output that misses, adds or alters anything
// gets no figures ("NOT CHECKED/FAILED") and the benchmark ends with status 1. The data is made
// in a temporary folder (--dir chooses where) and removed at the end.
//
//     bench_window_join [--scale S] [--runs N] [--dir FOLDER]
#include "benchcheck.h"
#include "benchdata.h"
#include "join/joinrun.h"
#include "shell/form1.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class QuietPresenter : public shell::MessagePresenter {
public:
    void showPlainMessage(QWidget*, const QString&, const QString&) override {}
    void showErrorReport(QWidget*, const QString&) override { ++reports; }
    int reports = 0;
};

// The engine without a window: it waits for the workers by blocking.
class EngineOnly : public join::JoinHost {
public:
    EngineOnly(std::string source, std::string output)
        : m_source(std::move(source)), m_output(std::move(output)) {}
    void pumpEvents() override {}
    void showErrorReport(const std::string&, const std::string&, int) override { ++reports; }
    void showMessage(const std::string&) override {}
    int sourceCount() const override { return 1; }
    std::string sourceText(int) const override { return m_source; }
    std::string outputFolderText() const override { return m_output; }
    join::CopyOption copyOption() const override { return join::CopyOption::PreserveStructure; }
    void setPointer(join::Pointer) override {}
    void setProgressValue(int) override {}
    void setProgressText(const std::string&) override {}
    int reports = 0;

private:
    std::string m_source;
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

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    double scale = 1.0;
    int runs = 3;
    std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--scale")
            scale = std::atof(argv[i + 1]);
        else if (option == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--dir")
            base = argv[i + 1];
    }
    std::string pattern = (fs::path(base) / "brimvale-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root = pattern;
    std::printf("A preserve join through the window beside the engine alone: scale %.3g, %d runs, "
                "data in %s\n",
                scale, runs, root.c_str());

    shell::Form1Environment env;
    env.programFolder = QString::fromStdString(root.string());
    env.settings = shell::Settings(QString::fromStdString((root / "settings.conf").string()));
    env.randomDraw = [] { return 0.5; };
    env.desktopFolder = [] { return QStringLiteral("/tmp"); };
    env.openUrl = [](const QUrl&) { return true; };
    auto presenter = std::make_shared<QuietPresenter>();
    env.presenter = presenter;
    env.endProcess = [] {};
    shell::Form1 window(env);
    window.Form_Load();
    window.show();
    window.findChild<QRadioButton*>(QStringLiteral("Option1"))->setChecked(true);
    auto* output = window.findChild<QLineEdit*>(QStringLiteral("Text2"));
    auto* start = window.findChild<QPushButton*>(QStringLiteral("PushButton2"));
    QCoreApplication::processEvents();

    struct Set {
        const char* name;
        std::string source;
        benchcheck::Expected expected;
    };
    // Set A's 4 trees stand in one folder, which is the one entry.
    benchdata::makeSetA(root, scale);
    const std::string big = benchdata::makeSetB(root, scale);
    const Set sets[] = {{"set A (20,000 small files, one entry)", (root / "A").string() + "/",
                         benchcheck::expectPreserved({(root / "A").string()})},
                        {"set B (4 large files)", big + "/", benchcheck::expectPreserved({big})}};
    bool anyFailed = false;
    int outputs = 0;
    const auto freshOutput = [&] {
        const fs::path folder = root / "out" / std::to_string(++outputs);
        fs::create_directories(folder);
        ::sync(); // the previous run's writes are not this run's cost
        return folder.string() + "/";
    };
    for (const Set& set : sets) {
        std::printf("\n%s\n", set.name);
        std::vector<double> engine, windowed, ratios, longest;
        bool failed[2] = {false, false}; // engine alone, through the window
        for (int run = 0; run < runs; ++run) {
            // Alternating which goes first, as the disk favours the first run after a pause.
            for (int turn = 0; turn < 2; ++turn) {
                const bool throughWindow = (turn + run) % 2 == 1;
                const std::string out = freshOutput();
                if (throughWindow) {
                    window.sourceList().clear();
                    window.sourceList().append(set.source);
                    output->setText(QString::fromStdString(out));
                    LoopWatch watch;
                    QCoreApplication::processEvents();
                    const auto begin = Clock::now();
                    watch.start();
                    start->click();
                    watch.stop();
                    windowed.push_back(secondsSince(begin));
                    longest.push_back(watch.longestMs);
                } else {
                    EngineOnly host(set.source, out);
                    const auto begin = Clock::now();
                    join::JoinRun(host).run();
                    engine.push_back(secondsSince(begin));
                }
                const std::string difference =
                    failed[throughWindow]
                        ? std::string()
                        : benchcheck::differences(out, set.expected, benchcheck::Winner::Last);
                if (!difference.empty()) {
                    std::printf("  CHECK FAILED: %s, %s, run %d: %s\n",
                                throughWindow ? "through window" : "engine alone", set.name,
                                run + 1, difference.c_str());
                    failed[throughWindow] = true;
                }
            }
            ratios.push_back(windowed.back() / engine.back());
        }
        if (failed[0] || failed[1]) {
            anyFailed = true;
            std::printf("  window / engine = NOT CHECKED/FAILED\n");
            continue;
        }
        const auto totals = benchcheck::totalsOf(set.expected);
        std::printf("  both outputs checked: %ju files, %.1f MiB, %ju folders each\n", totals.files,
                    static_cast<double>(totals.bytes) / 1048576.0, totals.folders);
        std::printf("  engine alone     median %7.3f s\n", median(engine));
        std::printf("  through window   median %7.3f s\n", median(windowed));
        const double ratio = median(windowed) / median(engine);
        std::printf("  window / engine = %.2fx (rounds %.2f to %.2f)  target <= 1.05x: %s\n", ratio,
                    *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()),
                    ratio <= 1.05 ? "met" : "MISSED");
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
