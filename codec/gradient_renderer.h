// Drawing of gradient blocks: the processor's renderer, the reference that
// the GPU module must match.
//
// A gradient block record (9 bytes): byte 0 type (1 = gradient); bytes 1 and
// 2 two anchor points (x in the low nibble, y in the high nibble) whose
// difference gives the direction theta = atan2(dy, dx); bytes 3..8 the
// (base, slope in tenths) pairs of blue, green and red. The value grows by
// J x slope per pixel along theta, J = sqrt(2) / 2 + 1/2.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel {

// Three writable 8-bit planes (red, green, blue) reached through one address
// per channel: picture pixel (0, 0) is the bottom-left one; pixelStep between
// neighbours in a row, rowStep from a row to the row above it. At least 16
// pixels of margin must be writable around the picture.
struct PixelTarget {
    std::uint8_t* channel[3] = {nullptr, nullptr, nullptr};
    std::ptrdiff_t pixelStep = 0;
    std::ptrdiff_t rowStep = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    std::uint8_t& at(int c, std::int64_t x, std::int64_t y) const { return channel[c][y * rowStep + x * pixelStep]; }

    // Three padded planes of (width + 32) x (height + 32), bottom row first.
    static PixelTarget fromPlanes(std::uint8_t* planes, std::uint32_t width, std::uint32_t height);
    // A 32-bit surface whose top picture row is at line `border`.
    static PixelTarget fromSurface(std::uint8_t* bits, std::ptrdiff_t pitch, std::uint32_t width, std::uint32_t height,
                                   std::uint32_t border, int redShift, int greenShift, int blueShift);
};

struct GradientBlocks {
    const std::uint8_t* records; // 9 bytes per block of the whole picture, block order
    std::uint32_t columns, rows; // block grid
    std::uint32_t B;
};

// Draws the gradient blocks of block rows [firstRow, endRow) into the target,
// in fast painting (each block on its own) or smooth painting (corners
// averaged with the neighbouring gradient blocks, bilinear between them).
// Pixels outside the picture are skipped. False when B is outside 2..16.
bool renderGradientsCpu(const GradientBlocks& blocks, std::uint32_t firstRow, std::uint32_t endRow, bool fast,
                        const PixelTarget& target);

} // namespace vexel
