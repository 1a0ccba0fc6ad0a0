#include "runprogress.h"

#include "paths.h"
#include "posixfs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

namespace join {

namespace {

// The bar's value for a share of the list, from 0 to 100.
int percentOf(double entries, int count) {
    if (count <= 0)
        return 100;
    return static_cast<int>(std::clamp(std::lround(entries / count * 100.0), 0L, 100L));
}

std::string filesText(std::uint64_t files) {
    return CountText(files) + (files == 1 ? " file" : " files");
}

// Before this much of a copy has gone by, its speed says too little about the time left.
constexpr std::chrono::seconds EstimateAfter{2};
// A copy over within a second needs no count of what it has to copy.
constexpr std::chrono::seconds CountAfter{1};

} // namespace

std::string CountText(std::uint64_t count) {
    std::string digits = std::to_string(count);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    return digits;
}

std::string SizeText(std::uint64_t bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    for (; value >= 1024 && unit + 1 < std::size(units); ++unit)
        value /= 1024;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string TimeLeftText(double seconds) {
    if (seconds < 10)
        return "a few seconds left";
    if (seconds < 55)
        return "about " + std::to_string(std::lround(seconds / 5) * 5) + " s left";
    const long minutes = std::max(1L, std::lround(seconds / 60));
    if (minutes < 90)
        return "about " + std::to_string(minutes) + " min left";
    return "about " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) +
           " min left";
}

// ---- EntryCount ----

std::unique_ptr<EntryCount> EntryCount::ofTree(std::string folder) {
    std::unique_ptr<EntryCount> count(new EntryCount);
    EntryCount* self = count.get();
    count->start([self, folder = std::move(folder)] { self->countTree(folder); });
    return count;
}

std::unique_ptr<EntryCount> EntryCount::ofFlat(std::shared_ptr<const FlatEntryPlan> plan,
                                               std::vector<FlatPlace> copies) {
    std::unique_ptr<EntryCount> count(new EntryCount);
    EntryCount* self = count.get();
    count->start([self, plan = std::move(plan), copies = std::move(copies)] {
        self->countFlat(*plan, copies);
    });
    return count;
}

EntryCount::~EntryCount() {
    m_cancelled.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

void EntryCount::start(std::function<void()> count) {
    m_thread = std::thread([this, count = std::move(count)] {
        // The count must not slow the copy it runs beside.
        LowerThisThreadsPriority();
        try {
            count();
        } catch (...) {
            // A count that cannot go on stays incomplete; the copy's progress shows without it.
            return;
        }
        if (!cancelled())
            m_complete.store(true, std::memory_order_release);
    });
}

bool EntryCount::cancelled() const {
    return m_cancelled.load(std::memory_order_relaxed) || StopRequested();
}

void EntryCount::add(std::uint64_t size) {
    m_files.fetch_add(1, std::memory_order_relaxed);
    m_bytes.fetch_add(size, std::memory_order_relaxed);
}

void EntryCount::countTree(const std::string& folder) {
    // Depth first, a path at a time: nothing stays open, however deep the tree.
    std::vector<std::string> waiting{folder};
    FolderListing listing;
    while (!waiting.empty() && !cancelled()) {
        const std::string path = std::move(waiting.back());
        waiting.pop_back();
        const Descriptor fd = OpenFolder(path);
        listing.entries.clear();
        if (!fd.valid() || !ListFolderAt(fd.get(), listing))
            continue;
        for (const FolderEntry& entry : listing.entries) {
            if (entry.type == FolderEntry::Type::Folder)
                waiting.push_back(path + Separator + entry.name);
            else if (entry.type == FolderEntry::Type::File)
                if (const auto size = RegularFileSizeAt(fd.get(), entry.name, FollowLink::No))
                    add(*size);
        }
    }
}

void EntryCount::countFlat(const FlatEntryPlan& plan, const std::vector<FlatPlace>& copies) {
    // The plan says which files the copy copies; only their sizes are asked for.
    Descriptor folder;
    for (std::size_t i = 0; i < copies.size() && !cancelled(); ++i) {
        if (i == 0 || copies[i].folder != copies[i - 1].folder)
            folder = OpenFolder(plan.contents[copies[i].folder].path);
        if (!folder.valid())
            continue;
        if (const auto size =
                RegularFileSizeAt(folder.get(), plan.file(copies[i]).name, FollowLink::Yes))
            add(*size);
    }
}

// ---- RunProgress ----

void RunProgress::beginEntry(int entry, int count, std::string text) {
    m_entry = entry;
    m_entries = count;
    m_text = std::move(text);
}

void RunProgress::countTree(const std::string& folder) {
    m_copyBegan = Clock::now();
    if (m_host.showsCopyProgress())
        m_count = [folder] { return EntryCount::ofTree(folder); };
}

void RunProgress::countFlat(std::shared_ptr<const FlatEntryPlan> plan,
                            std::vector<FlatPlace> copies) {
    m_copyBegan = Clock::now();
    if (m_host.showsCopyProgress())
        m_count = [plan = std::move(plan), copies = std::move(copies)] {
            return EntryCount::ofFlat(plan, copies);
        };
}

void RunProgress::show(const CopyCounters& copied) {
    // Counting begins a second into the copy: a copy over before then needs no count, and a
    // short one pays nothing for it.
    if (m_count && Clock::now() - m_copyBegan >= CountAfter) {
        m_toCopy = m_count();
        m_count = nullptr;
    }
    const std::uint64_t files = copied.files.load(std::memory_order_relaxed);
    const std::uint64_t bytes = copied.bytes.load(std::memory_order_relaxed);
    // "Processing: NAME — 12 of 30 files, ..."; without a name, "Processing: 12 of 30 files, ...".
    std::string text = m_text;
    if (!text.empty() && text.back() != ' ')
        text += " \u2014 ";
    if (!m_toCopy || !m_toCopy->complete()) {
        // Still counting: what is done so far, and the bar stays where the entry began.
        m_host.setProgressText(text + filesText(files) + ", " + SizeText(bytes) + " copied");
        return;
    }
    const std::uint64_t totalFiles = m_toCopy->files();
    const std::uint64_t totalBytes = m_toCopy->bytes();
    // A file already at its destination is done without a byte written: it counts with the
    // entry's average size.
    const std::uint64_t alreadyThere = copied.alreadyThere.load(std::memory_order_relaxed);
    const std::uint64_t bytesDone = std::min(
        totalBytes, bytes + (totalFiles > 0 ? alreadyThere * (totalBytes / totalFiles) : 0));
    double done = 1.0;
    if (totalBytes > 0)
        done = static_cast<double>(bytesDone) / static_cast<double>(totalBytes);
    else if (totalFiles > 0)
        done = std::min(1.0, static_cast<double>(files) / static_cast<double>(totalFiles));
    text += CountText(files) + " of " + filesText(totalFiles) + ", " + SizeText(bytesDone) +
            " of " + SizeText(totalBytes);
    const std::chrono::duration<double> took = Clock::now() - m_copyBegan;
    if (took >= EstimateAfter && done > 0 && done < 1)
        text += ", " + TimeLeftText(took.count() * (1 - done) / done);
    m_host.setProgressValue(percentOf(m_entry - 1 + done, m_entries));
    m_host.setProgressText(text);
}

void RunProgress::endCopy(const CopyCounters& copied) {
    m_count = nullptr;
    m_toCopy.reset();
    // Files already at their destination were left alone, not copied.
    const std::uint64_t alreadyThere = copied.alreadyThere.load(std::memory_order_relaxed);
    m_filesCopied += copied.files.load(std::memory_order_relaxed) - alreadyThere;
    m_filesAlreadyThere += alreadyThere;
    m_temporariesRemoved += copied.temporariesRemoved.load(std::memory_order_relaxed);
}

} // namespace join
