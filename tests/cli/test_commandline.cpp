#include "cli/commandline.h"
#include "cli/dryrun.h"
#include "join/fakejoinhost.h"
#include "join/fs/temporaries.h"
#include "join/run/joinrun.h"
#include "join/test_childprocess.h"
#include "support/testdir.h"
#include "words/words.h"

#include <QLocale>
#include <QScopeGuard>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testsupport::FakeJoinHost;
using testsupport::listTree;
using testsupport::TestDir;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result runCommandLine(std::vector<std::string> arguments, int in = -1) {
    std::ostringstream out;
    std::ostringstream err;
    cli::Console console{out, err, false, 0, in};
    arguments.insert(arguments.begin(), "brimvale");
    const int status = cli::runOnConsole(arguments, console);
    return {status, out.str(), err.str()};
}

// Every file below `folder` with its content, one "path=content" a line.
std::string treeWithContents(const TestDir& dir, const std::string& folder) {
    std::istringstream paths(listTree(dir.root() / folder));
    std::string text;
    for (std::string path; std::getline(paths, path);)
        text += path + "=" + dir.read(folder + "/" + path) + "\n";
    return text;
}

} // namespace

TEST(CommandLine, JoinLeavesWhatTheEngineLeaves) {
    TestDir dir;
    dir.make("a/x.txt=a1\na/sub/y.txt=ay\na/~skip.txt=s\nb/x.txt=b1\nb/deep/er/z.txt=bz\n"
             "b/~tilde/t.txt=t");
    // The list file holds the first entry; the second is an argument.
    dir.write("list.txt", dir.path("a") + "\r\n");
    struct Row {
        const char* name;
        bool flat;
        bool trailingSeparator;
    } rows[] = {
        {"flat", true, true}, {"preserve into", false, true}, {"preserve merged", false, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string cliOut = std::string("cli-") + row.name;
        const std::string engineOut = std::string("engine-") + row.name;
        dir.make(cliOut + "/\n" + engineOut + "/");

        std::vector<std::string> arguments = {
            "join", "--output",           dir.path(cliOut, row.trailingSeparator),
            "-l",   dir.path("list.txt"), dir.path("b")};
        if (row.flat)
            arguments.push_back("--flat");
        const Result result = runCommandLine(arguments);

        FakeJoinHost host;
        host.sources = {dir.path("a"), dir.path("b")};
        host.output = dir.path(engineOut, row.trailingSeparator);
        host.option = row.flat ? join::CopyOption::Flat : join::CopyOption::PreserveStructure;
        join::JoinRun(host).run();

        EXPECT_EQ(result.status, cli::ExitStatus::Copied) << result.err;
        // One progress line per entry, then the run's own steps, then "Done.".
        const std::string entries =
            "entry 1 of 2: " + dir.path("a") + "\nentry 2 of 2: " + dir.path("b") + "\n";
        EXPECT_TRUE(result.err.starts_with(entries) &&
                    result.err.find("\nDone: ") != std::string::npos)
            << result.err;
        EXPECT_NE(treeWithContents(dir, cliOut), "");
        EXPECT_EQ(treeWithContents(dir, cliOut), treeWithContents(dir, engineOut));
    }
}

TEST(CommandLine, ExitStatusSaysWhetherEverythingWasCopied) {
    TestDir dir;
    dir.make("src/f.txt=f\nsrc/in/\nout/\nafile=x\nempty.txt=\nroot-owned/\n"
             "dot/\ndotdot/\nblank/\npiped/\nodd/x.txt=x\nodd/zlink -> nowhere\nodd/why?/w.txt=w\n"
             "flat/\nflat2/\nflat3/\nflat4/\nflat5/\nsamples/\nended/\nfull/");
    for (const char* name : {"big/a", "big/b", "big/c"})
        dir.write(name, std::string(2 << 20, 'x'));
    ::mkfifo(dir.path("odd/apipe").c_str(), 0600);
    // Names holding line ends, the second like a line of the report.
    std::filesystem::create_directories(dir.root() / "line\nend");
    ::mkfifo(dir.path("line\nend/p\nbrimvale: Done").c_str(), 0600);
    // Lists as they are written on this system: LF line ends, the last line ended too.
    dir.write("lf.txt", dir.path("src") + "\n\n");
    dir.write("piped.txt", dir.path("src") + "\n");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.path("src").c_str(), 0755);
    ::chmod(dir.path("root-owned").c_str(), 0755); // root's: uid 65534 may not create files there
    const std::string out = dir.path("out", true);
    const std::string src = dir.path("src");
    // The sample folders as shipped: 7 files, two names twice, one "~" name.
    const std::string samples =
        (std::filesystem::path(__FILE__).parent_path() / "../../resources/Samples").string();
    // What a join killed mid-copy left: a temporary of a process of another boot.
    std::optional<join::TemporaryMaker> ended = join::thisProcessAsMaker();
    ASSERT_TRUE(ended);
    ended->boot = std::string(ended->boot.size(), ended->boot.front() == '0' ? '1' : '0');
    dir.write("ended/" + join::temporaryName(*ended, join::TemporaryKind::File), "part");
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        int status;
        std::string errorContains; // in standard error, or standard output for a dry run
        std::string workingFolder = {};
        bool asNobody = false;
        const char* standardInput = nullptr; // a file of the test folder
        bool smallDisk = false;              // "full" is a disk of 1 MiB
    } rows[] = {
        {"version", {"--version"}, 0, ""},
        {"help", {"join", "--help"}, 0, ""},
        {"dry run that would copy everything", {"join", "-n", "-o", out, src}, 0, ""},
        {"everything copied", {"join", "-o", out, src}, 0, "Done: 1 file copied, 0 already"},
        {"joined again: already there",
         {"join", "-o", out, src},
         0,
         "Done: 0 files copied, 1 already there (same size and time) and left alone."},
        {"joined again, always copying",
         {"join", "--always-copy", "-o", out, src},
         0,
         "Done: 1 file copied, 0 already"},
        {"dry run of a join again",
         {"join", "-n", "-o", out, src},
         0,
         "Already there (same size and time), left alone: 1"},
        {"folder into itself", {"join", "-o", dir.path("src/in", true), src}, 1, "into itself"},
        {"a source in the output folder, copied onto itself",
         {"join", "-o", dir.path("", true), src},
         1,
         "into itself: " + src + " is " + src + " itself"},
        {"every file not copied is named, not only the first",
         {"join", "-f", "-o", dir.path("flat", true), dir.path("odd")},
         1,
         "\nbrimvale:   " + dir.path("odd/zlink") + ": a link to nothing"},
        {"a folder a later entry's walk leaves out is named",
         {"join", "-f", "-o", dir.path("flat2", true), src, dir.path("odd")},
         1,
         "Left out 1 folder: " + dir.path("odd/why?", true) + ": the name holds \"?\""},
        {"what was not copied is counted by kind: the folder the walk left out, a link, a pipe",
         {"join", "-f", "-o", dir.path("flat4", true), dir.path("odd")},
         1,
         "\nbrimvale: not everything was copied: 1 folder, 1 link and 1 special file could not be "
         "copied, named above; 1 file copied, 0 already there (same size and time) and left "
         "alone\n"},
        {"a full disk names the first file it refused, then the others, each once",
         {"join", "-o", dir.path("full", true), dir.path("big")},
         1,
         "): Could not copy 3 files; the first: " + dir.path("full/big/a") +
             ": Disk full\nbrimvale:   " + dir.path("full/big/b") +
             ": Disk full\nbrimvale:   " + dir.path("full/big/c") + ": Disk full\n",
         {},
         false,
         nullptr,
         true},
        {"the sample folders flat: what the flat copy did not copy is said",
         {"join", "-f", "-o", dir.path("samples", true), samples + "/Folder1",
          samples + "/Folder2"},
         0,
         "Done: 4 files copied, 0 already there (same size and time) and left alone; 2 replaced "
         "by later files of the same name; 1 left out (its name begins with ~).\n"},
        {"names holding line ends are shown quoted",
         {"join", "-f", "-o", dir.path("flat5", true), dir.path("line\nend")},
         1,
         "brimvale: entry 1 ('" + dir.path("line") +
             "'$'\\n''end'): Could not copy 1 special file: '" + dir.path("line") +
             "'$'\\n''end/p'$'\\n''brimvale: Done': not a regular file"},
        {"a failure is named with the entry it belongs to",
         {"join", "-f", "-o", dir.path("flat3", true), dir.path("odd"), src, src},
         1,
         "brimvale: entry 1 (" + dir.path("odd") + "): Could not copy 1 link and 1 special file"},
        {"a join removes what an ended join partly wrote, and says so",
         {"join", "-f", "-o", dir.path("ended", true), src},
         0,
         "brimvale: Removed 1 partly written file that an ended join had left in the output "
         "folder.\nDone: 1 file copied"},
        {"dry run of a folder into itself",
         {"join", "-n", "-o", dir.path("src/in", true), src},
         1,
         ""},
        {"missing source folder", {"join", "-f", "-o", out, dir.path("gone")}, 1, "gone"},
        {"dry run of a missing source folder",
         {"join", "-n", "-f", "-o", out, dir.path("gone")},
         1,
         ""},
        {"unknown option", {"join", "--bogus", "-o", out, src}, 2, "Unknown option 'bogus'"},
        {"unknown command", {"copy", "-o", out, src}, 2, "unknown command 'copy'"},
        {"no command", {"-o", out}, 2, "no command"},
        {"no output option", {"join", src}, 2, "--output DIR"},
        {"no sources", {"join", "-o", out}, 2, "no source folders"},
        {"empty list file",
         {"join", "-o", out, "--list", dir.path("empty.txt")},
         2,
         "no source folders"},
        {"missing list file",
         {"join", "-o", out, "--list", dir.path("nolist")},
         2,
         "File not found"},
        {"missing output folder", {"join", "-o", dir.path("nowhere"), src}, 2, "does not exist"},
        {"output names a file", {"join", "-n", "-o", dir.path("afile"), src}, 2, "not a folder"},
        {"output given twice", {"join", "-o", out, "-o", out, src}, 2, "more than once"},
        {"source names a file",
         {"join", "-o", out, src, dir.path("afile")},
         2,
         "not a folder: " + dir.path("afile")},
        {"source is the root folder", {"join", "-n", "-o", out, "/"}, 2, "root folder"},
        {"source leads to the root folder", {"join", "-n", "-o", out, "/tmp/.."}, 2, "root"},
        {"LF list file with a blank last line, preserve",
         {"join", "-o", dir.path("blank", true), "-l", dir.path("lf.txt")},
         0,
         "Done: "},
        {"dry run of an empty entry", {"join", "-n", "-o", out, ""}, 0, "names no folder"},
        {"list from standard input",
         {"join", "-o", dir.path("piped", true), "--list", "-"},
         0,
         "Done: ",
         {},
         false,
         "piped.txt"},
        {"\".\" from the working folder",
         {"join", "-o", dir.path("dot", true), "."},
         0,
         "entry 1 of 1: " + src + "\n",
         src},
        {"\"..\" from the working folder",
         {"join", "-o", dir.path("dotdot", true), "-n", ".."},
         0,
         "goes to " + dir.path("dotdot/src"),
         dir.path("src/in")},
        {"relative source", {"join", "-o", out, "-n", "f.txt"}, 2, "not a folder: f.txt", src},
        {"help names the exit status of a stop, and no window option",
         {"--help"},
         0,
         "130 when stopped"},
        {"dry run into a folder this user may not write",
         {"join", "-n", "-o", dir.path("root-owned"), src},
         1,
         "root-owned/f.txt: Permission denied",
         {},
         true},
    };
    // The rows that need a child process of their own run first, while this process has no
    // threads: a child forked beside running workers may not start threads of its own.
    const auto needsChild = [](const Row& row) {
        return !row.workingFolder.empty() || row.asNobody || row.smallDisk;
    };
    std::stable_partition(std::begin(rows), std::end(rows), needsChild);
    for (const Row& row : rows) {
        const auto check = [&] {
            int in = -1;
            if (row.standardInput)
                in = ::open(dir.path(row.standardInput).c_str(), O_RDONLY | O_CLOEXEC);
            if (!row.workingFolder.empty() && ::chdir(row.workingFolder.c_str()) != 0)
                return std::string("cannot enter the working folder");
            const Result result = runCommandLine(row.arguments, in);
            if (in >= 0)
                ::close(in);
            std::string wrong;
            if (result.status != row.status)
                wrong += "status " + std::to_string(result.status) + "; ";
            if ((result.err + result.out).find(row.errorContains) == std::string::npos)
                wrong += "lacks \"" + row.errorContains + "\"; ";
            if (row.arguments.front() == "--help" && result.out.find("Qt") != std::string::npos)
                wrong += "names Qt; ";
            return wrong.empty() ? wrong : wrong + "\n" + result.err + result.out;
        };
        if (!needsChild(row)) {
            EXPECT_EQ(check(), "") << row.name;
            continue;
        }
        // In a child of its own: the working folder, the user and the mounts change only there.
        const int code = testsupport::runInChild([&] {
            if (row.smallDisk && (!testsupport::usePrivateMounts() ||
                                  !testsupport::mountSmallDisk(dir.path("full"), 1 << 20)))
                return testsupport::CouldNotMount;
            if (row.asNobody && !testsupport::dropToNobody())
                return testsupport::CouldNotDropPrivileges;
            const std::string wrong = check();
            std::fputs(wrong.c_str(), stderr);
            return wrong.empty() ? 0 : 1;
        });
        if ((code == testsupport::CouldNotDropPrivileges || code == testsupport::CouldNotMount) &&
            ::geteuid() != 0)
            continue; // an ordinary user cannot become another or mount; the row needs root
        EXPECT_EQ(code, 0) << row.name << " (its reasons above)";
    }
    EXPECT_EQ(listTree(dir.root() / "blank"), "src/f.txt\n");
    EXPECT_EQ(listTree(dir.root() / "dot"), "src/f.txt\n");
    EXPECT_EQ(listTree(dir.root() / "piped"), "src/f.txt\n");
    EXPECT_EQ(listTree(dir.root() / "root-owned"), "");
    EXPECT_EQ(listTree(dir.root() / "samples"),
              "letter-to-a-friend.txt\nnotes.txt\nreadme.txt\nshopping.csv\n");
}

