// Decoding one 1920 x 1080 frame through the decompression pipeline (the
// record already in memory): modes 7, 8 and 9, one stream and two streams
// (two streams run in the worker pool on a machine with two processors),
// fast and smooth painting. Targets on the development machine: mode 8 with
// two streams in at most 20 ms fast and 40 ms smooth.
#include "app/startup.h"
#include "codec/container.h"
#include "pipeline/codec_session.h"
#include "pipeline/compression_pipeline.h"
#include "pipeline/decompression_pipeline.h"
#include "platform/files.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Units {
    Units() { vexel::initializeProgramUnits(); }
} units;

// A picture like a photograph: smooth sky, a horizon, textured ground and
// some sharp-edged objects (the encoder benchmark's picture).
void paintPhoto(vexel::CodecSession& record, std::int32_t W, std::int32_t H) {
    record.picture.planes.allocate(W, H);
    record.picture.infoHeader.width = W;
    record.picture.infoHeader.height = H;
    record.picture.currentHeader = record.picture.infoHeader;
    std::mt19937 random(42);
    for (std::int32_t y = 0; y < H; ++y)
        for (std::int32_t x = 0; x < W; ++x) {
            const bool ground = y < H / 3 + static_cast<std::int32_t>(40 * std::sin(x / 150.0));
            const bool object = (x / 160 + y / 120) % 7 == 0;
            for (int c = 0; c < 3; ++c) {
                int v;
                if (object) v = 40 + 60 * c + (x % 160) / 4;
                else if (ground) v = 70 + 20 * c + static_cast<int>(random() % 36);
                else v = 120 + c * 40 + y / 12;
                record.picture.planes.row(c, y)[x] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
            }
        }
}

// The record of the photograph in a mode with a number of streams, written once.
const std::vector<std::uint8_t>& encoded(std::uint8_t mode, std::uint32_t streams) {
    static std::map<std::pair<int, int>, std::vector<std::uint8_t>> cache;
    auto& bytes = cache[{mode, static_cast<int>(streams)}];
    if (!bytes.empty()) return bytes;
    vexel::CodecSession record;
    paintPhoto(record, 1920, 1080);
    const std::string path = "/tmp/vexel-decode-bench-" + std::to_string(getpid()) + ".vx";
    vexel::CompressionJob job;
    job.outputPath = vexel::TWideString::fromUtf8(path);
    job.mode = mode;
    job.streamCount = streams;
    if (vexel::compressFrame(record, job) == vexel::kDone) {
        vexel::platform::File file;
        const std::u16string name(job.outputPath.view());
        if (file.open(name, vexel::platform::OpenMode::ReadExisting)) {
            bytes.resize(static_cast<std::size_t>(file.size()));
            if (!file.readExact(bytes.data(), bytes.size())) bytes.clear();
        }
        vexel::platform::removeFile(name);
    }
    return bytes;
}

void BM_DecodeFrame(benchmark::State& state) {
    const auto mode = static_cast<std::uint8_t>(state.range(0));
    const auto streams = static_cast<std::uint32_t>(state.range(1));
    const bool fast = state.range(2) != 0;
    const std::vector<std::uint8_t>& bytes = encoded(mode, streams);
    vexel::RecordHeader h;
    if (bytes.empty() || vexel::parseRecordHeader({bytes.data(), std::min<std::size_t>(256, bytes.size())}, 0,
                                                  bytes.size(), h) != vexel::kDone) {
        state.SkipWithError("the frame could not be written");
        return;
    }
    vexel::CodecSession record;
    vexel::RecordDecodeOptions options;
    options.fastPaint = fast;
    for (auto _ : state) {
        if (vexel::decodeRecordBytes(record.codec, record.picture, h, {bytes.data(), bytes.size()}, options) != vexel::kDone) {
            state.SkipWithError("the frame does not decode");
            break;
        }
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes"] = static_cast<double>(bytes.size());
    state.SetLabel(std::string(fast ? "fast" : "smooth") + (record.picture.pictureInPlanes() ? ", planes" : ", surface"));
    vexel::finishDecompression(record.codec);
    vexel::clearDecompressionStatusText();
}
BENCHMARK(BM_DecodeFrame)
    ->ArgNames({"mode", "streams", "fast"})
    ->ArgsProduct({{7, 8, 9}, {1, 2}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
