#include "base/dlitelnostintervalavremeni.h"

#include "platform/system.h"

namespace vexel {

namespace {
bool intervalFirstUse = true;
long double intervalMark = 0;
} // namespace

long double intervalSeconds() {
    long double now = platform::clockSeconds();
    if (intervalFirstUse) {
        intervalFirstUse = false;
        intervalMark = now;
    }
    long double elapsed = now - intervalMark;
    intervalMark = now;
    return elapsed;
}

long double clockNow() { return platform::clockSeconds(); }

} // namespace vexel
