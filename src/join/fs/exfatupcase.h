#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace join {

// An exFAT up-case table maps every UTF-16 code unit: 65536 of them.
inline constexpr std::size_t ExFatUpcaseUnits = 0x10000;

// A run of UTF-16 code units that exFAT's standard up-case table maps alike: `count` units from
// `first` on, `stride` apart (1, or 2 where upper and lower case alternate), each mapped to itself
// plus `delta`.
struct ExFatUpcaseRun {
    char16_t first;
    std::uint16_t count;
    std::uint8_t stride;
    std::int32_t delta;
};

// The up-case table mkfs.exfat writes on every volume it makes, as runs sorted by their first
// unit; every unit in none of them maps to itself. Made by tools/exfat-upcase.py
// (exfatupcase.cpp).
std::span<const ExFatUpcaseRun> standardExFatUpcaseRuns();

} // namespace join
