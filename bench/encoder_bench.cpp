// Encoding one 1920 x 1080 frame (block analysis and payload) on one thread.
#include "base/memdiag.h"
#include "base/units.h"
#include "codec/frame_encoder.h"
#include "codec/payload_writer.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

namespace {

struct Units {
    Units() { vexel::initializeBaseUnits(); }
} units;

// A picture like a photograph: smooth sky, a horizon, textured ground and
// some sharp-edged objects.
struct Photo {
    static constexpr std::uint32_t W = 1920, H = 1080;
    vexel::TrackedBuffer<std::uint8_t> planes;
    Photo() {
        const std::size_t stride = W + 32, plane = stride * (H + 32);
        planes.allocate(3 * plane);
        std::mt19937 random(42);
        for (std::uint32_t y = 0; y < H; ++y)
            for (std::uint32_t x = 0; x < W; ++x) {
                const bool ground = y < H / 3 + static_cast<std::uint32_t>(40 * std::sin(x / 150.0));
                const bool object = (x / 160 + y / 120) % 7 == 0;
                for (int c = 0; c < 3; ++c) {
                    int v;
                    if (object) v = 40 + 60 * c + static_cast<int>(x % 160) / 4;
                    else if (ground) v = 70 + 20 * c + static_cast<int>(random() % 36);
                    else v = 120 + c * 40 + static_cast<int>(y) / 12;
                    planes[c * plane + (y + 16) * stride + x + 16] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
                }
            }
    }
    vexel::SourcePlanes source() const { return vexel::SourcePlanes::fromPlanes(planes.data(), W, H); }
};

const Photo& photo() {
    static Photo p;
    return p;
}

void BM_EncodeFrame(benchmark::State& state) {
    const auto mode = static_cast<std::uint8_t>(state.range(0));
    const Photo& p = photo();
    const std::uint32_t Q = vexel::chromaStepFor(mode, 0, Photo::W, Photo::H, 1920, 1080);
    const vexel::EncoderSettings settings = vexel::EncoderSettings::forFrame(0, mode);
    const vexel::EncoderGrid grid = vexel::EncoderGrid::forStream(Photo::W, Photo::H, settings.B, 0, 1);
    vexel::ColourPlanes colour;
    vexel::TrackedBuffer<std::uint8_t> payload;
    std::size_t length = 0;
    for (auto _ : state) {
        vexel::BlockMap map;
        vexel::analyseBlocks(p.source(), settings, grid, map);
        vexel::computeColourPlanes(p.source(), grid, Q, colour);
        vexel::PayloadJob job;
        job.mode = mode;
        job.chromaStep = Q;
        job.headerSize = 47;
        vexel::buildStreamPayload(map, colour, grid, job, payload, length, false);
        benchmark::DoNotOptimize(length);
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes"] = static_cast<double>(length);
}
BENCHMARK(BM_EncodeFrame)->Arg(1)->Arg(7)->Arg(8)->Arg(9)->Unit(benchmark::kMillisecond)->UseRealTime();

// The analysis alone (directions, fits, decisions, clean-up).
void BM_AnalyseBlocks(benchmark::State& state) {
    const Photo& p = photo();
    const vexel::EncoderSettings settings = vexel::EncoderSettings::forFrame(static_cast<std::int8_t>(state.range(0)), 8);
    const vexel::EncoderGrid grid = vexel::EncoderGrid::forStream(Photo::W, Photo::H, settings.B, 0, 1);
    for (auto _ : state) {
        vexel::BlockMap map;
        vexel::analyseBlocks(p.source(), settings, grid, map);
        benchmark::DoNotOptimize(map.records.data());
    }
}
BENCHMARK(BM_AnalyseBlocks)->Arg(-1)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
