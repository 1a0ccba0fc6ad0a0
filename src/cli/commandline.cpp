#include "commandline.h"

#include "commandlinetexts.h"
#include "dryrun.h"
#include "join/fs/failure.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/run/joinrun.h"
#include "join/tasks/workers.h"
#include "sources/listfile.h"
#include "sources/sourcelist.h"
#include "terminalhost.h"
#include "words/words.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <string_view>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace cli {

namespace {

// The run the signals act on: the join under way, if any.
std::mutex g_activeRunMutex;
std::shared_ptr<join::RunControl> g_activeRun;

void setActiveRun(std::shared_ptr<join::RunControl> run) {
    std::lock_guard lock(g_activeRunMutex);
    g_activeRun = std::move(run);
}

std::shared_ptr<join::RunControl> activeRun() {
    std::lock_guard lock(g_activeRunMutex);
    return g_activeRun;
}

} // namespace

namespace {

const char* const TryHelp = QT_TRANSLATE_NOOP("CommandLine", "Try 'brimvale --help'.");

// The options Qt's window takes for itself; with one of them first the window opens.
constexpr std::array<std::string_view, 15> WindowOptions = {"platform",        "platformpluginpath",
                                                            "platformtheme",   "plugin",
                                                            "qwindowgeometry", "qwindowicon",
                                                            "qwindowtitle",    "reverse",
                                                            "session",         "display",
                                                            "geometry",        "style",
                                                            "stylesheet",      "widgetcount",
                                                            "qmljsdebugger"};

const char* const Epilog = QT_TRANSLATE_NOOP("CommandLine", R"(
With --output DIR/ (a trailing "/") each source folder arrives inside DIR under its own name;
with --output DIR its contents are merged into DIR itself. A relative source folder is taken
from the working folder: "." is the working folder itself, under its own name. The folders of
the --list files come first, in the order the files are given, then the SOURCE folders;
"--list -" reads the list from standard input. Names beginning with "~" are never copied in the
flat option.

Exit status: 0 when everything was copied (or, with --dry-run, would be), 1 when something was
not (each named on standard error), 2 for bad usage, no source folders, a source or output that
is not a folder, or a missing output folder, 130 when stopped by Ctrl-C, SIGTERM or SIGHUP
(what was copied is whole; nothing partly written is left).
)");

constexpr std::string_view StandardInput = "-";

// Arguments travel through the parser as Latin-1, which maps every byte to one character and
// back, so that paths keep their bytes whatever their encoding.
QString fromBytes(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string toBytes(const QString& text) {
    return text.toLatin1().toStdString();
}

// A source list of the command line's own: the list file reader appends to it.
class CommandLineSourceList final : public sources::SourceList {
public:
    explicit CommandLineSourceList(std::vector<std::string>& items) : m_items(items) {}
    int count() const override { return static_cast<int>(m_items.size()); }
    std::string text(int index) const override {
        return m_items.at(static_cast<std::size_t>(index - 1));
    }
    void append(const std::string& path) override { m_items.push_back(path); }
    void removeAt(int index) override {
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(index - 1));
    }
    void clear() override { m_items.clear(); }

private:
    std::vector<std::string>& m_items;
};

// Collects what the list file reader would show in a message box.
class ListFileMessages final : public join::MessageSink {
public:
    void showMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

int usageError(Console& console, const std::string& text) {
    console.err << "brimvale: " << text << '\n' << said(TryHelp) << '\n';
    return ExitStatus::Usage;
}

// Appends the folders of one list file, "-" being standard input; false (after saying why)
// when it cannot be read.
bool readListFile(const std::string& path, std::vector<std::string>& sources, Console& console) {
    CommandLineSourceList list(sources);
    ListFileMessages messages;
    try {
        if (path == StandardInput)
            sources::loadListFromDescriptor(
                list, console.in, said(QT_TRANSLATE_NOOP("CommandLine", "standard input")));
        else
            sources::loadListFromFile(list, messages, path);
    } catch (const join::Failure& failure) {
        console.err << "brimvale: "
                    << words::fill(said(QT_TRANSLATE_NOOP("CommandLine",
                                                          "cannot read the list file %1: %2")),
                                   {join::quotedForDisplay(path), words::describe(failure)})
                    << '\n';
        return false;
    }
    for (const std::string& message : messages.messages)
        console.err << "brimvale: " << join::quotedForDisplay(path) << ": " << message << '\n';
    return messages.messages.empty();
}

// The working folder, where relative source folders are found; "" when it cannot be told.
std::string workingFolder() {
    std::error_code error;
    std::string folder = std::filesystem::current_path(error).string();
    return error ? std::string() : folder;
}

// A relative source folder, made absolute against the working folder, with "." and ".." parts
// resolved: "." is the working folder under its own name, as the user means it, not a folder
// named ".". An empty entry stays empty: it names no folder and copies nothing.
std::string fromWorkingFolder(const std::string& source, const std::string& working) {
    if (source.empty() || source.front() == join::Separator || working.empty())
        return source;
    const std::string joined =
        join::endsWithSeparator(working) ? working + source : working + join::Separator + source;
    return join::resolveDotSegments(joined);
}

// Refuses, before anything is copied, what cannot be a source folder: the root folder, which
// would hold the output folder, and something that is not a folder. A folder that is missing is
// the run's to report with the other entries. False after saying why.
bool checkSource(const std::string& given, const std::string& source, Console& console) {
    if (source.empty())
        return true;
    if (join::isRootFolder(source)) {
        console.err << "brimvale: "
                    << words::fill(
                           said(QT_TRANSLATE_NOOP("CommandLine",
                                                  "the root folder cannot be a source folder: %1")),
                           {join::quotedForDisplay(given)})
                    << '\n';
        return false;
    }
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(source, error);
    if (!error && status.type() != std::filesystem::file_type::directory) {
        console.err << "brimvale: "
                    << words::fill(said(QT_TRANSLATE_NOOP("CommandLine", "not a folder: %1")),
                                   {join::quotedForDisplay(given)})
                    << '\n';
        return false;
    }
    return true;
}

// Says why the output text names no folder: nothing there, something else there, or a path
// that cannot be followed.
void explainOutput(const std::string& output, Console& console) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(output, error);
    const std::string shown = join::quotedForDisplay(output);
    std::string why;
    if (status.type() == std::filesystem::file_type::not_found || output.empty())
        why = words::fill(
            said(QT_TRANSLATE_NOOP("CommandLine", "the output folder does not exist: %1")),
            {shown});
    else if (!error)
        why = words::fill(said(QT_TRANSLATE_NOOP("CommandLine", "the output is not a folder: %1")),
                          {shown});
    else
        why = words::fill(
            said(QT_TRANSLATE_NOOP("CommandLine", "the output folder cannot be reached: %1: %2")),
            {shown, words::describe(join::failureFromErrno(error.value(), ""))});
    console.err << "brimvale: " << why << '\n';
}

} // namespace

