#include "join/fs/attributes.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/magic.h>
#include <optional>
#include <string_view>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace join {

namespace {

constexpr const char* DefaultList = "system.posix_acl_default";

bool runAsRoot() {
    static const bool root = ::geteuid() == 0;
    return root;
}

// Whether a thing made by this process has another owner or group than `source`: it is made
// with the process's own, or its folder's group where the folder gives it. The process's are
// read once.
bool ownedOtherwise(const struct stat& source, const Keeping& keeping) {
    static const uid_t user = ::geteuid();
    static const gid_t group = ::getegid();
    return source.st_uid != user || source.st_gid != group || keeping.groupFromFolder;
}

// Whether a refusal says that the file system never holds the kind at all, rather than that this
// one value did not fit: then it is not asked again.
bool saysNeverHeld(KeptAttribute kind, int error) {
    if (error == ENOTSUP || error == ENOSYS)
        return true;
    // Only root may give a file away; a file system that refuses even root (FAT, exFAT) holds
    // one owner for all.
    return kind == KeptAttribute::Owner && error == EPERM;
}

// The kind of an extended attribute by its name, or nothing for one that is not copied: another
// system.* name (the file system's own, such as an NFS ACL), and security.* and trusted.* unless
// run as root, who alone may set them.
std::optional<KeptAttribute> kindOf(std::string_view name, bool folder) {
    if (name.starts_with("user."))
        return KeptAttribute::Extended;
    if (name.starts_with("security.") || name.starts_with("trusted."))
        return runAsRoot() ? std::optional(KeptAttribute::Extended) : std::nullopt;
    if (name == "system.posix_acl_access" || (folder && name == DefaultList))
        return KeptAttribute::AccessList;
    return std::nullopt;
}

// Reads into `buffer` what `read` gives for a buffer of its size, growing it while it is too
// small. The length, or -1 with errno set.
template <typename Read> ssize_t readGrowing(std::vector<char>& buffer, const Read& read) {
    for (;;) {
        const ssize_t length = read(buffer.data(), buffer.size());
        if (length >= 0 || errno != ERANGE)
            return length;
        const ssize_t needed = read(nullptr, 0);
        if (needed < 0)
            return needed;
        buffer.resize(static_cast<std::size_t>(needed) + 256);
    }
}

// Owner and group first, then the setuid and setgid bits, which a change of owner clears: a
// file keeps them only where it keeps its owner. The bits it lost.
unsigned keepOwner(int to, const struct stat& source, const Keeping& keeping, bool folder) {
    if (!runAsRoot())
        return 0;
    if (ownedOtherwise(source, keeping)) {
        if (keeping.tally->neverHeld(KeptAttribute::Owner))
            return attributeBit(KeptAttribute::Owner);
        if (::fchown(to, source.st_uid, source.st_gid) != 0) {
            if (saysNeverHeld(KeptAttribute::Owner, errno))
                keeping.tally->markNeverHeld(KeptAttribute::Owner);
            return attributeBit(KeptAttribute::Owner);
        }
    }
    // A folder gets its bits once it is filled (targetfolder.h).
    if (!folder && (source.st_mode & (S_ISUID | S_ISGID)) != 0 &&
        ::fchmod(to, source.st_mode & 07777) != 0)
        return attributeBit(KeptAttribute::Owner);
    return 0;
}

} // namespace

void AttributesNotKept::add(const AttributesNotKept& more) {
    for (std::size_t kind = 0; kind < KeptAttributeKinds; ++kind)
        of[kind] += more.of[kind];
    items += more.items;
    if (fileSystem.empty())
        fileSystem = more.fileSystem;
}

void AttributeTally::notKept(unsigned kinds) {
    if (kinds == 0)
        return;
    for (std::size_t kind = 0; kind < KeptAttributeKinds; ++kind)
        if ((kinds & (1U << kind)) != 0)
            m_of[kind].fetch_add(1, std::memory_order_relaxed);
    m_items.fetch_add(1, std::memory_order_relaxed);
}

