#include "base/preobrazovaniechisel.h"

#include "base/dialogs.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace vexel {

namespace {

// Built once from the locale; the separators are the first two bytes.
char gSymbols[32] = ",.eE-0"
                    "0123456789"
                    "0123456789-,.eE";
int gUnits = 0;

constexpr std::size_t kNumberSet = 16;
constexpr std::size_t kNumberSetSize = 15;
constexpr std::size_t kMaxIntegerDigits = 31;
constexpr std::size_t kMaxFractionDigits = 30;
constexpr int kMaxFixedFraction = 307;
constexpr int kMaxDecimalExponent = 307;
constexpr double kLargest = 1e307;

constexpr char16_t kInvalidMessage[] = u"Строка не содержит цифр между разделителями.";
constexpr char16_t kTooLongMessage[] = u"Число выходит за допустимый диапазон значений.";
constexpr char16_t kExponentMessage[] = u"Порядок числа.\n Должен быть больше или равен -307 и меньше или равен 307.";

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSeparator(char c) { return c == gSymbols[0] || c == gSymbols[1]; }
bool isMark(char c) { return c == gSymbols[2] || c == gSymbols[3]; }
bool inNumberSet(char c) { return c != 0 && std::memchr(gSymbols + kNumberSet, c, kNumberSetSize) != nullptr; }

void setSeparators(char separator) {
    gSymbols[0] = separator == ',' ? ',' : '.';
    gSymbols[1] = separator == ',' ? '.' : ',';
}

// The pieces of a valid number text; counts are digits.
struct NumberParts {
    bool negative = false;
    const char* integer = nullptr;
    std::size_t integerCount = 0;
    const char* fraction = nullptr;
    std::size_t fractionCount = 0;
    bool hasMark = false;
    bool exponentNegative = false;
    const char* exponent = nullptr;
    std::size_t exponentCount = 0; // 0 with a mark: the mark ends the text
};

std::size_t digitRun(const char* text, std::size_t i, std::size_t n) {
    std::size_t j = i;
    while (j < n && isDigit(text[j])) ++j;
    return j - i;
}

// [ '-' ] digits [ separator [ digits ] ] [ mark [ [ '-' ] digits ] ], where
// digits after the separator may be missing only when nothing follows it.
bool scanNumber(const char* text, std::size_t n, NumberParts& p) {
    p = NumberParts();
    if (!text) return false;
    std::size_t i = 0;
    if (i < n && text[i] == '-') {
        p.negative = true;
        ++i;
    }
    p.integer = text + i;
    p.integerCount = digitRun(text, i, n);
    if (p.integerCount == 0) return false;
    i += p.integerCount;
    if (i < n && isSeparator(text[i])) {
        ++i;
        p.fraction = text + i;
        p.fractionCount = digitRun(text, i, n);
        i += p.fractionCount;
        if (p.fractionCount == 0 && i < n) return false;
    }
    if (i < n && isMark(text[i])) {
        ++i;
        p.hasMark = true;
        if (i < n) {
            if (text[i] == '-') {
                p.exponentNegative = true;
                ++i;
            }
            p.exponent = text + i;
            p.exponentCount = digitRun(text, i, n);
            if (p.exponentCount == 0) return false;
            i += p.exponentCount;
        }
    }
    return i == n;
}

int failure(int code, bool report) {
    if (report) {
        const char16_t* text = code == kParseInvalid ? kInvalidMessage
                               : code == kParseTooLong ? kTooLongMessage
                                                       : kExponentMessage;
        dialogs().message(TWideString(text), TWideString());
    }
    return code;
}

// |digits| x 10^exponent, correctly rounded, into value; false when it
// overflows or underflows (the caller's range checks keep that from
// happening). The digit counts are already limited, so the text fits.
bool decimalValue(const NumberParts& p, long exponent, double& value) {
    char text[kMaxIntegerDigits + kMaxFractionDigits + 32];
    std::size_t k = 0;
    std::memcpy(text + k, p.integer, p.integerCount);
    k += p.integerCount;
    text[k++] = '.';
    if (p.fractionCount) std::memcpy(text + k, p.fraction, p.fractionCount);
    k += p.fractionCount;
    text[k++] = 'e';
    k = static_cast<std::size_t>(std::to_chars(text + k, text + sizeof text, exponent).ptr - text);
    double v = 0.0;
    auto r = std::from_chars(text, text + k, v);
    if (r.ec != std::errc() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

// The exponent's digits, saturated far beyond any exponent that can pass.
long exponentValue(const NumberParts& p) {
    long e = 0;
    for (std::size_t i = 0; i < p.exponentCount; ++i) e = std::min(e * 10 + (p.exponent[i] - '0'), 1000000000L);
    return p.exponentNegative ? -e : e;
}

// A positive finite double as its shortest decimal digits that read back
// exactly: value = d1.d2d3... x 10^exponent. No digits for zero.
struct Decimal {
    char digits[32];
    int count = 0;
    int exponent = 0;
};

Decimal decimalOf(double magnitude) {
    Decimal d;
    if (!(magnitude > 0.0)) return d;
    char text[64];
    auto r = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific);
    assert(r.ec == std::errc());
    const char* c = text;
    for (; c < r.ptr && *c != 'e'; ++c)
        if (isDigit(*c)) d.digits[d.count++] = *c;
    ++c; // 'e'
    bool negative = *c == '-';
    ++c; // sign
    for (; c < r.ptr; ++c) d.exponent = d.exponent * 10 + (*c - '0');
    if (negative) d.exponent = -d.exponent;
    while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
    return d;
}

// Integer digits (at least one) and fraction digits of a value rounded to a
// fixed number of fraction digits, halfway cases down.
struct FixedDigits {
    char digits[1024];
    int first = 1; // index of the first digit; 0 when rounding carried
    int integerCount = 0;
    int fractionCount = 0;
    bool zero = true;
    const char* text() const { return digits + first; }
};

void roundFixed(const Decimal& v, int fractionDigits, FixedDigits& f) {
    int high = std::max(v.exponent, 0); // place of the first integer digit
    int n = high + fractionDigits + 1;
    assert(n >= 1 && n + 1 <= static_cast<int>(sizeof f.digits));
    for (int i = 0; i < n; ++i) {
        int index = v.exponent - (high - i);
        f.digits[1 + i] = index >= 0 && index < v.count ? v.digits[index] : '0';
    }
    // The first dropped digit decides; exactly half (a 5 and nothing after it) stays down.
    int dropped = v.exponent + fractionDigits + 1;
    bool up = false;
    if (dropped >= 0 && dropped < v.count) {
        bool rest = false;
        for (int i = dropped + 1; i < v.count; ++i) rest = rest || v.digits[i] != '0';
        up = v.digits[dropped] > '5' || (v.digits[dropped] == '5' && rest);
    }
    f.first = 1;
    f.integerCount = high + 1;
    f.fractionCount = fractionDigits;
    if (up) {
        int i = n;
        while (i >= 1 && f.digits[i] == '9') f.digits[i--] = '0';
        if (i >= 1) {
            ++f.digits[i];
        } else {
            f.digits[0] = '1';
            f.first = 0;
            ++f.integerCount;
        }
    }
    f.zero = true;
    for (int i = f.first; i <= n; ++i) f.zero = f.zero && f.digits[i] == '0';
}

// Lays out [sign] zeros digits [separator fraction] [suffix]; the length, or
// the length needed with a null buffer, or 0 and an empty text when the
// buffer is too small.
std::size_t emit(char* buffer, std::size_t size, const FixedDigits& f, bool negative, int minIntegerDigits,
                 const char* suffix = "", std::size_t suffixLength = 0) {
    bool sign = negative && !f.zero;
    std::size_t zeros = minIntegerDigits > f.integerCount ? static_cast<std::size_t>(minIntegerDigits - f.integerCount) : 0;
    std::size_t integer = static_cast<std::size_t>(f.integerCount);
    std::size_t fraction = static_cast<std::size_t>(f.fractionCount);
    std::size_t length = (sign ? 1 : 0) + zeros + integer + (fraction > 0 ? 1 + fraction : 0) + suffixLength;
    if (!buffer) return length;
    if (size < length) {
        if (size > 0) buffer[0] = 0;
        return 0;
    }
    char* out = buffer;
    if (sign) *out++ = gSymbols[4];
    std::memset(out, '0', zeros);
    out += zeros;
    std::memcpy(out, f.text(), integer);
    out += integer;
    if (fraction > 0) {
        *out++ = gSymbols[0];
        std::memcpy(out, f.text() + integer, fraction);
        out += fraction;
    }
    std::memcpy(out, suffix, suffixLength);
    if (size > length) buffer[length] = 0;
    return length;
}

} // namespace

const char* numberSymbols() { return gSymbols; }

void setDecimalSeparatorForTest(char separator) { setSeparators(separator); }

char localeDecimalSeparator() {
    locale_t locale = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) return ',';
    const char* radix = nl_langinfo_l(RADIXCHAR, locale);
    char separator = radix && radix[0] == ',' ? ',' : '.';
    freelocale(locale);
    return separator;
}

