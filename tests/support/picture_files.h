// Picture files of every kind the program reads, made in the test: bitmaps
// of every depth written byte by byte, PNG files through libpng and JPEG
// files through TurboJPEG, and TurboJPEG's own decoding of a JPEG file.
#pragma once

#include "tests/support/bitmap_files.h"

#include <png.h>
#include <turbojpeg.h>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace vexel::test {

// A bitmap of any depth. raw(x, y) gives the stored value of the pixel at
// x, y (rows from the bottom): a palette index, or a 16- or 32-bit word.
struct RawBmp {
    int width = 0, height = 0;
    int bits = 24;
    std::uint32_t headerSize = 40;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> masks;               // stored at offset 54 when given
    std::vector<std::array<std::uint8_t, 4>> palette; // blue, green, red, unused
    std::uint32_t paletteField = 0;                 // the header's count of entries
    bool topDown = false;
    std::function<std::uint32_t(int, int)> raw;
};

inline std::vector<std::uint8_t> encodeRawBmp(const RawBmp& b) {
    const std::size_t row = (static_cast<std::size_t>(b.width) * b.bits + 7) / 8, stride = (row + 3) / 4 * 4;
    std::size_t headers = 14 + b.headerSize;
    if (!b.masks.empty() && b.headerSize == 40) headers += 4 * b.masks.size();
    const std::size_t offset = headers + 4 * b.palette.size();
    std::vector<std::uint8_t> out(offset + stride * b.height, 0);
    out[0] = 'B';
    out[1] = 'M';
    put32(out, 2, static_cast<std::uint32_t>(out.size()));
    put32(out, 10, static_cast<std::uint32_t>(offset));
    put32(out, 14, b.headerSize);
    put32(out, 18, static_cast<std::uint32_t>(b.width));
    put32(out, 22, static_cast<std::uint32_t>(b.topDown ? -b.height : b.height));
    put16(out, 26, 1);
    put16(out, 28, static_cast<std::uint32_t>(b.bits));
    put32(out, 30, b.compression);
    put32(out, 34, static_cast<std::uint32_t>(stride * b.height));
    put32(out, 46, b.paletteField);
    for (std::size_t i = 0; i < b.masks.size(); ++i) put32(out, 54 + 4 * i, b.masks[i]);
    for (std::size_t i = 0; i < b.palette.size(); ++i)
        for (int c = 0; c < 4; ++c) out[headers + 4 * i + c] = b.palette[i][c];
    for (int fileRow = 0; fileRow < b.height; ++fileRow) {
        const int y = b.topDown ? b.height - 1 - fileRow : fileRow;
        std::uint8_t* at = out.data() + offset + static_cast<std::size_t>(fileRow) * stride;
        for (int x = 0; x < b.width; ++x) {
            const std::uint32_t v = b.raw(x, y);
            if (b.bits < 8) {
                const int perByte = 8 / b.bits;
                at[x / perByte] |= static_cast<std::uint8_t>(v << (8 - b.bits * (x % perByte + 1)));
            } else {
                for (int k = 0; k < b.bits / 8; ++k) at[x * (b.bits / 8) + k] = static_cast<std::uint8_t>(v >> (8 * k));
            }
        }
        for (std::size_t k = row; k < stride; ++k) at[k] = 0xAA; // padding is never read
    }
    return out;
}

// A PNG file. samples(x, y, channel) gives a sample (rows from the top) at
// the file's bit depth; palette: red, green, blue entries; trns: the
// transparency chunk's bytes (palette alphas, or a grey or RGB sample).
struct PngSpec {
    int width = 0, height = 0;
    int colourType = PNG_COLOR_TYPE_RGB;
    int depth = 8;
    bool interlaced = false;
    std::vector<std::array<std::uint8_t, 3>> palette;
    std::vector<std::uint8_t> paletteAlpha;
    bool transparentColour = false;
    std::uint32_t pixelsPerMeter = 0; // a pHYs chunk in metres when not 0
    std::function<std::uint16_t(int, int, int)> samples;
};

