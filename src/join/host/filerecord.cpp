#include "join/host/filerecord.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <utility>

namespace join {

void FileRecord::add(FileFate fate, bool provisional) {
    std::lock_guard lock(m_mutex);
    m_kept.push_back({std::move(fate), m_kept.size(), provisional});
}

std::vector<FileFate> FileRecord::fates() const {
    std::vector<Kept> kept;
    {
        std::lock_guard lock(m_mutex);
        kept = m_kept;
    }
    // One fate per thing (its entry and source): the last decided, a provisional one only where
    // nothing else was decided.
    std::map<std::pair<int, std::string_view>, const Kept*> last;
    for (const Kept& one : kept) {
        const Kept*& held = last[{one.fate.entry, one.fate.source}];
        if (!held || !one.provisional || held->provisional)
            held = &one;
    }
    std::vector<FileFate> fates;
    fates.reserve(last.size());
    for (const auto& [thing, one] : last)
        fates.push_back(one->fate);
    std::stable_sort(fates.begin(), fates.end(), [](const FileFate& a, const FileFate& b) {
        return std::tie(a.entry, a.position) < std::tie(b.entry, b.position);
    });
    // Of the files and links written to one place, the last stays; the earlier were replaced.
    // One found there already leaves what is there, the earlier file's copy among them.
    std::unordered_map<std::string, FileFate*> holder;
    for (FileFate& fate : fates) {
        if (fate.item == FileFate::Item::Folder ||
            (fate.fate != FileFate::Fate::Written && fate.fate != FileFate::Fate::AlreadyThere))
            continue;
        FileFate*& held = holder[m_placeKey(fate.destination)];
        if (held && fate.fate == FileFate::Fate::Written)
            held->fate = FileFate::Fate::Replaced;
        held = &fate;
    }
    return fates;
}

} // namespace join
