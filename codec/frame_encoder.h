// Frame encoder: decides, block by block, how a band of a picture is stored.
//
// The picture is cut into B x B blocks. Each block of the stream's band is
// either approximated by a gradient model (a direction and, per colour, a base
// value and a slope) or kept as detail; in videos a block that hardly changed
// since the previous frame is kept from it. The gradient model is accepted
// when rendering it (corners averaged with the neighbouring blocks' models,
// bilinear between the corners, much as a decoder does) stays within error
// thresholds that depend on the block size; a clean-up pass then removes
// isolated decisions so that the type map forms regions.
//
// Rows are numbered in bitmap order: row 0 is the bottom row of the picture.
// Blocks, block rows and every payload order use this numbering.
#pragma once

#include "base/memdiag.h"
#include "codec/container.h"
#include "codec/plane_view.h"

#include <cstddef>
#include <cstdint>

namespace vexel {

// Block kinds while encoding (byte 0 of a record, codec/container.h): detail,
// gradient, and keep for kept blocks and blocks outside the band.
constexpr std::uint8_t kTypeDetail = kindByte(BlockKind::Detail);
constexpr std::uint8_t kTypeGradient = kindByte(BlockKind::Gradient);
constexpr std::uint8_t kTypeKeep = kindByte(BlockKind::Keep);

// Block size, thresholds and the type of untouched blocks for one frame.
struct EncoderSettings {
    std::uint32_t B = 8;
    int k = 3;
    double T1 = 0;
    double T2 = 0;
    std::uint8_t initialType = kTypeKeep;
    // Modes 3 and 8 with one anchor byte store the first anchor point alone
    // (codec/container.h), the reader taking the second as (0, 0). The
    // encoder then writes a first anchor that carries the block's direction
    // modulo pi and decides with that direction.
    bool firstAnchorOnly = false;

    // Quality (optimize < 0): k 2, B 4; default: k 3, B 8; size (> 0): k 4, B 16.
    // anchorBytes: the payload writer's anchor bytes (writerAnchorBytes),
    // 0 for those of B.
    static EncoderSettings forFrame(std::int8_t optimize, std::uint8_t mode, std::uint32_t anchorBytes = 0);
    // B alone.
    static std::uint32_t blockSizeFor(std::int8_t optimize);
};

// The block grid of a picture and the band of block rows one stream encodes.
struct EncoderGrid {
    std::uint32_t width = 0, height = 0, B = 8;
    std::uint32_t columns = 0, rows = 0;
    std::uint32_t firstRow = 0, endRow = 0; // the band
    std::uint64_t blocks() const { return static_cast<std::uint64_t>(columns) * rows; }

    // Stream `stream` of `streams` (0 of 1 for a single stream): block rows
    // [(i-1) P, min(i P, rows)) with P = ceil(rows / streams).
    static EncoderGrid forStream(std::uint32_t width, std::uint32_t height, std::uint32_t B, std::uint32_t stream,
                                 std::uint32_t streams);
};

// The record map of one stream: a block record (codec/block_record.h) per
// block of the whole picture, in block order.
struct BlockMap {
    TrackedBuffer<std::uint8_t> records;
    TrackedBuffer<float> maeGreen; // per block, from the decision
    TrackedBuffer<float> e2Green;
    bool motionSection = false; // a mode-7 frame kept blocks: write the motion section

    std::uint8_t* record(std::uint64_t block) { return records.data() + 9 * block; }
    const std::uint8_t* record(std::uint64_t block) const { return records.data() + 9 * block; }
};

// Fills the record map of the stream's band: direction, base values and
// slopes, the gradient-or-detail decision and the clean-up. Blocks outside
// the band get the initial type and zero parameters. False when a working
// buffer cannot be had.
bool analyseBlocks(const SourcePlanes& source, const EncoderSettings& settings, const EncoderGrid& grid,
                   BlockMap& map);

// The keep test for video frames (modes 7 and above, not on keyframes, not in
// conversions; the caller decides): blocks of the band that hardly changed
// since the previous source frame become keep blocks. The first keep block of
// a mode-7 frame raises map.motionSection.
void markKeepBlocks(const SourcePlanes& current, const SourcePlanes& previous, const EncoderSettings& settings,
                    const EncoderGrid& grid, std::uint8_t mode, BlockMap& map);

// The clean-up of the type map alone (part of analyseBlocks): detail blocks
// that nearly passed and have fewer than two like-neighbour pairs become
// gradient, then lone gradient blocks become detail.
void cleanUpTypeMap(const EncoderGrid& grid, const EncoderSettings& settings, BlockMap& map);

// The first anchor byte (x in the low nibble, y in the high) whose direction
// atan2(-y, -x) is closest to a modulo pi, and whether it points the other
// way (the slopes then change sign). For one-anchor writers; tests.
struct FirstAnchor {
    std::uint8_t byte;
    bool flip;
};
FirstAnchor nearestFirstAnchor(double a);

// The model of one block as a decoder reads it from its record, for tests:
// the value at the block corner (sx, sy), sx, sy in {-1, +1}.
double modelCornerValue(const std::uint8_t* record, int channel, int sx, int sy, std::uint32_t B);

} // namespace vexel
