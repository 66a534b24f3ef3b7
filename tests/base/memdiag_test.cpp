#include "base/memdiag.h"
#include "base/operaciispamyatyu.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace vexel {
namespace {

constexpr std::uint64_t kMiB = 1u << 20;

// A private allocator with small arenas, so chain behaviour shows quickly.
struct SmallArenas : ::testing::Test {
    std::recursive_mutex lock;
    TMemoryBlocks blocks{lock, 4 * kMiB};
};

bool allZero(const void* p, std::size_t n) {
    auto* b = static_cast<const std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i)
        if (b[i]) return false;
    return true;
}

TEST_F(SmallArenas, ZeroBytesYieldsNullAndBlocksAreZeroFilledAlsoWhenReused) {
    EXPECT_EQ(blocks.allocate(0), nullptr);
    auto* a = static_cast<std::uint8_t*>(blocks.allocate(1000));
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(allZero(a, 1000));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 16, 0u);
    void* guard = blocks.allocate(16); // keeps a from being the top block
    std::memset(a, 0xAB, 1000);
    blocks.free(a);
    auto* again = static_cast<std::uint8_t*>(blocks.allocate(1000));
    EXPECT_EQ(again, a);
    EXPECT_TRUE(allZero(again, 1000));
    blocks.free(again);
    blocks.free(guard);
}

TEST_F(SmallArenas, FreeingTheTopBlocksInEitherOrderGivesTheBytesBack) {
    void* keep = blocks.allocate(64);
    std::uint64_t before = blocks.stats().arenaBytes;
    void* a = blocks.allocate(100);
    void* b = blocks.allocate(200);
    blocks.free(b);
    blocks.free(a);
    EXPECT_EQ(blocks.stats().arenaBytes, before);

    a = blocks.allocate(100);
    b = blocks.allocate(200);
    blocks.free(a); // a is below b: it stays free until b goes, then both go
    EXPECT_GT(blocks.stats().arenaBytes, before);
    blocks.free(b);
    EXPECT_EQ(blocks.stats().arenaBytes, before);
    blocks.free(keep);
    EXPECT_EQ(blocks.stats().liveBlocks, 0u);
}

TEST_F(SmallArenas, AFreedMiddleBlockServesTheSameSizeAndSmallerOnesButNotLarger) {
    void* a = blocks.allocate(4096);
    void* middle = blocks.allocate(4096);
    void* c = blocks.allocate(4096);
    blocks.free(middle);
    EXPECT_EQ(blocks.allocate(4096), middle);
    blocks.free(middle);
    void* larger = blocks.allocate(8192);
    EXPECT_NE(larger, middle);
    void* smaller = blocks.allocate(1000);
    EXPECT_EQ(smaller, middle); // the freed block is split for a smaller request
    void* rest = blocks.allocate(2000);
    EXPECT_GT(rest, middle);
    EXPECT_LT(rest, c);
    for (void* p : {a, c, larger, smaller, rest}) blocks.free(p);
    EXPECT_EQ(blocks.stats().liveBlocks, 0u);
    EXPECT_EQ(blocks.stats().arenaBytes, 0u);
}

TEST_F(SmallArenas, AdjacentFreeBlocksMergeIntoOneThatServesALargerRequest) {
    void* a = blocks.allocate(1024);
    void* b = blocks.allocate(1024);
    void* c = blocks.allocate(1024);
    void* top = blocks.allocate(16);
    blocks.free(a);
    blocks.free(c);
    blocks.free(b); // a, b and c become one free block of 3072 bytes
    EXPECT_EQ(blocks.allocate(3072), a);
    blocks.free(a);
    blocks.free(top);
    EXPECT_EQ(blocks.stats().arenaBytes, 0u);
}

