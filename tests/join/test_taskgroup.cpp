// The one way a job runs on the workers, TaskGroup, and the WorkerPool beneath it: the order in
// which the waiting thread takes tasks, tasks that post more, a bound on the tasks waiting, the
// first task that throws ending the group and reaching the waiting thread, a stop dropping what
// waits; and, on every worker at once, each task run exactly once. How wide a job runs: as the
// output's file system says, widened while it pays, its tasks spread over the folders.
#include "join/fs/targetfs.h"
#include "join/plan/joinplan.h"
#include "join/tasks/taskgroup.h"
#include "join/tasks/workers.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

using join::JobWidth;
using join::TargetReach;
using join::TaskGroup;
using join::TaskOrder;

namespace {

using Group = TaskGroup<int>;

// A group whose tasks only the waiting thread runs (no worker enlisted), so that the order in
// which they run is the group's own. Each task appends its number to `ran`, then does what
// `during` says for it.
struct OneThreadGroup {
    std::string ran;
    std::function<void(Group&, int)> during = [](Group&, int) {};
    std::shared_ptr<Group> group;

    explicit OneThreadGroup(Group::Settings settings) {
        group = std::make_shared<Group>(
            [this](int& task) {
                ran += std::to_string(task) + " ";
                during(*group, task);
            },
            std::move(settings), std::make_shared<join::RunControl>());
        group->enlist(1);
    }
};

Group::Settings settings(TaskOrder order,
                         std::size_t capacity = std::numeric_limits<std::size_t>::max(),
                         std::function<void()> leaving = {}) {
    Group::Settings settings;
    settings.order = order;
    settings.capacity = capacity;
    settings.leaving = std::move(leaving);
    return settings;
}

std::string messageOf(const std::exception_ptr& fault) {
    if (!fault)
        return "none";
    try {
        std::rethrow_exception(fault);
    } catch (const std::exception& e) {
        return e.what();
    }
}

} // namespace

TEST(TaskGroup, TheWaitingThreadRunsTasksInTheGroupsOrderUntilAFaultOrAStop) {
    struct Row {
        const char* name;
        Group::Settings settings;
        // Posts from outside, before finish().
        std::function<void(OneThreadGroup&)> post;
        std::string ran;
        std::string fault = "none";
    };
    auto postOneToFive = [](OneThreadGroup& g) {
        for (int task = 1; task <= 5; ++task)
            g.group->post(task);
    };
    const Row rows[] = {
        {"first posted first", settings(TaskOrder::FirstPosted), postOneToFive, "1 2 3 4 5 "},
        {"last posted first", settings(TaskOrder::LastPosted), postOneToFive, "5 4 3 2 1 "},
        {"posted all at once: in the order given, whatever the group's order",
         settings(TaskOrder::LastPosted),
         [](OneThreadGroup& g) {
             std::vector<int> tasks = {1, 2, 3};
             g.group->postAll(tasks);
         },
         "1 2 3 "},
        {"a task posts more: last posted first finishes them before its siblings",
         settings(TaskOrder::LastPosted),
         [](OneThreadGroup& g) {
             g.during = [](Group& group, int task) {
                 if (task < 10) {
                     group.post(task * 10 + 1);
                     group.post(task * 10 + 2);
                 }
             };
             std::vector<int> tasks = {1, 2};
             g.group->postAll(tasks);
         },
         "1 12 11 2 22 21 "},
        {"a task posts more: first posted first takes them after those waiting",
         settings(TaskOrder::FirstPosted),
         [](OneThreadGroup& g) {
             g.during = [](Group& group, int task) {
                 if (task < 10)
                     group.post(task * 10 + 1);
             };
             std::vector<int> tasks = {1, 2};
             g.group->postAll(tasks);
         },
         "1 2 11 21 "},
        {"a task throws: the tasks waiting, one it posted among them, are dropped; the fault "
         "reaches the waiting thread",
         settings(TaskOrder::FirstPosted),
         [&](OneThreadGroup& g) {
             g.during = [](Group& group, int task) {
                 if (task == 3) {
                     group.post(30);
                     throw std::runtime_error("task 3 failed");
                 }
                 if (task == 4)
                     group.post(40);
             };
             postOneToFive(g);
         },
         "1 2 3 ", "task 3 failed"},
        {"a task run by a post past the room throws: nothing posted after it runs",
         settings(TaskOrder::FirstPosted, 2),
         [&](OneThreadGroup& g) {
             // With room for two waiting, the third post runs task 1, which throws; task 2 is
             // dropped with it, and the later posts are ignored.
             g.during = [](Group&, int task) { throw std::runtime_error(std::to_string(task)); };
             postOneToFive(g);
         },
         "1 ", "1"},
        {"a stop drops the tasks waiting, and is no fault", settings(TaskOrder::FirstPosted),
         [&](OneThreadGroup& g) {
             g.during = [](Group&, int task) {
                 if (task == 2)
                     join::currentRunControl()->requestStop();
             };
             postOneToFive(g);
         },
         "1 2 "},
        {"at most two waiting: whoever posts a third runs the first meanwhile",
         settings(TaskOrder::FirstPosted, 2),
         [&](OneThreadGroup& g) {
             for (int task = 1; task <= 5; ++task) {
                 g.group->post(task);
                 g.ran += "posted" + std::to_string(task) + " ";
             }
         },
         "posted1 posted2 1 posted3 2 posted4 3 posted5 4 5 "},
    };
    for (const Row& row : rows) {
        OneThreadGroup g(row.settings);
        row.post(g);
        const std::exception_ptr fault = g.group->finish();
        EXPECT_EQ(g.ran, row.ran) << row.name;
        EXPECT_EQ(messageOf(fault), row.fault) << row.name;
    }
}

