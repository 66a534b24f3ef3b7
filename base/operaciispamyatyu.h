// Raw memory operations used across the program.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel {

// Copies n bytes; overlapping ranges are moved correctly.
void memCopy(void* destination, const void* source, std::size_t n);
// Sets n bytes to zero.
void memZero(void* block, std::size_t n);
// True when the first n bytes of a and b are equal (always true for n = 0).
bool memEqual(const void* a, const void* b, std::size_t n);

// Little-endian integers in byte arrays (every file format of the program
// stores its integers this way), at any alignment.
inline std::uint16_t loadU16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | at[1] << 8); }
inline std::uint32_t loadU32(const std::uint8_t* at) {
    return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24;
}
inline std::uint64_t loadU64(const std::uint8_t* at) {
    return std::uint64_t{loadU32(at)} | std::uint64_t{loadU32(at + 4)} << 32;
}
inline void storeU16(std::uint8_t* at, std::uint32_t v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void storeU32(std::uint8_t* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void storeU64(std::uint8_t* at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace vexel
