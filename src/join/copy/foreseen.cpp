#include "join/copy/foreseen.h"

#include "join/fs/posixinternal.h"

#include <fcntl.h>
#include <unistd.h>

namespace join {

void ForeseenOutput::put(std::uint64_t place, ForeseenThing thing) {
    std::lock_guard lock(m_mutex);
    m_things[place] = std::move(thing);
}

std::optional<ForeseenThing> ForeseenOutput::at(std::uint64_t place) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_things.find(place);
    return found == m_things.end() ? std::nullopt : std::optional(found->second);
}

SeenAtPlace seeAt(const ForeseenOutput* foreseen, const OutputFolder& folder,
                  const std::string& name, std::uint64_t place) {
    SeenAtPlace seen;
    if (foreseen) {
        if ((seen.foreseen = foreseen->at(place))) {
            switch (seen.foreseen->kind) {
            case ForeseenThing::Kind::File:
                seen.kind = SeenAtPlace::Kind::File;
                break;
            case ForeseenThing::Kind::Link:
                seen.kind = SeenAtPlace::Kind::Link;
                break;
            case ForeseenThing::Kind::Folder:
                seen.kind = SeenAtPlace::Kind::Folder;
                break;
            }
            return seen;
        }
    }
    if (folder.fd < 0 || ::fstatat(folder.fd, name.c_str(), &seen.status, AT_SYMLINK_NOFOLLOW) != 0)
        return seen;
    seen.kind = S_ISREG(seen.status.st_mode)   ? SeenAtPlace::Kind::File
                : S_ISDIR(seen.status.st_mode) ? SeenAtPlace::Kind::Folder
                : S_ISLNK(seen.status.st_mode) ? SeenAtPlace::Kind::Link
                                               : SeenAtPlace::Kind::Other;
    return seen;
}

int refusalToFill(int folder) {
    if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) == 0)
        return 0;
    const int error = posix::lastError();
    FolderStatus status;
    // The join makes a folder it owns writable while it fills it.
    if (error == EACCES && readFolderStatus(folder, status) == 0 && status.owned())
        return 0;
    return error;
}

} // namespace join
