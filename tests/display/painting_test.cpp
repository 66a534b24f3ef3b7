// What the viewer draws and does, without a window: the presentation rule,
// painting from the picture planes, fitting the window, and the events.
#include "display/painting.h"

#include <gtest/gtest.h>

#include <utility>

namespace vexel {
namespace {

TEST(Present, APictureKeepsItsAspectWithBlackBarsInAnyClientArea) {
    ViewRect t;
    ASSERT_TRUE(presentTarget(200, 100, 400, 400, t)); // bars above and below
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 100);
    EXPECT_EQ(t.width, 400);
    EXPECT_EQ(t.height, 200);
    ASSERT_TRUE(presentTarget(100, 200, 400, 400, t)); // bars left and right
    EXPECT_EQ(t.x, 100);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.width, 200);
    EXPECT_EQ(t.height, 400);
    ASSERT_TRUE(presentTarget(1920, 1080, 1000, 500, t));
    EXPECT_EQ(t.width, 888); // trunc(500 / 0.5625)
    EXPECT_EQ(t.height, 500);
    EXPECT_EQ(t.x, 56);
}

TEST(Present, NothingIsShownInAClientAreaOrOfAPictureWithoutSize) {
    ViewRect t;
    EXPECT_FALSE(presentTarget(200, 100, 0, 400, t));
    EXPECT_FALSE(presentTarget(200, 100, 400, 0, t));
    EXPECT_FALSE(presentTarget(0, 0, 400, 400, t));
}

// A record whose picture planes hold W x H with pixel (x, y) = (x, y, 200).
void planesPicture(TWnd& record, int W, int H, int surfaceW, int surfaceH) {
    ASSERT_TRUE(record.create());
    ASSERT_TRUE(record.picture.planes.allocate(W, H));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            record.picture.planes.row(TPicturePlanes::kRed, y)[x] = static_cast<std::uint8_t>(x);
            record.picture.planes.row(TPicturePlanes::kGreen, y)[x] = static_cast<std::uint8_t>(y);
            record.picture.planes.row(TPicturePlanes::kBlue, y)[x] = 200;
        }
    record.picture.infoHeader.width = W;
    record.picture.infoHeader.height = H;
    record.picture.paintable = true;
    PictureRect r{0, 0, surfaceW, surfaceH};
    ASSERT_TRUE(record.graphicsWindow->SetPictureSize(&r, 0, 16, false));
}

// The surface pixel at (c, r), r from the top.
std::uint32_t at(TWnd& record, int c, int r) {
    PictureAccess p;
    EXPECT_TRUE(record.graphicsWindow->lockPicture(p));
    const std::uint32_t v = p.rowFromTop(r)[c];
    record.graphicsWindow->unlockPicture(p);
    return v;
}

std::uint32_t pixel(int x, int y) { return 0x000000C8u | static_cast<std::uint32_t>(y) << 8 | static_cast<std::uint32_t>(x) << 16; }

TEST(PaintFromPlanes, AtScaleOneAPictureLowerThanTheAreaIsCentredWithBarsAboveAndBelow) {
    TWnd record;
    planesPicture(record, 8, 4, 8, 8); // s = 1: 2 rows of bar above, 2 below
    ASSERT_TRUE(paintPlanes(record));
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(at(record, c, 0), 0u);
        EXPECT_EQ(at(record, c, 1), 0u);
        EXPECT_EQ(at(record, c, 6), 0u);
        EXPECT_EQ(at(record, c, 7), 0u);
        // Surface row 2 is the top picture row (3 from the bottom), row 5 the bottom one.
        EXPECT_EQ(at(record, c, 2), pixel(c, 3));
        EXPECT_EQ(at(record, c, 5), pixel(c, 0));
    }
}

TEST(PaintFromPlanes, ALargerPictureIsSampledAtFloorOfPositionTimesScale) {
    TWnd record;
    planesPicture(record, 16, 8, 8, 8); // s = 2, x0 = 0, y0 = (8 - 4) >> 1 = 2
    ASSERT_TRUE(paintPlanes(record));
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            const int k = 7 - r, y = (k - 2) * 2;
            EXPECT_EQ(at(record, c, r), y >= 0 && y < 8 ? pixel(2 * c, y) : 0u) << c << " " << r;
        }
}

TEST(PaintFromPlanes, NothingIsPaintedWithoutACompletePicture) {
    TWnd record;
    planesPicture(record, 4, 4, 4, 4);
    record.picture.paintable = false;
    EXPECT_FALSE(paintPlanes(record));
    record.picture.paintable = true;
    record.picture.planes.reset();
    EXPECT_FALSE(paintPlanes(record));
}

TEST(FitToPicture, The640By480PictureIn1000By500BecomesA667By500ClientArea) {
    Margins m;
    ASSERT_TRUE(fitMargins(640, 480, 1000, 500, m));
    EXPECT_EQ(1000 - m.left - m.right, 667);
    EXPECT_EQ(500 - m.top - m.bottom, 500);
    EXPECT_EQ(m.left, 166);
    EXPECT_EQ(m.right, 167);
    EXPECT_EQ(m.top, 0);
}

