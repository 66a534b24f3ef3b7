// Rounding to nearest, ties to even, without a library call.
#pragma once

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

} // namespace vexel
