#pragma once

#include <string>

namespace join {

// The platform's path separator; every rule about separators is written against it.
inline constexpr char Separator = '/';

// Collapses each non-overlapping pair of separators into one, in a single pass (a run of n
// separators becomes ceil(n/2)). A leading run of separators becomes a single "/".
std::string NormalizePath(const std::string& path);

// The text after the last separator: the whole text when there is none, "" when it ends in one.
std::string LastPathPart(const std::string& path);

// "/" for an absolute path; otherwise the first character ("" for an empty path).
std::string DriveRoot(const std::string& path);

bool EndsWithSeparator(const std::string& path);

} // namespace join
