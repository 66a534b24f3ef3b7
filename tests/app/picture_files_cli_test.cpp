// Pictures as users meet them: "vexel -c" packs a PNG, a JPEG, or a bitmap
// of any depth into exactly the .vx bytes of the 24-bit bitmap of the same
// pixels (the name photo.png becomes photo.vx), and "vexel -uc" unpacks them
// to the same bitmap; a picture that cannot be read ends the run with
// exit 1, a line that says what it is, and no output file.
#include "tests/support/picture_files.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

namespace vexel {
namespace {

using test::Picture;

// 16 colours every depth holds exactly (see the reader's scaling of 5- and
// 6-bit channels: 0, 1, 16 and 31 become 0, 8, 132 and 255).
constexpr std::uint8_t kLevels[4] = {0, 8, 132, 255};
constexpr std::uint32_t kFiveBit[4] = {0, 1, 16, 31};
std::array<std::uint8_t, 3> colour(int i) {
    return {kLevels[i % 4], static_cast<std::uint8_t>(((i ^ i >> 2) & 1) ? 255 : 0), kLevels[i / 4 % 4]};
}
int indexAt(int x, int y) { return (x * 5 + y * 3 + (x / 4) * (y / 3)) % 16; }

constexpr int kWidth = 45, kHeight = 29;

// A 24-bit bitmap without a resolution, as the other files here have none.
std::vector<std::uint8_t> bitmap24(const Picture& p) {
    test::BmpLayout l;
    l.xPelsPerMeter = l.yPelsPerMeter = 0;
    return test::encodeBmp(p, l);
}

Picture indexedPicture() {
    Picture p{kWidth, kHeight, std::vector<std::uint8_t>(kWidth * kHeight * 3)};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            auto c = colour(indexAt(x, y));
            std::copy(c.begin(), c.end(), p.at(x, y));
        }
    return p;
}

test::RawBmp rawBmp(int bits, std::uint32_t headerSize, std::uint32_t compression, std::vector<std::uint32_t> masks,
                    bool topDown, std::function<std::uint32_t(int, int)> raw) {
    test::RawBmp b;
    b.width = kWidth;
    b.height = kHeight;
    b.bits = bits;
    b.headerSize = headerSize;
    b.compression = compression;
    b.masks = std::move(masks);
    b.topDown = topDown;
    b.raw = std::move(raw);
    if (bits <= 8)
        for (int i = 0; i < 16; ++i) {
            auto c = colour(i);
            b.palette.push_back({c[2], c[1], c[0], 0});
        }
    return b;
}

std::vector<std::uint8_t> pngOf(const Picture& p, int colourType, int depth, bool interlaced) {
    test::PngSpec s;
    s.width = p.width;
    s.height = p.height;
    s.colourType = colourType;
    s.depth = depth;
    s.interlaced = interlaced;
    if (colourType == PNG_COLOR_TYPE_PALETTE)
        for (int i = 0; i < 16; ++i) s.palette.push_back(colour(i));
    s.samples = [&p, colourType, depth](int x, int y, int c) -> std::uint16_t {
        if (colourType == PNG_COLOR_TYPE_PALETTE) return static_cast<std::uint16_t>(indexAt(x, p.height - 1 - y));
        const std::uint16_t v = c < 3 ? p.at(x, p.height - 1 - y)[c] : static_cast<std::uint16_t>(x * 9 + y);
        return depth == 16 ? static_cast<std::uint16_t>(v * 257) : v;
    };
    return test::encodePng(s);
}

void expectRefused(const test::TempDir& dir, const std::string& name, const std::vector<std::uint8_t>& bytes,
                   const std::string& reason) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(test::writeFile(dir.file(name), bytes));
    const test::CommandResult r = test::runVexel({"-c", name}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Ошибка: Не удаётся загрузить файл:\n" + name + "\n" + reason + "\n");
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{name});
    ASSERT_EQ(std::remove(dir.file(name).c_str()), 0);
}

