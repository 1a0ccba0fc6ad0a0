// The engine against a plain reference: seeded random trees and lists, joined in both options
// through the real run, compared with what copying one file after another in processing order
// leaves. The output folders go below BRIMVALE_REFERENCE_TARGET when it is set (a folder on the
// file system under test; BRIMVALE_REFERENCE_CASE=ignored where that file system takes names
// that differ only in case as one), else beside the sources, on the memory disk /dev/shm where
// there is one. BRIMVALE_REFERENCE_SEEDS chooses the seeds ("1,2,3").
//
// Which names the target takes as one, whether it holds links and the step it keeps times to are
// asked of the target itself, not of the engine. Each tree is joined, then a source is changed
// between the run's look-ahead and its entry's copy, then some sources are rewritten (same size,
// a time 1.5 s later) and it is joined again: the second join copies exactly those, and the dry
// run's plan made before it names, file by file, what the join then does. With
// BRIMVALE_REFERENCE_REMOTE=1 the output's file system is taken for one behind a link, whatever
// it is, so that the random trees are joined as onto a network share: many copies at once, spread
// over the folders, small files written under their own names.
#include "fakejoinhost.h"
#include "join/run/joinrun.h"
#include "support/testdir.h"
#include "test_childprocess.h"
#include "words/words.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <linux/magic.h>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <unordered_map>

namespace fs = std::filesystem;
using testsupport::FakeJoinHost;
using testsupport::TestDir;

namespace {

// ---- Natural name order, the test's own ----

// Digit runs compare by value (on equal value the shorter first), other bytes by value with
// ASCII letters folded, and names still equal by their bytes.
bool naturalLess(const std::string& a, const std::string& b) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto fold = [](char c) {
        return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && digit(a[ei]))
                ++ei;
            while (ej < b.size() && digit(b[ej]))
                ++ej;
            std::size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0')
                ++si;
            while (sj + 1 < ej && b[sj] == '0')
                ++sj;
            const std::string va = a.substr(si, ei - si);
            const std::string vb = b.substr(sj, ej - sj);
            if (va.size() != vb.size())
                return va.size() < vb.size();
            if (va != vb)
                return va < vb;
            if (ei - i != ej - j)
                return ei - i < ej - j;
            i = ei;
            j = ej;
            continue;
        }
        if (fold(a[i]) != fold(b[j]))
            return fold(a[i]) < fold(b[j]);
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return j < b.size();
    return a < b;
}

// ---- What the target does, asked of the target ----

// Code points as UTF-8 text, one each.
std::vector<std::string> codePoints(const std::string& text) {
    std::vector<std::string> points;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = 1;
        while (i + length < text.size() &&
               (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80)
            ++length;
        points.push_back(text.substr(i, length));
        i += length;
    }
    return points;
}

// The letters the trees' names use, ASCII and the non-ASCII pairs on which exFAT's up-case
// table and the C library differ (ı and i, ſ and s, µ and μ) or agree (Ω and ω, é and É).
const char* const Alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZıİſµμΜΩωéÉüÜ";

struct Target {
    bool caseIgnored = false;
    bool storesLinks = true;
    std::int64_t step = 1;
    // Each letter of the alphabet to the first letter that the target takes as the same.
    std::map<std::string, std::string> sameAs;

    // A relative path as the target tells paths apart.
    std::string keyOf(const std::string& path) const {
        if (sameAs.empty())
            return path;
        std::string key;
        for (const std::string& point : codePoints(path)) {
            const auto same = sameAs.find(point);
            key += same == sameAs.end() ? point : same->second;
        }
        return key;
    }

    std::int64_t cut(const struct timespec& time) const {
        const std::int64_t ns =
            static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
        return ns - ns % step;
    }
};

