#include "codec/gradient_renderer.h"

#include "base/memdiag.h"
#include "codec/block_record.h"
#include "codec/rounding.h"
#include "codec/simd_dispatch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexel {

namespace {

const double kJ = std::sqrt(2.0) * 0.5 + 0.5;

// The cosine and sine of a record's direction for every pair of anchor
// nibbles, computed once by the same calls a block would make.
struct Direction {
    double cosine, sine;
};
struct DirectionTable {
    Direction at[31][31]; // [dy + 15][dx + 15]
    DirectionTable() {
        for (int dy = -15; dy <= 15; ++dy)
            for (int dx = -15; dx <= 15; ++dx) {
                const double theta = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
                at[dy + 15][dx + 15] = {std::cos(theta), std::sin(theta)};
            }
    }
};
const Direction& direction(const std::uint8_t* r) {
    static const DirectionTable table;
    const int dx = (r[kRecordSecondAnchor] & 15) - (r[kRecordFirstAnchor] & 15);
    const int dy = (r[kRecordSecondAnchor] >> 4) - (r[kRecordFirstAnchor] >> 4);
    return table.at[dy + 15][dx + 15];
}

struct BlockModel {
    double cosine, sine;
    double base[3], slope[3]; // slope in value per pixel, before the J factor
    double corners[3][2][2];  // [c][cx][cy], 0: -1, 1: +1: the value at each corner

    void read(const std::uint8_t* r, double halfB) {
        const Direction& d = direction(r);
        cosine = d.cosine;
        sine = d.sine;
        for (int c = 0; c < 3; ++c) {
            base[c] = recordBase(r, c);
            slope[c] = recordSlope(r, c);
        }
        for (int c = 0; c < 3; ++c)
            for (int ix = 0; ix < 2; ++ix)
                for (int iy = 0; iy < 2; ++iy) corners[c][ix][iy] = corner(c, ix ? 1 : -1, iy ? 1 : -1, halfB);
    }
    // The value at corner (cx, cy) of the block, cx, cy in {-1, +1}.
    double corner(int c, int cx, int cy, double halfB) const {
        return base[c] + (cx * cosine + cy * sine) * kJ * slope[c] * halfB;
    }
};

// The first `count` values of a block row, rounded, into channel c of the target.
inline void storeRow(const PixelTarget& target, int c, std::int64_t x0, std::int64_t y, const double* values,
                     std::uint32_t count) {
    std::uint8_t row[16];
    roundRowToBytes(values, row, count);
    std::uint8_t* out = &target.at(c, x0, y);
    if (target.pixelStep == 1) {
        std::memcpy(out, row, count);
        return;
    }
    for (std::uint32_t col = 0; col < count; ++col) out[col * target.pixelStep] = row[col];
}

// The reference forms of the block kernels; the vector forms must give their bytes.
void smoothBlockPlain(const PixelTarget& target, const GradientBlockPaint& p, const double corner[3][2][2]) {
    const std::uint32_t B = p.B;
    for (int c = 0; c < 3; ++c)
        for (std::uint32_t t = 0; t < p.h; ++t) {
            const double u = t + 0.5;
            const double left = ((B - u) * corner[c][0][0] + u * corner[c][0][1]) / B;
            const double right = ((B - u) * corner[c][1][0] + u * corner[c][1][1]) / B;
            const double across = right - left;
            double values[16];
            // Dividing by a power of two and multiplying by its
            // reciprocal round the same real number: the same double.
            if (p.reciprocal != 0)
                for (std::uint32_t col = 0; col < p.w; ++col) values[col] = left + across * p.centres[col] * p.reciprocal;
            else
                for (std::uint32_t col = 0; col < p.w; ++col) values[col] = left + across * p.centres[col] / B;
            storeRow(target, c, p.x0, p.y0 + t, values, p.w);
        }
}

// base + a (col - half) + b (t - half), added in that order: the first sum
// depends on the column only.
void fastBlockPlain(const PixelTarget& target, const GradientBlockPaint& p, const double base[3], const double a[3],
                    const double b[3]) {
    for (int c = 0; c < 3; ++c) {
        double along[16];
        for (std::uint32_t col = 0; col < p.w; ++col) along[col] = base[c] + a[c] * (col - p.half);
        for (std::uint32_t t = 0; t < p.h; ++t) {
            const double down = b[c] * (t - p.half);
            double values[16];
            for (std::uint32_t col = 0; col < p.w; ++col) values[col] = along[col] + down;
            storeRow(target, c, p.x0, p.y0 + t, values, p.w);
        }
    }
}

} // namespace

