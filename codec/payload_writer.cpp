#include "codec/payload_writer.h"

#include "base/operaciispamyatyu.h"

#include "codec/colour_transforms.h"
#include "codec/compression.h"
#include "codec/rounding.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexel {

namespace {

// A byte sink over a tracked buffer that grows when needed.
class ByteWriter {
public:
    explicit ByteWriter(TrackedBuffer<std::uint8_t>& buffer) : buffer_(buffer) {}
    bool ok() const { return ok_; }
    std::size_t size() const { return size_; }
    std::uint8_t* data() { return buffer_.data(); }

    bool reserve(std::size_t n) {
        if (!ok_) return false;
        if (size_ + n <= buffer_.size()) return true;
        std::size_t capacity = std::max<std::size_t>(buffer_.size() * 2, size_ + n + 4096);
        TrackedBuffer<std::uint8_t> bigger;
        if (!bigger.allocate(capacity)) return ok_ = false;
        if (size_) std::memcpy(bigger.data(), buffer_.data(), size_);
        buffer_ = std::move(bigger);
        return true;
    }
    void byte(std::uint8_t b) {
        if (reserve(1)) buffer_[size_++] = b;
    }
    void bytes(const std::uint8_t* p, std::size_t n) {
        if (n && reserve(n)) {
            std::memcpy(buffer_.data() + size_, p, n);
            size_ += n;
        }
    }
    void u32(std::uint32_t v) {
        std::uint8_t b[4];
        storeU32(b, v);
        bytes(b, 4);
    }
    // Room for n bytes that the caller writes itself at data() + size().
    std::uint8_t* tail(std::size_t n) { return reserve(n) ? buffer_.data() + size_ : nullptr; }
    void advance(std::size_t n) { size_ += n; }
    void patchU32(std::size_t at, std::uint32_t v) {
        if (ok_) storeU32(buffer_.data() + at, v);
    }

private:
    TrackedBuffer<std::uint8_t>& buffer_;
    std::size_t size_ = 0;
    bool ok_ = true;
};

// Values gathered into delta chunks of at most `limit` values.
class ChunkWriter {
public:
    ChunkWriter(ByteWriter& out, std::size_t limit) : out_(out), limit_(limit) {}
    void add(std::uint8_t v) {
        values_[count_++] = v;
        if (count_ == limit_) close();
    }
    void close() {
        if (count_ == 0) return;
        std::uint8_t chunk[2 + 128];
        std::size_t n = encodeDeltaChunk(values_, count_, chunk);
        out_.byte(static_cast<std::uint8_t>(n));
        out_.bytes(chunk, n);
        count_ = 0;
    }

private:
    ByteWriter& out_;
    std::size_t limit_;
    std::uint8_t values_[128];
    std::size_t count_ = 0;
};

struct Walk {
    const EncoderGrid& grid;
    const ColourPlanes& planes;
    std::uint32_t Q;

    std::uint32_t inWidth(std::uint32_t bx) const { return std::min(grid.B, grid.width - bx * grid.B); }
    std::uint32_t inHeight(std::uint32_t by) const { return std::min(grid.B, grid.height - by * grid.B); }

    // Cr then Cb of every chroma cell that starts inside the block and the picture.
    template <class Emit>
    void chroma(std::uint32_t bx, std::uint32_t by, Emit emit) const {
        const std::uint32_t x0 = bx * grid.B, y0 = by * grid.B;
        for (std::uint32_t y = 0; y < grid.B && y0 + y < grid.height; y += Q)
            for (std::uint32_t x = 0; x < grid.B && x0 + x < grid.width; x += Q)
                emit(planes.cr(x0 + x, y0 + y), planes.cb(x0 + x, y0 + y));
    }
    // Luma of the in-picture pixels, row by row, each row left to right.
    template <class Emit>
    void lumaRows(std::uint32_t bx, std::uint32_t by, Emit emit) const {
        const std::uint32_t x0 = bx * grid.B, y0 = by * grid.B, w = inWidth(bx), h = inHeight(by);
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x) emit(planes.luma(x0 + x, y0 + y));
    }
    // The same pixels in serpentine order: even rows left to right, odd rows back.
    template <class Emit>
    void lumaSerpentine(std::uint32_t bx, std::uint32_t by, Emit emit) const {
        const std::uint32_t x0 = bx * grid.B, y0 = by * grid.B, w = inWidth(bx), h = inHeight(by);
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t i = 0; i < w; ++i) emit(planes.luma(x0 + (y % 2 ? w - 1 - i : i), y0 + y));
    }
};

