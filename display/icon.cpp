#include "display/icon.h"

#include <algorithm>
#include <cmath>

namespace vexel {

namespace {

std::uint32_t argb(double a, double r, double g, double b) {
    auto byte = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 255.0))); };
    return byte(a) << 24 | byte(r) << 16 | byte(g) << 8 | byte(b);
}

} // namespace

std::vector<std::uint32_t> programIcon(int size) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(size) * size, 0);
    const double radius = size * 0.18, cell = size / 4.0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            // Coverage of the rounded tile, antialiased over one pixel.
            const double cx = std::clamp(px, radius, size - radius), cy = std::clamp(py, radius, size - radius);
            const double coverage = std::clamp(radius + 0.5 - std::hypot(px - cx, py - cy), 0.0, 1.0);
            if (coverage <= 0) continue;
            const int bx = static_cast<int>(px / cell), by = static_cast<int>(py / cell);
            double r, g, b;
            if (by < 2) { // gradient blocks: a sky from deep blue to light cyan, each block its own ramp
                const double t = (bx + by * 4 + (px - bx * cell) / cell) / 8.0;
                r = 30 + 120 * t;
                g = 80 + 140 * t;
                b = 200 + 50 * t;
            } else { // detail blocks: warm ground with a fine texture
                const bool grain = ((x * 7 + y * 13) / std::max(1, size / 16)) % 3 == 0;
                r = 210 - 30 * (by - 2) + (grain ? 25 : 0);
                g = 120 - 20 * bx + (grain ? 20 : 0);
                b = 50 + (grain ? 15 : 0);
            }
            // Thin block edges, as a coder's grid.
            const double ex = std::fmod(px, cell), ey = std::fmod(py, cell);
            if (std::min(ex, ey) < std::max(1.0, size / 64.0)) {
                r *= 0.75;
                g *= 0.75;
                b *= 0.75;
            }
            pixels[static_cast<std::size_t>(y) * size + x] = argb(255 * coverage, r, g, b);
        }
    return pixels;
}

} // namespace vexel
