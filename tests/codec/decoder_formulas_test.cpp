// The decoder against the format itself: streams written byte by byte here,
// pixels expected from the format's formulas computed here - never from the
// project's encoder, so a fault made the same way in both cannot pass.
#include "codec/frame_decoder.h"
#include "pipeline/codec_session.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kW = 24, kH = 8, kB = 8, kD = 2;
constexpr int kRed = TPicturePlanes::kRed, kGreen = TPicturePlanes::kGreen, kBlue = TPicturePlanes::kBlue;

// Rounds to nearest with ties to even after clamping to 0..255, and makes
// sure the value is not so near a tie that float and double could disagree.
int expectedByte(long double v) {
    v = std::clamp(v, 0.0L, 255.0L);
    const long double fraction = v - std::floor(v);
    EXPECT_GT(std::fabs(fraction - 0.5L), 1e-3L) << "a test value too close to a tie: " << static_cast<double>(v);
    return static_cast<int>(std::nearbyint(v));
}

// A gradient block's record bytes 1..8: anchors (x low nibble, y high),
// then base and slope (tenths, signed) of blue, green, red.
struct Gradient {
    std::uint8_t first = 0x00, second = 0x34; // direction (4, 3)
    std::uint8_t base[3] = {120, 80, 200};     // red, green, blue
    std::int8_t slope[3] = {37, -52, 11};      // tenths per pixel

    Bytes bytes() const {
        return {first,
                second,
                base[2],
                static_cast<std::uint8_t>(slope[2]),
                base[1],
                static_cast<std::uint8_t>(slope[1]),
                base[0],
                static_cast<std::uint8_t>(slope[0])};
    }
    double theta() const {
        const int dx = (second & 15) - (first & 15), dy = (second >> 4) - (first >> 4);
        return std::atan2(static_cast<double>(dy), static_cast<double>(dx));
    }
    // Fast painting: base + J slope (cos theta (c - (B-1)/2) + sin theta (t - (B-1)/2)).
    int fast(int channel, int t, int c) const {
        const long double J = std::sqrt(2.0L) * 0.5L + 0.5L, k = slope[channel] * 0.1L;
        const long double half = (kB - 1) / 2.0L;
        return expectedByte(base[channel] + J * k * std::cos(theta()) * (c - half) + J * k * std::sin(theta()) * (t - half));
    }
    // Smooth painting of a block with no gradient neighbours: its own corner
    // values, bilinear at pixel centres.
    int smooth(int channel, int t, int c) const {
        const long double J = std::sqrt(2.0L) * 0.5L + 0.5L, k = slope[channel] * 0.1L;
        auto corner = [&](int cx, int cy) {
            return base[channel] + (cx * std::cos(theta()) + cy * std::sin(theta())) * J * k * kB / 2.0L;
        };
        const long double u = t + 0.5L, v = c + 0.5L;
        const long double left = ((kB - u) * corner(-1, -1) + u * corner(-1, 1)) / kB;
        const long double right = ((kB - u) * corner(1, -1) + u * corner(1, 1)) / kB;
        return expectedByte(left + (right - left) * v / kB);
    }
};

// A detail block: luma per pixel, one (Cr, Cb) pair per D x D cell.
struct Detail {
    std::uint8_t luma(int t, int c) const { return static_cast<std::uint8_t>(40 + 19 * c + 7 * t); }
    std::uint8_t cr(int cellRow, int cellColumn) const { return static_cast<std::uint8_t>(90 + 13 * cellColumn + 3 * cellRow); }
    std::uint8_t cb(int cellRow, int cellColumn) const { return static_cast<std::uint8_t>(170 - 11 * cellColumn - 5 * cellRow); }

    Bytes bytes() const {
        Bytes out;
        for (int t = 0; t < static_cast<int>(kB); ++t)
            for (int c = 0; c < static_cast<int>(kB); ++c) out.push_back(luma(t, c));
        for (int cy = 0; cy < static_cast<int>(kB / kD); ++cy)
            for (int cx = 0; cx < static_cast<int>(kB / kD); ++cx) {
                out.push_back(cr(cy, cx));
                out.push_back(cb(cy, cx));
            }
        return out;
    }
    // The current inverse transform: d = Cr - 128, f = Cb - 128,
    // R = Y + 1.403 d, G = Y - 0.714 d - 0.344 f, B = Y + 1.77 f.
    int rgb(int channel, int t, int c) const {
        const long double y = luma(t, c), d = cr(t / kD, c / kD) - 128.0L, f = cb(t / kD, c / kD) - 128.0L;
        const long double v[3] = {y + 1.403L * d, y - 0.714L * d - 0.344L * f, y + 1.77L * f};
        return expectedByte(v[channel]);
    }
};

