#include "join/fs/targetnames.h"

#include "join/fs/exfatupcase.h"
#include "join/fs/paths.h"
#include "join/fs/utf8.h"

#include <cerrno>
#include <climits>
#include <locale.h>
#include <optional>
#include <string_view>
#include <wctype.h>

// The rules of names and times on a known target: what it refuses, what it takes as one name,
// the step it keeps times to, and the room a file takes there.
namespace join {

namespace {

constexpr std::int64_t Second = 1'000'000'000;

// FAT compares names through an upper-case table of its own; the C library's Unicode upper case
// stands in for it. Without a UTF-8 locale only ASCII letters are folded.
char32_t upperCase(char32_t point) {
    static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (unicode)
        return static_cast<char32_t>(::towupper_l(static_cast<wint_t>(point), unicode));
    return point >= 'a' && point <= 'z' ? point - 'a' + 'A' : point;
}

// Appends `point` as exFAT keys it: each of its UTF-16 units mapped through `table`. A pair of
// surrogates that the table leaves a pair stays one character; any other surrogate is kept as a
// unit of its own (encoded as UTF-8 would encode its number), which no character's key holds.
void appendExFatKey(std::string& key, const std::vector<char16_t>& table, char32_t point) {
    if (point < ExFatUpcaseUnits) {
        appendUtf8(key, table[point]);
        return;
    }
    const char16_t high = table[0xD800 + ((point - 0x10000) >> 10)];
    const char16_t low = table[0xDC00 + (point & 0x3FF)];
    if (high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(key, 0x10000 + ((char32_t{high} - 0xD800) << 10) + (low - 0xDC00));
    } else {
        appendUtf8(key, high);
        appendUtf8(key, low);
    }
}

// The first character of `name` that FAT and exFAT do not take in a name; 0 for a control
// character; nothing when it holds none.
std::optional<char> fatRefusedCharacter(const std::string& name) {
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20)
            return '\0';
        if (std::string_view(":?*\"<>|\\").find(c) != std::string_view::npos)
            return c;
    }
    return std::nullopt;
}

Reason nameReason(Reason::Code code, const TargetFileSystem& target, std::string text = {},
                  std::uint64_t count = 0) {
    return {code, 0, std::move(text), target.type, count};
}

} // namespace

const std::vector<char16_t>& standardExFatUpcaseTable() {
    static const std::vector<char16_t> table = [] {
        std::vector<char16_t> units(ExFatUpcaseUnits);
        for (std::size_t unit = 0; unit < ExFatUpcaseUnits; ++unit)
            units[unit] = static_cast<char16_t>(unit);
        for (const ExFatUpcaseRun& run : standardExFatUpcaseRuns())
            for (std::size_t k = 0; k < run.count; ++k) {
                const std::size_t unit = run.first + k * run.stride;
                units[unit] = static_cast<char16_t>(static_cast<std::int64_t>(unit) + run.delta);
            }
        return units;
    }();
    return table;
}

std::int64_t timeStepFromProbe(const struct timespec& set, const struct timespec& readBack) {
    if (readBack.tv_sec == set.tv_sec) {
        if (readBack.tv_nsec == set.tv_nsec)
            return 1;
        for (std::int64_t step = Second; step > 1; step /= 10)
            if (set.tv_nsec - set.tv_nsec % step == readBack.tv_nsec)
                return step;
        return 1;
    }
    if (set.tv_sec % 2 != 0 && readBack.tv_sec == set.tv_sec - 1 && readBack.tv_nsec == 0)
        return 2 * Second;
    return 1;
}

bool sameModificationTime(const struct timespec& source, const struct timespec& copy,
                          std::int64_t stepNs) {
    if (source.tv_sec == copy.tv_sec && source.tv_nsec == copy.tv_nsec)
        return true;
    if (stepNs > 1 && Second % stepNs == 0)
        return copy.tv_sec == source.tv_sec &&
               copy.tv_nsec == source.tv_nsec - source.tv_nsec % stepNs;
    if (stepNs > Second && stepNs % Second == 0) {
        const std::int64_t seconds = stepNs / Second;
        const std::int64_t past = (source.tv_sec % seconds + seconds) % seconds;
        return copy.tv_nsec == 0 && copy.tv_sec == source.tv_sec - past;
    }
    return false;
}

