#include "codec/gradient_renderer.h"

#include "base/memdiag.h"
#include "codec/rounding.h"
#include "codec/simd_dispatch.h"
#include "tests/support/test_planes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace vexel {
namespace {

// A canvas whose every byte starts at 7, so untouched pixels show.
struct Canvas : test::TestPlanes {
    Canvas(std::uint32_t width, std::uint32_t height, std::uint8_t fill = 7) : TestPlanes(width, height, fill) {}
};

// A gradient record: anchors, then (base, slope) for blue, green, red.
std::vector<std::uint8_t> gradient(std::uint8_t a1, std::uint8_t a2, int base, int slope) {
    return {1, a1, a2, std::uint8_t(base), std::uint8_t(std::int8_t(slope)), std::uint8_t(base),
            std::uint8_t(std::int8_t(slope)), std::uint8_t(base), std::uint8_t(std::int8_t(slope))};
}

TEST(GradientRenderer, EqualAnchorsDrawAHorizontalRampAroundTheBase) {
    Canvas canvas(8, 8);
    auto r = gradient(0x33, 0x33, 100, 20); // 2 per pixel along x, times J
    ASSERT_TRUE(renderGradientsCpu({r.data(), 1, 1, 8}, 0, 1, true, canvas.target()));
    PixelTarget t = canvas.target();
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(t.at(1, 0, y), std::nearbyint(100 - 3.5 * 2 * 1.2071067811865475));
        EXPECT_EQ(t.at(1, 7, y), std::nearbyint(100 + 3.5 * 2 * 1.2071067811865475));
        EXPECT_EQ(t.at(1, 3, y), t.at(1, 3, 0));
    }
}

TEST(GradientRenderer, SlopeZeroFillsTheBlockAndSaturationClamps) {
    Canvas canvas(16, 8);
    auto flat = gradient(0x00, 0x70, 42, 0);
    auto steep = gradient(0x00, 0x07, 250, 127);
    std::vector<std::uint8_t> records(flat);
    records.insert(records.end(), steep.begin(), steep.end());
    ASSERT_TRUE(renderGradientsCpu({records.data(), 2, 1, 8}, 0, 1, true, canvas.target()));
    PixelTarget t = canvas.target();
    EXPECT_EQ(t.at(0, 0, 0), 42);
    EXPECT_EQ(t.at(2, 7, 7), 42);
    EXPECT_EQ(t.at(0, 15, 0), 255);
}

TEST(GradientRenderer, ALoneBlockDrawsTheSameInSmoothAndFastPainting) {
    Canvas fast(8, 8), smooth(8, 8);
    auto r = gradient(0x12, 0x65, 128, -40);
    ASSERT_TRUE(renderGradientsCpu({r.data(), 1, 1, 8}, 0, 1, true, fast.target()));
    ASSERT_TRUE(renderGradientsCpu({r.data(), 1, 1, 8}, 0, 1, false, smooth.target()));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_NEAR(fast.target().at(0, x, y), smooth.target().at(0, x, y), 1) << x << "," << y;
}

TEST(GradientRenderer, SmoothPaintingJoinsNeighbouringBlocks) {
    Canvas fast(16, 8), smooth(16, 8);
    auto left = gradient(0x33, 0x33, 60, 0), right = gradient(0x33, 0x33, 100, 0);
    std::vector<std::uint8_t> records(left);
    records.insert(records.end(), right.begin(), right.end());
    ASSERT_TRUE(renderGradientsCpu({records.data(), 2, 1, 8}, 0, 1, true, fast.target()));
    ASSERT_TRUE(renderGradientsCpu({records.data(), 2, 1, 8}, 0, 1, false, smooth.target()));
    // Fast painting leaves a step of 40 at the seam; smooth painting spreads it.
    EXPECT_EQ(fast.target().at(1, 8, 3) - fast.target().at(1, 7, 3), 40);
    int step = smooth.target().at(1, 8, 3) - smooth.target().at(1, 7, 3);
    EXPECT_LE(step, 6);
    // Outer corners average only the block itself (60, 100), shared ones both
    // blocks (80); pixel centres lie half a pixel inside the corners.
    EXPECT_EQ(smooth.target().at(1, 0, 3), 61);   // 60 + 20 x 0.5 / 8
    EXPECT_EQ(smooth.target().at(1, 7, 3), 79);   // 60 + 20 x 7.5 / 8
    EXPECT_EQ(smooth.target().at(1, 15, 3), 99);
}

TEST(GradientRenderer, PixelsOutsideThePictureAreNotWritten) {
    Canvas canvas(20, 20, 9);
    std::vector<std::uint8_t> records;
    for (int i = 0; i < 4; ++i) {
        auto g = gradient(0x00, 0xFF, 80, 10);
        records.insert(records.end(), g.begin(), g.end());
    }
    ASSERT_TRUE(renderGradientsCpu({records.data(), 2, 2, 16}, 0, 2, false, canvas.target()));
    PixelTarget t = canvas.target();
    EXPECT_NE(t.at(0, 19, 19), 9);
    EXPECT_EQ(t.at(0, 20, 19), 9);
    EXPECT_EQ(t.at(0, 19, 20), 9);
}

