#include "dryrun.h"

#include "join/copy/filecopy.h"
#include "join/fs/failure.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/fs/targetfs.h"
#include "join/plan/joinplan.h"
#include "join/run/entrycopy.h"
#include "join/run/runprogress.h"
#include "join/walk/subfolders.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace cli {

namespace {

using join::TargetFileSystem;

std::string counted(std::size_t count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string withSeparator(std::string path) {
    if (!join::endsWithSeparator(path))
        path += join::Separator;
    return path;
}

// A path without "." and ".." parts, doubled separators or a trailing separator, for telling
// two spellings of one path apart as text.
std::string lexicallyNormal(const std::string& path) {
    std::string text = std::filesystem::path(path).lexically_normal().string();
    while (text.size() > 1 && join::endsWithSeparator(text))
        text.pop_back();
    return text;
}

std::uint64_t fileSize(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

// Keeps what the folder walk would report in the window's error box.
class WalkReports final : public join::WalkHost {
public:
    void pumpEvents() override {}
    void showErrorReport(const std::string& description, const std::string&, int) override {
        reports.push_back(description);
    }
    std::vector<std::string> reports;
};

// A file the flat copy would take, in processing order.
struct FlatFile {
    std::string source;
    std::string name;
    std::uint64_t size;
};

// Why the copy takes no file from an entry, in the dry run's words.
std::string notCopiedWords(join::FlatTake take) {
    return take == join::FlatTake::LinkToNothing ? "a link to nothing" : "not a regular file";
}
std::string notCopiedWords(join::TreeTake take) {
    return take == join::TreeTake::LinkToNothing ? "a link to nothing" : "not a regular file";
}

class Planner {
public:
    Planner(const JoinRequest& request, std::ostream& out, const ExamineFunction& examine,
            PlannedJoin* record = nullptr)
        : m_request(request), m_out(out), m_examine(examine), m_record(record) {}
    int run();

private:
    void describeTarget();
    void checkCreation(const std::string& folder, const std::string& what);
    void readOutputFolder();
    void planFlatEntry(const std::string& entry);
    void planPreservedEntry(const std::string& entry);
    void planTree(const std::string& source, const std::string& target);
    void checkFlatNames();
    void printFlatCollisions();
    void printList(const std::string& heading, const std::vector<std::string>& lines);
    void printSpace();
    int printSummary();
    bool flat() const { return m_request.option == join::CopyOption::Flat; }

    void recordFile(const std::string& destination, const std::string& source, bool there);
    void recordNotCopied(const std::string& source);

    const JoinRequest& m_request;
    std::ostream& m_out;
    const ExamineFunction& m_examine;
    PlannedJoin* m_record;
    TargetFileSystem m_target;
    bool m_targetKnown = false;
    // The rules the join decides by, from the file system examined.
    join::OutputRules m_rules;
    join::FileIdentity m_outputIdentity;
    // The flat plans of the entries, in list order.
    std::vector<std::shared_ptr<const join::FlatEntryPlan>> m_flatPlans;
    // Where each planned place stands in the record.
    std::unordered_map<std::string, std::size_t> m_recorded;
    // What the output folder holds already, by the name its file system tells apart.
    std::unordered_map<std::string, join::FolderEntry> m_existing;

    // The folders the preserve copies planned so far would make, spelled lexically normal.
    std::unordered_set<std::string> m_plannedFolders;
    std::vector<FlatFile> m_flatFiles;
    std::vector<std::string> m_skipped;
    std::vector<std::string> m_refused;
    std::vector<std::string> m_caseClashes;
    // Pipes, sockets, devices and links to nothing, which are not copied.
    std::vector<std::string> m_notFiles;
    // Folders the flat copy's walk leaves out, with why.
    std::vector<std::string> m_leftOut;
    // The files the preserve copies planned so far would leave, by the place the target tells
    // apart, with their sources; and the files a later entry's copy replaces.
    std::unordered_map<std::string, std::string> m_plannedFiles;
    std::vector<std::string> m_replaced;
    // Files whose destination already has their size and time, which the join leaves alone.
    std::size_t m_alreadyThere = 0;
    bool countIfThere(const std::string& source, const std::string& destination);
    std::uint64_t m_needed = 0;
    std::uint64_t m_freed = 0;

    std::size_t m_refusedEntries = 0;
    std::size_t m_unreadable = 0;
    std::unordered_set<std::string> m_creationChecked;
    std::size_t m_unwritable = 0;
    std::size_t m_caseClashCount = 0;
    bool m_tooBig = false;
};

void Planner::describeTarget() {
    m_out << "Output folder: " << m_request.output << '\n';
    try {
        m_target = m_examine(m_request.output);
        m_targetKnown = true;
    } catch (const join::Failure& failure) {
        m_out << "  its file system cannot be examined: " << failure.description() << '\n';
        return;
    }
    m_out << "  file system: " << m_target.type;
    if (!m_target.mountType.empty())
        m_out << " (mounted as " << m_target.mountType << ")";
    if (!m_target.source.empty())
        m_out << " on " << m_target.source;
    m_out << '\n';
    const bool fat = m_target.family != TargetFileSystem::Family::Other;
    m_out << "  names: " << (m_target.caseInsensitive ? "case ignored" : "case kept")
          << ", at most " << m_target.nameMax << (fat ? " characters" : " bytes") << '\n';
    if (fat)
        m_out << "  not allowed: : ? * \" < > | \\ and control characters in names";
    if (!m_target.storesLinks)
        m_out << (fat ? ", " : "  not allowed: ") << "symbolic links";
    if (fat || !m_target.storesLinks)
        m_out << '\n';
    m_out << "  free: " << join::sizeText(m_target.freeBytes) << '\n';
    m_rules = join::OutputRules(m_target);
}

void Planner::recordFile(const std::string& destination, const std::string& source, bool there) {
    if (!m_record)
        return;
    const auto [at, added] =
        m_recorded.try_emplace(m_rules.key(destination), m_record->files.size());
    if (added)
        m_record->files.push_back({destination, source, there});
    else
        m_record->files[at->second] = {destination, source, there};
}

void Planner::recordNotCopied(const std::string& source) {
    if (m_record)
        m_record->notCopied.push_back(source);
}

// The join creates files and folders in the output folder and in the existing folders a preserve
// copy merges into: says so when this user may not.
void Planner::checkCreation(const std::string& folder, const std::string& what) {
    if (!m_creationChecked.insert(lexicallyNormal(folder)).second)
        return;
    if (const int error = join::creationRefusedIn(folder); error != 0) {
        m_out << "  cannot create files in " << what << ": " << std::strerror(error) << '\n';
        ++m_unwritable;
    }
}

void Planner::readOutputFolder() {
    join::FolderListing listing;
    if (!join::listFolder(m_request.output, listing))
        return;
    for (join::FolderEntry& entry : listing.entries) {
        std::string key = m_rules.key(entry.name);
        m_existing.emplace(std::move(key), std::move(entry));
    }
}

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

// The tree copy's own placement, then every folder, file and link the copy would make. An
// earlier entry's copy may make the folder a later entry's existing-copy check looks at: the
// folders planned so far count as existing.
void Planner::planPreservedEntry(const std::string& entry) {
    if (entry.empty()) {
        m_out << "  names no folder: nothing to copy\n";
        return;
    }
    const join::PreservePlacement placement = join::placePreservedEntry(entry, m_request.output);
    using Outcome = join::PreservePlacement::Outcome;
    const bool plannedBefore = placement.outcome == Outcome::Copy &&
                               m_plannedFolders.contains(lexicallyNormal(placement.mirrored));
    if (plannedBefore) {
        m_out << "  refused: " << placement.mirrored
              << " will exist by then, made by an earlier entry's copy\n";
        ++m_refusedEntries;
        return;
    }
    if (placement.outcome != Outcome::Copy) {
        m_out << "  refused: " << placement.refusal << '\n';
        ++m_refusedEntries;
        return;
    }
    const bool merged = join::folderExists(placement.target);
    m_out << "  goes to " << placement.target
          << (merged ? " (merged into the folder there)\n" : "\n");
    if (merged)
        checkCreation(placement.target, placement.target);
    planTree(placement.source, placement.target);
}

// The tree copy's view of one entry: every folder, file and link below it, shared out as the
// copy shares them (join::planFolder, join::takeForTree), with the names the output folder's
// file system refuses or takes as one. Where it ignores case, folders whose names are one there
// are one folder, their entries in listing order; of other entries whose names are one there
// the last is copied. A file that an earlier entry's copy put at the same place is replaced.
void Planner::planTree(const std::string& source, const std::string& target) {
    // A folder to make, with the source folders whose entries go into it.
    struct Folder {
        std::vector<std::string> sources;
        std::string target;
    };
    struct Item {
        std::string folder;
        int fd;
        join::FolderEntry entry;
    };
    std::vector<Folder> pending{{{source}, target}};
    std::size_t files = 0;
    std::size_t folders = 0;
    std::size_t links = 0;
    const bool wholeFolders = m_rules.ignoresCase();
    while (!pending.empty()) {
        const Folder folder = std::move(pending.back());
        pending.pop_back();
        const std::string copy = withSeparator(folder.target);
        m_plannedFolders.insert(lexicallyNormal(copy));
        ++folders;
        m_needed += m_target.blockSize;
        std::vector<join::Descriptor> open;
        std::vector<Item> items;
        for (const std::string& sourceFolder : folder.sources) {
            const std::string from = withSeparator(sourceFolder);
            join::Descriptor fd = join::openFolder(from);
            join::FolderListing listing;
            if (!fd.valid() || !join::listFolderAt(fd.get(), listing)) {
                m_out << "  cannot list " << from << ": "
                      << join::failureFromErrno(errno, from).description() << '\n';
                ++m_unreadable;
                continue;
            }
            for (join::FolderEntry& entry : listing.entries)
                items.push_back({from, fd.get(), std::move(entry)});
            open.push_back(std::move(fd));
        }
        std::vector<join::FolderEntry::Type> types;
        std::vector<std::string> keys;
        for (const Item& item : items) {
            types.push_back(item.entry.type);
            if (wholeFolders)
                keys.push_back(m_rules.key(item.entry.name));
        }
        const join::FolderPlan plan = join::planFolder(types, keys, items.size());
        // Why the target refuses a name it is asked to hold, or "".
        const auto refusal = [&](const Item& item) {
            if (!m_targetKnown)
                return std::string();
            std::string refused = join::nameRefusal(m_target, item.entry.name);
            if (refused.empty() && item.entry.type == join::FolderEntry::Type::Link &&
                !m_target.storesLinks)
                refused = "is a symbolic link, which " + m_target.type + " cannot store";
            return refused;
        };
        std::vector<Folder> children;
        for (const std::vector<std::uint32_t>& group : plan.folders) {
            const Item& first = items[group.front()];
            if (const std::string refused = refusal(first); !refused.empty()) {
                m_refused.push_back(first.folder + first.entry.name + ": the name " + refused);
                recordNotCopied(first.folder + first.entry.name);
                continue;
            }
            Folder child{{}, copy + first.entry.name};
            for (const std::uint32_t i : group)
                child.sources.push_back(items[i].folder + items[i].entry.name);
            children.push_back(std::move(child));
        }
        for (const std::vector<std::uint32_t>& run : plan.runs) {
            for (const std::uint32_t i : run) {
                const Item& item = items[i];
                const std::string path = item.folder + item.entry.name;
                if (const std::optional<std::uint32_t> later = plan.replacedBy[i]) {
                    const Item& kept = items[*later];
                    m_caseClashes.push_back(kept.folder + kept.entry.name + " replaces " + path +
                                            " (one name on " + m_target.type + ")");
                    ++m_caseClashCount;
                    recordNotCopied(path);
                    continue;
                }
                const join::TreeTake take = join::takeForTree(item.fd, item.entry);
                if (take == join::TreeTake::LinkToNothing || take == join::TreeTake::NotAFile) {
                    m_notFiles.push_back(path + ": " + notCopiedWords(take));
                    recordNotCopied(path);
                    continue;
                }
                if (const std::string refused = refusal(item); !refused.empty()) {
                    m_refused.push_back(path + ": the name " + refused);
                    recordNotCopied(path);
                    continue;
                }
                const bool file = take == join::TreeTake::File;
                if (file) {
                    ++files;
                    m_needed += join::spaceFor(m_target, fileSize(path));
                } else {
                    ++links;
                }
                // An earlier entry's copy may have put a file here: this one replaces it.
                const std::string place = lexicallyNormal(copy + item.entry.name);
                const auto [earlier, added] = m_plannedFiles.try_emplace(m_rules.key(place), path);
                bool there = false;
                if (!added) {
                    m_replaced.push_back(place + ": " + path + " replaces " + earlier->second);
                    earlier->second = path;
                } else if (file && countIfThere(path, place)) {
                    there = true;
                    m_needed -= join::spaceFor(m_target, fileSize(path));
                }
                if (file)
                    recordFile(place, path, there);
            }
        }
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            pending.push_back(std::move(*child));
    }
    m_out << "  " << counted(files, "file", "files") << ", "
          << counted(folders, "folder", "folders");
    if (links > 0)
        m_out << ", " << counted(links, "link", "links");
    m_out << '\n';
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

// A file whose destination already has its size and time is left alone, and needs no room.
bool Planner::countIfThere(const std::string& source, const std::string& destination) {
    if (m_request.alwaysCopy || !join::isAlreadyCopied(source, destination, m_rules.timeStep()))
        return false;
    ++m_alreadyThere;
    return true;
}

void Planner::printList(const std::string& heading, const std::vector<std::string>& lines) {
    m_out << '\n'
          << heading << ": " << (lines.empty() ? "none" : std::to_string(lines.size())) << '\n';
    for (const std::string& line : lines)
        m_out << "  " << line << '\n';
}

void Planner::printSpace() {
    if (!m_targetKnown)
        return;
    const std::uint64_t needed = m_needed > m_freed ? m_needed - m_freed : 0;
    m_tooBig = needed > m_target.freeBytes;
    m_out << "\nSpace: about " << join::sizeText(needed) << " to write, "
          << join::sizeText(m_target.freeBytes) << " free: " << (m_tooBig ? "does not fit" : "fits")
          << '\n';
}

int Planner::printSummary() {
    std::vector<std::string> problems;
    if (m_refusedEntries > 0)
        problems.push_back(counted(m_refusedEntries, "entry refused", "entries refused"));
    if (m_unreadable > 0)
        problems.push_back(counted(m_unreadable, "folder unreadable", "folders unreadable"));
    if (m_unwritable > 0)
        problems.push_back(counted(m_unwritable, "folder not writable", "folders not writable"));
    if (!m_refused.empty())
        problems.push_back(counted(m_refused.size(), "name refused", "names refused"));
    if (!m_notFiles.empty())
        problems.push_back(counted(m_notFiles.size(), "entry not a file", "entries not files"));
    if (!m_leftOut.empty())
        problems.push_back(counted(m_leftOut.size(), "folder left out", "folders left out"));
    if (m_caseClashCount > 0)
        problems.push_back(
            counted(m_caseClashCount, "file lost to a case clash", "files lost to case clashes"));
    if (m_tooBig)
        problems.push_back("not enough space");
    if (problems.empty()) {
        m_out << "\nThe join would copy everything.\n";
        return ExitStatus::Copied;
    }
    m_out << "\nThe join would not copy everything: ";
    for (std::size_t i = 0; i < problems.size(); ++i)
        m_out << (i == 0 ? "" : ", ") << problems[i];
    m_out << ".\n";
    return ExitStatus::NotEverything;
}

int Planner::run() {
    m_out << "Dry run: nothing is written.\n";
    describeTarget();
    m_outputIdentity = join::IdentityOf(m_request.output).value_or(join::FileIdentity{});
    checkCreation(m_request.output, "it");
    readOutputFolder();
    m_out << "Copy option: " << (flat() ? "just copy files (flat)" : "preserve folder structure")
          << "\n\n";

    const std::size_t count = m_request.sources.size();
    for (std::size_t i = 0; i < count; ++i) {
        m_out << "Entry " << i + 1 << " of " << count << ": " << m_request.sources[i] << '\n';
        // As the run reads an entry: "." and ".." lead to the folder they name.
        const std::string entry = join::resolveDotSegments(m_request.sources[i]);
        if (flat())
            planFlatEntry(entry);
        else
            planPreservedEntry(entry);
    }

    if (flat()) {
        checkFlatNames();
        printFlatCollisions();
        printList("Skipped (names beginning with \"~\")", m_skipped);
    }
    // These lists show only when they have something to say.
    if (!m_replaced.empty())
        printList("Files a later entry replaces (the later file wins)", m_replaced);
    if (!m_leftOut.empty())
        printList("Folders left out by the walk", m_leftOut);
    if (!m_notFiles.empty())
        printList("Not copied (not regular files, links to nothing)", m_notFiles);
    printList(m_targetKnown ? "Refused by " + m_target.type : std::string("Refused"), m_refused);
    if (m_target.caseInsensitive)
        printList("Different names that are one on " + m_target.type, m_caseClashes);
    if (m_alreadyThere > 0)
        m_out << "\nAlready there (same size and time), left alone: " << m_alreadyThere << '\n';
    printSpace();
    return printSummary();
}

} // namespace

int DryRun(const JoinRequest& request, std::ostream& out) {
    return DryRun(request, out, join::examineTargetFileSystem);
}

int DryRun(const JoinRequest& request, std::ostream& out, const ExamineFunction& examine) {
    Planner planner(request, out, examine);
    return planner.run();
}

PlannedJoin planJoin(const JoinRequest& request) {
    PlannedJoin plan;
    std::ostringstream ignored;
    const ExamineFunction examine = join::examineTargetFileSystem;
    Planner planner(request, ignored, examine, &plan);
    planner.run();
    return plan;
}

} // namespace cli