void numbersInitialize() {
    if (gUnits++ == 0) setSeparators(localeDecimalSeparator());
}

void numbersFinalize() {
    if (gUnits > 0) --gUnits;
}

bool validateNumber(const char* text, std::size_t n) {
    NumberParts p;
    return scanNumber(text, n, p);
}

int parseNumber(const char* text, std::size_t n, double& value, bool report, int* exponent) {
    NumberParts p;
    if (!scanNumber(text, n, p)) return failure(kParseInvalid, report);
    if (p.integerCount > kMaxIntegerDigits || p.fractionCount > kMaxFractionDigits) return failure(kParseTooLong, report);
    // "12e": the empty exponent does not read as a number.
    if (p.hasMark && (p.exponentCount == 0 || p.exponentCount > kMaxIntegerDigits)) return failure(kParseTooLong, report);
    long power = p.hasMark ? exponentValue(p) : 0;
    double mantissa = 0.0;
    bool nonZero = decimalValue(p, 0, mantissa) && mantissa != 0.0;
    if (exponent) {
        value = nonZero ? (p.negative ? -mantissa : mantissa) : 0.0;
        *exponent = static_cast<int>(power);
        return kParseOk;
    }
    if (!nonZero) {
        value = 0.0;
        return kParseOk;
    }
    // The decimal magnitude estimated from the binary exponent; a value that
    // passes lies between 1e-307 and 2e307, so the exact conversion below
    // cannot overflow. A mantissa of 1e-30 with exponent 330 is 1e300.
    double magnitude = std::ilogb(mantissa) * std::log10(2.0) + static_cast<double>(power);
    double result = 0.0;
    if (magnitude < -kMaxDecimalExponent) {
        value = 0.0;
        return failure(kParseRange, report);
    }
    if (magnitude > kMaxDecimalExponent || !decimalValue(p, power, result)) {
        value = magnitude < 0.0 ? 0.0 : p.negative ? -kLargest : kLargest;
        return failure(kParseRange, report);
    }
    value = p.negative ? -result : result;
    return kParseOk;
}

