// Vexel beside libjpeg-turbo's TurboJPEG, in one process, decoding pictures
// held in memory into RGB buffers: for each photograph, the .vx that
// "vexel -c" writes (four streams) and a one-stream one ("-t=1") through
// libvexel with smooth painting, and the "cjpeg -quality 75" JPEG through
// tjDecompress2 (TJPF_RGB, flags 0, one thread). Only the decode is timed;
// every figure is the median of repetitions.
//
// Usage: vexel_turbo_bench FOLDER [benchmark flags]
// FOLDER holds one folder per picture size (its name is the size's label)
// with, for each photograph NAME:
//   NAME.vx, NAME.t1.vx          the four-stream and the one-stream file
//   NAME.vx.bmp, NAME.t1.vx.bmp  what "vexel -uc" unpacks from them
//   NAME.jpg                     the JPEG
// bench/turbo_compare.sh makes it from the bench photographs and runs this.
//
// Before timing, each decoder's output is checked once: Vexel's RGB rows
// must equal the unpacked bitmap's pixels, TurboJPEG's picture must have the
// photograph's size and not be all black. A mismatch ends the program.
//
// Beside libvexel's figures ("vexel"), the same records decoded by the
// decoder under libvexel into one reused picture and copied into RGB rows
// ("core"): a libvexel reader keeps the last record it decoded and has no
// call that decodes it again, so every timed libvexel decode runs on a new
// reader (opened and closed outside the timed region), whose picture
// memory is new; the core figures show the decode without that.
#include "codec/container.h"
#include "pipeline/codec_session.h"
#include "pipeline/decompression_pipeline.h"
#include "vexel/vexel.h"

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "vexel_turbo_bench: %s\n", message.c_str());
    std::exit(1);
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// A picture in RGB rows from the top, three bytes a pixel, no padding.
struct Rgb {
    std::uint32_t width = 0, height = 0;
    Bytes pixels;
    std::size_t stride() const { return std::size_t{width} * 3; }
};

