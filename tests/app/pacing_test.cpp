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

// Playback as the frame loop paces it, on a simulated clock: a shown frame
// takes `shown` intervals, a dropped one `dropped`; the shown frames' places.
std::vector<int> play(int frames, long double shown, long double dropped) {
    const long double interval = 1.0L / 60;
    long double lag = 0;
    bool drop = false;
    std::vector<int> places;
    for (int f = 0; f < frames; ++f) {
        if (!drop) places.push_back(f);
        lag += (drop ? dropped : shown) * interval - interval;
        drop = dropsNextFrame(lag, interval);
        if (lag < 0) lag = 0; // the wait
    }
    return places;
}

TEST(Pacing, AViewerALittleTooSlowShowsMostFramesWithItsDropsSpreadOut) {
    // Each frame takes 1.25 intervals to show: at most 48 of 60 can be shown.
    const std::vector<int> places = play(60, 1.25, 0.05);
    EXPECT_GE(places.size(), 45u);
    for (std::size_t i = 1; i < places.size(); ++i) EXPECT_LE(places[i] - places[i - 1], 2) << "two drops in a row at " << i;
    // Fast enough: nothing dropped; far too slow: still about one frame in three, evenly.
    EXPECT_EQ(play(60, 0.9, 0.05).size(), 60u);
    const std::vector<int> slow = play(60, 3.0, 0.05);
    EXPECT_GE(slow.size(), 18u);
    for (std::size_t i = 1; i < slow.size(); ++i) EXPECT_LE(slow[i] - slow[i - 1], 4);
    EXPECT_FALSE(dropsNextFrame(10, 0)); // without a rate nothing is dropped
}

} // namespace
} // namespace vexel
