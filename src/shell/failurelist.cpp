#include "failurelist.h"

#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "words/words.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace shell {

using join::folderExists;
using join::makeFolder;
using join::Separator;

namespace {

// Makes `folder` and every folder above it that is missing, for this user only.
bool makeFolders(const std::string& folder) {
    for (std::size_t at = folder.find(Separator, 1);; at = folder.find(Separator, at + 1)) {
        const std::string part = folder.substr(0, at);
        if (const int error = part.empty() ? 0 : makeFolder(part, 0700);
            error != 0 && error != EEXIST)
            return false;
        if (at == std::string::npos)
            return folderExists(folder);
    }
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

std::string userStateFolder() {
    // A relative XDG_STATE_HOME is ignored, as the base-directory rules say.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == Separator)
        return std::string(state) + "/brimvale";
    const char* home = std::getenv("HOME");
    if (home && home[0] == Separator)
        return std::string(home) + "/.local/state/brimvale";
    return {};
}

bool FailureListFile::create() {
    if (m_folder.empty() || !makeFolders(m_folder))
        return false;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local);
    const std::string base = m_folder + "/not-copied-" + stamp;
    for (int attempt = 1; attempt < 100; ++attempt) {
        const std::string path =
            attempt == 1 ? base + ".txt" : base + "-" + std::to_string(attempt) + ".txt";
        // "x": never onto a list that is already there.
        if (std::unique_ptr<std::FILE, FileCloser> file{std::fopen(path.c_str(), "wx")}) {
            m_path = path;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

std::string FailureListFile::addAll(const join::JoinOutcome& outcome) {
    std::string file;
    for (const join::EntryNotCopied& entry : outcome.notCopied) {
        file = add(entry.entryText, entry.items);
        if (file.empty())
            return {};
    }
    return file;
}

std::string FailureListFile::add(const std::string& entry,
                                 const std::vector<join::NotCopiedItem>& items) {
    if (m_refused)
        return {};
    if (m_path.empty() && !create()) {
        m_refused = true;
        return {};
    }
    std::unique_ptr<std::FILE, FileCloser> file{std::fopen(m_path.c_str(), "a")};
    if (!file)
        return {};
    const std::string prefix = words::shown(entry) + '\t';
    for (const join::NotCopiedItem& item : items) {
        const std::string line = prefix + words::shown(words::describe(item)) + '\n';
        if (std::fwrite(line.data(), 1, line.size(), file.get()) != line.size())
            return {};
    }
    return std::fclose(file.release()) == 0 ? m_path : std::string();
}

} // namespace shell
