// Allocator and string benchmarks: frame-sized blocks and appending text.
#include "base/memdiag.h"
#include "base/tstring.h"
#include "base/units.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

struct Units {
    Units() { vexel::initializeBaseUnits(); }
} units;

// One 1920 x 1080 frame's buffers: three padded planes and a payload buffer.
void BM_FrameBlocksAllocateFree(benchmark::State& state) {
    const std::size_t plane = (1920 + 32) * (1080 + 32);
    for (auto _ : state) {
        void* planes = vexel::memAllocate(3 * plane);
        void* payload = vexel::memAllocate(9 * 32400 + 1920 * 1080 + 2 * 129600 + 1000);
        benchmark::DoNotOptimize(planes);
        benchmark::DoNotOptimize(payload);
        vexel::memFree(payload);
        vexel::memFree(planes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(3 * plane));
}
BENCHMARK(BM_FrameBlocksAllocateFree);

// The same with a small block kept between frames, so the frame's blocks
// are reused from the middle of the arena instead of the top.
void BM_FrameBlocksWithKeptBlock(benchmark::State& state) {
    const std::size_t plane = (1920 + 32) * (1080 + 32);
    void* kept = nullptr;
    for (auto _ : state) {
        void* planes = vexel::memAllocate(3 * plane + static_cast<std::size_t>(std::rand() % 4096));
        void* next = vexel::memAllocate(64);
        vexel::memFree(kept);
        kept = next;
        benchmark::DoNotOptimize(planes);
        vexel::memFree(planes);
    }
    vexel::memFree(kept);
}
BENCHMARK(BM_FrameBlocksWithKeptBlock);

// A frame whose planes are written every time: the zero fill on reuse and
// the page faults after pages were handed back are part of the cost.
void BM_FrameBlocksTouched(benchmark::State& state) {
    const std::size_t size = 3 * (1920 + 32) * (1080 + 32);
    void* kept = nullptr;
    for (auto _ : state) {
        auto* planes = static_cast<unsigned char*>(vexel::memAllocate(size));
        void* next = vexel::memAllocate(64);
        vexel::memFree(kept);
        kept = next;
        for (std::size_t i = 0; i < size; i += 4096) planes[i] = 1;
        benchmark::DoNotOptimize(planes);
        vexel::memFree(planes);
    }
    vexel::memFree(kept);
}
BENCHMARK(BM_FrameBlocksTouched);

// calloc of the same frame, written the same way, for comparison.
void BM_FrameBlocksTouchedCalloc(benchmark::State& state) {
    const std::size_t size = 3 * (1920 + 32) * (1080 + 32);
    for (auto _ : state) {
        auto* planes = static_cast<unsigned char*>(std::calloc(1, size));
        for (std::size_t i = 0; i < size; i += 4096) planes[i] = 1;
        benchmark::DoNotOptimize(planes);
        std::free(planes);
    }
}
BENCHMARK(BM_FrameBlocksTouchedCalloc);

// malloc + memset of the same frame, for comparison.
void BM_FrameBlocksMallocBaseline(benchmark::State& state) {
    const std::size_t plane = (1920 + 32) * (1080 + 32);
    for (auto _ : state) {
        void* planes = std::calloc(1, 3 * plane);
        benchmark::DoNotOptimize(planes);
        std::free(planes);
    }
}
BENCHMARK(BM_FrameBlocksMallocBaseline);

void BM_SmallBlocks(benchmark::State& state) {
    void* blocks[64];
    for (auto _ : state) {
        for (auto& b : blocks) b = vexel::memAllocate(48);
        for (int i = 63; i >= 0; --i) vexel::memFree(blocks[i]);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 64);
}
BENCHMARK(BM_SmallBlocks);

void BM_StringAppendCharacters(benchmark::State& state) {
    const vexel::TWideString c(u'x');
    for (auto _ : state) {
        vexel::TWideString s;
        for (int i = 0; i < state.range(0); ++i) s += c;
        benchmark::DoNotOptimize(s.text());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_StringAppendCharacters)->Arg(100)->Arg(10000);

void BM_StringCopyShared(benchmark::State& state) {
    vexel::TWideString s(u"frame_000001.bmp");
    for (auto _ : state) {
        vexel::TWideString copy = s;
        benchmark::DoNotOptimize(copy.text());
    }
}
BENCHMARK(BM_StringCopyShared);

} // namespace
