#include "lib/internal.h"

namespace vexel::lib {

void planesToPixels(const TPicturePlanes& planes, vexel_pixel_format format, std::uint8_t* pixels, std::size_t stride) {
    const std::int32_t width = planes.width(), height = planes.height();
    for (std::int32_t y = 0; y < height; ++y) {
        // Plane rows run from the bottom.
        const std::uint8_t* r = planes.row(TPicturePlanes::kRed, height - 1 - y);
        const std::uint8_t* g = planes.row(TPicturePlanes::kGreen, height - 1 - y);
        const std::uint8_t* b = planes.row(TPicturePlanes::kBlue, height - 1 - y);
        std::uint8_t* out = pixels + static_cast<std::size_t>(y) * stride;
        if (format == VEXEL_PIXELS_RGB) {
            for (std::int32_t x = 0; x < width; ++x, out += 3) {
                out[0] = r[x];
                out[1] = g[x];
                out[2] = b[x];
            }
        } else {
            for (std::int32_t x = 0; x < width; ++x, out += 4) {
                out[0] = b[x];
                out[1] = g[x];
                out[2] = r[x];
                out[3] = 255;
            }
        }
    }
}

void pixelsToPlanes(const std::uint8_t* pixels, std::size_t stride, vexel_pixel_format format, TPicturePlanes& planes) {
    const std::int32_t width = planes.width(), height = planes.height();
    const bool rgb = format == VEXEL_PIXELS_RGB;
    const std::size_t step = rgb ? 3 : 4;
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint8_t* r = planes.row(TPicturePlanes::kRed, height - 1 - y);
        std::uint8_t* g = planes.row(TPicturePlanes::kGreen, height - 1 - y);
        std::uint8_t* b = planes.row(TPicturePlanes::kBlue, height - 1 - y);
        const std::uint8_t* in = pixels + static_cast<std::size_t>(y) * stride;
        for (std::int32_t x = 0; x < width; ++x, in += step) {
            r[x] = rgb ? in[0] : in[2];
            g[x] = in[1];
            b[x] = rgb ? in[2] : in[0];
        }
    }
}

} // namespace vexel::lib

#define VEXEL_TEXT_OF(x) #x
#define VEXEL_VERSION_TEXT(a, b, c) VEXEL_TEXT_OF(a) "." VEXEL_TEXT_OF(b) "." VEXEL_TEXT_OF(c)

extern "C" {

unsigned vexel_version_number(void) { return VEXEL_VERSION_NUMBER; }

const char* vexel_version_string(void) { return VEXEL_VERSION_TEXT(VEXEL_VERSION_MAJOR, VEXEL_VERSION_MINOR, VEXEL_VERSION_PATCH); }

const char* vexel_status_string(vexel_status status) {
    switch (status) {
    case VEXEL_OK: return "success";
    case VEXEL_ERROR_ARGUMENT: return "invalid argument";
    case VEXEL_ERROR_NOT_VX: return "not a .vx file";
    case VEXEL_ERROR_CORRUPT: return "the record is damaged and does not decode";
    case VEXEL_ERROR_TOO_LARGE: return "the picture is over the reader's pixel or memory limit";
    case VEXEL_ERROR_NO_MEMORY: return "out of memory";
    case VEXEL_ERROR_IO: return "the file cannot be opened, read or written";
    case VEXEL_ERROR_RANGE: return "no record with that index";
    case VEXEL_ERROR_BUFFER_SMALL: return "the buffer is too small for the picture";
    case VEXEL_ERROR_STATE: return "the call does not fit the handle's state";
    }
    return "unknown status";
}

} // extern "C"