TEST(GradientRenderer, OnlyTheBandsRowsAreDrawnAndOtherTypesAreLeftAlone) {
    Canvas canvas(8, 24, 9);
    auto g = gradient(0x00, 0x70, 50, 0);
    std::vector<std::uint8_t> records;
    for (int i = 0; i < 3; ++i) records.insert(records.end(), g.begin(), g.end());
    records[9] = 5; // the middle block is a keep block
    ASSERT_TRUE(renderGradientsCpu({records.data(), 1, 3, 8}, 1, 3, true, canvas.target()));
    PixelTarget t = canvas.target();
    EXPECT_EQ(t.at(0, 0, 0), 9);   // row 0 is outside the band
    EXPECT_EQ(t.at(0, 0, 8), 9);   // keep block
    EXPECT_EQ(t.at(0, 0, 16), 50);
}

TEST(GradientRenderer, BlockSizesOutsideTwoToSixteenFail) {
    Canvas canvas(8, 8);
    auto g = gradient(0, 0, 1, 1);
    EXPECT_FALSE(renderGradientsCpu({g.data(), 8, 8, 1}, 0, 1, true, canvas.target()));
    EXPECT_FALSE(renderGradientsCpu({g.data(), 1, 1, 32}, 0, 1, true, canvas.target()));
}

} // namespace
} // namespace vexel

