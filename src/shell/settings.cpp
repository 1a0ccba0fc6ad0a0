#include "settings.h"

#include "join/fs/failure.h"
#include "windowtexts.h"

#include <QLocale>
#include <QStringList>
#include <cmath>
#include <memory>
#include <utility>

namespace shell {

namespace {
const QString Application = QStringLiteral("Quorvik");
const QString Section = QStringLiteral("Brimvale");
} // namespace

Settings::Settings(QString filePath) : m_filePath(std::move(filePath)) {}

// A fresh QSettings object for every operation: its status then describes this operation only.
std::unique_ptr<QSettings> Settings::open() const {
    auto settings = m_filePath.isEmpty()
                        ? std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                      Application, Application)
                        : std::make_unique<QSettings>(m_filePath, QSettings::IniFormat);
    // Only the user's own store counts; a system-wide file must not supply values.
    settings->setFallbacksEnabled(false);
    settings->beginGroup(Section);
    return settings;
}

QString Settings::GetSetting(const QString& key, const QString& defaultValue) const {
    const auto settings = open();
    if (!settings->contains(key))
        return defaultValue;
    const QVariant value = settings->value(key);
    // A hand-edited value with unquoted commas reads back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

QSettings::Status Settings::SaveSetting(const QString& key, const QString& value) {
    const auto settings = open();
    settings->setValue(key, value);
    settings->sync();
    return settings->status();
}

QString Settings::fileName() const {
    return open()->fileName();
}

QString booleanText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

bool readBoolean(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double number = QLocale::c().toDouble(trimmed, &isNumber);
    if (!isNumber || !std::isfinite(number))
        throw join::Failure(join::ErrorNumber::TypeMismatch,
                            Window::tr("Type mismatch").toStdString());
    return number != 0.0;
}

} // namespace shell
