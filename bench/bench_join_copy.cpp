// The join engine beside the usual tools, on data made for the purpose in a temporary folder:
//   set A, many small files in 4 source trees: preserve beside cp -r and rsync -a, flat beside
//          find | xargs cp -t and a bare copy_file_range loop;
//   set B, a few large files: preserve and flat beside cp -r;
//   set C, a deep and wide tree of folders with one file each: the folder walk alone beside
//          find -type d, both copies beside cp -r;
//   set D, a camera card: 10 folders holding the same 2,000 names of 64 KiB, flat beside
//          find | xargs cp -t;
//   set M, 200,000 small files in 200 folders: the engine's flat join alone, for its memory;
//   set A joined again into the output of a first join, in both options, beside rsync -a run a
//          second time, then again after 1 % of the sources were rewritten (with set A, or
//          alone as set G);
//   set N, joins onto a NAS: 500 small files in 25 folders and 4 files of 16 MiB, preserve, flat
//          and joined again into an sshfs mount beside cp -r and rsync -a into it and rsync -a
//          over ssh, at each link that bench/network-bench.sh sets up and names with --link.
// Every set that copies on the disk also runs the floor: what the disk does at all, the output's
// folders made and every file created and written from memory on all cores, then flushed; it reads
// no source. Set C's flat join has none: every file of its tree has one name, so that join writes
// a single file and is all walking and reading, which the floor leaves out.
// Set A's joins are also run once under strace -c -f for their system calls per copied file.
// A join ends by writing everything to the disk before "Done.", so every copying tool is timed
// with a sync after it, and the bare loop and the floor sync too.
// Every contender runs as a fresh process (the engine by re-running this program in a child
// mode), into a fresh output folder, in interleaved rounds; outputs are deleted only after all
// runs, since this disk creates files slowly soon after many were deleted. Each result is the
// engine's median time over the tool's, with the range of the per-round ratios, and the engine's
// peak memory.
// After every run, outside the timed part, the contender's output is checked against what it
// must hold, worked out from the source data by benchcheck.h; a contender whose output misses,
// adds or alters anything gets no ratio ("NOT CHECKED/FAILED") and the benchmark ends with
// status 1.
//
//     bench_join_copy [--scale S] [--runs N] [--sets ABCDGMN] [--dir FOLDER]
//                     [--ssh-key KEY --link MS,PORT,MOUNT,REMOTE ...]
//     bench_join_copy --help
#include "benchcheck.h"
#include "benchdata.h"
#include "join/run/joinrun.h"
#include "join/walk/subfolders.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <ftw.h>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using benchdata::makeSetA;
using benchdata::makeSetB;
using benchdata::makeTree;
using benchdata::numbered;
using benchdata::writeFile;

using Clock = std::chrono::steady_clock;

// ---- The child modes: one contender in a process of its own ----

// A window that only counts: yields cost nothing here, and nothing is shown.
class CountingHost : public join::JoinHost {
public:
    CountingHost(std::vector<std::string> sources, std::string output, join::CopyOption option)
        : m_sources(std::move(sources)), m_output(std::move(output)), m_option(option) {}

    void pumpEvents() override { ++pumps; }
    void showErrorReport(const join::Failure& failure, const std::string& location,
                         int line) override {
        std::fprintf(stderr, "report: number %d %sat line %d\n", failure.number(), location.c_str(),
                     line);
        ++reports;
    }
    void runRefused(join::RunRefusal) override { std::fprintf(stderr, "the run was refused\n"); }
    void copyExists(const std::string& mirrored) override {
        std::fprintf(stderr, "already there: %s\n", mirrored.c_str());
    }
    void showClosingMessage(const join::JoinOutcome&) override {}
    int sourceCount() const override { return static_cast<int>(m_sources.size()); }
    std::string sourceText(int index) const override {
        return m_sources.at(static_cast<std::size_t>(index - 1));
    }
    std::string outputFolderText() const override { return m_output; }
    join::CopyOption copyOption() const override { return m_option; }
    void setPointer(join::Pointer) override {}
    void setProgressValue(int) override {}
    void waitFor(join::BackgroundWork& work) override {
        work.wait();
        files += work.counters().files.load();
        alreadyThere += work.counters().alreadyThere.load();
    }

    long pumps = 0;
    std::uint64_t files = 0;
    std::uint64_t alreadyThere = 0;
    int reports = 0;

private:
    std::vector<std::string> m_sources;
    std::string m_output;
    join::CopyOption m_option;
};

int runJoin(join::CopyOption option, const std::string& output,
            const std::vector<std::string>& sources) {
    CountingHost host(sources, output, option);
    join::JoinRun(host).run();
    std::printf("copied %ju, already there %ju\n",
                static_cast<std::uintmax_t>(host.files - host.alreadyThere),
                static_cast<std::uintmax_t>(host.alreadyThere));
    return host.reports == 0 ? 0 : 1;
}

int runWalk(const std::vector<std::string>& sources) {
    CountingHost host({}, {}, join::CopyOption::Flat);
    join::FolderCollection folders(sources.begin(), sources.end());
    join::walkSubfolders(folders, join::Recursion::AllLevels, host);
    std::printf("walk: %zu folders\n", folders.size());
    return host.reports == 0 ? 0 : 1;
}

// The limit for a flat copy: every regular file opened, truncated and filled with
// copy_file_range, nothing else.
std::string g_loopOutput;
int g_loopFailures = 0;

int copyWithCopyFileRange(const char* path, const struct stat* status, int type, FTW*) {
    if (type != FTW_F || !S_ISREG(status->st_mode))
        return 0;
    const int in = ::open(path, O_RDONLY | O_CLOEXEC);
    const std::string target = g_loopOutput + std::strrchr(path, '/');
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    off_t left = status->st_size;
    while (in >= 0 && out >= 0 && left > 0) {
        const ssize_t done =
            ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(left), 0);
        if (done <= 0)
            break;
        left -= done;
    }
    g_loopFailures += (in < 0 || out < 0 || left != 0);
    ::close(in);
    ::close(out);
    return 0;
}

