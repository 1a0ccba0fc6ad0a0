#include "terminalhost.h"

#include "commandlinetexts.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/run/joinrun.h"
#include "join/run/runprogress.h"
#include "join/tasks/workers.h"
#include "words/words.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <utility>

namespace cli {

using words::fill;

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
    std::string text = fill(said(QT_TRANSLATE_NOOP("CommandLine", "entry %1 of %2")),
                            {std::to_string(m_entry), std::to_string(m_count)});
    if (m_found > 0)
        text += ", " + words::pluralText("CommandLine",
                                         QT_TRANSLATE_N_NOOP("CommandLine", "%n folder(s) found"),
                                         m_found);
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
    return fill(said(QT_TRANSLATE_NOOP("CommandLine", "brimvale: entry %1 (%2): ")),
                {std::to_string(entry),
                 words::shown(m_request.sources[static_cast<std::size_t>(entry - 1)])});
}

void TerminalJoinHost::entryBegins(int entry, int count, const std::string&) {
    m_entry = entry;
    // The window shows the entry's last path part; a terminal has room for the whole entry.
    m_progress.setEntry(
        entry, count, entry >= 1 && entry <= sourceCount() ? words::shown(sourceText(entry)) : "");
}

void TerminalJoinHost::writesFinishing() {
    m_progress.setStage(words::finishingWritesText());
}

void TerminalJoinHost::runRefused(join::RunRefusal why) {
    m_refusal = why;
    m_progress.printMessage("brimvale: " + words::runRefusalText(why));
}

void TerminalJoinHost::copyExists(const std::string& mirrored) {
    m_progress.printMessage(entryContext(m_entry) + words::copyExistsText(mirrored));
}

void TerminalJoinHost::showEntryReport(int entry, const join::Failure& failure, const std::string&,
                                       int) {
    m_progress.printMessage(entryContext(entry) + words::describe(failure));
}

// Reports that come past the run's own reporter belong to the entry under way.
void TerminalJoinHost::showErrorReport(const join::Failure& failure, const std::string& location,
                                       int line) {
    showEntryReport(m_entry, failure, location, line);
}

void TerminalJoinHost::entryNotCopied(int entry, const join::CopyShortfall& shortfall) {
    m_progress.printMessage(entryContext(entry) + words::headline(shortfall));
    // The headline names the first; the rest follow it.
    const std::vector<join::NotCopiedItem>& items = shortfall.items();
    for (std::size_t i = 1; i < items.size(); ++i)
        m_progress.printMessage("brimvale:   " + words::describe(items[i]));
}

void TerminalJoinHost::joinEnded(const join::JoinOutcome& outcome) {
    m_outcome = outcome;
    m_progress.clear();
    if (outcome.temporariesRemoved > 0)
        m_console.err << "brimvale: " << words::removedTemporariesText(outcome.temporariesRemoved)
                      << '\n';
    if (const std::string notKept = words::attributesNotKeptText(outcome.attributesNotKept);
        !notKept.empty())
        m_console.err << "brimvale: " << notKept << '\n';
}

void TerminalJoinHost::showClosingMessage(const join::JoinOutcome& outcome) {
    if (outcome.ending != join::JoinOutcome::Ending::Done)
        m_console.err << "brimvale: " << words::closingMessage(outcome) << '\n';
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
}

void TerminalJoinHost::showRunProgress(const join::RunFigures& figures) {
    m_progress.setCopied(words::copiedText(figures));
}

int TerminalJoinHost::finish() {
    m_progress.clear();
    if (m_refusal)
        return ExitStatus::Usage;
    if (!m_outcome)
        return ExitStatus::NotEverything;
    const join::JoinOutcome& outcome = *m_outcome;
    if (outcome.stopped())
        return ExitStatus::Stopped;
    // What was copied, what was already there and left alone, and what the flat copy's rules
    // left.
    std::string tally =
        fill(said(QT_TRANSLATE_NOOP("CommandLine",
                                    "%1 copied, %2 already there (same size and time) and "
                                    "left alone")),
             {words::filesText(outcome.filesCopied), words::countText(outcome.filesAlreadyThere)});
    if (const std::string left = words::leftByRulesText(outcome); !left.empty())
        tally += "; " + left;
    // The things not copied by kind; the failures of no kind, the reports and the refused
    // entries apart.
    std::vector<std::string> notCopied;
    if (const std::string things = words::notCopiedByKindText(outcome.notCopiedCounts);
        !things.empty())
        notCopied.push_back(
            fill(said(QT_TRANSLATE_NOOP("CommandLine", "%1 could not be copied")), {things}));
    const std::uint64_t others = outcome.otherFailures() +
                                 static_cast<std::uint64_t>(outcome.reports) +
                                 static_cast<std::uint64_t>(outcome.entriesRefused);
    if (others > 0)
        notCopied.push_back(words::problemsText(others, !notCopied.empty()));
    if (!notCopied.empty()) {
        std::string line;
        for (std::size_t i = 0; i < notCopied.size(); ++i)
            line += (i == 0 ? "" : ", ") + notCopied[i];
        m_console.err << fill(said(QT_TRANSLATE_NOOP(
                                  "CommandLine",
                                  "brimvale: not everything was copied: %1, named above; "
                                  "%2")),
                              {line, tally})
                      << '\n';
        return ExitStatus::NotEverything;
    }
    if (outcome.ending == join::JoinOutcome::Ending::Faulted)
        return ExitStatus::NotEverything;
    m_console.err << fill(said(QT_TRANSLATE_NOOP("CommandLine", "Done: %1.")), {tally}) << '\n';
    return ExitStatus::Copied;
}

} // namespace cli
