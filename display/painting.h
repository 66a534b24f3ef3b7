// What the viewer draws, without a window: the presentation rule, painting
// the picture planes into the off-screen surface, fitting the window to the
// picture, and what each of the viewer's events does to the record.
//
// Presenting: the picture is scaled into the client area with its aspect
// kept, centred, with black bars. With a = height / width of the picture
// and c = client height / client width: c >= a gives the client's width and
// a height of trunc(client width x a), else the client's height and a width
// of trunc(client height / a); the offsets are the rest halved, truncated.
// All of it in floating point; a client area or picture of no size shows
// nothing.
//
// Painting from the planes (pictures larger than the screen, resized
// frames): with W x H the picture and w x h the surface's picture area,
// s = max(W / w, H / h), x0 = (w - floor(W / s)) >> 1, y0 likewise; surface
// row r from the top (k = h - 1 - r) takes picture row floor((k - y0) s)
// from the bottom, column c takes floor((c - x0) s); outside the picture a
// pixel is black. The offsets apply at every scale, s = 1 included, so a
// picture narrower or lower than the area is centred.
#pragma once

#include "display/twnd.h"

#include <cstdint>

namespace vexel {

struct ViewRect {
    std::int32_t x = 0, y = 0, width = 0, height = 0;
};

// The picture's place in the client area; false (nothing to show) when
// either has no area.
bool presentTarget(std::int64_t pictureWidth, std::int64_t pictureHeight, std::int64_t clientWidth,
                   std::int64_t clientHeight, ViewRect& target);

// Samples the record's picture planes into its off-screen surface (the
// surface's own picture area, through the graphics window's to-display
// conversion). False when there is nothing to paint (no complete picture, no
// planes, no surface, or the lock fails).
bool paintPlanes(TWnd& record);

// The bars around a picture shown in a client area, by the rule of fitting
// the window to the picture: s = max(W / cw, H / ch), content w = round(W / s)
// and h = round(H / s) (half to even), left = trunc((cw - w) / 2), right the
// rest, top and bottom likewise. False - do nothing - unless a picture and a
// client area of at least 1 x 1 exist.
struct Margins {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};
bool fitMargins(std::int64_t pictureWidth, std::int64_t pictureHeight, std::int64_t clientWidth,
                std::int64_t clientHeight, Margins& margins);

// The viewer's events, as the window system delivers them.
enum class ViewerEvent {
    Moved,         // the window moved
    Sized,         // the client area changed size
    Exposed,       // part of the window must be drawn again
    SpaceReleased, // toggles playing
    LeftReleased,  // toggles playing
    RightReleased, // fits the window to the picture
    Close,         // the close button, "q", Escape, an interrupt
    NextFrame,     // the right arrow or ".": the next frame, playback paused
    PreviousFrame, // the left arrow or ",": the frame before, playback paused
    FirstFrame,    // Home: the first frame, playback paused
    LastFrame,     // End: the last frame, playback paused
    Loop,          // "l": looping on or off
    FullScreen,    // "f": full screen on or off
};

// What the window does for one event besides what respond() sets in the record.
struct ViewerResponse {
    int quitCode = -1;          // 0: close; 1: playing toggled (or another frame asked for); -1: none
    bool updatePosition = false;
    bool resizeSurface = false; // the surface follows the client area: size it again
    bool repaint = false;
    bool fitToPicture = false;
    bool toggleFullScreen = false;
};

// Applies one event to the record (playing, toggle requested, the frame
// asked for, looping) and says what the window is to do.
ViewerResponse respond(TWnd& record, ViewerEvent event);

} // namespace vexel
