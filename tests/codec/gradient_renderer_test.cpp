#include "codec/gradient_renderer.h"

#include "base/memdiag.h"
#include "tests/support/test_planes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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