TEST(FitToPicture, NothingHappensWithoutAPictureOrAClientArea) {
    Margins m;
    EXPECT_FALSE(fitMargins(0, 0, 1000, 500, m)); // would be 0 / 0
    EXPECT_FALSE(fitMargins(640, 480, 0, 500, m));
    EXPECT_FALSE(fitMargins(640, 480, 1000, 0, m));
}

TEST(ViewerEvents, SpaceAndLeftClickToggleAndReportOneCloseReportsZero) {
    TWnd record;
    for (ViewerEvent e : {ViewerEvent::SpaceReleased, ViewerEvent::LeftReleased}) {
        const bool before = record.playing;
        record.toggleRequested = false;
        EXPECT_EQ(respond(record, e).quitCode, 1);
        EXPECT_NE(record.playing, before);
        EXPECT_TRUE(record.toggleRequested);
    }
    EXPECT_EQ(respond(record, ViewerEvent::Close).quitCode, 0);
    EXPECT_EQ(respond(record, ViewerEvent::Moved).quitCode, -1);
    EXPECT_TRUE(respond(record, ViewerEvent::Moved).updatePosition);
    EXPECT_TRUE(respond(record, ViewerEvent::Exposed).repaint);
}

TEST(ViewerEvents, TheNextFrameKeyStepsAndLeavesPlaybackPaused) {
    TWnd record;
    record.playing = true;
    EXPECT_EQ(respond(record, ViewerEvent::NextFrame).quitCode, 1);
    EXPECT_FALSE(record.playing);
    EXPECT_TRUE(record.toggleRequested);
    record.toggleRequested = false;
    EXPECT_EQ(respond(record, ViewerEvent::NextFrame).quitCode, 1);
    EXPECT_FALSE(record.playing);
    EXPECT_FALSE(record.toggleRequested); // already paused: nothing toggled
}

TEST(ViewerEvents, BackFirstAndLastAskForTheirFrameAndLeavePlaybackPaused) {
    const std::pair<ViewerEvent, FrameRequest> keys[] = {{ViewerEvent::PreviousFrame, FrameRequest::Previous},
                                                         {ViewerEvent::FirstFrame, FrameRequest::First},
                                                         {ViewerEvent::LastFrame, FrameRequest::Last}};
    for (const auto& [event, request] : keys) {
        TWnd record;
        record.playing = true;
        const ViewerResponse r = respond(record, event);
        EXPECT_EQ(r.quitCode, 1);
        EXPECT_EQ(record.frameRequest, request);
        EXPECT_FALSE(record.playing);
        EXPECT_TRUE(record.toggleRequested); // playing was stopped
        record.toggleRequested = false;
        EXPECT_EQ(respond(record, event).quitCode, 1);
        EXPECT_FALSE(record.playing);
        EXPECT_FALSE(record.toggleRequested); // already paused: nothing toggled
        EXPECT_FALSE(record.looping);
        // The next frame asks for no other frame: it replaces a request not yet taken.
        EXPECT_EQ(respond(record, ViewerEvent::NextFrame).quitCode, 1);
        EXPECT_EQ(record.frameRequest, FrameRequest::None);
    }
}

TEST(ViewerEvents, TheLoopKeyTurnsLoopingOnAndOffAndShowsNoFrame) {
    TWnd record;
    record.playing = true;
    ViewerResponse r = respond(record, ViewerEvent::Loop);
    EXPECT_TRUE(record.looping);
    EXPECT_EQ(r.quitCode, -1); // no frame: the loop's wait goes on
    EXPECT_TRUE(record.playing);
    EXPECT_EQ(record.frameRequest, FrameRequest::None);
    EXPECT_FALSE(r.repaint || r.fitToPicture || r.toggleFullScreen || r.resizeSurface);
    respond(record, ViewerEvent::Loop);
    EXPECT_FALSE(record.looping);
    // Playing, toggled by space, keeps looping as it is.
    record.looping = true;
    respond(record, ViewerEvent::SpaceReleased);
    EXPECT_TRUE(record.looping);
}

TEST(ViewerEvents, ASizedWindowResizesTheSurfaceOnlyWhenItFollowsTheClientArea) {
    TWnd record;
    ASSERT_TRUE(record.create());
    EXPECT_FALSE(respond(record, ViewerEvent::Sized).resizeSurface); // the picture is in the surface
    ASSERT_TRUE(record.picture.planes.allocate(4, 4));
    record.picture.surfaceFollowsPicture = false;
    EXPECT_TRUE(respond(record, ViewerEvent::Sized).resizeSurface);
    EXPECT_TRUE(respond(record, ViewerEvent::Sized).repaint);
    record.picture.surfaceFollowsPicture = true;
    EXPECT_FALSE(respond(record, ViewerEvent::Sized).resizeSurface);
}

TEST(ViewerEvents, ARightClickFitsOnlyWithACompletePicture) {
    TWnd record;
    EXPECT_FALSE(respond(record, ViewerEvent::RightReleased).fitToPicture);
    record.picture.paintable = true;
    EXPECT_TRUE(respond(record, ViewerEvent::RightReleased).fitToPicture);
    EXPECT_TRUE(respond(record, ViewerEvent::FullScreen).toggleFullScreen);
}

} // namespace
} // namespace vexel
