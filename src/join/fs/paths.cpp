#include "join/fs/paths.h"

#include <vector>

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

std::string normalizePath(const std::string& path) {
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

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == Separator)
        path.pop_back();
    return path;
}

std::string lastPathPart(const std::string& path) {
    const std::size_t last = path.rfind(Separator);
    return last == std::string::npos ? path : path.substr(last + 1);
}

std::string pathRoot(const std::string& path) {
    if (path.empty())
        return {};
    if (path.front() == Separator)
        return std::string(1, Separator);
    return path.substr(0, 1);
}

bool endsWithSeparator(const std::string& path) {
    return !path.empty() && path.back() == Separator;
}

std::string resolveDotSegments(const std::string& path) {
    std::vector<std::string_view> parts;
    bool dotted = false;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(Separator, start);
        if (end == std::string::npos)
            end = path.size();
        const std::string_view part(path.data() + start, end - start);
        dotted = dotted || part == "." || part == "..";
        parts.push_back(part);
        start = end + 1;
    }
    if (!dotted)
        return path;

    const bool absolute = !path.empty() && path.front() == Separator;
    std::vector<std::string_view> kept;
    for (const std::string_view part : parts) {
        if (part.empty() || part == ".")
            continue;
        if (part == ".." && !kept.empty() && kept.back() != "..")
            kept.pop_back();
        else if (part != ".." || !absolute)
            kept.push_back(part);
    }
    std::string resolved = absolute ? std::string(1, Separator) : std::string();
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0)
            resolved += Separator;
        resolved += kept[i];
    }
    if (resolved.empty())
        resolved = ".";
    if (endsWithSeparator(path) && !endsWithSeparator(resolved))
        resolved += Separator;
    return resolved;
}

bool naturalNameLess(std::string_view a, std::string_view b) {
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const auto folded = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte;
    };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            // Compare values without converting: skip leading zeros, then the longer run is
            // larger, then digit by digit.
            std::size_t valueA = i;
            std::size_t valueB = j;
            while (valueA + 1 < endA && a[valueA] == '0')
                ++valueA;
            while (valueB + 1 < endB && b[valueB] == '0')
                ++valueB;
            if (endA - valueA != endB - valueB)
                return endA - valueA < endB - valueB;
            const int digits =
                a.substr(valueA, endA - valueA).compare(b.substr(valueB, endB - valueB));
            if (digits != 0)
                return digits < 0;
            if (endA - i != endB - j)
                return endA - i < endB - j;
            i = endA;
            j = endB;
            continue;
        }
        const unsigned x = folded(a[i]);
        const unsigned y = folded(b[j]);
        if (x != y)
            return x < y;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return j < b.size();
    return a < b;
}

} // namespace join
