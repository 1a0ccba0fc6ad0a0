#pragma once

// The data sets both benchmarks copy, made in a folder of their own: set A (many small files in
// 4 trees under "A") and set B (4 large files under "B/big").
#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace benchdata {

namespace fs = std::filesystem;

inline void writeFile(const fs::path& path, std::size_t size, std::mt19937& random) {
    static std::vector<char> buffer;
    if (buffer.size() < size) {
        buffer.resize(size);
        for (auto& byte : buffer)
            byte = static_cast<char>(random());
    }
    std::ofstream out(path, std::ios::binary);
    out.write(buffer.data() + random() % 61, static_cast<std::streamsize>(size - 61));
    out.write(buffer.data(), 61);
}

// A prefix and a number. (Built by appending: GCC 12 at -O3 warns wrongly about "text" + string.)
inline std::string numbered(const char* prefix, long number, const char* suffix = "") {
    std::string text = prefix;
    text.append(std::to_string(number)).append(suffix);
    return text;
}

// Folders of a tree `depth` levels deep with `branching` children each, breadth first.
inline std::vector<fs::path> makeTree(const fs::path& top, int branching, int depth,
                                      std::size_t limit) {
    std::vector<fs::path> folders{top};
    fs::create_directories(top);
    for (std::size_t at = 0; at < folders.size() && folders.size() < limit; ++at) {
        if (std::distance(top.begin(), top.end()) + depth <=
            std::distance(folders[at].begin(), folders[at].end()))
            continue;
        for (int child = 0; child < branching && folders.size() < limit; ++child) {
            folders.push_back(folders[at] / numbered("d", child));
            fs::create_directory(folders.back());
        }
    }
    return folders;
}

// 4 source trees, 5 levels deep; a quarter of the file names stand in every source.
inline std::vector<std::string> makeSetA(const fs::path& root, double scale) {
    std::mt19937 random(1);
    const int filesPerSource = std::max(4, static_cast<int>(5000 * scale));
    std::vector<std::string> sources;
    for (int source = 0; source < 4; ++source) {
        const fs::path top = root / "A" / numbered("src", source);
        const auto folders = makeTree(top, 3, 5, 1000000);
        for (int k = 0; k < filesPerSource; ++k) {
            const std::string name = k % 4 == 0 ? numbered("shared_", k / 4, ".dat")
                                                : numbered("s", source * 100000L + k, ".dat");
            const std::size_t size = 1024 + random() % (7 * 1024 + 1);
            writeFile(folders[(static_cast<std::size_t>(k) * 7919) % folders.size()] / name, size,
                      random);
        }
        sources.push_back(top.string());
    }
    return sources;
}

inline std::string makeSetB(const fs::path& root, double scale) {
    std::mt19937 random(2);
    const fs::path top = root / "B" / "big";
    fs::create_directories(top);
    const std::size_t size =
        std::max<std::size_t>(1 << 20, static_cast<std::size_t>((256 << 20) * scale));
    std::vector<char> block(1 << 20);
    for (int file = 0; file < 4; ++file) {
        std::ofstream out(top / numbered("large", file, ".bin"), std::ios::binary);
        for (std::size_t written = 0; written < size; written += block.size()) {
            for (std::size_t i = 0; i < block.size(); i += 4096)
                block[i] = static_cast<char>(random());
            out.write(block.data(),
                      static_cast<std::streamsize>(std::min(block.size(), size - written)));
        }
    }
    return top.string();
}

} // namespace benchdata
