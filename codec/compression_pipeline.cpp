#include "codec/compression_pipeline.h"

#include "base/informaciyaprocessora.h"
#include "base/matematicheskieoperacii.h"
#include "codec/container.h"
#include "codec/frame_encoder.h"
#include "codec/payload_writer.h"
#include "display/screen.h"
#include "platform/files.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexel {

namespace {

std::atomic<StreamThreading> threadingChoice{StreamThreading::Automatic};
std::atomic<std::int32_t> failingStream{-1};

struct StreamWork {
    std::uint32_t index = 0; // 0 for a single stream, else 1..n
    EncoderGrid grid;
    BlockMap map;
    TrackedBuffer<std::uint8_t> payload;
    std::size_t length = 0;
    int result = kPackDone;
};

// Everything one frame's streams share. The sources are read-only while the
// streams run; each stream writes only its own StreamWork and its band's rows
// of the colour planes.
struct FrameWork {
    const CompressionJob* job = nullptr;
    std::uint32_t streams = 1;
    SourcePlanes current, previous;
    bool keepTest = false;
    EncoderSettings settings;
    std::uint32_t chromaStep = 4;
    std::uint32_t headerSize = 0;
    std::uint8_t legacyFlags = 0;
    ColourPlanes colour;
    std::vector<StreamWork> work;

    platform::File* file = nullptr;
    std::uint64_t recordStart = 0;
    TrackedBuffer<std::uint8_t> header;
    bool writeFailed = false;
};

int encodeBand(FrameWork& f, StreamWork& s) {
    if (static_cast<std::int32_t>(s.index) == failingStream.load()) return kPackStreamFailed;
    const std::uint32_t n = f.streams;
    s.grid = EncoderGrid::forStream(f.current.width, f.current.height, f.settings.B, s.index, n);
    if (!analyseBlocks(f.current, f.settings, s.grid, s.map)) return kPackStreamFailed;
    if (f.keepTest) markKeepBlocks(f.current, f.previous, f.settings, s.grid, f.job->mode, s.map);
    if (!computeColourPlanes(f.current, s.grid, f.chromaStep, f.colour)) return kPackStreamFailed;
    PayloadJob payload;
    payload.mode = f.job->mode;
    payload.legacyFlags = f.legacyFlags;
    payload.chromaStep = f.chromaStep;
    payload.headerSize = s.index <= 1 ? f.headerSize : 0;
    int result = buildStreamPayload(s.map, f.colour, s.grid, payload, s.payload, s.length, s.map.motionSection);
    s.map = BlockMap(); // the block decisions are in the payload now
    return result;
}

// Appends one stream at the end of the file: the header first for the stream
// that carries it, the stream's slot in the table, then its payload.
int writeStream(FrameWork& f, StreamWork& s) {
    platform::File& file = *f.file;
    if (s.index <= 1) {
        if (!file.seek(f.recordStart) || !file.write(f.header.data(), f.headerSize)) return kPackFileError;
    }
    std::int64_t end = file.size();
    if (end < 0 || !file.seek(static_cast<std::uint64_t>(end))) return kPackFileError;
    if (s.index >= 1) {
        std::uint64_t offset = static_cast<std::uint64_t>(end) - f.recordStart;
        if (offset > 0xFFFFFFFFu || !writeStreamSlot(file, f.recordStart, s.index, static_cast<std::uint32_t>(offset)) ||
            !file.seek(static_cast<std::uint64_t>(end)))
            return kPackFileError;
    }
    if (s.length && !file.write(s.payload.data(), s.length)) return kPackFileError;
    s.payload.reset();
    return kPackDone;
}

// The pool: one thread per stream, a job generation, a count of streams done
// with each stage and a write turn, all under one mutex and one condition
// variable. Each worker stores its result before it reports a stage done; a
// failed stream makes the driver skip the write stage, and every worker still
// reports that stage, so no stream waits for a predecessor that never writes.
class CompressionPool final : public WorkerPool {
public:
    explicit CompressionPool(std::uint32_t streams) : streams_(streams) {
        try {
            for (std::uint32_t i = 0; i < streams; ++i) threads_.emplace_back([this, i] { worker(i); });
        } catch (...) {
            stopAndJoin();
        }
    }
    ~CompressionPool() override { stopAndJoin(); }
    std::uint32_t streams() const { return streams_; }
    bool complete() const { return threads_.size() == streams_; }

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
            int result = encodeBand(*frame, s);
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
                int w = writeStream(*frame, s);
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

    void stopAndJoin() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& t : threads_)
            if (t.joinable()) t.join();
        threads_.clear();
    }

    std::uint32_t streams_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    FrameWork* frame_ = nullptr;
    std::uint64_t generation_ = 0;
    std::uint32_t encoded_ = 0, written_ = 0, turn_ = 0;
    bool writeOpen_ = false, skipWrite_ = false, stop_ = false;
};