// The stored type codes of the mode, applied to the whole map.
void remapTypes(BlockMap& map, std::uint64_t blocks, std::uint8_t mode, std::uint32_t anchorBytes) {
    for (std::uint64_t i = 0; i < blocks; ++i) {
        std::uint8_t* r = map.record(i);
        const BlockKind kind = storedKind(mode, static_cast<BlockKind>(r[0]));
        r[0] = static_cast<std::uint8_t>(blockCode(mode, kind));
        if (kind == BlockKind::PackedGradient && coefficientsShifted(mode)) {
            for (int k = 0; k < 6; k += 2) {
                r[3 + k] = static_cast<std::uint8_t>(r[3 + k] >> kDefaultCoefShifts[k]);
                r[4 + k] = static_cast<std::uint8_t>(static_cast<std::int8_t>(r[4 + k]) >> kDefaultCoefShifts[k + 1]);
            }
            if (anchorBytes == 1 && anchorsPackedInOneByte(mode)) r[1] = packOneByteAnchor({r[1], r[2]});
        }
    }
}

// Block area and trailer sections of modes 0 to 8.
void writeBlockPayload(ByteWriter& out, const BlockMap& map, const Walk& walk, const PayloadJob& job,
                       std::uint32_t anchorBytes, bool motionSection) {
    const EncoderGrid& grid = walk.grid;
    const std::uint8_t mode = job.mode;
    const std::uint64_t blocks = grid.blocks();
    const std::uint32_t packing = typePackingFactor(mode);
    const TrailerSectionTypes sections = trailerSectionTypes(mode);
    const auto kindOf = [&](std::uint64_t i) { return blockKind(mode, map.record(i)[0]); };
    const int lumaShift = (job.legacyFlags & kLegacyOldLumaWriter) && mode >= 6 && mode <= 8 ? 2 : 0;
    auto emitChroma = [&](std::uint8_t cr, std::uint8_t cb) {
        out.byte(cr);
        out.byte(cb);
    };

    for (std::uint64_t i = 0; i < blocks; ++i) {
        if (i % packing == 0) {
            if (packing == 1) {
                out.byte(map.record(i)[0]);
            } else {
                std::uint8_t packed = 0;
                for (unsigned k = 0; k < 4 && i + k < blocks; ++k)
                    packed = static_cast<std::uint8_t>(packed | (map.record(i + k)[0] & 3) << (2 * k));
                out.byte(packed);
            }
        }
        const std::uint8_t* r = map.record(i);
        const std::uint32_t bx = static_cast<std::uint32_t>(i % grid.columns), by = static_cast<std::uint32_t>(i / grid.columns);
        switch (kindOf(i)) {
        case BlockKind::PackedGradient:
            out.byte(r[1]);
            if (anchorBytes == 2) out.byte(r[2]);
            break;
        case BlockKind::Detail:
            walk.lumaRows(bx, by, [&](std::uint8_t y) { out.byte(static_cast<std::uint8_t>(y >> lumaShift)); });
            walk.chroma(bx, by, emitChroma);
            break;
        case BlockKind::ChunkedDetail: walk.chroma(bx, by, emitChroma); break;
        case BlockKind::Gradient: out.bytes(r + 1, 8); break;
        default: break;
        }
    }
    if (mode < 2) return;

    // Sections: [u32 end][u8 type][body]. Up to mode 7 the end is a running
    // position in the stream (counted from the record start in the stream
    // that follows the header); in mode 8 it is the section's own size.
    std::uint32_t position = job.headerSize + static_cast<std::uint32_t>(out.size());
    auto section = [&](std::uint8_t type, auto body) {
        std::size_t start = out.size();
        out.u32(0);
        out.byte(type);
        body();
        std::uint32_t size = static_cast<std::uint32_t>(out.size() - start);
        position += size;
        out.patchU32(start, mode == 8 ? size : position);
    };
    if (mode == 7 && motionSection) {
        section(sections.motion, [&] {
            const float motion[6] = {0, 0, 0.5f, 0.5f, 0, 0};
            out.byte(24);
            std::uint8_t raw[24];
            std::memcpy(raw, motion, 24);
            out.bytes(raw, 24);
        });
    }
    if (mode >= 3) {
        section(sections.coefficients, [&] {
            ChunkWriter chunks(out, 32);
            for (int k = 0; k < 6; ++k) {
                for (std::uint64_t i = 0; i < blocks; ++i)
                    if (kindOf(i) == BlockKind::PackedGradient) chunks.add(map.record(i)[3 + k]);
                chunks.close();
            }
        });
    }
    section(sections.luma, [&] {
        ChunkWriter chunks(out, 128);
        for (std::uint64_t i = 0; i < blocks; ++i) {
            if (kindOf(i) != BlockKind::ChunkedDetail) continue;
            walk.lumaSerpentine(static_cast<std::uint32_t>(i % grid.columns), static_cast<std::uint32_t>(i / grid.columns),
                                [&](std::uint8_t y) { chunks.add(static_cast<std::uint8_t>(y >> lumaShift)); });
            chunks.close();
        }
    });
}

