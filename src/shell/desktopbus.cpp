#include "desktopbus.h"

#include "join/run/runprogress.h"
#include "windowtexts.h"
#include "words/words.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

namespace shell {

namespace {

const QString LauncherPath = QStringLiteral("/com/canonical/unity/launcherentry/brimvale");
const QString LauncherInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");
// The desktop entry the task bar knows the program by.
const QString ApplicationUri = QStringLiteral("application://brimvale.desktop");

QString files(std::uint64_t count) {
    return QString::fromStdString(words::filesText(count));
}

} // namespace

bool DesktopBus::connected() {
    if (!m_connected) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        const bool named =
            !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
            (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")));
        m_connected = named && QDBusConnection::sessionBus().isConnected();
    }
    return *m_connected;
}

void DesktopBus::showProgress(int percent) {
    if (percent == m_shownPercent || !connected())
        return;
    m_shownPercent = percent;
    QDBusMessage update =
        QDBusMessage::createSignal(LauncherPath, LauncherInterface, QStringLiteral("Update"));
    update << ApplicationUri
           << QVariantMap{{QStringLiteral("progress"), percent / 100.0},
                          {QStringLiteral("progress-visible"), true}};
    QDBusConnection::sessionBus().send(update);
}

void DesktopBus::hideProgress() {
    if (m_shownPercent < 0 || !connected())
        return;
    m_shownPercent = -1;
    QDBusMessage update =
        QDBusMessage::createSignal(LauncherPath, LauncherInterface, QStringLiteral("Update"));
    update << ApplicationUri
           << QVariantMap{{QStringLiteral("progress"), 0.0},
                          {QStringLiteral("progress-visible"), false}};
    QDBusConnection::sessionBus().send(update);
}

void DesktopBus::notify(const QString& summary, const QString& body) {
    if (!connected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Application name, id to replace (none), icon, summary, body, actions, hints, timeout
    // (the server's own).
    call << QStringLiteral("Brimvale") << 0u << QStringLiteral("brimvale") << summary << body
         << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("brimvale")}} << -1;
    // Nobody waits for the answer: a desktop without the service loses nothing.
    QDBusConnection::sessionBus().send(call);
}

QString endOfRunNotice(const join::JoinOutcome& outcome) {
    if (outcome.stopped())
        return Window::tr("The join was stopped: %1 copied").arg(files(outcome.filesCopied));
    if (outcome.ending == join::JoinOutcome::Ending::Faulted)
        return Window::tr("The join ended early: %1 copied").arg(files(outcome.filesCopied));
    if (const std::string things = words::notCopiedByKindText(outcome.notCopiedCounts);
        !things.empty())
        return Window::tr("%1 could not be copied").arg(QString::fromStdString(things));
    if (!outcome.allCopied())
        return Window::tr("%1 copied; not everything could be").arg(files(outcome.filesCopied));
    if (outcome.reports > 0)
        return QString::fromStdString(
                   words::pluralText(
                       "Window", QT_TRANSLATE_N_NOOP("Window", "%1 copied; %n problem(s) reported"),
                       static_cast<std::uint64_t>(outcome.reports)))
            .arg(files(outcome.filesCopied));
    return Window::tr("%1 copied").arg(files(outcome.filesCopied));
}

} // namespace shell
