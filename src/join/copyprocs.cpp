#include "copyprocs.h"

#include "failure.h"
#include "paths.h"
#include "posixfs.h"
#include "subdirs.h"

#include <cerrno>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace join {

namespace {

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == Separator)
        path.pop_back();
    return path;
}

std::string parentText(const std::string& path) {
    const std::size_t last = path.rfind(Separator);
    if (last == std::string::npos)
        return ".";
    return last == 0 ? std::string(1, Separator) : path.substr(0, last);
}

// True when `folder` is `path` or one of the folders above it, judged by identity along the
// real chain of parents, so that links and other spellings of the same folder are seen through.
// A `path` that does not exist yet is judged by the nearest level of it that does.
bool liesInside(const std::string& path, const FileIdentity& folder) {
    std::string probe = path;
    std::optional<FileIdentity> current = IdentityOf(probe);
    while (!current && probe != "." && probe != std::string(1, Separator)) {
        probe = parentText(withoutTrailingSeparators(probe));
        current = IdentityOf(probe);
    }
    while (current) {
        if (*current == folder)
            return true;
        probe += "/..";
        const std::optional<FileIdentity> parent = IdentityOf(probe);
        if (!parent || *parent == *current)
            return false;
        current = parent;
    }
    return false;
}

// The tree copy behind CopyFolder. Walks the source depth first with one listing open at a
// time, copies what it can and remembers what it could not.
class TreeCopy {
public:
    void run(const std::string& source, const std::string& target, bool targetIsOutputFolder);
    void throwIfFailed() const;

private:
    struct Folder {
        std::string source;
        std::string target;
        bool mayReplaceLink;
    };
    struct CreatedFolder {
        std::string path;
        fs::perms permissions;
    };

    bool prepareFolder(const Folder& folder, unsigned permissions);
    bool makeFolder(const Folder& folder, unsigned permissions);
    void copyLink(const std::string& source, const std::string& target);
    void copyFolderContents(const Folder& folder);
    void fail(const std::string& path, const Failure& failure);
    void fail(const std::string& path, const std::string& reason);

    std::vector<Folder> m_pending;
    std::vector<CreatedFolder> m_created;
    int m_failed = 0;
    std::optional<Failure> m_first;
    unsigned m_linkCounter = 0;
};

void TreeCopy::fail(const std::string& path, const Failure& failure) {
    if (m_failed++ == 0)
        m_first =
            Failure(failure.number(), failure.description().empty() ? path : failure.description());
}

void TreeCopy::fail(const std::string& path, const std::string& reason) {
    fail(path, Failure(ErrorNumber::PathFileAccessError, reason + ": " + path));
}

void TreeCopy::run(const std::string& source, const std::string& target,
                   bool targetIsOutputFolder) {
    m_pending.push_back({source, target, !targetIsOutputFolder});
    while (!m_pending.empty()) {
        Folder folder = std::move(m_pending.back());
        m_pending.pop_back();
        copyFolderContents(folder);
    }
    // Folders that were made writable take the source's permissions last, deepest first, so
    // that a read-only folder does not shut out its own children.
    for (auto created = m_created.rbegin(); created != m_created.rend(); ++created) {
        std::error_code error;
        fs::permissions(created->path, created->permissions, fs::perm_options::replace, error);
        if (error)
            fail(created->path, failureFromErrno(error.value(), created->path));
    }
}

// Makes the target folder ready to receive the source folder's entries: an existing folder is
// merged into, a link in its place is replaced by a folder, and anything else there fails.
bool TreeCopy::prepareFolder(const Folder& folder, unsigned permissions) {
    if (makeFolder(folder, permissions))
        return true;
    if (errno != EEXIST) {
        fail(folder.source, failureFromErrno(errno, folder.target));
        return false;
    }
    // Something has the name already: a folder is merged into; a link is never written through.
    std::error_code error;
    const fs::file_status existing = fs::symlink_status(folder.target, error);
    if (fs::is_directory(existing))
        return true;
    if (fs::is_symlink(existing) && !folder.mayReplaceLink && FolderExists(folder.target))
        return true; // the output folder itself may be a link to a folder
    if (!folder.mayReplaceLink || !fs::is_symlink(existing)) {
        fail(folder.source, "A file that is not a folder stands in the way at " + folder.target);
        return false;
    }
    fs::remove(folder.target, error);
    if (error || !makeFolder(folder, permissions)) {
        fail(folder.source, failureFromErrno(error ? error.value() : errno, folder.target));
        return false;
    }
    return true;
}

// Makes a new folder with the source folder's permission bits, as far as the umask lets them
// through, just as "cp -R" does. A folder its owner could not write into is made writable until
// it has been filled and takes its bits at the end.
bool TreeCopy::makeFolder(const Folder& folder, unsigned permissions) {
    constexpr unsigned OwnerAll = 0700;
    if (!MakeFolder(folder.target, permissions | OwnerAll))
        return false;
    if ((permissions & OwnerAll) != OwnerAll)
        m_created.push_back({folder.target, static_cast<fs::perms>(permissions)});
    return true;
}