inline std::vector<std::uint8_t> encodePng(const PngSpec& s) {
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const int channels = s.colourType == PNG_COLOR_TYPE_PALETTE ? 1
                         : s.colourType == PNG_COLOR_TYPE_GRAY  ? 1
                         : s.colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                         : s.colourType == PNG_COLOR_TYPE_RGB   ? 3
                                                                : 4;
    const std::size_t rowBytes = (static_cast<std::size_t>(s.width) * channels * s.depth + 7) / 8;
    std::vector<std::vector<std::uint8_t>> rows(s.height, std::vector<std::uint8_t>(rowBytes, 0));
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            for (int c = 0; c < channels; ++c) {
                const std::uint16_t v = s.samples(x, y, c);
                const std::size_t index = static_cast<std::size_t>(x) * channels + c;
                if (s.depth == 16) {
                    rows[y][2 * index] = static_cast<std::uint8_t>(v >> 8);
                    rows[y][2 * index + 1] = static_cast<std::uint8_t>(v);
                } else if (s.depth == 8) {
                    rows[y][index] = static_cast<std::uint8_t>(v);
                } else {
                    const std::size_t perByte = 8 / s.depth;
                    rows[y][index / perByte] |=
                        static_cast<std::uint8_t>(v << (8 - s.depth * (index % perByte + 1)));
                }
            }
    // No error jump: an error in the test's own encoding aborts the test.
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, std::size_t n) {
            auto* o = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
            o->insert(o->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, s.width, s.height, s.depth, s.colourType,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (const auto& e : s.palette) palette.push_back(png_color{e[0], e[1], e[2]});
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_color_16 colour{};
    if (!s.paletteAlpha.empty())
        png_set_tRNS(png, info, s.paletteAlpha.data(), static_cast<int>(s.paletteAlpha.size()), nullptr);
    else if (s.transparentColour)
        png_set_tRNS(png, info, nullptr, 0, &colour); // sample 0 (black) is transparent
    if (s.pixelsPerMeter) png_set_pHYs(png, info, s.pixelsPerMeter, s.pixelsPerMeter, PNG_RESOLUTION_METER);
    std::vector<png_bytep> pointers;
    for (auto& r : rows) pointers.push_back(r.data());
    png_set_rows(png, info, pointers.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A picture as a JPEG file (TJPF_CMYK: the picture's red, green, blue and
// blue again as the four inks).
inline std::vector<std::uint8_t> encodeJpeg(const Picture& p, int subsampling, int flags = 0,
                                            int pixelFormat = TJPF_RGB, int quality = 85) {
    const int size = tjPixelSize[pixelFormat];
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(p.width) * p.height * size);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t* px = p.at(x, p.height - 1 - y);
            std::uint8_t* to = pixels.data() + (static_cast<std::size_t>(y) * p.width + x) * size;
            for (int c = 0; c < size; ++c) to[c] = px[c % 3];
        }
    tjhandle h = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long length = 0;
    std::vector<std::uint8_t> out;
    if (tjCompress2(h, pixels.data(), p.width, 0, p.height, pixelFormat, &jpeg, &length, subsampling, quality,
                    flags) == 0)
        out.assign(jpeg, jpeg + length);
    tjFree(jpeg);
    tjDestroy(h);
    return out;
}

// TurboJPEG's own decoding of a JPEG file into red, green, blue; an empty
// picture when it refuses the file.
inline Picture decodeJpeg(const std::vector<std::uint8_t>& jpeg) {
    tjhandle h = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colours = 0;
    Picture p;
    if (tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &width, &height, &subsampling, &colours) == 0) {
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
        if (tjDecompress2(h, jpeg.data(), jpeg.size(), rgb.data(), width, 0, height, TJPF_RGB, 0) == 0) {
            p = Picture{width, height, std::vector<std::uint8_t>(rgb.size())};
            for (int y = 0; y < height; ++y)
                std::copy_n(rgb.data() + static_cast<std::size_t>(height - 1 - y) * width * 3,
                            static_cast<std::size_t>(width) * 3, p.at(0, y));
        }
    }
    tjDestroy(h);
    return p;
}

} // namespace vexel::test
