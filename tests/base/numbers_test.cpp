#include "base/matematicheskieoperacii.h"
#include "base/preobrazovaniechisel.h"
#include "base/vvodchisel.h"
#include "tests/support/dialog_capture.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace vexel {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

// Sets the decimal separator for one test and restores the previous one.
class Separator {
public:
    explicit Separator(char c) : previous_(numberSymbols()[0]) { setDecimalSeparatorForTest(c); }
    ~Separator() { setDecimalSeparatorForTest(previous_); }

private:
    char previous_;
};

std::string fixed(double v, int w, int d) {
    char buffer[1200];
    std::size_t n = formatFixed(buffer, sizeof buffer, v, w, d);
    EXPECT_EQ(std::strlen(buffer), n);
    return std::string(buffer, n);
}

std::string withExponent(double v, int m, int d) {
    char buffer[1200];
    std::size_t n = formatWithExponent(buffer, sizeof buffer, v, m, d, true);
    return std::string(buffer, n);
}

int parse(const std::string& text, double& value, bool report = false, int* exponent = nullptr) {
    return parseNumber(text.data(), text.size(), value, report, exponent);
}

std::string trim(std::string text) {
    text.push_back('#'); // the terminator must land inside the text's own bytes
    std::size_t n = trimNumber(text.data(), text.size() - 1);
    return text.substr(0, n);
}

std::string str(const TAnsiString& s) { return std::string(s.view()); }

// --- rounding helpers ---

TEST(Rounding, RoundToIntSendsTiesToTheEvenNeighbour) {
    EXPECT_EQ(roundToInt(2.5), 2);
    EXPECT_EQ(roundToInt(3.5), 4);
    EXPECT_EQ(roundToInt(-2.5), -2);
    EXPECT_EQ(roundToInt(-3.5), -4);
    EXPECT_EQ(roundToInt(0.5), 0);
    EXPECT_EQ(roundToInt(2.6), 3);
    EXPECT_EQ(roundToInt(-2.6), -3);
    EXPECT_EQ(roundToInt(0.49999999999999994), 0); // floor(x + 0.5) would give 1
    EXPECT_EQ(roundHalfEven(4503599627370497.0), 4503599627370497.0);
    EXPECT_EQ(roundHalfEven(1e300), 1e300);
}

TEST(Rounding, RoundingDoesNotDependOnTheFloatingPointModeAndResetRestoresNearest) {
    std::fesetround(FE_UPWARD);
    EXPECT_EQ(roundToInt(2.5), 2);
    EXPECT_EQ(floorToInt(-2.5), -3);
    resetFloatingPoint();
    EXPECT_EQ(std::fegetround(), FE_TONEAREST);
}

TEST(Rounding, FloorGoesDown) {
    EXPECT_EQ(floorToInt(-2.5), -3);
    EXPECT_EQ(floorToInt(2.9), 2);
    EXPECT_EQ(floorToInt(-0.0), 0);
    EXPECT_EQ(floorToInt(-1e-300), -1);
}

TEST(Rounding, NaNGivesZeroAndOutOfRangeValuesSaturate) {
    EXPECT_EQ(roundToInt(kNaN), 0);
    EXPECT_EQ(floorToInt(kNaN), 0);
    EXPECT_EQ(roundToInt(kInf), kMax);
    EXPECT_EQ(roundToInt(-kInf), kMin);
    EXPECT_EQ(floorToInt(kInf), kMax);
    EXPECT_EQ(floorToInt(-kInf), kMin);
    EXPECT_EQ(roundToInt(1e300), kMax);
    EXPECT_EQ(roundToInt(-1e300), kMin);
    EXPECT_EQ(roundToInt(2147483647.4), kMax);
    EXPECT_EQ(roundToInt(2147483647.5), kMax);
    EXPECT_EQ(roundToInt(2147483646.5), 2147483646);
    EXPECT_EQ(roundToInt(-2147483648.5), kMin);
    EXPECT_EQ(roundToInt(-2147483649.0), kMin);
    EXPECT_EQ(floorToInt(2147483647.9), kMax);
    EXPECT_EQ(floorToInt(-2147483647.5), kMin);
    EXPECT_EQ(floorToInt(-2147483648.5), kMin);
}