// A 24-bit bitmap's pixels as RGB rows from the top.
Rgb readBitmap(const fs::path& path) {
    const Bytes b = readFile(path);
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || (b[28] | b[29] << 8) != 24 || le32(b, 30) != 0)
        fail(path.string() + " is not an uncompressed 24-bit bitmap");
    const std::size_t offset = le32(b, 10);
    const auto width = static_cast<std::int32_t>(le32(b, 18));
    const auto height = static_cast<std::int32_t>(le32(b, 22));
    if (width <= 0 || height == 0) fail(path.string() + " has no pixels");
    Rgb rgb;
    rgb.width = static_cast<std::uint32_t>(width);
    rgb.height = static_cast<std::uint32_t>(std::abs(height));
    const std::size_t fileStride = (rgb.stride() + 3) / 4 * 4;
    if (offset + fileStride * rgb.height > b.size()) fail(path.string() + " is cut short");
    rgb.pixels.resize(rgb.stride() * rgb.height);
    for (std::uint32_t y = 0; y < rgb.height; ++y) {
        // Rows run from the bottom unless the height is negative.
        const std::uint32_t fileRow = height > 0 ? rgb.height - 1 - y : y;
        const std::uint8_t* in = b.data() + offset + fileStride * fileRow;
        std::uint8_t* out = rgb.pixels.data() + rgb.stride() * y;
        for (std::uint32_t x = 0; x < rgb.width; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    return rgb;
}

// Ends the program unless `decoded` holds the bitmap's picture.
void expectSame(const Rgb& decoded, const Rgb& bitmap, const std::string& what) {
    if (decoded.width != bitmap.width || decoded.height != bitmap.height)
        fail(what + ": " + std::to_string(decoded.width) + " x " + std::to_string(decoded.height) +
             " pixels, the unpacked bitmap has " + std::to_string(bitmap.width) + " x " + std::to_string(bitmap.height));
    const auto [a, b] = std::mismatch(decoded.pixels.begin(), decoded.pixels.end(), bitmap.pixels.begin());
    if (a != decoded.pixels.end()) {
        const auto at = static_cast<std::size_t>(a - decoded.pixels.begin());
        const std::size_t pixel = at / 3;
        fail(what + ": pixel (" + std::to_string(pixel % decoded.width) + ", " + std::to_string(pixel / decoded.width) +
             ") channel " + std::to_string(at % 3) + " is " + std::to_string(*a) + ", the unpacked bitmap has " +
             std::to_string(*b));
    }
}

// ---------------------------------------------------------------- libvexel

vexel_read_options readOptions() {
    vexel_read_options options;
    vexel_read_options_default(&options);
    options.fast_paint = 0; // smooth, as "vexel -uc" unpacks a picture
    return options;
}

vexel_reader* openReader(const Bytes& file, const std::string& what) {
    const vexel_read_options options = readOptions();
    vexel_reader* reader = nullptr;
    if (const vexel_status s = vexel_reader_open_memory(file.data(), file.size(), &options, &reader); s != VEXEL_OK)
        fail(what + ": " + vexel_status_string(s));
    return reader;
}

Rgb decodeWithLibrary(const Bytes& file, const std::string& what) {
    vexel_reader* reader = openReader(file, what);
    vexel_record_info info;
    if (vexel_reader_record_info(reader, 0, &info) != VEXEL_OK) fail(what + ": no record");
    Rgb rgb;
    rgb.width = info.width;
    rgb.height = info.height;
    rgb.pixels.resize(rgb.stride() * rgb.height);
    if (const vexel_status s =
            vexel_reader_decode(reader, 0, VEXEL_PIXELS_RGB, rgb.pixels.data(), rgb.stride(), rgb.pixels.size());
        s != VEXEL_OK)
        fail(what + ": " + vexel_status_string(s));
    vexel_reader_close(reader);
    return rgb;
}

void BM_Vexel(benchmark::State& state, const Bytes* file, std::uint32_t width, std::uint32_t height) {
    const std::size_t stride = std::size_t{width} * 3;
    Bytes rgb(stride * height);
    for (auto _ : state) {
        state.PauseTiming();
        vexel_reader* reader = openReader(*file, "vexel");
        state.ResumeTiming();
        const vexel_status s = vexel_reader_decode(reader, 0, VEXEL_PIXELS_RGB, rgb.data(), stride, rgb.size());
        benchmark::DoNotOptimize(rgb.data());
        state.PauseTiming();
        vexel_reader_close(reader);
        state.ResumeTiming();
        if (s != VEXEL_OK) {
            state.SkipWithError(vexel_status_string(s));
            break;
        }
    }
    state.counters["bytes"] = static_cast<double>(file->size());
}

// ---------------------------------------------------- the decoder under it

// A record decoded again and again into one picture, as libvexel's reader
// decodes it (smooth painting, the picture in planes, no screen).
class CoreDecoder {
public:
    explicit CoreDecoder(const Bytes& file) : file_(file) {
        session_.picture.planesWanted = true;
        session_.codec.screen = vexel::ScreenSize{0, 0};
        options_.fastPaint = false;
        options_.surfaceMemory = false;
        ok_ = vexel::parseRecordHeader({file_.data(), std::min<std::size_t>(vexel::kRecordHeaderLimit, file_.size())}, 0,
                                       file_.size(), header_) == vexel::kDone &&
              header_.recordSize <= file_.size();
    }
    ~CoreDecoder() { vexel::finishDecompression(session_.codec); }
    CoreDecoder(const CoreDecoder&) = delete;
    CoreDecoder& operator=(const CoreDecoder&) = delete;

    // Decodes the first record into `rgb` (width x height x 3 bytes).
    bool decode(std::uint8_t* rgb) {
        if (!ok_ || vexel::decodeRecordBytes(session_.codec, session_.picture, header_,
                                             {file_.data(), static_cast<std::size_t>(header_.recordSize)},
                                             options_) != vexel::kDone)
            return false;
        const vexel::TPicturePlanes& planes = session_.picture.planes;
        if (planes.empty() || planes.width() != static_cast<std::int32_t>(header_.width) ||
            planes.height() != static_cast<std::int32_t>(header_.height))
            return false;
        const std::int32_t width = planes.width(), height = planes.height();
        for (std::int32_t y = 0; y < height; ++y) {
            // Plane rows run from the bottom.
            const std::uint8_t* r = planes.row(vexel::TPicturePlanes::kRed, height - 1 - y);
            const std::uint8_t* g = planes.row(vexel::TPicturePlanes::kGreen, height - 1 - y);
            const std::uint8_t* b = planes.row(vexel::TPicturePlanes::kBlue, height - 1 - y);
            std::uint8_t* out = rgb + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 3;
            for (std::int32_t x = 0; x < width; ++x, out += 3) {
                out[0] = r[x];
                out[1] = g[x];
                out[2] = b[x];
            }
        }
        return true;
    }
    std::uint32_t width() const { return header_.width; }
    std::uint32_t height() const { return header_.height; }

private:
    const Bytes& file_;
    vexel::CodecSession session_;
    vexel::RecordHeader header_;
    vexel::RecordDecodeOptions options_;
    bool ok_ = false;
};

void BM_Core(benchmark::State& state, const Bytes* file, const Rgb* bitmap) {
    CoreDecoder decoder(*file);
    Rgb rgb;
    rgb.width = decoder.width();
    rgb.height = decoder.height();
    rgb.pixels.resize(rgb.stride() * rgb.height);
    for (auto _ : state) {
        if (!decoder.decode(rgb.pixels.data())) {
            state.SkipWithError("the record does not decode");
            break;
        }
        benchmark::DoNotOptimize(rgb.pixels.data());
    }
    // Decoding again into the same picture must give the same picture.
    expectSame(rgb, *bitmap, "core decode, after the timed runs");
    state.counters["bytes"] = static_cast<double>(file->size());
}

// --------------------------------------------------------------- TurboJPEG

struct TurboHandle {
    tjhandle handle = tjInitDecompress();
    ~TurboHandle() {
        if (handle) tjDestroy(handle);
    }
    TurboHandle() = default;
    TurboHandle(const TurboHandle&) = delete;
    TurboHandle& operator=(const TurboHandle&) = delete;
};

Rgb decodeWithTurbo(const Bytes& jpeg, const std::string& what) {
    TurboHandle tj;
    if (!tj.handle) fail("tjInitDecompress: " + std::string(tjGetErrorStr2(nullptr)));
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(tj.handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &width, &height,
                            &subsampling, &colorspace) != 0)
        fail(what + ": " + tjGetErrorStr2(tj.handle));
    Rgb rgb;
    rgb.width = static_cast<std::uint32_t>(width);
    rgb.height = static_cast<std::uint32_t>(height);
    rgb.pixels.assign(rgb.stride() * rgb.height, 0);
    if (tjDecompress2(tj.handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), rgb.pixels.data(), width, 0,
                      height, TJPF_RGB, 0) != 0)
        fail(what + ": " + tjGetErrorStr2(tj.handle));
    return rgb;
}

