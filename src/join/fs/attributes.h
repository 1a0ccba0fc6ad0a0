#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>

// What a copy keeps of a file, folder or link beside its bytes, permission bits and times: its
// extended attributes, its access lists (ACLs) and, when run as root, its owner, group and
// setuid and setgid bits. Nothing of this fails a copy: what the output's file system does not
// hold is counted instead.
namespace join {

// The kinds of attribute a copy keeps, as they are counted when the output does not hold them.
enum class KeptAttribute : std::size_t {
    Extended,   // user.*, and security.* and trusted.* when run as root
    AccessList, // the access ACL, and a folder's default ACL
    Owner       // owner and group, and with them the setuid and setgid bits (root only)
};
inline constexpr std::size_t KeptAttributeKinds = 3;

// A kind as a bit of a set of kinds.
constexpr unsigned attributeBit(KeptAttribute kind) {
    return 1U << static_cast<unsigned>(kind);
}

// What the output did not hold of what the copies keep: for each kind, on how many files,
// folders and links it was lost, and how many lost anything; `fileSystem` names the output's
// file system type where it is known.
struct AttributesNotKept {
    std::array<std::uint64_t, KeptAttributeKinds> of{};
    std::uint64_t items = 0;
    std::string fileSystem;

    std::uint64_t count(KeptAttribute kind) const { return of[static_cast<std::size_t>(kind)]; }
    void add(const AttributesNotKept& more);
};

// What the output did not hold, counted while the copies run on several threads, and what its
// file system has said it never holds: that is not asked again, so that a copy onto exFAT does not
// pay a failing call per file.
class AttributeTally {
public:
    void notKept(unsigned kinds);
    bool neverHeld(KeptAttribute kind) const {
        return m_neverHeld[static_cast<std::size_t>(kind)].load(std::memory_order_relaxed);
    }
    void markNeverHeld(KeptAttribute kind) {
        m_neverHeld[static_cast<std::size_t>(kind)].store(true, std::memory_order_relaxed);
    }
    AttributesNotKept counts() const;

private:
    std::array<std::atomic<std::uint64_t>, KeptAttributeKinds> m_of{};
    std::atomic<std::uint64_t> m_items{0};
    std::array<std::atomic<bool>, KeptAttributeKinds> m_neverHeld{};
};

// Where the copy's attributes are counted, and what its folder does to what is made in it.
struct Keeping {
    // Null: nothing is kept beside the bytes, bits and times.
    AttributeTally* tally = nullptr;
    // The destination's folder gives what is made in it its own group (its setgid bit).
    bool groupFromFolder = false;
};

// Gives the open copy `to` the attributes of the open source `from`, whose status is `source`:
// owner and group first (root only), then the setuid and setgid bits (files only: a folder's bits
// are set once it is filled), then the extended attributes and ACLs, a default ACL on folders
// only. Reads the source's attribute names with one call, and asks nothing more when it has none.
// Returns the kinds it could not keep (attributeBit), which it has counted. A folder's default
// ACL, which what is made in the folder would inherit, is read into `defaultList` where given,
// for keepDefaultList() once the folder is filled.
unsigned keepAttributes(int from, const struct stat& source, int to, const Keeping& keeping,
                        std::string* defaultList = nullptr);

// Gives the open folder `to` the default ACL `list` that keepAttributes() read; counts it as not
// kept where the output refuses it.
void keepDefaultList(int to, const std::string& list, const Keeping& keeping);

// Gives the link `name` in the open folder `folder` the owner and group (root only) and the times
// of the source link whose status is `source`; the link is not followed. On FUSE, where setting
// them may follow the link at the far end, it keeps neither, and counts the owner as not kept.
void keepLinkAttributes(const struct stat& source, int folder, const std::string& name,
                        const Keeping& keeping);

} // namespace join
