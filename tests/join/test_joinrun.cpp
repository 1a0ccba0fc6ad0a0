#include "fakejoinhost.h"
#include "join/fs/posixfs.h"
#include "join/run/joinrun.h"
#include "join/run/runprogress.h"
#include "join/tasks/runcontrol.h"
#include "join/tasks/workers.h"
#include "support/testdir.h"
#include "test_childprocess.h"
#include "words/words.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace join;
using testsupport::FakeJoinHost;
using testsupport::listTree;
using testsupport::TestDir;
namespace fs = std::filesystem;

namespace {

const std::string Location = "in Brimvale2021/08/31.Form1.PushButton2_Click ";

using Events = std::vector<std::string>;

// The events one entry adds before its copy: hourglass, progress, status text.
Events entryEvents(int percent, const std::string& text) {
    return {"pointer 11", "progress " + std::to_string(percent), "text " + text};
}

// After copies: the bar at the end of every entry while the writes are finished on the disk,
// then the bar is reset and "Done." shown.
Events closingEvents() {
    return {"progress 100",      "text Finishing writes to disk...",
            "pointer 0",         "progress 0",
            "text Progress Bar", "message Done."};
}

Events concat(std::initializer_list<Events> parts) {
    Events all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace

TEST(JoinRun, ValidationMessagesInOrder) {
    TestDir dir;
    dir.make("src/f=f\nafile=x\nout/");
    struct Row {
        const char* name;
        std::vector<std::string> sources;
        std::string output;
        const char* message;
    };
    const std::string noFolder = "Folder does not exist. Please select another folder.";
    const Row rows[] = {
        {"empty list and missing output", {}, dir.path("missing"), "No folders added."},
        {"empty list and good output", {}, dir.path("out"), "No folders added."},
        {"missing output", {dir.path("src", true)}, dir.path("missing", true), noFolder.c_str()},
        {"output names a file", {dir.path("src", true)}, dir.path("afile"), noFolder.c_str()},
        {"empty output text", {dir.path("src", true)}, "", noFolder.c_str()},
    };
    for (const Row& row : rows) {
        FakeJoinHost host;
        host.sources = row.sources;
        host.output = row.output;
        host.option = CopyOption::Flat;
        JoinRun run(host);
        run.run();
        EXPECT_EQ(host.events, Events{std::string("message ") + row.message}) << row.name;
        EXPECT_FALSE(run.JoinRunning()) << row.name;
        EXPECT_EQ(host.pumps, 0) << row.name;
    }
    EXPECT_FALSE(dir.exists("missing"));
    EXPECT_EQ(listTree(dir.root() / "out"), "");
}

TEST(JoinRun, FourEntriesShowProgressThenResetThenDone) {
    TestDir dir;
    dir.make("Photos/2019/a=a\nPhotos/2020/b=b\nc/c=c\nd/d=d\nout/");
    FakeJoinHost host;
    host.sources = {dir.path("Photos/2019"), dir.path("Photos/2020", true), dir.path("c"),
                    dir.path("d", true)};
    host.output = dir.path("out", true);
    host.option = CopyOption::Flat;
    JoinRun run(host);
    run.run();
    EXPECT_EQ(host.events,
              concat({entryEvents(0, "Entry 1 of 4: 2019"), entryEvents(25, "Entry 2 of 4: 2020"),
                      entryEvents(50, "Entry 3 of 4: c"), entryEvents(75, "Entry 4 of 4: d"),
                      closingEvents()}));
    EXPECT_EQ(listTree(dir.root() / "out"), "a\nb\nc\nd\n");
    EXPECT_FALSE(run.JoinRunning());
}

// "." and ".." are resolved in an entry: it names the folder it leads to, whose own name the
// copy, the existing-copy check and the progress text take (also where the entry ends with "/").
TEST(JoinRun, EntriesWithDotsNameTheFolderTheyLeadTo) {
    struct Row {
        const char* entry;
        CopyOption option;
        const char* expected; // listTree of out
        const char* text;
    };
    const Row rows[] = {
        {"data/src/x/../", CopyOption::PreserveStructure, "src/f\nsrc/x/g\n", "Entry 1 of 1: src"},
        {"data/src/x/..", CopyOption::PreserveStructure, "src/f\nsrc/x/g\n", "Entry 1 of 1: src"},
        {"data/beta/./", CopyOption::PreserveStructure, "beta/b\n", "Entry 1 of 1: beta"},
        {"data/./beta/.", CopyOption::Flat, "b\n", "Entry 1 of 1: beta"},
    };
    for (const Row& row : rows) {
        TestDir dir;
        dir.make("data/src/f=f\ndata/src/x/g=g\ndata/beta/b=b\nout/");
        FakeJoinHost host;
        host.sources = {dir.path(row.entry)};
        host.output = dir.path("out", true);
        host.option = row.option;
        JoinRun(host).run();
        EXPECT_EQ(listTree(dir.root() / "out"), row.expected) << row.entry;
        EXPECT_EQ(host.progressTexts.front(), row.text) << row.entry;
        EXPECT_EQ(host.messages, std::vector<std::string>{"Done."}) << row.entry;
    }
}

// The bar only moves forward: as an entry begins it stays where the previous one ended, a copy's
// bytes taken back or entries added to the list do not move it back, and a file already there
// counts as done. Its text says what is known: the entry, then what is counted.
TEST(JoinRun, TheBarMovesForwardOnlyAndSaysWhatIsCounted) {
    TestDir dir;
    dir.write("a/one", std::string(3000, '1'));
    dir.write("a/two", std::string(1000, '2'));
    dir.write("b/three", std::string(4096, '3'));
    struct ShowingHost : FakeJoinHost {
        bool showsCopyProgress() const override { return true; }
    } host;
    RunProgress progress(host);
    progress.beginRun({dir.path("a", true), dir.path("b")}, CopyOption::PreserveStructure);
    CopyCounters copied;
    struct Shown {
        int percent;
        std::string text;
    };
    const auto begin = [&](int entry, int count, const std::string& name) {
        const RunFigures& figures = progress.beginEntry(entry, count, name);
        return Shown{figures.percent, words::progressText(figures)};
    };
    // Shown as the window's timer would, until what the entry has to copy is counted.
    const auto show = [&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        do {
            progress.show(copied);
            if (!host.progressTexts.back().ends_with(" so far"))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < until);
        return Shown{host.progressValues.back(), host.progressTexts.back()};
    };
    const struct Row {
        const char* step;
        std::function<Shown()> act;
        int percent;
        std::string text;
    } rows[] = {
        {"the first entry begins", [&] { return begin(1, 2, "a"); }, 0, "Entry 1 of 2: a"},
        {"its copy begins",
         [&] {
             progress.countTree(dir.path("a"));
             return show();
         },
         0, "Entry 1 of 2: a \u2014 0 of 2 files, 0 bytes of 3.9 KiB"},
        {"a file is written",
         [&] {
             copied.files = 1;
             copied.bytes = 3000;
             return show();
         },
         38, "Entry 1 of 2: a \u2014 1 of 2 files, 2.9 KiB of 3.9 KiB"},
        {"its bytes are taken back",
         [&] {
             copied.bytes = 0;
             return show();
         },
         38, "Entry 1 of 2: a \u2014 1 of 2 files, 0 bytes of 3.9 KiB"},
        {"the next entry begins, the list grown",
         [&] {
             progress.endCopy(copied);
             return begin(2, 3, "b");
         },
         38, "Entry 2 of 3: b"},
        {"its file is already there",
         [&] {
             progress.countTree(dir.path("b"));
             copied.files = 1;
             copied.alreadyThere = 1;
             copied.bytesAlreadyThere = 4096;
             return show();
         },
         67, "Entry 2 of 3: b \u2014 1 of 1 file, 4.0 KiB of 4.0 KiB"},
    };
    for (const Row& row : rows) {
        const Shown shown = row.act();
        EXPECT_EQ(shown.percent, row.percent) << row.step;
        EXPECT_EQ(shown.text, row.text) << row.step;
    }
}

// A 14.5 s run of four entries at a steady speed, its copies begun half a second in, as the
// progress sees it on a clock of its own: from two seconds in, the text says how long the whole
// run still needs, close to the truth, in seconds where there are few.
TEST(JoinRun, TheTimeLeftIsAFigureFromTheRunsFirstSeconds) {
    TestDir dir;
    const std::uint64_t entryBytes[] = {120'000, 300'000, 80'000, 200'000};
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < std::size(entryBytes); ++i) {
        entries.push_back(dir.path("e" + std::to_string(i + 1)));
        dir.write("e" + std::to_string(i + 1) + "/f", std::string(entryBytes[i], 'x'));
    }
    struct ShowingHost : FakeJoinHost {
        bool showsCopyProgress() const override { return true; }
    } host;
    auto now = std::chrono::steady_clock::time_point{};
    RunProgress progress(host, [&] { return now; });
    progress.beginRun(entries, CopyOption::PreserveStructure);
    const double began = 0.5;
    const double ends = 14.5;
    const double speed = 700'000 / (ends - began);
    const auto at = [&](double seconds) {
        now = std::chrono::steady_clock::time_point{} +
              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                  std::chrono::duration<double>(seconds));
    };
    CopyCounters copied;
    int entry = 0;
    std::uint64_t before = 0; // the bytes of the entries done
    const auto beginEntry = [&] {
        ++entry;
        copied.bytes = 0;
        progress.beginEntry(entry, 4, "e" + std::to_string(entry));
        progress.countTree(entries[static_cast<std::size_t>(entry - 1)]);
    };
    at(began);
    beginEntry();
    // What the entries have to copy is counted beside the copy, from its first report on.
    progress.show(copied);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!progress.runCounted() && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    ASSERT_TRUE(progress.runCounted());
    // The text at each quarter second, as the window shows it.
    std::map<double, std::string> shown;
    for (double seconds = began + 0.25; seconds < ends; seconds += 0.25) {
        at(seconds);
        auto written = static_cast<std::uint64_t>((seconds - began) * speed) - before;
        const std::uint64_t inEntry = entryBytes[entry - 1];
        if (written >= inEntry) {
            copied.bytes = inEntry;
            progress.endCopy(copied);
            before += inEntry;
            written -= inEntry;
            beginEntry();
        }
        copied.bytes = written;
        progress.show(copied);
        shown[seconds] = host.progressTexts.back();
    }
    for (const double seconds : {2.0, 5.0, 9.0}) {
        const std::string& text = shown[seconds];
        // The text ends ", about N s left".
        const std::size_t about = text.rfind(", about ");
        const bool figure = about != std::string::npos && text.ends_with(" s left") &&
                            std::isdigit(static_cast<unsigned char>(text[about + 8])) != 0;
        ASSERT_TRUE(figure) << seconds << " s: " << text;
        // Figures from 10 s on are rounded to 5 s.
        EXPECT_NEAR(std::stod(text.substr(about + 8)), ends - seconds, 2.5)
            << seconds << " s: " << text;
    }
}

