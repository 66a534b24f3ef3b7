#include "pipeline/compression_pipeline.h"

#include "base/informaciyaprocessora.h"
#include "base/matematicheskieoperacii.h"
#include "base/operaciispamyatyu.h"
#include "codec/block_record.h"
#include "codec/container.h"
#include "codec/frame_encoder.h"
#include "codec/legacy_flags.h"
#include "codec/payload_writer.h"
#include "pipeline/pool_threads.h"
#include "pipeline/screen.h"
#include "platform/files.h"
#include "platform/test_hooks.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexel {

namespace {

std::atomic<Threading> threadingChoice{Threading::Automatic};

struct StreamWork {
    std::uint32_t index = 0; // 0 for a single stream, else 1..n
    EncoderGrid grid;
    BlockMap map;
    TrackedBuffer<std::uint8_t> payload;
    std::size_t length = 0;
    Result result = kDone;
};

// Everything one frame's streams share. The sources are read-only while the
// streams run; each stream writes only its own StreamWork and its band's rows
// of the colour planes.
struct FrameWork {
    const CompressionJob* job = nullptr;
    std::uint32_t streams = 1;
    const RepackFrame* repack = nullptr; // a repack conversion's decoded frame
    SourcePlanes current, previous;
    bool keepTest = false;
    EncoderSettings settings;
    std::uint32_t chromaStep = 4;
    std::uint32_t headerSize = 0;
    std::uint8_t legacyFlags = 0;
    ColourPlanes colour;
    std::vector<StreamWork> work;

