#pragma once

#include "join/host/host.h"
#include "sourcelist.h"

#include <string>
#include <vector>

namespace sources {

// The folder picker: a modal dialog over the main window that offers only folders.
class FolderDialog {
public:
    virtual ~FolderDialog() = default;
    // Opens with `initialFolder` selected when it names a folder. Returns the confirmed folder's
    // full path, or "" when the user cancels.
    virtual std::string BrowseForFolder(const std::string& prompt,
                                        const std::string& initialFolder) = 0;
};

// The file-open dialog that lets the user pick several existing files at once.
class FileOpenDialog {
public:
    virtual ~FileOpenDialog() = default;
    // `filter` is a name filter in the "Description (patterns)" form. Returns the full paths of
    // the picked files in the order the dialog reports them; an empty list on cancel.
    virtual std::vector<std::string> ShowOpen(const std::string& title,
                                              const std::string& filter) = 0;
};

// What the source-list commands need of the main window. The window implements it; tests fake it.
class CommandHost : public virtual join::WalkHost, public virtual join::MessageSink {
public:
    virtual SourceList& sourceList() = 0;

    // The main window's pointer, which doubles as the busy flag (Hourglass = busy).
    virtual join::Pointer pointer() const = 0;
    virtual void setPointer(join::Pointer pointer) = 0;

    // The stored text of a setting of the program's own section, or `defaultValue` when absent.
    virtual std::string GetSetting(const std::string& key, const std::string& defaultValue) = 0;

    virtual FolderDialog& folderDialog() = 0;
    virtual FileOpenDialog& fileOpenDialog() = 0;

    // The folder of the running executable, without a trailing "/" (except for the root "/").
    virtual std::string programFolder() const = 0;
};

} // namespace sources
