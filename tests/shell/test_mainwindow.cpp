// The main window on the offscreen platform: its designed layout, the start-up sequence, the
// pointer feedback, the settings mirrored on every change, "Help" and the end of the process.
#include "join/host/host.h"
#include "shell/focusmark.h"
#include "shell/sourcelistmodel.h"
#include "shell/startup.h"
#include "shellfakes.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <optional>

using shelltest::FakeSurroundings;

namespace {

int px(int twips) {
    return (twips + 7) / 15;
}

template <class T = QWidget> T* control(QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QString stored(const FakeSurroundings& s, const char* key) {
    return s.store().GetSetting(QString::fromLatin1(key), QStringLiteral("<absent>"));
}

void moveOver(QWidget* widget) {
    const QPointF at(2, 2);
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

const QString Location = QStringLiteral("in Brimvale2021/08/31.Form1.Form_Load at line ");

// The lines of the start-up reports, in the order they were shown.
QList<int> reportedLines(const FakeSurroundings& s) {
    QList<int> lines;
    for (const QString& report : s.presenter->reports) {
        const qsizetype at = report.indexOf(Location);
        EXPECT_GE(at, 0) << report.toStdString();
        if (at >= 0)
            lines.append(report.mid(at + Location.size(), 3).toInt());
    }
    return lines;
}

// The contrast ratio of two colours as the accessibility guidelines define it: 1 for equal
// colours, 21 for black on white.
double contrastRatio(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast between the focus mark as the window shows it, on the left edge of the focused
// control, and the window just beside it; 0 when no mark shows.
double focusMarkContrast(QWidget& window) {
    const auto* mark = window.findChild<shell::FocusMark*>();
    if (!mark || !mark->isVisible())
        return 0.0;
    const QImage image = window.grab().toImage();
    const QPoint edge = mark->geometry().topLeft() + QPoint(0, mark->height() / 2);
    const QPoint beside = edge - QPoint(1, 0);
    const qreal ratio = image.devicePixelRatio();
    return contrastRatio(image.pixelColor(edge * ratio), image.pixelColor(beside * ratio));
}

// Every colour a brush paints: its colour, or the stops of its gradient.
QList<QColor> coloursOf(const QBrush& brush) {
    if (!brush.gradient())
        return {brush.color()};
    QList<QColor> colours;
    for (const QGradientStop& stop : brush.gradient()->stops())
        colours.append(stop.second);
    return colours;
}

// The skin as shipped: from the source tree, else as the build placed it beside the program
// (where this file's name is relative to a build folder that ccache's base folder left it in).
QByteArray shippedSkin() {
    QString path = QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() +
                   QStringLiteral("/../../resources/x/o.qss");
    if (!QFileInfo(path).isFile())
        path = QString::fromLocal8Bit(qgetenv("BRIMVALE_BIN_DIR")) + QStringLiteral("/x/o.qss");
    QFile skin(path);
    EXPECT_TRUE(skin.open(QIODevice::ReadOnly)) << path.toStdString();
    return skin.readAll();
}

// A dark desktop's palette, the same in every colour group, as a desktop may give it: nothing in
// it tells a disabled control's colours from an enabled one's. Its highlight is Qt's dark blue,
// which hardly stands out from the dark grey.
QPalette darkDesktopPalette() {
    const QColor darkGrey(0x35, 0x35, 0x35);
    return QPalette(Qt::white, darkGrey, darkGrey.lighter(150), darkGrey.darker(150),
                    darkGrey.darker(120), Qt::white, Qt::white, QColor(0x2a, 0x2a, 0x2a), darkGrey);
}

} // namespace

TEST(MainWindowLayout, EveryControlAsDesigned) {
    struct Row {
        const char* name;
        const char* kind;
        const char* container;
        const char* caption;
        int left, top, width, height;
        bool buttonFont;
        // The key that Alt takes to the control, marked in its caption by "&"; 0 for none. A
        // group box passes it on to its first control.
        char mnemonic;
        const char* focusTo;
    };
    const Row rows[] = {
        {"ListView1", "QTreeView", "Form1", "", 120, 120, 7560, 2535, false, 0, ""},
        {"Frame2", "QGroupBox", "Form1", "Save Results To This Folder", 120, 4230, 7560, 800, false,
         'R', "Text2"},
        {"Text2", "QLineEdit", "Frame2", "", 240, 300, 6375, 345, false, 0, ""},
        {"PushButton1", "QPushButton", "Frame2", "...", 6720, 300, 585, 345, true, '.', ""},
        {"Frame1", "QGroupBox", "Form1", "Copy Options", 120, 5080, 7560, 1005, false, 'O',
         "Option1"},
        {"Option2", "QRadioButton", "Frame1",
         "Just copy files (and do not preserve folder structure) when copying to dest folder", 180,
         650, 7230, 240, false, 'J', "Option2"},
        {"Option1", "QRadioButton", "Frame1",
         "Preserve folder structure when copying to destination folder", 180, 300, 6405, 240, false,
         'P', "Option1"},
        {"PushButton3", "QPushButton", "Form1", "Add Folder(s)", 120, 2750, 3735, 405, true, 'A',
         ""},
        {"PushButton5", "QPushButton", "Form1", "Add All Subfolders In Folder", 3960, 2750, 3720,
         405, true, 'U', ""},
        {"PushButton10", "QPushButton", "Form1", "Load List Of Folders From File", 120, 3260, 3735,
         405, true, 'L', ""},
        {"PushButton7", "QPushButton", "Form1", "Clear List", 3960, 3260, 3720, 405, true, 'C', ""},
        {"PushButton2", "QPushButton", "Form1", "Start Joining", 120, 6210, 7560, 405, true, 'S',
         ""},
        // Shown only during a run, beside "Stop" in the right half of this one's place.
        {"PauseButton", "QPushButton", "Form1", "Pause Now", 3960, 6210, 3720, 405, true, 'N', ""},
        {"ProgressBar1", "QProgressBar", "Form1", "Progress Bar", 120, 6730, 7560, 405, false, 0,
         ""},
        {"PushButton4", "QPushButton", "Form1", "Help", 120, 3770, 3735, 405, true, 'H', ""},
        {"PushButton6", "QPushButton", "Form1", "Load Sample/Example Folders", 3960, 3770, 3720,
         405, true, 'E', ""},
    };
    FakeSurroundings s;
    shell::MainWindow window(s.environment());
    QStringList creationOrder;
    for (QObject* child : window.findChildren<QWidget*>()) {
        if (!child->objectName().isEmpty() && !child->objectName().startsWith(u"qt_"))
            creationOrder.append(child->objectName());
    }

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QWidget* widget = control(window, row.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), row.kind);
        EXPECT_EQ(widget->parentWidget()->objectName(), QLatin1String(row.container));
        QString caption;
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            caption = button->text();
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            caption = group->title();
        else if (auto* bar = qobject_cast<QProgressBar*>(widget))
            caption = bar->text();
        else if (auto* edit = qobject_cast<QLineEdit*>(widget))
            caption = edit->text();
        // The designed words, with the mnemonic's "&" before its letter.
        EXPECT_EQ(QString(caption).remove(u'&').toStdString(), row.caption);
        EXPECT_EQ(QKeySequence::mnemonic(caption),
                  row.mnemonic ? QKeySequence(Qt::ALT | QChar::fromLatin1(row.mnemonic).unicode())
                               : QKeySequence());
        EXPECT_EQ(widget->geometry(),
                  QRect(px(row.left), px(row.top), px(row.width), px(row.height)));
        const QFont font = widget->font();
        // Liberation Sans has Arial's metrics; it is used itself, not whatever stands in for
        // Arial on this machine.
        EXPECT_EQ(font.family(), QLatin1String("Liberation Sans"));
        EXPECT_EQ(QFontInfo(font).family(), QLatin1String("Liberation Sans"));
        EXPECT_DOUBLE_EQ(font.pointSizeF(), row.buttonFont ? 11.25 : 9.0);
        EXPECT_EQ(font.weight(), QFont::Bold);
        EXPECT_TRUE(widget->toolTip().isEmpty() == (std::string_view(row.name) != "ListView1"));
    }
    // Creation order decides which control lies above another.
    QStringList designedOrder;
    for (const Row& row : rows)
        designedOrder.append(QLatin1String(row.name));
    EXPECT_EQ(creationOrder, designedOrder);

    EXPECT_EQ(window.windowTitle(), QLatin1String("Form1"));
    EXPECT_EQ(window.size(), QSize(px(7785), px(7260)));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    const QPoint offCentre =
        window.geometry().center() - window.screen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2);
    EXPECT_EQ(window.font().family(), QLatin1String("Liberation Sans"));
    EXPECT_EQ(window.font().weight(), QFont::Bold);

