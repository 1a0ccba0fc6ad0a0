// The start-up routines on their own: the application title, the desktop folder, the home page by
// chance and the cursor file reader.
#include "join/fs/failure.h"
#include "shell/cursorfile.h"
#include "shell/startup.h"
#include "shellfakes.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

template <class F> int failureNumber(F&& call) {
    try {
        call();
    } catch (const join::Failure& failure) {
        return failure.number();
    }
    return 0;
}

} // namespace

TEST(StartUp, ApplicationTitleFromTheProductName) {
    struct Row {
        const char* product;
        const char* title;
    };
    const Row rows[] = {
        {"Brimvale", "Brimvale"},
        {"Brimvale Folder Joiner", "Brimvale Folder"},
        {"Two Words", "Two"},
        {" Leading", ""},
        {"Trailing ", "Trailing"},
        {"An application name that runs to more than forty characters in all",
         "An application name that runs to more"},
        {"Averyveryverylongsinglewordthatexceedsfortycharacters tail",
         "Averyveryverylongsinglewordthatexceedsfortycharacters"},
        {"", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(shell::applicationTitleFrom(QString::fromLatin1(row.product)),
                  QLatin1String(row.title))
            << row.product;
    }
    shell::setApplicationTitle();
    EXPECT_EQ(shell::applicationTitle(), QLatin1String("Brimvale"));
}

TEST(StartUp, DesktopFolderGetsOneSeparatorOrFails) {
    EXPECT_EQ(shell::getDesktopFolder([] { return QStringLiteral("/home/u/Desktop"); }),
              QLatin1String("/home/u/Desktop/"));
    EXPECT_EQ(failureNumber([] { shell::getDesktopFolder([] { return QString(); }); }), 76);
}

TEST(StartUp, TheDesktopFolderWhenItExistsElseHome) {
    struct Row {
        const char* name;
        const char* folder;   // made under the home folder; nullptr: none
        const char* userDirs; // the XDG user-dirs file; nullptr: none
        const char* expected; // under the home folder
    };
    const Row rows[] = {
        {"desktop folder", "Desktop", nullptr, "/Desktop"},
        {"no desktop folder", nullptr, nullptr, ""},
        {"named by user-dirs", "Bureau", "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n", "/Bureau"},
        {"named by user-dirs but missing", "Desktop", "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n", ""},
    };
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    // Test mode would skip the user-dirs file.
    QStandardPaths::setTestModeEnabled(false);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir home;
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        if (row.folder)
            QDir(home.path()).mkpath(QLatin1String(row.folder));
        QFile userDirs(home.path() + QStringLiteral("/user-dirs.dirs"));
        if (row.userDirs && userDirs.open(QIODevice::WriteOnly))
            userDirs.write(row.userDirs);
        userDirs.close();
        EXPECT_EQ(shell::standardDesktopFolder(), home.path() + QLatin1String(row.expected));
    }
    QStandardPaths::setTestModeEnabled(true);
    qputenv("HOME", savedHome);
    qputenv("XDG_CONFIG_HOME", savedConfig);
}

TEST(StartUp, HomePageByChance) {
    struct Row {
        double draw;
        bool opens;
    };
    const Row rows[] = {{0.06, true},  {0.0600001, true}, {0.06999, true},  {0.0599999, false},
                        {0.07, false}, {0.0, false},      {0.99999, false}, {-0.5, false},
                        {1.0, false},  {5.0, false}};
    for (const Row& row : rows) {
        QList<QUrl> opened;
        shell::openHomePageByChance([&] { return row.draw; },
                                    [&](const QUrl& url) {
                                        opened.append(url);
                                        return true;
                                    });
        EXPECT_EQ(opened.size(), row.opens ? 1 : 0) << row.draw;
    }
    EXPECT_EQ(failureNumber([] {
                  shell::openHomePageByChance([] { return 0.065; },
                                              [](const QUrl&) { return false; });
              }),
              53);
    for (int i = 0; i < 50; ++i) {
        const double r = shell::drawSeededByTimeOfDay();
        EXPECT_TRUE(r >= 0.0 && r < 1.0) << r;
    }
}

TEST(StartUp, CursorFiles) {
    QTemporaryDir dir;
    auto write = [&](const char* name, const QByteArray& bytes) {
        const QString path = dir.path() + QLatin1Char('/') + QLatin1String(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    };
    QByteArray asIcon = shelltest::cursorFileBytes(16, 16, 0, 0);
    asIcon[2] = 1;
    asIcon[10] = 1;  // planes
    asIcon[12] = 32; // bit count
    QByteArray farHotSpot = shelltest::cursorFileBytes(4, 4, 0, 0);
    farHotSpot[10] = 50;
    farHotSpot[12] = 60;

    struct Row {
        const char* name;
        QByteArray bytes;
        bool loads;
        QPoint hotSpot;
        QSize size;
    };
    const Row rows[] = {
        {"cursor", shelltest::cursorFileBytes(32, 32, 10, 0), true, {10, 0}, {32, 32}},
        {"small cursor", shelltest::cursorFileBytes(8, 8, 7, 7), true, {7, 7}, {8, 8}},
        {"icon", asIcon, true, {0, 0}, {16, 16}},
        {"hot spot outside", farHotSpot, true, {3, 3}, {4, 4}},
        {"empty", QByteArray(), false, {}, {}},
        {"text", "just some words that are not a cursor", false, {}, {}},
        {"cut short", shelltest::cursorFileBytes(32, 32, 1, 1).left(100), false, {}, {}},
        {"header only", shelltest::cursorFileBytes(32, 32, 1, 1).left(22), false, {}, {}},
        {"png", QByteArray("\x89PNG\r\n\x1a\n", 8), false, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = write(row.name, row.bytes);
        if (!row.loads) {
            EXPECT_EQ(failureNumber([&] { shell::loadCursorFile(path); }), 481);
            continue;
        }
        const QCursor cursor = shell::loadCursorFile(path);
        EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
        EXPECT_EQ(cursor.hotSpot(), row.hotSpot);
        EXPECT_EQ(cursor.pixmap().size(), row.size);
    }
    EXPECT_EQ(failureNumber([&] { shell::loadCursorFile(dir.path() + QStringLiteral("/none")); }),
              481);
    EXPECT_EQ(failureNumber([&] { shell::loadCursorFile(dir.path()); }), 481);
}