    RecordSink* sink = nullptr;
    std::uint64_t recordStart = 0;
    TrackedBuffer<std::uint8_t> header;
    bool writeFailed = false;
};

// A decoded gradient repacked where only the first anchor is carried (modes 3
// and 8 with anchors of at most 4): the anchor that gives its direction
// modulo pi, the slopes turned round when that anchor points the other way.
void reanchorForOneByte(std::uint8_t* r) {
    const FirstAnchor anchor = nearestFirstAnchor(recordDirection(r));
    if (anchor.flip)
        for (int c = 0; c < 3; ++c) {
            std::uint8_t& slope = r[kBaseByte[c] + 1];
            slope = static_cast<std::uint8_t>(static_cast<std::int8_t>(std::max(-127, -static_cast<std::int8_t>(slope))));
        }
    r[kRecordFirstAnchor] = anchor.byte;
    r[kRecordSecondAnchor] = 0;
}

// The repack conversion's block decisions for a band: the decoded records of
// the band's blocks, detail and gradient as they are, every other kind (kept
// and undrawn blocks) and every other row the initial type.
bool repackBand(const RepackFrame& source, const EncoderSettings& settings, const EncoderGrid& grid,
                BlockMap& map) {
    if (!map.records.allocate(static_cast<std::size_t>(9 * grid.blocks()))) return false;
    const std::uint8_t* from = source.bytes.data(); // the records come first
    for (std::uint64_t i = 0; i < grid.blocks(); ++i) {
        std::uint8_t* r = map.record(i);
        const std::uint64_t row = i / grid.columns;
        const std::uint8_t type = from[9 * i];
        if (row >= grid.firstRow && row < grid.endRow && (type == kTypeDetail || type == kTypeGradient))
            std::memcpy(r, from + 9 * i, 9);
        else
            r[0] = settings.initialType;
        if (r[0] == kTypeGradient && settings.firstAnchorOnly) reanchorForOneByte(r);
    }
    return true;
}

Result encodeBand(FrameWork& f, StreamWork& s) {
    if (platform::testStreamFails(s.index, platform::StreamFault::Encode)) return kFailed.because(Reason::EncodingFailed);
    const std::uint32_t n = f.streams;
    s.grid = EncoderGrid::forStream(f.current.width, f.current.height, f.settings.B, s.index, n);
    if (f.repack) {
        // The decoded luma and chroma planes are used as they are.
        if (!repackBand(*f.repack, f.settings, s.grid, s.map)) return kFailed.because(Reason::EncodingFailed);
    } else {
        if (!analyseBlocks(f.current, f.settings, s.grid, s.map)) return kFailed.because(Reason::EncodingFailed);
        if (f.keepTest) markKeepBlocks(f.current, f.previous, f.settings, s.grid, f.job->mode, s.map);
        if (!computeColourPlanes(f.current, s.grid, f.chromaStep, f.colour))
            return kFailed.because(Reason::EncodingFailed);
    }
    PayloadJob payload;
    payload.mode = f.job->mode;
    payload.legacyFlags = f.legacyFlags;
    payload.chromaStep = f.chromaStep;
    payload.headerSize = s.index <= 1 ? f.headerSize : 0;
    const Result result = buildStreamPayload(s.map, f.colour, s.grid, payload, s.payload, s.length, s.map.motionSection);
    s.map = BlockMap(); // the block decisions are in the payload now
    return result;
}

// Appends one stream at the end of the file: the header first for the stream
// that carries it, the stream's slot in the table, then its payload.
Result writeStream(FrameWork& f, StreamWork& s) {
    RecordSink& sink = *f.sink;
    if (s.index <= 1) {
        if (!sink.writeAt(f.recordStart, f.header.data(), f.headerSize)) return kFileError.because(Reason::CannotWrite);
    }
    const std::int64_t end = sink.size();
    if (end < 0) return kFileError.because(Reason::CannotWrite);
    if (s.index >= 1) {
        std::uint64_t offset = static_cast<std::uint64_t>(end) - f.recordStart;
        if (offset > 0xFFFFFFFFu || !writeStreamSlot(sink, f.recordStart, s.index, static_cast<std::uint32_t>(offset)))
            return kFileError.because(Reason::CannotWrite);
    }
    // A test's failure comes after the header and the slot: a torn stream.
    if (platform::testStreamFails(s.index, platform::StreamFault::Write) ||
        (s.length && !sink.writeAt(static_cast<std::uint64_t>(end), s.payload.data(), s.length)))
        return kFileError.because(Reason::CannotWrite);
    s.payload.reset();
    return kDone;
}

// The pool: one thread per stream, a job generation, a count of streams done
// with each stage and a write turn, all under one mutex and one condition
// variable. Each worker stores its result before it reports a stage done; a
// failed stream makes the driver skip the write stage, and every worker still
// reports that stage, so no stream waits for a predecessor that never writes.
class CompressionPool final : public PoolThreads {
public:
    explicit CompressionPool(std::uint32_t streams) : streams_(streams) {
        startThreads(streams, [this](std::uint32_t i) { worker(i); });
    }
    ~CompressionPool() override { stopAndJoin(); }
    std::uint32_t streams() const { return streams_; }

    void run(FrameWork& frame) {
        std::unique_lock<std::mutex> lock(mutex_);
        frame_ = &frame;
        ++generation_;
        encoded_ = 0;
        written_ = 0;
        turn_ = 0;
        writeOpen_ = false;
        skipWrite_ = false;
        changed_.notify_all();
        changed_.wait(lock, [&] { return encoded_ == streams_; });
        bool ok = true;
        for (const StreamWork& s : frame.work) ok = ok && s.result >= 1;
        (ok ? writeOpen_ : skipWrite_) = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return written_ == streams_; });
        frame_ = nullptr;
    }

