#include "pipeline/tfayloviykesh.h"

#include "base/memdiag.h"
#include "platform/system.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace vexel {
namespace {

struct CacheDeleter {
    void operator()(TFayloviyKesh* cache) const { TFayloviyKesh::destroy(cache); }
};
using CachePtr = std::unique_ptr<TFayloviyKesh, CacheDeleter>;

CachePtr openCache(const std::string& path, std::int32_t capacity, TFayloviyKeshOptions options = {}) {
    return CachePtr(TFayloviyKesh::create(TWideString::fromUtf8(path), capacity, options));
}

TFayloviyKeshOptions withoutThread() {
    TFayloviyKeshOptions options;
    options.readerThread = false;
    return options;
}

// Bytes that differ from position to position, so a misplaced copy shows.
std::vector<std::uint8_t> noise(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(n);
    std::mt19937 random(seed);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random() >> 24);
    return bytes;
}

std::string writeNoise(const test::TempDir& dir, std::size_t n, std::vector<std::uint8_t>* content = nullptr) {
    std::string path = dir.file("clip.vx");
    auto bytes = noise(n, static_cast<std::uint32_t>(n));
    EXPECT_TRUE(test::writeFile(path, bytes));
    if (content) *content = std::move(bytes);
    return path;
}

// Runs a step that must not hang; a hang ends the whole test program with a
// message instead of stalling the suite.
void finishesWithin(std::uint32_t ms, const std::function<void()>& step, const char* what) {
    platform::Event done(true);
    std::thread runner([&] {
        step();
        done.set();
    });
    if (!done.waitFor(ms)) {
        std::fprintf(stderr, "HANG: %s did not finish within %u ms\n", what, ms);
        std::_Exit(1);
    }
    runner.join();
}

// Waits for a state; the deadline only guards against a hang.
bool eventually(const std::function<bool()>& condition, std::uint32_t ms = 60'000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void expectSoundWindow(const TFayloviyKesh& cache) {
    TFayloviyKeshWindow w = cache.window();
    EXPECT_LE(0, w.bufferStart);
    EXPECT_LE(w.bufferStart, w.readPosition);
    EXPECT_LE(w.readPosition, w.bufferEnd);
    EXPECT_LE(w.bufferEnd, w.fileSize);
    EXPECT_LE(w.bufferEnd - w.bufferStart, cache.capacity());
}

// Seeks and reads n bytes, checking them against the file's content.
void expectBytesAt(TFayloviyKesh& cache, const std::vector<std::uint8_t>& content, std::int64_t position,
                   std::int64_t n) {
    std::int64_t p = position;
    ASSERT_EQ(cache.seek(p), 1);
    ASSERT_EQ(p, position);
    std::vector<std::uint8_t> got(static_cast<std::size_t>(n));
    ASSERT_EQ(cache.read(got.data(), n), n);
    ASSERT_TRUE(std::equal(got.begin(), got.end(), content.begin() + position)) << "at " << position;
}

TEST(FileCacheReads, AThreeMillionByteReadWithTwoAndAHalfMillionCapacityGoesInThreePieces) {
    test::TempDir dir;
    std::vector<std::uint8_t> content;
    std::string path = writeNoise(dir, 3'200'000, &content);
    auto cache = openCache(path, TFayloviyKesh::kPipelineCapacity, withoutThread());
    ASSERT_TRUE(cache->valid());
    std::vector<std::uint8_t> got(3'000'000);
    ASSERT_EQ(cache->read(got.data(), 3'000'000), 3'000'000); // the total, not the last piece
    EXPECT_TRUE(std::equal(got.begin(), got.end(), content.begin()));
    TFayloviyKeshStats stats = cache->stats();
    EXPECT_EQ(stats.pieces, 3);
    // 1,250,000 + 1,250,000 come from the first window; the 500,000 left
    // need a window starting at 2,500,000.
    EXPECT_EQ(stats.refillsInstalled, 2);
    TFayloviyKeshWindow w = cache->window();
    EXPECT_EQ(w.bufferStart, 2'500'000);
    EXPECT_EQ(w.bufferEnd, 3'200'000);
    EXPECT_EQ(w.readPosition, 3'000'000);
}

TEST(FileCacheReads, TheReaderThreadDeliversSplitReadsToo) {
    test::TempDir dir;
    std::vector<std::uint8_t> content;
    std::string path = writeNoise(dir, 3'000'000, &content);
    auto cache = openCache(path, TFayloviyKesh::kPipelineCapacity);
    ASSERT_TRUE(cache->valid());
    EXPECT_TRUE(cache->hasReaderThread());
    EXPECT_EQ(cache->fileSize(), 3'000'000);
    std::vector<std::uint8_t> got(3'000'000);
    ASSERT_EQ(cache->read(got.data(), 3'000'000), 3'000'000);
    EXPECT_EQ(got, content);
    EXPECT_EQ(cache->stats().pieces, 3);
}