    EXPECT_EQ(control<QTreeView>(window, "ListView1")->toolTip(),
              QLatin1String("Double-click item to remove it. Move | line to right and out of "
                            "window to reveal full names."));
    EXPECT_TRUE(control<QRadioButton>(window, "Option1")->isChecked());
    EXPECT_FALSE(control<QRadioButton>(window, "Option2")->isChecked());
    // The list starts without a column; start-up adds it.
    EXPECT_EQ(control<QTreeView>(window, "ListView1")->model()->columnCount(), 0);

    for (const char* white : {"Form1", "Frame1", "Frame2", "Option1", "Option2"}) {
        QWidget* widget = std::string_view(white) == "Form1" ? &window : control(window, white);
        EXPECT_EQ(widget->palette().color(QPalette::Window), QColor(Qt::white)) << white;
    }

    // Alt and the marked letter press a button (after its short pressed look), select an option
    // button and take the focus into a group box, from wherever the focus is.
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (const Row& row : rows) {
        QWidget* widget = control(window, row.name);
        // Controls not in sight (Pause Now between runs) take no key.
        if (!row.mnemonic || !widget->isVisible())
            continue;
        SCOPED_TRACE(row.name);
        control(window, "ListView1")->setFocus();
        auto* button = qobject_cast<QAbstractButton*>(widget);
        std::optional<QSignalSpy> clicked;
        if (button)
            clicked.emplace(button, &QAbstractButton::clicked);
        // Qt's key codes for letters and "." are their upper-case characters.
        QTest::keyClick(&window, static_cast<Qt::Key>(row.mnemonic), Qt::AltModifier);
        if (button) {
            EXPECT_TRUE(clicked->count() == 1 || clicked->wait(2000));
            EXPECT_EQ(clicked->count(), 1);
        }
        if (*row.focusTo) {
            EXPECT_EQ(QApplication::focusWidget(), control(window, row.focusTo));
        }
    }
    EXPECT_TRUE(control<QRadioButton>(window, "Option1")->isChecked());
}

