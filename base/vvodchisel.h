// Numbers as TAnsiString text for messages.
#pragma once

#include "base/tstring.h"

#include <cstdint>

namespace vexel {

// formatWithExponent's text (empty when it cannot be made); trims unless keepZeros.
TAnsiString numberToText(double value, int integerDigits, int fractionDigits, bool exponent, bool keepZeros);
// Decimal, or exactly 8 upper-case hexadecimal digits of the low 32 bits
// ("000000FF", -1 gives "FFFFFFFF").
TAnsiString integerToText(std::int64_t value, bool hexadecimal);

} // namespace vexel
