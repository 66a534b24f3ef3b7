#include "codec/decompression_pipeline.h"

#include "base/dlitelnostintervalavremeni.h"
#include "base/informaciyaprocessora.h"
#include "base/memdiag.h"
#include "base/sistemniesoobzheniya.h"
#include "base/vvodchisel.h"
#include "codec/frame_decoder.h"
#include "codec/pool_threads.h"
#include "codec/tfayloviykesh.h"
#include "codec/pixspray.h"
#include "codec/screen.h"
#include "platform/files.h"
#include "platform/system.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace vexel {

namespace {

std::atomic<DecodeThreading> threadingChoice{DecodeThreading::Automatic};

// ------------------------------------------------------------ statistics

// The process-wide playback statistics. They are read and written by the
// thread that runs the frame loop only (the workers merely measure).
struct Statistics {
    long double previousRecordTime = 0; // 0 before the first record: its interval is the clock itself
    long double frameInterval = 0;      // smoothed, seconds
    long double drawInterval = 0;       // smoothed, seconds per stream
    TWideString status;
};

// Never destroyed: its text lives in the tracked allocator, which may be
// gone when static objects are destroyed (releaseDecompressionState empties it).
Statistics& statistics() {
    static Statistics* s = new Statistics;
    return *s;
}

// The smoothing of both intervals: a sample far from the current value
// moves it more, between 0.5 % and all of the way.
long double smoothed(long double current, long double sample) {
    if (current == 0) return sample;
    long double k = std::fabs(current - sample) / (sample + 0.00005L) * 0.05L;
    k = std::clamp(k, 0.005L, 1.0L);
    return (1 - k) * current + k * sample;
}

void noteFrameInterval() {
    Statistics& s = statistics();
    const long double now = clockNow();
    const long double interval = now - s.previousRecordTime;
    s.previousRecordTime = now;
    s.frameInterval = smoothed(s.frameInterval, interval);
}

TWideString seconds(long double value, bool keepZeros) {
    return TWideString(numberToText(static_cast<double>(value), 1, 4, false, keepZeros));
}

// After a record was drawn: the status text and the draw interval.
void noteDrawInterval(long double drawSeconds, std::uint32_t streams) {
    Statistics& s = statistics();
    const bool hadText = !s.status.empty();
    if (hadText)
        s.status = TWideString(u" (frame interval = ") + seconds(s.frameInterval, true) +
                   TWideString(u" s, draw interval = ") + seconds(s.drawInterval * streams, true) + TWideString(u" s)");
    s.drawInterval = smoothed(s.drawInterval, drawSeconds);
    if (!hadText)
        s.status = TWideString(u"(draw interval = ") + seconds(s.drawInterval * streams, false) + TWideString(u" s) ");
}

// ------------------------------------------------------------ file cache

// The read-ahead cache in use and the file it belongs to.
struct CacheState {
    TFayloviyKesh* cache = nullptr;
    TWideString name;
};

CacheState& cacheState() {
    static CacheState* s = new CacheState; // never destroyed, as the statistics
    return *s;
}

void dropCache() {
    std::lock_guard<std::recursive_mutex> guard(globalLock());
    CacheState& s = cacheState();
    TFayloviyKesh::destroy(s.cache);
    s.cache = nullptr;
    s.name = TWideString();
}

// Where the record's bytes come from: the cache, or the file itself.
class RecordSource {
public:
    // kUnpackDone, or kUnpackCannotOpen (message shown).
    int open(const DecompressionCall& call) {
        if (call.cache) {
            CacheState& s = cacheState();
            if (!s.cache || !(s.name == call.path)) {
                dropCache();
                TFayloviyKesh* fresh = TFayloviyKesh::create(call.path, TFayloviyKesh::kPipelineCapacity);
                std::lock_guard<std::recursive_mutex> guard(globalLock());
                if (fresh && fresh->valid()) {
                    s.cache = fresh;
                    s.name = call.path;
                } else {
                    TFayloviyKesh::destroy(fresh);
                }
            }
            cache_ = s.cache;
            if (cache_) return kUnpackDone;
        }
        if (!file_.open(call.path.view(), platform::OpenMode::ReadExisting)) {
            showSystemError(platform::lastError());
            return kUnpackCannotOpen;
        }
        return kUnpackDone;
    }

