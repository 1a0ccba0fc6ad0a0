#pragma once

#include "dryrun.h"
#include "join/fs/posixfs.h"
#include "join/fs/targetfs.h"
#include "join/plan/joinplan.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The dry run's planner, shared by its three files: dryrun.cpp (the output folder, the entries in
// list order, the lists and the summary printed at the end), dryrunflat.cpp (the flat copy's walk
// and its names) and dryruntree.cpp (the tree copy's placement and walk).
namespace cli::dryrun {

// "1 file", "2 files".
std::string counted(std::size_t count, const std::string& one, const std::string& many);
// The path with a trailing separator.
std::string withSeparator(std::string path);
// A path without "." and ".." parts, doubled separators or a trailing separator, for telling
// two spellings of one path apart as text.
std::string lexicallyNormal(const std::string& path);
// The size of a file, or 0 when it cannot be read.
std::uint64_t fileSize(const std::string& path);

// A file the flat copy would take, in processing order.
struct FlatFile {
    std::string source;
    std::string name;
    std::uint64_t size;
};

// Follows a join through the output folder and the entries, printing what it would do and, for
// planJoin, recording each file it would leave.
class Planner {
public:
    Planner(const JoinRequest& request, std::ostream& out, const ExamineFunction& examine,
            PlannedJoin* record = nullptr)
        : m_request(request), m_out(out), m_examine(examine), m_record(record) {}
    int run();

private:
    // The output folder, what is recorded and what is printed at the end (dryrun.cpp).
    void describeTarget();
    void checkCreation(const std::string& folder, const std::string& what);
    void readOutputFolder();
    void printList(const std::string& heading, const std::vector<std::string>& lines);
    void printSpace();
    int printSummary();
    bool flat() const { return m_request.option == join::CopyOption::Flat; }
    void recordFile(const std::string& destination, const std::string& source, bool there);
    void recordNotCopied(const std::string& source);

    // The flat copy (dryrunflat.cpp).
    void planFlatEntry(const std::string& entry);
    void checkFlatNames();
    void printFlatCollisions();

    // The copy that preserves folder structure (dryruntree.cpp).
    void planPreservedEntry(const std::string& entry);
    void planTree(const std::string& source, const std::string& target);

    const JoinRequest& m_request;
    std::ostream& m_out;
    const ExamineFunction& m_examine;
    PlannedJoin* m_record;
    join::TargetFileSystem m_target;
    bool m_targetKnown = false;
    // The rules the join decides by, from the file system examined.
    join::OutputRules m_rules;
    join::FileIdentity m_outputIdentity;
    // The flat plans of the entries, in list order.
    std::vector<std::shared_ptr<const join::FlatEntryPlan>> m_flatPlans;
    // Where each planned place stands in the record.
    std::unordered_map<std::string, std::size_t> m_recorded;
    // What the output folder holds already, by the name its file system tells apart.
    std::unordered_map<std::string, join::FolderEntry> m_existing;

    // The folders the preserve copies planned so far would make, spelled lexically normal.
    std::unordered_set<std::string> m_plannedFolders;
    std::vector<FlatFile> m_flatFiles;
    std::vector<std::string> m_skipped;
    std::vector<std::string> m_refused;
    std::vector<std::string> m_caseClashes;
    // Pipes, sockets, devices and links to nothing, which are not copied.
    std::vector<std::string> m_notFiles;
    // Folders the flat copy's walk leaves out, with why.
    std::vector<std::string> m_leftOut;
    // The files the preserve copies planned so far would leave, by the place the target tells
    // apart, with their sources; and the files a later entry's copy replaces.
    std::unordered_map<std::string, std::string> m_plannedFiles;
    std::vector<std::string> m_replaced;
    // Files whose destination already has their size and time, which the join leaves alone.
    std::size_t m_alreadyThere = 0;
    bool countIfThere(const std::string& source, const std::string& destination);
    std::uint64_t m_needed = 0;
    std::uint64_t m_freed = 0;

    std::size_t m_refusedEntries = 0;
    std::size_t m_unreadable = 0;
    std::unordered_set<std::string> m_creationChecked;
    std::size_t m_unwritable = 0;
    std::size_t m_caseClashCount = 0;
    bool m_tooBig = false;
};

} // namespace cli::dryrun
