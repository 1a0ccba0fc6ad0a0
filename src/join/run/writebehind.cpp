#include "join/run/writebehind.h"

#include "join/copy/filecopy.h"

#include <chrono>
#include <optional>

namespace join {

namespace {

// How long the thread waits between looks: short enough that the disk seldom waits for work
// while copies run, long enough that looking costs nothing worth counting.
constexpr auto LookEvery = std::chrono::milliseconds(50);

} // namespace

void WriteBehind::add(int folder) {
    // Where the system does not count what waits to be written, the flush at the end does it all.
    const std::optional<std::uint64_t> cached = bytesLeftToWrite();
    if (!cached)
        return;
    Descriptor own = reopenFolder(folder);
    if (!own.valid())
        return;
    std::lock_guard lock(m_mutex);
    m_folders.push_back(std::move(own));
    // Counted from here, on this thread: the new one only waits at first, leaving the processors
    // to the work that begins now.
    if (!m_thread.joinable())
        m_thread = std::jthread(
            [this, from = *cached](const std::stop_token& stop) { writeWhileCopying(stop, from); });
}

void WriteBehind::stop() {
    if (!m_thread.joinable())
        return;
    m_thread.request_stop();
    m_thread.join();
}

void WriteBehind::writeWhileCopying(const std::stop_token& stop, std::uint64_t flushedUpTo) {
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, stop, LookEvery, [&] { return stop.stop_requested(); })) {
        const std::uint64_t cached = bytesLeftToWrite().value_or(flushedUpTo);
        if (cached == flushedUpTo)
            continue;
        flushedUpTo = cached;
        // Descriptors are only ever added: the flushes run unlocked on those there now.
        std::vector<int> folders;
        folders.reserve(m_folders.size());
        for (const Descriptor& folder : m_folders)
            folders.push_back(folder.get());
        lock.unlock();
        // A write that fails is reported by the run's own last flush, through its descriptor.
        for (const int folder : folders)
            static_cast<void>(flushFileSystem(folder));
        lock.lock();
    }
}

} // namespace join
