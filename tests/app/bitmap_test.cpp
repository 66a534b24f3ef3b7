#include "app/bitmap.h"
#include "platform/files.h"
#include "platform/system.h"
#include "tests/support/bitmap_files.h"
#include "tests/support/held_picture.h"
#include "tests/support/ui_message_capture.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vexel {
namespace {

using test::BmpLayout;
using test::heldPicture;
using test::Picture;

class Bitmaps : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(record.create()); }
    TWideString path(const std::string& name) { return TWideString::fromUtf8(dir.file(name)); }
    int load(const std::vector<std::uint8_t>& bytes, const std::string& name = "in.bmp") {
        EXPECT_TRUE(test::writeFile(dir.file(name), bytes));
        return loadBitmap(record, path(name), true);
    }
    test::TempDir dir;
    TWnd record;
};

TEST_F(Bitmaps, AStandardPaddedPictureOfWidth101LoadsAndRoundTripsExactly) {
    Picture p = test::patternPicture(101, 7);
    ASSERT_EQ(load(test::encodeBmp(p)), kBitmapLoaded);
    EXPECT_TRUE(record.picture.paintable);
    EXPECT_EQ(heldPicture(record), p);
    ASSERT_EQ(writeBitmap(record, path("out.bmp")), kBitmapWritten);
    auto written = test::readFile(dir.file("out.bmp"));
    ASSERT_EQ(written.size(), 54u + 304u * 7); // rows of 303 bytes padded to 304
    Picture back;
    ASSERT_TRUE(test::decodeStandardBmp(written, back));
    EXPECT_EQ(back, p);
    EXPECT_EQ(written[54 + 303], 0); // the writer pads with zeros
}

