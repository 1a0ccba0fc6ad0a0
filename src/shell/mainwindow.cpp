// The window itself: its environment, start-up, the wiring of every button, key and shortcut,
// the pointer over its controls, the close and the end of the process, and what it answers the
// engine and the list commands as their host. Its designed look is in mainwindowlayout.cpp, what
// it shows of a join run in mainwindowrun.cpp.
#include "mainwindow.h"

#include "endrequests.h"
#include "failurelist.h"
#include "filedialogs.h"
#include "join/fs/failure.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/host/trap.h"
#include "join/tasks/workers.h"
#include "pathtext.h"
#include "sources/commands.h"
#include "startup.h"
#include "windowtexts.h"
#include "words/words.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTreeView>
#include <QWindow>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <utility>

// Resources compiled into the static shell library must be registered by name, from the global
// namespace, and only once.
static void initShellResources() {
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    Q_INIT_RESOURCE(shell);
}

namespace shell {

namespace {

// The button shows the action's caption and whether it is enabled; a click triggers it.
void showAction(QPushButton* button, QAction* action) {
    const auto show = [button, action] {
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
    };
    QObject::connect(action, &QAction::changed, button, show);
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    show();
}

const char* const LastFolderDotKey = "LastFolderDot";
const char* const FolderPrompt = QT_TRANSLATE_NOOP("Window", "Please select folder:");

} // namespace

MainWindowEnvironment MainWindowEnvironment::standard() {
    MainWindowEnvironment env;
    env.programFolder = QCoreApplication::applicationDirPath();
    env.randomDraw = &drawSeededByTimeOfDay;
    env.desktopFolder = &standardDesktopFolder;
    env.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    env.presenter = std::make_shared<MessageBoxPresenter>();
    env.endProcess = [](int signal) {
        // Copies under way remove what they have partly written before the process ends.
        join::stopAllCopies();
        std::fflush(nullptr);
        if (signal != 0) {
            // Ended by the signal, as whoever sent it expects.
            struct sigaction standard {};
            standard.sa_handler = SIG_DFL;
            sigemptyset(&standard.sa_mask);
            ::sigaction(signal, &standard, nullptr);
            std::raise(signal);
        }
        std::_Exit(0);
    };
    env.stateFolder = QFile::decodeName(QByteArray::fromStdString(userStateFolder()));
    return env;
}

MainWindow::MainWindow(MainWindowEnvironment environment, QWidget* parent)
    : QWidget(parent), m_env(std::move(environment)) {
    initShellResources();
    const MainWindowEnvironment standard = MainWindowEnvironment::standard();
    if (m_env.programFolder.isEmpty())
        m_env.programFolder = standard.programFolder;
    if (!m_env.randomDraw)
        m_env.randomDraw = standard.randomDraw;
    if (!m_env.desktopFolder)
        m_env.desktopFolder = standard.desktopFolder;
    if (!m_env.openUrl)
        m_env.openUrl = standard.openUrl;
    if (!m_env.presenter)
        m_env.presenter = standard.presenter;
    if (!m_env.endProcess)
        m_env.endProcess = standard.endProcess;
    if (!m_env.folderDialog)
        m_env.folderDialog = std::make_shared<FolderPickerDialog>(this);
    if (!m_env.fileOpenDialog)
        m_env.fileOpenDialog = std::make_shared<FilePickerDialog>(this);
    if (m_env.stateFolder.isEmpty())
        m_env.stateFolder = standard.stateFolder;

    createControls();
    setDesignedAppearance();
    setDesignedTabOrder();
    trackPointerMovement();
    connectOwnHandlers();
    connectCommands();

    m_endRequests = new EndRequests(this);
    connect(m_endRequests, &EndRequests::signalled, this, &MainWindow::leave);
    connect(m_endRequests, &EndRequests::windowDestroyed, this, [this] { leave(0); });
}

MainWindow::~MainWindow() = default;

void MainWindow::trackPointerMovement() {
    m_listParts = {m_sourceListView, m_sourceListView->viewport(), m_sourceListView->header()};
    m_groupBoxes = {m_copyOptionsBox, m_outputFolderBox};
    setMouseTracking(true);
    QList<QWidget*> watched = m_listParts + m_groupBoxes;
    for (QPushButton* button : std::as_const(m_commandButtons))
        watched.append(button);
    for (QWidget* widget : std::as_const(watched)) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }
    m_pointerShapes.collectOwnCursors(*this);
}