namespace vexel {
namespace {

// The renderer as first written, one pixel at a time in the order of the
// formula: the reference that the row-wise renderer must match byte for byte.
void referenceRender(const GradientBlocks& blocks, bool fast, const PixelTarget& target) {
    const double J = std::sqrt(2.0) * 0.5 + 0.5, B = blocks.B, half = (B - 1) / 2.0, halfB = B / 2.0;
    struct Model {
        double cosine, sine, base[3], slope[3];
    };
    auto model = [&](std::int64_t bx, std::int64_t by, Model& m) {
        if (bx < 0 || by < 0 || bx >= blocks.columns || by >= blocks.rows) return false;
        const std::uint8_t* r = blocks.records + 9 * (by * blocks.columns + bx);
        if (r[0] != 1) return false;
        const double theta = std::atan2(double((r[2] >> 4) - (r[1] >> 4)), double((r[2] & 15) - (r[1] & 15)));
        m.cosine = std::cos(theta);
        m.sine = std::sin(theta);
        for (int c = 0; c < 3; ++c) {
            m.base[c] = r[7 - 2 * c];
            m.slope[c] = static_cast<std::int8_t>(r[8 - 2 * c]) * 0.1;
        }
        return true;
    };
    auto corner = [&](const Model& m, int c, int cx, int cy) {
        return m.base[c] + (cx * m.cosine + cy * m.sine) * J * m.slope[c] * halfB;
    };
    for (std::int64_t by = 0; by < blocks.rows; ++by)
        for (std::int64_t bx = 0; bx < blocks.columns; ++bx) {
            Model m;
            if (!model(bx, by, m)) continue;
            for (int c = 0; c < 3; ++c) {
                double k[2][2];
                for (int ix = 0; ix < 2; ++ix)
                    for (int iy = 0; iy < 2; ++iy) {
                        const int cx = ix ? 1 : -1, cy = iy ? 1 : -1;
                        double sum = corner(m, c, cx, cy);
                        int count = 1;
                        for (int nx = 0; nx <= 1; ++nx)
                            for (int ny = 0; ny <= 1; ++ny) {
                                Model n;
                                if ((nx || ny) && model(bx + (nx ? cx : 0), by + (ny ? cy : 0), n)) {
                                    sum += corner(n, c, nx ? -cx : cx, ny ? -cy : cy);
                                    ++count;
                                }
                            }
                        k[ix][iy] = sum / count;
                    }
                const double a = J * m.slope[c] * m.cosine, b = J * m.slope[c] * m.sine;
                for (std::uint32_t t = 0; t < blocks.B && by * blocks.B + t < target.height; ++t)
                    for (std::uint32_t col = 0; col < blocks.B && bx * blocks.B + col < target.width; ++col) {
                        const double u = t + 0.5;
                        const double left = ((B - u) * k[0][0] + u * k[0][1]) / B;
                        const double right = ((B - u) * k[1][0] + u * k[1][1]) / B;
                        const double v = fast ? m.base[c] + a * (col - half) + b * (t - half)
                                              : left + (right - left) * (col + 0.5) / B;
                        std::uint8_t byte = 0;
                        if (v >= 255) byte = 255;
                        else if (v > 0) byte = static_cast<std::uint8_t>(std::nearbyint(v));
                        target.at(c, bx * blocks.B + col, by * blocks.B + t) = byte;
                    }
            }
        }
}

// Every form of the block loops (plain, SSE2, AVX2: those this processor
// runs), every block size, picture edges cutting blocks, planes and surfaces
// with the channels in any lanes: the reference's bytes, and the surface's
// fourth byte left as it was.
TEST(GradientRenderer, EveryFormBlockSizeAndLayoutDrawsTheReferenceBytes) {
    const SimdPath before = currentSimdPath();
    int forms = 0;
    for (SimdPath path : {SimdPath::Plain, SimdPath::Sse2, SimdPath::Avx2}) {
        if (!useSimdPath(path)) continue;
        ++forms;
        std::uint32_t seed = 12345;
        auto next = [&] { return seed = seed * 1664525u + 1013904223u, seed >> 24; };
        for (std::uint32_t B : {2u, 3u, 4u, 5u, 7u, 8u, 12u, 16u})
            for (bool fast : {true, false}) {
                const std::uint32_t width = 5 * B + B / 2 + 1, height = 4 * B + 1;
                const std::uint32_t columns = (width + B - 1) / B, rows = (height + B - 1) / B;
                std::vector<std::uint8_t> records(9 * columns * rows);
                for (std::size_t i = 0; i < records.size(); ++i) records[i] = static_cast<std::uint8_t>(next());
                for (std::size_t i = 0; i < records.size(); i += 9) records[i] = next() % 4 == 0 ? 0 : 1;
                const GradientBlocks blocks{records.data(), columns, rows, B};
                Canvas planes(width, height), expected(width, height);
                ASSERT_TRUE(renderGradientsCpu(blocks, 0, rows, fast, planes.target()));
                referenceRender(blocks, fast, expected.target());
                const std::string what = std::string(simdPathName(path)) + " B " + std::to_string(B) + (fast ? " fast" : " smooth");
                for (int c = 0; c < 3; ++c)
                    for (std::uint32_t y = 0; y < height; ++y)
                        for (std::uint32_t x = 0; x < width; ++x)
                            ASSERT_EQ(planes.at(c, x, y), expected.at(c, x, y)) << what << " planes " << c << " " << x << "," << y;
                // 32-bit surfaces (top row first) with the channels in lanes 2, 1, 0; 0, 1, 2; and 3, 1, 2.
                const int shifts[3][3] = {{16, 8, 0}, {0, 8, 16}, {24, 8, 16}};
                for (const auto& shift : shifts) {
                    const std::uint32_t border = 16, pitch = 4 * (width + 2 * border);
                    std::vector<std::uint8_t> surface(pitch * (height + 2 * border), 7);
                    const PixelTarget drawn =
                        PixelTarget::fromSurface(surface.data(), pitch, width, height, border, shift[0], shift[1], shift[2]);
                    ASSERT_TRUE(renderGradientsCpu(blocks, 0, rows, fast, drawn));
                    const int spare = 6 - (shift[0] + shift[1] + shift[2]) / 8; // the lane no channel uses
                    for (std::uint32_t y = 0; y < height; ++y)
                        for (std::uint32_t x = 0; x < width; ++x) {
                            for (int c = 0; c < 3; ++c)
                                ASSERT_EQ(drawn.at(c, x, y), expected.at(c, x, y))
                                    << what << " lanes " << shift[0] << " " << c << " " << x << "," << y;
                            ASSERT_EQ((&drawn.at(0, x, y))[spare - shift[0] / 8], 7) << what << " spare lane " << x << "," << y;
                        }
                }
            }
    }
    useSimdPath(before);
    EXPECT_GE(forms, 1);
}

TEST(Rounding, ARowRoundsAsEachValueAlone) {
    const double specials[] = {0.0, -0.0, 0.5, 1.5, 2.5, 0.49999999999999994, 254.5, 254.49999999999997, 255.0, 255.5,
                               -1e300, 1e300, -0.5, 127.5, 128.5, std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL,
                               1e-320, 3.0000000000000004, 200.50000000000003};
    std::vector<double> values(specials, specials + std::size(specials));
    std::uint32_t seed = 7;
    for (int i = 0; i < 4000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        values.push_back((seed >> 8) / 16384.0 - 128.0); // -128 .. 896 in steps of 1/16384, halves included
    }
    for (std::size_t n = 0; n <= values.size(); n += values.size() / 7 + 1) {
        std::vector<std::uint8_t> row(values.size(), 99);
        roundRowToBytes(values.data(), row.data(), values.size() - n);
        for (std::size_t i = 0; i < values.size() - n; ++i) ASSERT_EQ(row[i], roundToByte(values[i])) << values[i];
        for (std::size_t i = values.size() - n; i < values.size(); ++i) ASSERT_EQ(row[i], 99);
    }
    EXPECT_EQ(roundToByte(std::nan("")), 0);
    EXPECT_EQ(roundToByte(2.5), 2);
    EXPECT_EQ(roundToByte(3.5), 4);
    EXPECT_EQ(roundToByte(254.9), 255);
}

} // namespace
} // namespace vexel
