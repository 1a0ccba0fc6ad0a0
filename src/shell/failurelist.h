#pragma once

#include "join/host/host.h"

#include <string>
#include <utility>
#include <vector>

namespace shell {

// The folder where the program keeps what it leaves for the user between runs:
// $XDG_STATE_HOME/brimvale, else ~/.local/state/brimvale. "" when neither can be told.
std::string userStateFolder();

// The list of what a run could not copy, in a file of its own so that it outlives the message
// that names it: a line per failure, the entry as the list holds it, a tab, and the failure
// ("PATH: REASON"), each as reports show them: a name that holds a tab or a line end is quoted,
// so that every line is one failure.
// The file is made at the first failure, named after the time it is made; a run without failures
// writes nothing.
class FailureListFile {
public:
    // `folder` "" keeps no file.
    explicit FailureListFile(std::string folder) : m_folder(std::move(folder)) {}

    // Adds an entry's failures; returns the file's path, or "" when it could not be written.
    std::string add(const std::string& entry, const std::vector<join::NotCopiedItem>& items);
    // Writes every thing a run could not copy; returns the file's path, or "" when the file could
    // not hold them all.
    std::string addAll(const join::JoinOutcome& outcome);

private:
    bool create();

    std::string m_folder;
    std::string m_path;
    bool m_refused = false;
};

} // namespace shell
