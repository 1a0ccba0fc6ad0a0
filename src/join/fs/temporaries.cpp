#include "join/fs/temporaries.h"

#include "join/fs/posixinternal.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <map>
#include <mutex>
#include <random>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace join {

namespace {

constexpr std::string_view Prefix = ".brimvale-";
constexpr std::string_view FileEnd = ".tmp";
constexpr std::string_view LinkEnd = ".link.tmp";
// The short forms of the machine and boot ids: 48 bits of random each.
constexpr std::size_t IdDigits = 12;
constexpr std::size_t RandomLetters = 8;

bool isLowerHex(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// The whole text as a decimal number of at most `digits` digits, without sign.
std::optional<std::uint64_t> decimal(std::string_view text, std::size_t digits = 20) {
    std::uint64_t value = 0;
    if (text.empty() || text.size() > digits ||
        text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The start of a small file of /proc or /etc; "" when it cannot be read.
std::string readSmallFile(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text(1024, '\0');
    ssize_t got = -1;
    do
        got = ::read(fd, text.data(), text.size());
    while (got < 0 && errno == EINTR);
    ::close(fd);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

// The first hex digits of an id file (machine-id's 32 digits, or boot_id's UUID with its
// dashes), in lower case; "" when it holds no such id.
std::string shortId(const char* path) {
    std::string digits;
    for (const char c : readSmallFile(path)) {
        if (c == '-' || c == '\n')
            continue;
        // By hand rather than by the locale's rules, which the program sets from the user's.
        if (c >= 'A' && c <= 'F')
            digits.push_back(static_cast<char>(c - 'A' + 'a'));
        else if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))
            digits.push_back(c);
        else
            return {};
    }
    return digits.size() >= 32 ? digits.substr(0, IdDigits) : std::string();
}

// What /proc/PID/stat tells of a process: its state (field 3) and its start time (field 22).
struct ProcessStat {
    char state = '?';
    std::uint64_t start = 0;
};

std::optional<ProcessStat> readProcessStat(const std::string& path) {
    const std::string text = readSmallFile(path.c_str());
    // The command name in field 2 may hold spaces and parentheses; the fields after it do not.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::string_view rest = std::string_view(text).substr(close + 1);
    ProcessStat stat;
    for (int field = 3; field <= 22; ++field) {
        rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
        const std::string_view value = rest.substr(0, rest.find(' '));
        if (value.empty())
            return std::nullopt;
        if (field == 3)
            stat.state = value[0];
        if (field == 22) {
            const std::optional<std::uint64_t> start = decimal(value);
            if (!start)
                return std::nullopt;
            stat.start = *start;
        }
        rest.remove_prefix(value.size());
    }
    return stat;
}

std::optional<TemporaryMaker> readThisProcess() {
    TemporaryMaker maker;
    maker.boot = shortId("/proc/sys/kernel/random/boot_id");
    maker.machine = shortId("/etc/machine-id");
    if (maker.machine.empty())
        maker.machine = shortId("/var/lib/dbus/machine-id");
    if (maker.machine.empty())
        maker.machine = maker.boot;
    // "pid:[4026531836]"
    char link[64] = {};
    const ssize_t length = ::readlink("/proc/self/ns/pid", link, sizeof link - 1);
    const std::string_view space(link, length > 0 ? static_cast<std::size_t>(length) : 0);
    const std::optional<std::uint64_t> inode = space.starts_with("pid:[") && space.ends_with("]")
                                                   ? decimal(space.substr(5, space.size() - 6))
                                                   : std::nullopt;
    // Other processes are looked up by number in /proc, which must count as this process does:
    // a /proc of another PID namespace gives this process another number there.
    const pid_t pid = ::getpid();
    char self[32] = {};
    const bool ownProc = ::readlink("/proc/self", self, sizeof self - 1) > 0 &&
                         decimal(self) == static_cast<std::uint64_t>(pid);
    const std::optional<ProcessStat> stat = readProcessStat("/proc/self/stat");
    if (maker.boot.empty() || !inode || !ownProc || !stat)
        return std::nullopt;
    char hex[17] = {};
    maker.pidNamespace.assign(hex, std::to_chars(hex, hex + 16, *inode, 16).ptr);
    maker.pid = static_cast<std::uint64_t>(pid);
    maker.start = stat->start;
    return maker;
}

std::string randomLetters(std::size_t count) {
    static thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{static_cast<std::uint64_t>(device()),
                           static_cast<std::uint64_t>(device()),
                           static_cast<std::uint64_t>(
                               std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof Letters - 2);
    std::string letters;
    for (std::size_t i = 0; i < count; ++i)
        letters += Letters[pick(generator)];
    return letters;
}

// Whether a temporary's maker has ended, judged against this process. Each process number is
// looked up once.
class MakerJudge {
public:
    enum class State { Running, Ended, Unknown };

    State judge(const TemporaryMaker& maker) {
        if (!m_self || maker.machine != m_self->machine)
            return State::Unknown;
        if (maker.boot != m_self->boot)
            return State::Ended;
        if (maker.pidNamespace != m_self->pidNamespace)
            return State::Unknown;
        auto found = m_processes.find(maker.pid);
        if (found == m_processes.end())
            found = m_processes.emplace(maker.pid, lookUp(static_cast<pid_t>(maker.pid))).first;
        const Process& process = found->second;
        if (process.gone)
            return State::Ended;
        if (!process.stat)
            return State::Unknown;
        // A zombie has ended, whoever it was; a process of another start time is another one.
        if (process.stat->state == 'Z' || process.stat->state == 'X')
            return State::Ended;
        return process.stat->start == maker.start ? State::Running : State::Ended;
    }

private:
    struct Process {
        bool gone = false;
        // nullopt for a process that exists but whose /proc entry is hidden from this user.
        std::optional<ProcessStat> stat;
    };

    static Process lookUp(pid_t pid) {
        if (::kill(pid, 0) != 0 && errno == ESRCH)
            return {true, std::nullopt};
        return {false, readProcessStat("/proc/" + std::to_string(pid) + "/stat")};
    }

    std::optional<TemporaryMaker> m_self = thisProcessAsMaker();
    std::map<std::uint64_t, Process> m_processes;
};

// Removes `name` from `folder` when it is an ended maker's temporary of the kind its name says.
// `listed` is the type the listing gave, when it gave one.
void removeIfEnded(int folder, const std::string& name, std::optional<FolderEntry::Type> listed,
                   MakerJudge& judge, TemporaryRemoval& removal) {
    if (!name.starts_with(Prefix))
        return;
    const std::optional<TemporaryNameParts> parts = parseTemporaryName(name);
    if (!parts)
        return;
    const bool link = parts->kind == TemporaryKind::Link;
    const FolderEntry::Type wanted = link ? FolderEntry::Type::Link : FolderEntry::Type::File;
    if ((listed && *listed != wanted) || judge.judge(parts->maker) != MakerJudge::State::Ended)
        return;
    // The listing may be older than the folder: the entry itself says what it is now.
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            removal.refused.push_back({name, posix::lastError()});
        return;
    }
    if (link ? !S_ISLNK(st.st_mode) : !S_ISREG(st.st_mode))
        return;
    if (const int error = removeTemporaryName(folder, name); error != 0)
        removal.refused.push_back({name, error});
    else
        ++removal.removed;
}

} // namespace

std::optional<TemporaryMaker> thisProcessAsMaker() {
    // Read once per process: a forked child reads its own.
    static std::mutex mutex;
    static pid_t readFor = 0;
    static std::optional<TemporaryMaker> maker;
    const pid_t pid = ::getpid();
    const std::lock_guard lock(mutex);
    if (readFor != pid) {
        maker = readThisProcess();
        readFor = pid;
    }
    return maker;
}

std::string temporaryName(const TemporaryMaker& maker, TemporaryKind kind) {
    std::string name(Prefix);
    for (const std::string_view part :
         {std::string_view(maker.machine), std::string_view(maker.boot),
          std::string_view(maker.pidNamespace)}) {
        name += part;
        name += '-';
    }
    name += std::to_string(maker.pid) + '-' + std::to_string(maker.start) + '-' +
            randomLetters(RandomLetters);
    name += kind == TemporaryKind::Link ? LinkEnd : FileEnd;
    return name;
}

std::string temporaryName(TemporaryKind kind) {
    if (const std::optional<TemporaryMaker> maker = thisProcessAsMaker())
        return temporaryName(*maker, kind);
    return std::string(Prefix) + randomLetters(IdDigits) +
           std::string(kind == TemporaryKind::Link ? LinkEnd : FileEnd);
}

std::optional<TemporaryNameParts> parseTemporaryName(std::string_view name) {
    if (!name.starts_with(Prefix))
        return std::nullopt;
    name.remove_prefix(Prefix.size());
    TemporaryNameParts parts;
    if (name.ends_with(LinkEnd)) {
        parts.kind = TemporaryKind::Link;
        name.remove_suffix(LinkEnd.size());
    } else if (name.ends_with(FileEnd)) {
        name.remove_suffix(FileEnd.size());
    } else {
        return std::nullopt;
    }
    std::string_view fields[6];
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t dash = name.find('-');
        if ((dash == std::string_view::npos) != (i == 5))
            return std::nullopt;
        fields[i] = name.substr(0, dash);
        name.remove_prefix(i == 5 ? name.size() : dash + 1);
    }
    const std::optional<std::uint64_t> pid = decimal(fields[3], 10);
    const std::optional<std::uint64_t> start = decimal(fields[4]);
    if (fields[0].size() != IdDigits || !isLowerHex(fields[0]) || fields[1].size() != IdDigits ||
        !isLowerHex(fields[1]) || fields[2].size() > 16 || !isLowerHex(fields[2]) || !pid ||
        *pid == 0 || *pid > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max()) ||
        !start || fields[5].size() != RandomLetters ||
        fields[5].find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789") !=
            std::string_view::npos)
        return std::nullopt;
    parts.maker = {std::string(fields[0]), std::string(fields[1]), std::string(fields[2]), *pid,
                   *start};
    return parts;
}

