// Every kind of picture file the program reads becomes the 24-bit picture it
// shows, exactly: bitmaps of every depth and header, PNG files of every
// colour type and depth, JPEG files as TurboJPEG itself decodes them; each
// in the surface and in the planes. What cannot be read says what it is.
#include "app/bitmap.h"
#include "base/memdiag.h"
#include "tests/support/held_picture.h"
#include "tests/support/picture_files.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>

namespace vexel {
namespace {

using test::heldPicture;
using test::Picture;
using test::PngSpec;
using test::RawBmp;

// Sixteen colours whose channels 5- and 6-bit words hold exactly: red and
// blue are 0, 8, 132 or 255 (5-bit 0, 1, 16, 31), green 0 or 255.
constexpr std::uint8_t kLevels[4] = {0, 8, 132, 255};
constexpr std::uint32_t kFiveBit[4] = {0, 1, 16, 31};
std::array<std::uint8_t, 3> colour(int i) {
    return {kLevels[i % 4], static_cast<std::uint8_t>(((i ^ i >> 2) & 1) ? 255 : 0), kLevels[i / 4 % 4]};
}
int indexAt(int x, int y) { return (x * 3 + y * 5 + x * y) % 16; }

// The picture of indexAt's colours.
Picture indexedPicture(int width, int height, int colours = 16) {
    Picture p{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto c = colour(indexAt(x, y) % colours);
            std::copy(c.begin(), c.end(), p.at(x, y));
        }
    return p;
}

std::vector<std::array<std::uint8_t, 4>> bmpPalette(int entries) {
    std::vector<std::array<std::uint8_t, 4>> palette;
    for (int i = 0; i < entries; ++i) {
        auto c = colour(i % 16);
        palette.push_back({c[2], c[1], c[0], static_cast<std::uint8_t>(0x11 * i)});
    }
    return palette;
}

class PictureFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(record.create()); }
    TWideString path(const std::string& name) { return TWideString::fromUtf8(dir.file(name)); }
    int load(const std::vector<std::uint8_t>& bytes, const std::string& name = "in.bmp") {
        EXPECT_TRUE(test::writeFile(dir.file(name), bytes));
        return loadBitmap(record, path(name), true);
    }
    // Loads into the surface and into the planes; the picture held each time.
    void expectPicture(const std::vector<std::uint8_t>& bytes, const Picture& expected, const std::string& name) {
        for (bool planes : {false, true}) {
            SCOPED_TRACE(planes ? "planes" : "surface");
            record.picture.planesWanted = planes;
            ASSERT_EQ(load(bytes, name), kBitmapLoaded);
            EXPECT_TRUE(record.picture.paintable);
            EXPECT_EQ(record.picture.pictureInPlanes(), planes);
            EXPECT_EQ(heldPicture(record), expected);
        }
        record.picture.planesWanted = false;
    }
    test::TempDir dir;
    TWnd record;
};

