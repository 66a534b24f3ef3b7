// Read-ahead cache over one file (unit Tfayloviykesh).
//
// A background reader thread keeps a window of the file in memory ahead of
// the reader, so that the frame records of a video can be read without
// waiting for the disk. The decoding thread positions with seek and takes
// bytes with read; the cache never writes to the file.
//
// The window: buffer start <= read position <= buffer end <= file size, and
// buffer end - buffer start <= capacity. The buffer holds the file bytes
// [buffer start, buffer end) from its first byte. The file size is the one
// seen when the file was opened.
//
// Refill: every 40 ms the reader thread checks how much of the window is
// unread; when less than 4/5 of the capacity is, it moves the window to start
// at the read position and reads the file up to read position + capacity (or
// the end of the file) into a staging buffer, outside the lock, then installs
// it. A refill whose window no longer holds the read position when it is done
// (a seek moved the reader meanwhile) is discarded; one whose disk read comes
// back short leaves the window as it was. One refill runs at a time.
//
// A read that finds its bytes missing waits for a refill in progress, or
// refills the window itself when none is, so a read never waits on a reader
// thread that cannot deliver (no thread, a file that shrank after opening).
//
// Outcomes:
//   create   null only when the object itself cannot be had; otherwise a
//            cache that may be invalid: the file cannot be opened (or is not
//            a regular file), the capacity is below 2, or the 2 x capacity
//            bytes of the buffers are refused. The caller checks valid() and
//            destroys an invalid cache. Without a reader thread (it could not
//            be started, or the options ask for none) the cache still works;
//            reads then refill the window themselves.
//   seek     1; 0 for an invalid cache (the position is then left alone).
//            The position is clamped in place: below 0 becomes 0, beyond the
//            file size becomes the file size. A position inside the window
//            keeps the buffer; any other empties it there.
//   read     the total count of bytes read (every piece together); 0 at
//            once when the read position is at the file size or the length
//            is 0; -1 for an invalid cache, a negative length, or a piece
//            that cannot be read (the file shrank or cannot be read): the
//            pieces before it have been consumed. Reads of more than
//            capacity / 2 bytes go in pieces of capacity / 2. A read is
//            limited to the bytes left before the file size.
//   close    stops the reader thread, closes the file and frees the buffers;
//            the cache is invalid afterwards (destroy without freeing the
//            object). Safe to repeat.
//   destroy  close, then free the object; null does nothing.
//
// Threads: seek and read belong to one decoding thread at a time. close and
// destroy must not run while another thread may still call seek or read, and
// nothing may touch a destroyed cache. The reader thread never takes the
// process-wide lock, so the cache may be destroyed while that lock is held.
#pragma once

#include "base/tstring.h"
#include "platform/files.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace vexel {

class TFayloviyKesh;

struct TFayloviyKeshOptions {
    bool readerThread = true;          // false: no read-ahead; reads refill the window themselves
    std::uint32_t refillPeriodMs = 40; // pause of the reader thread between rounds
    // For tests: runs on the refilling thread right after a refill's disk
    // read, while the cache lock is released.
    void (*afterRefillRead)(TFayloviyKesh& cache, void* context) = nullptr;
    void* hookContext = nullptr;
};

// A snapshot of the window, taken under the lock.
struct TFayloviyKeshWindow {
    std::int64_t bufferStart = 0;
    std::int64_t bufferEnd = 0;
    std::int64_t readPosition = 0;
    std::int64_t fileSize = 0;
};

// Counters since the cache was created.
struct TFayloviyKeshStats {
    std::int64_t pieces = 0;           // pieces copied out by read
    std::int64_t refillsInstalled = 0; // refills that moved the window
    std::int64_t refillsDiscarded = 0; // refills overtaken by a seek
    std::int64_t refillsFailed = 0;    // refills whose disk read came back short or failed
    std::int64_t bytesFromDisk = 0;    // bytes read from the file by installed refills
};

class TFayloviyKesh {
public:
    // The capacity the decompression pipeline reads videos with.
    static constexpr std::int32_t kPipelineCapacity = 2'500'000;

    static TFayloviyKesh* create(const TWideString& path, std::int32_t capacity,
                                 const TFayloviyKeshOptions& options = {});
    static void destroy(TFayloviyKesh* cache);

    bool valid() const;
    int seek(std::int64_t& position);
    std::int64_t read(void* destination, std::int64_t length);
    void close();

    // The file size seen at opening; 0 for an invalid cache.
    std::int64_t fileSize() const;
    std::int32_t capacity() const { return capacity_; }
    bool hasReaderThread() const { return thread_.joinable(); }
    TFayloviyKeshWindow window() const;
    TFayloviyKeshStats stats() const;

private:
    enum class Refill { NotNeeded, Installed, Discarded, Failed };

    TFayloviyKesh() = default;
    ~TFayloviyKesh();
    TFayloviyKesh(const TFayloviyKesh&) = delete;
    TFayloviyKesh& operator=(const TFayloviyKesh&) = delete;

    bool open(const TWideString& path, std::int32_t capacity, const TFayloviyKeshOptions& options);
    // Both run with the lock held; refill releases it for the disk read.
    Refill refill(std::unique_lock<std::mutex>& guard);
    bool waitForBytes(std::unique_lock<std::mutex>& guard, std::int64_t n);
    void endBusy();
    void readerMain();

    mutable std::mutex lock_;                  // guards everything below but the thread
    std::condition_variable changed_;          // a refill ended, the cache went idle or was stopped
    std::condition_variable wake_;             // wakes the reader thread early (stop)
    std::thread thread_;
    platform::File file_;
    std::uint8_t* block_ = nullptr;            // one allocation of 2 x capacity
    std::uint8_t* buffer_ = nullptr;           // the window; null: invalid cache
    std::uint8_t* staging_ = nullptr;          // the other half, filled by a refill
    std::int64_t bufferStart_ = 0;
    std::int64_t bufferEnd_ = 0;
    std::int64_t readPosition_ = 0;
    std::int64_t fileSize_ = 0;
    std::int32_t capacity_ = 0;
    std::int32_t busy_ = 0;                    // reads and refills in progress
    bool refilling_ = false;
    bool stopped_ = false;
    TFayloviyKeshOptions options_;
    TFayloviyKeshStats stats_;
};

} // namespace vexel
