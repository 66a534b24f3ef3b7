// "The screen" the program measures pictures against.
//
// Whether a picture fits the screen decides which buffer holds it and, for
// very large pictures, choices that change the bytes written. Every run that
// writes files measures against this fixed reference, so the same command
// always writes the same bytes whatever display is attached; only the viewer
// may measure against the real display.
#pragma once

#include <cstdint>

namespace vexel {

struct ScreenSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The fixed 1920 x 1080 reference screen.
ScreenSize referenceScreenSize();

// True when a width x height picture is no wider and no taller than the screen.
inline bool fitsScreen(std::int64_t width, std::int64_t height, ScreenSize screen) {
    return width <= screen.width && height <= screen.height;
}

} // namespace vexel
