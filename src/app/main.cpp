#include "cli/commandline.h"
#include "displays.h"
#include "shell/mainwindow.h"
#include "words/words.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>

namespace {

using app::DisplayAnswer;

const char* setValue(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// Whether QT_QPA_PLATFORM names a Qt platform that needs no display (as tests and screenshots
// use). A list such as "wayland;xcb" names platforms to try in turn; a name may carry options.
bool platformWithoutDisplay() {
    const char* platforms = setValue("QT_QPA_PLATFORM");
    if (!platforms)
        return false;
    for (std::string_view rest = platforms; !rest.empty();) {
        const std::string_view entry = rest.substr(0, rest.find(';'));
        rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
        const std::string_view name = entry.substr(0, entry.find(':'));
        for (const std::string_view without :
             {"offscreen", "minimal", "minimalegl", "vnc", "linuxfb", "eglfs", "vkkhrdisplay"})
            if (name == without)
                return true;
    }
    return false;
}

// A text of the start-up in the user's language, %1, ... filled in by `args`: Qt has not started.
std::string said(const char* text, std::initializer_list<std::string> args = {}) {
    return words::fill(words::translatedBeforeStart("Start", text), args);
}

void sayWindowCannotOpen(const std::string& why) {
    const std::string text =
        "brimvale: " + said(QT_TRANSLATE_NOOP("Start", "%1, so the window cannot open."), {why}) +
        '\n' +
        said(
            QT_TRANSLATE_NOOP("Start", "brimvale join works without one: see 'brimvale --help'.")) +
        '\n';
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// Qt 6.4's Wayland input context asks the compositor's first seat for its text input without
// asking whether there is a seat: where there is none (a headless compositor), a text field that
// has the focus ends the process as soon as it draws its cursor. Without a seat nothing can be
// typed anyway; with QT_IM_MODULE set, Qt loads that input context instead of its Wayland one,
// and the plain compose one needs no protocol. Another input method the user chose is kept.
void leaveWaylandTextInputOff() {
    const char* module = setValue("QT_IM_MODULE");
    if (!module || std::string_view(module) == "wayland")
        ::setenv("QT_IM_MODULE", "compose", 1);
}

// The display that answered, which Qt takes.
const char* g_display = "";

// Asks the displays the environment names; where none answers, says so and returns false. A
// silent Wayland display beside an X display that answers is left out, so that Qt does not try it
// first and print its failure.
bool displaysAnswer() {
    // A compositor that started the program hands it a connected socket, which only Qt may take.
    if (setValue("WAYLAND_SOCKET"))
        return true;
    const char* wayland = setValue("WAYLAND_DISPLAY");
    const char* x = setValue("DISPLAY");
    if (!wayland && !x) {
        sayWindowCannotOpen(said(QT_TRANSLATE_NOOP(
            "Start", "no display was found (neither DISPLAY nor WAYLAND_DISPLAY is set)")));
        return false;
    }
    if (wayland) {
        const DisplayAnswer answer = app::askWaylandDisplay(std::chrono::seconds(5));
        if (answer == DisplayAnswer::AnswersWithoutSeat)
            leaveWaylandTextInputOff();
        if (answer != DisplayAnswer::Silent) {
            g_display = wayland;
            return true;
        }
    }
    if (x && app::askXDisplay(x) == DisplayAnswer::Answers) {
        if (wayland && !setValue("QT_QPA_PLATFORM"))
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        g_display = x;
        return true;
    }
    if (wayland && x)
        sayWindowCannotOpen(
            said(QT_TRANSLATE_NOOP("Start", "neither the display %1 nor the display %2 answers"),
                 {wayland, x}));
    else
        sayWindowCannotOpen(said(QT_TRANSLATE_NOOP("Start", "the display %1 does not answer"),
                                 {wayland ? wayland : x}));
    return false;
}

// A fatal message from Qt while the application starts means that no platform could open on a
// display that answers (a platform plugin missing or broken): Qt's lines above say why.
bool g_starting = false;
QtMessageHandler g_qtHandler = nullptr;

void startupMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg && g_starting) {
        sayWindowCannotOpen(
            said(QT_TRANSLATE_NOOP("Start",
                                   "Qt could not start on the display %1 (its messages are above)"),
                 {g_display}));
        std::_Exit(2);
    }
    if (g_qtHandler)
        g_qtHandler(type, context, message);
}

} // namespace

// With arguments Brimvale runs from the terminal and needs no display; without, its window opens.
int main(int argc, char** argv) {
    if (cli::isCommandLine(argc, argv))
        return cli::runProcessCommandLine(argc, argv);
    if (!platformWithoutDisplay() && !displaysAnswer())
        return 2;
    g_qtHandler = qInstallMessageHandler(startupMessages);
    g_starting = true;
    QApplication app(argc, argv);
    words::installTranslations();
    g_starting = false;
    shell::MainWindow window(shell::MainWindowEnvironment::standard());
    window.startUp();
    window.show();
    return app.exec();
}