    // The header of the record at position. Through the cache a failed seek
    // or read is kUnpackCannotOpen; directly it is kUnpackFailed.
    int readHeader(std::uint64_t position, RecordHeader& header) {
        if (!cache_) {
            const int r = readRecordHeader(file_, position, header);
            return r == kCodecDone ? kUnpackDone : r == kCodecNotVxRecord ? kUnpackNotVx : kUnpackFailed;
        }
        std::uint8_t bytes[kRecordHeaderLimit];
        std::int64_t got = 0;
        if (!seekCache(position) || (got = cache_->read(bytes, sizeof bytes)) <= 0) return kUnpackCannotOpen;
        const std::int64_t size = cache_->fileSize();
        if (size <= 0) return kUnpackCannotOpen;
        return parseRecordHeader({bytes, static_cast<std::size_t>(got)}, position, static_cast<std::uint64_t>(size),
                                 header) == kCodecDone
                   ? kUnpackDone
                   : kUnpackNotVx;
    }

    // The whole record into out (header.recordSize bytes); false on a failed seek or a short read.
    bool readRecord(const RecordHeader& header, std::uint8_t* out) {
        const std::uint64_t n = header.recordSize;
        if (cache_) return seekCache(header.recordStart) && cache_->read(out, static_cast<std::int64_t>(n)) ==
                                                                  static_cast<std::int64_t>(n);
        return file_.seek(header.recordStart) && file_.readExact(out, n);
    }

private:
    bool seekCache(std::uint64_t position) {
        if (position > static_cast<std::uint64_t>(INT64_MAX)) return false;
        std::int64_t p = static_cast<std::int64_t>(position);
        return cache_->seek(p) == 1 && p == static_cast<std::int64_t>(position);
    }

    TFayloviyKesh* cache_ = nullptr;
    platform::File file_;
};

// ------------------------------------------------------------ streams

// One record as every stream sees it.
struct RecordJob {
    CodecState* codec = nullptr;
    PictureBuffer* picture = nullptr;
    const RecordHeader* header = nullptr;
    std::span<const std::uint8_t> bytes; // the whole record
    RecordDecodeOptions options;
    long double* drawSeconds = nullptr;
};

// Stream `index` (0 for the only stream, else 1..count) of the record.
StreamDecodeJob streamJob(const RecordJob& r, std::uint32_t index, std::uint32_t count) {
    const RecordHeader& h = *r.header;
    const ByteRange range = streamRange(h, index);
    StreamDecodeJob s;
    s.streamIndex = index;
    s.streamCount = count;
    s.stream = r.bytes.subspan(range.begin, range.size());
    s.headerSize = index <= 1 ? h.headerSize : 0;
    s.surfaceMemory = r.options.surfaceMemory;
    s.fastPaint = r.options.fastPaint;
    s.mode = h.mode;
    s.conversion = r.options.conversion;
    s.width = h.width;
    s.height = h.height;
    s.blockSize = h.blockSize;
    s.chromaStep = h.chromaStep;
    s.coefShifts = h.coefShifts;
    s.drawSeconds = r.drawSeconds;
    return s;
}

// A record's result from its streams' results: the first negative one, else
// 0 when any stream failed, else 1.
int recordResult(const int* results, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i)
        if (results[i] < 0) return results[i];
    for (std::uint32_t i = 0; i < n; ++i)
        if (results[i] < 1) return kUnpackFailed;
    return kUnpackDone;
}

// Streams 1..n one after another in this thread; the first that fails ends the record.
int runSequentially(const RecordJob& job, std::uint32_t n) {
    for (std::uint32_t i = 1; i <= n; ++i) {
        const int r = decodeStream(*job.codec, *job.picture, streamJob(job, i, n));
        if (r < 1) return r < 0 ? r : kUnpackFailed;
    }
    return kUnpackDone;
}