TEST(DryRun, NamesCollisionsSkippedNamesAndWhatExFatRefusesBeforeWriting) {
    TestDir dir;
    dir.make("a/notes.txt=1\na/sub/Photo.JPG=22\na/~draft.txt=3\na/what:now.txt=4\n"
             "a/why?/lost.txt=8\nb/notes.txt=55\nb/photo.jpg=6\nb/gone -> nowhere\nout/old.txt=7");
    ASSERT_EQ(::mkfifo(dir.path("b/pipe").c_str(), 0644), 0);
    join::TargetFileSystem exfat;
    exfat.type = "exfat";
    exfat.mountType = "fuseblk";
    exfat.source = "/dev/loop9";
    exfat.family = join::TargetFileSystem::Family::ExFat;
    exfat.caseInsensitive = true;
    exfat.storesLinks = false;
    exfat.blockSize = 4096;
    exfat.freeBytes = 4096;
    cli::JoinRequest request{
        {dir.path("a"), dir.path("b", true)}, dir.path("out"), join::CopyOption::Flat};
    std::ostringstream plan;
    const int status = cli::printDryRun(request, plan, [&](const std::string&) { return exfat; });

    // The plan with the temporary folder written as "T".
    std::string text = plan.str();
    for (std::size_t at; (at = text.find(dir.path())) != std::string::npos;)
        text.replace(at, dir.path().size(), "T");
    EXPECT_EQ(text, R"(Dry run: nothing is written.
Output folder: T/out
  file system: exfat (mounted as fuseblk) on /dev/loop9
  names: case ignored, at most 255 characters
  not allowed: : ? * " < > | \ and control characters in names, symbolic links
  free: 4.0 KiB
Copy option: just copy files (flat)

Entry 1 of 2: T/a
  3 files from 2 folders go directly into T/out
Entry 2 of 2: T/b/
  2 files from 1 folder go directly into T/out

Name collisions (the later file wins): 1
  notes.txt: T/b/notes.txt replaces T/a/notes.txt

Skipped (names beginning with "~"): 1
  T/a/~draft.txt

Refused by exfat: 1
  T/a/what:now.txt: the name holds ":", which exfat does not allow in a name

Different names that are one on exfat: 1
  T/b/photo.jpg replaces T/a/sub/Photo.JPG (one name on exfat)

Not copied: 3
  T/a/why?/: the name holds "?"
  T/b/gone: a link to nothing, so it is not copied
  T/b/pipe: not a regular file, so it is not copied

Space: about 8.0 KiB to write, 4.0 KiB free: does not fit

The join would not copy everything: 1 name refused, 2 files not copied, 1 folder not copied, not enough space.
)");
    EXPECT_EQ(status, cli::ExitStatus::NotEverything);
    EXPECT_EQ(listTree(dir.root() / "out"), "old.txt\n");

    // Preserve: entries of one name merge, the later file winning; folders whose names are one
    // on exFAT are one folder.
    dir.make("x/data/same.txt=x\nx/data/Dir/f=1\nx/data/dir/F=2\ny/data/same.txt=y");
    exfat.freeBytes = 1 << 20;
    request = {{dir.path("x/data"), dir.path("y/data")},
               dir.path("out", true),
               join::CopyOption::PreserveStructure};
    plan.str("");
    cli::printDryRun(request, plan, [&](const std::string&) { return exfat; });
    for (const std::string& line :
         {dir.path("out/data/same.txt") + ": " + dir.path("y/data/same.txt") + " replaces " +
              dir.path("x/data/same.txt"),
          dir.path("x/data/Dir/f") + ": its name and \"F\" are one on exfat, which keeps the later "
                                     "only"})
        EXPECT_NE(plan.str().find(line), std::string::npos) << line << "\nnot in\n" << plan.str();
}

