#include "base/vvodchisel.h"

#include "base/preobrazovaniechisel.h"

#include <charconv>

namespace vexel {

TAnsiString numberToText(double value, int integerDigits, int fractionDigits, bool exponent, bool keepZeros) {
    // Sized to the text rather than a fixed buffer, so that a long number is
    // never cut to an empty text.
    std::size_t n = formatWithExponent(nullptr, 0, value, integerDigits, fractionDigits, exponent);
    TAnsiString text;
    if (n == 0 || !text.setLength(n)) return text;
    char* out = text.textForWriting();
    n = formatWithExponent(out, n + 1, value, integerDigits, fractionDigits, exponent);
    if (!keepZeros) n = trimNumber(out, n);
    text.setLength(n);
    return text;
}

TAnsiString integerToText(std::int64_t value, bool hexadecimal) {
    char text[24];
    if (hexadecimal) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        auto v = static_cast<std::uint32_t>(value);
        for (int i = 7; i >= 0; --i, v >>= 4) text[i] = kDigits[v & 15];
        return TAnsiString(text, 8);
    }
    // Exact for every 64-bit value (a double would round beyond 2^53).
    auto r = std::to_chars(text, text + sizeof text, value);
    return TAnsiString(text, static_cast<std::size_t>(r.ptr - text));
}

} // namespace vexel