TEST(MainWindowLayout, TabVisitsTheControlsInReadingOrderMarkedAndEachHasAName) {
    FakeSurroundings s;
    auto window = s.startedWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    // The window opens with the focus on the list, the first control in tab order, marked so
    // that it stands out from the window.
    EXPECT_EQ(QApplication::focusWidget(), control(*window, "ListView1"));
    EXPECT_GE(focusMarkContrast(*window), 3.0);
    control(*window, "ListView1")->setFocus();
    // Each stop, and whether the focus mark surrounds that control just outside its edges.
    auto stop = [&window] {
        QWidget* focused = QApplication::focusWidget();
        const auto* mark = window->findChild<shell::FocusMark*>();
        const QRect around =
            QRect(focused->mapTo(window.get(), QPoint()), focused->size()).adjusted(-2, -2, 2, 2);
        const bool marked = mark && mark->isVisible() && mark->geometry() == around;
        return focused->objectName() + (marked ? QString() : QStringLiteral(" (not marked)"));
    };
    QStringList visited{stop()};
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(stop());
    }
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        visited.append(stop());
    }
    // The order the window reads in: the list, the buttons row by row, the output folder, the
    // options, "Start Joining"; and back. As on the designed platform, Tab stops at the selected
    // option button only; the arrow keys move between the two.
    const QStringList expected = {QStringLiteral("ListView1"),   QStringLiteral("PushButton3"),
                                  QStringLiteral("PushButton5"), QStringLiteral("PushButton10"),
                                  QStringLiteral("PushButton7"), QStringLiteral("PushButton4"),
                                  QStringLiteral("PushButton6"), QStringLiteral("Text2"),
                                  QStringLiteral("PushButton1"), QStringLiteral("Option1"),
                                  QStringLiteral("PushButton2"), QStringLiteral("ListView1"),
                                  QStringLiteral("PushButton3"), QStringLiteral("ListView1"),
                                  QStringLiteral("PushButton2"), QStringLiteral("Option1")};
    EXPECT_EQ(visited, expected);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(stop(), QLatin1String("Option2"));
    EXPECT_TRUE(control<QRadioButton>(*window, "Option2")->isChecked());
    EXPECT_EQ(stored(s, "Option2"), QLatin1String("True"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(stop(), QLatin1String("PushButton2"));

    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!(widget->focusPolicy() & Qt::TabFocus) || widget->objectName().isEmpty())
            continue;
        auto* button = qobject_cast<QAbstractButton*>(widget);
        const QString name = widget->accessibleName().isEmpty() && button
                                 ? button->text()
                                 : widget->accessibleName();
        EXPECT_FALSE(name.isEmpty()) << widget->objectName().toStdString();
    }
    EXPECT_EQ(control(*window, "Text2")->accessibleName(), QLatin1String("Output folder"));
    EXPECT_EQ(control(*window, "ListView1")->accessibleName(), QLatin1String("Source folders"));
}

// At a scale factor of 2, a 1366x768 screen offers 683x384 pixels, fewer than the designed
// window needs: the window is drawn smaller, whole, within the screen, with every control in
// its designed place relative to the window and its caption readable. Qt takes the scale factor
// and the offscreen platform's screen (a configuration file) once, as it starts, so the test runs
// in a child test process of its own.
TEST(MainWindowLayout, FitsA1366x768ScreenAtTwiceTheScale) {
    if (qEnvironmentVariableIsEmpty("BRIMVALE_TEST_SMALL_SCREEN")) {
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("screen.json"));
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 1366,
                       "height": 768, "logicalDpi": 96, "logicalBaseDpi": 96}]})");
        file.close();
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
        environment.insert(QStringLiteral("BRIMVALE_TEST_SMALL_SCREEN"), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("-platform"), QStringLiteral("offscreen:configfile=") + config,
             QStringLiteral("--gtest_filter=MainWindowLayout.FitsA1366x768ScreenAtTwiceTheScale")});
        ASSERT_TRUE(child.waitForFinished(60000));
        const QByteArray output = child.readAll();
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
        return;
    }

    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_EQ(screen->geometry().size(), QSize(683, 384));
    ASSERT_EQ(screen->devicePixelRatio(), 2.0);
    FakeSurroundings s;
    auto window = s.startedWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    const QRect available = screen->availableGeometry();
    EXPECT_TRUE(available.contains(window->frameGeometry()))
        << window->frameGeometry().height() << " high in " << available.height();
    // Still the fixed window, no smaller than it needs to be.
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_GE(window->frameGeometry().height(), available.height() * 9 / 10);
    // Drawn at one scale throughout: each control where the designed layout puts it, in the
    // window's proportions.
    const double scale = window->width() / static_cast<double>(px(7785));
    ASSERT_LT(scale, 1.0);
    EXPECT_NEAR(window->height(), px(7260) * scale, 1.0);
    const std::pair<const char*, QRect> designed[] = {
        {"ListView1", {120, 120, 7560, 2535}},    {"PushButton3", {120, 2750, 3735, 405}},
        {"PushButton6", {3960, 3770, 3720, 405}}, {"Frame2", {120, 4230, 7560, 800}},
        {"PushButton1", {6720, 300, 585, 345}},   {"Option2", {180, 650, 7230, 240}},
        {"PushButton2", {120, 6210, 7560, 405}},  {"ProgressBar1", {120, 6730, 7560, 405}},
    };
    for (const auto& [name, twips] : designed) {
        QWidget* widget = control(*window, name);
        const QRect expected(qRound(px(twips.x()) * scale), qRound(px(twips.y()) * scale),
                             qRound(px(twips.width()) * scale), qRound(px(twips.height()) * scale));
        const QRect shown = widget->geometry();
        EXPECT_LE((shown.topLeft() - expected.topLeft()).manhattanLength(), 2) << name;
        EXPECT_LE(std::abs(shown.width() - expected.width()) +
                      std::abs(shown.height() - expected.height()),
                  2)
            << name;
        EXPECT_TRUE(
            window->rect().contains(QRect(widget->mapTo(window.get(), QPoint()), widget->size())))
            << name;
    }
    // The fonts shrink with the layout, so that the longest caption still fits beside its
    // option button's indicator, as it does in the designed window.
    auto* flatOption = control<QRadioButton>(*window, "Option2");
    const int captionWidth =
        flatOption->fontMetrics().size(Qt::TextShowMnemonic, flatOption->text()).width() +
        flatOption->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, flatOption) +
        flatOption->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, flatOption);
    EXPECT_LE(captionWidth, flatOption->width());
    const double buttonPoints = control(*window, "PushButton2")->font().pointSizeF();
    EXPECT_LE(buttonPoints, 11.25 * scale);
    EXPECT_GE(buttonPoints, 11.25 * scale * 0.85);
}

