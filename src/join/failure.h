#pragma once

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

// Error numbers the program acts on. Callers compare numbers, as the error trap does.
namespace ErrorNumber {
inline constexpr int OutOfMemory = 7;
inline constexpr int InternalError = 51;
inline constexpr int FileNotFound = 53;
inline constexpr int DeviceIOError = 57;
inline constexpr int FileAlreadyExists = 58;
inline constexpr int DiskFull = 61;
inline constexpr int TooManyFiles = 67;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccessError = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int FileDialogBufferTooSmall = 20476;
} // namespace ErrorNumber

// A copy's reason beside the errno values: the source's size, modification or change time was
// not the same after its copy as before.
inline constexpr int SourceChanged = -1;

// An unexpected failure: a number the program can act on and a description for the user. A
// failure that sums up many ("Could not copy 312 files; the first: ...") lists every one of them,
// each as "PATH: REASON", in processing order.
class Failure : public std::runtime_error {
public:
    Failure(int number, const std::string& description)
        : std::runtime_error(description), m_number(number) {}
    Failure(int number, const std::string& description, std::vector<std::string> listed)
        : std::runtime_error(description), m_number(number),
          m_listed(std::make_shared<const std::vector<std::string>>(std::move(listed))) {}

    int number() const noexcept { return m_number; }
    std::string description() const { return what(); }
    // Empty unless the failure sums up many.
    const std::vector<std::string>& listed() const;

private:
    int m_number;
    // Shared: a failure is copied as it is thrown and caught, and the list may be long.
    std::shared_ptr<const std::vector<std::string>> m_listed;
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

    void add(const Position& position, const Failure& failure);
    int count() const;

    // Nothing when nothing failed; else the first failure's number, with the count and the first
    // one's description: "Could not copy 3 files; the first: PATH: REASON", listing every one in
    // processing order. `noun` is the singular of what was counted ("file", "item"); `what` what
    // befell them.
    std::optional<Failure> summary(std::string_view noun,
                                   std::string_view what = "Could not copy") const;

private:
    struct Recorded {
        Position position;
        std::string description;
        int number;
    };
    mutable std::mutex m_mutex;
    std::vector<Recorded> m_failures;
};

// Number and description of any exception that reaches a trap.
Failure failureFromCurrentException();

} // namespace join
