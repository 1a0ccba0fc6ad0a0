#pragma once

#include <string>
#include <string_view>

namespace join {

// Every procedure whose failures the error report names.
enum class Procedure {
    StartUp,
    BrowseForOutputFolder,
    StartJoining,
    AddFolder,
    ShowHelp,
    AddFolderTree,
    LoadSampleFolders,
    ClearList,
    LoadListFiles,
    WalkSubfolders,
    StoreOutputFolder,
    StorePreserveOption,
    StoreFlatOption,
    AddDropped,
};

// The location the error report shows for a failure in `procedure`, "in " + project + build
// date + "." + object + "." + procedure name + " ". Users quote it back to support, so it keeps
// the names the procedures were designed under, byte for byte; they are data here, in one table
// (reportlocations.cpp), and nowhere else.
const std::string& reportLocation(Procedure procedure);

// The main window's designed name: the object its procedures' locations name, also the window's
// object name (the skin selects by it) and its caption until start-up gives it the title.
inline constexpr std::string_view DesignedWindowName = "Form1";

} // namespace join
