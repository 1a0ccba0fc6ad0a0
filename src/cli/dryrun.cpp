// The dry run: the join itself, run with its writes withheld, and what it would have done printed
// from the record it keeps. Nothing here decides what becomes of a file: the engine does, as it
// does in a join.
#include "dryrun.h"

#include "commandlinetexts.h"
#include "join/fs/paths.h"
#include "join/fs/targetfs.h"
#include "join/host/filerecord.h"
#include "join/host/host.h"
#include "join/plan/joinplan.h"
#include "join/run/joinrun.h"
#include "join/run/runprogress.h"
#include "words/words.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace cli {

namespace {

using join::FileFate;

using words::shown;

// Whether the output's file system refuses a name, by its own rules.
bool isNameRefusal(const join::Reason& reason) {
    using Code = join::Reason::Code;
    return reason.code == Code::NameHoldsCharacter || reason.code == Code::NameHoldsControl ||
           reason.code == Code::NameNotText || reason.code == Code::NameLongerBytes ||
           reason.code == Code::NameLongerCharacters || reason.code == Code::NameNotTaken ||
           reason.code == Code::NameRefused || reason.code == Code::PathLongerThere;
}

// "1 file", "2 files": a text of the plan in the form `count` chooses, the count in digits alone.
std::string counted(const char* text, std::size_t count) {
    return words::pluralText("CommandLine", text, count);
}

// The same for the things the words count too ("%n file(s)"), in their texts.
std::string countedThings(const char* text, std::size_t count) {
    return words::pluralText("Words", text, count);
}

using words::fill;

// The run's host for a dry run: the request's list, output folder and option; writes withheld;
// every fate recorded; what the run would say kept for the plan.
class DryRunHost final : public join::JoinHost {
public:
    DryRunHost(const JoinRequest& request, const ExamineFunction* examine)
        : m_request(request), m_examine(examine) {}

    void pumpEvents() override {}
    void showErrorReport(const join::Failure& failure, const std::string&, int) override {
        faults.push_back(words::describe(failure));
    }
    void runRefused(join::RunRefusal why) override {
        runMessages.push_back(words::runRefusalText(why));
    }
    void copyExists(const std::string& mirrored) override {
        entryMessages[m_entry].push_back(words::copyExistsText(mirrored));
    }
    void entryBegins(int entry, int, const std::string& entryText) override {
        m_entry = entry;
        entries[entry] = entryText;
    }
    void joinEnded(const join::JoinOutcome& ended) override { outcome = ended; }
    void showClosingMessage(const join::JoinOutcome&) override {}

    int sourceCount() const override { return static_cast<int>(m_request.sources.size()); }
    std::string sourceText(int index) const override {
        return m_request.sources.at(static_cast<std::size_t>(index - 1));
    }
    std::string outputFolderText() const override { return m_request.output; }
    join::CopyOption copyOption() const override { return m_request.option; }
    bool alwaysCopy() const override { return m_request.alwaysCopy; }
    join::Writes writes() const override { return join::Writes::Withheld; }
    bool keepsRecord() const override { return true; }
    std::optional<join::TargetFileSystem>
    unusualOutputFileSystem(const std::string& folder) override {
        if (m_examine)
            return (*m_examine)(folder);
        return join::JoinHost::unusualOutputFileSystem(folder);
    }

    void setPointer(join::Pointer) override {}
    void setProgressValue(int) override {}

    std::vector<std::string> faults;
    std::vector<std::string> runMessages;
    std::map<int, std::vector<std::string>> entryMessages;
    // Each entry as the run read it ("." and ".." resolved).
    std::map<int, std::string> entries;
    std::optional<join::JoinOutcome> outcome;

private:
    const JoinRequest& m_request;
    const ExamineFunction* m_examine;
    int m_entry = 0;
};

// Prints the plan of a dry run from what the run recorded.
class PlanPrinter {
public:
    PlanPrinter(const JoinRequest& request, std::ostream& out) : m_request(request), m_out(out) {}

