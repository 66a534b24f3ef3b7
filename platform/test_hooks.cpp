#include "platform/test_hooks.h"

#if VEXEL_TEST_HOOKS

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace vexel::platform {
namespace {

std::atomic<std::int64_t> bytesBeforeFullDisk{[] {
    const char* after = std::getenv("VEXEL_FULL_DISK_AFTER");
    return after && *after ? std::strtoll(after, nullptr, 10) : std::int64_t{-1};
}()};

struct StopRequest {
    std::string point;   // empty: no stop asked for
    std::int64_t k = 0;  // stop when the point is reached the (k + 1)-th time
    std::int64_t reached = 0;
};

StopRequest& stopRequest() {
    static StopRequest request = [] {
        StopRequest r;
        const char* at = std::getenv("VEXEL_TEST_STOP_AT");
        if (!at || !*at) return r;
        const char* colon = std::strchr(at, ':');
        r.point.assign(at, colon ? static_cast<std::size_t>(colon - at) : std::strlen(at));
        if (colon) r.k = std::strtoll(colon + 1, nullptr, 10);
        return r;
    }();
    return request;
}

std::mutex stopLock;

std::atomic<std::int32_t> failingStream{-1};
std::atomic<StreamFault> failingStage{StreamFault::Encode};

} // namespace

void failStreamForTest(std::int32_t streamIndex, StreamFault stage) {
    failingStage = stage;
    failingStream = streamIndex;
}

bool testStreamFails(std::uint32_t streamIndex, StreamFault stage) {
    return static_cast<std::int32_t>(streamIndex) == failingStream.load() && failingStage.load() == stage;
}

void testStopPoint(const char* point) {
    std::lock_guard<std::mutex> guard(stopLock);
    StopRequest& r = stopRequest();
    if (r.point.empty() || r.point != point) return;
    if (r.reached++ == r.k) raise(SIGSTOP);
}

bool testFullDisk(std::uint64_t n) {
    if (bytesBeforeFullDisk.load(std::memory_order_relaxed) < 0) return false;
    if (bytesBeforeFullDisk.fetch_sub(static_cast<std::int64_t>(n)) >= static_cast<std::int64_t>(n)) return false;
    bytesBeforeFullDisk = 0;
    return true;
}

bool testFailSync() {
    static const bool fail = [] {
        const char* v = std::getenv("VEXEL_TEST_FAIL_SYNC");
        return v && *v && std::strcmp(v, "0") != 0;
    }();
    return fail;
}

// Read at every new file (a few per run), so that a test can switch it.
bool testNoUnnamedFiles() {
    const char* v = std::getenv("VEXEL_TEST_NO_UNNAMED_FILES");
    return v && *v && std::strcmp(v, "0") != 0;
}

} // namespace vexel::platform

#endif
