#include "display/twnd.h"

#include "display/painting.h"

#include <gtest/gtest.h>

#include <vector>

namespace vexel {
namespace {

// A record holding a width x height picture where pixel (x, y) is (x, y, x + y).
class Resize : public ::testing::Test {
protected:
    void hold(std::int32_t width, std::int32_t height, bool inPlanes) {
        ASSERT_TRUE(record.create());
        record.picture.infoHeader.width = width;
        record.picture.infoHeader.height = height;
        record.picture.paintable = true;
        if (inPlanes) {
            ASSERT_TRUE(record.picture.planes.allocate(width, height));
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    record.picture.planes.row(0, y)[x] = static_cast<std::uint8_t>(x);
                    record.picture.planes.row(1, y)[x] = static_cast<std::uint8_t>(y);
                    record.picture.planes.row(2, y)[x] = static_cast<std::uint8_t>(x + y);
                }
            return;
        }
        PictureRect r{0, 0, width, height};
        ASSERT_TRUE(record.graphicsWindow->SetPictureSize(&r, 0, 16, false));
        PictureAccess p;
        ASSERT_TRUE(record.graphicsWindow->lockPicture(p));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                p.rowFromBottom(y)[x] = static_cast<std::uint32_t>(x) << 16 | static_cast<std::uint32_t>(y) << 8 |
                                        static_cast<std::uint8_t>(x + y);
        record.graphicsWindow->unlockPicture(p);
    }
    // Pixel (x, y) of the held picture as red, green, blue.
    std::vector<int> pixel(std::int32_t x, std::int32_t y) {
        if (record.picture.pictureInPlanes())
            return {record.picture.planes.row(0, y)[x], record.picture.planes.row(1, y)[x], record.picture.planes.row(2, y)[x]};
        PictureAccess p;
        EXPECT_TRUE(record.graphicsWindow->lockPicture(p));
        std::uint32_t w = p.rowFromBottom(y)[x];
        record.graphicsWindow->unlockPicture(p);
        return {static_cast<int>(w >> 16 & 255), static_cast<int>(w >> 8 & 255), static_cast<int>(w & 255)};
    }
    TWnd record;
};

TEST_F(Resize, A640By480PictureResizedTo320Is320By240) {
    hold(640, 480, false);
    EXPECT_EQ(resizePicture(record, 320, false), kResizeDone);
    EXPECT_EQ(record.picture.pictureWidth(), 320);
    EXPECT_EQ(record.picture.pictureHeight(), 240);
    EXPECT_FALSE(record.picture.pictureInPlanes()); // still fits the screen
    std::int32_t h, w;
    record.graphicsWindow->PictureSize(h, w);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    EXPECT_EQ(pixel(3, 5), (std::vector<int>{6, 10, 16})); // source (6, 10)
}

TEST_F(Resize, TheNewHeightRoundsHalfToEven) {
    hold(4, 2, false); // 3 x 2 / 4 = 1.5 -> 2
    EXPECT_EQ(resizePicture(record, 3, false), kResizeDone);
    EXPECT_EQ(record.picture.pictureHeight(), 2);
    record.destroy();
    hold(4, 10, false); // 2 x 10 / 4 = 5
    EXPECT_EQ(resizePicture(record, 2, false), kResizeDone);
    EXPECT_EQ(record.picture.pictureHeight(), 5);
}

TEST_F(Resize, EnlargingRepeatsRowsAndNeverPaintsTheTopBlack) {
    hold(3, 2, false);
    ASSERT_EQ(resizePicture(record, 9, false), kResizeDone); // 9 x 6
    ASSERT_EQ(record.picture.pictureHeight(), 6);
    for (int k = 0; k < 6; ++k)
        for (int j = 0; j < 9; ++j) EXPECT_EQ(pixel(j, k), (std::vector<int>{j / 3, k / 3, j / 3 + k / 3})) << j << "," << k;
}

TEST_F(Resize, PlanesTakeRowsRoundedAndColumnsFloored) {
    // 23 rows to 31: floor and rounding differ on many rows.
    hold(37, 23, true);
    ASSERT_EQ(resizePicture(record, 50, false), kResizeDone);
    ASSERT_TRUE(record.picture.pictureInPlanes());
    for (int y = 0; y < 31; ++y) {
        const int row = (y * 23 * 2 + 31) / 62; // round(y x 23 / 31), no ties
        for (int x = 0; x < 50; ++x) {
            const int column = x * 37 / 50;
            ASSERT_EQ(pixel(x, y), (std::vector<int>{column, row, column + row})) << x << "," << y;
        }
    }
}

TEST_F(Resize, PlanesTakeRowsRoundedHalfToEvenAndRowsPastThePictureAreBlack) {
    hold(4, 2, true);
    ASSERT_EQ(resizePicture(record, 8, false), kResizeDone); // 8 x 4: rows k x 2 / 4
    ASSERT_EQ(record.picture.pictureHeight(), 4);
    const int source[] = {0, 0, 1, -1}; // 0, 0.5 -> 0, 1, 1.5 -> 2: past the picture
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 8; ++j) {
            const std::vector<int> expected = source[k] < 0 ? std::vector<int>{0, 0, 0}
                                                            : std::vector<int>{j / 2, source[k], j / 2 + source[k]};
            EXPECT_EQ(pixel(j, k), expected) << j << "," << k;
        }
}