    int print(const ExamineFunction& examine, const ExamineFunction* rules) {
        m_out << said(QT_TRANSLATE_NOOP("CommandLine", "Dry run: nothing is written.")) << '\n';
        describeTarget(examine);
        m_out << fill(said(QT_TRANSLATE_NOOP("CommandLine", "Copy option: %1")),
                      {flat()
                           ? said(QT_TRANSLATE_NOOP("CommandLine", "just copy files (flat)"))
                           : said(QT_TRANSLATE_NOOP("CommandLine", "preserve folder structure"))})
              << "\n\n";
        DryRunHost host(m_request, rules);
        join::JoinRun(host).run();
        for (const std::string& message : host.runMessages)
            m_out << message << '\n';
        if (!host.outcome)
            return ExitStatus::NotEverything;
        const join::JoinOutcome& outcome = *host.outcome;
        printEntries(host, outcome.record);
        printLists(host, outcome);
        printSpace(outcome.record);
        return printSummary(host, outcome);
    }

private:
    bool flat() const { return m_request.option == join::CopyOption::Flat; }
    // The fate of an entry's own folder in a copy that preserves folder structure.
    bool isEntryFolder(const FileFate& fate) const {
        return !flat() && fate.item == FileFate::Item::Folder && fate.position.empty();
    }

    void describeTarget(const ExamineFunction& examine) {
        m_out << fill(said(QT_TRANSLATE_NOOP("CommandLine", "Output folder: %1")),
                      {shown(m_request.output)})
              << '\n';
        try {
            m_target = examine(m_request.output);
            m_targetKnown = true;
        } catch (const join::Failure& failure) {
            m_out << "  "
                  << fill(said(QT_TRANSLATE_NOOP("CommandLine",
                                                 "its file system cannot be examined: %1")),
                          {words::describe(failure)})
                  << '\n';
            return;
        }
        std::string type = m_target.type;
        if (!m_target.mountType.empty())
            type = fill(said(QT_TRANSLATE_NOOP("CommandLine", "%1 (mounted as %2)")),
                        {type, m_target.mountType});
        if (!m_target.source.empty())
            type =
                fill(said(QT_TRANSLATE_NOOP("CommandLine", "%1 on %2")), {type, m_target.source});
        m_out << "  " << fill(said(QT_TRANSLATE_NOOP("CommandLine", "file system: %1")), {type})
              << '\n';
        const bool fat = m_target.family != join::TargetFileSystem::Family::Other;
        const std::size_t nameMax = m_target.nameMax;
        m_out << "  "
              << fill(said(QT_TRANSLATE_NOOP("CommandLine", "names: %1, at most %2")),
                      {m_target.caseInsensitive
                           ? said(QT_TRANSLATE_NOOP("CommandLine", "case ignored"))
                           : said(QT_TRANSLATE_NOOP("CommandLine", "case kept")),
                       fat ? counted(QT_TRANSLATE_N_NOOP("CommandLine", "%n character(s)"), nameMax)
                           : countedThings(QT_TRANSLATE_N_NOOP("Words", "%n byte(s)"), nameMax)})
              << '\n';
        std::vector<std::string> notAllowed;
        if (fat)
            notAllowed.push_back(said(QT_TRANSLATE_NOOP(
                "CommandLine", ": ? * \" < > | \\ and control characters in names")));
        if (!m_target.storesLinks)
            notAllowed.push_back(said(QT_TRANSLATE_NOOP("CommandLine", "symbolic links")));
        if (!notAllowed.empty())
            m_out << "  "
                  << fill(said(QT_TRANSLATE_NOOP("CommandLine", "not allowed: %1")),
                          {notAllowed.size() == 1
                               ? notAllowed.front()
                               : fill(said(QT_TRANSLATE_NOOP("CommandLine", "%1, %2")),
                                      {notAllowed.front(), notAllowed.back()})})
                  << '\n';
        m_out << "  "
              << fill(said(QT_TRANSLATE_NOOP("CommandLine", "free: %1")),
                      {words::sizeText(m_target.freeBytes)})
              << '\n';
    }

