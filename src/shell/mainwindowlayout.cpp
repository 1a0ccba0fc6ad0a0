// The window's designed look, as MainWindow builds and keeps it: its controls in their designed
// places, names, captions and stacking order; fonts, colours and the skin on a light or dark
// desktop; the whole layout drawn smaller where the window does not fit its screen; the order
// Tab takes through the controls.
#include "designedfont.h"
#include "designedstyle.h"
#include "desktoppalette.h"
#include "focusmark.h"
#include "join/fs/failure.h"
#include "mainwindow.h"
#include "pathtext.h"
#include "screenfit.h"
#include "textprogressbar.h"
#include "windowtexts.h"
#include "words/words.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTreeView>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

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
// colour on the forced light background. The text set for every colour group still looks
// disabled where its control is.
void setBackground(QWidget* widget, const QColor& background, const QColor& text) {
    // Buttons fill with their button colour by default; these fill with their background.
    widget->setBackgroundRole(QPalette::Window);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    widget->setPalette(withDisabledColours(palette));
    widget->setAutoFillBackground(true);
}

// The widget takes the desktop's colours again: `own`, or its container's for an empty palette.
void followDesktop(QWidget* widget, const QPalette& own) {
    widget->setPalette(own);
    widget->setAutoFillBackground(false);
}

constexpr qint64 LargestSkinFile = qint64{4} * 1024 * 1024;
constexpr int FirstColumnWidth = 7000;
constexpr double WindowPointSize = 9;
constexpr double ButtonPointSize = 11.25;
// Where the window system has not told the frame around the window yet: a title bar of the
// style's height and a few pixels beside it, as desktops draw them.
constexpr int FrameBorderEstimate = 4;

} // namespace

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
    m_browseButton = new QPushButton(Window::tr("&..."), m_outputFolderBox);
    place(m_browseButton, "PushButton1", 6720, 300, 585, 345);

    m_copyOptionsBox = new QGroupBox(CopyOptionsTitle, this);
    place(m_copyOptionsBox, "Frame1", 120, 5080, 7560, 1005);
    m_flatOption = new QRadioButton(
        Window::tr(
            "&Just copy files (and do not preserve folder structure) when copying to dest folder"),
        m_copyOptionsBox);
    place(m_flatOption, "Option2", 180, 650, 7230, 240);
    m_preserveOption = new QRadioButton(
        Window::tr("&Preserve folder structure when copying to destination folder"),
        m_copyOptionsBox);
    place(m_preserveOption, "Option1", 180, 300, 6405, 240);

    m_addFolderButton = new QPushButton(Window::tr("&Add Folder(s)"), this);
    place(m_addFolderButton, "PushButton3", 120, 2750, 3735, 405);
    m_addFolderTreeButton = new QPushButton(Window::tr("Add All S&ubfolders In Folder"), this);
    place(m_addFolderTreeButton, "PushButton5", 3960, 2750, 3720, 405);
    m_loadListButton = new QPushButton(Window::tr("&Load List Of Folders From File"), this);
    place(m_loadListButton, "PushButton10", 120, 3260, 3735, 405);
    m_clearListButton = new QPushButton(Window::tr("&Clear List"), this);
    place(m_clearListButton, "PushButton7", 3960, 3260, 3720, 405);
    m_startButton = new QPushButton(StartCaption, this);
    place(m_startButton, "PushButton2", 120, 6210, 7560, 405);
    // During a run, "Stop" takes the left half of the start button's place and this the right.
    m_pauseButton = new QPushButton(PauseCaption, this);
    place(m_pauseButton, "PauseButton", 3960, 6210, 3720, 405);
    m_pauseButton->hide();
    m_progressBar = new TextProgressBar(this);
    place(m_progressBar, "ProgressBar1", 120, 6730, 7560, 405);
    m_helpButton = new QPushButton(Window::tr("&Help"), this);
    place(m_helpButton, "PushButton4", 120, 3770, 3735, 405);
    m_sampleFoldersButton = new QPushButton(Window::tr("Load Sample/&Example Folders"), this);
    place(m_sampleFoldersButton, "PushButton6", 3960, 3770, 3720, 405);

    m_commandButtons = {m_browseButton,    m_startButton,         m_addFolderButton,
                        m_helpButton,      m_addFolderTreeButton, m_sampleFoldersButton,
                        m_clearListButton, m_loadListButton,      m_pauseButton};
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
    m_sourceListView->setToolTip(Window::tr("Double-click item to remove it. Move | line to right "
                                            "and out of window to reveal full names."));
    m_sourceListView->setAccessibleName(Window::tr("Source folders"));

    m_outputFolderEdit->setAccessibleName(Window::tr("Output folder"));
    // The box holds any text, as long as it is; a stored text must come back whole.
    m_outputFolderEdit->setMaxLength(std::numeric_limits<int>::max());
    m_browseButton->setAccessibleName(Window::tr("Browse for the output folder"));

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
    m_progressBar->setText(QString::fromStdString(words::idleProgressText()));
    m_progressBar->setAccessibleName(Window::tr("Progress"));

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
// keeps the desktop's colours, so that no light list, field or button stands on a dark window;
// the window gives its controls a disabled look where the desktop's colours have none.
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
            followDesktop(widget, widget == this ? withDisabledColours(desktop) : QPalette());
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
                                   m_preserveOption,      m_flatOption,       m_startButton,
                                   m_pauseButton};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void MainWindow::placeRunControls(bool duringRun) {
    for (auto& [widget, designed] : m_designedGeometry)
        if (widget == m_startButton)
            designed.setWidth(duringRun ? px(3735) : px(7560));
    for (const auto& [widget, designed] : std::as_const(m_designedGeometry))
        if (widget == m_startButton)
            widget->setGeometry(scaled(designed, m_layoutScale));
    m_pauseButton->setVisible(duringRun);
    m_focusMark->follow();
}

int MainWindow::firstColumnWidth() const {
    return qRound(px(FirstColumnWidth) * m_layoutScale);
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
        throw join::Failure(
            join::ErrorNumber::PathFileAccessError,
            Window::tr("Path/File access error: %1").arg(skin.errorString()).toStdString());
    const QByteArray styleSheet = skin.read(LargestSkinFile + 1);
    if (styleSheet.size() > LargestSkinFile)
        throw join::Failure(join::ErrorNumber::PathFileAccessError,
                            words::fill(Window::tr("Path/File access error: the skin file is "
                                                   "too large: %1")
                                            .toStdString(),
                                        {fileSystemPath(skinPath)}));
    m_skin = QString::fromUtf8(styleSheet);
    showDesignedColours();
}

} // namespace shell