void MainWindow::connectOwnHandlers() {
    connect(m_outputFolderEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_choices.storeOutputFolder(text); });
    connect(m_preserveOption, &QRadioButton::toggled, this, [this](bool selected) {
        if (selected)
            m_choices.storeCopyOptions(m_preserveOption->isChecked(), m_flatOption->isChecked(),
                                       join::Procedure::StorePreserveOption);
    });
    connect(m_flatOption, &QRadioButton::toggled, this, [this](bool selected) {
        if (selected)
            m_choices.storeCopyOptions(m_preserveOption->isChecked(), m_flatOption->isChecked(),
                                       join::Procedure::StoreFlatOption);
    });
    // Wherever the focus is in the window.
    auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stop, &QShortcut::activated, this, &MainWindow::askToStop);
}

// The commands work at any time, also while a join run yields to the event loop; those that
// must not disturb a run check the busy pointer themselves.
// Each command is an action, with its caption and Alt letter; its button shows it.
void MainWindow::connectCommands() {
    const auto command = [this](QPushButton* button, const auto& run) {
        auto* action = new QAction(button->text(), this);
        connect(action, &QAction::triggered, this, run);
        showAction(button, action);
        return action;
    };
    command(m_browseButton, [this] { browseForOutputFolder(); });
    m_startAction = command(m_startButton, [this] { startOrStopJoining(); });
    m_pauseAction = command(m_pauseButton, [this] { pauseOrResume(); });
    command(m_addFolderButton, [this] { sources::addFolder(*this); });
    command(m_addFolderTreeButton, [this] { sources::addFolderTree(*this); });
    command(m_sampleFoldersButton, [this] { sources::loadSampleFolders(*this); });
    m_clearListAction = command(m_clearListButton, [this] { sources::clearList(*this); });
    command(m_loadListButton, [this] { sources::loadListFiles(*this); });
    command(m_helpButton, [this] { showHelp(); });
    connect(&m_job, &JoinJob::pauseChanged, this, &MainWindow::pauseChanged);
    connect(&m_job, &JoinJob::ended, this, &MainWindow::runEnded);
    connect(&m_job, &JoinJob::delivered, this, &MainWindow::runCallShown);
    // The list's keys, double-clicks and drops arrive through eventFilter(). Drops land on its
    // items' area or, through the list itself, on its header and scroll bars.
    m_sourceListView->setAcceptDrops(true);
    m_sourceListView->viewport()->setAcceptDrops(true);
}

std::optional<int> MainWindow::selectedSource() const {
    const QModelIndexList rows = m_sourceListView->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return rows.front().row() + 1;
}

// Every key pressed in the list goes to removeOnDeleteKey (which acts on Delete only) and then
// on to the list itself. A double-click anywhere in the list's area, on an item or on the empty
// space below the items, acts on the selected item; so that it can, a press on the empty space
// only gives the list the focus and leaves the selection as it is.
bool MainWindow::sourceListEvent(QObject* watched, QEvent* event) {
    if ((watched == m_sourceListView || watched == m_sourceListView->viewport()) &&
        (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
         event->type() == QEvent::DragLeave || event->type() == QEvent::Drop))
        return m_drops.dragEvent(event);
    if (watched == m_sourceListView && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        sources::removeOnDeleteKey(*this, key->key(), selectedSource());
        return false;
    }
    if (watched != m_sourceListView->viewport() ||
        (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick))
        return false;
    // Only now is the event known to be a mouse event.
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (event->type() == QEvent::MouseButtonPress &&
        !m_sourceListView->indexAt(mouse->position().toPoint()).isValid()) {
        m_sourceListView->setFocus(Qt::MouseFocusReason);
        return true;
    }
    if (event->type() == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton) {
        sources::removeOnDoubleClick(*this, selectedSource());
        return true;
    }
    return false;
}

