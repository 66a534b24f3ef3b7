// Decoding a record held in memory: the output choice, the picture header
// and the streams, in the calling thread or in a pool of worker threads, one
// per stream, kept in the codec state from record to record (the protocol is
// described in pipeline/decompression_pipeline.h). Apart from the pipeline's
// reading of files, its read-ahead cache, its statistics and its messages,
// so that a program that only decodes records in memory links none of them.
#include "pipeline/decompression_pipeline.h"

#include "base/informaciyaprocessora.h"
#include "base/memdiag.h"
#include "codec/frame_decoder.h"
#include "codec/pixspray.h"
#include "pipeline/pool_threads.h"
#include "pipeline/screen.h"
#include "platform/system.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace vexel {

namespace {

std::atomic<Threading> threadingChoice{Threading::Automatic};

// ------------------------------------------------------------ streams

// One record as every stream sees it.
struct RecordJob {
    CodecState* codec = nullptr;
    PictureBuffer* picture = nullptr;
    const RecordHeader* header = nullptr;
    std::span<const std::uint8_t> bytes; // the whole record
    RecordDecodeOptions options;
    long double* drawSeconds = nullptr;
    std::atomic<bool>* reusesPrevious = nullptr;
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
    s.fastPaint = r.options.fastPaint;
    s.mode = h.mode;
    s.conversion = r.options.conversion;
    s.width = h.width;
    s.height = h.height;
    s.blockSize = h.blockSize;
    s.chromaStep = h.chromaStep;
    s.coefShifts = h.coefShifts;
    s.drawSeconds = r.drawSeconds;
    s.reusesPrevious = r.reusesPrevious;
    s.legacyFlags = r.codec->legacyFlags;
    s.repack = r.options.repack;
    return s;
}

// A record's result from its streams' results: the first negative one, else
// the first failure that is a stream's own (not a sibling's), else kDone.
Result recordResult(const Result* results, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i)
        if (results[i] < 0) return results[i];
    for (std::uint32_t i = 0; i < n; ++i)
        if (results[i] < 1 && results[i].reason() != Reason::SiblingFailed) return results[i];
    for (std::uint32_t i = 0; i < n; ++i)
        if (results[i] < 1) return results[i];
    return kDone;
}

// Streams 1..n one after another in this thread; the first that fails ends the record.
Result runSequentially(const RecordJob& job, std::uint32_t n) {
    for (std::uint32_t i = 1; i <= n; ++i) {
        PictureBufferTarget target(*job.picture);
        const Result r = decodeStream(target, streamJob(job, i, n));
        if (r < 1) return r;
    }
    return kDone;
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

    Result run(const RecordJob& job) {
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = &job;
        parsed_ = done_ = 0;
        stage_ = Stage::Parse;
        std::fill(reported_.begin(), reported_.end(), 0);
        std::fill(parseResults_.begin(), parseResults_.end(), kFailed);
        std::fill(results_.begin(), results_.end(), kFailed);
        ++generation_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return parsed_ == streams_; });
        const bool parsedAll = recordResult(parseResults_.data(), streams_) == kDone;
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
        bool parsedWaitForGo(Result parseResult) override { return pool->parsedWaitForGo(index, parseResult); }
        DecompressionPool* pool = nullptr;
        std::uint32_t index = 0;
    };

    // Stores and reports a stream's parse result once; the caller holds the lock.
    void reportParsed(std::uint32_t i, Result result) {
        if (reported_[i]) return;
        reported_[i] = 1;
        parseResults_[i] = result;
        ++parsed_;
        changed_.notify_all();
    }

    bool parsedWaitForGo(std::uint32_t i, Result result) {
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
            PictureBufferTarget target(*job->picture);
            const Result result = decodeStream(target, s);
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
    std::vector<Result, TrackedAllocator<Result>> parseResults_, results_;
    std::vector<std::uint8_t, TrackedAllocator<std::uint8_t>> reported_;
    const RecordJob* job_ = nullptr;
    std::uint64_t generation_ = 0;
    std::uint32_t parsed_ = 0, done_ = 0;
    Stage stage_ = Stage::Parse;
};