// Compresses `unit` and appends it as a u32 length and the compressed bytes.
bool appendCompressed(ByteWriter& out, const std::uint8_t* unit, std::size_t n) {
    const std::size_t bound = compressedBound(n);
    std::size_t written = 0;
    out.u32(0);
    const std::size_t lengthAt = out.size() - 4;
    std::uint8_t* place = out.tail(bound);
    if (!place) return false;
    if (n > 0 && !compressStream({unit, n}, {place, bound}, written)) return false;
    out.advance(written);
    out.patchU32(lengthAt, static_cast<std::uint32_t>(written));
    return true;
}

// The four compressed units of mode 9.
Result writePlanarPayload(ByteWriter& out, const BlockMap& map, const Walk& walk, std::uint32_t anchorBytes) {
    const EncoderGrid& grid = walk.grid;
    const std::uint64_t blocks = grid.blocks();
    const std::uint64_t chromaPlane =
        static_cast<std::uint64_t>((grid.width + walk.Q - 1) / walk.Q) * ((grid.height + walk.Q - 1) / walk.Q);

    TrackedBuffer<std::uint8_t> types, parameters, luma, chroma;
    if (!types.allocate(blocks) || !parameters.allocate(8 * blocks) || !luma.allocate(std::uint64_t(grid.width) * grid.height) ||
        !chroma.allocate(2 * chromaPlane))
        return kNoMemory;
    std::uint64_t gradients = 0, lumaCount = 0, chromaCount = 0;
    for (std::uint64_t i = 0; i < blocks; ++i) {
        const std::uint8_t* r = map.record(i);
        const BlockKind kind = static_cast<BlockKind>(r[0]);
        types[i] = static_cast<std::uint8_t>(blockCode(9, kind));
        const std::uint32_t bx = static_cast<std::uint32_t>(i % grid.columns), by = static_cast<std::uint32_t>(i / grid.columns);
        if (kind == BlockKind::Gradient) {
            parameters[gradients] = anchorBytes == 1 ? packOneByteAnchor({r[1], r[2]}) : r[1];
            parameters[blocks + gradients] = anchorBytes == 1 ? 0 : r[2];
            for (int k = 0; k < 6; ++k)
                parameters[(2 + k) * blocks + gradients] =
                    static_cast<std::uint8_t>(static_cast<std::int8_t>(r[3 + k]) >> kDefaultCoefShifts[k]);
            ++gradients;
        } else if (kind == BlockKind::Detail) {
            walk.lumaRows(bx, by, [&](std::uint8_t y) { luma[lumaCount++] = y; });
            walk.chroma(bx, by, [&](std::uint8_t cr, std::uint8_t cb) {
                chroma[chromaCount] = cr;
                chroma[chromaPlane + chromaCount] = cb;
                ++chromaCount;
            });
        }
    }
    if (!appendCompressed(out, types.data(), blocks) ||
        !appendCompressed(out, parameters.data(), gradients ? 8 * blocks : 0) ||
        !appendCompressed(out, luma.data(), lumaCount) ||
        !appendCompressed(out, chroma.data(), chromaCount ? 2 * chromaPlane : 0))
        return out.ok() ? kFailed.because(Reason::EncodingFailed) : kNoMemory;
    out.u32(0);
    return out.ok() ? kDone : kNoMemory;
}

} // namespace