TEST_F(SmallArenas, UnknownAddressesAndSecondFreesChangeNothing) {
    auto* a = static_cast<std::uint8_t*>(blocks.allocate(256));
    void* b = blocks.allocate(256);
    AllocatorStats before = blocks.stats();
    blocks.free(a + 16);
    int local = 0;
    blocks.free(&local);
    blocks.free(nullptr);
    AllocatorStats after = blocks.stats();
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
    EXPECT_EQ(after.arenaBytes, before.arenaBytes);
    blocks.free(a);
    blocks.free(a);
    EXPECT_EQ(blocks.stats().liveBlocks, 1u);
    blocks.free(b);
}

TEST_F(SmallArenas, ARequestThatDoesNotFitIsServedFromAnotherArena) {
    void* a = blocks.allocate(3 * kMiB);
    void* b = blocks.allocate(3 * kMiB); // does not fit the rest of the first arena
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(blocks.stats().arenas, 2u);
    void* c = blocks.allocate(512 * 1024); // fits the first arena again: the chain is walked
    ASSERT_NE(c, nullptr);
    EXPECT_LT(std::abs(static_cast<std::uint8_t*>(c) - static_cast<std::uint8_t*>(a)), static_cast<long>(4 * kMiB));
    blocks.free(a);
    blocks.free(b);
    blocks.free(c);
    EXPECT_EQ(blocks.stats().arenas, 1u); // an emptied later arena is handed back
}

TEST_F(SmallArenas, ARequestLargerThanAnArenaGetsAnArenaSizedForIt) {
    auto* big = static_cast<std::uint8_t*>(blocks.allocate(10 * kMiB));
    ASSERT_NE(big, nullptr);
    big[10 * kMiB - 1] = 1;
    EXPECT_GE(blocks.stats().reservedBytes, 10 * kMiB);
    blocks.free(big);
    EXPECT_EQ(blocks.stats().liveBlocks, 0u);
}

// An arena's mappings: its blocks and its record with the block table
// (size / 112 + 100 entries of 32 bytes), each rounded up to whole pages.
std::uint64_t arenaMapping(std::uint64_t size) {
    const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t record = 256 + (size / 112 + 100) * sizeof(TMemoryBlocks::BlockEntry);
    return size + (record + page - 1) / page * page;
}

TEST(ArenaFallback, AnArenaTheSystemRefusesIsHalvedAndLaterOnesAreSizedForTheirRequest) {
    std::recursive_mutex lock;
    TMemoryBlocks blocks{lock, 64 * kMiB};
    // 64 and 32 MiB arenas do not fit 40 MiB with their tables; 16 MiB does.
    const std::uint64_t limit = 40 * kMiB;
    ASSERT_GT(arenaMapping(32 * kMiB), limit);
    ASSERT_LE(arenaMapping(16 * kMiB) + arenaMapping(10 * kMiB), limit);
    ASSERT_GT(2 * arenaMapping(16 * kMiB), limit);
    ASSERT_GT(arenaMapping(16 * kMiB) + 2 * arenaMapping(10 * kMiB), limit);
    blocks.setAddressSpaceForTest(limit);

    void* small = blocks.allocate(10);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(blocks.stats().arenas, 1u);
    EXPECT_EQ(blocks.stats().reservedBytes, 16 * kMiB);
    void* most = blocks.allocate(15 * kMiB); // the rest of the first arena
    ASSERT_NE(most, nullptr);
    EXPECT_EQ(blocks.stats().arenas, 1u);
    // Neither 16 nor 8 MiB: a second arena of exactly the 10 MiB asked for.
    auto* ten = static_cast<std::uint8_t*>(blocks.allocate(10 * kMiB));
    ASSERT_NE(ten, nullptr);
    ten[10 * kMiB - 1] = 1;
    EXPECT_EQ(blocks.stats().arenas, 2u);
    // The request, rounded up to whole pages (the sanitizer build frames it in red zones).
    EXPECT_GE(blocks.stats().reservedBytes, 26 * kMiB);
    EXPECT_LE(blocks.stats().reservedBytes, 26 * kMiB + static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)));
    // Not even an arena of its own size can be had for another one.
    EXPECT_EQ(blocks.allocate(10 * kMiB), nullptr);
    EXPECT_EQ(blocks.stats().arenas, 2u);
    // Small requests still fit the room left, and freed arenas make room again.
    void* more = blocks.allocate(1000);
    EXPECT_NE(more, nullptr);
    blocks.free(ten);
    EXPECT_EQ(blocks.stats().arenas, 1u);
    void* again = blocks.allocate(10 * kMiB);
    EXPECT_NE(again, nullptr);
    for (void* p : {small, most, more, again}) blocks.free(p);
    EXPECT_EQ(blocks.stats().liveBlocks, 0u);
}