TEST(TaskGroup, AnOwnerThatEndsEarlyDropsWhatWaitsAndWaitRethrows) {
    OneThreadGroup abandoned(settings(TaskOrder::FirstPosted));
    for (int task = 1; task <= 3; ++task)
        abandoned.group->post(task);
    abandoned.group->abandon();
    EXPECT_EQ(abandoned.ran, "");
    EXPECT_EQ(messageOf(abandoned.group->finish()), "none");
    EXPECT_EQ(abandoned.ran, "");

    OneThreadGroup failing(settings(TaskOrder::FirstPosted));
    failing.during = [](Group&, int) { throw std::runtime_error("no room"); };
    failing.group->post(1);
    EXPECT_THROW(failing.group->wait(), std::runtime_error);
}

// On every worker and the waiting thread at once: tasks that post more tasks, in a tree several
// levels deep, each run exactly once, whatever thread takes it; each thread that took part says
// so once as it leaves; and a task that throws ends the group however many threads are at work.
TEST(TaskGroup, OnEveryWorkerEachTaskRunsExactlyOnce) {
    join::WorkerPool& pool = join::WorkerPool::shared();
    for (const TaskOrder order : {TaskOrder::FirstPosted, TaskOrder::LastPosted}) {
        SCOPED_TRACE(order == TaskOrder::FirstPosted ? "first posted first" : "last posted first");
        constexpr int Children = 4;
        std::mutex mutex;
        std::multiset<int> ran;
        std::atomic<std::size_t> left{0};
        std::shared_ptr<Group> group;
        // A task's number in base Children + 1, each digit a level: 1..Children below the root.
        group = std::make_shared<Group>(
            [&](int& task) {
                {
                    std::lock_guard lock(mutex);
                    ran.insert(task);
                }
                if (task < 1000) // fewer than Levels digits
                    for (int child = 1; child <= Children; ++child)
                        group->post(task * (Children + 1) + child);
            },
            settings(order, std::numeric_limits<std::size_t>::max(), [&] { ++left; }),
            std::make_shared<join::RunControl>());
        group->enlist();
        std::vector<int> roots;
        for (int root = 1; root <= Children; ++root)
            roots.push_back(root);
        group->postAll(roots);
        EXPECT_EQ(messageOf(group->finish()), "none");
        // A worker leaves once the group is done, perhaps after finish() has returned.
        ASSERT_TRUE(pool.waitUntilIdle(std::chrono::seconds(60)));

        std::multiset<int> expected;
        std::vector<int> level(roots);
        while (!level.empty()) {
            std::vector<int> next;
            for (const int task : level) {
                expected.insert(task);
                if (task < 1000)
                    for (int child = 1; child <= Children; ++child)
                        next.push_back(task * (Children + 1) + child);
            }
            level = std::move(next);
        }
        EXPECT_EQ(ran.size(), expected.size());
        EXPECT_TRUE(ran == expected) << "a task was run twice or not at all";
        EXPECT_EQ(left.load(), pool.size()) << "each thread leaves once";
    }

    // One task of many throws: the group ends and the waiting thread gets its fault.
    std::atomic<int> ran{0};
    auto failing = std::make_shared<Group>(
        [&](int& task) {
            ++ran;
            if (task == 500)
                throw std::runtime_error("task 500 failed");
        },
        settings(TaskOrder::FirstPosted), std::make_shared<join::RunControl>());
    failing->enlist();
    for (int task = 0; task < 2000; ++task)
        failing->post(task);
    EXPECT_EQ(messageOf(failing->finish()), "task 500 failed");
    EXPECT_LE(ran.load(), 2000);
}

