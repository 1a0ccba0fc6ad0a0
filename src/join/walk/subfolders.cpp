#include "join/walk/subfolders.h"

#include "join/fs/failure.h"
#include "join/fs/folderpaths.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/fs/utf8.h"
#include "join/host/trap.h"
#include "join/tasks/workers.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <exception>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace join {

namespace {

// A folder path this long is not listed; a name this long is not taken.
constexpr std::size_t MaxListedPathLength = PATH_MAX;
constexpr std::size_t MaxNameLength = 260;

constexpr int ExcludedAttributes = Attribute::Hidden | Attribute::System | Attribute::Directory;
constexpr int ExcludedAliasAttributes = ExcludedAttributes | Attribute::Alias;

// The root folder is always listed; any other folder is, unless its attributes are exactly
// hidden + system + directory, with or without alias.
bool passesFolderTest(const std::string& path) {
    // Only a name that begins with "." carries the hidden bit, so every other folder passes
    // without the attribute query, which also asks for the volume's type each time.
    const std::size_t end = path.find_last_not_of(Separator);
    const std::size_t start = end == std::string::npos ? 0 : path.rfind(Separator, end) + 1;
    if (end == std::string::npos || path[start] != '.')
        return true;
    const int attributes = folderAttributes(path);
    if (attributes != ExcludedAttributes && attributes != ExcludedAliasAttributes)
        return true;
    return isRootFolder(path);
}

// How the walk came to a folder: as one of the collection's own entries, as a folder inside a
// folder it lists, or through a link to a folder there.
enum class Reached : std::uint8_t { AsEntry, AsFolder, ThroughLink };

// A folder found by the walk: its path, how it was reached, and whether it is to be listed.
struct Entry {
    std::string path;
    Reached reached = Reached::AsEntry;
    bool descend = true;
};

struct IdentityHash {
    std::size_t operator()(const FileIdentity& identity) const {
        return std::hash<std::uint64_t>{}(static_cast<std::uint64_t>(identity.inode) *
                                              0x9E3779B97F4A7C15ULL ^
                                          static_cast<std::uint64_t>(identity.device));
    }
};

// Removes, on request, the first not yet removed entry equal to a text. Entries are only
// marked during the walk and taken out in one pass afterwards.
class Removals {
public:
    explicit Removals(const std::vector<Entry>& folders) : m_folders(folders) {}

    void removeFirstEqual(const std::string& path) {
        if (m_removed.empty()) {
            m_removed.assign(m_folders.size(), false);
            for (std::size_t i = 0; i < m_folders.size(); ++i)
                m_positions[m_folders[i].path].at.push_back(i);
        }
        auto found = m_positions.find(path);
        if (found == m_positions.end() || found->second.next == found->second.at.size())
            return;
        m_removed[found->second.at[found->second.next++]] = true;
    }

    void compact(std::vector<Entry>& folders) const {
        if (m_removed.empty())
            return;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < folders.size(); ++i) {
            if (!m_removed[i])
                folders[kept++] = std::move(folders[i]);
        }
        folders.resize(kept);
    }

private:
    struct Positions {
        std::vector<std::size_t> at;
        std::size_t next = 0;
    };
    const std::vector<Entry>& m_folders;
    std::vector<bool> m_removed;
    std::unordered_map<std::string_view, Positions> m_positions;
};

// One walk over a folder collection and everything below it.
class Walk {
public:
    Walk(WalkHost& host, std::vector<LeftOutFolder>* leftOut, WalkListings* listings)
        : m_host(host), m_leftOut(leftOut), m_listings(listings) {}

    static std::vector<Entry> start(FolderCollection& folders) {
        std::vector<Entry> entries;
        entries.reserve(folders.size());
        for (auto& path : folders)
            entries.push_back({std::move(path)});
        return entries;
    }

    // Returns how many of the collection's own entries are left before the folders below them.
    std::size_t expand(std::vector<Entry>& folders, Recursion recursion);

private:
    void examine(const Entry& entry, Trap& trap, bool& listingBegun, std::vector<Entry>& level);
    bool walkedThroughLink(const Entry& entry, const Descriptor& folder, FileIdentity& identity);

    void leaveOut(std::string path, Reason reason, int number) {
        if (m_leftOut)
            m_leftOut->push_back({std::move(path), std::move(reason), number});
    }

