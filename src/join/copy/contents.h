#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sys/stat.h>
#include <sys/types.h>

// Moving a file's bytes: copy_file_range, sendfile or reads and writes, in chunks that keep each
// call short, holes kept as holes.
namespace join {

// Which side a failure concerns: the file being read or the place being written.
enum class Side { Source, Target };

// How file contents are moved. Each method steps down to the next by itself when the system
// refuses it; tests start lower down to check every way.
enum class CopyMethod { CopyFileRange, SendFile, ReadWrite };

// Copies the first `size` bytes of the regular file `from` into the empty file `to`, keeping
// holes as holes. False, with errno set, when a read or write fails, the source's size changes
// meanwhile, or a stop is requested.
bool copyFileContents(int from, int to, off_t size, CopyMethod method);

// A failure to move bytes and the side it concerns; error 0 means success.
struct ContentFailure {
    int error = 0;
    Side side = Side::Source;
};

// Copies byte ranges between two descriptors at the same offsets, stepping down from
// copy_file_range (which lets the file system clone) to sendfile and then plain reads and writes
// when the system refuses the faster method, when it stops short, or when it fails: only plain
// reads and writes tell whether the source or the target failed.
class RangeCopier {
public:
    RangeCopier(int from, int to, CopyMethod method, std::atomic<std::uint64_t>* progress)
        : m_from(from), m_to(to), m_method(method), m_progress(progress) {}

    // Whether a pause holds the copy between chunks (it writes to a file that has no name of its
    // own yet), or only between files (it writes under the file's own name).
    void holdAtPause(bool hold) { m_holdAtPause = hold; }

    // Takes back from the progress count what this copy added to it.
    void withdrawProgress() {
        if (m_progress)
            m_progress->fetch_sub(m_counted, std::memory_order_relaxed);
        m_counted = 0;
    }

    // Copies `length` bytes at `offset` of the source to the same offset of the target.
    ContentFailure copy(off_t offset, off_t length);

private:
    ssize_t readWrite(off_t& inOffset, off_t& outOffset, std::size_t chunk,
                      ContentFailure& failure);

    int m_from;
    int m_to;
    CopyMethod m_method;
    std::atomic<std::uint64_t>* m_progress;
    std::uint64_t m_counted = 0;
    bool m_holdAtPause = true;
    std::unique_ptr<char[]> m_buffer;
};

// Copies the first `size` bytes of `from` to `to`; `after` receives the source's status once they
// are copied.
ContentFailure copyContents(RangeCopier& copier, int from, int to, off_t size, struct stat& after);

// Whether the open files `a` and `b` both hold exactly `size` bytes, the same. False when either
// cannot be read to its end, or a stop is requested meanwhile.
bool holdSameBytes(int a, int b, std::uint64_t size);

} // namespace join
