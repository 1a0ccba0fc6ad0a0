#include "joinjob.h"

#include <QMetaObject>
#include <chrono>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace shell {

// The host as the run's thread sees it: what the host showed when the run began, read on the
// host's thread before the run's thread starts, and every other call taken to the host's thread.
class JoinJob::ThreadHost : public join::JoinHost {
public:
    explicit ThreadHost(JoinJob& job) : m_job(job) {}

    // Reads what the run reads of the host. On the host's thread, before the run starts.
    void readHost(const join::JoinHost& host) {
        m_sources.clear();
        for (int i = 1; i <= host.sourceCount(); ++i)
            m_sources.push_back(host.sourceText(i));
        m_output = host.outputFolderText();
        m_option = host.copyOption();
        m_alwaysCopy = host.alwaysCopy();
        m_writes = host.writes();
        m_keepsRecord = host.keepsRecord();
        m_showsCopyProgress = host.showsCopyProgress();
    }

    int sourceCount() const override { return static_cast<int>(m_sources.size()); }
    std::string sourceText(int index) const override {
        return m_sources.at(static_cast<std::size_t>(index - 1));
    }
    std::string outputFolderText() const override { return m_output; }
    join::CopyOption copyOption() const override { return m_option; }
    bool alwaysCopy() const override { return m_alwaysCopy; }
    join::Writes writes() const override { return m_writes; }
    bool keepsRecord() const override { return m_keepsRecord; }
    bool showsCopyProgress() const override { return m_showsCopyProgress; }

    // The host's thread is never held up: this thread waits, and tells the copy's progress
    // at most 4 times a second.
    void pumpEvents() override {}
    void waitFor(join::BackgroundWork& work) override {
        while (!work.waitAtMost(std::chrono::milliseconds(250)))
            work.reportProgress();
        work.wait();
    }
    bool walkStopped() const override { return join::stopRequested(); }

    void setPointer(join::Pointer pointer) override {
        m_job.post([pointer](join::JoinHost& host) { host.setPointer(pointer); });
    }
    void setProgressValue(int percent) override {
        m_job.post([percent](join::JoinHost& host) { host.setProgressValue(percent); });
    }
    void showRunProgress(const join::RunFigures& figures) override {
        m_job.post([figures](join::JoinHost& host) { host.showRunProgress(figures); });
    }
    void progressEnded() override {
        m_job.post([](join::JoinHost& host) { host.progressEnded(); });
    }
    void entryBegins(int entry, int count, const std::string& entryText) override {
        m_job.post([=](join::JoinHost& host) { host.entryBegins(entry, count, entryText); });
    }
    void writesFinishing() override {
        m_job.post([](join::JoinHost& host) { host.writesFinishing(); });
    }
    void entryNotCopied(int entry, const join::CopyShortfall& shortfall) override {
        m_job.post([=](join::JoinHost& host) { host.entryNotCopied(entry, shortfall); });
    }
    void joinEnded(const join::JoinOutcome& outcome) override {
        m_job.post([outcome](join::JoinHost& host) { host.joinEnded(outcome); });
    }
    void foldersFound(std::size_t count) override {
        m_job.post([count](join::JoinHost& host) { host.foldersFound(count); });
    }

    // What waits for the user.
    void showErrorReport(const join::Failure& failure, const std::string& location,
                         int line) override {
        m_job.callAndWait([failure, location, line](join::JoinHost& host) {
            host.showErrorReport(failure, location, line);
        });
    }
    void showEntryReport(int entry, const join::Failure& failure, const std::string& location,
                         int line) override {
        m_job.callAndWait([entry, failure, location, line](join::JoinHost& host) {
            host.showEntryReport(entry, failure, location, line);
        });
    }
    void runRefused(join::RunRefusal why) override {
        m_job.callAndWait([why](join::JoinHost& host) { host.runRefused(why); });
    }
    void copyExists(const std::string& mirrored) override {
        m_job.callAndWait([mirrored](join::JoinHost& host) { host.copyExists(mirrored); });
    }
    void showClosingMessage(const join::JoinOutcome& outcome) override {
        m_job.callAndWait([outcome](join::JoinHost& host) { host.showClosingMessage(outcome); });
    }

private:
    JoinJob& m_job;
    std::vector<std::string> m_sources;
    std::string m_output;
    join::CopyOption m_option = join::CopyOption::PreserveStructure;
    bool m_alwaysCopy = false;
    join::Writes m_writes = join::Writes::Made;
    bool m_keepsRecord = false;
    bool m_showsCopyProgress = false;
};

JoinJob::JoinJob(join::JoinHost& host)
    : m_host(host), m_threadHost(std::make_unique<ThreadHost>(*this)), m_run(*m_threadHost) {
    m_run.setPauseListener(
        [this] { QMetaObject::invokeMethod(this, &JoinJob::pauseChanged, Qt::QueuedConnection); });
}

JoinJob::~JoinJob() {
    abandon();
    waitForEnd();
}

bool JoinJob::start() {
    if (m_running)
        return false;
    waitForEnd();
    m_threadHost->readHost(m_host);
    m_running = true;
    m_thread = std::thread([this] {
        m_run.run();
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_running = false;
                emit ended();
            },
            Qt::QueuedConnection);
    });
    return true;
}

void JoinJob::abandon() {
    {
        std::lock_guard lock(m_mutex);
        m_gone = true;
        m_delivered.notify_all();
    }
    if (m_running)
        m_run.control()->requestStop();
}

void JoinJob::waitForEnd() {
    if (m_thread.joinable())
        m_thread.join();
}

void JoinJob::post(std::function<void(join::JoinHost&)> call) {
    QMetaObject::invokeMethod(
        this,
        [this, call = std::move(call)] {
            m_delivering = true;
            try {
                call(m_host);
            } catch (...) {
                // What the host could not show is lost with it; the run goes on.
            }
            m_delivering = false;
            emit delivered();
        },
        Qt::QueuedConnection);
}

void JoinJob::callAndWait(std::function<void(join::JoinHost&)> call) {
    struct Waiting {
        bool done = false;
        std::exception_ptr thrown;
    };
    auto waiting = std::make_shared<Waiting>();
    {
        std::lock_guard lock(m_mutex);
        if (m_gone)
            return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, waiting, call = std::move(call)] {
            {
                std::lock_guard lock(m_mutex);
                // No one is left to answer.
                if (m_gone)
                    return;
            }
            m_delivering = true;
            try {
                call(m_host);
            } catch (...) {
                waiting->thrown = std::current_exception();
            }
            m_delivering = false;
            emit delivered();
            std::lock_guard lock(m_mutex);
            waiting->done = true;
            m_delivered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_delivered.wait(lock, [&] { return waiting->done || m_gone; });
    if (waiting->thrown)
        std::rethrow_exception(waiting->thrown);
}

} // namespace shell
