#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace testsupport {

// A temporary folder for one test, removed with everything in it when the test ends.
// make() builds a tree from a short description, one entry per line:
//     a/x.txt=hello      a file with that content (missing folders are made)
//     a/empty/           a folder
//     a/link -> ../b     a symbolic link
class TestDir {
public:
    // Made in `base`, or in the system's temporary folder when it is empty.
    explicit TestDir(const std::filesystem::path& base = {});
    ~TestDir();
    TestDir(const TestDir&) = delete;
    TestDir& operator=(const TestDir&) = delete;

    const std::filesystem::path& root() const { return m_root; }
    // The root (or a path below it) as text, with a trailing "/" when `trailing` is set.
    std::string path(std::string_view relative = {}, bool trailing = false) const;

    void make(std::string_view description) const;
    void write(std::string_view relative, std::string_view content) const;
    std::string read(std::string_view relative) const;
    bool exists(std::string_view relative) const;

private:
    std::filesystem::path m_root;
};

// Every regular file and link below `folder`, as sorted relative paths ("a/x.txt").
std::string listTree(const std::filesystem::path& folder);

} // namespace testsupport