void MainWindow::browseForOutputFolder() {
    join::Trap trap(*this, join::Procedure::BrowseForOutputFolder);
    std::string lastFolderDot;
    std::string chosen;
    trap.line(100, [&] { lastFolderDot = GetSetting(LastFolderDotKey, ""); });
    trap.line(100, [&] {
        chosen =
            folderDialog().BrowseForFolder(Window::tr(FolderPrompt).toStdString(), lastFolderDot);
    });
    if (trap.test(102, [&] { return chosen.empty(); }))
        return;
    trap.line(104, [&] { setPointer(join::Pointer::Hourglass); });
    // The test looks at the folder as chosen; the separator is added after normalising.
    if (trap.test(106, [&] { return join::endsWithSeparator(chosen); }))
        trap.line(
            108, [&] { m_outputFolderEdit->setText(fromFileSystem(join::normalizePath(chosen))); });
    else
        trap.line(110, [&] {
            m_outputFolderEdit->setText(fromFileSystem(join::normalizePath(chosen) + "/"));
        });
    trap.line(112, [&] { setPointer(join::Pointer::Default); });
}

void MainWindow::startUp() {
    join::Trap trap(*this, join::Procedure::StartUp);
    trap.line(100, [&] { ApplySkin(); });
    trap.line(104, [&] { setWindowTitle(QString::fromLatin1(ProductName)); });
    trap.line(104, [&] { setWindowIcon(QIcon(QStringLiteral(":/brimvale/brimvale.png"))); });
    trap.line(104, [&] { setApplicationTitle(); });
    const QString cursorPath = m_env.programFolder + QStringLiteral("/HAND-M.CUR");
    if (trap.test(106, [&] { return join::fileIsPresent(fileSystemPath(cursorPath)); }))
        trap.line(108, [&] { loadHandCursor(cursorPath); });
    trap.line(110, [&] { openHomePageByChance(m_env.randomDraw, m_env.openUrl); });
    trap.line(128, [&] { m_sourceList->addColumn(Window::tr("Source Folder(s)")); });
    trap.line(130, [&] {
        if (m_sourceList->columnCount() < 1)
            throw join::Failure(join::ErrorNumber::IndexOutOfBounds,
                                Window::tr("Index out of bounds").toStdString());
        m_sourceListView->setColumnWidth(0, firstColumnWidth());
    });
    trap.line(132, [&] {
        // The default comes first: without a desktop folder nothing is restored.
        const QString desktop = getDesktopFolder(m_env.desktopFolder);
        m_outputFolderEdit->setText(m_choices.outputFolder(desktop));
    });
    trap.line(134, [&] { setOptionState(m_preserveOption, m_choices.preserveOption()); });
    trap.line(136, [&] { setOptionState(m_flatOption, m_choices.flatOption()); });
}

void MainWindow::loadHandCursor(const QString& path) {
    m_pointerShapes.loadHand(path, devicePixelRatio());
    showPointer();
}

void MainWindow::showHelp() {
    join::Trap trap(*this, join::Procedure::ShowHelp);
    trap.line(100, [&] {
        showMessage(Window::tr("Questions? Please contact Team Quorvik at %1")
                        .arg(QStringLiteral(BRIMVALE_CONTACT_PAGE))
                        .toStdString());
    });
}

void MainWindow::setPointer(join::Pointer pointer) {
    // While a run copies, the busy state is the run's: a command that ends meanwhile (an add,
    // the browse button) leaves the hourglass, so the list still cannot be emptied or shortened.
    if (m_job.delivering())
        m_runHoldsHourglass = pointer == join::Pointer::Hourglass;
    else if (m_runHoldsHourglass && pointer != join::Pointer::Hourglass)
        pointer = join::Pointer::Hourglass;
    m_pointer = pointer;
    showPointer();
}

void MainWindow::showPointer() {
    m_pointerShapes.show(*this, m_pointer);
}