TEST(MainWindowLayout, TextStandsOutFromItsBackgroundUnderADarkPalette) {
    const QByteArray skinBytes = shippedSkin();
    const QPalette desktop = QApplication::palette();
    const auto restore = qScopeGuard([&desktop] { QApplication::setPalette(desktop); });
    const QPalette dark = darkDesktopPalette();
    QApplication::setPalette(dark);
    // The pairs of roles each kind of control paints its text and its background with.
    using Roles = QList<std::pair<QPalette::ColorRole, QPalette::ColorRole>>;
    const Roles onWindow = {{QPalette::Window, QPalette::WindowText}};
    const Roles onButton = {{QPalette::Button, QPalette::ButtonText}};
    const Roles onBase = {{QPalette::Base, QPalette::Text}};

    for (const bool skinned : {false, true}) {
        SCOPED_TRACE(skinned ? "with the skin" : "without the skin");
        FakeSurroundings s;
        if (skinned)
            s.writeProgramFile(QStringLiteral("x/o.qss"), skinBytes);
        auto window = s.startedWindow();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        // The skin is drawn for a light desktop: on a dark one every control takes the
        // desktop's own colours.
        EXPECT_TRUE(window->styleSheet().isEmpty());
        EXPECT_GE(focusMarkContrast(*window), 3.0);

        QList<QWidget*> controls = {window.get(),
                                    control<QTreeView>(*window, "ListView1")->header()};
        for (QWidget* child : window->findChildren<QWidget*>()) {
            if (!child->objectName().isEmpty() && !child->objectName().startsWith(u"qt_"))
                controls.append(child);
        }
        for (QWidget* widget : std::as_const(controls)) {
            const Roles roles =
                qobject_cast<QPushButton*>(widget) || qobject_cast<QHeaderView*>(widget) ? onButton
                : qobject_cast<QLineEdit*>(widget) || qobject_cast<QTreeView*>(widget) ||
                        qobject_cast<QProgressBar*>(widget)
                    ? onBase
                    : onWindow;
            const QPalette& palette = widget->palette();
            for (const auto& [background, text] : roles) {
                for (const QColor& colour : coloursOf(palette.brush(background))) {
                    EXPECT_GE(contrastRatio(colour, palette.color(text)), 4.5)
                        << widget->objectName().toStdString() << " "
                        << widget->metaObject()->className() << ": "
                        << palette.color(text).name().toStdString() << " on "
                        << colour.name().toStdString();
                }
            }
            for (const QPalette::ColorRole role :
                 {QPalette::Window, QPalette::WindowText, QPalette::Base, QPalette::Text,
                  QPalette::Button, QPalette::ButtonText}) {
                EXPECT_EQ(palette.color(role), dark.color(role))
                    << widget->objectName().toStdString() << " " << role;
            }
        }
    }
}

// Every control the skin styles, disabled, is drawn otherwise than enabled: with the skin on a
// light desktop, without it, and on a dark desktop whose palette does not tell disabled colours
// apart. During a run "Clear List" and the list's entries are disabled, and "Stop" once a stop
// is under way.
TEST(MainWindowLayout, ADisabledControlLooksDisabled) {
    const QByteArray skin = shippedSkin();
    const QPalette desktop = QApplication::palette();
    const auto restore = qScopeGuard([&desktop] { QApplication::setPalette(desktop); });
    struct Row {
        const char* name;
        QPalette palette;
        bool skinned;
    };
    const Row rows[] = {
        {"light desktop, with the skin", desktop, true},
        {"light desktop, without the skin", desktop, false},
        {"dark desktop, with the skin", darkDesktopPalette(), true},
        {"dark desktop, without the skin", darkDesktopPalette(), false},
    };
    for (const Row& row : rows) {
        QApplication::setPalette(row.palette);
        FakeSurroundings s;
        if (row.skinned)
            s.writeProgramFile(QStringLiteral("x/o.qss"), skin);
        auto window = s.startedWindow();
        window->sourceList().append("/a/");
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        auto* list = control<QTreeView>(*window, "ListView1");
        auto* entries = qobject_cast<shell::SourceListModel*>(list->model());
        ASSERT_NE(entries, nullptr);
        const QRect entry = list->visualRect(entries->index(0, 0));
        auto entryImage = [&] { return list->viewport()->grab(entry).toImage(); };

        const QImage enabledEntry = entryImage();
        entries->setLocked(true);
        EXPECT_TRUE(entryImage() != enabledEntry) << row.name << ": an entry";
        for (const char* name :
             {"PushButton7", "PushButton2", "PushButton1", "Text2", "Option1", "ProgressBar1"}) {
            QWidget* widget = control(*window, name);
            const QImage enabled = widget->grab().toImage();
            widget->setEnabled(false);
            EXPECT_TRUE(widget->grab().toImage() != enabled) << row.name << ": " << name;
            widget->setEnabled(true);
        }
    }
}