    // Each entry: where it goes and what it holds, or why it is refused.
    void printEntries(const DryRunHost& host, const std::vector<FileFate>& record) {
        const std::size_t count = m_request.sources.size();
        for (std::size_t i = 1; i <= count; ++i) {
            const int entry = static_cast<int>(i);
            m_out << fill(said(QT_TRANSLATE_NOOP("CommandLine", "Entry %1 of %2: %3")),
                          {std::to_string(i), std::to_string(count),
                           shown(m_request.sources[i - 1])})
                  << '\n';
            const auto read = host.entries.find(entry);
            if (read == host.entries.end())
                continue; // not begun: the run ended before it
            if (read->second.empty()) {
                m_out << "  "
                      << said(QT_TRANSLATE_NOOP("CommandLine", "names no folder: nothing to copy"))
                      << '\n';
                continue;
            }
            if (const auto messages = host.entryMessages.find(entry);
                messages != host.entryMessages.end())
                for (const std::string& message : messages->second)
                    m_out << "  " << refused(message) << '\n';
            std::size_t files = 0;
            std::size_t folders = 0;
            std::size_t links = 0;
            std::set<std::string> sourceFolders;
            for (const FileFate& fate : record) {
                if (fate.entry != entry)
                    continue;
                if (isEntryFolder(fate)) {
                    if (fate.fate == FileFate::Fate::NotCopied)
                        m_out << "  " << refused(words::describe(fate.failure)) << '\n';
                    else
                        m_out << "  "
                              << fill(fate.fate == FileFate::Fate::AlreadyThere
                                          ? said(QT_TRANSLATE_NOOP(
                                                "CommandLine",
                                                "goes to %1 (merged into the folder there)"))
                                          : said(QT_TRANSLATE_NOOP("CommandLine", "goes to %1")),
                                      {shown(fate.destination)})
                              << '\n';
                }
                if (fate.destination.empty() || fate.fate == FileFate::Fate::LeftOut)
                    continue;
                switch (fate.item) {
                case FileFate::Item::File:
                    ++files;
                    sourceFolders.insert(fate.source.substr(0, fate.source.rfind('/')));
                    break;
                case FileFate::Item::Folder:
                    folders += fate.fate != FileFate::Fate::NotCopied;
                    break;
                case FileFate::Item::Link:
                    ++links;
                    break;
                }
            }
            if (flat()) {
                m_out << "  "
                      << fill(
                             counted(QT_TRANSLATE_N_NOOP(
                                         "CommandLine", "%1 from %n folder(s) go directly into %2"),
                                     sourceFolders.size()),
                             {countedThings(QT_TRANSLATE_N_NOOP("Words", "%n file(s)"), files),
                              shown(m_request.output)})
                      << '\n';
                continue;
            }
            if (files + folders + links == 0)
                continue;
            std::string held =
                fill(said(QT_TRANSLATE_NOOP("CommandLine", "%1, %2")),
                     {countedThings(QT_TRANSLATE_N_NOOP("Words", "%n file(s)"), files),
                      countedThings(QT_TRANSLATE_N_NOOP("Words", "%n folder(s)"), folders)});
            if (links > 0)
                held =
                    fill(said(QT_TRANSLATE_NOOP("CommandLine", "%1, %2")),
                         {held, countedThings(QT_TRANSLATE_N_NOOP("Words", "%n link(s)"), links)});
            m_out << "  " << held << '\n';
        }
    }

    // "  refused: WHY", an entry the run refused.
    static std::string refused(const std::string& why) {
        return fill(said(QT_TRANSLATE_NOOP("CommandLine", "refused: %1")), {why});
    }

    void printList(const std::string& heading, const std::vector<std::string>& lines) {
        m_out << '\n'
              << fill(said(QT_TRANSLATE_NOOP("CommandLine", "%1: %2")),
                      {heading, lines.empty() ? said(QT_TRANSLATE_NOOP("CommandLine", "none"))
                                              : std::to_string(lines.size())})
              << '\n';
        for (const std::string& line : lines)
            m_out << "  " << line << '\n';
    }

    // The last part of a path.
    static std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

