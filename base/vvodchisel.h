// Numbers as TAnsiString text for messages.
#pragma once

#include "base/tstring.h"

#include <cstdint>

namespace vexel {

// Formats into a 100-byte buffer; trims unless keepZeros.
TAnsiString numberToText(double value, int integerDigits, int fractionDigits, bool exponent, bool keepZeros);
// Decimal, or exactly 8 upper-case hexadecimal digits ("000000FF", -1 gives "FFFFFFFF").
TAnsiString integerToText(std::int64_t value, bool hexadecimal);

} // namespace vexel