AttributesNotKept AttributeTally::counts() const {
    AttributesNotKept counts;
    for (std::size_t kind = 0; kind < KeptAttributeKinds; ++kind)
        counts.of[kind] = m_of[kind].load(std::memory_order_relaxed);
    counts.items = m_items.load(std::memory_order_relaxed);
    return counts;
}

unsigned keepAttributes(int from, const struct stat& source, int to, const Keeping& keeping,
                        std::string* defaultList) {
    if (!keeping.tally)
        return 0;
    const bool folder = S_ISDIR(source.st_mode);
    unsigned lost = keepOwner(to, source, keeping, folder);

    thread_local std::vector<char> names(1024);
    thread_local std::vector<char> value(4096);
    const ssize_t length = readGrowing(
        names, [&](char* into, std::size_t size) { return ::flistxattr(from, into, size); });
    // None, or a source whose file system holds none.
    for (std::size_t at = 0; length > 0 && at < static_cast<std::size_t>(length);) {
        const char* name = names.data() + at;
        at += std::strlen(name) + 1;
        const std::optional<KeptAttribute> kind = kindOf(name, folder);
        if (!kind || (lost & attributeBit(*kind)) != 0)
            continue;
        if (keeping.tally->neverHeld(*kind)) {
            lost |= attributeBit(*kind);
            continue;
        }
        const ssize_t size = readGrowing(value, [&](char* into, std::size_t room) {
            return ::fgetxattr(from, name, into, room);
        });
        if (size < 0)
            continue; // gone meanwhile: nothing to keep
        if (defaultList && std::string_view(name) == DefaultList) {
            defaultList->assign(value.data(), static_cast<std::size_t>(size));
            continue;
        }
        if (::fsetxattr(to, name, value.data(), static_cast<std::size_t>(size), 0) != 0) {
            if (saysNeverHeld(*kind, errno))
                keeping.tally->markNeverHeld(*kind);
            lost |= attributeBit(*kind);
        }
    }
    keeping.tally->notKept(lost);
    return lost;
}

void keepDefaultList(int to, const std::string& list, const Keeping& keeping) {
    if (!keeping.tally || list.empty())
        return;
    if (::fsetxattr(to, DefaultList, list.data(), list.size(), 0) == 0)
        return;
    if (saysNeverHeld(KeptAttribute::AccessList, errno))
        keeping.tally->markNeverHeld(KeptAttribute::AccessList);
    keeping.tally->notKept(attributeBit(KeptAttribute::AccessList));
}

void keepLinkAttributes(const struct stat& source, int folder, const std::string& name,
                        const Keeping& keeping) {
    if (!keeping.tally)
        return;
    unsigned lost = 0;
    // A FUSE daemon sets a link's owner and times by its path, and one whose far end does that by
    // a call that follows links (sshfs: SFTP's setstat) would change what the link leads to,
    // which may lie outside the output folder: a link there keeps neither.
    struct statfs where {};
    if (::fstatfs(folder, &where) == 0 && where.f_type == FUSE_SUPER_MAGIC) {
        if (runAsRoot() && ownedOtherwise(source, keeping))
            keeping.tally->notKept(attributeBit(KeptAttribute::Owner));
        return;
    }
    if (runAsRoot() && ownedOtherwise(source, keeping)) {
        if (keeping.tally->neverHeld(KeptAttribute::Owner)) {
            lost = attributeBit(KeptAttribute::Owner);
        } else if (::fchownat(folder, name.c_str(), source.st_uid, source.st_gid,
                              AT_SYMLINK_NOFOLLOW) != 0) {
            if (saysNeverHeld(KeptAttribute::Owner, errno))
                keeping.tally->markNeverHeld(KeptAttribute::Owner);
            lost = attributeBit(KeptAttribute::Owner);
        }
    }
    // A link's times are kept where its file system holds them, as a file's are.
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    ::utimensat(folder, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
    keeping.tally->notKept(lost);
}

} // namespace join
