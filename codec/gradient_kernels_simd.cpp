// The vector forms of the gradient block kernels (codec/simd_dispatch.h).
// Each value is computed by the same operations, in the same order and
// precision, as the plain form computes it (no multiply-add is fused: the
// build forbids contraction), and rounded as roundToByte rounds it: maxpd and
// minpd against 0 and 255 select as its comparisons do (a NaN gives 0), the
// 1.5 x 2^52 sum rounds half to even and the truncation of the integral value
// is exact. So every form writes the same bytes.
//
// The AVX2 functions carry their own target attribute (the file is built for
// the baseline processor), and call nothing but intrinsics and each other.
#include "codec/colour_transforms.h"
#include "codec/rounding.h"
#include "codec/simd_dispatch.h"

#include <cstring>

#if defined(__x86_64__) && defined(__SSE2__)
#include <immintrin.h>
#define VEXEL_HAVE_X86_KERNELS 1
#define VEXEL_AVX2 __attribute__((target("avx2")))
#endif

namespace vexel {

#if defined(VEXEL_HAVE_X86_KERNELS)
namespace {

constexpr double kMagic = 6755399441055744.0; // 1.5 x 2^52

// Where a block's pixels go: 32-bit pixels holding the three channels in
// byte lanes (the surface), or three byte planes.
struct Layout {
    bool words = false;       // one 32-bit store per pixel
    std::uint8_t* word0;      // pixel (0, 0)'s first byte, when words
    int lane[3];              // each channel's byte in the pixel
    std::uint32_t keep;       // the bytes of a pixel that are no channel's
    bool planes = false;      // pixelStep 1
};

Layout layoutOf(const PixelTarget& t) {
    Layout l{};
    if (t.pixelStep == 1) {
        l.planes = true;
        return l;
    }
    if (t.pixelStep != 4) return l;
    std::uint8_t* low = t.channel[0];
    for (int c = 1; c < 3; ++c)
        if (t.channel[c] < low) low = t.channel[c];
    std::uint32_t used = 0;
    for (int c = 0; c < 3; ++c) {
        const std::ptrdiff_t lane = t.channel[c] - low;
        if (lane < 0 || lane > 3 || (used >> (8 * lane) & 0xFF)) return l;
        l.lane[c] = static_cast<int>(lane);
        used |= 0xFFu << (8 * lane);
    }
    l.words = true;
    l.word0 = low;
    l.keep = ~used;
    return l;
}

// One channel's value at column col of a row, stored the plain way.
inline void storeOne(const PixelTarget& t, int c, std::int64_t x, std::int64_t y, double v) {
    t.channel[c][y * t.rowStep + x * t.pixelStep] = roundToByte(v);
}

// ------------------------------------------------------------------ SSE2

// The columns from `col` on of a smooth block's row, the plain way.
inline void smoothTail(const PixelTarget& t, const GradientBlockPaint& p, std::int64_t y, std::uint32_t col,
                       const double* left, const double* across) {
    for (; col < p.w; ++col)
        for (int c = 0; c < 3; ++c)
            storeOne(t, c, p.x0 + col, y,
                     p.reciprocal != 0 ? left[c] + across[c] * p.centres[col] * p.reciprocal
                                       : left[c] + across[c] * p.centres[col] / p.B);
}


inline __m128i round4Sse2(__m128d lo, __m128d hi) {
    const __m128d zero = _mm_setzero_pd(), top = _mm_set1_pd(255.0), magic = _mm_set1_pd(kMagic);
    const __m128d a = _mm_sub_pd(_mm_add_pd(_mm_min_pd(_mm_max_pd(lo, zero), top), magic), magic);
    const __m128d b = _mm_sub_pd(_mm_add_pd(_mm_min_pd(_mm_max_pd(hi, zero), top), magic), magic);
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(a), _mm_cvttpd_epi32(b));
}

// Four pixels of three channels (0..255 in 32-bit lanes) into the target at
// (x, y). SSE2 only, so the AVX2 kernels call it too.
inline void put4(const PixelTarget& t, const Layout& l, std::int64_t x, std::int64_t y, const __m128i v[3]) {
    if (l.words) {
        __m128i pixels = _mm_or_si128(_mm_or_si128(_mm_sll_epi32(v[0], _mm_cvtsi32_si128(8 * l.lane[0])),
                                                   _mm_sll_epi32(v[1], _mm_cvtsi32_si128(8 * l.lane[1]))),
                                      _mm_sll_epi32(v[2], _mm_cvtsi32_si128(8 * l.lane[2])));
        std::uint8_t* at = l.word0 + y * t.rowStep + x * 4;
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        pixels = _mm_or_si128(pixels, _mm_and_si128(old, _mm_set1_epi32(static_cast<int>(l.keep))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), pixels);
        return;
    }
    for (int c = 0; c < 3; ++c) {
        const __m128i words = _mm_packs_epi32(v[c], v[c]);
        const int four = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
        std::memcpy(t.channel[c] + y * t.rowStep + x, &four, 4);
    }
}

void smoothBlockSse2(const PixelTarget& t, const GradientBlockPaint& p, const double corner[3][2][2]) {
    const Layout l = layoutOf(t);
    if (!l.words && !l.planes) return kernels::kPlain.smoothBlock(t, p, corner);
    const std::uint32_t B = p.B;
    const __m128d recip = _mm_set1_pd(p.reciprocal), size = _mm_set1_pd(static_cast<double>(B));
    for (std::uint32_t row = 0; row < p.h; ++row) {
        const double u = row + 0.5;
        double left[3], across[3];
        for (int c = 0; c < 3; ++c) {
            left[c] = ((B - u) * corner[c][0][0] + u * corner[c][0][1]) / B;
            const double right = ((B - u) * corner[c][1][0] + u * corner[c][1][1]) / B;
            across[c] = right - left[c];
        }
        const std::int64_t y = p.y0 + row;
        std::uint32_t col = 0;
        for (; col + 4 <= p.w; col += 4) {
            const __m128d cLo = _mm_loadu_pd(p.centres + col), cHi = _mm_loadu_pd(p.centres + col + 2);
            __m128i v[3];
            for (int c = 0; c < 3; ++c) {
                const __m128d a = _mm_set1_pd(across[c]), lf = _mm_set1_pd(left[c]);
                __m128d lo = _mm_mul_pd(a, cLo), hi = _mm_mul_pd(a, cHi);
                if (p.reciprocal != 0) {
                    lo = _mm_mul_pd(lo, recip);
                    hi = _mm_mul_pd(hi, recip);
                } else {
                    lo = _mm_div_pd(lo, size);
                    hi = _mm_div_pd(hi, size);
                }
                v[c] = round4Sse2(_mm_add_pd(lf, lo), _mm_add_pd(lf, hi));
            }
            put4(t, l, p.x0 + col, y, v);
        }
        smoothTail(t, p, y, col, left, across);
    }
}

void fastBlockSse2(const PixelTarget& t, const GradientBlockPaint& p, const double base[3], const double a[3],
                   const double b[3]) {
    const Layout l = layoutOf(t);
    if (!l.words && !l.planes) return kernels::kPlain.fastBlock(t, p, base, a, b);
    double along[3][16];
    for (int c = 0; c < 3; ++c)
        for (std::uint32_t col = 0; col < p.w; ++col) along[c][col] = base[c] + a[c] * (col - p.half);
    for (std::uint32_t row = 0; row < p.h; ++row) {
        double down[3];
        for (int c = 0; c < 3; ++c) down[c] = b[c] * (row - p.half);
        const std::int64_t y = p.y0 + row;
        std::uint32_t col = 0;
        for (; col + 4 <= p.w; col += 4) {
            __m128i v[3];
            for (int c = 0; c < 3; ++c) {
                const __m128d d = _mm_set1_pd(down[c]);
                v[c] = round4Sse2(_mm_add_pd(_mm_loadu_pd(along[c] + col), d),
                                  _mm_add_pd(_mm_loadu_pd(along[c] + col + 2), d));
            }
            put4(t, l, p.x0 + col, y, v);
        }
        for (; col < p.w; ++col)
            for (int c = 0; c < 3; ++c) storeOne(t, c, p.x0 + col, y, along[c][col] + down[c]);
    }
}

// ------------------------------------------------------------------ AVX2

VEXEL_AVX2 inline __m128i round4Avx2(__m256d x) {
    const __m256d zero = _mm256_setzero_pd(), top = _mm256_set1_pd(255.0), magic = _mm256_set1_pd(kMagic);
    return _mm256_cvttpd_epi32(_mm256_sub_pd(_mm256_add_pd(_mm256_min_pd(_mm256_max_pd(x, zero), top), magic), magic));
}

VEXEL_AVX2 void smoothBlockAvx2(const PixelTarget& t, const GradientBlockPaint& p, const double corner[3][2][2]) {
    const Layout l = layoutOf(t);
    if (!l.words && !l.planes) return kernels::kPlain.smoothBlock(t, p, corner);
    const std::uint32_t B = p.B;
    const __m256d recip = _mm256_set1_pd(p.reciprocal), size = _mm256_set1_pd(static_cast<double>(B));
    // The three channels' corners side by side (the fourth lane unused), so
    // that a row's left and right values take one vector operation each.
    const __m256d c00 = _mm256_setr_pd(corner[0][0][0], corner[1][0][0], corner[2][0][0], 0);
    const __m256d c01 = _mm256_setr_pd(corner[0][0][1], corner[1][0][1], corner[2][0][1], 0);
    const __m256d c10 = _mm256_setr_pd(corner[0][1][0], corner[1][1][0], corner[2][1][0], 0);
    const __m256d c11 = _mm256_setr_pd(corner[0][1][1], corner[1][1][1], corner[2][1][1], 0);
    for (std::uint32_t row = 0; row < p.h; ++row) {
        const double u = row + 0.5;
        const __m256d rest = _mm256_set1_pd(B - u), at = _mm256_set1_pd(u);
        const __m256d leftV = _mm256_div_pd(_mm256_add_pd(_mm256_mul_pd(rest, c00), _mm256_mul_pd(at, c01)), size);
        const __m256d rightV = _mm256_div_pd(_mm256_add_pd(_mm256_mul_pd(rest, c10), _mm256_mul_pd(at, c11)), size);
        alignas(32) double left[4], across[4];
        _mm256_store_pd(left, leftV);
        _mm256_store_pd(across, _mm256_sub_pd(rightV, leftV));
        const std::int64_t y = p.y0 + row;
        std::uint32_t col = 0;
        for (; col + 4 <= p.w; col += 4) {
            const __m256d centre = _mm256_loadu_pd(p.centres + col);
            __m128i v[3];
            for (int c = 0; c < 3; ++c) {
                __m256d x = _mm256_mul_pd(_mm256_set1_pd(across[c]), centre);
                x = p.reciprocal != 0 ? _mm256_mul_pd(x, recip) : _mm256_div_pd(x, size);
                v[c] = round4Avx2(_mm256_add_pd(_mm256_set1_pd(left[c]), x));
            }
            put4(t, l, p.x0 + col, y, v);
        }
        smoothTail(t, p, y, col, left, across);
    }
}

VEXEL_AVX2 void fastBlockAvx2(const PixelTarget& t, const GradientBlockPaint& p, const double base[3],
                              const double a[3], const double b[3]) {
    const Layout l = layoutOf(t);
    if (!l.words && !l.planes) return kernels::kPlain.fastBlock(t, p, base, a, b);
    double along[3][16];
    for (int c = 0; c < 3; ++c)
        for (std::uint32_t col = 0; col < p.w; ++col) along[c][col] = base[c] + a[c] * (col - p.half);
    for (std::uint32_t row = 0; row < p.h; ++row) {
        double down[3];
        for (int c = 0; c < 3; ++c) down[c] = b[c] * (row - p.half);
        const std::int64_t y = p.y0 + row;
        std::uint32_t col = 0;
        for (; col + 4 <= p.w; col += 4) {
            __m128i v[3];
            for (int c = 0; c < 3; ++c)
                v[c] = round4Avx2(_mm256_add_pd(_mm256_loadu_pd(along[c] + col), _mm256_set1_pd(down[c])));
            put4(t, l, p.x0 + col, y, v);
        }
        for (; col < p.w; ++col)
            for (int c = 0; c < 3; ++c) storeOne(t, c, p.x0 + col, y, along[c][col] + down[c]);
    }
}


// Detail pixels, eight at a time: red and blue from the pair tables (a
// four-byte gather, the low byte kept; the tables end with spare bytes),
// green as yccToRgbBytes computes it: Y - gCr - gCb in double, rounded to
// float, clamped to 0..255 and rounded half to even.
VEXEL_AVX2 inline __m128i green4Avx2(__m128i luma, __m128i cb, __m128i cr) {
    const auto& t = colour_tables::products;
    // The masked gathers start from zeros (the plain ones from an undefined
    // value, which the compiler warns of); every lane is gathered.
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    __m256d v = _mm256_sub_pd(_mm256_cvtepi32_pd(luma), _mm256_mask_i32gather_pd(_mm256_setzero_pd(), t.gCr, cr, all, 8));
    v = _mm256_sub_pd(v, _mm256_mask_i32gather_pd(_mm256_setzero_pd(), t.gCb, cb, all, 8));
    __m128 f = _mm256_cvtpd_ps(v);
    f = _mm_max_ps(_mm_min_ps(f, _mm_set1_ps(255.0f)), _mm_setzero_ps());
    const __m256d magic = _mm256_set1_pd(kMagic);
    return _mm256_cvttpd_epi32(_mm256_sub_pd(_mm256_add_pd(_mm256_cvtps_pd(f), magic), magic));
}

VEXEL_AVX2 void yccRowAvx2(const PixelTarget& t, std::int64_t x, std::int64_t y, const std::uint8_t* luma,
                           const std::uint8_t* cb, const std::uint8_t* cr, std::uint32_t n) {
    const Layout l = layoutOf(t);
    if (!l.words && !l.planes) return yccRowPlain(t, x, y, luma, cb, cr, n);
    const int* red = reinterpret_cast<const int*>(&colour_tables::pairBytes.red[0][0]);
    const int* blue = reinterpret_cast<const int*>(&colour_tables::pairBytes.blue[0][0]);
    const __m256i low = _mm256_set1_epi32(0xFF);
    std::uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::int64_t eight[3];
        std::memcpy(&eight[0], luma + i, 8);
        std::memcpy(&eight[1], cb + i, 8);
        std::memcpy(&eight[2], cr + i, 8);
        const __m256i Y = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(eight[0]));
        const __m256i B = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(eight[1]));
        const __m256i R = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(eight[2]));
        const __m256i row = _mm256_slli_epi32(Y, 8);
        const __m256i all = _mm256_set1_epi32(-1), none = _mm256_setzero_si256();
        const __m256i reds =
            _mm256_and_si256(_mm256_mask_i32gather_epi32(none, red, _mm256_add_epi32(row, R), all, 1), low);
        const __m256i blues =
            _mm256_and_si256(_mm256_mask_i32gather_epi32(none, blue, _mm256_add_epi32(row, B), all, 1), low);
        for (int half = 0; half < 2; ++half) {
            const __m128i y4 = half ? _mm256_extracti128_si256(Y, 1) : _mm256_castsi256_si128(Y);
            const __m128i b4 = half ? _mm256_extracti128_si256(B, 1) : _mm256_castsi256_si128(B);
            const __m128i r4 = half ? _mm256_extracti128_si256(R, 1) : _mm256_castsi256_si128(R);
            const __m128i v[3] = {half ? _mm256_extracti128_si256(reds, 1) : _mm256_castsi256_si128(reds),
                                  green4Avx2(y4, b4, r4),
                                  half ? _mm256_extracti128_si256(blues, 1) : _mm256_castsi256_si128(blues)};
            put4(t, l, x + i + 4 * half, y, v);
        }
    }
    if (i < n) yccRowPlain(t, x + i, y, luma + i, cb + i, cr + i, n - i);
}

