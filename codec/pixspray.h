// The optional GPU point-drawing library and the marker that one running
// instance uses it.
//
// "libpixSpray_module.so" is loaded from the program's own folder only, only
// for viewing, and only while this process holds an exclusive flock on the
// file "pixSpray_inst" in $XDG_RUNTIME_DIR (else the temporary folder); the
// kernel drops the lock when the process ends, even after a crash. A missing
// library, a missing export or a negative pixSpray_init result is silent:
// the program then draws on the processor.
//
// The bound entry points live here, in one process-wide place, so that the
// frame decoder can reach them; the decoder forgets the drawing entry when
// the library fails or is of no use for the rest of the run.
#pragma once

#include "codec/block_record.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

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

using PixSprayInit = int (*)(int device);
using PixSprayModule = bool (*)(std::uint8_t* base, int offsetR, int offsetG, int offsetB, int dqx1, int dqy1,
                                std::uint8_t blockSize, std::uint32_t firstRow, std::uint32_t endRow,
                                const TPnt* points, std::uint32_t pointsPerRow, std::uint32_t pointRows);

constexpr char kPixSprayLibrary[] = "libpixSpray_module.so";
constexpr char kPixSprayMarker[] = "pixSpray_inst";

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
// The last result of pixSpray_init (-1 until it is called).
int pixSprayDevice();
// True while the marker lock is held.
bool pixSprayMarkerHeld();

// Binds the library from folder (ending with "/") when allowed (a viewing
// run) and no other process holds the marker. True when it is bound.
bool bindPixSpray(std::u16string_view folder, bool allowed);
// Lets go of the marker lock (the end of a run; the library stays loaded).
void releasePixSprayMarker();
// Unloads the library and lets go of the marker (tests).
void unbindPixSpray();

// The marker file's path.
std::string pixSprayMarkerPath();

} // namespace vexel
