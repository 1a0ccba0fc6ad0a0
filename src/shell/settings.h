#pragma once

#include <QSettings>
#include <QString>
#include <memory>

namespace shell {

// The per-user store of the program's settings: text values under application "Quorvik",
// section "Brimvale". Every save is written to disk at once, because the process may end at any
// moment without a chance to flush.
class Settings {
public:
    // The real user's store (~/.config/Quorvik/Quorvik.conf).
    Settings() = default;
    // A store kept in the given file, for tests and other stand-alone uses.
    explicit Settings(QString filePath);

    // The stored text when the key is present (an empty stored text is present), otherwise the
    // default.
    QString GetSetting(const QString& key, const QString& defaultValue) const;

    // Stores the text under the key, replacing any earlier value, and writes the store to disk.
    // Returns the store's status after the write: anything but NoError means the value may not
    // have reached the disk.
    QSettings::Status SaveSetting(const QString& key, const QString& value);

    // The file that holds the store.
    QString fileName() const;

private:
    std::unique_ptr<QSettings> open() const;

    QString m_filePath; // empty: the real user's store
};

// The text form of a copy-option state: "True" or "False".
QString booleanText(bool value);

// Reads a stored text as a Boolean: "True" and "False" in any letter case, and numeric text
// (blanks around it allowed), where zero is false and every other number is true. Any other
// text throws join::Failure 13 ("Type mismatch").
bool readBoolean(const QString& text);

} // namespace shell