TEST(FileCacheReads, AReadIsLimitedToTheBytesLeftAndReturnsZeroAtTheEnd) {
    test::TempDir dir;
    std::vector<std::uint8_t> content;
    std::string path = writeNoise(dir, 10'000, &content);
    auto cache = openCache(path, 4096, withoutThread());
    std::vector<std::uint8_t> got(1000, 0xEE);
    std::int64_t p = 9990;
    ASSERT_EQ(cache->seek(p), 1);
    ASSERT_EQ(cache->read(got.data(), 1000), 10);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 10, content.begin() + 9990));
    EXPECT_EQ(got[10], 0xEE);
    EXPECT_EQ(cache->read(got.data(), 1000), 0);
    EXPECT_EQ(cache->read(got.data(), 0), 0);
    EXPECT_EQ(cache->read(got.data(), -1), -1);
}

TEST(FileCacheReads, AnEmptyFileMakesAValidCacheThatReadsNothing) {
    test::TempDir dir;
    std::string path = dir.file("empty.vx");
    ASSERT_TRUE(test::writeFile(path, {}));
    auto cache = openCache(path, 4096);
    ASSERT_TRUE(cache->valid());
    std::int64_t p = 17;
    EXPECT_EQ(cache->seek(p), 1);
    EXPECT_EQ(p, 0);
    std::uint8_t byte = 0;
    EXPECT_EQ(cache->read(&byte, 1), 0);
}