// One worker thread per stream; see the protocol in the header.
class DecompressionPool final : public PoolThreads {
public:
    explicit DecompressionPool(std::uint32_t streams)
        : streams_(streams), gates_(streams), parseResults_(streams), results_(streams), reported_(streams) {
        for (std::uint32_t i = 0; i < streams; ++i) {
            gates_[i].pool = this;
            gates_[i].index = i;
        }
        // Too few threads (complete() false): the record runs without a pool.
        startThreads(streams, [this](std::uint32_t i) { worker(i); });
    }
    ~DecompressionPool() override { stopAndJoin(); }

    std::uint32_t streams() const { return streams_; }

    int run(const RecordJob& job) {
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = &job;
        parsed_ = done_ = 0;
        stage_ = Stage::Parse;
        std::fill(reported_.begin(), reported_.end(), 0);
        std::fill(parseResults_.begin(), parseResults_.end(), kDecodeFailed);
        std::fill(results_.begin(), results_.end(), kDecodeFailed);
        ++generation_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return parsed_ == streams_; });
        const bool parsedAll = recordResult(parseResults_.data(), streams_) == kUnpackDone;
        stage_ = parsedAll ? Stage::Draw : Stage::Skip;
        changed_.notify_all();
        changed_.wait(lock, [&] { return done_ == streams_; });
        job_ = nullptr;
        return recordResult(results_.data(), streams_);
    }

private:
    enum class Stage { Parse, Draw, Skip };

    class Gate final : public StreamSync {
    public:
        bool parsedWaitForGo(int parseResult) override { return pool->parsedWaitForGo(index, parseResult); }
        DecompressionPool* pool = nullptr;
        std::uint32_t index = 0;
    };

    // Stores and reports a stream's parse result once; the caller holds the lock.
    void reportParsed(std::uint32_t i, int result) {
        if (reported_[i]) return;
        reported_[i] = 1;
        parseResults_[i] = result;
        ++parsed_;
        changed_.notify_all();
    }

    bool parsedWaitForGo(std::uint32_t i, int result) {
        std::unique_lock<std::mutex> lock(mutex_);
        reportParsed(i, result);
        changed_.wait(lock, [&] { return stop_ || stage_ != Stage::Parse; });
        return !stop_ && stage_ == Stage::Draw;
    }

    void worker(std::uint32_t i) {
        std::uint64_t seen = 0;
        for (;;) {
            const RecordJob* job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || generation_ != seen; });
                if (stop_) return;
                seen = generation_;
                job = job_;
            }
            StreamDecodeJob s = streamJob(*job, i + 1, streams_);
            s.sync = &gates_[i];
            const int result = decodeStream(*job->codec, *job->picture, s);
            std::lock_guard<std::mutex> lock(mutex_);
            // A stream that ended before reporting its parse has parsed with this result.
            reportParsed(i, result);
            results_[i] = result;
            ++done_;
            changed_.notify_all();
        }
    }

    const std::uint32_t streams_;
    std::vector<Gate, TrackedAllocator<Gate>> gates_;
    std::vector<int, TrackedAllocator<int>> parseResults_, results_;
    std::vector<std::uint8_t, TrackedAllocator<std::uint8_t>> reported_;
    const RecordJob* job_ = nullptr;
    std::uint64_t generation_ = 0;
    std::uint32_t parsed_ = 0, done_ = 0;
    Stage stage_ = Stage::Parse;
};

bool usePool(std::uint8_t conversion) {
    if (conversion != 0) return false;
    switch (threadingChoice.load()) {
    case DecodeThreading::Sequential: return false;
    case DecodeThreading::Pool: return true;
    case DecodeThreading::Automatic: break;
    }
    return processorCount() >= 2 && !pixSprayModule();
}

int runStreams(const RecordJob& job, std::uint32_t n) {
    CodecState& codec = *job.codec;
    auto* pool = dynamic_cast<DecompressionPool*>(codec.decompressionPool.get());
    if (codec.decompressionPool && (!pool || pool->streams() != n)) {
        codec.decompressionPool.reset();
        pool = nullptr;
    }
    if (!usePool(job.options.conversion)) return runSequentially(job, n);
    if (!pool) {
        std::unique_ptr<DecompressionPool> fresh;
        try {
            fresh = std::make_unique<DecompressionPool>(n);
        } catch (const std::exception&) {
            return runSequentially(job, n);
        }
        if (!fresh->complete()) return runSequentially(job, n);
        pool = fresh.get();
        codec.decompressionPool = std::move(fresh);
    }
    const int result = pool->run(job);
    if (result < 1) codec.decompressionPool.reset(); // a failed record releases its pool
    return result;
}

