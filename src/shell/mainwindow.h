#pragma once

#include "desktopbus.h"
#include "join/host/host.h"
#include "join/host/reportlocations.h"
#include "join/tasks/workers.h"
#include "joinjob.h"
#include "listdroptarget.h"
#include "messagepresenter.h"
#include "pointershapes.h"
#include "settings.h"
#include "sourcelistmodel.h"
#include "sources/commandhost.h"
#include "storedchoices.h"

#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeView;

namespace shell {

class EndRequests;
class FocusMark;
class TextProgressBar;

// Everything the main window takes from its surroundings. Tests fill it; members left empty
// get the real services (see MainWindowEnvironment::standard()).
struct MainWindowEnvironment {
    // The folder that holds the executable, without a trailing "/".
    QString programFolder;
    // The settings store; the real user's store unless a file is given.
    Settings settings;
    // The draw 0 <= r < 1 behind openHomePageByChance.
    std::function<double()> randomDraw;
    // The desktop folder, or "" when the platform has none.
    std::function<QString()> desktopFolder;
    // Opens an address in the user's browser; false when that could not be started.
    std::function<bool(const QUrl&)> openUrl;
    // Message boxes.
    std::shared_ptr<MessagePresenter> presenter;
    // Ends the process: 0 for a close, else the signal that asked for the end. The real one
    // never returns.
    std::function<void(int signal)> endProcess;
    // The folder picker and the file-open dialog. When left empty the window makes the real
    // ones (QFileDialog) over itself.
    std::shared_ptr<sources::FolderDialog> folderDialog;
    std::shared_ptr<sources::FileOpenDialog> fileOpenDialog;
    // Where a run keeps the list of what it could not copy.
    QString stateFolder;
    // A run that took longer than this and ends while the window is not the active one ends
    // with a desktop notification.
    std::chrono::milliseconds noticeAfter{10000};

