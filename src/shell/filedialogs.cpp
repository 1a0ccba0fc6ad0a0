#include "filedialogs.h"

#include <QDir>
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
    // A folder opened as the dialog's current folder is the one that OK confirms. Without one the
    // picker opens at the home folder, every time: left to itself, QFileDialog would open where
    // the last one was left, or in the working directory.
    const QString initial = fromFileSystem(initialFolder);
    dialog.setDirectory(!initial.isEmpty() && QFileInfo(initial).isDir() ? initial
                                                                         : QDir::homePath());
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
