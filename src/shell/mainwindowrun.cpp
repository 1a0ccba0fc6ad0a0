// A join run as the window shows it, MainWindow as the run's host: "Start Joining" and its
// "Stop", what the window shows and disables while a run is under way, the progress bar and the
// task bar's progress, the local event loop that waits for the copies, the end of a run and its
// closing message.
#include "closingmessage.h"
#include "endrequests.h"
#include "failurelist.h"
#include "join/run/runprogress.h"
#include "join/tasks/workers.h"
#include "mainwindow.h"
#include "pathtext.h"
#include "startup.h"
#include "textprogressbar.h"
#include "windowtexts.h"
#include "words/words.h"

#include <QEventLoop>
#include <QGroupBox>
#include <QPushButton>
#include <QTimer>

namespace shell {

void MainWindow::startOrStopJoining() {
    if (m_joinRun.JoinRunning()) {
        askToStop();
        return;
    }
    m_joinRun.run();
    showRunning(false);
    m_stopAsked = false;
}

void MainWindow::askToStop() {
    if (!m_joinRun.JoinRunning() || m_joinRun.control()->stopRequested() || m_gone)
        return;
    const bool stop = m_env.presenter->askYesNo(this, applicationTitle(), StopQuestion);
    if (!stop || !m_joinRun.JoinRunning())
        return;
    m_stopAsked = true;
    m_joinRun.control()->requestStop();
    // The stop is under way: there is nothing more to ask.
    m_startButton->setEnabled(false);
}

void MainWindow::showRunning(bool running) {
    if (running == m_showsRun)
        return;
    m_showsRun = running;
    m_startButton->setText(running ? StopCaption : StartCaption);
    m_startButton->setEnabled(true);
    m_clearListButton->setEnabled(!running);
    m_sourceList->setLocked(running);
    // These stay usable: the run has read them, and what the user changes is stored for the next.
    const QString note = running ? NextRunNote.text() : QString();
    m_outputFolderBox->setTitle(OutputFolderTitle + note);
    m_copyOptionsBox->setTitle(CopyOptionsTitle + note);
    m_endRequests->setCatchingSignals(running);
}

void MainWindow::setProgressValue(int percent) {
    m_progressBar->setValue(percent);
    if (m_joinRun.HoldsHourglass())
        m_desktop.showProgress(percent);
}

void MainWindow::showRunProgress(const join::RunFigures& figures) {
    setProgressValue(figures.percent);
    m_progressBar->setText(QString::fromUtf8(words::progressText(figures)));
}

void MainWindow::writesFinishing() {
    m_progressBar->setText(QString::fromUtf8(words::finishingWritesText()));
}

void MainWindow::progressEnded() {
    m_progressBar->setText(QString::fromUtf8(words::idleProgressText()));
}

void MainWindow::runRefused(join::RunRefusal why) {
    showMessage(words::runRefusalText(why));
}

void MainWindow::copyExists(const std::string& mirrored) {
    showMessage(words::copyExistsText(mirrored));
}

// The window answers, repaints and takes commands while copies run on other threads; a close
// request ends the process from here.
void MainWindow::waitFor(join::BackgroundWork& work) {
    QEventLoop loop;
    work.whenFinished(
        [&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
    // The copy's progress, at most 4 times a second.
    QTimer progress;
    progress.setTimerType(Qt::PreciseTimer);
    progress.setInterval(250);
    connect(&progress, &QTimer::timeout, this, [&work] { work.reportProgress(); });
    progress.start();
    if (!work.finished())
        loop.exec();
    progress.stop();
    // The worker may still be telling: it is done with `work` only once this returns.
    work.wait();
}

void MainWindow::entryBegins(int entry, int count, const std::string& entryText) {
    showRunning(true);
    join::RunFigures begun;
    begun.entry = entry;
    begun.entries = count;
    begun.name = join::entryName(entryText);
    m_progressBar->setText(QString::fromUtf8(words::progressText(begun)));
}

void MainWindow::joinEnded(const join::JoinOutcome& outcome) {
    showRunning(false);
    m_desktop.hideProgress();
    // Told only when the user may have turned to something else meanwhile.
    if (outcome.took > m_env.noticeAfter && !isActiveWindow())
        m_desktop.notify(applicationTitle(), endOfRunNotice(outcome));
}

void MainWindow::showClosingMessage(const join::JoinOutcome& outcome) {
    // What could not be copied is kept in a file of the user's state folder, made for the run.
    std::string notCopiedFile;
    if (!outcome.notCopied.empty())
        notCopiedFile = FailureListFile(fileSystemPath(m_env.stateFolder)).addAll(outcome);
    if (m_gone)
        return;
    const QString details = closingDetails(outcome);
    const QString text = closingText(outcome, notCopiedFile);
    if (details.isEmpty())
        m_env.presenter->showPlainMessage(this, applicationTitle(), text);
    else
        m_env.presenter->showDetailedMessage(this, applicationTitle(), text, details);
}

} // namespace shell