// Asks the folder's file system: which letters are one there (only where case is ignored: each
// pair under names of its own, made and looked up), whether it holds a link, and to what step
// it keeps a modification time.
Target askTarget(const fs::path& folder, bool caseIgnored) {
    Target target;
    target.caseIgnored = caseIgnored;
    const fs::path scratch = folder / "target-trial";
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    if (caseIgnored) {
        const std::vector<std::string> letters = codePoints(Alphabet);
        for (const std::string& letter : letters)
            target.sameAs[letter] = letter;
        int pair = 0;
        for (std::size_t a = 0; a < letters.size(); ++a) {
            for (std::size_t b = a + 1; b < letters.size(); ++b, ++pair) {
                if (target.sameAs[letters[b]] != letters[b])
                    continue;
                const fs::path made = scratch / ("p" + std::to_string(pair) + letters[a]);
                std::ofstream(made).put('x');
                const bool same = fs::exists(scratch / ("p" + std::to_string(pair) + letters[b]));
                fs::remove(made);
                if (same)
                    target.sameAs[letters[b]] = target.sameAs[letters[a]];
            }
        }
    }
    std::error_code noLink;
    fs::create_symlink("nowhere", scratch / "link", noLink);
    target.storesLinks = !noLink && fs::is_symlink(fs::symlink_status(scratch / "link"));
    const fs::path probe = scratch / "time";
    std::ofstream(probe).put('x');
    const struct timespec set = {1'600'000'001, 123'456'789};
    const struct timespec times[2] = {set, set};
    ::utimensat(AT_FDCWD, probe.c_str(), times, 0);
    struct stat status {};
    ::stat(probe.c_str(), &status);
    for (target.step = 1; target.step < 2'000'000'000; target.step *= 10) {
        if (target.cut(status.st_mtim) == target.cut(set) &&
            target.cut(status.st_mtim) ==
                static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 +
                    status.st_mtim.tv_nsec)
            break;
        if (target.step == 1'000'000'000) {
            target.step = 2'000'000'000;
            break;
        }
    }
    fs::remove_all(scratch);
    return target;
}

// ---- Trees ----

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Random trees: files and folders interleaved in listing order ("item7.dat" between folders
// "item6" and "item8"), names shared across folders and entries, differing only in case or in
// letters that only some case rules take as one, "~" names, empty folders, links to files and to
// nothing, pipes, sizes from nothing to a few hundred KiB.
class TreeMaker {
public:
    explicit TreeMaker(unsigned seed) : m_random(seed) {}

    void makeFolder(const fs::path& folder, int depth) {
        fs::create_directories(folder);
        const int files = pick(0, 9) == 0 ? pick(100, 300) : pick(0, 12);
        const int folders = depth >= 3 ? 0 : pick(0, depth == 0 ? 5 : 3);
        for (int i = 0; i < files; ++i)
            writeFile(folder / fileName(), pick(0, 19) == 0 ? pick(0, 300 * 1024) : pick(0, 2048));
        if (pick(0, 5) == 0)
            fs::create_symlink(fileName(), folder / ("link" + std::to_string(pick(0, 9))));
        if (pick(0, 9) == 0)
            ::mkfifo((folder / ("pipe" + std::to_string(pick(0, 9)))).c_str(), 0644);
        for (int i = 0; i < folders; ++i) {
            std::string name = folderName();
            makeFolder(folder / name, depth + 1);
            // A twin whose name differs only in case, sharing some file names.
            if (pick(0, 5) == 0) {
                name[0] = static_cast<char>(std::isupper(static_cast<unsigned char>(name[0]))
                                                ? std::tolower(name[0])
                                                : std::toupper(name[0]));
                makeFolder(folder / name, depth + 1);
            }
        }
    }

    // Most files last changed an hour or more ago, as files to join mostly are, some just now: a
    // copy writes the first under their own names where the target allows it, the others through
    // a temporary file.
    void writeFile(const fs::path& path, int size) {
        std::string content = path.string() + "\n";
        while (static_cast<int>(content.size()) < size)
            content.push_back(static_cast<char>('a' + pick(0, 25)));
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        if (pick(0, 3) != 0) {
            const struct timespec past = {::time(nullptr) - pick(3600, 7200), pick(0, 999'999'999)};
            const struct timespec times[2] = {past, past};
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
    }

    int pick(int low, int high) { return std::uniform_int_distribution(low, high)(m_random); }

private:
    std::string fileName() {
        static const char* const Stems[] = {
            "item", "Item", "photo", "Photo", "~item", "notes", "item über", ".hidden", "kis",
            "kıs",  "KIS",  "resim", "resım", "Ωmega", "ωmega", "ſtar",      "star"};
        std::string stem = Stems[pick(0, std::size(Stems) - 1)];
        // Few numbers, so that names meet again in other folders and entries.
        return stem + std::to_string(pick(0, 40)) + (pick(0, 3) == 0 ? ".DAT" : ".dat");
    }

    std::string folderName() {
        static const char* const Stems[] = {"item", "Dir", "~old", ".cache", "sub"};
        return Stems[pick(0, 4)] + std::to_string(pick(0, 40));
    }

    std::mt19937 m_random;
};

// A folder's entries by kind, in natural name order.
enum class Kind { Files, Folders, Both };
std::vector<fs::path> naturalListing(const fs::path& folder, Kind kind = Kind::Both) {
    std::vector<fs::path> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const bool isFolder = entry.is_directory() && !entry.is_symlink();
        if (kind == Kind::Both || isFolder == (kind == Kind::Folders))
            entries.push_back(entry.path());
    }
    std::sort(entries.begin(), entries.end(), [](const fs::path& a, const fs::path& b) {
        return naturalLess(a.filename().string(), b.filename().string());
    });
    return entries;
}

// ---- The reference ----

// One file the reference writes: where, with what (its first line names its source), its size
// and time, and whether it is a link, which a copy always makes anew.
struct Write {
    std::string place; // the place's key
    std::string content;
    std::uintmax_t size;
    struct timespec time;
    bool link = false;
};

// What the output must hold, and what the run must name as not copied.
struct Expected {
    std::map<std::string, std::string> files; // by key: contents, or "link:TARGET"
    std::set<std::string> folders;
    std::set<std::string> notCopied; // source paths
    // What each entry's copy writes, in order, one write per place and entry.
    std::vector<std::vector<Write>> writes;
};

std::string linkText(const fs::path& link) {
    return "link:" + fs::read_symlink(link).string();
}

struct timespec timeOf(const fs::path& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mtim;
}

// One entry as the tree copy takes it: each file, link and folder in processing order; names
// that are one on the target go to one place, the later replacing the earlier, which is named.
void copyTreeInOrder(const fs::path& source, const std::string& target, const Target& rules,
                     Expected& out, std::vector<Write>& writes) {
    out.folders.insert(rules.keyOf(target));
    for (const fs::path& entry : naturalListing(source)) {
        const std::string path =
            target.empty() ? entry.filename().string() : target + "/" + entry.filename().string();
        const fs::file_status own = fs::symlink_status(entry);
        if (fs::is_directory(own)) {
            copyTreeInOrder(entry, path, rules, out, writes);
            continue;
        }
        if (fs::is_symlink(own) && (!fs::exists(entry) || !rules.storesLinks)) {
            out.notCopied.insert(entry.string());
            continue;
        }
        if (!fs::is_symlink(own) && !fs::is_regular_file(own)) {
            out.notCopied.insert(entry.string());
            continue;
        }
        const std::string key = rules.keyOf(path);
        // Of files whose names are one there, the target keeps the last of the copy.
        if (const auto earlier = std::find_if(writes.begin(), writes.end(),
                                              [&](const Write& w) { return w.place == key; });
            earlier != writes.end()) {
            out.notCopied.insert(earlier->content.substr(0, earlier->content.find('\n')));
            writes.erase(earlier);
        }
        const std::string content = fs::is_symlink(own) ? linkText(entry) : readFile(entry);
        const bool link = fs::is_symlink(own);
        writes.push_back({key, link ? entry.string() + "\n" : content,
                          link ? 0 : fs::file_size(entry), timeOf(entry), link});
        out.files[key] = content;
    }
}

// One entry as the flat copy takes it: the entry and the folders below it level by level, each
// folder's files, "~" names left out, the output folder's own files its own.
void copyFlatInOrder(const fs::path& entry, const fs::path& output, const Target& rules,
                     Expected& out, std::vector<Write>& writes) {
    std::vector<fs::path> level{entry};
    while (!level.empty()) {
        std::vector<fs::path> next;
        for (const fs::path& folder : level) {
            const bool isOutput = fs::equivalent(folder, output);
            for (const fs::path& file : naturalListing(folder, Kind::Files)) {
                if (isOutput || file.filename().string().starts_with('~'))
                    continue;
                const fs::file_status status = fs::status(file);
                if (!fs::is_regular_file(status)) {
                    out.notCopied.insert(file.string());
                    continue;
                }
                const std::string key = rules.keyOf(file.filename().string());
                std::erase_if(writes, [&](const Write& w) { return w.place == key; });
                writes.push_back({key, readFile(file), fs::file_size(file), timeOf(file)});
                out.files[key] = writes.back().content;
            }
            for (const fs::path& sub : naturalListing(folder, Kind::Folders))
                next.push_back(sub);
        }
        level = std::move(next);
    }
}

// What the output holds: each file's contents (or a link's target) and each folder, by key.
Expected readOutput(const fs::path& root, const Target& rules) {
    Expected tree;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string key = rules.keyOf(entry.path().lexically_relative(root).string());
        if (entry.is_symlink())
            tree.files[key] = linkText(entry.path());
        else if (entry.is_directory())
            tree.folders.insert(key);
        else
            tree.files[key] = readFile(entry.path());
    }
    return tree;
}

std::string firstDifference(const Expected& expected, const Expected& actual) {
    const auto head = [](const std::string& text) { return text.substr(0, text.find('\n')); };
    for (const auto& [path, content] : expected.files) {
        const auto found = actual.files.find(path);
        if (found == actual.files.end())
            return "missing file " + path;
        if (found->second != content)
            return "file " + path + " holds " + head(found->second) + ", not " + head(content);
    }
    for (const auto& [path, content] : actual.files)
        if (!expected.files.contains(path))
            return "extra file " + path;
    for (const std::string& folder : expected.folders)
        if (!folder.empty() && !actual.folders.contains(folder))
            return "missing folder " + folder;
    for (const std::string& folder : actual.folders)
        if (!expected.folders.contains(folder))
            return "extra folder " + folder;
    return {};
}

// The source paths the run names as not copied, each as "PATH: REASON".
std::set<std::string> namedNotCopied(const FakeJoinHost& host, const std::set<std::string>& known) {
    std::set<std::string> named;
    for (const auto& shortfall : host.shortfalls)
        for (const std::string& line : shortfall.descriptions()) {
            std::string path = line.substr(0, line.find(": "));
            for (const std::string& candidate : known)
                if (line.starts_with(candidate + ": "))
                    path = candidate;
            named.insert(path);
        }
    return named;
}

// What is wrong with the run's closing message: "Done." exactly when it named nothing as not
// copied, else "Done, but ..."; "" when it is right.
std::string closingMessageWrong(const FakeJoinHost& host) {
    if (host.messages.size() != 1)
        return std::to_string(host.messages.size()) + " messages";
    const std::string& message = host.messages.front();
    if ((message == "Done.") != host.shortfalls.empty() ||
        (message != "Done." && !message.starts_with("Done, but ")))
        return "\"" + message + "\" after " + std::to_string(host.shortfalls.size()) +
               " things not copied";
    return {};
}

// A fate as one line, for telling two records apart.
std::string fateText(const join::FileFate& fate) {
    static const char* const Fates[] = {"written", "already there", "replaced", "left out",
                                        "not copied"};
    static const char* const Items[] = {"file", "link", "folder"};
    return "entry " + std::to_string(fate.entry) + ", " + Items[static_cast<int>(fate.item)] + " " +
           fate.source + ": " + Fates[static_cast<int>(fate.fate)] +
           (fate.destination.empty() ? "" : " at " + fate.destination) +
           (fate.fate == join::FileFate::Fate::NotCopied
                ? " (" + words::describe(fate.failure) + ")"
                : "");
}

// The first fate in which a dry run's record and the join's differ; "" when they are equal.
// `unless` leaves out fates a change made between them explains.
std::string firstRecordDifference(const std::vector<join::FileFate>& foreseen,
                                  const std::vector<join::FileFate>& done,
                                  const std::function<bool(const join::FileFate&)>& unless = {}) {
    std::multiset<std::string> a;
    std::multiset<std::string> b;
    for (const join::FileFate& fate : foreseen)
        if (!unless || !unless(fate))
            a.insert(fateText(fate));
    for (const join::FileFate& fate : done)
        if (!unless || !unless(fate))
            b.insert(fateText(fate));
    for (const std::string& fate : a)
        if (!b.contains(fate))
            return "foreseen, not done: " + fate;
    for (const std::string& fate : b)
        if (!a.contains(fate))
            return "done, not foreseen: " + fate;
    return {};
}

// Runs a join of `host`'s list as a dry run, writing nothing, and returns its record.
join::JoinOutcome foresee(const FakeJoinHost& like) {
    FakeJoinHost dry;
    dry.sources = like.sources;
    dry.output = like.output;
    dry.option = like.option;
    dry.writesMode = join::Writes::Withheld;
    dry.recordFates = true;
    dry.outputFileSystem = like.outputFileSystem;
    join::JoinRun(dry).run();
    return dry.outcome.value_or(join::JoinOutcome{});
}

// What the random trees' joins take the output's file system for: what it is, or, with
// BRIMVALE_REFERENCE_REMOTE=1, that file system behind a link.
std::function<std::optional<join::TargetFileSystem>(const std::string&)> outputFileSystem() {
    if (!std::getenv("BRIMVALE_REFERENCE_REMOTE"))
        return {};
    return [](const std::string& folder) {
        join::TargetFileSystem remote = join::examineTargetFileSystem(folder);
        remote.reach = join::TargetReach::Remote;
        return std::optional(remote);
    };
}

std::vector<unsigned> seeds() {
    std::vector<unsigned> chosen;
    std::istringstream text(std::getenv("BRIMVALE_REFERENCE_SEEDS")
                                ? std::getenv("BRIMVALE_REFERENCE_SEEDS")
                                : "1,2,3,4,5,6");
    for (std::string seed; std::getline(text, seed, ',');)
        chosen.push_back(static_cast<unsigned>(std::stoul(seed)));
    return chosen;
}

// A window that changes a source as entry `changeAt` begins, after the run's look-ahead and
// before that entry's copy.
struct ChangingHost : FakeJoinHost {
    int changeAt = 0;
    std::function<void()> change;
    void entryBegins(int entry, int count, const std::string& entryText) override {
        FakeJoinHost::entryBegins(entry, count, entryText);
        if (entry == changeAt && change)
            change();
    }
};

// The regular files below `root`, sorted.
std::vector<fs::path> regularFiles(const fs::path& root) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && !entry.is_symlink())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

