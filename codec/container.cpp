#include "codec/container.h"

#include "base/operaciispamyatyu.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>

namespace vexel {

namespace {

std::uint32_t ceilDiv(std::uint32_t a, std::uint32_t b) { return a / b + (a % b ? 1 : 0); }

// A file frame rate as the program uses it: its absolute value, 0 (none)
// when it is not finite or beyond any real rate, so it can never reach an
// integer conversion as NaN or infinity.
double sanitizeFrameRate(double rate) {
    rate = std::fabs(rate);
    if (!std::isfinite(rate) || rate > kMaxFrameRate) return 0.0;
    return rate;
}

} // namespace

bool hasRecordMagic(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= sizeof kRecordMagic && std::memcmp(bytes.data(), kRecordMagic, sizeof kRecordMagic) == 0;
}

std::uint32_t blockSizeFromCode(std::uint8_t code) {
    return code == 0 ? 1u : std::uint32_t{1} << (std::bit_width(code) - 1);
}

Result parseRecordHeader(std::span<const std::uint8_t> bytes, std::uint64_t recordStart, std::uint64_t fileSize,
                      RecordHeader& h) {
    h = RecordHeader{};
    if (bytes.size() > kRecordHeaderLimit) bytes = bytes.first(kRecordHeaderLimit);
    if (!hasRecordMagic(bytes) || bytes.size() < kMinHeaderSize) return kNotVx;
    if (recordStart >= fileSize || fileSize - recordStart < bytes.size()) return kNotVx;
    const std::uint8_t* b = bytes.data();

    h.headerSize = loadU32(b + kHeaderSizeOffset);
    h.width = loadU32(b + kWidthOffset);
    h.height = loadU32(b + kHeightOffset);
    h.blockSizeCode = b[kBlockSizeCodeOffset];
    h.blockSize = blockSizeFromCode(h.blockSizeCode);
    // Fields past the bytes read are never looked at: headerSize must lie inside them.
    if (h.headerSize < kMinHeaderSize || h.headerSize > bytes.size()) return kNotVx;

    // Optional fields, strictly in table order, each only when headerSize covers it.
    const std::uint32_t hs = h.headerSize;
    if (hs >= 39) {
        h.pixelsPerMeterX = loadU32(b + kPixelsPerMeterOffset);
        h.pixelsPerMeterY = loadU32(b + kPixelsPerMeterOffset + 4);
    }
    if (hs >= 40) h.mode = b[kModeOffset];
    if (hs >= 41) h.chromaStep = b[kChromaStepOffset];
    if (hs >= 47) std::memcpy(h.coefShifts.data(), b + kCoefShiftsOffset, 6);
    if (hs >= 55) h.nextRecord = loadU64(b + kNextRecordOffset);
    if (hs >= 63) h.prevRecord = loadU64(b + kPrevRecordOffset);
    if (hs >= 71) {
        double rate;
        std::memcpy(&rate, b + kFrameRateOffset, 8);
        h.hasFrameRate = true;
        h.frameRate = sanitizeFrameRate(rate);
    }
    if (hs >= 75) h.streamCount = loadU32(b + kStreamCountOffset);

    if (h.mode > kMaxMode) return kNotVx.because(Reason::UnknownMode);
    if (h.width == 0 || h.height == 0) return kNotVx;
    if ((std::uint64_t{h.width} + 2 * kPlaneBorder) * (std::uint64_t{h.height} + 2 * kPlaneBorder) > kMaxPlaneBytes)
        return kNotVx;
    if (h.chromaStep < 1 || h.chromaStep > kMaxChromaStep) return kNotVx;
    if (h.blockSize > kMaxBlockSize) return kNotVx;

    // Record extent. A link must move forward past this header; one past the
    // end of the file names the end of a record the file has lost.
    std::uint64_t recordEnd = fileSize;
    bool endsAtLink = false;
    if (h.nextRecord != 0) {
        if (h.nextRecord < recordStart + hs) return kNotVx;
        if (h.nextRecord > fileSize) {
            h.cutShort = true;
        } else {
            recordEnd = h.nextRecord;
            endsAtLink = true;
        }
    }
    h.recordStart = recordStart;
    h.recordSize = recordEnd - recordStart;
    if (hs > h.recordSize) return kNotVx;

    if (h.streamCount >= 2) {
        if (h.streamCount > kMaxStreams || kStreamTableOffset + 4 * h.streamCount > hs) return kNotVx;
        std::uint64_t previous = hs;
        for (std::uint32_t i = 0; i < h.streamCount; ++i) {
            const std::uint32_t offset = loadU32(b + kStreamTableOffset + 4 * i);
            if (offset < previous) return kNotVx;
            previous = offset;
            // Past the record: refused where the record ends at a link, the
            // file cut short where it ends with the file.
            if (offset > h.recordSize) {
                if (endsAtLink) return kNotVx;
                h.cutShort = true;
            }
            h.streamOffsets[i] = static_cast<std::uint32_t>(std::min<std::uint64_t>(offset, h.recordSize));
        }
    }
    return kDone;
}

// ---------------------------------------------------------------------------
// Writing headers

std::uint32_t writtenHeaderSize(bool linkFields, std::uint32_t tableStreams) {
    if (tableStreams >= 2) return kStreamTableOffset + 4 * tableStreams;
    return linkFields ? kLinkedHeaderSize : kPictureHeaderSize;
}

std::uint32_t writeRecordHeader(const RecordHeader& h, bool linkFields, std::uint32_t tableStreams,
                                std::span<std::uint8_t> out) {
    assert(tableStreams <= kMaxStreams);
    const std::uint32_t size = writtenHeaderSize(linkFields, tableStreams);
    assert(out.size() >= size);
    std::uint8_t* b = out.data();
    std::memset(b, 0, size);
    std::memcpy(b, kRecordMagic, sizeof kRecordMagic);
    storeU32(b + kHeaderSizeOffset, size);
    storeU32(b + kWidthOffset, h.width);
    storeU32(b + kHeightOffset, h.height);
    b[kBlockSizeCodeOffset] = h.blockSizeCode;
    storeU32(b + kPixelsPerMeterOffset, h.pixelsPerMeterX);
    storeU32(b + kPixelsPerMeterOffset + 4, h.pixelsPerMeterY);
    b[kModeOffset] = h.mode;
    b[kChromaStepOffset] = h.chromaStep;
    std::memcpy(b + kCoefShiftsOffset, h.coefShifts.data(), 6);
    if (linkFields) {
        storeU64(b + kNextRecordOffset, h.nextRecord);
        storeU64(b + kPrevRecordOffset, h.prevRecord);
        const double rate = std::fabs(h.frameRate);
        std::memcpy(b + kFrameRateOffset, &rate, 8);
    }
    if (tableStreams >= 2) {
        storeU32(b + kStreamCountOffset, tableStreams);
        for (std::uint32_t i = 0; i < tableStreams; ++i) storeU32(b + kStreamTableOffset + 4 * i, h.streamOffsets[i]);
    }
    return size;
}

bool linkPreviousRecord(RecordSink& sink, std::uint64_t previousRecordStart, std::uint64_t recordStart) {
    std::uint8_t field[8];
    storeU64(field, recordStart);
    return sink.writeAt(previousRecordStart + kNextRecordOffset, field, sizeof field);
}

bool writeStreamSlot(RecordSink& sink, std::uint64_t recordStart, std::uint32_t streamIndex, std::uint32_t offset) {
    assert(streamIndex >= 1 && streamIndex <= kMaxStreams);
    std::uint8_t field[4];
    storeU32(field, offset);
    return sink.writeAt(recordStart + streamSlotOffset(streamIndex), field, sizeof field);
}

// ---------------------------------------------------------------------------
// Streams and geometry

std::uint32_t streamTotal(const RecordHeader& h) { return h.streamCount < 2 ? 1 : h.streamCount; }

ByteRange streamRange(const RecordHeader& h, std::uint32_t i) {
    const std::uint32_t n = streamTotal(h);
    if (n == 1) {
        assert(i <= 1);
        return {h.headerSize, h.recordSize};
    }
    assert(i >= 1 && i <= n);
    return {h.streamOffsets[i - 1], i < n ? h.streamOffsets[i] : h.recordSize};
}

std::uint32_t sectionEndBias(const RecordHeader& h, std::uint32_t streamIndex) {
    return streamIndex <= 1 ? h.headerSize : 0;
}

FrameGrid frameGrid(std::uint32_t width, std::uint32_t height, std::uint32_t blockSize, std::uint32_t chromaStep) {
    assert(blockSize >= 1 && chromaStep >= 1);
    FrameGrid g;
    g.width = width;
    g.height = height;
    g.blockSize = blockSize;
    g.chromaStep = chromaStep;
    g.blockColumns = ceilDiv(width, blockSize);
    g.blockRows = ceilDiv(height, blockSize);
    g.blocks = std::uint64_t{g.blockColumns} * g.blockRows;
    g.chromaColumns = ceilDiv(width, chromaStep);
    g.chromaRows = ceilDiv(height, chromaStep);
    g.chromaSamples = std::uint64_t{g.chromaColumns} * g.chromaRows;
    g.paddedPlaneBytes = (std::uint64_t{width} + 2 * kPlaneBorder) * (std::uint64_t{height} + 2 * kPlaneBorder);
    return g;
}

FrameGrid frameGrid(const RecordHeader& h) { return frameGrid(h.width, h.height, h.blockSize, h.chromaStep); }

std::uint64_t mode8ExpansionCapacity(const FrameGrid& g) {
    return 9 * g.blocks + std::uint64_t{g.width} * g.height + 2 * g.chromaSamples + 1000;
}

std::uint64_t mode9PartLimit(const FrameGrid& g) {
    return 4 * (11 * g.blocks + std::uint64_t{g.width} * g.height + 2 * g.chromaSamples);
}

void streamBlockRows(std::uint32_t rows, std::uint32_t i, std::uint32_t n, std::uint32_t& first, std::uint32_t& end) {
    if (i == 0 || n < 2) {
        first = 0;
        end = rows;
        return;
    }
    assert(i <= n);
    const std::uint32_t per = ceilDiv(rows, n);
    first = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{i - 1} * per, rows));
    end = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{i} * per, rows));
}

