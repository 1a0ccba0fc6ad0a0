#include "joinrun.h"

#include "copyprocs.h"
#include "failure.h"
#include "paths.h"
#include "posixfs.h"
#include "trap.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>
#include <vector>

namespace join {

namespace {

constexpr const char* Location = "in Brimvale2021/08/31.Form1.PushButton2_Click ";
constexpr int DivisionByZero = 11;

// The share of entries reached, on the bar's scale of 0 to 100.
int progressPercent(int entry, int count) {
    if (count == 0)
        throw Failure(DivisionByZero, "Division by zero");
    const double percent = static_cast<double>(entry) / count * 100.0;
    return static_cast<int>(std::clamp(std::lround(percent), 0L, 100L));
}

// Clears the running flag on every way out of the run.
class RunningFlag {
public:
    explicit RunningFlag(bool& flag) : m_flag(flag) { m_flag = true; }
    ~RunningFlag() { m_flag = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;

private:
    bool& m_flag;
};

// What the entries after each one hold, found on a worker while the window waits. Only a way
// to copy less: an entry that cannot be read counts as empty.
std::optional<LaterFiles> laterFiles(JoinHost& host, int count) {
    const std::string output = host.outputFolderText();
    std::vector<std::string> entries;
    for (int i = 1; i <= count; ++i) {
        try {
            entries.push_back(ResolveDotSegments(host.sourceText(i)));
        } catch (const std::exception&) {
            entries.emplace_back();
        }
    }
    std::optional<LaterFiles> later;
    BackgroundWork work;
    WorkerPool::shared().start(work, [&] { later.emplace(entries, output); });
    host.waitFor(work);
    return later;
}

} // namespace

void OutputFileSystems::open(const std::string& folder) {
    Descriptor fd = OpenFolder(folder);
    FolderStatus status;
    if (!fd.valid() || !StatusOf(fd.get(), status))
        return;
    for (const Open& open : m_open)
        if (open.device == status.identity.device)
            return;
    m_open.push_back({std::move(fd), status.identity.device, folder});
}

void OutputFileSystems::flush(EventPump& pump) {
    BackgroundWork work;
    std::optional<Failure> failure;
    WorkerPool::shared().start(work, [&] {
        for (const Open& open : m_open) {
            if (const int error = FlushFileSystem(open.folder.get()); error != 0 && !failure)
                failure = failureFromErrno(error, open.path);
        }
    });
    pump.waitFor(work);
    if (failure)
        throw *failure;
}

void JoinRun::run() {
    if (m_joinRunning) // 100
        return;
    Trap trap(m_host, Location);
    RunningFlag running(m_joinRunning); // 102, and 218 when it goes out of scope

    if (trap.test(104, [&] { return m_host.sourceCount() == 0; })) {
        trap.line(216, [&] { m_host.showMessage("No folders added."); });
        return;
    }
    if (trap.test(106, [&] { return !FolderExists(m_host.outputFolderText()); })) {
        trap.line(214, [&] {
            m_host.showMessage("Folder does not exist. Please select another folder.");
        });
        return;
    }

    const int count = trap.value<int>(108, [&] { return m_host.sourceCount(); });
    OutputFileSystems outputs;
    bool written = false;
    PlacedFiles placed;
    // Joined again, a flat run copies no file that a later entry's file, already there, replaces.
    std::optional<LaterFiles> later;
    for (int i = 1; i <= count; ++i) {
        // The process is ending (a close, an interrupt): no further entry is begun.
        if (StopRequested())
            break;
        trap.line(110, [&] { m_host.setPointer(Pointer::Hourglass); });
        std::string entry;
        // "." and ".." are resolved: the entry names the folder it leads to, under its own name.
        const bool entryRead =
            trap.line(112, [&] { entry = ResolveDotSegments(m_host.sourceText(i)); });
        trap.line(114, [&] { m_host.setProgressValue(progressPercent(i, m_host.sourceCount())); });
        trap.line(116, [&] { m_host.setProgressText("Processing: " + LastPathPart(entry)); });
        trap.line(118, [&] { m_host.pumpEvents(); });
        // An entry that could not be read names no folder: there is nothing to copy for it.
        if (!entryRead)
            continue;
        trap.line(120, [&] {
            // Opened before anything is written there, so that the flush sees every error.
            outputs.open(m_host.outputFolderText());
            // A later entry must not take what this one places for a file already there.
            placed.setRecording(i < count);
            if (i == 1 && count > 1 && !m_host.alwaysCopy() &&
                m_host.copyOption() == CopyOption::Flat)
                later = laterFiles(m_host, count);
            const std::string folder =
                m_host.copyOption() == CopyOption::PreserveStructure
                    ? CopyEntryPreservingStructure(entry, m_host, trap, &placed)
                    : CopyEntryFlat(entry, m_host, trap, &placed, later ? &*later : nullptr,
                                    static_cast<std::size_t>(i - 1));
            if (!folder.empty()) {
                outputs.open(folder);
                written = true;
            }
        });
    } // 164

    // Copies are only safe once they are on the disk: a removable disk pulled after "Done."
    // must hold them.
    if (written && !outputs.empty()) {
        trap.line(172, [&] { m_host.setProgressText("Finishing writes to disk..."); });
        trap.line(174, [&] { outputs.flush(m_host); });
    }
    trap.line(166, [&] { m_host.setPointer(Pointer::Default); });
    trap.line(168, [&] { m_host.setProgressValue(0); });
    trap.line(170, [&] { m_host.setProgressText("Progress Bar"); });
    trap.line(212, [&] { m_host.showMessage("Done."); });
}

} // namespace join