private:
    void worker(std::uint32_t i) {
        std::uint64_t seen = 0;
        for (;;) {
            FrameWork* frame;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || generation_ != seen; });
                if (stop_) return;
                seen = generation_;
                frame = frame_;
            }
            StreamWork& s = frame->work[i];
            const Result result = encodeBand(*frame, s);
            bool write;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                s.result = result;
                ++encoded_;
                changed_.notify_all();
                changed_.wait(lock, [&] { return stop_ || writeOpen_ || skipWrite_; });
                if (stop_) return;
                write = writeOpen_;
                if (write) changed_.wait(lock, [&] { return stop_ || turn_ == i; });
                if (stop_) return;
            }
            // Only the stream whose turn it is gets here, so it writes alone.
            if (write && !frame->writeFailed) {
                const Result w = writeStream(*frame, s);
                if (w < 1) {
                    s.result = w;
                    frame->writeFailed = true;
                }
            }
            std::lock_guard<std::mutex> lock(mutex_);
            ++turn_;
            ++written_;
            changed_.notify_all();
        }
    }

    std::uint32_t streams_;
    FrameWork* frame_ = nullptr;
    std::uint64_t generation_ = 0;
    std::uint32_t encoded_ = 0, written_ = 0, turn_ = 0;
    bool writeOpen_ = false, skipWrite_ = false;
};

// Streams one after another in this thread: the same bytes as the pool.
Result runSequentially(FrameWork& f) {
    for (StreamWork& s : f.work) {
        s.result = encodeBand(f, s);
        if (s.result < 1) return s.result;
    }
    for (StreamWork& s : f.work) {
        s.result = writeStream(f, s);
        if (s.result < 1) return s.result;
    }
    return kDone;
}

Result runInPool(CodecState& codec, FrameWork& f) {
    auto* pool = dynamic_cast<CompressionPool*>(codec.compressionPool.get());
    if (pool && pool->streams() != f.streams) {
        codec.compressionPool.reset();
        pool = nullptr;
    }
    if (!pool) {
        auto fresh = std::make_unique<CompressionPool>(f.streams);
        if (!fresh->complete()) return runSequentially(f);
        pool = fresh.get();
        codec.compressionPool = std::move(fresh);
    }
    pool->run(f);
    Result result = kDone;
    for (const StreamWork& s : f.work)
        if (s.result < 1) {
            result = s.result;
            break;
        }
    if (result < 1) codec.compressionPool.reset(); // a failed frame releases the pool
    return result;
}

bool usePool(const CompressionJob& job, std::uint32_t streams) {
    if (streams < 2 || job.conversion != 0) return false;
    switch (threadingChoice.load()) {
    case Threading::Sequential: return false;
    case Threading::Pool: return true;
    case Threading::Automatic: break;
    }
    return processorCount() > 1;
}

// The current picture as encoder source planes; a locked surface stays locked
// in `access` until the frame is done.
bool currentSource(PictureBuffer& picture, PictureAccess& access, SourcePlanes& source) {
    const std::uint32_t w = static_cast<std::uint32_t>(picture.pictureWidth());
    const std::uint32_t h = static_cast<std::uint32_t>(picture.pictureHeight());
    if (picture.pictureInPlanes()) {
        if (picture.planes.width() != picture.pictureWidth() || picture.planes.height() != picture.pictureHeight()) return false;
        source = SourcePlanes::fromPlanes(picture.planes.data(), w, h);
        return true;
    }
    OffScreenBuffer* g = picture.surfaces;
    if (!g || !g->lockPicture(access)) return false;
    if (access.width != picture.pictureWidth() || access.height != picture.pictureHeight()) {
        g->unlockPicture(access);
        access = PictureAccess();
        return false;
    }
    source = SourcePlanes::fromSurface(access.buffer.bits, access.buffer.pitch, w, h,
                                       static_cast<std::uint32_t>(access.border), g->redShift(), g->greenShift(),
                                       g->blueShift());
    return true;
}

