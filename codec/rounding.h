// Rounding to nearest, ties to even, without a library call.
#pragma once

#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexel {

// x rounded to the nearest integer, halfway cases to the even one. Exact for
// |x| < 2^51 under the default rounding mode (which resetFloatingPoint sets):
// adding and subtracting 1.5 x 2^52 leaves no fraction bits to keep.
// (Without fast-math the compiler keeps both steps: they are not an identity.)
inline double roundEvenFast(double x) {
    constexpr double kMagic = 6755399441055744.0; // 1.5 x 2^52
    return (x + kMagic) - kMagic;
}

// A value clamped to 0..255 and rounded to a byte.
inline unsigned char roundToByte(double x) {
    if (!(x > 0)) return 0;
    if (x >= 255) return 255;
    return static_cast<unsigned char>(static_cast<int>(roundEvenFast(x)));
}

// roundToByte over n values. With SSE2 (always there on x86-64) two at a
// time: maxpd and minpd select as the two comparisons do (a NaN gives the
// second operand, 0), the magic sum rounds as roundEvenFast does and the
// truncation of the integral value is exact, so every byte is the same.
inline void roundRowToBytes(const double* values, std::uint8_t* out, std::size_t n) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128d zero = _mm_setzero_pd(), top = _mm_set1_pd(255.0), magic = _mm_set1_pd(6755399441055744.0);
    auto round2 = [&](const double* v) {
        __m128d x = _mm_min_pd(_mm_max_pd(_mm_loadu_pd(v), zero), top);
        return _mm_cvttpd_epi32(_mm_sub_pd(_mm_add_pd(x, magic), magic));
    };
    for (; i + 4 <= n; i += 4) {
        const __m128i words = _mm_packs_epi32(_mm_unpacklo_epi64(round2(values + i), round2(values + i + 2)), _mm_setzero_si128());
        const std::uint32_t four = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
        out[i] = static_cast<std::uint8_t>(four);
        out[i + 1] = static_cast<std::uint8_t>(four >> 8);
        out[i + 2] = static_cast<std::uint8_t>(four >> 16);
        out[i + 3] = static_cast<std::uint8_t>(four >> 24);
    }
#endif
    for (; i < n; ++i) out[i] = roundToByte(values[i]);
}

} // namespace vexel