TEST_F(PictureFiles, BitmapsOfEveryDepthAndHeaderGiveThe24BitPicture) {
    const int width = 23, height = 9; // rows of 1, 4 and 16 bits need padding
    const Picture sixteen = indexedPicture(width, height), two = indexedPicture(width, height, 2);
    auto index = [](int x, int y) { return static_cast<std::uint32_t>(indexAt(x, y)); };
    auto word555 = [](int x, int y) {
        const int i = indexAt(x, y);
        return 0x8000u | kFiveBit[i % 4] << 10 | (colour(i)[1] ? 31u : 0u) << 5 | kFiveBit[i / 4 % 4];
    };
    auto word565 = [](int x, int y) {
        const int i = indexAt(x, y);
        return kFiveBit[i % 4] << 11 | (colour(i)[1] ? 63u : 0u) << 5 | kFiveBit[i / 4 % 4];
    };
    auto rgbWord = [](int x, int y) { // blue, green, red, and a byte of alpha
        auto c = colour(indexAt(x, y));
        return static_cast<std::uint32_t>(x * 17 + y) << 24 | std::uint32_t{c[0]} << 16 | std::uint32_t{c[1]} << 8 | c[2];
    };
    struct Case {
        const char* name;
        RawBmp bmp;
        const Picture* expected;
    };
    auto bmp = [&](int bits, std::uint32_t headerSize, std::uint32_t compression, std::vector<std::uint32_t> masks,
                   int paletteEntries, bool topDown, std::function<std::uint32_t(int, int)> raw) {
        RawBmp b;
        b.width = width;
        b.height = height;
        b.bits = bits;
        b.headerSize = headerSize;
        b.compression = compression;
        b.masks = std::move(masks);
        b.palette = bmpPalette(paletteEntries);
        b.topDown = topDown;
        b.raw = std::move(raw);
        return b;
    };
    std::vector<Case> cases{
        {"8 bits, 16 entries", bmp(8, 40, 0, {}, 16, false, index), &sixteen},
        {"8 bits, 256 entries, top-down", bmp(8, 40, 0, {}, 256, true, index), &sixteen},
        {"8 bits, V5 header", bmp(8, 124, 0, {}, 16, false, index), &sixteen},
        {"4 bits", bmp(4, 40, 0, {}, 16, false, index), &sixteen},
        {"4 bits, top-down, V4 header", bmp(4, 108, 0, {}, 16, true, index), &sixteen},
        {"1 bit", bmp(1, 40, 0, {}, 2, false, [](int x, int y) { return static_cast<std::uint32_t>(indexAt(x, y) % 2); }), &two},
        {"16 bits 5-5-5", bmp(16, 40, 0, {}, 0, false, word555), &sixteen},
        {"16 bits 5-6-5, masks after the header", bmp(16, 40, 3, {0xF800, 0x7E0, 0x1F}, 0, false, word565), &sixteen},
        {"16 bits 5-6-5, 56-byte header, top-down", bmp(16, 56, 3, {0xF800, 0x7E0, 0x1F, 0}, 0, true, word565), &sixteen},
        {"16 bits 5-5-5 as masks, V5 header", bmp(16, 124, 3, {0x7C00, 0x3E0, 0x1F}, 0, false, word555), &sixteen},
        {"32 bits", bmp(32, 40, 0, {}, 0, false, rgbWord), &sixteen},
        {"32 bits, V5 header, its masks unused", bmp(32, 124, 0, {0xFF, 0xFF00, 0xFF0000}, 0, true, rgbWord), &sixteen},
        {"32 bits, masks after the header", bmp(32, 40, 3, {0xFF0000, 0xFF00, 0xFF}, 0, false, rgbWord), &sixteen},
        {"32 bits, alpha masks after the header", bmp(32, 40, 6, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 0, false, rgbWord), &sixteen},
        {"32 bits, bytes reordered, 52-byte header",
         bmp(32, 52, 3, {0xFF00, 0xFF0000, 0xFF000000}, 0, false,
             [](int x, int y) {
                 auto c = colour(indexAt(x, y));
                 return std::uint32_t{c[0]} << 8 | std::uint32_t{c[1]} << 16 | std::uint32_t{c[2]} << 24 | 0x5Au;
             }),
         &sixteen},
        {"32 bits, 10-bit channels, V4 header",
         bmp(32, 108, 3, {0x3FF00000, 0xFFC00, 0x3FF}, 0, true,
             [](int x, int y) {
                 auto c = colour(indexAt(x, y));
                 auto ten = [](std::uint32_t v) { return v << 2 | v >> 6; };
                 return ten(c[0]) << 20 | ten(c[1]) << 10 | ten(c[2]) | 0xC0000000u;
             }),
         &sixteen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectPicture(test::encodeRawBmp(c.bmp), *c.expected, "in.bmp");
        EXPECT_EQ(record.picture.currentHeader.width, width);
        EXPECT_EQ(record.picture.currentHeader.height, height);
    }
}

TEST_F(PictureFiles, APaletteIndexPastTheEntriesIsBlack) {
    RawBmp b;
    b.width = 5;
    b.height = 2;
    b.bits = 8;
    b.palette = bmpPalette(4);
    b.paletteField = 4;
    b.raw = [](int x, int) { return static_cast<std::uint32_t>(x * 60); }; // 0, 60, 120, ...
    Picture expected = indexedPicture(5, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) {
            auto c = x == 0 ? colour(0) : std::array<std::uint8_t, 3>{0, 0, 0};
            std::copy(c.begin(), c.end(), expected.at(x, y));
        }
    expectPicture(test::encodeRawBmp(b), expected, "in.bmp");
}

TEST_F(PictureFiles, BitmapsThatCannotBeReadSayWhatTheyAre) {
    auto with = [](auto change) {
        RawBmp b;
        b.width = 6;
        b.height = 3;
        b.bits = 8;
        b.palette = bmpPalette(16);
        b.raw = [](int x, int y) { return static_cast<std::uint32_t>(indexAt(x, y)); };
        change(b);
        return test::encodeRawBmp(b);
    };
    EXPECT_EQ(load(with([](RawBmp& b) { b.compression = 1; })), kBitmapRle8);
    EXPECT_EQ(load(with([](RawBmp& b) { b.bits = 4; b.compression = 2; })), kBitmapRle4);
    EXPECT_EQ(load(with([](RawBmp& b) { b.compression = 4; })), kBitmapCompressed);
    EXPECT_EQ(load(with([](RawBmp& b) { b.bits = 2; })), kBitmapBits);
    // Masks: on a palette, not one run of bits, overlapping, or none at all.
    EXPECT_EQ(load(with([](RawBmp& b) { b.compression = 3; b.masks = {0xE0, 0x1C, 0x3}; })), kBitmapBadHeader);
    auto masked = [&](std::vector<std::uint32_t> masks) {
        return with([&](RawBmp& b) {
            b.bits = 16;
            b.palette.clear();
            b.compression = 3;
            b.masks = masks;
        });
    };
    EXPECT_EQ(load(masked({0xF00F, 0x7E0, 0x1F})), kBitmapBadHeader);
    EXPECT_EQ(load(masked({0xF800, 0xFE0, 0x1F})), kBitmapBadHeader);
    EXPECT_EQ(load(masked({0, 0, 0})), kBitmapBadHeader);
    EXPECT_EQ(load(masked({0xF800, 0x7E0, 0x1F})), kBitmapLoaded);
    // A palette picture whose pixels start right after the header has no palette.
    auto noPalette = with([](RawBmp& b) { b.palette.clear(); });
    EXPECT_EQ(load(noPalette), kBitmapBadHeader);
    // Cut inside the pixels.
    auto cut = with([](RawBmp&) {});
    cut.resize(cut.size() - 5);
    EXPECT_EQ(load(cut), kBitmapShort);
    EXPECT_FALSE(record.picture.paintable);
}

// A sample of `depth` bits for every x, y, channel, spread over its range;
// 16-bit samples are 8-bit ones times 257, which scale back exactly.
std::uint16_t sampleAt(int x, int y, int c, int depth) {
    if (depth == 16) return static_cast<std::uint16_t>(sampleAt(x, y, c, 8) * 257);
    const std::uint32_t most = (1u << depth) - 1;
    return static_cast<std::uint16_t>((x * 37 + y * 101 + c * 59 + x * y * 7) * 2654435761u % (most + 1));
}

// What a sample of `depth` bits becomes at 8 bits: 1, 2 and 4 bits spread
// over 0..255 exactly (x 255, x 85, x 17).
std::uint8_t eightBits(std::uint16_t v, int depth) {
    if (depth == 16) return static_cast<std::uint8_t>(v / 257);
    return static_cast<std::uint8_t>(v * (255 / ((1 << depth) - 1)));
}

TEST_F(PictureFiles, PngFilesOfEveryColourTypeAndDepthGiveThe24BitPicture) {
    const int width = 13, height = 11;
    struct Case {
        const char* name;
        int colourType, depth;
        bool interlaced = false;
    };
    const Case cases[] = {
        {"RGB 8", PNG_COLOR_TYPE_RGB, 8},
        {"RGB 16", PNG_COLOR_TYPE_RGB, 16},
        {"RGBA 8", PNG_COLOR_TYPE_RGB_ALPHA, 8},
        {"RGBA 16", PNG_COLOR_TYPE_RGB_ALPHA, 16},
        {"grey 1", PNG_COLOR_TYPE_GRAY, 1},
        {"grey 2", PNG_COLOR_TYPE_GRAY, 2},
        {"grey 4", PNG_COLOR_TYPE_GRAY, 4},
        {"grey 8", PNG_COLOR_TYPE_GRAY, 8},
        {"grey 16", PNG_COLOR_TYPE_GRAY, 16},
        {"grey and alpha 8", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
        {"grey and alpha 16", PNG_COLOR_TYPE_GRAY_ALPHA, 16},
        {"palette 1", PNG_COLOR_TYPE_PALETTE, 1},
        {"palette 2", PNG_COLOR_TYPE_PALETTE, 2},
        {"palette 4", PNG_COLOR_TYPE_PALETTE, 4},
        {"palette 8", PNG_COLOR_TYPE_PALETTE, 8},
        {"RGB 8 interlaced", PNG_COLOR_TYPE_RGB, 8, true},
        {"RGBA 16 interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 16, true},
        {"grey 2 interlaced", PNG_COLOR_TYPE_GRAY, 2, true},
        {"palette 4 interlaced", PNG_COLOR_TYPE_PALETTE, 4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PngSpec s;
        s.width = width;
        s.height = height;
        s.colourType = c.colourType;
        s.depth = c.depth;
        s.interlaced = c.interlaced;
        s.samples = [&](int x, int y, int channel) {
            if (c.colourType == PNG_COLOR_TYPE_PALETTE) return static_cast<std::uint16_t>(indexAt(x, y) % (1 << c.depth));
            return sampleAt(x, y, channel, c.depth);
        };
        Picture expected{width, height, std::vector<std::uint8_t>(width * height * 3)};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint8_t* px = expected.at(x, height - 1 - y);
                if (c.colourType == PNG_COLOR_TYPE_PALETTE) {
                    auto e = colour(indexAt(x, y) % (1 << c.depth));
                    std::copy(e.begin(), e.end(), px);
                } else if (c.colourType & PNG_COLOR_MASK_COLOR) {
                    for (int k = 0; k < 3; ++k) px[k] = eightBits(sampleAt(x, y, k, c.depth), c.depth);
                } else {
                    px[0] = px[1] = px[2] = eightBits(sampleAt(x, y, 0, c.depth), c.depth);
                }
            }
        if (c.colourType == PNG_COLOR_TYPE_PALETTE) {
            for (int i = 0; i < (1 << c.depth) && i < 16; ++i) s.palette.push_back(colour(i));
            s.paletteAlpha = {0, 128}; // transparent entries keep their colours
        } else if (!(c.colourType & PNG_COLOR_MASK_ALPHA)) {
            s.transparentColour = true; // black is transparent, and stays black
        }
        const auto png = test::encodePng(s);
        ASSERT_FALSE(png.empty());
        expectPicture(png, expected, "in.png");
    }
}

TEST_F(PictureFiles, TheResolutionOfAPngOrAJpegIsKept) {
    PngSpec s;
    s.width = 3;
    s.height = 2;
    s.pixelsPerMeter = 3780;
    s.samples = [](int x, int y, int c) { return sampleAt(x, y, c, 8); };
    ASSERT_EQ(load(test::encodePng(s), "in.png"), kBitmapLoaded);
    EXPECT_EQ(record.picture.currentHeader.xPelsPerMeter, 3780);
    EXPECT_EQ(record.picture.currentHeader.yPelsPerMeter, 3780);
    s.pixelsPerMeter = 0;
    ASSERT_EQ(load(test::encodePng(s), "in.png"), kBitmapLoaded);
    EXPECT_EQ(record.picture.currentHeader.xPelsPerMeter, 0);

    // The JFIF header: 72 dots per inch, then 40 per centimetre.
    auto jpeg = test::encodeJpeg(test::patternPicture(9, 9), TJSAMP_444);
    ASSERT_EQ(std::string(jpeg.begin() + 6, jpeg.begin() + 11), std::string("JFIF\0", 5));
    jpeg[13] = 1;
    jpeg[14] = 0, jpeg[15] = 72, jpeg[16] = 0, jpeg[17] = 72;
    ASSERT_EQ(load(jpeg, "in.jpg"), kBitmapLoaded);
    EXPECT_EQ(record.picture.currentHeader.xPelsPerMeter, 2835);
    jpeg[13] = 2;
    jpeg[15] = 40, jpeg[17] = 40;
    ASSERT_EQ(load(jpeg, "in.jpg"), kBitmapLoaded);
    EXPECT_EQ(record.picture.currentHeader.yPelsPerMeter, 4000);
}

TEST_F(PictureFiles, JpegFilesGiveTurboJpegsOwnPicture) {
    const Picture p = test::patternPicture(37, 23, 4);
    struct Case {
        const char* name;
        int subsampling, flags;
    };
    for (const Case& c : {Case{"4:2:0", TJSAMP_420, 0}, Case{"4:4:4", TJSAMP_444, 0}, Case{"4:2:2", TJSAMP_422, 0},
                          Case{"grey", TJSAMP_GRAY, 0}, Case{"progressive", TJSAMP_420, TJFLAG_PROGRESSIVE}}) {
        SCOPED_TRACE(c.name);
        const auto jpeg = test::encodeJpeg(p, c.subsampling, c.flags);
        ASSERT_FALSE(jpeg.empty());
        const Picture expected = test::decodeJpeg(jpeg);
        ASSERT_EQ(expected.width, 37);
        expectPicture(jpeg, expected, "in.jpg");
    }
}

TEST_F(PictureFiles, TheFirstBytesDecideTheKindNotTheName) {
    const Picture p = test::patternPicture(7, 5);
    PngSpec s;
    s.width = 7;
    s.height = 5;
    s.samples = [&](int x, int y, int c) { return static_cast<std::uint16_t>(p.at(x, 4 - y)[c]); };
    expectPicture(test::encodePng(s), p, "png.bmp");
    expectPicture(test::encodeBmp(p), p, "bitmap.jpg");
    const auto jpeg = test::encodeJpeg(p, TJSAMP_444);
    expectPicture(jpeg, test::decodeJpeg(jpeg), "jpeg.png");
    EXPECT_EQ(load({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', ' ', 'a', 'n', 'd', ' ', 'm', 'o', 'r', 'e'},
                   "text.png"),
              kBitmapNotBitmap);
    EXPECT_EQ(load({}, "empty.png"), kBitmapShort); // as for an empty bitmap
}

TEST_F(PictureFiles, DamagedPngAndJpegFilesAreRefused) {
    PngSpec s;
    s.width = 40;
    s.height = 30;
    s.samples = [](int x, int y, int c) { return sampleAt(x, y, c, 8); };
    const auto png = test::encodePng(s);
    for (std::size_t keep : {std::size_t{8}, std::size_t{20}, std::size_t{40}, png.size() / 2, png.size() - 13}) {
        SCOPED_TRACE(keep);
        EXPECT_EQ(load(std::vector<std::uint8_t>(png.begin(), png.begin() + keep), "cut.png"), kPngDamaged);
    }
    auto flipped = png;
    flipped[png.size() / 2] ^= 0x40; // inside the image data: its checksum fails
    EXPECT_EQ(load(flipped, "flipped.png"), kPngDamaged);

    const auto jpeg = test::encodeJpeg(test::patternPicture(40, 30), TJSAMP_420);
    for (std::size_t keep : {std::size_t{3}, std::size_t{30}, jpeg.size() / 2, jpeg.size() - 2}) {
        SCOPED_TRACE(keep);
        EXPECT_EQ(load(std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + keep), "cut.jpg"), kJpegDamaged);
    }
    auto garbage = jpeg;
    for (std::size_t i = 100; i < 300 && i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 31);
    EXPECT_EQ(load(garbage, "garbage.jpg"), kJpegDamaged);
    const auto cmyk = test::encodeJpeg(test::patternPicture(16, 16), TJSAMP_444, 0, TJPF_CMYK);
    ASSERT_FALSE(cmyk.empty());
    EXPECT_EQ(load(cmyk, "cmyk.jpg"), kJpegCmyk);
    EXPECT_FALSE(record.picture.paintable);
}

TEST_F(PictureFiles, SizesTheFileCannotHoldAreRefusedBeforePictureMemory) {
    // A PNG of 1 000 000 x 1 000 000 pixels in a few hundred bytes: deflate
    // cannot make 3 TB out of them.
    PngSpec s;
    s.width = 4;
    s.height = 4;
    s.samples = [](int, int, int) { return std::uint16_t{0}; };
    auto png = test::encodePng(s);
    ASSERT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    // The sizes are big-endian: 1 000 000 = 0x000F4240.
    png[16] = 0x00, png[17] = 0x0F, png[18] = 0x42, png[19] = 0x40;
    png[20] = 0x00, png[21] = 0x0F, png[22] = 0x42, png[23] = 0x40;
    // The header's checksum must hold for the claim to be believed at all.
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17));
    png[29] = static_cast<std::uint8_t>(crc >> 24), png[30] = static_cast<std::uint8_t>(crc >> 16);
    png[31] = static_cast<std::uint8_t>(crc >> 8), png[32] = static_cast<std::uint8_t>(crc);
    const std::uint64_t before = memStats().liveBytes;
    EXPECT_EQ(load(png, "huge.png"), kPngDamaged);
    EXPECT_EQ(memStats().liveBytes, before);
    EXPECT_EQ(record.picture.currentHeader.width, 0); // no picture was made ready

    // A JPEG of 65 535 x 65 535 pixels in a few hundred bytes: every 8 x 8
    // block costs at least a bit, and 67 million blocks do not fit.
    for (int flags : {0, TJFLAG_PROGRESSIVE}) {
        SCOPED_TRACE(flags);
        auto jpeg = test::encodeJpeg(test::patternPicture(16, 16), TJSAMP_420, flags);
        const std::uint8_t frame = flags ? 0xC2 : 0xC0;
        std::size_t at = 2;
        while (at + 4 < jpeg.size() && jpeg[at + 1] != frame) at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]);
        ASSERT_LT(at + 9, jpeg.size());
        jpeg[at + 5] = jpeg[at + 6] = jpeg[at + 7] = jpeg[at + 8] = 0xFF;
        EXPECT_EQ(load(jpeg, "huge.jpg"), kJpegDamaged);
        EXPECT_EQ(memStats().liveBytes, before);
    }
}

} // namespace
} // namespace vexel
