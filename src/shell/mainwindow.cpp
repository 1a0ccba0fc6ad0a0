#include "mainwindow.h"

#include "closingmessage.h"
#include "cursorfile.h"
#include "designedfont.h"
#include "designedstyle.h"
#include "desktoppalette.h"
#include "endrequests.h"
#include "filedialogs.h"
#include "focusmark.h"
#include "join/fs/failure.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/host/trap.h"
#include "join/run/failurelist.h"
#include "join/tasks/workers.h"
#include "screenfit.h"
#include "sources/commands.h"
#include "startup.h"
#include "textprogressbar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
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

// Designed positions and sizes are in twips: 15 twips are one pixel at 96 dots per inch.
constexpr int px(int twips) {
    return (twips + 7) / 15;
}

QRect scaled(const QRect& designed, double scale) {
    return QRect(qRound(designed.x() * scale), qRound(designed.y() * scale),
                 qRound(designed.width() * scale), qRound(designed.height() * scale));
}

void place(QWidget* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(px(left), px(top), px(width), px(height));
}

// A background is never forced alone: with a dark desktop palette the text would keep its light
// colour on the forced light background.
void setBackground(QWidget* widget, const QColor& background, const QColor& text) {
    // Buttons fill with their button colour by default; these fill with their background.
    widget->setBackgroundRole(QPalette::Window);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// The widget takes its colours from its container again, and so from the desktop.
void followDesktop(QWidget* widget) {
    widget->setPalette(QPalette());
    widget->setAutoFillBackground(false);
}

std::string fileSystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString fromFileSystem(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

const QString OutputFolderKey = QStringLiteral("Output Folder");
const QString PreserveOptionKey = QStringLiteral("Option1");
const QString FlatOptionKey = QStringLiteral("Option2");
const char* const LastFolderDotKey = "LastFolderDot";
const char* const FolderPrompt = "Please select folder:";
constexpr qint64 LargestSkinFile = qint64{4} * 1024 * 1024;
constexpr int FirstColumnWidth = 7000;
const QString StopQuestion =
    QStringLiteral("Stop joining? What was copied stays; nothing partly written is left.");
// Captions that change during a run. Each "&" marks the letter that Alt takes to the control.
const QString StartCaption = QStringLiteral("&Start Joining");
const QString StopCaption = QStringLiteral("&Stop");
const QString OutputFolderTitle = QStringLiteral("Save &Results To This Folder");
const QString CopyOptionsTitle = QStringLiteral("Copy &Options");
constexpr double WindowPointSize = 9;
constexpr double ButtonPointSize = 11.25;
// Where the window system has not told the frame around the window yet: a title bar of the
// style's height and a few pixels beside it, as desktops draw them.
constexpr int FrameBorderEstimate = 4;

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
    env.stateFolder = QFile::decodeName(QByteArray::fromStdString(join::userStateFolder()));
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

void MainWindow::createControls() {
    const QString designedName =
        QString::fromLatin1(join::DesignedWindowName.data(), join::DesignedWindowName.size());
    setObjectName(designedName);
    setWindowTitle(designedName);
    // A fixed single border: no resizing, no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(px(7785), px(7260));

    // Creation order is stacking order: later controls lie above earlier ones.
    m_sourceList = new SourceListModel(this);
    m_sourceListView = new QTreeView(this);
    m_sourceListView->setModel(m_sourceList);
    place(m_sourceListView, "ListView1", 120, 120, 7560, 2535);

    m_outputFolderBox = new QGroupBox(OutputFolderTitle, this);
    place(m_outputFolderBox, "Frame2", 120, 4230, 7560, 800);
    m_outputFolderEdit = new QLineEdit(m_outputFolderBox);
    place(m_outputFolderEdit, "Text2", 240, 300, 6375, 345);
    m_browseButton = new QPushButton(QStringLiteral("&..."), m_outputFolderBox);
    place(m_browseButton, "PushButton1", 6720, 300, 585, 345);

    m_copyOptionsBox = new QGroupBox(CopyOptionsTitle, this);
    place(m_copyOptionsBox, "Frame1", 120, 5080, 7560, 1005);
    m_flatOption = new QRadioButton(
        QStringLiteral(
            "&Just copy files (and do not preserve folder structure) when copying to dest folder"),
        m_copyOptionsBox);
    place(m_flatOption, "Option2", 180, 650, 7230, 240);
    m_preserveOption = new QRadioButton(
        QStringLiteral("&Preserve folder structure when copying to destination folder"),
        m_copyOptionsBox);
    place(m_preserveOption, "Option1", 180, 300, 6405, 240);

    m_addFolderButton = new QPushButton(QStringLiteral("&Add Folder(s)"), this);
    place(m_addFolderButton, "PushButton3", 120, 2750, 3735, 405);
    m_addFolderTreeButton = new QPushButton(QStringLiteral("Add All S&ubfolders In Folder"), this);
    place(m_addFolderTreeButton, "PushButton5", 3960, 2750, 3720, 405);
    m_loadListButton = new QPushButton(QStringLiteral("&Load List Of Folders From File"), this);
    place(m_loadListButton, "PushButton10", 120, 3260, 3735, 405);
    m_clearListButton = new QPushButton(QStringLiteral("&Clear List"), this);
    place(m_clearListButton, "PushButton7", 3960, 3260, 3720, 405);
    m_startButton = new QPushButton(StartCaption, this);
    place(m_startButton, "PushButton2", 120, 6210, 7560, 405);
    m_progressBar = new TextProgressBar(this);
    place(m_progressBar, "ProgressBar1", 120, 6730, 7560, 405);
    m_helpButton = new QPushButton(QStringLiteral("&Help"), this);
    place(m_helpButton, "PushButton4", 120, 3770, 3735, 405);
    m_sampleFoldersButton = new QPushButton(QStringLiteral("Load Sample/&Example Folders"), this);
    place(m_sampleFoldersButton, "PushButton6", 3960, 3770, 3720, 405);

    m_commandButtons = {m_browseButton,    m_startButton,         m_addFolderButton,
                        m_helpButton,      m_addFolderTreeButton, m_sampleFoldersButton,
                        m_clearListButton, m_loadListButton};
}

void MainWindow::setDesignedAppearance() {
    setDesignedFonts(1.0);
    for (QPushButton* button : std::as_const(m_commandButtons)) {
        // Return and Enter press the focused button, as in the desktop's dialogs; a plain
        // button outside a dialog answers Space only.
        button->setAutoDefault(true);
    }
    showDesignedColours();

    m_sourceListView->setRootIsDecorated(false);
    m_sourceListView->setUniformRowHeights(true);
    m_sourceListView->setItemsExpandable(false);
    m_sourceListView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sourceListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_sourceListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_sourceListView->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Paths that differ only at their end stay apart; each item's tooltip shows it whole.
    m_sourceListView->setTextElideMode(Qt::ElideMiddle);
    m_sourceListView->header()->setStretchLastSection(false);
    m_sourceListView->header()->setSectionsMovable(false);
    m_sourceListView->setToolTip(
        QStringLiteral("Double-click item to remove it. Move | line to right "
                       "and out of window to reveal full names."));
    m_sourceListView->setAccessibleName(QStringLiteral("Source folders"));

    m_outputFolderEdit->setAccessibleName(QStringLiteral("Output folder"));
    // The box holds any text, as long as it is; a stored text must come back whole.
    m_outputFolderEdit->setMaxLength(std::numeric_limits<int>::max());
    m_browseButton->setAccessibleName(QStringLiteral("Browse for the output folder"));

    // Created after the controls it draws, so that it is destroyed after them.
    auto* designedStyle = new DesignedStyle;
    designedStyle->setParent(this);
    for (QWidget* widget :
         {static_cast<QWidget*>(m_outputFolderBox), static_cast<QWidget*>(m_copyOptionsBox),
          static_cast<QWidget*>(m_flatOption), static_cast<QWidget*>(m_preserveOption)})
        widget->setStyle(designedStyle);
    m_preserveOption->setChecked(true);

    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(true);
    m_progressBar->setAlignment(Qt::AlignCenter);
    m_progressBar->setText(QStringLiteral("Progress Bar"));
    m_progressBar->setAccessibleName(QStringLiteral("Progress"));

    m_focusMark = new FocusMark(this);
    m_designedSize = size();
    for (QWidget* child : findChildren<QWidget*>()) {
        if (!child->objectName().isEmpty() && !child->objectName().startsWith(u"qt_"))
            m_designedGeometry.append({child, child->geometry()});
    }
    fitToScreen();
}

void MainWindow::setDesignedFonts(double scale) {
    // Text is drawn at whole pixel sizes: a smaller layout takes the largest whole size within
    // its scale, so that no caption outgrows its control.
    const double dotsPerPoint = logicalDpiY() / 72.0;
    auto designedFont = [&](double points) {
        QFont font(designedFontFamily());
        font.setPointSizeF(scale == 1.0 ? points
                                        : std::floor(points * scale * dotsPerPoint) / dotsPerPoint);
        font.setWeight(QFont::Bold);
        return font;
    };
    setFont(designedFont(WindowPointSize));
    const QFont buttonFont = designedFont(ButtonPointSize);
    for (QPushButton* button : std::as_const(m_commandButtons))
        button->setFont(buttonFont);
}

// The designed colours and the skin are drawn for a light desktop. On a dark one every control
// keeps the desktop's colours, so that no light list, field or button stands on a dark window.
void MainWindow::showDesignedColours() {
    const QPalette desktop = QApplication::palette();
    const bool light = isLightPalette(desktop);
    // With the skin, the window and then its group boxes and option buttons in control order take
    // the button face, before the skin itself.
    for (QWidget* widget :
         {static_cast<QWidget*>(this), static_cast<QWidget*>(m_outputFolderBox),
          static_cast<QWidget*>(m_copyOptionsBox), static_cast<QWidget*>(m_flatOption),
          static_cast<QWidget*>(m_preserveOption)}) {
        if (!light)
            followDesktop(widget);
        else if (m_skin)
            setBackground(widget, desktop.color(QPalette::Button),
                          desktop.color(QPalette::ButtonText));
        else
            setBackground(widget, Qt::white, Qt::black);
    }

    // The list keeps the desktop's colours; the window's forced background would otherwise show
    // beside its header and behind its scroll bars.
    if (light) {
        QPalette listPalette = m_sourceListView->palette();
        for (const QPalette::ColorRole role : {QPalette::Window, QPalette::WindowText})
            listPalette.setBrush(role, desktop.brush(role));
        m_sourceListView->setPalette(listPalette);
    } else {
        m_sourceListView->setPalette(QPalette());
    }

    QString styleSheet = light && m_skin ? *m_skin : QString();
    // A style sheet draws a corner radius larger than half its box as a square corner: the
    // skin's round option indicators, drawn smaller with a smaller layout, keep their shape.
    if (m_layoutScale < 1.0 && styleSheet.contains(u"::indicator")) {
        const int indicator =
            std::min(QApplication::style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight),
                     m_preserveOption->height());
        styleSheet += QStringLiteral("\nQRadioButton#Option1::indicator, "
                                     "QRadioButton#Option2::indicator { border-radius: %1px; }\n")
                          .arg(indicator / 2);
    }
    if (this->styleSheet() != styleSheet)
        setStyleSheet(styleSheet);
}

// Where the designed window does not fit the screen's available area (a small screen, a large
// scale factor), the whole layout is drawn smaller, fonts with it, until it does: every control
// stays in reach and in its place beside the others, and the window stays fixed. Where it fits,
// it is exactly as designed.
void MainWindow::fitToScreen() {
    const QScreen* screen = windowHandle() ? windowHandle()->screen() : this->screen();
    if (!screen)
        return;
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    QMargins frameMargins(client.left() - frame.left(), client.top() - frame.top(),
                          frame.right() - client.right(), frame.bottom() - client.bottom());
    if (frameMargins.isNull()) {
        const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
        frameMargins = QMargins(FrameBorderEstimate, titleBar + 2 * FrameBorderEstimate,
                                FrameBorderEstimate, FrameBorderEstimate);
    }
    const QRect available = screen->availableGeometry();
    const double scale = fittingScale(m_designedSize, frameMargins, available.size());
    const bool rescaled = scale != m_layoutScale;
    if (rescaled) {
        m_layoutScale = scale;
        for (const auto& [widget, designed] : std::as_const(m_designedGeometry)) {
            if (widget)
                widget->setGeometry(scaled(designed, scale));
        }
        setDesignedFonts(scale);
        setFixedSize(scaled(QRect(QPoint(), m_designedSize), scale).size());
        if (m_sourceList->columnCount() > 0)
            m_sourceListView->setColumnWidth(0, qRound(px(FirstColumnWidth) * scale));
        m_focusMark->follow();
        showDesignedColours();
    }
    if (!rescaled && isVisible())
        return;
    if (scale == 1.0) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), available));
        return;
    }
    // A window drawn smaller fills the height: centred with its frame, so that its title bar
    // stays on the screen too.
    const QRect outer = QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter,
                                            size().grownBy(frameMargins), available);
    const QPoint clientAt(std::max(outer.left(), available.left()) + frameMargins.left(),
                          std::max(outer.top(), available.top()) + frameMargins.top());
    setGeometry(QRect(clientAt, size()));
}

