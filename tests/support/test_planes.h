// Three padded 8-bit planes (red, green, blue) for codec tests: each
// (width + 32) x (height + 32) bytes, bottom row first, the picture 16 rows
// and columns in, as the picture planes of the viewer record.
#pragma once

#include "base/memdiag.h"
#include "codec/plane_view.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>

namespace vexel::test {

struct TestPlanes {
    std::uint32_t w, h;
    TrackedBuffer<std::uint8_t> planes;

    // Every byte, the border included, starts as `fill`.
    TestPlanes(std::uint32_t width, std::uint32_t height, std::uint8_t fillByte = 0) : w(width), h(height) {
        planes.allocate(3 * plane());
        if (fillByte) std::memset(planes.data(), fillByte, planes.size());
    }
    std::size_t plane() const { return static_cast<std::size_t>(w + 32) * (h + 32); }
    std::uint8_t& at(int c, std::uint32_t x, std::uint32_t y) { return planes[c * plane() + (y + 16) * (w + 32) + x + 16]; }
    std::uint8_t at(int c, std::uint32_t x, std::uint32_t y) const {
        return planes[c * plane() + (y + 16) * (w + 32) + x + 16];
    }
    // Sets every picture pixel of every channel to f(channel, x, y), clamped to a byte.
    void fill(const std::function<int(int c, std::uint32_t x, std::uint32_t y)>& f) {
        for (int c = 0; c < 3; ++c)
            for (std::uint32_t y = 0; y < h; ++y)
                for (std::uint32_t x = 0; x < w; ++x) at(c, x, y) = static_cast<std::uint8_t>(std::clamp(f(c, x, y), 0, 255));
    }
    SourcePlanes source() const { return SourcePlanes::fromPlanes(planes.data(), w, h); }
    PixelTarget target() { return PixelTarget::fromPlanes(planes.data(), w, h); }
};

} // namespace vexel::test