void BM_Turbo(benchmark::State& state, const Bytes* jpeg, std::uint32_t width, std::uint32_t height) {
    TurboHandle tj;
    Bytes rgb(std::size_t{width} * 3 * height);
    for (auto _ : state) {
        if (tjDecompress2(tj.handle, jpeg->data(), static_cast<unsigned long>(jpeg->size()), rgb.data(),
                          static_cast<int>(width), 0, static_cast<int>(height), TJPF_RGB, 0) != 0) {
            state.SkipWithError(tjGetErrorStr2(tj.handle));
            break;
        }
        benchmark::DoNotOptimize(rgb.data());
    }
    state.counters["bytes"] = static_cast<double>(jpeg->size());
}

// ---------------------------------------------------------------- encoding

struct Photo;
Bytes encodeWithLibrary(const Photo& p, unsigned streams);

// ------------------------------------------------------------------ inputs

struct Photo {
    std::string size, name;
    Bytes vx4, vx1, jpeg;
    Rgb bitmap4, bitmap1, source;
    std::uint32_t pixelsPerMeterX = 0, pixelsPerMeterY = 0; // the source bitmap's, which vexel -c keeps
    std::uint32_t width = 0, height = 0;
};

// Every photograph under the folder, read and checked.
std::vector<std::unique_ptr<Photo>> loadPhotos(const fs::path& folder) {
    std::vector<fs::path> sizes;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_directory()) sizes.push_back(entry.path());
    std::sort(sizes.begin(), sizes.end());
    std::vector<std::unique_ptr<Photo>> photos;
    for (const fs::path& size : sizes) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(size))
            if (entry.path().extension() == ".jpg") names.push_back(entry.path().stem().string());
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            auto p = std::make_unique<Photo>();
            p->size = size.filename().string();
            p->name = name;
            const std::string what = p->size + "/" + name;
            p->vx4 = readFile(size / (name + ".vx"));
            p->vx1 = readFile(size / (name + ".t1.vx"));
            p->jpeg = readFile(size / (name + ".jpg"));
            p->bitmap4 = readBitmap(size / (name + ".vx.bmp"));
            p->bitmap1 = readBitmap(size / (name + ".t1.vx.bmp"));
            p->source = readBitmap(size / (name + ".bmp"));
            const Bytes header = readFile(size / (name + ".bmp"));
            p->pixelsPerMeterX = le32(header, 38);
            p->pixelsPerMeterY = le32(header, 42);
            p->width = p->bitmap4.width;
            p->height = p->bitmap4.height;

            // Each decoder once, checked, before anything is timed.
            expectSame(decodeWithLibrary(p->vx4, what + ".vx"), p->bitmap4, what + ".vx through libvexel");
            expectSame(decodeWithLibrary(p->vx1, what + ".t1.vx"), p->bitmap1, what + ".t1.vx through libvexel");
            for (const auto& [file, bitmap, label] :
                 {std::tuple{&p->vx4, &p->bitmap4, ".vx"}, std::tuple{&p->vx1, &p->bitmap1, ".t1.vx"}}) {
                CoreDecoder core(*file);
                Rgb rgb;
                rgb.width = core.width();
                rgb.height = core.height();
                rgb.pixels.resize(rgb.stride() * rgb.height);
                if (!core.decode(rgb.pixels.data())) fail(what + label + ": the record does not decode");
                expectSame(rgb, *bitmap, what + label + " through the core decoder");
            }
            // libvexel's writer gives the bytes "vexel -c" wrote.
            for (const auto& [streams, file, label] : {std::tuple{4u, &p->vx4, ".vx"}, std::tuple{1u, &p->vx1, ".t1.vx"}})
                if (encodeWithLibrary(*p, streams) != *file)
                    fail(what + label + ": libvexel's writer gives other bytes than vexel -c");
            const Rgb turbo = decodeWithTurbo(p->jpeg, what + ".jpg");
            if (turbo.width != p->width || turbo.height != p->height)
                fail(what + ".jpg: TurboJPEG gives " + std::to_string(turbo.width) + " x " +
                     std::to_string(turbo.height) + " pixels, the photograph has " + std::to_string(p->width) + " x " +
                     std::to_string(p->height));
            if (std::all_of(turbo.pixels.begin(), turbo.pixels.end(), [](std::uint8_t v) { return v == 0; }))
                fail(what + ".jpg: TurboJPEG gives a black picture");
            photos.push_back(std::move(p));
        }
    }
    return photos;
}

