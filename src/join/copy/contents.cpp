#include "join/copy/contents.h"

#include "join/fs/failure.h"
#include "join/fs/posixinternal.h"
#include "join/tasks/workers.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <sys/sendfile.h>
#include <unistd.h>

namespace join {

using namespace posix;

namespace {

// One call moves a chunk of a size that keeps it within about a tenth of a second, so that a
// stop request is seen soon at any speed: a slow or stalled device makes the chunks small, a
// fast disk large. Each worker learns it across files, starting small.
constexpr std::size_t MinChunk = std::size_t{16} << 10;
constexpr std::size_t InitialChunk = std::size_t{256} << 10;
constexpr std::size_t MaxChunk = std::size_t{16} << 20;
constexpr auto FastCall = std::chrono::milliseconds(25);
constexpr auto CallGoal = std::chrono::milliseconds(60);
constexpr auto SlowCall = std::chrono::milliseconds(100);
thread_local std::size_t t_chunk = InitialChunk;

void learnChunk(std::size_t moved, std::chrono::steady_clock::duration took) {
    if (moved < t_chunk)
        return; // the end of a range says nothing of the speed
    if (took < FastCall)
        t_chunk = std::min(t_chunk * 2, MaxChunk);
    else if (took > SlowCall)
        t_chunk = std::max(
            MinChunk,
            static_cast<std::size_t>(
                static_cast<double>(t_chunk) *
                (static_cast<double>(CallGoal.count()) /
                 static_cast<double>(
                     std::chrono::duration_cast<std::chrono::milliseconds>(took).count()))));
}
constexpr off_t SmallFile = off_t{64} * 1024;
// The read/write buffer stays small enough for the cache: 1 MiB ran at a tenth of the speed.
constexpr std::size_t BufferSize = std::size_t{1} << 18;

bool isMethodUnsupported(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
           error == ENOTSUP || error == EBADF || error == ETXTBSY;
}

} // namespace

ContentFailure RangeCopier::copy(off_t offset, off_t length) {
    off_t inOffset = offset;
    off_t outOffset = offset;
    while (length > 0) {
        // A pause lets the chunk under way finish and holds the next, where the copy's file has
        // no name of its own yet.
        if (m_holdAtPause)
            pausePoint();
        if (stopRequested())
            return {ECANCELED, Side::Target};
        const std::size_t chunk = std::min<std::size_t>(static_cast<std::size_t>(length), t_chunk);
        const auto started = std::chrono::steady_clock::now();
        ssize_t done = -1;
        ContentFailure failure;
        switch (m_method) {
        case CopyMethod::CopyFileRange:
            done = ::copy_file_range(m_from, &inOffset, m_to, &outOffset, chunk, 0);
            break;
        case CopyMethod::SendFile:
            if (::lseek(m_to, outOffset, SEEK_SET) < 0)
                return {lastError(), Side::Target};
            done = ::sendfile(m_to, m_from, &inOffset, chunk);
            if (done > 0)
                outOffset += done;
            break;
        case CopyMethod::ReadWrite:
            done = readWrite(inOffset, outOffset, chunk, failure);
            if (done < 0)
                return failure;
            break;
        }
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0 && m_method != CopyMethod::ReadWrite) {
            // Refused, stopped short (some file systems answer 0 before the end) or failed:
            // the next method carries on from here.
            m_method =
                m_method == CopyMethod::CopyFileRange && done < 0 && isMethodUnsupported(errno)
                    ? CopyMethod::SendFile
                    : CopyMethod::ReadWrite;
            continue;
        }
        if (done == 0)
            return {SourceChanged, Side::Source}; // it ended before its size said
        learnChunk(static_cast<std::size_t>(done), std::chrono::steady_clock::now() - started);
        if (m_progress) {
            m_progress->fetch_add(static_cast<std::uint64_t>(done), std::memory_order_relaxed);
            m_counted += static_cast<std::uint64_t>(done);
        }
        length -= done;
    }
    return {};
}

ssize_t RangeCopier::readWrite(off_t& inOffset, off_t& outOffset, std::size_t chunk,
                               ContentFailure& failure) {
    if (!m_buffer)
        m_buffer = std::make_unique<char[]>(BufferSize);
    ssize_t got = -1;
    do
        got = ::pread(m_from, m_buffer.get(), std::min(chunk, BufferSize), inOffset);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        failure = {lastError(), Side::Source};
        return -1;
    }
    ssize_t written = 0;
    while (written < got) {
        const ssize_t n = ::pwrite(m_to, m_buffer.get() + written,
                                   static_cast<std::size_t>(got - written), outOffset + written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failure = {n == 0 ? EIO : lastError(), Side::Target};
            return -1;
        }
        written += n;
    }
    inOffset += got;
    outOffset += got;
    return got;
}

// Copies the first `size` bytes of `from` to `to`; `after` receives the source's status once they
// are copied.
ContentFailure copyContents(RangeCopier& copier, int from, int to, off_t size, struct stat& after) {
    off_t position = 0;
    off_t written = 0;
    // Asking a small file for its holes costs more than copying its few zeros.
    bool holesKnown = size > SmallFile;
    while (position < size) {
        off_t dataStart = position;
        off_t dataEnd = size;
        if (holesKnown) {
            const off_t data = ::lseek(from, position, SEEK_DATA);
            if (data < 0 && errno == ENXIO)
                break; // only a hole is left
            if (data < 0) {
                holesKnown = false;
            } else {
                if (data >= size)
                    break;
                const off_t hole = ::lseek(from, data, SEEK_HOLE);
                dataStart = data;
                dataEnd = hole > data ? std::min(hole, size) : size;
            }
        }
        if (const ContentFailure failure = copier.copy(dataStart, dataEnd - dataStart);
            failure.error != 0)
            return failure;
        position = written = dataEnd;
    }
    // A source that changed size meanwhile would give a copy that matches no state of it.
    if (::fstat(from, &after) != 0)
        return {lastError(), Side::Source};
    if (after.st_size != size)
        return {SourceChanged, Side::Source};
    // A trailing hole is made by setting the length.
    if (written != size && ::ftruncate(to, size) != 0)
        return {lastError(), Side::Target};
    return {};
}

bool copyFileContents(int from, int to, off_t size, CopyMethod method) {
    RangeCopier copier(from, to, method, nullptr);
    struct stat after {};
    const ContentFailure failure = copyContents(copier, from, to, size, after);
    if (failure.error != 0)
        errno = failure.error == SourceChanged ? EAGAIN : failure.error;
    return failure.error == 0;
}

bool holdSameBytes(int a, int b, std::uint64_t size) {
    const auto buffer = std::make_unique<char[]>(2 * BufferSize);
    char* const first = buffer.get();
    char* const second = first + BufferSize;
    for (std::uint64_t offset = 0; offset < size;) {
        if (stopRequested())
            return false;
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(BufferSize, size - offset));
        const ssize_t got = ::pread(a, first, want, static_cast<off_t>(offset));
        if (got <= 0 ||
            ::pread(b, second, static_cast<std::size_t>(got), static_cast<off_t>(offset)) != got ||
            std::memcmp(first, second, static_cast<std::size_t>(got)) != 0)
            return false;
        offset += static_cast<std::uint64_t>(got);
    }
    // Neither holds more.
    char extra = 0;
    return ::pread(a, &extra, 1, static_cast<off_t>(size)) == 0 &&
           ::pread(b, &extra, 1, static_cast<off_t>(size)) == 0;
}

} // namespace join
