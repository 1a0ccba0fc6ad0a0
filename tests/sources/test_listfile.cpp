#include "fakecommandhost.h"
#include "join/fs/failure.h"
#include "sources/commands.h"
#include "sources/listfile.h"
#include "sources/selection.h"
#include "support/testdir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using sourcestest::FakeHost;
using sourcestest::joined;
using testsupport::TestDir;
using namespace std::string_literals;

namespace {

const std::string FileLocation = "in Brimvale2021/08/31.Form1.PushButton10_Click ";
const std::string LayoutNote = "File should look like:\r/home/user/test1\r/home/user/test2\retc.";
const std::string BadName = "\r\rwas not added because it has bad characters in the filename.";
const std::string TooMany =
    "You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button.";

} // namespace

TEST(LoadListFromFile, CutsLinesAndPiecesAsWritten) {
    struct Row {
        const char* name;
        std::string content;
        std::vector<std::string> expected;
    } rows[] = {
        {"CR LF, final line end", "/a\r\n/b\r\n", {"/a", "/b"}},
        {"CR LF, no final line end", "/a\r\n/b", {"/a", "/b"}},
        {"LF only, final line end", "/a\n/b\n", {"/a", "/b"}},
        {"LF only, a blank line inside", "/a\n\n/b\n", {"/a", "/b"}},
        {"LF only, no final line end", "/a\n/b", {"/a", "/b"}},
        {"CR only, final line end", "/a\r/b\r", {"/a", "/b"}},
        {"CR only, no final line end", "/a\r/b", {"/a", "/b"}},
        {"blank lines and spaces", " /a \r\n\r\n\t/b\r\n  \r\n", {" /a ", "\t/b"}},
        {"lines of spaces and tabs only", "\t\n /a\n \t \r\n\t", {" /a"}},
        {"empty file", "", {}},
        {"one line end only", "\r\n", {}},
        {"one LF only", "\n", {}},
        {"LF after a CR LF", "/a\r\n\n", {"/a"}},
        {"LF before a CR", "/a\n\r/b", {"/a", "/b"}},
        {"mixed", "/a\n/b\r/c\r\n/d", {"/a", "/b", "/c", "/d"}},
        {"backslashes and no trailing separator",
         "C:\\test1\r\nC:\\test2",
         {"C:\\test1", "C:\\test2"}},
        {"bytes that are not UTF-8, a NUL",
         "/caf\xe9\r\n/\xff\xfe\x00z\r\n"s,
         {"/caf\xe9", "/\xff\xfe\x00z"s}},
        {"UTF-8 byte-order mark", "\xef\xbb\xbf/caf\xc3\xa9\n/b\n", {"/caf\xc3\xa9", "/b"}},
        {"a mark that is not at the start", "/a\n\xef\xbb\xbf/b\n", {"/a", "\xef\xbb\xbf/b"}},
        {"UTF-16 little-endian with its mark",
         "\xff\xfe/\0c\0a\0f\0\xe9\0\r\0\n\0/\0b\0\r\0\n\0"s,
         {"/caf\xc3\xa9", "/b"}},
        {"UTF-16 big-endian with its mark, a character beyond 16 bits",
         "\xfe\xff\0/\0a\xd8\x3d\xdc\xc1\0\n\0/\0b"s,
         {"/a\xf0\x9f\x93\x81", "/b"}},
        {"UTF-32 little-endian with its mark", "\xff\xfe\0\0/\0\0\0a\0\0\0\n\0\0\0"s, {"/a"}},
    };
    TestDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        dir.write("list.txt", row.content);
        FakeHost host;
        sources::loadListFromFile(host.list, host, dir.path("list.txt"));
        EXPECT_EQ(host.list.items, row.expected);
        EXPECT_TRUE(host.messages.empty());
    }
}

TEST(LoadListFromFile, LongFilesKeepEveryLineAcrossBlocks) {
    // More lines than one batch and more bytes than one read block, with CR LF pairs falling on
    // every possible offset.
    std::string content;
    std::vector<std::string> expected;
    for (int i = 0; i < 120000; ++i) {
        expected.push_back("/folder/" + std::string(static_cast<size_t>(i % 13), 'x') +
                           std::to_string(i));
        content += expected.back() + "\r\n";
    }
    TestDir dir;
    dir.write("big.txt", content);
    FakeHost host;
    sources::loadListFromFile(host.list, host, dir.path("big.txt"));
    ASSERT_EQ(host.list.items.size(), expected.size());
    EXPECT_EQ(host.list.items, expected);
    EXPECT_GT(host.list.appendAllCalls, 1);
    EXPECT_EQ(host.list.appendCalls, 0);
}

