#include "drop.h"

#include "commands.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/host/trap.h"
#include "listfile.h"

#include <QByteArray>
#include <QMimeDatabase>
#include <QString>
#include <fstream>

namespace sources {

namespace {

// The start of a file is what tells text from anything else when its name does not.
constexpr std::streamsize SniffedBytes = 4096;

// The path a file:// address names, as file-system bytes; "" for any other address.
std::string localPath(const QUrl& url) {
    if (!url.isLocalFile())
        return {};
    const QString host = url.host();
    if (!host.isEmpty() && host != QLatin1String("localhost"))
        return {};
    // Decoded here rather than through QString, so that names that are not UTF-8 keep their
    // bytes.
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

// A regular file (or a link to one) that the desktop's type database takes for text: by its
// name, and by its first bytes where the name says nothing.
bool isTextFile(const std::string& path) {
    if (!join::isExistingFile(path))
        return false;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    QByteArray start(SniffedBytes, '\0');
    file.read(start.data(), SniffedBytes);
    start.resize(file.gcount());
    const QMimeType type = QMimeDatabase().mimeTypeForFileNameAndData(
        QString::fromStdString(join::lastPathPart(path)), start);
    return type.inherits(QStringLiteral("text/plain"));
}

} // namespace

Drop readDrop(const QList<QUrl>& urls) {
    std::vector<std::string> paths;
    for (const QUrl& url : urls) {
        std::string path = localPath(url);
        if (path.empty())
            return {};
        paths.push_back(std::move(path));
    }
    if (paths.empty())
        return {};
    bool allFolders = true;
    for (const std::string& path : paths)
        allFolders = allFolders && join::folderExists(path);
    if (allFolders)
        return {DropKind::Folders, std::move(paths)};
    if (paths.size() == 1 && isTextFile(paths.front()))
        return {DropKind::ListFile, std::move(paths)};
    return {};
}

bool takesDrop(const CommandHost& host, const Drop& drop) {
    return drop.kind != DropKind::Refused && !drop.paths.empty() &&
           host.pointer() != join::Pointer::Hourglass;
}

void addDropped(CommandHost& host, const Drop& drop) {
    if (!takesDrop(host, drop))
        return;
    join::Trap trap(host, join::Procedure::AddDropped);
    if (drop.kind == DropKind::Folders) {
        trap.line(100, [&] { host.setPointer(join::Pointer::Hourglass); });
        for (const std::string& folder : drop.paths)
            trap.line(102, [&] { host.sourceList().append(folderItemText(folder)); });
        trap.line(104, [&] { host.setPointer(join::Pointer::Default); });
        return;
    }
    LinesWithoutFolder unnamed;
    checkAndLoadListFile(host, trap, 106, drop.paths.front(), unnamed);
    trap.line(112, [&] {
        if (const std::string message = unnamed.message(); !message.empty())
            host.showMessage(message);
    });
}

} // namespace sources