// What a German user reads: the summary line, with numbers as German writes them, an entry's
// report, a usage error in the program's words and in Qt's, the help's usage line and the dry
// run's verdict.
TEST(CommandLine, SpeaksGermanWhereTheUserDoes) {
    words::installTranslations(QLocale(QLocale::German, QLocale::Germany));
    const auto english = qScopeGuard([] { words::installTranslations(QLocale::c()); });
    TestDir dir;
    dir.make("src/f.txt=f\nodd/x.txt=x\nodd/zlink -> nowhere\nout/\nmany/\nodd1/\nodd2/");
    ::mkfifo(dir.path("odd/apipe").c_str(), 0600);
    for (int i = 0; i < 1000; ++i)
        dir.write("many/f" + std::to_string(i), "x");
    const std::string src = dir.path("src");
    const std::string odd = dir.path("odd");
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        int status;
        std::string said;
    } rows[] = {
        {"everything copied",
         {"join", "-o", dir.path("out", true), src},
         0,
         "Fertig: 1 Datei kopiert, 0 bereits vorhanden (gleiche Größe und Zeit) und unberührt "
         "gelassen.\n"},
        {"a thousand files",
         {"join", "-f", "-o", dir.path("out", true), dir.path("many")},
         0,
         "Fertig: 1.000 Dateien kopiert, 0 bereits vorhanden"},
        {"an entry's report",
         {"join", "-f", "-o", dir.path("odd1", true), odd},
         1,
         "brimvale: Eintrag 1 (" + odd +
             "): 1 Verknüpfung und 1 Spezialdatei nicht kopiert; als "
             "Erstes: " +
             odd + "/apipe: keine reguläre Datei, daher wird sie nicht kopiert\n"},
        {"not everything copied",
         {"join", "-f", "-o", dir.path("odd2", true), odd},
         1,
         "brimvale: Nicht alles wurde kopiert: 1 Verknüpfung und 1 Spezialdatei nicht kopiert, "
         "oben genannt; 1 Datei kopiert, 0 bereits vorhanden (gleiche Größe und Zeit) und "
         "unberührt gelassen\n"},
        {"no sources",
         {"join", "-o", dir.path("out")},
         2,
         "brimvale: keine Quellordner: nennen Sie sie als QUELLE oder in einer --list DATEI.\n"
         "Siehe 'brimvale --help'.\n"},
        {"an option Qt does not know",
         {"join", "--bogus"},
         2,
         "brimvale: Unbekannte Option 'bogus'.\n"},
        {"the help's usage line", {"--help"}, 0, "Aufruf: brimvale [Optionen] join [QUELLE...]\n"},
        {"a dry run",
         {"join", "-n", "-o", dir.path("out", true), src},
         0,
         "\nDie Zusammenführung würde alles kopieren.\n"},
    };
    for (const auto& row : rows) {
        const Result result = runCommandLine(row.arguments);
        EXPECT_EQ(result.status, row.status) << row.name;
        EXPECT_NE((result.err + result.out).find(row.said), std::string::npos)
            << row.name << ":\n"
            << result.err << result.out;
    }
}