TEST(LoadListFromFile, MissingFileSaysFileNotFound) {
    TestDir dir;
    dir.make("dangling -> nowhere\n");
    for (auto path : {dir.path("missing.txt"), dir.path("dangling")}) {
        SCOPED_TRACE(path);
        FakeHost host;
        sources::loadListFromFile(host.list, host, path);
        EXPECT_EQ(host.messages, std::vector<std::string>{"File not found"});
        EXPECT_TRUE(host.list.items.empty());
    }
}

TEST(Selection, StringFromTheDialogsAnswer) {
    struct Row {
        const char* name;
        std::vector<std::string> paths;
        std::string selection;
    } rows[] = {
        {"cancel", {}, ""},
        {"one file", {"/home/u/list one.txt"}, "/home/u/list one.txt"},
        {"three in one folder",
         {"/d/c.txt", "/d/a.txt", "/d/b.txt"},
         std::string("/d\0c.txt\0a.txt\0b.txt", 20)},
        {"two in the root", {"/a", "/b"}, std::string("/\0a\0b", 5)},
        {"two folders", {"/d/a", "/e/b"}, std::string("\0/d/a\0/e/b", 10)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(sources::makeSelectionString(row.paths), row.selection);
    }
    EXPECT_EQ(sources::splitSelection(""), std::vector<std::string>{});
    EXPECT_EQ(sources::splitSelection("/x"), std::vector<std::string>{"/x"});
    EXPECT_EQ(sources::splitSelection(std::string("/d\0a\0b", 6)),
              (std::vector<std::string>{"/d", "a", "b"}));
}

TEST(Selection, BufferHoldsThirtyThousandCharactersWithTheTerminatingNuls) {
    const auto errorOf = [](const std::string& selection) {
        try {
            sources::checkSelectionFits(selection);
            return 0;
        } catch (const join::Failure& failure) {
            return failure.number();
        }
    };
    // One path takes its length plus one NUL.
    const std::string single(29999, 'p');
    EXPECT_EQ(sources::selectionBufferLength(single), 30000u);
    EXPECT_EQ(errorOf(single), 0);
    EXPECT_EQ(errorOf(single + "p"), 20476);
    // A folder and names take their lengths, one NUL after each and one more at the end.
    const std::string several = std::string(100, 'd') + '\0' + std::string(29897, 'n');
    EXPECT_EQ(sources::selectionBufferLength(several), 30000u);
    EXPECT_EQ(errorOf(several), 0);
    EXPECT_EQ(errorOf(several + "n"), 20476);
    EXPECT_EQ(errorOf(""), 0);
}

TEST(LoadFolderListCommand, CancelShowsTheNoteOnly) {
    FakeHost host;
    sources::loadListFiles(host);
    EXPECT_EQ(host.messages, std::vector<std::string>{LayoutNote});
    ASSERT_EQ(host.fileDialogCalls.size(), 1u);
    EXPECT_EQ(host.fileDialogCalls[0].title, "Add File(s) - Hold Ctrl to select multiple files");
    EXPECT_TRUE(host.list.items.empty());
    EXPECT_TRUE(host.reports.empty());
    EXPECT_TRUE(host.pointerChanges.empty());
}

TEST(LoadFolderListCommand, LoadsPickedFilesInSelectionOrderAndReportsTheRest) {
    TestDir dir;
    dir.write("lists/two.txt", "\n/two/a\r\n \t\r\n/two/b\r\n\n");
    dir.make("lists/one.txt=/one\n"
             "lists/three.txt=/three\n"
             "lists/dangling.txt -> gone.txt\n"
             "lists/sub/\n");
    FakeHost host;
    host.fileAnswer = {dir.path("lists/two.txt"), dir.path("lists/missing.txt"),
                       dir.path("lists/one.txt"), dir.path("lists/dangling.txt"),
                       dir.path("lists/three.txt")};
    sources::loadListFiles(host);
    EXPECT_EQ(joined(host.list.items), "/two/a\n/two/b\n/one\n/three\n");
    // The lines that name no folder, once, at the end, numbered within their own files, blank
    // lines counted.
    EXPECT_EQ(
        joined(host.messages),
        joined({LayoutNote, dir.path("lists/missing.txt") + BadName, "File not found",
                "Some lines do not name a folder now:\ntwo.txt, line 2: /two/a\n"
                "two.txt, line 4: /two/b\none.txt, line 1: /one\nthree.txt, line 1: /three"}));
    EXPECT_TRUE(host.reports.empty());
}

TEST(LoadFolderListCommand, OneFileIsLoadedByItsFullPath) {
    TestDir dir;
    dir.make("x/\ny/\n");
    dir.write("only.txt", dir.path("x") + "\r\n" + dir.path("y") + "/\r\n");
    FakeHost host;
    host.fileAnswer = {dir.path("only.txt")};
    sources::loadListFiles(host);
    EXPECT_EQ(joined(host.list.items), joined({dir.path("x"), dir.path("y") + "/"}));
    EXPECT_EQ(host.messages, std::vector<std::string>{LayoutNote});

    FakeHost missing;
    missing.fileAnswer = {dir.path("gone.txt")};
    sources::loadListFiles(missing);
    EXPECT_EQ(joined(missing.messages), joined({LayoutNote, dir.path("gone.txt") + BadName}));
}

TEST(LoadFolderListCommand, TooManyFilesLoadsNothing) {
    TestDir dir;
    dir.write("real.txt", "/would/load\n");
    FakeHost host;
    host.fileAnswer.push_back(dir.path("real.txt"));
    for (int i = 0; i < 2500; ++i)
        host.fileAnswer.push_back(dir.path("name-" + std::to_string(100000 + i) + ".txt"));
    sources::loadListFiles(host);
    EXPECT_EQ(joined(host.messages), joined({LayoutNote, TooMany}));
    EXPECT_TRUE(host.list.items.empty());
    EXPECT_TRUE(host.reports.empty()) << "no Application Error";
}

TEST(LoadFolderListCommand, BinaryFilesAndSpecialFilesNeverStopTheCommand) {
    TestDir dir;
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 7919) & 0xff);
    dir.write("picture.bin", binary);
    dir.write("after.txt", "/after");
    const std::string fifo = dir.path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);

    FakeHost host;
    host.fileAnswer = {dir.path("picture.bin"), fifo, dir.path("after.txt")};
    sources::loadListFiles(host);
    ASSERT_GE(host.list.items.size(), 2u);
    EXPECT_EQ(host.list.items.back(), "/after");
    std::string fromBinary;
    for (size_t i = 0; i + 1 < host.list.items.size(); ++i)
        fromBinary += host.list.items[i];
    // Every byte of the file stays in the items, except the line ends.
    std::string withoutLineEnds;
    for (char c : binary)
        if (c != '\r' && c != '\n')
            withoutLineEnds += c;
    EXPECT_EQ(fromBinary, withoutLineEnds);
    // The pipe is refused with the common report, not waited on.
    ASSERT_EQ(host.reports.size(), 1u);
    EXPECT_EQ(host.reports[0].location, FileLocation);
    EXPECT_EQ(host.reports[0].line, 120);
}

