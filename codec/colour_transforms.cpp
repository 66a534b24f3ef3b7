#include "codec/colour_transforms.h"

#include "codec/rounding.h"
#include "codec/simd_dispatch.h"

namespace vexel {

namespace {

using Wide = long double;

inline void clampRgb(float& r, float& g, float& b) {
    if (r > 255.0f) r = 255.0f;
    if (g > 255.0f) g = 255.0f;
    if (b > 255.0f) b = 255.0f;
    if (r < 0.0f) r = 0.0f;
    if (g < 0.0f) g = 0.0f;
    if (b < 0.0f) b = 0.0f;
}

} // namespace

void RgbToYcc(float r, float g, float b, float* y, float* cb, float* cr) { rgbToYccInline(r, g, b, y, cb, cr); }

void RgbToYccLegacy(float r, float g, float b, float* y, float* cb, float* cr) { rgbToYccLegacyInline(r, g, b, y, cb, cr); }

void YccToRgb(float y, float cb, float cr, float* rOut, float* gOut, float* bOut) {
    float d = cr - 128.0f, f = cb - 128.0f;
    float r = static_cast<float>(Wide(y) + Wide(1.403) * d);
    float g = static_cast<float>(Wide(y) - Wide(0.714) * d - Wide(0.344) * f);
    float b = static_cast<float>(Wide(y) + Wide(1.77) * f);
    clampRgb(r, g, b);
    *rOut = r;
    *gOut = g;
    *bOut = b;
}

void YccToRgbLegacy(float y, float cb, float cr, float* rOut, float* gOut, float* bOut) {
    float d = cr - 128.0f, f = cb - 128.0f;
    float r = static_cast<float>(Wide(y) + Wide(1.77) * d);
    float g = static_cast<float>(Wide(y) - Wide(0.344) * d - Wide(0.714) * f);
    float b = static_cast<float>(Wide(y) + Wide(1.403) * f);
    clampRgb(r, g, b);
    *rOut = r;
    *gOut = g;
    *bOut = b;
}

namespace {
using colour_tables::clampRound;

colour_tables::PairBytes makePairBytes() {
    colour_tables::PairBytes p;
    for (int y = 0; y < 256; ++y)
        for (int c = 0; c < 256; ++c) {
            p.red[y][c] = colour_tables::redByte(static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(c));
            p.blue[y][c] = colour_tables::blueByte(static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(c));
        }
    return p;
}
} // namespace

const colour_tables::PairBytes colour_tables::pairBytes = makePairBytes();

YccBytes rgbToYccBytes(std::uint8_t mode, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    if (mode != 0) return rgbToYccBytes(r, g, b);
    float y, cb, cr;
    RgbToYccLegacy(r, g, b, &y, &cb, &cr);
    return {clampRound(y), clampRound(cb), clampRound(cr)};
}

RgbBytes yccToRgbBytes(std::uint8_t mode, std::uint8_t y, std::uint8_t cb, std::uint8_t cr) {
    if (mode != 0) return yccToRgbBytes(y, cb, cr);
    float r, g, b;
    YccToRgbLegacy(y, cb, cr, &r, &g, &b);
    return {clampRound(r), clampRound(g), clampRound(b)};
}

void yccRowPlain(const PixelTarget& t, std::int64_t x, std::int64_t y, const std::uint8_t* luma, const std::uint8_t* cb,
                 const std::uint8_t* cr, std::uint32_t n) {
    std::uint8_t* r = &t.at(0, x, y);
    std::uint8_t* g = &t.at(1, x, y);
    std::uint8_t* b = &t.at(2, x, y);
    const std::ptrdiff_t step = t.pixelStep;
    for (std::uint32_t i = 0; i < n; ++i) {
        const RgbBytes rgb = yccToRgbBytes(luma[i], cb[i], cr[i]);
        r[i * step] = rgb.r;
        g[i * step] = rgb.g;
        b[i * step] = rgb.b;
    }
}

ColourTransforms ColourTransforms::forMode(std::uint8_t mode) {
    if (mode == 0) return {RgbToYccLegacy, YccToRgbLegacy};
    return {RgbToYcc, YccToRgb};
}

} // namespace vexel
