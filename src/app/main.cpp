#include "cli/commandline.h"
#include "shell/form1.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Whether the window has somewhere to show: an X or Wayland display, or a Qt platform that needs
// none (as tests and screenshots use). Qt itself would abort without one.
bool displayFound() {
    if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
        return true;
    const char* platforms = std::getenv("QT_QPA_PLATFORM");
    if (!platforms)
        return false;
    // A list such as "wayland;xcb" names platforms to try in turn; a name may carry options.
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

// While the application starts, a fatal message from Qt means that no platform could open, most
// often because the display named (a DISPLAY left over from another session) does not answer:
// said the program's way after Qt's own warnings, with the status of a display not found.
bool g_starting = false;
QtMessageHandler g_qtHandler = nullptr;

void startupMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg && g_starting) {
        const char* display = isSet("WAYLAND_DISPLAY") ? std::getenv("WAYLAND_DISPLAY")
                              : isSet("DISPLAY")       ? std::getenv("DISPLAY")
                                                       : "";
        std::fprintf(stderr,
                     "brimvale: the display %s does not answer, so the window cannot open.\n"
                     "brimvale join works without one: see 'brimvale --help'.\n",
                     display);
        std::fflush(stderr);
        std::_Exit(2);
    }
    if (g_qtHandler)
        g_qtHandler(type, context, message);
}

} // namespace

// With arguments Brimvale runs from the terminal and needs no display; without, its window opens.
int main(int argc, char** argv) {
    if (cli::IsCommandLine(argc, argv))
        return cli::Main(argc, argv);
    if (!displayFound()) {
        std::fputs("brimvale: no display was found (neither DISPLAY nor WAYLAND_DISPLAY is set), "
                   "so the window cannot open.\n"
                   "brimvale join works without one: see 'brimvale --help'.\n",
                   stderr);
        return 2;
    }
    g_qtHandler = qInstallMessageHandler(startupMessages);
    g_starting = true;
    QApplication app(argc, argv);
    g_starting = false;
    shell::Form1 window(shell::Form1Environment::standard());
    window.Form_Load();
    window.show();
    return app.exec();
}
