#include "codec/kodirovaniechisel.h"

#include <atomic>

namespace vexel {

namespace {

// The pieces of one value's code.
struct CodeParts {
    std::uint64_t valueBits = 0; // the n low bits of w
    std::uint32_t n = 0;         // value bit count
    bool negative = false;
};

CodeParts splitValue(NumberCode code, std::uint64_t value) {
    CodeParts parts;
    std::uint64_t w;
    if (!code.isSigned) {
        if (value == ~std::uint64_t{0}) { // w = 2^64: 64 value bits, all zero
            parts.n = 64;
            return parts;
        }
        w = value + 1;
    } else {
        const auto v = static_cast<std::int64_t>(value);
        parts.negative = v < 0;
        w = parts.negative ? std::uint64_t{0} - value : value + 1; // at most 2^63 either way
    }
    parts.n = static_cast<std::uint32_t>(std::bit_width(w)) - 1;
    parts.valueBits = w & PackedBitWriter::lowMask(parts.n);
    return parts;
}

bool prefixWidthValid(NumberCode code) { return code.prefixWidth <= kMaxPrefixWidth; }

// Bits of the length part for m; 0 when the family cannot code m.
std::uint32_t lengthPartSize(NumberCode code, std::uint32_t m) {
    if (code.prefixWidth == 0) return 2 * (static_cast<std::uint32_t>(std::bit_width(m)) - 1) + 1;
    if (std::uint64_t{m} > (std::uint64_t{1} << code.prefixWidth)) return 0;
    return code.prefixWidth;
}

// Writes `count` bits of field, most significant first, one per byte.
void putField(std::uint8_t* bits, std::uint64_t field, std::uint32_t count) {
    for (std::uint32_t j = 0; j < count; ++j) bits[j] = static_cast<std::uint8_t>((field >> (count - 1 - j)) & 1u);
}

std::uint64_t takeField(const std::uint8_t* bits, std::uint32_t count) {
    std::uint64_t field = 0;
    for (std::uint32_t j = 0; j < count; ++j) field = (field << 1) | (bits[j] ? 1u : 0u);
    return field;
}

std::atomic<std::uint32_t> selectedPrefix{0};
std::atomic<bool> selectedSigned{false};

} // namespace

std::uint32_t codeSize(NumberCode code, std::uint64_t value) {
    if (!prefixWidthValid(code)) return 0;
    const CodeParts parts = splitValue(code, value);
    const std::uint32_t length = lengthPartSize(code, parts.n + 1);
    if (length == 0) return 0;
    return length + (code.isSigned ? 1 : 0) + parts.n;
}

std::size_t writeCode(NumberCode code, std::span<std::uint8_t> bits, std::uint64_t value) {
    const std::uint32_t total = codeSize(code, value);
    if (total == 0 || total > bits.size()) return 0;
    const CodeParts parts = splitValue(code, value);
    const std::uint32_t m = parts.n + 1;
    std::uint8_t* at = bits.data();
    if (code.prefixWidth == 0) {
        const std::uint32_t k = static_cast<std::uint32_t>(std::bit_width(m)) - 1;
        for (std::uint32_t j = 0; j < k; ++j) *at++ = 1;
        *at++ = 0;
        putField(at, m, k);
        at += k;
    } else {
        const std::uint64_t field = std::uint64_t{m} == (std::uint64_t{1} << code.prefixWidth) ? 0 : m;
        putField(at, field, code.prefixWidth);
        at += code.prefixWidth;
    }
    if (code.isSigned) *at++ = parts.negative ? 1 : 0;
    putField(at, parts.valueBits, parts.n);
    return total;
}

std::size_t readCode(NumberCode code, std::span<const std::uint8_t> bits, std::uint64_t& value) {
    if (!prefixWidthValid(code)) return 0;
    const std::uint8_t* at = bits.data();
    std::size_t left = bits.size();
    std::uint64_t m;
    if (code.prefixWidth == 0) {
        std::uint32_t k = 0;
        while (k < left && at[k]) {
            if (++k >= 7) return 0; // more than 64 value bits
        }
        if (left < 2u * k + 1) return 0;
        m = (std::uint64_t{1} << k) | takeField(at + k + 1, k);
        at += 2 * k + 1;
        left -= 2 * k + 1;
    } else {
        if (left < code.prefixWidth) return 0;
        m = takeField(at, code.prefixWidth);
        if (m == 0) m = std::uint64_t{1} << code.prefixWidth;
        at += code.prefixWidth;
        left -= code.prefixWidth;
    }
    const std::uint64_t n = m - 1;
    bool negative = false;
    if (code.isSigned) {
        if (left < 1) return 0;
        negative = *at++ != 0;
        --left;
    }
    // The widest w a value can have: 2^64 unsigned, 2^63 signed.
    const std::uint64_t widest = code.isSigned ? 63 : 64;
    if (n > widest || left < n) return 0;
    std::uint64_t low;
    if (n > 32) {
        const std::uint64_t high = takeField(at, static_cast<std::uint32_t>(n - 32));
        low = (high << 32) | takeField(at + (n - 32), 32);
    } else {
        low = takeField(at, static_cast<std::uint32_t>(n));
    }
    if (n == widest && low != 0) return 0; // w would not fit
    std::uint64_t result;
    if (!code.isSigned) {
        result = n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) + low - 1;
    } else {
        const std::uint64_t w = (std::uint64_t{1} << n) + low; // at most 2^63
        result = negative ? std::uint64_t{0} - w : w - 1;
    }
    value = result;
    return static_cast<std::size_t>(at + n - bits.data());
}

void selectNumberCode(std::uint32_t prefixWidth, bool isSigned) {
    assert(prefixWidth <= kMaxPrefixWidth);
    selectedPrefix.store(prefixWidth, std::memory_order_relaxed);
    selectedSigned.store(isSigned, std::memory_order_relaxed);
}

NumberCode selectedNumberCode() {
    return NumberCode{selectedPrefix.load(std::memory_order_relaxed), selectedSigned.load(std::memory_order_relaxed)};
}

std::uint32_t codeSize(std::uint64_t value) { return codeSize(selectedNumberCode(), value); }
std::size_t writeCode(std::span<std::uint8_t> bits, std::uint64_t value) { return writeCode(selectedNumberCode(), bits, value); }
std::size_t readCode(std::span<const std::uint8_t> bits, std::uint64_t& value) { return readCode(selectedNumberCode(), bits, value); }

void packBits(std::span<const std::uint8_t> bits, std::uint8_t* bytes) {
    const std::size_t n = bits.size();
    for (std::size_t byte = 0; byte < (n + 7) / 8; ++byte) {
        std::uint8_t packed = 0;
        for (std::size_t j = 0; j < 8 && byte * 8 + j < n; ++j)
            if (bits[byte * 8 + j]) packed = static_cast<std::uint8_t>(packed | (1u << j));
        bytes[byte] = packed;
    }
}

void unpackBits(std::span<const std::uint8_t> bytes, std::uint8_t* bits) {
    for (std::size_t byte = 0; byte < bytes.size(); ++byte)
        for (std::size_t j = 0; j < 8; ++j) bits[byte * 8 + j] = static_cast<std::uint8_t>((bytes[byte] >> j) & 1u);
}

} // namespace vexel
