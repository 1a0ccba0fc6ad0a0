#include "terminalhost.h"

#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/run/joinrun.h"
#include "join/run/runprogress.h"
#include "join/tasks/workers.h"

#include <chrono>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <utility>

namespace cli {

namespace {

constexpr std::string_view ClearToEnd = "\x1b[K";
constexpr std::string_view Ellipsis = "...";

// Characters a terminal shows for UTF-8 text (continuation bytes take no column).
std::size_t columns(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// Cuts the front of `text` so that it fits in `width` columns, keeping the end, which names
// the folder; the cut is marked.
std::string keepEnd(const std::string& text, std::size_t width) {
    if (columns(text) <= width)
        return text;
    if (width <= Ellipsis.size())
        return std::string(Ellipsis.substr(0, width));
    std::size_t start = text.size();
    for (std::size_t kept = 0; start > 0 && kept < width - Ellipsis.size();) {
        --start;
        if ((static_cast<unsigned char>(text[start]) & 0xC0) != 0x80)
            ++kept;
    }
    return std::string(Ellipsis) + text.substr(start);
}

} // namespace

void ProgressLine::setEntry(int entry, int count, const std::string& activity) {
    m_found = 0;
    m_copied.clear();
    m_entry = entry;
    m_count = count;
    m_activity = activity;
    show();
}

void ProgressLine::setStage(const std::string& activity) {
    setEntry(0, m_count, activity);
}

void ProgressLine::setCopied(const std::string& figures) {
    const bool changed = figures != m_copied;
    m_copied = figures;
    if (changed && m_terminal && m_shown)
        show();
}

void ProgressLine::setFoldersFound(std::size_t count) {
    const bool changed = count != m_found;
    m_found = count;
    if (changed && m_terminal && m_shown)
        show();
}

std::string ProgressLine::counters() const {
    if (m_entry == 0)
        return {};
    std::string text = "entry " + std::to_string(m_entry) + " of " + std::to_string(m_count);
    if (m_found > 0)
        text += ", " + std::to_string(m_found) + (m_found == 1 ? " folder" : " folders") + " found";
    if (!m_copied.empty())
        text += ", " + m_copied;
    return text + ": ";
}

void ProgressLine::show() {
    if (m_entry == 0 && m_activity.empty())
        return;
    const std::string head = counters();
    if (!m_terminal) {
        m_err << head << m_activity << '\n' << std::flush;
        return;
    }
    // One column stays free: writing into the last one makes some terminals wrap.
    std::string line = head + m_activity;
    if (m_width > 1) {
        const std::size_t room = static_cast<std::size_t>(m_width - 1);
        line = columns(head) < room ? head + keepEnd(m_activity, room - columns(head))
                                    : keepEnd(line, room);
    }
    m_err << '\r' << line << ClearToEnd << std::flush;
    m_shown = true;
}

void ProgressLine::clear() {
    if (m_shown)
        m_err << '\r' << ClearToEnd << std::flush;
    m_shown = false;
    m_entry = 0;
    m_activity.clear();
}

void ProgressLine::printMessage(const std::string& text) {
    if (m_shown)
        m_err << '\r' << ClearToEnd;
    m_err << text << '\n' << std::flush;
    if (m_shown)
        show();
}

TerminalJoinHost::TerminalJoinHost(JoinRequest request, Console& console)
    : m_request(std::move(request)), m_console(console),
      m_progress(console.err, console.errIsTerminal, console.width) {}

std::string TerminalJoinHost::sourceText(int index) const {
    return m_request.sources.at(static_cast<std::size_t>(index - 1));
}

std::string TerminalJoinHost::entryContext(int entry) const {
    if (entry < 1 || entry > sourceCount())
        return "brimvale: ";
    return "brimvale: entry " + std::to_string(entry) + " (" +
           join::quotedForDisplay(m_request.sources[static_cast<std::size_t>(entry - 1)]) + "): ";
}

void TerminalJoinHost::entryBegins(int entry, int count, const std::string&) {
    m_entry = entry;
    // The window shows the entry's last path part; a terminal has room for the whole entry.
    m_progress.setEntry(
        entry, count,
        entry >= 1 && entry <= sourceCount() ? join::quotedForDisplay(sourceText(entry)) : "");
}

void TerminalJoinHost::writesFinishing() {
    m_progress.setStage("Finishing writes to disk...");
}

void TerminalJoinHost::showEntryReport(int entry, const std::string& description,
                                       const std::string&, int) {
    ++m_problems;
    m_progress.printMessage(entryContext(entry) + description);
}

// Reports that come past the run's own reporter (the walk's) belong to the entry under way.
void TerminalJoinHost::showErrorReport(const std::string& description, const std::string& location,
                                       int line) {
    showEntryReport(m_entry, description, location, line);
}

void TerminalJoinHost::entryNotCopied(int entry, const join::CopyShortfall& shortfall) {
    m_progress.printMessage(entryContext(entry) + shortfall.description());
    // The description names the first; the rest follow it.
    const std::vector<join::NotCopiedItem>& items = shortfall.items();
    for (std::size_t i = 1; i < items.size(); ++i)
        m_progress.printMessage("brimvale:   " + items[i].description);
}

void TerminalJoinHost::joinEnded(const join::JoinOutcome& outcome) {
    m_outcome = outcome;
    m_progress.clear();
    if (outcome.temporariesRemoved > 0)
        m_console.err << "brimvale: " << join::removedTemporariesText(outcome.temporariesRemoved)
                      << '\n';
}

void TerminalJoinHost::showClosingMessage(const join::JoinOutcome& outcome) {
    if (outcome.ending != join::JoinOutcome::Ending::Done)
        m_console.err << "brimvale: " << join::closingMessage(outcome) << '\n';
}

void TerminalJoinHost::showMessage(const std::string& text) {
    // Before the first entry the run only refuses to start (no sources, no output folder).
    if (m_entry > 0)
        ++m_problems;
    else
        m_refusedToStart = true;
    m_progress.printMessage(entryContext(m_entry) + text);
}

void TerminalJoinHost::foldersFound(std::size_t count) {
    const auto now = std::chrono::steady_clock::now();
    if (now - m_foundShown < std::chrono::milliseconds(250))
        return;
    m_foundShown = now;
    m_progress.setFoldersFound(count);
}

void TerminalJoinHost::waitFor(join::BackgroundWork& work) {
    m_progress.setFoldersFound(0);
    while (!work.waitAtMost(std::chrono::milliseconds(250)))
        work.reportProgress();
    m_filesCopied += work.counters().files.load();
    m_alreadyThere += work.counters().alreadyThere.load();
}

void TerminalJoinHost::showRunProgress(const join::RunFigures& figures) {
    m_progress.setCopied(join::copiedText(figures));
}

namespace {

std::string counted(std::uint64_t count, const char* one, const char* many) {
    return join::countText(count) + (count == 1 ? one : many);
}

} // namespace

int TerminalJoinHost::finish() {
    m_progress.clear();
    if (join::stopRequested()) {
        if (!m_outcome || !m_outcome->stopped())
            m_console.err << "brimvale: stopped: what was copied is whole, and nothing partly "
                             "written is left\n";
        return ExitStatus::Stopped;
    }
    if (m_refusedToStart)
        return ExitStatus::Usage;
    // What was copied, what was already there and left alone, and what the flat copy's rules
    // left.
    const std::uint64_t copied = m_filesCopied - m_alreadyThere;
    std::string tally = counted(copied, " file", " files") + " copied, " +
                        join::countText(m_alreadyThere) +
                        " already there (same size and time) and left alone";
    // The things not copied by kind; the failures of no kind and the reports apart.
    std::vector<std::string> notCopied;
    if (m_outcome) {
        if (const std::string left = join::leftByRulesText(*m_outcome); !left.empty())
            tally += "; " + left;
        if (const std::string things = join::notCopiedByKindText(m_outcome->notCopiedCounts);
            !things.empty())
            notCopied.push_back(things + " could not be copied");
    }
    const std::uint64_t others =
        static_cast<std::uint64_t>(m_problems) + (m_outcome ? m_outcome->otherFailures() : 0);
    if (others > 0)
        notCopied.push_back(counted(others, notCopied.empty() ? " problem" : " other problem",
                                    notCopied.empty() ? " problems" : " other problems"));
    if (!notCopied.empty()) {
        m_console.err << "brimvale: not everything was copied: ";
        for (std::size_t i = 0; i < notCopied.size(); ++i)
            m_console.err << (i == 0 ? "" : ", ") << notCopied[i];
        m_console.err << ", named above; " << tally << '\n';
        return ExitStatus::NotEverything;
    }
    if (m_outcome && m_outcome->ending == join::JoinOutcome::Ending::Faulted)
        return ExitStatus::NotEverything;
    if (m_outcome)
        m_console.err << "Done: " << tally << ".\n";
    return ExitStatus::Copied;
}

} // namespace cli