bool isCommandLine(int argc, char** argv) {
    if (argc < 2)
        return false;
    std::string_view first = argv[1];
    if (!first.starts_with('-'))
        return true;
    first.remove_prefix(first.starts_with("--") ? 2 : 1);
    first = first.substr(0, first.find('='));
    for (const std::string_view option : WindowOptions)
        if (first == option)
            return false;
    return true;
}

int runOnConsole(const std::vector<std::string>& arguments, Console& console) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        CommandLine::tr("Joins the contents of several source folders into one output folder.\n"
                        "Without arguments Brimvale opens its window."));
    // Qt's own help option would offer --help-all for its window options, which the command
    // line does not take; --help-all stays as a quiet spelling of --help.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  CommandLine::tr("Displays this help."));
    QCommandLineOption helpAll(QStringLiteral("help-all"));
    helpAll.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({help, helpAll});
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption output(
        {QStringLiteral("o"), QStringLiteral("output")},
        CommandLine::tr("The output folder (it must exist); see the trailing \"/\" below."),
        CommandLine::tr("DIR"));
    const QCommandLineOption flat(
        {QStringLiteral("f"), QStringLiteral("flat")},
        CommandLine::tr("Just copy files: every file of each folder and of all folders below it "
                        "goes directly into the output folder; a later file replaces an earlier "
                        "one of the same name. Without it each folder is copied whole."));
    const QCommandLineOption list(
        {QStringLiteral("l"), QStringLiteral("list")},
        CommandLine::tr("A text file that lists source folders, one per line. May be repeated."),
        CommandLine::tr("FILE"));
    const QCommandLineOption dryRun(
        {QStringLiteral("n"), QStringLiteral("dry-run")},
        CommandLine::tr("Write nothing: print where each folder goes, the names that collide, "
                        "the names skipped, and what the output folder's file system will "
                        "refuse or take as one name, and whether it all fits."));
    const QCommandLineOption alwaysCopy(
        QStringLiteral("always-copy"),
        CommandLine::tr("Copy every file anew. Without it a file whose destination already has "
                        "its size and modification time is left alone."));
    parser.addOptions({output, flat, list, dryRun, alwaysCopy});
    parser.addPositionalArgument(QStringLiteral("join"),
                                 CommandLine::tr("Join the source folders into the output folder."),
                                 QStringLiteral("join"));
    parser.addPositionalArgument(CommandLine::tr("SOURCE"), CommandLine::tr("A source folder."),
                                 CommandLine::tr("[SOURCE...]"));

    QStringList qtArguments;
    for (const std::string& argument : arguments)
        qtArguments.append(fromBytes(argument));
    // The error names the option as given, whose bytes come back through Latin-1; Qt's words
    // around it are ASCII in the languages the program speaks.
    if (!parser.parse(qtArguments))
        return usageError(console, toBytes(parser.errorText()));
    if (parser.isSet(help) || parser.isSet(helpAll)) {
        // The usage line names the program as it is called from the PATH, not by its location,
        // in whatever words Qt's catalogue gives it.
        QString text = parser.helpText();
        const QString location = QCoreApplication::arguments().value(0);
        if (const qsizetype at = location.isEmpty() ? -1 : text.indexOf(location); at >= 0)
            text.replace(at, location.size(), QStringLiteral("brimvale"));
        console.out << text.toStdString() << said(Epilog);
        return ExitStatus::Copied;
    }
    if (parser.isSet(version)) {
        console.out << "brimvale " << BRIMVALE_VERSION << '\n';
        return ExitStatus::Copied;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usageError(
            console, said(QT_TRANSLATE_NOOP("CommandLine", "no command: the command is 'join'.")));
    if (positional.first() != QStringLiteral("join"))
        return usageError(
            console, words::fill(said(QT_TRANSLATE_NOOP("CommandLine", "unknown command '%1'.")),
                                 {toBytes(positional.first())}));
    if (!parser.isSet(output))
        return usageError(
            console,
            said(QT_TRANSLATE_NOOP("CommandLine", "join needs the output folder: --output DIR.")));
    if (parser.values(output).size() > 1)
        return usageError(console, said(QT_TRANSLATE_NOOP(
                                       "CommandLine", "--output is given more than once: a join "
                                                      "has one output folder.")));

    JoinRequest request;
    request.output = toBytes(parser.value(output));
    request.option =
        parser.isSet(flat) ? join::CopyOption::Flat : join::CopyOption::PreserveStructure;
    request.alwaysCopy = parser.isSet(alwaysCopy);
    std::vector<std::string> given;
    for (const QString& file : parser.values(list))
        if (!readListFile(toBytes(file), given, console))
            return ExitStatus::Usage;
    for (qsizetype i = 1; i < positional.size(); ++i)
        given.push_back(toBytes(positional[i]));

    if (given.empty())
        return usageError(
            console,
            said(QT_TRANSLATE_NOOP("CommandLine",
                                   "no source folders: name them as SOURCE or in a --list FILE.")));
    const std::string working = workingFolder();
    bool sourcesUsable = true;
    for (const std::string& source : given) {
        request.sources.push_back(fromWorkingFolder(source, working));
        sourcesUsable = checkSource(source, request.sources.back(), console) && sourcesUsable;
    }
    if (!sourcesUsable)
        return ExitStatus::Usage;
    if (!join::folderExists(request.output)) {
        explainOutput(request.output, console);
        return ExitStatus::Usage;
    }
    if (parser.isSet(dryRun))
        return printDryRun(request, console.out);

    TerminalJoinHost host(request, console);
    join::JoinRun run(host);
    setActiveRun(run.control());
    run.run();
    setActiveRun(nullptr);
    return host.finish();
}

