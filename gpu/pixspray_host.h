// The host side of one pixSpray_module call: the band's byte ranges and the
// kernel's target (codec/pixspray_layout.h has the arithmetic), and the
// whole call run on the processor, pixel for pixel as the card runs it, for
// the tests of a machine without a card.
#pragma once

#include "codec/pixspray_layout.h"
#include "gpu/pixspray_kernel.h"

#include <cstdint>

namespace vexel::spray {

struct Call {
    SprayBand band;
    Target target;
    unsigned rows = 0; // point rows of the band
};

// Plans a call; false for arguments the library refuses (they describe no
// band, or reach below base).
inline bool plan(int offsetR, int offsetG, int offsetB, int dqx1, int dqy1, int R, std::uint32_t firstRow,
                 std::uint32_t endRow, std::uint32_t pointsPerRow, std::uint32_t pointRows, Call& call) {
    if (R < 1 || R > 16 || firstRow > endRow) return false;
    if (!sprayBand(offsetR, offsetG, offsetB, dqx1, dqy1, R, firstRow, endRow, pointsPerRow, pointRows, call.band))
        return false;
    const std::int64_t offsets[3] = {offsetB, offsetG, offsetR};
    const int range[3] = {2, 1, 0}; // the band's ranges are red, green, blue
    for (int k = 0; k < 3; ++k) {
        call.target.plane[k] = offsets[k] + static_cast<std::int64_t>(firstRow) * R * dqy1;
        const int r = call.band.interleaved ? 0 : range[k];
        call.target.lo[k] = call.band.begin[r];
        call.target.hi[k] = call.band.end[r];
    }
    call.target.dqx1 = dqx1;
    call.target.dqy1 = dqy1;
    call.rows = endRow - firstRow;
    return true;
}

// The call on the processor: what the card does, into the host buffer.
inline bool sprayOnHost(std::uint8_t* base, int offsetR, int offsetG, int offsetB, int dqx1, int dqy1, std::uint8_t R,
                        std::uint32_t firstRow, std::uint32_t endRow, const std::uint8_t* points,
                        std::uint32_t pointsPerRow, std::uint32_t pointRows) {
    Call call;
    if (!plan(offsetR, offsetG, offsetB, dqx1, dqy1, R, firstRow, endRow, pointsPerRow, pointRows, call)) return false;
    const std::uint8_t* band = points + 9 * static_cast<std::int64_t>(firstRow) * pointsPerRow;
    for (unsigned y = 0; y < call.rows; ++y)
        for (unsigned x = 0; x < pointsPerRow; ++x) drawPoint(base, call.target, band, pointsPerRow, R, x, y);
    return true;
}

} // namespace vexel::spray
