#include "codec/colour_transforms.h"

#include "codec/simd_dispatch.h"
#include "tests/support/test_planes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace vexel {
namespace {

struct Ycc {
    float y, cb, cr;
};

Ycc forward(float r, float g, float b) {
    Ycc v;
    RgbToYcc(r, g, b, &v.y, &v.cb, &v.cr);
    return v;
}

TEST(ColourTransforms, BlackAndWhiteHaveNeutralChroma) {
    Ycc black = forward(0, 0, 0);
    EXPECT_EQ(black.y, 0.0f);
    EXPECT_EQ(black.cb, 128.0f);
    EXPECT_EQ(black.cr, 128.0f);
    Ycc white = forward(255, 255, 255);
    EXPECT_NEAR(white.y, 255.0f, 1e-3);
    EXPECT_NEAR(white.cb, 128.0f, 1e-3);
    EXPECT_NEAR(white.cr, 128.0f, 1e-3);
}

TEST(ColourTransforms, PureBlueAndRedClampTheirChromaAt127) {
    Ycc blue = forward(0, 0, 255);
    EXPECT_NEAR(blue.y, 29.07f, 1e-4);
    EXPECT_EQ(blue.cb, 255.0f); // 225.93 x 0.565 = 127.65, clamped to 127
    EXPECT_NEAR(blue.cr, 128.0f - 29.07f * 0.713f, 1e-3);
    Ycc red = forward(255, 0, 0);
    EXPECT_NEAR(red.y, 76.245f, 1e-4);
    EXPECT_EQ(red.cr, 255.0f); // 178.755 x 0.713 = 127.45, clamped
}

TEST(ColourTransforms, TheLegacyPairExchangesTheChromaFactors) {
    float y, cb, cr;
    RgbToYccLegacy(0, 0, 100, &y, &cb, &cr);
    EXPECT_NEAR(cb - 128.0f, (100 - 11.4f) * 0.713f, 1e-3);
    float r, g, b;
    YccToRgbLegacy(y, cb, cr, &r, &g, &b);
    EXPECT_NEAR(b, 100.0f, 0.5f); // 1.403 x 0.713 is close to 1
    EXPECT_EQ(ColourTransforms::forMode(0).forward, &RgbToYccLegacy);
    EXPECT_EQ(ColourTransforms::forMode(8).inverse, &YccToRgb);
}

TEST(ColourTransforms, TheInverseClampsEveryChannel) {
    float r, g, b;
    YccToRgb(0, 255, 255, &r, &g, &b);
    EXPECT_NEAR(r, 178.18f, 1e-2);
    EXPECT_EQ(g, 0.0f); // -134.37
    EXPECT_NEAR(b, 224.79f, 1e-2);
}

TEST(ColourTransforms, RoundTripsStayWithinOneStepOverTheCube) {
    for (int r = 0; r < 256; r += 15)
        for (int g = 0; g < 256; g += 15)
            for (int b = 0; b < 256; b += 15) {
                Ycc v = forward(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
                ASSERT_GE(v.y, 0.0f);
                ASSERT_LE(v.cb, 255.0f);
                float R, G, B;
                YccToRgb(v.y, v.cb, v.cr, &R, &G, &B);
                // Chroma clamping limits saturated colours; the rest comes back closely.
                if (v.cb > 0.5f && v.cb < 254.5f && v.cr > 0.5f && v.cr < 254.5f) {
                    EXPECT_NEAR(R, r, 1.5f);
                    EXPECT_NEAR(G, g, 1.5f);
                    EXPECT_NEAR(B, b, 1.5f);
                }
            }
}

} // namespace
} // namespace vexel

