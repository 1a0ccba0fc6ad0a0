#include "designedfont.h"

#include <QFontDatabase>
#include <QStringList>

namespace shell {

namespace {

const QString LiberationSans = QStringLiteral("Liberation Sans");

QString loadDesignedFont() {
    // The regular and bold faces found when the program was configured.
    const QStringList files = {QStringLiteral(BRIMVALE_FONT_REGULAR),
                               QStringLiteral(BRIMVALE_FONT_BOLD)};
    QString family;
    for (const QString& file : files) {
        const int id = QFontDatabase::addApplicationFont(file);
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (family.isEmpty() && !families.isEmpty())
            family = families.front();
    }
    if (!family.isEmpty())
        return family;
    return QFontDatabase::hasFamily(LiberationSans) ? LiberationSans : QStringLiteral("Arial");
}

} // namespace

QString designedFontFamily() {
    static const QString family = loadDesignedFont();
    return family;
}

} // namespace shell