TEST(Rounding, HighestBitAndSignedPower) {
    EXPECT_EQ(highestBit(0), 0u);
    EXPECT_EQ(highestBit(1), 0u);
    EXPECT_EQ(highestBit(2), 1u);
    EXPECT_EQ(highestBit(255), 7u);
    EXPECT_EQ(highestBit(0x80000000u), 31u);
    EXPECT_NEAR(signedPower(-8, 1.0 / 3.0), -2.0, 1e-15);
    EXPECT_DOUBLE_EQ(signedPower(4, 0.5), 2.0);
    EXPECT_DOUBLE_EQ(signedPower(-4, 0.5), -2.0);
    EXPECT_EQ(signedPower(0, -1), 0.0); // not an infinity
    EXPECT_EQ(square(-3), 9.0);
}

// --- number symbols ---

TEST(NumberSymbols, TableFollowsTheSeparator) {
    {
        Separator comma(',');
        EXPECT_EQ(std::string(numberSymbols(), 31), ",.eE-00123456789" "0123456789-,.eE");
    }
    {
        Separator point('.');
        EXPECT_EQ(std::string(numberSymbols(), 31), ".,eE-00123456789" "0123456789-,.eE");
    }
}

TEST(NumberSymbols, LocaleSeparatorIsPointForCAndCommaWhenTheLocaleCannotBeRead) {
    const char* old = std::getenv("LC_ALL");
    std::string saved = old ? old : "";
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(localeDecimalSeparator(), '.');
    setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
    EXPECT_EQ(localeDecimalSeparator(), ',');
    if (old) setenv("LC_ALL", saved.c_str(), 1);
    else unsetenv("LC_ALL");
}

// --- validation ---

TEST(ValidateNumber, AcceptsTheProgramsNumberForms) {
    Separator comma(',');
    for (const char* text : {"0", "007", "-12", "12,5", "12.5", "12,", "12.", "12e", "1e5", "1E-5", "-12,5e-1",
                             "1,5e10"})
        EXPECT_TRUE(validateNumber(text, std::strlen(text))) << text;
}

TEST(ValidateNumber, RejectsMissingDigitsSignsBlanksAndMisplacedMarks) {
    Separator comma(',');
    for (const char* text : {"", "-", ",5", ".5", "1e+3", "+1", " 1", "1 ", "1,2,3", "1,2.3", "1e5,3", "1e-", "1e--3",
                             "1,x", "12,e3", "e5", "-e5", "--1", "1ee5", "1e5e3", "1x", "1,,", "1e5-"})
        EXPECT_FALSE(validateNumber(text, std::strlen(text))) << text;
    EXPECT_FALSE(validateNumber(nullptr, 3));
    EXPECT_FALSE(validateNumber("12", 0));
    EXPECT_TRUE(validateNumber("12abc", 2)); // the length counts, not the terminator
}

// --- parsing ---

TEST(ParseNumber, ReadsSignsSeparatorsAndExponents) {
    Separator comma(',');
    double v = 0;
    ASSERT_EQ(parse("-12,5e-1", v), kParseOk);
    EXPECT_EQ(v, -1.25);
    ASSERT_EQ(parse("12.", v), kParseOk);
    EXPECT_EQ(v, 12.0);
    ASSERT_EQ(parse("12,", v), kParseOk);
    EXPECT_EQ(v, 12.0);
    ASSERT_EQ(parse("0,1", v), kParseOk);
    EXPECT_EQ(v, 0.1); // correctly rounded, not a sum of powers of ten
    ASSERT_EQ(parse("3.14159", v), kParseOk);
    EXPECT_EQ(v, 3.14159);
    ASSERT_EQ(parse("2,5E3", v), kParseOk);
    EXPECT_EQ(v, 2500.0);
    ASSERT_EQ(parse("-0", v), kParseOk);
    EXPECT_FALSE(std::signbit(v));
    ASSERT_EQ(parse("0e99999", v), kParseOk);
    EXPECT_EQ(v, 0.0);
}

TEST(ParseNumber, InvalidTextAndTooManyDigitsLeaveTheValue) {
    Separator comma(',');
    double v = 7;
    EXPECT_EQ(parse(",5", v), kParseInvalid);
    EXPECT_EQ(parse("1e+3", v), kParseInvalid);
    EXPECT_EQ(parse("12e", v), kParseTooLong); // valid text, but the empty exponent does not read
    EXPECT_EQ(parse(std::string(32, '1'), v), kParseTooLong);
    EXPECT_EQ(parse("1," + std::string(31, '1'), v), kParseTooLong);
    EXPECT_EQ(parse("1e" + std::string(32, '1'), v), kParseTooLong);
    EXPECT_EQ(v, 7.0);
    ASSERT_EQ(parse(std::string(31, '9'), v), kParseOk);
    EXPECT_EQ(v, 1e31);
    ASSERT_EQ(parse("0," + std::string(29, '0') + "1", v), kParseOk);
    EXPECT_EQ(v, 1e-30);
}

