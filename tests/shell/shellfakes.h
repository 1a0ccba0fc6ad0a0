#pragma once

// Fakes for the main window's surroundings: message boxes that record instead of showing, a
// recorded browser, a recorded process end, and a temporary program folder and settings file.
#include "shell/form1.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>
#include <ostream>

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
};

class RecordingPresenter : public shell::MessagePresenter {
public:
    void showPlainMessage(QWidget*, const QString& caption, const QString& text) override {
        messages.append({caption, text});
    }
    void showErrorReport(QWidget*, const QString& text) override { reports.append(text); }

    QList<PlainMessage> messages;
    QStringList reports;
};

// One window's surroundings. Each member can be changed before environment() is called.
struct FakeSurroundings {
    FakeSurroundings() {
        programFolder = root.path() + QStringLiteral("/program");
        QDir().mkpath(programFolder);
        settingsFile = root.path() + QStringLiteral("/settings/Quorvik.conf");
    }

    shell::Form1Environment environment() {
        shell::Form1Environment env;
        env.programFolder = programFolder;
        env.settings = shell::Settings(settingsFile);
        env.randomDraw = [this] { return draw; };
        env.desktopFolder = [this] { return desktop; };
        env.openUrl = [this](const QUrl& url) {
            opened.append(url);
            return openSucceeds;
        };
        env.presenter = presenter;
        env.endProcess = [this] { ++endings; };
        return env;
    }

    // A window made from these surroundings, with its start-up sequence run.
    std::unique_ptr<shell::Form1> startedWindow() {
        auto window = std::make_unique<shell::Form1>(environment());
        window->Form_Load();
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

    QTemporaryDir root;
    QString programFolder;
    QString settingsFile;
    double draw = 0.5;
    QString desktop = QStringLiteral("/home/someone/Desktop");
    bool openSucceeds = true;
    QList<QUrl> opened;
    int endings = 0;
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
};

} // namespace shelltest