void MainWindow::setDesignedTabOrder() {
    // The order the window reads in: top to bottom, left to right. Group boxes and the progress
    // bar take no focus; Tab stops at the selected option button only.
    const QList<QWidget*> order = {m_sourceListView,      m_addFolderButton,  m_addFolderTreeButton,
                                   m_loadListButton,      m_clearListButton,  m_helpButton,
                                   m_sampleFoldersButton, m_outputFolderEdit, m_browseButton,
                                   m_preserveOption,      m_flatOption,       m_startButton};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

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
    for (QWidget* child : findChildren<QWidget*>()) {
        if (child->testAttribute(Qt::WA_SetCursor))
            m_ownCursors.append({child, child->cursor()});
    }
}

void MainWindow::connectOwnHandlers() {
    connect(m_outputFolderEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        storeSetting(OutputFolderKey, text, join::Procedure::StoreOutputFolder);
    });
    connect(m_preserveOption, &QRadioButton::toggled, this, [this](bool selected) {
        if (selected)
            storeCopyOptions(join::Procedure::StorePreserveOption);
    });
    connect(m_flatOption, &QRadioButton::toggled, this, [this](bool selected) {
        if (selected)
            storeCopyOptions(join::Procedure::StoreFlatOption);
    });
    connect(m_helpButton, &QPushButton::clicked, this, &MainWindow::showHelp);
    // Wherever the focus is in the window.
    auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stop, &QShortcut::activated, this, &MainWindow::askToStop);
}

