#include "treecopy.h"

#include "paths.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace join {

namespace {

constexpr unsigned OwnerAll = 0700;
// What the owner needs to make entries in a folder: write and search.
constexpr unsigned OwnerWriteSearch = 0300;

unsigned processUmask() {
    static const unsigned mask = ProcessUmask();
    return mask;
}

bool mayWriteInto(const FolderStatus& status) {
    return ::geteuid() == 0 || (status.permissions & OwnerWriteSearch) == OwnerWriteSearch;
}

// Opens an existing folder for filling: one its owner could not make entries in is made
// writable for the owner until the copy is done.
Descriptor openForFilling(Descriptor folder, std::optional<unsigned>& restore, int& error) {
    FolderStatus status;
    if (!folder.valid() || !StatusOf(folder.get(), status)) {
        error = errno != 0 ? errno : EIO;
        return {};
    }
    if (!mayWriteInto(status) && status.owned) {
        if (const int refused = SetPermissions(folder.get(), status.permissions | OwnerWriteSearch);
            refused != 0) {
            error = refused;
            return {};
        }
        restore = status.permissions;
    }
    return folder;
}

// A folder being copied. Its descriptors stay open while its own entries are copied and until
// every subfolder has opened its own, and no longer, so that a deep tree holds few open.
struct Node {
    std::shared_ptr<Node> parent;
    std::string name;        // its name in the parent folder; empty for the root
    std::uint32_t index = 0; // its place among the parent's entries
    Descriptor source;
    Descriptor target;
    std::vector<FolderEntry> entries;
    std::optional<unsigned> restore;
    std::atomic<int> users{1};   // the listing, the batches and the subfolders still to open
    std::atomic<int> pending{1}; // the listing, the batches and the subfolders not yet done
};

// One piece of work: open and list a folder, or copy a run of its entries other than folders.
struct Task {
    std::shared_ptr<Node> node;
    bool listing = true;
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
};

class TreeJob {
public:
    TreeJob(TreeCopyRoot& root, CopyFailures& failures, CopyCounters& counters)
        : m_sourceRoot(root.sourcePath), m_targetRoot(root.targetPath), m_failures(failures),
          m_counters(counters), m_workers(WorkerPool::shared().size()),
          m_fileSystem(std::move(root.fileSystem)),
          m_wholeFolders(m_fileSystem && m_fileSystem->caseInsensitive) {
        auto node = std::make_shared<Node>();
        node->source = std::move(root.source);
        node->target = std::move(root.target);
        node->restore = root.permissions;
        push({std::move(node)});
    }

    // Takes part in the work until none is left.
    void work() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [&] { return !m_tasks.empty() || m_outstanding == 0; });
            if (m_tasks.empty())
                return;
            Task task = std::move(m_tasks.back());
            m_tasks.pop_back();
            lock.unlock();
            if (task.listing)
                list(task.node);
            else
                copyEntries(task.node, task.begin, task.end);
            task = {};
            lock.lock();
            if (--m_outstanding == 0)
                m_changed.notify_all();
        }
    }

