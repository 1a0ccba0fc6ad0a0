#include "join/copy/treecopy.h"

#include "join/copy/filecopy.h"
#include "join/copy/targetfolder.h"
#include "join/fs/closebatch.h"
#include "join/fs/paths.h"
#include "join/fs/targetfs.h"
#include "join/fs/temporaries.h"
#include "join/tasks/taskgroup.h"
#include "join/tasks/workers.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <exception>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace join {

namespace {

constexpr std::size_t NoLimit = std::numeric_limits<std::size_t>::max();

// One source folder copied into a target folder. Where the target takes names that differ only
// in case as one, several source folders ("Dir", "dir") go into one target folder, in their
// listing order.
struct Member {
    std::string name;           // its name in its parent source folder; empty for the root
    std::uint32_t parentMember; // which of the parent's members holds it
    Descriptor source;
};

// An entry of a folder being copied, with the member it was listed in.
struct Item {
    FolderEntry entry;
    std::uint32_t member;
};

// What the user is told an entry was, when it could not be copied.
NotCopiedItem::Kind notCopiedKind(FolderEntry::Type type) {
    switch (type) {
    case FolderEntry::Type::Folder:
        return NotCopiedItem::Kind::Folder;
    case FolderEntry::Type::Link:
        return NotCopiedItem::Kind::Link;
    case FolderEntry::Type::Other:
        return NotCopiedItem::Kind::SpecialFile;
    case FolderEntry::Type::File:
        break;
    }
    return NotCopiedItem::Kind::File;
}

// A target folder being filled. Its descriptors stay open while its own entries are copied and
// until every subfolder has opened its own, and no longer, so that a deep tree holds few open.
struct Node {
    std::shared_ptr<Node> parent;
    std::uint32_t index = 0; // its place among the parent's items
    std::vector<Member> members;
    Descriptor target;
    FileIdentity targetIdentity;
    // Its place in the output; where the writes are withheld, whether the run would make it (no
    // descriptor then) and why the join could not fill it.
    std::uint64_t place = 0;
    bool foreseen = false;
    int refusal = 0;
    std::vector<Item> items;
    // For each item other than a folder, the later item that the target keeps instead.
    std::vector<std::optional<std::uint32_t>> replacedBy;
    // The bits the target takes once everything below it is copied, when they must change.
    std::optional<unsigned> restore;
    // Whether this copy made the target, which then holds only what the copy puts there.
    bool made = false;
    // Behind a link, the keys of the names a target that was there already held when it was
    // listed: a name it did not hold is written without a look first.
    std::optional<KeySet> present;
    // Whether the copy put anything into a target that was there already.
    std::atomic<bool> filled{false};
    // The source folder's times, which the target takes once everything is in it; whether the
    // target gives what is made in it its own group (its setgid bit).
    std::optional<std::array<struct timespec, 2>> times;
    bool givesGroup = false;
    // The source folder's default ACL, which the target takes once it is filled, so that what
    // the copy makes in it does not inherit it.
    std::string defaultList;
    std::atomic<int> users{1}; // the listing, the runs and the subfolders still to open

    const std::string& name() const { return members.front().name; }
    bool hasTarget() const { return target.valid() || foreseen; }
    OutputFolder outputFolder() const { return {target.get(), place, refusal}; }
};

// One piece of work: open and list a folder, or copy a run of its entries other than folders.
struct Task {
    std::shared_ptr<Node> node;
    std::vector<std::uint32_t> run; // empty: the listing

