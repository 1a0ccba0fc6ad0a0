// Who copies what, as the plain functions decide it before any copy: planFolder shares out one
// folder's listing for the tree copy, planFlatFolders picks the file of each name a flat copy
// leaves. Hand cases for the rules, and each against a plain reference on random listings and
// trees from fixed seeds: every entry in exactly one task, twins on a target that ignores case
// in one task, the last file of each name the winner.
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/plan/joinplan.h"
#include "join/tasks/workers.h"
#include "support/testdir.h"
#include "words/words.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

using join::FolderEntry;
using join::FolderPlan;
using testsupport::TestDir;

namespace {

using Type = FolderEntry::Type;
using Indices = std::vector<std::uint32_t>;

// "f" a file, "D" a folder, "L" a link, "o" anything else.
std::vector<Type> typesOf(const std::string& letters) {
    std::vector<Type> types;
    for (const char letter : letters)
        types.push_back(letter == 'D'   ? Type::Folder
                        : letter == 'L' ? Type::Link
                        : letter == 'o' ? Type::Other
                                        : Type::File);
    return types;
}

std::string shown(const std::vector<Indices>& groups) {
    std::string text;
    for (const Indices& group : groups) {
        text += "[";
        for (const std::uint32_t i : group)
            text += (text.back() == '[' ? "" : " ") + std::to_string(i);
        text += "]";
    }
    return text;
}

std::string shown(const std::vector<std::optional<std::uint32_t>>& replacedBy) {
    std::string text;
    for (const auto& by : replacedBy)
        text += by ? std::to_string(*by) + " " : "- ";
    return text;
}

// The tree copy's plan as the reference has it: folders grouped by key in the order each key
// first appears (each folder alone without keys), the other entries in listing order cut into
// runs of `runLength`, and each other entry replaced by the last other entry of its key.
FolderPlan referenceFolderPlan(const std::vector<Type>& types, const std::vector<std::string>& keys,
                               std::size_t runLength) {
    FolderPlan plan;
    std::vector<std::string> groupKeys;
    Indices others;
    for (std::uint32_t i = 0; i < types.size(); ++i) {
        if (types[i] != Type::Folder) {
            others.push_back(i);
            continue;
        }
        const auto same =
            std::find(groupKeys.begin(), groupKeys.end(), keys.empty() ? "" : keys[i]);
        if (keys.empty() || same == groupKeys.end()) {
            plan.folders.push_back({i});
            groupKeys.push_back(keys.empty() ? "" : keys[i]);
        } else {
            plan.folders[static_cast<std::size_t>(same - groupKeys.begin())].push_back(i);
        }
    }
    const std::size_t length = std::max<std::size_t>(runLength, 1);
    for (std::size_t at = 0; at < others.size(); at += length) {
        plan.runs.emplace_back();
        for (std::size_t i = at; i < std::min(others.size(), at + length); ++i)
            plan.runs.back().push_back(others[i]);
    }
    plan.replacedBy.resize(types.size());
    for (const std::uint32_t i : others)
        for (const std::uint32_t j : others)
            if (j > i && !keys.empty() && keys[j] == keys[i])
                plan.replacedBy[i] = j;
    return plan;
}

// What differs between a plan and the reference's, "" when nothing does; first of all an entry
// that is in no task or in two.
std::string differences(const FolderPlan& plan, const FolderPlan& reference, std::size_t entries) {
    std::vector<int> tasksOf(entries, 0);
    for (const auto* groups : {&plan.folders, &plan.runs})
        for (const Indices& group : *groups)
            for (const std::uint32_t i : group)
                if (i < entries)
                    ++tasksOf[i];
    for (std::size_t i = 0; i < entries; ++i)
        if (tasksOf[i] != 1)
            return "entry " + std::to_string(i) + " is in " + std::to_string(tasksOf[i]) + " tasks";
    if (shown(plan.folders) != shown(reference.folders))
        return "folders " + shown(plan.folders) + ", not " + shown(reference.folders);
    if (shown(plan.runs) != shown(reference.runs))
        return "runs " + shown(plan.runs) + ", not " + shown(reference.runs);
    if (shown(plan.replacedBy) != shown(reference.replacedBy))
        return "replaced by " + shown(plan.replacedBy) + ", not " + shown(reference.replacedBy);
    return "";
}

join::OutputRules caseIgnoringRules() {
    join::TargetFileSystem exfat;
    exfat.type = "exfat";
    exfat.family = join::TargetFileSystem::Family::ExFat;
    exfat.caseInsensitive = true;
    return join::OutputRules(exfat);
}

} // namespace