TEST(ParseNumber, ExponentsOutsideTheRangeGiveZeroOrTheLimit) {
    Separator comma(',');
    double v = 0;
    EXPECT_EQ(parse("1e400", v), kParseRange);
    EXPECT_EQ(v, 1e307);
    EXPECT_EQ(parse("-1e400", v), kParseRange);
    EXPECT_EQ(v, -1e307);
    EXPECT_EQ(parse("5e307", v), kParseRange); // the estimate is 307.6
    EXPECT_EQ(v, 1e307);
    EXPECT_EQ(parse("1e-400", v), kParseRange);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(parse("9e-308", v), kParseRange); // a normal double, but below the estimate's floor
    EXPECT_EQ(parse("1e" + std::string(31, '9'), v), kParseRange);
    EXPECT_EQ(v, 1e307);
    EXPECT_EQ(parse("-1e-" + std::string(31, '9'), v), kParseRange);
    EXPECT_EQ(v, 0.0);
    ASSERT_EQ(parse("1e307", v), kParseOk);
    EXPECT_EQ(v, 1e307);
    ASSERT_EQ(parse("1e-307", v), kParseOk);
    EXPECT_EQ(v, 1e-307);
}

TEST(ParseNumber, SmallMantissaWithLargeExponentIsComputedWithoutOverflow) {
    Separator comma(',');
    double v = 0;
    // The estimate is 299.9; 10^330 on its own would be infinite.
    ASSERT_EQ(parse("0," + std::string(29, '0') + "1e330", v), kParseOk);
    EXPECT_EQ(v, 1e300);
    // The largest values that pass stay finite.
    ASSERT_EQ(parse("0,0019e310", v), kParseOk);
    EXPECT_EQ(v, 1.9e307);
    ASSERT_EQ(parse("1,9999e307", v), kParseOk);
    EXPECT_TRUE(std::isfinite(v));
}

TEST(ParseNumber, ExponentCanBeReturnedApart) {
    Separator comma(',');
    double v = 0;
    int e = 0;
    ASSERT_EQ(parse("-2,5e-12", v, false, &e), kParseOk);
    EXPECT_EQ(v, -2.5);
    EXPECT_EQ(e, -12);
    ASSERT_EQ(parse("1e400", v, false, &e), kParseOk);
    EXPECT_EQ(v, 1.0);
    EXPECT_EQ(e, 400);
    ASSERT_EQ(parse("1e" + std::string(31, '9'), v, false, &e), kParseOk);
    EXPECT_EQ(e, 1000000000);
    ASSERT_EQ(parse("5", v, false, &e), kParseOk);
    EXPECT_EQ(e, 0);
}

TEST(ParseNumber, ShowsEachFailureMessageOnlyWhenReporting) {
    Separator comma(',');
    double v = 0;
    test::DialogCapture capture;
    EXPECT_EQ(parse(",5", v, true), kParseInvalid);
    EXPECT_EQ(parse("12e", v, true), kParseTooLong);
    EXPECT_EQ(parse("1e400", v, true), kParseRange);
    EXPECT_EQ(parse("1e400", v, false), kParseRange);
    EXPECT_EQ(parse("x", v, false), kParseInvalid);
    EXPECT_EQ(parse("5", v, true), kParseOk);
    ASSERT_EQ(capture.messages.size(), 3u);
    EXPECT_EQ(capture.messages[0].text, "Строка не содержит цифр между разделителями.");
    EXPECT_EQ(capture.messages[0].caption, ""); // no caption of its own: the window reads "Ошибка"
    EXPECT_EQ(capture.messages[1].text, "Число выходит за допустимый диапазон значений.");
    EXPECT_EQ(capture.messages[2].text, "Порядок числа.\n Должен быть больше или равен -307 и меньше или равен 307.");
}

// --- formatting ---

