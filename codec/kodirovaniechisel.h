// Number coding: variable-length codes for 64-bit integers, bit arrays and
// their packing into bytes. The stream compressor writes every flag run and
// every match distance and length with these codes, so their bits are part
// of every compressed stream on disk.
//
// Bit arrays. While codes are written or read, bits are held one per byte
// (each byte 0 or 1). Stored, a bit array of n bits takes ceil(n / 8) bytes,
// least significant bit first:
//
//     bit j of the array  ->  bit (j mod 8) of byte (j div 8)
//     unused high bits of the last byte are 0
//
// Number codes. A value v is first mapped to a positive w:
//     unsigned families: w = v + 1          (v = 2^64 - 1 gives w = 2^64)
//     signed families:   w = v + 1 for v >= 0, w = -v for v < 0, plus a sign bit (1 negative)
// n = floor(log2 w) is the count of bits of w below its leading 1 (0..64);
// the value bits are those n bits, most significant first. The length part
// codes m = n + 1:
//
//     family                   bits in writing order                                    total
//     unsigned gamma           k ones, a zero, the k low bits of m (k = floor(log2 m)),   2k + 1 + n
//                              the n value bits
//     signed gamma             the length part, the sign bit, the value bits             2k + 2 + n
//     unsigned fixed prefix L  m in L bits (2^L written as 0), the value bits            L + n
//     signed fixed prefix L    the prefix, the sign bit, the value bits                  L + n + 1
//
// Unsigned gamma is the default and the only family the codec uses:
// 0 -> 0, 1 -> 1000, 2 -> 1001, 3 -> 10100, 6 -> 10111, 10 -> 11000011.
//
// A code is refused on reading when it runs past the bits available, when
// its length part asks for more than 64 value bits (seven or more leading
// one-bits of a gamma code), or when its value does not fit 64 bits.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace vexel {

// A code family: prefix width L (0 selects gamma) and whether values are
// signed. Signed families take and give a two's-complement std::int64_t
// carried in the std::uint64_t.
struct NumberCode {
    std::uint32_t prefixWidth = 0; // 0: gamma; 1..32: fixed prefix of that many bits
    bool isSigned = false;
};

inline constexpr NumberCode kUnsignedGamma{};
inline constexpr std::uint32_t kMaxPrefixWidth = 32;
// The longest code of any family: a 64-bit value in signed gamma.
inline constexpr std::uint32_t kMaxCodeBits = 77;

// Bits the family needs for value; 0 when it cannot write it (a fixed prefix
// too narrow for m, or a prefix width above kMaxPrefixWidth).
std::uint32_t codeSize(NumberCode code, std::uint64_t value);

// Writes value's code into bits[0..] (one bit per byte). Returns the bits
// written; 0 when the code does not fit bits.size() or the family cannot
// write the value (nothing is written then).
std::size_t writeCode(NumberCode code, std::span<std::uint8_t> bits, std::uint64_t value);

// Reads one code from bits[0..] (a non-zero byte is a one-bit). Returns the
// bits consumed and sets value; 0 on failure (value untouched).
std::size_t readCode(NumberCode code, std::span<const std::uint8_t> bits, std::uint64_t& value);

// The process-wide family used by the overloads without a family argument.
// It starts as unsigned gamma. The stream compressor never reads it: it
// always names unsigned gamma, so streams compress and expand in parallel.
void selectNumberCode(std::uint32_t prefixWidth, bool isSigned);
NumberCode selectedNumberCode();
std::uint32_t codeSize(std::uint64_t value);
std::size_t writeCode(std::span<std::uint8_t> bits, std::uint64_t value);
std::size_t readCode(std::span<const std::uint8_t> bits, std::uint64_t& value);

// Packs n bits (one per byte, non-zero is one) into ceil(n / 8) bytes.
void packBits(std::span<const std::uint8_t> bits, std::uint8_t* bytes);
// Unpacks m bytes into 8 x m bits, one per byte.
void unpackBits(std::span<const std::uint8_t> bytes, std::uint8_t* bits);

// Unsigned gamma size of a value, the cost the compressor weighs.
constexpr std::uint32_t gammaSize(std::uint64_t value) {
    const std::uint32_t n = value == ~std::uint64_t{0} ? 64 : std::bit_width(value + 1) - 1;
    const std::uint32_t k = std::bit_width(n + 1) - 1;
    return 2 * k + 1 + n;
}

// The low `count` bits of x in reverse order.
inline std::uint64_t reverseBits(std::uint64_t x, std::uint32_t count) {
    if (count == 0) return 0;
    x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
    x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
    x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
    x = __builtin_bswap64(x);
    return x >> (64 - count);
}

// Writes packed bit arrays (the stored order above) straight into bytes.
// The caller sizes the area; writing past it is a programmer error.
class PackedBitWriter {
public:
    PackedBitWriter(std::uint8_t* bytes, std::size_t capacity) : out_(bytes), capacity_(capacity) {}

