#pragma once

#include <stdexcept>
#include <string>

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

// Maps an errno value to the program's numbers (EACCES/EPERM -> 70, ENOENT/ENOTDIR -> 76,
// ENOSPC -> 61, EEXIST -> 58, ...). The description names the failure and, when given, the path.
Failure failureFromErrno(int error, const std::string& path = {});

// Number and description of any exception that reaches a trap.
Failure failureFromCurrentException();

} // namespace join
