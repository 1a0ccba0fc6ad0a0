#pragma once

#include "join/host.h"
#include "sourcelist.h"

#include <string>

namespace sources {

// Appends every line of a folder list file to the list, in file order. Lines end at LF, at CR,
// at CR LF or at the end of the file; a line end at the end of the file adds no empty item, a
// blank line inside it does. Lines are taken exactly as written (bytes kept, spaces kept). A
// UTF-8 byte-order mark at the start belongs to no line; a file that begins with a UTF-16 or
// UTF-32 byte-order mark is read as text in that form, its lines kept as UTF-8.
// Shows "File not found" when the file's date stamp cannot be read. Throws join::Failure when
// the file cannot be opened or read; the items read before the failure stay in the list.
void LoadListFromFile(SourceList& list, join::MessageSink& messages, const std::string& path);

// The same from an open descriptor of any kind (standard input, a pipe), read to its end or
// until a stop is asked for. `name` names it in failures.
void LoadListFromDescriptor(SourceList& list, int fd, const std::string& name);

} // namespace sources
