#include "codec/frame_encoder.h"

#include "codec/simd_dispatch.h"
#include "tests/support/test_planes.h"

#include <gtest/gtest.h>

#include <vector>

#include <cmath>
#include <functional>
#include <random>

namespace vexel {
namespace {

using Picture = test::TestPlanes;

struct Encoded {
    EncoderSettings settings;
    EncoderGrid grid;
    BlockMap map;
    std::uint8_t type(std::uint32_t bx, std::uint32_t by) const { return map.record(by * grid.columns + bx)[0]; }
    const std::uint8_t* record(std::uint32_t bx, std::uint32_t by) const { return map.record(by * grid.columns + bx); }
};

void encode(Encoded& e, const Picture& p, std::int8_t optimize = 0, std::uint8_t mode = 8, std::uint32_t stream = 0,
            std::uint32_t streams = 1) {
    e.settings = EncoderSettings::forFrame(optimize, mode);
    e.grid = EncoderGrid::forStream(p.w, p.h, e.settings.B, stream, streams);
    ASSERT_TRUE(analyseBlocks(p.source(), e.settings, e.grid, e.map));
}

TEST(EncoderSettings, BlockSizeAndThresholdsFollowTheOptimizeSetting) {
    EncoderSettings q = EncoderSettings::forFrame(-1, 8), d = EncoderSettings::forFrame(0, 8),
                    s = EncoderSettings::forFrame(1, 9);
    EXPECT_EQ(q.B, 4u);
    EXPECT_EQ(d.B, 8u);
    EXPECT_EQ(s.B, 16u);
    EXPECT_DOUBLE_EQ(q.T1, 5.5);
    EXPECT_DOUBLE_EQ(d.T1, 5.375);
    EXPECT_DOUBLE_EQ(s.T1, 5.25);
    EXPECT_NEAR(q.T2, 1.4508, 1e-4);
    EXPECT_NEAR(d.T2, 0.7641, 1e-4);
    EXPECT_NEAR(s.T2, 0.4024, 1e-4);
    EXPECT_EQ(d.initialType, kTypeKeep); // stored as 5 or 1 by mode, 2 in mode 9 (the writer's business)
    EXPECT_EQ(s.initialType, kTypeKeep);
    EXPECT_TRUE(q.firstAnchorOnly);
    EXPECT_FALSE(EncoderSettings::forFrame(-1, 7).firstAnchorOnly);
    EXPECT_FALSE(d.firstAnchorOnly);
}

TEST(EncoderGrid, StreamsCoverBandsOfBlockRows) {
    EncoderGrid g = EncoderGrid::forStream(30, 80, 8, 3, 3); // 10 block rows, P = 4
    EXPECT_EQ(g.rows, 10u);
    EXPECT_EQ(g.firstRow, 8u);
    EXPECT_EQ(g.endRow, 10u);
    EXPECT_EQ(EncoderGrid::forStream(30, 80, 8, 2, 3).firstRow, 4u);
    EncoderGrid empty = EncoderGrid::forStream(8, 8, 8, 4, 4); // more streams than rows
    EXPECT_EQ(empty.firstRow, empty.endRow);
}

TEST(FrameEncoder, AFlatPictureBecomesGradientsWithZeroSlopes) {
    Picture p(32, 24);
    p.fill([](int c, std::uint32_t, std::uint32_t) { return 40 + 50 * c; });
    Encoded e;
    encode(e, p);
    for (std::uint32_t by = 0; by < e.grid.rows; ++by)
        for (std::uint32_t bx = 0; bx < e.grid.columns; ++bx) {
            const std::uint8_t* r = e.record(bx, by);
            ASSERT_EQ(r[0], kTypeGradient);
            EXPECT_EQ(r[3], 140); // blue
            EXPECT_EQ(r[5], 90);  // green
            EXPECT_EQ(r[7], 40);  // red
            EXPECT_EQ(r[4] | r[6] | r[8], 0);
            // No gradient anywhere: every channel points up (pi/2), L = 7.
            EXPECT_EQ(r[1], 0x03); // (round(3.5 - cos(pi/2) x 3.5), 0): the cosine is not quite 0
            EXPECT_EQ(r[2], 0x74); // (4, 7)
        }
}

TEST(FrameEncoder, AHorizontalRampIsOneGradientAcrossTheBlock) {
    Picture p(64, 64);
    p.fill([](int, std::uint32_t x, std::uint32_t) { return 20 + 2 * static_cast<int>(x); });
    Encoded e;
    encode(e, p);
    const std::uint8_t* r = e.record(3, 3);
    ASSERT_EQ(r[0], kTypeGradient);
    // Direction 0 arrives as 2 pi, whose sine is slightly negative: first
    // (0, round(3.5 + e)) = (0, 4), second (7, round(3.5 - e)) = (7, 3).
    EXPECT_EQ(r[1], 0x40);
    EXPECT_EQ(r[2], 0x37);
    EXPECT_EQ(static_cast<std::int8_t>(r[6]), 20); // two steps per pixel, in tenths
    EXPECT_EQ(r[5], 20 + 2 * 24 + 7);              // the mean of the block's row of values
    // The model reproduces the ramp at the block's corners within the corner spread.
    double left = modelCornerValue(r, 1, -1, -1, 8), right = modelCornerValue(r, 1, 1, -1, 8);
    EXPECT_GT(right - left, 14);
}

TEST(FrameEncoder, NoiseStaysDetail) {
    Picture p(64, 32);
    std::mt19937 random(3);
    p.fill([&](int, std::uint32_t, std::uint32_t) { return static_cast<int>(random() % 256); });
    Encoded e;
    encode(e, p);
    for (std::uint32_t by = 0; by < e.grid.rows; ++by)
        for (std::uint32_t bx = 0; bx < e.grid.columns; ++bx) EXPECT_EQ(e.type(bx, by), kTypeDetail);
}

TEST(FrameEncoder, EdgeBlocksReadOnlyTheirInPicturePixels) {
    // A width not a multiple of B, with a bright margin around a flat picture:
    // the last block column has 4 columns in the picture and must still be a
    // flat gradient of the picture's value.
    Picture p(20, 24, /*margin=*/255);
    p.fill([](int, std::uint32_t, std::uint32_t) { return 100; });
    Encoded e;
    encode(e, p);
    ASSERT_EQ(e.grid.columns, 3u);
    const std::uint8_t* r = e.record(2, 1);
    EXPECT_EQ(r[0], kTypeGradient);
    EXPECT_EQ(r[5], 100);
    EXPECT_EQ(r[6], 0);
}

TEST(FrameEncoder, ACornerBlockWithOnePixelHasNoSlopeAndThatPixelAsBase) {
    Picture p(17, 17, /*margin=*/200); // B = 16: the corner block holds one pixel
    p.fill([](int c, std::uint32_t x, std::uint32_t y) { return static_cast<int>(x + y) + c; });
    Encoded e;
    encode(e, p, /*optimize=*/1);
    const std::uint8_t* r = e.record(1, 1);
    EXPECT_EQ(r[7], 32); // red of pixel (16, 16)
    EXPECT_EQ(r[5], 33);
    EXPECT_EQ(r[3], 34);
    EXPECT_EQ(r[4] | r[6] | r[8], 0);
}

TEST(FrameEncoder, BlocksOutsideTheBandKeepTheInitialTypeAndZeroParameters) {
    Picture p(16, 48);
    p.fill([](int, std::uint32_t, std::uint32_t) { return 77; });
    Encoded e;
    encode(e, p, 0, 9, /*stream=*/2, /*streams=*/2); // block rows 3 to 5 of 6
    for (std::uint32_t by = 0; by < 3; ++by) {
        EXPECT_EQ(e.type(0, by), kTypeKeep) << by;
        EXPECT_EQ(e.record(0, by)[5], 0);
    }
    // The band's first row is judged against the zero records below it, which
    // pull its corners towards 0; the rows above are gradients.
    EXPECT_EQ(e.type(0, 3), kTypeDetail);
    EXPECT_EQ(e.type(0, 4), kTypeGradient);
    EXPECT_EQ(e.type(1, 5), kTypeGradient);
}

TEST(FrameEncoder, CleanUpTurnsALoneGradientDetailAndANearMissDetailGradient) {
    EncoderSettings settings = EncoderSettings::forFrame(0, 8);
    EncoderGrid grid = EncoderGrid::forStream(5 * 8, 5 * 8, 8, 0, 1);
    BlockMap map;
    ASSERT_TRUE(map.records.allocate(9 * 25));
    ASSERT_TRUE(map.maeGreen.allocate(25));
    ASSERT_TRUE(map.e2Green.allocate(25));
    // A detail region with one gradient in the middle.
    for (int i = 0; i < 25; ++i) map.record(i)[0] = kTypeDetail, map.maeGreen[i] = 100, map.e2Green[i] = 100;
    map.record(12)[0] = kTypeGradient;
    cleanUpTypeMap(grid, settings, map);
    EXPECT_EQ(map.record(12)[0], kTypeDetail);

    // A gradient region with one detail block that nearly passed.
    for (int i = 0; i < 25; ++i) map.record(i)[0] = kTypeGradient;
    map.record(12)[0] = kTypeDetail;
    map.maeGreen[12] = static_cast<float>(3 * settings.T1);
    map.e2Green[12] = static_cast<float>(2 * settings.T2);
    cleanUpTypeMap(grid, settings, map);
    EXPECT_EQ(map.record(12)[0], kTypeGradient);

    // One that missed by more stays detail.
    map.record(12)[0] = kTypeDetail;
    map.maeGreen[12] = static_cast<float>(5 * settings.T1);
    cleanUpTypeMap(grid, settings, map);
    EXPECT_EQ(map.record(12)[0], kTypeDetail);
}

TEST(FrameEncoder, TheCleanUpSeesItsOwnChangesSoAThinRowErodesButABandSurvives) {
    EncoderSettings settings = EncoderSettings::forFrame(0, 8);
    EncoderGrid grid = EncoderGrid::forStream(5 * 8, 4 * 8, 8, 0, 1);
    BlockMap map;
    ASSERT_TRUE(map.records.allocate(9 * 20));
    ASSERT_TRUE(map.maeGreen.allocate(20));
    ASSERT_TRUE(map.e2Green.allocate(20));
    auto reset = [&](int gradientRows) {
        for (int i = 0; i < 20; ++i) map.record(i)[0] = kTypeDetail, map.maeGreen[i] = 100;
        for (int i = 5; i < 5 + 5 * gradientRows; ++i) map.record(i)[0] = kTypeGradient;
    };
    // One row: the first block has a single straight pair and turns detail,
    // which leaves the next one with a single pair, and so on.
    reset(1);
    cleanUpTypeMap(grid, settings, map);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(map.record(5 + x)[0], kTypeDetail) << x;
    // Two rows: every block has at least two like-neighbour pairs.
    reset(2);
    cleanUpTypeMap(grid, settings, map);
    for (int i = 5; i < 15; ++i) EXPECT_EQ(map.record(i)[0], kTypeGradient) << i;
}

// A ramp along a direction (degrees), with one anchor byte as in "-oq" modes 3
// and 8: a gradient block, drawn from the anchors the reader sees (the second
// read as (0, 0)) the way a decoder's fast painting draws it, must follow the
// source within the encoder's own error limit; a direction that cannot be
// carried must not come out as a different ramp.
void checkOneAnchorRamp(double degrees, std::uint8_t mode) {
    SCOPED_TRACE(testing::Message() << degrees << " degrees, mode " << int(mode));
    const double rad = degrees * 3.14159265358979323846 / 180;
    // Steep enough that a direction off by 45 degrees or more misses the limit.
    Picture p(20, 20);
    p.fill([&](int c, std::uint32_t x, std::uint32_t y) {
        return static_cast<int>(std::lround(60 + c * 10 + 6 * (std::cos(rad) * x + std::sin(rad) * y)));
    });
    Encoded e;
    encode(e, p, -1, mode);
    ASSERT_TRUE(e.settings.firstAnchorOnly);
    const double J = std::sqrt(2.0) * 0.5 + 0.5;
    int gradients = 0;
    for (std::uint32_t by = 0; by < e.grid.rows; ++by)
        for (std::uint32_t bx = 0; bx < e.grid.columns; ++bx) {
            const std::uint8_t* r = e.record(bx, by);
            if (r[0] != kTypeGradient) continue;
            ++gradients;
            EXPECT_EQ(r[2], 0);
            // Integer differences, as a decoder takes them: atan2(0, 0) is 0.
            double theta = std::atan2(static_cast<double>(0 - (r[1] >> 4)), static_cast<double>(0 - (r[1] & 15)));
            double slope = static_cast<std::int8_t>(r[6]) * 0.1, error = 0;
            for (int t = 0; t < 4; ++t)
                for (int c = 0; c < 4; ++c) {
                    double v = r[5] + J * slope * (std::cos(theta) * (c - 1.5) + std::sin(theta) * (t - 1.5));
                    error += std::fabs(v - p.at(1, bx * 4 + c, by * 4 + t));
                }
            EXPECT_LT(error / 16, e.settings.T1) << "block " << bx << "," << by;
        }
    if (degrees != 135) {
        EXPECT_GE(gradients, 16); // directions that can be carried are used
    }
}

TEST(FrameEncoder, OneAnchorByteRampsDecodeAsIntendedOrStayDetail) {
    for (std::uint8_t mode : {3, 8})
        for (double degrees : {0.0, 45.0, 90.0, 135.0}) checkOneAnchorRamp(degrees, mode);
}

TEST(FrameEncoder, UnchangedBlocksOfAVideoFrameAreKept) {
    Picture previous(32, 32), current(32, 32);
    std::mt19937 random(5);
    previous.fill([&](int, std::uint32_t, std::uint32_t) { return static_cast<int>(random() % 256); });
    current.fill([&](int c, std::uint32_t x, std::uint32_t y) {
        return x < 16 ? previous.at(c, x, y) : static_cast<int>(random() % 256);
    });
    for (std::uint8_t mode : {7, 8}) {
        Encoded e;
        encode(e, current, 0, mode);
        markKeepBlocks(current.source(), previous.source(), e.settings, e.grid, mode, e.map);
        for (std::uint32_t by = 0; by < 4; ++by) {
            EXPECT_EQ(e.type(0, by), e.settings.initialType);
            EXPECT_EQ(e.type(1, by), e.settings.initialType);
            EXPECT_EQ(e.type(2, by), kTypeDetail);
        }
        EXPECT_EQ(e.map.motionSection, mode == 7); // mode 8 never writes the motion section
    }
}

TEST(FrameEncoder, ASurfaceSourceReadsChannelsByShiftAndRowsBottomUp) {
    // A 2 x 2 picture on a 32-bit surface with a 16-pixel border.
    const std::uint32_t w = 2, h = 2, border = 16, pitch = (w + 2 * border) * 4;
    std::vector<std::uint8_t> bits(pitch * (h + 2 * border), 0);
    auto px = [&](std::uint32_t x, std::uint32_t yTop) { return &bits[(yTop + border) * pitch + (x + border) * 4]; };
    px(0, 1)[2] = 11; // bottom-left pixel's red (shift 16)
    px(1, 0)[0] = 22; // top-right pixel's blue (shift 0)
    SourcePlanes s = SourcePlanes::fromSurface(bits.data(), pitch, w, h, border, 16, 8, 0);
    EXPECT_EQ(s.at(0, 0, 0), 11);
    EXPECT_EQ(s.at(2, 1, 1), 22);
}

} // namespace
} // namespace vexel