// Mode 1, one stream, three blocks left to right: gradient, detail, keep.
Bytes modeOneStream(const Gradient& g, const Detail& d) {
    Bytes s = {1};
    const Bytes gb = g.bytes(), db = d.bytes();
    s.insert(s.end(), gb.begin(), gb.end());
    s.push_back(0);
    s.insert(s.end(), db.begin(), db.end());
    s.push_back(5);
    return s;
}

int decode(CodecSession& session, const Bytes& stream, bool fast) {
    StreamDecodeJob job;
    job.stream = stream;
    job.mode = 1;
    job.width = kW;
    job.height = kH;
    job.blockSize = kB;
    job.chromaStep = kD;
    job.fastPaint = fast;
    job.headerSize = 47;
    job.legacyFlags = session.codec.legacyFlags;
    job.repack = &session.repack;
    PictureBufferTarget target(session.picture);
    return decodeStream(target, job);
}

// The previous frame: a pattern no block of the stream could make.
void previousFrame(CodecSession& session) {
    ASSERT_TRUE(session.picture.frameBuffer.allocate(kW, kH));
    for (int p = 0; p < 3; ++p)
        for (std::uint32_t y = 0; y < kH; ++y)
            for (std::uint32_t x = 0; x < kW; ++x)
                session.picture.frameBuffer.row(p, static_cast<std::int32_t>(y))[x] = static_cast<std::uint8_t>(7 * x + 31 * y + 50 * p);
}

TEST(DecoderFormulas, AGradientBlockIsItsBasePlusItsSlopeAlongItsDirection) {
    const Gradient g;
    for (bool fast : {true, false}) {
        CodecSession session;
        ASSERT_TRUE(session.picture.planes.allocate(kW, kH));
        ASSERT_EQ(decode(session, modeOneStream(g, Detail()), fast), kDone);
        for (int channel : {kRed, kGreen, kBlue})
            for (int t = 0; t < static_cast<int>(kB); ++t)
                for (int c = 0; c < static_cast<int>(kB); ++c)
                    ASSERT_EQ(session.picture.planes.row(channel, t)[c], fast ? g.fast(channel, t, c) : g.smooth(channel, t, c))
                        << (fast ? "fast" : "smooth") << " channel " << channel << " row " << t << " column " << c;
    }
}

TEST(DecoderFormulas, ADetailBlockIsItsLumaWithItsCellsChromaThroughTheInverseTransform) {
    const Detail d;
    CodecSession session;
    ASSERT_TRUE(session.picture.planes.allocate(kW, kH));
    ASSERT_EQ(decode(session, modeOneStream(Gradient(), d), /*fast=*/true), kDone);
    for (int channel : {kRed, kGreen, kBlue})
        for (int t = 0; t < static_cast<int>(kB); ++t)
            for (int c = 0; c < static_cast<int>(kB); ++c)
                ASSERT_EQ(session.picture.planes.row(channel, t)[kB + c], d.rgb(channel, t, c))
                    << "channel " << channel << " row " << t << " column " << c;
}

TEST(DecoderFormulas, AKeptBlockIsThePreviousFramesPixelsAndWithoutOneIsLeftAlone) {
    CodecSession session;
    ASSERT_TRUE(session.picture.planes.allocate(kW, kH));
    previousFrame(session);
    ASSERT_EQ(decode(session, modeOneStream(Gradient(), Detail()), true), kDone);
    for (int p = 0; p < 3; ++p)
        for (std::uint32_t y = 0; y < kH; ++y)
            for (std::uint32_t x = 2 * kB; x < kW; ++x)
                ASSERT_EQ(session.picture.planes.row(p, static_cast<std::int32_t>(y))[x],
                          session.picture.frameBuffer.row(p, static_cast<std::int32_t>(y))[x])
                    << p << " " << x << " " << y;

    CodecSession first; // no previous frame: the block keeps what the planes held
    ASSERT_TRUE(first.picture.planes.allocate(kW, kH));
    for (int p = 0; p < 3; ++p)
        for (std::uint32_t y = 0; y < kH; ++y) first.picture.planes.row(p, static_cast<std::int32_t>(y))[kW - 1] = 99;
    ASSERT_EQ(decode(first, modeOneStream(Gradient(), Detail()), true), kDone);
    for (int p = 0; p < 3; ++p)
        for (std::uint32_t y = 0; y < kH; ++y) EXPECT_EQ(first.picture.planes.row(p, static_cast<std::int32_t>(y))[kW - 1], 99);
}

} // namespace
} // namespace vexel