    WalkHost& m_host;
    std::vector<LeftOutFolder>* m_leftOut;
    WalkListings* m_listings;
    std::size_t m_found = 0;
    // The folders walked or about to be, by identity, and whether the first way there was a
    // link: a link is not followed into a folder the walk has been in already, so that links
    // that lead back up, or to one folder from several places, add nothing new. A folder reached
    // through its own parent is walked again only where the collection asked for it twice.
    std::unordered_map<FileIdentity, bool, IdentityHash> m_walked;
};

std::size_t Walk::expand(std::vector<Entry>& folders, Recursion recursion) {
    Trap trap(m_host, Procedure::WalkSubfolders);
    std::vector<Entry> level; // 100
    Removals removals(folders);
    bool listingBegun = false;

    for (const Entry& entry : folders) { // 102
        pausePoint();
        if (m_host.walkStopped())
            break;
        try {
            examine(entry, trap, listingBegun, level);
        } catch (...) {
            // Only failures after the first listing began get here; they are not reported, but
            // every folder the walk could not finish is left out with its reason. A refused or
            // vanished folder goes from the collection; any other keeps its place, with what
            // its listing gave before it failed.
            const Failure failure = failureFromCurrentException();
            const int number = failure.number();
            Reason reason = failure.reason();
            if (number == ErrorNumber::PermissionDenied || number == ErrorNumber::PathNotFound) {
                removals.removeFirstEqual(entry.path);
            } else if (reason.code == Reason::Code::System) {
                reason.code = Reason::Code::SubfoldersUnreadable;
            }
            leaveOut(entry.path, std::move(reason), number);
        }
    }
    removals.compact(folders);
    const std::size_t kept = folders.size();

    // After the deeper levels are walked, the level holds this level's children followed by the
    // folders below them, which the deeper levels have just tested themselves. Testing those
    // again at every level above would cost as much as the tree's depth times its size.
    std::size_t children = level.size();
    if (recursion == Recursion::AllLevels && !level.empty() && !m_host.walkStopped())
        trap.line(130, [&] { children = expand(level, recursion); });

    folders.reserve(folders.size() + level.size());
    for (std::size_t i = 0; i < level.size(); ++i) { // 132
        if (m_host.walkStopped())
            break;
        Entry& next = level[i];
        if (i >= children) {
            folders.push_back(std::move(next));
            continue;
        }
        if (trap.test(134, [&] { return folderExists(next.path); })) {
            trap.line(136, [&] { m_host.pumpEvents(); });
            if (trap.test(138, [&] { return passesFolderTest(next.path); }))
                trap.line(140, [&] { folders.push_back(std::move(next)); });
        } else if (next.path.size() >= MaxListedPathLength) {
            leaveOut(next.path, Reason{Reason::Code::PathTooLong, 0, {}, {}, 0},
                     ErrorNumber::PathFileAccessError);
        }
    }
    return kept;
}