TEST(JoinRun, SecondStartDuringARunDoesNothing) {
    TestDir dir;
    dir.make("a/f=f\nb/g=g\nout/");
    FakeJoinHost host;
    host.sources = {dir.path("a", true), dir.path("b", true)};
    host.output = dir.path("out", true);
    JoinRun run(host);
    int nestedStarts = 0;
    bool runningSeen = true;
    host.onPump = [&] {
        runningSeen = runningSeen && run.JoinRunning();
        const auto before = host.events.size();
        ++nestedStarts;
        run.run();
        EXPECT_EQ(host.events.size(), before) << "a nested start changed something";
    };
    run.run();
    EXPECT_GT(nestedStarts, 0);
    EXPECT_TRUE(runningSeen);
    EXPECT_EQ(host.events, concat({entryEvents(0, "Entry 1 of 2: a"),
                                   entryEvents(50, "Entry 2 of 2: b"), closingEvents()}));
    EXPECT_FALSE(run.JoinRunning());
    EXPECT_EQ(listTree(dir.root() / "out"), "a/f\nb/g\n");
}

// Entries added during a run are not copied but count in the share shown, which never moves
// back; the option and the output folder text are read once, when the run starts, so changes
// apply from the next run.
TEST(JoinRun, ChangesMadeDuringTheRun) {
    TestDir dir;
    dir.make("a/s/f=f\nb/s/g=g\nc/s/h=h\nlate/l=l\nout1/\nout2/");
    FakeJoinHost host;
    host.sources = {dir.path("a", true), dir.path("b", true), dir.path("c", true)};
    host.output = dir.path("out1", true);
    host.option = CopyOption::PreserveStructure;
    bool changed = false;
    host.onPump = [&] {
        if (changed)
            return;
        changed = true;
        host.sources.push_back(dir.path("late", true));
        host.option = CopyOption::Flat;
        host.output = dir.path("out2", true);
    };
    JoinRun run(host);
    run.run();
    EXPECT_EQ(host.progressValues, (std::vector<int>{0, 25, 50, 75, 0}));
    EXPECT_EQ(listTree(dir.root() / "out1"), "a/s/f\nb/s/g\nc/s/h\n");
    EXPECT_EQ(listTree(dir.root() / "out2"), "");
    EXPECT_EQ(host.messages, std::vector<std::string>{"Done."});
}

