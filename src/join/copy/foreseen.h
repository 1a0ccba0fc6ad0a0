#pragma once

#include "join/fs/posixfs.h"

#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unordered_map>

// What a run whose writes are withheld (a dry run) would have made in the output, kept in memory in
// place of the disk. Every look such a run takes at the output goes through it first and then to
// the disk, so that each of its decisions is the one the join would make there.
namespace join {

// A thing the run would have put at a place of the output (placeIn).
struct ForeseenThing {
    enum class Kind { File, Link, Folder };
    Kind kind = Kind::File;
    // A file's: its source, whose bytes it would hold, the source's size and time, and its
    // fingerprint.
    std::string source;
    std::uint64_t size = 0;
    struct timespec time {};
    std::uint64_t fingerprint = 0;
};

// The things a run would have made, by place. Safe to use from several threads.
class ForeseenOutput {
public:
    void put(std::uint64_t place, ForeseenThing thing);
    std::optional<ForeseenThing> at(std::uint64_t place) const;

private:
    mutable std::mutex m_mutex;
    std::unordered_map<std::uint64_t, ForeseenThing> m_things;
};

// A folder of the output as a run sees it: its place, and where it is on the disk, open (a run
// that writes has every folder it writes into open); invalid for a folder a dry run would make.
// `refusal`: why nothing could be made in it (an errno value), where a dry run found that the join
// would be refused there; else 0.
struct OutputFolder {
    int fd = -1;
    std::uint64_t place = 0;
    int refusal = 0;
};

// What has a name in a folder of the output, as a run sees it: what it would have put there, or
// else what the disk holds.
struct SeenAtPlace {
    enum class Kind { Nothing, File, Folder, Link, Other };
    Kind kind = Kind::Nothing;
    // On the disk: its status (links not followed).
    struct stat status {};
    // What the run would have put there.
    std::optional<ForeseenThing> foreseen;
};
SeenAtPlace seeAt(const ForeseenOutput* foreseen, const OutputFolder& folder,
                  const std::string& name, std::uint64_t place);

// Why a run could make nothing in the open existing folder, as the join would fill it (a folder it
// owns it makes writable first): an errno value, or 0.
int refusalToFill(int folder);

} // namespace join
