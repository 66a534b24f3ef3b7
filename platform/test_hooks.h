// Faults and stops that the tests ask for through the environment, at the
// points where they must strike:
//   VEXEL_FULL_DISK_AFTER=n      every write fails with ENOSPC once n bytes
//                                in all have been written by this process;
//   VEXEL_TEST_FAIL_SYNC=1       syncing a file to the disk fails (EIO);
//   VEXEL_TEST_STOP_AT=point[:k] the process stops itself (SIGSTOP) the
//                                (k + 1)-th time it reaches the point (the
//                                first time without :k), so that a test can
//                                wait for the stop and kill or signal it
//                                there. The points: "start" (signals handled,
//                                nothing read yet), "after-record" (a record
//                                is whole in its file), "after-bitmap" (an
//                                unpacked bitmap is whole), "before-rename"
//                                and "after-rename" (a finished output
//                                replacing its target).
// They are compiled only into builds made with VEXEL_TEST_HOOKS, which the
// test builds turn on and the packaged release leaves off: there every
// function below does nothing and no variable is read.
#pragma once

#include <cstdint>

namespace vexel::platform {

#if VEXEL_TEST_HOOKS
void testStopPoint(const char* point);
bool testFullDisk(std::uint64_t bytesToWrite);
bool testFailSync();
#else
inline void testStopPoint(const char*) {}
inline bool testFullDisk(std::uint64_t) { return false; }
inline bool testFailSync() { return false; }
#endif

} // namespace vexel::platform
