// Waiting for the next frame, on an injected clock: the waits it asks of
// the window, and how a close or a click during a wait ends it.
#include "app/pacing.h"

#include <gtest/gtest.h>

#include <vector>

namespace vexel {
namespace {

// A window whose waits pass the time they were asked for on a fake clock,
// and which can report a quit during the k-th wait.
struct ClockWindow : ViewerWindow {
    long double now = 0, read = 0; // the clock and its last reading
    std::vector<double> waits;
    int quitOnWait = -1, quitCode = -1;
    long double tick = 0.0002; // what each reading of the clock alone advances it

    long double interval() {
        const long double d = now - read;
        read = now;
        now += tick; // spinning on the clock takes a little time too
        return d;
    }
    int waitForEvents(double seconds) override {
        waits.push_back(seconds);
        if (static_cast<int>(waits.size()) == quitOnWait) {
            now += seconds / 2;
            return quitCode;
        }
        now += seconds + 0.0001; // a wait ends a little late
        return -1;
    }
    TWideString title() override { return TWideString(); }
    void setTitle(const TWideString&) override {}
    void showMaximized() override {}
    void paint() override {}
    int drainEvents() override { return -1; }
    int waitForQuit() override { return 0; }
    ScreenSize displaySize() override { return {1920, 1080}; }
};

TEST(Pacing, AnEarlyFrameWaitsOnTheWindowUntilAMillisecondBeforeItIsDueThenOnTheClock) {
    ClockWindow w;
    long double lag = -0.040; // 40 ms early
    EXPECT_EQ(waitForFrame(lag, w, [&] { return w.interval(); }), -1);
    ASSERT_EQ(w.waits.size(), 1u);
    EXPECT_NEAR(w.waits[0], 0.039, 1e-9);
    EXPECT_GE(lag, 0);
    EXPECT_LT(lag, 0.001); // due, and not late by more than the last stretch
}

TEST(Pacing, AFrameLessThanAMillisecondEarlyWaitsOnTheClockAlone) {
    ClockWindow w;
    long double lag = -0.0007;
    EXPECT_EQ(waitForFrame(lag, w, [&] { return w.interval(); }), -1);
    EXPECT_TRUE(w.waits.empty());
    EXPECT_GE(lag, 0);
}

TEST(Pacing, AFrameThatIsDueOrLateDoesNotWait) {
    ClockWindow w;
    long double lag = 0.25;
    EXPECT_EQ(waitForFrame(lag, w, [&] { return w.interval(); }), -1);
    EXPECT_TRUE(w.waits.empty());
    EXPECT_EQ(lag, 0.25L);
}

TEST(Pacing, ACloseOrAClickDuringTheWaitEndsItAtOnce) {
    for (int code : {0, 1}) {
        ClockWindow w;
        w.quitOnWait = 1;
        w.quitCode = code;
        long double lag = -5; // "-a=0.2": five seconds between frames
        EXPECT_EQ(waitForFrame(lag, w, [&] { return w.interval(); }), code);
        EXPECT_EQ(w.waits.size(), 1u);
        EXPECT_LT(lag, 0); // the frame was not due yet
    }
}

} // namespace
} // namespace vexel
