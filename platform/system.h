// Clock, sleep, memory size, events and locks of the system.
#pragma once

#include <signal.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vexel::platform {

using RecursiveLock = std::recursive_mutex;

// Seconds on a monotonic clock.
long double clockSeconds();
void sleepMilliseconds(std::uint32_t ms);
// Total physical memory in bytes.
std::uint64_t physicalMemoryBytes();

// SIGINT and SIGTERM: the one place the program handles them. After
// installStopSignals, either signal only records itself (system calls that
// it interrupts restart); the work in progress asks stopSignal() at its
// safe points and ends the run: a viewer like a close, a run that writes
// files after the frame in progress.
void installStopSignals();
// The signal that asked the run to stop, or 0.
int stopSignal();
// Forgets a recorded signal (tests).
void clearStopSignal();

// Keeps SIGINT and SIGTERM away from the calling thread while it lives, and
// from every thread started meanwhile (they inherit the mask): worker
// threads are started under one, so that a stop signal always reaches the
// thread that runs the frame loop, which sees it at once rather than after
// one more frame.
class StopSignalsHeldBack {
public:
    StopSignalsHeldBack();
    ~StopSignalsHeldBack();
    StopSignalsHeldBack(const StopSignalsHeldBack&) = delete;
    StopSignalsHeldBack& operator=(const StopSignalsHeldBack&) = delete;

private:
    sigset_t old_; // the thread's signal mask before
};

// An event as a mutex and a condition variable: manual-reset events stay
// set until reset; auto-reset events let exactly one wait through per set.
class Event {
public:
    explicit Event(bool manualReset, bool initiallySet = false) : manual_(manualReset), set_(initiallySet) {}
    void set();
    void reset();
    void wait();
    // False when the time ran out first.
    bool waitFor(std::uint32_t ms);
    bool isSet();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool manual_;
    bool set_;
};

} // namespace vexel::platform
