#pragma once

#include <QString>

namespace shell {

// Captions that change during a run, and the question a stop asks. Each "&" marks the letter
// that Alt takes to the control.
inline const QString StartCaption = QStringLiteral("&Start Joining");
inline const QString StopCaption = QStringLiteral("&Stop");
inline const QString OutputFolderTitle = QStringLiteral("Save &Results To This Folder");
inline const QString CopyOptionsTitle = QStringLiteral("Copy &Options");
inline const QString StopQuestion =
    QStringLiteral("Stop joining? What was copied stays; nothing partly written is left.");

} // namespace shell
