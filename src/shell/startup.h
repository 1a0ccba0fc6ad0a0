#pragma once

#include <QString>
#include <QUrl>
#include <functional>

// Start-up routines of the main window that stand on their own.
namespace shell {

inline constexpr char ProductName[] = "Brimvale";

// The application title derived from a product name: the text is cut just before its last
// blank, again while it is longer than 40 characters. A name without a blank is kept whole.
QString applicationTitleFrom(const QString& productName);

// Derives the program-wide application title from the product name.
void setApplicationTitle();

// The caption of every message box that names no caption of its own.
QString applicationTitle();

// The desktop folder followed by one "/". `desktopFolder` returns "" when the platform has no
// desktop folder; that is a failure (join::Failure 76), never a lone "/".
QString getDesktopFolder(const std::function<QString()>& desktopFolder);

// The user's desktop folder (the XDG desktop directory) when it exists, else the home folder.
QString standardDesktopFolder();

// Opens the maker's home page on one start in a hundred: n = int(r * 100) + 1 for a draw
// 0 <= r < 1, and only n == 7 opens it. A refused opening throws join::Failure 53.
void openHomePageByChance(const std::function<double()>& randomDraw,
                          const std::function<bool(const QUrl&)>& openUrl);

// A draw 0 <= r < 1 from a generator seeded with the seconds since midnight.
double drawSeededByTimeOfDay();

} // namespace shell
