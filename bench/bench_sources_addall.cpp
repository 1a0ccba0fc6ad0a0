// "Add All Subfolders In Folder" on a tree of 100,000 folders: the folder walk alone against the
// whole command, with a source list and a window that only count.
#include "join/walk/subfolders.h"
#include "sources/commands.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class CountingList : public sources::SourceList {
public:
    int count() const override { return m_count; }
    std::string text(int) const override { return {}; }
    void append(const std::string&) override {
        ++m_count;
        ++appendCalls;
    }
    void appendAll(const std::vector<std::string>& paths) override {
        m_count += static_cast<int>(paths.size());
        ++appendAllCalls;
    }
    void removeAt(int) override { --m_count; }
    void clear() override { m_count = 0; }

    int appendCalls = 0;
    int appendAllCalls = 0;

private:
    int m_count = 0;
};

class CountingHost : public sources::CommandHost, public sources::FolderDialog {
public:
    explicit CountingHost(std::string folder) : m_folder(std::move(folder)) {}

    sources::SourceList& sourceList() override { return list; }
    join::Pointer pointer() const override { return m_pointer; }
    void setPointer(join::Pointer value) override { m_pointer = value; }
    std::string GetSetting(const std::string&, const std::string& defaultValue) override {
        return defaultValue;
    }
    sources::FolderDialog& folderDialog() override { return *this; }
    sources::FileOpenDialog& fileOpenDialog() override { std::abort(); }
    std::string programFolder() const override { return {}; }
    void pumpEvents() override { ++pumps; }
    void showErrorReport(const join::Failure&, const std::string&, int) override { ++reports; }
    void showMessage(const std::string&) override {}
    std::string BrowseForFolder(const std::string&, const std::string&) override {
        return m_folder;
    }

    CountingList list;
    long pumps = 0;
    int reports = 0;

private:
    std::string m_folder;
    join::Pointer m_pointer = join::Pointer::Default;
};

} // namespace

int main() {
    constexpr int TopFolders = 100;
    constexpr int PerTopFolder = 999; // 100 + 100 * 999 = 100,000 folders below the chosen one

    std::string pattern =
        (std::filesystem::temp_directory_path() / "brimvale-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string root = pattern + "/tree";
    auto start = Clock::now();
    ::mkdir(root.c_str(), 0755);
    for (int top = 0; top < TopFolders; ++top) {
        const std::string topPath = root + "/top" + std::to_string(top);
        ::mkdir(topPath.c_str(), 0755);
        for (int sub = 0; sub < PerTopFolder; ++sub)
            ::mkdir((topPath + "/folder" + std::to_string(sub)).c_str(), 0755);
    }
    std::printf("made %d folders in %.2f s\n", TopFolders * (PerTopFolder + 1),
                secondsSince(start));

    // A warm-up walk, so that both measured runs find the folders in the cache.
    {
        join::FolderCollection warm{root + "/"};
        CountingHost host(root);
        join::walkSubfolders(warm, join::Recursion::AllLevels, host);
    }

    join::FolderCollection walk{root + "/"};
    CountingHost walkHost(root);
    start = Clock::now();
    join::walkSubfolders(walk, join::Recursion::AllLevels, walkHost);
    const double walkSeconds = secondsSince(start);
    std::printf("walk alone:    %.3f s, %zu entries, %ld yields\n", walkSeconds, walk.size(),
                walkHost.pumps);

    CountingHost host(root);
    start = Clock::now();
    sources::addFolderTree(host);
    const double commandSeconds = secondsSince(start);
    std::printf("whole command: %.3f s, %d items (%d single appends, %d bulk appends), "
                "%ld yields, %d reports\n",
                commandSeconds, host.list.count(), host.list.appendCalls, host.list.appendAllCalls,
                host.pumps, host.reports);
    std::printf("command / walk: %.2f\n", commandSeconds / walkSeconds);

    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return 0;
}