// The previous source picture, when there is one of the current size. -3
// when its surface cannot be locked or has another pitch than the current one.
int previousSource(PictureBuffer& picture, const PictureAccess& current, SurfaceAccess& locked, SourcePlanes& source) {
    std::int32_t w = 0, h = 0;
    if (!picture.previousPictureSize(w, h) || w != picture.pictureWidth() || h != picture.pictureHeight()) return 0;
    if (!picture.frameBuffer.empty()) {
        source = SourcePlanes::fromPlanes(picture.frameBuffer.data(), static_cast<std::uint32_t>(w),
                                          static_cast<std::uint32_t>(h));
        return 1;
    }
    TSurface* surface = picture.surfaceReference;
    if (!surface || surface == current.surface) return 0;
    if (!surface->lock(locked)) return kNoMemory;
    if (current.surface && locked.pitch != current.buffer.pitch) {
        surface->unlock();
        locked = SurfaceAccess();
        return kNoMemory;
    }
    const OffScreenBuffer* g = picture.surfaces;
    source = SourcePlanes::fromSurface(locked.bits, locked.pitch, static_cast<std::uint32_t>(w),
                                       static_cast<std::uint32_t>(h), TPicturePlanes::kBorder,
                                       g ? g->redShift() : 16, g ? g->greenShift() : 8, g ? g->blueShift() : 0);
    return 1;
}

// A record sink over an open file. It keeps the system's error of its
// first failing write (the writes of a record's streams may come from the
// pool's threads, one after another).
class FileSink final : public RecordSink {
public:
    void use(platform::File& file) { file_ = &file; }
    std::int64_t size() override { return file_ ? file_->size() : -1; }
    bool writeAt(std::uint64_t position, const void* bytes, std::size_t n) override {
        if (file_ && file_->seek(position) && file_->write(bytes, n)) return true;
        int expected = 0;
        error_.compare_exchange_strong(expected, file_ ? platform::lastError() : EBADF);
        return false;
    }
    bool truncate(std::uint64_t size) override { return file_ && file_->truncate(size); }
    int error() const { return error_.load(); }

private:
    platform::File* file_ = nullptr;
    std::atomic<int> error_{0};
};

// Where one record goes: a new file of its own for a single picture, put in
// place once the record is whole; or the grouped output's file (made with
// the run's first record), whose new record is cut off again when it
// fails; or the caller's memory, appended.
struct RecordOutput {
    platform::NewFile single;
    FileSink fileSink;
    RecordSink* sink = &fileSink;
    std::uint64_t recordStart = 0;
    bool appending = false;

    // A file step failed: the system's reason goes to the caller.
    static Result fileFailure(const CompressionJob& job, Reason reason, int error) {
        if (job.fileError) *job.fileError = error ? error : EIO;
        return kFileError.because(reason);
    }

    Result open(const CompressionJob& job) {
        appending = job.groupFlag && !job.firstFrame;
        if (job.memory) {
            sink = job.memory;
        } else if (!job.groupFlag) {
            if (!platform::mayReplace(job.outputPath.view()) || !single.create(job.outputPath.view()))
                return fileFailure(job, Reason::CannotWrite, platform::lastError());
            fileSink.use(single.file());
        } else if (!job.grouped) {
            return kFileError.because(Reason::NoOutput);
        } else if (GroupedOutput& grouped = *job.grouped; job.firstFrame) {
            // A new grouped output: the one before it (if any) is finished first.
            if (grouped.finish() < 1) return fileFailure(job, Reason::CannotReplace, platform::lastError());
            if (!platform::mayReplace(job.outputPath.view()) || !grouped.file.create(job.outputPath.view()))
                return fileFailure(job, Reason::CannotWrite, platform::lastError());
            grouped.target = job.outputPath;
            grouped.targetExisted = platform::nameExists(job.outputPath.view());
            grouped.records = 0;
            fileSink.use(grouped.file.file());
        } else if (!grouped.isOpen()) {
            return fileFailure(job, Reason::CannotWrite, EBADF);
        } else {
            fileSink.use(grouped.file.file());
        }
        const std::int64_t size = sink->size();
        if (size < 0) {
            const int error = platform::lastError();
            finish(job, kFileError.because(Reason::CannotWrite));
            return fileFailure(job, Reason::CannotWrite, error);
        }
        recordStart = static_cast<std::uint64_t>(size);
        return kDone;
    }

