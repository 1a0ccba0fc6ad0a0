#include "listfile.h"

#include "commands.h"
#include "join/fs/failure.h"
#include "join/fs/paths.h"
#include "join/fs/posixfs.h"
#include "join/host/trap.h"
#include "join/run/runprogress.h"
#include "join/tasks/workers.h"
#include "listtexts.h"
#include "selection.h"
#include "words/words.h"

#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sources {

namespace {

// Reading in large blocks and appending in batches keeps a file of millions of lines close to
// the speed of reading it, with memory for one block and one batch only.
constexpr std::size_t BlockSize = 1 << 20;
constexpr std::size_t BatchItems = 8192;

// Cuts the bytes of a folder list file into pieces and hands them to the list in batches; blank
// pieces are counted as lines and left out.
class PieceCutter {
public:
    PieceCutter(SourceList& list, BlankLines* blankLines) : m_list(list), m_blankLines(blankLines) {
        m_batch.reserve(BatchItems);
    }

    void feed(const char* data, std::size_t size) {
        const char* next = data;
        const char* const end = data + size;
        if (m_afterCR && next != end) {
            m_afterCR = false;
            if (*next == '\n')
                ++next; // the LF of a CR LF pair split across two blocks
        }
        while (next != end) {
            const char* stop =
                std::find_if(next, end, [](char c) { return c == '\r' || c == '\n'; });
            if (stop != next) {
                m_piece.append(next, stop);
                m_lineOpen = true;
            }
            if (stop == end)
                break;
            // CR, CR LF and LF each end a line; a line end at the end of the file opens no
            // further line.
            endPiece();
            m_lineOpen = false;
            if (*stop++ == '\r') {
                if (stop == end)
                    m_afterCR = true;
                else if (*stop == '\n')
                    ++stop;
            }
            next = stop;
        }
    }

    // The end of the file ends an unterminated line.
    void finish() {
        if (m_lineOpen)
            endPiece();
        m_lineOpen = false;
        flush();
    }

    void flush() {
        if (m_batch.empty())
            return;
        m_list.appendAll(m_batch);
        m_batch.clear();
    }

private:
    void endPiece() {
        ++m_lineNumber;
        if (m_piece.find_first_not_of(" \t") == std::string::npos) {
            if (m_blankLines)
                m_blankLines->push_back(m_lineNumber);
            m_piece.clear();
            return;
        }
        m_batch.push_back(std::move(m_piece));
        m_piece.clear();
        if (m_batch.size() >= BatchItems)
            flush();
    }

    SourceList& m_list;
    BlankLines* m_blankLines;
    std::vector<std::string> m_batch;
    std::string m_piece;
    std::size_t m_lineNumber = 0;
    bool m_lineOpen = false;
    bool m_afterCR = false;
};

// Reads until the block is full or the input ends, so that the first block holds the whole
// byte-order mark whatever pieces a pipe delivers.
std::size_t readBlock(int fd, std::vector<char>& block, const std::string& name) {
    std::size_t filled = 0;
    while (filled < block.size()) {
        const ssize_t got = ::read(fd, block.data() + filled, block.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw join::failureFromErrno(errno, name);
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    return filled;
}

// The text form a byte-order mark announces. UTF-16 and UTF-32 lists (as some editors save
// them) are read as text; anything else is taken as the file system's own bytes.
struct TextForm {
    std::size_t markLength = 0;
    std::optional<QStringConverter::Encoding> encoding; // none: bytes as they are
};

TextForm textFormOf(std::string_view start) {
    if (start.starts_with("\xEF\xBB\xBF"))
        return {3, std::nullopt};
    if (start.starts_with(std::string_view("\xFF\xFE\0\0", 4)))
        return {4, QStringConverter::Utf32LE};
    if (start.starts_with(std::string_view("\0\0\xFE\xFF", 4)))
        return {4, QStringConverter::Utf32BE};
    if (start.starts_with("\xFF\xFE"))
        return {2, QStringConverter::Utf16LE};
    if (start.starts_with("\xFE\xFF"))
        return {2, QStringConverter::Utf16BE};
    return {};
}

void readList(SourceList& list, int fd, const std::string& name, BlankLines* blankLines) {
    PieceCutter cutter(list, blankLines);
    std::vector<char> block(BlockSize);
    std::optional<QStringDecoder> decoder;
    bool first = true;
    for (;;) {
        std::size_t got = 0;
        try {
            got = readBlock(fd, block, name);
        } catch (const join::Failure&) {
            cutter.flush();
            throw;
        }
        if (got == 0)
            break;
        const char* data = block.data();
        if (first) {
            first = false;
            const TextForm form = textFormOf(std::string_view(data, got));
            data += form.markLength;
            got -= form.markLength;
            if (form.encoding)
                decoder.emplace(*form.encoding);
        }
        if (!decoder) {
            cutter.feed(data, got);
            continue;
        }
        const QString decoded = decoder->decode(QByteArrayView(data, static_cast<qsizetype>(got)));
        const QByteArray text = decoded.toUtf8();
        cutter.feed(text.constData(), static_cast<std::size_t>(text.size()));
    }
    cutter.finish();
}

} // namespace

void loadListFromFile(SourceList& list, join::MessageSink& messages, const std::string& path,
                      BlankLines* blankLines) {
    if (!join::fileIsPresent(path)) {
        messages.showMessage(Lists::tr("File not found").toStdString());
        return;
    }

    // Only regular files are read: a pipe would block the window and a device could feed it
    // forever. Opening without blocking lets a pipe be refused instead of waited on.
    const join::Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid())
        throw join::failureFromErrno(errno, path);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        throw join::failureFromErrno(errno, path);
    if (!S_ISREG(info.st_mode))
        throw join::Failure(
            join::ErrorNumber::PathFileAccessError,
            words::fill(Lists::tr("Path/File access error: %1 (not a regular file)").toStdString(),
                        {join::quotedForDisplay(path)}));
    readList(list, file.get(), path, blankLines);
}

void loadListFromDescriptor(SourceList& list, int fd, const std::string& name) {
    readList(list, fd, name, nullptr);
}

void LinesWithoutFolder::check(const SourceList& list, int firstItem, const std::string& file,
                               const BlankLines& blankLines) {
    const std::string name = join::lastPathPart(file);
    std::size_t lineNumber = 0;
    auto blank = blankLines.begin();
    for (int item = firstItem; item <= list.count(); ++item) {
        ++lineNumber;
        while (blank != blankLines.end() && *blank == lineNumber) {
            ++blank;
            ++lineNumber;
        }
        const std::string text = list.text(item);
        // The folder a join would copy: it reads an entry with "." and ".." resolved.
        if (join::folderExists(join::resolveDotSegments(text)))
            continue;
        if (m_shown.size() < ShownLines)
            m_shown.push_back({name, lineNumber, text});
        else
            ++m_more;
    }
}

std::string LinesWithoutFolder::message() const {
    if (m_shown.empty())
        return {};
    std::string text = Lists::tr("Some lines do not name a folder now:").toStdString();
    for (const Line& line : m_shown)
        text += "\n" + words::fill(Lists::tr("%1, line %2: %3").toStdString(),
                                   {join::quotedForDisplay(line.file), std::to_string(line.number),
                                    join::quotedForDisplay(line.text)});
    if (m_more > 0)
        text +=
            "\n" +
            words::fill(words::pluralText(
                            "Lists", QT_TRANSLATE_N_NOOP("Lists", "and %1 more line(s)."), m_more),
                        {words::countText(m_more)});
    return text;
}

} // namespace sources

