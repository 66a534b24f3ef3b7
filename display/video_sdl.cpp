#include "display/video_sdl.h"

#include <cstdlib>
#include <cstring>
#include <deque>

namespace vexel::sdl {

namespace {

enum class Video { Untried, Started, Unavailable };
Video video = Video::Untried;
std::deque<SDL_Event> kept;

bool displayNamed() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

// SDL falls back on drivers that show nothing when the named display cannot
// be reached (an X server that refused the connection): their windows take
// no clicks and no keys, so a viewer or a message box on one would wait for
// ever. Only a user who names such a driver gets it.
bool showsNothing(const char* driver) {
    const char* chosen = std::getenv("SDL_VIDEODRIVER");
    if (!driver || (chosen && *chosen)) return !driver;
    for (const char* blind : {"offscreen", "dummy", "evdev"})
        if (std::strcmp(driver, blind) == 0) return true;
    return false;
}

} // namespace

bool videoAvailable() {
    if (video == Video::Untried) {
        video = Video::Unavailable;
        if (displayNamed() && loadLibraries()) {
            SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
            // A viewer that keeps the screen awake is a video player's choice, not a picture viewer's.
            SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
            if (SDL_Init(SDL_INIT_VIDEO) == 0) {
                if (showsNothing(SDL_GetCurrentVideoDriver())) SDL_Quit();
                else video = Video::Started;
            }
        }
    }
    return video == Video::Started;
}

void stopVideo() {
    if (video == Video::Started) SDL_Quit();
    video = Video::Untried;
    kept.clear();
}

bool nextEvent(SDL_Event& event, int timeoutMs, bool newOnly) {
    if (!newOnly && !kept.empty()) {
        event = kept.front();
        kept.pop_front();
        return true;
    }
    if (video != Video::Started) return false;
    if (timeoutMs <= 0) return SDL_PollEvent(&event) == 1;
    return SDL_WaitEventTimeout(&event, timeoutMs) == 1;
}

void keepEvent(const SDL_Event& event) { kept.push_back(event); }

Uint32 windowOf(const SDL_Event& event) {
    switch (event.type) {
    case SDL_WINDOWEVENT: return event.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return event.key.windowID;
    case SDL_TEXTINPUT: return event.text.windowID;
    case SDL_MOUSEMOTION: return event.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return event.button.windowID;
    case SDL_MOUSEWHEEL: return event.wheel.windowID;
    default: return 0;
    }
}

} // namespace vexel::sdl
