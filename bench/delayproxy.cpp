// A TCP proxy whose every chunk of bytes arrives a fixed time after it was read, in each
// direction: a network link's round trip on one machine, where the kernel offers no netem.
//
//     bench_delay_proxy UPSTREAM_PORT ROUND_TRIP_MS
//
// Listens on 127.0.0.1 on a port the kernel chooses, prints that port on a line of its own, and
// forwards each connection to 127.0.0.1:UPSTREAM_PORT, holding what it reads from either side for
// half the round trip before writing it on. Bytes keep their order; a side's end of data is passed
// on as a half-close, after the bytes before it. One thread serves every connection (epoll and one
// timer). It runs until it is killed, and ends with the process that started it.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <set>
#include <string>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Beyond this much held in one direction the proxy stops reading that side until it drains, so
// that a fast sender is slowed as a full link would slow it rather than filling memory.
constexpr std::size_t maxHeldBytes = 16 << 20;
constexpr std::size_t readSize = 256 << 10;

// Bytes read at one moment, to be written on at `due`; an empty chunk marks the end of data.
struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;
    std::size_t written = 0;
};

// One direction of a connection: what was read from `from` and is still to be written to `to`.
struct Direction {
    int from = -1;
    int to = -1;
    std::deque<Chunk> held;
    std::size_t heldBytes = 0;
    bool endRead = false;    // `from` has no more data
    bool endWritten = false; // `to` was half-closed after the last byte
    bool blocked = false;    // `to` took only part of a due chunk: wait until it is writable
};

struct Connection {
    Direction up;   // client to server
    Direction down; // server to client
    bool closed = false;
};

// What an epoll event names: a connection's client or server side.
struct Side {
    Connection* connection;
    bool client;
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "bench_delay_proxy: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

class Proxy {
public:
    Proxy(int upstreamPort, Clock::duration oneWay)
        : m_upstreamPort(upstreamPort), m_oneWay(oneWay) {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        m_timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (m_epoll < 0 || m_timer < 0 || m_listener < 0)
            fail("setting up");
        sockaddr_in address = loopback(0);
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 64) != 0)
            fail("listening");
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = &m_listener;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listener, &event);
        event.data.ptr = &m_timer;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_timer, &event);
    }

    int port() const {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }

    [[noreturn]] void run() {
        std::vector<epoll_event> events(64);
        for (;;) {
            const int count =
                ::epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), -1);
            if (count < 0 && errno != EINTR)
                fail("waiting");
            for (int i = 0; i < count; ++i) {
                if (events[i].data.ptr == &m_listener)
                    accept();
                else if (events[i].data.ptr == &m_timer)
                    drainTimer();
                else
                    serve(*static_cast<Side*>(events[i].data.ptr), events[i].events);
            }
            deliverDue();
            removeClosed();
            for (auto& connection : m_connections)
                updateInterest(*connection);
            armTimer();
        }
    }