bool usePool(const RecordDecodeOptions& options) {
    if (options.conversion != 0 || options.oneThread) return false;
    switch (threadingChoice.load()) {
    case Threading::Sequential: return false;
    case Threading::Pool: return true;
    case Threading::Automatic: break;
    }
    return processorCount() >= 2 && !pixSprayModule();
}

Result runStreams(const RecordJob& job, std::uint32_t n) {
    CodecState& codec = *job.codec;
    auto* pool = dynamic_cast<DecompressionPool*>(codec.decompressionPool.get());
    if (codec.decompressionPool && (!pool || pool->streams() != n)) {
        codec.decompressionPool.reset();
        pool = nullptr;
    }
    if (!usePool(job.options)) return runSequentially(job, n);
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
    const Result result = pool->run(job);
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

} // namespace

std::uint32_t concurrentStreams(const RecordHeader& h, const RecordDecodeOptions& options) {
    const std::uint32_t n = streamTotal(h);
    return n >= 2 && usePool(options) ? n : 1;
}

std::uint64_t decodeMemoryEstimate(const RecordHeader& h, std::uint32_t concurrent, std::uint8_t conversion) {
    const FrameGrid g = frameGrid(h);
    const std::uint64_t plane = g.paddedPlaneBytes;
    std::uint64_t work = 6 * plane + 9 * g.blocks;
    if (h.mode == 8) work += mode8ExpansionCapacity(g);
    std::uint64_t need = h.recordSize + 4 * plane + std::max<std::uint32_t>(concurrent, 1) * work;
    if (conversion == 2) need += 3 * plane + 9 * g.blocks;
    return need;
}

Result decodeRecordBytes(CodecState& codec, PictureBuffer& picture, const RecordHeader& h, std::span<const std::uint8_t> bytes,
                         const RecordDecodeOptions& options, long double* measuredDraw, bool* reusesPrevious) {
    if (measuredDraw) *measuredDraw = -1;
    if (reusesPrevious) *reusesPrevious = false;
    if (!picture.surfaces) return kNoMemory.because(Reason::NoPixels);
    if (h.cutShort) return kFailed.because(Reason::RecordCut);
    if (bytes.size() < h.recordSize || h.width < 1 || h.height < 1) return kFailed.because(Reason::ReadFailed);
    bytes = bytes.first(static_cast<std::size_t>(h.recordSize));
    if (decodeMemoryEstimate(h, concurrentStreams(h, options), options.conversion) - h.recordSize >
        platform::physicalMemoryBytes())
        return kNoMemory;

    // A previous picture of another size is no previous picture.
    std::int32_t previousWidth = 0, previousHeight = 0;
    if (picture.previousPictureSize(previousWidth, previousHeight) &&
        (previousWidth != static_cast<std::int32_t>(h.width) || previousHeight != static_cast<std::int32_t>(h.height)))
        picture.dropPreviousPicture();

    describePicture(picture, h);
    picture.paintable = false;
    const bool fits = fitsScreen(h.width, h.height, codec.screen);
    if (!picture.prepare(static_cast<std::int32_t>(h.width), static_cast<std::int32_t>(h.height),
                         usesPlanes(codec, picture, h), fits, options.surfaceMemory))
        return kNoMemory.because(Reason::NoPixels);

    long double drawSeconds = -1;
    RecordJob job;
    job.codec = &codec;
    job.picture = &picture;
    job.header = &h;
    job.bytes = bytes;
    job.options = options;
    job.drawSeconds = &drawSeconds;
    std::atomic<bool> reused{false};
    job.reusesPrevious = &reused;
    const std::uint32_t n = streamTotal(h);
    Result result = kDone;
    if (n < 2) {
        PictureBufferTarget target(picture);
        result = decodeStream(target, streamJob(job, 0, 1));
    } else {
        result = runStreams(job, n);
    }
    if (measuredDraw && result >= 1) *measuredDraw = drawSeconds;
    if (reusesPrevious) *reusesPrevious = reused.load();
    picture.paintable = result >= 1;
    picture.currentHeader = picture.infoHeader;
    return result;
}

void finishDecompression(CodecState& codec) { codec.decompressionPool.reset(); }

void setDecodeThreading(Threading threading) { threadingChoice = threading; }

} // namespace vexel
