#pragma once

#include <chrono>

// The displays the environment names, asked before Qt starts: Qt itself prints a page of its own
// lines about platform plugins when a display does not answer, and waits without end for a
// Wayland compositor that accepts and never replies.
namespace app {

enum class DisplayAnswer {
    Answers,
    AnswersWithoutSeat, // a Wayland compositor without input devices, such as a headless one
    Silent,
};

// The X display NAME (as DISPLAY gives it).
DisplayAnswer askXDisplay(const char* name);

// The Wayland display Qt would connect to (WAYLAND_DISPLAY, in XDG_RUNTIME_DIR unless a path),
// silent when it has not replied within PATIENCE.
DisplayAnswer askWaylandDisplay(std::chrono::milliseconds patience);

} // namespace app
