#include "join/copy/targetfolder.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace join {

namespace {

constexpr unsigned OwnerAll = 0700;
constexpr unsigned SetIdBits = S_ISUID | S_ISGID;
// What the owner needs to make entries in a folder: write and search.
constexpr unsigned OwnerWriteSearch = 0300;

unsigned processUmask() {
    static const unsigned mask = readProcessUmask();
    return mask;
}

bool mayWriteInto(const FolderStatus& status, bool root) {
    return root || (status.permissions & OwnerWriteSearch) == OwnerWriteSearch;
}

// Opens an existing folder for filling: one its owner could not make entries in is made
// writable for the owner until the copy is done.
Descriptor openForFilling(Descriptor folder, std::optional<unsigned>& restore, int& error) {
    static const bool root = ::geteuid() == 0;
    FolderStatus status;
    // On success `error` keeps what it held: EEXIST for a folder that was there already.
    if (const int why = folder.valid() ? readFolderStatus(folder.get(), status) : folder.error();
        why != 0) {
        error = why;
        return {};
    }
    if (!mayWriteInto(status, root) && status.owned()) {
        if (const int refused = setPermissions(folder.get(), status.permissions | OwnerWriteSearch);
            refused != 0) {
            error = refused;
            return {};
        }
        restore = status.permissions;
    }
    return folder;
}

} // namespace

Descriptor prepareTargetFolder(int parent, const std::string& name, unsigned sourcePermissions,
                               bool replaceLink, bool mayExist, std::optional<unsigned>& restore,
                               int& error) {
    // A folder there already, as every one is when a tree is joined again, is found in one call.
    if (mayExist) {
        if (Descriptor existing = openFolderAt(parent, name); existing.valid()) {
            error = EEXIST;
            return openForFilling(std::move(existing), restore, error);
        }
    }
    static const bool root = ::geteuid() == 0;
    const unsigned umask = processUmask();
    // Root keeps the setuid and setgid bits too, which a folder gets once its owner is set.
    const unsigned wanted =
        (sourcePermissions & 0777 & ~umask) | (root ? sourcePermissions & SetIdBits : 0);
    // Made open to its owner, so that it can be filled, and given its own bits at the end.
    const unsigned made = ((wanted & 0777) | OwnerAll) & ~umask;
    error = makeFolderAt(parent, name, made);
    if (error == EEXIST) {
        FolderEntry::Type existing = FolderEntry::Type::Other;
        if (readEntryTypeAt(parent, name, existing) != 0)
            return {}; // gone, or cannot be examined: the error stays EEXIST
        if (existing == FolderEntry::Type::Folder)
            return openForFilling(openFolderAt(parent, name), restore, error);
        if (existing != FolderEntry::Type::Link || !replaceLink)
            return {};
        // A link where a folder goes is replaced, never written through.
        error = removeLinkAt(parent, name);
        if (error == 0)
            error = makeFolderAt(parent, name, made);
    }
    if (error != 0)
        return {};
    Descriptor folder = openFolderAt(parent, name);
    if (!folder.valid()) {
        error = folder.error();
        return {};
    }
    if ((made & OwnerAll) != OwnerAll) // a umask that shuts out the owner
        static_cast<void>(setPermissions(folder.get(), made | OwnerAll));
    if (made != wanted || (made & OwnerAll) != OwnerAll)
        restore = wanted;
    return folder;
}

Descriptor openTargetFolder(Descriptor folder, std::optional<unsigned>& restore, int& error) {
    return openForFilling(std::move(folder), restore, error);
}

std::optional<OutputFolder> foreseeTargetFolder(const OutputFolder& parent, const std::string& name,
                                                std::uint64_t place, bool replaceLink,
                                                ForeseenOutput& foreseen, Descriptor& opened,
                                                bool& made, int& error) {
    made = false;
    const SeenAtPlace seen = seeAt(&foreseen, parent, name, place);
    switch (seen.kind) {
    case SeenAtPlace::Kind::Folder:
        error = EEXIST;
        if (seen.foreseen)
            return OutputFolder{-1, place, 0};
        opened = openFolderAt(parent.fd, name);
        if (!opened.valid()) {
            error = opened.error();
            return std::nullopt;
        }
        return OutputFolder{opened.get(), place, refusalToFill(opened.get())};
    case SeenAtPlace::Kind::File:
    case SeenAtPlace::Kind::Other:
        error = EEXIST;
        return std::nullopt;
    case SeenAtPlace::Kind::Link:
        if (!replaceLink) {
            error = EEXIST;
            return std::nullopt;
        }
        break;
    case SeenAtPlace::Kind::Nothing:
        break;
    }
    if (parent.refusal != 0) {
        error = parent.refusal;
        return std::nullopt;
    }
    foreseen.put(place, {ForeseenThing::Kind::Folder, {}, 0, {}, 0});
    made = true;
    error = 0;
    return OutputFolder{-1, place, 0};
}

} // namespace join