// Streams one after another in this thread: the same bytes as the pool.
int runSequentially(FrameWork& f) {
    for (StreamWork& s : f.work) {
        s.result = encodeBand(f, s);
        if (s.result < 1) return s.result;
    }
    for (StreamWork& s : f.work) {
        s.result = writeStream(f, s);
        if (s.result < 1) return s.result;
    }
    return kPackDone;
}

int runInPool(TWnd& record, FrameWork& f) {
    auto* pool = dynamic_cast<CompressionPool*>(record.compressionPool.get());
    if (pool && pool->streams() != f.streams) {
        record.compressionPool.reset();
        pool = nullptr;
    }
    if (!pool) {
        auto fresh = std::make_unique<CompressionPool>(f.streams);
        if (!fresh->complete()) return runSequentially(f);
        pool = fresh.get();
        record.compressionPool = std::move(fresh);
    }
    pool->run(f);
    int result = kPackDone;
    for (const StreamWork& s : f.work)
        if (s.result < 1) {
            result = s.result;
            break;
        }
    if (result < 1) record.compressionPool.reset(); // a failed frame releases the pool
    return result;
}

bool usePool(const CompressionJob& job, std::uint32_t streams) {
    if (streams < 2 || job.conversion != 0) return false;
    switch (threadingChoice.load()) {
    case StreamThreading::Sequential: return false;
    case StreamThreading::Pool: return true;
    case StreamThreading::Automatic: break;
    }
    return processorCount() > 1;
}

