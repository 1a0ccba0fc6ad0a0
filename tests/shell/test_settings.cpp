// The settings store on temporary files: what is stored comes back exactly, absent keys give the
// default, a failed write says so, and stored texts read as Booleans the way start-up reads them.
#include "join/fs/failure.h"
#include "shell/settings.h"
#include "shellfakes.h"
#include "words/words.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString settingsPath(const QTemporaryDir& dir) {
    return dir.path() + QStringLiteral("/Quorvik/Quorvik.conf");
}

} // namespace

TEST(Settings, StoredTextsComeBackExactly) {
    const QString values[] = {
        QString(),
        QStringLiteral("True"),
        QStringLiteral("  blanks around  "),
        QStringLiteral("/data/out/"),
        QStringLiteral("a,b, c"),
        QStringLiteral("@Variant(looks like a variant)"),
        QStringLiteral("semi;colon = equals \"quotes\" [brackets]"),
        QStringLiteral("line\nbreak\tand tab"),
        QStringLiteral("Grüße/データ/📁"),
        QStringLiteral("\\back\\slashes\\"),
        QStringLiteral("#not a comment"),
    };
    QTemporaryDir dir;
    shell::Settings store(settingsPath(dir));
    for (const QString& value : values) {
        SCOPED_TRACE(value.toStdString());
        ASSERT_EQ(store.SaveSetting(QStringLiteral("Output Folder"), value), QSettings::NoError);
        EXPECT_EQ(store.GetSetting(QStringLiteral("Output Folder"), QStringLiteral("default")),
                  value);
        // A second store on the same file, as the next start of the program would open it.
        EXPECT_EQ(shell::Settings(settingsPath(dir))
                      .GetSetting(QStringLiteral("Output Folder"), QStringLiteral("default")),
                  value);
    }
}

TEST(Settings, AbsentKeysGiveTheDefaultAndKeysStaySeparate) {
    QTemporaryDir dir;
    shell::Settings store(settingsPath(dir));
    EXPECT_EQ(store.GetSetting(QStringLiteral("Option1"), QStringLiteral("1")), QLatin1String("1"));
    EXPECT_EQ(store.GetSetting(QStringLiteral("LastFolderDot"), QString()), QString());

    store.SaveSetting(QStringLiteral("Option1"), QStringLiteral("False"));
    store.SaveSetting(QStringLiteral("Option2"), QStringLiteral("True"));
    EXPECT_EQ(store.GetSetting(QStringLiteral("Option1"), QStringLiteral("1")),
              QLatin1String("False"));
    EXPECT_EQ(store.GetSetting(QStringLiteral("Option2"), QStringLiteral("0")),
              QLatin1String("True"));
    EXPECT_EQ(store.GetSetting(QStringLiteral("option1"), QStringLiteral("absent")),
              QLatin1String("absent"));

    // Everything lives in the section of the program, in the file given.
    QFile file(settingsPath(dir));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    EXPECT_TRUE(content.startsWith("[Brimvale]\n")) << content.toStdString();
    EXPECT_TRUE(content.contains("Option1=False")) << content.toStdString();
    EXPECT_EQ(store.fileName(), settingsPath(dir));
}

TEST(Settings, AValueWrittenByHandIsReadAsText) {
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + QStringLiteral("/Quorvik"));
    QFile file(settingsPath(dir));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Brimvale]\nLastFolderDot=/home/a, b\nOption1=true\nOther=\n");
    file.close();
    shell::Settings store(settingsPath(dir));
    EXPECT_EQ(store.GetSetting(QStringLiteral("LastFolderDot"), QString()),
              QLatin1String("/home/a, b"));
    EXPECT_EQ(store.GetSetting(QStringLiteral("Option1"), QString()), QLatin1String("true"));
    EXPECT_EQ(store.GetSetting(QStringLiteral("Other"), QStringLiteral("default")), QString());
}

TEST(Settings, AWriteThatCannotReachTheDiskSaysSo) {
    QTemporaryDir dir;
    // A folder where the file should be, and a file where a folder should be: refused to root
    // as well.
    QDir().mkpath(settingsPath(dir));
    QFile blocker(dir.path() + QStringLiteral("/file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (const QString& path : {settingsPath(dir), dir.path() + QStringLiteral("/file/x.conf")}) {
        SCOPED_TRACE(path.toStdString());
        shell::Settings store(path);
        EXPECT_NE(store.SaveSetting(QStringLiteral("Output Folder"), QStringLiteral("/x/")),
                  QSettings::NoError);
        // Each save reports its own outcome, not an earlier one.
        EXPECT_NE(store.SaveSetting(QStringLiteral("Output Folder"), QStringLiteral("/y/")),
                  QSettings::NoError);
    }
    shell::Settings good(dir.path() + QStringLiteral("/good.conf"));
    EXPECT_EQ(good.SaveSetting(QStringLiteral("Option1"), QStringLiteral("True")),
              QSettings::NoError);
}

TEST(Settings, StoredTextsReadAsBooleans) {
    struct Row {
        const char* text;
        int expected; // 1 true, 0 false, -1 type mismatch
    };
    const Row rows[] = {
        {"True", 1}, {"False", 0}, {"true", 1}, {"FALSE", 0}, {" True ", 1},
        {"1", 1},    {"0", 0},     {"-1", 1},   {"2", 1},     {" 2", 1},
        {"0.0", 0},  {"-0", 0},    {"0.5", 1},  {"1e3", 1},   {"+7", 1},
        {"", -1},    {" ", -1},    {"yes", -1}, {"no", -1},   {"Tru", -1},
        {"1 2", -1}, {"inf", -1},  {"nan", -1}, {"0x10", -1}, {"True1", -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("\"") + row.text + "\"");
        const QString text = QString::fromLatin1(row.text);
        if (row.expected < 0) {
            try {
                shell::readBoolean(text);
                ADD_FAILURE() << "no failure";
            } catch (const join::Failure& failure) {
                EXPECT_EQ(failure.number(), 13);
                EXPECT_EQ(words::describe(failure), "Type mismatch");
            }
        } else {
            EXPECT_EQ(shell::readBoolean(text), row.expected == 1);
        }
    }
    EXPECT_EQ(shell::booleanText(true), QLatin1String("True"));
    EXPECT_EQ(shell::booleanText(false), QLatin1String("False"));
}
