#pragma once

#include "join/host/host.h"
#include "join/host/reportlocations.h"

#include <functional>
#include <string>
#include <string_view>

namespace join {

// The numbered-line error trap of a procedure. Each statement runs under a line number; a
// failure shows the common report with the location string and that number, and the procedure
// resumes with the next statement. Every failure produces exactly one report, but for what a
// copy met on the disk (CopyShortfall), which goes to the reporter to collect instead.
//
//     Trap trap(reporter, Procedure::AddFolder);
//     trap.line(100, [&] { folder = askForFolder(); });
//     if (trap.test(102, [&] { return folder.empty(); })) return;
class Trap {
public:
    Trap(ErrorReporter& reporter, std::string location);
    // With the procedure's location from the table of report locations.
    Trap(ErrorReporter& reporter, Procedure procedure);

    // Runs one numbered statement. Returns false when the statement failed (already reported).
    bool line(int number, const std::function<void()>& statement);

    // A branch condition: a condition that fails is reported and counts as true, so the
    // guarded branch runs next.
    bool test(int number, const std::function<bool()>& condition);

    // A statement with a value: on failure, reported, and the fallback is returned.
    template <class T, class F> T value(int number, F&& expression, T fallback = T{}) {
        T result = std::move(fallback);
        line(number, [&] { result = expression(); });
        return result;
    }

    // One error number handled by the procedure itself instead of the report (the file
    // command's 20476). After the handler has run, ended() is true and line()/test() do
    // nothing more: the procedure ends at once.
    void handleNumber(int number, std::function<void()> handler);
    bool ended() const { return m_ended; }

    const std::string& location() const { return m_location; }
    ErrorReporter& reporter() { return m_reporter; }

private:
    void report(int number);

    ErrorReporter& m_reporter;
    std::string m_location;
    int m_specialNumber = 0;
    std::function<void()> m_specialHandler;
    bool m_ended = false;
};

} // namespace join
