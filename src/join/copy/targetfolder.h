#pragma once

#include "join/copy/foreseen.h"
#include "join/fs/posixfs.h"

#include <cstdint>
#include <optional>
#include <string>

// The folders a copy goes into: made, or merged into, with permission bits that let the copy fill
// them, and the bits each takes back once it is filled.
namespace join {

// Makes the folder `name` in the open folder `parent` ready to receive a copy of a folder whose
// permission bits are `sourcePermissions`, and opens it: a new folder is made; an existing
// folder is merged into; a link in its place is replaced by a folder when `replaceLink` is set.
// `mayExist`: whether the folder may be there already, as it may unless this copy made `parent`;
// then it is looked for first. `restore` receives the bits the folder takes at the end when they
// are to change. Returns the open folder, or an invalid one with `error` set (EEXIST: something
// other than a folder is there).
Descriptor prepareTargetFolder(int parent, const std::string& name, unsigned sourcePermissions,
                               bool replaceLink, bool mayExist, std::optional<unsigned>& restore,
                               int& error);

// Takes the open existing folder as a copy's target, making it writable for the owner while it
// is filled if it is not; `restore` receives the bits it takes back at the end.
Descriptor openTargetFolder(Descriptor folder, std::optional<unsigned>& restore, int& error);

// What prepareTargetFolder would do with the folder `name` at place `place` in `parent`, where
// the writes are withheld: an existing folder is opened into `opened` and merged into; one the
// run would make is put in `foreseen`, and `made` set. Nothing when the folder could not be
// prepared, with `error` as there.
std::optional<OutputFolder> foreseeTargetFolder(const OutputFolder& parent, const std::string& name,
                                                std::uint64_t place, bool replaceLink,
                                                ForeseenOutput& foreseen, Descriptor& opened,
                                                bool& made, int& error);

} // namespace join
