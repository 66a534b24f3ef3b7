// RGB to the stored luminance/chrominance triple and back.
//
// The stored chrominance is offset by 128, so all three stored components lie
// in 0..255. The routines clamp but do not round; callers round each output to
// nearest, ties to even. The arithmetic runs in extended precision and the
// results are kept as single-precision floats at the points noted, because
// stored files were made that way.
//
// Mode 0 files use the legacy pair, in which the two chrominance scale factors
// are exchanged; every other mode uses the current pair. A decoder binds the
// pair once per record (ColourTransforms::forMode).
#pragma once

#include <cstdint>

namespace vexel {

void RgbToYcc(float r, float g, float b, float* y, float* cb, float* cr);
void RgbToYccLegacy(float r, float g, float b, float* y, float* cb, float* cr);
void YccToRgb(float y, float cb, float cr, float* r, float* g, float* b);
void YccToRgbLegacy(float y, float cb, float cr, float* r, float* g, float* b);

// The forward transform's body, for loops that call it per pixel: with the
// chrominance factors of Cb and Cr (RgbToYcc: 0.565, 0.713; the legacy pair
// exchanges them). The arithmetic runs in long double, as stored files need.
inline void rgbToYccWith(float r, float g, float b, float* yOut, float* cbOut, float* crOut, long double cbFactor,
                         long double crFactor) {
    using Wide = long double;
    float y = static_cast<float>(Wide(0.299) * r + Wide(0.587) * g + Wide(0.114) * b);
    // Cb and Cr are computed from the stored, unclamped Y.
    float cb = static_cast<float>((Wide(b) - y) * cbFactor);
    float cr = static_cast<float>((Wide(r) - y) * crFactor);
    if (cb < -128.0f) cb = -128.0f;
    if (cr < -128.0f) cr = -128.0f;
    if (cb > 127.0f) cb = 127.0f;
    if (cr > 127.0f) cr = 127.0f;
    if (y > 255.0f) y = 255.0f;
    if (y < 0.0f) y = 0.0f;
    *yOut = y;
    *cbOut = cb + 128.0f;
    *crOut = cr + 128.0f;
}
inline void rgbToYccInline(float r, float g, float b, float* y, float* cb, float* cr) {
    rgbToYccWith(r, g, b, y, cb, cr, 0.565L, 0.713L);
}
inline void rgbToYccLegacyInline(float r, float g, float b, float* y, float* cb, float* cr) {
    rgbToYccWith(r, g, b, y, cb, cr, 0.713L, 0.565L);
}

using ForwardTransform = void (*)(float, float, float, float*, float*, float*);
using InverseTransform = void (*)(float, float, float, float*, float*, float*);

// The current pair on byte inputs with rounded byte outputs, computed in
// double precision from tables of products: the same bytes as rounding the
// results of RgbToYcc and YccToRgb (checked over every input).
struct YccBytes {
    std::uint8_t y, cb, cr;
};
struct RgbBytes {
    std::uint8_t r, g, b;
};
namespace colour_tables {
// Products of the constants with every byte value (Y) or byte - 128 (chroma),
// each rounded to double once, as the inline expression would be.
struct Products {
    double yR[256], yG[256], yB[256], rCr[256], gCr[256], gCb[256], bCb[256];
};
constexpr Products makeProducts() {
    Products p{};
    for (int v = 0; v < 256; ++v) {
        p.yR[v] = 0.299 * v;
        p.yG[v] = 0.587 * v;
        p.yB[v] = 0.114 * v;
        const double centred = static_cast<float>(static_cast<float>(v) - 128.0f);
        p.rCr[v] = 1.403 * centred;
        p.gCr[v] = 0.714 * centred;
        p.gCb[v] = 0.344 * centred;
        p.bCb[v] = 1.77 * centred;
    }
    return p;
}
inline constexpr Products products = makeProducts();

inline std::uint8_t clampRound(float v) {
    if (v > 255.0f) v = 255.0f;
    if (v < 0.0f) v = 0.0f;
    constexpr double kMagic = 6755399441055744.0; // rounds to nearest, ties to even
    return static_cast<std::uint8_t>(static_cast<int>((static_cast<double>(v) + kMagic) - kMagic));
}
} // namespace colour_tables

inline YccBytes rgbToYccBytes(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    using colour_tables::clampRound;
    const auto& t = colour_tables::products;
    const float y = static_cast<float>(t.yR[r] + t.yG[g] + t.yB[b]);
    float cb = static_cast<float>((static_cast<double>(b) - y) * 0.565);
    float cr = static_cast<float>((static_cast<double>(r) - y) * 0.713);
    cb = cb < -128.0f ? -128.0f : cb > 127.0f ? 127.0f : cb;
    cr = cr < -128.0f ? -128.0f : cr > 127.0f ? 127.0f : cr;
    return {clampRound(y), clampRound(cb + 128.0f), clampRound(cr + 128.0f)};
}

namespace colour_tables {
// Red depends on Y and Cr only, blue on Y and Cb only: both are kept for
// every pair, computed once at start-up by the expressions of yccToRgbBytes.
struct PairBytes {
    std::uint8_t red[256][256];  // [Y][Cr]
    std::uint8_t blue[256][256]; // [Y][Cb]
    std::uint8_t spare[4];       // a vector load of 4 bytes at the last entry stays inside
};
extern const PairBytes pairBytes;
inline std::uint8_t redByte(std::uint8_t y, std::uint8_t cr) { return clampRound(static_cast<float>(static_cast<double>(y) + products.rCr[cr])); }
inline std::uint8_t blueByte(std::uint8_t y, std::uint8_t cb) { return clampRound(static_cast<float>(static_cast<double>(y) + products.bCb[cb])); }
} // namespace colour_tables

inline RgbBytes yccToRgbBytes(std::uint8_t y, std::uint8_t cb, std::uint8_t cr) {
    using colour_tables::clampRound;
    const auto& t = colour_tables::products;
    const double Y = y;
    return {colour_tables::pairBytes.red[y][cr], clampRound(static_cast<float>(Y - t.gCr[cr] - t.gCb[cb])),
            colour_tables::pairBytes.blue[y][cb]};
}
// The same through the bound pair, for any mode (the legacy pair of mode 0
// goes through the reference routines).
YccBytes rgbToYccBytes(std::uint8_t mode, std::uint8_t r, std::uint8_t g, std::uint8_t b);
RgbBytes yccToRgbBytes(std::uint8_t mode, std::uint8_t y, std::uint8_t cb, std::uint8_t cr);

struct ColourTransforms {
    ForwardTransform forward;
    InverseTransform inverse;
    // The legacy pair for mode 0, the current pair for every other mode.
    static ColourTransforms forMode(std::uint8_t mode);
};

} // namespace vexel