TEST(MainWindowStartUp, FirstStartWithAnEmptyStore) {
    FakeSurroundings s;
    auto window = s.startedWindow();

    EXPECT_TRUE(s.presenter->reports.isEmpty()) << s.presenter->reports.join(u'|').toStdString();
    EXPECT_EQ(window->windowTitle(), QLatin1String("Brimvale"));
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(shell::applicationTitle(), QLatin1String("Brimvale"));
    EXPECT_EQ(control<QLineEdit>(*window, "Text2")->text(),
              QLatin1String("/home/someone/Desktop/"));
    EXPECT_EQ(stored(s, "Output Folder"), QLatin1String("/home/someone/Desktop/"));
    EXPECT_TRUE(control<QRadioButton>(*window, "Option1")->isChecked());
    EXPECT_FALSE(control<QRadioButton>(*window, "Option2")->isChecked());
    // Option1 was already selected: restoring it is no click, so nothing is stored for it.
    EXPECT_EQ(stored(s, "Option1"), QLatin1String("<absent>"));
    EXPECT_EQ(stored(s, "Option2"), QLatin1String("<absent>"));

    auto* list = control<QTreeView>(*window, "ListView1");
    ASSERT_EQ(list->model()->columnCount(), 1);
    EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal).toString(),
              QLatin1String("Source Folder(s)"));
    EXPECT_EQ(list->columnWidth(0), 467);
    EXPECT_TRUE(list->header()->isVisible() || !list->header()->isHidden());
    EXPECT_EQ(window->pointer(), join::Pointer::Default);
    EXPECT_TRUE(s.opened.isEmpty());
    EXPECT_EQ(control<QProgressBar>(*window, "ProgressBar1")->text(),
              QLatin1String("Progress Bar"));
}

TEST(MainWindowStartUp, StoredCopyOptionsAreRestoredAsTheStoreSays) {
    struct Row {
        const char* option1; // nullptr: absent
        const char* option2;
        bool selected1, selected2;
        const char* stored1; // after start-up; "<absent>" when never stored
        const char* stored2;
        QList<int> reports;
    };
    const Row rows[] = {
        {nullptr, nullptr, true, false, "<absent>", "<absent>", {}},
        {"False", "True", false, true, "False", "True", {}},
        {"False", "False", false, false, "False", "False", {}},
        {"True", "False", true, false, "True", "False", {}},
        {"True", "True", false, true, "False", "True", {}},
        {"true", "FALSE", true, false, "true", "FALSE", {}},
        {"0", "-1", false, true, "False", "True", {}},
        {" 2 ", "0.0", true, false, " 2 ", "0.0", {}},
        {"yes", "0", true, false, "yes", "0", {134}},
        {"0", "maybe", false, false, "0", "maybe", {136}},
        {"", "", true, false, "", "", {134, 136}},
        {"False", nullptr, false, false, "False", "<absent>", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("Option1=") + (row.option1 ? row.option1 : "(absent)") +
                     " Option2=" + (row.option2 ? row.option2 : "(absent)"));
        FakeSurroundings s;
        shell::Settings store = s.store();
        if (row.option1)
            store.SaveSetting(QStringLiteral("Option1"), QString::fromLatin1(row.option1));
        if (row.option2)
            store.SaveSetting(QStringLiteral("Option2"), QString::fromLatin1(row.option2));

        auto window = s.startedWindow();
        EXPECT_EQ(control<QRadioButton>(*window, "Option1")->isChecked(), row.selected1);
        EXPECT_EQ(control<QRadioButton>(*window, "Option2")->isChecked(), row.selected2);
        EXPECT_EQ(window->copyOption(),
                  row.selected1 ? join::CopyOption::PreserveStructure : join::CopyOption::Flat);
        EXPECT_EQ(stored(s, "Option1"), QLatin1String(row.stored1));
        EXPECT_EQ(stored(s, "Option2"), QLatin1String(row.stored2));
        EXPECT_EQ(reportedLines(s), row.reports);
    }
}

