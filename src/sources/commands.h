#pragma once

#include "commandhost.h"

#include <QtCore/qnamespace.h>
#include <optional>

// The commands that fill and empty the source list. Each is a plain procedure over the window's
// CommandHost; the trapped ones report unexpected failures with their own location and line.
namespace sources {

// "Add Folder(s)": adds the one folder the user picks, ending with "/".
void addFolder(CommandHost& host);

// The item "Add Folder(s)" appends for a chosen folder: normalised, ending with "/" (a root
// keeps its single "/").
std::string folderItemText(const std::string& chosen);

// "Add All Subfolders In Folder": adds the picked folder, then every folder below it,
// breadth-first by level.
void addFolderTree(CommandHost& host);

// "Load Sample/Example Folders": appends the two sample folders beside the program.
void loadSampleFolders(CommandHost& host);

// "Clear List": empties the list unless the window is busy.
void clearList(CommandHost& host);

// "Load List Of Folders From File": the layout note, the multi-file dialog, then every line of
// every picked file.
void loadListFiles(CommandHost& host);

// Delete key in the list (any modifiers): removes the selected item, numbered from 1, unless
// the window is busy. Every other key is left to the list control. (Key code 46 of other
// platforms is Qt's Key_Period, so only Qt::Key_Delete counts.)
void removeOnDeleteKey(CommandHost& host, int key, std::optional<int> selectedIndex);

// Double-click in the list: removes the selected item, numbered from 1, unless the window is
// busy. Where the click landed does not matter.
void removeOnDoubleClick(CommandHost& host, std::optional<int> selectedIndex);

} // namespace sources