namespace vexel {
namespace {

std::uint8_t rounded(float v) { return static_cast<std::uint8_t>(std::nearbyint(std::clamp(v, 0.0f, 255.0f))); }

TEST(ColourTransforms, TheByteTablesGiveTheReferenceBytesForEveryInput) {
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            for (int c = 0; c < 256; ++c) {
                const auto r = static_cast<std::uint8_t>(a), g = static_cast<std::uint8_t>(b), bl = static_cast<std::uint8_t>(c);
                float y, cb, cr;
                RgbToYcc(r, g, bl, &y, &cb, &cr);
                const YccBytes fast = rgbToYccBytes(r, g, bl);
                ASSERT_EQ(fast.y, rounded(y)) << a << "," << b << "," << c;
                ASSERT_EQ(fast.cb, rounded(cb)) << a << "," << b << "," << c;
                ASSERT_EQ(fast.cr, rounded(cr)) << a << "," << b << "," << c;
                float R, G, B;
                YccToRgb(r, g, bl, &R, &G, &B); // the same bytes read as Y, Cb, Cr
                const RgbBytes back = yccToRgbBytes(r, g, bl);
                ASSERT_EQ(back.r, rounded(R)) << a << "," << b << "," << c;
                ASSERT_EQ(back.g, rounded(G)) << a << "," << b << "," << c;
                ASSERT_EQ(back.b, rounded(B)) << a << "," << b << "," << c;
            }
}

} // namespace
} // namespace vexel

