#include "join/fs/targetvolume.h"

#include "join/fs/exfatupcase.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// Reading a volume's own device: its first sector, the type that sector carries, and exFAT's
// up-case table as the volume stores it; and the type udev's database names for the device.
namespace join {

namespace {

constexpr std::size_t BootSectorSize = 512;

std::uint32_t littleEndian32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint64_t littleEndian64(const unsigned char* bytes) {
    return littleEndian32(bytes) | static_cast<std::uint64_t>(littleEndian32(bytes + 4)) << 32;
}

// Reads exactly `size` bytes at `offset`; false on an error or a short read.
bool readExactly(int fd, std::uint64_t offset, unsigned char* into, std::size_t size) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, into, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        into += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// The up-case table of the exFAT volume open as `fd`: the boot sector leads to the root
// directory, which is followed through the FAT to the table's entry (type 0x82); the table is
// read from its first cluster on, as Linux's exfat and exfat-fuse read it.
std::shared_ptr<const std::vector<char16_t>> readUpcaseTable(int fd) {
    unsigned char boot[BootSectorSize];
    if (!readExactly(fd, 0, boot, sizeof boot) ||
        volumeTypeFromBootSector(
            std::string_view(reinterpret_cast<const char*>(boot), sizeof boot)) != "exfat")
        return nullptr;
    const std::uint64_t fatOffset = littleEndian32(boot + 80);
    const std::uint64_t heapOffset = littleEndian32(boot + 88);
    const std::uint32_t clusterCount = littleEndian32(boot + 92);
    const std::uint32_t rootCluster = littleEndian32(boot + 96);
    const unsigned sectorShift = boot[108];
    const unsigned clusterShift = boot[109];
    if (sectorShift < 9 || sectorShift > 12 || sectorShift + clusterShift > 25)
        return nullptr;
    const std::uint64_t sectorSize = std::uint64_t{1} << sectorShift;
    const std::uint64_t clusterSize = sectorSize << clusterShift;
    const auto isCluster = [&](std::uint64_t cluster) {
        return cluster >= 2 && cluster - 2 < clusterCount;
    };
    const auto clusterOffset = [&](std::uint64_t cluster) {
        return heapOffset * sectorSize + (cluster - 2) * clusterSize;
    };

    // The root directory, one cluster after another, up to its end or the table's entry.
    std::vector<unsigned char> cluster(clusterSize);
    const unsigned char* entry = nullptr;
    std::uint64_t at = rootCluster;
    for (std::uint64_t walked = 0; isCluster(at) && walked < clusterCount; ++walked) {
        if (!readExactly(fd, clusterOffset(at), cluster.data(), cluster.size()))
            return nullptr;
        bool ended = false;
        for (std::size_t offset = 0; offset < cluster.size() && !entry && !ended; offset += 32) {
            ended = cluster[offset] == 0x00;
            if (cluster[offset] == 0x82)
                entry = cluster.data() + offset;
        }
        if (entry || ended)
            break;
        unsigned char next[4];
        if (!readExactly(fd, fatOffset * sectorSize + 4 * at, next, sizeof next))
            return nullptr;
        at = littleEndian32(next);
    }
    if (!entry)
        return nullptr;
    const std::uint32_t checksum = littleEndian32(entry + 4);
    const std::uint32_t firstCluster = littleEndian32(entry + 20);
    const std::uint64_t length = littleEndian64(entry + 24);
    if (!isCluster(firstCluster) || length == 0 || length % 2 != 0 ||
        length > 2 * ExFatUpcaseUnits || !isCluster(firstCluster + (length - 1) / clusterSize))
        return nullptr;
    std::vector<unsigned char> stored(length);
    if (!readExactly(fd, clusterOffset(firstCluster), stored.data(), stored.size()))
        return nullptr;
    std::uint32_t sum = 0;
    for (const unsigned char byte : stored)
        sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + byte;
    if (sum != checksum)
        return nullptr;

    // 0xFFFF and a count stand for that many units that map to themselves.
    auto table = std::make_shared<std::vector<char16_t>>(ExFatUpcaseUnits);
    for (std::size_t unit = 0; unit < ExFatUpcaseUnits; ++unit)
        (*table)[unit] = static_cast<char16_t>(unit);
    std::size_t index = 0;
    bool run = false;
    for (std::size_t offset = 0; offset < stored.size() && index < ExFatUpcaseUnits; offset += 2) {
        const auto unit = static_cast<char16_t>(stored[offset] | stored[offset + 1] << 8);
        if (run) {
            index += unit;
            run = false;
        } else if (unit == index) {
            ++index;
        } else if (unit == 0xFFFF) {
            run = true;
        } else {
            (*table)[index++] = unit;
        }
    }
    return table;
}

} // namespace

// The first sector of a block device, or "" when it cannot be read (reading a device usually
// takes root or the disk group).
std::string readBootSector(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string sector(BootSectorSize, '\0');
    struct stat info {};
    ssize_t got = -1;
    if (::fstat(fd, &info) == 0 && S_ISBLK(info.st_mode))
        got = ::pread(fd, sector.data(), sector.size(), 0);
    ::close(fd);
    if (got < 0)
        return {};
    sector.resize(static_cast<std::size_t>(got));
    return sector;
}

std::string volumeTypeFromUdev(const std::string& udevData, dev_t device) {
    const std::string path =
        udevData + "/b" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::ifstream data(path);
    constexpr std::string_view Key = "E:ID_FS_TYPE=";
    for (std::string line; std::getline(data, line);)
        if (line.starts_with(Key))
            return line.substr(Key.size());
    return {};
}

std::string volumeTypeFromBootSector(std::string_view sector) {
    const auto at = [&](std::size_t offset, std::string_view text) {
        return sector.size() >= offset + text.size() && sector.substr(offset, text.size()) == text;
    };
    if (at(3, "EXFAT   "))
        return "exfat";
    if (at(3, "NTFS    "))
        return "ntfs";
    // FAT carries its type text at 54 (FAT12/16) or 82 (FAT32), and the boot signature.
    const bool signed55AA = sector.size() >= BootSectorSize &&
                            static_cast<unsigned char>(sector[510]) == 0x55 &&
                            static_cast<unsigned char>(sector[511]) == 0xAA;
    if (signed55AA &&
        (at(54, "FAT12   ") || at(54, "FAT16   ") || at(54, "FAT     ") || at(82, "FAT32   ")))
        return "vfat";
    return {};
}

std::shared_ptr<const std::vector<char16_t>> readExFatUpcaseTable(const std::string& volume) {
    const int fd = ::open(volume.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    std::shared_ptr<const std::vector<char16_t>> table;
    if (::fstat(fd, &info) == 0 && (S_ISBLK(info.st_mode) || S_ISREG(info.st_mode)))
        table = readUpcaseTable(fd);
    ::close(fd);
    return table;
}

} // namespace join