TEST(WorkerPool, StartedWorkFinishesWhateverItsJobThrows) {
    join::WorkerPool& pool = join::WorkerPool::shared();
    EXPECT_GE(pool.size(), 1u);
    for (const bool throws : {false, true}) {
        join::BackgroundWork work;
        std::atomic<int> told{0};
        work.whenFinished([&] { ++told; });
        pool.start(work, [throws] {
            if (throws)
                throw std::runtime_error("the job failed");
        });
        work.wait();
        EXPECT_TRUE(work.finished()) << throws;
        EXPECT_EQ(told.load(), 1) << throws;
        // Told at once when it has finished already.
        work.whenFinished([&] { ++told; });
        EXPECT_EQ(told.load(), 2) << throws;
    }
    std::atomic<int> posted{0};
    for (int i = 0; i < 100; ++i)
        pool.post([&posted] { ++posted; });
    EXPECT_TRUE(pool.waitUntilIdle(std::chrono::seconds(60)));
    EXPECT_EQ(posted.load(), 100);
}

namespace {

join::TargetFileSystem reachedAs(TargetReach reach) {
    join::TargetFileSystem fileSystem;
    fileSystem.type = "a file system";
    fileSystem.reach = reach;
    return fileSystem;
}

} // namespace

// The number of copies in flight follows where the output's file system keeps its files: one
// per core on this machine's disks, exactly as many as the cores; behind a link more than the
// cores from the start, widening further as it pays.
TEST(CopyWidth, FollowsTheTargetsKind) {
    const struct {
        const char* mountType;
        TargetReach reach;
    } kinds[] = {
        {"ext4", TargetReach::Local},         {"tmpfs", TargetReach::Local},
        {"btrfs", TargetReach::Local},        {"vfat", TargetReach::Local},
        {"fuseblk", TargetReach::Local},      {"fuse.sshfs", TargetReach::Remote},
        {"fuse.rclone", TargetReach::Remote}, {"fuse", TargetReach::Remote},
        {"nfs", TargetReach::Remote},         {"nfs4", TargetReach::Remote},
        {"cifs", TargetReach::Remote},        {"smb3", TargetReach::Remote},
        {"9p", TargetReach::Remote},
    };
    for (const auto& kind : kinds) {
        EXPECT_EQ(join::reachOfMountType(kind.mountType), kind.reach) << kind.mountType;
        for (const std::size_t cores : {1, 2, 8, 96}) {
            const JobWidth width = join::copyWidthFor(kind.reach, cores);
            if (kind.reach == TargetReach::Local) {
                EXPECT_EQ(width.first, cores) << kind.mountType << " on " << cores << " cores";
                EXPECT_EQ(width.most, cores) << kind.mountType << " on " << cores << " cores";
            } else {
                EXPECT_EQ(width.first, 16u) << kind.mountType << " on " << cores << " cores";
                EXPECT_EQ(width.most, 64u) << kind.mountType << " on " << cores << " cores";
            }
        }
    }
    // The run's rules say the same of the output folder they were found for, and where small
    // files may be written under their own names: not where a local file system keeps rules of
    // its own (a FAT stick), since only a close behind a link reports its writes.
    const std::size_t cores = join::WorkerPool::shared().size();
    const struct {
        const char* name;
        join::OutputRules rules;
        std::size_t first;
        bool inPlace;
    } rules[] = {
        {"the usual local disk", join::OutputRules(), cores, true},
        {"a local disk of its own rules", join::OutputRules(reachedAs(TargetReach::Local)), cores,
         false},
        {"behind a link", join::OutputRules(reachedAs(TargetReach::Remote)), 16, true},
    };
    for (const auto& row : rules) {
        EXPECT_EQ(row.rules.copyWidth().first, row.first) << row.name;
        EXPECT_EQ(row.rules.writesInPlace(), row.inPlace) << row.name;
    }
}