bool renderGradientsCpu(const GradientBlocks& blocks, std::uint32_t firstRow, std::uint32_t endRow, bool fast,
                        const PixelTarget& target) {
    const std::uint32_t B = blocks.B;
    if (B < 2 || B > 16) return false;
    endRow = std::min(endRow, blocks.rows);
    const double half = (B - 1) / 2.0, halfB = B / 2.0;
    if (firstRow >= endRow) return true;
    const CodecKernels& kernels = codecKernels();
    // Pixel centres across a block (col + 0.5, exact) and 1 / B when B is a power of two.
    double centres[16];
    for (int col = 0; col < 16; ++col) centres[col] = col + 0.5;
    const double reciprocal = (B & (B - 1)) == 0 ? 1.0 / B : 0.0;
    // Models of the band's gradient blocks and of the rows next to it, read once.
    const std::uint32_t modelFirst = firstRow > 0 ? firstRow - 1 : 0;
    const std::uint32_t modelEnd = std::min(endRow + 1, blocks.rows);
    TrackedBuffer<BlockModel> models;
    TrackedBuffer<std::uint8_t> isGradient;
    const std::uint64_t count = static_cast<std::uint64_t>(modelEnd - modelFirst) * blocks.columns;
    if (!models.allocate(count) || !isGradient.allocate(count)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* r = blocks.records + 9 * (static_cast<std::uint64_t>(modelFirst) * blocks.columns + i);
        if (r[0] != 1) continue;
        isGradient[i] = 1;
        models[i].read(r, halfB);
    }
    auto model = [&](std::int64_t bx, std::int64_t by) -> const BlockModel* {
        if (bx < 0 || by < static_cast<std::int64_t>(modelFirst) || bx >= blocks.columns || by >= modelEnd) return nullptr;
        const std::uint64_t i = static_cast<std::uint64_t>(by - modelFirst) * blocks.columns + static_cast<std::uint64_t>(bx);
        return isGradient[i] ? &models[i] : nullptr;
    };
    for (std::uint32_t by = firstRow; by < endRow; ++by)
        for (std::uint32_t bx = 0; bx < blocks.columns; ++bx) {
            const BlockModel* own = model(bx, by);
            if (!own) continue;
            const BlockModel& m = *own;
            const std::int64_t x0 = static_cast<std::int64_t>(bx) * B, y0 = static_cast<std::int64_t>(by) * B;
            const std::uint32_t w = static_cast<std::uint32_t>(std::min<std::int64_t>(B, target.width - x0));
            const std::uint32_t h = static_cast<std::uint32_t>(std::min<std::int64_t>(B, target.height - y0));
            const GradientBlockPaint paint{x0, y0, w, h, B, half, reciprocal, centres};
            if (fast) {
                double base[3], a[3], b[3];
                for (int c = 0; c < 3; ++c) {
                    base[c] = m.base[c];
                    a[c] = kJ * m.slope[c] * m.cosine;
                    b[c] = kJ * m.slope[c] * m.sine;
                }
                kernels.fastBlock(target, paint, base, a, b);
                continue;
            }
            // Smooth: each corner averages this block with the gradient
            // neighbours that share it, extrapolated to that corner.
            // Each corner's neighbours: across, along and diagonal (null where none is a gradient block).
            const BlockModel* around[2][2][3];
            for (int ix = 0; ix < 2; ++ix)
                for (int iy = 0; iy < 2; ++iy) {
                    const std::int64_t nx = static_cast<std::int64_t>(bx) + (ix ? 1 : -1);
                    const std::int64_t ny = static_cast<std::int64_t>(by) + (iy ? 1 : -1);
                    around[ix][iy][0] = model(bx, ny);
                    around[ix][iy][1] = model(nx, by);
                    around[ix][iy][2] = model(nx, ny);
                }
            double corner[3][2][2]; // [c][cx][cy], 0: -1, 1: +1
            for (int c = 0; c < 3; ++c)
                for (int ix = 0; ix < 2; ++ix)
                    for (int iy = 0; iy < 2; ++iy) {
                        // The neighbours in a fixed order (below or above, beside, diagonal),
                        // each extrapolated to the shared corner.
                        double sum = m.corners[c][ix][iy];
                        int count = 1;
                        if (const BlockModel* n = around[ix][iy][0]) {
                            sum += n->corners[c][ix][1 - iy];
                            ++count;
                        }
                        if (const BlockModel* n = around[ix][iy][1]) {
                            sum += n->corners[c][1 - ix][iy];
                            ++count;
                        }
                        if (const BlockModel* n = around[ix][iy][2]) {
                            sum += n->corners[c][1 - ix][1 - iy];
                            ++count;
                        }
                        corner[c][ix][iy] = sum / count;
                    }
            kernels.smoothBlock(target, paint, corner);
        }
    return true;
}

namespace kernels {
const CodecKernels kPlain{smoothBlockPlain, fastBlockPlain, yccRowPlain, modelErrorRowPlain};
} // namespace kernels

} // namespace vexel