TEST(PlanFolder, EachSubfolderATaskTheOtherEntriesInRuns) {
    struct Row {
        const char* name;
        std::string types;
        std::vector<std::string> keys; // none: names as bytes, no twins
        std::size_t runLength;
        std::string folders, runs, replacedBy;
    };
    const Row rows[] = {
        {"an empty folder", "", {}, 4, "", "", ""},
        {"files in runs of two, in listing order",
         "fffff",
         {},
         2,
         "",
         "[0 1][2 3][4]",
         "- - - - - "},
        {"a run never holds a folder; runs go on past one",
         "fDLDo",
         {},
         8,
         "[1][3]",
         "[0 2 4]",
         "- - - - - "},
        {"a run length of 0 is taken as 1", "ff", {}, 0, "", "[0][1]", "- - "},
        {"without keys, no two names are one", "DDff", {}, 8, "[0][1]", "[2 3]", "- - - - "},
        {"folders whose names are one on the target are one task, at the first",
         "DDfD",
         {"photos", "music", "x", "photos"},
         8,
         "[0 3][1]",
         "[2]",
         "- - - - "},
        {"of files whose names are one the last is kept; a folder of that name is apart",
         "fffDf",
         {"a", "b", "a", "a", "a"},
         4,
         "[3]",
         "[0 1 2 4]",
         "4 - 4 - - "},
    };
    for (const Row& row : rows) {
        const FolderPlan plan = join::planFolder(typesOf(row.types), row.keys, row.runLength);
        EXPECT_EQ(shown(plan.folders), std::string(row.folders)) << row.name;
        EXPECT_EQ(shown(plan.runs), std::string(row.runs)) << row.name;
        EXPECT_EQ(shown(plan.replacedBy), std::string(row.replacedBy)) << row.name;
    }
}

