// Drawing of gradient blocks: the processor's renderer, the reference that
// the GPU module must match.
//
// A gradient block (its record: codec/block_record.h) grows by J x slope
// per pixel along its direction, J = sqrt(2) / 2 + 1/2.
#pragma once

#include "codec/plane_view.h"

#include <cstddef>
#include <cstdint>

namespace vexel {

struct GradientBlocks {
    const std::uint8_t* records; // 9 bytes per block of the whole picture, block order
    std::uint32_t columns, rows; // block grid
    std::uint32_t B;
};

// Draws the gradient blocks of block rows [firstRow, endRow) into the target,
// in fast painting (each block on its own) or smooth painting (corners
// averaged with the neighbouring gradient blocks, bilinear between them).
// Pixels outside the picture are skipped. False when B is outside 2..16.
bool renderGradientsCpu(const GradientBlocks& blocks, std::uint32_t firstRow, std::uint32_t endRow, bool fast,
                        const PixelTarget& target);

} // namespace vexel