// ------------------------------------------------------------ output

// The picture header of the decoded record, as a bitmap writer would write it.
void describePicture(PictureBuffer& picture, const RecordHeader& h) {
    BitmapInfoHeader& ih = picture.infoHeader;
    ih = BitmapInfoHeader();
    ih.size = 40;
    ih.width = static_cast<std::int32_t>(h.width);
    ih.height = static_cast<std::int32_t>(h.height);
    ih.planes = 1;
    ih.bitCount = 24;
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(h.width) * 3 + 3) / 4 * 4;
    ih.sizeImage = static_cast<std::uint32_t>(std::min<std::uint64_t>(rowBytes * h.height, 0xFFFFFFFFu));
    ih.xPelsPerMeter = static_cast<std::int32_t>(h.pixelsPerMeterX);
    ih.yPelsPerMeter = static_cast<std::int32_t>(h.pixelsPerMeterY);
}

bool usesPlanes(const CodecState& codec, const PictureBuffer& picture, const RecordHeader& h) {
    const bool fits = fitsScreen(h.width, h.height, codec.screen);
    return !fits || picture.planesWanted || (streamTotal(h) >= 2 && processorCount() >= 2 && !pixSprayModule());
}

// Makes the output ready: the planes for the picture (kept when they have
// its size, so kept blocks keep the previous picture), or none for the
// surface, which the decoder sizes itself.
bool prepareOutput(const CodecState& codec, PictureBuffer& picture, const RecordHeader& h, bool surfaceMemory) {
    const bool fits = fitsScreen(h.width, h.height, codec.screen);
    if (!usesPlanes(codec, picture, h)) {
        picture.planes.reset();
        picture.surfaceFollowsPicture = true;
        return true;
    }
    const std::int32_t w = static_cast<std::int32_t>(h.width), ht = static_cast<std::int32_t>(h.height);
    picture.surfaceFollowsPicture = fits;
    if ((picture.planes.width() != w || picture.planes.height() != ht) && !picture.planes.allocate(w, ht)) return false;
    const PictureRect rect{0, 0, w, ht};
    return picture.surfaces->SetPictureSize(fits ? &rect : nullptr, surfaceMemory && fits ? 1 : 0,
                                                 TPicturePlanes::kBorder, false);
}

std::uint32_t concurrentStreams(const RecordHeader& h, std::uint8_t conversion) {
    const std::uint32_t n = streamTotal(h);
    return n >= 2 && usePool(conversion) ? n : 1;
}

} // namespace

// ------------------------------------------------------------ entry points

std::uint64_t decodeMemoryEstimate(const RecordHeader& h, std::uint32_t concurrent, std::uint8_t conversion) {
    const FrameGrid g = frameGrid(h);
    const std::uint64_t plane = g.paddedPlaneBytes;
    std::uint64_t work = 6 * plane + 9 * g.blocks;
    if (h.mode == 8) work += mode8ExpansionCapacity(g);
    std::uint64_t need = h.recordSize + 4 * plane + std::max<std::uint32_t>(concurrent, 1) * work;
    if (conversion == 2) need += 3 * plane + 9 * g.blocks;
    return need;
}