TEST(FormatFixed, RoundsToTheFractionDigitsWithHalfwayDown) {
    Separator comma(',');
    EXPECT_EQ(fixed(9.96, 1, 1), "10,0");
    EXPECT_EQ(fixed(9.94, 1, 1), "9,9");
    EXPECT_EQ(fixed(9.95, 1, 1), "9,9"); // halfway, and no stray leading zero
    EXPECT_EQ(fixed(1.5, 1, 0), "1");
    EXPECT_EQ(fixed(2.5, 1, 0), "2");
    EXPECT_EQ(fixed(0.45, 1, 1), "0,4");
    EXPECT_EQ(fixed(0.46, 1, 1), "0,5");
    EXPECT_EQ(fixed(2.0, 1, 0), "2");
    EXPECT_EQ(fixed(-1.25, 1, 1), "-1,2");
    EXPECT_EQ(fixed(-1.26, 1, 1), "-1,3");
    EXPECT_EQ(fixed(0.96, 1, 1), "1,0");
    EXPECT_EQ(fixed(123.456, 1, 0), "123");
    EXPECT_EQ(fixed(0.0001234, 1, 6), "0,000123");
}

TEST(FormatFixed, ZeroHasNoSign) {
    Separator comma(',');
    EXPECT_EQ(fixed(-0.04, 1, 1), "0,0");
    EXPECT_EQ(fixed(-0.5, 1, 0), "0");
    EXPECT_EQ(fixed(-0.0, 1, 2), "0,00");
    EXPECT_EQ(fixed(kNaN, 1, 1), "0,0");
}

TEST(FormatFixed, PadsIntegerDigitsAndLimitsArguments) {
    Separator comma(',');
    EXPECT_EQ(fixed(5, 3, 1), "005,0");
    EXPECT_EQ(fixed(9.96, 3, 1), "010,0");
    EXPECT_EQ(fixed(-5, 3, 0), "-005");
    EXPECT_EQ(fixed(12345, 3, 0), "12345");
    EXPECT_EQ(fixed(1.5, 1, -3), "1");
    EXPECT_EQ(fixed(1.5, 1, 400), "1," + std::string(1, '5') + std::string(306, '0'));
    EXPECT_EQ(fixed(0.1, 1, 30), "0,1" + std::string(29, '0'));
    EXPECT_EQ(fixed(1e20, 1, 0), "100000000000000000000");
    EXPECT_EQ(fixed(1e308, 1, 0), "1" + std::string(307, '0'));
    EXPECT_EQ(fixed(kInf, 1, 0), "1" + std::string(307, '0'));
    EXPECT_EQ(fixed(-kInf, 1, 0), "-1" + std::string(307, '0'));
    EXPECT_EQ(fixed(5e-324, 1, 307), "0," + std::string(307, '0'));
}

TEST(FormatFixed, FollowsTheLocaleSeparator) {
    Separator point('.');
    EXPECT_EQ(fixed(9.96, 1, 1), "10.0");
}

TEST(FormatFixed, ReportsTheLengthAndRefusesShortBuffers) {
    Separator comma(',');
    EXPECT_EQ(formatFixed(nullptr, 0, -3.25, 1, 2), 5u);
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(formatFixed(buffer, 4, -3.25, 1, 2), 0u);
    EXPECT_EQ(buffer[0], 0);
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(formatFixed(buffer, 5, -3.25, 1, 2), 5u);
    EXPECT_EQ(std::string(buffer, 6), "-3,25x"); // exactly full: no terminator
    ASSERT_EQ(formatFixed(buffer, 6, -3.25, 1, 2), 5u);
    EXPECT_EQ(buffer[5], 0);
    EXPECT_EQ(formatFixed(buffer, 0, 1, 1, 0), 0u);
}

TEST(FormatWithExponent, ChoosesTheExponentForTheMantissaDigits) {
    Separator comma(',');
    EXPECT_EQ(withExponent(0.0015, 1, 2), "1,50e-003");
    EXPECT_EQ(withExponent(-0.0015, 1, 2), "-1,50e-003");
    EXPECT_EQ(withExponent(12345, 1, 2), "1,23e004");
    EXPECT_EQ(withExponent(12345, 2, 2), "12,34e003"); // halfway stays down
    EXPECT_EQ(withExponent(9.996, 1, 2), "1,00e001");  // rounding carries into the exponent
    EXPECT_EQ(withExponent(99.96, 2, 1), "10,0e001");
    EXPECT_EQ(withExponent(std::numeric_limits<double>::max(), 1, 2), "1,80e308");
    EXPECT_EQ(withExponent(0, 1, 2), "0,00");
    char buffer[32];
    std::size_t n = formatWithExponent(buffer, sizeof buffer, 9.96, 1, 1, false);
    EXPECT_EQ(std::string(buffer, n), "10,0");
}

