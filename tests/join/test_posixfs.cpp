#include "join/fs/failure.h"
#include "join/fs/folderpaths.h"
#include "join/fs/posixfs.h"
#include "support/testdir.h"
#include "test_childprocess.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <vector>

using namespace join;
using testsupport::TestDir;
namespace fs = std::filesystem;

namespace {

int failureNumberOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Failure& failure) {
        return failure.number();
    }
    return 0;
}

// Makes a folder reachable by anyone but readable only by its owner (root).
void makeRootOnlyFolder(const TestDir& dir, const std::string& relative) {
    fs::permissions(dir.root(), fs::perms::owner_all | fs::perms::group_exec |
                                    fs::perms::group_read | fs::perms::others_exec |
                                    fs::perms::others_read);
    fs::create_directories(dir.root() / relative);
    fs::permissions(dir.root() / relative, fs::perms::owner_all);
}

// The failure number a call gives as a user who really is refused: uid 65534 when running as
// root (root reads everything), else the current user with the folder made unreadable.
int failureNumberWhenRefused(const TestDir& dir, const std::string& relative,
                             const std::function<void()>& call) {
    makeRootOnlyFolder(dir, relative);
    if (::geteuid() != 0)
        fs::permissions(dir.root() / relative, fs::perms::none);
    return testsupport::runInChild([&] {
        if (::geteuid() == 0 && !testsupport::dropToNobody())
            return testsupport::CouldNotDropPrivileges;
        return failureNumberOf(call);
    });
}

void makeFifo(const TestDir& dir, const std::string& relative) {
    ASSERT_EQ(::mkfifo(dir.path(relative).c_str(), 0644), 0);
}