int decodeRecordBytes(CodecState& codec, PictureBuffer& picture, const RecordHeader& h, std::span<const std::uint8_t> bytes,
                      const RecordDecodeOptions& options) {
    if (!picture.surfaces) return kUnpackNoMemory;
    if (bytes.size() < h.recordSize || h.width < 1 || h.height < 1) return kUnpackFailed;
    bytes = bytes.first(static_cast<std::size_t>(h.recordSize));
    if (decodeMemoryEstimate(h, concurrentStreams(h, options.conversion), options.conversion) - h.recordSize >
        platform::physicalMemoryBytes())
        return kUnpackNoMemory;

    // A previous picture of another size is no previous picture.
    std::int32_t previousWidth = 0, previousHeight = 0;
    if (picture.previousPictureSize(previousWidth, previousHeight) &&
        (previousWidth != static_cast<std::int32_t>(h.width) || previousHeight != static_cast<std::int32_t>(h.height)))
        picture.dropPreviousPicture();

    describePicture(picture, h);
    picture.paintable = false;
    if (!prepareOutput(codec, picture, h, options.surfaceMemory)) return kUnpackNoMemory;

    long double drawSeconds = -1;
    RecordJob job;
    job.codec = &codec;
    job.picture = &picture;
    job.header = &h;
    job.bytes = bytes;
    job.options = options;
    job.options.surfaceMemory = options.surfaceMemory && fitsScreen(h.width, h.height, codec.screen);
    job.drawSeconds = &drawSeconds;
    const std::uint32_t n = streamTotal(h);
    int result;
    if (n < 2) result = decodeStream(codec, picture, streamJob(job, 0, 1));
    else result = runStreams(job, n);
    if (result >= 1 && drawSeconds >= 0) noteDrawInterval(drawSeconds, n);
    picture.paintable = result >= 1;
    picture.currentHeader = picture.infoHeader;
    return result;
}

int decompressRecord(CodecState& codec, PictureBuffer& picture, DecompressionCall& call) {
    codec.copyLength = 0;
    const std::uint64_t position = call.recordPosition ? *call.recordPosition : 0;
    RecordSource source;
    if (int r = source.open(call); r < 1) return r;

    RecordHeader h;
    if (int r = source.readHeader(position, h); r < 1) return r;
    if (call.codecMode && *call.codecMode == 0) *call.codecMode = h.mode;
    if (call.recordPosition) *call.recordPosition = h.nextRecord;
    // A still picture never draws on the GPU.
    if (position == 0 && h.nextRecord == 0) forgetPixSprayModule();
    if (call.frameRate) *call.frameRate = h.frameRate;
    if (call.frameDropped && *call.frameDropped) return kUnpackDone;

    noteFrameInterval();

    if (call.conversion == 1) {
        // The copy conversion takes the record's bytes as they are, with room
        // for the header to grow to the linked size.
        const std::uint64_t growth = h.headerSize < kLinkedHeaderSize ? kLinkedHeaderSize - h.headerSize : 0;
        const std::uint64_t size = h.recordSize + growth;
        if (codec.copyBuffer.size() == size || codec.copyBuffer.allocate(size)) {
            if (!source.readRecord(h, codec.copyBuffer.data())) return kUnpackFailed;
            codec.copyLength = h.recordSize;
            return kUnpackDone;
        }
        // Without the buffer the record is decoded and packed again instead.
    }

    if (call.threadCount && *call.threadCount == 0)
        *call.threadCount = h.streamCount < 2 || h.mode < 2 ? 1 : static_cast<std::int32_t>(h.streamCount);

    if (decodeMemoryEstimate(h, concurrentStreams(h, call.conversion), call.conversion) >
        platform::physicalMemoryBytes())
        return kUnpackNoMemory;
    TrackedBuffer<std::uint8_t> bytes;
    if (!bytes.allocate(static_cast<std::size_t>(h.recordSize))) return kUnpackNoMemory;
    if (!source.readRecord(h, bytes.data())) return kUnpackFailed;

    RecordDecodeOptions options;
    options.fastPaint = call.fastPaint;
    options.surfaceMemory = call.surfaceMemory;
    options.conversion = call.conversion;
    return decodeRecordBytes(codec, picture, h, {bytes.data(), bytes.size()}, options);
}

TWideString decompressionStatusText() { return statistics().status; }

void clearDecompressionStatusText() { statistics().status = TWideString(); }

void resetDecompressionTiming(long double now) {
    Statistics& s = statistics();
    s.previousRecordTime = now;
    s.frameInterval = 0;
    s.drawInterval = 0;
}

long double smoothedFrameInterval() { return statistics().frameInterval; }
long double smoothedDrawInterval() { return statistics().drawInterval; }

void destroyDecompressionFileCache() { dropCache(); }

void finishDecompression(CodecState& codec) { codec.decompressionPool.reset(); }

void releaseDecompressionState() {
    dropCache();
    clearDecompressionStatusText();
}

void setDecodeThreading(DecodeThreading threading) { threadingChoice = threading; }

} // namespace vexel
