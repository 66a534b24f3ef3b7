#include "pipeline/decompression_pipeline.h"

#include "base/dlitelnostintervalavremeni.h"
#include "base/informaciyaprocessora.h"
#include "base/memdiag.h"
#include "base/sistemniesoobzheniya.h"
#include "base/vvodchisel.h"
#include "codec/frame_decoder.h"
#include "codec/pixspray.h"
#include "pipeline/pool_threads.h"
#include "pipeline/record_file.h"
#include "pipeline/screen.h"
#include "pipeline/tfayloviykesh.h"
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
    // kDone, or kFileError (message shown).
    Result open(const DecompressionCall& call) {
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
            if (cache_) return kDone;
        }
        if (!file_.open(call.path.view(), platform::OpenMode::ReadExisting)) {
            showSystemError(platform::lastError());
            return kFileError.because(Reason::CannotOpen);
        }
        return kDone;
    }

    // The header of the record at position. Through the cache a failed seek
    // or read is kFileError; directly it is kFailed.
    Result readHeader(std::uint64_t position, RecordHeader& header) {
        if (!cache_) {
            const Result r = readRecordHeader(file_, position, header);
            return r == kDone || r == kNotVx ? r : kFailed.because(r.reason());
        }
        std::uint8_t bytes[kRecordHeaderLimit];
        std::int64_t got = 0;
        if (!seekCache(position) || (got = cache_->read(bytes, sizeof bytes)) <= 0)
            return kFileError.because(Reason::ReadFailed);
        const std::int64_t size = cache_->fileSize();
        if (size <= 0) return kFileError.because(Reason::ReadFailed);
        const Result parsed =
            parseRecordHeader({bytes, static_cast<std::size_t>(got)}, position, static_cast<std::uint64_t>(size), header);
        return parsed == kDone ? kDone : kNotVx.because(parsed.reason());
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

} // namespace

// ------------------------------------------------------------ entry points

Result decompressRecord(CodecState& codec, PictureBuffer& picture, DecompressionCall& call) {
    if (call.copy) call.copy->length = 0;
    const std::uint64_t position = call.recordPosition ? *call.recordPosition : 0;
    RecordSource source;
    if (const Result r = source.open(call); r < 1) return r;

    RecordHeader h;
    if (const Result r = source.readHeader(position, h); r < 1) return r;
    if (call.read) {
        *call.read = RecordRead();
        call.read->headerRead = true;
        call.read->mode = h.mode;
        call.read->frameRate = h.frameRate;
    }
    // Neither decoded nor copied: the file has lost part of the record.
    if (h.cutShort) return kFailed.because(Reason::RecordCut);
    if (call.recordPosition) *call.recordPosition = h.nextRecord;
    // A still picture never draws on the GPU.
    if (position == 0 && h.nextRecord == 0) forgetPixSprayModule();
    if (call.frameDropped && *call.frameDropped) return kDone;

    noteFrameInterval();

    if (call.conversion == 1 && call.copy) {
        // The copy conversion takes the record's bytes as they are, with room
        // for the header to grow to the linked size.
        const std::uint64_t growth = h.headerSize < kLinkedHeaderSize ? kLinkedHeaderSize - h.headerSize : 0;
        const std::uint64_t size = h.recordSize + growth;
        CopiedRecord& copy = *call.copy;
        if (copy.bytes.size() == size || copy.bytes.allocate(size)) {
            if (!source.readRecord(h, copy.bytes.data())) return kFailed.because(Reason::ReadFailed);
            copy.length = h.recordSize;
            return kDone;
        }
        // Without the buffer the record is decoded and packed again instead.
    }

    if (call.read) {
        call.read->threadsKnown = true;
        call.read->threads = h.streamCount < 2 || h.mode < 2 ? 1 : static_cast<std::int32_t>(h.streamCount);
    }

    RecordDecodeOptions options;
    options.fastPaint = call.fastPaint;
    options.surfaceMemory = call.surfaceMemory;
    options.conversion = call.conversion;
    options.repack = call.repack;
    if (decodeMemoryEstimate(h, concurrentStreams(h, options), call.conversion) > platform::physicalMemoryBytes())
        return kNoMemory;
    TrackedBuffer<std::uint8_t> bytes;
    if (!bytes.allocate(static_cast<std::size_t>(h.recordSize))) return kNoMemory;
    if (!source.readRecord(h, bytes.data())) return kFailed.because(Reason::ReadFailed);

    long double drawSeconds = -1;
    bool reusesPrevious = false;
    const Result result =
        decodeRecordBytes(codec, picture, h, {bytes.data(), bytes.size()}, options, &drawSeconds, &reusesPrevious);
    if (result >= 1 && drawSeconds >= 0) noteDrawInterval(drawSeconds, streamTotal(h));
    if (result >= 1 && call.read) {
        call.read->decoded = true;
        call.read->reusesPrevious = reusesPrevious;
    }
    return result;
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

void releaseDecompressionState() {
    dropCache();
    clearDecompressionStatusText();
}

} // namespace vexel
