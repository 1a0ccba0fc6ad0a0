#include "join/host/trap.h"

#include "join/fs/failure.h"

#include <exception>
#include <utility>

namespace join {

namespace {
// Inside a catch-all: whether what is caught is a thread's cancellation unwinding its stack, which
// must go on. It carries no C++ object, so the runtime gives no exception_ptr for it (catching it
// as abi::__forced_unwind& would bind a reference to nothing).
bool isUnwindingThread() {
    return !std::current_exception();
}
} // namespace

Trap::Trap(ErrorReporter& reporter, std::string location)
    : m_reporter(reporter), m_location(std::move(location)) {}

Trap::Trap(ErrorReporter& reporter, Procedure procedure)
    : Trap(reporter, reportLocation(procedure)) {}

bool Trap::line(int number, const std::function<void()>& statement) {
    if (m_ended)
        return false;
    try {
        statement();
        return true;
    } catch (...) {
        if (isUnwindingThread())
            throw;
        report(number);
        return false;
    }
}

bool Trap::test(int number, const std::function<bool()>& condition) {
    if (m_ended)
        return false;
    try {
        return condition();
    } catch (...) {
        if (isUnwindingThread())
            throw;
        report(number);
        // A failed condition lets the guarded branch run, unless the procedure has ended.
        return !m_ended;
    }
}

void Trap::handleNumber(int number, std::function<void()> handler) {
    m_specialNumber = number;
    m_specialHandler = std::move(handler);
}

// Called only from inside a catch block: the failure is the exception being handled.
void Trap::report(int number) {
    // What a copy met on the disk is the reporter's to collect; only a fault of the program gets
    // the report.
    try {
        throw;
    } catch (const CopyShortfall& shortfall) {
        m_reporter.notCopied(shortfall, m_location, number);
        return;
    } catch (...) {
    }
    const Failure failure = failureFromCurrentException();
    if (m_specialHandler && failure.number() == m_specialNumber) {
        m_ended = true;
        m_specialHandler();
        return;
    }
    m_reporter.showErrorReport(failure, m_location, number);
}

} // namespace join