std::uint32_t chromaStepFor(std::uint8_t mode, std::int8_t optimize, std::uint32_t width, std::uint32_t height,
                            std::uint32_t screenWidth, std::uint32_t screenHeight) {
    std::uint32_t q = mode <= 1 || optimize < 0 ? 2 : 4;
    if (mode > 1 && (width > 1.5 * screenWidth || height > 1.5 * screenHeight)) q *= 2;
    return std::max<std::uint32_t>(q, 2);
}

std::uint32_t writerAnchorBytes(std::uint8_t mode, std::uint8_t legacyFlags, std::uint32_t B, std::uint32_t Q) {
    return anchorByteCount(mode, B, Q, (legacyFlags & kLegacyChromaAnchorWriter) != 0);
}

std::size_t encodeDeltaChunk(const std::uint8_t* values, std::size_t n, std::uint8_t* out) {
    const std::uint8_t base = values[0];
    unsigned w = 1;
    if (n > 1) {
        w = 2;
        for (std::size_t i = 1; i < n; ++i) {
            int d = static_cast<std::int8_t>(static_cast<std::uint8_t>(values[i] - base));
            while (w < 8 && (d < -(1 << (w - 1)) || d > (1 << (w - 1)) - 1)) ++w;
        }
    }
    const std::size_t bits = (n - 1) * w, length = 2 + (bits + 7) / 8;
    const std::size_t padding = (length - 2) * 8 - bits;
    out[0] = base;
    out[1] = static_cast<std::uint8_t>((w % 8) | ((padding / w) << 3));
    // Deltas go into a bit accumulator, lowest bits first, and leave it a byte at a time.
    std::uint8_t* at = out + 2;
    std::uint32_t accumulator = 0;
    unsigned held = 0;
    const std::uint32_t mask = (1u << w) - 1;
    for (std::size_t i = 1; i < n; ++i) {
        accumulator |= (static_cast<std::uint32_t>(static_cast<std::uint8_t>(values[i] - base)) & mask) << held;
        held += w;
        while (held >= 8) {
            *at++ = static_cast<std::uint8_t>(accumulator);
            accumulator >>= 8;
            held -= 8;
        }
    }
    if (held) *at = static_cast<std::uint8_t>(accumulator);
    return length;
}

bool ColourPlanes::allocate(std::uint32_t w, std::uint32_t h) {
    width = w;
    height = h;
    return planes.allocate(3 * planeSize());
}

