// The engine against a plain reference: seeded random trees and lists, joined in both options
// through the real run, compared with what copying one file after another in processing order
// leaves. The output folders go below BRIMVALE_REFERENCE_TARGET when it is set (a folder on the
// file system under test; BRIMVALE_REFERENCE_CASE=ignored where that file system takes names
// that differ only in case as one), else beside the sources, on the memory disk /dev/shm where
// there is one. BRIMVALE_REFERENCE_SEEDS chooses the seeds ("1,2,3").
#include "fakejoinhost.h"
#include "join/joinrun.h"
#include "join/paths.h"
#include "support/testdir.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using testsupport::FakeJoinHost;
using testsupport::TestDir;

namespace {

bool caseIgnored() {
    const char* value = std::getenv("BRIMVALE_REFERENCE_CASE");
    return value && std::string(value) == "ignored";
}

// A relative path as the target tells paths apart.
std::string keyOf(std::string path) {
    if (caseIgnored())
        std::transform(path.begin(), path.end(), path.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return path;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Random trees: files and folders interleaved in listing order ("item7.dat" between folders
// "item6" and "item8"), names shared across folders and entries and differing only in case,
// "~" names, empty folders, sizes from nothing to a few hundred KiB.
class TreeMaker {
public:
    explicit TreeMaker(unsigned seed) : m_random(seed) {}

    void makeFolder(const fs::path& folder, int depth) {
        fs::create_directories(folder);
        const int files = pick(0, 9) == 0 ? pick(100, 300) : pick(0, 12);
        const int folders = depth >= 3 ? 0 : pick(0, depth == 0 ? 5 : 3);
        for (int i = 0; i < files; ++i)
            writeFile(folder / fileName());
        for (int i = 0; i < folders; ++i) {
            std::string name = folderName();
            makeFolder(folder / name, depth + 1);
            // A twin whose name differs only in case, sharing some file names.
            if (pick(0, 5) == 0) {
                name[0] = static_cast<char>(std::isupper(static_cast<unsigned char>(name[0]))
                                                ? std::tolower(name[0])
                                                : std::toupper(name[0]));
                makeFolder(folder / name, depth + 1);
            }
        }
    }

    int pick(int low, int high) { return std::uniform_int_distribution(low, high)(m_random); }

private:
    std::string fileName() {
        static const char* const Stems[] = {"item",  "Item",  "photo",     "Photo",
                                            "~item", "notes", "item über", ".hidden"};
        std::string stem = Stems[pick(0, 7)];
        // Few numbers, so that names meet again in other folders and entries.
        return stem + std::to_string(pick(0, 40)) + (pick(0, 3) == 0 ? ".DAT" : ".dat");
    }

    std::string folderName() {
        static const char* const Stems[] = {"item", "Dir", "~old", ".cache", "sub"};
        return Stems[pick(0, 4)] + std::to_string(pick(0, 40));
    }

    void writeFile(const fs::path& path) {
        std::string content = path.string() + "\n";
        const int size = pick(0, 19) == 0 ? pick(0, 300 * 1024) : pick(0, 2048);
        while (static_cast<int>(content.size()) < size)
            content.push_back(static_cast<char>('a' + pick(0, 25)));
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    }

    std::mt19937 m_random;
};

// What the output holds: each file's contents and each folder, by key.
struct Tree {
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
    // How many entries' copies write each file, in the reference.
    std::map<std::string, int> writes;
};

// A folder's files, its folders, or both, in natural name order.
enum class Kind { Files, Folders, Both };
std::vector<fs::path> naturalListing(const fs::path& folder, Kind kind = Kind::Both) {
    std::vector<fs::path> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (kind == Kind::Both || entry.is_directory() == (kind == Kind::Folders))
            entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end(), [](const fs::path& a, const fs::path& b) {
        return join::NaturalLess(a.filename().string(), b.filename().string());
    });
    return entries;
}

// The reference: one file after another, in processing order; a later file replaces an
// earlier one of the same key. Returns how many files of the copy replaced an earlier file of
// the same copy (on a target that ignores case: names that are one there).
int copyTreeInOrder(const fs::path& source, const std::string& target, Tree& out,
                    std::set<std::string>& written) {
    int replaced = 0;
    out.folders.insert(keyOf(target));
    for (const fs::path& entry : naturalListing(source)) {
        const std::string path =
            target.empty() ? entry.filename().string() : target + "/" + entry.filename().string();
        if (fs::is_directory(entry)) {
            replaced += copyTreeInOrder(entry, path, out, written);
        } else {
            if (written.insert(keyOf(path)).second)
                ++out.writes[keyOf(path)];
            else
                ++replaced;
            out.files[keyOf(path)] = readFile(entry);
        }
    }
    return replaced;
}

void copyFlatInOrder(const fs::path& entry, Tree& out) {
    std::vector<fs::path> level{entry};
    while (!level.empty()) {
        std::vector<fs::path> next;
        for (const fs::path& folder : level) {
            for (const fs::path& file : naturalListing(folder, Kind::Files))
                if (!file.filename().string().starts_with('~'))
                    out.files[keyOf(file.filename().string())] = readFile(file);
            for (const fs::path& sub : naturalListing(folder, Kind::Folders))
                next.push_back(sub);
        }
        level = std::move(next);
    }
}

Tree readOutput(const fs::path& root) {
    Tree tree;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        if (entry.is_directory())
            tree.folders.insert(keyOf(relative));
        else
            tree.files[keyOf(relative)] = readFile(entry.path());
    }
    return tree;
}

std::string firstDifference(const Tree& expected, const Tree& actual) {
    for (const auto& [path, content] : expected.files) {
        const auto found = actual.files.find(path);
        if (found == actual.files.end())
            return "missing file " + path;
        if (found->second != content)
            return "file " + path + " holds " + found->second.substr(0, found->second.find('\n')) +
                   ", not " + content.substr(0, content.find('\n'));
    }
    for (const auto& [path, content] : actual.files)
        if (!expected.files.contains(path))
            return "extra file " + path;
    for (const std::string& folder : expected.folders)
        if (!folder.empty() && !actual.folders.contains(folder))
            return "missing folder " + folder;
    for (const std::string& folder : actual.folders)
        if (!expected.folders.contains(folder))
            return "extra folder " + folder;
    return {};
}

std::vector<unsigned> seeds() {
    std::vector<unsigned> chosen;
    std::istringstream text(std::getenv("BRIMVALE_REFERENCE_SEEDS")
                                ? std::getenv("BRIMVALE_REFERENCE_SEEDS")
                                : "1,2,3,4,5,6");
    for (std::string seed; std::getline(text, seed, ',');)
        chosen.push_back(static_cast<unsigned>(std::stoul(seed)));
    return chosen;
}

} // namespace

TEST(Reference, RandomTreesAndListsInBothOptions) {
    const fs::path memory = "/dev/shm";
    TestDir sources(fs::is_directory(memory) ? memory : fs::path());
    const char* targetRoot = std::getenv("BRIMVALE_REFERENCE_TARGET");
    const fs::path outputs = targetRoot ? fs::path(targetRoot) : sources.root() / "outputs";
    for (const unsigned seed : seeds()) {
        TreeMaker maker(seed);
        const fs::path root = sources.root() / ("seed" + std::to_string(seed));
        // Entries: whole trees, folders inside them (listed again), and folders of one name
        // in different places, whose preserve copies merge.
        std::vector<std::string> list;
        for (int t = 0, trees = maker.pick(2, 4); t < trees; ++t) {
            const fs::path tree = root / ("tree" + std::to_string(t)) / "data";
            maker.makeFolder(tree, 0);
            list.push_back(tree.string() + (maker.pick(0, 1) ? "/" : ""));
            for (const fs::path& inner : naturalListing(tree, Kind::Folders))
                if (maker.pick(0, 3) == 0)
                    list.push_back(inner.string());
        }
        std::shuffle(list.begin(), list.end(), std::mt19937(seed));

        for (const join::CopyOption option :
             {join::CopyOption::PreserveStructure, join::CopyOption::Flat}) {
            const bool flat = option == join::CopyOption::Flat;
            const fs::path output =
                outputs / ("seed" + std::to_string(seed) + (flat ? "-flat" : "-preserve"));
            fs::remove_all(output);
            fs::create_directories(output);
            // Into the output folder under each entry's own name, or merged into it.
            const bool merged = !flat && maker.pick(0, 3) == 0;

            Tree expected;
            std::vector<int> clashes;
            for (const std::string& entry : list) {
                if (flat) {
                    copyFlatInOrder(entry, expected);
                    continue;
                }
                fs::path folder = fs::path(entry).lexically_normal();
                if (!folder.has_filename())
                    folder = folder.parent_path();
                std::set<std::string> written;
                clashes.push_back(copyTreeInOrder(folder, merged ? "" : folder.filename().string(),
                                                  expected, written));
            }

            FakeJoinHost host;
            host.sources = list;
            host.output = output.string() + (merged ? "" : "/");
            host.option = option;
            join::JoinRun(host).run();

            const std::string context = "seed " + std::to_string(seed) +
                                        (flat     ? ", flat"
                                         : merged ? ", merged"
                                                  : ", preserve");
            ASSERT_EQ(host.messages, std::vector<std::string>{"Done."}) << context;
            // The only reports: on a target that ignores case, the files of one copy that a
            // later name, one with theirs there, replaced.
            std::vector<int> expectedReports;
            for (const int count : clashes)
                if (count > 0)
                    expectedReports.push_back(count);
            std::vector<int> reported;
            for (const auto& report : host.reports) {
                const std::string prefix = "Could not copy ";
                ASSERT_TRUE(report.description.starts_with(prefix) &&
                            report.description.find("are one on") != std::string::npos)
                    << context << ": " << report.description;
                reported.push_back(std::stoi(report.description.substr(prefix.size())));
            }
            EXPECT_EQ(reported, expectedReports) << context;
            std::string listed;
            for (const std::string& entry : list)
                listed += "\n  " + entry;
            EXPECT_EQ(firstDifference(expected, readOutput(output)), "")
                << context << "; the list:" << listed;

            // Joined again, the output is the same, and every file is already there: a flat
            // copy leaves alone also an earlier entry's file whose name a later entry's file,
            // already there, takes; a tree copy leaves alone at least every file that only one
            // entry writes.
            FakeJoinHost again;
            again.sources = host.sources;
            again.output = host.output;
            again.option = host.option;
            join::JoinRun(again).run();
            EXPECT_EQ(again.messages, host.messages) << context << ", joined again";
            EXPECT_EQ(again.reports.size(), host.reports.size()) << context << ", joined again";
            std::uint64_t once = 0;
            for (const auto& [place, count] : expected.writes)
                once += count == 1;
            EXPECT_GE(again.filesAlreadyThere, flat ? again.filesCopied : once)
                << context << ", joined again: " << again.filesCopied << " files";
            EXPECT_EQ(firstDifference(expected, readOutput(output)), "")
                << context << ", joined again; the list:" << listed;
            fs::remove_all(output);
        }
    }
}
