// The bytes one call of the GPU library's pixSpray_module touches, worked
// out in one place for both sides of the call: the decoder, which passes as
// base the lowest address the call touches, and the library, which mirrors
// exactly those bytes on the card. Header only and free of dependencies, so
// that the library (gpu/) builds it with nvcc.
//
// The pixels: plane origin + column x dqx1 + row x dqy1 for the three planes
// at base + offsetR, + offsetG, + offsetB; the call draws point rows
// [firstRow, endRow) of R x R blocks, pointsPerRow of them in a row, so it
// reaches pixel rows firstRow R .. endRow R - 1 and columns 0 ..
// pointsPerRow R - 1 (past the picture's edges, into its border). With o the
// smallest offset, the layout is interleaved (one 32-bit pixel buffer) when
// every offset - o is below |dqy1|, else planar (three planes). All of it in
// 64-bit signed arithmetic: a negative row step (bottom-up rows) is no
// special case.
#pragma once

#include <algorithm>
#include <cstdint>

namespace vexel {

struct SprayBand {
    bool interleaved = true;
    int ranges = 0;                  // 1 interleaved, 3 planar, 0 for an empty band
    std::int64_t begin[3] = {0, 0, 0}; // byte ranges from base, end exclusive (red, green, blue planes)
    std::int64_t end[3] = {0, 0, 0};
    std::int64_t mirrorSize = 0;     // the largest end: the bytes a mirror of base must hold
};

// The band's byte ranges. False when the arguments make no sense (R below
// 1, a row range past the points) or the band reaches below base.
inline bool sprayBand(std::int64_t offsetR, std::int64_t offsetG, std::int64_t offsetB, std::int64_t dqx1,
                      std::int64_t dqy1, std::int64_t R, std::int64_t firstRow, std::int64_t endRow,
                      std::int64_t pointsPerRow, std::int64_t pointRows, SprayBand& band) {
    band = SprayBand();
    if (R < 1 || firstRow < 0 || endRow > pointRows || pointsPerRow < 0) return false;
    const std::int64_t offsets[3] = {offsetR, offsetG, offsetB};
    const std::int64_t o = std::min({offsetR, offsetG, offsetB});
    const std::int64_t t = dqy1 < 0 ? -dqy1 : dqy1;
    band.interleaved = offsetR - o < t && offsetG - o < t && offsetB - o < t;
    if (firstRow >= endRow || pointsPerRow == 0) return true;
    const std::int64_t lastColumn = pointsPerRow * R - 1, firstPixelRow = firstRow * R, lastPixelRow = endRow * R - 1;
    std::int64_t lo[3], hi[3];
    for (int c = 0; c < 3; ++c) {
        lo[c] = offsets[c] + std::min<std::int64_t>(0, lastColumn * dqx1) +
                std::min(firstPixelRow * dqy1, lastPixelRow * dqy1);
        hi[c] = offsets[c] + std::max<std::int64_t>(0, lastColumn * dqx1) +
                std::max(firstPixelRow * dqy1, lastPixelRow * dqy1) + 1;
        if (lo[c] < 0) return false;
    }
    if (band.interleaved) {
        band.ranges = 1;
        band.begin[0] = std::min({lo[0], lo[1], lo[2]});
        band.end[0] = std::max({hi[0], hi[1], hi[2]});
    } else {
        band.ranges = 3;
        for (int c = 0; c < 3; ++c) {
            band.begin[c] = lo[c];
            band.end[c] = hi[c];
        }
    }
    for (int k = 0; k < band.ranges; ++k) band.mirrorSize = std::max(band.mirrorSize, band.end[k]);
    return true;
}

// The lowest address the band touches, as an offset from the red plane's
// pixel (0, 0), for a caller that has pointers to the three planes' pixel
// (0, 0): the library's base is that pixel plus this.
inline std::int64_t sprayLowestOffset(std::int64_t offsetG, std::int64_t offsetB, std::int64_t dqx1, std::int64_t dqy1,
                                      std::int64_t R, std::int64_t firstRow, std::int64_t endRow,
                                      std::int64_t pointsPerRow) {
    const std::int64_t lastColumn = pointsPerRow * R - 1, firstPixelRow = firstRow * R, lastPixelRow = endRow * R - 1;
    return std::min<std::int64_t>({0, offsetG, offsetB}) + std::min<std::int64_t>(0, lastColumn * dqx1) +
           std::min(firstPixelRow * dqy1, lastPixelRow * dqy1);
}

} // namespace vexel