// ---- Cases that a dry run once foresaw wrongly ----

// Gives a file a modification time of its own, whole seconds.
void setTime(const fs::path& path, std::time_t seconds) {
    const struct timespec time = {seconds, 0};
    const struct timespec times[2] = {time, time};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// A folder so deep that its files' paths are longer than the system takes as one path: made and
// written one level at a time.
void makeDeepTree(const fs::path& root, int levels, const std::string& content) {
    fs::create_directories(root);
    int folder = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::string name(200, 'd');
    for (int level = 0; level < levels && folder >= 0; ++level) {
        ::mkdirat(folder, name.c_str(), 0755);
        const int below = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = below;
    }
    const int file = ::openat(folder, "deep.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (file >= 0) {
        if (::write(file, content.data(), content.size()) < 0)
            std::perror("write");
        ::close(file);
    }
    ::close(folder);
}

// ---- What a copy keeps beside the bytes ----

// What the output's file system holds, asked of it: an extended attribute, an access list and
// (root only) another owner, each tried on a fresh file and read back; and what it refuses when
// asked. A file system may take a kind and drop it (ntfs-3g drops access lists): a copy cannot
// tell that without reading each back, so it is not counted as not kept.
struct HeldThere {
    bool extended = false;
    bool accessLists = false;
    bool owners = false;
    bool extendedRefused = true;
    bool accessListsRefused = true;
    bool ownersRefused = true;
};

// An access list as the system.posix_acl_* attributes hold it: version 2, then each entry's tag,
// permissions and user or group, in tag order. It gives user 65534 `named` rights beside the
// owner's read and write.
std::string accessList(unsigned named) {
    std::string value;
    const auto put = [&value](std::uint32_t number, int bytes) {
        for (int i = 0; i < bytes; ++i)
            value.push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
    };
    put(2, 4);
    const std::uint32_t none = 0xFFFFFFFF;
    const std::uint32_t entries[][3] = {
        {0x01, 6, none}, {0x02, named, 65534}, {0x04, 4, none}, {0x10, 7, none}, {0x20, 4, none}};
    for (const auto& entry : entries) {
        put(entry[0], 2);
        put(entry[1], 2);
        put(entry[2], 4);
    }
    return value;
}

// The attributes a copy keeps of a file, folder or link, by name (links not followed).
std::map<std::string, std::string> keptAttributes(const fs::path& path) {
    std::map<std::string, std::string> kept;
    std::string names(4096, '\0');
    const ssize_t length = ::llistxattr(path.c_str(), names.data(), names.size());
    for (std::size_t at = 0; length > 0 && at < static_cast<std::size_t>(length);) {
        const std::string name = names.c_str() + at;
        at += name.size() + 1;
        if (!name.starts_with("user.") && !name.starts_with("system.posix_acl"))
            continue;
        std::string value(4096, '\0');
        const ssize_t size = ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
        kept[name] = value.substr(0, size < 0 ? 0 : static_cast<std::size_t>(size));
    }
    return kept;
}

HeldThere askHeld(const fs::path& folder) {
    HeldThere held;
    const fs::path probe = folder / "held-trial";
    std::ofstream(probe).put('x');
    held.extendedRefused = ::setxattr(probe.c_str(), "user.trial", "x", 1, 0) != 0;
    const std::string list = accessList(4);
    held.accessListsRefused =
        ::setxattr(probe.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) != 0;
    const std::map<std::string, std::string> kept = keptAttributes(probe);
    held.extended = kept.contains("user.trial");
    held.accessLists = kept.contains("system.posix_acl_access");
    struct stat status {};
    held.ownersRefused = ::geteuid() == 0 && ::chown(probe.c_str(), 65534, 65534) != 0;
    held.owners = ::geteuid() == 0 && !held.ownersRefused && ::stat(probe.c_str(), &status) == 0 &&
                  status.st_uid == 65534;
    fs::remove(probe);
    return held;
}

// A thing whose copy carries what a copy keeps, marked with the kinds it carries: extended
// attributes (1), access lists (2), another owner (4, as root).
struct Carrying {
    const char* path;
    unsigned kinds;
};

// What the copies of makeCarryingTree()'s things carry, by their paths below the output folder:
// the tree below "A", or, `flat`, its files alone.
std::vector<Carrying> carriedBy(bool link, bool flat) {
    const unsigned owner = ::geteuid() == 0 ? 4 : 0;
    if (flat)
        return {{"file", 3 | owner}, {"deep", 1}};
    std::vector<Carrying> carrying = {
        {"A", 3 | owner}, {"A/file", 3 | owner}, {"A/sub", 0}, {"A/sub/deep", 1}};
    if (link)
        carrying.push_back({"A/link", owner});
    return carrying;
}

// Whether the file system under test (or the one beside the sources) holds links.
bool linksHeld(const TestDir& dir) {
    const char* targetRoot = std::getenv("BRIMVALE_REFERENCE_TARGET");
    return askTarget(targetRoot ? fs::path(targetRoot) : dir.root(), false).storesLinks;
}

// Makes the tree: a folder with an access and a default list, a file with extended attributes,
// a list, another owner and its setuid and setgid bits, a subfolder and its file, and a link
// (where `link`); times of their own on the folders and the link, set last.
void makeCarryingTree(const TestDir& dir, bool link) {
    const bool root = ::geteuid() == 0;
    dir.make("A/file=data\nA/sub/deep=deep");
    const std::string list = accessList(5);
    const auto set = [&](const char* path, const char* name, const std::string& value) {
        if (::lsetxattr(dir.path(path).c_str(), name, value.data(), value.size(), 0) != 0)
            std::perror(name);
    };
    set("A", "user.xdg.tags", "folder");
    set("A", "system.posix_acl_access", list);
    set("A", "system.posix_acl_default", list);
    set("A/file", "user.xdg.tags", "red,blue");
    set("A/file", "user.xdg.origin.url", "https://example.org/file");
    set("A/file", "system.posix_acl_access", list);
    set("A/sub/deep", "user.note", std::string("bytes\0and more", 14));
    if (link)
        fs::create_symlink("file", dir.root() / "A/link");
    if (root) {
        for (const char* path : {"A", "A/file", "A/link"})
            if (::lchown(dir.path(path).c_str(), 65534, 65534) != 0 &&
                path != std::string("A/link"))
                std::perror("lchown");
        ::chmod(dir.path("A/file").c_str(), 06755);
        ::chmod(dir.path("A").c_str(), 02755);
    }
    const auto stamp = [&](const char* path, long nanoseconds) {
        const struct timespec time = {1'500'000'001, nanoseconds};
        const struct timespec times[2] = {time, time};
        ::utimensat(AT_FDCWD, dir.path(path).c_str(), times, AT_SYMLINK_NOFOLLOW);
    };
    if (link)
        stamp("A/link", 333'333'333);
    stamp("A/sub", 222'222'222);
    stamp("A", 111'111'111);
}

// Whether `copy` keeps what `source` carries, as far as the output holds it; "" when it does.
std::string comparedAttributes(const fs::path& source, const fs::path& copy, const HeldThere& held,
                               const Target& target) {
    struct stat from {};
    struct stat to {};
    if (::lstat(source.c_str(), &from) != 0 || ::lstat(copy.c_str(), &to) != 0)
        return copy.string() + " is missing";
    std::map<std::string, std::string> expected = keptAttributes(source);
    std::erase_if(expected, [&](const auto& kept) {
        const bool list = kept.first.starts_with("system.");
        return list ? !held.accessLists ||
                          (kept.first.ends_with("default") && !S_ISDIR(from.st_mode))
                    : !held.extended;
    });
    if (keptAttributes(copy) != expected)
        return copy.string() + " has other extended attributes or lists";
    if (held.owners && (to.st_uid != from.st_uid || to.st_gid != from.st_gid))
        return copy.string() + " has another owner";
    if (held.owners && !S_ISLNK(from.st_mode) && (to.st_mode & 06000) != (from.st_mode & 06000))
        return copy.string() + " lost its setuid or setgid bits";
    if (!held.owners && (to.st_mode & 06000) != 0 && (from.st_mode & 06000) != 0)
        return copy.string() + " kept setuid or setgid bits without its owner";
    if (!S_ISREG(from.st_mode) && target.cut(to.st_mtim) != target.cut(from.st_mtim))
        return copy.string() + " has another time";
    return {};
}

// Whether the outcome counts as not kept exactly what the output does not hold of `carrying`.
std::string comparedNotKept(const std::vector<Carrying>& carrying, const HeldThere& held,
                            const join::AttributesNotKept& notKept) {
    const unsigned lost = (held.extendedRefused ? 1 : 0) | (held.accessListsRefused ? 2 : 0) |
                          (held.ownersRefused ? 4 : 0);
    join::AttributesNotKept expected;
    for (const Carrying& one : carrying) {
        for (std::size_t kind = 0; kind < join::KeptAttributeKinds; ++kind)
            expected.of[kind] += (one.kinds & lost & (1U << kind)) != 0;
        expected.items += (one.kinds & lost) != 0;
    }
    if (notKept.of != expected.of || notKept.items != expected.items)
        return "the outcome counts " + std::to_string(notKept.items) + " not kept, not " +
               std::to_string(expected.items);
    if (notKept.items > 0 && words::attributesNotKeptText(notKept).empty())
        return "what was not kept is not said";
    return {};
}

struct ForeseenCase {
    const char* name;
    join::CopyOption option;
    // Makes the sources below the test folder; the output folder "out" is made already.
    std::function<void(const TestDir&)> make;
    std::vector<std::string> sources; // below the test folder
    bool intoOutput = false;          // "out/" rather than "out"
    // Joins the first source alone before.
    bool joinedBefore = false;
    // What must hold once joined; "" when it does.
    std::function<std::string(const TestDir&, const join::JoinOutcome&)> check;
    // Run by the user 65534, in a child process (as root only).
    bool asNobody = false;
};

// Runs a case: the dry run, then the join; "" when the dry run wrote nothing and foresaw the
// join's record and what it named as not copied, and the case's own check holds.
std::string runForeseenCase(const ForeseenCase& row, const TestDir& dir, const fs::path& output) {
    fs::create_directories(output);
    FakeJoinHost host;
    for (const std::string& source : row.sources)
        host.sources.push_back(dir.path(source));
    host.output = output.string() + (row.intoOutput ? "/" : "");
    host.option = row.option;
    host.recordFates = true;
    if (row.joinedBefore) {
        FakeJoinHost first = host;
        first.sources.resize(1);
        join::JoinRun(first).run();
    }
    const std::string untouched = testsupport::listTree(output);
    const join::JoinOutcome foreseen = foresee(host);
    if (testsupport::listTree(output) != untouched)
        return "the dry run wrote into the output folder";
    join::JoinRun(host).run();
    if (!host.outcome)
        return "the join did not run";
    if (std::string wrong = firstRecordDifference(foreseen.record, host.outcome->record);
        !wrong.empty())
        return wrong;
    std::multiset<std::string> foreseenNotCopied;
    std::multiset<std::string> notCopied;
    for (const join::EntryNotCopied& entry : foreseen.notCopied)
        for (const join::NotCopiedItem& item : entry.items)
            foreseenNotCopied.insert(words::describe(item));
    for (const join::EntryNotCopied& entry : host.outcome->notCopied)
        for (const join::NotCopiedItem& item : entry.items)
            notCopied.insert(words::describe(item));
    if (foreseenNotCopied != notCopied)
        return "the dry run named other things as not copied";
    return row.check(dir, *host.outcome);
}

// How many of the record's things had the fate.
std::size_t countFates(const join::JoinOutcome& outcome, join::FileFate::Fate fate,
                       join::FileFate::Item item = join::FileFate::Item::File) {
    return static_cast<std::size_t>(
        std::count_if(outcome.record.begin(), outcome.record.end(), [&](const join::FileFate& one) {
            return one.fate == fate && one.item == item;
        }));
}

// Joins random trees made below `sources` for each seed, each first as a dry run, and compares
// both with the reference. Outputs go below BRIMVALE_REFERENCE_TARGET when `onTarget` and it is
// set, else below `sources`.
void joinRandomTrees(const fs::path& sources, const std::vector<unsigned>& chosen, bool onTarget) {
    const char* targetRoot = onTarget ? std::getenv("BRIMVALE_REFERENCE_TARGET") : nullptr;
    const char* caseValue = std::getenv("BRIMVALE_REFERENCE_CASE");
    const fs::path outputs = targetRoot ? fs::path(targetRoot) : sources / "outputs";
    fs::create_directories(outputs);
    const Target rules =
        askTarget(outputs, targetRoot && caseValue && std::string(caseValue) == "ignored");
    for (const unsigned seed : chosen) {
        TreeMaker maker(seed);
        const fs::path root = sources / ("seed" + std::to_string(seed));
        // Entries: whole trees, folders inside them (listed again), and folders of one name
        // in different places, whose preserve copies merge.
        std::vector<std::string> list;
        for (int t = 0, trees = maker.pick(2, 4); t < trees; ++t) {
            const fs::path tree = root / ("tree" + std::to_string(t)) / "data";
            maker.makeFolder(tree, 0);
            list.push_back(tree.string() + (maker.pick(0, 1) ? "/" : ""));
            for (const fs::path& inner : naturalListing(tree, Kind::Folders))
                if (maker.pick(0, 3) == 0)
                    list.push_back(inner.string());
        }
        std::shuffle(list.begin(), list.end(), std::mt19937(seed));

        for (const join::CopyOption option :
             {join::CopyOption::PreserveStructure, join::CopyOption::Flat}) {
            const bool flat = option == join::CopyOption::Flat;
            // A flat output folder may lie inside a later entry's tree, on the sources' disk.
            const bool inside = flat && !targetRoot && maker.pick(0, 2) == 0;
            const fs::path output =
                inside ? fs::path(list.back()) / "joined"
                       : outputs / ("seed" + std::to_string(seed) + (flat ? "-flat" : "-preserve"));
            fs::remove_all(output);
            fs::create_directories(output);
            // Into the output folder under each entry's own name, or merged into it.
            const bool merged = !flat && maker.pick(0, 3) == 0;
            const std::string context = "seed " + std::to_string(seed) +
                                        (flat     ? ", flat"
                                         : merged ? ", merged"
                                                  : ", preserve") +
                                        (inside ? ", output inside the last entry" : "");
            std::string listed;
            for (const std::string& entry : list)
                listed += "\n  " + entry;

            // As entry `changeAt` begins, a file of it goes: removed, renamed to a "~" name, or
            // replaced by an empty folder; the files of its name in earlier entries must take its
            // place.
            const int changeAt = list.size() > 1 ? maker.pick(2, static_cast<int>(list.size())) : 0;
            // The file is one no earlier entry holds: those held theirs the whole run.
            std::vector<fs::path> candidates =
                changeAt ? regularFiles(list[changeAt - 1]) : std::vector<fs::path>();
            std::erase_if(candidates, [&](const fs::path& file) {
                for (int i = 0; i + 1 < changeAt; ++i) {
                    const std::string folder = fs::path(list[i]).lexically_normal().string();
                    if (file.string().starts_with(folder.ends_with('/') ? folder : folder + "/"))
                        return true;
                }
                return false;
            });
            const fs::path changed =
                candidates.empty()
                    ? fs::path()
                    : candidates[maker.pick(0, static_cast<int>(candidates.size()) - 1)];
            // A folder in a file's place would stand in the way of files a later entry merges
            // there, which the reference does not model: the preserve copy only loses the file.
            const int how = maker.pick(0, flat ? 2 : 1);
            const auto change = [&] {
                if (changed.empty() || !fs::exists(changed))
                    return;
                if (how == 1) {
                    fs::rename(changed,
                               changed.parent_path() / ("~" + changed.filename().string()));
                } else {
                    fs::remove(changed);
                    if (how == 2)
                        fs::create_directory(changed);
                }
            };

            // The reference, entry by entry, over the sources as they are when it runs.
            const auto reference = [&](Expected& expected, std::size_t from, std::size_t to) {
                for (std::size_t i = from; i < to; ++i) {
                    std::vector<Write> writes;
                    if (flat) {
                        copyFlatInOrder(list[i], output, rules, expected, writes);
                    } else {
                        fs::path folder = fs::path(list[i]).lexically_normal();
                        if (!folder.has_filename())
                            folder = folder.parent_path();
                        copyTreeInOrder(folder, merged ? "" : folder.filename().string(), rules,
                                        expected, writes);
                    }
                    expected.writes.push_back(std::move(writes));
                }
            };
            // The entries before the change as they are now, the others once the join has run.
            const std::size_t unchanged =
                changeAt ? static_cast<std::size_t>(changeAt - 1) : list.size();
            Expected expected;
            reference(expected, 0, unchanged);

            // A link where the first file of the output goes, to that file's source itself: the
            // join replaces it by a copy, and the source keeps its data.
            if (rules.storesLinks && !expected.writes.empty() && !expected.writes.front().empty()) {
                const Write& first = expected.writes.front().front();
                const fs::path place = output / first.place;
                fs::create_directories(place.parent_path());
                std::error_code ignored;
                fs::create_symlink(first.content.substr(0, first.content.find('\n')), place,
                                   ignored);
            }
            ChangingHost host;
            host.sources = list;
            host.output = output.string() + (merged ? "" : "/");
            host.option = option;
            host.changeAt = changeAt;
            host.change = change;
            host.recordFates = true;
            host.outputFileSystem = outputFileSystem();
            // The dry run writes nothing.
            const std::string untouched = testsupport::listTree(output);
            const join::JoinOutcome foreseen = foresee(host);
            ASSERT_EQ(testsupport::listTree(output), untouched) << context;
            ASSERT_FALSE(foreseen.record.empty()) << context;
            join::JoinRun(host).run();
            reference(expected, unchanged, list.size());
            // The dry run foresaw what the join did, file by file, but where the change made
            // during the join leads: the changed file's own place.
            // The changed file under its own name, or its new "~" one.
            const auto isChanged = [&](const std::string& source) {
                return !changed.empty() &&
                       (source == changed.string() ||
                        source ==
                            (changed.parent_path() / ("~" + changed.filename().string())).string());
            };
            std::set<std::string> changedPlaces;
            for (const std::vector<join::FileFate>* record :
                 std::initializer_list<const std::vector<join::FileFate>*>{&host.outcome->record,
                                                                           &foreseen.record})
                for (const join::FileFate& fate : *record)
                    if (isChanged(fate.source))
                        changedPlaces.insert(rules.keyOf(fate.destination));
            EXPECT_EQ(firstRecordDifference(foreseen.record, host.outcome->record,
                                            [&](const join::FileFate& fate) {
                                                return isChanged(fate.source) ||
                                                       changedPlaces.contains(
                                                           rules.keyOf(fate.destination));
                                            }),
                      "")
                << context << "; the list:" << listed;

            ASSERT_EQ(closingMessageWrong(host), "") << context;
            ASSERT_TRUE(host.reports.empty()) << context << ": " << host.reports[0].description;
            const std::set<std::string> named = namedNotCopied(host, expected.notCopied);
            for (const std::string& path : expected.notCopied)
                EXPECT_TRUE(named.contains(path)) << context << ": " << path << " not named";
            for (const std::string& path : named)
                EXPECT_TRUE(expected.notCopied.contains(path) || path.starts_with(changed.string()))
                    << context << ": " << path << " named, but copied in the reference";
            EXPECT_EQ(firstDifference(expected, readOutput(output, rules)), "")
                << context << "; the list:" << listed;

            // Some sources rewritten: the same size, other bytes, a time 1.5 s later.
            std::set<std::string> rewritten;
            for (const std::string& entry : list)
                for (const fs::path& file : regularFiles(entry))
                    if (!file.string().starts_with(output.string() + "/") &&
                        maker.pick(0, 9) == 0 && rewritten.insert(file.string()).second) {
                        // 1.5 s after the time it had, whatever the clock says now.
                        struct timespec time = timeOf(file);
                        std::string content = readFile(file);
                        std::reverse(content.begin() + static_cast<long>(content.find('\n') + 1),
                                     content.end());
                        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
                        time.tv_sec += 1;
                        time.tv_nsec += 500'000'000;
                        if (time.tv_nsec >= 1'000'000'000) {
                            time.tv_nsec -= 1'000'000'000;
                            ++time.tv_sec;
                        }
                        const struct timespec times[2] = {time, time};
                        ::utimensat(AT_FDCWD, file.c_str(), times, 0);
                    }

            // Joined again: what each place holds is the last write of the first join; a write is
            // left alone where its place holds its size and time (as the target keeps it) and no
            // earlier entry of this join wrote there.
            std::map<std::string, std::pair<std::uintmax_t, std::int64_t>> held;
            for (const std::vector<Write>& writes : expected.writes)
                for (const Write& write : writes)
                    held[write.place] = {write.size, rules.cut(write.time)};
            // What the first join left stays where no file replaces it.
            Expected again;
            again.files = expected.files;
            again.folders = expected.folders;
            reference(again, 0, list.size());
            std::uint64_t copies = 0;
            std::uint64_t alreadyThere = 0;
            std::set<std::string> placed;
            std::map<std::string, const Write*> last;
            if (flat)
                for (const std::vector<Write>& writes : again.writes)
                    for (const Write& write : writes)
                        last[write.place] = &write;
            for (const std::vector<Write>& writes : again.writes)
                for (const Write& write : writes) {
                    // A flat join copies each name once: the last file of it.
                    if (flat && last[write.place] != &write)
                        continue;
                    const std::pair<std::uintmax_t, std::int64_t> state{write.size,
                                                                        rules.cut(write.time)};
                    if (!write.link && !placed.contains(write.place) &&
                        held[write.place] == state) {
                        ++alreadyThere;
                        continue;
                    }
                    ++copies;
                    placed.insert(write.place);
                    held[write.place] = state;
                }

            FakeJoinHost second;
            second.sources = host.sources;
            second.output = host.output;
            second.option = host.option;
            second.recordFates = true;
            second.outputFileSystem = host.outputFileSystem;
            const join::JoinOutcome foreseenAgain = foresee(second);
            join::JoinRun(second).run();
            const std::string againContext =
                context + ", joined again after " + std::to_string(rewritten.size()) + " rewrites";
            EXPECT_EQ(closingMessageWrong(second), "") << againContext;
            EXPECT_EQ(firstDifference(again, readOutput(output, rules)), "")
                << againContext << "; the list:" << listed;
            EXPECT_EQ(second.filesCopied - second.filesAlreadyThere, copies) << againContext;
            EXPECT_EQ(second.filesAlreadyThere, alreadyThere) << againContext;

            // The dry run made before it foresaw what the join did, file by file, and named what
            // it would not copy as the join then named it.
            EXPECT_EQ(firstRecordDifference(foreseenAgain.record, second.outcome->record), "")
                << againContext << "; the list:" << listed;
            EXPECT_EQ(foreseenAgain.filesAlreadyThere, second.filesAlreadyThere)
                << againContext << ", foreseen";
            std::multiset<std::string> foreseenNotCopied;
            std::multiset<std::string> notCopied;
            for (const join::EntryNotCopied& entry : foreseenAgain.notCopied)
                for (const join::NotCopiedItem& item : entry.items)
                    foreseenNotCopied.insert(words::describe(item));
            for (const join::EntryNotCopied& entry : second.outcome->notCopied)
                for (const join::NotCopiedItem& item : entry.items)
                    notCopied.insert(words::describe(item));
            EXPECT_EQ(foreseenNotCopied, notCopied) << againContext << ", foreseen";
            fs::remove_all(output);
        }
    }
}

// The trees of the first seed joined by user 65534, in a child of its own, before this process
// starts the workers: the dry run sees what that user may read and write, as the join does.
TEST(Reference, RandomTreesAsAnOrdinaryUser) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "becoming another user takes root";
    const fs::path memory = "/dev/shm";
    TestDir sources(fs::is_directory(memory) ? memory : fs::path());
    ASSERT_EQ(::chown(sources.root().c_str(), 65534, 65534), 0);
    const int code = testsupport::runInChild(
        [&] {
            if (!testsupport::dropToNobody())
                return testsupport::CouldNotDropPrivileges;
            joinRandomTrees(sources.root(), {seeds().front()}, false);
            return ::testing::Test::HasFailure() ? 1 : 0;
        },
        120);
    EXPECT_EQ(code, 0) << "user 65534's joins differ (above)";
}

TEST(Reference, CasesTheDryRunForesees) {
    using join::CopyOption;
    using Fate = join::FileFate::Fate;
    const std::time_t then = ::time(nullptr) - 7200;
    // A later entry's file of the size and time of an earlier one's, other bytes.
    const auto twins = [then](const std::string& a, const std::string& b) {
        return [=](const TestDir& dir) {
            dir.write(a, "AAAA");
            dir.write(b, "BBBB");
            setTime(dir.path(a), then);
            setTime(dir.path(b), then);
        };
    };
    const auto holds = [](const std::string& path, const std::string& content) {
        return [=](const TestDir& dir, const join::JoinOutcome&) {
            return dir.read(path) == content ? std::string()
                                             : path + " holds \"" + dir.read(path) + "\"";
        };
    };
    // Where the share's far end opens files by their whole path (sshfs), the folder that reaches
    // past its limit is refused for that, and named.
    const auto nothingFailed = [](const TestDir&, const join::JoinOutcome& outcome) {
        if (!outcome.notCopied.empty() && outcome.notCopied.front().items.front().reason.code ==
                                              join::Reason::Code::PathLongerThere)
            return outcome.foldersNotCopied() == 1 && countFates(outcome, Fate::Written) == 0
                       ? std::string()
                       : "the deep folder was not named alone";
        return outcome.notCopied.empty() && countFates(outcome, Fate::Written) == 1
                   ? std::string()
                   : "the deep file was not copied alone: " +
                         (outcome.notCopied.empty()
                              ? std::to_string(countFates(outcome, Fate::Written)) + " written"
                              : words::describe(outcome.notCopied.front().items.front()));
    };
    std::vector<ForeseenCase> rows = {
        {"a file where a later entry has a folder",
         CopyOption::PreserveStructure,
         [](const TestDir& dir) { dir.make("A/x=a\nB/x/in.txt=b"); },
         {"A", "B"},
         false,
         false,
         [](const TestDir& dir, const join::JoinOutcome& outcome) {
             return dir.read("out/x") == "a" && outcome.foldersNotCopied() == 1
                        ? std::string()
                        : "the folder was not named, or the file went";
         }},
        {"a folder where a later entry has a file",
         CopyOption::PreserveStructure,
         [](const TestDir& dir) { dir.make("A/x/in.txt=a\nB/x=b"); },
         {"A", "B"},
         false,
         false,
         [](const TestDir& dir, const join::JoinOutcome& outcome) {
             return dir.read("out/x/in.txt") == "a" && outcome.filesNotCopied() == 1
                        ? std::string()
                        : "the file was not named, or the folder went";
         }},
        {"a folder in the flat output folder where a file goes",
         CopyOption::Flat,
         [](const TestDir& dir) { dir.make("A/x=a\nout/x/"); },
         {"A"},
         false,
         false,
         [](const TestDir&, const join::JoinOutcome& outcome) {
             return outcome.filesNotCopied() == 1 ? std::string() : "the file was not named";
         }},
        {"a link in the output to its own source",
         CopyOption::PreserveStructure,
         [](const TestDir& dir) { dir.make("A/f.txt=source\nout/f.txt -> ../A/f.txt"); },
         {"A"},
         false,
         false,
         [](const TestDir& dir, const join::JoinOutcome&) {
             return fs::is_symlink(dir.root() / "out/f.txt") || dir.read("A/f.txt") != "source"
                        ? "the link stayed, or the source changed"
                        : std::string();
         }},
        {"a folder listed twice",
         CopyOption::PreserveStructure,
         [](const TestDir& dir) { dir.make("A/f1=1\nA/sub/f2=2"); },
         {"A", "A"},
         true,
         false,
         [](const TestDir&, const join::JoinOutcome& outcome) {
             return countFates(outcome, Fate::Written) == 2 &&
                            countFates(outcome, Fate::AlreadyThere) == 2
                        ? std::string()
                        : "the files were written " +
                              std::to_string(countFates(outcome, Fate::Written)) + " times";
         }},
        {"a later entry's twin joined again, preserve",
         CopyOption::PreserveStructure,
         twins("A/x.txt", "B/x.txt"),
         {"A", "B"},
         false,
         true,
         holds("out/x.txt", "BBBB")},
        {"a later entry's twin joined again, flat",
         CopyOption::Flat,
         twins("A/x.txt", "B/x.txt"),
         {"A", "B"},
         false,
         true,
         holds("out/x.txt", "BBBB")},
        {"a later entry's twin in a folder of another case",
         CopyOption::PreserveStructure,
         twins("A/Dir/in.txt", "B/DIR/in.txt"),
         {"A", "B"},
         false,
         false,
         holds("out/DIR/in.txt", "BBBB")},
        {"paths longer than the system takes, preserve",
         CopyOption::PreserveStructure,
         [](const TestDir& dir) { makeDeepTree(dir.root() / "A", 22, "deep"); },
         {"A"},
         true,
         false,
         nothingFailed},
        // The walk leaves out a folder whose path is too long to reach, and names it.
        {"paths longer than the system takes, flat",
         CopyOption::Flat,
         [](const TestDir& dir) { makeDeepTree(dir.root() / "A", 22, "deep"); },
         {"A"},
         false,
         false,
         [](const TestDir&, const join::JoinOutcome& outcome) {
             return outcome.foldersNotCopied() == 1 ? std::string()
                                                    : "the deep folder was not named";
         }},
    };
    // A link into the kernel's own file system: the walk leaves it out and names it, the tree
    // copy keeps it as a link.
    for (const CopyOption option : {CopyOption::PreserveStructure, CopyOption::Flat})
        rows.push_back({"a link to /proc/self",
                        option,
                        [](const TestDir& dir) { dir.make("A/f=1\nA/self -> /proc/self"); },
                        {"A"},
                        true,
                        false,
                        [option](const TestDir&, const join::JoinOutcome& outcome) {
                            const bool flat = option == CopyOption::Flat;
                            return outcome.foldersNotCopied() == (flat ? 1U : 0U) &&
                                           countFates(outcome, Fate::Written) == 1
                                       ? std::string()
                                       : "the link was walked, or not named";
                        }});
    // What a copy keeps beside the bytes, as far as the output holds it; what it does not hold
    // is counted, and nothing fails for it. Owners and setuid bits are kept as root only.
    if (::geteuid() != 0)
        std::cout << "[ SKIPPED  ] owners and setuid bits kept: not run as root\n";
    for (const CopyOption option : {CopyOption::PreserveStructure, CopyOption::Flat})
        rows.push_back(
            {"attributes kept",
             option,
             [option](const TestDir& dir) {
                 makeCarryingTree(dir, option != CopyOption::Flat && linksHeld(dir));
             },
             {"A"},
             true,
             false,
             [option](const TestDir& dir, const join::JoinOutcome& outcome) {
                 const bool flat = option == CopyOption::Flat;
                 const fs::path output = dir.root() / "out";
                 const HeldThere held = askHeld(output);
                 const Target target = askTarget(output, false);
                 const std::vector<Carrying> carrying =
                     carriedBy(fs::is_symlink(dir.root() / "A/link"), flat);
                 // On FUSE a link keeps neither its owner nor its times, which
                 // would be set through the link at the far end (sshfs).
                 struct statfs where {};
                 const bool fuse =
                     ::statfs(output.c_str(), &where) == 0 && where.f_type == FUSE_SUPER_MAGIC;
                 std::vector<Carrying> counted = carrying;
                 for (const Carrying& one : carrying) {
                     const std::string source = flat && one.path == std::string("deep")
                                                    ? "A/sub/deep"
                                                    : (flat ? "A/" : "") + std::string(one.path);
                     if (fuse && one.path == std::string("A/link")) {
                         if (!fs::is_symlink(output / one.path))
                             return std::string("the link was not copied");
                         continue;
                     }
                     if (std::string wrong = comparedAttributes(dir.root() / source,
                                                                output / one.path, held, target);
                         !wrong.empty())
                         return wrong;
                 }
                 if (!outcome.allCopied())
                     return std::string("something was not copied");
                 std::string wrong = comparedNotKept(carrying, held, outcome.attributesNotKept);
                 if (fuse && !wrong.empty() && ::geteuid() == 0) {
                     // The link's owner is counted as not kept there.
                     join::AttributesNotKept others = outcome.attributesNotKept;
                     others.of[static_cast<std::size_t>(join::KeptAttribute::Owner)] -= 1;
                     others.items -= 1;
                     wrong = comparedNotKept(carrying, held, others);
                 }
                 return wrong;
             }});
    // An unreadable file in a tree the user owns: the dry run opens it for reading too.
    for (const CopyOption option : {CopyOption::PreserveStructure, CopyOption::Flat})
        rows.push_back({"a file the user cannot read",
                        option,
                        [](const TestDir& dir) {
                            dir.make("A/ok.txt=ok\nA/secret.txt=secret");
                            fs::permissions(dir.root() / "A/secret.txt",
                                            fs::perms::owner_read | fs::perms::owner_write);
                            for (const char* mine : {"A", "A/ok.txt", "out", ""})
                                if (::chown(dir.path(mine).c_str(), 65534, 65534) != 0)
                                    std::perror("chown");
                        },
                        {"A"},
                        false,
                        false,
                        [](const TestDir&, const join::JoinOutcome& outcome) {
                            return outcome.filesNotCopied() == 1 &&
                                           words::describe(outcome.notCopied.front().items.front())
                                                   .find("Permission denied") != std::string::npos
                                       ? std::string()
                                       : "the unreadable file was not named";
                        },
                        true});
    // Those that need a child run first, before this process starts the workers.
    std::stable_partition(rows.begin(), rows.end(), [](const auto& row) { return row.asNobody; });
    const char* targetRoot = std::getenv("BRIMVALE_REFERENCE_TARGET");
    for (const ForeseenCase& row : rows) {
        TestDir dir;
        fs::create_directories(dir.root() / "out");
        row.make(dir);
        // On the file system under test, where there is one, holding what the case put in "out";
        // a case whose output that file system cannot hold does not apply there.
        std::optional<TestDir> target;
        if (targetRoot && !row.asNobody)
            target.emplace(targetRoot);
        const fs::path output = (target ? target->root() : dir.root()) / "out";
        if (target) {
            std::error_code cannot;
            fs::copy(dir.root() / "out", output,
                     fs::copy_options::recursive | fs::copy_options::copy_symlinks, cannot);
            if (cannot)
                continue;
            fs::remove_all(dir.root() / "out");
            fs::create_directory_symlink(output, dir.root() / "out");
        }
        if (!row.asNobody) {
            EXPECT_EQ(runForeseenCase(row, dir, output), "") << row.name;
            continue;
        }
        if (::geteuid() != 0)
            continue; // an ordinary user cannot become another
        fs::create_directories(output);
        if (::chown(output.c_str(), 65534, 65534) != 0)
            std::perror("chown");
        const int code = testsupport::runInChild([&] {
            if (!testsupport::dropToNobody())
                return testsupport::CouldNotDropPrivileges;
            const std::string wrong = runForeseenCase(row, dir, output);
            std::fputs(wrong.c_str(), stderr);
            return wrong.empty() ? 0 : 1;
        });
        EXPECT_EQ(code, 0) << row.name << " (its reasons above)";
    }
}

TEST(Reference, RandomTreesAndListsInBothOptions) {
    const fs::path memory = "/dev/shm";
    TestDir sources(fs::is_directory(memory) ? memory : fs::path());
    joinRandomTrees(sources.root(), seeds(), true);
}