bool computeColourPlanes(const SourcePlanes& source, const EncoderGrid& grid, std::uint32_t Q, ColourPlanes& planes) {
    if (planes.width != grid.width || planes.height != grid.height || planes.planes.empty())
        if (!planes.allocate(grid.width, grid.height)) return false;
    const std::uint32_t y0 = grid.firstRow * grid.B;
    const std::uint32_t y1 = std::min<std::uint64_t>(static_cast<std::uint64_t>(grid.endRow) * grid.B, grid.height);
    std::uint8_t* Y = planes.plane(0);
    std::uint8_t* Cb = planes.plane(1);
    std::uint8_t* Cr = planes.plane(2);
    for (std::uint32_t y = y0; y < y1; ++y) {
        std::uint8_t* row = Y + planes.offset(0, y);
        for (std::uint32_t x = 0; x < grid.width; ++x)
            row[x] = rgbToYccBytes(source.at(0, x, y), source.at(1, x, y), source.at(2, x, y)).y;
    }
    for (std::uint32_t cy = y0; cy < y1; cy += Q)
        for (std::uint32_t cx = 0; cx < grid.width; cx += Q) {
            const std::uint32_t w = std::min(Q, grid.width - cx), h = std::min(Q, grid.height - cy);
            std::uint32_t sum[3] = {0, 0, 0};
            for (std::uint32_t y = 0; y < h; ++y)
                for (std::uint32_t x = 0; x < w; ++x)
                    for (int c = 0; c < 3; ++c) sum[c] += source.at(c, cx + x, cy + y);
            std::uint8_t mean[3];
            for (int c = 0; c < 3; ++c) mean[c] = roundToByte(static_cast<double>(sum[c]) / (w * h));
            const YccBytes ycc = rgbToYccBytes(mean[0], mean[1], mean[2]);
            const std::uint8_t b = ycc.cb, r = ycc.cr;
            for (std::uint32_t y = 0; y < Q; ++y) {
                std::memset(Cb + planes.offset(cx, cy + y), b, Q);
                std::memset(Cr + planes.offset(cx, cy + y), r, Q);
            }
        }
    return true;
}

Result buildStreamPayload(BlockMap& map, const ColourPlanes& planes, const EncoderGrid& grid, const PayloadJob& job,
                          TrackedBuffer<std::uint8_t>& out, std::size_t& length, bool motionSection) {
    length = 0;
    if (planes.planes.empty() || planes.width != grid.width || planes.height != grid.height) return kFailed.because(Reason::EncodingFailed);
    const std::uint64_t blocks = grid.blocks();
    const std::uint64_t cells = static_cast<std::uint64_t>((grid.width + job.chromaStep - 1) / job.chromaStep) *
                                ((grid.height + job.chromaStep - 1) / job.chromaStep);
    const std::uint64_t capacity = 9 * blocks + static_cast<std::uint64_t>(grid.width) * grid.height + 2 * cells + 1000;
    if (out.size() < capacity && !out.allocate(capacity)) return kNoMemory;
    const std::uint32_t anchorBytes = writerAnchorBytes(job.mode, job.legacyFlags, grid.B, job.chromaStep);
    const Walk walk{grid, planes, job.chromaStep};

    if (job.mode == 9) {
        TrackedBuffer<std::uint8_t> staging;
        ByteWriter writer(staging);
        const Result result = writePlanarPayload(writer, map, walk, anchorBytes);
        if (result < 1) return result;
        out = std::move(staging);
        length = writer.size();
        return kDone;
    }

    remapTypes(map, blocks, job.mode, anchorBytes);
    TrackedBuffer<std::uint8_t> assembled;
    ByteWriter writer(assembled);
    if (!writer.reserve(capacity)) return kNoMemory;
    writeBlockPayload(writer, map, walk, job, anchorBytes, motionSection);
    if (!writer.ok()) return kNoMemory;
    if (job.mode != 8) {
        out = std::move(assembled);
        length = writer.size();
        return kDone;
    }
    const std::size_t bound = compressedBound(writer.size());
    if (out.size() < bound && !out.allocate(bound)) return kNoMemory;
    std::size_t written = 0;
    if (writer.size() > 0 && !compressStream({writer.data(), writer.size()}, {out.data(), bound}, written))
        return kFailed.because(Reason::EncodingFailed);
    length = written;
    return kDone;
}

} // namespace vexel