    // Links the record last (the previous record points here only once this
    // one is whole), then keeps or discards it. Returns the record's result.
    Result finish(const CompressionJob& job, Result result) {
        const bool linkPrevious = result >= 1 && appending && job.lastRecordOffset &&
                                  *job.lastRecordOffset + kLinkedHeaderSize <= recordStart;
        if (linkPrevious && !linkPreviousRecord(*sink, *job.lastRecordOffset, recordStart))
            result = kFileError.because(Reason::CannotWrite);
        if (result >= 1 && job.groupFlag && job.lastRecordOffset) *job.lastRecordOffset = recordStart;
        if (result.code() == -1 && job.fileError && fileSink.error()) *job.fileError = fileSink.error();

        if (job.memory) {
            if (result < 1) sink->truncate(recordStart);
            return result;
        }
        if (job.groupFlag) {
            if (result < 1) job.grouped->file.file().truncate(recordStart);
            else ++job.grouped->records;
            if (result >= 1) platform::testStopPoint("after-record");
            return result;
        }
        if (result < 1) {
            single.discard();
            return result;
        }
        platform::testStopPoint("after-record");
        if (!single.replace(job.outputPath.view())) {
            const int error = platform::lastError();
            single.discard();
            return fileFailure(job, Reason::CannotReplace, error);
        }
        return kDone;
    }
};

// The resolution, in pixels per metre, that a copied header without one gets.
constexpr std::uint32_t kCopiedPixelsPerMeter = 76200;

// The copy conversion: the source record held in copy.bytes is
// written again with its header grown to the linked size (71 bytes), the
// fields the old header lacked filled in, the link fields and the rate of
// the new chain, and - in modes 2 to 7, whose section ends count from the
// record start - every section end moved by the inserted bytes. The buffer
// holds the record's length plus the room for the insertion.
Result copyRecord(const CodecState& codec, CopiedRecord& copy, const CompressionJob& job) {
    std::uint8_t* bytes = copy.bytes.data();
    const std::uint64_t length = copy.length;
    if (!bytes || length > copy.bytes.size()) return kNoMemory;

    // The one parser checks the header again; the old chain's link is not
    // this record's business (the copy ends its own chain), so it is cleared.
    std::uint8_t head[kRecordHeaderLimit] = {};
    const std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(length, kRecordHeaderLimit));
    std::memcpy(head, bytes, got);
    if (got >= kNextRecordOffset + 8) std::memset(head + kNextRecordOffset, 0, 8);
    RecordHeader h;
    if (const Result parsed = parseRecordHeader({head, got}, 0, length, h); parsed != kDone)
        return kNotVx.because(parsed.reason());
    if (h.cutShort) return kFailed.because(Reason::RecordCut);

    const std::uint32_t growth = h.headerSize < kLinkedHeaderSize ? kLinkedHeaderSize - h.headerSize : 0;
    if (length + growth > copy.bytes.size()) return kNoMemory;
    if (growth) {
        std::memmove(bytes + kLinkedHeaderSize, bytes + h.headerSize, static_cast<std::size_t>(length - h.headerSize));
        std::memset(bytes + h.headerSize, 0, growth);
        // Fields the old header lacked get the values older programs assumed.
        if (h.headerSize < 39) {
            storeU32(bytes + kPixelsPerMeterOffset, kCopiedPixelsPerMeter);
            storeU32(bytes + kPixelsPerMeterOffset + 4, kCopiedPixelsPerMeter);
        }
        if (h.headerSize < 40) bytes[kModeOffset] = 0;
        if (h.headerSize < 41) bytes[kChromaStepOffset] = 2;
        if (h.headerSize < 47) std::memcpy(bytes + kCoefShiftsOffset, kDefaultCoefShifts.data(), 6);
        storeU32(bytes + kHeaderSizeOffset, kLinkedHeaderSize);
    }
    storeU64(bytes + kNextRecordOffset, 0);
    storeU64(bytes + kPrevRecordOffset,
           job.groupFlag && job.lastRecordOffset && !job.firstFrame ? *job.lastRecordOffset : 0);
    if (job.frameRate) {
        const double rate = std::fabs(*job.frameRate);
        std::memcpy(bytes + kFrameRateOffset, &rate, 8);
    }
    if (growth && h.mode >= 2 && h.mode <= 7) {
        // Walked in the old positions: the stream as it was, the ends as they were.
        const std::span<std::uint8_t> stream(bytes + kLinkedHeaderSize, static_cast<std::size_t>(length - h.headerSize));
        const std::int64_t areaEnd = blockAreaEnd(stream, blockAreaLayout(h, (codec.legacyFlags & kLegacyChromaAnchor) != 0));
        if (areaEnd >= 0) moveSectionEnds(stream, static_cast<std::size_t>(areaEnd), sectionEndBias(h, 0), growth);
    }

    RecordOutput output;
    if (const Result opened = output.open(job); opened < 1) return opened;
    const Result result = output.sink->writeAt(output.recordStart, bytes, static_cast<std::size_t>(length + growth)) ? kDone
                                                                                                           : kFileError;
    return output.finish(job, result);
}

} // namespace

