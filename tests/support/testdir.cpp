#include "testdir.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace testsupport {

TestDir::TestDir(const fs::path& base) {
    std::string pattern =
        ((base.empty() ? fs::temp_directory_path() : base) / "brimvale-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    m_root = pattern;
}

TestDir::~TestDir() {
    // Children may have been made unreadable by a test; give the owner access back first.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(m_root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_root, ec);
}

std::string TestDir::path(std::string_view relative, bool trailing) const {
    std::string text = relative.empty() ? m_root.string() : (m_root / relative).string();
    if (trailing && text.back() != '/')
        text += '/';
    return text;
}

void TestDir::write(std::string_view relative, std::string_view content) const {
    fs::path target = m_root / relative;
    fs::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + target.string());
}

std::string TestDir::read(std::string_view relative) const {
    std::ifstream in(m_root / relative, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + (m_root / relative).string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool TestDir::exists(std::string_view relative) const {
    std::error_code ec;
    return fs::symlink_status(m_root / relative, ec).type() != fs::file_type::not_found;
}

void TestDir::make(std::string_view description) const {
    std::istringstream lines{std::string(description)};
    std::string line;
    while (std::getline(lines, line)) {
        line.erase(0, line.find_first_not_of(" \t"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (line.empty())
            continue;
        if (auto arrow = line.find(" -> "); arrow != std::string::npos) {
            fs::path link = m_root / line.substr(0, arrow);
            fs::create_directories(link.parent_path());
            fs::create_symlink(line.substr(arrow + 4), link);
        } else if (auto eq = line.find('='); eq != std::string::npos) {
            write(line.substr(0, eq), line.substr(eq + 1));
        } else if (line.back() == '/') {
            fs::create_directories(m_root / line);
        } else {
            write(line, "");
        }
    }
}

std::string listTree(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_symlink(ec) || !it->is_directory(ec))
            names.push_back(it->path().lexically_relative(folder).string());
    }
    std::sort(names.begin(), names.end());
    std::string text;
    for (const auto& name : names)
        text += name + "\n";
    return text;
}

} // namespace testsupport
