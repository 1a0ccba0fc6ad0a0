#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

namespace shell {

// A path the window shows or stores, as the file system's bytes the engine takes.
inline std::string fileSystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// A path of the engine's, as the window shows it.
inline QString fromFileSystem(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace shell
