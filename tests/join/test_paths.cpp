#include "join/fs/paths.h"
#include "support/testdir.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

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

// What bash reads back from `quoted`, a word of its command line; "" when bash cannot be run.
std::string readBackByBash(const std::string& quoted) {
    testsupport::TestDir dir;
    dir.write("print.sh", "printf %s " + quoted + "\n");
    std::FILE* shell = ::popen(("bash " + dir.path("print.sh")).c_str(), "r");
    if (!shell)
        return {};
    std::string text;
    char buffer[256];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, shell)) > 0;)
        text.append(buffer, got);
    ::pclose(shell);
    return text;
}

// Names holding control characters are quoted as `ls --quoting-style=shell-escape` does, and
// bash reads each quoted form back to the name itself; any other name is shown as it is.
TEST(Paths, QuotedForDisplay) {
    struct QuoteRow {
        const char* name;
        std::string text;
        std::string shown;
    };
    const QuoteRow rows[] = {
        {"a plain path", "/home/me/Photos 2019/a.jpg", "/home/me/Photos 2019/a.jpg"},
        {"a quote alone", "it's", "it's"},
        {"a backslash alone", "a\\b", "a\\b"},
        {"U+00A0 and other letters",
         "nbsp\xc2\xa0"
         "caf\xc3\xa9",
         "nbsp\xc2\xa0"
         "caf\xc3\xa9"},
        {"not UTF-8, no control character", "caf\xe9 \x9b", "caf\xe9 \x9b"},
        {"a line end", "a\nb", "'a'$'\\n''b'"},
        {"a line end first", "\nb", "''$'\\n''b'"},
        {"a line end last", "a\n", "'a'$'\\n'"},
        {"a run of two", "a\n\tb", "'a'$'\\n\\t''b'"},
        {"tab", "a\tb", "'a'$'\\t''b'"},
        {"carriage return", "a\rb", "'a'$'\\r''b'"},
        {"escape", "e\x1b[31mq", "'e'$'\\033''[31mq'"},
        {"DEL", "d\x7f", "'d'$'\\177'"},
        {"U+009B in UTF-8", "c1\xc2\x9bx", "'c1'$'\\302\\233''x'"},
        {"not UTF-8 beside a control character", "caf\xe9\n", "'caf\xe9'$'\\n'"},
        {"a quote inside", "it's\n", "'it'\\''s'$'\\n'"},
        {"a quote after a control character", "\n'x", "''$'\\n'\\''x'"},
        {"a quote first", "'\n", "''\\'$'\\n'"},
        {"a backslash inside", "a\\b\n", "'a\\b'$'\\n'"},
        {"a line that reads like a report's", "x\n0 files could not be copied",
         "'x'$'\\n''0 files could not be copied'"},
    };
    for (const QuoteRow& row : rows) {
        const std::string shown = quotedForDisplay(row.text);
        EXPECT_EQ(shown, row.shown) << row.name;
        if (shown != row.text) {
            EXPECT_EQ(readBackByBash(shown), row.text) << row.name;
        }
    }
}

} // namespace
