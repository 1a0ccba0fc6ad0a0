#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// How the engine says what went wrong: as facts (a number, a path, a reason code with what it
// needs), never as sentences. The hosts say them in words of their own, in the user's language.
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

// Why something failed or could not be copied, as a code and what its words need.
struct Reason {
    enum class Code : std::uint8_t {
        System,        // `error`, an errno value: the system refused
        SourceChanged, // the file changed while it was being copied
        // Names the output's file system (`fileSystem`, as its type) refuses or takes as one:
        NameHoldsCharacter,   // holds the character `text`, which it does not allow
        NameHoldsControl,     // holds a control character, which it does not allow
        NameNotText,          // is not UTF-8 text, which it cannot store
        NameLongerBytes,      // is longer than the `count` bytes it allows
        NameLongerCharacters, // is longer than the `count` characters it allows
        NameNotTaken,         // holds `text` (a character or "" for a control character), which
                              // the output's file system, of rules not known, does not take
        NameRefused,          // the output's file system does not take it; why is not known
        NameOneWithLater,     // its name and the later `text` are one there, which keeps the later
        PathLongerThere,      // its path is longer than the `count` bytes the share's far end takes
        LinkNotHeld,          // a symbolic link, which it cannot hold
        // What a copy does not take:
        NotARegularFile, // a pipe, socket or device: never opened
        LinkToNothing,   // a link that leads nowhere
        FileInTheWay,    // a file that is not a folder stands where a folder goes
        // A copy that would go into itself: the target (the thing's path) and the source `text`.
        TargetInsideSource, // the target lies inside the source
        TargetIsSource,     // the target is the source itself
        TargetHoldsSource,  // the target holds the source
        // Folders the walk leaves out:
        SubfoldersUnreadable,      // its subfolders could not all be read: `error`
        PathTooLong,               // its path is longer than the system can reach
        NameHoldsQuestionMark,     // its name holds "?"
        NameHoldsControlCharacter, // its name holds a control character
        NameNotUtf8,               // its name is not UTF-8 text
        NameTooLong,               // its name is `count` bytes or longer
        SystemFileSystem, // a link that leads into `fileSystem`, a file system of the system's
                          // own state
        // The run's own steps and faults of the program:
        WritesNotFinished, // the writes to disk could not be finished: `error`
        DivisionByZero,
        OutOfMemory,
        Program, // a fault of the program, told as `text` (an exception's own message)
        Unknown,
        Text // said by a host in its own words, `text`: never made by the engine
    };
    Code code = Code::Unknown;
    int error = 0;
    std::string text;
    std::string fileSystem;
    std::uint64_t count = 0;

    bool operator==(const Reason&) const = default;
};

// A reason of the system: an errno value.
Reason systemReason(int error);

// Maps an errno value to the program's numbers (EACCES/EPERM -> 70, ENOENT/ENOTDIR -> 76,
// ENOSPC -> 61, EEXIST -> 58, ...).
int numberOfErrno(int error);

// An unexpected failure: a number the program can act on, what it concerns, and why.
class Failure : public std::exception {
public:
    // How it is said: the path first ("PATH: Disk full"), as what a copy could not copy is, or the
    // reason first ("Path not found: PATH"), as the common report says a step's failure.
    enum class Form : std::uint8_t { PathFirst, ReasonFirst };

    Failure(int number, std::string path, Reason reason, Form form = Form::PathFirst)
        : m_number(number), m_path(std::move(path)), m_reason(std::move(reason)), m_form(form) {}
    // A failure a host describes in its own words.
    Failure(int number, std::string description)
        : Failure(number, {}, Reason{Reason::Code::Text, 0, std::move(description), {}, 0},
                  Form::ReasonFirst) {}

    int number() const noexcept { return m_number; }
    const std::string& path() const { return m_path; }
    const Reason& reason() const { return m_reason; }
    Form form() const { return m_form; }
    // Not for users: the words are the hosts'.
    const char* what() const noexcept override { return "join::Failure"; }

private:
    int m_number;
    std::string m_path;
    Reason m_reason;
    Form m_form;
};

// One thing a copy could not copy: its path, what it is and why.
struct NotCopiedItem {
    enum class Kind {
        File,        // a regular file, or in a flat copy a link to one: one name in the output
        Folder,      // a folder not copied whole: left out, not listed, not made, its bits not set
        Link,        // a symbolic link the tree copy could not copy, or a link to nothing
        SpecialFile, // a pipe, a socket or a device, or a link to one: never opened
        Other        // none of these: an ended run's partly written file that stayed, writes not
                     // finished
    };
    std::string path;
    Kind kind = Kind::File;
    Reason reason;
    // The failure's number, as the common report would give it.
    int number = ErrorNumber::PathFileAccessError;

    bool operator==(const NotCopiedItem&) const = default;
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

// What a copy met on the disk and went on past (files that cannot be read or that went, names
// the target refuses, a full disk, links to nothing, special files): thrown once a step of an
// entry's copy is over, and listing every one in processing order. A trap hands it to its
// reporter to collect; any other exception a trap catches is a fault of the program.
class CopyShortfall : public std::exception {
public:
    // The step of the copy that met them.
    enum class Step : std::uint8_t {
        Copy,  // could not copy them
        Walk,  // the walk left them out
        List,  // could not list them
        Finish // the writes to disk could not be finished
    };

    CopyShortfall(Step step, std::vector<NotCopiedItem> items)
        : m_step(step),
          m_items(std::make_shared<const std::vector<NotCopiedItem>>(std::move(items))) {}
    // One thing, as the failure says it.
    CopyShortfall(const Failure& failure, NotCopiedItem::Kind kind)
        : CopyShortfall(Step::Copy, {{failure.path(), kind, failure.reason(), failure.number()}}) {}

    Step step() const { return m_step; }
    const std::vector<NotCopiedItem>& items() const { return *m_items; }
    // The first thing's number.
    int number() const { return m_items->empty() ? 0 : m_items->front().number; }
    NotCopiedCounts counts() const;
    const char* what() const noexcept override { return "join::CopyShortfall"; }

private:
    Step m_step;
    // Shared: a failure is copied as it is thrown and caught, and the list may be long.
    std::shared_ptr<const std::vector<NotCopiedItem>> m_items;
};

// The failure of a step by the system's reason, said reason first: "Path not found: PATH".
Failure failureFromErrno(int error, const std::string& path = {});

// A failure to copy what `path` names, said path first ("PATH: Disk full"). `error` is an errno
// value, SourceChanged for a source that changed while it was copied, or NameRefused.
Failure copyFailure(const std::string& path, int error);

// A failure to copy what `path` names for `reason`, said path first.
Failure copyFailure(const std::string& path, Reason reason);

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

    // Nothing when nothing failed; else every one, in processing order, met at `step`.
    std::optional<CopyShortfall>
    summary(CopyShortfall::Step step = CopyShortfall::Step::Copy) const;

private:
    struct Recorded {
        Position position;
        NotCopiedItem item;
    };
    mutable std::mutex m_mutex;
    std::vector<Recorded> m_failures;
};

// Number and reason of any exception that reaches a trap.
Failure failureFromCurrentException();

} // namespace join
