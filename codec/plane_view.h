// Three 8-bit channels (red, green, blue) of a picture, reached through one
// address per channel: picture pixel (0, 0) is the bottom-left one, pixelStep
// bytes lie between neighbours in a row and rowStep bytes from a row to the
// row above it. The same view serves the picture planes and the 32-bit
// surface, so the codec never re-derives their offsets. At least 16 pixels of
// margin lie around the picture in both.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel {

template <class Byte>
struct PlaneView {
    Byte* channel[3] = {nullptr, nullptr, nullptr};
    std::ptrdiff_t pixelStep = 0;
    std::ptrdiff_t rowStep = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    Byte& at(int c, std::int64_t x, std::int64_t y) const { return channel[c][y * rowStep + x * pixelStep]; }
    bool valid() const { return channel[0] && width && height; }

    // Three padded planes laid one after another, each (width + 32) x
    // (height + 32) bytes, bottom row first, the picture 16 rows and columns in.
    static PlaneView fromPlanes(Byte* planes, std::uint32_t width, std::uint32_t height) {
        PlaneView v;
        const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(width) + 32;
        const std::ptrdiff_t planeSize = stride * (static_cast<std::ptrdiff_t>(height) + 32);
        for (int c = 0; c < 3; ++c) v.channel[c] = planes + c * planeSize + 16 * stride + 16;
        v.pixelStep = 1;
        v.rowStep = stride;
        v.width = width;
        v.height = height;
        return v;
    }

    // A 32-bit surface: the picture's top row at line `border`, each channel
    // in the byte lane of its shift, rows `pitch` bytes apart.
    static PlaneView fromSurface(Byte* bits, std::ptrdiff_t pitch, std::uint32_t width, std::uint32_t height,
                                 std::uint32_t border, int redShift, int greenShift, int blueShift) {
        PlaneView v;
        // Picture row 0 (the bottom row) lies on surface line border + height - 1.
        Byte* bottom = bits + (static_cast<std::ptrdiff_t>(border) + height - 1) * pitch + 4 * border;
        const int shifts[3] = {redShift, greenShift, blueShift};
        for (int c = 0; c < 3; ++c) v.channel[c] = bottom + shifts[c] / 8;
        v.pixelStep = 4;
        v.rowStep = -pitch;
        v.width = width;
        v.height = height;
        return v;
    }
};

// What the encoder reads and what the decoder writes.
using SourcePlanes = PlaneView<const std::uint8_t>;
using PixelTarget = PlaneView<std::uint8_t>;

} // namespace vexel