    // The target folder the task writes into: its own for a run, its parent's for a listing,
    // which makes the folder there.
    const void* writesInto() const {
        return run.empty() && node->parent ? node->parent.get() : node.get();
    }
};

class TreeJob {
public:
    TreeJob(TreeCopyRoot& root, CopyFailures& failures, CopyCounters& counters)
        : m_sourceRoot(root.sourcePath), m_targetRoot(root.targetPath), m_failures(failures),
          m_counters(counters), m_rules(std::move(root.rules)), m_width(m_rules.copyWidth()),
          m_remote(m_rules.reach() == TargetReach::Remote), m_fileSystem(m_rules.fileSystem()),
          m_wholeFolders(m_rules.ignoresCase()), m_ifExists(root.ifExists), m_placed(root.placed),
          m_foreseen(root.foreseen), m_record(root.record), m_entry(root.entry),
          m_group(std::make_shared<TaskGroup<Task>>(
              [this](Task& task) { run(task); },
              TaskGroup<Task>::Settings{TaskOrder::LastPosted, NoLimit, [] { finishClosing(); },
                                        // Behind a link making a file holds its folder's lock
                                        // across round trips: the copies spread over the folders.
                                        m_remote
                                            ? [](const Task& task) { return task.writesInto(); }
                                            : std::function<const void*(const Task&)>()})) {
        auto node = std::make_shared<Node>();
        node->members.push_back({{}, 0, std::move(root.source)});
        node->target = std::move(root.target);
        node->place = root.place;
        node->foreseen = m_foreseen && !node->target.valid();
        node->refusal = root.refusal;
        node->restore = root.permissions;
        node->made = root.made;
        recordFolder(*node, root.made);
        if (!m_foreseen) {
            // Kept for the last step, which gives folders their bits from the root down.
            m_rootTarget = duplicateDescriptor(node->target.get());
            FolderStatus status;
            if (readFolderStatus(node->target.get(), status) == 0) {
                node->targetIdentity = status.identity;
                node->givesGroup = (status.permissions & S_ISGID) != 0;
            }
            if (FolderStatus source;
                readFolderStatus(node->members.front().source.get(), source) == 0)
                keepFolderAttributes(*node, node->members.front().source.get(), source, false);
            // A run killed mid-copy leaves partly written files under their temporary names only
            // where copies are not written to unnamed files; only there are the folders that were
            // there already looked through for them.
            m_namedTemporaries = !unnamedFilesIn(node->target.get());
            if (root.made)
                m_counters.made.fetch_add(1, std::memory_order_relaxed);
            else
                lookThroughTarget(*node);
        }
        if (node->restore)
            m_restoring.push_back(node);
        m_root = node;
        m_group->post({std::move(node), {}});
    }

    TreeJob(const TreeJob&) = delete;
    TreeJob& operator=(const TreeJob&) = delete;
    ~TreeJob() { m_group->abandon(); }

    // Copies the tree on the workers and the calling thread. Returns what a task threw, if one
    // did: that ends the copy, and the tasks still waiting are dropped.
    std::exception_ptr copy() {
        m_group->enlist(m_width);
        return m_group->finish();
    }

    void restorePermissions();

private:
    void run(Task& task) {
        probeTask();
        if (task.run.empty())
            list(task.node);
        else
            copyRun(*task.node, task.run);
    }

    CopyFailures::Position positionOf(const Node& node) const {
        CopyFailures::Position position;
        for (const Node* at = &node; at->parent; at = at->parent.get())
            position.push_back(at->index);
        std::reverse(position.begin(), position.end());
        return position;
    }

    // The path of one member of a folder, or of its target.
    std::string pathOf(const Node& node, std::uint32_t member, Side side) const {
        std::vector<const std::string*> names;
        for (const Node* at = &node; at->parent; at = at->parent.get()) {
            const Member& own = at->members[side == Side::Source ? member : 0];
            names.push_back(&own.name);
            member = own.parentMember;
        }
        std::string path = side == Side::Source ? m_sourceRoot : m_targetRoot;
        for (auto name = names.rbegin(); name != names.rend(); ++name)
            path.append(1, Separator).append(**name);
        return path;
    }

    Failure failureAt(const std::string& path, const std::string& name, Side side,
                      int error) const {
        return side == Side::Target && m_fileSystem
                   ? targetNameFailure(*m_fileSystem, path, name, error)
                   : copyFailure(path, error);
    }

    void failFolder(const Node& node, std::uint32_t member, Side side, int error) {
        if (error != ECANCELED)
            failFolder(node, member,
                       failureAt(pathOf(node, member, side), node.name(), side, error));
    }

