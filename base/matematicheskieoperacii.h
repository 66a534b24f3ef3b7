// Mathematical helpers whose exact rounding the codec and the viewer rely on.
// Every float that becomes an integer is rounded to nearest, ties to even,
// after clamping; NaN becomes 0 and values beyond the 32-bit range saturate
// (converting them directly would be undefined behaviour).
#pragma once

#include <cstdint>

namespace vexel {

// Rounding to nearest with ties to even, all floating-point exceptions masked.
void resetFloatingPoint();
// Nearest 32-bit integer, ties to even (2.5 gives 2, 3.5 gives 4, -2.5 gives -2).
std::int32_t roundToInt(double x);
// Largest 32-bit integer not above x (-2.5 gives -3).
std::int32_t floorToInt(double x);
// x rounded to nearest, ties to even, as a double (no range limit).
double roundHalfEven(double x);
// Index of the highest set bit; 0 for 0.
std::uint32_t highestBit(std::uint32_t v);
// 0 for a = 0, else sign(a) * |a|^x: (-8, 1/3) gives -2.
double signedPower(double a, double x);
double square(double x);

} // namespace vexel
