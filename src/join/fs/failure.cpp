#include "join/fs/failure.h"

#include <algorithm>
#include <cerrno>
#include <cxxabi.h>
#include <exception>
#include <filesystem>
#include <new>
#include <system_error>

namespace join {

namespace {

Failure failureFromErrorCode(const std::error_code& code, const std::string& path) {
    if (code.category() == std::generic_category() || code.category() == std::system_category())
        return failureFromErrno(code.value(), path);
    return Failure(ErrorNumber::PathFileAccessError, path,
                   Reason{Reason::Code::Program, 0, code.message(), {}, 0},
                   Failure::Form::ReasonFirst);
}

} // namespace

Reason systemReason(int error) {
    if (error == SourceChanged)
        return {Reason::Code::SourceChanged, 0, {}, {}, 0};
    if (error == NameRefused)
        return {Reason::Code::NameRefused, 0, {}, {}, 0};
    return {Reason::Code::System, error, {}, {}, 0};
}

int numberOfErrno(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return ErrorNumber::PermissionDenied;
    case ENOENT:
    case ENOTDIR:
        return ErrorNumber::PathNotFound;
    case ENOSPC:
    case EDQUOT:
        return ErrorNumber::DiskFull;
    case EEXIST:
        return ErrorNumber::FileAlreadyExists;
    case EMFILE:
    case ENFILE:
        return ErrorNumber::TooManyFiles;
    case EIO:
        return ErrorNumber::DeviceIOError;
    case ENOMEM:
        return ErrorNumber::OutOfMemory;
    default:
        return ErrorNumber::PathFileAccessError;
    }
}

Failure failureFromErrno(int error, const std::string& path) {
    return Failure(numberOfErrno(error), path, systemReason(error), Failure::Form::ReasonFirst);
}

Failure copyFailure(const std::string& path, int error) {
    return Failure(error < 0 ? ErrorNumber::PathFileAccessError : numberOfErrno(error), path,
                   systemReason(error));
}

Failure copyFailure(const std::string& path, Reason reason) {
    const int number = reason.code == Reason::Code::System ? numberOfErrno(reason.error)
                                                           : ErrorNumber::PathFileAccessError;
    return Failure(number, path, std::move(reason));
}

NotCopiedCounts CopyShortfall::counts() const {
    NotCopiedCounts counts;
    for (const NotCopiedItem& item : *m_items)
        counts.add(item.kind);
    return counts;
}

void CopyFailures::add(const Position& position, const Failure& failure, NotCopiedItem::Kind kind) {
    std::lock_guard lock(m_mutex);
    m_failures.push_back({position, {failure.path(), kind, failure.reason(), failure.number()}});
}

int CopyFailures::count() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_failures.size());
}

std::optional<CopyShortfall> CopyFailures::summary(CopyShortfall::Step step) const {
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
    std::vector<NotCopiedItem> items;
    items.reserve(failures.size());
    for (Recorded& failure : failures)
        items.push_back(std::move(failure.item));
    return CopyShortfall(step, std::move(items));
}

Failure failureFromCurrentException() {
    const auto program = [](int number, Reason::Code code, std::string text = {}) {
        return Failure(number, {}, Reason{code, 0, std::move(text), {}, 0},
                       Failure::Form::ReasonFirst);
    };
    if (!std::current_exception())
        return program(ErrorNumber::InternalError, Reason::Code::Unknown);
    try {
        throw;
    } catch (const Failure& failure) {
        return failure;
    } catch (const std::filesystem::filesystem_error& error) {
        return failureFromErrorCode(error.code(), error.path1().string());
    } catch (const std::system_error& error) {
        return failureFromErrorCode(error.code(), {});
    } catch (const std::bad_alloc&) {
        return program(ErrorNumber::OutOfMemory, Reason::Code::OutOfMemory);
    } catch (const std::exception& error) {
        return program(ErrorNumber::InternalError, Reason::Code::Program, error.what());
    } catch (abi::__forced_unwind&) {
        // Thread cancellation unwinds through here; it must go on unwinding.
        throw;
    } catch (...) {
        return program(ErrorNumber::InternalError, Reason::Code::Unknown);
    }
}

} // namespace join
