#pragma once

// Fakes for the main window's surroundings: message boxes that record instead of showing, a
// recorded browser, a recorded process end, dialogs that answer from a script, and a temporary
// program folder and settings file.
#include "shell/mainwindow.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace shelltest {

// A Windows cursor file: one width x height 32-bit image, opaque red, with the given hot spot.
inline QByteArray cursorFileBytes(int width, int height, int hotX, int hotY) {
    QByteArray bytes;
    auto put = [&bytes](quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            bytes.append(static_cast<char>((value >> (8 * i)) & 0xff));
    };
    const int maskRow = ((width + 31) / 32) * 4;
    const int imageSize = 40 + width * height * 4 + maskRow * height;
    put(0, 2); // reserved
    put(2, 2); // cursor
    put(1, 2); // one image
    put(static_cast<quint32>(width), 1);
    put(static_cast<quint32>(height), 1);
    put(0, 2);
    put(static_cast<quint32>(hotX), 2);
    put(static_cast<quint32>(hotY), 2);
    put(static_cast<quint32>(imageSize), 4);
    put(22, 4);
    put(40, 4);
    put(static_cast<quint32>(width), 4);
    put(static_cast<quint32>(height * 2), 4);
    put(1, 2);
    put(32, 2);
    for (int i = 0; i < 6; ++i)
        put(0, 4);
    for (int i = 0; i < width * height; ++i)
        put(0xffff0000u, 4); // BGRA: opaque red
    bytes.append(QByteArray(maskRow * height, '\0'));
    return bytes;
}

struct PlainMessage {
    QString caption;
    QString text;
    // What it holds under "Show Details...", "" where it has none.
    QString details = {};
};

class RecordingPresenter : public shell::MessagePresenter {
public:
    void showPlainMessage(QWidget*, const QString& caption, const QString& text) override {
        messages.append({caption, text});
        if (onMessage)
            onMessage(messages.back());
    }
    void showDetailedMessage(QWidget*, const QString& caption, const QString& text,
                             const QString& details) override {
        messages.append({caption, text, details});
        if (onMessage)
            onMessage(messages.back());
    }
    void showErrorReport(QWidget*, const QString& text) override { reports.append(text); }
    bool askYesNo(QWidget*, const QString& caption, const QString& text) override {
        questions.append({caption, text});
        if (whileAsking)
            whileAsking();
        return answerYes;
    }

    QList<PlainMessage> messages;
    QStringList reports;
    // Runs while a plain message "is open", after it has been recorded.
    std::function<void(const PlainMessage&)> onMessage;
    // Questions asked, and the answer each gets (Yes unless set); `whileAsking` runs while the
    // question "is open".
    QList<PlainMessage> questions;
    bool answerYes = true;
    std::function<void()> whileAsking;
};

// The folder picker: answers from `answers` in turn ("" once they run out, as on cancel) and
// records how it was called.
class ScriptedFolderDialog : public sources::FolderDialog {
public:
    struct Call {
        std::string prompt;
        std::string initialFolder;
    };

    std::string BrowseForFolder(const std::string& prompt,
                                const std::string& initialFolder) override {
        calls.push_back({prompt, initialFolder});
        if (whileOpen)
            whileOpen();
        if (answers.empty())
            return {};
        std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<std::string> answers;
    std::vector<Call> calls;
    // Runs while the dialog "is open", before it answers.
    std::function<void()> whileOpen;
};

// The file-open dialog: answers from `answers` in turn (no file once they run out, as on
// cancel) and records how it was called.
class ScriptedFileOpenDialog : public sources::FileOpenDialog {
public:
    struct Call {
        std::string title;
        std::string filter;
    };

    std::vector<std::string> ShowOpen(const std::string& title,
                                      const std::string& filter) override {
        calls.push_back({title, filter});
        if (whileOpen)
            whileOpen();
        if (answers.empty())
            return {};
        std::vector<std::string> answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<std::vector<std::string>> answers;
    std::vector<Call> calls;
    std::function<void()> whileOpen;
};

// Runs an action at each turn of the event loop, from its making to its end: a run's yields
// (pumpEvents) are such turns. Each turn posts the next one after the action, so an action that
// itself turns the loop is not re-entered.
class EachLoopTurn : public QObject {
public:
    explicit EachLoopTurn(std::function<void()> action) : m_action(std::move(action)) { post(); }