int removeTemporaryName(int folder, const std::string& name) {
    for (;;) {
        if (::unlinkat(folder, name.c_str(), 0) == 0)
            return 0;
        // A call that a signal cut short may have removed the name before it returned.
        if (errno == EINTR)
            continue;
        return errno == ENOENT ? 0 : posix::lastError();
    }
}

TemporaryRemoval removeEndedTemporariesIn(int folder, const std::vector<FolderEntry>& entries) {
    TemporaryRemoval removal;
    MakerJudge judge;
    for (const FolderEntry& entry : entries)
        removeIfEnded(folder, entry.name, entry.type, judge, removal);
    return removal;
}

TemporaryRemoval removeEndedTemporariesIn(int folder) {
    TemporaryRemoval removal;
    // A descriptor of its own, so that the caller's position in the folder stays where it was.
    const int own = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = own >= 0 ? ::fdopendir(own) : nullptr;
    if (!listing) {
        removal.refused.push_back({"", posix::lastError()});
        if (own >= 0)
            ::close(own);
        return removal;
    }
    // Only our names are kept, and removed once the listing is read.
    std::vector<std::pair<std::string, std::optional<FolderEntry::Type>>> candidates;
    for (;;) {
        errno = 0;
        const struct dirent* entry = ::readdir(listing);
        if (!entry) {
            if (errno != 0)
                removal.refused.push_back({"", errno});
            break;
        }
        if (std::string_view(entry->d_name).starts_with(Prefix)) {
            const unsigned char type = entry->d_type;
            candidates.emplace_back(entry->d_name,
                                    type == DT_UNKNOWN ? std::nullopt
                                    : type == DT_REG   ? std::optional(FolderEntry::Type::File)
                                    : type == DT_LNK   ? std::optional(FolderEntry::Type::Link)
                                    : type == DT_DIR   ? std::optional(FolderEntry::Type::Folder)
                                                       : std::optional(FolderEntry::Type::Other));
        }
    }
    ::closedir(listing);
    MakerJudge judge;
    for (const auto& [name, type] : candidates)
        removeIfEnded(folder, name, type, judge, removal);
    return removal;
}

} // namespace join