namespace sources {

namespace {

const char* const LayoutNote =
    QT_TRANSLATE_NOOP("Lists", "File should look like:\r/home/user/test1\r/home/user/test2\retc.");
const char* const DialogTitle =
    QT_TRANSLATE_NOOP("Lists", "Add File(s) - Hold Ctrl to select multiple files");
// Every name: "*.*" would hide the many names here that hold no dot.
const char* const AllFilesFilter = QT_TRANSLATE_NOOP("Lists", "All Files (*)");
const char* const TooManyFiles =
    QT_TRANSLATE_NOOP("Lists", "You've selected too many files to add.\r\r"
                               "Please try adding via the \"Add All\" button.");
const char* const BadFileName =
    QT_TRANSLATE_NOOP("Lists", "was not added because it has bad characters in the filename.");

std::string said(const char* text) {
    return Lists::tr(text).toStdString();
}

} // namespace

void checkAndLoadListFile(CommandHost& host, join::Trap& trap, int line, const std::string& path,
                          LinesWithoutFolder& unnamed) {
    if (trap.test(line, [&] { return !join::isBadFileName(path); })) {
        const int firstItem = host.sourceList().count() + 1;
        BlankLines blankLines;
        trap.line(line + 2, [&] { loadListFromFile(host.sourceList(), host, path, &blankLines); });
        // What was read before a failure is in the list, and checked as well.
        trap.line(line + 2, [&] { unnamed.check(host.sourceList(), firstItem, path, blankLines); });
    } else {
        trap.line(line + 4, [&] {
            host.showMessage(join::quotedForDisplay(path) + "\r\r" + said(BadFileName));
        });
    }
}

void loadListFiles(CommandHost& host) {
    join::Trap trap(host, join::Procedure::LoadListFiles);
    trap.handleNumber(join::ErrorNumber::FileDialogBufferTooSmall,
                      [&] { host.showMessage(said(TooManyFiles)); });
    std::string selection;
    std::vector<std::string> parts;
    LinesWithoutFolder unnamed;

    trap.line(100, [&] { host.showMessage(said(LayoutNote)); });
    trap.line(102, [&] {
        selection = makeSelectionString(
            host.fileOpenDialog().ShowOpen(said(DialogTitle), said(AllFilesFilter)));
        checkSelectionFits(selection);
    });
    if (trap.ended())
        return;
    trap.line(104, [&] { parts = splitSelection(selection); });
    if (trap.test(106, [&] { return parts.size() == 1; })) {
        checkAndLoadListFile(host, trap, 108, parts.empty() ? std::string() : parts.front(),
                             unnamed);
    } else {
        if (trap.test(114, [&] { return parts.empty(); }))
            return;
        for (std::size_t i = 1; i < parts.size(); ++i) {
            std::string path;
            trap.line(116, [&] { path = join::normalizePath(parts.front() + "/" + parts[i]); });
            checkAndLoadListFile(host, trap, 118, path, unnamed);
        }
    }
    // Once, after every file: the lines are in the list, and the user sees which ones will find
    // no folder before a join fails on them.
    trap.line(124, [&] {
        if (const std::string message = unnamed.message(); !message.empty())
            host.showMessage(message);
    });
}

} // namespace sources
