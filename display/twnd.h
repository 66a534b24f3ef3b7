// The viewer window record: one per run, created first and destroyed last.
//
// It holds the current picture and everything the parts of the program share
// about it: the graphics window whose off-screen surface is the picture
// buffer, the picture planes, the previous picture, the bitmap headers of the
// current picture, the playback flags and the legacy option bits.
//
// The current picture lives in exactly one of two places:
//
//   * the graphics window's off-screen surface (planes empty), 32-bit pixels
//     with a 16-pixel border (display/tgraficheskoeokno.h), or
//   * the picture planes: three byte planes red, green, blue, each
//     (width + 32) x (height + 32) bytes with a 16-pixel border on every
//     side, rows bottom-up: pixel (x, y), y counted from the bottom row, of
//     plane p is byte p x planeSize + (y + 16) x (width + 32) + (x + 16).
//     Used for pictures larger than the screen, when several threads share
//     a picture, and for resized pictures.
//
// The previous picture (the reference for kept blocks) is the frame buffer
// (planes) or the surface reference (a surface), never both.
#pragma once

#include "base/memdiag.h"
#include "base/tstring.h"
#include "display/screen.h"
#include "display/tgraficheskoeokno.h"

#include <cstdint>
#include <memory>

namespace vexel {

// A pool of worker threads kept in the record from frame to frame (the
// pipelines make them). Destroying a pool stops and joins its threads.
class WorkerPool {
public:
    virtual ~WorkerPool() = default;
};

// The bitmap file header as held in the record (file layout: app/bitmap.h).
struct BitmapFileHeader {
    std::uint16_t type = 0;
    std::uint32_t fileSize = 0;
    std::uint16_t reserved1 = 0;
    std::uint16_t reserved2 = 0;
    std::uint32_t dataOffset = 0;
};

// The 40-byte bitmap information header as held in the record.
struct BitmapInfoHeader {
    std::uint32_t size = 0;
    std::int32_t width = 0;
    std::int32_t height = 0; // rows; always positive once a picture is held
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0; // horizontal resolution, kept from the file
    std::int32_t yPelsPerMeter = 0; // vertical resolution, kept from the file
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;
};

// Three padded byte planes (red, green, blue) of one picture; see above.
class TPicturePlanes {
public:
    static constexpr std::int32_t kBorder = 16;
    static constexpr int kRed = 0, kGreen = 1, kBlue = 2;

    // Zero-filled planes for a width x height picture; false (and empty)
    // when a side is below 1, the size overflows or memory is refused.
    bool allocate(std::int32_t width, std::int32_t height);
    void reset();
    bool empty() const { return bytes_.empty(); }

    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    // Bytes from one row of a plane to the next.
    std::int64_t stride() const { return static_cast<std::int64_t>(width_) + 2 * kBorder; }
    std::uint64_t planeSize() const { return planeSize_; }

    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    // Byte offset of pixel (x, y) (y from the bottom) inside a plane.
    std::int64_t offset(std::int32_t x, std::int32_t y) const {
        return (static_cast<std::int64_t>(y) + kBorder) * stride() + x + kBorder;
    }
    // Pixel (0, y) of plane p, y counted from the bottom row.
    std::uint8_t* row(int p, std::int32_t y) { return data() + p * planeSize_ + offset(0, y); }
    const std::uint8_t* row(int p, std::int32_t y) const { return data() + p * planeSize_ + offset(0, y); }

    void swap(TPicturePlanes& other);

private:
    TrackedBuffer<std::uint8_t> bytes_;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::uint64_t planeSize_ = 0;
};

// The window side of the frame loop, supplied by the viewer. Without one
// (a run without a display) nothing is shown.
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
    // Handles queued events until none is left or a quit is taken; the quit
    // code (0 close, 1 playing toggled), or -1 when no quit was taken.
    virtual int drainEvents() = 0;
    // Waits for and handles events until a quit is taken; its code.
    virtual int waitForQuit() = 0;
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
    // Frees the planes and buffers, the previous picture and the graphics window.
    void destroy();

    // The current picture's size (the information header's).
    std::int32_t pictureWidth() const { return infoHeader.width; }
    std::int32_t pictureHeight() const { return infoHeader.height; }
    // True when the current picture is held in the planes, not the surface.
    bool pictureInPlanes() const { return !planes.empty(); }

    // The previous picture's size; false when there is none.
    bool previousPictureSize(std::int32_t& width, std::int32_t& height) const;
    // Forgets the previous picture.
    void dropPreviousPicture();

    TGraficheskoeOkno* graphicsWindow = nullptr;
    ViewerWindow* window = nullptr;        // null without a display
    TSurface* surfaceReference = nullptr;  // previous picture (surface form)
    TPicturePlanes planes;                 // current picture (planes form)
    TPicturePlanes frameBuffer;            // previous picture (planes form)
    TrackedBuffer<std::uint8_t> copyBuffer;

    BitmapFileHeader fileHeader;           // as read
    BitmapInfoHeader infoHeader;           // the current picture
    BitmapInfoHeader currentHeader;        // of the picture loaded last (frame size, resolution)

    // The screen pictures are measured against; the viewer may replace the
    // reference with the real display for viewing.
    ScreenSize screen = referenceScreenSize();

    bool planesWanted = false;         // keep pictures in planes even when they fit the screen
    bool surfaceFollowsPicture = false; // the surface has the picture's size
    bool paintable = false;            // a complete picture is held
    bool playing = false;
    bool toggleRequested = false;
    bool frameDropped = false;
    double playbackRate = 1.0;         // |frame rate|
    std::uint8_t legacyFlags = 0;      // bits 0..3 of the "-4" and "-x" options
    std::uint32_t keyframeCounter = 0; // runs on from frame to frame (compression)

    std::unique_ptr<WorkerPool> compressionPool;
    std::unique_ptr<WorkerPool> decompressionPool;

    // A repack conversion's decoded frame: the 9-byte records of all blocks,
    // then three padded planes Y, Cb and Cr ((width + 32) x (height + 32)
    // each, bottom row first), each stream's band at its own position.
    struct RepackFrame {
        TrackedBuffer<std::uint8_t> bytes;
        std::uint32_t width = 0, height = 0, blockSize = 0, chromaStep = 0;
        std::uint8_t mode = 0;
        std::uint64_t blocks() const {
            return blockSize ? static_cast<std::uint64_t>((width + blockSize - 1) / blockSize) *
                                   ((height + blockSize - 1) / blockSize)
                             : 0;
        }
        std::uint64_t planeSize() const { return static_cast<std::uint64_t>(width + 32) * (height + 32); }
        std::uint8_t* records() { return bytes.data(); }
        std::uint8_t* plane(int p) { return bytes.data() + 9 * blocks() + p * planeSize(); }
    } repack;
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
