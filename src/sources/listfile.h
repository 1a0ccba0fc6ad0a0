#pragma once

#include "join/host.h"
#include "sourcelist.h"

#include <string>

namespace sources {

// Appends every piece of a folder list file to the list, in file order. Lines end at CR, at
// CR LF or at the end of the file, and every LF inside a line ends a piece as well; pieces are
// taken exactly as written (bytes kept, spaces kept, empty pieces become empty items). A final
// CR or CR LF adds no empty item; a final LF does.
// Shows "File not found" when the file's date stamp cannot be read. Throws join::Failure when
// the file cannot be opened or read; the items read before the failure stay in the list.
void LoadListFromFile(SourceList& list, join::MessageSink& messages, const std::string& path);

} // namespace sources