void TreeCopy::copyFolderContents(const Folder& folder) {
    FolderListing listing;
    if (!ListFolder(folder.source, listing)) {
        fail(folder.source, failureFromErrno(errno, folder.source));
        return;
    }
    if (!prepareFolder(folder, listing.permissions))
        return;

    const std::string sourcePrefix = withoutTrailingSeparators(folder.source) + Separator;
    const std::string targetPrefix = withoutTrailingSeparators(folder.target) + Separator;
    for (FolderEntry& entry : listing.entries) {
        std::string source = sourcePrefix + entry.name;
        std::string target = targetPrefix + entry.name;
        // The listing's own record of each entry's type: no further query in the usual case.
        switch (entry.type) {
        case FolderEntry::Type::Link:
            copyLink(source, target);
            break;
        case FolderEntry::Type::Folder:
            m_pending.push_back({std::move(source), std::move(target), true});
            break;
        case FolderEntry::Type::File:
            if (!CopyOneFile(source, target, IfDestinationExists::Replace)) {
                const int reason = errno;
                if (reason != 0)
                    fail(source, failureFromErrno(reason, source));
                else
                    fail(source, "Could not copy the file");
            }
            break;
        case FolderEntry::Type::Other:
            // Pipes, sockets and devices are never opened: reading one could block or consume.
            fail(source, "Not a file, folder or link, so not copied");
            break;
        }
    }
}

// Recreates a symbolic link with the same target text; the link is never followed.
void TreeCopy::copyLink(const std::string& source, const std::string& target) {
    std::error_code error;
    const fs::path linkTarget = fs::read_symlink(source, error);
    if (error) {
        fail(source, failureFromErrno(error.value(), source));
        return;
    }
    const fs::file_status existing = fs::symlink_status(target, error);
    if (!fs::exists(existing)) {
        fs::create_symlink(linkTarget, target, error);
        if (error)
            fail(source, failureFromErrno(error.value(), target));
        return;
    }
    if (fs::is_directory(existing)) {
        fail(source, "A folder stands in the way of the link at " + target);
        return;
    }
    // Something else has the name: make the link beside it and rename it into place.
    const std::string temporary =
        parentText(target) + Separator + ".~brimvale-link-" + std::to_string(++m_linkCounter);
    fs::remove(temporary, error);
    fs::create_symlink(linkTarget, temporary, error);
    if (!error)
        fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        fail(source, failureFromErrno(error ? error.value() : EIO, target));
    }
}

void TreeCopy::throwIfFailed() const {
    if (m_failed == 0)
        return;
    if (m_failed == 1)
        throw *m_first;
    throw Failure(m_first->number(), "Could not copy " + std::to_string(m_failed) +
                                         " items; the first: " + m_first->description());
}

} // namespace

void CopyFolder(const std::string& source, const std::string& destination) {
    const std::string from = withoutTrailingSeparators(source);
    if (from.empty() || !FolderExists(from))
        throw failureFromErrno(ENOENT, source);
    const std::optional<FileIdentity> sourceIdentity = IdentityOf(from);
    if (!sourceIdentity)
        throw failureFromErrno(ENOENT, source);

    const bool intoDestination = EndsWithSeparator(destination);
    if (intoDestination && !FolderExists(destination))
        throw failureFromErrno(ENOENT, destination);
    const std::string target = intoDestination
                                   ? destination + LastPathPart(from == "/" ? std::string() : from)
                                   : destination;
    if (liesInside(target, *sourceIdentity))
        throw Failure(ErrorNumber::PathFileAccessError,
                      "Cannot copy a folder into itself: " + destination + " lies inside " + from);

    TreeCopy copy;
    copy.run(from, target, !intoDestination);
    copy.throwIfFailed();
}

void CopyEntryPreservingStructure(const std::string& entry, JoinHost& host, Trap& trap) {
    // 122: the tree copy needs no object of its own.
    trap.line(124, [&] { MakeFolderTree(host.outputFolderText()); });
    std::string source = entry;
    if (trap.test(126, [&] { return EndsWithSeparator(source); }))
        trap.line(128, [&] {
            if (!source.empty())
                source.pop_back();
        });
    const std::string root = trap.value<std::string>(130, [&] { return DriveRoot(source); });
    std::string mirrored;
    trap.line(132, [&] {
        const bool absolute = root.size() == 1 && root.front() == Separator;
        mirrored = host.outputFolderText() + Separator + (absolute ? source.substr(1) : source);
    });
    trap.line(134, [&] { mirrored = NormalizePath(mirrored); });
    if (trap.test(136, [&] { return FolderExists(mirrored); }))
        trap.line(140, [&] { host.showMessage(mirrored + " already exists. Please delete."); });
    else
        trap.line(138, [&] { CopyFolder(source, host.outputFolderText()); });
}

void CopyEntryFlat(const std::string& entry, JoinHost& host, Trap& trap) {
    // An empty entry names no folder; with the separator appended it would name the root.
    if (entry.empty())
        return;
    FolderCollection folders;
    trap.line(142,
              [&] { folders.push_back(EndsWithSeparator(entry) ? entry : entry + Separator); });
    trap.line(144, [&] { GetSubDirectories2016(folders, Recursion::AllLevels, host); });
    for (const std::string& folder : folders) { // 146
        trap.line(148, [&] { host.pumpEvents(); });
        std::vector<std::string> names;
        if (!trap.line(150, [&] { names = ListFiles(folder, "*.*"); }))
            continue; // a folder that cannot be listed contributes nothing
        for (const std::string& name : names) { // 152
            trap.line(154, [&] { host.pumpEvents(); });
            if (trap.test(156, [&] { return name.starts_with('~'); }))
                continue;
            std::string source;
            trap.line(158, [&] { source = folder + name; });
            trap.line(160, [&] {
                std::string destination = host.outputFolderText();
                // Emptied during the run, the text names no folder; with the separator put
                // between it would name the root folder.
                if (destination.empty())
                    return;
                if (!EndsWithSeparator(destination))
                    destination += Separator;
                destination += name;
                CopyOneFile(source, destination, IfDestinationExists::Replace);
            });
        } // 162
    }
}

} // namespace join
