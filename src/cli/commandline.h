#pragma once

#include "join/host/host.h"

#include <ostream>
#include <string>
#include <vector>

// Brimvale from a terminal: "brimvale join --output DIR [--flat] [--dry-run] [--list FILE]...
// [SOURCE...]" runs the window's join engine with the same rules, without a display.
namespace cli {

namespace ExitStatus {
inline constexpr int Copied = 0;        // everything was (or would be) copied
inline constexpr int NotEverything = 1; // something was not: each reported on standard error
inline constexpr int Usage = 2;         // bad usage, or nothing to run (no sources, no output)
inline constexpr int Stopped = 130;     // stopped by Ctrl-C or a request to end
} // namespace ExitStatus

// Where the command line writes: results (help, version, a dry run's plan) to `out`; messages,
// reports and progress to `err`, which may be a terminal `width` columns wide (0: unknown).
// "--list -" reads the descriptor `in`.
struct Console {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
    int width = 0;
    int in = 0;
};

// A join as the command line asks for it: the window's list, output folder text and option.
struct JoinRequest {
    std::vector<std::string> sources;
    std::string output;
    join::CopyOption option = join::CopyOption::PreserveStructure;
    // Copy every file anew, also where its destination already has its size and time.
    bool alwaysCopy = false;
};

// True when the arguments ask for the command line: any argument but the window options that
// Qt takes for itself (-platform, -style, ...). Without arguments the window opens.
bool isCommandLine(int argc, char** argv);

// Runs the command line with the process's arguments, standard output and standard error.
int runProcessCommandLine(int argc, char** argv);

// Runs the command line. `arguments` are the bytes as given, the program's name first.
int runOnConsole(const std::vector<std::string>& arguments, Console& console);

} // namespace cli