    // The real services: QCoreApplication::applicationDirPath(), the user's store, a draw seeded
    // from the time of day, QStandardPaths, QDesktopServices, QMessageBox, the end of the process
    // once the copies under way have removed what they partly wrote (by the signal that asked
    // for it, if one did), the user's state folder.
    static MainWindowEnvironment standard();
};

// The program's one window: the source list, the command buttons, the output folder and copy
// options, the progress bar. Its pointer value doubles as the busy flag. It is the host through
// which the join engine reads the list and options and reports progress and failures, and the
// host of the commands that fill and empty the list. mainwindow.cpp wires it together;
// mainwindowlayout.cpp holds its designed look, mainwindowrun.cpp what it shows of a join run.
class MainWindow : public QWidget, public join::JoinHost, public sources::CommandHost {
    Q_OBJECT

public:
    explicit MainWindow(MainWindowEnvironment environment, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence; runs once, before the window is first shown.
    void startUp();

    // "...": browse for the output folder.
    void browseForOutputFolder();
    // "Start Joining"; during a run the same button reads "Stop" and asks whether to stop.
    void startOrStopJoining();
    // "Help".
    void showHelp();

    // The skin beside the program, if there is one.
    void ApplySkin();

    Settings& settings() { return m_env.settings; }
    // True while a join run is under way, from "Start Joining" until its closing message is
    // closed.
    bool JoinRunning() const { return m_job.running(); }

    // What the window shows of a join run. Every control's caption and state follow from it.
    enum class RunState { Idle, Running, Pausing, Paused, Stopping };
    RunState runState() const { return m_runState; }
    // The control of the run under way, or of the next.
    std::shared_ptr<join::RunControl> runControl() const { return m_job.control(); }
    // "Pause Now" during a run, "Resume" while paused or pausing.
    void pauseOrResume();

signals:
    // The window has shown a call of the join run under way (its bar, pointer, a message).
    void runCallShown();

public:
    // sources::CommandHost
    sources::SourceList& sourceList() override { return *m_sourceList; }
    join::Pointer pointer() const override { return m_pointer; }
    // A setting of the program's section as UTF-8 text, or the default when absent.
    std::string GetSetting(const std::string& key, const std::string& defaultValue) override;
    sources::FolderDialog& folderDialog() override { return *m_env.folderDialog; }
    sources::FileOpenDialog& fileOpenDialog() override { return *m_env.fileOpenDialog; }
    // The folder of the executable as file-system bytes, without a trailing "/".
    std::string programFolder() const override;

    // join::JoinHost
    int sourceCount() const override;
    std::string sourceText(int index) const override;
    std::string outputFolderText() const override;
    join::CopyOption copyOption() const override;
    void setPointer(join::Pointer pointer) override;
    void setProgressValue(int percent) override;
    // The bar's text: the entry under way and how far its copy has come.
    void showRunProgress(const join::RunFigures& figures) override;
    void writesFinishing() override;
    void progressEnded() override;
    void pumpEvents() override;
    // The walk of a command that adds folders to the list is never cut short: a stop is a run's,
    // and that list would miss folders without a word.
    bool walkStopped() const override { return false; }
    void showMessage(const std::string& text) override;
    void showErrorReport(const join::Failure& failure, const std::string& location,
                         int line) override;
    void runRefused(join::RunRefusal why) override;
    void copyExists(const std::string& mirrored) override;
    bool showsCopyProgress() const override { return true; }
    void entryBegins(int entry, int count, const std::string& entryText) override;
    void joinEnded(const join::JoinOutcome& outcome) override;
    // The closing message names the file that lists what could not be copied and shows every
    // one under "Show Details...", with what the flat copy's rules left.
    void showClosingMessage(const join::JoinOutcome& outcome) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The designed look (mainwindowlayout.cpp).
    void createControls();
    void setDesignedAppearance();
    void setDesignedFonts(double scale);
    // The designed colours and the skin on a light desktop palette; the desktop's on a dark one.
    void showDesignedColours();
    // The layout at the largest scale up to 1 at which the window fits its screen.
    void fitToScreen();
    void setDesignedTabOrder();
    // The first column's width in the list at the layout's scale.
    int firstColumnWidth() const;

    // The wiring (mainwindow.cpp).
    void trackPointerMovement();
    void connectOwnHandlers();
    void connectCommands();
    std::optional<int> selectedSource() const;
    bool sourceListEvent(QObject* watched, QEvent* event);
    void loadHandCursor(const QString& path);
    void showPointer();
    void pointerMoved(join::Pointer shape);
    // The window goes and the process ends, once the copies of a run under way have stopped and
    // removed what they partly wrote; `signal` asked for it, or 0 for a close.
    void leave(int signal);

    // A join run (mainwindowrun.cpp).
    // Escape or "Stop" during a run: asks whether to stop it.
    void askToStop();
    // Shows `state`: during a run "Stop" in place of "Start Joining" and "Pause Now" beside it,
    // the commands the run refuses disabled, the note that a change of the output folder or the
    // option counts from the next run; while pausing or paused "Resume", and the bar says so;
    // while stopping nothing more to ask.
    void setRunState(RunState state);
    // The run's pause took effect, or ended.
    void pauseChanged();
    // The run has ended and its closing message is closed.
    void runEnded();
    // Where "Stop" and "Pause Now" stand (mainwindowlayout.cpp): side by side during a run.
    void placeRunControls(bool duringRun);

    MainWindowEnvironment m_env;
    join::Pointer m_pointer = join::Pointer::Default;
    PointerShapes m_pointerShapes;
    // Moving over these shows the hand; moving over the others brings the arrow back.
    QList<QPushButton*> m_commandButtons;
    QList<QWidget*> m_listParts;
    QList<QWidget*> m_groupBoxes;
    // The skin's style sheet, when there is one beside the program.
    std::optional<QString> m_skin;
    // Each control's designed place, and the window's designed size, drawn at m_layoutScale.
    QList<QPair<QPointer<QWidget>, QRect>> m_designedGeometry;
    QSize m_designedSize;
    double m_layoutScale = 1.0;
    bool m_followsScreen = false;
    FocusMark* m_focusMark = nullptr;
    // The output folder and the copy option, stored as they change.
    StoredChoices m_choices{m_env.settings, *this};
    // The window has gone (closed, a signal, destroyed): no box opens any more.
    bool m_gone = false;
    RunState m_runState = RunState::Idle;
    // From the run's first entry until it gives the pointer back, the busy state is the run's.
    bool m_runHoldsHourglass = false;
    // The run's last figures, for the bar while paused.
    join::RunFigures m_lastFigures;
    ListDropTarget m_drops{*this, *this};
    DesktopBus m_desktop;
    EndRequests* m_endRequests = nullptr;

    SourceListModel* m_sourceList = nullptr;
    // The controls, in creation order. Each also carries its designed object name (createControls),
    // which the skin selects by.
    QTreeView* m_sourceListView = nullptr;
    QGroupBox* m_outputFolderBox = nullptr;
    QLineEdit* m_outputFolderEdit = nullptr;
    QPushButton* m_browseButton = nullptr;
    QGroupBox* m_copyOptionsBox = nullptr;
    QRadioButton* m_flatOption = nullptr;
    QRadioButton* m_preserveOption = nullptr;
    QPushButton* m_addFolderButton = nullptr;
    QPushButton* m_addFolderTreeButton = nullptr;
    QPushButton* m_loadListButton = nullptr;
    QPushButton* m_clearListButton = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_pauseButton = nullptr;
    // The commands whose caption or state a run changes; every button shows its command's action.
    QAction* m_startAction = nullptr;
    QAction* m_pauseAction = nullptr;
    QAction* m_clearListAction = nullptr;
    TextProgressBar* m_progressBar = nullptr;
    QPushButton* m_helpButton = nullptr;
    QPushButton* m_sampleFoldersButton = nullptr;

    // Last, so that the run has ended before anything it tells goes.
    JoinJob m_job{*this};
};

} // namespace shell
