// The threads of a worker pool and the one mutex and condition variable its
// protocol runs on. A pool derives from this, starts its workers once its
// own members are ready, and stops them first thing in its destructor.
#pragma once

#include "pipeline/codec_state.h"
#include "platform/system.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace vexel {

class PoolThreads : public WorkerPool {
public:
    ~PoolThreads() override { stopAndJoin(); }
    // True when every worker thread started.
    bool complete() const { return threads_.size() == started_; }

protected:
    // Starts n threads running work(i). When one cannot start, those already
    // running are stopped and joined, and complete() is false.
    template <class Work>
    void startThreads(std::uint32_t n, Work work) {
        started_ = n;
        const platform::StopSignalsHeldBack workersIgnoreStops;
        try {
            threads_.reserve(n);
            for (std::uint32_t i = 0; i < n; ++i) threads_.emplace_back([work, i] { work(i); });
        } catch (...) {
            stopAndJoin();
        }
    }

    // Sets the stop flag, wakes every wait and joins.
    void stopAndJoin() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& t : threads_)
            if (t.joinable()) t.join();
        threads_.clear();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;

private:
    std::vector<std::thread> threads_;
    std::uint32_t started_ = 0;
};

} // namespace vexel