TEST(ArenaFallback, BelowTheSmallestArenaNothingCanBeHad) {
    std::recursive_mutex lock;
    TMemoryBlocks blocks{lock};
    // The smallest arena's blocks fit, its table does not.
    blocks.setAddressSpaceForTest(TMemoryBlocks::kMinArenaSize);
    EXPECT_EQ(blocks.allocate(10), nullptr); // the start-up check's case
    EXPECT_EQ(blocks.stats().arenas, 0u);
    blocks.setAddressSpaceForTest(arenaMapping(TMemoryBlocks::kMinArenaSize));
    void* p = blocks.allocate(10);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(blocks.stats().reservedBytes, TMemoryBlocks::kMinArenaSize);
    blocks.free(p);
}

TEST(ArenaFallback, WithoutALimitTheFirstArenaHasTheFullSize) {
    std::recursive_mutex lock;
    TMemoryBlocks blocks{lock, 64 * kMiB};
    void* p = blocks.allocate(10);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(blocks.stats().reservedBytes, 64 * kMiB);
    blocks.free(p);
}

TEST_F(SmallArenas, SizesBeyondThirtyTwoBitsDoNotWrap) {
#if defined(VEXEL_ASAN)
    GTEST_SKIP() << "poisoning 5 GiB would write 640 MiB of shadow memory";
#endif
    // 5 GiB of address space; the kernel commits only what is touched.
    std::uint64_t n = 5ull << 30;
    auto* huge = static_cast<std::uint8_t*>(blocks.allocate(n));
    ASSERT_NE(huge, nullptr) << "5 GiB of address space could not be had";
    EXPECT_EQ(blocks.blockSize(huge), n);
    huge[n - 1] = 1; // the last byte lies inside the block
    blocks.free(huge);
    void* small = blocks.allocate(100);
    EXPECT_NE(small, nullptr);
    blocks.free(small);
}

TEST_F(SmallArenas, ThousandsOfFramesWithVaryingBufferSizesKeepMemoryBounded) {
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> size(100 * 1024, 500 * 1024);
    std::uint64_t peak = 0;
    std::vector<void*> frame;
    for (int f = 0; f < 2000; ++f) {
        // A frame holds a few buffers of varying size and a small long-lived one.
        for (int k = 0; k < 3; ++k) frame.push_back(blocks.allocate(size(random)));
        void* lasting = blocks.allocate(64);
        for (void* p : frame) blocks.free(p);
        frame.clear();
        if (f % 2) blocks.free(lasting); // every other frame leaves a small block behind for a while
        else frame.push_back(lasting);
        peak = std::max(peak, blocks.stats().arenaBytes);
    }
    for (void* p : frame) blocks.free(p);
    // Without reuse across sizes, the small blocks left between frames would
    // strand every frame's buffers: gigabytes. With it, a few frames' worth.
    EXPECT_LT(peak, 16 * kMiB);
    EXPECT_EQ(blocks.stats().liveBlocks, 0u);
}

TEST_F(SmallArenas, TheNestingLimitRefusesAllocations) {
    blocks.setNestingForTest(TMemoryBlocks::kNestingLimit);
    EXPECT_EQ(blocks.allocate(16), nullptr);
    blocks.setNestingForTest(TMemoryBlocks::kNestingLimit - 1);
    void* p = blocks.allocate(16);
    EXPECT_NE(p, nullptr);
    blocks.setNestingForTest(0);
    blocks.free(p);
}

