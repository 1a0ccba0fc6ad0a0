#include "dryrun.h"

#include "dryrunplanner.h"
#include "join/copy/filecopy.h"
#include "join/fs/failure.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/fs/targetfs.h"
#include "join/plan/joinplan.h"
#include "join/run/runprogress.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace cli {

namespace dryrun {

using join::TargetFileSystem;

std::string counted(std::size_t count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string withSeparator(std::string path) {
    if (!join::endsWithSeparator(path))
        path += join::Separator;
    return path;
}

// A path without "." and ".." parts, doubled separators or a trailing separator, for telling
// two spellings of one path apart as text.
std::string lexicallyNormal(const std::string& path) {
    std::string text = std::filesystem::path(path).lexically_normal().string();
    while (text.size() > 1 && join::endsWithSeparator(text))
        text.pop_back();
    return text;
}

std::uint64_t fileSize(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

void Planner::describeTarget() {
    m_out << "Output folder: " << m_request.output << '\n';
    try {
        m_target = m_examine(m_request.output);
        m_targetKnown = true;
    } catch (const join::Failure& failure) {
        m_out << "  its file system cannot be examined: " << failure.description() << '\n';
        return;
    }
    m_out << "  file system: " << m_target.type;
    if (!m_target.mountType.empty())
        m_out << " (mounted as " << m_target.mountType << ")";
    if (!m_target.source.empty())
        m_out << " on " << m_target.source;
    m_out << '\n';
    const bool fat = m_target.family != TargetFileSystem::Family::Other;
    m_out << "  names: " << (m_target.caseInsensitive ? "case ignored" : "case kept")
          << ", at most " << m_target.nameMax << (fat ? " characters" : " bytes") << '\n';
    if (fat)
        m_out << "  not allowed: : ? * \" < > | \\ and control characters in names";
    if (!m_target.storesLinks)
        m_out << (fat ? ", " : "  not allowed: ") << "symbolic links";
    if (fat || !m_target.storesLinks)
        m_out << '\n';
    m_out << "  free: " << join::sizeText(m_target.freeBytes) << '\n';
    m_rules = join::OutputRules(m_target);
}

void Planner::recordFile(const std::string& destination, const std::string& source, bool there) {
    if (!m_record)
        return;
    const auto [at, added] =
        m_recorded.try_emplace(m_rules.key(destination), m_record->files.size());
    if (added)
        m_record->files.push_back({destination, source, there});
    else
        m_record->files[at->second] = {destination, source, there};
}

void Planner::recordNotCopied(const std::string& source) {
    if (m_record)
        m_record->notCopied.push_back(source);
}

// The join creates files and folders in the output folder and in the existing folders a preserve
// copy merges into: says so when this user may not.
void Planner::checkCreation(const std::string& folder, const std::string& what) {
    if (!m_creationChecked.insert(lexicallyNormal(folder)).second)
        return;
    if (const int error = join::creationRefusedIn(folder); error != 0) {
        m_out << "  cannot create files in " << what << ": " << std::strerror(error) << '\n';
        ++m_unwritable;
    }
}

void Planner::readOutputFolder() {
    join::FolderListing listing;
    if (join::readListing(m_request.output, listing) != 0)
        return;
    for (join::FolderEntry& entry : listing.entries) {
        std::string key = m_rules.key(entry.name);
        m_existing.emplace(std::move(key), std::move(entry));
    }
}

// A file whose destination already has its size and time is left alone, and needs no room.
bool Planner::countIfThere(const std::string& source, const std::string& destination) {
    if (m_request.alwaysCopy || !join::isAlreadyCopied(source, destination, m_rules.timeStep()))
        return false;
    ++m_alreadyThere;
    return true;
}

void Planner::printList(const std::string& heading, const std::vector<std::string>& lines) {
    m_out << '\n'
          << heading << ": " << (lines.empty() ? "none" : std::to_string(lines.size())) << '\n';
    for (const std::string& line : lines)
        m_out << "  " << line << '\n';
}

void Planner::printSpace() {
    if (!m_targetKnown)
        return;
    const std::uint64_t needed = m_needed > m_freed ? m_needed - m_freed : 0;
    m_tooBig = needed > m_target.freeBytes;
    m_out << "\nSpace: about " << join::sizeText(needed) << " to write, "
          << join::sizeText(m_target.freeBytes) << " free: " << (m_tooBig ? "does not fit" : "fits")
          << '\n';
}

int Planner::printSummary() {
    std::vector<std::string> problems;
    if (m_refusedEntries > 0)
        problems.push_back(counted(m_refusedEntries, "entry refused", "entries refused"));
    if (m_unreadable > 0)
        problems.push_back(counted(m_unreadable, "folder unreadable", "folders unreadable"));
    if (m_unwritable > 0)
        problems.push_back(counted(m_unwritable, "folder not writable", "folders not writable"));
    if (!m_refused.empty())
        problems.push_back(counted(m_refused.size(), "name refused", "names refused"));
    if (!m_notFiles.empty())
        problems.push_back(counted(m_notFiles.size(), "entry not a file", "entries not files"));
    if (!m_leftOut.empty())
        problems.push_back(counted(m_leftOut.size(), "folder left out", "folders left out"));
    if (m_caseClashCount > 0)
        problems.push_back(
            counted(m_caseClashCount, "file lost to a case clash", "files lost to case clashes"));
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

int Planner::run() {
    m_out << "Dry run: nothing is written.\n";
    describeTarget();
    if (join::identityOfPath(m_request.output, m_outputIdentity) != 0)
        m_outputIdentity = join::FileIdentity{};
    checkCreation(m_request.output, "it");
    readOutputFolder();
    m_out << "Copy option: " << (flat() ? "just copy files (flat)" : "preserve folder structure")
          << "\n\n";

    const std::size_t count = m_request.sources.size();
    for (std::size_t i = 0; i < count; ++i) {
        m_out << "Entry " << i + 1 << " of " << count << ": " << m_request.sources[i] << '\n';
        // As the run reads an entry: "." and ".." lead to the folder they name.
        const std::string entry = join::resolveDotSegments(m_request.sources[i]);
        if (flat())
            planFlatEntry(entry);
        else
            planPreservedEntry(entry);
    }

    if (flat()) {
        checkFlatNames();
        printFlatCollisions();
        printList("Skipped (names beginning with \"~\")", m_skipped);
    }
    // These lists show only when they have something to say.
    if (!m_replaced.empty())
        printList("Files a later entry replaces (the later file wins)", m_replaced);
    if (!m_leftOut.empty())
        printList("Folders left out by the walk", m_leftOut);
    if (!m_notFiles.empty())
        printList("Not copied (not regular files, links to nothing)", m_notFiles);
    printList(m_targetKnown ? "Refused by " + m_target.type : std::string("Refused"), m_refused);
    if (m_target.caseInsensitive)
        printList("Different names that are one on " + m_target.type, m_caseClashes);
    if (m_alreadyThere > 0)
        m_out << "\nAlready there (same size and time), left alone: " << m_alreadyThere << '\n';
    printSpace();
    return printSummary();
}

} // namespace dryrun

int printDryRun(const JoinRequest& request, std::ostream& out) {
    return printDryRun(request, out, join::examineTargetFileSystem);
}

int printDryRun(const JoinRequest& request, std::ostream& out, const ExamineFunction& examine) {
    dryrun::Planner planner(request, out, examine);
    return planner.run();
}

PlannedJoin planJoin(const JoinRequest& request) {
    PlannedJoin plan;
    std::ostringstream ignored;
    const ExamineFunction examine = join::examineTargetFileSystem;
    dryrun::Planner planner(request, ignored, examine, &plan);
    planner.run();
    return plan;
}

} // namespace cli
