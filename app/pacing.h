// Pacing of playback: waiting until the next frame is due.
//
// The lag is how far playback is behind the frame interval (negative: the
// frame is early). While the frame is early by more than kPreciseSeconds the
// wait is on the window's events, so a close, a key or a click is handled
// at once and an idle viewer uses no processor time; the last stretch is
// waited out on the clock alone, for a precise frame time.
#pragma once

#include "display/twnd.h"

#include <functional>

namespace vexel {

inline constexpr long double kPreciseSeconds = 0.001;

// Whether playback, lag seconds behind after a frame, drops the next one:
// only when the frame after it is already due. A frame late by less than an
// interval is still shown, so a viewer that shows frames a little slower
// than the rate shows as many as it can, its drops spread out, instead of
// dropping every other frame (or, once behind, nearly all of them).
inline bool dropsNextFrame(long double lag, long double interval) { return interval > 0 && lag >= interval; }

// Waits until lag (advanced by every reading of interval, the seconds since
// its previous reading) is no longer negative. Returns the quit code taken
// during the wait, which ends it at once, or -1.
int waitForFrame(long double& lag, ViewerWindow& window, const std::function<long double()>& interval);

} // namespace vexel
