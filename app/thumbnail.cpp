#include "app/thumbnail.h"

#include <vexel/vexel.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vexel {

void thumbnailSize(std::uint32_t width, std::uint32_t height, std::uint32_t size, std::uint32_t& outWidth,
                   std::uint32_t& outHeight) {
    if (width <= size && height <= size) {
        outWidth = width;
        outHeight = height;
        return;
    }
    const double scale = std::min(static_cast<double>(size) / width, static_cast<double>(size) / height);
    outWidth = std::clamp<std::uint32_t>(static_cast<std::uint32_t>(std::lround(width * scale)), 1, size);
    outHeight = std::clamp<std::uint32_t>(static_cast<std::uint32_t>(std::lround(height * scale)), 1, size);
}

int makeThumbnail(const std::string& path, std::uint32_t size, Thumbnail& out, std::uint64_t memoryLimit) {
    out = Thumbnail();
    if (size < 1) return kThumbnailNotVx;
    // Smooth painting: a still picture at its best. Only the memory its
    // decoding needs limits a record.
    vexel_read_options options;
    vexel_read_options_default(&options);
    options.max_pixels = std::numeric_limits<std::uint64_t>::max();
    options.max_memory = memoryLimit;
    struct Reader {
        vexel_reader* handle = nullptr;
        ~Reader() { vexel_reader_close(handle); }
    } reader;
    vexel_record_info info;
    if (vexel_reader_open_file(path.c_str(), &options, &reader.handle) != VEXEL_OK ||
        vexel_reader_record_info(reader.handle, 0, &info) != VEXEL_OK)
        return kThumbnailNotVx;
    const std::uint32_t width = info.width, height = info.height;
    std::vector<std::uint8_t> picture;
    const vexel_status decoded = [&] {
        // The limit is checked before the picture's own buffer is had.
        if (const vexel_status s = vexel_reader_verify(reader.handle, 0); s != VEXEL_OK) return s;
        try {
            picture.resize(std::size_t{width} * height * 3);
        } catch (const std::bad_alloc&) {
            return VEXEL_ERROR_NO_MEMORY;
        }
        return vexel_reader_decode(reader.handle, 0, VEXEL_PIXELS_RGB, picture.data(), std::size_t{width} * 3,
                                   picture.size());
    }();
    if (decoded == VEXEL_ERROR_TOO_LARGE) return kThumbnailTooLarge;
    if (decoded != VEXEL_OK) return kThumbnailBadRecord;

    // Each thumbnail pixel is the mean of the picture pixels its area covers.
    thumbnailSize(width, height, size, out.width, out.height);
    out.rgb.assign(static_cast<std::size_t>(out.width) * out.height * 3, 0);
    for (std::uint32_t ty = 0; ty < out.height; ++ty) {
        const std::uint32_t y0 = static_cast<std::uint32_t>(std::uint64_t{ty} * height / out.height);
        const std::uint32_t y1 = std::max(y0 + 1, static_cast<std::uint32_t>(std::uint64_t{ty + 1} * height / out.height));
        for (std::uint32_t tx = 0; tx < out.width; ++tx) {
            const std::uint32_t x0 = static_cast<std::uint32_t>(std::uint64_t{tx} * width / out.width);
            const std::uint32_t x1 = std::max(x0 + 1, static_cast<std::uint32_t>(std::uint64_t{tx + 1} * width / out.width));
            for (int c = 0; c < 3; ++c) {
                std::uint64_t sum = 0;
                for (std::uint32_t y = y0; y < y1; ++y) {
                    const std::uint8_t* row = picture.data() + std::size_t{y} * width * 3;
                    for (std::uint32_t x = x0; x < x1; ++x) sum += row[std::size_t{x} * 3 + c];
                }
                const std::uint64_t n = std::uint64_t{y1 - y0} * (x1 - x0);
                out.rgb[(static_cast<std::size_t>(ty) * out.width + tx) * 3 + c] = static_cast<std::uint8_t>((sum + n / 2) / n);
            }
        }
    }
    return kThumbnailDone;
}

} // namespace vexel
