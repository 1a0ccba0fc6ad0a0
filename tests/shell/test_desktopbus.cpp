// The desktop hears about a join over the session bus: the task bar entry's progress while it
// runs, and a notification when a long one ends while the window is not the active one; what
// could not be copied is also kept in a file that the report names. Runs on
// a private session bus (ctest starts it under dbus-run-session), with a listener on a connection
// of its own that stands in for the desktop's notification service and task bar.
#include "shellfakes.h"
#include "support/testdir.h"

#include <QAbstractButton>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVariantMap>
#include <gtest/gtest.h>
#include <sys/stat.h>

using shelltest::FakeSurroundings;
using testsupport::TestDir;

namespace {

// The desktop's side: the notification service and a task bar that follows launcher entries.
class Desktop : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Update {
        QString uri;
        double progress;
        bool visible;
    };
    QStringList notices; // "summary: body"
    QStringList noticeApps;
    QList<Update> updates;

public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int) {
        noticeApps.append(app);
        notices.append(summary + QStringLiteral(": ") + body);
        return static_cast<uint>(notices.size());
    }

    void launcherUpdate(const QString& uri, const QVariantMap& properties) {
        updates.append({uri, properties.value(QStringLiteral("progress")).toDouble(),
                        properties.value(QStringLiteral("progress-visible")).toBool()});
    }
};

} // namespace

TEST(DesktopBus, NotificationAndTaskBarProgressOfAJoin) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        << "needs a private session bus: run under dbus-run-session";
    QDBusConnection bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("desktop"));
    ASSERT_TRUE(bus.isConnected());
    Desktop desktop;
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &desktop,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.connect(
        QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
        QStringLiteral("Update"), &desktop, SLOT(launcherUpdate(QString, QVariantMap))));

    TestDir dir;
    dir.make("good/a=a\ngood/b=b\ngood/c=c\nodd/x=x\nodd/gone -> nowhere\nout/\n");
    ASSERT_EQ(::mkfifo(dir.path("odd/pipe").c_str(), 0600), 0);
    struct Row {
        const char* name;
        std::string source;
        bool windowActive;
        QStringList notices;
    };
    const Row rows[] = {
        {"everything copied",
         dir.path("good", true),
         false,
         {QStringLiteral("Brimvale: 3 files copied")}},
        {"things that could not be copied, by kind",
         dir.path("odd", true),
         false,
         {QStringLiteral("Brimvale: 1 link and 1 special file could not be copied")}},
        {"the window is the active one", dir.path("good", true), true, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        desktop.notices.clear();
        desktop.noticeApps.clear();
        desktop.updates.clear();
        FakeSurroundings s;
        shell::MainWindowEnvironment env = s.environment();
        env.noticeAfter = std::chrono::milliseconds(0);
        shell::MainWindow window(env);
        window.startUp();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        // Another window takes the focus, as when the user turns to something else.
        QWidget elsewhere;
        if (!row.windowActive) {
            elsewhere.show();
            elsewhere.activateWindow();
        } else {
            window.activateWindow();
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.isActiveWindow() == row.windowActive; }));
        window.sourceList().append(row.source);
        window.findChild<QLineEdit*>(QStringLiteral("Text2"))
            ->setText(QString::fromStdString(dir.path("out", true)));
        window.findChild<QAbstractButton*>(QStringLiteral("Option2"))->click();
        shelltest::clickAndWait(window, "PushButton2");

        // The bus delivers in order: once the last update is in, any notice sent before it is.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !desktop.updates.isEmpty() && !desktop.updates.back().visible; }));
        QTest::qWait(100);
        ASSERT_GE(desktop.updates.size(), 2);
        EXPECT_EQ(desktop.updates.front().uri, QStringLiteral("application://brimvale.desktop"));
        EXPECT_TRUE(desktop.updates.front().visible);
        EXPECT_EQ(desktop.updates[desktop.updates.size() - 2].progress, 1.0);
        EXPECT_EQ(desktop.notices, row.notices);
        if (!row.notices.isEmpty()) {
            EXPECT_EQ(desktop.noticeApps, QStringList{QStringLiteral("Brimvale")});
        }
        // What could not be copied: the closing message names the file that lists it all, and
        // shows the list under "Show Details...".
        if (row.source == dir.path("odd", true)) {
            const QString pipe = QString::fromStdString(dir.path("odd/pipe"));
            const QString link = QString::fromStdString(dir.path("odd/gone"));
            EXPECT_TRUE(s.presenter->reports.isEmpty());
            ASSERT_EQ(s.presenter->messages.size(), 1);
            const shelltest::PlainMessage& closing = s.presenter->messages[0];
            EXPECT_EQ(closing.details,
                      QStringLiteral("1 file copied.\n\nEntry 1: ") +
                          QString::fromStdString(dir.path("odd", true)) + QStringLiteral("\n  ") +
                          link + QStringLiteral(": a link to nothing, so it is not copied\n  ") +
                          pipe + QStringLiteral(": not a regular file, so it is not copied"));
            const QDir state(s.root.path() + QStringLiteral("/state"));
            const QStringList files = state.entryList(QDir::Files);
            ASSERT_EQ(files.size(), 1);
            EXPECT_TRUE(closing.text.endsWith(QStringLiteral("The whole list is in this file: ") +
                                              state.filePath(files[0])))
                << closing.text.toStdString();
            QFile list(state.filePath(files[0]));
            ASSERT_TRUE(list.open(QIODevice::ReadOnly));
            const QString entry = QString::fromStdString(dir.path("odd", true));
            EXPECT_EQ(QString::fromUtf8(list.readAll()),
                      entry + u'\t' + link +
                          QStringLiteral(": a link to nothing, so it is not copied\n") + entry +
                          u'\t' + pipe +
                          QStringLiteral(": not a regular file, so it is not copied\n"));
        }
    }
}

#include "test_desktopbus.moc"