    void failFolder(const Node& node, std::uint32_t member, const Failure& failure) {
        m_failures.add(positionOf(node), failure, NotCopiedItem::Kind::Folder);
        if (m_record)
            m_record->add(
                {FileFate::Item::Folder,
                 FileFate::Fate::NotCopied,
                 m_entry,
                 pathOf(node, member, Side::Source),
                 pathOf(node, 0, Side::Target),
                 {failure.path(), NotCopiedItem::Kind::Folder, failure.reason(), failure.number()},
                 positionOf(node)});
    }

    // A folder the copy made, or would make, or merges into.
    void recordFolder(const Node& node, bool made) {
        if (m_record)
            m_record->add({FileFate::Item::Folder,
                           made ? FileFate::Fate::Written : FileFate::Fate::AlreadyThere,
                           m_entry,
                           pathOf(node, 0, Side::Source),
                           pathOf(node, 0, Side::Target),
                           {},
                           positionOf(node)});
    }

    // The fate of an item other than a folder.
    void recordItem(const Node& node, std::uint32_t item, FileFate::Fate fate,
                    const Failure* failure = nullptr) {
        if (!m_record)
            return;
        const Item& at = node.items[item];
        CopyFailures::Position position = positionOf(node);
        position.push_back(item);
        NotCopiedItem notCopied;
        if (failure)
            notCopied = {failure->path(), notCopiedKind(at.entry.type), failure->reason(),
                         failure->number()};
        m_record->add(
            {at.entry.type == FolderEntry::Type::Link ? FileFate::Item::Link : FileFate::Item::File,
             fate, m_entry, pathOf(node, at.member, Side::Source) + Separator + at.entry.name,
             pathOf(node, 0, Side::Target) + Separator + at.entry.name, std::move(notCopied),
             std::move(position)});
    }

    void failItem(const Node& node, std::uint32_t item, const Failure& failure) {
        CopyFailures::Position position = positionOf(node);
        position.push_back(item);
        m_failures.add(position, failure, notCopiedKind(node.items[item].entry.type));
        recordItem(node, item, FileFate::Fate::NotCopied, &failure);
    }

    void failItem(const Node& node, std::uint32_t item, Side side, int error) {
        if (error == ECANCELED)
            return;
        const Item& at = node.items[item];
        failItem(node, item,
                 failureAt(pathOf(node, at.member, side) + Separator + at.entry.name, at.entry.name,
                           side, error));
    }

    // Not copied for `reason`, named by its source.
    void failItem(const Node& node, std::uint32_t item, Reason reason) {
        const Item& at = node.items[item];
        failItem(node, item,
                 copyFailure(pathOf(node, at.member, Side::Source) + Separator + at.entry.name,
                             std::move(reason)));
    }

    // A folder that was there already may hold what a run killed mid-copy partly wrote: that
    // goes, once its maker has ended. Behind a link, where a look at a name costs a round trip,
    // the names it holds are kept from its listing.
    void lookThroughTarget(Node& node) {
        if (m_foreseen || (!m_namedTemporaries && !m_remote))
            return;
        FolderListing listing;
        if (m_remote && readListingAt(node.target.get(), listing) == 0) {
            node.present.emplace();
            for (const FolderEntry& entry : listing.entries)
                node.present->insert(m_rules.key(entry.name));
        }
        if (!m_namedTemporaries)
            return;
        const TemporaryRemoval removal =
            node.present ? removeEndedTemporariesIn(node.target.get(), listing.entries)
                         : removeEndedTemporariesIn(node.target.get());
        m_counters.temporariesRemoved.fetch_add(removal.removed, std::memory_order_relaxed);
        for (const TemporaryRemoval::Refusal& refused : removal.refused)
            m_failures.add(positionOf(node),
                           copyFailure(pathOf(node, 0, Side::Target) +
                                           (refused.name.empty() ? "" : "/" + refused.name),
                                       refused.error),
                           NotCopiedItem::Kind::Other);
    }

