// SDL for the whole program: the video subsystem is started once, for the
// first window, with SDL's own signal handlers off (platform/system.h
// handles SIGINT and SIGTERM), and every window takes its events from the
// one event queue here. A window that runs a loop of its own (a message box
// while the viewer is open) takes only new events, puts aside those meant
// for other windows (and quit requests) and hands them back when it is
// done; the viewer's loop takes the handed-back events first, in order.
#pragma once

#include "display/loader_sdl.h"

namespace vexel::sdl {

// True when a display can be used: DISPLAY or WAYLAND_DISPLAY is set, the
// SDL libraries load and SDL's video starts on a driver that shows windows. Tried once; later calls give the same answer.
bool videoAvailable();
// Stops SDL (the end of the program).
void stopVideo();

// The next event: handed-back ones first (unless newOnly), then the queue,
// waiting at most timeoutMs (0: not at all). False when none came.
bool nextEvent(SDL_Event& event, int timeoutMs, bool newOnly = false);
// Hands an event back for its own window.
void keepEvent(const SDL_Event& event);

// The window an event is meant for (0: none, such as a quit request).
Uint32 windowOf(const SDL_Event& event);

} // namespace vexel::sdl
