#include "codec/gradient_renderer.h"

#include "base/memdiag.h"
#include "codec/block_record.h"
#include "codec/rounding.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexel {

namespace {

const double kJ = std::sqrt(2.0) * 0.5 + 0.5;

struct BlockModel {
    double cosine, sine;
    double base[3], slope[3]; // slope in value per pixel, before the J factor

    void read(const std::uint8_t* r) {
        const double theta = recordDirection(r);
        cosine = std::cos(theta);
        sine = std::sin(theta);
        for (int c = 0; c < 3; ++c) {
            base[c] = recordBase(r, c);
            slope[c] = recordSlope(r, c);
        }
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

} // namespace

bool renderGradientsCpu(const GradientBlocks& blocks, std::uint32_t firstRow, std::uint32_t endRow, bool fast,
                        const PixelTarget& target) {
    const std::uint32_t B = blocks.B;
    if (B < 2 || B > 16) return false;
    endRow = std::min(endRow, blocks.rows);
    const double half = (B - 1) / 2.0, halfB = B / 2.0;
    if (firstRow >= endRow) return true;
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
        models[i].read(r);
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
            if (fast) {
                // base + a (col - half) + b (t - half), added in that order:
                // the first sum depends on the column only.
                for (int c = 0; c < 3; ++c) {
                    const double a = kJ * m.slope[c] * m.cosine, b = kJ * m.slope[c] * m.sine;
                    double along[16];
                    for (std::uint32_t col = 0; col < w; ++col) along[col] = m.base[c] + a * (col - half);
                    for (std::uint32_t t = 0; t < h; ++t) {
                        const double down = b * (t - half);
                        double values[16];
                        for (std::uint32_t col = 0; col < w; ++col) values[col] = along[col] + down;
                        storeRow(target, c, x0, y0 + t, values, w);
                    }
                }
                continue;
            }
            // Smooth: each corner averages this block with the gradient
            // neighbours that share it, extrapolated to that corner.
            for (int c = 0; c < 3; ++c) {
                double corner[2][2]; // [cx][cy], 0: -1, 1: +1
                for (int ix = 0; ix < 2; ++ix)
                    for (int iy = 0; iy < 2; ++iy) {
                        const int cx = ix ? 1 : -1, cy = iy ? 1 : -1;
                        double sum = m.corner(c, cx, cy, halfB);
                        int count = 1;
                        for (int nx = 0; nx <= 1; ++nx)
                            for (int ny = 0; ny <= 1; ++ny) {
                                if (!nx && !ny) continue;
                                const BlockModel* n = model(static_cast<std::int64_t>(bx) + (nx ? cx : 0),
                                                            static_cast<std::int64_t>(by) + (ny ? cy : 0));
                                if (!n) continue;
                                sum += n->corner(c, nx ? -cx : cx, ny ? -cy : cy, halfB);
                                ++count;
                            }
                        corner[ix][iy] = sum / count;
                    }
                for (std::uint32_t t = 0; t < h; ++t) {
                    const double u = t + 0.5;
                    const double left = ((B - u) * corner[0][0] + u * corner[0][1]) / B;
                    const double right = ((B - u) * corner[1][0] + u * corner[1][1]) / B;
                    const double across = right - left;
                    double values[16];
                    // Dividing by a power of two and multiplying by its
                    // reciprocal round the same real number: the same double.
                    if (reciprocal != 0)
                        for (std::uint32_t col = 0; col < w; ++col) values[col] = left + across * centres[col] * reciprocal;
                    else
                        for (std::uint32_t col = 0; col < w; ++col) values[col] = left + across * centres[col] / B;
                    storeRow(target, c, x0, y0 + t, values, w);
                }
            }
        }
    return true;
}

} // namespace vexel
