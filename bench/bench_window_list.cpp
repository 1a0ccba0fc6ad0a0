// Appending to the main window's source list: 100,000 items one by one must stay fast, with no
// per-append cost that grows with the length of the list. Prints figures; asserts nothing.
#include "shell/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<std::string> folderNames(int count) {
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        names.push_back("/home/someone/photos/2021/trip-" + std::to_string(i / 100) + "/day-" +
                        std::to_string(i) + "/");
    return names;
}

// A shown window with an empty store in a temporary folder; no message box ever opens.
class QuietPresenter : public shell::MessagePresenter {
public:
    void showPlainMessage(QWidget*, const QString&, const QString&) override {}
    void showErrorReport(QWidget*, const QString&) override {}
    bool askYesNo(QWidget*, const QString&, const QString&) override { return false; }
};

struct Window {
    explicit Window(const QTemporaryDir& dir) {
        shell::MainWindowEnvironment env;
        env.programFolder = dir.path();
        env.settings = shell::Settings(dir.path() + QStringLiteral("/settings.conf"));
        env.randomDraw = [] { return 0.5; };
        env.desktopFolder = [] { return QStringLiteral("/tmp"); };
        env.openUrl = [](const QUrl&) { return true; };
        env.presenter = std::make_shared<QuietPresenter>();
        env.endProcess = [](int) {};
        form = std::make_unique<shell::MainWindow>(env);
        form->startUp();
        form->show();
        QCoreApplication::processEvents();
    }
    std::unique_ptr<shell::MainWindow> form;
};

void appendOneByOne(int count, int pumpEvery) {
    QTemporaryDir dir;
    Window window(dir);
    const auto names = folderNames(count);
    const int slice = count / 10;
    std::vector<double> sliceTimes;
    const auto start = Clock::now();
    auto sliceStart = start;
    for (int i = 0; i < count; ++i) {
        window.form->sourceList().append(names[static_cast<size_t>(i)]);
        if (pumpEvery > 0 && (i + 1) % pumpEvery == 0)
            window.form->pumpEvents();
        if ((i + 1) % slice == 0) {
            sliceTimes.push_back(millisecondsSince(sliceStart));
            sliceStart = Clock::now();
        }
    }
    const double appendMs = millisecondsSince(start);
    const auto layoutStart = Clock::now();
    QCoreApplication::processEvents();
    const double layoutMs = millisecondsSince(layoutStart);

    std::printf("append %7d one by one, %-22s %9.1f ms  (%.2f us per item)  then events %.1f ms\n",
                count,
                pumpEvery > 0 ? ("events every " + std::to_string(pumpEvery) + ":").c_str()
                              : "no events between:",
                appendMs, appendMs * 1000.0 / count, layoutMs);
    std::printf("    per tenth of the list (ms):");
    for (double t : sliceTimes)
        std::printf(" %.1f", t);
    std::printf("\n");
}

void appendAllAtOnce(int count) {
    QTemporaryDir dir;
    Window window(dir);
    const auto names = folderNames(count);
    const auto start = Clock::now();
    window.form->sourceList().appendAll(names);
    const double appendMs = millisecondsSince(start);
    const auto layoutStart = Clock::now();
    QCoreApplication::processEvents();
    const double layoutMs = millisecondsSince(layoutStart);

    size_t bytes = 0;
    const auto readStart = Clock::now();
    for (int i = 1; i <= window.form->sourceCount(); ++i)
        bytes += window.form->sourceText(i).size();
    const double readMs = millisecondsSince(readStart);

    const auto clearStart = Clock::now();
    window.form->sourceList().clear();
    QCoreApplication::processEvents();
    const double clearMs = millisecondsSince(clearStart);

    std::printf("appendAll %7d at once: %.1f ms, then events %.1f ms; reading every text back "
                "(%zu bytes): %.1f ms; clear: %.1f ms\n",
                count, appendMs, layoutMs, bytes, readMs, clearMs);
}

// The folder walk and the join run yield once per folder: what one yield costs on an idle
// window, with an empty list and with a long one.
void idlePumps(int listLength, int pumps) {
    QTemporaryDir dir;
    Window window(dir);
    window.form->sourceList().appendAll(folderNames(listLength));
    QCoreApplication::processEvents();
    const auto start = Clock::now();
    for (int i = 0; i < pumps; ++i)
        window.form->pumpEvents();
    const double ms = millisecondsSince(start);
    std::printf("%d yields on an idle window with %d items: %.1f ms (%.2f us each)\n", pumps,
                listLength, ms, ms * 1000.0 / pumps);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);

    appendOneByOne(100000, 0);
    appendOneByOne(100000, 1000);
    appendOneByOne(100000, 100);
    appendOneByOne(5000, 1);
    appendAllAtOnce(100000);
    idlePumps(0, 100000);
    idlePumps(100000, 100000);
    return 0;
}
