#pragma once

#include "join/fs/failure.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace join {

// What a run did with one thing of a source, or, where its writes are withheld (a dry run), what
// it would have done: the same decisions either way, so that the two records of one unchanged
// disk are equal, thing by thing.
struct FileFate {
    enum class Item { File, Link, Folder };
    enum class Fate {
        Written,      // copied to `destination` (a folder: made there)
        AlreadyThere, // `destination` already held its copy, and was left alone (a folder: merged)
        Replaced,     // not left in the output: a later file of its place or name takes it
        LeftOut,      // its name begins with "~": a flat copy never copies it
        NotCopied     // could not be copied: `reason` says why
    };
    Item item = Item::File;
    Fate fate = Fate::Written;
    // The list entry whose source holds it, numbered from 1.
    int entry = 0;
    std::string source;
    // Where it goes, or would have gone; "" where nothing was chosen.
    std::string destination;
    // For NotCopied: what the run names as not copied, and why.
    NotCopiedItem failure;
    // Its place in processing order within its entry (folders' listing places, then its own).
    std::vector<std::uint32_t> position;

    bool operator==(const FileFate&) const = default;
};

// The fates of a run's things, kept as the copies decide them, from any thread. A thing whose fate
// is decided again (a file a later entry was to copy, copied after all) keeps the last one; a
// provisional fate gives way to any other. Of the things that end at one place, the last in
// processing order stays, and the earlier ones were replaced.
class FileRecord {
public:
    // `placeKey` gives the form in which the output tells a destination apart from another.
    explicit FileRecord(std::function<std::string(const std::string&)> placeKey)
        : m_placeKey(std::move(placeKey)) {}

    void add(FileFate fate, bool provisional = false);
    // The fates in processing order: by entry, then by position.
    std::vector<FileFate> fates() const;

private:
    struct Kept {
        FileFate fate;
        std::uint64_t sequence;
        bool provisional;
    };
    std::function<std::string(const std::string&)> m_placeKey;
    mutable std::mutex m_mutex;
    std::vector<Kept> m_kept;
};

} // namespace join