namespace vexel {
namespace {

// The plain search over all 256 anchor bytes.
FirstAnchor nearestFirstAnchorByScan(double a) {
    const double pi = 3.14159265358979323846;
    FirstAnchor best{0, false};
    double bestDistance = 10;
    for (int i = 0; i < 256; ++i) {
        double theta = std::atan2(static_cast<double>(0 - (i >> 4)), static_cast<double>(0 - (i & 15)));
        double d = std::fabs(std::remainder(theta - a, pi));
        if (d < bestDistance - 1e-12) {
            bestDistance = d;
            best = {static_cast<std::uint8_t>(i), std::fabs(std::remainder(theta - a, 2 * pi)) > pi / 2};
        }
    }
    return best;
}

TEST(FirstAnchor, TheSortedLookupFindsWhatTheScanFinds) {
    std::mt19937 random(12);
    std::uniform_real_distribution<double> angle(0, 2 * 3.14159265358979323846);
    for (int i = 0; i < 20000; ++i) {
        double a = i < 360 ? i * 3.14159265358979323846 / 180 : angle(random);
        FirstAnchor fast = nearestFirstAnchor(a), scan = nearestFirstAnchorByScan(a);
        ASSERT_EQ(fast.byte, scan.byte) << a;
        ASSERT_EQ(fast.flip, scan.flip) << a;
    }
}

} // namespace
} // namespace vexel