    // Opens a folder and its target, lists it, and hands out its entries.
    void list(const std::shared_ptr<Node>& node) {
        if (node->parent && !stopRequested())
            open(node);
        if (node->parent)
            release(*node->parent);
        if (node->hasTarget() && !stopRequested()) {
            for (std::uint32_t m = 0; m < node->members.size(); ++m) {
                Member& member = node->members[m];
                FolderListing listing;
                if (!member.source.valid())
                    continue;
                if (const int error = readListingAt(member.source.get(), listing); error != 0)
                    failFolder(*node, m, Side::Source, error);
                for (FolderEntry& entry : listing.entries)
                    node->items.push_back({std::move(entry), m});
            }
        }
        handOut(node);
        release(*node);
    }

    void open(const std::shared_ptr<Node>& shared) {
        Node& node = *shared;
        bool opened = false;
        FolderStatus first;
        int firstSource = -1;
        for (std::uint32_t m = 0; m < node.members.size(); ++m) {
            Member& member = node.members[m];
            member.source =
                openFolderAt(node.parent->members[member.parentMember].source.get(), member.name);
            FolderStatus status;
            if (const int error = member.source.valid()
                                      ? readFolderStatus(member.source.get(), status)
                                      : member.source.error();
                error != 0) {
                failFolder(node, m, Side::Source, error);
                member.source.reset();
                continue;
            }
            if (!opened) {
                first = status;
                firstSource = member.source.get();
            }
            opened = true;
        }
        if (!opened)
            return;
        node.place = placeIn(node.parent->place, m_rules.key(node.name()));
        // A name or path the output's file system does not take is not asked of it.
        if (m_fileSystem && (nameRefusal(*m_fileSystem, node.name()) ||
                             pathRefusal(*m_fileSystem, pathOf(node, 0, Side::Target)))) {
            failFolder(node, 0, Side::Target, NameRefused);
            return;
        }
        if (m_foreseen) {
            foreseeFolder(node);
            return;
        }
        int error = 0;
        node.target = prepareTargetFolder(node.parent->target.get(), node.name(), first.permissions,
                                          true, !node.parent->made, node.restore, error);
        FolderStatus status;
        // The error stays EEXIST when the folder was there already.
        node.made = node.target.valid() && error == 0;
        if (node.target.valid()) {
            recordFolder(node, node.made);
            keepFolderAttributes(node, firstSource, first, node.parent->givesGroup);
        }
        if (node.made) {
            m_counters.made.fetch_add(1, std::memory_order_relaxed);
            node.parent->filled = true;
        } else if (node.target.valid())
            lookThroughTarget(node);
        if (node.target.valid() && readFolderStatus(node.target.get(), status) == 0) {
            node.targetIdentity = status.identity;
            node.givesGroup = (status.permissions & S_ISGID) != 0;
            if (node.restore) {
                std::lock_guard lock(m_mutex);
                m_restoring.push_back(shared);
            }
            return;
        }
        node.target.reset();
        failPreparing(node, error);
    }

    // Why the target folder could not be made or opened.
    void failPreparing(const Node& node, int error) {
        if (error != EEXIST) {
            failFolder(node, 0, Side::Target, error != 0 ? error : EIO);
            return;
        }
        failFolder(node, 0,
                   copyFailure(pathOf(node, 0, Side::Target),
                               Reason{Reason::Code::FileInTheWay, 0, {}, {}, 0}));
    }

    // The target folder as the join would make or merge into it, where the writes are withheld.
    void foreseeFolder(Node& node) {
        int error = 0;
        bool made = false;
        const std::optional<OutputFolder> folder =
            foreseeTargetFolder(node.parent->outputFolder(), node.name(), node.place, true,
                                *m_foreseen, node.target, made, error);
        if (!folder) {
            node.target.reset();
            failPreparing(node, error);
            return;
        }
        node.foreseen = !node.target.valid();
        node.refusal = folder->refusal;
        node.made = made;
        recordFolder(node, made);
    }

