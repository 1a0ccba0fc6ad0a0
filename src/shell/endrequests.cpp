#include "endrequests.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <xcb/xcb.h>

namespace shell {

namespace {

constexpr int EndSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Read by the handler, so lock-free: whether the window takes the next signal, and the pipe
// that hands it over.
std::atomic<bool> g_catching{false};
static_assert(std::atomic<bool>::is_always_lock_free);
int g_pipe[2] = {-1, -1};

// Only async-signal-safe calls: an atomic exchange, write, sigaction, raise.
void onEndSignal(int signal) {
    if (g_catching.exchange(false)) {
        const int saved = errno;
        const auto number = static_cast<unsigned char>(signal);
        [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &number, 1);
        errno = saved;
        return;
    }
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(signal, &standard, nullptr);
    // Delivered once the handler returns, which unblocks it.
    ::raise(signal);
}

// Once per process. Without a pipe no handler is set: every signal then ends the process at once.
void installHandlers() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        for (const int signal : EndSignals) {
            struct sigaction previous {};
            if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
                continue;
            struct sigaction action {};
            action.sa_handler = &onEndSignal;
            action.sa_flags = SA_RESTART;
            sigemptyset(&action.sa_mask);
            ::sigaction(signal, &action, nullptr);
        }
    });
}

} // namespace

EndRequests::EndRequests(QWidget* window) : QObject(window), m_window(window) {
    installHandlers();
    if (g_pipe[0] >= 0) {
        m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &EndRequests::readSignals);
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
}

EndRequests::~EndRequests() {
    g_catching = false;
}

void EndRequests::setCatchingSignals(bool catching) {
    g_catching = catching;
}

void EndRequests::readSignals() {
    unsigned char numbers[16];
    ssize_t count = 0;
    while ((count = ::read(g_pipe[0], numbers, sizeof numbers)) > 0)
        for (ssize_t i = 0; i < count; ++i)
            emit signalled(numbers[i]);
}

// Another client may destroy the window without asking it to close (xdotool windowclose does):
// the window is gone though nothing told it so, and the process would live on unseen.
bool EndRequests::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_DESTROY_NOTIFY)
        return false;
    const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
    // Qt's own window of that moment; one Qt replaced is no longer it.
    if (m_window->internalWinId() != 0 && destroyed->window == m_window->internalWinId())
        // Handled once the event is, not in the middle of the platform's event handling.
        QMetaObject::invokeMethod(this, &EndRequests::windowDestroyed, Qt::QueuedConnection);
    return false;
}

} // namespace shell
