#include "commands.h"
#include "join/fs/paths.h"
#include "join/host/trap.h"
#include "join/walk/subfolders.h"
#include "listtexts.h"

namespace sources {

namespace {

const char* const FolderPrompt = QT_TRANSLATE_NOOP("Lists", "Please select folder:");

// Steps 100 to 104 of both add commands: the picker opens at "LastFolderDot" (read afresh,
// never written); a cancel ends the command before the pointer changes. Returns "" on cancel.
std::string pickFolderAndShowBusy(CommandHost& host, join::Trap& trap) {
    std::string lastFolderDot;
    std::string chosen;
    trap.line(100, [&] { lastFolderDot = host.GetSetting("LastFolderDot", ""); });
    trap.line(102, [&] {
        chosen = host.folderDialog().BrowseForFolder(Lists::tr(FolderPrompt).toStdString(),
                                                     lastFolderDot);
    });
    if (trap.test(102, [&] { return chosen.empty(); }))
        return {};
    trap.line(104, [&] { host.setPointer(join::Pointer::Hourglass); });
    return chosen;
}

} // namespace

std::string folderItemText(const std::string& chosen) {
    // The test looks at the folder as chosen; the separator is added after normalising.
    return join::endsWithSeparator(chosen) ? join::normalizePath(chosen)
                                           : join::normalizePath(chosen) + "/";
}

void addFolder(CommandHost& host) {
    join::Trap trap(host, join::Procedure::AddFolder);
    const std::string chosen = pickFolderAndShowBusy(host, trap);
    if (chosen.empty())
        return;
    const bool root = trap.test(106, [&] { return join::endsWithSeparator(chosen); });
    trap.line(root ? 108 : 110, [&] { host.sourceList().append(folderItemText(chosen)); });
    trap.line(112, [&] { host.setPointer(join::Pointer::Default); });
}

void addFolderTree(CommandHost& host) {
    join::Trap trap(host, join::Procedure::AddFolderTree);
    const std::string chosen = pickFolderAndShowBusy(host, trap);
    if (chosen.empty())
        return;
    join::FolderCollection expansion;
    trap.line(106, [&] { expansion.clear(); });
    if (trap.test(108, [&] { return join::endsWithSeparator(chosen); })) {
        trap.line(110, [&] { expansion.push_back(chosen); });
        trap.line(112, [&] { host.sourceList().append(join::normalizePath(chosen)); });
    } else {
        trap.line(114, [&] { expansion.push_back(chosen + "/"); });
        trap.line(116, [&] { host.sourceList().append(join::normalizePath(chosen) + "/"); });
    }
    trap.line(118, [&] { join::walkSubfolders(expansion, join::Recursion::AllLevels, host); });
    // The first entry stands for the chosen folder, already added above; the rest go in as the
    // walk built them, in one append so that a tree of many folders lands at once.
    trap.line(120, [&] {
        if (!expansion.empty())
            expansion.erase(expansion.begin());
    });
    trap.line(122, [&] { host.sourceList().appendAll(expansion); });
    trap.line(126, [&] { host.setPointer(join::Pointer::Default); });
}

} // namespace sources
