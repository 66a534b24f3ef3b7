// The viewer window record: one per run, created first and destroyed last.
//
// It holds the window and everything the parts of the program share about
// the picture: the graphics window whose off-screen surface is the picture
// buffer, the picture buffers themselves (current and previous picture,
// their headers; pipeline/picture_buffer.h), the codec's state for the run
// (worker pools, work buffers, counters, the legacy option bits and the
// screen it measures against; pipeline/codec_state.h) and the playback flags.
#pragma once

#include "base/tstring.h"
#include "pipeline/picture_buffer.h"
#include "display/tgraficheskoeokno.h"
#include "pipeline/codec_state.h"

#include <cstdint>

namespace vexel {

// The bitmap file header as held in the record (file layout: app/bitmap.h).
struct BitmapFileHeader {
    std::uint16_t type = 0;
    std::uint32_t fileSize = 0;
    std::uint16_t reserved1 = 0;
    std::uint16_t reserved2 = 0;
    std::uint32_t dataOffset = 0;
};
// The window side of the frame loop, supplied by the viewer. Without one
// (a run without a display) nothing is shown.
//
// Quit codes, as the window reports what the user did: 0 the window is to
// close (also on SIGINT or SIGTERM), 1 playing was toggled or the next
// frame asked for; -1 none.
class ViewerWindow {
public:
    virtual ~ViewerWindow() = default;
    // The window's current title.
    virtual TWideString title() = 0;
    virtual void setTitle(const TWideString& text) = 0;
    // Shows the window maximised and lays it out for the first picture.
    virtual void showMaximized() = 0;
    // Paints the current picture.
    virtual void paint() = 0;
    // Handles queued events until none is left or a quit is taken; its code.
    virtual int drainEvents() = 0;
    // Waits for and handles events until a quit is taken; its code.
    virtual int waitForQuit() = 0;
    // Waits for and handles events for at most `seconds`, returning at once
    // when a quit is taken; its code, or -1 when the time ran out.
    virtual int waitForEvents(double seconds) = 0;
    // The size of the display the window is on.
    virtual ScreenSize displaySize() = 0;
};

// A frame the user asked for other than the next one; the frame loop of a
// viewer takes it after the frame on screen (a run that writes files never
// does).
enum class FrameRequest : std::uint8_t {
    None,
    Previous, // the frame before; the last one from the first when looping
    First,
    Last,
};

struct TWnd {
    TWnd() = default;
    ~TWnd() { destroy(); }
    TWnd(const TWnd&) = delete;
    TWnd& operator=(const TWnd&) = delete;

    // Sets the playback rate to 1.0 and makes the graphics window with a
    // surface of the client area (1 x 1 without a window). False when the
    // graphics window cannot be had (the record is usable, but holds no
    // picture buffer).
    bool create();
    // Frees the codec's state, the picture buffers and the graphics window.
    void destroy();

    TGraficheskoeOkno* graphicsWindow = nullptr;
    ViewerWindow* window = nullptr; // null without a display
    PictureBuffer picture;          // its surfaces are the graphics window's
    CodecState codec;
    BitmapFileHeader fileHeader;    // as read

    bool playing = false;
    bool toggleRequested = false;
    bool frameDropped = false;
    double playbackRate = 1.0; // |frame rate|
    FrameRequest frameRequest = FrameRequest::None;
    bool looping = false; // past its last frame a video goes on at its first
};

// Results of resizePicture.
constexpr int kResizeDone = 1;
constexpr int kResizeNothing = 0;   // no complete picture or no graphics window
constexpr int kResizeNoMemory = -1; // a surface or the planes could not be had; picture unchanged
constexpr int kResizeBadSize = -2;  // the new width or height would be below 1 or too large

// Resizes the current picture proportionally to newWidth pixels: new height
// = round(newWidth x H / W), half to even. Row k of the new picture (from the
// bottom) takes source row floor(k x H / new height), column j takes source
// column floor(j x W / newWidth), so enlarging repeats rows and columns and
// shrinking drops them, the same way in the surface and in the planes. A
// picture that still fits the screen stays in the surface (displayMemory is
// the surface's memory hint); otherwise it goes to the planes. The new size
// is stored in the information header.
int resizePicture(TWnd& record, std::int32_t newWidth, bool displayMemory);

} // namespace vexel
