// Reading a video's records through the read-ahead cache and directly: a
// 48 MB file of 200 records of 240,000 bytes, each read as the pipeline
// does (a 256-byte header read, then the whole record from its start).
#include "base/memdiag.h"
#include "base/units.h"
#include "pipeline/tfayloviykesh.h"
#include "platform/files.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::int64_t kRecord = 240'000;
constexpr int kRecords = 200;

struct VideoFile {
    std::string folder = "/tmp/vexel-bench-XXXXXX";
    std::string path;
    bool ok = false;
    VideoFile() {
        vexel::initializeBaseUnits();
        if (!mkdtemp(folder.data())) return;
        path = folder + "/video.vx";
        std::vector<unsigned char> bytes(static_cast<std::size_t>(kRecord) * kRecords);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return;
        ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        std::fclose(f);
    }
    ~VideoFile() {
        if (!path.empty()) std::remove(path.c_str());
        rmdir(folder.c_str());
    }
};

VideoFile& video() {
    static VideoFile file;
    return file;
}

void BM_RecordsThroughTheCache(benchmark::State& state) {
    if (!video().ok) return state.SkipWithError("no video file");
    std::vector<unsigned char> record(kRecord);
    for (auto _ : state) {
        vexel::TFayloviyKesh* cache = vexel::TFayloviyKesh::create(vexel::TWideString::fromUtf8(video().path),
                                                                   vexel::TFayloviyKesh::kPipelineCapacity);
        bool ok = cache && cache->valid();
        for (int r = 0; ok && r < kRecords; ++r) {
            std::int64_t p = r * kRecord;
            ok = cache->seek(p) == 1 && cache->read(record.data(), 256) == 256;
            p = r * kRecord;
            ok = ok && cache->seek(p) == 1 && cache->read(record.data(), kRecord) == kRecord;
        }
        benchmark::DoNotOptimize(record.data());
        vexel::TFayloviyKesh::destroy(cache);
        if (!ok) return state.SkipWithError("cached read failed");
    }
    state.SetBytesProcessed(state.iterations() * kRecord * kRecords);
}
BENCHMARK(BM_RecordsThroughTheCache)->Unit(benchmark::kMillisecond);

void BM_RecordsDirectly(benchmark::State& state) {
    if (!video().ok) return state.SkipWithError("no video file");
    std::vector<unsigned char> record(kRecord);
    std::u16string path = vexel::TWideString::fromUtf8(video().path).toU16();
    for (auto _ : state) {
        vexel::platform::File file;
        if (!file.open(path, vexel::platform::OpenMode::ReadExisting)) return state.SkipWithError("open failed");
        for (int r = 0; r < kRecords; ++r) {
            if (!file.seek(r * kRecord) || !file.readExact(record.data(), 256)) return state.SkipWithError("read");
            if (!file.seek(r * kRecord) || !file.readExact(record.data(), kRecord)) return state.SkipWithError("read");
        }
        benchmark::DoNotOptimize(record.data());
    }
    state.SetBytesProcessed(state.iterations() * kRecord * kRecords);
}
BENCHMARK(BM_RecordsDirectly)->Unit(benchmark::kMillisecond);

} // namespace