void makeSocket(const TestDir& dir, const std::string& relative) {
    const std::string path = dir.path(relative);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

TEST(FolderExists, Table) {
    TestDir dir;
    dir.make(R"(
        folder/
        .hidden/
        file.txt=x
        toFolder -> folder
        toFile -> file.txt
        dangling -> nowhere
    )");
    makeFifo(dir, "pipe");
    struct Row {
        std::string path;
        bool expected;
    } rows[] = {
        {dir.path("folder"), true},
        {dir.path("folder", true), true},
        {dir.path("folder") + "//", true},
        {dir.path(".hidden"), true},
        {dir.path("toFolder"), true},
        {dir.path("toFolder", true), true},
        {"/", true},
        {dir.path("file.txt"), false},
        {dir.path("file.txt", true), false},
        {dir.path("toFile"), false},
        {dir.path("dangling"), false},
        {dir.path("pipe"), false},
        {dir.path("missing"), false},
        {dir.path("missing/deeper"), false},
        {"", false},
        {dir.path("folder") + std::string(1, '\0') + "x", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(folderExists(row.path), row.expected) << "path " << row.path;
}

TEST(MakeFolderTree, CreatesMissingLevelsAndUsesExistingOnes) {
    TestDir dir;
    dir.make(R"(
        Out/
        Out/.hidden/
        real/
        Out/viaLink -> ../real
        blocker=file
    )");
    struct Row {
        std::string path;
        std::string created; // a folder that must exist afterwards
    } rows[] = {
        {dir.path("Out"), "Out"},
        {dir.path("Out/2021/New/"), "Out/2021/New"},
        {dir.path("Out/  /Blank"), "Out/Blank"},
        {dir.path("Out") + "//Doubled//Twice", "Out/Doubled/Twice"},
        {dir.path("Out/.hidden/inside"), "Out/.hidden/inside"},
        {dir.path("Out/viaLink/through"), "real/through"},
        {dir.path("Out/ spaced /x"), "Out/ spaced /x"},
    };
    for (const auto& row : rows) {
        EXPECT_NO_THROW(makeFolderTree(row.path)) << "path " << row.path;
        EXPECT_TRUE(fs::is_directory(dir.root() / row.created)) << "path " << row.path;
    }
    EXPECT_FALSE(dir.exists("Out/  ")) << "a blank level is skipped, not created";
    EXPECT_EQ(dir.read("blocker"), "file");
}

TEST(MakeFolderTree, Failures) {
    TestDir dir;
    dir.make("blocker=file\nbroken -> nowhere");
    struct Row {
        std::string path;
        int number;
    } rows[] = {
        {"", ErrorNumber::PathNotFound},
        {dir.path("blocker/deeper"), ErrorNumber::FileAlreadyExists},
        {dir.path("broken/deeper"), ErrorNumber::FileAlreadyExists},
    };
    for (const auto& row : rows)
        EXPECT_EQ(failureNumberOf([&] { makeFolderTree(row.path); }), row.number)
            << "path " << row.path;
    EXPECT_EQ(dir.read("blocker"), "file");
    EXPECT_TRUE(fs::is_symlink(dir.root() / "broken"));
}

TEST(MakeFolderTree, RefusedCreationRaisesPermissionDenied) {
    TestDir dir;
    const int number = failureNumberWhenRefused(
        dir, "locked", [&] { makeFolderTree(dir.path("locked/new/deeper")); });
    EXPECT_EQ(number, ErrorNumber::PermissionDenied);
    EXPECT_FALSE(dir.exists("locked/new"));
}

TEST(MakeFolderTree, RelativePathsStartAtTheCurrentFolder) {
    TestDir dir;
    const int result = testsupport::runInChild([&] {
        if (::chdir(dir.path().c_str()) != 0)
            return 1;
        makeFolderTree("rel/a");
        return 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(fs::is_directory(dir.root() / "rel/a"));
}

TEST(ListFiles, ListsRegularFilesOnlyInNaturalOrder) {
    TestDir dir;
    dir.make(R"(
        src/a.txt=a
        src/.hidden=h
        src/noext=n
        src/~temp=t
        src/sub/inner.txt=i
        src/toFile -> a.txt
        src/toFolder -> sub
        src/dangling -> nowhere
    )");
    dir.write("src/bad\xff\xfe.bin", "bytes");
    makeFifo(dir, "src/pipe");
    makeSocket(dir, "src/socket");

    const std::vector<std::string> expected{".hidden", "a.txt",  "bad\xff\xfe.bin",
                                            "noext",   "toFile", "~temp"};

    // Never opening the pipe is what keeps these from blocking; the alarm turns a hang into a
    // failure.
    const int result = testsupport::runInChild([&] {
        int failed = 0;
        if (listFiles(dir.path("src")) != expected)
            failed |= 1;
        if (listFiles(dir.path("src", true)) != expected)
            failed |= 2;
        if (listFiles(dir.path("src", true), "*") != expected)
            failed |= 4;
        if (listFiles(dir.path("src"), "*.txt") != std::vector<std::string>{"a.txt"})
            failed |= 8;
        for (const std::string& name : listFiles(dir.path("src")))
            if (!isExistingFile(dir.path("src/" + name)))
                failed |= 16;
        return failed;
    });
    EXPECT_EQ(result, 0) << "bits: 1 plain, 2 trailing separator, 4 \"*\", 8 \"*.txt\", 16 probe";
}

TEST(ListFiles, EmptyFolder) {
    TestDir dir;
    dir.make("empty/\nonlyFolders/a/\nonlyFolders/b/");
    EXPECT_TRUE(listFiles(dir.path("empty")).empty());
    EXPECT_TRUE(listFiles(dir.path("onlyFolders")).empty());
}

TEST(ListFiles, ManyFilesAreListedWhole) {
    TestDir dir;
    fs::create_directories(dir.root() / "many");
    constexpr int Count = 40000;
    for (int i = 0; i < Count; ++i) {
        const std::string path = dir.path("many/f" + std::to_string(i));
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << path;
        ::close(fd);
    }
    const std::vector<std::string> names = listFiles(dir.path("many"));
    EXPECT_EQ(names.size(), static_cast<std::size_t>(Count));
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(),
              static_cast<std::size_t>(Count));
}

TEST(ListFiles, Failures) {
    TestDir dir;
    dir.make("file.txt=x\ndangling -> nowhere");
    struct Row {
        std::string folder;
        int number;
    } rows[] = {
        {dir.path("missing"), ErrorNumber::PathNotFound},
        {dir.path("missing/deeper/"), ErrorNumber::PathNotFound},
        {dir.path("file.txt"), ErrorNumber::PathNotFound},
        {dir.path("dangling"), ErrorNumber::PathNotFound},
    };
    for (const auto& row : rows)
        EXPECT_EQ(failureNumberOf([&] { listFiles(row.folder); }), row.number)
            << "folder " << row.folder;
}

TEST(ListFiles, RefusedListingRaisesPermissionDenied) {
    TestDir dir;
    dir.make("locked/secret.txt=x");
    EXPECT_EQ(failureNumberWhenRefused(dir, "locked", [&] { listFiles(dir.path("locked")); }),
              ErrorNumber::PermissionDenied);
    EXPECT_EQ(failureNumberWhenRefused(dir, "locked", [&] { listFiles(dir.path("locked/inner")); }),
              ErrorNumber::PermissionDenied);
}

TEST(ListFolder, EntriesTypedAsTheDirectoryRecordsThem) {
    TestDir dir;
    dir.make(R"(
        top/file.txt=x
        top/.hidden=x
        top/sub/inner.txt=x
        top/toFile -> file.txt
        top/toSub -> sub
        top/dangling -> nowhere
    )");
    makeFifo(dir, "top/pipe");
    ASSERT_EQ(::chmod(dir.path("top").c_str(), 02751), 0);
    FolderListing listing;
    ASSERT_EQ(readListing(dir.path("top"), listing), 0);
    EXPECT_EQ(listing.permissions, 02751u);
    std::map<std::string, FolderEntry::Type> types;
    for (const FolderEntry& entry : listing.entries)
        EXPECT_TRUE(types.emplace(entry.name, entry.type).second) << "listed twice: " << entry.name;
    using Type = FolderEntry::Type;
    const std::map<std::string, FolderEntry::Type> expected = {
        {"file.txt", Type::File}, {".hidden", Type::File}, {"sub", Type::Folder},
        {"toFile", Type::Link},   {"toSub", Type::Link},   {"dangling", Type::Link},
        {"pipe", Type::Other},
    };
    EXPECT_EQ(types, expected);

    // Through a link, the folder it leads to is listed, with that folder's permission bits.
    ASSERT_EQ(readListing(dir.path("top/toSub/"), listing), 0);
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_EQ(listing.entries[0].name, "inner.txt");
    EXPECT_EQ(listing.permissions,
              static_cast<unsigned>(fs::status(dir.root() / "top/sub").permissions()));
}

TEST(ListFolder, ManyLongNamesAreListedWhole) {
    // Names long enough that the listing takes many reads of the directory.
    TestDir dir;
    fs::create_directories(dir.root() / "many");
    constexpr int Count = 3000;
    const std::string padding(200, 'n');
    for (int i = 0; i < Count; ++i) {
        const std::string path = dir.path("many/" + padding + std::to_string(i));
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << path;
        ::close(fd);
    }
    FolderListing listing;
    ASSERT_EQ(readListing(dir.path("many"), listing), 0);
    std::set<std::string> names;
    for (const FolderEntry& entry : listing.entries)
        names.insert(entry.name);
    EXPECT_EQ(listing.entries.size(), static_cast<std::size_t>(Count));
    EXPECT_EQ(names.size(), static_cast<std::size_t>(Count));
    EXPECT_TRUE(names.contains(padding + "0") && names.contains(padding + "2999"));
}

TEST(ListFolder, Failures) {
    TestDir dir;
    dir.make("file.txt=x\ndangling -> nowhere\nlocked/secret.txt=x");
    struct Row {
        std::string path;
        int error;
    } rows[] = {
        {dir.path("missing"), ENOENT},        {dir.path("file.txt"), ENOTDIR},
        {dir.path("dangling"), ENOENT},       {"", ENOENT},
        {dir.path("a") + '\0' + "b", EINVAL},
    };
    for (const Row& row : rows) {
        FolderListing listing;
        EXPECT_EQ(readListing(row.path, listing), row.error) << row.path;
        EXPECT_TRUE(listing.entries.empty()) << row.path;
    }
    makeRootOnlyFolder(dir, "locked");
    if (::geteuid() != 0)
        fs::permissions(dir.root() / "locked", fs::perms::none);
    const int result = testsupport::runInChild([&] {
        if (::geteuid() == 0 && !testsupport::dropToNobody())
            return testsupport::CouldNotDropPrivileges;
        FolderListing listing;
        const int error = readListing(dir.path("locked"), listing);
        return error == 0 ? 1 : error == EACCES ? 0 : 2;
    });
    EXPECT_EQ(result, 0) << "a folder that may not be read";
}

TEST(MakeFolder, PermissionsThroughTheUmask) {
    TestDir dir;
    dir.make("file.txt=x");
    const mode_t umask = ::umask(022);
    struct Row {
        const char* name;
        unsigned permissions;
        unsigned made;
    } rows[] = {
        {"open", 0777, 0755},
        {"private", 0700, 0700},
        {"sticky", 01777, 01755},
        {"readOnly", 0555, 0555},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(makeFolder(dir.path(row.name), row.permissions), 0) << row.name;
        struct stat st {};
        EXPECT_EQ(::stat(dir.path(row.name).c_str(), &st), 0) << row.name;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << row.name;
        EXPECT_EQ(st.st_mode & 07777, row.made) << row.name;
    }
    ::umask(umask);
    EXPECT_EQ(makeFolder(dir.path("open"), 0755), EEXIST);
    EXPECT_EQ(makeFolder(dir.path("file.txt"), 0755), EEXIST);
    EXPECT_EQ(makeFolder(dir.path("missing/deeper"), 0755), ENOENT);
    EXPECT_EQ(makeFolder("", 0755), ENOENT);
}

TEST(Probes, IsExistingFileFileIsPresentIsBadFileName) {
    TestDir dir;
    dir.make(R"(
        file.txt=x
        .hidden=h
        folder/
        toFile -> file.txt
        toFolder -> folder
        dangling -> nowhere
    )");
    makeFifo(dir, "pipe");
    struct Row {
        std::string path;
        bool existingFile;
        bool present;
        bool badName;
    } rows[] = {
        {dir.path("file.txt"), true, true, false},
        {dir.path(".hidden"), true, true, false},
        {dir.path("toFile"), true, true, false},
        {dir.path("folder"), false, true, false},
        {dir.path("toFolder"), false, true, false},
        {dir.path("dangling"), false, false, false},
        {dir.path("pipe"), false, true, false},
        {dir.path("missing"), false, false, true},
        {dir.path("file.txt/x"), false, false, true},
        {"", false, false, true},
        {dir.path("file.txt") + std::string(1, '\0'), false, false, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(isExistingFile(row.path), row.existingFile) << "isExistingFile " << row.path;
        EXPECT_EQ(fileIsPresent(row.path), row.present) << "fileIsPresent " << row.path;
        EXPECT_EQ(isBadFileName(row.path), row.badName) << "isBadFileName " << row.path;
    }
}

TEST(Probes, AFileThatCannotBeReadStillExists) {
    // The probe asks for no access to the contents, only for the file's metadata.
    TestDir dir;
    dir.write("secret", "x");
    fs::permissions(dir.root() / "secret", fs::perms::none);
    fs::permissions(dir.root(), fs::perms::owner_all | fs::perms::others_exec);
    const int result = testsupport::runInChild([&] {
        if (::geteuid() == 0 && !testsupport::dropToNobody())
            return testsupport::CouldNotDropPrivileges;
        return isExistingFile(dir.path("secret")) ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
}

TEST(FolderAttributes, Table) {
    TestDir dir;
    dir.make(R"(
        folder/
        .hidden/
        file.txt=x
        toFolder -> folder
        .toHidden -> .hidden
        dangling -> nowhere
    )");
    struct Row {
        std::string path;
        int attributes;
    } rows[] = {
        {dir.path("folder"), 16},      {dir.path("folder", true), 16},
        {dir.path(".hidden"), 18},     {dir.path(".hidden", true), 18},
        {dir.path("toFolder"), 1040},  {dir.path("toFolder", true), 1040},
        {dir.path(".toHidden"), 1042}, {dir.path("file.txt"), 0},
        {dir.path("dangling"), 1024},  {dir.path("folder/."), 16},
        {dir.path("folder/.."), 16},   {"/", 16},
    };
    for (const auto& row : rows)
        EXPECT_EQ(folderAttributes(row.path), row.attributes) << "path " << row.path;
    EXPECT_EQ(failureNumberOf([&] { folderAttributes(dir.path("missing")); }),
              ErrorNumber::PathNotFound);
    EXPECT_EQ(failureNumberOf([&] { folderAttributes(""); }), ErrorNumber::PathNotFound);
}

TEST(Identity, RootFolderAndSameFile) {
    TestDir dir;
    dir.make(R"(
        folder/
        file.txt=x
        other.txt=x
        toRoot -> /
        toFile -> file.txt
    )");
    fs::create_hard_link(dir.root() / "file.txt", dir.root() / "hard.txt");

    struct Row {
        std::string path;
        bool root;
    } roots[] = {
        {"/", true},
        {"//", true},
        {"/.", true},
        {"/tmp/..", true},
        {dir.path("toRoot"), true},
        {dir.path("toRoot", true), true},
        {dir.path("folder"), false},
        {dir.path("missing"), false},
        {"", false},
    };
    for (const auto& row : roots)
        EXPECT_EQ(isRootFolder(row.path), row.root) << "path " << row.path;

    const auto identity = [](const std::string& path) {
        FileIdentity found;
        return identityOfPath(path, found) == 0 ? std::optional(found) : std::nullopt;
    };
    const auto file = identity(dir.path("file.txt"));
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(identity(dir.path("hard.txt")), file);
    EXPECT_EQ(identity(dir.path("toFile")), file);
    EXPECT_EQ(identity(dir.path("folder/../file.txt")), file);
    EXPECT_NE(identity(dir.path("other.txt")), file);
    EXPECT_FALSE(identity(dir.path("missing")).has_value());
    FileIdentity untouched{1, 2};
    EXPECT_EQ(identityOfPath(dir.path("missing"), untouched), ENOENT);
    EXPECT_EQ(identityOfPath("", untouched), ENOENT);
    EXPECT_EQ(untouched, (FileIdentity{1, 2})) << "a failed call leaves the identity as it was";
}

} // namespace
