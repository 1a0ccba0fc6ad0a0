#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace join {

// Error numbers the program raises and acts on, one definition each. Callers compare numbers, as
// the error trap does.
namespace ErrorNumber {
inline constexpr int OutOfMemory = 7;
inline constexpr int DivisionByZero = 11;
inline constexpr int TypeMismatch = 13;
inline constexpr int InternalError = 51;
inline constexpr int FileNotFound = 53;
inline constexpr int DeviceIOError = 57;
inline constexpr int FileAlreadyExists = 58;
inline constexpr int DiskFull = 61;
inline constexpr int TooManyFiles = 67;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccessError = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int InvalidPicture = 481;
inline constexpr int FileDialogBufferTooSmall = 20476;
inline constexpr int IndexOutOfBounds = 35600;
} // namespace ErrorNumber

// A copy's reason beside the errno values: the source's size, modification or change time was
// not the same after its copy as before.
inline constexpr int SourceChanged = -1;
// A name the output's file system does not take (its rules say so before anything is written).
inline constexpr int NameRefused = -2;

// An unexpected failure: a number the program can act on and a description for the user.
class Failure : public std::runtime_error {
public:
    Failure(int number, const std::string& description)
        : std::runtime_error(description), m_number(number) {}

    int number() const noexcept { return m_number; }
    std::string description() const { return what(); }

private:
    int m_number;
};

// "12,345": a count as people read it.
std::string countText(std::uint64_t count);

// One thing a copy could not copy, as the user reads it ("PATH: REASON"), and what it is.
struct NotCopiedItem {
    enum class Kind {
        File,        // a regular file, or in a flat copy a link to one: one name in the output
        Folder,      // a folder not copied whole: left out, not listed, not made, its bits not set
        Link,        // a symbolic link the tree copy could not copy, or a link to nothing
        SpecialFile, // a pipe, a socket or a device, or a link to one: never opened
        Other        // none of these: an ended run's partly written file that stayed, writes not
                     // finished
    };
    std::string description;
    Kind kind = Kind::File;
};

// How many things of each kind could not be copied.
class NotCopiedCounts {
public:
    void add(NotCopiedItem::Kind kind) { ++m_counts[static_cast<std::size_t>(kind)]; }
    std::uint64_t of(NotCopiedItem::Kind kind) const {
        return m_counts[static_cast<std::size_t>(kind)];
    }

private:
    std::array<std::uint64_t, 5> m_counts{};
};

// The things of `counts` that a copy names by kind, as one list: "2 files, 1 folder and 1 link"
// (files, folders, links, special files); "" when there are none. `files`, when given, is said for
// the files instead ("2 of 30 files"). Other failures are not among them: each text says those in
// words of its own.
std::string notCopiedByKindText(const NotCopiedCounts& counts, const std::string& files = {});

// What a copy met on the disk and went on past (files that cannot be read or that went, names
// the target refuses, a full disk, links to nothing, special files): thrown once a step of an
// entry's copy is over, and listing every one in processing order. Its description names the
// first of them. A trap hands it to its reporter to collect; any other exception a trap catches
// is a fault of the program.
class CopyShortfall : public Failure {
public:
    CopyShortfall(int number, const std::string& description, std::vector<NotCopiedItem> items)
        : Failure(number, description),
          m_items(std::make_shared<const std::vector<NotCopiedItem>>(std::move(items))) {}
    // One thing, described as the failure describes it.
    CopyShortfall(const Failure& failure, NotCopiedItem::Kind kind)
        : CopyShortfall(failure.number(), failure.description(), {{failure.description(), kind}}) {}

    const std::vector<NotCopiedItem>& items() const { return *m_items; }

private:
    // Shared: a failure is copied as it is thrown and caught, and the list may be long.
    std::shared_ptr<const std::vector<NotCopiedItem>> m_items;
};

// Maps an errno value to the program's numbers (EACCES/EPERM -> 70, ENOENT/ENOTDIR -> 76,
// ENOSPC -> 61, EEXIST -> 58, ...). The description names the failure and, when given, the path.
Failure failureFromErrno(int error, const std::string& path = {});

// A failure to copy what `path` names: the path first, then the reason ("PATH: Disk full").
// `error` is an errno value, or SourceChanged for a source that changed while it was copied.
Failure copyFailure(const std::string& path, int error);

// What one copy procedure could not copy: every failure with its place in processing order,
// whichever thread found it and whenever. Safe to use from several threads.
class CopyFailures {
public:
    // Where a thing stands in processing order: its index in its folder's listing, after the
    // indexes of the folders above it. A folder comes before what it holds.
    using Position = std::vector<std::uint32_t>;

    void add(const Position& position, const Failure& failure,
             NotCopiedItem::Kind kind = NotCopiedItem::Kind::File);
    int count() const;

    // Nothing when nothing failed; else the first failure's number, with the count of each kind
    // and the first one's description, listing every one in processing order: "Could not copy 2
    // files and 1 folder; the first: PATH: REASON", "Could not copy 1 link: PATH: REASON". Other
    // failures come after the things counted by kind: "...; the disk reported 1 other failure",
    // or alone "The disk reported 2 failures". `what` is what befell the things.
    std::optional<CopyShortfall> summary(std::string_view what = "Could not copy") const;

private:
    struct Recorded {
        Position position;
        NotCopiedItem item;
        int number;
    };
    mutable std::mutex m_mutex;
    std::vector<Recorded> m_failures;
};

// Number and description of any exception that reaches a trap.
Failure failureFromCurrentException();

} // namespace join