// Steps of one entry. Until the first listing of this level begins, a failing step is
// reported and the next step runs; from then on a failure ends the entry and reaches the
// caller's silent handler.
void Walk::examine(const Entry& entry, Trap& trap, bool& listingBegun, std::vector<Entry>& level) {
    const std::string& path = entry.path;
    auto statement = [&](int line, const std::function<void()>& body) {
        if (listingBegun)
            body();
        else
            trap.line(line, body);
    };
    auto condition = [&](int line, const std::function<bool()>& test) {
        return listingBegun ? test() : trap.test(line, test);
    };

    // Opening the folder tells that it is there, in the call that opens it for listing; only
    // where it cannot be opened does a look tell whether it is there at all.
    Descriptor folder;
    if (condition(104, [&] {
            if (path.size() >= MaxListedPathLength)
                return true;
            if (entry.descend)
                folder = openFolder(path);
            return !folder.valid() && !folderExists(path);
        }))
        return;
    FileIdentity identity;
    if (!entry.descend || walkedThroughLink(entry, folder, identity))
        return;
    statement(106, [&] {
        m_host.foldersFound(m_found);
        m_host.pumpEvents();
    });
    if (!condition(108, [&] { return passesFolderTest(path); }))
        return;

    listingBegun = true; // 110
    if (!folder.valid())
        folder = openFolder(path);
    if (!folder.valid())
        throw failureFromErrno(folder.error());
    // In natural name order, whatever order the directory keeps; a listing that fails part-way
    // still gives the subfolders it read.
    FolderListing listing;
    const int listingError = readListingAt(folder.get(), listing);
    struct Child {
        std::string name;
        Reached reached;
        bool descend;
    };
    std::vector<Child> children;
    for (FolderEntry& child : listing.entries) { // 112
        // A listing may be long: a stop ends it here too, with nothing of it taken.
        if (m_host.walkStopped())
            return;
        const bool link = child.type == FolderEntry::Type::Link;
        FileIdentity target;
        if (child.type != FolderEntry::Type::Folder &&
            !(link && folderIdentityAt(folder.get(), child.name, target) == 0))
            continue;
        m_host.pumpEvents();            // 114
        std::string& name = child.name; // 116
        if (std::optional<Reason> reason = rejectedNameReason(name)) {
            leaveOut(path + name + Separator, std::move(*reason), ErrorNumber::PathFileAccessError);
            continue; // 118
        }
        bool descend = true;
        if (link) {
            // A link out of this file system into one the kernel fills with its own state
            // (/proc/self) would lead the walk over the whole system.
            if (target.device != identity.device) {
                if (const std::string type = pseudoFileSystemAt(folder.get(), name);
                    !type.empty()) {
                    leaveOut(path + name + Separator,
                             Reason{Reason::Code::SystemFileSystem, 0, {}, type, 0},
                             ErrorNumber::PathFileAccessError);
                    continue;
                }
            }
            descend = m_walked.emplace(target, true).second;
        }
        children.push_back({m_listings ? name : std::move(name),
                            link ? Reached::ThroughLink : Reached::AsFolder, descend});
    }

    for (const Child& child : children) {
        std::string childPath;
        childPath.reserve(path.size() + child.name.size() + 1);
        childPath.append(path).append(child.name).push_back(Separator);
        level.push_back({std::move(childPath), child.reached, child.descend}); // 120
    }
    m_found += children.size();
    if (listingError != 0)
        throw failureFromErrno(listingError);
    // A listing costs its names and one more for the folder itself, so that a tree of many
    // empty folders is kept within the room too.
    if (m_listings && listing.entries.size() + 1 <= m_listings->room) {
        m_listings->room -= listing.entries.size() + 1;
        m_listings->byPath[path] = std::move(listing);
    }
}

// Notes the open folder `folder` as walked, its identity in `identity`, and tells whether the
// walk has been in it already through a link, so that it is not listed a second time. A folder
// that cannot be opened is not noted: its listing fails on its own.
bool Walk::walkedThroughLink(const Entry& entry, const Descriptor& folder, FileIdentity& identity) {
    FolderStatus status;
    if (!folder.valid() || readFolderStatus(folder.get(), status) != 0)
        return false;
    identity = status.identity;
    const auto [walked, first] = m_walked.emplace(identity, entry.reached == Reached::ThroughLink);
    return !first && entry.reached == Reached::AsFolder && walked->second;
}

Reason nameReason(Reason::Code code, std::uint64_t count = 0) {
    return {code, 0, {}, {}, count};
}

// Why a name fails the walk's character test, or nothing when it passes.
std::optional<Reason> badCharacterReason(const std::string& name) {
    for (std::string_view rest = name; !rest.empty();) {
        const std::optional<Utf8Point> next = decodeUtf8Point(rest);
        if (!next)
            return nameReason(Reason::Code::NameNotUtf8);
        const char32_t code = next->point;
        if (code == U'?')
            return nameReason(Reason::Code::NameHoldsQuestionMark);
        if (code < 32 || (code >= 127 && code <= 159))
            return nameReason(Reason::Code::NameHoldsControlCharacter);
        rest.remove_prefix(next->length);
    }
    return std::nullopt;
}

} // namespace

bool WalkHost::walkStopped() const {
    return stopRequested();
}

void walkSubfolders(FolderCollection& folders, Recursion recursion, WalkHost& host,
                    std::vector<LeftOutFolder>* leftOut, WalkListings* listings) {
    Walk walk(host, leftOut, listings);
    std::vector<Entry> entries = walk.start(folders);
    walk.expand(entries, recursion);
    folders.clear();
    folders.reserve(entries.size());
    for (Entry& entry : entries)
        folders.push_back(std::move(entry.path));
}

bool hasBadCharacters(const std::string& name) {
    return badCharacterReason(name).has_value();
}

std::optional<Reason> rejectedNameReason(const std::string& name) {
    if (name.size() >= MaxNameLength)
        return nameReason(Reason::Code::NameTooLong, MaxNameLength);
    return badCharacterReason(name);
}

} // namespace join