struct timespec keptTime(const struct timespec& time, std::int64_t stepNs) {
    struct timespec kept = time;
    if (stepNs > 1 && Second % stepNs == 0) {
        kept.tv_nsec = time.tv_nsec - time.tv_nsec % stepNs;
    } else if (stepNs > Second && stepNs % Second == 0) {
        const std::int64_t seconds = stepNs / Second;
        kept.tv_sec = time.tv_sec - (time.tv_sec % seconds + seconds) % seconds;
        kept.tv_nsec = 0;
    }
    return kept;
}

Failure targetNameFailure(const TargetFileSystem& target, const std::string& path,
                          const std::string& name, int error) {
    if (std::optional<Reason> refusal = pathRefusal(target, path))
        return copyFailure(path, std::move(*refusal));
    if (std::optional<Reason> refusal = nameRefusal(target, name))
        return copyFailure(path, std::move(*refusal));
    // A file system whose rules are not known here (a FUSE volume whose device cannot be read)
    // may still refuse what FAT refuses, answering as exfat-fuse does with "no such file" for a
    // name in a folder that is there.
    if (error == ENOENT || error == EINVAL || error == EILSEQ)
        if (const std::optional<char> held = fatRefusedCharacter(name))
            return copyFailure(path, nameReason(Reason::Code::NameNotTaken, target,
                                                *held ? std::string(1, *held) : std::string()));
    return copyFailure(path, error);
}

std::optional<Reason> nameRefusal(const TargetFileSystem& target, const std::string& name) {
    if (target.family == TargetFileSystem::Family::Other) {
        if (name.size() > target.nameMax)
            return nameReason(Reason::Code::NameLongerBytes, target, {}, target.nameMax);
        return std::nullopt;
    }
    if (const std::optional<char> held = fatRefusedCharacter(name))
        return *held ? nameReason(Reason::Code::NameHoldsCharacter, target, std::string(1, *held))
                     : nameReason(Reason::Code::NameHoldsControl, target);
    std::vector<char32_t> points;
    if (!decodeUtf8(name, points))
        return nameReason(Reason::Code::NameNotText, target);
    std::uint64_t units = 0;
    for (const char32_t point : points)
        units += point > 0xFFFF ? 2 : 1;
    if (units > target.nameMax)
        return nameReason(Reason::Code::NameLongerCharacters, target, {}, target.nameMax);
    return std::nullopt;
}

std::optional<Reason> pathRefusal(const TargetFileSystem& target, const std::string& path) {
    if (target.farEnd.empty() || !path.starts_with(target.examined) ||
        (path.size() > target.examined.size() && path[target.examined.size()] != '/' &&
         !target.examined.ends_with('/')))
        return std::nullopt;
    const std::size_t length = target.farEnd.size() + path.size() - target.examined.size();
    if (length < PATH_MAX)
        return std::nullopt;
    return nameReason(Reason::Code::PathLongerThere, target, {}, PATH_MAX - 1);
}

std::string nameKey(const TargetFileSystem& target, const std::string& name) {
    if (!target.caseInsensitive)
        return name;
    std::vector<char32_t> points;
    if (!decodeUtf8(name, points)) {
        std::string key = name;
        for (char& c : key)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return key;
    }
    std::string key;
    key.reserve(name.size());
    if (target.family == TargetFileSystem::Family::ExFat) {
        const std::vector<char16_t>& table =
            target.upcaseTable && target.upcaseTable->size() == ExFatUpcaseUnits
                ? *target.upcaseTable
                : standardExFatUpcaseTable();
        for (const char32_t point : points)
            appendExFatKey(key, table, point);
        return key;
    }
    for (const char32_t point : points)
        appendUtf8(key, upperCase(point));
    return key;
}

std::uint64_t spaceFor(const TargetFileSystem& target, std::uint64_t size) {
    if (target.blockSize == 0)
        return size;
    return (size + target.blockSize - 1) / target.blockSize * target.blockSize;
}

} // namespace join
