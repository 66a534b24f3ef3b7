#include "app/photo_files.h"

#include "app/bitmap.h"
#include "base/memdiag.h"

#include <png.h>
#include <turbojpeg.h>

#include <csetjmp>
#include <cstring>
#include <limits>

namespace vexel {

namespace {

constexpr std::int64_t kMaxSide = TPicturePlanes::kMaxSide;
// Deflate codes a 258-byte match in no less than 2 bits.
constexpr std::uint64_t kDeflateMaxRatio = 1032;

// True when `need` bytes cannot come from `have` bytes at `ratio` : 1.
bool beyondRatio(std::uint64_t perRow, std::uint64_t rows, std::uint64_t have, std::uint64_t ratio) {
    const std::uint64_t most = have > std::numeric_limits<std::uint64_t>::max() / ratio
                                   ? std::numeric_limits<std::uint64_t>::max()
                                   : have * ratio + 4096;
    return perRow > 0 && rows > most / perRow;
}

// PNG --------------------------------------------------------------------

void pngFailed(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarned(png_structp, png_const_charp) {}
void pngRead(png_structp png, png_bytep data, std::size_t n) {
    auto* file = static_cast<platform::File*>(png_get_io_ptr(png));
    if (!file->readExact(data, n)) png_error(png, "cut short");
}

struct PngWork {
    png_structp png;
    png_infop info;
    PictureTarget* target;
    std::uint64_t fileSize;
    TrackedBuffer<std::uint8_t>* pixels; // one row, or the whole picture when interlaced
};

// libpng's work after its error jump is set. An error jumps out of this
// frame and every frame below it: none of them may hold anything with a
// destructor.
[[gnu::noinline]] int pngSteps(PngWork& w) {
    png_structp png = w.png;
    png_infop info = w.info;
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    if (!png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr))
        return kPngDamaged;
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return kPngDamaged;
    const std::uint64_t sampleBits = static_cast<std::uint64_t>(png_get_channels(png, info)) * depth;
    const std::uint64_t rawRow = 1 + (static_cast<std::uint64_t>(width) * sampleBits + 7) / 8;
    if (beyondRatio(rawRow, height, w.fileSize, kDeflateMaxRatio)) return kPngDamaged;

    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (depth == 16) png_set_scale_16(png);
    // A palette's transparency comes out of the expansion as alpha: dropped too.
    if ((colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS)) png_set_strip_alpha(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::uint64_t rowBytes = static_cast<std::uint64_t>(width) * 3;
    if (png_get_rowbytes(png, info) != rowBytes) return kPngDamaged;

    std::int32_t xPerMeter = 0, yPerMeter = 0;
    png_uint_32 xRes = 0, yRes = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &xRes, &yRes, &unit) && unit == PNG_RESOLUTION_METER &&
        xRes <= 0x7FFFFFFFu && yRes <= 0x7FFFFFFFu) {
        xPerMeter = static_cast<std::int32_t>(xRes);
        yPerMeter = static_cast<std::int32_t>(yRes);
    }
    const int begun = w.target->begin(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                                      xPerMeter, yPerMeter);
    if (begun != kBitmapLoaded) return begun;

    if (passes == 1) {
        if (!w.pixels->allocate(static_cast<std::size_t>(rowBytes))) return kBitmapNoBuffer;
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, w.pixels->data(), nullptr);
            w.target->row(w.pixels->data(), static_cast<std::int32_t>(y));
        }
        return kBitmapLoaded;
    }
    // Interlaced: every pass adds pixels to rows all over the picture.
    if (rowBytes * height > std::numeric_limits<std::size_t>::max() ||
        !w.pixels->allocate(static_cast<std::size_t>(rowBytes * height)))
        return kBitmapNoBuffer;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, w.pixels->data() + y * rowBytes, nullptr);
    for (png_uint_32 y = 0; y < height; ++y)
        w.target->row(w.pixels->data() + y * rowBytes, static_cast<std::int32_t>(y));
    return kBitmapLoaded;
}

int pngGuarded(PngWork& w) {
    if (setjmp(png_jmpbuf(w.png))) return kPngDamaged;
    return pngSteps(w);
}

// JPEG -------------------------------------------------------------------

struct JpegFacts {
    int frameMarker = 0; // the first SOFn, 0 when none was seen before the scan
    std::int32_t xPerMeter = 0, yPerMeter = 0;
};

