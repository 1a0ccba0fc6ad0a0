#pragma once

// What a contender's output must hold, worked out from the source data by plain code that shares
// nothing with the engine, and the check of an output against it. A copy that leaves files out,
// writes them short or copies the wrong one of a name would otherwise only look fast.
//
// Only folders and regular files are modelled: the bench data holds no links, no names beginning
// with "~" and none of the names the engine's walk leaves out (bad characters, 260 bytes or more).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace benchcheck {

namespace fs = std::filesystem;

// Natural name order, written out again so that the reference owes nothing to the engine: digit
// runs compare by value (on equal value the shorter run first), other bytes with ASCII letters
// folded to lower case, names still equal by their plain bytes.
inline bool naturalLess(std::string_view a, std::string_view b) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto lower = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 'A' && byte <= 'Z' ? byte + 32u : unsigned{byte};
    };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && digit(a[endA]))
                ++endA;
            while (endB < b.size() && digit(b[endB]))
                ++endB;
            std::string_view valueA = a.substr(i, endA - i);
            std::string_view valueB = b.substr(j, endB - j);
            while (valueA.size() > 1 && valueA[0] == '0')
                valueA.remove_prefix(1);
            while (valueB.size() > 1 && valueB[0] == '0')
                valueB.remove_prefix(1);
            if (valueA.size() != valueB.size())
                return valueA.size() < valueB.size();
            if (valueA != valueB)
                return valueA < valueB;
            if (endA - i != endB - j)
                return endA - i < endB - j;
            i = endA;
            j = endB;
        } else if (lower(a[i]) != lower(b[j])) {
            return lower(a[i]) < lower(b[j]);
        } else {
            ++i;
            ++j;
        }
    }
    if (i < a.size() || j < b.size())
        return j < b.size();
    return a < b;
}

// A path the output must hold: a folder, or a file with the source files that write it in
// processing order (the last one is what a join leaves) and their sizes.
struct Item {
    bool folder = false;
    std::vector<std::pair<fs::path, std::uintmax_t>> from;
};

// Paths relative to the output folder, "/" between parts.
using Expected = std::map<std::string, Item>;

inline std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Each entry copied whole into OUTPUT/NAME, NAME being the entry's own folder name.
inline Expected expectPreserved(const std::vector<std::string>& entries) {
    Expected expected;
    for (const auto& entry : entries) {
        const fs::path top = withoutTrailingSeparators(entry);
        const std::string name = top.filename().string();
        expected[name].folder = true;
        for (const auto& found : fs::recursive_directory_iterator(top)) {
            const std::string path = name + found.path().string().substr(top.string().size());
            const auto type = found.symlink_status().type();
            if (type == fs::file_type::directory)
                expected[path].folder = true;
            else if (type == fs::file_type::regular)
                expected[path].from.emplace_back(found.path(), found.file_size());
        }
    }
    return expected;
}

// Every file directly into the output folder. Processing order: entries in list order; within
// an entry its folder and then the folders below it breadth-first, each folder's subfolders in
// natural order; a folder's files in natural order, names beginning with "~" left out.
inline Expected expectFlat(const std::vector<std::string>& entries) {
    Expected expected;
    for (const auto& entry : entries) {
        std::vector<fs::path> level{withoutTrailingSeparators(entry)};
        while (!level.empty()) {
            std::vector<fs::path> below;
            for (const auto& folder : level) {
                std::vector<fs::directory_entry> children(fs::directory_iterator(folder), {});
                std::sort(children.begin(), children.end(), [](const auto& x, const auto& y) {
                    return naturalLess(x.path().filename().string(), y.path().filename().string());
                });
                for (const auto& child : children) {
                    const std::string name = child.path().filename().string();
                    const auto type = child.symlink_status().type();
                    if (type == fs::file_type::directory)
                        below.push_back(child.path());
                    else if (type == fs::file_type::regular && name[0] != '~')
                        expected[name].from.emplace_back(child.path(), child.file_size());
                }
            }
            level = std::move(below);
        }
    }
    return expected;
}

struct Totals {
    std::uintmax_t files = 0, folders = 0, bytes = 0;
};

inline Totals totalsOf(const Expected& expected) {
    Totals totals;
    for (const auto& [path, item] : expected) {
        totals.folders += item.folder;
        totals.files += !item.folder;
        totals.bytes += item.folder ? 0 : item.from.back().second;
    }
    return totals;
}

