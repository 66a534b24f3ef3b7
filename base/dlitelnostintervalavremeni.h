// Time measurement on the monotonic clock.
#pragma once

namespace vexel {

// Seconds since the previous call (about 0 on the first call).
long double intervalSeconds();
// The current time in seconds.
long double clockNow();

} // namespace vexel
