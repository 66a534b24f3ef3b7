// Speed of the natural sort of long file lists and of bitmap reading and
// writing. Run: build/bench/vexel_bench --benchmark_filter=...
#include "app/bitmap.h"
#include "app/startup.h"
#include "base/tspisokstrok.h"
#include "platform/files.h"
#include "ui/toknosostoyaniya.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

void ensureUnits() {
    static bool done = [] {
        vexel::initializeProgramUnits();
        return true;
    }();
    (void)done;
}

struct QuietProgress : vexel::ui::ProgressBackend {
    void shown(const vexel::TWideString&, const vexel::TWideString&) override {}
    void progressed(float, float) override {}
    void finished() override {}
    void closed() override {}
};

// A folder of n video frames listed in enumeration (shuffled) order.
void BM_NaturalSortOfFrames(benchmark::State& state) {
    ensureUnits();
    QuietProgress quiet;
    vexel::ui::ProgressBackend* previous = vexel::ui::setProgressBackend(&quiet);
    const int n = static_cast<int>(state.range(0));
    std::vector<std::u16string> names;
    for (int i = 0; i < n; ++i) {
        std::string s = "holiday_clip_frame" + std::to_string(i) + ".bmp";
        names.emplace_back(s.begin(), s.end());
    }
    std::shuffle(names.begin(), names.end(), std::mt19937(1));
    for (auto _ : state) {
        state.PauseTiming();
        vexel::TSpisokStrok list(500000, 8);
        for (auto& name : names) list.append(name);
        state.ResumeTiming();
        benchmark::DoNotOptimize(list.sort());
    }
    state.SetItemsProcessed(state.iterations() * n);
    vexel::ui::setProgressBackend(previous);
}
BENCHMARK(BM_NaturalSortOfFrames)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Loading and writing a 1920 x 1080 bitmap (the surface) and a 4000 x 3000 one (the planes).
void bitmapRoundTrip(benchmark::State& state, int width, int height) {
    ensureUnits();
    std::string folder = "/tmp/vexel-bench-XXXXXX";
    if (!mkdtemp(folder.data())) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::string in = folder + "/in.bmp", out = folder + "/out.bmp";
    {
        std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
        std::vector<std::uint8_t> file(54 + row * height, 0x40);
        auto put32 = [&](std::size_t at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        std::fill(file.begin(), file.begin() + 54, 0);
        file[0] = 'B';
        file[1] = 'M';
        put32(2, static_cast<std::uint32_t>(file.size()));
        put32(10, 54);
        put32(14, 40);
        put32(18, static_cast<std::uint32_t>(width));
        put32(22, static_cast<std::uint32_t>(height));
        file[26] = 1;
        file[28] = 24;
        std::FILE* f = std::fopen(in.c_str(), "wb");
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    }
    vexel::TWnd record;
    record.create();
    for (auto _ : state) {
        if (vexel::loadBitmap(record, vexel::TWideString::fromUtf8(in), false) != 1) state.SkipWithError("load failed");
        if (vexel::writeBitmap(record, vexel::TWideString::fromUtf8(out)) != 1) state.SkipWithError("write failed");
        std::remove(out.c_str());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(width) * height * 3 * 2);
    std::remove(in.c_str());
    rmdir(folder.c_str());
}
void BM_BitmapLoadAndWrite1080p(benchmark::State& state) { bitmapRoundTrip(state, 1920, 1080); }
void BM_BitmapLoadAndWrite4000x3000(benchmark::State& state) { bitmapRoundTrip(state, 4000, 3000); }
BENCHMARK(BM_BitmapLoadAndWrite1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapLoadAndWrite4000x3000)->Unit(benchmark::kMillisecond);

} // namespace