// A stop asked as the second entry begins ends the run there, saying so; one asked
// once every entry is copied, while the writes are being finished, stops nothing: "Done.". A copy
// whose own work fails (an allocation, in a task on the workers) is reported, and the run ends
// there too, saying so, instead of waiting for ever or going on as if nothing had happened.
TEST(JoinRun, AStopSaysSoOnlyWhenItStoppedSomething) {
    TestDir dir;
    dir.make("a/f=f\nb/g=g\nc/h=h\nout1/\nout2/\nout3/\nout4/");
    enum class Act { Stop, FailTasks };
    struct StoppingHost : FakeJoinHost {
        std::string stopAt; // the progress text on which the stop is asked, or the tasks fail
        Act how = Act::Stop;
        void entryBegins(int entry, int count, const std::string& entryText) override {
            FakeJoinHost::entryBegins(entry, count, entryText);
            act(progressTexts.back());
        }
        void writesFinishing() override {
            FakeJoinHost::writesFinishing();
            act(progressTexts.back());
        }
        void act(const std::string& text) {
            if (text != stopAt)
                return;
            if (how == Act::Stop)
                currentRunControl()->requestStop();
            else
                setTaskProbe([] { throw std::bad_alloc(); });
        }
    };
    const struct Row {
        const char* stopAt;
        const char* output;
        const char* copied;
        std::string message;
        Act act = Act::Stop;
        CopyOption option = CopyOption::PreserveStructure;
        std::vector<int> reportLines = {};
    } rows[] = {
        {"Entry 2 of 3: b", "out1", "a/f\n", words::stoppedMessage(1)},
        {"Finishing writes to disk...", "out2", "a/f\nb/g\nc/h\n", "Done."},
        {"Entry 2 of 3: b",
         "out3",
         "a/f\n",
         words::faultedMessage(1),
         Act::FailTasks,
         CopyOption::PreserveStructure,
         {138}},
        {"Entry 2 of 3: b",
         "out4",
         "f\n",
         words::faultedMessage(1),
         Act::FailTasks,
         CopyOption::Flat,
         {146}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.stopAt) + " " + row.output);
        StoppingHost host;
        host.stopAt = row.stopAt;
        host.how = row.act;
        host.sources = {dir.path("a"), dir.path("b"), dir.path("c")};
        host.output = dir.path(row.output, true);
        host.option = row.option;
        JoinRun(host).run();
        setTaskProbe(nullptr);
        EXPECT_EQ(host.messages, std::vector<std::string>{row.message});
        EXPECT_EQ(listTree(dir.root() / row.output), row.copied);
        EXPECT_EQ(host.reportLines(), row.reportLines);
        for (const auto& report : host.reports)
            EXPECT_EQ(report.description, "Out of memory");
    }
}