StreamBand streamBand(const FrameGrid& g, std::uint32_t i, std::uint32_t n) {
    StreamBand band;
    streamBlockRows(g.blockRows, i, n, band.firstBlockRow, band.endBlockRow);
    band.firstPixelRow = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{band.firstBlockRow} * g.blockSize, g.height));
    band.endPixelRow = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{band.endBlockRow} * g.blockSize, g.height));
    band.firstChromaRow = ceilDiv(band.firstPixelRow, g.chromaStep);
    band.endChromaRow = ceilDiv(band.endPixelRow, g.chromaStep);
    return band;
}

// ---------------------------------------------------------------------------
// Block types

BlockKind blockKind(std::uint8_t mode, std::uint8_t code) {
    if (mode <= 4) {
        switch (code) {
        case 0: return BlockKind::Detail;
        case 1: return BlockKind::Gradient;
        case 3: return BlockKind::PackedGradient;
        case 4: return BlockKind::ChunkedDetail;
        case 5:
        case 255: return BlockKind::Keep;
        default: return BlockKind::Other;
        }
    }
    if (mode <= 8) {
        switch (code) {
        case 0: return BlockKind::Detail;
        case 1: return BlockKind::Keep;
        case 2: return BlockKind::ChunkedDetail;
        case 3: return BlockKind::PackedGradient;
        default: return BlockKind::Other;
        }
    }
    switch (code) {
    case 0: return BlockKind::Detail;
    case 1: return BlockKind::Gradient;
    case 2: return BlockKind::Keep;
    default: return BlockKind::Other;
    }
}