TEST(PictureFilesCli, EveryKindOfPicturePacksToTheBytesOfIts24BitBitmap) {
    test::TempDir dir;
    const Picture p = indexedPicture();
    ASSERT_TRUE(test::writeFile(dir.file("reference.bmp"), bitmap24(p)));
    const test::CommandResult packed = test::runVexel({"-c", "reference.bmp"}, dir.path());
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    const auto reference = test::readFile(dir.file("reference.vx"));
    ASSERT_FALSE(reference.empty());
    ASSERT_EQ(test::runVexel({"-uc", "reference.vx"}, dir.path()).exitCode, 0);
    const auto unpacked = test::readFile(dir.file("reference_000000.bmp"));

    auto index = [](int x, int y) { return static_cast<std::uint32_t>(indexAt(x, y)); };
    auto word555 = [](int x, int y) {
        const int i = indexAt(x, y);
        return kFiveBit[i % 4] << 10 | (colour(i)[1] ? 31u : 0u) << 5 | kFiveBit[i / 4 % 4];
    };
    auto word565 = [](int x, int y) {
        const int i = indexAt(x, y);
        return kFiveBit[i % 4] << 11 | (colour(i)[1] ? 63u : 0u) << 5 | kFiveBit[i / 4 % 4];
    };
    auto word32 = [](int x, int y) {
        auto c = colour(indexAt(x, y));
        return static_cast<std::uint32_t>(x + y) << 24 | std::uint32_t{c[0]} << 16 | std::uint32_t{c[1]} << 8 | c[2];
    };
    struct Case {
        std::string name;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<Case> cases{
        {"depth8.bmp", test::encodeRawBmp(rawBmp(8, 40, 0, {}, false, index))},
        {"depth4.bmp", test::encodeRawBmp(rawBmp(4, 108, 0, {}, true, index))},
        {"depth16.bmp", test::encodeRawBmp(rawBmp(16, 40, 0, {}, false, word555))},
        {"depth16masks.bmp", test::encodeRawBmp(rawBmp(16, 124, 3, {0xF800, 0x7E0, 0x1F}, true, word565))},
        {"depth32.bmp", test::encodeRawBmp(rawBmp(32, 40, 0, {}, false, word32))},
        {"depth32masks.bmp", test::encodeRawBmp(rawBmp(32, 56, 3, {0xFF0000, 0xFF00, 0xFF, 0}, false, word32))},
        {"photo.png", pngOf(p, PNG_COLOR_TYPE_RGB, 8, false)},
        {"alpha16.PNG", pngOf(p, PNG_COLOR_TYPE_RGB_ALPHA, 16, false)},
        {"palette.png", pngOf(p, PNG_COLOR_TYPE_PALETTE, 4, true)},
        {"png-named.bmp", pngOf(p, PNG_COLOR_TYPE_RGB, 8, true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::writeFile(dir.file(c.name), c.bytes));
        const test::CommandResult r = test::runVexel({"-c", c.name}, dir.path());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::string stem = c.name.substr(0, c.name.rfind('.'));
        EXPECT_EQ(test::readFile(dir.file(stem + ".vx")), reference);
        const test::CommandResult back = test::runVexel({"-uc", stem + ".vx"}, dir.path());
        ASSERT_EQ(back.exitCode, 0) << back.err;
        EXPECT_EQ(test::readFile(dir.file(stem + "_000000.bmp")), unpacked);
    }
}

TEST(PictureFilesCli, AJpegPacksAsTheBitmapOfTurboJpegsOwnDecoding) {
    test::TempDir dir;
    const Picture p = test::patternPicture(53, 31, 2);
    struct Case {
        std::string name;
        int subsampling, flags;
    };
    for (const Case& c : {Case{"photo.jpg", TJSAMP_420, 0}, Case{"grey.jpeg", TJSAMP_GRAY, 0},
                          Case{"PROGRESSIVE.JPG", TJSAMP_422, TJFLAG_PROGRESSIVE}}) {
        SCOPED_TRACE(c.name);
        const auto jpeg = test::encodeJpeg(p, c.subsampling, c.flags);
        const Picture decoded = test::decodeJpeg(jpeg);
        ASSERT_EQ(decoded.width, 53);
        const std::string stem = c.name.substr(0, c.name.rfind('.'));
        ASSERT_TRUE(test::writeFile(dir.file(c.name), jpeg));
        ASSERT_TRUE(test::writeFile(dir.file(stem + "-reference.bmp"), bitmap24(decoded)));
        for (const std::string& input : {c.name, stem + "-reference.bmp"}) {
            const test::CommandResult r = test::runVexel({"-c", input}, dir.path());
            ASSERT_EQ(r.exitCode, 0) << r.err;
        }
        const auto vx = test::readFile(dir.file(stem + ".vx"));
        ASSERT_FALSE(vx.empty());
        EXPECT_EQ(vx, test::readFile(dir.file(stem + "-reference.vx")));
    }
}

TEST(PictureFilesCli, APictureThatCannotBeReadSaysWhatItIsAndLeavesNoOutput) {
    test::TempDir dir;
    const Picture p = indexedPicture();
    auto index = [](int x, int y) { return static_cast<std::uint32_t>(indexAt(x, y)); };
    expectRefused(dir, "rle8.bmp", test::encodeRawBmp(rawBmp(8, 40, 1, {}, false, index)),
                  "Сжатые файлы .bmp (RLE8) не поддерживаются.");
    expectRefused(dir, "rle4.bmp", test::encodeRawBmp(rawBmp(4, 40, 2, {}, false, index)),
                  "Сжатые файлы .bmp (RLE4) не поддерживаются.");
    auto deep = test::encodeBmp(p);
    deep[28] = 2;
    expectRefused(dir, "deep.bmp", deep, "Читаются файлы .bmp с 1, 4, 8, 16, 24 и 32 битами на точку.");
    const auto png = pngOf(p, PNG_COLOR_TYPE_RGB, 8, false);
    expectRefused(dir, "cut.png", std::vector<std::uint8_t>(png.begin(), png.begin() + png.size() / 2),
                  "Файл .png повреждён или обрезан.");
    auto jpeg = test::encodeJpeg(p, TJSAMP_420);
    for (std::size_t i = jpeg.size() / 2; i < jpeg.size() / 2 + 64; ++i) jpeg[i] = 0xFF;
    expectRefused(dir, "corrupt.jpg", jpeg, "Файл .jpg повреждён или обрезан.");
    expectRefused(dir, "cmyk.jpg", test::encodeJpeg(p, TJSAMP_444, 0, TJPF_CMYK),
                  "Файлы .jpg в цветах CMYK не читаются.");
    expectRefused(dir, "notes.png", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e', '\n', ' ', ' ',
                                     ' ', ' ', ' ', ' '},
                  "Это не файл .bmp, .png или .jpg.");
}

#if !defined(VEXEL_ASAN)
void limitAddressSpaceTo256MiB() {
    struct rlimit l{256u << 20, 256u << 20};
    setrlimit(RLIMIT_AS, &l);
}
#endif

TEST(PictureFilesCli, APictureLargerThanTheMemoryEndsTheRunWithTheLoadMessage) {
#if defined(VEXEL_ASAN)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#else
    // 10 000 x 10 000 grey pixels: small files whose pictures need 300 MB
    // of picture memory, under an address-space limit of 256 MiB.
    const int side = 10000;
    test::TempDir dir;
    test::PngSpec s;
    s.width = s.height = side;
    s.colourType = PNG_COLOR_TYPE_GRAY;
    s.samples = [](int, int, int) { return std::uint16_t{0}; };
    ASSERT_TRUE(test::writeFile(dir.file("big.png"), test::encodePng(s)));
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(side) * side, 0);
    tjhandle h = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long length = 0;
    ASSERT_EQ(tjCompress2(h, grey.data(), side, 0, side, TJPF_GRAY, &jpeg, &length, TJSAMP_GRAY, 50, 0), 0);
    ASSERT_TRUE(test::writeFile(dir.file("big.jpg"), std::vector<std::uint8_t>(jpeg, jpeg + length)));
    tjFree(jpeg);
    tjDestroy(h);
    for (const std::string name : {"big.png", "big.jpg"}) {
        SCOPED_TRACE(name);
        const test::CommandResult r = test::runVexel({"-c", name}, dir.path(), limitAddressSpaceTo256MiB);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_EQ(r.err, "Ошибка: Не удаётся загрузить файл:\n" + name + "\n");
    }
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"big.jpg", "big.png"}));
#endif
}

} // namespace
} // namespace vexel
