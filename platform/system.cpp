#include "platform/system.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace vexel::platform {

long double clockSeconds() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<long double>(now).count();
}

void sleepMilliseconds(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::uint64_t physicalMemoryBytes() {
    long pages = sysconf(_SC_PHYS_PAGES);
    long page = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
}

namespace {

volatile std::sig_atomic_t recordedSignal = 0;

extern "C" void recordStopSignal(int signal) { recordedSignal = signal; }

} // namespace

void installStopSignals() {
    struct sigaction action = {};
    action.sa_handler = recordStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int stopSignal() { return recordedSignal; }

void clearStopSignal() { recordedSignal = 0; }

StopSignalsHeldBack::StopSignalsHeldBack() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, &old_);
}

StopSignalsHeldBack::~StopSignalsHeldBack() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

void Event::set() {
    std::lock_guard<std::mutex> guard(mutex_);
    set_ = true;
    if (manual_) changed_.notify_all();
    else changed_.notify_one();
}

void Event::reset() {
    std::lock_guard<std::mutex> guard(mutex_);
    set_ = false;
}

void Event::wait() {
    std::unique_lock<std::mutex> guard(mutex_);
    changed_.wait(guard, [this] { return set_; });
    if (!manual_) set_ = false;
}

bool Event::waitFor(std::uint32_t ms) {
    std::unique_lock<std::mutex> guard(mutex_);
    if (!changed_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return set_; })) return false;
    if (!manual_) set_ = false;
    return true;
}

bool Event::isSet() {
    std::lock_guard<std::mutex> guard(mutex_);
    return set_;
}

} // namespace vexel::platform