TEST_F(Bitmaps, TheWrittenHeadersAreTheStandard54Bytes) {
    Picture p = test::patternPicture(3, 2);
    BmpLayout layout;
    layout.xPelsPerMeter = 0x01020304;
    layout.yPelsPerMeter = 0x0A0B0C0D;
    ASSERT_EQ(load(test::encodeBmp(p, layout)), kBitmapLoaded);
    ASSERT_EQ(writeBitmap(record, path("out.bmp")), kBitmapWritten);
    auto w = test::readFile(dir.file("out.bmp"));
    const std::vector<std::uint8_t> golden = {
        'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,    // file header: size 54 + 2 rows x 12
        40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, // size, width, height, planes, bits
        0, 0, 0, 0, 24, 0, 0, 0,                          // no compression, pixel bytes
        4, 3, 2, 1, 0x0D, 0x0C, 0x0B, 0x0A,               // resolutions kept from the file
        0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_GE(w.size(), 54u);
    EXPECT_EQ(std::vector<std::uint8_t>(w.begin(), w.begin() + 54), golden);
    // Bottom row first: pixel (0, 0) as blue, green, red.
    EXPECT_EQ(w[54], p.at(0, 0)[2]);
    EXPECT_EQ(w[55], p.at(0, 0)[1]);
    EXPECT_EQ(w[56], p.at(0, 0)[0]);
}

TEST_F(Bitmaps, OlderUnpaddedFilesStillLoad) {
    Picture p = test::patternPicture(101, 5, 3);
    BmpLayout old;
    old.padded = false;
    ASSERT_EQ(load(test::encodeBmp(p, old)), kBitmapLoaded);
    EXPECT_EQ(heldPicture(record), p);
}

TEST_F(Bitmaps, TopDownRowsAreReadInTheirOrder) {
    Picture p = test::patternPicture(13, 6, 9);
    BmpLayout topDown;
    topDown.topDown = true;
    ASSERT_EQ(load(test::encodeBmp(p, topDown)), kBitmapLoaded);
    EXPECT_EQ(record.picture.pictureHeight(), 6); // held bottom-up, with a positive height
    EXPECT_EQ(heldPicture(record), p);
    ASSERT_EQ(writeBitmap(record, path("out.bmp")), kBitmapWritten);
    Picture back;
    ASSERT_TRUE(test::decodeStandardBmp(test::readFile(dir.file("out.bmp")), back));
    EXPECT_EQ(back, p);
}

TEST_F(Bitmaps, ZeroSizeFieldsLargerHeadersAndTrailingBytesAreAccepted) {
    Picture p = test::patternPicture(10, 4, 1);
    BmpLayout zeros;
    zeros.fileSizeField = 0;
    zeros.sizeImageField = 0;
    zeros.trailing = 7;
    ASSERT_EQ(load(test::encodeBmp(p, zeros)), kBitmapLoaded);
    EXPECT_EQ(heldPicture(record), p);

    BmpLayout v5;
    v5.headerSize = 124;
    v5.dataOffset = 14 + 124 + 20; // a gap before the pixels
    ASSERT_EQ(load(test::encodeBmp(p, v5)), kBitmapLoaded);
    EXPECT_EQ(heldPicture(record), p);
}

TEST_F(Bitmaps, EveryBadHeaderHasItsResult) {
    Picture p = test::patternPicture(8, 4);
    auto with = [&](auto change) {
        BmpLayout l;
        change(l);
        return test::encodeBmp(p, l);
    };
    EXPECT_EQ(loadBitmap(record, path("missing.bmp"), true), kBitmapCannotOpen);
    auto notBm = test::encodeBmp(p);
    notBm[1] = 'A';
    EXPECT_EQ(load(notBm), kBitmapNotBitmap);
    EXPECT_EQ(load(with([](BmpLayout& l) { l.sizeImageField = 8 * 4 * 3 - 1; })), kBitmapDataTooSmall);
    EXPECT_EQ(load(with([](BmpLayout& l) { l.planes = 2; })), kBitmapPlanes);
    EXPECT_EQ(load(with([](BmpLayout& l) { l.bits = 2; })), kBitmapBits);
    EXPECT_EQ(load(with([](BmpLayout& l) { l.bits = 64; })), kBitmapBits);
    EXPECT_EQ(load(with([](BmpLayout& l) { l.compression = 1; })), kBitmapRle8);
    EXPECT_EQ(load(with([](BmpLayout& l) { l.compression = 2; })), kBitmapRle4);
    EXPECT_EQ(load(with([](BmpLayout& l) { l.compression = 4; })), kBitmapCompressed);
    EXPECT_EQ(load(with([](BmpLayout& l) { l.compression = 5; })), kBitmapCompressed);
    // Colour masks belong to 16 and 32 bits only.
    EXPECT_EQ(load(with([](BmpLayout& l) { l.compression = 3; })), kBitmapBadHeader);
    EXPECT_EQ(load(with([](BmpLayout& l) { l.headerSize = 12; })), kBitmapBadHeader);
    EXPECT_EQ(load(with([](BmpLayout& l) { l.headerSize = 3;
                  l.dataOffset = 54; })), kBitmapBadHeader);
    auto full = test::encodeBmp(p);
    EXPECT_EQ(load(with([&](BmpLayout& l) { l.fileSizeField = static_cast<std::int64_t>(full.size()) + 1; })),
              kBitmapShort);
    EXPECT_FALSE(record.picture.paintable);
}

TEST_F(Bitmaps, ImpossibleSizesAreRefusedBeforeAnythingIsAllocated) {
    auto withSize = [&](std::uint32_t width, std::uint32_t height) {
        auto b = test::encodeBmp(test::patternPicture(2, 2));
        test::put32(b, 18, width);
        test::put32(b, 22, height);
        test::put32(b, 34, 0); // no pixel data size: the file's length must hold the pixels
        return b;
    };
    EXPECT_EQ(load(withSize(0, 2)), kBitmapBadHeader);
    EXPECT_EQ(load(withSize(2, 0)), kBitmapBadHeader);
    EXPECT_EQ(load(withSize(0xFFFFFFFEu, 2)), kBitmapBadHeader); // negative width
    EXPECT_EQ(load(withSize(0x80000000u, 2)), kBitmapBadHeader); // most negative width
    EXPECT_EQ(load(withSize(2, 0x80000000u)), kBitmapBadHeader); // most negative height
    // Sizes whose pixel count overflows 32 bits only need more data than the file has.
    EXPECT_EQ(load(withSize(0x7FFF0000u, 0x7FFF0000u)), kBitmapShort);
    EXPECT_EQ(load(withSize(100000, 100000)), kBitmapShort);
}

TEST_F(Bitmaps, APictureTooLargeForMemoryIsTheNoMemoryResult) {
    // 2 000 000 000 x 1 pixels: a sparse file holds the 6 GB of pixel data,
    // the planes would need about 200 GB.
    BmpLayout noSizes;
    noSizes.fileSizeField = 0;
    noSizes.sizeImageField = 0;
    auto b = test::encodeBmp(test::patternPicture(1, 1), noSizes);
    test::put32(b, 18, 2000000000u);
    ASSERT_TRUE(test::writeFile(dir.file("huge.bmp"), b));
    if (truncate(dir.file("huge.bmp").c_str(), 54 + 6000000000ll) != 0) GTEST_SKIP() << "no sparse files here";
    EXPECT_EQ(loadBitmap(record, path("huge.bmp"), true), kBitmapNoBuffer);
    EXPECT_FALSE(record.picture.paintable);
}

TEST_F(Bitmaps, TruncatedFilesReportShortReads) {
    BmpLayout noFileSize; // only the pixel data size tells how much must follow
    noFileSize.fileSizeField = 0;
    auto b = test::encodeBmp(test::patternPicture(9, 9), noFileSize);
    for (std::size_t keep : {0ul, 1ul, 13ul, 17ul, 30ul, 53ul, 54ul, b.size() - 1}) {
        std::vector<std::uint8_t> cut(b.begin(), b.begin() + static_cast<long>(keep));
        EXPECT_EQ(load(cut), kBitmapShort) << keep << " bytes";
    }
    EXPECT_EQ(load(b), kBitmapLoaded);
}

TEST_F(Bitmaps, AFifoIsNotABitmapAndNeverBlocks) {
    const std::string fifo = dir.file("pipe.bmp");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<int> result{1};
    platform::Event done(true);
    std::thread load([&] {
        result = loadBitmap(record, path("pipe.bmp"), true);
        done.set();
    });
    // Nothing writes to the FIFO: a load blocked on it would wait for ever,
    // so after the deadline the test opens it for writing to let it go.
    const bool finished = done.waitFor(60'000);
    if (!finished) close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    load.join();
    EXPECT_TRUE(finished) << "the load blocked on the FIFO";
    EXPECT_EQ(result, kBitmapCannotOpen);
}

TEST_F(Bitmaps, PicturesLargerThanTheScreenOrWithPlanesWantedGoToThePlanes) {
    record.codec.screen = ScreenSize{64, 32};
    Picture wide = test::patternPicture(65, 4, 2);
    ASSERT_EQ(load(test::encodeBmp(wide)), kBitmapLoaded);
    EXPECT_TRUE(record.picture.pictureInPlanes());
    EXPECT_FALSE(record.picture.surfaceFollowsPicture);
    EXPECT_EQ(heldPicture(record), wide);

    Picture small = test::patternPicture(64, 32, 3);
    ASSERT_EQ(load(test::encodeBmp(small)), kBitmapLoaded);
    EXPECT_FALSE(record.picture.pictureInPlanes());
    EXPECT_EQ(heldPicture(record), small);

    record.picture.planesWanted = true;
    ASSERT_EQ(load(test::encodeBmp(small)), kBitmapLoaded);
    EXPECT_TRUE(record.picture.pictureInPlanes());
    EXPECT_TRUE(record.picture.surfaceFollowsPicture);
    EXPECT_EQ(heldPicture(record), small);
    // The planes are written as they are.
    ASSERT_EQ(writeBitmap(record, path("out.bmp")), kBitmapWritten);
    Picture back;
    ASSERT_TRUE(test::decodeStandardBmp(test::readFile(dir.file("out.bmp")), back));
    EXPECT_EQ(back, small);
}

// The previous picture as the compression side sees it.
Picture previousPicture(TWnd& record) {
    std::int32_t w = 0, h = 0;
    EXPECT_TRUE(record.picture.previousPictureSize(w, h));
    Picture p{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3)};
    if (!record.picture.frameBuffer.empty()) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) p.at(x, y)[c] = record.picture.frameBuffer.row(c, y)[x];
        return p;
    }
    SurfaceAccess a;
    EXPECT_TRUE(record.picture.surfaceReference->lock(a));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            auto word = reinterpret_cast<const std::uint32_t*>(a.bits + (h + 15 - y) * a.pitch)[x + 16];
            p.at(x, y)[0] = static_cast<std::uint8_t>(word >> 16);
            p.at(x, y)[1] = static_cast<std::uint8_t>(word >> 8);
            p.at(x, y)[2] = static_cast<std::uint8_t>(word);
        }
    record.picture.surfaceReference->unlock();
    return p;
}

