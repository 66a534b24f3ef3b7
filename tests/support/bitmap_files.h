// Bitmap files for tests: an independent writer of the standard layout (with
// switches for every odd variant a test needs) and a strict reader of
// standard files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vexel::test {

// A picture as red, green, blue bytes per pixel, rows bottom-up.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    std::uint8_t* at(int x, int y) { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
    const std::uint8_t* at(int x, int y) const { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
    bool operator==(const Picture& o) const { return width == o.width && height == o.height && rgb == o.rgb; }
};

// A picture whose every pixel differs from its neighbours.
inline Picture patternPicture(int width, int height, int seed = 0) {
    Picture p{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* px = p.at(x, y);
            px[0] = static_cast<std::uint8_t>(x * 7 + y * 13 + seed);
            px[1] = static_cast<std::uint8_t>(x * 3 + y * 29 + seed * 5 + 1);
            px[2] = static_cast<std::uint8_t>(x * 11 + y * 5 + seed * 3 + 2);
        }
    return p;
}

struct BmpLayout {
    bool padded = true;           // rows padded to 4 bytes (with 0xAA filler)
    bool topDown = false;         // negative height, top row first
    std::uint32_t headerSize = 40;
    std::int64_t fileSizeField = -1;  // -1: the real size
    std::int64_t sizeImageField = -1; // -1: the pixel bytes
    std::int64_t dataOffset = -1;     // -1: right after the headers
    std::uint16_t planes = 1;
    std::uint16_t bits = 24;
    std::uint32_t compression = 0;
    std::int32_t xPelsPerMeter = 2835;
    std::int32_t yPelsPerMeter = 3780;
    std::size_t trailing = 0;     // extra bytes after the pixel data
};

inline void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v);
    put16(b, at + 2, v >> 16);
}
inline std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

inline std::vector<std::uint8_t> encodeBmp(const Picture& p, const BmpLayout& l = {}) {
    std::size_t row = static_cast<std::size_t>(p.width) * 3, stride = l.padded ? (row + 3) / 4 * 4 : row;
    std::size_t headers = 14 + l.headerSize;
    std::size_t offset = l.dataOffset >= 0 ? static_cast<std::size_t>(l.dataOffset) : headers;
    std::size_t pixels = stride * p.height;
    std::vector<std::uint8_t> b(std::max(offset, headers) + pixels + l.trailing, 0x5C);
    std::fill(b.begin(), b.begin() + headers, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, l.fileSizeField >= 0 ? static_cast<std::uint32_t>(l.fileSizeField) : static_cast<std::uint32_t>(b.size()));
    put32(b, 10, static_cast<std::uint32_t>(offset));
    put32(b, 14, l.headerSize);
    std::vector<std::uint8_t> info(std::max<std::uint32_t>(l.headerSize, 40), 0);
    put32(info, 4, static_cast<std::uint32_t>(p.width));
    put32(info, 8, static_cast<std::uint32_t>(l.topDown ? -p.height : p.height));
    put16(info, 12, l.planes);
    put16(info, 14, l.bits);
    put32(info, 16, l.compression);
    put32(info, 20, l.sizeImageField >= 0 ? static_cast<std::uint32_t>(l.sizeImageField) : static_cast<std::uint32_t>(pixels));
    put32(info, 24, static_cast<std::uint32_t>(l.xPelsPerMeter));
    put32(info, 28, static_cast<std::uint32_t>(l.yPelsPerMeter));
    for (std::size_t i = 4; i < l.headerSize && 14 + i < b.size(); ++i) b[14 + i] = info[i];
    for (int fileRow = 0; fileRow < p.height; ++fileRow) {
        int y = l.topDown ? p.height - 1 - fileRow : fileRow;
        std::uint8_t* out = b.data() + offset + static_cast<std::size_t>(fileRow) * stride;
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t* px = p.at(x, y);
            out[3 * x] = px[2];
            out[3 * x + 1] = px[1];
            out[3 * x + 2] = px[0];
        }
        std::memset(out + row, 0xAA, stride - row);
    }
    return b;
}

// Reads a standard bottom-up, padded, 54-byte-header bitmap; false for anything else.
inline bool decodeStandardBmp(const std::vector<std::uint8_t>& b, Picture& p) {
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || get32(b, 10) != 54 || get32(b, 14) != 40) return false;
    int width = static_cast<int>(get32(b, 18)), height = static_cast<int>(get32(b, 22));
    if (width < 1 || height < 1) return false;
    std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    if (b.size() != 54 + stride * height || get32(b, 2) != b.size() || get32(b, 34) != stride * height) return false;
    p = Picture{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* in = b.data() + 54 + y * stride + 3 * x;
            std::uint8_t* px = p.at(x, y);
            px[0] = in[2];
            px[1] = in[1];
            px[2] = in[0];
        }
    return true;
}

} // namespace vexel::test
