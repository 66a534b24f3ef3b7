// The codec's inner loops come in three forms: the plain reference, SSE2
// (always there on x86-64) and AVX2 (when the processor has it). The form is
// chosen once, before the first frame: the best the processor has, unless
// VEXEL_SIMD names another ("plain", "sse2" or "avx2"; a form the processor
// lacks, or any other value, is ignored). Every form gives the same bytes:
// the vector forms keep the order and precision of each operation.
#pragma once

#include "codec/plane_view.h"

#include <cstdint>
#include <string_view>

namespace vexel {

enum class SimdPath : std::uint8_t { Plain, Sse2, Avx2 };

// The best form this processor runs.
SimdPath processorSimdPath();
// The form in use.
SimdPath currentSimdPath();
// Uses a form from now on; false (and nothing changes) when the processor
// lacks it. Call while no frame is being drawn.
bool useSimdPath(SimdPath path);
// "plain", "sse2", "avx2" and back; false for any other name.
bool parseSimdPath(std::string_view name, SimdPath& path);
const char* simdPathName(SimdPath path);

// What one gradient block's drawing needs besides its values.
struct GradientBlockPaint {
    std::int64_t x0, y0;     // the block's first pixel
    std::uint32_t w, h;      // its pixels inside the picture
    std::uint32_t B;
    double half;             // (B - 1) / 2
    double reciprocal;       // 1 / B when B is a power of two, else 0
    const double* centres;   // col + 0.5 for col 0..15
};

// Smooth painting of one block from its corner values corner[c][ix][iy].
using SmoothBlockKernel = void (*)(const PixelTarget& target, const GradientBlockPaint& p, const double corner[3][2][2]);
// Fast painting of one block: base + a (col - half) + b (t - half) per channel.
using FastBlockKernel = void (*)(const PixelTarget& target, const GradientBlockPaint& p, const double base[3],
                                 const double a[3], const double b[3]);

// n detail pixels of one row, from their Y, Cb and Cr bytes (the current
// colour pair, not mode 0's) to RGB at (x, y) of the target and onwards.
using YccRowKernel = void (*)(const PixelTarget& target, std::int64_t x, std::int64_t y, const std::uint8_t* luma,
                              const std::uint8_t* cb, const std::uint8_t* cr, std::uint32_t n);

// The encoder's error of a model row against the source: n source bytes
// `step` apart, each compared with the model value left + (j + 0.5) x slope
// rounded to a byte; adds the absolute differences and their squares.
// Both sums are of integers (far below 2^53), so any order gives them exactly.
using ModelErrorRowKernel = void (*)(const std::uint8_t* source, std::ptrdiff_t step, std::uint32_t n, double left,
                                     double slope, std::int64_t& absSum, std::int64_t& squareSum);

struct CodecKernels {
    SmoothBlockKernel smoothBlock;
    FastBlockKernel fastBlock;
    YccRowKernel yccRow;
    ModelErrorRowKernel modelErrorRow;
};

// The plain detail-row kernel (the reference of the vector ones).
void yccRowPlain(const PixelTarget& target, std::int64_t x, std::int64_t y, const std::uint8_t* luma,
                 const std::uint8_t* cb, const std::uint8_t* cr, std::uint32_t n);

// The plain model-error row kernel.
void modelErrorRowPlain(const std::uint8_t* source, std::ptrdiff_t step, std::uint32_t n, double left, double slope,
                        std::int64_t& absSum, std::int64_t& squareSum);

// The kernels of the form in use.
const CodecKernels& codecKernels();

// Each form's kernels; the vector ones exist on x86-64 only.
namespace kernels {
extern const CodecKernels kPlain;
extern const CodecKernels kSse2;
extern const CodecKernels kAvx2;
} // namespace kernels

} // namespace vexel
