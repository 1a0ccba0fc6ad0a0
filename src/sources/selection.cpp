#include "selection.h"

#include "join/fs/failure.h"
#include "listtexts.h"

#include <algorithm>

namespace sources {

namespace {

struct FolderAndName {
    std::string folder;
    std::string name;
};

FolderAndName splitPath(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {{}, path};
    // A file directly in the root keeps "/" as its folder.
    return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

} // namespace

std::string makeSelectionString(const std::vector<std::string>& paths) {
    if (paths.empty())
        return {};
    if (paths.size() == 1)
        return paths.front();

    const std::string folder = splitPath(paths.front()).folder;
    const bool oneFolder = std::all_of(paths.begin(), paths.end(), [&](const std::string& path) {
        return splitPath(path).folder == folder;
    });

    std::string selection = oneFolder ? folder : std::string();
    for (const auto& path : paths) {
        selection += '\0';
        selection += oneFolder ? splitPath(path).name : path;
    }
    return selection;
}

std::size_t selectionBufferLength(const std::string& selection) {
    if (selection.empty())
        return 0;
    const bool severalFiles = selection.find('\0') != std::string::npos;
    return selection.size() + (severalFiles ? 2 : 1);
}

void checkSelectionFits(const std::string& selection) {
    if (selectionBufferLength(selection) > MaxFileSize)
        throw join::Failure(join::ErrorNumber::FileDialogBufferTooSmall,
                            Lists::tr("The file name buffer is too small to hold the selected "
                                      "file names.")
                                .toStdString());
}

std::vector<std::string> splitSelection(const std::string& selection) {
    std::vector<std::string> parts;
    if (selection.empty())
        return parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto nul = selection.find('\0', start);
        parts.push_back(selection.substr(start, nul - start));
        if (nul == std::string::npos)
            break;
        start = nul + 1;
    }
    return parts;
}

} // namespace sources