std::size_t formatFixed(char* buffer, std::size_t size, double value, int minIntegerDigits, int fractionDigits) {
    fractionDigits = std::clamp(fractionDigits, 0, kMaxFixedFraction);
    double magnitude = std::isnan(value) ? 0.0 : std::min(std::fabs(value), kLargest);
    FixedDigits f;
    roundFixed(decimalOf(magnitude), fractionDigits, f);
    return emit(buffer, size, f, value < 0.0, minIntegerDigits);
}

std::size_t formatWithExponent(char* buffer, std::size_t size, double value, int mantissaDigits, int fractionDigits,
                               bool exponent) {
    if (!exponent) return formatFixed(buffer, size, value, mantissaDigits, fractionDigits);
    mantissaDigits = std::clamp(mantissaDigits, 1, 400);
    fractionDigits = std::clamp(fractionDigits, 0, kMaxFixedFraction);
    double magnitude = std::isnan(value) ? 0.0 : std::min(std::fabs(value), std::numeric_limits<double>::max());
    Decimal d = decimalOf(magnitude);
    FixedDigits f;
    int power = 0;
    if (d.count > 0) {
        power = std::max(d.exponent - (mantissaDigits - 1), -kMaxDecimalExponent);
        Decimal scaled = d;
        scaled.exponent = d.exponent - power;
        roundFixed(scaled, fractionDigits, f);
        if (f.integerCount > mantissaDigits) { // rounding carried into a new digit
            ++power;
            scaled.exponent = d.exponent - power;
            roundFixed(scaled, fractionDigits, f);
        }
    } else {
        roundFixed(d, fractionDigits, f);
    }
    if (f.zero) return emit(buffer, size, f, false, 1); // too small even at the lowest exponent
    char suffix[8];
    std::size_t k = 0;
    suffix[k++] = gSymbols[2];
    if (power < 0) suffix[k++] = gSymbols[4];
    int a = std::abs(power);
    suffix[k++] = static_cast<char>('0' + a / 100);
    suffix[k++] = static_cast<char>('0' + a / 10 % 10);
    suffix[k++] = static_cast<char>('0' + a % 10);
    return emit(buffer, size, f, value < 0.0, 1, suffix, k);
}

std::size_t trimNumber(char* text, std::size_t n) {
    if (!text) return 0;
    std::size_t separator = 0;
    while (separator < n && !isSeparator(text[separator])) ++separator;
    if (separator == n) return n;
    std::size_t mark = separator + 1;
    while (mark < n && !isMark(text[mark])) ++mark;
    std::size_t fractionEnd = mark;
    while (fractionEnd > separator + 1 && text[fractionEnd - 1] == '0') --fractionEnd;
    std::size_t out = fractionEnd == separator + 1 ? separator : fractionEnd;
    if (mark < n) {
        std::size_t digits = mark + 1;
        bool negative = digits < n && text[digits] == gSymbols[4];
        if (negative) ++digits;
        while (digits < n && text[digits] == '0') ++digits;
        if (digits < n) { // a digit remains: keep the mark, the sign and the rest
            char markChar = text[mark];
            text[out++] = markChar;
            if (negative) text[out++] = gSymbols[4];
            std::memmove(text + out, text + digits, n - digits);
            out += n - digits;
        }
    }
    if (out < n) text[out] = 0;
    return out;
}

bool findNumber(const char* text, std::size_t n, std::size_t& start, std::size_t& length) {
    if (!text) return false;
    std::size_t i = 0;
    while (i < n) {
        while (i < n && !inNumberSet(text[i])) ++i;
        std::size_t j = i;
        while (j < n && inNumberSet(text[j])) ++j;
        if (j > i && validateNumber(text + i, j - i)) {
            start = i;
            length = j - i;
            return true;
        }
        i = j;
    }
    return false;
}

} // namespace vexel