// The encoder's model error of a row, four pixels at a time: each model value
// by the plain form's operations ((j + 0.5) x slope, plus left, rounded to a
// byte as roundToByte rounds), the differences in integers. Their sums are
// exact in any order.
VEXEL_AVX2 void modelErrorRowAvx2(const std::uint8_t* source, std::ptrdiff_t step, std::uint32_t n, double left,
                                  double slope, std::int64_t& absSum, std::int64_t& squareSum) {
    const __m256d zero = _mm256_setzero_pd(), top = _mm256_set1_pd(255.0), magic = _mm256_set1_pd(kMagic);
    const __m256d leftV = _mm256_set1_pd(left), slopeV = _mm256_set1_pd(slope), four = _mm256_set1_pd(4.0);
    __m256d centre = _mm256_setr_pd(0.5, 1.5, 2.5, 3.5); // j + 0.5, exact
    __m128i abs = _mm_setzero_si128(), square = _mm_setzero_si128();
    std::uint32_t j = 0;
    for (; j + 4 <= n; j += 4) {
        const __m256d x = _mm256_add_pd(leftV, _mm256_mul_pd(centre, slopeV));
        const __m128i v =
            _mm256_cvttpd_epi32(_mm256_sub_pd(_mm256_add_pd(_mm256_min_pd(_mm256_max_pd(x, zero), top), magic), magic));
        const std::uint8_t* at = source + static_cast<std::ptrdiff_t>(j) * step;
        const __m128i bytes = _mm_setr_epi32(at[0], at[step], at[2 * step], at[3 * step]);
        const __m128i d = _mm_sub_epi32(bytes, v);
        abs = _mm_add_epi32(abs, _mm_abs_epi32(d));
        square = _mm_add_epi32(square, _mm_mullo_epi32(d, d));
        centre = _mm256_add_pd(centre, four);
    }
    // At most 16 pixels a row: each lane holds at most 4 x 255^2, far inside 32 bits.
    alignas(16) std::int32_t a[4], q[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(a), abs);
    _mm_store_si128(reinterpret_cast<__m128i*>(q), square);
    absSum += static_cast<std::int64_t>(a[0]) + a[1] + a[2] + a[3];
    squareSum += static_cast<std::int64_t>(q[0]) + q[1] + q[2] + q[3];
    for (; j < n; ++j) {
        const int d = source[static_cast<std::ptrdiff_t>(j) * step] - roundToByte(left + (j + 0.5) * slope);
        absSum += d < 0 ? -d : d;
        squareSum += d * d;
    }
}
} // namespace

namespace kernels {
const CodecKernels kSse2{smoothBlockSse2, fastBlockSse2, yccRowPlain, modelErrorRowPlain};
const CodecKernels kAvx2{smoothBlockAvx2, fastBlockAvx2, yccRowAvx2, modelErrorRowAvx2};
} // namespace kernels

#endif

} // namespace vexel
