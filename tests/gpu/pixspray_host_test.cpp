// The GPU library on a machine without a card: its drawing rule, run on the
// processor as the card runs it, against the decoder's own fast renderer on
// real frames; and the bytes a call touches, which the mirror on the card
// must hold exactly.
#include "codec/frame_encoder.h"
#include "codec/gradient_renderer.h"
#include "gpu/pixspray_host.h"
#include "tests/support/test_planes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Block records of a photograph-like frame: smooth shading, edges, texture,
// analysed by the encoder; gradients with every direction the anchors give.
Bytes frameRecords(std::uint32_t w, std::uint32_t h, std::uint32_t B, unsigned seed) {
    test::TestPlanes p(w, h);
    std::mt19937 random(seed);
    p.fill([&](int c, std::uint32_t x, std::uint32_t y) {
        int v = 40 + static_cast<int>(x * (c + 1) / 2 + y * (3 - c) / 3); // smooth shading, every direction
        if ((x / 37 + y / 23) % 5 == 0) v = 230 - 40 * c;                  // flat patches with sharp edges
        if (x < w / 5) v += static_cast<int>(random() % 30) - 15;
        return v;
    });
    EncoderSettings settings = EncoderSettings::forFrame(B <= 4 ? -1 : B >= 16 ? 1 : 0, 8);
    settings.B = B;
    const EncoderGrid grid = EncoderGrid::forStream(w, h, B, 0, 1);
    BlockMap map;
    EXPECT_TRUE(analyseBlocks(p.source(), settings, grid, map));
    Bytes records(map.records.data(), map.records.data() + 9 * grid.blocks());
    // B = 2 is no encoder's size: the records are made up, every direction and slope.
    if (B == 2)
        for (std::size_t i = 0; i < grid.blocks(); ++i) {
            std::uint8_t* r = records.data() + 9 * i;
            r[0] = random() % 3 ? 1 : 0;
            for (int k = 1; k < 9; ++k) r[k] = static_cast<std::uint8_t>(random());
        }
    return records;
}

// One layout's buffer, filled with a pattern no renderer writes everywhere.
struct Buffer {
    std::vector<std::uint8_t> bytes;
    PixelTarget view;
    static Buffer surface(std::uint32_t w, std::uint32_t h) {
        Buffer b;
        const std::ptrdiff_t pitch = (static_cast<std::ptrdiff_t>(w) + 32) * 4;
        b.bytes.assign(static_cast<std::size_t>(pitch) * (h + 32), 0x5A);
        b.view = PixelTarget::fromSurface(b.bytes.data(), pitch, w, h, 16, 16, 8, 0);
        return b;
    }
    static Buffer planes(std::uint32_t w, std::uint32_t h) {
        Buffer b;
        b.bytes.assign(3 * (static_cast<std::size_t>(w) + 32) * (h + 32), 0x5A);
        b.view = PixelTarget::fromPlanes(b.bytes.data(), w, h);
        return b;
    }
};

// The call as the decoder makes it: base is the lowest address the band touches.
bool sprayAsTheDecoder(const PixelTarget& out, const Bytes& records, std::uint32_t B, std::uint32_t first,
                       std::uint32_t end, std::uint32_t columns, std::uint32_t rows) {
    const std::int64_t offG = out.channel[1] - out.channel[0], offB = out.channel[2] - out.channel[0];
    std::uint8_t* base = out.channel[0] + sprayLowestOffset(offG, offB, out.pixelStep, out.rowStep, B, first, end, columns);
    return spray::sprayOnHost(base, static_cast<int>(out.channel[0] - base), static_cast<int>(out.channel[1] - base),
                              static_cast<int>(out.channel[2] - base), static_cast<int>(out.pixelStep),
                              static_cast<int>(out.rowStep), static_cast<std::uint8_t>(B), first, end, records.data(),
                              columns, rows);
}

TEST(GpuKernel, DrawsEveryGradientBlockWithinOneOfTheProcessorsFastRenderer) {
    for (std::uint32_t B : {2u, 4u, 8u, 16u})
        for (bool planar : {false, true}) {
            const std::uint32_t w = 203, h = 117; // not multiples of any block size
            const Bytes records = frameRecords(w, h, B, B);
            const std::uint32_t columns = (w + B - 1) / B, rows = (h + B - 1) / B;
            Buffer cpu = planar ? Buffer::planes(w, h) : Buffer::surface(w, h);
            Buffer gpu = planar ? Buffer::planes(w, h) : Buffer::surface(w, h);
            // Two bands, as two streams would draw them.
            const std::uint32_t split = rows / 2;
            for (auto [first, end] : {std::pair{0u, split}, std::pair{split, rows}}) {
                ASSERT_TRUE(renderGradientsCpu({records.data(), columns, rows, B}, first, end, true, cpu.view));
                ASSERT_TRUE(sprayAsTheDecoder(gpu.view, records, B, first, end, columns, rows));
            }
            int gradients = 0, off = 0;
            for (std::uint32_t by = 0; by < rows; ++by)
                for (std::uint32_t bx = 0; bx < columns; ++bx) {
                    if (records[9 * (by * columns + bx)] != 1) continue;
                    ++gradients;
                    for (std::uint32_t y = by * B; y < std::min((by + 1) * B, h); ++y)
                        for (std::uint32_t x = bx * B; x < std::min((bx + 1) * B, w); ++x)
                            for (int c = 0; c < 3; ++c)
                                off += std::abs(int{cpu.view.at(c, x, y)} - int{gpu.view.at(c, x, y)}) > 1;
                }
            EXPECT_GT(gradients, 10) << "B " << B;
            EXPECT_EQ(off, 0) << "B " << B << (planar ? " planes" : " surface");
            // Other blocks are left exactly as they were.
            for (std::uint32_t y = 0; y < h; ++y)
                for (std::uint32_t x = 0; x < w; ++x) {
                    const std::uint32_t i = (y / B) * columns + x / B;
                    if (records[9 * i] == 1) continue;
                    ASSERT_EQ(gpu.view.at(0, x, y), 0x5A) << x << " " << y;
                }
        }
}

