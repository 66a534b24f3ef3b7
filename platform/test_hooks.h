// Faults and stops that the tests ask for through the environment, at the
// points where they must strike:
//   VEXEL_FULL_DISK_AFTER=n      every write fails with ENOSPC once n bytes
//                                in all have been written by this process;
//   VEXEL_TEST_FAIL_SYNC=1       syncing a file to the disk fails (EIO);
//   VEXEL_TEST_NO_UNNAMED_FILES=1 new files are made under a hidden name,
//                                as on a file system without unnamed files;
//   VEXEL_TEST_STOP_AT=point[:k] the process stops itself (SIGSTOP) the
//                                (k + 1)-th time it reaches the point (the
//                                first time without :k), so that a test can
//                                wait for the stop and kill or signal it
//                                there. The points: "start" (signals handled,
//                                nothing read yet), "after-record" (a record
//                                is whole in its file), "before-link" (a new
//                                file is whole and about to get a free name:
//                                a bitmap, or a .vx where there was none),
//                                "after-bitmap" (an unpacked bitmap has its
//                                name), "before-rename" and "after-rename"
//                                (a finished output replacing its target).
// and, asked for by the unit tests themselves, a stream of a record that
// fails on purpose at one stage of packing or unpacking.
// They are compiled only into builds made with VEXEL_TEST_HOOKS, which the
// test builds turn on and the packaged release leaves off: there every
// function below does nothing and no variable is read.
#pragma once

#include <cstdint>

namespace vexel::platform {

// Where a stream fails: while it is packed (as if a working buffer could
// not be had), while it is written (as if the disk were full), or while it
// is unpacked (its work area cannot be had, it does not parse, a renderer
// fails while it draws).
enum class StreamFault : std::uint8_t { Encode, Write, Allocate, Parse, Draw };

#if VEXEL_TEST_HOOKS
void testStopPoint(const char* point);
bool testFullDisk(std::uint64_t bytesToWrite);
bool testFailSync();
bool testNoUnnamedFiles();
// Makes the stream with this index (0 for a single stream, else 1..n) fail
// at one stage from now on; -1 for none.
void failStreamForTest(std::int32_t streamIndex, StreamFault stage);
bool testStreamFails(std::uint32_t streamIndex, StreamFault stage);
#else
inline void testStopPoint(const char*) {}
inline bool testFullDisk(std::uint64_t) { return false; }
inline bool testFailSync() { return false; }
inline bool testNoUnnamedFiles() { return false; }
inline void failStreamForTest(std::int32_t, StreamFault) {}
inline bool testStreamFails(std::uint32_t, StreamFault) { return false; }
#endif

} // namespace vexel::platform