// A pause asked as the second entry begins holds the run before that entry writes anything: the
// first entry's files are whole and nothing of the second is there, not even a temporary. Resumed,
// the run goes on to "Done."; stopped while paused, it ends as a stop does, after the first entry.
TEST(JoinRun, APauseHoldsTheRunUntilResumedOrStopped) {
    TestDir dir;
    dir.make("a/f=f\nb/g=g\nb/s/h=h\nc/i=i\n");
    struct PausingHost : FakeJoinHost {
        void entryBegins(int entry, int count, const std::string& entryText) override {
            FakeJoinHost::entryBegins(entry, count, entryText);
            if (entry == 2)
                currentRunControl()->pause();
        }
    };
    const struct Row {
        const char* name;
        CopyOption option;
        bool stop;
        const char* copied;
        std::string message;
    } rows[] = {
        {"preserve, resumed", CopyOption::PreserveStructure, false, "a/f\nb/g\nb/s/h\nc/i\n",
         "Done."},
        {"preserve, stopped", CopyOption::PreserveStructure, true, "a/f\n",
         words::stoppedMessage(1)},
        {"flat, resumed", CopyOption::Flat, false, "f\ng\nh\ni\n", "Done."},
        {"flat, stopped", CopyOption::Flat, true, "f\n", words::stoppedMessage(1)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string out = std::string("out-") + (row.stop ? "s" : "r") +
                                (row.option == CopyOption::Flat ? "f" : "p");
        dir.make(out + "/");
        PausingHost host;
        host.sources = {dir.path("a"), dir.path("b"), dir.path("c")};
        host.output = dir.path(out, true);
        host.option = row.option;
        JoinRun run(host);
        const std::shared_ptr<RunControl> control = run.control();
        std::thread runner([&] { run.run(); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!control->paused() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_TRUE(control->paused());
        EXPECT_EQ(listTree(dir.root() / out), row.option == CopyOption::Flat ? "f\n" : "a/f\n");
        EXPECT_TRUE(host.messages.empty());
        if (row.stop)
            control->requestStop();
        else
            control->resume();
        runner.join();
        EXPECT_EQ(listTree(dir.root() / out), row.copied);
        EXPECT_EQ(host.messages, std::vector<std::string>{row.message});
    }
}

// A fault of the program is reported with the run's location and line; what the copy met on the
// disk (here a copy into itself) halts nothing and is told once, in the closing message. The run
// goes on, and always ends with the reset, the closing message and the running flag cleared.
TEST(JoinRun, FailuresAreReportedAndTheRunGoesOn) {
    TestDir dir;
    dir.make("src/f=f\nsrc/out/\nother/g=g\nthird/h=h");
    FakeJoinHost host;
    host.sources = {dir.path("src", true), dir.path("other", true), dir.path("third", true)};
    host.output = dir.path("src/out", true);
    host.option = CopyOption::PreserveStructure;
    bool shrunk = false;
    host.onPump = [&] {
        // The last entry goes away during the run, so reading it fails.
        if (!shrunk) {
            shrunk = true;
            host.sources.pop_back();
        }
    };
    JoinRun run(host);
    run.run();
    EXPECT_EQ(host.reportLines(), (std::vector<int>{112}));
    for (const auto& report : host.reports)
        EXPECT_EQ(report.location, Location);
    ASSERT_EQ(host.shortfalls.size(), 1u);
    EXPECT_EQ(host.shortfalls[0].entry, 1);
    ASSERT_EQ(host.shortfalls[0].items.size(), 1u);
    EXPECT_EQ(host.shortfalls[0].items[0].kind, NotCopiedItem::Kind::Folder);
    EXPECT_EQ(host.shortfalls[0].items[0].reason.code, Reason::Code::TargetInsideSource);
    EXPECT_EQ(host.progressValues, (std::vector<int>{0, 50, 100, 100, 0}));
    EXPECT_EQ(listTree(dir.root() / "src/out"), "other/g\n");
    const std::string closing = "Done, but 1 folder could not be copied.";
    EXPECT_EQ(host.messages, std::vector<std::string>{closing});
    Events closingAfterReset = closingEvents();
    closingAfterReset.back() = "message " + closing;
    EXPECT_EQ(Events(host.events.end() - 6, host.events.end()), closingAfterReset);
    EXPECT_FALSE(run.JoinRunning());

    // Flat: the first entry's x is left to the last entry's x, and the last entry goes from the
    // list once the run has looked ahead: the first entry's x is copied after all.
    dir.make("a/x=first\nb/y=y\nc/x=last\nflat/");
    FakeJoinHost flat;
    flat.sources = {dir.path("a"), dir.path("b"), dir.path("c")};
    flat.output = dir.path("flat", true);
    flat.option = CopyOption::Flat;
    flat.onPump = [&] {
        if (flat.progressValues.size() == 2 && flat.sources.size() == 3)
            flat.sources.pop_back();
    };
    JoinRun(flat).run();
    EXPECT_EQ(flat.reportLines(), std::vector<int>{112});
    EXPECT_EQ(dir.read("flat/x"), "first");
    EXPECT_EQ(dir.read("flat/y"), "y");
}

TEST(JoinRun, WindowThatFailsStillGetsTheRunToItsEnd) {
    TestDir dir;
    dir.make("a/f=f\nout/");
    struct FailingHost : FakeJoinHost {
        void setPointer(Pointer pointer) override {
            FakeJoinHost::setPointer(pointer);
            throw std::runtime_error("pointer failed");
        }
    } host;
    host.sources = {dir.path("a", true)};
    host.output = dir.path("out", true);
    JoinRun run(host);
    run.run();
    EXPECT_EQ(host.reportLines(), (std::vector<int>{110, 166}));
    EXPECT_EQ(host.messages, std::vector<std::string>{"Done."});
    EXPECT_EQ(listTree(dir.root() / "out"), "a/f\n");
    EXPECT_FALSE(run.JoinRunning());

    struct ThrowingReportHost : FakeJoinHost {
        void showErrorReport(const Failure&, const std::string&, int) override {
            throw std::runtime_error("report failed");
        }
        void entryBegins(int, int, const std::string&) override {
            throw std::runtime_error("text failed");
        }
        void progressEnded() override { throw std::runtime_error("text failed"); }
    } broken;
    broken.sources = {dir.path("a", true)};
    broken.output = dir.path("out", true);
    JoinRun brokenRun(broken);
    EXPECT_THROW(brokenRun.run(), std::runtime_error);
    EXPECT_FALSE(brokenRun.JoinRunning());
}

// A write the disk refuses only once the copies are done is still reported, whatever flush met
// it first: the run's own flush, or the flushes that have the disk write while the copies run.
// The disk is an ext4 image on a memory file system far smaller than the image, so writing back
// what the copies left in the cache fails.
TEST(JoinRun, AWriteTheDiskRefusesLaterIsStillReported) {
#if defined(__SANITIZE_THREAD__)
    // Its child starts threads, which ThreadSanitizer refuses after a fork of a process that has
    // some: the other tests of this program have started the workers by then.
    GTEST_SKIP() << "starts threads in a forked child";
#endif
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a disk image and mounting it takes root";
    if (std::system("(command -v mkfs.ext4 && command -v losetup) >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mkfs.ext4 and losetup are not installed";
    TestDir dir;
    dir.make("small/\nout/");
    const int code = testsupport::runInChild(
        [&] {
            const std::string image = dir.path("small/disk.img");
            const std::string out = dir.path("out");
            if (!testsupport::usePrivateMounts() ||
                !testsupport::mountSmallDisk(dir.path("small"), std::size_t{4} << 20) ||
                std::system(("truncate -s 64M '" + image + "' && mkfs.ext4 -q -F -E " +
                             "lazy_itable_init=1,lazy_journal_init=1 '" + image +
                             "' && mount -o loop '" + image + "' '" + out + "'")
                                .c_str()) != 0)
                return testsupport::CouldNotMount;
            OutputFileSystems outputs;
            outputs.open(out);
            {
                // 16 MiB left in the cache, four times what the memory file system holds.
                std::ofstream file(out + "/big", std::ios::binary);
                const std::string mebibyte(std::size_t{1} << 20, 'x');
                for (int i = 0; i < 16; ++i)
                    file << mebibyte;
            }
            // Time for the flushes beside the copies to meet the refused writes first.
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            FakeJoinHost host;
            try {
                outputs.flush(host);
            } catch (const CopyShortfall& shortfall) {
                return shortfall.step() == CopyShortfall::Step::Finish ? 0 : 2;
            }
            return 1; // reported as written
        },
        60);
    if (code == testsupport::CouldNotMount)
        GTEST_SKIP() << "could not make the disk image";
    EXPECT_EQ(code, 0);
}