TEST(FileCacheSeek, ASeekInsideTheWindowKeepsTheBufferAndOneOutsideEmptiesIt) {
    test::TempDir dir;
    std::vector<std::uint8_t> content;
    std::string path = writeNoise(dir, 100'000, &content);
    auto cache = openCache(path, 10'000, withoutThread());
    expectBytesAt(*cache, content, 0, 100);
    TFayloviyKeshWindow w = cache->window();
    EXPECT_EQ(w.bufferStart, 0);
    EXPECT_EQ(w.bufferEnd, 10'000);

    expectBytesAt(*cache, content, 9'000, 500);
    w = cache->window();
    EXPECT_EQ(w.bufferStart, 0);
    EXPECT_EQ(w.bufferEnd, 10'000);
    EXPECT_EQ(w.readPosition, 9'500);
    EXPECT_EQ(cache->stats().refillsInstalled, 1);

    std::int64_t p = 50'000;
    ASSERT_EQ(cache->seek(p), 1);
    w = cache->window();
    EXPECT_EQ(w.bufferStart, 50'000);
    EXPECT_EQ(w.bufferEnd, 50'000);
    EXPECT_EQ(w.readPosition, 50'000);
    expectBytesAt(*cache, content, 50'000, 5'000);

    // The end of the window is outside it.
    p = 60'000;
    ASSERT_EQ(cache->seek(p), 1);
    EXPECT_EQ(cache->window().bufferStart, 60'000);
    expectSoundWindow(*cache);
}

TEST(FileCacheSeek, PositionsAreClampedInPlaceAndAReadAtTheSizeReturnsZeroAtOnce) {
    test::TempDir dir;
    std::vector<std::uint8_t> content;
    std::string path = writeNoise(dir, 5'000, &content);
    for (bool thread : {false, true}) {
        TFayloviyKeshOptions options;
        options.readerThread = thread;
        auto cache = openCache(path, 4096, options);
        std::int64_t p = -5;
        ASSERT_EQ(cache->seek(p), 1);
        EXPECT_EQ(p, 0);
        p = 5'001;
        ASSERT_EQ(cache->seek(p), 1);
        EXPECT_EQ(p, 5'000);
        std::uint8_t byte = 0;
        std::int64_t refillsBefore = cache->stats().refillsInstalled + cache->stats().refillsFailed;
        EXPECT_EQ(cache->read(&byte, 1), 0);
        EXPECT_EQ(cache->stats().refillsInstalled + cache->stats().refillsFailed, refillsBefore);
        p = INT64_MIN;
        ASSERT_EQ(cache->seek(p), 1);
        EXPECT_EQ(p, 0);
        expectBytesAt(*cache, content, 0, 1);
    }
}

TEST(FileCacheReadAhead, TheThreadFillsTheWindowAndRefillsOnceAFifthIsConsumed) {
    test::TempDir dir;
    std::vector<std::uint8_t> content;
    std::string path = writeNoise(dir, 3'000'000, &content);
    auto cache = openCache(path, 1'000'000);
    ASSERT_TRUE(eventually([&] { return cache->window().bufferEnd == 1'000'000; }));
    std::vector<std::uint8_t> got(200'000);
    ASSERT_EQ(cache->read(got.data(), 100'000), 100'000);
    // 900,000 unread: at least 4/5 of the window, so it stays. The pause only
    // gives a wrong refill the chance to show; a right cache passes however
    // long the thread takes.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(cache->window().bufferStart, 0);
    EXPECT_EQ(cache->stats().refillsInstalled, 1);
    ASSERT_EQ(cache->read(got.data(), 150'000), 150'000);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 150'000, content.begin() + 100'000));
    // 750,000 unread: the thread moves the window to the read position.
    ASSERT_TRUE(eventually([&] { return cache->window().bufferStart == 250'000; }));
    EXPECT_EQ(cache->window().bufferEnd, 1'250'000);
    expectBytesAt(*cache, content, 250'000, 500'000);
}

// A seek made by the test while the reader thread's refill reads the disk.
struct SeekDuringRefill {
    std::atomic<int> calls{0};
    int onCall = 2;
    std::int64_t seekTo = 0;
    static void hook(TFayloviyKesh& cache, void* context) {
        auto* self = static_cast<SeekDuringRefill*>(context);
        if (++self->calls == self->onCall) {
            std::int64_t p = self->seekTo;
            cache.seek(p);
        }
    }
};

TEST(FileCacheConcurrency, ARefillOvertakenBySeekNeverBreaksTheWindow) {
    test::TempDir dir;
    std::vector<std::uint8_t> content;
    std::string path = writeNoise(dir, 10'000, &content);
    struct Case {
        std::int64_t seekTo;
        bool installed;
        TFayloviyKeshWindow after;
    };
    // The second refill reads [1000, 1300) for the window [300, 1300).
    const Case cases[] = {
        {100, false, {0, 1000, 100, 10'000}},      // back inside the old window, before the new one
        {1200, true, {300, 1300, 1200, 10'000}},   // outside the old window, inside the new one
        {5000, false, {5000, 5000, 5000, 10'000}}, // far away
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seekTo);
        SeekDuringRefill seeker;
        seeker.seekTo = c.seekTo;
        TFayloviyKeshOptions options;
        options.afterRefillRead = &SeekDuringRefill::hook;
        options.hookContext = &seeker;
        auto cache = openCache(path, 1000, options);
        ASSERT_TRUE(eventually([&] { return cache->stats().refillsInstalled == 1; }));
        std::vector<std::uint8_t> got(300);
        ASSERT_EQ(cache->read(got.data(), 300), 300);
        ASSERT_TRUE(eventually([&] { return seeker.calls >= 2; }));
        TFayloviyKeshStats stats;
        ASSERT_TRUE(eventually([&] {
            stats = cache->stats();
            return stats.refillsInstalled + stats.refillsDiscarded >= 2;
        }));
        EXPECT_EQ(stats.refillsDiscarded, c.installed ? 0 : 1);
        TFayloviyKeshWindow w = cache->window();
        // A later round may already have refilled after the second one; the
        // read position is what the seek left either way.
        EXPECT_EQ(w.readPosition, c.after.readPosition);
        stats = cache->stats();
        if (stats.refillsInstalled + stats.refillsDiscarded == 2) {
            EXPECT_EQ(w.bufferStart, c.after.bufferStart);
            EXPECT_EQ(w.bufferEnd, c.after.bufferEnd);
        }
        expectSoundWindow(*cache);
        std::vector<std::uint8_t> next(100);
        ASSERT_EQ(cache->read(next.data(), 100), 100);
        EXPECT_TRUE(std::equal(next.begin(), next.end(), content.begin() + c.seekTo));
    }
}

// Makes the reader thread's refills overlap the walk's seeks, whatever the
// machine's speed: a refill whose disk read is done waits for the walk's next
// seek (or read), and the walk, when a refill is due, waits until one is in
// flight (or is no longer due) before it seeks.
struct RaceDriver {
    std::atomic<int> seeks{0};
    std::atomic<bool> reading{false};
    std::atomic<bool> inFlight{false};
    std::atomic<bool> finished{false};
    int overlapping = 0; // seeks made while a refill was in flight

    static void hook(TFayloviyKesh&, void* context) {
        auto* self = static_cast<RaceDriver*>(context);
        int before = self->seeks;
        self->inFlight = true;
        while (self->seeks == before && !self->reading && !self->finished) std::this_thread::yield();
        self->inFlight = false;
    }

    void beforeSeek(const TFayloviyKesh& cache) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!inFlight) {
            const TFayloviyKeshWindow w = cache.window();
            if (w.bufferEnd - w.readPosition >= cache.capacity() * 4 / 5 || w.bufferEnd >= w.fileSize) return;
            if (std::chrono::steady_clock::now() > until) {
                ADD_FAILURE() << "a refill was due for a minute and none started";
                return;
            }
            std::this_thread::yield();
        }
        ++overlapping;
    }
};

// Random seeks (near and far, inside and outside the window) and reads of
// random sizes, split ones included, against the file's bytes.
void randomWalk(TFayloviyKesh& cache, const std::vector<std::uint8_t>& content, std::uint32_t seed, int steps,
                RaceDriver* race = nullptr) {
    std::mt19937 random(seed);
    const std::int64_t size = static_cast<std::int64_t>(content.size());
    const std::int64_t capacity = cache.capacity();
    std::vector<std::uint8_t> got(static_cast<std::size_t>(2 * capacity));
    std::int64_t position = 0;
    for (int step = 0; step < steps; ++step) {
        // One step in four reads on from where the last read ended.
        if (random() % 4 != 3) {
            switch (random() % 3) {
            case 0: position = static_cast<std::int64_t>(random() % (content.size() + 10)) - 5; break;
            case 1: position += static_cast<std::int64_t>(random() % (2 * capacity)) - capacity; break;
            default: position += static_cast<std::int64_t>(random() % 64); break;
            }
            if (race) race->beforeSeek(cache);
            ASSERT_EQ(cache.seek(position), 1);
            if (race) ++race->seeks;
            ASSERT_GE(position, 0);
            ASSERT_LE(position, size);
        }
        std::int64_t n = static_cast<std::int64_t>(random() % (random() % 8 == 0 ? 2 * capacity : capacity / 3 + 1));
        std::int64_t expected = std::min(n, size - position);
        if (race) race->reading = true;
        std::int64_t count = cache.read(got.data(), n);
        if (race) race->reading = false;
        ASSERT_EQ(count, expected) << "step " << step;
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + expected, content.begin() + position)) << "step " << step;
        position += expected;
        TFayloviyKeshWindow w = cache.window();
        ASSERT_EQ(w.readPosition, position);
        ASSERT_TRUE(w.bufferStart <= w.readPosition && w.readPosition <= w.bufferEnd && w.bufferEnd <= w.fileSize &&
                    w.bufferEnd - w.bufferStart <= capacity)
            << w.bufferStart << " " << w.readPosition << " " << w.bufferEnd;
    }
}

TEST(FileCacheConcurrency, RandomSeeksAndReadsReturnTheFileBytesWhileTheThreadRefills) {
    test::TempDir dir;
    std::vector<std::uint8_t> content;
    std::string path = writeNoise(dir, 4 << 20, &content);
    for (std::uint32_t period : {1u, 40u}) {
        SCOPED_TRACE(period);
        TFayloviyKeshOptions options;
        options.refillPeriodMs = period;
        auto cache = openCache(path, 65'536, options);
        ASSERT_TRUE(cache->valid());
        randomWalk(*cache, content, period + 7, 3000);
    }
    auto cache = openCache(path, 65'536, withoutThread());
    randomWalk(*cache, content, 99, 3000);
}

TEST(FileCacheConcurrency, SeeksThatLandWhileRefillsReadTheDiskKeepTheBytesRight) {
    test::TempDir dir;
    std::vector<std::uint8_t> content;
    std::string path = writeNoise(dir, 2 << 20, &content);
    RaceDriver race;
    TFayloviyKeshOptions options;
    options.refillPeriodMs = 0;
    options.afterRefillRead = &RaceDriver::hook;
    options.hookContext = &race;
    auto cache = openCache(path, 16'384, options);
    randomWalk(*cache, content, 3, 3000, &race);
    race.finished = true;
    TFayloviyKeshStats stats = cache->stats();
    // The race was run: seeks landed while refills were in flight (about 1650
    // of the 3000 steps), and many moved the reader out of the refill's
    // window (about 690 discarded refills). The handshake, not the machine's
    // speed, sets these counts; the bounds leave room for the walk's own
    // refills.
    EXPECT_GT(race.overlapping, 100);
    EXPECT_GT(stats.refillsDiscarded, 20);
}

TEST(FileCacheConcurrency, AWholeFileReadsBackInRandomPiecesWithReadAhead) {
    test::TempDir dir;
    std::vector<std::uint8_t> content;
    std::string path = writeNoise(dir, 6 << 20, &content);
    TFayloviyKeshOptions options;
    options.refillPeriodMs = 1;
    auto cache = openCache(path, 1 << 20, options);
    std::vector<std::uint8_t> got(content.size());
    std::mt19937 random(5);
    std::int64_t done = 0;
    while (done < static_cast<std::int64_t>(got.size())) {
        std::int64_t n = 1 + random() % 700'000;
        std::int64_t r = cache->read(got.data() + done, std::min<std::int64_t>(n, got.size() - done));
        ASSERT_GT(r, 0);
        done += r;
    }
    EXPECT_EQ(got, content);
}

TEST(FileCacheDestroy, DestroyWhileTheThreadReadsTheDiskDoesNotDeadlock) {
    test::TempDir dir;
    std::string path = writeNoise(dir, 100'000);
    struct Slow {
        platform::Event inFlight{true};
        static void hook(TFayloviyKesh&, void* context) {
            static_cast<Slow*>(context)->inFlight.set();
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    } slow;
    TFayloviyKeshOptions options;
    options.afterRefillRead = &Slow::hook;
    options.hookContext = &slow;
    TFayloviyKesh* cache = TFayloviyKesh::create(TWideString::fromUtf8(path), 10'000, options);
    ASSERT_TRUE(slow.inFlight.waitFor(60'000));
    // The frame loop destroys the cache under the process-wide lock.
    finishesWithin(60'000, [&] {
        std::lock_guard<std::recursive_mutex> global(globalLock());
        TFayloviyKesh::destroy(cache);
    }, "destroy during a refill");
}

TEST(FileCacheDestroy, CloseLeavesAnInvalidCacheAndMayBeRepeated) {
    test::TempDir dir;
    std::string path = writeNoise(dir, 100'000);
    auto cache = openCache(path, 10'000);
    ASSERT_TRUE(cache->valid());
    cache->close();
    cache->close();
    EXPECT_FALSE(cache->valid());
    EXPECT_FALSE(cache->hasReaderThread());
    std::int64_t p = 5;
    EXPECT_EQ(cache->seek(p), 0);
    std::uint8_t byte;
    EXPECT_EQ(cache->read(&byte, 1), -1);
}

TEST(FileCacheFailures, AFileThatShrinksAfterOpeningFailsReadsInsteadOfHanging) {
    for (bool thread : {false, true}) {
        SCOPED_TRACE(thread);
        test::TempDir dir;
        std::vector<std::uint8_t> content;
        std::string path = writeNoise(dir, 1'000'000, &content);
        TFayloviyKeshOptions options;
        options.readerThread = thread;
        auto cache = openCache(path, 65'536, options);
        expectBytesAt(*cache, content, 0, 1000);
        std::filesystem::resize_file(path, 100'000);
        std::vector<std::uint8_t> got(40'000);
        finishesWithin(60'000, [&] {
            std::int64_t p = 500'000;
            EXPECT_EQ(cache->seek(p), 1); // the size seen at opening still counts
            EXPECT_EQ(cache->read(got.data(), 1000), -1);
            p = 90'000; // a read across the new end
            EXPECT_EQ(cache->seek(p), 1);
            EXPECT_EQ(cache->read(got.data(), 20'000), -1);
        }, "a read past a shrunken file");
        EXPECT_GE(cache->stats().refillsFailed, 2);
        expectSoundWindow(*cache);
        // What is still in the file reads as before.
        expectBytesAt(*cache, content, 10'000, 30'000);
    }
}

TEST(FileCacheFailures, AnInvalidCacheFailsEveryOperation) {
    test::TempDir dir;
    std::string file = writeNoise(dir, 1000);
    struct Case {
        std::string path;
        std::int32_t capacity;
    };
    const Case cases[] = {{dir.file("missing.vx"), 4096}, {dir.path(), 4096}, {file, 1}, {file, 0}, {file, -5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.capacity));
        auto cache = openCache(c.path, c.capacity);
        ASSERT_NE(cache, nullptr);
        EXPECT_FALSE(cache->valid());
        EXPECT_FALSE(cache->hasReaderThread());
        EXPECT_EQ(cache->fileSize(), 0);
        std::int64_t p = -3;
        EXPECT_EQ(cache->seek(p), 0);
        EXPECT_EQ(p, -3);
        std::uint8_t byte = 0;
        EXPECT_EQ(cache->read(&byte, 1), -1);
        EXPECT_EQ(cache->read(&byte, 0), -1);
    }
    TFayloviyKesh::destroy(nullptr);
}

} // namespace
} // namespace vexel
