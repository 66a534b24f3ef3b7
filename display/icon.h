// The program's icon, drawn in code so that the window, the desktop entry
// and the package all show the same picture: a rounded tile of 4 x 4
// blocks, smooth gradient blocks above a horizon and detail blocks below,
// as the codec sees a picture.
#pragma once

#include <cstdint>
#include <vector>

namespace vexel {

// size x size pixels, rows from the top, each 0xAARRGGBB (straight alpha).
std::vector<std::uint32_t> programIcon(int size);

} // namespace vexel
