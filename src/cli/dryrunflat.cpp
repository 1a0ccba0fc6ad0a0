// The dry run of a flat copy: each entry's walk and plan as the flat copy makes them, then the
// names of all entries against the output folder and against each other.
#include "dryrunplanner.h"
#include "join/fs/posixfs.h"
#include "join/fs/targetfs.h"
#include "join/host/host.h"
#include "join/plan/joinplan.h"
#include "join/walk/subfolders.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace cli::dryrun {

namespace {

// Keeps what the folder walk would report in the window's error box.
class WalkReports final : public join::WalkHost {
public:
    void pumpEvents() override {}
    void showErrorReport(const std::string& description, const std::string&, int) override {
        reports.push_back(description);
    }
    std::vector<std::string> reports;
};

// Why the copy takes no file from an entry, in the dry run's words.
std::string notCopiedWords(join::FlatTake take) {
    return take == join::FlatTake::LinkToNothing ? "a link to nothing" : "not a regular file";
}

} // namespace

// The flat copy's own plan of the entry: the entry and every folder below it in the walk's
// order, each folder's files in the listing's order, "~" names left out, the output folder's
// own files its own.
void Planner::planFlatEntry(const std::string& entry) {
    if (entry.empty()) {
        m_out << "  names no folder: nothing to copy\n";
        m_flatPlans.push_back(std::make_shared<const join::FlatEntryPlan>());
        return;
    }
    join::FolderCollection folders{withSeparator(entry)};
    WalkReports walk;
    std::vector<join::LeftOutFolder> leftOut;
    join::WalkListings listings{std::size_t{1} << 18, {}};
    try {
        join::walkSubfolders(folders, join::Recursion::AllLevels, walk, &leftOut, &listings);
    } catch (const std::exception& failure) {
        walk.reports.push_back(failure.what());
    }
    for (const std::string& report : walk.reports) {
        m_out << "  cannot read a folder: " << report << '\n';
        ++m_unreadable;
    }
    auto plan = std::make_shared<const join::FlatEntryPlan>(join::planFlatFolders(
        entry, std::move(folders), std::move(leftOut), &listings, m_rules, m_outputIdentity));
    for (const join::LeftOutFolder& folder : plan->leftOut) {
        m_leftOut.push_back(folder.path + ": " + folder.reason);
        recordNotCopied(folder.path);
    }
    std::size_t files = 0;
    for (const join::FlatFolder& folder : plan->contents) {
        if (folder.listingFailure) {
            m_out << "  cannot list " << folder.listingFailure->description() << '\n';
            ++m_unreadable;
            continue;
        }
        for (const join::ListedFile& file : folder.leftOut)
            m_skipped.push_back(folder.path + file.name);
        for (const auto& [file, take] : folder.notCopied) {
            m_notFiles.push_back(folder.path + file.name + ": " + notCopiedWords(take));
            recordNotCopied(folder.path + file.name);
        }
        for (const join::ListedFile& file : folder.files) {
            std::string source = folder.path + file.name;
            const std::uint64_t size = fileSize(source);
            m_flatFiles.push_back({std::move(source), file.name, size});
            ++files;
        }
    }
    m_out << "  " << counted(files, "file", "files") << " from "
          << counted(plan->folders.size(), "folder", "folders") << " go directly into "
          << m_request.output << '\n';
    m_flatPlans.push_back(std::move(plan));
}

