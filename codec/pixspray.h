// The GPU point-drawing library's drawing entry, as the frame decoder sees
// it: the point record it draws, the entry's type, and the one process-wide
// place that holds the entry while a library is bound
// (pipeline/pixspray_binding.h binds it). The decoder forgets the entry when
// the library fails or is of no use for the rest of the run.
#pragma once

#include "codec/block_record.h"

#include <atomic>
#include <cstdint>

namespace vexel {

// The point record the library draws, 9 bytes, no padding: the same layout
// as the codec's block record.
struct TPnt {
    std::uint8_t flag;   // 1: drawn by the library; anything else: left untouched
    std::uint8_t first;  // first direction point: low nibble column, high nibble row
    std::uint8_t second; // second direction point, same packing
    std::uint8_t baseB;  // base value of the third plane
    std::int8_t slopeB;  // its slope in tenths
    std::uint8_t baseG;
    std::int8_t slopeG;
    std::uint8_t baseR;
    std::int8_t slopeR;
};
static_assert(sizeof(TPnt) == kBlockRecordSize, "the point record is a block record");

using PixSprayModule = bool (*)(std::uint8_t* base, int offsetR, int offsetG, int offsetB, int dqx1, int dqy1,
                                std::uint8_t blockSize, std::uint32_t firstRow, std::uint32_t endRow,
                                const TPnt* points, std::uint32_t pointsPerRow, std::uint32_t pointRows);

// The drawing entry while the library is bound, else null. Safe to read
// from any thread.
PixSprayModule pixSprayModule();
// Forgets the drawing entry for the rest of the run (the library stays loaded).
void forgetPixSprayModule();
// The binding's: makes module the drawing entry (null: none).
void installPixSprayModule(PixSprayModule module);
// Makes module the drawing entry without a library (null: none), for the
// fuzz target that runs the decoder's GPU path on the processor.
void setPixSprayModuleForTest(PixSprayModule module);
} // namespace vexel