// The transforms against a reference computed here, in long double, from the
// constants written out here: a wrong constant in the module cannot move the
// reference with it.
namespace vexel {
namespace {

// The luminance weights, the chroma factors of the forward transform and
// the four factors of the inverse, as double-precision values.
constexpr double kWeightR = 0.299, kWeightG = 0.587, kWeightB = 0.114;
constexpr double kCbFactor = 0.565, kCrFactor = 0.713;
constexpr double kRedCr = 1.403, kGreenCr = 0.714, kGreenCb = 0.344, kBlueCb = 1.77;

struct Triple {
    float a, b, c;
};

// Forward: Y kept as a float, chroma from that float Y, each kept as a
// float; chroma clamped to -128..127, Y to 0..255, chroma offset by 128.
// The legacy transform exchanges the chroma factors.
Triple referenceForward(float r, float g, float b, bool legacy) {
    using W = long double;
    const W cbFactor = legacy ? kCrFactor : kCbFactor, crFactor = legacy ? kCbFactor : kCrFactor;
    float y = static_cast<float>(W(kWeightR) * r + W(kWeightG) * g + W(kWeightB) * b);
    float cb = static_cast<float>((W(b) - y) * cbFactor);
    float cr = static_cast<float>((W(r) - y) * crFactor);
    cb = std::clamp(cb, -128.0f, 127.0f);
    cr = std::clamp(cr, -128.0f, 127.0f);
    y = std::clamp(y, 0.0f, 255.0f);
    return {y, cb + 128.0f, cr + 128.0f};
}

// Inverse: d = Cr - 128, f = Cb - 128; R = Y + 1.403 d, G = Y - 0.714 d -
// 0.344 f, B = Y + 1.77 f; each clamped to 0..255. The legacy transform:
// R = Y + 1.77 d, G = Y - 0.344 d - 0.714 f, B = Y + 1.403 f.
Triple referenceInverse(float y, float cb, float cr, bool legacy) {
    using W = long double;
    const W d = cr - 128.0f, f = cb - 128.0f;
    const W r = legacy ? y + W(kBlueCb) * d : y + W(kRedCr) * d;
    const W g = legacy ? y - W(kGreenCb) * d - W(kGreenCr) * f : y - W(kGreenCr) * d - W(kGreenCb) * f;
    const W b = legacy ? y + W(kRedCr) * f : y + W(kBlueCb) * f;
    auto clamped = [](W v) { return std::clamp(static_cast<float>(v), 0.0f, 255.0f); };
    return {clamped(r), clamped(g), clamped(b)};
}

// Whether a byte is the value rounded to nearest, ties to even. Within a
// millionth of a tie the other neighbour passes too (the precision of the
// intermediate steps decides there): such disagreements are counted.
bool roundsTo(std::uint8_t byte, long double value, long& disagreements) {
    if (byte == std::nearbyint(value)) return true;
    const long double fraction = value - std::floor(value);
    if (std::fabs(fraction - 0.5L) >= 1e-6L) return false;
    ++disagreements;
    return byte == std::floor(value) || byte == std::ceil(value);
}

TEST(ColourTransforms, TheFourTransformsMatchTheReferenceOverTheCube) {
    for (bool legacy : {false, true})
        for (int a = 0; a < 256; a += 3)
            for (int b = 1; b < 256; b += 5)
                for (int c = 2; c < 256; c += 7) {
                    const float u = static_cast<float>(a), v = static_cast<float>(b), x = static_cast<float>(c);
                    Triple got, want = referenceForward(u, v, x, legacy);
                    (legacy ? RgbToYccLegacy : RgbToYcc)(u, v, x, &got.a, &got.b, &got.c);
                    ASSERT_NEAR(got.a, want.a, 1e-4) << "forward Y of " << a << "," << b << "," << c << " legacy " << legacy;
                    ASSERT_NEAR(got.b, want.b, 1e-4) << "forward Cb of " << a << "," << b << "," << c << " legacy " << legacy;
                    ASSERT_NEAR(got.c, want.c, 1e-4) << "forward Cr of " << a << "," << b << "," << c << " legacy " << legacy;
                    // The same three values read as Y, Cb, Cr, and a fractional Y.
                    for (float y : {u, u + 0.37f}) {
                        want = referenceInverse(y, v, x, legacy);
                        (legacy ? YccToRgbLegacy : YccToRgb)(y, v, x, &got.a, &got.b, &got.c);
                        ASSERT_NEAR(got.a, want.a, 1e-4) << "inverse R of " << y << "," << b << "," << c << " legacy " << legacy;
                        ASSERT_NEAR(got.b, want.b, 1e-4) << "inverse G of " << y << "," << b << "," << c << " legacy " << legacy;
                        ASSERT_NEAR(got.c, want.c, 1e-4) << "inverse B of " << y << "," << b << "," << c << " legacy " << legacy;
                    }
                }
}

TEST(ColourTransforms, TheByteTablesMatchTheReferenceForEveryInput) {
    long disagreements = 0;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            for (int c = 0; c < 256; ++c) {
                const auto u = static_cast<std::uint8_t>(a), v = static_cast<std::uint8_t>(b), x = static_cast<std::uint8_t>(c);
                const Triple ycc = referenceForward(u, v, x, false);
                const YccBytes fast = rgbToYccBytes(u, v, x);
                ASSERT_TRUE(roundsTo(fast.y, ycc.a, disagreements)) << "Y of " << a << "," << b << "," << c << ": " << int(fast.y) << " for " << ycc.a;
                ASSERT_TRUE(roundsTo(fast.cb, ycc.b, disagreements)) << "Cb of " << a << "," << b << "," << c << ": " << int(fast.cb) << " for " << ycc.b;
                ASSERT_TRUE(roundsTo(fast.cr, ycc.c, disagreements)) << "Cr of " << a << "," << b << "," << c << ": " << int(fast.cr) << " for " << ycc.c;
                const Triple rgb = referenceInverse(u, v, x, false); // the same bytes read as Y, Cb, Cr
                const RgbBytes back = yccToRgbBytes(u, v, x);
                ASSERT_TRUE(roundsTo(back.r, rgb.a, disagreements)) << "R of " << a << "," << b << "," << c << ": " << int(back.r) << " for " << rgb.a;
                ASSERT_TRUE(roundsTo(back.g, rgb.b, disagreements)) << "G of " << a << "," << b << "," << c << ": " << int(back.g) << " for " << rgb.b;
                ASSERT_TRUE(roundsTo(back.b, rgb.c, disagreements)) << "B of " << a << "," << b << "," << c << ": " << int(back.b) << " for " << rgb.c;
            }
    // The reference decides almost every byte.
    EXPECT_LT(disagreements, 1000) << disagreements;
}

TEST(ColourTransforms, TheBytesOfEachModeMatchTheReferenceOfItsPair) {
    long disagreements = 0;
    for (int mode : {0, 1, 9})
        for (int a = 0; a < 256; a += 5)
            for (int b = 2; b < 256; b += 3)
                for (int c = 1; c < 256; c += 4) {
                    const bool legacy = mode == 0;
                    const auto m = static_cast<std::uint8_t>(mode);
                    const auto u = static_cast<std::uint8_t>(a), v = static_cast<std::uint8_t>(b), x = static_cast<std::uint8_t>(c);
                    const Triple ycc = referenceForward(u, v, x, legacy);
                    const YccBytes fast = rgbToYccBytes(m, u, v, x);
                    ASSERT_TRUE(roundsTo(fast.y, ycc.a, disagreements)) << "mode " << mode << " Y of " << a << "," << b << "," << c;
                    ASSERT_TRUE(roundsTo(fast.cb, ycc.b, disagreements)) << "mode " << mode << " Cb of " << a << "," << b << "," << c;
                    ASSERT_TRUE(roundsTo(fast.cr, ycc.c, disagreements)) << "mode " << mode << " Cr of " << a << "," << b << "," << c;
                    const Triple rgb = referenceInverse(u, v, x, legacy);
                    const RgbBytes back = yccToRgbBytes(m, u, v, x);
                    ASSERT_TRUE(roundsTo(back.r, rgb.a, disagreements)) << "mode " << mode << " R of " << a << "," << b << "," << c;
                    ASSERT_TRUE(roundsTo(back.g, rgb.b, disagreements)) << "mode " << mode << " G of " << a << "," << b << "," << c;
                    ASSERT_TRUE(roundsTo(back.b, rgb.c, disagreements)) << "mode " << mode << " B of " << a << "," << b << "," << c;
                }
    EXPECT_LT(disagreements, 100) << disagreements;
}

} // namespace
} // namespace vexel