TEST_F(Bitmaps, TheHeldPictureBecomesThePreviousOneInTheSurface) {
    Picture a = test::patternPicture(20, 10, 1), b = test::patternPicture(20, 10, 2), c = test::patternPicture(20, 10, 3);
    ASSERT_EQ(load(test::encodeBmp(a)), kBitmapLoaded);
    std::int32_t w, h;
    EXPECT_FALSE(record.picture.previousPictureSize(w, h));
    ASSERT_EQ(load(test::encodeBmp(b)), kBitmapLoaded);
    EXPECT_EQ(previousPicture(record), a);
    EXPECT_EQ(heldPicture(record), b);
    ASSERT_EQ(load(test::encodeBmp(c)), kBitmapLoaded); // the reference is refreshed by copying
    EXPECT_EQ(previousPicture(record), b);
    EXPECT_EQ(heldPicture(record), c);
    // Another size makes the previous picture useless.
    ASSERT_EQ(load(test::encodeBmp(test::patternPicture(21, 10))), kBitmapLoaded);
    EXPECT_FALSE(record.picture.previousPictureSize(w, h));
    EXPECT_EQ(record.picture.currentHeader.width, 21);
}

TEST_F(Bitmaps, TheHeldPictureBecomesThePreviousOneInThePlanes) {
    record.picture.planesWanted = true;
    Picture a = test::patternPicture(20, 10, 1), b = test::patternPicture(20, 10, 2);
    ASSERT_EQ(load(test::encodeBmp(a)), kBitmapLoaded);
    ASSERT_EQ(load(test::encodeBmp(b)), kBitmapLoaded);
    EXPECT_FALSE(record.picture.frameBuffer.empty());
    EXPECT_EQ(previousPicture(record), a);
    EXPECT_EQ(heldPicture(record), b);
}