namespace {

// The signals the command line acts on itself, on a thread of its own: blocked on every other.
sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT})
        sigaddset(&set, signal);
    return set;
}

// Ends the process by `signal`, as whoever sent it expects.
[[noreturn]] void endBy(int signal) {
    std::fflush(nullptr);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(signal, &standard, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

// What the signals do. Ctrl-C or a request to end (SIGINT, SIGTERM, SIGHUP): the copies under way
// stop and remove what they had partly written, and the run ends; with no run under way, or a
// second time, the process ends at once. Ctrl-Z (SIGTSTP): the run pauses (every copy in flight
// finishes the chunk it moves, nothing partly written has its own name), says so, and the process
// stops; fg (SIGCONT) lets the run go on.
void watchSignals(const sigset_t set, std::ostream& err) {
    bool stopping = false;
    for (;;) {
        int signal = 0;
        if (::sigwait(&set, &signal) != 0)
            continue;
        const std::shared_ptr<join::RunControl> run = activeRun();
        if (signal == SIGTSTP) {
            if (run && !run->stopRequested()) {
                run->pause();
                while (!run->paused() && !run->stopRequested())
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                err << said(QT_TRANSLATE_NOOP("CommandLine", "\nbrimvale: paused: nothing is being "
                                                             "written; fg goes on"))
                    << std::endl;
            }
            ::kill(::getpid(), SIGSTOP);
        } else if (signal == SIGCONT) {
            if (run && run->pauseRequested()) {
                run->resume();
                err << said(QT_TRANSLATE_NOOP("CommandLine", "brimvale: going on")) << std::endl;
            }
        } else if (!run || stopping) {
            endBy(signal);
        } else {
            stopping = true;
            run->requestStop();
        }
    }
}

} // namespace

int runProcessCommandLine(int argc, char** argv) {
    // Blocked before any thread starts, so that every thread leaves them to the watcher.
    const sigset_t watched = watchedSignals();
    ::pthread_sigmask(SIG_BLOCK, &watched, nullptr);
    std::thread(watchSignals, watched, std::ref(std::cerr)).detach();
    // The arguments as given, before Qt looks at them.
    const std::vector<std::string> arguments(argv, argv + argc);
    QCoreApplication application(argc, argv);
    words::installTranslations();
    QCoreApplication::setApplicationName(QStringLiteral("brimvale"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BRIMVALE_VERSION));

    Console console{std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, 0, STDIN_FILENO};
    winsize size{};
    if (console.errIsTerminal && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0)
        console.width = size.ws_col;
    return runOnConsole(arguments, console);
}

} // namespace cli