private:
    void push(Task task) {
        {
            std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
            ++m_outstanding;
        }
        m_changed.notify_one();
    }

    void pushAll(std::vector<Task>& tasks) {
        {
            std::lock_guard lock(m_mutex);
            // The last pushed is taken first: pushing in reverse keeps listing order.
            for (auto task = tasks.rbegin(); task != tasks.rend(); ++task)
                m_tasks.push_back(std::move(*task));
            m_outstanding += tasks.size();
        }
        m_changed.notify_all();
    }

    CopyFailures::Position positionOf(const Node& node) const {
        CopyFailures::Position position;
        for (const Node* at = &node; at->parent; at = at->parent.get())
            position.push_back(at->index);
        std::reverse(position.begin(), position.end());
        return position;
    }

    std::string pathOf(const Node& node, Side side) const {
        std::vector<const std::string*> names;
        for (const Node* at = &node; at->parent; at = at->parent.get())
            names.push_back(&at->name);
        std::string path = side == Side::Source ? m_sourceRoot : m_targetRoot;
        for (auto name = names.rbegin(); name != names.rend(); ++name)
            path.append(1, Separator).append(**name);
        return path;
    }

    Failure failureAt(const std::string& path, const std::string& name, Side side,
                      int error) const {
        return side == Side::Target && m_fileSystem
                   ? TargetNameFailure(*m_fileSystem, path, name, error)
                   : copyFailure(path, error);
    }

    void fail(const Node& node, Side side, int error) {
        if (error != ECANCELED)
            m_failures.add(positionOf(node), failureAt(pathOf(node, side), node.name, side, error));
    }

    void fail(const Node& node, std::uint32_t entry, Side side, int error) {
        if (error == ECANCELED)
            return;
        CopyFailures::Position position = positionOf(node);
        position.push_back(entry);
        const std::string& name = node.entries[entry].name;
        m_failures.add(position,
                       failureAt(pathOf(node, side) + Separator + name, name, side, error));
    }

    void fail(const Node& node, std::uint32_t entry, const std::string& reason) {
        CopyFailures::Position position = positionOf(node);
        position.push_back(entry);
        const std::string path = pathOf(node, Side::Source) + Separator + node.entries[entry].name;
        m_failures.add(position, Failure(ErrorNumber::PathFileAccessError, path + ": " + reason));
    }

    // Opens a subfolder and its target, lists it, and hands out its entries.
    void list(const std::shared_ptr<Node>& node) {
        if (node->parent && !StopRequested())
            open(*node);
        if (node->parent)
            release(*node->parent);
        FolderListing listing;
        if (node->source.valid() && node->target.valid() && !StopRequested()) {
            if (ListFolderAt(node->source.get(), listing))
                node->entries = std::move(listing.entries);
            else
                fail(*node, Side::Source, errno);
        }
        handOut(node);
        release(*node);
        finish(node);
    }

    void open(Node& node) {
        node.source = OpenFolderAt(node.parent->source.get(), node.name);
        FolderStatus status;
        if (!node.source.valid() || !StatusOf(node.source.get(), status)) {
            fail(node, Side::Source, errno);
            node.source.reset();
            return;
        }
        int error = 0;
        node.target = PrepareTargetFolder(node.parent->target.get(), node.name, status.permissions,
                                          true, node.restore, error);
        if (node.target.valid())
            return;
        if (error == EEXIST)
            m_failures.add(positionOf(node),
                           Failure(ErrorNumber::PathFileAccessError,
                                   pathOf(node, Side::Target) +
                                       ": a file that is not a folder stands in the way"));
        else
            fail(node, Side::Target, error);
    }

    // Subfolders become tasks of their own; the other entries are copied in runs, so that the
    // workers share a large folder.
    void handOut(const std::shared_ptr<Node>& node) {
        const auto count = static_cast<std::uint32_t>(node->entries.size());
        std::uint32_t others = 0;
        for (const FolderEntry& entry : node->entries)
            others += entry.type != FolderEntry::Type::Folder;
        const std::uint32_t run =
            m_wholeFolders ? std::max<std::uint32_t>(others, 1)
                           : std::clamp<std::uint32_t>(
                                 others / static_cast<std::uint32_t>(2 * m_workers), 1, 256);

        std::vector<Task> tasks;
        for (std::uint32_t i = 0; i < count;) {
            if (node->entries[i].type == FolderEntry::Type::Folder) {
                auto child = std::make_shared<Node>();
                child->parent = node;
                child->name = node->entries[i].name;
                child->index = i;
                tasks.push_back({std::move(child)});
                ++i;
                continue;
            }
            Task batch{node, false, i, i};
            for (std::uint32_t taken = 0; batch.end < count && taken < run; ++batch.end)
                taken += node->entries[batch.end].type != FolderEntry::Type::Folder;
            i = batch.end;
            tasks.push_back(std::move(batch));
        }
        node->users += static_cast<int>(tasks.size());
        node->pending += static_cast<int>(tasks.size());
        pushAll(tasks);
    }

    // Where the target takes names that differ only in case as one, the last entry of each
    // such name is the one copied; the earlier ones could not be kept beside it.
    std::vector<std::uint32_t> replacedInTarget(const Node& node, std::uint32_t begin,
                                                std::uint32_t end) const {
        std::vector<std::uint32_t> laterOf(end - begin, 0);
        if (!m_wholeFolders)
            return laterOf;
        std::unordered_map<std::string, std::uint32_t> last;
        for (std::uint32_t i = end; i-- > begin;) {
            if (node.entries[i].type == FolderEntry::Type::Folder)
                continue;
            const auto [found, first] =
                last.try_emplace(NameKey(*m_fileSystem, node.entries[i].name), i);
            if (!first)
                laterOf[i - begin] = found->second;
        }
        return laterOf;
    }

    void copyEntries(const std::shared_ptr<Node>& shared, std::uint32_t begin, std::uint32_t end) {
        Node& node = *shared;
        const std::vector<std::uint32_t> laterOf = replacedInTarget(node, begin, end);
        for (std::uint32_t i = begin; i < end; ++i) {
            const FolderEntry& entry = node.entries[i];
            if (const std::uint32_t later = laterOf[i - begin]; later != 0) {
                fail(node, i,
                     "its name and \"" + node.entries[later].name + "\" are one on " +
                         m_fileSystem->type + ", which keeps the later only");
                continue;
            }
            CopyOutcome outcome;
            switch (entry.type) {
            case FolderEntry::Type::Folder:
                continue;
            case FolderEntry::Type::File:
                outcome = copyFileAt(node.source.get(), entry.name, FollowLink::No,
                                     node.target.get(), entry.name, IfDestinationExists::Replace);
                break;
            case FolderEntry::Type::Link:
                outcome = copyLinkAt(node.source.get(), entry.name, node.target.get(), entry.name);
                break;
            case FolderEntry::Type::Other:
                // Pipes, sockets and devices are never opened: reading one could block or consume.
                fail(node, i, "not a file, folder or link, so it is not copied");
                continue;
            }
            if (outcome.copied()) {
                m_counters.files.fetch_add(1, std::memory_order_relaxed);
                m_counters.bytes.fetch_add(outcome.bytes, std::memory_order_relaxed);
            } else if (entry.type == FolderEntry::Type::Link && outcome.side == Side::Target &&
                       m_fileSystem && !m_fileSystem->storesLinks) {
                fail(node, i, "a symbolic link, which " + m_fileSystem->type + " cannot hold");
            } else {
                fail(node, i, outcome.side, outcome.error);
            }
        }
        release(node);
        finish(shared);
    }

    // One user of the folder's descriptors is done with them.
    static void release(Node& node) {
        if (--node.users != 0)
            return;
        node.source.reset();
        node.entries = {};
        if (!node.restore)
            node.target.reset();
    }

    // One part of the folder's copy is done; when all are, the folder takes its permission
    // bits, and its parent counts it done. Deepest folders first, so that a read-only folder
    // never shuts out what goes into it.
    void finish(std::shared_ptr<Node> node) {
        while (node && --node->pending == 0) {
            if (node->restore && node->target.valid()) {
                if (const int error = SetPermissions(node->target.get(), *node->restore);
                    error != 0)
                    fail(*node, Side::Target, error);
            }
            node->target.reset();
            node = node->parent;
        }
    }

    const std::string m_sourceRoot;
    const std::string m_targetRoot;
    CopyFailures& m_failures;
    CopyCounters& m_counters;
    const std::size_t m_workers;
    const std::optional<TargetFileSystem> m_fileSystem;
    const bool m_wholeFolders;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Task> m_tasks;
    std::size_t m_outstanding = 0;
};

} // namespace