namespace vexel {
namespace {

// Every form of the model-error row gives the plain form's sums: rows of 1 to
// 16 pixels, planes and 32-bit pixels, model values below 0, above 255 and
// exactly halfway between two bytes.
TEST(FrameEncoder, EveryFormOfTheModelErrorRowGivesThePlainSums) {
    const SimdPath before = currentSimdPath();
    std::uint32_t seed = 99;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u, seed >> 8; };
    std::vector<std::uint8_t> source(64);
    int forms = 0;
    for (SimdPath path : {SimdPath::Sse2, SimdPath::Avx2}) {
        if (!useSimdPath(path)) continue;
        ++forms;
        const ModelErrorRowKernel row = codecKernels().modelErrorRow;
        for (int trial = 0; trial < 20000; ++trial) {
            for (auto& b : source) b = static_cast<std::uint8_t>(next());
            const std::uint32_t n = 1 + next() % 16;
            const std::ptrdiff_t step = next() % 2 ? 1 : 4;
            // Halves: a whole left with a slope of 1 puts every model value halfway between two bytes.
            const bool halves = trial % 5 == 0;
            const double slope = halves ? 1.0 : (static_cast<double>(next() % 20001) - 10000) / 97.0;
            const double left = halves ? static_cast<double>(next() % 300) - 20.0
                                       : (static_cast<double>(next() % 40001) - 10000) / 61.0;
            std::int64_t a1 = 5, s1 = 7, a2 = 5, s2 = 7;
            modelErrorRowPlain(source.data(), step, n, left, slope, a1, s1);
            row(source.data(), step, n, left, slope, a2, s2);
            ASSERT_EQ(a1, a2) << simdPathName(path) << " n " << n << " left " << left << " slope " << slope;
            ASSERT_EQ(s1, s2) << simdPathName(path) << " n " << n << " left " << left << " slope " << slope;
        }
    }
    useSimdPath(before);
    EXPECT_GE(forms, 1);
}

} // namespace
} // namespace vexel
