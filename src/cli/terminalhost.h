#pragma once

#include "commandline.h"
#include "join/host/host.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

// The run's progress on standard error: on a terminal one line rewritten in place, elsewhere a
// plain line each time it changes. Messages are written between, on lines of their own.
class ProgressLine {
public:
    ProgressLine(std::ostream& err, bool terminal, int width)
        : m_err(err), m_terminal(terminal), m_width(width) {}

    // The entry under way, numbered from 1, and what the run is doing with it.
    void setEntry(int entry, int count, const std::string& activity);
    // A step of the run after its entries, such as finishing the writes.
    void setStage(const std::string& activity);
    // How far the entry's copy has come ("12 of 30 files, 3.4 MiB of 8.0 MiB, about 2 min
    // left"); a terminal line shows it at once, plain lines do not.
    void setCopied(const std::string& figures);
    // How many folders the walk of the entry has found so far; 0 once its copy begins.
    void setFoldersFound(std::size_t count);
    // The run is done: the line goes.
    void clear();
    // Writes `text` on a line of its own, then the progress line again below it.
    void printMessage(const std::string& text);

private:
    // What the line says before the activity: where the run is in the list.
    std::string counters() const;
    void show();

    std::ostream& m_err;
    bool m_terminal;
    int m_width;
    bool m_shown = false;
    int m_entry = 0;
    int m_count = 0;
    std::string m_copied;
    std::size_t m_found = 0;
    std::string m_activity;
};

// The host of a join run from the command line. Messages, reports and what could not be copied
// go to standard error in plain words, each with the entry it belongs to, as they come.
// Never touches the window's settings.
class TerminalJoinHost final : public join::JoinHost {
public:
    TerminalJoinHost(JoinRequest request, Console& console);

    void pumpEvents() override {}
    // Shows the folders found while the flat copy's walk runs, at most 4 times a second.
    void foldersFound(std::size_t count) override;
    // Has the copy's progress shown 4 times a second while it runs.
    void waitFor(join::BackgroundWork& work) override;
    void showErrorReport(const join::Failure& failure, const std::string& location,
                         int line) override;
    void runRefused(join::RunRefusal why) override;
    void copyExists(const std::string& mirrored) override;
    void showEntryReport(int entry, const join::Failure& failure, const std::string& location,
                         int line) override;
    // What the entry's copy could not copy, then, when that is several, each on a line of its own.
    void entryNotCopied(int entry, const join::CopyShortfall& shortfall) override;
    // A run that ended early says so; how a run that was done went, finish() says.
    void showClosingMessage(const join::JoinOutcome& outcome) override;
    void entryBegins(int entry, int count, const std::string& entryText) override;
    void writesFinishing() override;
    void joinEnded(const join::JoinOutcome& outcome) override;

    int sourceCount() const override { return static_cast<int>(m_request.sources.size()); }
    std::string sourceText(int index) const override;
    std::string outputFolderText() const override { return m_request.output; }
    join::CopyOption copyOption() const override { return m_request.option; }
    bool alwaysCopy() const override { return m_request.alwaysCopy; }

    void setPointer(join::Pointer) override {}
    void setProgressValue(int) override {}
    // Only a terminal's line shows a copy's progress.
    bool showsCopyProgress() const override { return m_console.errIsTerminal; }
    // The entry's files and bytes against what it has to copy, and the time left, on the line.
    void showRunProgress(const join::RunFigures& figures) override;

    // After the run: says how it ended and gives its exit status, which follows from the run's
    // outcome alone.
    int finish();

private:
    std::string entryContext(int entry) const;

    JoinRequest m_request;
    Console& m_console;
    ProgressLine m_progress;
    // The entry under way, from 1; 0 before the first.
    int m_entry = 0;
    // Why the run did not start, when it did not.
    std::optional<join::RunRefusal> m_refusal;
    std::optional<join::JoinOutcome> m_outcome;
    std::chrono::steady_clock::time_point m_foundShown;
};

} // namespace cli