// A thread takes the task next in the group's order among those of the folders with the fewest
// tasks running, so that two copies seldom wait on one folder's lock.
TEST(TaskGroup, TheNextTaskIsOfTheFolderWithTheFewestRunning) {
    const struct {
        const char* name;
        std::vector<int> waiting; // each task's folder, in the order posted
        TaskOrder order;
        std::map<int, std::size_t> running;
        std::size_t taken;
    } rows[] = {
        {"nothing running, queue", {1, 1, 2}, TaskOrder::FirstPosted, {}, 0},
        {"nothing running, stack", {1, 1, 2}, TaskOrder::LastPosted, {}, 2},
        {"the last folder busy", {1, 1, 2}, TaskOrder::LastPosted, {{2, 1}}, 1},
        {"the first folder busy", {1, 1, 2}, TaskOrder::FirstPosted, {{1, 3}}, 2},
        {"all busy, the least", {1, 2, 3}, TaskOrder::FirstPosted, {{1, 3}, {2, 1}, {3, 2}}, 1},
        {"all busy alike, order", {1, 2, 3}, TaskOrder::LastPosted, {{1, 1}, {2, 1}, {3, 1}}, 2},
        {"one folder only", {4, 4, 4}, TaskOrder::FirstPosted, {{4, 9}}, 0},
    };
    for (const auto& row : rows) {
        const std::deque<int> waiting(row.waiting.begin(), row.waiting.end());
        const std::size_t taken = join::nextToTake(
            waiting, row.order, [](int task) { return task; },
            [&](int folder) {
                const auto found = row.running.find(folder);
                return found == row.running.end() ? std::size_t{0} : found->second;
            });
        EXPECT_EQ(taken, row.taken) << row.name;
    }
}

// A job behind a link takes more threads after each period in which the tasks finished per
// second grew by a tenth or more, and stays as wide once they do not; never beyond its most.
TEST(TaskGroup, AJobWidensWhileTheTasksPerSecondGrow) {
    using Clock = join::WidthGauge::Clock;
    const Clock::time_point start{};
    const auto at = [&](int periods) { return start + periods * join::WidthGauge::Period; };
    join::WidthGauge gauge({16, 40}, start);
    const struct {
        const char* name;
        std::uint64_t finished;
        Clock::time_point now;
        std::size_t width;
    } steps[] = {
        {"within the first period", 30, at(1) - std::chrono::milliseconds(1), 16},
        {"the first period: tried wider", 40, at(1), 24},
        {"grew by half", 100, at(2), 32},
        {"grew by a twentieth", 163, at(3), 32},
        {"did not grow", 220, at(4), 32},
        {"grew by a fifth again", 295, at(5), 40},
        {"grew, but at the most", 400, at(6), 40},
    };
    for (const auto& step : steps)
        EXPECT_EQ(gauge.observe(step.finished, step.now), step.width) << step.name;
}

// A job as wide as 16 has 16 tasks running at once on a machine of fewer cores, each as work of
// the group's run, on the threads beside the workers too; a job of the cores never has more
// running than the pool has workers.
TEST(TaskGroup, RunsOnAsManyThreadsAsItsWidth) {
    struct Count {
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t running = 0;
        std::size_t most = 0;
        std::size_t outsideTheRun = 0;
    };
    const auto runJob = [](JobWidth width, std::size_t tasks, bool waitForWidth) {
        auto count = std::make_shared<Count>();
        auto control = std::make_shared<join::RunControl>();
        auto group = std::make_shared<TaskGroup<int>>(
            [count, width, waitForWidth, control](int&) {
                std::unique_lock lock(count->mutex);
                if (join::currentRunControl() != control)
                    ++count->outsideTheRun;
                count->most = std::max(count->most, ++count->running);
                count->changed.notify_all();
                // Waits, for a bounded time, until the whole width runs at once.
                if (waitForWidth)
                    count->changed.wait_for(lock, std::chrono::seconds(30),
                                            [&] { return count->most >= width.first; });
                --count->running;
            },
            TaskGroup<int>::Settings{}, control);
        for (std::size_t i = 0; i < tasks; ++i)
            group->post(static_cast<int>(i));
        group->enlist(width);
        group->wait();
        EXPECT_EQ(count->outsideTheRun, 0u) << width.first << " wide";
        return count->most;
    };
    EXPECT_EQ(runJob({16, 16}, 16, true), 16u);
    const std::size_t cores = join::WorkerPool::shared().size();
    EXPECT_LE(runJob({cores, cores}, 200, false), cores);
}
