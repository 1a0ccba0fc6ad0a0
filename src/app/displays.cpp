#include "displays.h"

#include <cstdarg>
#include <cstring>
#include <poll.h>
#include <wayland-client.h>
#include <xcb/xcb.h>

namespace app {

DisplayAnswer askXDisplay(const char* name) {
    xcb_connection_t* connection = xcb_connect(name, nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers ? DisplayAnswer::Answers : DisplayAnswer::Silent;
}

namespace {

struct RegistryReply {
    bool seat = false;
    bool done = false;
};

void onGlobal(void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
    if (std::strcmp(interface, "wl_seat") == 0)
        static_cast<RegistryReply*>(data)->seat = true;
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}

// The client library's own complaints (no XDG_RUNTIME_DIR, a socket it cannot reach): the
// program says what matters in one line of its own.
void quiet(const char*, va_list) {}

void onDone(void* data, wl_callback*, uint32_t) {
    static_cast<RegistryReply*>(data)->done = true;
}

const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};
const wl_callback_listener doneListener = {onDone};

// The registry's globals, then the reply to a sync sent after asking for them: all the
// compositor offers has arrived once the sync is done.
bool readRegistry(wl_display* display, RegistryReply& reply,
                  std::chrono::steady_clock::time_point deadline) {
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &reply);
    wl_callback* sync = wl_display_sync(display);
    wl_callback_add_listener(sync, &doneListener, &reply);
    bool read = true;
    while (!reply.done && read) {
        while (wl_display_prepare_read(display) != 0)
            if (wl_display_dispatch_pending(display) < 0)
                return false;
        if (reply.done) {
            wl_display_cancel_read(display);
            break;
        }
        wl_display_flush(display);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd socket{wl_display_get_fd(display), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&socket, 1, static_cast<int>(left.count())) <= 0) {
            wl_display_cancel_read(display);
            read = false;
        } else {
            read =
                wl_display_read_events(display) == 0 && wl_display_dispatch_pending(display) >= 0;
        }
    }
    wl_callback_destroy(sync);
    wl_registry_destroy(registry);
    return reply.done;
}

} // namespace

DisplayAnswer askWaylandDisplay(std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    wl_log_set_handler_client(quiet);
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return DisplayAnswer::Silent;
    RegistryReply reply;
    const bool answered = readRegistry(display, reply, deadline);
    wl_display_disconnect(display);
    if (!answered)
        return DisplayAnswer::Silent;
    return reply.seat ? DisplayAnswer::Answers : DisplayAnswer::AnswersWithoutSeat;
}

} // namespace app