private:
    static sockaddr_in loopback(int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    void accept() {
        for (;;) {
            const int client =
                ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client < 0)
                return;
            // Loopback connects at once; the server's side is made non-blocking afterwards.
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address = loopback(m_upstreamPort);
            if (server < 0 ||
                ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                std::fprintf(stderr, "bench_delay_proxy: cannot reach port %d: %s\n",
                             m_upstreamPort, std::strerror(errno));
                ::close(client);
                if (server >= 0)
                    ::close(server);
                continue;
            }
            ::fcntl(server, F_SETFL, ::fcntl(server, F_GETFL) | O_NONBLOCK);
            // The delay stands for the link; the proxy adds no waiting of its own.
            const int on = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            auto connection = std::make_unique<Connection>();
            connection->up.from = connection->down.to = client;
            connection->up.to = connection->down.from = server;
            auto clientSide = std::make_unique<Side>(Side{connection.get(), true});
            auto serverSide = std::make_unique<Side>(Side{connection.get(), false});
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.ptr = clientSide.get();
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, client, &event);
            event.data.ptr = serverSide.get();
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, server, &event);
            m_sides.push_back(std::move(clientSide));
            m_sides.push_back(std::move(serverSide));
            m_connections.push_back(std::move(connection));
        }
    }

    // The side's socket is readable (its direction out holds more) or writable (its direction in
    // may go on).
    void serve(const Side& side, std::uint32_t events) {
        Connection& connection = *side.connection;
        Direction& out = side.client ? connection.up : connection.down;
        Direction& in = side.client ? connection.down : connection.up;
        if (events & EPOLLOUT)
            in.blocked = false;
        if (events & (EPOLLIN | EPOLLHUP | EPOLLERR))
            readFrom(out);
        // A hang-up or an error after the side's own data ended means that it takes nothing
        // more either (it was reset): what is held for it is dropped, or epoll would report it
        // again and again until that was due.
        if ((events & (EPOLLHUP | EPOLLERR)) && out.endRead)
            giveUp(in);
    }

    // A side that fails to be read has ended: what was read from it before still goes on.
    void readFrom(Direction& direction) {
        while (!direction.endRead && direction.heldBytes < maxHeldBytes) {
            const ssize_t got = ::read(direction.from, m_buffer.data(), m_buffer.size());
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                break;
            const auto end = m_buffer.begin() + std::max<ssize_t>(got, 0);
            direction.held.push_back({Clock::now() + m_oneWay, {m_buffer.begin(), end}});
            direction.heldBytes += direction.held.back().bytes.size();
            direction.endRead = got <= 0;
        }
    }

    static void giveUp(Direction& direction) {
        direction.held.clear();
        direction.heldBytes = 0;
        direction.blocked = false;
        direction.endRead = true;
        direction.endWritten = true;
    }

    // Writes every chunk whose time has come, in order, as far as each receiver takes them.
    void deliverDue() {
        const auto now = Clock::now();
        for (auto& connection : m_connections) {
            for (Direction* direction : {&connection->up, &connection->down}) {
                while (!direction->blocked && !direction->held.empty() &&
                       direction->held.front().due <= now) {
                    Chunk& chunk = direction->held.front();
                    if (chunk.bytes.empty()) {
                        ::shutdown(direction->to, SHUT_WR);
                        direction->endWritten = true;
                    } else {
                        const ssize_t sent =
                            ::send(direction->to, chunk.bytes.data() + chunk.written,
                                   chunk.bytes.size() - chunk.written, MSG_NOSIGNAL);
                        if (sent < 0 && errno == EAGAIN) {
                            direction->blocked = true;
                            break;
                        }
                        if (sent < 0) {
                            giveUp(*direction);
                            break;
                        }
                        chunk.written += static_cast<std::size_t>(sent);
                        if (chunk.written < chunk.bytes.size())
                            continue;
                        direction->heldBytes -= chunk.bytes.size();
                    }
                    direction->held.pop_front();
                }
            }
            if (connection->up.endWritten && connection->down.endWritten)
                connection->closed = true;
        }
    }

    // A side is watched for reading while its direction out may hold more (reading that stopped
    // at the limit goes on once the held bytes drained), and for writing while its direction in
    // waits for room. A side that is done both ways leaves epoll, which would otherwise report
    // its hang-up again and again while the other side's bytes are still held.
    void updateInterest(Connection& connection) {
        for (bool client : {true, false}) {
            const Direction& out = client ? connection.up : connection.down;
            const Direction& in = client ? connection.down : connection.up;
            if (out.endRead && in.endWritten) {
                ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, out.from, nullptr);
                continue;
            }
            epoll_event event{};
            event.events = (!out.endRead && out.heldBytes < maxHeldBytes ? EPOLLIN : 0u) |
                           (in.blocked ? EPOLLOUT : 0u);
            event.data.ptr = sideOf(connection, client);
            ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, out.from, &event);
        }
    }

    Side* sideOf(const Connection& connection, bool client) const {
        for (const auto& side : m_sides)
            if (side->connection == &connection && side->client == client)
                return side.get();
        return nullptr;
    }

    void removeClosed() {
        std::set<const Connection*> gone;
        for (const auto& connection : m_connections) {
            if (!connection->closed)
                continue;
            ::close(connection->up.from);
            ::close(connection->up.to);
            gone.insert(connection.get());
        }
        if (gone.empty())
            return;
        std::erase_if(m_sides, [&](const auto& side) { return gone.contains(side->connection); });
        std::erase_if(m_connections,
                      [&](const auto& connection) { return gone.contains(connection.get()); });
    }

    // The timer fires when the earliest held chunk that can be written is due.
    void armTimer() {
        Clock::time_point next = Clock::time_point::max();
        for (const auto& connection : m_connections) {
            for (const Direction* direction : {&connection->up, &connection->down})
                if (!direction->blocked && !direction->held.empty())
                    next = std::min(next, direction->held.front().due);
        }
        itimerspec when{};
        if (next != Clock::time_point::max()) {
            // steady_clock is CLOCK_MONOTONIC here; 1 ns stands for "now" (0 would disarm).
            const auto nanoseconds = std::max<std::int64_t>(
                1, std::chrono::duration_cast<std::chrono::nanoseconds>(next.time_since_epoch())
                       .count());
            when.it_value.tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
            when.it_value.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
        }
        ::timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &when, nullptr);
    }

    void drainTimer() {
        std::uint64_t expirations = 0;
        while (::read(m_timer, &expirations, sizeof expirations) > 0) {
        }
    }

    int m_upstreamPort;
    Clock::duration m_oneWay;
    int m_epoll = -1;
    int m_timer = -1;
    int m_listener = -1;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<std::unique_ptr<Side>> m_sides;
    std::vector<char> m_buffer = std::vector<char>(readSize);
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_delay_proxy UPSTREAM_PORT ROUND_TRIP_MS\n");
        return 2;
    }
    // A benchmark stopped hard must not leave its link behind.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() == 1)
        return 1;
    const int upstreamPort = std::atoi(argv[1]);
    const double roundTripMs = std::atof(argv[2]);
    const auto oneWay = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(roundTripMs / 2));
    Proxy proxy(upstreamPort, oneWay);
    std::printf("%d\n", proxy.port());
    std::fflush(stdout);
    proxy.run();
}
