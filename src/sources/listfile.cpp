#include "listfile.h"

#include "commands.h"
#include "join/failure.h"
#include "join/paths.h"
#include "join/posixfs.h"
#include "join/trap.h"
#include "selection.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sources {

namespace {

// Reading in large blocks and appending in batches keeps a file of millions of lines close to
// the speed of reading it, with memory for one block and one batch only.
constexpr std::size_t BlockSize = 1 << 20;
constexpr std::size_t BatchItems = 8192;

// Cuts the bytes of a folder list file into pieces and hands them to the list in batches.
class PieceCutter {
public:
    explicit PieceCutter(SourceList& list) : m_list(list) { m_batch.reserve(BatchItems); }

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
            endPiece();
            if (*stop++ == '\r') {
                m_lineOpen = false;
                if (stop == end)
                    m_afterCR = true;
                else if (*stop == '\n')
                    ++stop;
            } else {
                m_lineOpen = true; // the rest of the line, even if empty, is one more piece
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
        m_batch.push_back(std::move(m_piece));
        m_piece.clear();
        if (m_batch.size() >= BatchItems)
            flush();
    }

    SourceList& m_list;
    std::vector<std::string> m_batch;
    std::string m_piece;
    bool m_lineOpen = false;
    bool m_afterCR = false;
};

// Closes a file descriptor when the reading ends, however it ends.
class OpenFile {
public:
    explicit OpenFile(int fd) : m_fd(fd) {}
    ~OpenFile() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

void LoadListFromFile(SourceList& list, join::MessageSink& messages, const std::string& path) {
    if (!join::FileIsPresent(path)) {
        messages.showMessage("File not found");
        return;
    }

    // Only regular files are read: a pipe would block the window and a device could feed it
    // forever. Opening without blocking lets a pipe be refused instead of waited on.
    const OpenFile file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.fd() < 0)
        throw join::failureFromErrno(errno, path);
    struct stat info {};
    if (::fstat(file.fd(), &info) != 0)
        throw join::failureFromErrno(errno, path);
    if (!S_ISREG(info.st_mode))
        throw join::Failure(join::ErrorNumber::PathFileAccessError,
                            "Path/File access error: " + path + " (not a regular file)");

    PieceCutter cutter(list);
    std::vector<char> block(BlockSize);
    for (;;) {
        const ssize_t got = ::read(file.fd(), block.data(), block.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            cutter.flush();
            throw join::failureFromErrno(error, path);
        }
        if (got == 0)
            break;
        cutter.feed(block.data(), static_cast<std::size_t>(got));
    }
    cutter.finish();
}

} // namespace sources

namespace sources {

namespace {

const char* const LayoutNote = "File should look like:\r/home/user/test1\r/home/user/test2\retc.";
const char* const DialogTitle = "Add File(s) - Hold Ctrl to select multiple files";
// Every name: "*.*" would hide the many names here that hold no dot.
const char* const AllFilesFilter = "All Files (*)";
const char* const TooManyFiles = "You've selected too many files to add.\r\r"
                                 "Please try adding via the \"Add All\" button.";
const char* const BadFileName = "was not added because it has bad characters in the filename.";

} // namespace

void PushButton10_Click(CommandHost& host) {
    join::Trap trap(host, join::locationString("Brimvale", "Form1", "PushButton10_Click"));
    trap.handleNumber(join::ErrorNumber::FileDialogBufferTooSmall,
                      [&] { host.showMessage(TooManyFiles); });
    std::string selection;
    std::vector<std::string> parts;

    // Loads one picked file, or says why it cannot.
    const auto checkAndLoad = [&](int line, const std::string& path) {
        if (trap.test(line, [&] { return !join::IsBadFileName(path); }))
            trap.line(line + 2, [&] { LoadListFromFile(host.sourceList(), host, path); });
        else
            trap.line(line + 4, [&] { host.showMessage(path + "\r\r" + BadFileName); });
    };

    trap.line(100, [&] { host.showMessage(LayoutNote); });
    trap.line(102, [&] {
        selection =
            MakeSelectionString(host.fileOpenDialog().ShowOpen(DialogTitle, AllFilesFilter));
        CheckSelectionFits(selection);
    });
    if (trap.ended())
        return;
    trap.line(104, [&] { parts = SplitSelection(selection); });
    if (trap.test(106, [&] { return parts.size() == 1; })) {
        checkAndLoad(108, parts.empty() ? std::string() : parts.front());
        return;
    }
    if (trap.test(114, [&] { return parts.empty(); }))
        return;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        std::string path;
        trap.line(116, [&] { path = join::NormalizePath(parts.front() + "/" + parts[i]); });
        checkAndLoad(118, path);
    }
}

} // namespace sources
