// Numbers to text and back, in the program's own locale-aware format.
//
// Texts are 8-bit with an explicit length. A number reads
// [ '-' ] digits [ separator digits ] [ mark [ '-' ] digits ], where the
// separator is ',' or '.' and the mark 'e' or 'E'; no '+', no blanks.
#pragma once

#include <cstddef>

namespace vexel {

// The 31 number symbols: [0] the locale's decimal separator (',' when the
// user's LC_NUMERIC radix begins with ',', else '.'), [1] the other one,
// [2..3] "eE", [4] '-', [5] '0', [6..15] the digits, [16..30] the number
// character set "0123456789-,.eE".
const char* numberSymbols();
// Replaces the separators (tests; a fresh machine has no Russian locale).
void setDecimalSeparatorForTest(char separator);
// The separator the user's locale asks for now: ',' when its LC_NUMERIC
// radix begins with ',', '.' for any other, ',' when the locale cannot be read.
char localeDecimalSeparator();

void numbersInitialize();
void numbersFinalize();

bool validateNumber(const char* text, std::size_t n);

// Parse results.
constexpr int kParseOk = 0;
constexpr int kParseInvalid = -1; // "Строка не содержит цифр между разделителями."
constexpr int kParseTooLong = -2; // "Число выходит за допустимый диапазон значений."
constexpr int kParseRange = -3;   // the exponent message; the value is 0 or +-1e307

// Reads a number. With report set, a failure shows its message. With
// exponent given, the mantissa goes to value and the exponent there, as they
// are (an exponent beyond 1e9 reads as 1e9). Otherwise a value whose decimal
// magnitude, estimated from the mantissa's binary exponent, lies outside
// -307..307 is kParseRange; the value is converted correctly rounded, so a
// success is always finite. After kParseInvalid and kParseTooLong value is
// left as it was.
int parseNumber(const char* text, std::size_t n, double& value, bool report, int* exponent = nullptr);

// Fixed notation with at least minIntegerDigits integer digits and exactly
// fractionDigits (0..307) fraction digits of |value| limited to 1e307 (NaN
// prints as 0). The value is rounded from its shortest decimal digits that
// read back exactly, so 0.45 is a halfway case; halfway values are not
// rounded up (2.5 gives "2"). A result of zero has no sign. The
// length written (or, with a null buffer, needed); 0 and an empty text when
// the buffer is too small. A terminating zero follows when there is room.
std::size_t formatFixed(char* buffer, std::size_t size, double value, int minIntegerDigits, int fractionDigits);
// With exponent set: a mantissa of mantissaDigits integer digits, then 'e'
// and the exponent with 3 digits ("1,50e-003"); otherwise formatFixed.
std::size_t formatWithExponent(char* buffer, std::size_t size, double value, int mantissaDigits, int fractionDigits,
                               bool exponent);
// Removes leading zeros of the exponent, trailing zeros of the fraction and a
// separator left without fraction; the new length.
std::size_t trimNumber(char* text, std::size_t n);
// The first run of number characters that validates; false when none.
bool findNumber(const char* text, std::size_t n, std::size_t& start, std::size_t& length);

} // namespace vexel