Descriptor PrepareTargetFolder(int parent, const std::string& name, unsigned sourcePermissions,
                               bool replaceLink, std::optional<unsigned>& restore, int& error) {
    const unsigned umask = processUmask();
    const unsigned wanted = sourcePermissions & 0777 & ~umask;
    // Made open to its owner, so that it can be filled, and given its own bits at the end.
    const unsigned made = (wanted | OwnerAll) & ~umask;
    error = MakeFolderAt(parent, name, made);
    if (error == EEXIST) {
        const std::optional<FolderEntry::Type> existing = EntryTypeAt(parent, name);
        if (existing == FolderEntry::Type::Folder)
            return openForFilling(OpenFolderAt(parent, name), restore, error);
        if (existing != FolderEntry::Type::Link || !replaceLink)
            return {};
        // A link where a folder goes is replaced, never written through.
        error = RemoveLinkAt(parent, name);
        if (error == 0)
            error = MakeFolderAt(parent, name, made);
    }
    if (error != 0)
        return {};
    Descriptor folder = OpenFolderAt(parent, name);
    if (!folder.valid()) {
        error = errno != 0 ? errno : EIO;
        return {};
    }
    if ((made & OwnerAll) != OwnerAll)
        SetPermissions(folder.get(), made | OwnerAll); // a umask that shuts out the owner
    if (made != wanted || (made & OwnerAll) != OwnerAll)
        restore = wanted;
    return folder;
}

Descriptor OpenTargetFolder(Descriptor folder, std::optional<unsigned>& restore, int& error) {
    return openForFilling(std::move(folder), restore, error);
}

void CopyTree(TreeCopyRoot root, CopyFailures& failures, CopyCounters& counters) {
    auto job = std::make_shared<TreeJob>(root, failures, counters);
    WorkerPool& pool = WorkerPool::shared();
    for (std::size_t i = 1; i < pool.size(); ++i)
        pool.post([job] { job->work(); });
    job->work();
}

} // namespace join