namespace vexel {
namespace {

// Every form of the detail-row kernel gives yccToRgbBytes's bytes for every
// (Y, Cb, Cr), into planes and into a surface with the channels in lanes 2,
// 1, 0, leaving the surface's fourth byte alone; rows of every length up to
// 19 take each form's tail.
TEST(ColourTransforms, EveryFormOfTheDetailRowGivesTheTableBytesForEveryInput) {
    const SimdPath before = currentSimdPath();
    std::vector<std::uint8_t> cbRow(256), crRow(256), lumaRow(256);
    for (int i = 0; i < 256; ++i) crRow[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    const std::uint32_t width = 256, height = 1, border = 16, pitch = 4 * (width + 2 * border);
    test::TestPlanes planes(width, height, 7);
    std::vector<std::uint8_t> surface(pitch * (height + 2 * border), 7);
    const PixelTarget words = PixelTarget::fromSurface(surface.data(), pitch, width, height, border, 16, 8, 0);
    int forms = 0;
    for (SimdPath path : {SimdPath::Plain, SimdPath::Sse2, SimdPath::Avx2}) {
        if (!useSimdPath(path)) continue;
        ++forms;
        const YccRowKernel row = codecKernels().yccRow;
        for (int y = 0; y < 256; ++y) {
            std::fill(lumaRow.begin(), lumaRow.end(), static_cast<std::uint8_t>(y));
            for (int cb = 0; cb < 256; ++cb) {
                std::fill(cbRow.begin(), cbRow.end(), static_cast<std::uint8_t>(cb));
                // Every Cr in one row of 256, then a short row for the tails
                // (written over the first, so each must draw every pixel it is given).
                for (const std::uint32_t n : {256u, static_cast<std::uint32_t>((y + cb) % 20)}) {
                for (std::uint32_t x = 0; x < 20; ++x)
                    for (int c = 0; c < 3; ++c) planes.target().at(c, x, 0) = words.at(c, x, 0) = 7;
                row(planes.target(), 0, 0, lumaRow.data(), cbRow.data(), crRow.data(), n);
                row(words, 0, 0, lumaRow.data(), cbRow.data(), crRow.data(), n);
                for (std::uint32_t x = 0; x < n; ++x) {
                    const RgbBytes want = yccToRgbBytes(static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(cb),
                                                        static_cast<std::uint8_t>(x));
                    const std::uint8_t got[3] = {planes.target().at(0, x, 0), planes.target().at(1, x, 0),
                                                 planes.target().at(2, x, 0)};
                    const std::uint8_t gotWords[4] = {words.at(0, x, 0), words.at(1, x, 0), words.at(2, x, 0),
                                                      (&words.at(2, x, 0))[3]};
                    ASSERT_TRUE(got[0] == want.r && got[1] == want.g && got[2] == want.b &&
                                gotWords[0] == want.r && gotWords[1] == want.g && gotWords[2] == want.b &&
                                gotWords[3] == 7)
                        << simdPathName(path) << " Y " << y << " Cb " << cb << " Cr " << x;
                }
                }
            }
        }
    }
    useSimdPath(before);
    EXPECT_GE(forms, 1);
}

} // namespace
} // namespace vexel
