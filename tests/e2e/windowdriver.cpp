// Preloaded (LD_PRELOAD) into the built program where nothing outside it can click or type: a
// Wayland compositor without a seat, such as a headless weston. It drives the real window from
// inside, as a user would: "Load List Of Folders From File", OK on the note, the list file typed
// into the file dialog, a click into the output folder field and the folder typed there, "Start
// Joining", and OK on the closing message, whose text it prints; then it ends the program with
// status 0. The list file and the output folder come from WINDOWDRIVER_LIST and
// WINDOWDRIVER_OUTPUT. A step not reached within 60 seconds ends the program with status 3.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest/QTest>
#include <cstdio>

namespace {

QWidget* mainWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->inherits("shell::MainWindow") && widget->isVisible())
            return widget;
    return nullptr;
}

template <typename T> T* control(QWidget* window, const char* name) {
    return window->findChild<T*>(QString::fromLatin1(name));
}

void say(const QString& text) {
    std::fprintf(stderr, "windowdriver: %s\n", text.toLocal8Bit().constData());
}

// A click whose handler may open a modal box runs from the event loop, so that the driver's
// timer goes on firing in the box's own loop.
void clickLater(QWidget* widget) {
    QMetaObject::invokeMethod(
        widget, [widget] { QTest::mouseClick(widget, Qt::LeftButton); }, Qt::QueuedConnection);
}

void typeInto(QLineEdit* edit, const QString& text) {
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
}

enum class Step { LoadList, Note, FileDialog, OutputFolder, Start, ClosingMessage, End };

void drive() {
    const QString list = qEnvironmentVariable("WINDOWDRIVER_LIST");
    const QString output = qEnvironmentVariable("WINDOWDRIVER_OUTPUT");
    static Step step = Step::LoadList;
    static int ticks = 0;
    static bool dialogSeen = false;
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (++ticks > 600) {
            say(QStringLiteral("step %1 not reached").arg(static_cast<int>(step)));
            QCoreApplication::exit(3);
            return;
        }
        QWidget* window = mainWindow();
        QWidget* modal = QApplication::activeModalWidget();
        if (!window)
            return;
        switch (step) {
        case Step::LoadList:
            clickLater(control<QPushButton>(window, "PushButton10"));
            step = Step::Note;
            break;
        case Step::Note:
            if (auto* note = qobject_cast<QMessageBox*>(modal)) {
                clickLater(note->buttons().constFirst());
                step = Step::FileDialog;
            }
            break;
        case Step::FileDialog:
            // The file's whole path pasted into the name field, then Enter (typed key by key,
            // the dialog's completer would take each "/" as a folder to open).
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                name->setText(list);
                QMetaObject::invokeMethod(
                    name, [name] { QTest::keyClick(name, Qt::Key_Return); }, Qt::QueuedConnection);
                dialogSeen = true;
            } else if (dialogSeen && !modal) {
                step = Step::OutputFolder;
            }
            break;
        case Step::OutputFolder:
            if (!modal && control<QTreeView>(window, "ListView1")->model()->rowCount() > 0) {
                auto* folder = control<QLineEdit>(window, "Text2");
                QTest::mouseClick(folder, Qt::LeftButton);
                say(QStringLiteral("clicked into the output folder field"));
                typeInto(folder, output);
                step = Step::Start;
            }
            break;
        case Step::Start:
            clickLater(control<QPushButton>(window, "PushButton2"));
            step = Step::ClosingMessage;
            break;
        case Step::ClosingMessage:
            if (auto* message = qobject_cast<QMessageBox*>(modal)) {
                say(QStringLiteral("closing message: ") + message->text());
                clickLater(message->buttons().constFirst());
                step = Step::End;
            }
            break;
        case Step::End:
            if (!modal)
                QCoreApplication::exit(0);
            break;
        }
    });
    timer->start(100);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(drive)
