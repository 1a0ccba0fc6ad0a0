#include "join/fs/failure.h"
#include "join/fs/targetfs.h"
#include "join/fs/targetnames.h"
#include "join/fs/targetvolume.h"
#include "support/testdir.h"
#include "test_childprocess.h"
#include "words/words.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <locale.h>
#include <optional>
#include <span>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>
#include <wctype.h>

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

// A UTF-16 code unit (a BMP code point) as UTF-8.
std::string utf8(char32_t point) {
    std::string text;
    if (point < 0x80) {
        text += static_cast<char>(point);
    } else if (point < 0x800) {
        text += static_cast<char>(0xC0 | (point >> 6));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | (point >> 12));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    }
    return text;
}

std::vector<char16_t> identityTable() {
    std::vector<char16_t> table(0x10000);
    for (std::size_t unit = 0; unit < table.size(); ++unit)
        table[unit] = static_cast<char16_t>(unit);
    return table;
}

// exFAT's checksum of the up-case table as stored.
std::uint32_t tableChecksum(const std::string& bytes) {
    std::uint32_t sum = 0;
    for (const char byte : bytes)
        sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + static_cast<unsigned char>(byte);
    return sum;
}

void putLittleEndian(std::string& bytes, std::size_t at, std::uint64_t value, int size = 4) {
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
}

struct Volume {
    // The up-case table as stored, compressed or not: a view of one the test holds. GCC 12 at -O3
    // warns falsely that a copy in a table of rows may be destroyed uninitialized.
    std::span<const char16_t> stored;
    int checksumOff = 0; // added to the right checksum
    bool withTableEntry = true;
    std::size_t cutTo = 0; // the image's length when not 0
    const char* bootText = "EXFAT   ";
};

// An exFAT volume small enough to write by hand, in `path`: 512-byte sectors and clusters, the FAT
// in sector 1, 400 clusters from sector 2. The root directory takes clusters 2 and 5, joined in
// the FAT; its first cluster is full of deleted entries, so the table's entry is found only by
// following the FAT. The table starts at cluster 6.
void writeVolume(const std::string& path, const Volume& volume) {
    constexpr std::size_t Sector = 512;
    const auto clusterAt = [](std::size_t cluster) { return cluster * Sector; };
    std::string image(Sector * 402, '\0');
    image.replace(3, 8, volume.bootText);
    putLittleEndian(image, 80, 1);   // FAT offset
    putLittleEndian(image, 84, 1);   // FAT length
    putLittleEndian(image, 88, 2);   // cluster heap offset
    putLittleEndian(image, 92, 400); // cluster count
    putLittleEndian(image, 96, 2);   // root directory
    image[108] = 9;                  // 512-byte sectors
    image[109] = 0;                  // one sector a cluster
    image[110] = 1;                  // one FAT
    image[510] = '\x55';
    image[511] = '\xAA';
    putLittleEndian(image, Sector + 4 * 2, 5);
    putLittleEndian(image, Sector + 4 * 5, 0xFFFFFFFF);
    for (std::size_t entry = 0; entry < Sector; entry += 32)
        image[clusterAt(2) + entry] = '\x05';
    std::string stored;
    for (const char16_t unit : volume.stored) {
        stored += static_cast<char>(unit & 0xFF);
        stored += static_cast<char>(unit >> 8);
    }
    if (volume.withTableEntry) {
        const std::size_t entry = clusterAt(5);
        image[entry] = '\x82';
        putLittleEndian(image, entry + 4,
                        tableChecksum(stored) + static_cast<std::uint32_t>(volume.checksumOff));
        putLittleEndian(image, entry + 20, 6);
        putLittleEndian(image, entry + 24, stored.size(), 8);
    }
    image.replace(clusterAt(6), stored.size(), stored);
    if (volume.cutTo != 0)
        image.resize(volume.cutTo);
    std::ofstream(path, std::ios::binary) << image;
}

// Runs a command through the shell with the system folders that hold mkfs tools on its path; its
// exit status.
int runTool(const std::string& command) {
    return std::system(("PATH=\"$PATH:/usr/sbin:/sbin\" " + command + " >/dev/null 2>&1").c_str());
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
        EXPECT_EQ(join::volumeTypeFromBootSector(row.sector), row.type) << row.name;
}

