#include "app/pacing.h"

namespace vexel {

int waitForFrame(long double& lag, ViewerWindow& window, const std::function<long double()>& interval) {
    while (lag < 0) {
        if (-lag > kPreciseSeconds) {
            const int quit = window.waitForEvents(static_cast<double>(-lag - kPreciseSeconds));
            lag += interval();
            if (quit >= 0) return quit;
        } else {
            lag += interval();
        }
    }
    return -1;
}

} // namespace vexel