// The current picture as encoder source planes; a locked surface stays locked
// in `access` until the frame is done.
bool currentSource(TWnd& record, PictureAccess& access, SourcePlanes& source) {
    const std::uint32_t w = static_cast<std::uint32_t>(record.pictureWidth());
    const std::uint32_t h = static_cast<std::uint32_t>(record.pictureHeight());
    if (record.pictureInPlanes()) {
        if (record.planes.width() != record.pictureWidth() || record.planes.height() != record.pictureHeight()) return false;
        source = SourcePlanes::fromPlanes(record.planes.data(), w, h);
        return true;
    }
    TGraficheskoeOkno* g = record.graphicsWindow;
    if (!g || !g->lockPicture(access)) return false;
    if (access.width != record.pictureWidth() || access.height != record.pictureHeight()) {
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
int previousSource(TWnd& record, const PictureAccess& current, SurfaceAccess& locked, SourcePlanes& source) {
    std::int32_t w = 0, h = 0;
    if (!record.previousPictureSize(w, h) || w != record.pictureWidth() || h != record.pictureHeight()) return 0;
    if (!record.frameBuffer.empty()) {
        source = SourcePlanes::fromPlanes(record.frameBuffer.data(), static_cast<std::uint32_t>(w),
                                          static_cast<std::uint32_t>(h));
        return 1;
    }
    TSurface* surface = record.surfaceReference;
    if (!surface || surface == current.surface) return 0;
    if (!surface->lock(locked)) return kPackNoMemory;
    if (current.surface && locked.pitch != current.buffer.pitch) {
        surface->unlock();
        locked = SurfaceAccess();
        return kPackNoMemory;
    }
    const TGraficheskoeOkno* g = record.graphicsWindow;
    source = SourcePlanes::fromSurface(locked.bits, locked.pitch, static_cast<std::uint32_t>(w),
                                       static_cast<std::uint32_t>(h), TPicturePlanes::kBorder,
                                       g ? g->redShift() : 16, g ? g->greenShift() : 8, g ? g->blueShift() : 0);
    return 1;
}

// A name beside path that no file has yet, created empty.
bool createTemporaryBeside(const TWideString& path, platform::File& file, TWideString& name) {
    const std::string pid = std::to_string(getpid());
    for (int k = 0; k < 1000; ++k) {
        std::string suffix = "." + pid + "-" + std::to_string(k) + ".part";
        name = path + TWideString(std::u16string(suffix.begin(), suffix.end()));
        if (file.open(name.view(), platform::OpenMode::CreateNew)) {
            file.close();
            return file.open(name.view(), platform::OpenMode::ReadWriteExisting);
        }
        if (platform::lastError() != EEXIST) return false;
    }
    return false;
}

} // namespace

void setStreamThreading(StreamThreading threading) { threadingChoice = threading; }

void failStreamForTest(std::int32_t streamIndex) { failingStream = streamIndex; }

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

int compressFrame(TWnd& record, const CompressionJob& job) {
    if (job.mode > kMaxMode) return kPackBadMode;
    const bool keyframe = advanceKeyframeCounter(record.keyframeCounter, job.frameRate);
    if (job.conversion != 0) return kPackStreamFailed; // conversions are not handled here yet
    if (record.pictureWidth() < 1 || record.pictureHeight() < 1) return kPackNoMemory;

    FrameWork f;
    f.job = &job;
    f.streams = job.streamCount < 2 ? 1 : std::min(job.streamCount, kMaxStreams);
    f.legacyFlags = record.legacyFlags;
    const std::uint32_t w = static_cast<std::uint32_t>(record.pictureWidth());
    const std::uint32_t h = static_cast<std::uint32_t>(record.pictureHeight());
    const ScreenSize screen = referenceScreenSize();
    f.chromaStep = chromaStepFor(job.mode, job.optimize, w, h, static_cast<std::uint32_t>(screen.width),
                                 static_cast<std::uint32_t>(screen.height));
    f.settings = EncoderSettings::forFrame(job.optimize, job.mode,
                                           anchorSizeValue(job.mode, f.legacyFlags,
                                                           EncoderSettings::forFrame(job.optimize, job.mode).B,
                                                           f.chromaStep));
    const bool table = f.streams >= 2;
    f.headerSize = writtenHeaderSize(job.groupFlag, table ? f.streams : 0);

    // The sources stay locked until the record is written.
    PictureAccess currentAccess;
    SurfaceAccess previousAccess;
    struct Unlock {
        TWnd& record;
        PictureAccess& current;
        SurfaceAccess& previous;
        ~Unlock() {
            if (previous.bits && record.surfaceReference) record.surfaceReference->unlock();
            if (current.surface && record.graphicsWindow) record.graphicsWindow->unlockPicture(current);
        }
    } unlock{record, currentAccess, previousAccess};
    if (!currentSource(record, currentAccess, f.current)) return kPackNoMemory;
    if (!keyframe && job.mode >= 7) {
        int p = previousSource(record, currentAccess, previousAccess, f.previous);
        if (p < 0) return p;
        f.keepTest = p == 1;
    }
    if (!f.colour.allocate(w, h)) return kPackStreamFailed;

    RecordHeader header;
    header.width = w;
    header.height = h;
    header.blockSizeCode = static_cast<std::uint8_t>(f.settings.B);
    header.pixelsPerMeterX = static_cast<std::uint32_t>(record.currentHeader.xPelsPerMeter);
    header.pixelsPerMeterY = static_cast<std::uint32_t>(record.currentHeader.yPelsPerMeter);
    header.mode = job.mode;
    header.chromaStep = static_cast<std::uint8_t>(f.chromaStep);
    header.prevRecord = job.groupFlag && job.lastRecordOffset && !job.firstFrame ? *job.lastRecordOffset : 0;
    header.frameRate = job.frameRate ? std::fabs(*job.frameRate) : 0.0;
    header.streamCount = f.streams;
    if (!f.header.allocate(f.headerSize)) return kPackNoMemory;
    writeRecordHeader(header, job.groupFlag, table ? f.streams : 0, {f.header.data(), f.headerSize});

    // The output: a temporary file for a single picture, the grouped file itself otherwise.
    platform::File file;
    TWideString temporary;
    const bool appending = job.groupFlag && !job.firstFrame;
    if (!job.groupFlag) {
        if (!createTemporaryBeside(job.outputPath, file, temporary)) return kPackFileError;
    } else if (!file.open(job.outputPath.view(), appending ? platform::OpenMode::OpenAlways
                                                            : platform::OpenMode::CreateAlways)) {
        return kPackFileError;
    }
    const std::int64_t size = file.size();
    f.file = &file;
    f.recordStart = size < 0 ? 0 : static_cast<std::uint64_t>(size);
    f.work.resize(f.streams);
    for (std::uint32_t i = 0; i < f.streams; ++i) f.work[i].index = f.streams == 1 ? 0 : i + 1;

    int result = size < 0 ? kPackFileError : usePool(job, f.streams) ? runInPool(record, f) : runSequentially(f);

    // Link last: the previous record points here only once this one is whole.
    const bool linkPrevious = result >= 1 && appending && job.lastRecordOffset &&
                              *job.lastRecordOffset + kLinkedHeaderSize <= f.recordStart;
    if (linkPrevious && !linkPreviousRecord(file, *job.lastRecordOffset, f.recordStart)) result = kPackFileError;
    if (result >= 1 && job.groupFlag && job.lastRecordOffset) *job.lastRecordOffset = f.recordStart;

    if (result < 1) {
        if (job.groupFlag) file.truncate(f.recordStart);
        file.close();
        if (!job.groupFlag) platform::removeFile(temporary.view());
        return result;
    }
    file.close();
    if (!job.groupFlag && !platform::renameFile(temporary.view(), job.outputPath.view())) {
        platform::removeFile(temporary.view());
        return kPackFileError;
    }
    return kPackDone;
}

} // namespace vexel