TEST(MainWindowStartUp, OutputFolderAndDesktop) {
    const QByteArray longText = "/" + QByteArray(40000, 'x') + "/";
    struct Row {
        const char* name;
        const char* desktop;
        const char* storedBefore; // nullptr: absent
        const char* shown;
        const char* storedAfter;
        QList<int> reports;
    };
    const Row rows[] = {
        {"stored text wins", "/d", "/data/out/", "/data/out/", "/data/out/", {}},
        {"an empty stored text is a value", "/d", "", "", "", {}},
        {"no desktop, nothing stored", "", nullptr, "", "<absent>", {132}},
        {"no desktop, text stored", "", "/data/out/", "", "/data/out/", {132}},
        {"blanks kept", "/d", "  spaced  ", "  spaced  ", "  spaced  ", {}},
        {"longer than a line edit's usual limit",
         "/d",
         longText.constData(),
         longText.constData(),
         longText.constData(),
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSurroundings s;
        s.desktop = QString::fromLatin1(row.desktop);
        if (row.storedBefore)
            s.store().SaveSetting(QStringLiteral("Output Folder"),
                                  QString::fromLatin1(row.storedBefore));
        auto window = s.startedWindow();
        EXPECT_EQ(control<QLineEdit>(*window, "Text2")->text(), QLatin1String(row.shown));
        EXPECT_EQ(stored(s, "Output Folder"), QLatin1String(row.storedAfter));
        EXPECT_EQ(reportedLines(s), row.reports);
    }
}

TEST(MainWindowStartUp, HomePageOpensOnlyWhenTheDrawGivesSeven) {
    struct Row {
        double draw;
        bool opens;
        bool openSucceeds;
        QList<int> reports;
    };
    const Row rows[] = {
        {0.06, true, true, {}},      {0.0699, true, true, {}}, {0.05, false, true, {}},
        {0.07, false, true, {}},     {0.0, false, true, {}},   {0.999, false, true, {}},
        {0.065, true, false, {110}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("draw " + std::to_string(row.draw));
        FakeSurroundings s;
        s.draw = row.draw;
        s.openSucceeds = row.openSucceeds;
        auto window = s.startedWindow();
        if (row.opens) {
            ASSERT_EQ(s.opened.size(), 1);
            EXPECT_EQ(s.opened.front(), QUrl(QStringLiteral(BRIMVALE_HOME_PAGE)));
        } else {
            EXPECT_TRUE(s.opened.isEmpty());
        }
        EXPECT_EQ(reportedLines(s), row.reports);
        // Start-up goes on after a failure: the list still gets its column.
        EXPECT_EQ(control<QTreeView>(*window, "ListView1")->model()->columnCount(), 1);
    }
}

TEST(MainWindowStartUp, HandCursorAndSkinBesideTheProgram) {
    const QByteArray skin = "QPushButton { color: #102030; }";
    struct Row {
        const char* name;
        QByteArray cursor; // empty: no file
        bool cursorIsFolder;
        QByteArray skinFile; // empty: no file
        bool skinIsFolder;
        QList<int> reports;
        bool handShown;
        bool skinned;
    };
    const Row rows[] = {
        {"neither", {}, false, {}, false, {}, false, false},
        {"both", shelltest::cursorFileBytes(8, 8, 3, 4), false, skin, false, {}, true, true},
        {"cursor only", shelltest::cursorFileBytes(8, 8, 3, 4), false, {}, false, {}, true, false},
        {"damaged cursor", "not a cursor at all", false, {}, false, {108}, false, false},
        {"cursor name is a folder", {}, true, {}, false, {108}, false, false},
        {"skin name is a folder", {}, false, {}, true, {}, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSurroundings s;
        if (!row.cursor.isEmpty())
            s.writeProgramFile(QStringLiteral("HAND-M.CUR"), row.cursor);
        if (row.cursorIsFolder)
            QDir().mkpath(s.programFolder + QStringLiteral("/HAND-M.CUR"));
        if (!row.skinFile.isEmpty())
            s.writeProgramFile(QStringLiteral("x/o.qss"), row.skinFile);
        if (row.skinIsFolder)
            QDir().mkpath(s.programFolder + QStringLiteral("/x/o.qss"));

        auto window = s.startedWindow();
        EXPECT_EQ(reportedLines(s), row.reports);

        window->setPointer(join::Pointer::Custom);
        const QCursor shown = window->cursor();
        if (row.handShown) {
            EXPECT_EQ(shown.shape(), Qt::BitmapCursor);
            EXPECT_EQ(shown.hotSpot(), QPoint(3, 4));
            EXPECT_EQ(shown.pixmap().size(), QSize(8, 8));
            EXPECT_EQ(shown.pixmap().toImage().pixelColor(0, 0), QColor(Qt::red));
        } else {
            EXPECT_EQ(shown.shape(), Qt::ArrowCursor);
        }

        const QColor expected =
            row.skinned ? QApplication::palette().color(QPalette::Button) : QColor(Qt::white);
        ASSERT_NE(QApplication::palette().color(QPalette::Button), QColor(Qt::white));
        EXPECT_EQ(window->palette().color(QPalette::Window), expected);
        for (const char* name : {"Frame1", "Frame2", "Option1", "Option2"})
            EXPECT_EQ(control(*window, name)->palette().color(QPalette::Window), expected) << name;
        EXPECT_EQ(window->styleSheet(), row.skinned ? QString::fromUtf8(skin) : QString());
    }
}

TEST(MainWindowStartUp, TheShippedCursorAndSkinLoad) {
    const QByteArray binDir = qgetenv("BRIMVALE_BIN_DIR");
    if (binDir.isEmpty())
        GTEST_SKIP() << "BRIMVALE_BIN_DIR is not set";
    FakeSurroundings s;
    for (const char* name : {"HAND-M.CUR", "x/o.qss"}) {
        QFile shipped(QString::fromUtf8(binDir) + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(shipped.open(QIODevice::ReadOnly)) << name;
        s.writeProgramFile(QLatin1String(name), shipped.readAll());
    }
    auto window = s.startedWindow();
    EXPECT_TRUE(s.presenter->reports.isEmpty());
    window->setPointer(join::Pointer::Custom);
    EXPECT_EQ(window->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(window->cursor().hotSpot(), QPoint(10, 0));
    EXPECT_FALSE(window->styleSheet().isEmpty());
    // The skin keeps the designed fonts.
    EXPECT_EQ(control(*window, "PushButton2")->font().pointSizeF(), 11.25);
    EXPECT_EQ(QFontInfo(control(*window, "Option2")->font()).weight(), QFont::Bold);
}

TEST(MainWindowPointer, MovesOverButtonsAndAreasWhenIdleAndBusy) {
    FakeSurroundings s;
    s.writeProgramFile(QStringLiteral("HAND-M.CUR"), shelltest::cursorFileBytes(8, 8, 1, 1));
    auto window = s.startedWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    auto* list = control<QTreeView>(*window, "ListView1");

    const char* buttons[] = {"PushButton1", "PushButton2", "PushButton3", "PushButton4",
                             "PushButton5", "PushButton6", "PushButton7", "PushButton10"};
    const std::pair<const char*, QWidget*> areas[] = {{"window background", window.get()},
                                                      {"ListView1", list->viewport()},
                                                      {"Frame1", control(*window, "Frame1")},
                                                      {"Frame2", control(*window, "Frame2")}};
    const char* silent[] = {"Text2", "Option1", "Option2", "ProgressBar1"};

    for (const char* button : buttons) {
        window->setPointer(join::Pointer::Default);
        moveOver(control(*window, button));
        EXPECT_EQ(window->pointer(), join::Pointer::Custom) << button;
        EXPECT_EQ(window->cursor().shape(), Qt::BitmapCursor) << button;
        window->setPointer(join::Pointer::Hourglass);
        moveOver(control(*window, button));
        EXPECT_EQ(window->pointer(), join::Pointer::Hourglass) << button << " while busy";
    }
    for (const auto& [name, area] : areas) {
        window->setPointer(join::Pointer::Custom);
        moveOver(area);
        EXPECT_EQ(window->pointer(), join::Pointer::Default) << name;
        window->setPointer(join::Pointer::Hourglass);
        moveOver(area);
        EXPECT_EQ(window->pointer(), join::Pointer::Hourglass) << name << " while busy";
    }
    // Controls without a handler leave the hand in place: it stays until an area is crossed.
    for (const char* name : silent) {
        window->setPointer(join::Pointer::Custom);
        moveOver(control(*window, name));
        EXPECT_EQ(window->pointer(), join::Pointer::Custom) << name;
    }
}

TEST(MainWindowPointer, TheWholeWindowShowsTheBusyPointer) {
    FakeSurroundings s;
    auto window = s.startedWindow();
    QWidget* outputFolderEdit = control(*window, "Text2");
    ASSERT_EQ(outputFolderEdit->cursor().shape(), Qt::IBeamCursor);

    window->setPointer(join::Pointer::Hourglass);
    EXPECT_EQ(window->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(outputFolderEdit->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(control(*window, "PushButton2")->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(control<QTreeView>(*window, "ListView1")->viewport()->cursor().shape(),
              Qt::WaitCursor);

    // No cursor file: the pointer value 99 shows the arrow.
    window->setPointer(join::Pointer::Custom);
    EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(outputFolderEdit->cursor().shape(), Qt::ArrowCursor);

    window->setPointer(join::Pointer::Default);
    EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(outputFolderEdit->cursor().shape(), Qt::IBeamCursor);
}

TEST(MainWindowSettings, EveryChangeIsStoredAtOnceAndReadBackNextTime) {
    FakeSurroundings s;
    s.desktop = QString(); // no default: the box starts empty
    auto window = s.startedWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* outputFolderEdit = control<QLineEdit>(*window, "Text2");
    ASSERT_TRUE(outputFolderEdit->text().isEmpty());

    QStringList storedInTurn;
    QObject::connect(outputFolderEdit, &QLineEdit::textChanged,
                     [&] { storedInTurn.append(stored(s, "Output Folder")); });
    outputFolderEdit->setFocus();
    QTest::keyClicks(outputFolderEdit, QStringLiteral("/dat/x"));
    EXPECT_EQ(storedInTurn, (QStringList{QStringLiteral("/"), QStringLiteral("/d"),
                                         QStringLiteral("/da"), QStringLiteral("/dat"),
                                         QStringLiteral("/dat/"), QStringLiteral("/dat/x")}));

    QTest::mouseClick(control(*window, "Option2"), Qt::LeftButton);
    EXPECT_EQ(stored(s, "Option1"), QLatin1String("False"));
    EXPECT_EQ(stored(s, "Option2"), QLatin1String("True"));
    EXPECT_EQ(window->copyOption(), join::CopyOption::Flat);

    s.presenter->reports.clear();
    s.desktop = QStringLiteral("/home/someone/Desktop");
    auto second = s.startedWindow();
    EXPECT_EQ(control<QLineEdit>(*second, "Text2")->text(), QLatin1String("/dat/x"));
    EXPECT_TRUE(control<QRadioButton>(*second, "Option2")->isChecked());
    EXPECT_FALSE(control<QRadioButton>(*second, "Option1")->isChecked());

    // Back to the preserve option, by keyboard this time, and an emptied box.
    QTest::mouseClick(control(*window, "Option1"), Qt::LeftButton);
    EXPECT_EQ(stored(s, "Option1"), QLatin1String("True"));
    EXPECT_EQ(stored(s, "Option2"), QLatin1String("False"));
    outputFolderEdit->clear();
    EXPECT_EQ(stored(s, "Output Folder"), QString());
    auto third = s.startedWindow();
    EXPECT_EQ(control<QLineEdit>(*third, "Text2")->text(), QString());
    EXPECT_TRUE(control<QRadioButton>(*third, "Option1")->isChecked());
    EXPECT_TRUE(s.presenter->reports.isEmpty());
}

TEST(MainWindowSettings, AStoreThatCannotBeWrittenIsReportedOnce) {
    FakeSurroundings s;
    // A folder where the settings file should be: every write fails, even for root.
    QDir().mkpath(s.settingsFile);
    auto window = s.startedWindow();
    ASSERT_EQ(s.presenter->reports.size(), 1); // the desktop default stored at start-up
    EXPECT_TRUE(s.presenter->reports.front().contains(
        QStringLiteral("in Brimvale2021/08/31.Form1.Text2_Change at line 100")));

    auto* outputFolderEdit = control<QLineEdit>(*window, "Text2");
    QTest::keyClicks(outputFolderEdit, QStringLiteral("abc"));
    control<QRadioButton>(*window, "Option2")->click();
    EXPECT_EQ(s.presenter->reports.size(), 1);
    EXPECT_EQ(outputFolderEdit->text(), QLatin1String("/home/someone/Desktop/abc"));
    EXPECT_TRUE(control<QRadioButton>(*window, "Option2")->isChecked());
}

TEST(MainWindowCommands, HelpShowsTheContactAddressAlsoWhileBusy) {
    FakeSurroundings s;
    auto window = s.startedWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QString expected =
        QStringLiteral("Questions? Please contact Team Quorvik at " BRIMVALE_CONTACT_PAGE);

    for (join::Pointer pointer : {join::Pointer::Default, join::Pointer::Hourglass}) {
        window->setPointer(pointer);
        QTest::mouseClick(control(*window, "PushButton4"), Qt::LeftButton);
    }
    ASSERT_EQ(s.presenter->messages.size(), 2);
    for (const auto& message : s.presenter->messages) {
        EXPECT_EQ(message.caption, QLatin1String("Brimvale"));
        EXPECT_EQ(message.text, expected);
    }
    EXPECT_EQ(window->pointer(), join::Pointer::Hourglass);
    EXPECT_TRUE(s.presenter->reports.isEmpty());
}

TEST(MainWindowCommands, ClosingTheWindowEndsTheProcess) {
    FakeSurroundings s;
    auto window = s.startedWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->setPointer(join::Pointer::Hourglass); // busy, as during an add; no run asks
    EXPECT_EQ(s.endings, 0);
    window->close();
    EXPECT_EQ(s.endings, 1);
    EXPECT_TRUE(s.presenter->messages.isEmpty());
}

TEST(MainWindowHost, WhatTheEngineReadsAndWrites) {
    FakeSurroundings s;
    auto window = s.startedWindow();
    join::JoinHost& host = *window;

    window->sourceList().append("/a/");
    window->sourceList().append(std::string("/b\xff/", 4));
    EXPECT_EQ(host.sourceCount(), 2);
    EXPECT_EQ(host.sourceText(2), std::string("/b\xff/", 4));

    control<QLineEdit>(*window, "Text2")->setText(QStringLiteral("/out/Grüße/"));
    EXPECT_EQ(host.outputFolderText(), "/out/Gr\xc3\xbc\xc3\x9f\x65/");

    auto* bar = control<QProgressBar>(*window, "ProgressBar1");
    join::RunFigures figures;
    figures.entry = 1;
    figures.entries = 2;
    figures.name = "100%p %v done";
    figures.percent = 50;
    host.showRunProgress(figures);
    EXPECT_EQ(bar->value(), 50);
    EXPECT_EQ(bar->text(), QLatin1String("Entry 1 of 2: 100%p %v done"));
    EXPECT_EQ(bar->accessibleDescription(), bar->text());
    host.setProgressValue(0);
    host.progressEnded();
    EXPECT_EQ(bar->text(), QLatin1String("Progress Bar"));

    window->showMessage("Done.");
    ASSERT_EQ(s.presenter->messages.size(), 1);
    EXPECT_EQ(s.presenter->messages.front().caption, QLatin1String("Brimvale"));
    EXPECT_EQ(s.presenter->messages.front().text, QLatin1String("Done."));

    host.showErrorReport(join::failureFromErrno(ENOSPC),
                         "in Brimvale2021/08/31.Form1.PushButton2_Click ", 154);
    ASSERT_EQ(s.presenter->reports.size(), 1);
    EXPECT_EQ(s.presenter->reports.front(),
              QStringLiteral(
                  "Disk full\r\nin Brimvale2021/08/31.Form1.PushButton2_Click at line "
                  "154\r\rPlease email screenshot of this message to " BRIMVALE_SUPPORT_EMAIL));

    host.setPointer(join::Pointer::Hourglass);
    EXPECT_EQ(window->pointer(), join::Pointer::Hourglass);
    host.pumpEvents();

    // What the list commands read besides.
    EXPECT_EQ(window->programFolder(), s.programFolder.toStdString());
    s.store().SaveSetting(QStringLiteral("LastFolderDot"), QStringLiteral("/home/Grüße"));
    EXPECT_EQ(window->GetSetting("LastFolderDot", ""), "/home/Gr\xc3\xbc\xc3\x9f\x65");
    EXPECT_EQ(window->GetSetting("Absent", "default"), "default");
}
