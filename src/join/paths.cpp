#include "paths.h"

namespace join {

namespace {

// One left-to-right pass that turns each non-overlapping pair of separators into one.
void appendCollapsingPairs(std::string& out, const std::string& text, std::size_t from) {
    for (std::size_t i = from; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == Separator && i + 1 < text.size() && text[i + 1] == Separator)
            ++i;
    }
}

} // namespace

std::string NormalizePath(const std::string& path) {
    std::string result;
    result.reserve(path.size());
    if (path.empty() || path.front() != Separator) {
        appendCollapsingPairs(result, path, 0);
        return result;
    }
    // There is no network prefix here: the leading run, however long, is the root.
    const std::size_t rest = path.find_first_not_of(Separator);
    result += Separator;
    if (rest != std::string::npos)
        appendCollapsingPairs(result, path, rest);
    return result;
}

std::string LastPathPart(const std::string& path) {
    const std::size_t last = path.rfind(Separator);
    return last == std::string::npos ? path : path.substr(last + 1);
}

std::string DriveRoot(const std::string& path) {
    if (path.empty())
        return {};
    if (path.front() == Separator)
        return std::string(1, Separator);
    return path.substr(0, 1);
}

bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && path.back() == Separator;
}

} // namespace join