// Every block is filled with a byte of its own and read back whole before it
// is freed: two blocks handed out over each other, by a race or a wrong
// split, show as a block that lost its bytes.
TEST_F(SmallArenas, ManyThreadsAllocateAndFreeSafely) {
    struct Block {
        std::uint8_t* p;
        std::size_t n;
        std::uint8_t fill;
    };
    std::atomic<int> damaged{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t, &damaged] {
            std::mt19937 random(static_cast<unsigned>(t));
            std::vector<Block> mine;
            const auto release = [&](const Block& b) {
                if (std::any_of(b.p, b.p + b.n, [&](std::uint8_t v) { return v != b.fill; })) ++damaged;
                blocks.free(b.p);
            };
            for (int i = 0; i < 2000; ++i) {
                auto n = static_cast<std::size_t>(random() % 5000 + 1);
                auto* p = static_cast<std::uint8_t*>(blocks.allocate(n));
                ASSERT_NE(p, nullptr);
                const auto fill = static_cast<std::uint8_t>(1 + (t * 2000 + i) % 255);
                std::memset(p, fill, n);
                mine.push_back({p, n, fill});
                if (mine.size() > 20) {
                    std::size_t k = random() % mine.size();
                    release(mine[k]);
                    mine.erase(mine.begin() + static_cast<long>(k));
                }
            }
            for (const Block& b : mine) release(b);
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(damaged, 0);
    EXPECT_EQ(blocks.stats().liveBlocks, 0u);
}

TEST(ProcessAllocator, CountsLiveBytesAndServesContainers) {
    AllocatorStats before = memStats();
    {
        std::vector<int, TrackedAllocator<int>> numbers;
        for (int i = 0; i < 1000; ++i) numbers.push_back(i);
        EXPECT_GE(memStats().liveBytes, before.liveBytes + 1000 * sizeof(int));
        TrackedBuffer<std::uint16_t> buffer(500);
        ASSERT_EQ(buffer.size(), 500u);
        EXPECT_TRUE(allZero(buffer.data(), 1000));
    }
    EXPECT_EQ(memStats().liveBytes, before.liveBytes);
}

TEST(ProcessAllocator, ATrackedBufferRefusesSizesThatOverflow) {
    TrackedBuffer<std::uint64_t> buffer;
    EXPECT_FALSE(buffer.allocate(std::numeric_limits<std::size_t>::max() / 4));
    EXPECT_TRUE(buffer.empty());
}

#if defined(VEXEL_ASAN)
TEST(ProcessAllocatorDeathTest, AnOverflowInsideAnArenaIsCaught) {
    auto* p = static_cast<volatile std::uint8_t*>(memAllocate(24));
    EXPECT_DEATH(p[24] = 1, "AddressSanitizer");
    memFree(const_cast<std::uint8_t*>(p));
}

TEST(ProcessAllocatorDeathTest, UseAfterFreeInsideAnArenaIsCaught) {
    auto* p = static_cast<volatile std::uint8_t*>(memAllocate(64));
    void* below = memAllocate(64); // p stays inside the arena after its free
    memFree(const_cast<std::uint8_t*>(p));
    EXPECT_DEATH(p[0] = 1, "AddressSanitizer");
    memFree(below);
}
#endif

TEST(MemoryOperations, CopyMovesOverlappingRangesAndEqualCompares) {
    std::uint8_t bytes[32];
    for (int i = 0; i < 32; ++i) bytes[i] = static_cast<std::uint8_t>(i);
    memCopy(bytes + 3, bytes, 20); // forward overlap
    for (int i = 0; i < 20; ++i) EXPECT_EQ(bytes[3 + i], i);
    memCopy(bytes, bytes + 3, 20); // backward overlap
    for (int i = 0; i < 20; ++i) EXPECT_EQ(bytes[i], i);
    EXPECT_TRUE(memEqual(bytes, bytes, 0));
    std::uint8_t other[32];
    memCopy(other, bytes, 32);
    EXPECT_TRUE(memEqual(other, bytes, 32));
    other[31] ^= 1;
    EXPECT_FALSE(memEqual(other, bytes, 32));
    memZero(other, 31);
    EXPECT_TRUE(allZero(other, 31));
}

} // namespace
} // namespace vexel
