#include "form1.h"

#include "closingmessage.h"
#include "cursorfile.h"
#include "designedfont.h"
#include "designedstyle.h"
#include "desktoppalette.h"
#include "endrequests.h"
#include "filedialogs.h"
#include "focusmark.h"
#include "join/failure.h"
#include "join/failurelist.h"
#include "join/paths.h"
#include "join/posixfs.h"
#include "join/trap.h"
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

std::string location(std::string_view procedure) {
    return join::locationString(ProductName, "Form1", procedure);
}

std::string fileSystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString fromFileSystem(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

const QString OutputFolderKey = QStringLiteral("Output Folder");
const QString Option1Key = QStringLiteral("Option1");
const QString Option2Key = QStringLiteral("Option2");
const char* const LastFolderDotKey = "LastFolderDot";
const char* const FolderPrompt = "Please select folder:";
constexpr int IndexOutOfBounds = 35600;
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

Form1Environment Form1Environment::standard() {
    Form1Environment env;
    env.programFolder = QCoreApplication::applicationDirPath();
    env.randomDraw = &DrawSeededByTimeOfDay;
    env.desktopFolder = &StandardDesktopFolder;
    env.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    env.presenter = std::make_shared<MessageBoxPresenter>();
    env.endProcess = [](int signal) {
        // Copies under way remove what they have partly written before the process ends.
        join::StopAllCopies();
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
    env.stateFolder = QFile::decodeName(QByteArray::fromStdString(join::UserStateFolder()));
    return env;
}

Form1::Form1(Form1Environment environment, QWidget* parent)
    : QWidget(parent), m_env(std::move(environment)) {
    initShellResources();
    const Form1Environment standard = Form1Environment::standard();
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
    connect(m_endRequests, &EndRequests::signalled, this, &Form1::leave);
    connect(m_endRequests, &EndRequests::windowDestroyed, this, [this] { leave(0); });
}

Form1::~Form1() = default;

void Form1::createControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    // A fixed single border: no resizing, no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(px(7785), px(7260));

    // Creation order is stacking order: later controls lie above earlier ones.
    m_sourceList = new SourceListModel(this);
    m_listView1 = new QTreeView(this);
    m_listView1->setModel(m_sourceList);
    place(m_listView1, "ListView1", 120, 120, 7560, 2535);

    m_frame2 = new QGroupBox(OutputFolderTitle, this);
    place(m_frame2, "Frame2", 120, 4230, 7560, 800);
    m_text2 = new QLineEdit(m_frame2);
    place(m_text2, "Text2", 240, 300, 6375, 345);
    m_pushButton1 = new QPushButton(QStringLiteral("&..."), m_frame2);
    place(m_pushButton1, "PushButton1", 6720, 300, 585, 345);

    m_frame1 = new QGroupBox(CopyOptionsTitle, this);
    place(m_frame1, "Frame1", 120, 5080, 7560, 1005);
    m_option2 = new QRadioButton(
        QStringLiteral(
            "&Just copy files (and do not preserve folder structure) when copying to dest folder"),
        m_frame1);
    place(m_option2, "Option2", 180, 650, 7230, 240);
    m_option1 = new QRadioButton(
        QStringLiteral("&Preserve folder structure when copying to destination folder"), m_frame1);
    place(m_option1, "Option1", 180, 300, 6405, 240);

    m_pushButton3 = new QPushButton(QStringLiteral("&Add Folder(s)"), this);
    place(m_pushButton3, "PushButton3", 120, 2750, 3735, 405);
    m_pushButton5 = new QPushButton(QStringLiteral("Add All S&ubfolders In Folder"), this);
    place(m_pushButton5, "PushButton5", 3960, 2750, 3720, 405);
    m_pushButton10 = new QPushButton(QStringLiteral("&Load List Of Folders From File"), this);
    place(m_pushButton10, "PushButton10", 120, 3260, 3735, 405);
    m_pushButton7 = new QPushButton(QStringLiteral("&Clear List"), this);
    place(m_pushButton7, "PushButton7", 3960, 3260, 3720, 405);
    m_pushButton2 = new QPushButton(StartCaption, this);
    place(m_pushButton2, "PushButton2", 120, 6210, 7560, 405);
    m_progressBar1 = new TextProgressBar(this);
    place(m_progressBar1, "ProgressBar1", 120, 6730, 7560, 405);
    m_pushButton4 = new QPushButton(QStringLiteral("&Help"), this);
    place(m_pushButton4, "PushButton4", 120, 3770, 3735, 405);
    m_pushButton6 = new QPushButton(QStringLiteral("Load Sample/&Example Folders"), this);
    place(m_pushButton6, "PushButton6", 3960, 3770, 3720, 405);

    m_commandButtons = {m_pushButton1, m_pushButton2, m_pushButton3, m_pushButton4,
                        m_pushButton5, m_pushButton6, m_pushButton7, m_pushButton10};
}

void Form1::setDesignedAppearance() {
    setDesignedFonts(1.0);
    for (QPushButton* button : std::as_const(m_commandButtons)) {
        // Return and Enter press the focused button, as in the desktop's dialogs; a plain
        // button outside a dialog answers Space only.
        button->setAutoDefault(true);
    }
    showDesignedColours();

    m_listView1->setRootIsDecorated(false);
    m_listView1->setUniformRowHeights(true);
    m_listView1->setItemsExpandable(false);
    m_listView1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Paths that differ only at their end stay apart; each item's tooltip shows it whole.
    m_listView1->setTextElideMode(Qt::ElideMiddle);
    m_listView1->header()->setStretchLastSection(false);
    m_listView1->header()->setSectionsMovable(false);
    m_listView1->setToolTip(QStringLiteral("Double-click item to remove it. Move | line to right "
                                           "and out of window to reveal full names."));
    m_listView1->setAccessibleName(QStringLiteral("Source folders"));

    m_text2->setAccessibleName(QStringLiteral("Output folder"));
    // The box holds any text, as long as it is; a stored text must come back whole.
    m_text2->setMaxLength(std::numeric_limits<int>::max());
    m_pushButton1->setAccessibleName(QStringLiteral("Browse for the output folder"));

    // Created after the controls it draws, so that it is destroyed after them.
    auto* designedStyle = new DesignedStyle;
    designedStyle->setParent(this);
    for (QWidget* widget : {static_cast<QWidget*>(m_frame2), static_cast<QWidget*>(m_frame1),
                            static_cast<QWidget*>(m_option2), static_cast<QWidget*>(m_option1)})
        widget->setStyle(designedStyle);
    m_option1->setChecked(true);

    m_progressBar1->setRange(0, 100);
    m_progressBar1->setValue(0);
    m_progressBar1->setTextVisible(true);
    m_progressBar1->setAlignment(Qt::AlignCenter);
    m_progressBar1->setText(QStringLiteral("Progress Bar"));
    m_progressBar1->setAccessibleName(QStringLiteral("Progress"));

    m_focusMark = new FocusMark(this);
    m_designedSize = size();
    for (QWidget* child : findChildren<QWidget*>()) {
        if (!child->objectName().isEmpty() && !child->objectName().startsWith(u"qt_"))
            m_designedGeometry.append({child, child->geometry()});
    }
    fitToScreen();
}

void Form1::setDesignedFonts(double scale) {
    // Text is drawn at whole pixel sizes: a smaller layout takes the largest whole size within
    // its scale, so that no caption outgrows its control.
    const double dotsPerPoint = logicalDpiY() / 72.0;
    auto designedFont = [&](double points) {
        QFont font(DesignedFontFamily());
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
void Form1::showDesignedColours() {
    const QPalette desktop = QApplication::palette();
    const bool light = IsLightPalette(desktop);
    // With the skin, the window and then its group boxes and option buttons in control order take
    // the button face, before the skin itself.
    for (QWidget* widget : {static_cast<QWidget*>(this), static_cast<QWidget*>(m_frame2),
                            static_cast<QWidget*>(m_frame1), static_cast<QWidget*>(m_option2),
                            static_cast<QWidget*>(m_option1)}) {
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
        QPalette listPalette = m_listView1->palette();
        for (const QPalette::ColorRole role : {QPalette::Window, QPalette::WindowText})
            listPalette.setBrush(role, desktop.brush(role));
        m_listView1->setPalette(listPalette);
    } else {
        m_listView1->setPalette(QPalette());
    }

    QString styleSheet = light && m_skin ? *m_skin : QString();
    // A style sheet draws a corner radius larger than half its box as a square corner: the
    // skin's round option indicators, drawn smaller with a smaller layout, keep their shape.
    if (m_layoutScale < 1.0 && styleSheet.contains(u"::indicator")) {
        const int indicator =
            std::min(QApplication::style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight),
                     m_option1->height());
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
void Form1::fitToScreen() {
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
    const double scale = FittingScale(m_designedSize, frameMargins, available.size());
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
            m_listView1->setColumnWidth(0, qRound(px(FirstColumnWidth) * scale));
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

void Form1::setDesignedTabOrder() {
    // The order the window reads in: top to bottom, left to right. Group boxes and the progress
    // bar take no focus; Tab stops at the selected option button only.
    const QList<QWidget*> order = {m_listView1,   m_pushButton3, m_pushButton5, m_pushButton10,
                                   m_pushButton7, m_pushButton4, m_pushButton6, m_text2,
                                   m_pushButton1, m_option1,     m_option2,     m_pushButton2};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void Form1::trackPointerMovement() {
    m_listParts = {m_listView1, m_listView1->viewport(), m_listView1->header()};
    m_groupBoxes = {m_frame1, m_frame2};
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

void Form1::connectOwnHandlers() {
    connect(m_text2, &QLineEdit::textChanged, this,
            [this](const QString& text) { storeSetting(OutputFolderKey, text, "Text2_Change"); });
    connect(m_option1, &QRadioButton::toggled, this, [this](bool selected) {
        if (selected)
            storeCopyOptions("Option1_Click");
    });
    connect(m_option2, &QRadioButton::toggled, this, [this](bool selected) {
        if (selected)
            storeCopyOptions("Option2_Click");
    });
    connect(m_pushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    // Wherever the focus is in the window.
    auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stop, &QShortcut::activated, this, &Form1::askToStop);
}

// The commands work at any time, also while a join run yields to the event loop; those that
// must not disturb a run check the busy pointer themselves.
void Form1::connectCommands() {
    connect(m_pushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(m_pushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(m_pushButton3, &QPushButton::clicked, this,
            [this] { sources::PushButton3_Click(*this); });
    connect(m_pushButton5, &QPushButton::clicked, this, [this] {
        ++m_listWalks;
        const auto walked = qScopeGuard([this] { --m_listWalks; });
        sources::PushButton5_Click(*this);
    });
    connect(m_pushButton6, &QPushButton::clicked, this,
            [this] { sources::PushButton6_Click(*this); });
    connect(m_pushButton7, &QPushButton::clicked, this,
            [this] { sources::PushButton7_Click(*this); });
    connect(m_pushButton10, &QPushButton::clicked, this,
            [this] { sources::PushButton10_Click(*this); });
    // The list's keys, double-clicks and drops arrive through eventFilter(). Drops land on its
    // items' area or, through the list itself, on its header and scroll bars.
    m_listView1->setAcceptDrops(true);
    m_listView1->viewport()->setAcceptDrops(true);
}

std::optional<int> Form1::selectedSource() const {
    const QModelIndexList rows = m_listView1->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return rows.front().row() + 1;
}

// Every key pressed in the list goes to ListView1_KeyDown (which acts on Delete only) and then
// on to the list itself. A double-click anywhere in the list's area, on an item or on the empty
// space below the items, acts on the selected item; so that it can, a press on the empty space
// only gives the list the focus and leaves the selection as it is.
bool Form1::listViewEvent(QObject* watched, QEvent* event) {
    if ((watched == m_listView1 || watched == m_listView1->viewport()) &&
        (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
         event->type() == QEvent::DragLeave || event->type() == QEvent::Drop))
        return listDragEvent(event);
    if (watched == m_listView1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        sources::ListView1_KeyDown(*this, key->key(), key->modifiers(), selectedSource());
        return false;
    }
    if (watched != m_listView1->viewport() ||
        (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick))
        return false;
    // Only now is the event known to be a mouse event.
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (event->type() == QEvent::MouseButtonPress &&
        !m_listView1->indexAt(mouse->position().toPoint()).isValid()) {
        m_listView1->setFocus(Qt::MouseFocusReason);
        return true;
    }
    if (event->type() == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton) {
        sources::ListView1_DblClick(*this, selectedSource());
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
bool Form1::listDragEvent(QEvent* event) {
    auto* drag = static_cast<QDropEvent*>(event);
    switch (event->type()) {
    case QEvent::DragEnter:
        m_drag = sources::ReadDrop(drag->mimeData()->urls());
        answerDrag(drag, sources::TakesDrop(*this, m_drag));
        return true;
    case QEvent::DragMove:
        answerDrag(drag, sources::TakesDrop(*this, m_drag));
        return true;
    case QEvent::Drop: {
        // Read again: what lies there may have changed during the drag.
        const sources::Drop dropped = sources::ReadDrop(drag->mimeData()->urls());
        m_drag = {};
        if (!answerDrag(drag, sources::TakesDrop(*this, dropped)))
            return true;
        // Once the drop has been answered, so that a message the load shows does not hold the
        // program the drop came from.
        QMetaObject::invokeMethod(
            this, [this, dropped] { sources::ListView1_DragDrop(*this, dropped); },
            Qt::QueuedConnection);
        return true;
    }
    default:
        m_drag = {};
        return true;
    }
}

void Form1::PushButton1_Click() {
    join::Trap trap(*this, location("PushButton1_Click"));
    std::string lastFolderDot;
    std::string chosen;
    trap.line(100, [&] { lastFolderDot = GetSetting(LastFolderDotKey, ""); });
    trap.line(100, [&] { chosen = folderDialog().BrowseForFolder(FolderPrompt, lastFolderDot); });
    if (trap.test(102, [&] { return chosen.empty(); }))
        return;
    trap.line(104, [&] { setPointer(join::Pointer::Hourglass); });
    // The test looks at the folder as chosen; the separator is added after normalising.
    if (trap.test(106, [&] { return join::EndsWithSeparator(chosen); }))
        trap.line(108, [&] { m_text2->setText(fromFileSystem(join::NormalizePath(chosen))); });
    else
        trap.line(110,
                  [&] { m_text2->setText(fromFileSystem(join::NormalizePath(chosen) + "/")); });
    trap.line(112, [&] { setPointer(join::Pointer::Default); });
}

void Form1::PushButton2_Click() {
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
        join::SetStopRequested(false);
    }
}

void Form1::askToStop() {
    if (!m_joinRun.JoinRunning() || join::StopRequested() || m_gone)
        return;
    const bool stop = m_env.presenter->askYesNo(this, ApplicationTitle(), StopQuestion);
    if (!stop || !m_joinRun.JoinRunning())
        return;
    m_stopAsked = true;
    join::SetStopRequested(true);
    // The stop is under way: there is nothing more to ask.
    m_pushButton2->setEnabled(false);
}

void Form1::showRunning(bool running) {
    if (running == m_showsRun)
        return;
    m_showsRun = running;
    m_pushButton2->setText(running ? StopCaption : StartCaption);
    m_pushButton2->setEnabled(true);
    m_pushButton7->setEnabled(!running);
    m_sourceList->setLocked(running);
    // These stay usable: the run has read them, and what the user changes is stored for the next.
    const QString note =
        running ? QStringLiteral(" (a change counts from the next run)") : QString();
    m_frame2->setTitle(OutputFolderTitle + note);
    m_frame1->setTitle(CopyOptionsTitle + note);
    m_endRequests->setCatchingSignals(running);
}

void Form1::Form_Load() {
    join::Trap trap(*this, location("Form_Load"));
    trap.line(100, [&] { ApplySkin(); });
    trap.line(104, [&] { setWindowTitle(QString::fromLatin1(ProductName)); });
    trap.line(104, [&] { setWindowIcon(QIcon(QStringLiteral(":/brimvale/brimvale.png"))); });
    trap.line(104, [&] { SetApplicationTitle(); });
    const QString cursorPath = m_env.programFolder + QStringLiteral("/HAND-M.CUR");
    if (trap.test(106, [&] { return join::FileIsPresent(fileSystemPath(cursorPath)); }))
        trap.line(108, [&] { loadHandCursor(cursorPath); });
    trap.line(110, [&] { OpenHomePageByChance(m_env.randomDraw, m_env.openUrl); });
    trap.line(128, [&] { m_sourceList->addColumn(QStringLiteral("Source Folder(s)")); });
    trap.line(130, [&] {
        if (m_sourceList->columnCount() < 1)
            throw join::Failure(IndexOutOfBounds, "Index out of bounds");
        m_listView1->setColumnWidth(0, qRound(px(FirstColumnWidth) * m_layoutScale));
    });
    trap.line(132, [&] {
        // The default comes first: without a desktop folder nothing is restored.
        const QString desktop = GetDesktopFolder(m_env.desktopFolder);
        m_text2->setText(m_env.settings.GetSetting(OutputFolderKey, desktop));
    });
    trap.line(134, [&] {
        setOptionState(m_option1,
                       ReadBoolean(m_env.settings.GetSetting(Option1Key, QStringLiteral("1"))));
    });
    trap.line(136, [&] {
        setOptionState(m_option2,
                       ReadBoolean(m_env.settings.GetSetting(Option2Key, QStringLiteral("0"))));
    });
}

void Form1::loadHandCursor(const QString& path) {
    m_handCursor = LoadCursorFile(path, devicePixelRatio());
    showPointer();
}

void Form1::ApplySkin() {
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

void Form1::PushButton4_Click() {
    join::Trap trap(*this, location("PushButton4_Click"));
    trap.line(100, [&] {
        showMessage(std::string("Questions? Please contact Team Quorvik at ") +
                    BRIMVALE_CONTACT_PAGE);
    });
}

void Form1::setOptionState(QRadioButton* option, bool selected) {
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

void Form1::storeCopyOptions(const char* procedure) {
    storeSetting(Option1Key, BooleanText(m_option1->isChecked()), procedure);
    storeSetting(Option2Key, BooleanText(m_option2->isChecked()), procedure);
}

void Form1::storeSetting(const QString& key, const QString& value, const char* procedure) {
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
    showErrorReport(description, location(procedure), 100);
}

void Form1::setPointer(join::Pointer pointer) {
    // While a run copies, the busy state is the run's: a command that ends meanwhile (an add,
    // the browse button) leaves the hourglass, so the list still cannot be emptied or shortened.
    if (m_joinRun.HoldsHourglass() && pointer != join::Pointer::Hourglass)
        pointer = join::Pointer::Hourglass;
    m_pointer = pointer;
    showPointer();
}

void Form1::showPointer() {
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
bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (listViewEvent(watched, event))
        return true;
    // The second click of a double-click on "Start Joining" would land on "Stop" and ask.
    if (watched == m_pushButton2 && event->type() == QEvent::MouseButtonDblClick)
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

void Form1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_followsScreen && windowHandle()) {
        m_followsScreen = true;
        connect(windowHandle(), &QWindow::screenChanged, this, &Form1::fitToScreen);
    }
}

void Form1::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The desktop turned light or dark while the window is open.
    if (event->type() == QEvent::ApplicationPaletteChange)
        showDesignedColours();
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
    if (!childAt(event->position().toPoint()))
        pointerMoved(join::Pointer::Default);
    QWidget::mouseMoveEvent(event);
}

void Form1::pointerMoved(join::Pointer shape) {
    if (m_pointer != join::Pointer::Hourglass)
        setPointer(shape);
}

void Form1::closeEvent(QCloseEvent* event) {
    // Every setting is stored the moment it changes; only a run under way is worth a question,
    // the one Escape asks. Once its stop is under way the window goes without one.
    if (m_joinRun.JoinRunning() && !join::StopRequested() && !m_gone &&
        !m_env.presenter->askYesNo(this, ApplicationTitle(), StopQuestion)) {
        event->ignore();
        return;
    }
    event->accept();
    leave(0);
}

void Form1::leave(int signal) {
    if (m_gone)
        return;
    m_gone = true;
    // Whoever signals from here on does not want to wait for the copies.
    m_endRequests->setCatchingSignals(false);
    if (m_joinRun.JoinRunning()) {
        m_stopAsked = true;
        join::SetStopRequested(true);
    }
    hide();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_env.endProcess(signal);
}

std::string Form1::programFolder() const {
    return fileSystemPath(m_env.programFolder);
}

std::string Form1::GetSetting(const std::string& key, const std::string& defaultValue) {
    return m_env.settings.GetSetting(QString::fromUtf8(key), QString::fromUtf8(defaultValue))
        .toUtf8()
        .toStdString();
}

int Form1::sourceCount() const {
    return m_sourceList->count();
}

std::string Form1::sourceText(int index) const {
    return m_sourceList->text(index);
}

std::string Form1::outputFolderText() const {
    return m_text2->text().toUtf8().toStdString();
}

join::CopyOption Form1::copyOption() const {
    return m_option1->isChecked() ? join::CopyOption::PreserveStructure : join::CopyOption::Flat;
}

void Form1::setProgressValue(int percent) {
    m_progressBar1->setValue(percent);
    if (m_joinRun.HoldsHourglass())
        m_desktop.showProgress(percent);
}

void Form1::setProgressText(const std::string& text) {
    m_progressBar1->setText(QString::fromUtf8(text));
}

void Form1::pumpEvents() {
    QCoreApplication::processEvents();
}

// The window answers, repaints and takes commands while copies run on other threads; a close
// request ends the process from here.
void Form1::waitFor(join::BackgroundWork& work) {
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
void Form1::showMessage(const std::string& text) {
    if (m_gone)
        return;
    m_env.presenter->showPlainMessage(this, ApplicationTitle(), QString::fromUtf8(text));
}

void Form1::showErrorReport(const std::string& description, const std::string& location, int line) {
    if (m_gone)
        return;
    m_env.presenter->showErrorReport(
        this, QString::fromUtf8(join::errorReportText(description, location, line)));
}

std::string Form1::failureListFolder() const {
    return fileSystemPath(m_env.stateFolder);
}

void Form1::entryBegins(int, int, const std::string&) {
    showRunning(true);
}

void Form1::joinEnded(const join::JoinOutcome& outcome) {
    showRunning(false);
    m_desktop.hideProgress();
    // Told only when the user may have turned to something else meanwhile.
    if (outcome.took > m_env.noticeAfter && !isActiveWindow())
        m_desktop.notify(ApplicationTitle(), EndOfRunNotice(outcome));
}

void Form1::showClosingMessage(const join::JoinOutcome& outcome) {
    if (m_gone)
        return;
    const QString details = ClosingDetails(outcome);
    if (details.isEmpty())
        m_env.presenter->showPlainMessage(this, ApplicationTitle(), ClosingText(outcome));
    else
        m_env.presenter->showDetailedMessage(this, ApplicationTitle(), ClosingText(outcome),
                                             details);
}

} // namespace shell
