// The picture buffers the pipelines decode into and encode from.
//
// The current picture lives in exactly one of two places:
//
//   * the off-screen surface (a 32-bit pixel buffer, below), or
//   * the picture planes: three byte planes red, green, blue, each
//     (width + 32) x (height + 32) bytes with a 16-pixel border on every
//     side, rows bottom-up: pixel (x, y), y counted from the bottom row, of
//     plane p is byte p x planeSize + (y + 16) x (width + 32) + (x + 16).
//     Used for pictures larger than the screen, when several threads share
//     a picture, and for resized pictures.
//
// The previous picture (the reference for kept blocks) is the frame buffer
// (planes) or the surface reference (a surface), never both.
//
// Surface contract (what every reader and writer relies on):
//
//   * 32 bits per pixel, one little-endian word per pixel. A channel's byte
//     within the pixel is its shift / 8; the shifts are red 16, green 8,
//     blue 0, so memory holds blue, green, red, fourth byte (0), the word
//     reads 0x00RRGGBB.
//   * The buffer is (width + 2 x border) x (height + 2 x border) pixels; the
//     border is 16 for every surface the program makes. A new surface is 0
//     everywhere, so the border reads as black.
//   * Picture pixel (x, y), y counted from the top, is the word at
//       bits + (y + border) x pitch + (x + border) x 4.
//     The pitch is what the lock returns. It is at least the row width and
//     deliberately larger (rows start 64-byte aligned), so code that uses
//     the width instead of the pitch fails its tests.
//   * Picture row y counted from the bottom is buffer row height + border - 1 - y.
//   * The lock waits while another thread holds the surface; pixel access
//     itself is serialised by each surface's own lock and unlock.
//
// The off-screen surface belongs to an OffScreenBuffer: the viewer's
// graphics window in the program, a plain OffScreenBuffer in tests and
// tools. Its surface lock guards creating, replacing and filling surfaces.
#pragma once

#include "base/memdiag.h"
#include "codec/frame_decoder.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace vexel {

// A locked view of a whole surface, border included.
struct SurfaceAccess {
    std::uint8_t* bits = nullptr;
    std::int64_t pitch = 0;   // bytes between rows
    std::int32_t width = 0;   // pixels per row, border included
    std::int32_t height = 0;  // rows, border included
};

// A reference-counted 32-bit pixel buffer with a waiting lock.
class TSurface {
public:
    // A zero-filled surface of width x height pixels (border included), or
    // null when a side is below 1, the size overflows or memory is refused.
    static TSurface* create(std::int32_t width, std::int32_t height);

    void addReference();
    // Drops one reference; the last one frees the surface.
    void release();

    // Waits until no other thread holds the surface, then describes its
    // pixels. False when this thread holds it already (a second lock by the
    // same thread would wait forever).
    bool lock(SurfaceAccess& access);
    // False when this thread does not hold the lock (a programming error).
    bool unlock();

    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    std::int64_t pitch() const { return pitch_; }
    std::uint32_t references() const;

private:
    TSurface() = default;
    ~TSurface();

    std::uint8_t* pixels_ = nullptr;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::int64_t pitch_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool locked_ = false;
    std::thread::id owner_;
    std::uint32_t references_ = 1;
};

// Copies every pixel of one surface into another of the same size. False
// when the sizes differ or a lock fails.
bool copySurface(TSurface& to, TSurface& from);

// The picture area of the locked off-screen surface.
struct PictureAccess {
    TSurface* surface = nullptr; // holds a reference while locked
    SurfaceAccess buffer;
    std::int32_t width = 0;      // picture size without border
    std::int32_t height = 0;
    std::int32_t border = 0;

    // Column 0 of picture row y, counted from the top row.
    std::uint32_t* rowFromTop(std::int32_t y) const {
        return reinterpret_cast<std::uint32_t*>(buffer.bits + static_cast<std::int64_t>(y + border) * buffer.pitch) +
               border;
    }
    // Column 0 of picture row y, counted from the bottom row.
    std::uint32_t* rowFromBottom(std::int32_t y) const { return rowFromTop(height - 1 - y); }
};

// A rectangle whose right and bottom are the picture's width and height.
struct PictureRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// The owner of the off-screen surface (the picture buffer). A surface made
// without a rectangle follows the client area, which its window reports
// (0 x 0, taken as 1 x 1, without one).
class OffScreenBuffer {
public:
    // Memory request value that keeps the current choice.
    static constexpr int kKeepMemoryChoice = 0x80;

    OffScreenBuffer() = default;
    virtual ~OffScreenBuffer();
    OffScreenBuffer(const OffScreenBuffer&) = delete;
    OffScreenBuffer& operator=(const OffScreenBuffer&) = delete;

    // Gives the off-screen surface the picture size of rect (right x bottom)
    // or, with none, of the client area; each side at least 1. A memory
    // request with bit 7 set keeps the current choice, any other non-zero
    // value asks for display memory (only a hint for a memory buffer). A
    // negative border keeps the current one. An existing surface of the same
    // size, memory choice and border is kept unless force is set; otherwise
    // the old one is released and a new black one made. False when no
    // surface could be made (then there is no off-screen surface at all) or
    // the display is not open.
    bool SetPictureSize(const PictureRect* rect, int memoryRequest, int border, bool force);

    // The off-screen surface (no reference added), or null.
    TSurface* offScreenSurface();
    // The off-screen surface with a reference added for the caller, or null.
    TSurface* referenceOffScreen();
    // Makes surface (one reference handed over) the off-screen surface for a
    // width x height picture with the given border, releasing the old one.
    // The surface must measure (width + 2 x border) x (height + 2 x border).
    void installSurface(TSurface* surface, std::int32_t width, std::int32_t height, std::int32_t border,
                        bool inDisplayMemory);