    int turns = 0;

private:
    void post() {
        QMetaObject::invokeMethod(
            this,
            [this] {
                ++turns;
                m_action();
                post();
            },
            Qt::QueuedConnection);
    }

    std::function<void()> m_action;
};

// Records the window's pointer value each time the window sets its pointer shape, repeats left
// out: the busy periods that commands go through.
class PointerRecorder : public QObject {
public:
    explicit PointerRecorder(shell::MainWindow& window) : m_window(window) {
        window.installEventFilter(this);
    }

    std::vector<join::Pointer> values;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &m_window && event->type() == QEvent::CursorChange) {
            const join::Pointer now = m_window.pointer();
            if (values.empty() || values.back() != now)
                values.push_back(now);
        }
        return false;
    }

private:
    shell::MainWindow& m_window;
};

// One window's surroundings. Each member can be changed before environment() is called.
struct FakeSurroundings {
    FakeSurroundings() {
        programFolder = root.path() + QStringLiteral("/program");
        QDir().mkpath(programFolder);
        settingsFile = root.path() + QStringLiteral("/settings/Quorvik.conf");
    }

    shell::MainWindowEnvironment environment() {
        shell::MainWindowEnvironment env;
        env.programFolder = programFolder;
        env.settings = shell::Settings(settingsFile);
        env.randomDraw = [this] { return draw; };
        env.desktopFolder = [this] { return desktop; };
        env.openUrl = [this](const QUrl& url) {
            opened.append(url);
            return openSucceeds;
        };
        env.presenter = presenter;
        env.endProcess = [this](int signal) {
            ++endings;
            endedBy = signal;
            if (onEnd)
                onEnd();
        };
        env.folderDialog = folderDialog;
        env.fileOpenDialog = fileDialog;
        env.stateFolder = root.path() + QStringLiteral("/state");
        return env;
    }

    // A window made from these surroundings, with its start-up sequence run.
    std::unique_ptr<shell::MainWindow> startedWindow() {
        auto window = std::make_unique<shell::MainWindow>(environment());
        window->startUp();
        return window;
    }

    shell::Settings store() const { return shell::Settings(settingsFile); }

    void writeProgramFile(const QString& relative, const QByteArray& content) const {
        const QString path = programFolder + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
    }

    // Copies the sample folders shipped beside the program (or, before the program is built,
    // those of the source tree) into the program folder.
    void copySamples() const {
        QString source =
            QString::fromLocal8Bit(qgetenv("BRIMVALE_BIN_DIR")) + QStringLiteral("/Samples");
        if (!QFileInfo(source).isDir())
            source = QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() +
                     QStringLiteral("/../../resources/Samples");
        std::filesystem::copy(
            QFile::encodeName(source).toStdString(),
            QFile::encodeName(programFolder + QStringLiteral("/Samples")).toStdString(),
            std::filesystem::copy_options::recursive);
    }

    QTemporaryDir root;
    QString programFolder;
    QString settingsFile;
    double draw = 0.5;
    QString desktop = QStringLiteral("/home/someone/Desktop");
    bool openSucceeds = true;
    QList<QUrl> opened;
    int endings = 0;
    // The signal that asked for the last end, 0 for a close.
    int endedBy = -1;
    // Runs when the window would end the process.
    std::function<void()> onEnd;
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
    std::shared_ptr<ScriptedFolderDialog> folderDialog = std::make_shared<ScriptedFolderDialog>();
    std::shared_ptr<ScriptedFileOpenDialog> fileDialog = std::make_shared<ScriptedFileOpenDialog>();
};

// Clicks the named control of the window; a click that starts a join run waits until the run
// has ended and its closing message is closed, as a user would before looking.
inline void clickAndWait(shell::MainWindow& window, const char* name) {
    auto* widget = window.findChild<QWidget*>(QString::fromLatin1(name));
    if (!widget) {
        ADD_FAILURE() << "no control " << name;
        return;
    }
    const bool starts = !window.JoinRunning() && std::string_view(name) == "PushButton2";
    QTest::mouseClick(widget, Qt::LeftButton);
    if (starts) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window.JoinRunning(); }, 300000))
            << "the run did not end";
    }
}

} // namespace shelltest
