#include "join/paths.h"

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
        EXPECT_EQ(NormalizePath(row.input), row.expected) << "input \"" << row.input << "\"";
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
        EXPECT_EQ(LastPathPart(row.input), row.expected) << "input \"" << row.input << "\"";
}

TEST(Paths, DriveRoot) {
    const Row rows[] = {
        {"/x/y", "/"}, {"/", "/"}, {"//srv/share", "/"}, {"x/y", "x"}, {"", ""}, {"C:/x", "C"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(DriveRoot(row.input), row.expected) << "input \"" << row.input << "\"";
}

} // namespace