// One photograph's RGB through a libvexel memory writer: the file's size, and
// its bytes when out is given; false when any step fails.
bool writeInMemory(const vexel_write_options& options, const Photo& p, Bytes* out, std::size_t& size) {
    vexel_writer* writer = nullptr;
    const void* data = nullptr;
    const bool ok = vexel_writer_open_memory(&options, &writer) == VEXEL_OK &&
                    vexel_writer_add_frame(writer, p.source.pixels.data(), p.width, p.height, p.source.stride(),
                                           VEXEL_PIXELS_RGB) == VEXEL_OK &&
                    vexel_writer_finish(writer) == VEXEL_OK && vexel_writer_bytes(writer, &data, &size) == VEXEL_OK;
    if (ok && out) out->assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
    vexel_writer_close(writer);
    return ok;
}

vexel_write_options writeOptions(unsigned streams) {
    vexel_write_options options;
    vexel_write_options_default(&options);
    options.streams = streams;
    return options;
}

// The file's bytes, with the bitmap's resolution kept as vexel -c keeps it.
Bytes encodeWithLibrary(const Photo& p, unsigned streams) {
    vexel_write_options options = writeOptions(streams);
    options.pixels_per_meter_x = p.pixelsPerMeterX;
    options.pixels_per_meter_y = p.pixelsPerMeterY;
    Bytes bytes;
    std::size_t size = 0;
    if (!writeInMemory(options, p, &bytes, size) || bytes.empty()) fail(p.size + "/" + p.name + ": libvexel's writer failed");
    return bytes;
}

