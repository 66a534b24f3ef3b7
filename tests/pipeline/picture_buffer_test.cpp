#include "pipeline/picture_buffer.h"
#include "pipeline/screen.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vexel {
namespace {

struct WindowHolder {
    OffScreenBuffer buffer;
    OffScreenBuffer* operator->() { return &buffer; }
};

PictureRect rect(std::int32_t w, std::int32_t h) { return PictureRect{0, 0, w, h}; }

TEST(Screen, TheReferenceScreenIs1920By1080) {
    EXPECT_EQ(referenceScreenSize().width, 1920);
    EXPECT_EQ(referenceScreenSize().height, 1080);
    EXPECT_TRUE(fitsScreen(1920, 1080, referenceScreenSize()));
    EXPECT_FALSE(fitsScreen(1921, 1080, referenceScreenSize()));
    EXPECT_FALSE(fitsScreen(1920, 1081, referenceScreenSize()));
}

TEST(OffScreenBuffer, TheStandardChannelOrderIsRed16Green8Blue0) {
    WindowHolder gw;
    EXPECT_EQ(gw->redShift(), 16);
    EXPECT_EQ(gw->greenShift(), 8);
    EXPECT_EQ(gw->blueShift(), 0);
}

TEST(OffScreenBuffer, ANewSurfaceIsBlackWithA16PixelBorderAndAPitchOfItsOwn) {
    WindowHolder gw;
    auto r = rect(5, 3);
    ASSERT_TRUE(gw->SetPictureSize(&r, 0, 16, false));
    std::int32_t h, w;
    gw->PictureSize(h, w);
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(gw->border(), 16);
    TSurface* s = gw->offScreenSurface();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->width(), 37);
    EXPECT_EQ(s->height(), 35);
    EXPECT_GE(s->pitch(), 37 * 4);
    EXPECT_NE(s->pitch(), 37 * 4); // callers must use the pitch, never the width
    SurfaceAccess a;
    ASSERT_TRUE(s->lock(a));
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) ASSERT_EQ(reinterpret_cast<std::uint32_t*>(a.bits + y * a.pitch)[x], 0u);
    s->unlock();
}

TEST(OffScreenBuffer, PictureRowsAreAddressedFromTheTopAndFromTheBottom) {
    WindowHolder gw;
    auto r = rect(4, 3);
    ASSERT_TRUE(gw->SetPictureSize(&r, 0, 16, false));
    PictureAccess p;
    ASSERT_TRUE(gw->lockPicture(p));
    EXPECT_EQ(p.width, 4);
    EXPECT_EQ(p.height, 3);
    p.rowFromBottom(0)[1] = 0x00112233;
    // Picture row y from the bottom is surface row height + 15 - y, column x is x + 16.
    EXPECT_EQ(reinterpret_cast<std::uint32_t*>(p.buffer.bits + (3 + 15) * p.buffer.pitch)[1 + 16], 0x00112233u);
    EXPECT_EQ(p.rowFromTop(2), p.rowFromBottom(0));
    gw->unlockPicture(p);
}

TEST(OffScreenBuffer, TheSameSizeKeepsTheSurfaceAndItsPixelsUnlessForcedOrTheBorderChanges) {
    WindowHolder gw;
    auto r = rect(6, 2);
    ASSERT_TRUE(gw->SetPictureSize(&r, 0, 16, false));
    ASSERT_TRUE(gw->Fill(0x00ABCDEF));
    TSurface* first = gw->offScreenSurface();
    ASSERT_TRUE(gw->SetPictureSize(&r, OffScreenBuffer::kKeepMemoryChoice, -1, false));
    EXPECT_EQ(gw->offScreenSurface(), first);
    PictureAccess p;
    ASSERT_TRUE(gw->lockPicture(p));
    EXPECT_EQ(p.rowFromTop(0)[0], 0x00ABCDEFu);
    gw->unlockPicture(p);

    ASSERT_TRUE(gw->SetPictureSize(&r, 0, 8, false)); // another border: a new black surface
    ASSERT_TRUE(gw->lockPicture(p));
    EXPECT_EQ(p.border, 8);
    EXPECT_EQ(p.rowFromTop(0)[0], 0u);
    EXPECT_EQ(p.buffer.width, 6 + 16);
    gw->unlockPicture(p);

    ASSERT_TRUE(gw->Fill(7));
    ASSERT_TRUE(gw->SetPictureSize(&r, OffScreenBuffer::kKeepMemoryChoice, -1, true));
    ASSERT_TRUE(gw->lockPicture(p));
    EXPECT_EQ(p.rowFromTop(1)[5], 0u);
    gw->unlockPicture(p);
}

TEST(OffScreenBuffer, WithoutARectangleTheClientAreaIsUsedAndZeroIsOne) {
    WindowHolder gw;
    ASSERT_TRUE(gw->SetPictureSize(nullptr, 0, 0, false));
    std::int32_t h, w;
    gw->PictureSize(h, w);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 1);
    gw->setClientArea(100, 50, 30, 20);
    ASSERT_TRUE(gw->SetPictureSize(nullptr, 0, 16, false));
    gw->PictureSize(h, w);
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 20);
}

TEST(OffScreenBuffer, FillCoversTheBorderToo) {
    WindowHolder gw;
    auto r = rect(2, 2);
    ASSERT_TRUE(gw->SetPictureSize(&r, 0, 16, false));
    ASSERT_TRUE(gw->Fill(0x01020304));
    TSurface* s = gw->offScreenSurface();
    SurfaceAccess a;
    ASSERT_TRUE(s->lock(a));
    EXPECT_EQ(reinterpret_cast<std::uint32_t*>(a.bits)[0], 0x01020304u);
    EXPECT_EQ(reinterpret_cast<std::uint32_t*>(a.bits + (a.height - 1) * a.pitch)[a.width - 1], 0x01020304u);
    s->unlock();
}

