// The legacy flags of "-4" and "-x": how files of older programs are read,
// and written again in their form. The reading bits are what a first
// "-4" or "-x" sets; a second press moves each to its writing bit; a run
// that packs reads with the writing bits as well.
#pragma once

#include <cstdint>

namespace vexel {

constexpr std::uint8_t kLegacyOldLuma = 1;            // bit 0: luma read shifted left by 2 in modes 6 and up
constexpr std::uint8_t kLegacyChromaAnchor = 2;       // bit 1: anchor size from the chroma cell in modes <= 7
constexpr std::uint8_t kLegacyOldLumaWriter = 4;      // bit 2: luma shifted right by 2 in modes 6 to 8
constexpr std::uint8_t kLegacyChromaAnchorWriter = 8; // bit 3: anchor size from the chroma cell in modes <= 7
constexpr std::uint8_t kLegacyReadingBits = kLegacyOldLuma | kLegacyChromaAnchor;

// The reading bits a run's writing bits give.
constexpr std::uint8_t legacyReadingFromWriting(std::uint8_t flags) {
    return static_cast<std::uint8_t>((flags >> 2) & kLegacyReadingBits);
}

} // namespace vexel
