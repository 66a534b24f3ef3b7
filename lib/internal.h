// What the reader and the writer of the public interface share: the status
// of an internal result, the options' checks and the copies between the
// caller's pixel rows and the picture planes.
#pragma once

#include "pipeline/picture_buffer.h"
#include "include/vexel/vexel.h"

#include <cstddef>
#include <cstdint>

namespace vexel::lib {

// Bytes per pixel of a format; 0 for a value that is not a format.
inline std::size_t bytesPerPixel(vexel_pixel_format format) {
    switch (format) {
    case VEXEL_PIXELS_RGB: return 3;
    case VEXEL_PIXELS_BGRA: return 4;
    }
    return 0;
}

// The planes' picture into the caller's rows (top row first).
void planesToPixels(const TPicturePlanes& planes, vexel_pixel_format format, std::uint8_t* pixels, std::size_t stride);
// The caller's rows (top row first) into planes of the same size.
void pixelsToPlanes(const std::uint8_t* pixels, std::size_t stride, vexel_pixel_format format, TPicturePlanes& planes);

} // namespace vexel::lib