// Pointer movement: over a command button the hand, over the window background, the list or a
// group box the arrow, unless the window is busy. Qt passes a move that a control ignores on to
// its container; a group box or the window counts a move only where no control of its own lies.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (sourceListEvent(watched, event))
        return true;
    // The second click of a double-click on "Start Joining" would land on "Stop" and ask.
    if (watched == m_startButton && event->type() == QEvent::MouseButtonDblClick)
        return true;
    if (event->type() != QEvent::MouseMove)
        return QWidget::eventFilter(watched, event);
    const auto* move = static_cast<QMouseEvent*>(event);
    auto* widget = static_cast<QWidget*>(watched);
    if (auto* button = qobject_cast<QPushButton*>(widget);
        button && m_commandButtons.contains(button)) {
        pointerMoved(join::Pointer::Custom);
        // A plain move ends at the button, so that its container does not see it. Moves with
        // a mouse button held belong to the button itself.
        if (move->buttons() == Qt::NoButton)
            return true;
    } else if (m_listParts.contains(widget) ||
               (m_groupBoxes.contains(widget) && !widget->childAt(move->position().toPoint()))) {
        pointerMoved(join::Pointer::Default);
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_followsScreen && windowHandle()) {
        m_followsScreen = true;
        connect(windowHandle(), &QWindow::screenChanged, this, &MainWindow::fitToScreen);
    }
}

void MainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The desktop turned light or dark while the window is open.
    if (event->type() == QEvent::ApplicationPaletteChange)
        showDesignedColours();
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!childAt(event->position().toPoint()))
        pointerMoved(join::Pointer::Default);
    QWidget::mouseMoveEvent(event);
}

void MainWindow::pointerMoved(join::Pointer shape) {
    if (m_pointer != join::Pointer::Hourglass)
        setPointer(shape);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Every setting is stored the moment it changes; only a run under way is worth a question,
    // the one Escape asks. Once its stop is under way the window goes without one.
    if (m_job.running() && !m_job.control()->stopRequested() && !m_gone &&
        !m_env.presenter->askYesNo(this, applicationTitle(), StopQuestion)) {
        event->ignore();
        return;
    }
    event->accept();
    leave(0);
}

void MainWindow::leave(int signal) {
    if (m_gone)
        return;
    m_gone = true;
    // Whoever signals from here on does not want to wait for the copies.
    m_endRequests->setCatchingSignals(false);
    // The run stops, and what it had partly written is gone before the process ends.
    m_job.abandon();
    hide();
    m_job.waitForEnd();
    m_env.endProcess(signal);
}

std::string MainWindow::programFolder() const {
    return fileSystemPath(m_env.programFolder);
}

std::string MainWindow::GetSetting(const std::string& key, const std::string& defaultValue) {
    return m_env.settings.GetSetting(QString::fromUtf8(key), QString::fromUtf8(defaultValue))
        .toUtf8()
        .toStdString();
}

int MainWindow::sourceCount() const {
    return m_sourceList->count();
}

std::string MainWindow::sourceText(int index) const {
    return m_sourceList->text(index);
}

std::string MainWindow::outputFolderText() const {
    return m_outputFolderEdit->text().toUtf8().toStdString();
}

join::CopyOption MainWindow::copyOption() const {
    return m_preserveOption->isChecked() ? join::CopyOption::PreserveStructure
                                         : join::CopyOption::Flat;
}

void MainWindow::pumpEvents() {
    QCoreApplication::processEvents();
}

// Once the window has gone no box opens: the process is ending, and no one could answer it.
void MainWindow::showMessage(const std::string& text) {
    if (m_gone)
        return;
    m_env.presenter->showPlainMessage(this, applicationTitle(), QString::fromUtf8(text));
}

void MainWindow::showErrorReport(const join::Failure& failure, const std::string& location,
                                 int line) {
    if (m_gone)
        return;
    m_env.presenter->showErrorReport(
        this, QString::fromUtf8(words::errorReportText(failure, location, line)));
}
} // namespace shell
