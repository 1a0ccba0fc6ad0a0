#include "join/failure.h"
#include "join/targetfs.h"
#include "support/testdir.h"

#include <gtest/gtest.h>
#include <string>

using join::TargetFileSystem;
using namespace std::string_literals;

namespace {

// A first sector with `text` at `offset` and, when `signed55AA`, the boot signature.
std::string sector(std::size_t offset, const std::string& text, bool signed55AA = true) {
    std::string bytes(512, '\0');
    bytes.replace(offset, text.size(), text);
    if (signed55AA) {
        bytes[510] = '\x55';
        bytes[511] = '\xAA';
    }
    return bytes;
}

TargetFileSystem fileSystem(TargetFileSystem::Family family, const std::string& type) {
    TargetFileSystem target;
    target.type = type;
    target.family = family;
    target.caseInsensitive = family != TargetFileSystem::Family::Other;
    return target;
}

} // namespace

TEST(TargetFileSystem, VolumeTypeFromItsFirstSector) {
    struct Row {
        const char* name;
        std::string sector;
        const char* type;
    } rows[] = {
        {"exFAT", sector(3, "EXFAT   "), "exfat"},
        {"FAT32", sector(82, "FAT32   "), "vfat"},
        {"FAT16", sector(54, "FAT16   "), "vfat"},
        {"FAT12", sector(54, "FAT12   "), "vfat"},
        {"NTFS", sector(3, "NTFS    "), "ntfs"},
        {"FAT32 text without the boot signature", sector(82, "FAT32   ", false), ""},
        {"ext4 (no signature of these)", sector(3, "mkfs.ext"), ""},
        {"a device that could not be read", "", ""},
        {"a short read",
         "\xEB\x76\x90"
         "EXF",
         ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(join::VolumeTypeFromBootSector(row.sector), row.type) << row.name;
}

TEST(TargetFileSystem, NamesRefusedAndNamesTakenAsOne) {
    const TargetFileSystem exfat = fileSystem(TargetFileSystem::Family::ExFat, "exfat");
    const TargetFileSystem vfat = fileSystem(TargetFileSystem::Family::Fat, "vfat");
    TargetFileSystem ext4 = fileSystem(TargetFileSystem::Family::Other, "ext4");
    const std::string units255 = std::string(253, 'a') + "\xC3\xA9" + "b";   // 255 characters
    const std::string units256 = std::string(254, 'a') + "\xF0\x9F\x98\x80"; // one pair: 256
    struct Row {
        const char* name;
        const TargetFileSystem& target;
        std::string file;
        const char* refusal;
    } rows[] = {
        {"colon on exFAT", exfat, "a:b", "holds \":\", which exfat does not allow in a name"},
        {"every forbidden character on FAT", vfat, "?*\"<>|\\", "holds \"?\", which vfat"},
        {"pipe", vfat, "a|b", "holds \"|\""},
        {"backslash", exfat, "a\\b", "holds \"\\\""},
        {"tab", exfat, "a\tb", "holds a control character"},
        {"DEL is allowed", exfat, "a\x7F", ""},
        {"not UTF-8", exfat, "caf\xE9", "is not UTF-8 text, which exfat cannot store"},
        {"255 UTF-16 units", exfat, units255, ""},
        {"256 UTF-16 units", exfat, units256, "is longer than the 255 characters exfat allows"},
        {"colon on ext4", ext4, "a:b", ""},
        {"255 bytes on ext4", ext4, std::string(255, 'x'), ""},
        {"256 bytes on ext4", ext4, std::string(256, 'x'), "is longer than the 255 bytes ext4"},
    };
    for (const Row& row : rows) {
        const std::string refusal = join::NameRefusal(row.target, row.file);
        if (std::string(row.refusal).empty())
            EXPECT_EQ(refusal, "") << row.name;
        else
            EXPECT_TRUE(refusal.starts_with(row.refusal)) << row.name << ": " << refusal;
    }

    EXPECT_EQ(join::NameKey(exfat, "Photo.JPG"), join::NameKey(exfat, "photo.jpg"));
    EXPECT_EQ(join::NameKey(vfat, "\xC3\x89t\xC3\xA9.txt"),
              join::NameKey(vfat, "\xC3\xA9T\xC3\x89.TXT"))
        << "É and é";
    EXPECT_NE(join::NameKey(exfat, "a.txt"), join::NameKey(exfat, "b.txt"));
    EXPECT_NE(join::NameKey(ext4, "Photo.JPG"), join::NameKey(ext4, "photo.jpg"));
}

TEST(TargetFileSystem, ExaminesATemporaryFolder) {
    testsupport::TestDir dir;
    const TargetFileSystem target = join::ExamineTargetFileSystem(dir.path());
    EXPECT_FALSE(target.type.empty());
    EXPECT_EQ(target.family, TargetFileSystem::Family::Other) << target.type;
    EXPECT_GT(target.freeBytes, 0u);
    EXPECT_GT(target.blockSize, 0u);
    EXPECT_THROW(join::ExamineTargetFileSystem(dir.path("missing")), join::Failure);
}