    // Subfolders become tasks of their own; the other entries are copied in runs, so that the
    // workers share a large folder. Where the target ignores case, a folder's other entries are
    // one run, copied in order, so that the later of two names that are one there is left.
    void handOut(const std::shared_ptr<Node>& node) {
        std::vector<FolderEntry::Type> types;
        std::vector<std::string> keys;
        types.reserve(node->items.size());
        std::size_t others = 0;
        for (const Item& item : node->items) {
            types.push_back(item.entry.type);
            others += item.entry.type != FolderEntry::Type::Folder;
            if (m_wholeFolders)
                keys.push_back(m_rules.key(item.entry.name));
        }
        const std::size_t runLength =
            m_wholeFolders ? others : std::clamp<std::size_t>(others / (2 * m_width.most), 1, 256);
        FolderPlan plan = planFolder(types, keys, runLength);
        node->replacedBy = std::move(plan.replacedBy);

        std::vector<Task> tasks;
        tasks.reserve(plan.folders.size() + plan.runs.size());
        for (const std::vector<std::uint32_t>& group : plan.folders) {
            auto child = std::make_shared<Node>();
            child->parent = node;
            child->index = group.front();
            for (const std::uint32_t item : group)
                child->members.push_back(
                    {node->items[item].entry.name, node->items[item].member, Descriptor()});
            tasks.push_back({std::move(child), {}});
        }
        for (std::vector<std::uint32_t>& run : plan.runs)
            tasks.push_back({node, std::move(run)});
        // In listing order, each task at the place of its first entry.
        std::sort(tasks.begin(), tasks.end(), [](const Task& a, const Task& b) {
            const auto first = [](const Task& task) {
                return task.run.empty() ? task.node->index : task.run.front();
            };
            return first(a) < first(b);
        });
        node->users += static_cast<int>(tasks.size());
        m_group->postAll(tasks);
    }

    void copyRun(Node& node, const std::vector<std::uint32_t>& run) {
        for (const std::uint32_t i : run) {
            // A pause holds the next item; one that waited for a stop is not begun.
            pausePoint();
            const Item& item = node.items[i];
            const int source = node.members[item.member].source.get();
            const std::string& name = item.entry.name;
            // Where the target takes two names as one, it keeps the later only.
            if (const std::optional<std::uint32_t> later = node.replacedBy[i]) {
                failItem(node, i,
                         Reason{Reason::Code::NameOneWithLater, 0, node.items[*later].entry.name,
                                m_fileSystem->type, 0});
                continue;
            }
            CopyOutcome outcome;
            switch (const TreeTake take = takeForTree(source, item.entry)) {
            case TreeTake::Folder:
                continue; // never in a run
            case TreeTake::File:
                outcome = copyFile(node, item, source, name);
                break;
            case TreeTake::Link:
                outcome = copyLink(node, source, name);
                break;
            case TreeTake::LinkToNothing:
            case TreeTake::NotAFile:
                // Pipes, sockets and devices are never opened: reading one could block or consume.
                failItem(node, i, notCopiedReason(take));
                continue;
            }
            if (outcome.result == CopyOutcome::Result::Copied) {
                m_counters.made.fetch_add(1, std::memory_order_relaxed);
                node.filled.store(true, std::memory_order_relaxed);
            }
            if (outcome.copied())
                recordItem(node, i,
                           outcome.result == CopyOutcome::Result::Copied
                               ? FileFate::Fate::Written
                               : FileFate::Fate::AlreadyThere);
            if (outcome.copied()) {
                m_counters.files.fetch_add(1, std::memory_order_relaxed);
                if (outcome.result == CopyOutcome::Result::AlreadyThere) {
                    m_counters.alreadyThere.fetch_add(1, std::memory_order_relaxed);
                    m_counters.bytesAlreadyThere.fetch_add(outcome.bytes,
                                                           std::memory_order_relaxed);
                }
            } else if (item.entry.type == FolderEntry::Type::Link && outcome.side == Side::Target &&
                       m_fileSystem && !m_fileSystem->storesLinks) {
                failItem(node, i, Reason{Reason::Code::LinkNotHeld, 0, {}, m_fileSystem->type, 0});
            } else {
                failItem(node, i, outcome.side, outcome.error);
            }
        }
        release(node);
    }

