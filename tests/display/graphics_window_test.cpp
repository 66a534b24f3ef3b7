#include "display/tgraficheskoeokno.h"

#include <gtest/gtest.h>

namespace vexel {
namespace {

struct WindowHolder {
    TGraficheskoeOkno* window = TGraficheskoeOkno::create();
    ~WindowHolder() { TGraficheskoeOkno::destroy(window); }
    TGraficheskoeOkno* operator->() { return window; }
};

TEST(GraphicsWindow, TheStandardChannelOrderExchangesRedAndBlueForDisplay) {
    WindowHolder gw;
    EXPECT_EQ(gw->redShift(), 16);
    EXPECT_EQ(gw->greenShift(), 8);
    EXPECT_EQ(gw->blueShift(), 0);
    EXPECT_EQ(gw->toDisplay(0x00332211), 0x00112233u); // red 0x11 moves to bits 16..23
    EXPECT_EQ(gw->toDisplay(0xAA000000), 0xAA000000u); // the fourth byte stays
}

TEST(GraphicsWindow, ThePictureAreaSitsAtTheClientAreasScreenPosition) {
    WindowHolder gw;
    gw->setClientArea(100, 50, 30, 20);
    ASSERT_TRUE(gw->SetPictureSize(nullptr, 0, 16, false));
    ScreenRect s = gw->screenRectangle();
    EXPECT_EQ(s.left, 100);
    EXPECT_EQ(s.top, 50);
    EXPECT_EQ(s.right, 130);
    EXPECT_EQ(s.bottom, 70);
}

TEST(GraphicsWindow, TheMemoryFormHasNoPrimarySurface) {
    WindowHolder gw;
    PictureRect r{0, 0, 2, 2};
    ASSERT_TRUE(gw->SetPictureSize(&r, 0, 16, false));
    EXPECT_EQ(gw->SurfaceSlot(TGraficheskoeOkno::Slot::Primary), nullptr);
    EXPECT_EQ(gw->SurfaceSlot(TGraficheskoeOkno::Slot::OffScreen), gw->offScreenSurface());
}

} // namespace
} // namespace vexel