TEST(GpuKernel, TheBlockCentreHoldsTheBaseAndSlopesSaturate) {
    // Flat: slope 0 fills the block with the base; equal anchors draw a horizontal ramp.
    std::uint8_t flat[9] = {1, 0x00, 0x00, 77, 0, 88, 0, 99, 0};
    spray::Model m;
    ASSERT_TRUE(spray::model(flat, 8, m));
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(spray::value(m, 0, i, j), 77);
            EXPECT_EQ(spray::value(m, 2, i, j), 99);
        }
    std::uint8_t ramp[9] = {1, 0x33, 0x33, 100, 50, 100, 0, 100, 0};
    ASSERT_TRUE(spray::model(ramp, 8, m));
    EXPECT_EQ(spray::value(m, 0, 0, 0), spray::value(m, 0, 0, 7)); // rows alike
    EXPECT_LT(spray::value(m, 0, 0, 0), spray::value(m, 0, 7, 0)); // columns grow
    std::uint8_t high[9] = {1, 0x00, 0x07, 250, 127, 5, static_cast<std::uint8_t>(-127), 128, 0};
    ASSERT_TRUE(spray::model(high, 16, m));
    EXPECT_EQ(spray::value(m, 0, 15, 15), 255);
    EXPECT_EQ(spray::value(m, 1, 15, 15), 0);
    std::uint8_t left[9] = {2, 0x00, 0x07, 250, 127, 5, 0, 128, 0};
    EXPECT_FALSE(spray::model(left, 8, m)); // only type 1 is drawn
}

TEST(GpuBand, TheWholePictureOfA1080pSurfaceStaysInsideTheSurfacesOwnBytes) {
    // The base at the start of a locked 1920 x 1080 surface: pitch (1920 + 32) x 4,
    // the channels 16 rows and 16 pixels in. The mirror must not end past the surface.
    constexpr std::int64_t pitch = 7808, rows = 1080 + 32;
    const int offsets[3] = {16 * 7808 + 16 * 4 + 2, 16 * 7808 + 16 * 4 + 1, 16 * 7808 + 16 * 4 + 0};
    spray::Call call;
    ASSERT_TRUE(spray::plan(offsets[0], offsets[1], offsets[2], 4, 7808, 8, 0, 135, 240, 135, call));
    EXPECT_TRUE(call.band.interleaved);
    EXPECT_EQ(call.band.begin[0], 16 * 7808 + 16 * 4);
    EXPECT_EQ(call.band.end[0], (16 + 1079) * 7808 + (16 + 1919) * 4 + 3);
    EXPECT_LE(call.band.mirrorSize, pitch * rows);
    // And drawing it writes inside a buffer of exactly the surface's size (AddressSanitizer watches).
    std::vector<std::uint8_t> surface(static_cast<std::size_t>(pitch * rows));
    Bytes points(240 * 135 * 9, 0);
    for (std::size_t i = 0; i < points.size(); i += 9) points[i] = 1;
    EXPECT_TRUE(spray::sprayOnHost(surface.data(), offsets[0], offsets[1], offsets[2], 4, 7808, 8, 0, 135,
                                   points.data(), 240, 135));
}

TEST(GpuBand, BottomUpRowsAreSixtyFourBitSignedArithmetic) {
    // firstRow 1, R 8, row step -7808: the band's first row lies 62 464 bytes below
    // the base's row 0 (not 4 294 904 832 above it, as unsigned arithmetic gives).
    spray::Call call;
    const int origin = 1079 * 7808; // row 0 is the bottom row, the highest address
    ASSERT_TRUE(spray::plan(origin + 2, origin + 1, origin, 4, -7808, 8, 1, 3, 240, 135, call));
    EXPECT_EQ(call.target.plane[2], origin + 2 - 62464);
    EXPECT_EQ(call.band.begin[0], origin - (3 * 8 - 1) * 7808);
    EXPECT_EQ(call.band.end[0], origin - 8 * 7808 + 1919 * 4 + 2 + 1);
    // A band reaching below the base is refused, never wrapped.
    EXPECT_FALSE(spray::plan(2, 1, 0, 4, -7808, 8, 1, 3, 240, 135, call));
}

TEST(GpuBand, PlanesMirrorEachPlanesBand) {
    const int stride = 203 + 32, plane = stride * (117 + 32);
    const int o = 16 * stride + 16;
    spray::Call call;
    ASSERT_TRUE(spray::plan(o, o + plane, o + 2 * plane, 1, stride, 4, 2, 5, 51, 30, call));
    EXPECT_FALSE(call.band.interleaved);
    ASSERT_EQ(call.band.ranges, 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(call.band.begin[k], o + k * plane + 2 * 4 * stride);
        EXPECT_EQ(call.band.end[k], o + k * plane + (5 * 4 - 1) * stride + 51 * 4);
    }
    EXPECT_EQ(call.band.mirrorSize, call.band.end[2]);
    // The kernel's targets: blue, green, red origins of the band's first row.
    EXPECT_EQ(call.target.plane[0], o + 2 * plane + 2 * 4 * stride);
    EXPECT_EQ(call.target.plane[2], o + 2 * 4 * stride);
}

} // namespace
} // namespace vexel
