#include "codec/kodirovaniechisel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace vexel {
namespace {

constexpr NumberCode kSignedGamma{0, true};

// The code of a value as a string of '0' and '1' in writing order.
std::string codeText(NumberCode code, std::uint64_t value) {
    std::vector<std::uint8_t> bits(128, 7);
    const std::size_t n = writeCode(code, bits, value);
    std::string text;
    for (std::size_t j = 0; j < n; ++j) text += bits[j] ? '1' : '0';
    return text;
}

std::vector<std::uint8_t> bitsOf(const std::string& text) {
    std::vector<std::uint8_t> bits;
    for (char c : text) bits.push_back(c == '1' ? 1 : 0);
    return bits;
}

TEST(UnsignedGamma, WritesTheExamplesBitForBit) {
    EXPECT_EQ(codeText(kUnsignedGamma, 0), "0");
    EXPECT_EQ(codeText(kUnsignedGamma, 1), "1000");
    EXPECT_EQ(codeText(kUnsignedGamma, 2), "1001");
    EXPECT_EQ(codeText(kUnsignedGamma, 3), "10100");
    EXPECT_EQ(codeText(kUnsignedGamma, 6), "10111");
    EXPECT_EQ(codeText(kUnsignedGamma, 10), "11000011");
    EXPECT_EQ(codeSize(kUnsignedGamma, 10), 8u);
    EXPECT_EQ(gammaSize(10), 8u);
}

TEST(UnsignedGamma, TheLargestValueTakesSeventySevenBitsAndReadsBack) {
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    // w = 2^64: n = 64, m = 65, k = 6.
    EXPECT_EQ(codeSize(kUnsignedGamma, max), 77u);
    EXPECT_EQ(codeText(kUnsignedGamma, max), "1111110" "000001" + std::string(64, '0'));
    std::vector<std::uint8_t> bits(77);
    ASSERT_EQ(writeCode(kUnsignedGamma, bits, max), 77u);
    std::uint64_t value = 0;
    EXPECT_EQ(readCode(kUnsignedGamma, bits, value), 77u);
    EXPECT_EQ(value, max);
}

TEST(SignedAndFixedPrefixCodes, PlaceTheSignAfterTheLengthPart) {
    EXPECT_EQ(codeText(kSignedGamma, 0), "00");
    EXPECT_EQ(codeText(kSignedGamma, static_cast<std::uint64_t>(-1)), "01");
    EXPECT_EQ(codeText(kSignedGamma, static_cast<std::uint64_t>(-2)), "10010");
    EXPECT_EQ(codeText(kSignedGamma, 5), "101010"); // w = 6: length 101, sign 0, bits 10
    const NumberCode fixed2{2, false};
    EXPECT_EQ(codeText(fixed2, 3), "1100");  // w = 4, m = 3
    EXPECT_EQ(codeText(fixed2, 7), "00000"); // m = 4 = 2^L is written as 0
    EXPECT_EQ(codeText(NumberCode{2, true}, static_cast<std::uint64_t>(-3)), "10" "1" "1");
}

TEST(SignedAndFixedPrefixCodes, AFixedPrefixTooNarrowCannotWriteTheValue) {
    const NumberCode fixed2{2, false};
    EXPECT_EQ(codeSize(fixed2, 15), 0u); // m = 5 > 4
    std::vector<std::uint8_t> bits(64, 9);
    EXPECT_EQ(writeCode(fixed2, bits, 15), 0u);
    EXPECT_EQ(bits[0], 9); // nothing written
    EXPECT_EQ(codeSize(NumberCode{33, false}, 1), 0u);
}

TEST(NumberCodes, EveryFamilyReadsBackWhatItWrote) {
    const std::vector<NumberCode> families = {kUnsignedGamma, kSignedGamma, {3, false}, {3, true},
                                              {7, false},     {7, true},    {1, false}};
    std::vector<std::uint64_t> values = {0, 1, 2, 3, 6, 10, 255, 256, 65535, 0xFFFFFFFFull, 0x100000000ull,
                                         0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull, ~0ull, ~0ull - 1};
    std::mt19937_64 random(4);
    for (int j = 0; j < 200; ++j) values.push_back(random() >> (random() % 64));
    for (NumberCode family : families) {
        for (std::uint64_t v : values) {
            const std::uint32_t size = codeSize(family, v);
            if (size == 0) continue;
            std::vector<std::uint8_t> bits(size + 5, 0);
            ASSERT_EQ(writeCode(family, bits, v), size);
            std::uint64_t back = 12345;
            ASSERT_EQ(readCode(family, bits, back), size) << family.prefixWidth << " " << family.isSigned << " " << v;
            EXPECT_EQ(back, v);
            // One bit too few is a failure that leaves the value alone.
            back = 12345;
            EXPECT_EQ(readCode(family, std::span<const std::uint8_t>(bits.data(), size - 1), back), 0u);
            EXPECT_EQ(back, 12345u);
            // Too little room to write.
            EXPECT_EQ(writeCode(family, std::span<std::uint8_t>(bits.data(), size - 1), v), 0u);
        }
    }
}

TEST(NumberCodes, ReadingRefusesLengthsBeyondSixtyFourValueBits) {
    std::uint64_t v = 0;
    // Seven one-bits before the zero ask for at least 127 value bits.
    EXPECT_EQ(readCode(kUnsignedGamma, bitsOf("1111111" + std::string(200, '0')), v), 0u);
    // Six one-bits with m = 66: 65 value bits.
    EXPECT_EQ(readCode(kUnsignedGamma, bitsOf("1111110000010" + std::string(80, '0')), v), 0u);
    // n = 64 with a non-zero value bit overflows.
    EXPECT_EQ(readCode(kUnsignedGamma, bitsOf("1111110000001" + std::string(63, '0') + "1"), v), 0u);
    // Signed: w above 2^63 cannot be a 64-bit value.
    EXPECT_EQ(readCode(kSignedGamma, bitsOf("1111110" "000000" "0" + std::string(62, '0') + "1"), v), 0u);
    EXPECT_EQ(readCode(kSignedGamma, bitsOf("1111110" "000000" "1" + std::string(63, '0')), v), 77u);
    EXPECT_EQ(v, 0x8000000000000000ull); // -2^63
    // A fixed prefix with m far beyond 65.
    EXPECT_EQ(readCode(NumberCode{8, false}, bitsOf("11111111" + std::string(300, '0')), v), 0u);
}

TEST(BitArrays, PackLowestBitFirstWithZeroPadding) {
    const std::vector<std::uint8_t> bits = bitsOf("1000" "1100" "1");
    std::uint8_t bytes[2] = {0xFF, 0xFF};
    packBits(bits, bytes);
    EXPECT_EQ(bytes[0], 0x31); // bits 0, 4, 5
    EXPECT_EQ(bytes[1], 0x01);
    std::uint8_t back[16];
    unpackBits(bytes, back);
    for (std::size_t j = 0; j < 16; ++j) EXPECT_EQ(back[j], j < bits.size() ? bits[j] : 0) << j;
}

TEST(BitArrays, ThePackedWriterAndReaderAgreeWithTheBitArrayFunctions) {
    std::mt19937_64 random(11);
    std::vector<std::uint64_t> values;
    for (int j = 0; j < 2000; ++j) {
        const int width = static_cast<int>(random() % 65);
        values.push_back(width == 64 ? random() : random() & ((std::uint64_t{1} << width) - 1));
    }
    values.push_back(~0ull);
    values.push_back(0);
    std::vector<std::uint8_t> bits(values.size() * kMaxCodeBits);
    std::size_t used = 0;
    for (std::uint64_t v : values)
        used += writeCode(kUnsignedGamma, std::span<std::uint8_t>(bits.data() + used, bits.size() - used), v);
    std::vector<std::uint8_t> packed((used + 7) / 8);
    packBits(std::span<const std::uint8_t>(bits.data(), used), packed.data());

    std::vector<std::uint8_t> fast(packed.size() + 8, 0xEE);
    PackedBitWriter writer(fast.data(), fast.size());
    for (std::uint64_t v : values) writer.putGamma(v);
    EXPECT_EQ(writer.bitCount(), used);
    ASSERT_EQ(writer.finish(), packed.size());
    fast.resize(packed.size());
    EXPECT_EQ(fast, packed);

    PackedBitReader reader(packed, used);
    for (std::uint64_t v : values) {
        std::uint64_t back;
        ASSERT_TRUE(reader.readGamma(back));
        ASSERT_EQ(back, v);
    }
    std::uint64_t extra;
    EXPECT_FALSE(reader.readGamma(extra)); // the bit count ends the array, not the bytes
}

TEST(BitArrays, ThePackedReaderNeverRunsPastItsBitCount) {
    // gamma(10) = 11000011 is 8 bits: with 7 bits available it must fail.
    const std::uint8_t byte = 0xC3; // bits 0..7 = 1,1,0,0,0,0,1,1
    std::uint64_t v;
    PackedBitReader seven({&byte, 1}, 7);
    EXPECT_FALSE(seven.readGamma(v));
    EXPECT_EQ(seven.position(), 0u);
    PackedBitReader eight({&byte, 1}, 8);
    ASSERT_TRUE(eight.readGamma(v));
    EXPECT_EQ(v, 10u);
    // A bit count larger than the bytes is clipped to the bytes.
    PackedBitReader clipped({&byte, 1}, 1000);
    EXPECT_EQ(clipped.remaining(), 8u);
}

TEST(NumberCodeSelection, TheProcessWideFamilyDrivesTheShortForms) {
    EXPECT_EQ(selectedNumberCode().prefixWidth, 0u);
    EXPECT_FALSE(selectedNumberCode().isSigned);
    std::vector<std::uint8_t> bits(16);
    EXPECT_EQ(writeCode(bits, 3), 5u); // unsigned gamma by default
    selectNumberCode(3, true);
    EXPECT_EQ(codeSize(static_cast<std::uint64_t>(-1)), 4u); // L + n + 1 with n = 0
    std::uint64_t v = 0;
    ASSERT_EQ(writeCode(bits, static_cast<std::uint64_t>(-6)), 6u);
    EXPECT_EQ(readCode(std::span<const std::uint8_t>(bits.data(), 6), v), 6u);
    EXPECT_EQ(static_cast<std::int64_t>(v), -6);
    selectNumberCode(0, false);
    EXPECT_EQ(codeSize(3), 5u);
}

} // namespace
} // namespace vexel
