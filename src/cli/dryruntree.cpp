// The dry run of a copy that preserves folder structure: where each entry goes or why it is
// refused, then every folder, file and link of its tree as the tree copy shares them out.
#include "dryrunplanner.h"
#include "join/fs/failure.h"
#include "join/fs/posixfs.h"
#include "join/fs/targetfs.h"
#include "join/plan/joinplan.h"
#include "join/run/entrycopy.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cli::dryrun {

namespace {

// Why the copy takes no file from an entry, in the dry run's words.
std::string notCopiedWords(join::TreeTake take) {
    return take == join::TreeTake::LinkToNothing ? "a link to nothing" : "not a regular file";
}

} // namespace

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
            if (const int error = fd.valid() ? join::readListingAt(fd.get(), listing) : fd.error();
                error != 0) {
                m_out << "  cannot list " << from << ": "
                      << join::failureFromErrno(error, from).description() << '\n';
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

} // namespace cli::dryrun
