// Frame decoder: turns one payload stream of a frame record into pixels.
//
// One call expands the stream (modes 8 and 9), parses it into block records
// and luma/chroma planes, completes packed gradients from the trailer
// sections, waits until every sibling stream has parsed (when several run in
// parallel), and draws its band: gradient blocks from their parameters, kept
// blocks from the previous frame (optionally displaced), detail blocks from
// Y, Cb and Cr, into the pixels its caller's target gives it.
//
// The stream is untrusted: every read is bounded, block types and counts that
// do not fit the picture end the parse, and a stream that does not expand is
// not drawn at all.
#pragma once

#include "base/memdiag.h"
#include "codec/container.h"
#include "codec/plane_view.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <span>

namespace vexel {

// A repack conversion's decoded frame: the block records of all blocks
// (codec/block_record.h), then three padded planes Y, Cb and Cr
// ((width + 32) x (height + 32) each, bottom row first), each stream's band
// at its own position.
struct RepackFrame {
    TrackedBuffer<std::uint8_t> bytes;
    std::uint32_t width = 0, height = 0, blockSize = 0, chromaStep = 0;
    std::uint8_t mode = 0;
    std::uint64_t blocks() const {
        return blockSize ? static_cast<std::uint64_t>((width + blockSize - 1) / blockSize) *
                               ((height + blockSize - 1) / blockSize)
                         : 0;
    }
    std::uint64_t planeSize() const { return static_cast<std::uint64_t>(width + 32) * (height + 32); }
    std::uint8_t* records() { return bytes.data(); }
    std::uint8_t* plane(int p) { return bytes.data() + 9 * blocks() + p * planeSize(); }
    const std::uint8_t* records() const { return bytes.data(); }
    const std::uint8_t* plane(int p) const { return bytes.data() + 9 * blocks() + p * planeSize(); }
};

// Several streams of one record decoded at once: each reports when it has
// parsed and waits until every sibling has; false means the drawing stage
// will not come (a sibling failed or the pool is stopping) and the stream
// ends without drawing.
class StreamSync {
public:
    virtual ~StreamSync() = default;
    virtual bool parsedWaitForGo(Result parseResult) = 0;
};

struct StreamDecodeJob {
    std::uint32_t streamIndex = 0; // 0 for the only stream of a record, else 1..streamCount
    std::uint32_t streamCount = 1;
    std::span<const std::uint8_t> stream;
    std::uint32_t headerSize = 0; // section ends of modes 2..7 count it in the stream after the header
    bool fastPaint = false;
    std::uint8_t mode = 0;
    std::uint8_t conversion = 0;  // 2: keep the decoded records and planes for repacking
    std::uint32_t width = 0, height = 0;
    std::uint32_t blockSize = 8;  // B
    std::uint32_t chromaStep = 4; // D
    std::array<std::uint8_t, 6> coefShifts = kDefaultCoefShifts;
    std::uint8_t legacyFlags = 0; // the reading bits of codec/legacy_flags.h
    RepackFrame* repack = nullptr; // conversion 2: receives the band's records and planes
    StreamSync* sync = nullptr;   // null: this stream runs alone
    // Stream 0 or 1 stores here how long drawing the gradient blocks took
    // (seconds), for the draw-interval statistics; null: not measured.
    long double* drawSeconds = nullptr;
    // Set (never cleared) once the stream has parsed a block that takes its
    // pixels from the frame before (a kept block, or one of no kind this
    // decoder draws): a record none of whose streams sets it is a keyframe.
    std::atomic<bool>* reusesPrevious = nullptr;
};

// The pixels one stream draws into: the current frame and, for kept blocks,
// the previous one, both of the frame's size with at least 16 pixels of
// margin on every side (cells cut by the picture's edge are drawn into it,
// displaced kept blocks read from it).
struct FramePixels {
    PixelTarget current;
    PixelTarget previous;
    bool hasPrevious = false;
    // Kept blocks are copied from previous. False when current holds the
    // previous frame already (a surface drawn over in place): kept blocks
    // are then left as they are, and previous serves displaced blocks only.
    bool copyKeptBlocks = true;
};

// Where the streams of a record draw. A stream asks for its pixels once it
// has parsed, so that parallel streams parse while another draws, and gives
// them back when it has drawn: each call of decodeStream that gets as far
// as drawing makes one beginDrawing and, when that succeeds, one endDrawing,
// in the stream's own thread. Streams of one record may run in parallel.
class FrameTarget {
public:
    virtual ~FrameTarget() = default;
    // The pixels of a width x height frame; false when they cannot be had
    // (the stream then ends with kNoMemory).
    virtual bool beginDrawing(std::uint32_t width, std::uint32_t height, FramePixels& pixels) = 0;
    virtual void endDrawing() {}
};

// A target whose pixels the caller holds for the whole decode.
class FixedFrameTarget final : public FrameTarget {
public:
    explicit FixedFrameTarget(const FramePixels& pixels) : pixels_(pixels) {}
    bool beginDrawing(std::uint32_t width, std::uint32_t height, FramePixels& pixels) override {
        if (!pixels_.current.valid() || pixels_.current.width != width || pixels_.current.height != height ||
            (pixels_.hasPrevious && (pixels_.previous.width != width || pixels_.previous.height != height)))
            return false;
        pixels = pixels_;
        return true;
    }

private:
    FramePixels pixels_;
};

// Decodes one stream and draws it into the target's pixels. Returns kDone,
// kFailed (the stream does not expand or parse, a sibling or a renderer
// failed) or kNoMemory (the work area, the repack frame or the target's
// pixels cannot be had), with its reason.
Result decodeStream(FrameTarget& target, const StreamDecodeJob& job);

} // namespace vexel
