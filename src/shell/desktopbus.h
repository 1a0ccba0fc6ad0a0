#pragma once

#include "join/host/host.h"

#include <QString>
#include <optional>

namespace shell {

// Tells the desktop about joins over the session bus: the run's progress on the program's task
// bar entry (the launcher-entry signal com.canonical.Unity.LauncherEntry, which KDE's task
// manager and the common docks follow) and a notification when a run ends (the freedesktop
// notification service). Connects on first use, and only to a session bus the environment names
// (DBUS_SESSION_BUS_ADDRESS, or the user's bus socket in XDG_RUNTIME_DIR), so that nothing is
// started to provide one. Without a session bus it does nothing.
class DesktopBus {
public:
    // Shows `percent` (0 to 100) on the task bar entry; repeats are not sent.
    void showProgress(int percent);
    // The task bar entry shows no progress again.
    void hideProgress();
    // A desktop notification from the program.
    void notify(const QString& summary, const QString& body);

private:
    bool connected();

    std::optional<bool> m_connected;
    int m_shownPercent = -1;
};

// What a notification says of a run that has ended: "12,345 files copied", "3 files could not be
// copied", "The join was stopped: 12 files copied".
QString endOfRunNotice(const join::JoinOutcome& outcome);

} // namespace shell
