#pragma once

#include <string>
#include <string_view>

namespace join {

// The platform's path separator; every rule about separators is written against it.
inline constexpr char Separator = '/';

// Collapses each non-overlapping pair of separators into one, in a single pass (a run of n
// separators becomes ceil(n/2)). A leading run of separators becomes a single "/".
std::string normalizePath(const std::string& path);

// The text after the last separator: the whole text when there is none, "" when it ends in one.
std::string lastPathPart(const std::string& path);

// The path without separators at its end, but "/" kept.
std::string withoutTrailingSeparators(std::string path);

// "/" for an absolute path; otherwise the first character ("" for an empty path).
std::string pathRoot(const std::string& path);

bool endsWithSeparator(const std::string& path);

// Resolves "." and ".." parts the way the path reads, without asking the file system: "/a/x/../"
// names "/a/", "/a/b/." names "/a/b". ".." at the root stays at the root; a relative path keeps
// the ".." parts it cannot resolve. A path without such parts comes back unchanged.
std::string resolveDotSegments(const std::string& path);

// Natural name order: digit runs compare by value ("2" < "10"; on equal value the shorter run
// first), other bytes by value with ASCII letters folded to lower case, and names still equal by
// their plain bytes.
bool naturalNameLess(std::string_view a, std::string_view b);

// A path or name as a report shows it: unchanged unless it holds a control character (below 32,
// DEL, or U+0080 to U+009F), else quoted as a shell reads it back, as `ls` quotes such names:
// the text in single quotes, each run of control characters as $'\n' (\a \b \t \n \v \f \r by
// their letters, the rest as octal bytes), a single quote as \'. So a name holding a line end
// cannot pass for a line of the report. Bytes that are not UTF-8 are left as they are.
std::string quotedForDisplay(std::string_view text);

} // namespace join