    // The picture size without border.
    void PictureSize(std::int32_t& height, std::int32_t& width) const;
    // Writes value into every pixel of the off-screen surface, border
    // included. False without a surface or when the lock fails.
    bool Fill(std::uint32_t value);

    // Locks the off-screen surface and describes its picture area; false
    // without a surface or when the lock fails. Unlock with unlockPicture.
    bool lockPicture(PictureAccess& access);
    void unlockPicture(PictureAccess& access);

    // The client area a surface made without a rectangle follows.
    void setClientArea(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height);

    std::int32_t border() const { return border_; }
    bool surfaceInDisplayMemory() const { return surfaceInDisplayMemory_; }
    int redShift() const { return redShift_; }
    int greenShift() const { return greenShift_; }
    int blueShift() const { return blueShift_; }

    std::recursive_mutex& surfaceLock() { return surfaceLock_; }
    std::recursive_mutex& positionLock() { return positionLock_; }

protected:
    // After every change of the surface's size (the window's screen position
    // of the picture area; nothing for a plain buffer).
    virtual void UpdateScreenPosition() {}

    bool displayOpen_ = true;
    std::int32_t clientLeft_ = 0;
    std::int32_t clientTop_ = 0;
    std::int32_t clientWidth_ = 0;
    std::int32_t clientHeight_ = 0;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    // A memory buffer has the standard channel order.
    int redShift_ = 16;
    int greenShift_ = 8;
    int blueShift_ = 0;
    mutable std::recursive_mutex surfaceLock_;
    mutable std::recursive_mutex positionLock_;

private:
    bool surfaceInDisplayMemory_ = false;
    std::int32_t border_ = 0;
    TSurface* offScreen_ = nullptr;
};

// Three padded byte planes (red, green, blue) of one picture; see above.
class TPicturePlanes {
public:
    static constexpr std::int32_t kBorder = 16;
    // The largest picture side: the padded side must still be a 32-bit count.
    static constexpr std::int64_t kMaxSide = 0x7FFFFFFF - 2 * kBorder;
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

// The 40-byte bitmap information header of a picture (file layout:
// app/bitmap.h): its size and resolution travel with the picture.
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

// The current and the previous picture, as the codec, the bitmap files and
// the viewer share them.
struct PictureBuffer {
    PictureBuffer() = default;
    explicit PictureBuffer(OffScreenBuffer* owner) : surfaces(owner) {}
    ~PictureBuffer() { release(); }
    PictureBuffer(const PictureBuffer&) = delete;
    PictureBuffer& operator=(const PictureBuffer&) = delete;

    // The current picture's size (the information header's).
    std::int32_t pictureWidth() const { return infoHeader.width; }
    std::int32_t pictureHeight() const { return infoHeader.height; }
    // True when the current picture is held in the planes, not the surface.
    bool pictureInPlanes() const { return !planes.empty(); }

    // Where the next picture, width x height, is held: in the planes when
    // inPlanes is set (planes of its size are kept, so that kept blocks keep
    // the previous picture), with a surface of the picture's size when it
    // fits the screen and else one that follows the client area; otherwise
    // in the surface alone, made to measure by surfaceToMeasure.
    // The surface may ask for display memory when displayMemory is set and
    // the picture fits. False when the planes or the surface cannot be had.
    // The one place that decides between the two forms.
    bool prepare(std::int32_t width, std::int32_t height, bool inPlanes, bool fits, bool displayMemory);
    // Makes the surface measure a width x height picture (kept when it
    // does), with the display memory choice of the last prepare. False when
    // it cannot be had.
    bool surfaceToMeasure(std::int32_t width, std::int32_t height);

    // The previous picture's size; false when there is none.
    bool previousPictureSize(std::int32_t& width, std::int32_t& height) const;
    // Forgets the previous picture.
    void dropPreviousPicture();
    // Frees the planes and the previous picture (the surfaces stay with their owner).
    void release();

    OffScreenBuffer* surfaces = nullptr;   // the off-screen surface's owner; null: no surface can be had
    TSurface* surfaceReference = nullptr;  // previous picture (surface form)
    TPicturePlanes planes;                 // current picture (planes form)
    TPicturePlanes frameBuffer;            // previous picture (planes form)
    BitmapInfoHeader infoHeader;           // the current picture
    BitmapInfoHeader currentHeader;        // of the picture loaded last (frame size, resolution)

    bool planesWanted = false;          // keep pictures in planes even when they fit the screen
    bool surfaceWanted = true;          // a window shows the pictures: a picture in the planes gets a surface of its size
    bool surfaceFollowsPicture = false; // the surface has the picture's size
    bool paintable = false;             // a complete picture is held

private:
    int surfaceMemory_ = 1; // the display memory request of the surface
};

// The decoder's target over a picture buffer: the planes when they hold the
// frame's size (the previous picture's planes for kept blocks), else the
// off-screen surface made to measure and locked while a stream draws (kept
// blocks stay as the surface holds them; the surface reference serves
// displaced ones). One per stream and call: it holds that stream's locks.
class PictureBufferTarget final : public FrameTarget {
public:
    explicit PictureBufferTarget(PictureBuffer& picture) : picture_(picture) {}
    ~PictureBufferTarget() override { endDrawing(); }
    bool beginDrawing(std::uint32_t width, std::uint32_t height, FramePixels& pixels) override;
    void endDrawing() override;

private:
    PictureBuffer& picture_;
    PictureAccess locked_;
    TSurface* reference_ = nullptr; // locked
};

} // namespace vexel
