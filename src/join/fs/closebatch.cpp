#include "join/fs/closebatch.h"

#include <atomic>
#include <cstdlib>
#include <pthread.h>
#include <unistd.h>
#include <vector>

#ifdef BRIMVALE_HAVE_LIBURING
#include <liburing.h>
#endif

namespace join {

#ifdef BRIMVALE_HAVE_LIBURING

namespace {

constexpr unsigned Pending = 64;

// Counts the forks this process came from: a child shares its parent's rings, which it must not
// touch, and makes its own.
std::atomic<unsigned> g_forks{0};

bool kernelOffersClosing() {
    io_uring ring{};
    if (io_uring_queue_init(4, &ring, 0) != 0)
        return false;
    bool offered = false;
    if (io_uring_probe* probe = io_uring_get_probe_ring(&ring)) {
        offered = io_uring_opcode_supported(probe, IORING_OP_CLOSE);
        io_uring_free_probe(probe);
    }
    io_uring_queue_exit(&ring);
    return offered;
}

// A thread's ring and the descriptors it has left to close.
struct Closer {
    io_uring ring{};
    bool made = false;
    bool ready = false;
    unsigned forks = 0;
    std::vector<int> pending;

    ~Closer() {
        if (ready && forks == g_forks.load()) {
            flush();
            io_uring_queue_exit(&ring);
        }
    }

    void prepare() {
        if (made && forks == g_forks.load())
            return;
        // In a child the parent's ring is only let go: its mapping and descriptor are the
        // child's copies. What the parent had left to close is the parent's to close.
        if (ready)
            io_uring_queue_exit(&ring);
        pending.clear();
        ring = {};
        forks = g_forks.load();
        made = true;
        ready = io_uring_queue_init(Pending, &ring, 0) == 0;
        pending.reserve(Pending);
    }

    void flush() {
        if (pending.empty())
            return;
        for (const int fd : pending) {
            io_uring_sqe* entry = io_uring_get_sqe(&ring);
            if (!entry) {
                ::close(fd);
                continue;
            }
            io_uring_prep_close(entry, fd);
        }
        int submitted = 0;
        do
            submitted = io_uring_submit_and_wait(&ring, static_cast<unsigned>(pending.size()));
        while (submitted == -EINTR);
        if (submitted < 0) {
            // The ring refused: the descriptors are still open, and closed the plain way.
            for (const int fd : pending)
                ::close(fd);
            ready = false;
        } else {
            io_uring_cq_advance(&ring, io_uring_cq_ready(&ring));
        }
        pending.clear();
    }
};

Closer& threadCloser() {
    thread_local Closer closer;
    closer.prepare();
    return closer;
}

} // namespace

bool batchedClosingAvailable() {
    static const bool available = [] {
#ifdef __SANITIZE_THREAD__
        // ThreadSanitizer follows descriptors through the calls it sees. A close the kernel
        // carries out from a ring is not one of them, so it would take the next user of the
        // number for the old one and report a race between the two; its builds close in place.
        return false;
#endif
        if (std::getenv("BRIMVALE_PLAIN_COPY") || !kernelOffersClosing())
            return false;
        ::pthread_atfork(nullptr, nullptr, [] { g_forks.fetch_add(1); });
        return true;
    }();
    return available;
}

void closeLater(int fd) {
    if (fd < 0)
        return;
    if (!batchedClosingAvailable()) {
        ::close(fd);
        return;
    }
    Closer& closer = threadCloser();
    if (!closer.ready) {
        ::close(fd);
        return;
    }
    closer.pending.push_back(fd);
    if (closer.pending.size() >= Pending)
        closer.flush();
}

void finishClosing() {
    if (!batchedClosingAvailable())
        return;
    Closer& closer = threadCloser();
    if (closer.ready)
        closer.flush();
}

#else

bool batchedClosingAvailable() {
    return false;
}

void closeLater(int fd) {
    if (fd >= 0)
        ::close(fd);
}

void finishClosing() {}

#endif

} // namespace join