    void printLists(const DryRunHost& host, const join::JoinOutcome& outcome) {
        const std::vector<FileFate>& record = outcome.record;
        // The file each place ends with, and the files it replaces there, by place as the output
        // tells places apart.
        const join::OutputRules rules(m_targetKnown ? std::optional(m_target) : std::nullopt);
        struct Place {
            const FileFate* kept = nullptr;
            std::vector<const FileFate*> replaced;
        };
        std::map<std::string, Place> places;
        std::vector<std::string> order;
        for (const FileFate& fate : record) {
            if (fate.item == FileFate::Item::Folder || fate.destination.empty() ||
                (fate.fate != FileFate::Fate::Written &&
                 fate.fate != FileFate::Fate::AlreadyThere &&
                 fate.fate != FileFate::Fate::Replaced))
                continue;
            const std::string key = rules.key(fate.destination);
            auto [place, added] = places.try_emplace(key);
            if (added)
                order.push_back(key);
            if (fate.fate == FileFate::Fate::Replaced)
                place->second.replaced.push_back(&fate);
            else
                place->second.kept = &fate;
        }
        std::vector<std::string> collisions;
        std::vector<std::string> oneName;
        for (const std::string& key : order) {
            const Place& place = places[key];
            if (!place.kept || place.replaced.empty())
                continue;
            std::string same;
            std::string other;
            for (const FileFate* replaced : place.replaced) {
                std::string& list =
                    nameOf(replaced->source) == nameOf(place.kept->source) ? same : other;
                list += (list.empty() ? "" : ", ") + shown(replaced->source);
            }
            if (!same.empty())
                collisions.push_back(
                    fill(said(QT_TRANSLATE_NOOP("CommandLine", "%1: %2 replaces %3")),
                         {shown(flat() ? nameOf(place.kept->destination) : place.kept->destination),
                          shown(place.kept->source), same}));
            if (!other.empty())
                oneName.push_back(
                    fill(said(QT_TRANSLATE_NOOP("CommandLine", "%1 replaces %2 (one name on %3)")),
                         {shown(place.kept->source), other, m_target.type}));
        }
        if (flat())
            printList(
                said(QT_TRANSLATE_NOOP("CommandLine", "Name collisions (the later file wins)")),
                collisions);
        else if (!collisions.empty())
            printList(said(QT_TRANSLATE_NOOP("CommandLine",
                                             "Files a later entry replaces (the later file wins)")),
                      collisions);

        if (flat()) {
            std::vector<std::string> skipped;
            for (const FileFate& fate : record)
                if (fate.fate == FileFate::Fate::LeftOut)
                    skipped.push_back(shown(fate.source));
            printList(
                said(QT_TRANSLATE_NOOP("CommandLine", "Skipped (names beginning with \"~\")")),
                skipped);
        }

        // Names the output's file system refuses, by their sources; then everything else the
        // join would name as not copied, as it would name it.
        std::set<std::string> refusedReasons;
        for (const FileFate& fate : record)
            if (fate.fate == FileFate::Fate::NotCopied && isNameRefusal(fate.failure.reason)) {
                m_refused.push_back(shown(fate.source) + ": " +
                                    words::reasonText(fate.failure.reason));
                refusedReasons.insert(words::describe(fate.failure));
            }
        printList(m_targetKnown ? fill(said(QT_TRANSLATE_NOOP("CommandLine", "Refused by %1")),
                                       {m_target.type})
                                : said(QT_TRANSLATE_NOOP("CommandLine", "Refused")),
                  m_refused);
        if (m_target.caseInsensitive)
            printList(
                fill(said(QT_TRANSLATE_NOOP("CommandLine", "Different names that are one on %1")),
                     {m_target.type}),
                oneName);
        std::vector<std::string> notCopied;
        for (const join::EntryNotCopied& entry : outcome.notCopied)
            for (const join::NotCopiedItem& item : entry.items)
                if (const std::string text = words::describe(item); !refusedReasons.contains(text))
                    notCopied.push_back(text);
        if (!notCopied.empty())
            printList(said(QT_TRANSLATE_NOOP("CommandLine", "Not copied")), notCopied);
        for (const std::string& fault : host.faults)
            m_out << '\n'
                  << fill(said(QT_TRANSLATE_NOOP("CommandLine", "A fault of the program: %1")),
                          {fault})
                  << '\n';
        if (outcome.filesAlreadyThere > 0)
            m_out << '\n'
                  << fill(said(QT_TRANSLATE_NOOP(
                              "CommandLine", "Already there (same size and time), left alone: %1")),
                          {std::to_string(outcome.filesAlreadyThere)})
                  << '\n';
    }

    // The room the files and folders it would write take, less what the files they replace
    // take now.
    void printSpace(const std::vector<FileFate>& record) {
        if (!m_targetKnown)
            return;
        std::uint64_t needed = 0;
        std::uint64_t freed = 0;
        for (const FileFate& fate : record) {
            if (fate.fate != FileFate::Fate::Written)
                continue;
            struct stat status {};
            if (fate.item == FileFate::Item::Folder) {
                needed += m_target.blockSize;
            } else if (fate.item == FileFate::Item::File) {
                if (::stat(fate.source.c_str(), &status) == 0)
                    needed += join::spaceFor(m_target, static_cast<std::uint64_t>(status.st_size));
                if (::lstat(fate.destination.c_str(), &status) == 0 && S_ISREG(status.st_mode))
                    freed += join::spaceFor(m_target, static_cast<std::uint64_t>(status.st_size));
            }
        }
        const std::uint64_t write = needed > freed ? needed - freed : 0;
        m_tooBig = write > m_target.freeBytes;
        m_out << '\n'
              << fill(m_tooBig
                          ? said(QT_TRANSLATE_NOOP(
                                "CommandLine", "Space: about %1 to write, %2 free: does not fit"))
                          : said(QT_TRANSLATE_NOOP("CommandLine",
                                                   "Space: about %1 to write, %2 free: fits")),
                      {words::sizeText(write), words::sizeText(m_target.freeBytes)})
              << '\n';
    }

