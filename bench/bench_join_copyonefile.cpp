// Figures for the file-system helpers: listing a large folder, copying many small files, copying
// one large file, and each way of moving the bytes. Prints timings; asserts nothing.
#include "join/copy/filecopy.h"
#include "join/fs/folderpaths.h"
#include "join/fs/posixfs.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void writeFile(const std::string& path, std::size_t size) {
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 31 + 7);
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min(block.size(), size - done);
        if (::write(fd, block.data(), n) != static_cast<ssize_t>(n))
            std::exit(2);
        done += n;
    }
    ::close(fd);
}

} // namespace

int main(int argc, char** argv) {
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
    std::string pattern = (base / "brimvale-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const fs::path root = pattern;
    fs::create_directories(root / "many");
    fs::create_directories(root / "small");
    fs::create_directories(root / "out");

    constexpr int ManyCount = 40000;
    for (int i = 0; i < ManyCount; ++i)
        writeFile((root / "many" / ("f" + std::to_string(i))).string(), 0);
    ::sync();
    auto start = Clock::now();
    std::size_t listed = 0;
    constexpr int Rounds = 10;
    for (int round = 0; round < Rounds; ++round)
        listed += join::listFiles((root / "many").string()).size();
    double seconds = secondsSince(start);
    std::printf("listFiles, %d files: %.2f ms per listing (%zu names)\n", ManyCount,
                seconds * 1000 / Rounds, listed / Rounds);

    constexpr int SmallCount = 2000;
    for (int i = 0; i < SmallCount; ++i)
        writeFile((root / "small" / ("s" + std::to_string(i))).string(), 4096);
    start = Clock::now();
    int copied = 0;
    for (int i = 0; i < SmallCount; ++i) {
        const std::string name = "s" + std::to_string(i);
        copied +=
            join::copyOneFile((root / "small" / name).string(), (root / "out" / name).string(),
                              join::IfDestinationExists::Replace);
    }
    seconds = secondsSince(start);
    std::printf("copyOneFile, %d new 4 KiB files: %.0f files/s (%d copied)\n", SmallCount,
                SmallCount / seconds, copied);
    start = Clock::now();
    for (int i = 0; i < SmallCount; ++i) {
        const std::string name = "s" + std::to_string(i);
        join::copyOneFile((root / "small" / name).string(), (root / "out" / name).string(),
                          join::IfDestinationExists::Replace);
    }
    seconds = secondsSince(start);
    std::printf("copyOneFile, %d replaced 4 KiB files: %.0f files/s\n", SmallCount,
                SmallCount / seconds);

    constexpr std::size_t LargeSize = std::size_t{256} << 20;
    const std::string large = (root / "large").string();
    writeFile(large, LargeSize);
    ::sync();
    start = Clock::now();
    join::copyOneFile(large, (root / "out" / "large").string(), join::IfDestinationExists::Replace);
    seconds = secondsSince(start);
    std::printf("copyOneFile, one 256 MiB file: %.0f MiB/s\n", 256 / seconds);

    const char* names[] = {"copy_file_range", "sendfile", "read/write"};
    for (join::CopyMethod method : {join::CopyMethod::CopyFileRange, join::CopyMethod::SendFile,
                                    join::CopyMethod::ReadWrite}) {
        const std::string target = (root / "out" / "method").string();
        const int from = ::open(large.c_str(), O_RDONLY | O_CLOEXEC);
        const int to = ::open(target.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
        start = Clock::now();
        const bool ok = join::copyFileContents(from, to, static_cast<off_t>(LargeSize), method);
        seconds = secondsSince(start);
        ::close(from);
        ::close(to);
        std::printf("copyFileContents by %s, 256 MiB: %.0f MiB/s%s\n",
                    names[static_cast<int>(method)], 256 / seconds, ok ? "" : " (failed)");
        ::unlink(target.c_str());
    }

    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