void BM_VexelEncode(benchmark::State& state, const Photo* p, unsigned streams) {
    const vexel_write_options options = writeOptions(streams);
    std::size_t bytes = 0;
    for (auto _ : state)
        if (!writeInMemory(options, *p, nullptr, bytes)) {
            state.SkipWithError("libvexel's writer failed");
            break;
        }
    state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_TurboEncode(benchmark::State& state, const Photo* p) {
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = tjAlloc(static_cast<int>(tjBufSize(static_cast<int>(p->width), static_cast<int>(p->height), TJSAMP_420)));
    unsigned long size = 0;
    for (auto _ : state) {
        if (tjCompress2(handle, p->source.pixels.data(), static_cast<int>(p->width), 0, static_cast<int>(p->height),
                        TJPF_RGB, &jpeg, &size, TJSAMP_420, 75, TJFLAG_NOREALLOC) != 0) {
            state.SkipWithError(tjGetErrorStr2(handle));
            break;
        }
        benchmark::DoNotOptimize(jpeg);
    }
    state.counters["bytes"] = static_cast<double>(size);
    tjFree(jpeg);
    tjDestroy(handle);
}

// ----------------------------------------------------------------- figures

// The console table, and each benchmark's median real time in milliseconds
// (the single run's time when there are no repetitions).
class MedianReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal.
    MedianReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string& name = run.run_name.function_name;
            const double ms = run.GetAdjustedRealTime() * 1000.0 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                median[name] = ms;
                fromMedian[name] = true;
            } else if (run.run_type == Run::RT_Iteration && !fromMedian[name]) {
                median[name] = ms;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> median;

private:
    std::map<std::string, bool> fromMedian;
};

double medianOf(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A photograph's median times of the named benchmarks; false unless every one ran.
bool timesOf(const std::map<std::string, double>& ms, const Photo& p, const char* const* kinds, int count, double* t) {
    bool all = true;
    for (int k = 0; k < count; ++k) {
        const auto it = ms.find(p.size + "/" + p.name + "/" + kinds[k]);
        all = all && it != ms.end() && it->second > 0;
        t[k] = it == ms.end() ? 0 : it->second;
    }
    return all;
}

void printSummary(const std::vector<std::unique_ptr<Photo>>& photos, const std::map<std::string, double>& ms) {
    const char* kinds[] = {"vexel4", "vexel1", "core4", "core1", "turbojpeg"};
    std::printf("\nMedian decode times in ms (ratio: Vexel / TurboJPEG; vexel: through libvexel, a new reader per "
                "decode; core: the decoder under it, one picture reused)\n");
    std::printf("%-10s %-10s %9s %9s %9s %9s %9s %8s %8s %8s %8s\n", "size", "photo", "vexel 4", "vexel 1", "core 4",
                "core 1", "turbojpeg", "ratio 4", "ratio 1", "core r4", "core r1");
    std::map<std::string, std::vector<double>> ratios[4];
    for (const auto& p : photos) {
        double t[5];
        if (!timesOf(ms, *p, kinds, 5, t)) {
            std::printf("%-10s %-10s (not measured: filtered out or failed)\n", p->size.c_str(), p->name.c_str());
            continue;
        }
        double r[4];
        for (int k = 0; k < 4; ++k) {
            r[k] = t[k] / t[4];
            ratios[k][p->size].push_back(r[k]);
        }
        std::printf("%-10s %-10s %9.2f %9.2f %9.2f %9.2f %9.2f %8.2f %8.2f %8.2f %8.2f\n", p->size.c_str(),
                    p->name.c_str(), t[0], t[1], t[2], t[3], t[4], r[0], r[1], r[2], r[3]);
    }
    std::printf("\nMedian over photographs of Vexel / TurboJPEG\n");
    std::printf("%-10s %7s %16s %16s %16s %16s\n", "size", "photos", "default streams", "one stream",
                "core, default", "core, one");
    for (const auto& [size, values] : ratios[0])
        std::printf("%-10s %7zu %16.2f %16.2f %16.2f %16.2f\n", size.c_str(), values.size(), medianOf(values),
                    medianOf(ratios[1][size]), medianOf(ratios[2][size]), medianOf(ratios[3][size]));

    std::printf("\nMedian encode times in ms (vexel: the photograph's RGB through libvexel's memory writer; "
                "turbojpeg: tjCompress2, quality 75, 4:2:0, one thread)\n");
    std::printf("%-10s %-10s %9s %9s %9s %8s %8s\n", "size", "photo", "vexel 4", "vexel 1", "turbojpeg", "ratio 4",
                "ratio 1");
    std::map<std::string, std::vector<double>> encodeRatios[2];
    for (const auto& p : photos) {
        const char* encodeKinds[] = {"encode4", "encode1", "turboencode"};
        double t[3];
        if (!timesOf(ms, *p, encodeKinds, 3, t)) continue;
        encodeRatios[0][p->size].push_back(t[0] / t[2]);
        encodeRatios[1][p->size].push_back(t[1] / t[2]);
        std::printf("%-10s %-10s %9.2f %9.2f %9.2f %8.2f %8.2f\n", p->size.c_str(), p->name.c_str(), t[0], t[1], t[2],
                    t[0] / t[2], t[1] / t[2]);
    }
    std::printf("\nMedian over photographs of Vexel / TurboJPEG, encoding\n");
    std::printf("%-10s %7s %16s %16s\n", "size", "photos", "default streams", "one stream");
    for (const auto& [size, values] : encodeRatios[0])
        std::printf("%-10s %7zu %16.2f %16.2f\n", size.c_str(), values.size(), medianOf(values),
                    medianOf(encodeRatios[1][size]));
}

} // namespace

