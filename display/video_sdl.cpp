#include "display/video_sdl.h"

#include <cstdlib>
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

} // namespace

bool videoAvailable() {
    if (video == Video::Untried) {
        video = Video::Unavailable;
        if (displayNamed() && loadLibraries()) {
            SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
            // A viewer that keeps the screen awake is a video player's choice, not a picture viewer's.
            SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
            if (SDL_Init(SDL_INIT_VIDEO) == 0) video = Video::Started;
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
