#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sources {

// The file-open dialog's answer as one selection string, the form the file command splits:
// one file gives its full path; several give the folder, then each name, separated by NUL
// characters. Files that do not all lie in one folder give an empty folder part followed by
// their full paths, which the file command's folder + "/" + name through normalizePath turns
// back into the same full paths. No file (cancel) gives "".
std::string makeSelectionString(const std::vector<std::string>& paths);

// The dialog's file-name buffer, in characters.
inline constexpr std::size_t MaxFileSize = 30000;

// Characters the selection takes in the dialog's buffer: every character of the selection
// string (UTF-8 bytes, the code page's own units), its NUL separators, and the terminating NULs
// (one after a single path, two after a folder-and-names list). "" takes none.
std::size_t selectionBufferLength(const std::string& selection);

// Throws join::Failure 20476 (buffer too small) when the selection does not fit MaxFileSize.
void checkSelectionFits(const std::string& selection);

// The selection string's parts, split at every NUL; none for "".
std::vector<std::string> splitSelection(const std::string& selection);

} // namespace sources