// Walks the markers before the first scan: the coding process and the
// JFIF resolution. A malformed run of markers ends the walk; the decoder
// judges the file.
JpegFacts jpegFacts(const std::uint8_t* data, std::size_t size) {
    JpegFacts facts;
    std::size_t at = 2;
    while (at + 4 <= size && data[at] == 0xFF) {
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;
        const std::size_t length = static_cast<std::size_t>(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || at + 2 + length > size) break;
        const std::uint8_t* segment = data + at + 4;
        const std::size_t segmentSize = length - 2;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC &&
            facts.frameMarker == 0)
            facts.frameMarker = marker;
        if (marker == 0xE0 && segmentSize >= 12 && std::memcmp(segment, "JFIF", 5) == 0) {
            const int units = segment[7];
            const std::int32_t x = segment[8] << 8 | segment[9], y = segment[10] << 8 | segment[11];
            if (units == 1) { // dots per inch
                facts.xPerMeter = static_cast<std::int32_t>((x * 10000 + 127) / 254);
                facts.yPerMeter = static_cast<std::int32_t>((y * 10000 + 127) / 254);
            } else if (units == 2) { // dots per centimetre
                facts.xPerMeter = x * 100;
                facts.yPerMeter = y * 100;
            }
        }
        at += 2 + length;
    }
    return facts;
}

struct TurboHandle {
    tjhandle handle = tjInitDecompress();
    ~TurboHandle() {
        if (handle) tjDestroy(handle);
    }
};

} // namespace

bool isPngSignature(const std::uint8_t* head, std::size_t size) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return size >= 8 && std::memcmp(head, kSignature, 8) == 0;
}

bool isJpegSignature(const std::uint8_t* head, std::size_t size) {
    return size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

int readPng(platform::File& file, PictureTarget& target) {
    const std::int64_t size = file.size();
    if (size < 0 || !file.seek(0)) return kBitmapShort;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFailed, pngWarned);
    if (!png) return kBitmapNoBuffer;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return kBitmapNoBuffer;
    }
    png_set_read_fn(png, &file, pngRead);
    png_set_user_limits(png, static_cast<png_uint_32>(kMaxSide), static_cast<png_uint_32>(kMaxSide));
    TrackedBuffer<std::uint8_t> pixels;
    PngWork work{png, info, &target, static_cast<std::uint64_t>(size), &pixels};
    const int result = pngGuarded(work);
    png_destroy_read_struct(&png, &info, nullptr);
    return result;
}

int readJpeg(platform::File& file, PictureTarget& target) {
    const std::int64_t size = file.size();
    if (size < 0 || !file.seek(0)) return kBitmapShort;
    if (static_cast<std::uint64_t>(size) > std::numeric_limits<unsigned long>::max() / 2) return kBitmapNoBuffer;
    TrackedBuffer<std::uint8_t> data;
    if (!data.allocate(static_cast<std::size_t>(size))) return kBitmapNoBuffer;
    if (!file.readExact(data.data(), static_cast<std::uint64_t>(size))) return kBitmapShort;
    const JpegFacts facts = jpegFacts(data.data(), data.size());

    TurboHandle turbo;
    if (!turbo.handle) return kBitmapNoBuffer;
    int width = 0, height = 0, subsampling = 0, colours = 0;
    if (tjDecompressHeader3(turbo.handle, data.data(), data.size(), &width, &height, &subsampling, &colours) != 0)
        return kJpegDamaged;
    if (colours == TJCS_CMYK || colours == TJCS_YCCK) return kJpegCmyk;
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return kJpegDamaged;
    // Every 8 x 8 block of the picture's sharpest component is coded in a
    // Huffman-coded file, each in at least one bit.
    const bool huffman = facts.frameMarker >= 0xC0 && facts.frameMarker <= 0xC7;
    if (huffman && beyondRatio(1, (static_cast<std::uint64_t>(width) + 7) / 8 * ((static_cast<std::uint64_t>(height) + 7) / 8),
                               data.size(), 8))
        return kJpegDamaged;

    const std::uint64_t rowBytes = static_cast<std::uint64_t>(width) * 3;
    TrackedBuffer<std::uint8_t> pixels;
    if (!pixels.allocate(static_cast<std::size_t>(rowBytes * static_cast<std::uint64_t>(height))))
        return kBitmapNoBuffer;
    if (tjDecompress2(turbo.handle, data.data(), data.size(), pixels.data(), width, static_cast<int>(rowBytes), height,
                      TJPF_BGR, TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0)
        return kJpegDamaged;
    data.reset();
    const int begun = target.begin(width, height, facts.xPerMeter, facts.yPerMeter);
    if (begun != kBitmapLoaded) return begun;
    for (std::int32_t y = 0; y < height; ++y) target.row(pixels.data() + static_cast<std::uint64_t>(y) * rowBytes, y);
    return kBitmapLoaded;
}

} // namespace vexel