// Reads until the buffer is full or the file ends: the count read, -1 on an error.
inline ssize_t readFull(int file, std::vector<char>& buffer) {
    std::size_t got = 0;
    while (got < buffer.size()) {
        const ssize_t more = ::read(file, buffer.data() + got, buffer.size() - got);
        if (more < 0)
            return -1;
        if (more == 0)
            break;
        got += static_cast<std::size_t>(more);
    }
    return static_cast<ssize_t>(got);
}

// Byte for byte. Both files are still in the page cache after a run, so this costs little beside
// the copy that wrote them.
inline bool sameContent(const fs::path& a, const fs::path& b) {
    static std::vector<char> bufferA(1 << 20), bufferB(1 << 20);
    const int fileA = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
    const int fileB = ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
    bool same = fileA >= 0 && fileB >= 0;
    while (same) {
        const ssize_t gotA = readFull(fileA, bufferA);
        const ssize_t gotB = readFull(fileB, bufferB);
        same = gotA >= 0 && gotA == gotB &&
               std::memcmp(bufferA.data(), bufferB.data(), static_cast<std::size_t>(gotA)) == 0;
        if (gotA <= 0)
            break;
    }
    if (fileA >= 0)
        ::close(fileA);
    if (fileB >= 0)
        ::close(fileB);
    return same;
}

// Which source file a name that several write must hold.
enum class Winner {
    Last,         // the last in processing order, as a join leaves it
    AnyOfTheName, // any one of them, whole: for a tool whose order is the directory's own
};

// Empty when the output holds exactly the expected folders and files, each with the size and
// bytes of its source; otherwise the first difference in path order and how many there are.
inline std::string differences(const fs::path& output, const Expected& expected, Winner winner) {
    struct Found {
        bool folder;
        std::uintmax_t size;
    };
    std::map<std::string, Found> found;
    const std::string top = withoutTrailingSeparators(output.string());
    std::error_code error;
    for (fs::recursive_directory_iterator it(top, error), end; !error && it != end;
         it.increment(error)) {
        const std::string path = it->path().string().substr(top.size() + 1);
        const auto type = it->symlink_status().type();
        found[path] = {type == fs::file_type::directory,
                       type == fs::file_type::regular ? it->file_size() : 0};
        if (type != fs::file_type::directory && type != fs::file_type::regular)
            found[path].size = UINTMAX_MAX; // matches no source file
    }
    if (error)
        return "cannot read " + top + ": " + error.message();

    std::string first;
    std::size_t missing = 0, extra = 0, wrong = 0;
    const auto note = [&](std::size_t& count, const std::string& text) {
        ++count;
        if (first.empty())
            first = text;
    };
    auto want = expected.begin();
    auto have = found.begin();
    while (want != expected.end() || have != found.end()) {
        if (have == found.end() || (want != expected.end() && want->first < have->first)) {
            note(missing, "missing " + want->first + (want->second.folder ? "/" : ""));
            ++want;
            continue;
        }
        if (want == expected.end() || have->first < want->first) {
            note(extra, "extra " + have->first + (have->second.folder ? "/" : ""));
            ++have;
            continue;
        }
        const Item& item = want->second;
        const std::string& path = want->first;
        const Found& got = have->second;
        ++want;
        ++have;
        if (item.folder || got.folder) {
            if (item.folder != got.folder)
                note(wrong, path + " is " + (got.folder ? "a folder" : "not a folder") +
                                ", expected " + (item.folder ? "a folder" : "a file"));
            continue;
        }
        const auto sources = winner == Winner::Last ? std::vector{item.from.back()} : item.from;
        const auto sized = [&](const auto& source) { return source.second == got.size; };
        const auto same = [&](const auto& source) {
            return sized(source) && sameContent(source.first, top + "/" + path);
        };
        if (std::none_of(sources.begin(), sources.end(), sized))
            note(wrong, path + " holds " + std::to_string(got.size) + " bytes, expected " +
                            std::to_string(sources.back().second) + " (" +
                            sources.back().first.string() + ")");
        else if (std::none_of(sources.begin(), sources.end(), same))
            note(wrong, path + " differs from " + sources.back().first.string());
    }
    if (first.empty())
        return {};
    return first + " (" + std::to_string(missing) + " missing, " + std::to_string(extra) +
           " extra, " + std::to_string(wrong) + " wrong; " + std::to_string(found.size()) +
           " paths found, " + std::to_string(expected.size()) + " expected)";
}

} // namespace benchcheck
