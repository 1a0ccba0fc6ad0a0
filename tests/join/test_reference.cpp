#include "fakejoinhost.h"
#include "join/joinrun.h"
#include "support/testdir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using join::CopyOption;
using join::JoinRun;
using testsupport::FakeJoinHost;
using testsupport::listTree;
using testsupport::TestDir;
namespace fs = std::filesystem;

// The output side of a join runs on the file system named by BRIMVALE_REFERENCE_TARGET
// (tests/e2e/filesystems.sh mounts one after another), or in a temporary folder when it is unset;
// BRIMVALE_REFERENCE_CASE says whether that file system takes names that differ only in case as
// one ("ignored") or not ("kept"). Source trees always stay on the usual disk.
namespace {

enum class NameCase { Kept, Ignored };

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

NameCase targetNameCase() {
    const std::string value = environment("BRIMVALE_REFERENCE_CASE");
    if (value.empty() || value == "kept")
        return NameCase::Kept;
    if (value == "ignored")
        return NameCase::Ignored;
    throw std::invalid_argument("BRIMVALE_REFERENCE_CASE is \"" + value +
                                "\", not \"kept\" or \"ignored\"");
}

// A fresh folder below BRIMVALE_REFERENCE_TARGET, removed with everything in it at the end.
class TargetFolder {
public:
    explicit TargetFolder(const std::string& parent) {
        std::string pattern = (fs::path(parent) / "join-reference-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a folder below " + parent);
        m_path = pattern;
    }
    ~TargetFolder() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    TargetFolder(const TargetFolder&) = delete;
    TargetFolder& operator=(const TargetFolder&) = delete;

    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : "(cannot read " + path.string() + ")";
}

} // namespace

TEST(JoinReference, FlatJoinOntoTheTargetFileSystem) {
    const NameCase nameCase = targetNameCase();
    TestDir sources;
    sources.make("a/Photo.JPG=a-photo\n"
                 "a/notes.txt=a-notes\n"
                 "a/sub/deep.txt=deep\n"
                 "b/photo.jpg=b-photo\n"
                 "b/other.txt=other\n");
    TestDir fallback;
    const std::string parent = environment("BRIMVALE_REFERENCE_TARGET");
    TargetFolder output(parent.empty() ? fallback.path() : parent);

    FakeJoinHost host;
    host.sources = {sources.path("a"), sources.path("b")};
    host.output = output.path().string();
    host.option = CopyOption::Flat;
    JoinRun(host).run();

    std::string reports;
    for (const auto& report : host.reports)
        reports += report.description + "\n";
    EXPECT_EQ(reports, "");
    EXPECT_EQ(host.messages, std::vector<std::string>{"Done."});

    // Where case is ignored the two photos are one name, and the later file is the one left.
    const bool ignored = nameCase == NameCase::Ignored;
    EXPECT_EQ(listTree(output.path()),
              ignored ? "deep.txt\nnotes.txt\nother.txt\nphoto.jpg\n"
                      : "Photo.JPG\ndeep.txt\nnotes.txt\nother.txt\nphoto.jpg\n")
        << "on " << output.path();
    struct Row {
        const char* name;
        const char* content;
    };
    const Row kept[] = {{"Photo.JPG", "a-photo"},
                        {"photo.jpg", "b-photo"},
                        {"notes.txt", "a-notes"},
                        {"deep.txt", "deep"},
                        {"other.txt", "other"}};
    const Row merged[] = {{"photo.jpg", "b-photo"},
                          {"notes.txt", "a-notes"},
                          {"deep.txt", "deep"},
                          {"other.txt", "other"}};
    for (const Row& row : ignored ? std::span<const Row>(merged) : std::span<const Row>(kept))
        EXPECT_EQ(readFile(output.path() / row.name), row.content) << row.name;
}