// udev's database names a block device's file-system type to every user, in a file per device.
TEST(TargetFileSystem, VolumeTypeFromUdevsDatabase) {
    testsupport::TestDir udev;
    udev.write("b7:0", "S:disk/by-uuid/1234-ABCD\nE:ID_FS_UUID=1234-ABCD\nE:ID_FS_TYPE=exfat\n"
                       "E:ID_FS_USAGE=filesystem\n");
    udev.write("b8:17", "E:ID_FS_TYPE=vfat");
    udev.write("b259:300", "E:ID_FS_TYPE=ntfs\n");
    udev.write("b7:1", "E:ID_FS_USAGE=filesystem\nE:ID_FS_TYPE_NEW=exfat\n");
    udev.write("b7:2", "E:ID_FS_TYPE=\n");
    udev.write("c7:4", "E:ID_FS_TYPE=exfat\n");
    struct Row {
        const char* name;
        unsigned major;
        unsigned minor;
        const char* type;
    } rows[] = {
        {"among the device's other lines", 7, 0, "exfat"},
        {"the only line, no line end", 8, 17, "vfat"},
        {"a major and a minor past 255", 259, 300, "ntfs"},
        {"another key that begins alike", 7, 1, ""},
        {"an empty type", 7, 2, ""},
        {"no file for the device", 7, 3, ""},
        {"only a character device of its numbers", 7, 4, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(join::volumeTypeFromUdev(udev.path(), makedev(row.major, row.minor)), row.type)
            << row.name;
    EXPECT_EQ(join::volumeTypeFromUdev(udev.path("missing"), makedev(7, 0)), "");
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
        const std::optional<join::Reason> reason = join::nameRefusal(row.target, row.file);
        // The words that follow "the name ".
        const std::string refusal =
            reason ? words::reasonText(*reason).substr(std::string("the name ").size()) : "";
        if (std::string(row.refusal).empty())
            EXPECT_EQ(refusal, "") << row.name;
        else
            EXPECT_TRUE(refusal.starts_with(row.refusal)) << row.name << ": " << refusal;
    }

    EXPECT_EQ(join::nameKey(exfat, "Photo.JPG"), join::nameKey(exfat, "photo.jpg"));
    EXPECT_EQ(join::nameKey(vfat, "\xC3\x89t\xC3\xA9.txt"),
              join::nameKey(vfat, "\xC3\xA9T\xC3\x89.TXT"))
        << "É and é";
    EXPECT_NE(join::nameKey(exfat, "a.txt"), join::nameKey(exfat, "b.txt"));
    EXPECT_NE(join::nameKey(ext4, "Photo.JPG"), join::nameKey(ext4, "photo.jpg"));
}

// Why a write into the output failed, where the file system's answer may stand for a name it
// refuses: by its rules where they are known, by the character FAT refuses where they are not.
TEST(TargetFileSystem, AWriteFailureSaysWhichNameWasRefused) {
    const TargetFileSystem exfat = fileSystem(TargetFileSystem::Family::ExFat, "exfat");
    const TargetFileSystem fuseblk = fileSystem(TargetFileSystem::Family::Other, "fuseblk");
    const TargetFileSystem ext4 = fileSystem(TargetFileSystem::Family::Other, "ext4");
    // A share whose far end serves "out" as a folder 4000 bytes long.
    TargetFileSystem sshfs = fileSystem(TargetFileSystem::Family::Other, "sshfs");
    sshfs.examined = "out";
    sshfs.farEnd = "/" + std::string(3999, 'f');
    struct Row {
        const char* name;
        const TargetFileSystem& target;
        std::string file;
        int error;
        std::string description;
    } rows[] = {
        {"known rules", exfat, "a:b", ENOENT,
         "out/a:b: the name holds \":\", which exfat does not allow in a name"},
        {"rules not known: no such file", fuseblk, "a:b", ENOENT,
         "out/a:b: the name holds \":\", which the output's file system (fuseblk) does not take"},
        {"rules not known: invalid argument", fuseblk, "a\tb", EINVAL,
         "'out/a'$'\\t''b': the name holds a control character, which the output's file system "
         "(fuseblk) does not take"},
        {"rules not known: a name FAT takes", fuseblk, "plain", ENOENT,
         "out/plain: Path not found"},
        {"rules not known: another failure", fuseblk, "a:b", ENOSPC, "out/a:b: Disk full"},
        {"a file system that takes the name", ext4, "a:b", EACCES, "out/a:b: Permission denied"},
        {"a path the far end takes", sshfs, std::string(94, 'n'), EBADMSG,
         "out/" + std::string(94, 'n') + ": Path/File access error (Bad message)"},
        {"a path one byte past what the far end takes", sshfs, std::string(95, 'n'), EBADMSG,
         "out/" + std::string(95, 'n') +
             ": the path is longer than the 4095 bytes the far end of sshfs takes"},
        {"a path elsewhere than below the examined folder", sshfs, std::string(200, 'n'), EBADMSG,
         "other/" + std::string(200, 'n') + ": Path/File access error (Bad message)"},
    };
    for (const Row& row : rows) {
        const std::string folder = row.description.starts_with("other/") ? "other/" : "out/";
        EXPECT_EQ(words::describe(
                      join::targetNameFailure(row.target, folder + row.file, row.file, row.error)),
                  row.description)
            << row.name;
    }
}

TEST(TargetFileSystem, ExaminesATemporaryFolder) {
    testsupport::TestDir dir;
    const TargetFileSystem target = join::examineTargetFileSystem(dir.path());
    EXPECT_FALSE(target.type.empty());
    EXPECT_EQ(target.family, TargetFileSystem::Family::Other) << target.type;
    EXPECT_EQ(target.timeStepNs, 1) << target.type;
    EXPECT_EQ(target.upcaseTable, nullptr);
    EXPECT_GT(target.freeBytes, 0u);
    EXPECT_GT(target.blockSize, 0u);
    EXPECT_THROW(join::examineTargetFileSystem(dir.path("missing")), join::Failure);
}

TEST(TargetFileSystem, NamesTakenAsOneOnExFat) {
    const TargetFileSystem exfat = fileSystem(TargetFileSystem::Family::ExFat, "exfat");
    // A volume whose own table leaves ASCII letters alone and makes ı an I.
    TargetFileSystem ownTable = exfat;
    auto table = std::make_shared<std::vector<char16_t>>(identityTable());
    (*table)[0x0131] = u'I';
    ownTable.upcaseTable = table;
    struct Row {
        const char* name;
        const TargetFileSystem& target;
        std::string a;
        std::string b;
        bool one;
    } rows[] = {
        {"dotless i and i", exfat, "k\xC4\xB1s", "kis", false},
        {"long s and s", exfat, "\xC5\xBF", "s", false},
        {"micro sign and mu", exfat, "\xC2\xB5", "\xCE\xBC", false},
        {"omega and Omega", exfat, "\xCF\x89", "\xCE\xA9", true},
        {"accented letters", exfat, "r\xC3\xA9sum\xC3\xA9", "R\xC3\x89SUM\xC3\x89", true},
        {"ASCII", exfat, "kis", "KIS", true},
        {"title-case dz and small dz", exfat, "\xC7\x85", "\xC7\x86", false},
        {"small dz and capital DZ", exfat, "\xC7\x86", "\xC7\x84", true},
        {"Deseret beyond the BMP (surrogates are not folded)", exfat, "\xF0\x90\x90\xA8",
         "\xF0\x90\x90\x80", false},
        {"not UTF-8, ASCII folded", exfat, "caf\xE9", "CAF\xE9", true},
        {"not UTF-8, other bytes kept", exfat, "caf\xE9", "caf\xC9", false},
        {"the volume's own table: ASCII kept", ownTable, "Photo.JPG", "photo.jpg", false},
        {"the volume's own table: dotless i", ownTable, "k\xC4\xB1s", "kIs", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(join::nameKey(row.target, row.a) == join::nameKey(row.target, row.b), row.one)
            << row.name;
}

TEST(TargetFileSystem, ReadsTheUpcaseTableOfAVolume) {
    testsupport::TestDir dir;
    std::vector<char16_t> runs = identityTable();
    runs[0x61] = u'A';
    runs[0x62] = u'B';
    runs[0xE9] = 0xC9;
    std::vector<char16_t> full = identityTable();
    full[0xE9] = u'E';
    const std::vector<char16_t> compressed = {0xFFFF, 0x61, 0x41, 0x42, 0x63, 0xFFFF, 0x85, 0xC9};
    struct Row {
        const char* name;
        Volume volume;
        std::optional<std::vector<char16_t>> table;
    } rows[] = {
        {"runs of units that map to themselves", {compressed}, runs},
        {"stored in full", {full}, full},
        {"a checksum that does not match", {compressed, 1}, std::nullopt},
        {"no table in the root directory", {compressed, 0, false}, std::nullopt},
        {"the image ends inside the table", {full, 0, true, 6 * 512 + 1000}, std::nullopt},
        {"not exFAT", {compressed, 0, true, 0, "NTFS    "}, std::nullopt},
    };
    for (const Row& row : rows) {
        const std::string image = dir.path("volume.img");
        writeVolume(image, row.volume);
        const auto table = join::readExFatUpcaseTable(image);
        EXPECT_EQ(table != nullptr, row.table.has_value()) << row.name;
        if (table && row.table) {
            EXPECT_TRUE(*table == *row.table) << row.name;
        }
    }
    EXPECT_EQ(join::readExFatUpcaseTable(dir.path("missing.img")), nullptr);
}

TEST(TargetFileSystem, TheStandardTableIsTheOneMkfsExfatWrites) {
    if (runTool("command -v mkfs.exfat") != 0)
        GTEST_SKIP() << "mkfs.exfat is missing: tools/deps.sh installs exfatprogs";
    testsupport::TestDir dir;
    const std::string image = dir.path("volume.img");
    std::ofstream(image).close();
    std::filesystem::resize_file(image, 8 << 20);
    ASSERT_EQ(runTool("mkfs.exfat " + image), 0);
    const auto table = join::readExFatUpcaseTable(image);
    ASSERT_NE(table, nullptr);
    const std::vector<char16_t>& standard = join::standardExFatUpcaseTable();
    ASSERT_EQ(table->size(), standard.size());
    int differing = 0;
    for (std::size_t unit = 0; unit < standard.size(); ++unit)
        if ((*table)[unit] != standard[unit] && ++differing <= 10)
            ADD_FAILURE() << std::hex << "U+" << unit << ": the volume has U+"
                          << static_cast<unsigned>((*table)[unit]) << ", the program U+"
                          << static_cast<unsigned>(standard[unit]);
    EXPECT_EQ(differing, 0);
}

TEST(TargetFileSystem, SameModificationTimeToTheStep) {
    constexpr std::int64_t Ms = 1'000'000;
    constexpr std::int64_t S = 1'000'000'000;
    constexpr time_t TenOClock = 1'704'103'200; // 2024-01-01 10:00:00 UTC, an even second
    struct Row {
        const char* name;
        timespec source;
        timespec copy;
        std::int64_t step;
        bool same;
    } rows[] = {
        {"equal", {TenOClock, 5}, {TenOClock, 5}, 1, true},
        {"one nanosecond off", {TenOClock, 5}, {TenOClock, 4}, 1, false},
        {"NTFS: cut to 100 ns", {TenOClock, 123456789}, {TenOClock, 123456700}, 100, true},
        {"NTFS: rounded up", {TenOClock, 123456789}, {TenOClock, 123456800}, 100, false},
        {"NTFS: cut too far", {TenOClock, 123456789}, {TenOClock, 123456000}, 100, false},
        {"exFAT: cut to 10 ms", {TenOClock, 123456789}, {TenOClock, 120000000}, 10 * Ms, true},
        {"exFAT: 10 ms off", {TenOClock, 123456789}, {TenOClock, 110000000}, 10 * Ms, false},
        {"1 s: cut to the second", {TenOClock + 1, 999999999}, {TenOClock + 1, 0}, S, true},
        {"1 s: rounded up", {TenOClock + 1, 500000000}, {TenOClock + 2, 0}, S, false},
        {"10:00:01.9 as 10:00:00 on ext4", {TenOClock + 1, 900000000}, {TenOClock, 0}, 1, false},
        {"10:00:01.9 as 10:00:00 on FAT", {TenOClock + 1, 900000000}, {TenOClock, 0}, 2 * S, true},
        {"FAT: no odd second", {TenOClock + 1, 900000000}, {TenOClock + 1, 0}, 2 * S, false},
        {"FAT: an even second kept", {TenOClock + 2, 500000000}, {TenOClock + 2, 0}, 2 * S, true},
        {"FAT: two seconds off", {TenOClock + 2, 0}, {TenOClock, 0}, 2 * S, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(join::sameModificationTime(row.source, row.copy, row.step), row.same) << row.name;
}

TEST(TargetFileSystem, TimeStepFromWhatAProbeReadsBack) {
    constexpr timespec Set = {1'600'000'001, 123456789};
    struct Row {
        const char* name;
        timespec readBack;
        std::int64_t step;
    } rows[] = {
        {"kept to the nanosecond", Set, 1},
        {"NTFS", {Set.tv_sec, 123456700}, 100},
        {"kernel exFAT", {Set.tv_sec, 120000000}, 10'000'000},
        {"whole seconds (exfat-fuse, SFTP)", {Set.tv_sec, 0}, 1'000'000'000},
        {"FAT: the even second below", {Set.tv_sec - 1, 0}, 2'000'000'000},
        {"rounded up to the next second", {Set.tv_sec + 1, 0}, 1},
        {"rounded up at 10 ns", {Set.tv_sec, 123456790}, 1},
        {"ignored: the time of the write", {1'700'000'000, 42}, 1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(join::timeStepFromProbe(Set, row.readBack), row.step) << row.name;
}

TEST(TargetFileSystem, ProbesTheTimeStepInAFolder) {
    testsupport::TestDir dir;
    dir.make("out/");
    EXPECT_EQ(join::probeTimeStep(dir.path("out")), std::optional<std::int64_t>(1));
    EXPECT_EQ(testsupport::listTree(dir.root()), "") << "the probe's file is left";

    // Where nothing can be made the probe does not tell.
    std::filesystem::permissions(dir.root(), std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    std::filesystem::permissions(dir.path("out"), std::filesystem::perms::owner_read |
                                                      std::filesystem::perms::owner_exec |
                                                      std::filesystem::perms::others_read |
                                                      std::filesystem::perms::others_exec);
    const int result = testsupport::runInChild([&] {
        if (::geteuid() == 0 && !testsupport::dropToNobody())
            return testsupport::CouldNotDropPrivileges;
        return join::probeTimeStep(dir.path("out")) ? 1 : 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(join::probeTimeStep(dir.path("missing")), std::nullopt);
}

// On a real exFAT volume, named by BRIMVALE_EXFAT_FOLDER (a folder there to write in; the e2e test
// exfat.sh gives one on exfat-fuse): the names the program's keys take as one are one there and
// those they keep apart are two, for every letter whose case exFAT's table and the C library tell
// differently and every letter the table maps; and a time set there is the same time at the step
// the examination finds.
TEST(TargetFileSystem, NamesAndTimesOnARealExFatVolume) {
    const char* folder = std::getenv("BRIMVALE_EXFAT_FOLDER");
    if (!folder || !*folder)
        GTEST_SKIP() << "BRIMVALE_EXFAT_FOLDER names no folder on an exFAT volume";
    const TargetFileSystem target = join::examineTargetFileSystem(folder);
    ASSERT_EQ(target.family, TargetFileSystem::Family::ExFat) << target.type;

    const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    ASSERT_NE(unicode, locale_t{});
    const std::vector<char16_t>& table = join::standardExFatUpcaseTable();
    std::vector<std::pair<char32_t, char32_t>> pairs;
    for (char32_t point = 0x80; point < 0x10000; ++point) {
        if (point >= 0xD800 && point <= 0xDFFF)
            continue;
        const auto upper = static_cast<char32_t>(::towupper_l(static_cast<wint_t>(point), unicode));
        if (table[point] != point)
            pairs.emplace_back(point, table[point]);
        if (upper != point && upper != table[point] && upper < 0x10000)
            pairs.emplace_back(point, upper);
    }
    ::freelocale(unicode);
    ASSERT_GT(pairs.size(), 1000u);

    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << folder;
    int wrong = 0;
    int apart = 0;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        // Names of their own for each pair: the kernel keeps what it found under a name for a
        // while, and would find a name it saw an earlier file under without asking the volume.
        const auto [a, b] = pairs[i];
        const std::string made = std::to_string(i) + "-" + utf8(a);
        const std::string other = std::to_string(i) + "-" + utf8(b);
        const int file = ::openat(fd, made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(file, 0) << std::hex << "U+" << static_cast<std::uint32_t>(a);
        ::close(file);
        struct stat info {};
        const bool oneThere = ::fstatat(fd, other.c_str(), &info, 0) == 0;
        const bool oneByKey = join::nameKey(target, made) == join::nameKey(target, other);
        apart += oneByKey ? 0 : 1;
        if (oneThere != oneByKey && ++wrong <= 10)
            ADD_FAILURE() << std::hex << "U+" << static_cast<std::uint32_t>(a) << " and U+"
                          << static_cast<std::uint32_t>(b) << ": "
                          << (oneThere ? "one name" : "two names") << " on the volume";
        ::unlinkat(fd, made.c_str(), 0);
    }
    EXPECT_EQ(wrong, 0) << "of " << pairs.size() << " pairs";
    EXPECT_GT(apart, 300) << "pairs the keys keep apart";

    // A time to the nanosecond, set and read back as a copy's would be.
    const int file = ::openat(fd, "timed", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(file, 0);
    const timespec source = {1'704'103'201, 987654321};
    const timespec times[2] = {source, source};
    EXPECT_EQ(::futimens(file, times), 0);
    ::close(file);
    struct stat info {};
    ASSERT_EQ(::fstatat(fd, "timed", &info, 0), 0);
    ::unlinkat(fd, "timed", 0);
    ::close(fd);
    EXPECT_GT(target.timeStepNs, 1) << "exFAT keeps no nanoseconds";
    EXPECT_TRUE(join::sameModificationTime(source, info.st_mtim, target.timeStepNs))
        << info.st_mtim.tv_sec << "." << info.st_mtim.tv_nsec << " at a step of "
        << target.timeStepNs << " ns";
}

// On a real exFAT volume through exfat-fuse, named by BRIMVALE_EXFAT_USER_FOLDER (a folder there
// that user 65534 may reach; the e2e test exfat.sh gives one): that user cannot read the device,
// so the type comes from udev's database where it names one, and is only "fuseblk" where not.
TEST(TargetFileSystem, AFuseVolumeKnownByUdevToAUserWhoCannotReadItsDevice) {
    const char* folder = std::getenv("BRIMVALE_EXFAT_USER_FOLDER");
    if (!folder || !*folder)
        GTEST_SKIP() << "BRIMVALE_EXFAT_USER_FOLDER names no folder on an exFAT volume";
    struct stat status {};
    ASSERT_EQ(::stat(folder, &status), 0) << folder;
    testsupport::TestDir named;
    testsupport::TestDir silent;
    named.write("b" + std::to_string(major(status.st_dev)) + ":" +
                    std::to_string(minor(status.st_dev)),
                "E:ID_FS_VERSION=1.0\nE:ID_FS_TYPE=exfat\n");
    for (const testsupport::TestDir* udev : {&named, &silent})
        std::filesystem::permissions(udev->root(), std::filesystem::perms::owner_all |
                                                       std::filesystem::perms::others_read |
                                                       std::filesystem::perms::others_exec);
    struct Row {
        const char* name;
        const testsupport::TestDir& udev;
        const char* found;
    } rows[] = {
        {"udev names the type", named, "exfat, mounted as fuseblk, exFAT rules, case ignored"},
        {"udev names none", silent, "fuseblk, mounted as , other rules, case ignored"},
    };
    for (const Row& row : rows) {
        const std::string found = testsupport::textFromChild([&] {
            if (::geteuid() == 0 && !testsupport::dropToNobody())
                return std::string("could not drop privileges");
            const TargetFileSystem target =
                join::examineTargetFileSystemFrom(folder, row.udev.path());
            return target.type + ", mounted as " + target.mountType + ", " +
                   (target.family == TargetFileSystem::Family::ExFat ? "exFAT" : "other") +
                   " rules, case " + (target.caseInsensitive ? "ignored" : "kept");
        });
        EXPECT_EQ(found, row.found) << row.name;
    }
}
