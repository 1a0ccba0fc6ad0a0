#include "join/fs/paths.h"

#include <gtest/gtest.h>

using namespace join;

namespace {

struct Row {
    const char* input;
    const char* expected;
};

TEST(Paths, NormalizePathCollapsesPairsInOnePass) {
    const Row rows[] = {
        {"", ""},
        {"/", "/"},
        {"//", "/"},
        {"////a", "/a"},
        {"/a//b", "/a/b"},
        {"a///b", "a//b"},
        {"a////b", "a//b"},
        {"a/////b", "a///b"},
        {"/Out///A", "/Out//A"},
        {"/x//y//", "/x/y/"},
        {"a//", "a/"},
        {"a/b/c", "a/b/c"},
        {"name", "name"},
        {" //a", " /a"},
        {"//srv//share/x", "/srv/share/x"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(normalizePath(row.input), row.expected) << "input \"" << row.input << "\"";
}

TEST(Paths, LastPathPart) {
    const Row rows[] = {
        {"/Photos/2019", "2019"},
        {"/Photos/2019/", ""},
        {"/Out/", ""},
        {"name", "name"},
        {"", ""},
        {"/", ""},
        {"a/b.txt", "b.txt"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(lastPathPart(row.input), row.expected) << "input \"" << row.input << "\"";
}

TEST(Paths, PathRoot) {
    const Row rows[] = {
        {"/x/y", "/"}, {"/", "/"}, {"//srv/share", "/"}, {"x/y", "x"}, {"", ""}, {"C:/x", "C"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(pathRoot(row.input), row.expected) << "input \"" << row.input << "\"";
}

TEST(Paths, ResolveDotSegments) {
    const Row rows[] = {
        {"/data/src/x/../", "/data/src/"},
        {"/data/beta/./", "/data/beta/"},
        {"/data/beta/.", "/data/beta"},
        {"/data/x/..", "/data"},
        {"/..", "/"},
        {"/../a/", "/a/"},
        {"a/../../b", "../b"},
        {"./", "./"},
        {"/a//b/../c", "/a/c"},
        {"/a//b/c/", "/a//b/c/"},
        {"/a/.hidden/..x/", "/a/.hidden/..x/"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(resolveDotSegments(row.input), row.expected) << "input \"" << row.input << "\"";
}

TEST(Paths, NaturalOrder) {
    const char* const sorted[] = {
        "",
        "!",
        "1",
        "2",
        "02",
        "02x",
        "10",
        "a",
        "apple",
        "Banana",
        "cherry",
        "Folder 2",
        "Folder 02",
        "Folder 10",
        "Folder 10a",
        "IMG_0009.JPG",
        "IMG_10.JPG",
        "Readme",
        "readme",
        "x9",
        "x00000000000000000000000010",
        "\xc3\xa9",
    };
    for (std::size_t i = 0; i < std::size(sorted); ++i) {
        for (std::size_t j = 0; j < std::size(sorted); ++j)
            EXPECT_EQ(naturalNameLess(sorted[i], sorted[j]), i < j)
                << "\"" << sorted[i] << "\" < \"" << sorted[j] << "\"";
    }
}

} // namespace
