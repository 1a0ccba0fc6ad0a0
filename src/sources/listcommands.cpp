#include "commands.h"
#include "join/host/trap.h"

namespace sources {

namespace {

// Removal shared by the Delete key and the double-click.
void removeSelected(CommandHost& host, std::optional<int> selectedIndex) {
    if (host.pointer() == join::Pointer::Hourglass)
        return;
    SourceList& list = host.sourceList();
    if (list.count() == 0)
        return;
    if (!selectedIndex || *selectedIndex < 1 || *selectedIndex > list.count())
        return;
    list.removeAt(*selectedIndex);
}

} // namespace

void loadSampleFolders(CommandHost& host) {
    join::Trap trap(host, join::Procedure::LoadSampleFolders);
    trap.line(100, [&] { host.sourceList().append(host.programFolder() + "/Samples/Folder1"); });
    trap.line(102, [&] { host.sourceList().append(host.programFolder() + "/Samples/Folder2"); });
}

void clearList(CommandHost& host) {
    join::Trap trap(host, join::Procedure::ClearList);
    if (trap.test(100, [&] { return host.pointer() != join::Pointer::Hourglass; }))
        trap.line(100, [&] { host.sourceList().clear(); });
}

void removeOnDeleteKey(CommandHost& host, int key, std::optional<int> selectedIndex) {
    if (key != Qt::Key_Delete)
        return;
    removeSelected(host, selectedIndex);
}

void removeOnDoubleClick(CommandHost& host, std::optional<int> selectedIndex) {
    removeSelected(host, selectedIndex);
}

} // namespace sources