    int printSummary(const DryRunHost& host, const join::JoinOutcome& outcome) {
        std::vector<std::string> problems;
        std::size_t refusedEntries = 0;
        for (const auto& [entry, messages] : host.entryMessages)
            refusedEntries += messages.size();
        for (const FileFate& fate : outcome.record)
            refusedEntries += isEntryFolder(fate) && fate.fate == FileFate::Fate::NotCopied;
        // Refused entries are folders not copied too; they are counted once, as entries.
        using Kind = join::NotCopiedItem::Kind;
        const std::uint64_t folders = outcome.foldersNotCopied() > refusedEntries
                                          ? outcome.foldersNotCopied() - refusedEntries
                                          : 0;
        // Links and special files are said with the files, as the names refused are.
        const std::uint64_t filesNotCopied = outcome.filesNotCopied() +
                                             outcome.notCopiedCounts.of(Kind::Link) +
                                             outcome.notCopiedCounts.of(Kind::SpecialFile);
        const std::uint64_t files =
            filesNotCopied > m_refused.size() ? filesNotCopied - m_refused.size() : 0;
        if (refusedEntries > 0)
            problems.push_back(counted(
                QT_TRANSLATE_N_NOOP("CommandLine", "%n entry/entries refused"), refusedEntries));
        if (!m_refused.empty())
            problems.push_back(counted(QT_TRANSLATE_N_NOOP("CommandLine", "%n name(s) refused"),
                                       m_refused.size()));
        if (files > 0)
            problems.push_back(counted(QT_TRANSLATE_N_NOOP("CommandLine", "%n file(s) not copied"),
                                       static_cast<std::size_t>(files)));
        if (folders > 0)
            problems.push_back(
                counted(QT_TRANSLATE_N_NOOP("CommandLine", "%n folder(s) not copied"),
                        static_cast<std::size_t>(folders)));
        if (outcome.otherFailures() > 0)
            problems.push_back(counted(QT_TRANSLATE_N_NOOP("CommandLine", "%n other failure(s)"),
                                       static_cast<std::size_t>(outcome.otherFailures())));
        if (!host.faults.empty())
            problems.push_back(
                counted(QT_TRANSLATE_N_NOOP("CommandLine", "%n fault(s)"), host.faults.size()));
        if (m_tooBig)
            problems.push_back(said(QT_TRANSLATE_NOOP("CommandLine", "not enough space")));
        if (problems.empty()) {
            m_out << '\n'
                  << said(QT_TRANSLATE_NOOP("CommandLine", "The join would copy everything."))
                  << '\n';
            return ExitStatus::Copied;
        }
        std::string list;
        for (const std::string& problem : problems)
            list = list.empty()
                       ? problem
                       : fill(said(QT_TRANSLATE_NOOP("CommandLine", "%1, %2")), {list, problem});
        m_out << '\n'
              << fill(said(QT_TRANSLATE_NOOP("CommandLine",
                                             "The join would not copy everything: %1.")),
                      {list})
              << '\n';
        return ExitStatus::NotEverything;
    }

    const JoinRequest& m_request;
    std::ostream& m_out;
    join::TargetFileSystem m_target;
    bool m_targetKnown = false;
    std::vector<std::string> m_refused;
    bool m_tooBig = false;
};

} // namespace

int printDryRun(const JoinRequest& request, std::ostream& out) {
    return PlanPrinter(request, out).print(join::examineTargetFileSystem, nullptr);
}

int printDryRun(const JoinRequest& request, std::ostream& out, const ExamineFunction& examine) {
    const ExamineFunction rules = [&](const std::string& folder) { return examine(folder); };
    return PlanPrinter(request, out).print(examine, &rules);
}

join::JoinOutcome foreseeJoin(const JoinRequest& request) {
    DryRunHost host(request, nullptr);
    join::JoinRun(host).run();
    return host.outcome.value_or(join::JoinOutcome{});
}

} // namespace cli
