// libvexel's public reader on an arbitrary file in memory: the chain walked
// when it opens, every record's information, and every record decoded in
// order and then backwards (so that the reader goes back to the records a
// record needs), in both pixel layouts, into buffers of exactly the size the
// header promises. The reader's own limits bound the work. Every call must
// return a status and stay inside its buffers.
#include <vexel/vexel.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

// The library needs no initialisation call from its host.
extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vexel_read_options options;
    vexel_read_options_default(&options);
    options.max_memory = 96u << 20;
    options.max_pixels = 1u << 20;
    options.fast_paint = size & 1;
    options.threads = (size & 2) ? 1 : 0;
    vexel_reader* reader = nullptr;
    const vexel_status opened = vexel_reader_open_memory(data, size, &options, &reader);
    if (opened != VEXEL_OK) {
        if (reader || (opened != VEXEL_ERROR_NOT_VX && opened != VEXEL_ERROR_NO_MEMORY)) std::abort();
        return 0;
    }
    std::size_t count = 0;
    if (vexel_reader_record_count(reader, &count) != VEXEL_OK || count == 0) std::abort();
    std::vector<std::uint8_t> pixels;
    // At most a few records each way: the corpus's clips are short.
    const std::size_t limit = count < 8 ? count : 8;
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t k = 0; k < limit; ++k) {
            const std::size_t i = pass == 0 ? k : limit - 1 - k;
            vexel_record_info info;
            if (vexel_reader_record_info(reader, i, &info) != VEXEL_OK) std::abort();
            const vexel_pixel_format format = pass == 0 ? VEXEL_PIXELS_RGB : VEXEL_PIXELS_BGRA;
            const std::size_t bpp = format == VEXEL_PIXELS_RGB ? 3 : 4;
            if (std::uint64_t{info.width} * info.height > options.max_pixels) {
                // Too large itself; a record that needs earlier ones may fail on them first.
                const vexel_status s = vexel_reader_verify(reader, i);
                if (s == VEXEL_OK || (info.keyframe && s != VEXEL_ERROR_TOO_LARGE)) std::abort();
                continue;
            }
            pixels.assign(std::size_t{info.width} * info.height * bpp, 0);
            const vexel_status s =
                vexel_reader_decode(reader, i, format, pixels.data(), std::size_t{info.width} * bpp, pixels.size());
            if (s != VEXEL_OK && s != VEXEL_ERROR_CORRUPT && s != VEXEL_ERROR_TOO_LARGE && s != VEXEL_ERROR_NO_MEMORY)
                std::abort();
        }
    vexel_reader_close(reader);
    return 0;
}