TEST(LoadFolderListCommand, UnreachableAndUnreadableFilesAsAnOrdinaryUser) {
    TestDir dir;
    dir.make("lists/one.txt=/one\n"
             "lists/secret.txt=/secret\n"
             "lists/three.txt=/three\n"
             "hidden/inside.txt=/inside\n");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.path("lists").c_str(), 0755);
    ::chmod(dir.path("lists/secret.txt").c_str(), 0600); // root's: not readable by uid 65534
    ::chmod(dir.path("hidden").c_str(), 0700);           // root's: not searchable by uid 65534

    auto result = sourcestest::runAsNobody([&] {
        FakeHost host;
        host.fileAnswer = {dir.path("lists/one.txt"), dir.path("lists/secret.txt"),
                           dir.path("lists/three.txt")};
        sources::loadListFiles(host);
        FakeHost reach;
        reach.fileAnswer = {dir.path("hidden/inside.txt"), dir.path("lists/one.txt")};
        sources::loadListFiles(reach);
        std::string text = joined(host.list.items) + "reports:";
        for (const auto& report : host.reports)
            text += " " + report.location + std::to_string(report.line);
        return text + "\n" + joined(reach.list.items) + joined(reach.messages) +
               std::to_string(reach.reports.size());
    });
    if (!result)
        GTEST_SKIP() << "cannot run a child process as uid 65534 here";
    EXPECT_EQ(*result, "/one\n/three\nreports: " + FileLocation + "120\n" + "/one\n" +
                           joined({LayoutNote, dir.path("hidden/inside.txt") + BadName,
                                   "Some lines do not name a folder now:\none.txt, line 1: /one"}) +
                           "0");
}