void setStreamThreading(Threading threading) { threadingChoice = threading; }

bool advanceKeyframeCounter(std::uint32_t& counter, const double* frameRate) {
    if (!frameRate || !(*frameRate > 0)) {
        counter = 1;
        return true;
    }
    const std::int64_t interval = roundToInt(*frameRate);
    ++counter;
    if (static_cast<std::int64_t>(counter) >= interval) counter = 1;
    return counter == 1;
}

Result compressFrame(CodecState& codec, PictureBuffer& picture, const CompressionJob& asked) {
    if (asked.mode > kMaxMode) return kNotVx.because(Reason::UnknownMode);
    // A grouped output starts with the first record written to it in this
    // codec state, whatever the caller thinks: a chain never continues one
    // that is not open.
    CompressionJob job = asked;
    if (job.groupFlag && !job.memory && job.grouped &&
        (!job.grouped->isOpen() || !(job.grouped->target == job.outputPath)))
        job.firstFrame = true;
    const bool keyframe = advanceKeyframeCounter(codec.keyframeCounter, job.frameRate);
    // A copy conversion whose source record could not be kept packs the decoded picture instead.
    if (job.conversion == 1 && job.copy && job.copy->length > 0) return copyRecord(codec, *job.copy, job);

    FrameWork f;
    f.job = &job;
    f.streams = job.streamCount < 2 ? 1 : std::min(job.streamCount, kMaxStreams);
    f.legacyFlags = codec.legacyFlags;
    RecordHeader header;

    // The sources stay locked until the record is written.
    PictureAccess currentAccess;
    SurfaceAccess previousAccess;
    struct Unlock {
        PictureBuffer& picture;
        PictureAccess& current;
        SurfaceAccess& previous;
        ~Unlock() {
            if (previous.bits && picture.surfaceReference) picture.surfaceReference->unlock();
            if (current.surface && picture.surfaces) picture.surfaces->unlockPicture(current);
        }
    } unlock{picture, currentAccess, previousAccess};

    if (job.conversion == 2) {
        // The repack conversion encodes the decoded records and planes again,
        // with the record's own block and chroma cell sizes.
        if (!job.repack) return kNoMemory;
        const RepackFrame& repack = *job.repack;
        if (repack.width < 1 || repack.height < 1 || repack.blockSize < 1 || repack.blockSize > kMaxBlockSize ||
            repack.chromaStep < 1 || repack.bytes.size() != 9 * repack.blocks() + 3 * repack.planeSize())
            return kNoMemory;
        f.repack = &repack;
        f.current.width = repack.width;
        f.current.height = repack.height;
        f.chromaStep = repack.chromaStep;
        f.settings = EncoderSettings::forFrame(job.optimize, job.mode,
                                               writerAnchorBytes(job.mode, f.legacyFlags, repack.blockSize, repack.chromaStep));
        f.settings.B = repack.blockSize;
        if (!f.colour.allocate(repack.width, repack.height)) return kFailed.because(Reason::EncodingFailed);
        std::memcpy(f.colour.planes.data(), repack.plane(0), 3 * f.colour.planeSize());
    } else {
        if (picture.pictureWidth() < 1 || picture.pictureHeight() < 1) return kNoMemory.because(Reason::NoPixels);
        const std::uint32_t w = static_cast<std::uint32_t>(picture.pictureWidth());
        const std::uint32_t h = static_cast<std::uint32_t>(picture.pictureHeight());
        const ScreenSize screen = referenceScreenSize();
        f.chromaStep = chromaStepFor(job.mode, job.optimize, w, h, static_cast<std::uint32_t>(screen.width),
                                     static_cast<std::uint32_t>(screen.height));
        f.settings = EncoderSettings::forFrame(
            job.optimize, job.mode,
            writerAnchorBytes(job.mode, f.legacyFlags, EncoderSettings::blockSizeFor(job.optimize), f.chromaStep));
        if (!currentSource(picture, currentAccess, f.current)) return kNoMemory.because(Reason::NoPixels);
        // Conversions never keep blocks: the decoded frame is not the source of the previous one.
        if (!keyframe && job.mode >= 7 && job.conversion == 0) {
            int p = previousSource(picture, currentAccess, previousAccess, f.previous);
            if (p < 0) return kNoMemory.because(Reason::NoPixels);
            f.keepTest = p == 1;
        }
        if (!f.colour.allocate(w, h)) return kFailed.because(Reason::EncodingFailed);
    }

    const bool table = f.streams >= 2;
    f.headerSize = writtenHeaderSize(job.groupFlag, table ? f.streams : 0);
    header.width = f.current.width;
    header.height = f.current.height;
    header.blockSizeCode = static_cast<std::uint8_t>(f.settings.B);
    header.pixelsPerMeterX = static_cast<std::uint32_t>(picture.currentHeader.xPelsPerMeter);
    header.pixelsPerMeterY = static_cast<std::uint32_t>(picture.currentHeader.yPelsPerMeter);
    header.mode = job.mode;
    header.chromaStep = static_cast<std::uint8_t>(f.chromaStep);
    header.prevRecord = job.groupFlag && job.lastRecordOffset && !job.firstFrame ? *job.lastRecordOffset : 0;
    header.frameRate = job.frameRate ? std::fabs(*job.frameRate) : 0.0;
    header.streamCount = f.streams;
    if (!f.header.allocate(f.headerSize)) return kNoMemory;
    writeRecordHeader(header, job.groupFlag, table ? f.streams : 0, {f.header.data(), f.headerSize});

    RecordOutput output;
    if (const Result opened = output.open(job); opened < 1) return opened;
    f.sink = output.sink;
    f.recordStart = output.recordStart;
    f.work.resize(f.streams);
    for (std::uint32_t i = 0; i < f.streams; ++i) f.work[i].index = f.streams == 1 ? 0 : i + 1;

    const Result result = usePool(job, f.streams) ? runInPool(codec, f) : runSequentially(f);
    return output.finish(job, result);
}

Result GroupedOutput::finish() {
    if (!isOpen()) return kDone;
    Result result = kDone;
    if (records > 0 && !file.replace(target.view())) {
        const int error = platform::lastError();
        result = kFileError.because(Reason::CannotReplace);
        discard();
        platform::setLastError(error);
        return result;
    }
    discard();
    return result;
}

GroupedOutput::Stopped GroupedOutput::stop() {
    if (!isOpen()) return Stopped::Nothing;
    Stopped outcome = Stopped::Nothing;
    if (records == 0) {
        outcome = Stopped::Nothing;
    } else if (targetExisted) {
        outcome = Stopped::TargetKept;
    } else if (file.linkAs(target.view())) {
        outcome = Stopped::Written;
    } else {
        outcome = Stopped::Failed;
    }
    const int error = platform::lastError();
    discard();
    platform::setLastError(error);
    return outcome;
}

void GroupedOutput::discard() {
    file.discard();
    target = TWideString();
    targetExisted = false;
    records = 0;
}

} // namespace vexel
