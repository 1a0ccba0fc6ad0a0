#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// UTF-8 as names on disk hold it: read one code point at a time, or a whole name at once.
namespace join {

// A code point and the number of bytes (1 to 4) its UTF-8 form takes.
struct Utf8Point {
    char32_t point = 0;
    std::size_t length = 0;
};

// The code point that `text` begins with. nullopt when the bytes there are not UTF-8: a byte
// that cannot begin a sequence, a continuation byte missing or out of place, an overlong form,
// a surrogate or a number beyond U+10FFFF (or when `text` is empty).
std::optional<Utf8Point> decodeUtf8Point(std::string_view text);

// Every code point of `text`; false, with `points` holding those before it, at the first byte
// sequence that is not UTF-8.
bool decodeUtf8(std::string_view text, std::vector<char32_t>& points);

// Appends the UTF-8 form of `point`. A surrogate's number is encoded as any other, which no
// valid text holds.
void appendUtf8(std::string& text, char32_t point);

} // namespace join