TEST(OffScreenBuffer, SizesThatCannotBeHeldAreRefused) {
    WindowHolder gw;
    auto huge = rect(0x7FFFFFF0, 1);
    EXPECT_FALSE(gw->SetPictureSize(&huge, 0, 16, false)); // the padded width overflows
    EXPECT_FALSE(gw->Fill(0));
    EXPECT_EQ(TSurface::create(0, 5), nullptr);
    EXPECT_EQ(TSurface::create(0x7FFFFFFF, 0x7FFFFFFF), nullptr); // more than memory
}

TEST(Surfaces, ALockIsExclusiveAndASecondLockByTheSameThreadFails) {
    TSurface* s = TSurface::create(3, 3);
    ASSERT_NE(s, nullptr);
    SurfaceAccess a;
    ASSERT_TRUE(s->lock(a));
    EXPECT_FALSE(s->lock(a));
    // Another thread asks for it while this one holds it: it gets it only
    // after this one let go (the flag is set just before the unlock).
    std::atomic<bool> asking{false}, released{false}, gotItAfterRelease{false}, gotIt{false};
    std::thread other([&] {
        SurfaceAccess b;
        asking = true;
        if (s->lock(b)) {
            gotItAfterRelease = released.load();
            gotIt = true;
            s->unlock();
        }
    });
    while (!asking) std::this_thread::yield();
    for (int i = 0; i < 1000 && !gotIt; ++i) std::this_thread::yield(); // room for a wrong early lock
    released = true;
    EXPECT_TRUE(s->unlock());
    other.join();
    EXPECT_TRUE(gotIt);
    EXPECT_TRUE(gotItAfterRelease);
    EXPECT_FALSE(s->unlock()); // not held
    s->release();
}

// Threads that add one to a pixel under the lock, reading and writing it in
// two steps, lose no addition.
TEST(Surfaces, ThreadsTakingTurnsUnderTheLockLoseNoUpdate) {
    TSurface* s = TSurface::create(3, 3);
    ASSERT_NE(s, nullptr);
    constexpr int kThreads = 4, kRounds = 500;
    {
        SurfaceAccess a;
        ASSERT_TRUE(s->lock(a));
        *reinterpret_cast<std::uint32_t*>(a.bits) = 0;
        s->unlock();
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([s] {
            for (int i = 0; i < kRounds; ++i) {
                SurfaceAccess a;
                while (!s->lock(a)) std::this_thread::yield();
                auto* pixel = reinterpret_cast<std::uint32_t*>(a.bits);
                const std::uint32_t seen = *pixel;
                std::this_thread::yield();
                *pixel = seen + 1;
                s->unlock();
            }
        });
    for (auto& t : threads) t.join();
    SurfaceAccess a;
    ASSERT_TRUE(s->lock(a));
    EXPECT_EQ(*reinterpret_cast<std::uint32_t*>(a.bits), std::uint32_t{kThreads * kRounds});
    s->unlock();
    s->release();
}

TEST(Surfaces, AReferenceKeepsAReplacedSurfaceAndItsPixels) {
    WindowHolder gw;
    auto r = rect(4, 4);
    ASSERT_TRUE(gw->SetPictureSize(&r, 0, 16, false));
    ASSERT_TRUE(gw->Fill(0x00000042));
    TSurface* old = gw->referenceOffScreen();
    EXPECT_EQ(old->references(), 2u);
    ASSERT_TRUE(gw->SetPictureSize(&r, 0, 16, true));
    EXPECT_NE(gw->offScreenSurface(), old);
    EXPECT_EQ(old->references(), 1u);
    SurfaceAccess a;
    ASSERT_TRUE(old->lock(a));
    EXPECT_EQ(reinterpret_cast<std::uint32_t*>(a.bits + 20 * a.pitch)[20], 0x42u);
    old->unlock();
    // Copying brings the pixels into a surface of the same size only.
    EXPECT_TRUE(copySurface(*gw->offScreenSurface(), *old));
    PictureAccess p;
    ASSERT_TRUE(gw->lockPicture(p));
    EXPECT_EQ(p.rowFromTop(3)[3], 0x42u);
    gw->unlockPicture(p);
    TSurface* other = TSurface::create(5, 5);
    EXPECT_FALSE(copySurface(*other, *old));
    other->release();
    old->release();
}

TEST(PicturePlanes, PixelXYOfPlanePLiesWhereTheLayoutSays) {
    TPicturePlanes planes;
    ASSERT_TRUE(planes.allocate(5, 3));
    EXPECT_EQ(planes.planeSize(), 37u * 35u);
    EXPECT_EQ(planes.stride(), 37);
    // p x planeSize + (y + 16) x (width + 32) + (x + 16)
    EXPECT_EQ(&planes.row(TPicturePlanes::kBlue, 2)[4] - planes.data(), 2 * 37 * 35 + (2 + 16) * 37 + (4 + 16));
    EXPECT_EQ(planes.offset(0, 0), 16 * 37 + 16);
    for (std::size_t i = 0; i < 3 * planes.planeSize(); ++i) ASSERT_EQ(planes.data()[i], 0);
}

TEST(PicturePlanes, ImpossibleSizesAreRefused) {
    TPicturePlanes planes;
    EXPECT_FALSE(planes.allocate(0, 3));
    EXPECT_FALSE(planes.allocate(3, -1));
    EXPECT_FALSE(planes.allocate(0x7FFFFFFF, 1)); // the padded width would overflow
    EXPECT_FALSE(planes.allocate(0x7FFF0000, 0x7FFF0000)); // more than memory
    EXPECT_TRUE(planes.empty());
}

} // namespace
} // namespace vexel
