#include "join/plan/joinplan.h"

#include "join/fs/paths.h"
#include "join/tasks/taskgroup.h"
#include "join/tasks/workers.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <functional>
#include <numeric>
#include <unordered_set>

namespace join {

// ---- The output folder's rules ----

OutputRules::OutputRules(std::optional<TargetFileSystem> fileSystem)
    : m_fileSystem(std::move(fileSystem)) {}

OutputRules OutputRules::of(const std::string& folder) {
    return OutputRules(examineUnusualTarget(folder));
}

std::string OutputRules::key(const std::string& name) const {
    return ignoresCase() ? nameKey(*m_fileSystem, name) : name;
}

std::string_view OutputRules::keyView(const std::string& name, std::string& storage) const {
    if (!ignoresCase())
        return name;
    storage = nameKey(*m_fileSystem, name);
    return storage;
}

std::int64_t OutputRules::timeStep() const {
    return m_fileSystem ? std::max<std::int64_t>(1, m_fileSystem->timeStepNs) : 1;
}

JobWidth OutputRules::copyWidth() const {
    return copyWidthFor(reach(), WorkerPool::shared().size());
}

JobWidth copyWidthFor(TargetReach reach, std::size_t cores) {
    if (reach == TargetReach::Remote)
        return {16, 64};
    return {cores, cores};
}

namespace {

// FNV-1a over the given bytes, after `hash`.
std::uint64_t mixed(std::uint64_t hash, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
    return hash;
}

} // namespace

std::uint64_t placeOf(const FileIdentity& folder) {
    const auto device = static_cast<std::uint64_t>(folder.device);
    const auto inode = static_cast<std::uint64_t>(folder.inode);
    return mixed(mixed(0xcbf29ce484222325ULL, &device, sizeof device), &inode, sizeof inode);
}

std::uint64_t placeIn(std::uint64_t folder, std::string_view key) {
    // The separator keeps "ab" in "x" apart from "b" in "xa".
    return mixed(mixed(folder, "/", 1), key.data(), key.size());
}

// ---- Which entries of a listing a copy takes ----

namespace {

bool isLeftOut(const std::string& name) {
    return name.starts_with('~');
}

} // namespace

FlatTake takeForFlat(int folder, const FolderEntry& entry) {
    switch (entry.type) {
    case FolderEntry::Type::Folder:
        return FlatTake::Folder;
    case FolderEntry::Type::File:
        return isLeftOut(entry.name) ? FlatTake::LeftOut : FlatTake::File;
    case FolderEntry::Type::Other:
        return isLeftOut(entry.name) ? FlatTake::LeftOut : FlatTake::NotAFile;
    case FolderEntry::Type::Link:
        break;
    }
    const LinkTarget behind = entryTypeBehind(folder, entry.name);
    if (behind == LinkTarget::Folder)
        return FlatTake::Folder;
    if (isLeftOut(entry.name))
        return FlatTake::LeftOut;
    switch (behind) {
    case LinkTarget::File:
        return FlatTake::File;
    case LinkTarget::Nothing:
        return FlatTake::LinkToNothing;
    default:
        return FlatTake::NotAFile;
    }
}

TreeTake takeForTree(int folder, const FolderEntry& entry) {
    switch (entry.type) {
    case FolderEntry::Type::Folder:
        return TreeTake::Folder;
    case FolderEntry::Type::File:
        return TreeTake::File;
    case FolderEntry::Type::Link:
        return leadsSomewhereAt(folder, entry.name) ? TreeTake::Link : TreeTake::LinkToNothing;
    case FolderEntry::Type::Other:
        break;
    }
    return TreeTake::NotAFile;
}

Reason notCopiedReason(FlatTake take) {
    return {take == FlatTake::LinkToNothing ? Reason::Code::LinkToNothing
                                            : Reason::Code::NotARegularFile,
            0,
            {},
            {},
            0};
}

Reason notCopiedReason(TreeTake take) {
    return {take == TreeTake::LinkToNothing ? Reason::Code::LinkToNothing
                                            : Reason::Code::NotARegularFile,
            0,
            {},
            {},
            0};
}

// ---- The tree copy: who copies what in one folder ----

FolderPlan planFolder(const std::vector<FolderEntry::Type>& types,
                      const std::vector<std::string>& keys, std::size_t runLength) {
    FolderPlan plan;
    plan.replacedBy.resize(types.size());
    runLength = std::max<std::size_t>(runLength, 1);
    // Folders whose names are one name on the target become one folder, at the place of the
    // first of them.
    std::unordered_map<std::string_view, std::size_t> groupOf;
    std::vector<std::uint32_t>* run = nullptr;
    for (std::uint32_t i = 0; i < types.size(); ++i) {
        if (types[i] == FolderEntry::Type::Folder) {
            if (!keys.empty()) {
                const auto [group, added] = groupOf.try_emplace(keys[i], plan.folders.size());
                if (!added) {
                    plan.folders[group->second].push_back(i);
                    continue;
                }
            }
            plan.folders.push_back({i});
            continue;
        }
        if (!run || run->size() >= runLength) {
            plan.runs.emplace_back();
            run = &plan.runs.back();
        }
        run->push_back(i);
    }
    // Of other entries whose names are one there, the last is kept.
    if (!keys.empty()) {
        std::unordered_map<std::string_view, std::uint32_t> later;
        for (auto i = static_cast<std::uint32_t>(types.size()); i-- > 0;) {
            if (types[i] == FolderEntry::Type::Folder)
                continue;
            const auto [found, first] = later.try_emplace(keys[i], i);
            if (!first)
                plan.replacedBy[i] = found->second;
        }
    }
    return plan;
}

// ---- The flat copy: which file of each name wins ----

std::size_t FlatEntryPlan::fileCount() const {
    std::size_t count = 0;
    for (const FlatFolder& folder : contents)
        count += folder.files.size();
    return count;
}

namespace {

std::string withSeparator(const std::string& path) {
    return endsWithSeparator(path) ? path : path + Separator;
}

// What one folder gives, from what its walk listed when that is known, else from a listing now.
FlatFolder listFlatFolder(const std::string& path, const FileIdentity& output,
                          std::optional<FolderListing> known) {
    FlatFolder folder;
    folder.path = withSeparator(path);
    // Opened only to list it or to ask where its links lead; its identity costs one call.
    Descriptor fd;
    FolderListing listing;
    if (known) {
        listing = std::move(*known);
    } else {
        fd = openFolder(folder.path);
        if (const int error = fd.valid() ? readListingAt(fd.get(), listing) : fd.error();
            error != 0) {
            folder.listingFailure = copyFailure(folder.path, error);
            return folder;
        }
    }
    FileIdentity identity;
    if (const int error = identityOfPath(folder.path, identity); error != 0) {
        folder.listingFailure = copyFailure(folder.path, error);
        return folder;
    }
    if (identity == output) {
        folder.isOutput = true;
        return folder;
    }
    for (std::uint32_t position = 0; position < listing.entries.size(); ++position) {
        FolderEntry& entry = listing.entries[position];
        if (entry.type == FolderEntry::Type::Link && !fd.valid())
            fd = openFolder(folder.path);
        switch (const FlatTake take = takeForFlat(fd.get(), entry)) {
        case FlatTake::Folder:
            break;
        case FlatTake::File:
            folder.files.push_back({std::move(entry.name), position});
            break;
        case FlatTake::LeftOut:
            folder.leftOut.push_back({std::move(entry.name), position});
            break;
        case FlatTake::LinkToNothing:
        case FlatTake::NotAFile:
            folder.notCopied.push_back({{std::move(entry.name), position}, take});
            break;
        }
    }
    return folder;
}

} // namespace

FlatEntryPlan planFlatFolders(std::string entry, FolderCollection folders,
                              std::vector<LeftOutFolder> leftOut, WalkListings* listings,
                              const OutputRules& rules, const FileIdentity& output) {
    FlatEntryPlan plan;
    plan.entry = std::move(entry);
    plan.folders = std::move(folders);
    plan.leftOut = std::move(leftOut);
    plan.contents.reserve(plan.folders.size());
    for (const std::string& path : plan.folders) {
        if (stopRequested())
            break;
        std::optional<FolderListing> known;
        if (listings) {
            if (const auto found = listings->byPath.find(path); found != listings->byPath.end()) {
                known = std::move(found->second);
                listings->byPath.erase(found);
            }
        }
        plan.contents.push_back(listFlatFolder(path, output, std::move(known)));
    }
    // From the last folder to the first, the first file met of each key is the last in
    // processing order: the one that copying every file in turn would leave.
    // Views of the names where they are their own keys; made keys are kept meanwhile in `made`,
    // whose strings stay where they are.
    // A winner whose key an earlier file has too is marked contested.
    std::unordered_map<std::string_view, FlatPlace> claimed;
    claimed.reserve(plan.fileCount());
    std::deque<std::string> made;
    std::string storage;
    for (auto folder = static_cast<std::uint32_t>(plan.contents.size()); folder-- > 0;) {
        const std::vector<ListedFile>& files = plan.contents[folder].files;
        for (auto file = static_cast<std::uint32_t>(files.size()); file-- > 0;) {
            std::string_view key = rules.keyView(files[file].name, storage);
            if (key.data() == storage.data())
                key = made.emplace_back(std::move(storage));
            const auto [winner, first] = claimed.try_emplace(key, FlatPlace{folder, file});
            if (first)
                plan.winners.push_back({folder, file});
            else
                plan.contents[winner->second.folder].files[winner->second.file].contested = true;
        }
    }
    std::reverse(plan.winners.begin(), plan.winners.end());
    plan.made = std::chrono::steady_clock::now();
    return plan;
}

// ---- A flat run of several entries ----

namespace {

// Walks without a window: nothing to keep alive; what it would report is kept.
class QuietWalk final : public WalkHost {
public:
    void pumpEvents() override {}
    void showErrorReport(const Failure& failure, const std::string&, int) override {
        reports.push_back(failure);
    }
    std::vector<Failure> reports;
};

// How many names the look-ahead keeps in the plans it made, for the entries' copies to take
// instead of walking and listing again; past that, an entry plans anew.
constexpr std::size_t KeptNames = std::size_t{1} << 18;
// A plan older than this may have missed what changed since.
constexpr auto FreshFor = std::chrono::seconds(2);

} // namespace

FlatEntryPlan planFlatEntryQuietly(const std::string& entry, const OutputRules& rules,
                                   const FileIdentity& output) {
    if (entry.empty())
        return {};
    FolderCollection folders{withSeparator(entry)};
    QuietWalk walk;
    std::vector<LeftOutFolder> leftOut;
    WalkListings listings{KeptNames, {}};
    walkSubfolders(folders, Recursion::AllLevels, walk, &leftOut, &listings);
    FlatEntryPlan plan =
        planFlatFolders(entry, std::move(folders), std::move(leftOut), &listings, rules, output);
    plan.walkReports = std::move(walk.reports);
    return plan;
}

namespace {

// Calls `work` for each of `count` entries, side by side on the workers and this thread, as work
// of the current run: a stop drops the entries not yet begun.
void forEachEntry(std::size_t count, const std::function<void(std::uint32_t)>& work) {
    auto group = std::make_shared<TaskGroup<std::uint32_t>>(
        [&](std::uint32_t& entry) { work(entry); }, TaskGroup<std::uint32_t>::Settings{});
    std::vector<std::uint32_t> all(count);
    std::iota(all.begin(), all.end(), std::uint32_t{0});
    group->postAll(all);
    group->enlist(count);
    group->wait();
}

} // namespace

FlatRun::FlatRun(const std::vector<std::string>& entries, const OutputRules& rules,
                 const FileIdentity& output)
    : m_judged(entries.size()), m_deferred(entries.size()) {
    // The entries are planned side by side, on the workers and this thread, each plan's names
    // noted as it is made, while other entries are still walked. An entry whose plan fails counts
    // as holding nothing: the look-ahead is only a way to copy less.
    std::vector<std::shared_ptr<FlatEntryPlan>> planned(entries.size());
    forEachEntry(entries.size(), [&](std::uint32_t entry) {
        try {
            planned[entry] = std::make_shared<FlatEntryPlan>(
                planFlatEntryQuietly(entries[entry], rules, output));
        } catch (...) {
            planned[entry] = std::make_shared<FlatEntryPlan>();
            planned[entry]->walkReports.push_back(failureFromCurrentException());
        }
        noteHolder(*planned[entry], entry, rules);
    });
    // An entry a stop kept from being planned holds nothing.
    for (std::shared_ptr<FlatEntryPlan>& plan : planned)
        if (!plan)
            plan = std::make_shared<FlatEntryPlan>();
    forEachEntry(entries.size(), [&](std::uint32_t entry) { judge(planned[entry], entry, rules); });
    m_plans.resize(entries.size());
    std::size_t kept = 0;
    for (std::uint32_t entry = 0; entry < entries.size(); ++entry) {
        std::shared_ptr<FlatEntryPlan> plan = std::move(planned[entry]);
        const std::size_t names = plan->fileCount();
        // The plan is the entry's own only when its walk went as the entry's own would.
        if (plan->walkReports.empty() && !stopRequested() && kept + names <= KeptNames) {
            kept += names;
            m_plans[entry] = Kept{std::move(plan), entries[entry]};
        }
    }
}

FlatRun::FlatRun(const std::vector<std::shared_ptr<const FlatEntryPlan>>& plans,
                 const OutputRules& rules)
    : m_plans(plans.size()), m_judged(plans.size()), m_deferred(plans.size()) {
    for (std::uint32_t entry = 0; entry < plans.size(); ++entry)
        noteHolder(*plans[entry], entry, rules);
    for (std::uint32_t entry = 0; entry < plans.size(); ++entry)
        judge(plans[entry], entry, rules);
}

void FlatRun::noteHolder(const FlatEntryPlan& plan, std::uint32_t entry, const OutputRules& rules) {
    std::string storage;
    std::lock_guard lock(m_mutex);
    m_last.reserve(m_last.size() + plan.winners.size());
    for (const FlatPlace& winner : plan.winners) {
        const std::string_view key = rules.keyView(plan.file(winner).name, storage);
        if (const auto last = m_last.find(key); last == m_last.end())
            m_last.emplace(key, entry);
        else
            last->second = std::max(last->second, entry);
    }
}

void FlatRun::judge(const std::shared_ptr<const FlatEntryPlan>& plan, std::uint32_t entry,
                    const OutputRules& rules) {
    Judged& judged = m_judged[entry];
    judged.laterHolder.assign(plan->winners.size(), 0);
    std::string storage;
    for (std::size_t i = 0; i < plan->winners.size(); ++i) {
        const auto last = m_last.find(rules.keyView(plan->file(plan->winners[i]).name, storage));
        if (last != m_last.end() && last->second > entry)
            judged.laterHolder[i] = last->second;
    }
    judged.plan = plan;
}

std::shared_ptr<const FlatEntryPlan> FlatRun::takePlan(std::size_t entry, const std::string& path) {
    if (entry >= m_plans.size() || !m_plans[entry])
        return nullptr;
    Kept kept = std::move(*m_plans[entry]);
    m_plans[entry].reset();
    if (kept.path != path || std::chrono::steady_clock::now() - kept.plan->made > FreshFor)
        return nullptr;
    return kept.plan;
}

std::shared_ptr<const FlatEntryPlan> FlatRun::plannedFor(std::size_t entry) const {
    return entry < m_plans.size() && m_plans[entry] ? m_plans[entry]->plan : nullptr;
}

bool FlatRun::laterHolds(std::size_t entry, std::string_view key) const {
    const auto found = m_last.find(key);
    return found != m_last.end() && found->second > entry;
}

std::vector<FlatPlace> FlatRun::copiesOf(const FlatEntryPlan& plan, const OutputRules& rules,
                                         std::size_t entry) {
    std::vector<FlatPlace> copies;
    copies.reserve(plan.winners.size());
    // Each winner a later entry replaces, with that entry.
    std::vector<std::pair<FlatPlace, std::uint32_t>> left;
    std::string storage;
    // Judged already when the plan is the one the run was made from.
    const std::vector<std::uint32_t>* judged =
        entry < m_judged.size() && m_judged[entry].plan.lock().get() == &plan
            ? &m_judged[entry].laterHolder
            : nullptr;
    for (std::size_t i = 0; i < plan.winners.size(); ++i) {
        const FlatPlace winner = plan.winners[i];
        std::uint32_t holder = 0;
        if (judged) {
            holder = (*judged)[i];
        } else if (const auto last = m_last.find(rules.keyView(plan.file(winner).name, storage));
                   last != m_last.end() && last->second > entry) {
            holder = last->second;
        }
        if (holder > entry && holder < m_deferred.size())
            left.emplace_back(winner, holder);
        else
            copies.push_back(winner);
    }
    std::lock_guard lock(m_mutex);
    for (const auto& [winner, holder] : left) {
        const std::string& name = plan.file(winner).name;
        m_deferred[holder][std::string(rules.keyView(name, storage))].push_back(
            {entry, plan.pathOf(winner), name});
    }
    return copies;
}

FlatRun::DeferredByKey FlatRun::takeRemaining() {
    DeferredByKey remaining;
    std::lock_guard lock(m_mutex);
    for (auto& awaited : m_deferred)
        remaining.merge(std::exchange(awaited, {}));
    return remaining;
}

FlatRun::DeferredByKey FlatRun::takeAwaited(std::size_t entry) {
    std::lock_guard lock(m_mutex);
    return entry < m_deferred.size() ? std::exchange(m_deferred[entry], {}) : DeferredByKey{};
}

void PlacedFiles::add(std::uint64_t place, std::uint64_t source) {
    if (!m_recording)
        return;
    std::lock_guard lock(m_mutex);
    m_sources[place] = source;
    m_any.store(true, std::memory_order_release);
}

void PlacedFiles::addAll(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& placed) {
    if (!m_recording || placed.empty())
        return;
    std::lock_guard lock(m_mutex);
    for (const auto& [place, source] : placed)
        m_sources[place] = source;
    m_any.store(true, std::memory_order_release);
}

std::optional<std::uint64_t> PlacedFiles::sourceAt(std::uint64_t place) const {
    if (!m_any.load(std::memory_order_acquire))
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    const auto found = m_sources.find(place);
    return found == m_sources.end() ? std::nullopt : std::optional(found->second);
}

} // namespace join
