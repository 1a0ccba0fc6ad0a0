#pragma once

#include "commandhost.h"

#include <QList>
#include <QUrl>
#include <string>
#include <vector>

namespace sources {

// What a drop on the source list holds, decided from its addresses alone.
enum class DropKind {
    // Local folders only: each is added as "Add Folder(s)" adds a picked one.
    Folders,
    // One local text file: loaded as "Load List Of Folders From File" loads one picked file.
    ListFile,
    // Anything else: another kind of file, a mix, an address that is not a local file, nothing.
    Refused,
};

struct Drop {
    DropKind kind = DropKind::Refused;
    // The file-system paths, in the order dropped; empty when refused.
    std::vector<std::string> paths;
};

// Reads the addresses of a drop (text/uri-list: file:// URLs, as file managers send them).
// Names are taken as the file system's own bytes, percent-encoded bytes that are not UTF-8
// included.
Drop readDrop(const QList<QUrl>& urls);

// Whether the list takes the drop now: never a refused one, and none while the window is busy,
// as the Delete key and "Clear List" do nothing then.
bool takesDrop(const CommandHost& host, const Drop& drop);

// A drop on the list: the folders appended in the order dropped, each ending with "/", under
// the busy pointer; or the list file loaded, with the one message that names its lines that name
// no folder. Nothing happens when the list does not take the drop.
void addDropped(CommandHost& host, const Drop& drop);

} // namespace sources
