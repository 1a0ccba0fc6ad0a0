#pragma once

// Descriptors closed many at a time: a copy written under its own name leaves its two
// descriptors here, and each thread closes what it left in one call to the kernel (io_uring),
// where the kernel offers it, instead of one call each. Closing is the one step of a small
// file's copy that the kernel then carries out at once: opening to create, asking for a status
// and writing to ext4 or tmpfs are handed to kernel worker threads, which costs more than the
// calls it saves.
namespace join {

// Whether closing goes through io_uring: the kernel offers it and BRIMVALE_PLAIN_COPY is not set
// in the environment (which keeps every copy on the plain path, for tests that run both ways).
// Asked once.
bool batchedClosingAvailable();

// Closes `fd` now, or later with the others this thread left, at most 64 of them. Only for a
// descriptor whose close can report nothing that matters: one that was only read, or a copy on
// a file system without a flush of its own, whose write errors the run's final flush reports.
void closeLater(int fd);

// Closes every descriptor this thread left to closeLater(). Each piece of copying work calls it
// before it ends.
void finishClosing();

} // namespace join