int blockCode(std::uint8_t mode, BlockKind kind) {
    switch (kind) {
    case BlockKind::Detail: return 0;
    case BlockKind::Gradient: return mode <= 4 || mode == 9 ? 1 : -1;
    case BlockKind::PackedGradient: return mode <= 8 ? 3 : -1;
    case BlockKind::ChunkedDetail: return mode <= 4 ? 4 : mode <= 8 ? 2 : -1;
    case BlockKind::Keep: return mode <= 4 ? 5 : mode <= 8 ? 1 : 2;
    case BlockKind::Other: return -1;
    }
    return -1;
}

BlockKind storedKind(std::uint8_t mode, BlockKind decided) {
    if (decided == BlockKind::Detail && mode >= 2 && mode <= 8) return BlockKind::ChunkedDetail;
    if (decided == BlockKind::Gradient && mode >= 3 && mode <= 8) return BlockKind::PackedGradient;
    return decided;
}

std::uint32_t typePackingFactor(std::uint8_t mode) { return mode >= 5 && mode <= 8 ? 4 : 1; }

bool hasTrailerSections(std::uint8_t mode) { return mode >= 2 && mode <= 8; }

TrailerSectionTypes trailerSectionTypes(std::uint8_t mode) {
    if (mode <= 4) return {3, 4, 255};
    return {3, 2, 1};
}

