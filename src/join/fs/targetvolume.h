#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Reading a volume's own device, for what its mount does not tell: the type its first sector
// carries, and the up-case table an exFAT volume compares names through.
namespace join {

// The first sector of a block device, or "" when it cannot be read (reading a device usually
// takes root or the disk group).
std::string readBootSector(const std::string& device);

// "exfat", "vfat" or "ntfs" when `bootSector` (the first bytes of a volume) carries that
// signature; "" otherwise.
std::string volumeTypeFromBootSector(std::string_view bootSector);

// The up-case table of the exFAT volume on `volume`, a block device or an image file, as its
// drivers read it: decompressed, 65536 UTF-16 code units, those the table leaves out mapped to
// themselves. Null when it cannot be read, is no exFAT volume, or its table fails its checksum.
std::shared_ptr<const std::vector<char16_t>> readExFatUpcaseTable(const std::string& volume);

} // namespace join
