// The drawing rule of the GPU library, one point (block) at a time, as a
// function both the card and the processor run: the kernel calls it on the
// card, the tests call it on a machine without one and hold it to the
// decoder's own fast gradient renderer.
//
// A point record (TPnt, 9 bytes): byte 0 is 1 for a block this library
// draws; bytes 1 and 2 the two direction points (column in the low nibble,
// row in the high); bytes 3..8 base and slope (tenths, signed) of the third,
// second and first plane (blue, green, red). With u the row difference and
// v the column difference of the points, theta = atan2(u, v) (0 for equal
// points); per plane q = slope x 0.1 x (1 + sqrt 2) / 2, A = q cos theta,
// B = q sin theta and start = base - (R - 1)(A + B) / 2; pixel (column i,
// row j) of the block is start + j B + i A, rounded to nearest (ties to
// even) and clamped to 0..255. So the block's centre holds its base and the
// value grows by q per pixel along theta. Single precision.
#pragma once

#include <cmath>
#include <cstdint>

#if defined(__CUDACC__)
#define SPRAY_HD __host__ __device__
#else
#define SPRAY_HD
#endif

namespace vexel::spray {

constexpr float kSlopeFactor = 0.1f * 1.2071067811865475f;

// A block's model: start, column step A and row step B per plane, the
// planes in the library's order (0 third = blue, 1 second = green, 2 first = red).
struct Model {
    float start[3], a[3], b[3];
};

// False for a point the library leaves alone.
SPRAY_HD inline bool model(const std::uint8_t* point, int R, Model& m) {
    if (point[0] != 1) return false;
    const int u = (point[2] >> 4) - (point[1] >> 4), v = (point[2] & 15) - (point[1] & 15);
    const float theta = atan2f(static_cast<float>(u), static_cast<float>(v));
    const float c = cosf(theta), s = sinf(theta);
    for (int k = 0; k < 3; ++k) {
        const float base = point[3 + 2 * k];
        const float q = static_cast<float>(static_cast<std::int8_t>(point[4 + 2 * k])) * kSlopeFactor;
        m.a[k] = q * c;
        m.b[k] = q * s;
        m.start[k] = base - (R - 1) * (m.a[k] + m.b[k]) / 2;
    }
    return true;
}

SPRAY_HD inline std::uint8_t value(const Model& m, int k, int i, int j) {
    float v = rintf(m.start[k] + j * m.b[k] + i * m.a[k]);
    v = v < 0.0f ? 0.0f : v > 255.0f ? 255.0f : v;
    return static_cast<std::uint8_t>(v);
}

// Where the pixels go: three plane origins (as offsets from a base), the
// steps, and the byte ranges of the base that may be written ([lo, hi) per
// plane; writes outside them are skipped).
struct Target {
    std::int64_t plane[3]; // blue, green, red origin of the band's first point row
    std::int64_t dqx1, dqy1;
    std::int64_t lo[3], hi[3];
};

// Draws point (x, y) of the band (y counted from the band's first row).
SPRAY_HD inline void drawPoint(std::uint8_t* base, const Target& t, const std::uint8_t* points, unsigned pointsPerRow,
                               int R, unsigned x, unsigned y) {
    Model m;
    if (!model(points + 9 * (static_cast<std::int64_t>(y) * pointsPerRow + x), R, m)) return;
    const std::int64_t origin = t.dqx1 * x * R + t.dqy1 * y * R;
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < R; ++j)
            for (int i = 0; i < R; ++i) {
                const std::int64_t at = t.plane[k] + origin + j * t.dqy1 + i * t.dqx1;
                if (at >= t.lo[k] && at < t.hi[k]) base[at] = value(m, k, i, j);
            }
}

} // namespace vexel::spray
