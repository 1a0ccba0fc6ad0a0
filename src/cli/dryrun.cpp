// The dry run: the join itself, run with its writes withheld, and what it would have done printed
// from the record it keeps. Nothing here decides what becomes of a file: the engine does, as it
// does in a join.
#include "dryrun.h"

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

std::string counted(std::size_t count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

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
        m_out << "Dry run: nothing is written.\n";
        describeTarget(examine);
        m_out << "Copy option: "
              << (flat() ? "just copy files (flat)" : "preserve folder structure") << "\n\n";
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
        m_out << "Output folder: " << shown(m_request.output) << '\n';
        try {
            m_target = examine(m_request.output);
            m_targetKnown = true;
        } catch (const join::Failure& failure) {
            m_out << "  its file system cannot be examined: " << words::describe(failure) << '\n';
            return;
        }
        m_out << "  file system: " << m_target.type;
        if (!m_target.mountType.empty())
            m_out << " (mounted as " << m_target.mountType << ")";
        if (!m_target.source.empty())
            m_out << " on " << m_target.source;
        m_out << '\n';
        const bool fat = m_target.family != join::TargetFileSystem::Family::Other;
        m_out << "  names: " << (m_target.caseInsensitive ? "case ignored" : "case kept")
              << ", at most " << m_target.nameMax << (fat ? " characters" : " bytes") << '\n';
        if (fat)
            m_out << "  not allowed: : ? * \" < > | \\ and control characters in names";
        if (!m_target.storesLinks)
            m_out << (fat ? ", " : "  not allowed: ") << "symbolic links";
        if (fat || !m_target.storesLinks)
            m_out << '\n';
        m_out << "  free: " << words::sizeText(m_target.freeBytes) << '\n';
    }

    // Each entry: where it goes and what it holds, or why it is refused.
    void printEntries(const DryRunHost& host, const std::vector<FileFate>& record) {
        const std::size_t count = m_request.sources.size();
        for (std::size_t i = 1; i <= count; ++i) {
            const int entry = static_cast<int>(i);
            m_out << "Entry " << i << " of " << count << ": " << shown(m_request.sources[i - 1])
                  << '\n';
            const auto read = host.entries.find(entry);
            if (read == host.entries.end())
                continue; // not begun: the run ended before it
            if (read->second.empty()) {
                m_out << "  names no folder: nothing to copy\n";
                continue;
            }
            if (const auto messages = host.entryMessages.find(entry);
                messages != host.entryMessages.end())
                for (const std::string& message : messages->second)
                    m_out << "  refused: " << message << '\n';
            std::size_t files = 0;
            std::size_t folders = 0;
            std::size_t links = 0;
            std::set<std::string> sourceFolders;
            for (const FileFate& fate : record) {
                if (fate.entry != entry)
                    continue;
                if (isEntryFolder(fate)) {
                    if (fate.fate == FileFate::Fate::NotCopied)
                        m_out << "  refused: " << words::describe(fate.failure) << '\n';
                    else
                        m_out << "  goes to " << shown(fate.destination)
                              << (fate.fate == FileFate::Fate::AlreadyThere
                                      ? " (merged into the folder there)\n"
                                      : "\n");
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
                m_out << "  " << counted(files, "file", "files") << " from "
                      << counted(sourceFolders.size(), "folder", "folders") << " go directly into "
                      << shown(m_request.output) << '\n';
                continue;
            }
            if (files + folders + links == 0)
                continue;
            m_out << "  " << counted(files, "file", "files") << ", "
                  << counted(folders, "folder", "folders");
            if (links > 0)
                m_out << ", " << counted(links, "link", "links");
            m_out << '\n';
        }
    }

    void printList(const std::string& heading, const std::vector<std::string>& lines) {
        m_out << '\n'
              << heading << ": " << (lines.empty() ? "none" : std::to_string(lines.size())) << '\n';
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
                    shown(flat() ? nameOf(place.kept->destination) : place.kept->destination) +
                    ": " + shown(place.kept->source) + " replaces " + same);
            if (!other.empty())
                oneName.push_back(shown(place.kept->source) + " replaces " + other +
                                  " (one name on " + m_target.type + ")");
        }
        if (flat())
            printList("Name collisions (the later file wins)", collisions);
        else if (!collisions.empty())
            printList("Files a later entry replaces (the later file wins)", collisions);

        if (flat()) {
            std::vector<std::string> skipped;
            for (const FileFate& fate : record)
                if (fate.fate == FileFate::Fate::LeftOut)
                    skipped.push_back(shown(fate.source));
            printList("Skipped (names beginning with \"~\")", skipped);
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
        printList(m_targetKnown ? "Refused by " + m_target.type : std::string("Refused"),
                  m_refused);
        if (m_target.caseInsensitive)
            printList("Different names that are one on " + m_target.type, oneName);
        std::vector<std::string> notCopied;
        for (const join::EntryNotCopied& entry : outcome.notCopied)
            for (const join::NotCopiedItem& item : entry.items)
                if (const std::string text = words::describe(item); !refusedReasons.contains(text))
                    notCopied.push_back(text);
        if (!notCopied.empty())
            printList("Not copied", notCopied);
        for (const std::string& fault : host.faults)
            m_out << "\nA fault of the program: " << fault << '\n';
        if (outcome.filesAlreadyThere > 0)
            m_out << "\nAlready there (same size and time), left alone: "
                  << outcome.filesAlreadyThere << '\n';
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
        m_out << "\nSpace: about " << words::sizeText(write) << " to write, "
              << words::sizeText(m_target.freeBytes)
              << " free: " << (m_tooBig ? "does not fit" : "fits") << '\n';
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
            problems.push_back(counted(refusedEntries, "entry refused", "entries refused"));
        if (!m_refused.empty())
            problems.push_back(counted(m_refused.size(), "name refused", "names refused"));
        if (files > 0)
            problems.push_back(counted(files, "file not copied", "files not copied"));
        if (folders > 0)
            problems.push_back(counted(folders, "folder not copied", "folders not copied"));
        if (outcome.otherFailures() > 0)
            problems.push_back(counted(outcome.otherFailures(), "other failure", "other failures"));
        if (!host.faults.empty())
            problems.push_back(counted(host.faults.size(), "fault", "faults"));
        if (m_tooBig)
            problems.push_back("not enough space");
        if (problems.empty()) {
            m_out << "\nThe join would copy everything.\n";
            return ExitStatus::Copied;
        }
        m_out << "\nThe join would not copy everything: ";
        for (std::size_t i = 0; i < problems.size(); ++i)
            m_out << (i == 0 ? "" : ", ") << problems[i];
        m_out << ".\n";
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
