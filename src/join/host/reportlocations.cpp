#include "join/host/reportlocations.h"

#include <array>
#include <cstddef>
#include <iterator>

namespace join {

namespace {

constexpr std::string_view BuildDate = "2021/08/31";

struct Row {
    Procedure procedure;
    std::string_view project;
    std::string_view object;
    std::string_view name;
};

// One row per procedure, in the order of the enum.
constexpr Row Rows[] = {
    {Procedure::StartUp, "Brimvale", DesignedWindowName, "Form_Load"},
    {Procedure::BrowseForOutputFolder, "Brimvale", DesignedWindowName, "PushButton1_Click"},
    {Procedure::StartJoining, "Brimvale", DesignedWindowName, "PushButton2_Click"},
    {Procedure::AddFolder, "Brimvale", DesignedWindowName, "PushButton3_Click"},
    {Procedure::ShowHelp, "Brimvale", DesignedWindowName, "PushButton4_Click"},
    {Procedure::AddFolderTree, "Brimvale", DesignedWindowName, "PushButton5_Click"},
    {Procedure::LoadSampleFolders, "Brimvale", DesignedWindowName, "PushButton6_Click"},
    {Procedure::ClearList, "Brimvale", DesignedWindowName, "PushButton7_Click"},
    {Procedure::LoadListFiles, "Brimvale", DesignedWindowName, "PushButton10_Click"},
    // The walk's location carries another project name; users see it so.
    {Procedure::WalkSubfolders, "MerotanTitle", "AddFolder", "GetSubDirectories2016"},
    {Procedure::StoreOutputFolder, "Brimvale", DesignedWindowName, "Text2_Change"},
    {Procedure::StorePreserveOption, "Brimvale", DesignedWindowName, "Option1_Click"},
    {Procedure::StoreFlatOption, "Brimvale", DesignedWindowName, "Option2_Click"},
    {Procedure::AddDropped, "Brimvale", DesignedWindowName, "ListView1_DragDrop"},
};

constexpr bool rowsInEnumOrder() {
    for (std::size_t i = 0; i < std::size(Rows); ++i) {
        if (static_cast<std::size_t>(Rows[i].procedure) != i)
            return false;
    }
    return std::size(Rows) == static_cast<std::size_t>(Procedure::AddDropped) + 1;
}
static_assert(rowsInEnumOrder(), "one row per procedure, in the order of the enum");

std::string locationOf(const Row& row) {
    std::string text = "in ";
    text += row.project;
    text += BuildDate;
    text += '.';
    text += row.object;
    text += '.';
    text += row.name;
    text += ' ';
    return text;
}

} // namespace

const std::string& reportLocation(Procedure procedure) {
    static const auto locations = [] {
        std::array<std::string, std::size(Rows)> texts;
        for (std::size_t i = 0; i < texts.size(); ++i)
            texts[i] = locationOf(Rows[i]);
        return texts;
    }();
    return locations[static_cast<std::size_t>(procedure)];
}

} // namespace join