// The names of the flat copy against the output folder's file system: refused names, names
// that a folder there already takes, and different names that it takes as one. The file that
// each name ends with is the join's own choice (join::FlatRun).
void Planner::checkFlatNames() {
    // The file of each key the join leaves: the copies of each entry, those that no later
    // entry's file replaces.
    join::FlatRun run(m_flatPlans, m_rules);
    std::unordered_map<std::string, std::string> winnerOf;
    for (std::size_t entry = 0; entry < m_flatPlans.size(); ++entry)
        for (const join::FlatPlace& place : run.copiesOf(*m_flatPlans[entry], m_rules, entry))
            winnerOf[m_rules.key(m_flatPlans[entry]->file(place).name)] =
                m_flatPlans[entry]->pathOf(place);

    // Per name as the file system tells them apart: each different spelling's last file.
    struct Spellings {
        std::vector<std::string> names;
        std::vector<std::size_t> lastFile;
    };
    std::unordered_map<std::string, Spellings> byKey;
    std::vector<std::string> keys;
    std::unordered_set<std::string> refused;
    for (std::size_t i = 0; i < m_flatFiles.size(); ++i) {
        const FlatFile& file = m_flatFiles[i];
        if (m_targetKnown) {
            const std::string refusal = join::nameRefusal(m_target, file.name);
            if (!refusal.empty()) {
                m_refused.push_back(file.source + ": the name " + refusal);
                recordNotCopied(file.source);
                refused.insert(file.source);
                continue;
            }
        }
        const std::string key = m_rules.key(file.name);
        const auto existing = m_existing.find(key);
        if (existing != m_existing.end() &&
            existing->second.type == join::FolderEntry::Type::Folder) {
            m_refused.push_back(file.source + ": a folder named " + existing->second.name +
                                " stands in the output folder");
            recordNotCopied(file.source);
            refused.insert(file.source);
            continue;
        }
        auto [found, added] = byKey.try_emplace(key);
        if (added)
            keys.push_back(key);
        Spellings& spellings = found->second;
        std::size_t spelling = 0;
        while (spelling < spellings.names.size() && spellings.names[spelling] != file.name)
            ++spelling;
        if (spelling == spellings.names.size()) {
            spellings.names.push_back(file.name);
            spellings.lastFile.push_back(i);
        }
        spellings.lastFile[spelling] = i;
    }

    for (const std::string& key : keys) {
        const Spellings& spellings = byKey[key];
        const auto chosen = winnerOf.find(key);
        if (chosen == winnerOf.end() || refused.contains(chosen->second))
            continue;
        std::size_t winner = spellings.lastFile.size();
        for (std::size_t s = 0; s < spellings.lastFile.size(); ++s)
            if (m_flatFiles[spellings.lastFile[s]].source == chosen->second)
                winner = s;
        if (winner == spellings.lastFile.size())
            continue;
        const FlatFile& kept = m_flatFiles[spellings.lastFile[winner]];
        const bool there = countIfThere(kept.source, withSeparator(m_request.output) + kept.name);
        recordFile(withSeparator(m_request.output) + kept.name, kept.source, there);
        if (!there)
            m_needed += join::spaceFor(m_target, kept.size);
        const auto existing = m_existing.find(key);
        if (existing != m_existing.end() && !there)
            m_freed += join::spaceFor(
                m_target, fileSize(withSeparator(m_request.output) + existing->second.name));
        if (spellings.names.size() < 2)
            continue;
        std::string line = kept.source + " replaces ";
        for (std::size_t s = 0, listed = 0; s < spellings.names.size(); ++s)
            if (s != winner)
                line += (listed++ == 0 ? "" : ", ") + m_flatFiles[spellings.lastFile[s]].source;
        // As with any two files of one name, the later replaces the earlier: nothing is lost
        // that a flat copy would have kept.
        m_caseClashes.push_back(line + " (one name on " + m_target.type + ")");
    }
}

// Files of the same name: the later replaces the earlier, as the flat copy's rule says.
void Planner::printFlatCollisions() {
    std::unordered_map<std::string, std::vector<std::size_t>> byName;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < m_flatFiles.size(); ++i) {
        auto [found, added] = byName.try_emplace(m_flatFiles[i].name);
        if (added)
            names.push_back(m_flatFiles[i].name);
        found->second.push_back(i);
    }
    std::vector<std::string> lines;
    for (const std::string& name : names) {
        const std::vector<std::size_t>& files = byName[name];
        if (files.size() < 2)
            continue;
        std::string line = name + ": " + m_flatFiles[files.back()].source + " replaces ";
        for (std::size_t i = 0; i + 1 < files.size(); ++i)
            line += (i == 0 ? "" : ", ") + m_flatFiles[files[i]].source;
        lines.push_back(std::move(line));
    }
    printList("Name collisions (the later file wins)", lines);
}

} // namespace cli::dryrun
