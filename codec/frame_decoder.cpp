#include "codec/frame_decoder.h"

#include "codec/colour_transforms.h"
#include "codec/compression.h"
#include "codec/container.h"
#include "codec/gradient_renderer.h"
#include "codec/legacy_flags.h"
#include "codec/pixspray.h"
#include "codec/rounding.h"
#include "codec/simd_dispatch.h"
#include "codec/pixspray_layout.h"
#include "platform/system.h"
#include "platform/test_hooks.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

namespace vexel {

namespace {

// The kinds of the decoder's block records (byte 0; codec/container.h).
constexpr std::uint8_t kDetail = kindByte(BlockKind::Detail);
constexpr std::uint8_t kGradient = kindByte(BlockKind::Gradient);
constexpr std::uint8_t kPacked = kindByte(BlockKind::PackedGradient);
constexpr std::uint8_t kChunked = kindByte(BlockKind::ChunkedDetail);
constexpr std::uint8_t kKeep = kindByte(BlockKind::Keep);
constexpr std::uint8_t kOther = kindByte(BlockKind::Other);

// Flag plane values.
constexpr std::uint8_t kFlagDetail = 1;
constexpr std::uint8_t kFlagBackConverted = 2;

// Motion parameters beyond this (or not finite) switch motion off.
constexpr double kMotionLimit = 1 << 20;

inline std::uint8_t toByte(float v) { return static_cast<std::uint8_t>(roundEvenFast(std::clamp(v, 0.0f, 255.0f))); }

// The work area of one call: six padded planes and the block records. A
// stream's planes hold its band's rows and 16 rows on either side: all that
// its drawing reads (cells reach at most 15 rows past the band). Parsing may
// name blocks anywhere in the picture; their pixels outside the rows held
// are never read, and are not kept.
struct Work {
    FrameGrid grid;
    StreamBand band;
    std::uint32_t W = 0, H = 0, B = 0, D = 0;
    std::uint8_t mode = 0;
    int lumaShift = 0;
    std::uint32_t anchorBytes = 2;
    ColourTransforms transforms{};

    TrackedBuffer<std::uint8_t> planes; // Y, Cb, Cr, flags, full Cb, full Cr
    TrackedBuffer<std::uint8_t> records;
    std::size_t stride = 0, planeSize = 0;
    std::int64_t firstRow = 0, endRow = 0; // the band's pixel rows
    std::uint8_t *Y = nullptr, *Cb = nullptr, *Cr = nullptr, *flag = nullptr, *fullCb = nullptr, *fullCr = nullptr;

    MotionParameters motion;
    bool motionPresent = false;

    std::size_t at(std::int64_t x, std::int64_t y) const {
        return static_cast<std::size_t>((y - firstRow + 16) * static_cast<std::int64_t>(stride) + x + 16);
    }
    bool holds(std::int64_t y) const { return y >= firstRow - 16 && y < endRow + 16; }
    std::uint8_t* record(std::uint64_t i) { return records.data() + 9 * i; }

    bool allocate() {
        stride = static_cast<std::size_t>(W) + 32;
        firstRow = band.firstPixelRow;
        endRow = band.endPixelRow;
        planeSize = stride * (static_cast<std::size_t>(endRow - firstRow) + 32);
        if (!planes.allocate(6 * planeSize) || !records.allocate(9 * grid.blocks)) return false;
        std::uint8_t* p = planes.data();
        Y = p;
        Cb = p + planeSize;
        Cr = p + 2 * planeSize;
        flag = p + 3 * planeSize;
        fullCb = p + 4 * planeSize;
        fullCr = p + 5 * planeSize;
        return true;
    }

