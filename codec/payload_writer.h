// Stream payload writer: turns a stream's block decisions into its bytes.
//
// It computes the luma and chroma planes of the band, maps the encoder's block
// kinds to the type codes of the record's mode and writes the interleaved
// block area and the trailer sections (modes 0 to 8), compressing the result
// in mode 8, or builds the four compressed units of mode 9. The layout of
// all of it, delta chunks included, is drawn in codec/container.h, whose
// rules both this writer and the decoder follow.
//
// Coefficient chunks hold at most 32 values, luma chunks at most 128.
#pragma once

#include "codec/container.h"
#include "codec/legacy_flags.h"
#include "codec/frame_encoder.h"

#include <cstddef>
#include <cstdint>

namespace vexel {

// Chroma cell edge Q: 2 in modes 0 and 1 and for quality, else 4; doubled
// above mode 1 for a picture more than 1.5 times the screen in either
// direction. The screen is the caller's (a fixed reference for every run that
// writes files).
std::uint32_t chromaStepFor(std::uint8_t mode, std::int8_t optimize, std::uint32_t width, std::uint32_t height,
                            std::uint32_t screenWidth, std::uint32_t screenHeight);

// Bytes of a gradient's anchor as this writer stores it: the reader's rule
// (anchorByteCount), with the anchor size taken from Q under the legacy
// anchor flag.
std::uint32_t writerAnchorBytes(std::uint8_t mode, std::uint8_t legacyFlags, std::uint32_t B, std::uint32_t Q);

// Writes one delta chunk of n values (1 <= n <= 128) without its length byte;
// returns its length, 2 + ceil((n - 1) w / 8). `out` must hold 2 + n bytes.
std::size_t encodeDeltaChunk(const std::uint8_t* values, std::size_t n, std::uint8_t* out);

// Luma (Y) and chroma (Cb, Cr) of a picture: three padded planes, each
// (width + 32) x (height + 32) bytes, bottom row first, the picture 16 rows
// and columns in. Chroma is stored at full resolution, each cell's value
// repeated over the cell.
struct ColourPlanes {
    TrackedBuffer<std::uint8_t> planes;
    std::uint32_t width = 0, height = 0;

    bool allocate(std::uint32_t w, std::uint32_t h);
    std::size_t stride() const { return static_cast<std::size_t>(width) + 32; }
    std::size_t planeSize() const { return stride() * (static_cast<std::size_t>(height) + 32); }
    std::uint8_t* plane(int p) { return planes.data() + p * planeSize(); }
    const std::uint8_t* plane(int p) const { return planes.data() + p * planeSize(); }
    std::size_t offset(std::uint32_t x, std::uint32_t y) const { return (y + 16) * stride() + x + 16; }
    std::uint8_t luma(std::uint32_t x, std::uint32_t y) const { return plane(0)[offset(x, y)]; }
    std::uint8_t cb(std::uint32_t x, std::uint32_t y) const { return plane(1)[offset(x, y)]; }
    std::uint8_t cr(std::uint32_t x, std::uint32_t y) const { return plane(2)[offset(x, y)]; }
};

// Fills the planes for the rows of the grid's band from the source: Y per
// pixel; per Q x Q cell the means of red, green and blue over its in-picture
// pixels, each rounded, converted, and Cb and Cr rounded. False when the
// planes cannot be had.
bool computeColourPlanes(const SourcePlanes& source, const EncoderGrid& grid, std::uint32_t Q, ColourPlanes& planes);

struct PayloadJob {
    std::uint8_t mode = 8;
    std::uint8_t legacyFlags = 0;
    std::uint32_t chromaStep = 4;  // Q
    std::uint32_t headerSize = 0;  // the header's size in the stream that follows it, else 0
};

// Builds the stream's payload into `out` (resized as needed) and its length.
// The record map is remapped in place. kDone; kFailed (encoding failed)
// when the colour planes are missing or compression failed; kNoMemory when
// the payload buffer cannot be had.
Result buildStreamPayload(BlockMap& map, const ColourPlanes& planes, const EncoderGrid& grid, const PayloadJob& job,
                          TrackedBuffer<std::uint8_t>& out, std::size_t& length, bool motionSection);

} // namespace vexel