    // Appends `count` bits (at most 57) taken from the low bits of bits,
    // lowest first (the stored order).
    void putStored(std::uint64_t bits, std::uint32_t count) {
        assert(count <= 57);
        if (count == 0) return;
        acc_ |= (bits & lowMask(count)) << fill_;
        fill_ += count;
        while (fill_ >= 8) {
            assert(byte_ < capacity_);
            out_[byte_++] = static_cast<std::uint8_t>(acc_);
            acc_ >>= 8;
            fill_ -= 8;
        }
    }
    // Appends `count` bits (at most 64) of field, most significant first.
    void putField(std::uint64_t field, std::uint32_t count) {
        if (count > 32) {
            putStored(reverseBits(field >> 32, count - 32), count - 32);
            count = 32;
        }
        putStored(reverseBits(field, count), count);
    }
    // Appends the unsigned gamma code of value.
    void putGamma(std::uint64_t value) {
        const std::uint64_t w = value + 1; // 2^64 wraps to 0, whose low 64 bits are right
        const std::uint32_t n = value == ~std::uint64_t{0} ? 64 : std::bit_width(w) - 1;
        const std::uint32_t m = n + 1;
        const std::uint32_t k = std::bit_width(m) - 1;
        if (2 * k + 1 + n <= 57) { // the whole code as one field: k ones, a zero, m's and w's low bits
            const std::uint64_t code = lowMask(k) << (k + 1 + n) | (m & lowMask(k)) << n | (w & lowMask(n));
            putStored(reverseBits(code, 2 * k + 1 + n), 2 * k + 1 + n);
            return;
        }
        putStored(lowMask(k), k + 1);
        putField(m, k);
        putField(w, n);
    }
    // Appends `count` stored bits from a packed array.
    void putArray(const std::uint8_t* bytes, std::uint64_t count) {
        std::uint64_t i = 0;
        for (; count - i >= 64; i += 56) { // a whole word lies inside the array
            std::uint64_t word;
            std::memcpy(&word, bytes + i / 8, 8);
            putStored(word, 56);
        }
        for (; i < count; ++i) putStored((bytes[i / 8] >> (i % 8)) & 1u, 1);
    }
    // Writes the last partial byte (high bits 0). Returns the bytes written.
    std::size_t finish() {
        if (fill_ > 0) {
            assert(byte_ < capacity_);
            out_[byte_++] = static_cast<std::uint8_t>(acc_);
            acc_ = 0;
            fill_ = 0;
        }
        return byte_;
    }
    std::uint64_t bitCount() const { return std::uint64_t{byte_} * 8 + fill_; }

    static std::uint64_t lowMask(std::uint32_t count) { return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1; }

private:
    std::uint8_t* out_;
    [[maybe_unused]] std::size_t capacity_; // checked by asserts
    std::size_t byte_ = 0;
    std::uint64_t acc_ = 0;
    std::uint32_t fill_ = 0;
};

// Reads codes from a packed bit array of `bitCount` bits held in `bytes`
// (bitCount may be below 8 x bytes). Never reads outside the bytes; a code
// that would run past bitCount is refused and consumes nothing.
class PackedBitReader {
public:
    PackedBitReader(std::span<const std::uint8_t> bytes, std::uint64_t bitCount)
        : data_(bytes.data()), bytes_(bytes.size()),
          limit_(bitCount < std::uint64_t{bytes.size()} * 8 ? bitCount : std::uint64_t{bytes.size()} * 8) {}

    std::uint64_t position() const { return pos_; }
    std::uint64_t remaining() const { return limit_ - pos_; }

    // Reads one unsigned gamma code; false when it runs past the bits, asks
    // for more than 64 value bits or overflows 64 bits.
    [[gnu::always_inline]] bool readGamma(std::uint64_t& value) {
        const std::uint64_t window = peek();
        if (remaining() >= 57) { // the common short code, read at once from the window
            const std::uint64_t stream = reverseBits(window, 64); // stream bit 0 at the top
            const std::uint32_t k = static_cast<std::uint32_t>(std::countl_one(stream));
            if (k <= 4) { // m < 32: n <= 30, the whole code within 2 x 4 + 1 + 30 = 39 bits
                const std::uint64_t m = k == 0 ? 1 : (std::uint64_t{1} << k) | (stream << (k + 1)) >> (64 - k);
                const std::uint64_t n = m - 1;
                const std::uint64_t low = n == 0 ? 0 : (stream << (2 * k + 1)) >> (64 - n);
                pos_ += 2 * k + 1 + n;
                value = (std::uint64_t{1} << n) + low - 1;
                return true;
            }
        }
        return readGammaSlowly(window, value);
    }

private:
    [[gnu::noinline]] bool readGammaSlowly(std::uint64_t window, std::uint64_t& value) {
        const std::uint32_t k = static_cast<std::uint32_t>(std::countr_one(window));
        if (k >= 7) return false;
        if (remaining() < 2u * k + 1) return false;
        const std::uint64_t m = (std::uint64_t{1} << k) | reverseBits(window >> (k + 1), k);
        const std::uint64_t n = m - 1;
        if (n > 64 || remaining() - (2u * k + 1) < n) return false;
        pos_ += 2u * k + 1;
        std::uint64_t low;
        if (n <= 56) {
            low = reverseBits(peek(), static_cast<std::uint32_t>(n));
        } else {
            const std::uint64_t high = reverseBits(peek(), 32);
            pos_ += 32;
            low = (high << (n - 32)) | reverseBits(peek(), static_cast<std::uint32_t>(n - 32));
            pos_ -= 32;
            if (n == 64 && low != 0) { pos_ -= 2u * k + 1; return false; }
        }
        pos_ += n;
        value = n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) + low - 1;
        return true;
    }

    // The next 57 or more bits from pos_ in stored order; bits past the bytes read as 0.
    std::uint64_t peek() const {
        const std::size_t at = static_cast<std::size_t>(pos_ >> 3);
        std::uint64_t word = 0;
        if (at + 8 <= bytes_) {
            std::memcpy(&word, data_ + at, 8);
        } else if (at < bytes_) {
            std::memcpy(&word, data_ + at, bytes_ - at);
        }
        return word >> (pos_ & 7);
    }

    const std::uint8_t* data_;
    std::size_t bytes_;
    std::uint64_t limit_;
    std::uint64_t pos_ = 0;
};

} // namespace vexel
