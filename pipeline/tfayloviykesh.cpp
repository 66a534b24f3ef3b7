#include "pipeline/tfayloviykesh.h"

#include "base/memdiag.h"
#include "platform/system.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

namespace vexel {

static_assert(alignof(TFayloviyKesh) <= 16, "tracked blocks are 16-byte aligned");

TFayloviyKesh* TFayloviyKesh::create(const TWideString& path, std::int32_t capacity,
                                     const TFayloviyKeshOptions& options) {
    void* block = memAllocate(sizeof(TFayloviyKesh), sizeof(TFayloviyKesh));
    if (!block) return nullptr;
    auto* cache = new (block) TFayloviyKesh;
    cache->open(path, capacity, options);
    return cache;
}

void TFayloviyKesh::destroy(TFayloviyKesh* cache) {
    if (!cache) return;
    cache->~TFayloviyKesh();
    memFree(cache);
}

TFayloviyKesh::~TFayloviyKesh() { close(); }

bool TFayloviyKesh::open(const TWideString& path, std::int32_t capacity, const TFayloviyKeshOptions& options) {
    options_ = options;
    capacity_ = capacity;
    // Below 2 bytes a read could not be split into pieces of capacity / 2.
    if (capacity < 2) return false;
    if (!file_.open(path.view(), platform::OpenMode::ReadExisting)) return false;
    std::int64_t size = file_.size();
    if (size < 0) {
        file_.close();
        return false;
    }
    // The window and the staging buffer are the two halves of one block.
    block_ = static_cast<std::uint8_t*>(memAllocate(2 * static_cast<std::size_t>(capacity)));
    if (!block_) {
        file_.close();
        return false;
    }
    buffer_ = block_;
    staging_ = block_ + capacity;
    fileSize_ = size;
    if (options.readerThread) {
        try {
            const platform::StopSignalsHeldBack readerIgnoresStops;
            thread_ = std::thread(&TFayloviyKesh::readerMain, this);
        } catch (const std::system_error&) {
            // Reads refill the window themselves.
        }
    }
    return true;
}

void TFayloviyKesh::close() {
    {
        std::unique_lock<std::mutex> guard(lock_);
        assert(!thread_.joinable() || thread_.get_id() != std::this_thread::get_id());
        stopped_ = true;
        wake_.notify_all();
        changed_.notify_all();
        // A refill in flight finishes its disk read and discards its result;
        // a read waiting for bytes gives up.
        changed_.wait(guard, [this] { return busy_ == 0; });
    }
    // The thread's refill takes the lock, so it is joined without it.
    if (thread_.joinable()) thread_.join();
    std::uint8_t* block;
    {
        std::lock_guard<std::mutex> guard(lock_);
        file_.close();
        block = block_;
        block_ = buffer_ = staging_ = nullptr;
        bufferStart_ = bufferEnd_ = readPosition_ = fileSize_ = 0;
    }
    // Freeing takes the process-wide lock, which callers may hold while they
    // take the cache lock: never hold the cache lock for it.
    memFree(block);
}

bool TFayloviyKesh::valid() const {
    std::lock_guard<std::mutex> guard(lock_);
    return buffer_ != nullptr;
}

std::int64_t TFayloviyKesh::fileSize() const {
    std::lock_guard<std::mutex> guard(lock_);
    return fileSize_;
}

TFayloviyKeshWindow TFayloviyKesh::window() const {
    std::lock_guard<std::mutex> guard(lock_);
    return {bufferStart_, bufferEnd_, readPosition_, fileSize_};
}

TFayloviyKeshStats TFayloviyKesh::stats() const {
    std::lock_guard<std::mutex> guard(lock_);
    return stats_;
}

void TFayloviyKesh::endBusy() {
    if (busy_ > 0 && --busy_ == 0) changed_.notify_all();
}

TFayloviyKesh::Refill TFayloviyKesh::refill(std::unique_lock<std::mutex>& guard) {
    if (!buffer_ || stopped_ || refilling_) return Refill::NotNeeded;
    const std::int64_t unread = bufferEnd_ - readPosition_;
    if (unread >= static_cast<std::int64_t>(capacity_) * 4 / 5 || bufferEnd_ >= fileSize_) return Refill::NotNeeded;

    // The new window starts at the read position; its unread bytes move to
    // the front of the staging buffer and the disk supplies the rest. As
    // unread < capacity, the disk read is at least one byte.
    const std::int64_t newStart = readPosition_;
    const std::int64_t newEnd = std::min(readPosition_ + capacity_, fileSize_);
    const std::int64_t from = bufferEnd_;
    std::memcpy(staging_, buffer_ + (readPosition_ - bufferStart_), static_cast<std::size_t>(unread));
    std::uint8_t* target = staging_ + unread;
    refilling_ = true;
    ++busy_;

    guard.unlock();
    // Only the one refill in progress touches the file and the staging buffer.
    bool complete = file_.seek(static_cast<std::uint64_t>(from)) &&
                    file_.readExact(target, static_cast<std::uint64_t>(newEnd - from));
    if (options_.afterRefillRead) options_.afterRefillRead(*this, options_.hookContext);
    guard.lock();

    refilling_ = false;
    Refill outcome;
    if (!complete) {
        ++stats_.refillsFailed;
        outcome = Refill::Failed;
    } else if (stopped_ || readPosition_ < newStart || readPosition_ > newEnd) {
        // A seek moved the reader out of the new window meanwhile; installing
        // it would break start <= read position <= end.
        ++stats_.refillsDiscarded;
        outcome = Refill::Discarded;
    } else {
        // Reads only advance the read position, and a seek that stayed inside
        // the new window leaves it valid: the bytes are the file's either way.
        std::swap(buffer_, staging_);
        bufferStart_ = newStart;
        bufferEnd_ = newEnd;
        ++stats_.refillsInstalled;
        stats_.bytesFromDisk += newEnd - from;
        outcome = Refill::Installed;
    }
    changed_.notify_all();
    endBusy();
    return outcome;
}

bool TFayloviyKesh::waitForBytes(std::unique_lock<std::mutex>& guard, std::int64_t n) {
    while (bufferEnd_ - readPosition_ < n) {
        if (stopped_ || !buffer_) return false;
        if (refilling_) {
            // The refill in progress notifies when it ends, installed or not.
            changed_.wait(guard);
            continue;
        }
        // No refill is coming that we could wait for: do it here. n is at most
        // capacity / 2 and below the bytes left in the file, so the refill
        // rule always lets it run; a short disk read fails the piece.
        Refill outcome = refill(guard);
        if (outcome == Refill::Failed || outcome == Refill::NotNeeded) return false;
    }
    return true;
}

int TFayloviyKesh::seek(std::int64_t& position) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!buffer_ || stopped_) return 0;
    std::int64_t p = std::clamp<std::int64_t>(position, 0, fileSize_);
    position = p;
    if (bufferStart_ <= p && p < bufferEnd_) {
        readPosition_ = p;
    } else {
        // Empty the window at p; the next refill starts there.
        bufferStart_ = bufferEnd_ = readPosition_ = p;
    }
    return 1;
}

std::int64_t TFayloviyKesh::read(void* destination, std::int64_t length) {
    std::unique_lock<std::mutex> guard(lock_);
    if (!buffer_ || stopped_ || length < 0) return -1;
    const std::int64_t n = std::min(length, fileSize_ - readPosition_);
    if (n <= 0) return 0;
    assert(destination);
    auto* out = static_cast<std::uint8_t*>(destination);
    // Pieces of half the window, so that one refill can always hold a piece.
    const std::int64_t half = capacity_ / 2;
    ++busy_;
    std::int64_t total = 0;
    while (total < n) {
        std::int64_t piece = std::min(n - total, half);
        if (!waitForBytes(guard, piece)) {
            endBusy();
            return -1;
        }
        std::memcpy(out + total, buffer_ + (readPosition_ - bufferStart_), static_cast<std::size_t>(piece));
        readPosition_ += piece;
        total += piece;
        ++stats_.pieces;
    }
    endBusy();
    return total;
}

void TFayloviyKesh::readerMain() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!stopped_) {
        refill(guard);
        wake_.wait_for(guard, std::chrono::milliseconds(options_.refillPeriodMs), [this] { return stopped_; });
    }
}

} // namespace vexel