int runCopyFileRangeLoop(const std::string& output, const std::vector<std::string>& sources) {
    g_loopOutput = output;
    while (g_loopOutput.size() > 1 && g_loopOutput.back() == '/')
        g_loopOutput.pop_back();
    for (const auto& source : sources)
        ::nftw(source.c_str(), copyWithCopyFileRange, 64, FTW_PHYS);
    ::sync();
    return g_loopFailures == 0 ? 0 : 1;
}

// The floor: what this disk does at all for a copy's output. The output's folders are made, then
// every file is created and written from memory on all cores (open, write, close), then the file
// system is flushed. It reads no source: the files' bytes are read into memory before the timed
// part, which the child measures itself. `manifest` holds a line for each folder ("D", a tab, its
// path in the output) and file ("F", a tab, its path, a tab, the source that gives its bytes),
// folders before what they hold.
int runFloor(const std::string& output, const std::string& manifest) {
    struct Item {
        bool folder;
        std::string path;
        std::string bytes;
    };
    std::vector<Item> items;
    std::ifstream list(manifest);
    for (std::string line; std::getline(list, line);) {
        const std::size_t tab = line.find('\t', 2);
        Item item{line[0] == 'D', output + line.substr(2, tab - 2), {}};
        if (!item.folder) {
            std::ifstream source(line.substr(tab + 1), std::ios::binary);
            item.bytes.assign(std::istreambuf_iterator<char>(source), {});
        }
        items.push_back(std::move(item));
    }
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    std::atomic<std::size_t> next{0};
    std::atomic<int> failures{0};
    for (const Item& item : items)
        if (item.folder && ::mkdir(item.path.c_str(), 0755) != 0)
            ++failures;
    const auto write = [&] {
        for (std::size_t i; (i = next++) < items.size();) {
            const Item& item = items[i];
            if (item.folder)
                continue;
            const int file =
                ::open(item.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            const bool whole = file >= 0 && ::write(file, item.bytes.data(), item.bytes.size()) ==
                                                static_cast<ssize_t>(item.bytes.size());
            if (file < 0 || !whole || ::close(file) != 0)
                ++failures;
        }
    };
    std::vector<std::thread> threads(std::max(1u, std::thread::hardware_concurrency()) - 1);
    for (auto& thread : threads)
        thread = std::thread(write);
    write();
    for (auto& thread : threads)
        thread.join();
    const int folder = ::open(output.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || ::syncfs(folder) != 0)
        ++failures;
    ::close(folder);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const auto cpu = [](const rusage& usage) {
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    std::printf("timed %.6f %.6f\n", seconds, cpu(after) - cpu(before));
    return failures == 0 ? 0 : 1;
}

// The peak resident memory of this process, from the kernel's high-water mark of the program
// image it now runs (ru_maxrss would also count the forking parent's pages).
long peakMemoryKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmHWM:"))
            return std::atol(line.c_str() + 6);
    return -1;
}

int runChild(int argc, char** argv) {
    const std::string mode = argv[2];
    std::vector<std::string> rest(argv + 3, argv + argc);
    if (mode == "walk")
        return runWalk(rest);
    const std::string output = rest.front();
    rest.erase(rest.begin());
    if (mode == "preserve")
        return runJoin(join::CopyOption::PreserveStructure, output, rest);
    if (mode == "flat")
        return runJoin(join::CopyOption::Flat, output, rest);
    if (mode == "cfr")
        return runCopyFileRangeLoop(output, rest);
    if (mode == "floor")
        return runFloor(output, rest.at(0));
    return 2;
}

int childMain(int argc, char** argv) {
    const int result = runChild(argc, argv);
    std::printf("peak %ld\n", peakMemoryKiB());
    return result;
}

// ---- Running and timing contenders ----

struct Sample {
    double seconds;
    double cpuSeconds;  // user and system time of the process and its children
    long peakKiB;       // the engine's peak memory; -1 for the tools
    std::string report; // what the process printed
};

std::string g_self;

Sample runProcess(const std::vector<std::string>& arguments) {
    ::sync(); // the previous run's writes are not this run's cost
    int report[2];
    if (::pipe(report) != 0)
        std::abort();
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, report[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_addclose(&actions, report[0]);
    ::posix_spawn_file_actions_addclose(&actions, report[1]);
    // Started without copying this process, whose outputs to check make it large: what is timed
    // is the contender, not a copy of the benchmark.
    const auto start = Clock::now();
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        std::abort();
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(report[1]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::string output;
    char buffer[4096];
    for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(got));
    ::close(report[0]);
    const std::size_t peak = output.rfind("peak ");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "  (%s ... ended with status %d)\n", arguments[0].c_str(), status);
    const auto cpu = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    Sample sample{seconds, cpu(usage.ru_utime) + cpu(usage.ru_stime),
                  peak == std::string::npos ? -1 : std::atol(output.c_str() + peak + 5), output};
    // A child that times itself (the floor, whose reading of the data is not its cost) says so.
    if (const std::size_t timed = output.rfind("timed "); timed != std::string::npos)
        std::sscanf(output.c_str() + timed, "timed %lf %lf", &sample.seconds, &sample.cpuSeconds);
    return sample;
}

Sample runShell(const std::string& command) {
    return runProcess({"/bin/sh", "-c", command});
}

// A copying tool, timed until its copies are on the disk, as a join's are at "Done.".
Sample runTool(const std::string& command) {
    return runShell(command + "; sync");
}

Sample runEngine(const std::string& mode, const std::vector<std::string>& arguments) {
    std::vector<std::string> all{g_self, "--child", mode};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runProcess(all);
}

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// Empty when a run's output (its folder, or what it printed) is what it must be; otherwise the
// first difference.
using Check = std::function<std::string(const std::string& output, const Sample& sample)>;

// A copy whose output folder must hold `expected`.
Check holds(const benchcheck::Expected& expected,
            benchcheck::Winner winner = benchcheck::Winner::Last) {
    return [&expected, winner](const std::string& output, const Sample&) {
        return benchcheck::differences(output, expected, winner);
    };
}

// A walk that must count `folders` folders: the number the engine prints, or the lines a tool
// wrote into `listName` in its output folder.
Check countsFolders(std::uintmax_t folders, const std::string& listName = "") {
    return [folders, listName](const std::string& output, const Sample& sample) {
        std::uintmax_t counted = 0;
        if (listName.empty()) {
            const std::size_t at = sample.report.find("walk: ");
            counted = at == std::string::npos ? 0 : std::stoull(sample.report.substr(at + 6));
        } else {
            std::ifstream list(output + listName);
            for (std::string line; std::getline(list, line);)
                ++counted;
        }
        return counted == folders ? std::string()
                                  : "counted " + std::to_string(counted) + " folders, expected " +
                                        std::to_string(folders);
    };
}

void describe(const char* what, const benchcheck::Expected& expected) {
    const auto totals = benchcheck::totalsOf(expected);
    std::printf("  %s: checked against %ju files, %.1f MiB, %ju folders\n", what, totals.files,
                static_cast<double>(totals.bytes) / 1048576.0, totals.folders);
}

struct Contender {
    Contender(std::string name_, std::function<Sample(const std::string& output)> run_,
              Check check_)
        : name(std::move(name_)), run(std::move(run_)), check(std::move(check_)) {}

    std::string name;
    // Runs once into a fresh output folder (created empty before the call).
    std::function<Sample(const std::string& output)> run;
    Check check;
    std::vector<Sample> samples;
    bool failed = false;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<double> secondsOf(const Contender& contender) {
    std::vector<double> seconds;
    for (const auto& sample : contender.samples)
        seconds.push_back(sample.seconds);
    return seconds;
}

class Bench {
public:
    Bench(fs::path root, int runs) : m_root(std::move(root)), m_runs(runs) {}

    // Runs the contenders in interleaved rounds, each into its own fresh output folder. Ratios
    // pair the runs of one round.
    // `maxRuns` limits the rounds where every run writes much data.
    void measure(const std::string& set, std::vector<Contender>& contenders, int maxRuns = 1000) {
        double checking = 0;
        for (int round = 0; round < std::min(m_runs, maxRuns); ++round) {
            // Each round starts with the next contender: the first run of a round tends to be the
            // fastest on this disk, and no contender should always have that place.
            for (std::size_t k = 0; k < contenders.size(); ++k) {
                auto& contender =
                    contenders[(k + static_cast<std::size_t>(round)) % contenders.size()];
                const fs::path output =
                    m_root / "out" / (set + "-" + contender.name + "-" + std::to_string(round));
                fs::create_directories(output);
                contender.samples.push_back(contender.run(output.string() + "/"));
                if (contender.failed)
                    continue;
                const auto begin = Clock::now();
                const std::string difference =
                    contender.check(output.string() + "/", contender.samples.back());
                checking += std::chrono::duration<double>(Clock::now() - begin).count();
                if (!difference.empty()) {
                    std::printf("  CHECK FAILED: %s, set %s, run %d: %s\n", contender.name.c_str(),
                                set.c_str(), round + 1, difference.c_str());
                    contender.failed = true;
                    m_failed = true;
                }
            }
        }
        for (const auto& contender : contenders) {
            const auto seconds = secondsOf(contender);
            long peak = -1;
            std::vector<double> cpu;
            for (const auto& sample : contender.samples) {
                peak = std::max(peak, sample.peakKiB);
                cpu.push_back(sample.cpuSeconds);
            }
            char memory[32] = "";
            if (peak >= 0)
                std::snprintf(memory, sizeof memory, "  peak memory %.1f MiB", peak / 1024.0);
            std::printf("  %-22s median %7.3f s  (min %.3f, max %.3f)  cpu %6.3f s%s%s\n",
                        contender.name.c_str(), median(seconds),
                        *std::min_element(seconds.begin(), seconds.end()),
                        *std::max_element(seconds.begin(), seconds.end()), median(cpu), memory,
                        contender.failed ? "  output FAILED its check" : "");
        }
        std::printf("  outputs checked after every run, %.2f s in all\n", checking);
        std::fflush(stdout);
    }

    // The engine's time over the tool's: ratio of medians, and the range of per-round ratios.
    static void ratio(const Contender& engine, const Contender& tool, const char* target,
                      double limit) {
        if (engine.failed || tool.failed) {
            std::printf("  %-10s / %-22s = NOT CHECKED/FAILED\n", engine.name.c_str(),
                        tool.name.c_str());
            return;
        }
        std::vector<double> perRound;
        for (std::size_t i = 0; i < engine.samples.size(); ++i)
            perRound.push_back(engine.samples[i].seconds / tool.samples[i].seconds);
        const double value = median(secondsOf(engine)) / median(secondsOf(tool));
        std::printf("  %-10s / %-22s = %5.2fx  (rounds %.2f to %.2f)  target %s: %s\n",
                    engine.name.c_str(), tool.name.c_str(), value,
                    *std::min_element(perRound.begin(), perRound.end()),
                    *std::max_element(perRound.begin(), perRound.end()), target,
                    value <= limit ? "met" : "MISSED");
    }

    bool failed() const { return m_failed; }
    void markFailed() { m_failed = true; }

private:
    fs::path m_root;
    int m_runs;
    bool m_failed = false;
};

// ---- Data ----

std::string makeSetC(const fs::path& root, double scale) {
    std::mt19937 random(3);
    const std::size_t count = std::max<std::size_t>(10, static_cast<std::size_t>(20000 * scale));
    const fs::path top = root / "C" / "tree";
    // A binary tree filled level by level: about 14 levels deep, thousands of folders wide.
    const auto folders = makeTree(top, 2, 64, count);
    for (const auto& folder : folders)
        writeFile(folder / "file.txt", 200 + random() % 800, random);
    return top.string();
}

// A camera card: 10 folders, each holding IMG_0001.JPG ... IMG_2000.JPG of 64 KiB.
std::string makeSetD(const fs::path& root, double scale) {
    std::mt19937 random(4);
    const int names = std::max(2, static_cast<int>(2000 * scale));
    const fs::path top = root / "D" / "card";
    for (int folder = 0; folder < 10; ++folder) {
        const fs::path dcim = top / numbered("1", 100 + folder, "CANON");
        fs::create_directories(dcim);
        for (int k = 1; k <= names; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%04d.JPG", k);
            writeFile(dcim / name, 64 * 1024, random);
        }
    }
    return top.string();
}

// Many small files with distinct names, 1,000 to a folder.
std::string makeSetM(const fs::path& root, double scale) {
    std::mt19937 random(5);
    const int files = std::max(1000, static_cast<int>(200000 * scale));
    const fs::path top = root / "M" / "many";
    for (int k = 0; k < files; ++k) {
        const fs::path folder = top / numbered("folder", k / 1000);
        if (k % 1000 == 0)
            fs::create_directories(folder);
        writeFile(folder / numbered("file", k, ".txt"), 100, random);
    }
    return top.string();
}

std::string joinedQuoted(const std::vector<std::string>& paths) {
    std::string text;
    for (const auto& path : paths)
        text += quoted(path) + " ";
    return text;
}

std::vector<std::string> withSeparator(std::vector<std::string> paths) {
    for (auto& path : paths)
        path += "/";
    return paths;
}

// A join's arguments: its output folder, then the sources, each with a separator at its end.
std::vector<std::string> engineArguments(const std::string& output,
                                         const std::vector<std::string>& sources) {
    std::vector<std::string> arguments{output};
    for (const auto& source : withSeparator(sources))
        arguments.push_back(source);
    return arguments;
}

// How many files a join run printed that it copied anew; -1 when it printed none.
long copiedBy(const Sample& sample) {
    const std::size_t at = sample.report.rfind("copied ");
    return at == std::string::npos ? -1 : std::atol(sample.report.c_str() + at + 7);
}

// ---- The floor, and the system calls of a join ----

// The floor as a contender named `name`, writing what `expected` holds; its list is written once,
// beside the data, as `file`.
Contender floorFor(const fs::path& root, const std::string& file, const std::string& name,
                   const benchcheck::Expected& expected) {
    const fs::path manifest = root / ("floor-" + file + ".txt");
    std::ofstream list(manifest);
    for (const auto& [path, item] : expected)
        list << (item.folder ? "D\t" + path : "F\t" + path + "\t" + item.from.back().first.string())
             << "\n";
    return {name,
            [manifest](const std::string& out) {
                return runEngine("floor", {out, manifest.string()});
            },
            holds(expected)};
}

// The system calls of one join, counted by strace -c -f in a run of its own (not timed), over
// the files it copied. Negative when strace is missing or the count cannot be read.
double systemCallsPerFile(const fs::path& root, const std::string& mode,
                          const std::vector<std::string>& arguments) {
    const fs::path output = root / "out" / ("strace-" + mode);
    const fs::path counts = root / ("strace-" + mode + ".txt");
    fs::create_directories(output);
    std::vector<std::string> all{"/usr/bin/strace",    "-c",   "-f",      "-o",
                                 counts.string(),      g_self, "--child", mode,
                                 output.string() + "/"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    if (::access(all[0].c_str(), X_OK) != 0)
        return -1;
    const Sample sample = runProcess(all);
    std::ifstream table(counts);
    long calls = -1;
    for (std::string line; std::getline(table, line);) {
        // "100.00    0.123456           4     29596       123 total"
        if (line.size() > 6 && line.ends_with(" total")) {
            double percent = 0, seconds = 0;
            long perCall = 0;
            std::sscanf(line.c_str(), "%lf %lf %ld %ld", &percent, &seconds, &perCall, &calls);
        }
    }
    const long copied = copiedBy(sample);
    return calls > 0 && copied > 0 ? static_cast<double>(calls) / static_cast<double>(copied) : -1;
}

// `limit` 0: no target, for reference.
void printSystemCalls(const char* mode, double perFile, double limit) {
    if (perFile < 0)
        std::printf("  engine %-8s system calls per copied file: not counted (strace -c failed)\n",
                    mode);
    else if (limit <= 0)
        std::printf("  engine %-8s system calls per copied file = %5.2f  target none, for "
                    "reference\n",
                    mode, perFile);
    else
        std::printf("  engine %-8s system calls per copied file = %5.2f  target <= %.0f: %s\n",
                    mode, perFile, limit, perFile <= limit ? "met" : "MISSED");
}

// Set A joined again into the output of a first join, beside rsync -a run a second time; then,
// with 1 % of the sources rewritten, joined once more: exactly the rewritten files that a join
// leaves must be copied.
void joinAgain(Bench& bench, const fs::path& root, double scale, int runs) {
    const auto sources = makeSetA(root / "again", scale);
    std::printf("\nSet A joined again into the first join's output\n");
    const std::string rsync = "rsync -a " + joinedQuoted(sources);
    struct Option {
        const char* mode;
        benchcheck::Expected expected;
        std::vector<double> first, again, rsyncAgain;
        fs::path last;
    };
    Option options[] = {{"preserve", benchcheck::expectPreserved(sources), {}, {}, {}, {}},
                        {"flat", benchcheck::expectFlat(sources), {}, {}, {}, {}}};
    bool failed = false;
    const auto fail = [&](const std::string& what) {
        std::printf("  CHECK FAILED: %s\n", what.c_str());
        failed = true;
    };
    for (int round = 0; round < runs; ++round) {
        for (Option& option : options) {
            const fs::path out =
                root / "out" / ("again-" + std::string(option.mode) + "-" + std::to_string(round));
            const fs::path rsyncOut = out.string() + "-rsync";
            fs::create_directories(out);
            fs::create_directories(rsyncOut);
            const Sample first =
                runEngine(option.mode, engineArguments(out.string() + "/", sources));
            const Sample again =
                runEngine(option.mode, engineArguments(out.string() + "/", sources));
            runTool(rsync + quoted(rsyncOut.string() + "/"));
            const Sample rsyncAgain = runTool(rsync + quoted(rsyncOut.string() + "/"));
            option.first.push_back(first.seconds);
            option.again.push_back(again.seconds);
            option.rsyncAgain.push_back(rsyncAgain.seconds);
            option.last = out;
            if (const std::string difference = benchcheck::differences(
                    out.string() + "/", option.expected, benchcheck::Winner::Last);
                !difference.empty())
                fail(std::string(option.mode) + " joined again: " + difference);
            if (copiedBy(again) != 0)
                fail(std::string(option.mode) + " joined again copied " +
                     std::to_string(copiedBy(again)) + " files, not 0");
        }
    }
    for (const Option& option : options) {
        const double again = median(option.again);
        std::printf("  engine %-8s first join %.3f s, joined again %.3f s; rsync -a again %.3f s\n",
                    option.mode, median(option.first), again, median(option.rsyncAgain));
        if (failed) {
            std::printf("  %s joined again = NOT CHECKED/FAILED\n", option.mode);
            continue;
        }
        const double overFirst = again / median(option.first);
        const double overRsync = again / median(option.rsyncAgain);
        std::printf("  %-8s again / first join     = %5.3fx  target <= 0.10x: %s\n", option.mode,
                    overFirst, overFirst <= 0.10 ? "met" : "MISSED");
        std::printf("  %-8s again / rsync -a again = %5.2fx  target <= 1.00x: %s\n", option.mode,
                    overRsync, overRsync <= 1.0 ? "met" : "MISSED");
    }

    // 1 % of the source files rewritten: new contents of the same size, a new time.
    std::vector<fs::path> files;
    for (const auto& source : sources)
        for (const auto& found : fs::recursive_directory_iterator(source))
            if (found.is_regular_file())
                files.push_back(found.path());
    std::sort(files.begin(), files.end());
    std::mt19937 random(6);
    std::shuffle(files.begin(), files.end(), random);
    files.resize(std::max<std::size_t>(1, files.size() / 100));
    for (const auto& file : files) {
        std::string content(fs::file_size(file), '\0');
        for (char& byte : content)
            byte = static_cast<char>(random());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
        fs::last_write_time(file, fs::file_time_type::clock::now() + std::chrono::seconds(5));
    }
    const std::set<fs::path> rewritten(files.begin(), files.end());
    for (Option& option : options) {
        const bool flat = std::string(option.mode) == "flat";
        const auto expected =
            flat ? benchcheck::expectFlat(sources) : benchcheck::expectPreserved(sources);
        // What a join leaves of the rewritten files: all of them whole, only the last of each
        // name flat.
        long leaves = 0;
        for (const auto& [path, item] : expected)
            leaves += !item.folder && rewritten.contains(item.from.back().first);
        const Sample again =
            runEngine(option.mode, engineArguments(option.last.string() + "/", sources));
        const std::string difference =
            benchcheck::differences(option.last.string() + "/", expected, benchcheck::Winner::Last);
        std::printf("  %-8s %zu sources rewritten: joined again in %.3f s, copied %ld (%ld "
                    "expected)%s\n",
                    option.mode, files.size(), again.seconds, copiedBy(again), leaves,
                    difference.empty() ? "" : "; output FAILED its check");
        if (!difference.empty())
            fail(std::string(option.mode) + " after rewriting: " + difference);
        if (copiedBy(again) != leaves)
            fail(std::string(option.mode) + " after rewriting copied " +
                 std::to_string(copiedBy(again)) + " files, not " + std::to_string(leaves));
    }
    if (failed)
        bench.markFailed();
    std::fflush(stdout);
}

// ---- Set N: joins onto a NAS, through sshfs over a link with a round trip of its own ----

// One link to the benchmark's own sshd on this machine, as bench/network-bench.sh sets it up: the
// round trip its delay proxy holds every byte for, the proxy's port, the sshfs mount through it,
// and the folder that mount shows, as the server writes it here.
struct Link {
    double roundTripMs = 0;
    std::string port;
    fs::path mount;
    fs::path remote;
};

// "MS,PORT,MOUNT,REMOTE"; a round trip of 0 when the text is not of that form.
Link parseLink(const std::string& text) {
    Link link;
    const std::size_t first = text.find(',');
    const std::size_t second = text.find(',', first + 1);
    const std::size_t third = text.find(',', second + 1);
    if (third == std::string::npos)
        return link;
    link.roundTripMs = std::atof(text.substr(0, first).c_str());
    link.port = text.substr(first + 1, second - first - 1);
    link.mount = text.substr(second + 1, third - second - 1);
    link.remote = text.substr(third + 1);
    return link;
}

// The round trip as a file call on the mount meets it: the median time of a stat of a name that
// is not there, which sshfs asks the server each time (it keeps no answer for a missing name).
double measuredRoundTripMs(const fs::path& mount) {
    static int asked = 0;
    std::vector<double> milliseconds;
    for (int i = 0; i < 21; ++i) {
        const std::string name = (mount / numbered("no-such-name-", asked++)).string();
        struct stat status {};
        const auto start = Clock::now();
        ::stat(name.c_str(), &status);
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return median(milliseconds);
}

// 5 sources of 5 folders, 20 files of 1 to 16 KiB in each folder at full scale; no name repeats,
// so that a flat join writes as many files as a copy of the trees.
std::vector<std::string> makeSetN(const fs::path& root, double scale) {
    std::mt19937 random(7);
    const int filesPerFolder = std::max(1, static_cast<int>(20 * scale));
    std::vector<std::string> sources;
    for (int source = 0; source < 5; ++source) {
        const fs::path top = root / "N" / numbered("share", source);
        for (int folder = 0; folder < 5; ++folder) {
            const fs::path below = top / numbered("folder", folder);
            fs::create_directories(below);
            for (int k = 0; k < filesPerFolder; ++k)
                writeFile(below / numbered("note", (source * 5 + folder) * 1000L + k, ".txt"),
                          1024 + random() % (15 * 1024 + 1), random);
        }
        sources.push_back(top.string());
    }
    return sources;
}

// The outputs are checked where the server wrote them, on this machine's disk: the same bytes
// the mount shows once every file written through it is closed, read without the link.
std::string onServer(const Link& link, const std::string& output) {
    const fs::path below =
        fs::path(benchcheck::withoutTrailingSeparators(output)).lexically_relative(link.mount);
    return (link.remote / below).string() + "/";
}

Check holdsOnServer(const Link& link, const benchcheck::Expected& expected) {
    return [&link, &expected](const std::string& output, const Sample&) {
        return benchcheck::differences(onServer(link, output), expected, benchcheck::Winner::Last);
    };
}

// A join again must also copy nothing.
Check holdsOnServerCopyingNothing(const Link& link, const benchcheck::Expected& expected) {
    return [&link, &expected](const std::string& output, const Sample& sample) {
        const std::string difference =
            benchcheck::differences(onServer(link, output), expected, benchcheck::Winner::Last);
        if (!difference.empty() || copiedBy(sample) == 0)
            return difference;
        return "joined again, it copied " + std::to_string(copiedBy(sample)) + " files, not 0";
    };
}

// The tools onto the mount: cp -r and rsync -a, each followed by a flush of the mount's file
// system, as a join flushes the output's at its end; and rsync -a over ssh through the same link,
// straight to the server's disk, as the pace of the link itself.
std::vector<Contender> toolsOnto(const Link& link, const std::string& sshKey,
                                 const std::vector<std::string>& sources,
                                 const benchcheck::Expected& expected) {
    const std::string ssh = "ssh -F /dev/null -p " + link.port + " -i " + quoted(sshKey) +
                            " -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null"
                            " -o BatchMode=yes -o IdentitiesOnly=yes -o LogLevel=ERROR";
    return {
        {"cp -r",
         [sources](const std::string& out) {
             return runShell("cp -r " + joinedQuoted(sources) + quoted(out) + " && sync -f " +
                             quoted(out));
         },
         holdsOnServer(link, expected)},
        {"rsync -a",
         [sources](const std::string& out) {
             return runShell("rsync -a " + joinedQuoted(sources) + quoted(out) + " && sync -f " +
                             quoted(out));
         },
         holdsOnServer(link, expected)},
        {"rsync -a over ssh",
         [&link, ssh, sources](const std::string& out) {
             return runShell("rsync -a -e " + quoted(ssh) + " " + joinedQuoted(sources) +
                             quoted("root@127.0.0.1:" + onServer(link, out)));
         },
         holdsOnServer(link, expected)},
    };
}

// Set N at one link: the small set joined preserving and flat, and joined again with nothing
// changed, then the large files, each beside cp -r, rsync -a and rsync over ssh. False when an
// output failed its check.
bool joinOntoNas(const fs::path& root, double scale, int runs, const Link& link,
                 const std::string& sshKey) {
    const std::string label = numbered("N", std::lround(link.roundTripMs), "ms");
    const auto sources = makeSetN(root / label, scale);
    runShell("find " + joinedQuoted(sources) + " -type f -exec cat {} + >/dev/null");
    std::printf("\nSet N at %.0f ms round trip (measured %.1f ms: a stat on the mount): %d small "
                "files (1 to 16 KiB) in 25 folders of 5 shares, joined onto sshfs\n",
                link.roundTripMs, measuredRoundTripMs(link.mount),
                25 * std::max(1, static_cast<int>(20 * scale)));
    const auto preserved = benchcheck::expectPreserved(sources);
    const auto flattened = benchcheck::expectFlat(sources);
    describe("preserve", preserved);
    describe("flat", flattened);
    Bench bench(link.mount, runs);
    std::vector<Contender> small{
        {"engine preserve",
         [&](const std::string& out) {
             return runEngine("preserve", engineArguments(out, sources));
         },
         holdsOnServer(link, preserved)},
        {"engine flat",
         [&](const std::string& out) { return runEngine("flat", engineArguments(out, sources)); },
         holdsOnServer(link, flattened)},
        // Timed: the second join, into the output of the first, with nothing changed.
        {"engine joined again",
         [&](const std::string& out) {
             runEngine("preserve", engineArguments(out, sources));
             return runEngine("preserve", engineArguments(out, sources));
         },
         holdsOnServerCopyingNothing(link, preserved)},
    };
    for (auto& tool : toolsOnto(link, sshKey, sources, preserved))
        small.push_back(std::move(tool));
    bench.measure(label + "-small", small, 3);
    Bench::ratio(small[0], small[3], "<= 0.20x", 0.20);
    Bench::ratio(small[1], small[3], "<= 0.60x", 0.60);
    Bench::ratio(small[2], small[3], "<= 0.05x", 0.05);
    Bench::ratio(small[0], small[4], "none, for reference", 1e9);
    Bench::ratio(small[0], small[5], "none, for reference", 1e9);

    // 4 files of 16 MiB at full scale: set B's data at a sixteenth of its size.
    const std::string big = makeSetB(root / label, scale / 16);
    runShell("cat " + quoted(big) + "/* >/dev/null");
    std::printf("  and 4 large files of %.0f MiB\n",
                static_cast<double>(fs::file_size(fs::path(big) / "large0.bin")) / 1048576.0);
    const auto large = benchcheck::expectPreserved({big});
    describe("preserve", large);
    std::vector<Contender> copies{
        {"engine preserve",
         [&](const std::string& out) {
             return runEngine("preserve", {out, big + "/"});
         },
         holdsOnServer(link, large)},
    };
    for (auto& tool : toolsOnto(link, sshKey, {big}, large))
        copies.push_back(std::move(tool));
    bench.measure(label + "-large", copies, 3);
    Bench::ratio(copies[0], copies[1], "<= 1.00x", 1.00);
    Bench::ratio(copies[0], copies[2], "none, for reference", 1e9);
    Bench::ratio(copies[0], copies[3], "none, for reference", 1e9);
    return !bench.failed();
}

} // namespace

// Runs the chosen sets with their data and outputs under `root`. True when every output was
// what it must be.
bool runSets(const fs::path& root, double scale, int runs, const std::string& sets,
             const std::vector<Link>& links, const std::string& sshKey) {
    Bench bench(root, runs);

    if (sets.find('A') != std::string::npos) {
        const auto sources = makeSetA(root, scale);
        runShell("find " + joinedQuoted(sources) + " -type f -exec cat {} + >/dev/null");
        std::printf("\nSet A: %d small files (1 to 8 KiB) in 4 trees, 5 levels deep\n",
                    4 * std::max(4, static_cast<int>(5000 * scale)));
        // A name repeats only across sources, never within one: every contender, the tools too,
        // leaves the file of the last source, as a join does.
        const auto preserved = benchcheck::expectPreserved(sources);
        const auto flattened = benchcheck::expectFlat(sources);
        describe("preserve", preserved);
        describe("flat", flattened);
        std::vector<Contender> preserve{
            {"engine preserve",
             [&](const std::string& out) {
                 return runEngine("preserve", engineArguments(out, sources));
             },
             holds(preserved)},
            {"cp -r",
             [&](const std::string& out) {
                 return runTool("cp -r " + joinedQuoted(sources) + quoted(out));
             },
             holds(preserved)},
            {"rsync -a",
             [&](const std::string& out) {
                 return runTool("rsync -a " + joinedQuoted(sources) + quoted(out));
             },
             holds(preserved)},
            floorFor(root, "A-preserve", "floor preserve", preserved),
        };
        bench.measure("A", preserve);
        Bench::ratio(preserve[0], preserve[3], "<= 1.15x", 1.15);
        Bench::ratio(preserve[0], preserve[1], "<= 0.65x", 0.65);
        Bench::ratio(preserve[0], preserve[2], "< 1.00x", 0.999);

        std::vector<Contender> flat{
            {"engine flat",
             [&](const std::string& out) {
                 return runEngine("flat", engineArguments(out, sources));
             },
             holds(flattened)},
            {"find | xargs cp -t",
             [&](const std::string& out) {
                 return runTool("for s in " + joinedQuoted(sources) +
                                "; do find \"$s\" -type f -print0 | xargs -0 cp -t " + quoted(out) +
                                "; done");
             },
             holds(flattened)},
            {"copy_file_range loop",
             [&](const std::string& out) {
                 std::vector<std::string> args{out};
                 args.insert(args.end(), sources.begin(), sources.end());
                 return runEngine("cfr", args);
             },
             holds(flattened)},
            floorFor(root, "A-flat", "floor flat", flattened),
        };
        bench.measure("A", flat);
        Bench::ratio(flat[0], flat[3], "<= 1.15x", 1.15);
        Bench::ratio(flat[0], flat[1], "<= 0.85x", 0.85);
        Bench::ratio(flat[0], flat[2], "<= 1.00x", 1.00);

        const std::vector<std::string> arguments = withSeparator(sources);
        printSystemCalls("preserve", systemCallsPerFile(root, "preserve", arguments), 7);
        printSystemCalls("flat", systemCallsPerFile(root, "flat", arguments), 0);
    }

    if (sets.find('A') != std::string::npos || sets.find('G') != std::string::npos)
        joinAgain(bench, root, scale, runs);

    if (sets.find('B') != std::string::npos) {
        const std::string big = makeSetB(root, scale);
        runShell("cat " + quoted(big) + "/* >/dev/null");
        std::printf("\nSet B: 4 large files of %.0f MiB (at most 3 runs each)\n",
                    std::max<std::size_t>(1 << 20, static_cast<std::size_t>((256 << 20) * scale)) /
                        1048576.0);
        const auto preserved = benchcheck::expectPreserved({big});
        const auto flattened = benchcheck::expectFlat({big});
        describe("preserve", preserved);
        describe("flat", flattened);
        std::vector<Contender> large{
            {"engine preserve",
             [&](const std::string& out) {
                 return runEngine("preserve", {out, big + "/"});
             },
             holds(preserved)},
            {"engine flat",
             [&](const std::string& out) {
                 return runEngine("flat", {out, big + "/"});
             },
             holds(flattened)},
            {"cp -r",
             [&](const std::string& out) {
                 return runTool("cp -r " + quoted(big) + " " + quoted(out));
             },
             holds(preserved)},
            floorFor(root, "B", "floor", preserved),
        };
        bench.measure("B", large, 3);
        Bench::ratio(large[0], large[3], "none, for reference", 1e9);
        Bench::ratio(large[1], large[3], "none, for reference", 1e9);
        Bench::ratio(large[0], large[2], "<= 1.05x", 1.05);
        Bench::ratio(large[1], large[2], "<= 1.05x", 1.05);
    }

    if (sets.find('C') != std::string::npos) {
        const std::string tree = makeSetC(root, scale);
        runShell("find " + quoted(tree) + " -type f -exec cat {} + >/dev/null");
        std::printf("\nSet C: %zu folders with one file each\n",
                    std::max<std::size_t>(10, static_cast<std::size_t>(20000 * scale)));
        const auto preserved = benchcheck::expectPreserved({tree});
        const auto flattened = benchcheck::expectFlat({tree});
        const std::uintmax_t folders = benchcheck::totalsOf(preserved).folders;
        describe("preserve", preserved);
        describe("flat", flattened);
        std::printf("  (every file is named file.txt: a flat join writes one file, so it has no "
                    "floor)\n");
        std::vector<Contender> walk{
            {"engine walk", [&](const std::string&) { return runEngine("walk", {tree + "/"}); },
             countsFolders(folders)},
            {"find -type d",
             // Its list goes to a file, not to /dev/null, so that it can be counted.
             [&](const std::string& out) {
                 return runShell("find " + quoted(tree) + " -type d >" + quoted(out) +
                                 "folders.txt");
             },
             countsFolders(folders, "folders.txt")},
        };
        bench.measure("C", walk);
        Bench::ratio(walk[0], walk[1], "<= 1.20x", 1.20);
        std::vector<Contender> copies{
            {"engine preserve",
             [&](const std::string& out) {
                 return runEngine("preserve", {out, tree + "/"});
             },
             holds(preserved)},
            {"engine flat",
             [&](const std::string& out) {
                 return runEngine("flat", {out, tree + "/"});
             },
             holds(flattened)},
            {"cp -r",
             [&](const std::string& out) {
                 return runTool("cp -r " + quoted(tree) + " " + quoted(out));
             },
             holds(preserved)},
            floorFor(root, "C-preserve", "floor preserve", preserved),
        };
        bench.measure("C", copies);
        Bench::ratio(copies[0], copies[3], "<= 1.25x", 1.25);
        Bench::ratio(copies[0], copies[2], "<= 0.80x", 0.80);
        Bench::ratio(copies[1], copies[2], "none, for reference", 1e9);
    }

    if (sets.find('D') != std::string::npos) {
        const std::string card = makeSetD(root, scale);
        std::printf("\nSet D: a camera card, 10 folders of the same %d names of 64 KiB\n",
                    std::max(2, static_cast<int>(2000 * scale)));
        const auto flattened = benchcheck::expectFlat({card});
        describe("flat", flattened);
        std::vector<Contender> camera{
            {"engine flat",
             [&](const std::string& out) {
                 return runEngine("flat", {out, card + "/"});
             },
             holds(flattened)},
            {"find | xargs cp -t",
             [&](const std::string& out) {
                 // cp complains of each name it has copied already in the same call.
                 return runTool("find " + quoted(card) + " -type f -print0 | xargs -0 cp -t " +
                                quoted(out) + " 2>/dev/null");
             },
             // find lists in the directory's own order and cp keeps the first file of a name in
             // one call, so which of the 10 files of a name is left differs from a join's by
             // design: any one of them, whole, passes.
             holds(flattened, benchcheck::Winner::AnyOfTheName)},
            floorFor(root, "D", "floor", flattened),
        };
        bench.measure("D", camera, 3);
        Bench::ratio(camera[0], camera[2], "none, for reference", 1e9);
        Bench::ratio(camera[0], camera[1], "<= 0.30x", 0.30);
    }

    if (sets.find('M') != std::string::npos) {
        const std::string many = makeSetM(root, scale);
        std::printf("\nSet M: %d small files in %d folders, flat\n",
                    std::max(1000, static_cast<int>(200000 * scale)),
                    std::max(1000, static_cast<int>(200000 * scale)) / 1000);
        const auto flattened = benchcheck::expectFlat({many});
        describe("flat", flattened);
        std::vector<Contender> flat{
            {"engine flat",
             [&](const std::string& out) {
                 return runEngine("flat", {out, many + "/"});
             },
             holds(flattened)},
            floorFor(root, "M", "floor", flattened),
        };
        bench.measure("M", flat, 1);
        Bench::ratio(flat[0], flat[1], "none, for reference", 1e9);
    }

    bool passed = !bench.failed();
    if (sets.find('N') != std::string::npos) {
        if (links.empty())
            std::printf("\nSet N skipped: bench/network-bench.sh runs it, through the sshd, links "
                        "and mounts it sets up\n");
        for (const Link& link : links)
            passed = joinOntoNas(root, scale, runs, link, sshKey) && passed;
    }
    return passed;
}

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--child")
        return childMain(argc, argv);

    double scale = 1.0;
    int runs = 6;
    std::string sets = "ABCDM";
    std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    std::vector<Link> links;
    std::string sshKey;
    // Anything but these options, each with its value, says how to run it and runs nothing: a
    // full run takes long and much room.
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i];
        const bool known = option == "--scale" || option == "--runs" || option == "--sets" ||
                           option == "--dir" || option == "--link" || option == "--ssh-key";
        if (!known || i + 1 == argc) {
            std::printf(
                "Usage: bench_join_copy [--scale S] [--runs N] [--sets ABCDGMN] [--dir FOLDER]\n"
                "                       [--ssh-key KEY --link MS,PORT,MOUNT,REMOTE ...]\n"
                "  --scale S   shrink every data set (0.1 gives a quick run; default 1)\n"
                "  --runs N    runs per contender (default 6)\n"
                "  --sets ...  the sets to run, as letters (default ABCDM; G: set A joined again\n"
                "              alone; N: onto a NAS, through the links bench/network-bench.sh\n"
                "              sets up)\n"
                "  --dir DIR   the folder for the data (default TMPDIR or /tmp)\n");
            return option == "--help" ? 0 : 2;
        }
        if (option == "--scale")
            scale = std::atof(argv[i + 1]);
        else if (option == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--sets")
            sets = argv[i + 1];
        else if (option == "--dir")
            base = argv[i + 1];
        else if (option == "--link")
            links.push_back(parseLink(argv[i + 1]));
        else
            sshKey = argv[i + 1];
    }
    for (const Link& link : links) {
        if (link.roundTripMs <= 0) {
            std::fprintf(stderr, "bench_join_copy: --link takes MS,PORT,MOUNT,REMOTE\n");
            return 2;
        }
    }
    g_self = fs::canonical("/proc/self/exe").string();
    std::string pattern = (fs::path(base) / "brimvale-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root = pattern;
    std::printf("Brimvale join engine benchmark: scale %.3g, %d runs per contender, data in %s\n",
                scale, runs, root.c_str());
    if (sets.find_first_not_of('N') != std::string::npos)
        std::printf(
            "The floor beside each copy is what this disk does at all: the output's folders made,\n"
            "then every file created and written from memory on all cores and the file system\n"
            "flushed. It leaves out reading the sources (their bytes are read into memory\n"
            "before it is timed), which every copy must do.\n");
    // A set that cannot go on (no room left for its outputs, above all) ends the benchmark with
    // its reason, and the data still goes.
    bool passed = false;
    bool stopped = false;
    try {
        passed = runSets(root, scale, runs, sets, links, sshKey);
    } catch (const std::exception& error) {
        std::printf("\nThe benchmark stopped: %s\n", error.what());
        std::fflush(stdout);
        stopped = true;
    }
    std::printf("\nRemoving %s ...\n", root.c_str());
    std::error_code ignored;
    fs::remove_all(root, ignored);
    if (!passed && !stopped)
        std::printf("Some output FAILED its check: those ratios are not given.\n");
    return passed ? 0 : 1;
}