TEST_F(Bitmaps, WritingNeverOverwritesAndLeavesTheSystemReasonForTheMessage) {
    ASSERT_EQ(load(test::encodeBmp(test::patternPicture(4, 4))), kBitmapLoaded);
    ASSERT_TRUE(test::writeFile(dir.file("taken.bmp"), {1, 2, 3}));
    test::MessageCapture capture;
    EXPECT_EQ(writeBitmap(record, path("taken.bmp")), kBitmapCannotCreate);
    EXPECT_EQ(test::readFile(dir.file("taken.bmp")), (std::vector<std::uint8_t>{1, 2, 3}));
    // The reason is left for the caller's message, which names the file.
    EXPECT_EQ(platform::lastError(), EEXIST);
    EXPECT_TRUE(capture.messages.empty());
}

TEST_F(Bitmaps, WritingWithoutAPictureCreatesNothing) {
    EXPECT_EQ(writeBitmap(record, path("none.bmp")), kBitmapNoPicture);
    EXPECT_FALSE(test::fileExists(dir.file("none.bmp")));
    TWnd bare; // never created: no graphics window
    EXPECT_EQ(loadBitmap(bare, path("none.bmp"), true), kBitmapNoBuffer);
    EXPECT_EQ(writeBitmap(bare, path("none.bmp")), kBitmapNoPicture);
}

} // namespace
} // namespace vexel
