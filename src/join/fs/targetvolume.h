#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// Reading a volume's own device, for what its mount does not tell: the type its first sector
// carries, and the up-case table an exFAT volume compares names through; and, before the device,
// the type udev found on it, which every user may read.
namespace join {

// Where udev keeps what it found on each device, a file per device, readable by every user.
inline constexpr const char* UdevDataFolder = "/run/udev/data";

// The file-system type ("exfat", "vfat", "ntfs") that the udev database in the folder `udevData`
// names for the block device numbered `device`: the line "E:ID_FS_TYPE=exfat" of its file
// "b8:17". "" when it names none or cannot be read.
std::string volumeTypeFromUdev(const std::string& udevData, dev_t device);

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
