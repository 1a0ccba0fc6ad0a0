// "Load List Of Folders From File" on a 50 MiB folder list file: reading the file alone against
// loadListFromFile into a list that only counts, with the process's peak memory; then the check
// that names the lines that name no folder, on lines that name none and on lines that all do.
#include "sources/listfile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Peak resident memory of this process so far, in MiB.
double peakMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    return -1;
}

class CountingList : public sources::SourceList {
public:
    int count() const override { return static_cast<int>(items); }
    std::string text(int) const override { return {}; }
    void append(const std::string& path) override {
        ++items;
        bytes += path.size();
    }
    void appendAll(const std::vector<std::string>& paths) override {
        for (const auto& path : paths)
            bytes += path.size();
        items += paths.size();
        ++batches;
    }
    void removeAt(int) override {}
    void clear() override {}

    std::size_t items = 0;
    std::size_t bytes = 0;
    std::size_t batches = 0;
};

class KeepingList : public sources::SourceList {
public:
    int count() const override { return static_cast<int>(items.size()); }
    std::string text(int index) const override { return items[static_cast<size_t>(index - 1)]; }
    void append(const std::string& path) override { items.push_back(path); }
    void appendAll(const std::vector<std::string>& paths) override {
        items.insert(items.end(), paths.begin(), paths.end());
    }
    void removeAt(int) override {}
    void clear() override { items.clear(); }

    std::vector<std::string> items;
};

class CountingMessages : public join::MessageSink {
public:
    void showMessage(const std::string&) override { ++messages; }
    int messages = 0;
};

} // namespace

int main() {
    constexpr std::size_t TargetBytes = 50u << 20;
    std::string pattern =
        (std::filesystem::temp_directory_path() / "brimvale-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string path = pattern + "/folders.txt";
    std::size_t lines = 0;
    {
        std::ofstream out(path, std::ios::binary);
        std::string chunk;
        std::size_t written = 0;
        while (written < TargetBytes) {
            chunk.clear();
            for (int i = 0; i < 1000; ++i, ++lines)
                chunk += "/home/user/Pictures/Holidays " + std::to_string(2000 + lines % 25) +
                         "/Day " + std::to_string(lines) + "/Camera " + std::to_string(lines % 7) +
                         (lines % 3 ? "/\r\n" : "\r\n");
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            written += chunk.size();
        }
    }
    const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
    std::printf("file: %.1f MiB, %zu lines; peak memory before loading: %.1f MiB\n", megabytes,
                lines, peakMiB());

    // Reading alone, which also brings the file into the cache for both measured runs.
    std::size_t readBytes = 0;
    auto start = Clock::now();
    {
        const int fd = ::open(path.c_str(), O_RDONLY);
        std::vector<char> block(1 << 20);
        ssize_t got;
        while ((got = ::read(fd, block.data(), block.size())) > 0)
            readBytes += static_cast<std::size_t>(got);
        ::close(fd);
    }
    double seconds = secondsSince(start);
    std::printf("read alone:       %.3f s, %.0f MB/s (%zu bytes)\n", seconds, megabytes / seconds,
                readBytes);

    for (int run = 1; run <= 2; ++run) {
        CountingList list;
        CountingMessages messages;
        start = Clock::now();
        sources::loadListFromFile(list, messages, path);
        seconds = secondsSince(start);
        std::printf("loadListFromFile: %.3f s, %.0f MB/s, %zu items in %zu batches, "
                    "peak memory %.1f MiB\n",
                    seconds, megabytes / seconds, list.items, list.batches, peakMiB());
    }

    // The check after a load: every line of the file names no folder (nothing there).
    {
        KeepingList list;
        CountingMessages messages;
        sources::loadListFromFile(list, messages, path);
        sources::LinesWithoutFolder unnamed;
        start = Clock::now();
        unnamed.check(list, 1, path);
        seconds = secondsSince(start);
        std::printf("check, no line names a folder:   %.3f s for %zu lines (%.2f us a line), "
                    "message %zu bytes\n",
                    seconds, list.items.size(), seconds * 1e6 / static_cast<double>(lines),
                    unnamed.message().size());
    }
    // The same number of lines, each naming a folder five levels down.
    {
        const std::string folder = pattern + "/Pictures/Holidays 2021/Day 1/Camera 2/";
        std::filesystem::create_directories(folder);
        KeepingList list;
        list.items.assign(lines, folder);
        sources::LinesWithoutFolder unnamed;
        start = Clock::now();
        unnamed.check(list, 1, path);
        seconds = secondsSince(start);
        std::printf("check, every line names a folder: %.3f s for %zu lines (%.2f us a line)\n",
                    seconds, list.items.size(), seconds * 1e6 / static_cast<double>(lines));
    }

    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return 0;
}
