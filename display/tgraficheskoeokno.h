// The graphics window: owner of the picture buffer every part of the program
// reads and writes (the memory-buffer form; presenting comes with the viewer).
//
// Pixel buffer contract (what every reader and writer relies on):
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
//     The pitch is what the lock returns. It is at least the row width and in
//     this form deliberately larger (rows start 64-byte aligned), so code that
//     uses the width instead of the pitch fails its tests.
//   * Picture row y counted from the bottom is buffer row height + border - 1 - y.
//
// Locks: the surface lock guards creating, replacing and filling surfaces; the
// position lock guards the screen rectangle; when both are needed the surface
// lock is taken first. Pixel access itself is serialised by each surface's own
// lock and unlock.
#pragma once

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
    // False when this thread does not hold the lock.
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

// Screen coordinates of the picture area.
struct ScreenRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

class TGraficheskoeOkno {
public:
    // Memory request value that keeps the current choice.
    static constexpr int kKeepMemoryChoice = 0x80;

    // A graphics window from the tracked allocator with its display opened,
    // or null when memory is refused.
    static TGraficheskoeOkno* create();
    static void destroy(TGraficheskoeOkno* window);

    // Opens the display objects. The memory form has no display mode to
    // check: it keeps the shifts 16, 8, 0 and always succeeds.
    bool OpenDisplay();

    // Gives the off-screen surface the picture size of rect (right x bottom)
    // or, with none, of the client area; each side at least 1. A memory
    // request with bit 7 set keeps the current choice, any other non-zero
    // value asks for display memory (only a hint here). A negative border
    // keeps the current one. An existing surface of the same size, memory
    // choice and border is kept unless force is set; otherwise the old one
    // is released and a new black one made. False when no surface could be
    // made (then there is no off-screen surface at all).
    bool SetPictureSize(const PictureRect* rect, int memoryRequest, int border, bool force);

    enum class Slot { Primary, OffScreen };
    // The surface in the slot (no reference added), or null. The memory form
    // has no primary surface.
    TSurface* SurfaceSlot(Slot which);
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
    // Stores the screen rectangle of the picture area from the client area's
    // top-left corner.
    void UpdateScreenPosition();

    // Locks the off-screen surface and describes its picture area; false
    // without a surface or when the lock fails. Unlock with unlockPicture.
    bool lockPicture(PictureAccess& access);
    void unlockPicture(PictureAccess& access);

    // The viewer reports its client area here (the memory form has no window
    // of its own; its client area is 0 x 0 until told otherwise).
    void setClientArea(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height);
    ScreenRect screenRectangle();

    std::int32_t border() const { return border_; }
    bool surfaceInDisplayMemory() const { return surfaceInDisplayMemory_; }
    int redShift() const { return redShift_; }
    int greenShift() const { return greenShift_; }
    int blueShift() const { return blueShift_; }
    // A colour value 0x00BBGGRR (red in the low byte) as a display pixel.
    std::uint32_t toDisplay(std::uint32_t colour) const;

    std::recursive_mutex& surfaceLock() { return surfaceLock_; }
    std::recursive_mutex& positionLock() { return positionLock_; }

private:
    TGraficheskoeOkno() = default;
    ~TGraficheskoeOkno();

    bool displayOpen_ = false;
    bool surfaceInDisplayMemory_ = false;
    std::int32_t border_ = 0;
    TSurface* offScreen_ = nullptr;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    ScreenRect screen_;
    std::int32_t clientLeft_ = 0;
    std::int32_t clientTop_ = 0;
    std::int32_t clientWidth_ = 0;
    std::int32_t clientHeight_ = 0;
    int redShift_ = 0;
    int greenShift_ = 8;
    int blueShift_ = 16;
    mutable std::recursive_mutex surfaceLock_;
    mutable std::recursive_mutex positionLock_;
};

} // namespace vexel
