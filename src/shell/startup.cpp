#include "startup.h"

#include "join/fs/failure.h"
#include "windowtexts.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTime>
#include <random>

namespace shell {

namespace {
QString g_applicationTitle = QString::fromLatin1(ProductName);
constexpr qsizetype LongestTitle = 40;
constexpr int HomePageNumber = 7;
} // namespace

QString applicationTitleFrom(const QString& productName) {
    QString title = productName;
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            break;
        title.truncate(blank);
    } while (title.size() > LongestTitle);
    return title;
}

void setApplicationTitle() {
    g_applicationTitle = applicationTitleFrom(QString::fromLatin1(ProductName));
}

QString applicationTitle() {
    return g_applicationTitle;
}

QString getDesktopFolder(const std::function<QString()>& desktopFolder) {
    const QString folder = desktopFolder();
    if (folder.isEmpty())
        throw join::Failure(
            join::ErrorNumber::PathNotFound,
            Window::tr("Path not found: the desktop folder cannot be determined").toStdString());
    return folder + QLatin1Char('/');
}

QString standardDesktopFolder() {
    // Many fresh accounts have no desktop folder (minimal desktops, and desktops that name it in
    // another language); the home folder then stands in, so that the default output folder is
    // one that exists.
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
        return desktop;
    return QDir::homePath();
}

void openHomePageByChance(const std::function<double()>& randomDraw,
                          const std::function<bool(const QUrl&)>& openUrl) {
    const double r = randomDraw();
    if (!(r >= 0.0 && r < 1.0))
        return;
    const int n = static_cast<int>(r * 100) + 1;
    if (n != HomePageNumber)
        return;
    const QUrl homePage(QStringLiteral(BRIMVALE_HOME_PAGE));
    if (!openUrl(homePage))
        throw join::Failure(
            join::ErrorNumber::FileNotFound,
            Window::tr("File not found: cannot open %1").arg(homePage.toString()).toStdString());
}

double drawSeededByTimeOfDay() {
    const int secondsSinceMidnight = QTime::currentTime().msecsSinceStartOfDay() / 1000;
    std::mt19937 generator(static_cast<std::mt19937::result_type>(secondsSinceMidnight));
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

} // namespace shell
