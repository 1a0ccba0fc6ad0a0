#include "filedialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace shell {

namespace {

QString fromFileSystem(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string toFileSystem(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

std::string FolderPickerDialog::BrowseForFolder(const std::string& prompt,
                                                const std::string& initialFolder) {
    QFileDialog dialog(m_owner, QString::fromUtf8(prompt));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setWindowModality(Qt::ApplicationModal);
    // A folder opened as the dialog's current folder is the one that OK confirms.
    const QString initial = fromFileSystem(initialFolder);
    if (!initial.isEmpty() && QFileInfo(initial).isDir())
        dialog.setDirectory(initial);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? std::string() : toFileSystem(chosen.front());
}

std::vector<std::string> FilePickerDialog::ShowOpen(const std::string& title,
                                                    const std::string& filter) {
    QFileDialog dialog(m_owner, QString::fromUtf8(title));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(QString::fromUtf8(filter));
    dialog.setWindowModality(Qt::ApplicationModal);
    std::vector<std::string> paths;
    if (dialog.exec() != QDialog::Accepted)
        return paths;
    for (const QString& path : dialog.selectedFiles())
        paths.push_back(toFileSystem(path));
    return paths;
}

} // namespace shell