TEST_F(Resize, APictureResizedInThePlanesNoLongerKeepsAPictureSizedSurface) {
    // A frame decoded into the planes with a surface of its own size.
    hold(30, 10, true);
    PictureRect r{0, 0, 30, 10};
    ASSERT_TRUE(record.graphicsWindow->SetPictureSize(&r, 0, 16, false));
    record.picture.surfaceFollowsPicture = true;
    ASSERT_EQ(resizePicture(record, 120, false), kResizeDone);
    EXPECT_FALSE(record.picture.surfaceFollowsPicture);
    std::int32_t h, w;
    record.graphicsWindow->PictureSize(h, w);
    EXPECT_FALSE(w == 30 && h == 10) << "the surface keeps the old picture's size";
    EXPECT_TRUE(respond(record, ViewerEvent::Sized).resizeSurface); // and follows the window from now on
}

TEST_F(Resize, APictureResizedBeyondTheScreenMovesToThePlanes) {
    hold(30, 10, false);
    record.codec.screen = ScreenSize{40, 40};
    ASSERT_EQ(resizePicture(record, 60, false), kResizeDone);
    EXPECT_TRUE(record.picture.pictureInPlanes());
    EXPECT_EQ(record.picture.planes.width(), 60);
    EXPECT_EQ(record.picture.planes.height(), 20);
    EXPECT_EQ(pixel(59, 18), (std::vector<int>{29, 9, 38}));
    EXPECT_EQ(pixel(59, 19), (std::vector<int>{0, 0, 0})); // 9.5 rounds to 10, past the picture
}

TEST_F(Resize, SizesThatRoundToNothingAreRefusedAndThePictureKept) {
    hold(1000, 1, false);
    EXPECT_EQ(resizePicture(record, 320, false), kResizeBadSize); // 0.32 rows
    EXPECT_EQ(resizePicture(record, 0, false), kResizeBadSize);
    EXPECT_EQ(record.picture.pictureWidth(), 1000);
    EXPECT_EQ(pixel(999, 0), (std::vector<int>{999 & 255, 0, 999 & 255}));
    record.picture.paintable = false;
    EXPECT_EQ(resizePicture(record, 10, false), kResizeNothing);
}

TEST(ViewerRecord, ANewRecordHasAGraphicsWindowAndPlaysAtRateOne) {
    TWnd record;
    ASSERT_TRUE(record.create());
    EXPECT_NE(record.graphicsWindow, nullptr);
    EXPECT_EQ(record.playbackRate, 1.0);
    EXPECT_EQ(record.codec.screen.width, 1920);
    EXPECT_EQ(record.window, nullptr);
    std::int32_t w, h;
    EXPECT_FALSE(record.picture.previousPictureSize(w, h));
}

} // namespace
} // namespace vexel
