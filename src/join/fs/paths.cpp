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

// The bytes of the control character that begins at `at`: 1 for one below 32 and DEL, 2 for one
// from U+0080 to U+009F in UTF-8, 0 where none begins.
std::size_t controlLength(std::string_view text, std::size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte == 0x7F)
        return 1;
    if (byte == 0xC2 && at + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[at + 1]);
        if (next >= 0x80 && next <= 0x9F)
            return 2;
    }
    return 0;
}

// Appends a byte as it stands inside $'...'.
void appendEscaped(std::string& out, unsigned char byte) {
    static constexpr std::string_view Letters = "abtnvfr"; // 7 to 13
    out += '\\';
    if (byte >= 7 && byte <= 13) {
        out += Letters[byte - 7];
        return;
    }
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

} // namespace

std::string quotedForDisplay(std::string_view text) {
    bool holdsControl = false;
    for (std::size_t at = 0; at < text.size() && !holdsControl; ++at)
        holdsControl = controlLength(text, at) > 0;
    if (!holdsControl)
        return std::string(text);
    // What is open at the end of `out`: nothing, single quotes, or $'...'.
    enum class Open { Nothing, Quotes, Escapes };
    std::string out = "'";
    Open open = Open::Quotes;
    for (std::size_t at = 0; at < text.size();) {
        if (const std::size_t length = controlLength(text, at)) {
            if (open == Open::Quotes)
                out += '\'';
            if (open != Open::Escapes)
                out += "$'";
            open = Open::Escapes;
            for (const char byte : text.substr(at, length))
                appendEscaped(out, static_cast<unsigned char>(byte));
            at += length;
            continue;
        }
        const char c = text[at++];
        if (open == Open::Escapes) {
            out += '\'';
            open = Open::Nothing;
        }
        if (c == '\'') {
            // No quote stands inside single quotes: they are closed around it.
            if (open == Open::Quotes)
                out += '\'';
            out += "\\'";
            open = Open::Nothing;
            continue;
        }
        if (open == Open::Nothing)
            out += '\'';
        out += c;
        open = Open::Quotes;
    }
    if (open != Open::Nothing)
        out += '\'';
    return out;
}

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