std::uint32_t anchorByteCount(std::uint8_t mode, std::uint32_t blockSize, std::uint32_t chromaStep,
                              bool oldParameterSize) {
    const std::uint32_t value = oldParameterSize && mode <= 7 ? chromaStep : blockSize;
    return value > 4 ? 2 : 1;
}

AnchorPair expandOneByteAnchor(std::uint8_t packed) {
    const auto field = [&](int j) { return static_cast<std::uint8_t>((packed >> (2 * j)) & 3u); };
    return {static_cast<std::uint8_t>(field(0) | field(1) << 4), static_cast<std::uint8_t>(field(2) | field(3) << 4)};
}

std::uint8_t packOneByteAnchor(AnchorPair a) {
    return static_cast<std::uint8_t>((a.first & 3) | ((a.first >> 4) & 3) << 2 | (a.second & 3) << 4 |
                                     ((a.second >> 4) & 3) << 6);
}

// ---------------------------------------------------------------------------
// Block area

BlockAreaLayout blockAreaLayout(const RecordHeader& h, bool oldParameterSize) {
    BlockAreaLayout layout;
    layout.grid = frameGrid(h);
    layout.mode = h.mode;
    layout.anchorBytes = anchorByteCount(h.mode, h.blockSize, h.chromaStep, oldParameterSize);
    return layout;
}

BlockAreaWalker::BlockAreaWalker(std::span<const std::uint8_t> stream, const BlockAreaLayout& layout)
    : stream_(stream), layout_(layout), packing_(typePackingFactor(layout.mode)) {
    assert(layout.mode <= 8 && "mode 9 has no block area");
}

