#pragma once

#include "sources/commandhost.h"

#include <QPointer>
#include <QWidget>

namespace shell {

// The folder picker: a modal QFileDialog over the main window that offers folders only. Paths
// cross into Qt and back as file-system bytes.
class FolderPickerDialog : public sources::FolderDialog {
public:
    explicit FolderPickerDialog(QWidget* owner) : m_owner(owner) {}

    std::string BrowseForFolder(const std::string& prompt,
                                const std::string& initialFolder) override;

private:
    QPointer<QWidget> m_owner;
};

// The file-open dialog: a modal QFileDialog over the main window for one or more existing files.
class FilePickerDialog : public sources::FileOpenDialog {
public:
    explicit FilePickerDialog(QWidget* owner) : m_owner(owner) {}

    std::vector<std::string> ShowOpen(const std::string& title, const std::string& filter) override;

private:
    QPointer<QWidget> m_owner;
};

} // namespace shell