    // A chroma cell's two values over its D x D pixels, marked as detail.
    void writeCell(std::int64_t x0, std::int64_t y0, std::uint8_t cr, std::uint8_t cb, bool zeroLuma) {
        for (std::uint32_t dy = 0; dy < D; ++dy) {
            if (!holds(y0 + dy)) continue;
            const std::size_t row = at(x0, y0 + dy);
            std::memset(Cr + row, cr, D);
            std::memset(Cb + row, cb, D);
            std::memset(flag + row, kFlagDetail, D);
            if (zeroLuma) std::memset(Y + row, 0, D);
        }
    }
};

// ----------------------------------------------------------------- parsing

// Block area of modes 0 to 8. False when it runs past the stream.
bool parseBlockArea(Work& w, std::span<const std::uint8_t> payload, std::size_t& areaEnd) {
    BlockAreaWalker walker(payload, {w.grid, w.mode, w.anchorBytes});
    BlockEntry e;
    int step;
    while ((step = walker.next(e)) == 1) {
        std::uint8_t* r = w.record(e.index);
        const std::uint8_t* in = payload.data() + e.payload;
        const std::int64_t x0 = static_cast<std::int64_t>(e.column) * w.B, y0 = static_cast<std::int64_t>(e.row) * w.B;
        switch (e.kind) {
        case BlockKind::Detail:
        case BlockKind::ChunkedDetail: {
            const bool detail = e.kind == BlockKind::Detail;
            if (detail)
                for (std::uint32_t y = 0; y < e.pixelRows; ++y) {
                    if (!w.holds(y0 + y)) {
                        in += e.pixelColumns;
                        continue;
                    }
                    std::uint8_t* line = w.Y + w.at(x0, y0 + y);
                    for (std::uint32_t x = 0; x < e.pixelColumns; ++x) line[x] = static_cast<std::uint8_t>(*in++ << w.lumaShift);
                }
            for (std::uint32_t cy = 0; cy < w.B && y0 + cy < w.H; cy += w.D)
                for (std::uint32_t cx = 0; cx < w.B && x0 + cx < w.W; cx += w.D) {
                    w.writeCell(x0 + cx, y0 + cy, in[0], in[1], !detail);
                    in += 2;
                }
            r[0] = detail ? kDetail : kChunked;
            break;
        }
        case BlockKind::PackedGradient:
            r[0] = kPacked;
            r[1] = in[0];
            if (e.payloadBytes > 1) r[2] = in[1];
            break;
        case BlockKind::Gradient:
            r[0] = kGradient;
            std::memcpy(r + 1, in, 8);
            break;
        case BlockKind::Keep: r[0] = kKeep; break;
        default: r[0] = kOther; break;
        }
    }
    areaEnd = walker.position();
    return step == 0;
}

// Trailer sections. A section that does not end where it says ends the
// trailer quietly; false when the stream is cut short: it ends inside a
// section header, or before a section's reader has its values (readable()
// runs to the stream end, so a reader that runs out has run past it).
bool readTrailer(Work& w, std::span<const std::uint8_t> payload, std::size_t areaEnd, std::uint32_t endBias) {
    const TrailerSectionTypes types = trailerSectionTypes(w.mode);
    TrailerWalker trailer(payload, areaEnd, w.mode, endBias);
    DeltaChunkReader chunks; // its values carry over from one section to the next
    TrailerSection section;
    const std::uint64_t blocks = w.grid.blocks;
    while (trailer.next(section)) {
        const std::span<const std::uint8_t> body = trailer.readable(section);
        std::size_t position = 0;
        bool whole = true, ranOut = false;
        if (section.type == types.coefficients) {
            for (int k = 0; k < 6 && whole; ++k)
                for (std::uint64_t i = 0; i < blocks && whole; ++i) {
                    std::uint8_t* r = w.record(i);
                    if (r[0] == kPacked) whole = chunks.next(body, position, r[3 + k]) == 1;
                }
            ranOut = !whole && chunks.ranOut();
        } else if (section.type == types.luma) {
            for (std::uint64_t i = 0; i < blocks && whole; ++i) {
                std::uint8_t* r = w.record(i);
                if (r[0] != kChunked) continue;
                const std::uint32_t bx = static_cast<std::uint32_t>(i % w.grid.blockColumns);
                const std::uint32_t by = static_cast<std::uint32_t>(i / w.grid.blockColumns);
                const std::uint32_t columns = std::min(w.B, w.W - bx * w.B), rows = std::min(w.B, w.H - by * w.B);
                // The block's pixels in serpentine order: even rows left to right, odd rows back.
                for (std::uint32_t row = 0; row < rows && whole; ++row) {
                    const bool held = w.holds(static_cast<std::int64_t>(by) * w.B + row);
                    std::uint8_t* line = held ? w.Y + w.at(bx * w.B, by * w.B + row) : nullptr;
                    for (std::uint32_t step = 0; step < columns && whole; ++step) {
                        std::uint8_t v;
                        whole = chunks.next(body, position, v) == 1;
                        if (whole && held) line[row % 2 == 0 ? step : columns - 1 - step] = static_cast<std::uint8_t>(v << w.lumaShift);
                    }
                }
                if (whole) r[0] = kDetail;
            }
            ranOut = !whole && chunks.ranOut();
        } else if (section.type == types.motion) {
            position = readMotionSection(body, w.motion);
            ranOut = position == 0;
            whole = !ranOut;
        } else {
            whole = false;
        }
        if (ranOut) return false;
        trailer.finish(section, position);
        if (!whole) break;
    }
    return !trailer.cut();
}

// Packed gradients left after the trailer become gradients.
void completePackedGradients(Work& w, const std::array<std::uint8_t, 6>& shifts) {
    for (std::uint64_t i = 0; i < w.grid.blocks; ++i) {
        std::uint8_t* r = w.record(i);
        if (r[0] != kPacked) continue;
        r[0] = kGradient;
        if (!coefficientsShifted(w.mode)) continue;
        for (int k = 0; k < 6; ++k) r[3 + k] = shiftCoefficient(r[3 + k], shifts[k]);
        // Mode 8 keeps a one-byte anchor as stored.
        if (w.anchorBytes == 1 && anchorsPackedInOneByte(w.mode)) {
            AnchorPair a = expandOneByteAnchor(r[1]);
            r[1] = a.first;
            r[2] = a.second;
        }
    }
}

// Mode 9: the four parts expanded and walked with the type plane. False
// when a part does not expand or runs short of what the types need.
bool parseModeNine(Work& w, std::span<const std::uint8_t> stream, const std::array<std::uint8_t, 6>& shifts) {
    std::array<std::span<const std::uint8_t>, 4> parts;
    if (splitMode9Parts(stream, parts) != kDone) return false;
    const std::uint64_t limit = mode9PartLimit(w.grid);
    const std::uint64_t blocks = w.grid.blocks, samples = w.grid.chromaSamples;
    // What each part can hold for this picture: a part that expands to more
    // than its picture needs is refused.
    const std::uint64_t needed[4] = {blocks, 8 * blocks, static_cast<std::uint64_t>(w.W) * w.H, 2 * samples};
    TrackedBuffer<std::uint8_t> unit[4];
    std::size_t length[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4; ++k) {
        if (parts[k].empty()) continue;
        const std::uint64_t capacity = std::min(limit, needed[k]);
        if (!unit[k].allocate(capacity) || !decompressStream(parts[k], {unit[k].data(), capacity}, length[k]))
            return false;
    }
    if (length[0] < blocks) return false;
    std::uint64_t gradient = 0, luma = 0, chroma = 0;
    for (std::uint64_t i = 0; i < blocks; ++i) {
        std::uint8_t* r = w.record(i);
        const BlockKind kind = blockKind(9, unit[0][i]);
        const std::uint32_t bx = static_cast<std::uint32_t>(i % w.grid.blockColumns);
        const std::uint32_t by = static_cast<std::uint32_t>(i / w.grid.blockColumns);
        const std::int64_t x0 = static_cast<std::int64_t>(bx) * w.B, y0 = static_cast<std::int64_t>(by) * w.B;
        if (kind == BlockKind::Gradient) {
            if (length[1] < 8 * blocks) return false;
            const std::uint8_t* p = unit[1].data();
            if (w.anchorBytes == 2) {
                r[1] = p[gradient];
                r[2] = p[blocks + gradient];
            } else {
                AnchorPair a = expandOneByteAnchor(p[gradient]);
                r[1] = a.first;
                r[2] = a.second;
            }
            for (int k = 0; k < 6; ++k) r[3 + k] = shiftCoefficient(p[(2 + k) * blocks + gradient], shifts[k]);
            r[0] = kGradient;
            ++gradient;
        } else if (kind == BlockKind::Detail) {
            const std::uint32_t columns = std::min(w.B, w.W - bx * w.B), rows = std::min(w.B, w.H - by * w.B);
            if (length[2] - luma < static_cast<std::uint64_t>(columns) * rows) return false;
            for (std::uint32_t y = 0; y < rows; ++y) {
                if (!w.holds(y0 + y)) {
                    luma += columns;
                    continue;
                }
                for (std::uint32_t x = 0; x < columns; ++x) w.Y[w.at(x0 + x, y0 + y)] = unit[2][luma++];
            }
            for (std::uint32_t cy = 0; cy < w.B && y0 + cy < w.H; cy += w.D)
                for (std::uint32_t cx = 0; cx < w.B && x0 + cx < w.W; cx += w.D) {
                    if (chroma >= samples || length[3] < 2 * samples) return false;
                    w.writeCell(x0 + cx, y0 + cy, unit[3][chroma], unit[3][samples + chroma], false);
                    ++chroma;
                }
            r[0] = kDetail;
        } else {
            r[0] = kind == BlockKind::Keep ? kKeep : kOther;
        }
    }
    return true;
}

// ----------------------------------------------------------------- drawing

bool motionUsable(const MotionParameters& m) {
    const float v[6] = {m.shiftX, m.shiftY, m.centreX, m.centreY, m.zoomX, m.zoomY};
    for (float x : v)
        if (!std::isfinite(x) || std::fabs(x) > kMotionLimit) return false;
    return m.shiftX != 0 || m.shiftY != 0 || m.centreX != 0.5f || m.centreY != 0.5f || m.zoomX != 0 || m.zoomY != 0;
}

// Kept blocks of the band drawn from the previous frame, displaced by the motion.
void applyMotion(Work& w, const PixelTarget& out, const PixelTarget& previous) {
    const MotionParameters& m = w.motion;
    for (std::uint32_t by = w.band.firstBlockRow; by < w.band.endBlockRow; ++by)
        for (std::uint32_t bx = 0; bx < w.grid.blockColumns; ++bx) {
            if (w.record(static_cast<std::uint64_t>(by) * w.grid.blockColumns + bx)[0] != kKeep) continue;
            const std::uint32_t x0 = bx * w.B, y0 = by * w.B;
            for (std::uint32_t y = y0; y < std::min(y0 + w.B, w.H); ++y) {
                const std::int64_t sy = static_cast<std::int64_t>(y) -
                                        static_cast<std::int64_t>(roundEvenFast(m.shiftY + m.zoomY * (static_cast<double>(y) / w.H - m.centreY)));
                for (std::uint32_t x = x0; x < std::min(x0 + w.B, w.W); ++x) {
                    const std::int64_t sx = static_cast<std::int64_t>(x) -
                                            static_cast<std::int64_t>(roundEvenFast(m.shiftX + m.zoomX * (static_cast<double>(x) / w.W - m.centreX)));
                    const bool inside = sx >= 0 && sy >= 0 && sx < w.W && sy < w.H;
                    for (int c = 0; c < 3; ++c) out.at(c, x, y) = inside ? previous.at(c, sx, sy) : 0;
                }
            }
        }
}

// Kept blocks of the band copied unchanged from the previous frame's planes.
void copyKeptBlocks(Work& w, const PixelTarget& out, const PixelTarget& previous) {
    for (std::uint32_t by = w.band.firstBlockRow; by < w.band.endBlockRow; ++by)
        for (std::uint32_t bx = 0; bx < w.grid.blockColumns; ++bx) {
            if (w.record(static_cast<std::uint64_t>(by) * w.grid.blockColumns + bx)[0] != kKeep) continue;
            for (std::uint32_t y = by * w.B; y < std::min((by + 1) * w.B, w.H); ++y)
                for (std::uint32_t x = bx * w.B; x < std::min((bx + 1) * w.B, w.W); ++x)
                    for (int c = 0; c < 3; ++c) out.at(c, x, y) = previous.at(c, x, y);
        }
}

// The GPU library's call for the band: its base is the lowest address the
// call touches (codec/pixspray_layout.h), the planes are offsets from it.
// False when the offsets or steps do not fit its int arguments (planes of
// very large pictures): such a frame is drawn on the processor.
bool sprayBandOnGpu(PixSprayModule module, Work& w, const PixelTarget& out, bool& drawn) {
    const std::int64_t offsetG = out.channel[1] - out.channel[0], offsetB = out.channel[2] - out.channel[0];
    const std::int64_t lowest = sprayLowestOffset(offsetG, offsetB, out.pixelStep, out.rowStep, w.B,
                                                  w.band.firstBlockRow, w.band.endBlockRow, w.grid.blockColumns);
    std::uint8_t* base = out.channel[0] + lowest;
    const std::int64_t offsets[3] = {out.channel[0] - base, out.channel[1] - base, out.channel[2] - base};
    constexpr std::int64_t kLimit = std::numeric_limits<int>::max();
    for (std::int64_t v : {offsets[0], offsets[1], offsets[2], std::int64_t{out.pixelStep}, std::int64_t{out.rowStep}})
        if (v > kLimit || v < -kLimit) return false;
    drawn = module(base, static_cast<int>(offsets[0]), static_cast<int>(offsets[1]), static_cast<int>(offsets[2]),
                   static_cast<int>(out.pixelStep), static_cast<int>(out.rowStep), static_cast<std::uint8_t>(w.B),
                   w.band.firstBlockRow, w.band.endBlockRow, reinterpret_cast<const TPnt*>(w.records.data()),
                   w.grid.blockColumns, w.grid.blockRows);
    return true;
}

// Gradient blocks: on the GPU module while it is bound, else on the processor.
bool drawGradients(Work& w, const PixelTarget& out, bool fast) {
    if (w.band.firstBlockRow >= w.band.endBlockRow) return true;
    if (PixSprayModule module = pixSprayModule(); module && w.B >= 2 && w.B <= 16) {
        bool drawn = false;
        if (sprayBandOnGpu(module, w, out, drawn)) {
            if (drawn) return true;
            // The module failed: the rest of the run draws on the processor, this band included.
            forgetPixSprayModule();
        }
    }
    return renderGradientsCpu({w.records.data(), w.grid.blockColumns, w.grid.blockRows, w.B}, w.band.firstBlockRow,
                              w.band.endBlockRow, fast, out);
}

struct Colour {
    float r, g, b;
};

// Chroma smoothing: colours at the corners of every detail cell are averaged
// with the neighbouring cells and spread over the cell, so that detail blocks
// take their chroma from full-resolution planes.
// The transform pair is a template argument: the forward transform, run for
// every pixel of a detail cell, is inlined.
template <void forward(float, float, float, float*, float*, float*)>
void smoothChromaWith(Work& w, const PixelTarget& out) {
    const InverseTransform inverse = w.transforms.inverse;
    const std::int64_t columns = w.grid.chromaColumns;
    const std::int64_t firstRow = w.band.firstChromaRow, endRow = w.band.endChromaRow;
    const std::uint32_t D = w.D;
    // The centre of a cell; a cell cut by the picture's edge takes the nearest pixel inside.
    auto centre = [&](std::int64_t cx, std::int64_t cy) {
        std::int64_t x = std::min<std::int64_t>(cx * D + D / 2, w.W - 1), y = std::min<std::int64_t>(cy * D + D / 2, w.H - 1);
        return w.at(x, y);
    };
    // A cell's colour at its centre. Pixels drawn from models have no luma
    // and chroma of their own: they take those of their drawn colour (only
    // cell centres are ever read, so only they are converted).
    // Every cell is read by its eight neighbours too: the colours of the last
    // three cell rows are kept (converting again would give the same colour).
    TrackedBuffer<Colour> kept;
    TrackedBuffer<std::int64_t> keptRow;
    const bool keeping = kept.allocate(3 * static_cast<std::uint64_t>(columns)) &&
                         keptRow.allocate(3 * static_cast<std::uint64_t>(columns));
    if (keeping) std::fill(keptRow.data(), keptRow.data() + 3 * columns, std::int64_t{-1});
    auto convert = [&](std::int64_t cx, std::int64_t cy) {
        const std::size_t i = centre(cx, cy);
        if (w.flag[i] == 0) {
            // Read inside the band: another stream draws the rows below it.
            // (A cell reaches past its band only in a record whose block size
            // is no multiple of its chroma step, which no writer makes.)
            const std::int64_t x = std::min<std::int64_t>(cx * D + D / 2, w.W - 1);
            const std::int64_t y = std::min<std::int64_t>(cy * D + D / 2, std::int64_t{w.band.endPixelRow} - 1);
            const YccBytes ycc = rgbToYccBytes(w.mode, out.at(0, x, y), out.at(1, x, y), out.at(2, x, y));
            w.Y[i] = ycc.y;
            w.Cb[i] = ycc.cb;
            w.Cr[i] = ycc.cr;
            w.flag[i] = kFlagBackConverted;
        }
        Colour c;
        inverse(w.Y[i], w.Cb[i], w.Cr[i], &c.r, &c.g, &c.b);
        return c;
    };
    auto colourOf = [&](std::int64_t cx, std::int64_t cy) {
        if (!keeping) return convert(cx, cy);
        const std::size_t slot = static_cast<std::size_t>(cy % 3 * columns + cx);
        if (keptRow[slot] != cy) {
            kept[slot] = convert(cx, cy);
            keptRow[slot] = cy;
        }
        return kept[slot];
    };
    for (std::int64_t cy = firstRow; cy < endRow; ++cy)
        for (std::int64_t cx = 0; cx < columns; ++cx) {
            if (w.flag[centre(cx, cy)] != kFlagDetail) continue;
            Colour cell[3][3];
            bool exists[3][3];
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const std::int64_t nx = cx + dx, ny = cy + dy;
                    exists[dy + 1][dx + 1] = nx >= 0 && nx < columns && ny >= firstRow && ny < endRow;
                    if (exists[dy + 1][dx + 1]) cell[dy + 1][dx + 1] = colourOf(nx, ny);
                }
            // corner[sy][sx]: sy 0 the cell's first row, sx 0 its first column.
            Colour corner[2][2];
            for (int sy = 0; sy < 2; ++sy)
                for (int sx = 0; sx < 2; ++sx) {
                    const int ox = sx ? 1 : -1, oy = sy ? 1 : -1;
                    Colour sum = cell[1][1];
                    int count = 1;
                    const int around[3][2] = {{ox, 0}, {0, oy}, {ox, oy}};
                    for (const auto& a : around)
                        if (exists[1 + a[1]][1 + a[0]]) {
                            const Colour& n = cell[1 + a[1]][1 + a[0]];
                            sum.r += n.r;
                            sum.g += n.g;
                            sum.b += n.b;
                            ++count;
                        }
                    corner[sy][sx] = {sum.r / count, sum.g / count, sum.b / count};
                }
            const float step = 1.0f / D;
            for (std::uint32_t r = 0; r < D; ++r) {
                const float t = r * step;
                const Colour left{corner[0][0].r + t * (corner[1][0].r - corner[0][0].r),
                                  corner[0][0].g + t * (corner[1][0].g - corner[0][0].g),
                                  corner[0][0].b + t * (corner[1][0].b - corner[0][0].b)};
                const Colour right{corner[0][1].r + t * (corner[1][1].r - corner[0][1].r),
                                   corner[0][1].g + t * (corner[1][1].g - corner[0][1].g),
                                   corner[0][1].b + t * (corner[1][1].b - corner[0][1].b)};
                const std::size_t row = w.at(cx * D, cy * D + r);
                for (std::uint32_t c = 0; c < D; ++c) {
                    const float u = c * step;
                    float l, cb, cr;
                    forward(left.r + u * (right.r - left.r), left.g + u * (right.g - left.g),
                            left.b + u * (right.b - left.b), &l, &cb, &cr);
                    w.fullCb[row + c] = toByte(cb);
                    w.fullCr[row + c] = toByte(cr);
                }
            }
        }
}

void smoothChroma(Work& w, const PixelTarget& out) {
    if (w.transforms.forward == RgbToYccLegacy) smoothChromaWith<rgbToYccLegacyInline>(w, out);
    else smoothChromaWith<rgbToYccInline>(w, out);
}

// Detail blocks of the band converted to RGB, whole chroma cells at a time.
void drawDetail(Work& w, const PixelTarget& out, bool smoothed) {
    const YccRowKernel yccRow = codecKernels().yccRow;
    const std::uint8_t* cbPlane = smoothed ? w.fullCb : w.Cb;
    const std::uint8_t* crPlane = smoothed ? w.fullCr : w.Cr;
    for (std::uint32_t by = w.band.firstBlockRow; by < w.band.endBlockRow; ++by)
        for (std::uint32_t bx = 0; bx < w.grid.blockColumns; ++bx) {
            if (w.record(static_cast<std::uint64_t>(by) * w.grid.blockColumns + bx)[0] != kDetail) continue;
            const std::uint32_t x0 = bx * w.B, y0 = by * w.B;
            // Whole cells: a cell cut by the picture's edge is drawn into the
            // margin; one that reaches into the next stream's band (a block
            // size that is no multiple of the chroma step) stops at its end.
            std::uint32_t yEnd = y0 + ((std::min(w.B, w.H - y0) + w.D - 1) / w.D) * w.D;
            if (w.band.endPixelRow < w.H) yEnd = std::min(yEnd, w.band.endPixelRow);
            const std::uint32_t xEnd = x0 + ((std::min(w.B, w.W - x0) + w.D - 1) / w.D) * w.D;
            for (std::uint32_t y = y0; y < yEnd; ++y) {
                const std::size_t row = w.at(0, y);
                if (w.mode != 0) {
                    yccRow(out, x0, y, w.Y + row + x0, cbPlane + row + x0, crPlane + row + x0, xEnd - x0);
                } else {
                    std::uint8_t* r = &out.at(0, 0, y);
                    std::uint8_t* g = &out.at(1, 0, y);
                    std::uint8_t* b = &out.at(2, 0, y);
                    const std::ptrdiff_t step = out.pixelStep;
                    for (std::uint32_t x = x0; x < xEnd; ++x) {
                        const RgbBytes rgb = yccToRgbBytes(w.mode, w.Y[row + x], cbPlane[row + x], crPlane[row + x]);
                        r[x * step] = rgb.r;
                        g[x * step] = rgb.g;
                        b[x * step] = rgb.b;
                    }
                }
            }
        }
}

// A repack conversion keeps the band's records and planes in the record.
bool keepForRepack(Work& w, RepackFrame& repack, std::uint32_t streamIndex) {
    // The record holds whole-picture planes; the work area holds the band's rows.
    const std::uint64_t size = 9 * w.grid.blocks + 3 * static_cast<std::uint64_t>(w.stride) * (w.H + 32);
    if (streamIndex <= 1 && (repack.bytes.size() != size || repack.width != w.W || repack.height != w.H ||
                             repack.blockSize != w.B || repack.chromaStep != w.D)) {
        repack.width = repack.height = repack.blockSize = repack.chromaStep = 0;
        if (!repack.bytes.allocate(size)) return false;
        repack.width = w.W;
        repack.height = w.H;
        repack.blockSize = w.B;
        repack.chromaStep = w.D;
    }
    if (repack.bytes.size() != size || repack.width != w.W || repack.blockSize != w.B) return false;
    repack.mode = w.mode;
    const std::uint64_t first = static_cast<std::uint64_t>(w.band.firstBlockRow) * w.grid.blockColumns;
    const std::uint64_t end = static_cast<std::uint64_t>(w.band.endBlockRow) * w.grid.blockColumns;
    std::memcpy(repack.records() + 9 * first, w.records.data() + 9 * first, 9 * (end - first));
    const std::uint8_t* from[3] = {w.Y, w.Cb, w.Cr};
    const std::size_t source = w.at(0, w.band.firstPixelRow) - 16;
    const std::size_t target = (static_cast<std::size_t>(w.band.firstPixelRow) + 16) * w.stride;
    const std::size_t length = static_cast<std::size_t>(w.band.endPixelRow - w.band.firstPixelRow) * w.stride;
    for (int p = 0; p < 3; ++p) std::memcpy(repack.plane(p) + target, from[p] + source, length);
    return true;
}

} // namespace