int BlockAreaWalker::next(BlockEntry& e) {
    const FrameGrid& g = layout_.grid;
    if (truncated_) return -1;
    if (index_ >= g.blocks) return 0;
    const std::size_t start = pos_;
    std::size_t at = pos_;
    std::uint8_t packed = packed_;
    if (index_ % packing_ == 0) {
        if (at >= stream_.size()) { truncated_ = true; return -1; }
        packed = stream_[at++];
    }
    std::uint8_t code;
    if (packing_ == 1) {
        code = packed;
    } else {
        code = packed & 3u;
        packed = static_cast<std::uint8_t>(packed >> 2);
    }

    e.index = index_;
    e.column = static_cast<std::uint32_t>(index_ % g.blockColumns);
    e.row = static_cast<std::uint32_t>(index_ / g.blockColumns);
    e.code = code;
    e.kind = blockKind(layout_.mode, code);
    const std::uint32_t B = g.blockSize, D = g.chromaStep;
    e.pixelColumns = std::min(B, g.width - e.column * B);
    e.pixelRows = std::min(B, g.height - e.row * B);
    e.chromaCells = ceilDiv(e.pixelColumns, D) * ceilDiv(e.pixelRows, D);
    e.lumaBytes = 0;
    switch (e.kind) {
    case BlockKind::Detail:
        e.lumaBytes = e.pixelColumns * e.pixelRows;
        e.payloadBytes = e.lumaBytes + 2 * e.chromaCells;
        break;
    case BlockKind::ChunkedDetail: e.payloadBytes = 2 * e.chromaCells; break;
    case BlockKind::Gradient: e.payloadBytes = layout_.mode <= 4 ? 8 : 0; break;
    case BlockKind::PackedGradient: e.payloadBytes = layout_.anchorBytes; break;
    default: e.payloadBytes = 0; break;
    }
    if (e.payloadBytes > stream_.size() - at) {
        pos_ = start;
        truncated_ = true;
        return -1;
    }
    e.payload = at;
    pos_ = at + e.payloadBytes;
    packed_ = packed;
    ++index_;
    return 1;
}

std::int64_t blockAreaEnd(std::span<const std::uint8_t> stream, const BlockAreaLayout& layout) {
    BlockAreaWalker walker(stream, layout);
    BlockEntry entry;
    int r;
    while ((r = walker.next(entry)) == 1) {
    }
    return r == 0 ? static_cast<std::int64_t>(walker.position()) : -1;
}

// ---------------------------------------------------------------------------
// Trailer sections

TrailerWalker::TrailerWalker(std::span<const std::uint8_t> stream, std::size_t blockAreaEnd, std::uint8_t mode,
                             std::uint32_t endBias)
    : stream_(stream), pos_(blockAreaEnd), relative_(mode == 8), bias_(endBias) {}

bool TrailerWalker::next(TrailerSection& s) {
    if (pending_) finish(current_, 0);
    if (ended_) return false;
    if (pos_ >= stream_.size() || stream_.size() - pos_ < 5) {
        cut_ = pos_ < stream_.size(); // one to four bytes of a section header
        ended_ = true;
        return false;
    }
    const std::uint32_t field = loadU32(stream_.data() + pos_);
    s.type = stream_[pos_ + 4];
    s.start = pos_;
    s.bodyStart = pos_ + 5;
    if (relative_) s.end = std::uint64_t{pos_} + field;
    else s.end = field >= bias_ ? field - bias_ : 0; // an end before the stream never matches
    current_ = s;
    pending_ = true;
    return true;
}

std::span<const std::uint8_t> TrailerWalker::body(const TrailerSection& s) const {
    const std::uint64_t end = std::min<std::uint64_t>(s.end, stream_.size());
    if (end <= s.bodyStart) return {};
    return stream_.subspan(s.bodyStart, static_cast<std::size_t>(end - s.bodyStart));
}

std::span<const std::uint8_t> TrailerWalker::readable(const TrailerSection& s) const {
    if (s.bodyStart >= stream_.size()) return {};
    return stream_.subspan(s.bodyStart);
}

void TrailerWalker::finish(const TrailerSection& s, std::size_t consumed) {
    pending_ = false;
    if (ended_) return;
    const std::uint64_t position = std::uint64_t{s.bodyStart} + consumed;
    if (position != s.end || s.end > stream_.size()) {
        ended_ = true;
        return;
    }
    pos_ = static_cast<std::size_t>(s.end);
}

