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

constexpr std::uint32_t NoParent = UINT32_MAX;

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

// A folder found by the walk: its path and where it stands in the chain of folders walked.
struct Entry {
    std::string path;
    std::uint32_t node;
    bool descend = true;
};

// One link in a chain of parents. A folder's path starts with the paths of all its parents,
// so a parent is named by the length of that prefix; its identity is read only when a
// directory link below it needs to be checked against it.
struct ChainNode {
    std::uint32_t parent;
    std::uint32_t pathLength;
    std::optional<FileIdentity> identity;
    bool identityRead = false;
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

    std::vector<Entry> start(FolderCollection& folders) {
        std::vector<Entry> entries;
        entries.reserve(folders.size());
        for (auto& path : folders) {
            const auto length = static_cast<std::uint32_t>(path.size());
            entries.push_back({std::move(path), addNode(NoParent, length)});
        }
        return entries;
    }

    // Returns how many of the collection's own entries are left before the folders below them.
    std::size_t expand(std::vector<Entry>& folders, Recursion recursion);

private:
    void examine(const Entry& entry, Trap& trap, bool& listingBegun, std::vector<Entry>& level);
    bool leadsBackToChain(const std::string& link, std::uint32_t parent);
    const std::optional<FileIdentity>& identityOf(std::uint32_t node, const std::string& below);

    std::uint32_t addNode(std::uint32_t parent, std::uint32_t pathLength) {
        m_chain.push_back({parent, pathLength, std::nullopt});
        return static_cast<std::uint32_t>(m_chain.size() - 1);
    }

    void leaveOut(std::string path, std::string reason, int number) {
        if (m_leftOut)
            m_leftOut->push_back({std::move(path), std::move(reason), number});
    }

    WalkHost& m_host;
    std::vector<LeftOutFolder>* m_leftOut;
    WalkListings* m_listings;
    std::size_t m_found = 0;
    std::vector<ChainNode> m_chain;
};

std::size_t Walk::expand(std::vector<Entry>& folders, Recursion recursion) {
    Trap trap(m_host, Procedure::WalkSubfolders);
    std::vector<Entry> level; // 100
    Removals removals(folders);
    bool listingBegun = false;

    for (const Entry& entry : folders) { // 102
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
            std::string reason = failure.description();
            if (reason.ends_with(": " + entry.path))
                reason.resize(reason.size() - entry.path.size() - 2);
            if (number == ErrorNumber::PermissionDenied || number == ErrorNumber::PathNotFound) {
                removals.removeFirstEqual(entry.path);
                leaveOut(entry.path, std::move(reason), number);
            } else {
                leaveOut(entry.path, "its subfolders could not all be read: " + reason, number);
            }
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
            leaveOut(next.path, "the path is longer than the system can reach",
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
    if (!entry.descend)
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
        bool link;
    };
    std::vector<Child> children;
    for (FolderEntry& child : listing.entries) { // 112
        const bool link = child.type == FolderEntry::Type::Link;
        if (child.type != FolderEntry::Type::Folder &&
            !(link && leadsToFolderAt(folder.get(), child.name)))
            continue;
        m_host.pumpEvents();            // 114
        std::string& name = child.name; // 116
        if (std::string reason = rejectedNameReason(name); !reason.empty()) {
            leaveOut(path + name + Separator, std::move(reason), ErrorNumber::PathFileAccessError);
            continue; // 118
        }
        children.push_back({m_listings ? name : std::move(name), link});
    }

    for (const Child& child : children) {
        std::string childPath;
        childPath.reserve(path.size() + child.name.size() + 1);
        childPath.append(path).append(child.name).push_back(Separator);
        const bool descend = !child.link || !leadsBackToChain(childPath, entry.node);
        const auto length = static_cast<std::uint32_t>(childPath.size());
        level.push_back({std::move(childPath), addNode(entry.node, length), descend}); // 120
    }
    m_found += children.size();
    if (listingError != 0)
        throw failureFromErrno(listingError);
    if (m_listings && listing.entries.size() <= m_listings->room) {
        m_listings->room -= listing.entries.size();
        m_listings->byPath[path] = std::move(listing);
    }
}

// A directory link that leads to one of the folders it stands below would make the walk
// list the same folders again and again.
bool Walk::leadsBackToChain(const std::string& link, std::uint32_t parent) {
    FileIdentity target;
    if (identityOfPath(link, target) != 0)
        return false;
    for (std::uint32_t node = parent; node != NoParent; node = m_chain[node].parent) {
        if (identityOf(node, link) == target)
            return true;
    }
    return false;
}

const std::optional<FileIdentity>& Walk::identityOf(std::uint32_t node, const std::string& below) {
    ChainNode& chain = m_chain[node];
    if (!chain.identityRead) {
        if (FileIdentity identity; identityOfPath(below.substr(0, chain.pathLength), identity) == 0)
            chain.identity = identity;
        chain.identityRead = true;
    }
    return chain.identity;
}

constexpr const char* NotUtf8 = "the name is not UTF-8 text";

// Why a name fails the walk's character test, or "" when it passes.
std::string badCharacterReason(const std::string& name) {
    for (std::string_view rest = name; !rest.empty();) {
        const std::optional<Utf8Point> next = decodeUtf8Point(rest);
        if (!next)
            return NotUtf8;
        const char32_t code = next->point;
        if (code == U'?')
            return "the name holds \"?\"";
        if (code < 32 || (code >= 127 && code <= 159))
            return "the name holds a control character";
        rest.remove_prefix(next->length);
    }
    return {};
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
    return !badCharacterReason(name).empty();
}

std::string rejectedNameReason(const std::string& name) {
    if (name.size() >= MaxNameLength)
        return "the name is " + std::to_string(MaxNameLength) + " bytes or longer";
    return badCharacterReason(name);
}

} // namespace join