Result decodeStream(FrameTarget& target, const StreamDecodeJob& job) {
    Work w;
    w.W = job.width;
    w.H = job.height;
    w.B = job.blockSize;
    w.D = job.chromaStep;
    w.mode = job.mode;
    if (w.W < 1 || w.H < 1 || w.B < 1 || w.B > kMaxBlockSize || w.D < 1 || w.D > kMaxChromaStep || w.mode > kMaxMode)
        return kFailed.because(Reason::StreamDoesNotParse);
    w.grid = frameGrid(w.W, w.H, w.B, w.D);
    if (w.grid.paddedPlaneBytes > kMaxPlaneBytes) return kNoMemory;
    w.band = streamBand(w.grid, job.streamIndex, job.streamCount);
    const bool oldLuma = job.legacyFlags & kLegacyOldLuma, oldParameterSize = job.legacyFlags & kLegacyChromaAnchor;
    w.lumaShift = oldLuma && w.mode > 5 ? 2 : 0;
    w.anchorBytes = anchorByteCount(w.mode, w.B, w.D, oldParameterSize);
    w.transforms = ColourTransforms::forMode(w.mode);
    if (platform::testStreamFails(job.streamIndex, platform::StreamFault::Allocate) || !w.allocate()) {
        if (job.sync) job.sync->parsedWaitForGo(kNoMemory);
        return kNoMemory;
    }

    // Expand and parse. A stream that does not expand is not drawn at all.
    bool parsed = true, expanded = true;
    if (w.mode == 9) {
        parsed = parseModeNine(w, job.stream, job.coefShifts);
    } else {
        TrackedBuffer<std::uint8_t> expansion;
        std::span<const std::uint8_t> payload = job.stream;
        if (w.mode == 8) {
            const std::uint64_t capacity = mode8ExpansionCapacity(w.grid);
            std::size_t length = 0;
            parsed = expanded =
                expansion.allocate(capacity) && decompressStream(job.stream, {expansion.data(), capacity}, length);
            payload = {expansion.data(), length};
        }
        std::size_t areaEnd = 0;
        parsed = parsed && parseBlockArea(w, payload, areaEnd);
        if (parsed && hasTrailerSections(w.mode))
            parsed = readTrailer(w, payload, areaEnd, job.streamIndex <= 1 ? job.headerSize : 0);
        if (parsed) completePackedGradients(w, job.coefShifts);
    }
    parsed = parsed && !platform::testStreamFails(job.streamIndex, platform::StreamFault::Parse);
    const Result parseResult =
        parsed ? kDone : kFailed.because(expanded ? Reason::StreamDoesNotParse : Reason::StreamDoesNotExpand);
    if (job.sync && !job.sync->parsedWaitForGo(parseResult))
        return parsed ? kFailed.because(Reason::SiblingFailed) : parseResult;
    if (!parsed) return parseResult;
    w.motionPresent = motionUsable(w.motion);
    if (job.reusesPrevious) {
        const std::uint64_t first = static_cast<std::uint64_t>(w.band.firstBlockRow) * w.grid.blockColumns;
        const std::uint64_t end = static_cast<std::uint64_t>(w.band.endBlockRow) * w.grid.blockColumns;
        for (std::uint64_t i = first; i < end; ++i)
            if (const std::uint8_t kind = w.record(i)[0]; kind == kKeep || kind == kOther) {
                job.reusesPrevious->store(true, std::memory_order_relaxed);
                break;
            }
    }

    FramePixels pixels;
    if (!target.beginDrawing(w.W, w.H, pixels)) return kNoMemory.because(Reason::NoPixels);
    const PixelTarget& out = pixels.current;

    Result result = kDone;
    const long double drawStart = job.drawSeconds && job.streamIndex <= 1 ? platform::clockSeconds() : 0;
    if (!drawGradients(w, out, job.fastPaint) || platform::testStreamFails(job.streamIndex, platform::StreamFault::Draw))
        result = kFailed.because(Reason::DrawingFailed);
    if (job.drawSeconds && job.streamIndex <= 1) *job.drawSeconds = platform::clockSeconds() - drawStart;

    if (pixels.hasPrevious) {
        if (w.motionPresent) applyMotion(w, out, pixels.previous);
        else if (pixels.copyKeptBlocks) copyKeptBlocks(w, out, pixels.previous);
    }
    if (job.conversion == 2 && (!job.repack || !keepForRepack(w, *job.repack, job.streamIndex))) result = kNoMemory;
    bool anyDetail = false;
    for (std::uint64_t i = static_cast<std::uint64_t>(w.band.firstBlockRow) * w.grid.blockColumns;
         i < static_cast<std::uint64_t>(w.band.endBlockRow) * w.grid.blockColumns && !anyDetail; ++i)
        anyDetail = w.record(i)[0] == kDetail;
    const bool smooth = anyDetail && w.D > 1 && !job.fastPaint;
    if (smooth) smoothChroma(w, out);
    drawDetail(w, out, smooth);

    target.endDrawing();
    return result;
}

} // namespace vexel