TEST(PlanFolder, AgainstAReferenceOnRandomListings) {
    const char* const names[] = {"a", "A", "b", "B", "c", "notes", "NOTES", "x.jpg", "X.JPG"};
    for (unsigned seed = 1; seed <= 2000; ++seed) {
        std::mt19937 random(seed);
        const std::size_t size = random() % 40;
        std::vector<Type> types;
        std::vector<std::string> keys;
        const bool caseIgnored = random() % 2 == 0;
        for (std::size_t i = 0; i < size; ++i) {
            types.push_back(typesOf(std::string(1, "fffDDLo"[random() % 7])).front());
            std::string key = names[random() % std::size(names)];
            if (caseIgnored)
                std::transform(key.begin(), key.end(), key.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            keys.push_back(key);
        }
        if (random() % 3 == 0)
            keys.clear();
        // Where names may be one, the tree copy makes a folder's other entries one run, so that
        // they are copied in order.
        const auto others = static_cast<std::size_t>(
            std::count_if(types.begin(), types.end(), [](Type t) { return t != Type::Folder; }));
        const std::size_t runLength = random() % 2 == 0 ? others : random() % 6;
        const std::string wrong = differences(join::planFolder(types, keys, runLength),
                                              referenceFolderPlan(types, keys, runLength), size);
        ASSERT_EQ(wrong, "") << "seed " << seed;
    }
}

namespace {

// A flat plan as text: each folder with what it gives, then the winners.
std::string shown(const join::FlatEntryPlan& plan) {
    std::string text;
    for (const join::FlatFolder& folder : plan.contents) {
        text +=
            folder.path + (folder.isOutput ? " (output)" : "") +
            (folder.listingFailure ? " (" + words::describe(*folder.listingFailure) + ")" : "") +
            ":";
        for (const join::ListedFile& file : folder.files)
            text += " " + file.name + "@" + std::to_string(file.position);
        for (const join::ListedFile& file : folder.leftOut)
            text += " left out " + file.name;
        for (const auto& [file, take] : folder.notCopied)
            text += " not copied " + file.name + " (" +
                    words::reasonText(join::notCopiedReason(take)) + ")";
        text += "\n";
    }
    text += "winners:";
    for (const join::FlatPlace& place : plan.winners)
        text += " " + plan.pathOf(place);
    return text;
}

// The flat copy's winners as the reference has them: copying every file in processing order,
// the last file of each key stays; in processing order.
std::vector<join::FlatPlace> referenceWinners(const join::FlatEntryPlan& plan, bool caseIgnored) {
    std::map<std::string, join::FlatPlace> last;
    for (std::uint32_t folder = 0; folder < plan.contents.size(); ++folder) {
        for (std::uint32_t file = 0; file < plan.contents[folder].files.size(); ++file) {
            std::string key = plan.contents[folder].files[file].name;
            if (caseIgnored)
                std::transform(key.begin(), key.end(), key.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            last[key] = {folder, file};
        }
    }
    std::vector<join::FlatPlace> winners;
    for (const auto& [key, place] : last)
        winners.push_back(place);
    std::sort(winners.begin(), winners.end(),
              [](const join::FlatPlace& a, const join::FlatPlace& b) {
                  return a.folder != b.folder ? a.folder < b.folder : a.file < b.file;
              });
    return winners;
}

} // namespace

// Random trees on disk, each folder with files drawn from a few names (some the same but for
// case, some beginning with "~"), a pipe, a link to nothing, a link to a file and one to a
// folder; some walks name a folder that has gone, some hold the output folder. Each plan is made
// from listings read now and from the walk's own, for a target that keeps names as bytes and one
// that ignores case.
TEST(PlanFlatFolders, AgainstAReferenceOnRandomTrees) {
    const char* const names[] = {"a.txt",    "A.TXT",  "b.jpg", "B.jpg", "c", "Notes 2",
                                 "notes 10", "~a.txt", "~tmp",  "x",     "X"};
    const char* const subfolders[] = {"", "s1/", "s1/t/", "s2/", "S2/"};
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        TestDir dir;
        dir.write("outside.txt", "o");
        join::FolderCollection folders;
        std::vector<std::set<std::string>> files, leftOut, notCopied;
        for (const char* sub : subfolders) {
            if (random() % 4 == 0)
                continue;
            const std::string folder = "e/" + std::string(sub);
            dir.make(folder + "\n");
            folders.push_back(dir.path(folder));
            files.emplace_back();
            leftOut.emplace_back();
            notCopied.emplace_back();
            for (const char* name : names) {
                if (random() % 2 == 0)
                    continue;
                dir.write(folder + name, std::string(random() % 3, 'z'));
                (name[0] == '~' ? leftOut : files).back().insert(name);
            }
            if (random() % 2 == 0) {
                ASSERT_EQ(::mkfifo(dir.path(folder + "pipe").c_str(), 0644), 0);
                dir.make(folder + "gone -> nowhere\n" + folder + "up -> ..\n");
                notCopied.back().insert({"pipe", "gone"});
            }
            if (random() % 2 == 0) {
                dir.make(folder + "linked -> " + dir.path("outside.txt") + "\n");
                files.back().insert("linked");
            }
        }
        if (folders.empty())
            continue;
        // A folder gone since the walk.
        constexpr std::size_t None = SIZE_MAX;
        std::size_t gone = None;
        if (random() % 4 == 0) {
            gone = random() % (folders.size() + 1);
            const auto at = static_cast<std::ptrdiff_t>(gone);
            folders.insert(folders.begin() + at, dir.path("e/vanished/"));
            for (auto* sets : {&files, &leftOut, &notCopied})
                sets->insert(sets->begin() + at, std::set<std::string>());
        }
        // The output folder among the walk's folders.
        join::FileIdentity output{};
        std::size_t outputAt = None;
        if (random() % 4 == 0) {
            outputAt = random() % folders.size();
            if (outputAt == gone)
                outputAt = None;
            else
                ASSERT_EQ(join::identityOfPath(folders[outputAt], output), 0);
        }

        for (const bool caseIgnored : {false, true}) {
            const std::string row = "seed " + std::to_string(seed) +
                                    (caseIgnored ? ", names one but for case" : ", names as bytes");
            const join::OutputRules rules = caseIgnored ? caseIgnoringRules() : join::OutputRules();
            const join::FlatEntryPlan plan =
                join::planFlatFolders(folders.front(), folders, {}, nullptr, rules, output);
            const std::string text = shown(plan);
            ASSERT_EQ(plan.contents.size(), folders.size()) << row << "\n" << text;
            for (std::size_t i = 0; i < folders.size(); ++i) {
                const join::FlatFolder& folder = plan.contents[i];
                std::set<std::string> taken, left, refused;
                for (const join::ListedFile& file : folder.files)
                    taken.insert(file.name);
                for (const join::ListedFile& file : folder.leftOut)
                    left.insert(file.name);
                for (const auto& [file, take] : folder.notCopied)
                    refused.insert(file.name);
                const bool givesNothing = i == outputAt || i == gone;
                EXPECT_EQ(folder.isOutput, i == outputAt) << row << ", folder " << i << "\n"
                                                          << text;
                EXPECT_EQ(folder.listingFailure.has_value(), i == gone)
                    << row << ", folder " << i << "\n"
                    << text;
                EXPECT_EQ(taken, givesNothing ? std::set<std::string>{} : files[i])
                    << row << ", folder " << i << "\n"
                    << text;
                EXPECT_EQ(left, givesNothing ? std::set<std::string>{} : leftOut[i])
                    << row << ", folder " << i << "\n"
                    << text;
                EXPECT_EQ(refused, givesNothing ? std::set<std::string>{} : notCopied[i])
                    << row << ", folder " << i << "\n"
                    << text;
                const auto outOfOrder = std::adjacent_find(
                    folder.files.begin(), folder.files.end(),
                    [](const join::ListedFile& a, const join::ListedFile& b) {
                        return a.position >= b.position || !join::naturalNameLess(a.name, b.name);
                    });
                EXPECT_TRUE(outOfOrder == folder.files.end())
                    << row << ": a folder's files in listing order\n"
                    << text;
            }
            EXPECT_TRUE(plan.winners == referenceWinners(plan, caseIgnored)) << row << "\n" << text;

            // The same from what the walk listed, which the plan takes instead of listing again.
            join::WalkListings listings;
            for (const std::string& folder : folders) {
                join::FolderListing listing;
                if (join::readListing(folder, listing) == 0)
                    listings.byPath.emplace(folder, std::move(listing));
            }
            const join::FlatEntryPlan fromWalk =
                join::planFlatFolders(folders.front(), folders, {}, &listings, rules, output);
            EXPECT_EQ(shown(fromWalk), text) << row;
            EXPECT_TRUE(listings.byPath.empty()) << row;
        }
    }
}

TEST(PlanFlatFolders, AStopLeavesThePlanShort) {
    TestDir dir;
    dir.make("e/a.txt=1\ne/s/b.txt=2\n");
    const auto control = std::make_shared<join::RunControl>();
    control->requestStop();
    const join::RunScope scope(control);
    const join::FlatEntryPlan plan = join::planFlatFolders(
        dir.path("e/"), {dir.path("e/"), dir.path("e/s/")}, {}, nullptr, join::OutputRules(), {});
    EXPECT_TRUE(plan.contents.empty());
    EXPECT_TRUE(plan.winners.empty());
}
