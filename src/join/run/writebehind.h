#pragma once

#include "join/fs/posixfs.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace join {

// Has the output's disks write while the copies still run. Copies leave their bytes in the cache,
// and left alone the kernel writes them only once they are old or many: the flush that ends a run
// would then wait for all of them at once, after the last copy, while the processors idle. A
// thread of its own flushes each output file system whenever the copies have left bytes in the
// cache since it last looked, a few times a second, so the disk works beside the copies and the
// last flush finds little left. A run that writes nothing (a join again) flushes nothing early.
class WriteBehind {
public:
    WriteBehind() = default;
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;
    ~WriteBehind() { stop(); }

    // Writes behind on the file system that holds the open folder `folder`, through a descriptor
    // of its own: what a flush here is told of a failed write is still told to the run's own last
    // flush, through its descriptor.
    void add(int folder);
    // Ends the writing behind, once the flush under way returns.
    void stop();

private:
    // Flushes whenever more than `flushedUpTo` bytes were left in the cache.
    void writeWhileCopying(const std::stop_token& stop, std::uint64_t flushedUpTo);

    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::vector<Descriptor> m_folders;
    std::jthread m_thread;
};

} // namespace join
