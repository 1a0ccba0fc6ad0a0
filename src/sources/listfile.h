#pragma once

#include "join/host/host.h"
#include "sourcelist.h"

#include <cstddef>
#include <string>
#include <vector>

namespace join {
class Trap;
}

namespace sources {

class CommandHost;

// The numbers (from 1) of the blank lines a load left out of the list, in file order.
using BlankLines = std::vector<std::size_t>;

// Appends every line of a folder list file to the list, in file order, but for blank lines
// (empty, or only spaces and tabs), which name no folder: they are left out, and their numbers
// added to `blankLines` where it is given. Lines end at LF, at CR, at CR LF or at the end of the
// file. Lines are taken exactly as written (bytes kept, spaces kept). A UTF-8 byte-order mark at
// the start belongs to no line; a file that begins with a UTF-16 or UTF-32 byte-order mark is
// read as text in that form, its lines kept as UTF-8.
// Shows "File not found" when the file's date stamp cannot be read. Throws join::Failure when
// the file cannot be opened or read; the items read before the failure stay in the list, and
// the blank lines before them in `blankLines`.
void loadListFromFile(SourceList& list, join::MessageSink& messages, const std::string& path,
                      BlankLines* blankLines = nullptr);

// The same from an open descriptor of any kind (standard input, a pipe), read to its end or
// until a stop is asked for. `name` names it in failures.
void loadListFromDescriptor(SourceList& list, int fd, const std::string& name);

// The lines of the list files of one load that name no folder now (nothing there, a file, out of
// reach), told in one message at the end of the load. The lines stay in the list as read: a join
// would find no folder for them.
class LinesWithoutFolder {
public:
    // Checks the items from `firstItem` (numbered from 1) to the end of the list, which
    // loadListFromFile has just appended from `file`, leaving out `blankLines`: the items are
    // the file's other lines, in order.
    void check(const SourceList& list, int firstItem, const std::string& file,
               const BlankLines& blankLines = {});

    // "Some lines do not name a folder now:", then "NAME, line N: TEXT" for each such line (the
    // first ShownLines of them, then how many more), one a line; "" when there is none.
    std::string message() const;

    static constexpr std::size_t ShownLines = 20;

private:
    struct Line {
        std::string file;
        std::size_t number = 0;
        std::string text;
    };
    std::vector<Line> m_shown;
    std::size_t m_more = 0;
};

// Step 6 of "Load List Of Folders From File" for one file, under lines `line` to `line + 4` of
// the command's trap: a path whose attributes cannot be read is named as not added; otherwise
// the file is loaded and its lines checked into `unnamed`.
void checkAndLoadListFile(CommandHost& host, join::Trap& trap, int line, const std::string& path,
                          LinesWithoutFolder& unnamed);

} // namespace sources
