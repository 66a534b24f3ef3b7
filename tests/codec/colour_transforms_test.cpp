#include "codec/colour_transforms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

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