TEST(FormatWithExponent, TinyValuesArePulledBackToExponentMinus307OrPrintAsZero) {
    Separator comma(',');
    EXPECT_EQ(withExponent(1.5e-310, 1, 5), "0,00150e-307");
    EXPECT_EQ(withExponent(1.5e-310, 1, 2), "0,00");
    EXPECT_EQ(withExponent(-1e-320, 1, 5), "0,00000");
}

TEST(FormatWithExponent, RoundTripsThroughParse) {
    Separator comma(',');
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> unit(1.0, 10.0);
    std::uniform_int_distribution<int> power(-300, 300);
    for (int i = 0; i < 5000; ++i) {
        double v = unit(random) * std::pow(10.0, power(random)) * (i % 2 ? -1 : 1);
        std::string text = withExponent(v, 1, 16);
        double back = 0;
        ASSERT_EQ(parse(text, back), kParseOk) << text;
        ASSERT_EQ(back, v) << text;
    }
}

// --- trim and find ---

TEST(TrimNumber, DropsTrailingFractionZerosAndExponentLeadingZeros) {
    EXPECT_EQ(trim("1,500"), "1,5");
    EXPECT_EQ(trim("2,000"), "2");
    EXPECT_EQ(trim("0,0"), "0");
    EXPECT_EQ(trim("10,0"), "10");
    EXPECT_EQ(trim("100"), "100");
    EXPECT_EQ(trim("1e003"), "1e003"); // no separator: unchanged
    EXPECT_EQ(trim("1,50e-003"), "1,5e-3");
    EXPECT_EQ(trim("1,00e010"), "1e10");
    EXPECT_EQ(trim("1,00e000"), "1");
    EXPECT_EQ(trim("2.50"), "2.5");
    char text[] = "1,500";
    EXPECT_EQ(trimNumber(text, 5), 3u);
    EXPECT_STREQ(text, "1,5");
}

TEST(FindNumber, FindsTheFirstRunThatValidates) {
    std::size_t start = 99, length = 99;
    const char* text = "width=1,5e3px";
    ASSERT_TRUE(findNumber(text, std::strlen(text), start, length));
    EXPECT_EQ(start, 6u);
    EXPECT_EQ(length, 5u);
    text = "see e-,. then 42";
    ASSERT_TRUE(findNumber(text, std::strlen(text), start, length));
    EXPECT_EQ(std::string(text + start, length), "42");
    text = "x-1,5y";
    ASSERT_TRUE(findNumber(text, std::strlen(text), start, length));
    EXPECT_EQ(std::string(text + start, length), "-1,5");
    text = "abc --5";
    EXPECT_FALSE(findNumber(text, std::strlen(text), start, length));
    EXPECT_FALSE(findNumber(nullptr, 4, start, length));
}

// --- text for messages ---

TEST(NumberText, IntegersInDecimalAndHexadecimal) {
    EXPECT_EQ(str(integerToText(0, false)), "0");
    EXPECT_EQ(str(integerToText(-42, false)), "-42");
    EXPECT_EQ(str(integerToText(std::numeric_limits<std::int64_t>::max(), false)), "9223372036854775807");
    EXPECT_EQ(str(integerToText(std::numeric_limits<std::int64_t>::min(), false)), "-9223372036854775808");
    EXPECT_EQ(str(integerToText(255, true)), "000000FF");
    EXPECT_EQ(str(integerToText(-1, true)), "FFFFFFFF");
    EXPECT_EQ(str(integerToText(0xABCDEF, true)), "00ABCDEF");
}

TEST(NumberText, NumbersTrimUnlessZerosAreKept) {
    Separator comma(',');
    EXPECT_EQ(str(numberToText(0.0015, 1, 2, true, true)), "1,50e-003");
    EXPECT_EQ(str(numberToText(0.0015, 1, 2, true, false)), "1,5e-3");
    EXPECT_EQ(str(numberToText(2.0, 1, 4, false, false)), "2");
    EXPECT_EQ(str(numberToText(0.04166, 1, 4, false, true)), "0,0417");
    EXPECT_EQ(str(numberToText(1e300, 1, 0, false, true)).size(), 301u); // longer than any fixed buffer
}

} // namespace
} // namespace vexel
