// Stream compression on 4 MB inputs: payload-like data (smooth stretches,
// repeats of earlier bytes, noise, runs), random bytes and text. Throughput
// is input bytes per second for compression and output bytes per second for
// expansion. BM_CompressPeakMemory reports the most tracked bytes one
// compression call holds, sampled while it runs, against the budget of
// 24 bytes per input byte plus 100 MB.
#include "base/memdiag.h"
#include "base/units.h"
#include "codec/compression.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

struct Units {
    Units() { vexel::initializeBaseUnits(); }
} units;

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kInputBytes = 4u << 20;

Bytes payloadLike(std::size_t n) {
    std::mt19937 random(2024);
    Bytes b;
    b.reserve(n);
    while (b.size() < n) {
        switch (random() % 6) {
        case 0:
        case 1: { // smooth: chroma and luma-like values drifting slowly
            int v = static_cast<int>(random() % 256);
            for (int k = 64 + static_cast<int>(random() % 1024); k > 0; --k) {
                v = std::clamp(v + static_cast<int>(random() % 5) - 2, 0, 255);
                b.push_back(static_cast<std::uint8_t>(v));
            }
            break;
        }
        case 2: // a repeat of something earlier
            if (b.size() > 1000) {
                const std::size_t length = 16 + random() % 2000;
                const std::size_t from = b.size() - 1 - random() % std::min<std::size_t>(b.size() - 1, 1u << 20);
                for (std::size_t k = 0; k < length && from + k < b.size(); ++k) b.push_back(b[from + k]);
            }
            break;
        case 3: // noise
            for (int k = static_cast<int>(random() % 600); k > 0; --k) b.push_back(static_cast<std::uint8_t>(random()));
            break;
        case 4: // runs: keep blocks, flat areas
            b.insert(b.end(), 3 + random() % 200, static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : random()));
            break;
        default: // type bytes and small codes, zeros among them
            for (int k = static_cast<int>(random() % 300); k > 0; --k) b.push_back(static_cast<std::uint8_t>(random() % 4 * 0x55));
            break;
        }
    }
    b.resize(n);
    return b;
}

Bytes randomBytes(std::size_t n) {
    std::mt19937 random(7);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(random());
    return b;
}

Bytes text(std::size_t n) {
    static const char* words[] = {"the ", "of ", "and ", "to ", "in ", "picture ", "frame ", "block ", "stream ",
                                  "gradient ", "detail ", "colour ", "is ", "a ", "with ", "for ", "that ",
                                  "compressed ", "every ", "record.\n", "header, ", "band ", "pixels ", "value "};
    std::mt19937 random(3);
    Bytes b;
    b.reserve(n + 16);
    while (b.size() < n) {
        const char* w = words[random() % (sizeof words / sizeof *words)];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(n);
    return b;
}

const Bytes& input(int kind) {
    static const Bytes inputs[3] = {payloadLike(kInputBytes), randomBytes(kInputBytes), text(kInputBytes)};
    return inputs[kind];
}

const char* kindName(int kind) {
    static const char* names[3] = {"payload-like", "random", "text"};
    return names[kind];
}

void BM_Compress(benchmark::State& state) {
    const Bytes& in = input(static_cast<int>(state.range(0)));
    Bytes out(vexel::compressedBound(in.size()));
    std::size_t length = 0;
    for (auto _ : state) {
        if (vexel::compressStream(in, out, length) != 1) state.SkipWithError("compressStream failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(kindName(static_cast<int>(state.range(0))));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
    state.counters["ratio"] = static_cast<double>(length) / static_cast<double>(in.size());
}
BENCHMARK(BM_Compress)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Decompress(benchmark::State& state) {
    const Bytes& in = input(static_cast<int>(state.range(0)));
    Bytes compressed(vexel::compressedBound(in.size()));
    std::size_t length = 0;
    vexel::compressStream(in, compressed, length);
    compressed.resize(length);
    Bytes out(in.size());
    for (auto _ : state) {
        std::size_t produced = 0;
        if (vexel::decompressStream(compressed, out, produced) != 1 || produced != in.size())
            state.SkipWithError("decompressStream failed");
        benchmark::DoNotOptimize(out.data());
    }
    if (out != in) state.SkipWithError("round trip differs");
    state.SetLabel(kindName(static_cast<int>(state.range(0))));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_Decompress)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Samples the tracked allocator's live bytes every 200 microseconds while a
// compression runs in another thread; every work area of the call comes
// from that allocator.
void BM_CompressPeakMemory(benchmark::State& state) {
    const Bytes& in = input(static_cast<int>(state.range(0)));
    Bytes out(vexel::compressedBound(in.size()));
    std::uint64_t peak = 0;
    for (auto _ : state) {
        const std::uint64_t before = vexel::memStats().liveBytes;
        std::atomic<bool> done{false};
        std::thread worker([&] {
            std::size_t length = 0;
            vexel::compressStream(in, out, length);
            done = true;
        });
        while (!done) {
            peak = std::max(peak, vexel::memStats().liveBytes - before);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        worker.join();
    }
    state.SetLabel(kindName(static_cast<int>(state.range(0))));
    state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
    state.counters["budget_MB"] = (24.0 * static_cast<double>(in.size()) + 100e6) / 1e6;
    state.counters["bytes_per_input_byte"] = static_cast<double>(peak) / static_cast<double>(in.size());
}
BENCHMARK(BM_CompressPeakMemory)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