    // Whether the output's file system refuses the name, or the path, of a thing of the folder.
    bool refusedThere(const Node& node, const std::string& name) const {
        if (!m_fileSystem)
            return false;
        return nameRefusal(*m_fileSystem, name) ||
               (!m_fileSystem->farEnd.empty() &&
                pathRefusal(*m_fileSystem, pathOf(node, 0, Side::Target) + Separator + name));
    }

    // A file of the folder, left alone when it already is its copy: the place's history in this
    // run tells what that means (see PlaceHistory).
    CopyOutcome copyFile(const Node& node, const Item& item, int source, const std::string& name) {
        // A name or path the output's file system does not take is not asked of it.
        if (refusedThere(node, name))
            return {CopyOutcome::Result::Failed, NameRefused, Side::Target};
        const bool placing = m_foreseen || (m_placed && m_placed->inUse());
        const std::string key = placing || node.present ? m_rules.key(name) : std::string();
        const std::uint64_t place = placing ? placeIn(node.place, key) : 0;
        PlaceHistory history;
        if (m_placed && placing)
            history.earlier = m_placed->sourceAt(place);
        CopyOutcome outcome;
        if (m_foreseen) {
            outcome = foreseeFileAt(source, name,
                                    pathOf(node, item.member, Side::Source) + Separator + name,
                                    FollowLink::No, node.outputFolder(), name, place, m_ifExists,
                                    m_rules.timeStep(), history, *m_foreseen);
        } else {
            // Written under its own name where the file system allows it; nothing is looked up
            // in a folder this copy made, nor a name its listing did not show.
            const InPlace inPlace = !m_rules.writesInPlace() ? InPlace::Never
                                    : node.made || (node.present && !node.present->contains(key))
                                        ? InPlace::Fresh
                                        : InPlace::WhereFree;
            outcome = copyFileAt(source, name, FollowLink::No, node.target.get(), name, m_ifExists,
                                 &m_counters.bytes, m_rules.timeStep(), inPlace, history,
                                 m_rules.reach(), {&m_counters.attributes, node.givesGroup});
        }
        if (m_placed && placing && outcome.source != 0)
            m_placed->add(place, outcome.source);
        return outcome;
    }

    CopyOutcome copyLink(const Node& node, int source, const std::string& name) {
        if (refusedThere(node, name))
            return {CopyOutcome::Result::Failed, NameRefused, Side::Target};
        if (!m_foreseen)
            return copyLinkAt(source, name, node.target.get(), name,
                              {&m_counters.attributes, node.givesGroup});
        return foreseeLinkAt(source, name, node.outputFolder(), name,
                             placeIn(node.place, m_rules.key(name)),
                             !m_fileSystem || m_fileSystem->storesLinks, *m_foreseen);
    }

    // A folder the copy made takes its source's attributes; one it made or fills takes its
    // times once everything is in it (release). Where the owner is not kept, neither are the
    // setuid and setgid bits that the folder would take at the end.
    void keepFolderAttributes(Node& node, int source, const FolderStatus& status,
                              bool parentGivesGroup) {
        node.times = {status.full.st_atim, status.full.st_mtim};
        if (!node.made)
            return;
        const unsigned lost =
            keepAttributes(source, status.full, node.target.get(),
                           {&m_counters.attributes, parentGivesGroup}, &node.defaultList);
        if ((lost & attributeBit(KeptAttribute::Owner)) != 0 && node.restore)
            *node.restore &= ~static_cast<unsigned>(S_ISUID | S_ISGID);
    }

    // One user of the folder's descriptors is done with them. The last one leaves the folder
    // with all it holds: it takes its source's times, unless nothing was put in it.
    void release(Node& node) {
        if (--node.users != 0)
            return;
        if (!m_foreseen && node.target.valid()) {
            keepDefaultList(node.target.get(), node.defaultList, {&m_counters.attributes});
            if (node.times && (node.made || node.filled))
                ::futimens(node.target.get(), node.times->data());
        }
        for (Member& member : node.members)
            member.source.reset();
        node.target.reset();
        node.items = {};
    }