int main(int argc, char** argv) {
    // The folder is the first argument that is not a flag; the repetitions
    // default to five, reported as aggregates.
    std::vector<char*> args{argv[0]};
    std::string folder;
    bool repetitions = false, aggregates = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0 && folder.empty()) {
            folder = arg;
            continue;
        }
        repetitions = repetitions || arg.rfind("--benchmark_repetitions", 0) == 0;
        aggregates = aggregates || arg.rfind("--benchmark_report_aggregates_only", 0) == 0;
        args.push_back(argv[i]);
    }
    std::string repetitionsFlag = "--benchmark_repetitions=5", aggregatesFlag = "--benchmark_report_aggregates_only=true";
    if (!repetitions) args.push_back(repetitionsFlag.data());
    if (!aggregates) args.push_back(aggregatesFlag.data());
    if (folder.empty()) {
        std::fprintf(stderr, "usage: %s FOLDER [benchmark flags]   (bench/turbo_compare.sh makes FOLDER)\n", argv[0]);
        return 2;
    }
    if (!fs::is_directory(folder)) fail(folder + " is not a folder");

    const std::vector<std::unique_ptr<Photo>> photos = loadPhotos(folder);
    if (photos.empty()) fail("no photographs (NAME.jpg) in the folders under " + folder);
    std::printf("%zu photographs checked: libvexel and the core decoder give the unpacked bitmaps' pixels\n",
                photos.size());

    for (const auto& p : photos) {
        const std::string stem = p->size + "/" + p->name + "/";
        for (benchmark::internal::Benchmark* b :
             {benchmark::RegisterBenchmark((stem + "vexel4").c_str(), BM_Vexel, &p->vx4, p->width, p->height),
              benchmark::RegisterBenchmark((stem + "vexel1").c_str(), BM_Vexel, &p->vx1, p->width, p->height),
              benchmark::RegisterBenchmark((stem + "core4").c_str(), BM_Core, &p->vx4, &p->bitmap4),
              benchmark::RegisterBenchmark((stem + "core1").c_str(), BM_Core, &p->vx1, &p->bitmap1),
              benchmark::RegisterBenchmark((stem + "turbojpeg").c_str(), BM_Turbo, &p->jpeg, p->width, p->height),
              benchmark::RegisterBenchmark((stem + "encode4").c_str(), BM_VexelEncode, p.get(), 4u),
              benchmark::RegisterBenchmark((stem + "encode1").c_str(), BM_VexelEncode, p.get(), 1u),
              benchmark::RegisterBenchmark((stem + "turboencode").c_str(), BM_TurboEncode, p.get())})
            // Four streams decode in worker threads: the wall time counts.
            b->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(photos, reporter.median);
    benchmark::Shutdown();
    return 0;
}
