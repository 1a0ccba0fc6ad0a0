#include "join/fs/failure.h"

#include "join/fs/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <filesystem>
#include <new>
#include <system_error>

namespace join {

namespace {

struct ErrnoEntry {
    int number;
    const char* text;
};

ErrnoEntry entryForErrno(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return {ErrorNumber::PermissionDenied, "Permission denied"};
    case ENOENT:
        return {ErrorNumber::PathNotFound, "Path not found"};
    case ENOTDIR:
        return {ErrorNumber::PathNotFound, "Not a folder"};
    case ENOSPC:
    case EDQUOT:
        return {ErrorNumber::DiskFull, "Disk full"};
    case EEXIST:
        return {ErrorNumber::FileAlreadyExists, "File already exists"};
    case EMFILE:
    case ENFILE:
        return {ErrorNumber::TooManyFiles, "Too many files"};
    case EIO:
        return {ErrorNumber::DeviceIOError, "Device I/O error"};
    case ENOMEM:
        return {ErrorNumber::OutOfMemory, "Out of memory"};
    default:
        return {ErrorNumber::PathFileAccessError, "Path/File access error"};
    }
}

Failure failureFromErrorCode(const std::error_code& code, const std::string& path) {
    if (code.category() == std::generic_category() || code.category() == std::system_category())
        return failureFromErrno(code.value(), path);
    std::string text = code.message();
    if (!path.empty())
        text += ": " + quotedForDisplay(path);
    return Failure(ErrorNumber::PathFileAccessError, text);
}

} // namespace

Failure failureFromErrno(int error, const std::string& path) {
    const ErrnoEntry entry = entryForErrno(error);
    std::string text = entry.text;
    if (!path.empty())
        text += ": " + quotedForDisplay(path);
    // The catch-all number says little on its own; the system's reason tells the user more.
    if (entry.number == ErrorNumber::PathFileAccessError && error != 0)
        text += std::string(" (") + std::strerror(error) + ")";
    return Failure(entry.number, text);
}

Failure copyFailure(const std::string& path, int error) {
    if (error == SourceChanged)
        return Failure(ErrorNumber::PathFileAccessError,
                       quotedForDisplay(path) + ": the file changed while it was being copied");
    if (error == NameRefused)
        return Failure(ErrorNumber::PathFileAccessError,
                       quotedForDisplay(path) +
                           ": the output's file system does not take this name");
    const ErrnoEntry entry = entryForErrno(error);
    std::string text = quotedForDisplay(path) + ": " + entry.text;
    if (entry.number == ErrorNumber::PathFileAccessError && error != 0)
        text += std::string(" (") + std::strerror(error) + ")";
    return Failure(entry.number, text);
}

std::string countText(std::uint64_t count) {
    std::string digits = std::to_string(count);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    return digits;
}

std::string notCopiedByKindText(const NotCopiedCounts& counts, const std::string& files) {
    using Kind = NotCopiedItem::Kind;
    struct Named {
        Kind kind;
        const char* one;
        const char* many;
    };
    static constexpr Named named[] = {{Kind::File, " file", " files"},
                                      {Kind::Folder, " folder", " folders"},
                                      {Kind::Link, " link", " links"},
                                      {Kind::SpecialFile, " special file", " special files"}};
    std::vector<std::string> parts;
    for (const Named& kind : named) {
        const std::uint64_t count = counts.of(kind.kind);
        if (count == 0)
            continue;
        parts.push_back(kind.kind == Kind::File && !files.empty()
                            ? files
                            : countText(count) + (count == 1 ? kind.one : kind.many));
    }
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return text;
}

void CopyFailures::add(const Position& position, const Failure& failure, NotCopiedItem::Kind kind) {
    std::lock_guard lock(m_mutex);
    m_failures.push_back({position, {failure.description(), kind}, failure.number()});
}

int CopyFailures::count() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_failures.size());
}

std::optional<CopyShortfall> CopyFailures::summary(std::string_view what) const {
    std::vector<Recorded> failures;
    {
        std::lock_guard lock(m_mutex);
        failures = m_failures;
    }
    if (failures.empty())
        return std::nullopt;
    // Workers record in the order they finish; the user reads them in processing order.
    std::stable_sort(failures.begin(), failures.end(),
                     [](const Recorded& a, const Recorded& b) { return a.position < b.position; });
    NotCopiedCounts counts;
    for (const Recorded& failure : failures)
        counts.add(failure.item.kind);
    std::string text = notCopiedByKindText(counts);
    if (!text.empty())
        text = std::string(what) + " " + text;
    if (const std::uint64_t others = counts.of(NotCopiedItem::Kind::Other); others > 0)
        text += (text.empty() ? "The disk reported " : "; the disk reported ") + countText(others) +
                (text.empty() ? "" : " other") + (others == 1 ? " failure" : " failures");
    const std::size_t count = failures.size();
    text += count == 1 ? ": " : "; the first: ";
    text += failures.front().item.description;
    const int number = failures.front().number;
    std::vector<NotCopiedItem> items;
    items.reserve(count);
    for (Recorded& failure : failures)
        items.push_back(std::move(failure.item));
    return CopyShortfall(number, text, std::move(items));
}

Failure failureFromCurrentException() {
    if (!std::current_exception())
        return Failure(ErrorNumber::InternalError, "Unknown error");
    try {
        throw;
    } catch (const Failure& failure) {
        return failure;
    } catch (const std::filesystem::filesystem_error& error) {
        return failureFromErrorCode(error.code(), error.path1().string());
    } catch (const std::system_error& error) {
        return failureFromErrorCode(error.code(), {});
    } catch (const std::bad_alloc&) {
        return Failure(ErrorNumber::OutOfMemory, "Out of memory");
    } catch (const std::exception& error) {
        return Failure(ErrorNumber::InternalError, error.what());
    } catch (abi::__forced_unwind&) {
        // Thread cancellation unwinds through here; it must go on unwinding.
        throw;
    } catch (...) {
        return Failure(ErrorNumber::InternalError, "Unknown error");
    }
}

} // namespace join
