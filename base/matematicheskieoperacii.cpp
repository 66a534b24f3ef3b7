#include "base/matematicheskieoperacii.h"

#include <bit>
#include <cfenv>
#include <cmath>
#include <limits>

namespace vexel {

namespace {

constexpr std::int32_t kMaxInt = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMinInt = std::numeric_limits<std::int32_t>::min();

// x (already integral or infinite) as a 32-bit integer, saturated.
std::int32_t clampToInt(double x) {
    if (x >= static_cast<double>(kMaxInt)) return kMaxInt;
    if (x <= static_cast<double>(kMinInt)) return kMinInt;
    return static_cast<std::int32_t>(x);
}

} // namespace

void resetFloatingPoint() { std::fesetenv(FE_DFL_ENV); }

double roundHalfEven(double x) {
    // std::round rounds halfway cases away from zero whatever the rounding
    // mode; x - r is exact, so a tie is seen exactly and sent to the even
    // neighbour instead.
    double r = std::round(x);
    if (std::fabs(x - r) == 0.5) r = 2.0 * std::round(0.5 * x);
    return r;
}

std::int32_t roundToInt(double x) {
    if (std::isnan(x)) return 0;
    return clampToInt(roundHalfEven(x));
}

std::int32_t floorToInt(double x) {
    if (std::isnan(x)) return 0;
    return clampToInt(std::floor(x));
}

std::uint32_t highestBit(std::uint32_t v) {
    return v == 0 ? 0 : static_cast<std::uint32_t>(31 - std::countl_zero(v));
}

double signedPower(double a, double x) {
    if (a == 0.0) return 0.0;
    return std::copysign(std::pow(std::fabs(a), x), a);
}

double square(double x) { return x * x; }

} // namespace vexel
