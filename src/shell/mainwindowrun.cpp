// A join run as the window shows it, MainWindow as the run's host: "Start Joining" and its
// "Stop", "Pause Now" and "Resume", what the window shows and disables while a run is under way,
// the progress bar and the task bar's progress, the end of a run and its closing message. The run
// itself works on a thread of its own (JoinJob); what it tells arrives here on the window's.
#include "closingmessage.h"
#include "endrequests.h"
#include "failurelist.h"
#include "join/run/runprogress.h"
#include "mainwindow.h"
#include "pathtext.h"
#include "startup.h"
#include "textprogressbar.h"
#include "windowtexts.h"
#include "words/words.h"

#include <QAction>
#include <QGroupBox>
#include <QPushButton>

namespace shell {

void MainWindow::startOrStopJoining() {
    if (m_job.running()) {
        askToStop();
        return;
    }
    m_job.start();
}

void MainWindow::askToStop() {
    if (!m_job.running() || m_job.control()->stopRequested() || m_gone)
        return;
    const bool stop = m_env.presenter->askYesNo(this, applicationTitle(), StopQuestion);
    if (!stop || !m_job.running())
        return;
    m_job.control()->requestStop();
    // The stop is under way: there is nothing more to ask. A pause ends with it.
    if (m_runState != RunState::Idle)
        setRunState(RunState::Stopping);
}

void MainWindow::pauseOrResume() {
    const std::shared_ptr<join::RunControl> control = m_job.control();
    if (m_runState == RunState::Running) {
        control->pause();
        setRunState(control->paused() ? RunState::Paused : RunState::Pausing);
    } else if (m_runState == RunState::Pausing || m_runState == RunState::Paused) {
        control->resume();
        setRunState(RunState::Running);
    }
}

void MainWindow::pauseChanged() {
    const bool paused = m_job.control()->paused();
    if (m_runState == RunState::Pausing && paused)
        setRunState(RunState::Paused);
}

void MainWindow::runEnded() {
    setRunState(RunState::Idle);
}

void MainWindow::setRunState(RunState state) {
    const bool wasIdle = m_runState == RunState::Idle;
    m_runState = state;
    const bool running = state != RunState::Idle;
    if (wasIdle && running)
        m_lastFigures = {};
    m_startAction->setText(running ? StopCaption : StartCaption);
    m_startAction->setEnabled(state != RunState::Stopping);
    m_pauseAction->setText(state == RunState::Pausing || state == RunState::Paused ? ResumeCaption
                                                                                   : PauseCaption);
    m_pauseAction->setEnabled(running && state != RunState::Stopping);
    if (state == RunState::Paused || (state == RunState::Running && m_lastFigures.entry > 0))
        m_progressBar->setText(QString::fromUtf8(state == RunState::Paused
                                                     ? words::pausedText(m_lastFigures)
                                                     : words::progressText(m_lastFigures)));
    if (wasIdle == !running)
        return;
    placeRunControls(running);
    m_clearListAction->setEnabled(!running);
    m_sourceList->setLocked(running);
    // These stay usable: the run has read them, and what the user changes is stored for the next.
    const QString note = running ? NextRunNote.text() : QString();
    m_outputFolderBox->setTitle(OutputFolderTitle + note);
    m_copyOptionsBox->setTitle(CopyOptionsTitle + note);
    m_endRequests->setCatchingSignals(running);
}

void MainWindow::setProgressValue(int percent) {
    m_progressBar->setValue(percent);
    if (m_runHoldsHourglass)
        m_desktop.showProgress(percent);
}

void MainWindow::showRunProgress(const join::RunFigures& figures) {
    setProgressValue(figures.percent);
    m_lastFigures = figures;
    m_progressBar->setText(QString::fromUtf8(m_runState == RunState::Paused
                                                 ? words::pausedText(figures)
                                                 : words::progressText(figures)));
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

void MainWindow::entryBegins(int entry, int count, const std::string& entryText) {
    if (m_runState == RunState::Idle)
        setRunState(RunState::Running);
    join::RunFigures begun;
    begun.entry = entry;
    begun.entries = count;
    begun.name = join::entryName(entryText);
    m_progressBar->setText(QString::fromUtf8(words::progressText(begun)));
}

void MainWindow::joinEnded(const join::JoinOutcome& outcome) {
    setRunState(RunState::Idle);
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