int decodeDeltaChunk(std::span<const std::uint8_t> chunk, std::uint8_t* values) {
    const std::size_t n = chunk.size();
    if (n <= 1) return 0;
    const std::uint8_t base = chunk[0];
    const std::uint32_t w = (chunk[1] & 7u) == 0 ? 8 : chunk[1] & 7u;
    const std::int64_t count = static_cast<std::int64_t>((n - 2) * 8 / w) + 1 - (chunk[1] >> 3);
    if (count < 0 || count > kMaxChunkValues) return -1;
    if (count == 0) return 0;
    values[0] = base;
    // The deltas fill (count - 1) x w <= (n - 2) x 8 bits: bytes are taken
    // into an accumulator only as a delta needs them, so none past the chunk.
    const std::uint8_t* deltas = chunk.data() + 2;
    const std::uint32_t mask = (1u << w) - 1, sign = 1u << (w - 1);
    std::uint32_t accumulator = 0, held = 0;
    for (std::int64_t j = 1; j < count; ++j) {
        while (held < w) {
            accumulator |= static_cast<std::uint32_t>(*deltas++) << held;
            held += 8;
        }
        std::uint32_t delta = accumulator & mask;
        accumulator >>= w;
        held -= w;
        if (delta & sign) delta |= ~mask; // sign-extend
        values[j] = static_cast<std::uint8_t>(base + delta);
    }
    return static_cast<int>(count);
}

int DeltaChunkReader::nextChunk(std::span<const std::uint8_t> body, std::size_t& position, std::uint8_t& value) {
    ranOut_ = false;
    while (index_ == count_) {
        // Every chunk takes at least its length byte, so empty chunks cannot loop.
        if (position >= body.size() || body.size() - position - 1 < body[position]) {
            ranOut_ = true;
            return 0;
        }
        const std::size_t n = body[position];
        const int count = decodeDeltaChunk(body.subspan(position + 1, n), values_);
        position += 1 + n;
        if (count < 0) {
            count_ = index_ = 0;
            return -1;
        }
        count_ = static_cast<std::uint32_t>(count);
        index_ = 0;
    }
    value = values_[index_++];
    return 1;
}

std::size_t readMotionSection(std::span<const std::uint8_t> body, MotionParameters& motion) {
    if (body.empty()) return 0;
    const std::size_t length = body[0];
    if (body.size() - 1 < length) return 0;
    if (length == 24) {
        float v[6];
        std::memcpy(v, body.data() + 1, sizeof v);
        motion = {v[0], v[1], v[2], v[3], v[4], v[5]};
    }
    return 1 + length;
}

std::uint32_t moveSectionEnds(std::span<std::uint8_t> stream, std::size_t blockAreaEnd, std::uint32_t endBias,
                              std::uint32_t delta) {
    std::uint32_t moved = 0;
    std::size_t pos = blockAreaEnd;
    while (pos < stream.size() && stream.size() - pos >= 5) {
        const std::uint32_t field = loadU32(stream.data() + pos);
        if (field < endBias) break;
        const std::uint64_t next = field - endBias;
        if (next < std::uint64_t{pos} + 5 || next > stream.size()) break;
        if (std::uint64_t{field} + delta > 0xFFFFFFFFu) break;
        storeU32(stream.data() + pos, field + delta);
        ++moved;
        pos = static_cast<std::size_t>(next);
    }
    return moved;
}

// ---------------------------------------------------------------------------
// Mode 9

Result splitMode9Parts(std::span<const std::uint8_t> stream, std::array<std::span<const std::uint8_t>, 4>& parts) {
    std::size_t pos = 0;
    for (auto& part : parts) {
        if (stream.size() - pos < 4) return kFailed.because(Reason::StreamDoesNotParse);
        const std::uint32_t length = loadU32(stream.data() + pos);
        pos += 4;
        if (stream.size() - pos < length) return kFailed.because(Reason::StreamDoesNotParse);
        part = stream.subspan(pos, length);
        pos += length;
    }
    return kDone;
}

} // namespace vexel