    const std::string m_sourceRoot;
    const std::string m_targetRoot;
    CopyFailures& m_failures;
    CopyCounters& m_counters;
    const OutputRules m_rules;
    const JobWidth m_width;
    const bool m_remote;
    const TargetFileSystem* const m_fileSystem;
    const bool m_wholeFolders;
    bool m_namedTemporaries = true;
    const IfDestinationExists m_ifExists;
    PlacedFiles* const m_placed;
    ForeseenOutput* const m_foreseen;
    FileRecord* const m_record;
    const int m_entry;
    std::shared_ptr<Node> m_root;
    Descriptor m_rootTarget;

    const std::shared_ptr<TaskGroup<Task>> m_group;

    std::mutex m_mutex;
    // The folders whose bits change at the end.
    std::vector<std::shared_ptr<Node>> m_restoring;
};

// Gives every folder that was made writable to be filled its own bits, deepest first, so that
// a read-only folder never shuts out what goes into it. The walk holds one folder open at a
// time: down by name from the folder above, up through "..", each checked by identity.
void TreeJob::restorePermissions() {
    if (m_restoring.empty())
        return;
    // The folders to visit (those to change and every folder above them), each with its own.
    std::unordered_map<const Node*, std::vector<const Node*>> below;
    std::unordered_set<const Node*> linked;
    for (const std::shared_ptr<Node>& node : m_restoring) {
        for (const Node* at = node.get(); at->parent && linked.insert(at).second;
             at = at->parent.get())
            below[at->parent.get()].push_back(at);
    }
    for (auto& [parent, children] : below)
        std::sort(children.begin(), children.end(),
                  [](const Node* a, const Node* b) { return a->index < b->index; });

    const auto identityOf = [](const Descriptor& folder) {
        FolderStatus status;
        return folder.valid() && readFolderStatus(folder.get(), status) == 0
                   ? std::optional(status.identity)
                   : std::nullopt;
    };
    // Reopens a folder from the root, name by name: only when ".." did not lead back to it.
    const auto reopen = [&](const Node& node) {
        std::vector<const Node*> chain;
        for (const Node* at = &node; at->parent; at = at->parent.get())
            chain.push_back(at);
        Descriptor folder = duplicateDescriptor(m_rootTarget.get());
        for (auto at = chain.rbegin(); at != chain.rend() && folder.valid(); ++at)
            folder = openFolderAt(folder.get(), (*at)->name());
        return identityOf(folder) == node.targetIdentity ? std::move(folder) : Descriptor();
    };

    struct Level {
        const Node* node;
        std::size_t next = 0;
    };
    std::vector<Level> path{{m_root.get()}};
    Descriptor current = duplicateDescriptor(m_rootTarget.get());
    while (!path.empty()) {
        Level& level = path.back();
        const auto children = below.find(level.node);
        if (current.valid() && children != below.end() && level.next < children->second.size()) {
            const Node* child = children->second[level.next++];
            Descriptor opened = openFolderAt(current.get(), child->name());
            if (identityOf(opened) != child->targetIdentity)
                continue; // no longer the folder that was filled: left as it is
            current = std::move(opened);
            path.push_back({child});
            continue;
        }
        const Node* done = level.node;
        path.pop_back();
        if (!current.valid())
            current = reopen(*done);
        Descriptor parent;
        if (!path.empty()) {
            if (current.valid())
                parent = openParentFolder(current.get());
            if (identityOf(parent) != path.back().node->targetIdentity)
                parent = reopen(*path.back().node);
        }
        if (done->restore && current.valid()) {
            if (const int error = setPermissions(current.get(), *done->restore); error != 0)
                failFolder(*done, 0, Side::Target, error);
            else
                m_counters.made.fetch_add(1, std::memory_order_relaxed);
        }
        current = std::move(parent);
    }
}

} // namespace

void copyTree(TreeCopyRoot root, CopyFailures& failures, CopyCounters& counters) {
    TreeJob job(root, failures, counters);
    const std::exception_ptr fault = job.copy();
    job.restorePermissions();
    if (fault)
        std::rethrow_exception(fault);
}

} // namespace join