// The commands work at any time, also while a join run yields to the event loop; those that
// must not disturb a run check the busy pointer themselves.
void MainWindow::connectCommands() {
    connect(m_browseButton, &QPushButton::clicked, this, &MainWindow::browseForOutputFolder);
    connect(m_startButton, &QPushButton::clicked, this, &MainWindow::startOrStopJoining);
    connect(m_addFolderButton, &QPushButton::clicked, this, [this] { sources::addFolder(*this); });
    connect(m_addFolderTreeButton, &QPushButton::clicked, this, [this] {
        ++m_listWalks;
        const auto walked = qScopeGuard([this] { --m_listWalks; });
        sources::addFolderTree(*this);
    });
    connect(m_sampleFoldersButton, &QPushButton::clicked, this,
            [this] { sources::loadSampleFolders(*this); });
    connect(m_clearListButton, &QPushButton::clicked, this, [this] { sources::clearList(*this); });
    connect(m_loadListButton, &QPushButton::clicked, this,
            [this] { sources::loadListFiles(*this); });
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
        return listDragEvent(event);
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

namespace {

// The list only reads what is dropped: it answers Copy, or Link where the source offers no copy,
// never Move, after which a file manager would remove what was dropped. Refused, the drag shows
// the no-entry pointer.
bool answerDrag(QDropEvent* event, bool taken) {
    const Qt::DropActions offered = event->possibleActions();
    const Qt::DropAction action = offered.testFlag(Qt::CopyAction)   ? Qt::CopyAction
                                  : offered.testFlag(Qt::LinkAction) ? Qt::LinkAction
                                                                     : Qt::IgnoreAction;
    if (!taken || action == Qt::IgnoreAction) {
        event->ignore();
        return false;
    }
    event->setDropAction(action);
    event->accept();
    return true;
}

} // namespace

// Folders and one list file are taken, anything else refused, and every drop while the window is
// busy, as Delete and "Clear List" are then.
bool MainWindow::listDragEvent(QEvent* event) {
    auto* drag = static_cast<QDropEvent*>(event);
    switch (event->type()) {
    case QEvent::DragEnter:
        m_drag = sources::readDrop(drag->mimeData()->urls());
        answerDrag(drag, sources::takesDrop(*this, m_drag));
        return true;
    case QEvent::DragMove:
        answerDrag(drag, sources::takesDrop(*this, m_drag));
        return true;
    case QEvent::Drop: {
        // Read again: what lies there may have changed during the drag.
        const sources::Drop dropped = sources::readDrop(drag->mimeData()->urls());
        m_drag = {};
        if (!answerDrag(drag, sources::takesDrop(*this, dropped)))
            return true;
        // Once the drop has been answered, so that a message the load shows does not hold the
        // program the drop came from.
        QMetaObject::invokeMethod(
            this, [this, dropped] { sources::addDropped(*this, dropped); }, Qt::QueuedConnection);
        return true;
    }
    default:
        m_drag = {};
        return true;
    }
}

void MainWindow::browseForOutputFolder() {
    join::Trap trap(*this, join::Procedure::BrowseForOutputFolder);
    std::string lastFolderDot;
    std::string chosen;
    trap.line(100, [&] { lastFolderDot = GetSetting(LastFolderDotKey, ""); });
    trap.line(100, [&] { chosen = folderDialog().BrowseForFolder(FolderPrompt, lastFolderDot); });
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

void MainWindow::startOrStopJoining() {
    if (m_joinRun.JoinRunning()) {
        askToStop();
        return;
    }
    m_joinRun.run();
    showRunning(false);
    // Every copy of the stopped run has ended (the run waits for them), so the stop is withdrawn
    // before anything else can start one.
    if (m_stopAsked && !m_joinRun.JoinRunning()) {
        m_stopAsked = false;
        join::setStopRequested(false);
    }
}

void MainWindow::askToStop() {
    if (!m_joinRun.JoinRunning() || join::stopRequested() || m_gone)
        return;
    const bool stop = m_env.presenter->askYesNo(this, applicationTitle(), StopQuestion);
    if (!stop || !m_joinRun.JoinRunning())
        return;
    m_stopAsked = true;
    join::setStopRequested(true);
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
    const QString note =
        running ? QStringLiteral(" (a change counts from the next run)") : QString();
    m_outputFolderBox->setTitle(OutputFolderTitle + note);
    m_copyOptionsBox->setTitle(CopyOptionsTitle + note);
    m_endRequests->setCatchingSignals(running);
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
    trap.line(128, [&] { m_sourceList->addColumn(QStringLiteral("Source Folder(s)")); });
    trap.line(130, [&] {
        if (m_sourceList->columnCount() < 1)
            throw join::Failure(join::ErrorNumber::IndexOutOfBounds, "Index out of bounds");
        m_sourceListView->setColumnWidth(0, qRound(px(FirstColumnWidth) * m_layoutScale));
    });
    trap.line(132, [&] {
        // The default comes first: without a desktop folder nothing is restored.
        const QString desktop = getDesktopFolder(m_env.desktopFolder);
        m_outputFolderEdit->setText(m_env.settings.GetSetting(OutputFolderKey, desktop));
    });
    trap.line(134, [&] {
        setOptionState(m_preserveOption, readBoolean(m_env.settings.GetSetting(
                                             PreserveOptionKey, QStringLiteral("1"))));
    });
    trap.line(136, [&] {
        setOptionState(m_flatOption,
                       readBoolean(m_env.settings.GetSetting(FlatOptionKey, QStringLiteral("0"))));
    });
}

void MainWindow::loadHandCursor(const QString& path) {
    m_handCursor = loadCursorFile(path, devicePixelRatio());
    showPointer();
}

void MainWindow::ApplySkin() {
    const QString skinPath = m_env.programFolder + QStringLiteral("/x/o.qss");
    if (!QFileInfo(skinPath).isFile())
        return;
    // The button face first; the skin itself once it is read.
    m_skin = QString();
    showDesignedColours();
    QFile skin(skinPath);
    if (!skin.open(QIODevice::ReadOnly))
        throw join::Failure(join::ErrorNumber::PathFileAccessError,
                            "Path/File access error: " + skin.errorString().toStdString());
    const QByteArray styleSheet = skin.read(LargestSkinFile + 1);
    if (styleSheet.size() > LargestSkinFile)
        throw join::Failure(join::ErrorNumber::PathFileAccessError,
                            "Path/File access error: the skin file is too large: " +
                                fileSystemPath(skinPath));
    m_skin = QString::fromUtf8(styleSheet);
    showDesignedColours();
}

void MainWindow::showHelp() {
    join::Trap trap(*this, join::Procedure::ShowHelp);
    trap.line(100, [&] {
        showMessage(std::string("Questions? Please contact Team Quorvik at ") +
                    BRIMVALE_CONTACT_PAGE);
    });
}

void MainWindow::setOptionState(QRadioButton* option, bool selected) {
    if (selected) {
        // Selecting an unselected button counts as a click on it.
        option->setChecked(true);
        return;
    }
    // Qt refuses to clear the selected button of an exclusive group; the stored options may
    // leave both clear.
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(true);
}

void MainWindow::storeCopyOptions(join::Procedure procedure) {
    storeSetting(PreserveOptionKey, booleanText(m_preserveOption->isChecked()), procedure);
    storeSetting(FlatOptionKey, booleanText(m_flatOption->isChecked()), procedure);
}

void MainWindow::storeSetting(const QString& key, const QString& value, join::Procedure procedure) {
    const QSettings::Status status = m_env.settings.SaveSetting(key, value);
    if (status == QSettings::NoError) {
        m_settingsFailureReported = false;
        return;
    }
    // One report for a failing store, not one per keystroke; a later success re-arms it.
    if (m_settingsFailureReported)
        return;
    m_settingsFailureReported = true;
    const std::string file = fileSystemPath(m_env.settings.fileName());
    const std::string description = status == QSettings::AccessError
                                        ? "Cannot write the settings file " + file
                                        : "The settings file " + file + " is not readable";
    showErrorReport(description, join::reportLocation(procedure), 100);
}

void MainWindow::setPointer(join::Pointer pointer) {
    // While a run copies, the busy state is the run's: a command that ends meanwhile (an add,
    // the browse button) leaves the hourglass, so the list still cannot be emptied or shortened.
    if (m_joinRun.HoldsHourglass() && pointer != join::Pointer::Hourglass)
        pointer = join::Pointer::Hourglass;
    m_pointer = pointer;
    showPointer();
}

void MainWindow::showPointer() {
    std::optional<QCursor> shown;
    if (m_pointer == join::Pointer::Hourglass)
        shown = QCursor(Qt::WaitCursor);
    else if (m_pointer == join::Pointer::Custom)
        shown = m_handCursor.value_or(QCursor(Qt::ArrowCursor));

    if (shown) {
        setCursor(*shown);
        for (const auto& [child, own] : std::as_const(m_ownCursors)) {
            if (child)
                child->setCursor(*shown);
        }
    } else {
        unsetCursor();
        for (const auto& [child, own] : std::as_const(m_ownCursors)) {
            if (child)
                child->setCursor(own);
        }
    }
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
    if (m_joinRun.JoinRunning() && !join::stopRequested() && !m_gone &&
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
    if (m_joinRun.JoinRunning()) {
        m_stopAsked = true;
        join::setStopRequested(true);
    }
    hide();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
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

void MainWindow::setProgressValue(int percent) {
    m_progressBar->setValue(percent);
    if (m_joinRun.HoldsHourglass())
        m_desktop.showProgress(percent);
}

void MainWindow::setProgressText(const std::string& text) {
    m_progressBar->setText(QString::fromUtf8(text));
}

void MainWindow::pumpEvents() {
    QCoreApplication::processEvents();
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

// Once the window has gone no box opens: the process is ending, and no one could answer it.
void MainWindow::showMessage(const std::string& text) {
    if (m_gone)
        return;
    m_env.presenter->showPlainMessage(this, applicationTitle(), QString::fromUtf8(text));
}

void MainWindow::showErrorReport(const std::string& description, const std::string& location,
                                 int line) {
    if (m_gone)
        return;
    m_env.presenter->showErrorReport(
        this, QString::fromUtf8(join::errorReportText(description, location, line)));
}

std::string MainWindow::failureListFolder() const {
    return fileSystemPath(m_env.stateFolder);
}

void MainWindow::entryBegins(int, int, const std::string&) {
    showRunning(true);
}

void MainWindow::joinEnded(const join::JoinOutcome& outcome) {
    showRunning(false);
    m_desktop.hideProgress();
    // Told only when the user may have turned to something else meanwhile.
    if (outcome.took > m_env.noticeAfter && !isActiveWindow())
        m_desktop.notify(applicationTitle(), endOfRunNotice(outcome));
}

void MainWindow::showClosingMessage(const join::JoinOutcome& outcome) {
    if (m_gone)
        return;
    const QString details = closingDetails(outcome);
    if (details.isEmpty())
        m_env.presenter->showPlainMessage(this, applicationTitle(), closingText(outcome));
    else
        m_env.presenter->showDetailedMessage(this, applicationTitle(), closingText(outcome),
                                             details);
}

} // namespace shell
